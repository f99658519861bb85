// The story screen: it hosts the script task, gives the player auto and skip
// modes, hiding of the message window, the backlog, the system menu and a
// return to the last choice, and leaves for the next screen when the script
// ends or a menu asks for it. Its dispatcher GSL_StoryModeCB (story_screen.h)
// is also its identity on the mode stack.
#pragma once

#include <cstdint>

#include "script/game_blocks.h"
#include "story/quick_save.h"
#include "ui/mode.h"

// What the next exit does, one of STORY_EXIT_*.
extern uint32_t StoryExitRequest;
enum : uint32_t {
    STORY_EXIT_NONE = 0,
    STORY_EXIT_TITLE = 1,
    STORY_EXIT_QUICK_LOAD = 2,
    STORY_EXIT_RESTART = 3,  // restart at the restored position
    STORY_EXIT_RELOAD = 4,   // reload at the last read line
    STORY_EXIT_SPECIAL = 5,  // a special scenario's exit
};
// How the next load starts: -1 normal, -2 from white, 0 or more the read
// line to restore (120..0: the white countdown).
extern int32_t StoryStartMode;
// The black cover while the story loads, or the capture kept over a reload.
extern int32_t StoryCoverSprite;


