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

// The story screen's steps: LOAD -> SETUP -> INPUT; INPUT -> ACTION ->
// INPUT; INPUT -> FADE_OUT -> EXIT.
enum : int32_t {
    STORY_STEP_LOAD,
    STORY_STEP_SETUP,
    STORY_STEP_INPUT,  // the script runs and the reader's keys are taken
    STORY_STEP_ACTION,
    STORY_STEP_FADE_OUT,
    STORY_STEP_EXIT,
};

// The story's actions: each code is also the action step's sub-state that
// runs it, after the step's entry (SUBSTATE_ENTRY) has paused the story; the
// other values are later sub-states of one action. Every action ends in
// RETURN.
enum : int32_t {
    STORY_ACT_NONE = -1,
    STORY_ACT_MENU_CAPTURE = 1,  // the menu's screen capture, before STORY_ACT_MENU
    STORY_ACT_HIDE = 10,
    STORY_ACT_HIDDEN = 11,       // until the window is called back
    STORY_ACT_UNHIDE = 12,
    STORY_ACT_BACKLOG = 30,
    STORY_ACT_MENU = 40,
    STORY_ACT_CHOICE = 50,
    STORY_ACT_CHOICE_READY = 51,
    STORY_ACT_CHOICE_ANSWER = 52,
    STORY_ACT_RELOAD = 60,
    STORY_ACT_RETURN = SUBSTATE_CLOSE,
};

