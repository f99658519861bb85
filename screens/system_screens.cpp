#include "screens/system_screens.h"

#include "screens/boot.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "ui/mode.h"

// A new game as the title's New game item starts it, for the logo
// stand-in: every screen goes, and the story runs over a fresh title.
void GSL_NewGameStart() {
    GSL_GameStateInit();
    GSL_WorkDeleteAll();
    ModeStack[0] = GSL_TitleModeCB;
    ModeStack[1] = GSL_StoryModeCB;
}
