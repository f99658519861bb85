#include "screens/system_screens.h"

#include "screens/boot.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "ui/mode.h"

// Stand-ins until the title screen exists. A new game (as the title's New
// game item will start it): every screen goes, and the story runs over the
// title.
void GSL_NewGameStart() {
    GSL_GameStateInit();
    GSL_WorkDeleteAll();
    ModeStack[0] = GSL_TitleModeCB;
    ModeStack[1] = GSL_StoryModeCB;
}

// The title hands over to the logo (a load puts it below the story, which
// comes back to it).
void GSL_TitleModeCB() {
    const int n = GSL_ModeCount();
    if (n > 0 && ModeStack[n - 1] == GSL_TitleModeCB) ModeStack[n - 1] = GSL_LogoModeCB;
}
