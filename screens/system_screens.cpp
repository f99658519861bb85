#include "screens/system_screens.h"

#include <cstring>

#include "screens/boot.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "ui/mode.h"

// Stand-ins until the system screens exist. The title starts a new game
// whenever it is on top (as its New game item will): every screen goes, and
// the story runs over it.
void GSL_NewGameStart() {
    GSL_GameStateInit();
    GSL_WorkDeleteAll();
    ModeStack[0] = GSL_TitleModeCB;
    ModeStack[1] = GSL_StoryModeCB;
}

void GSL_TitleModeCB() { GSL_NewGameStart(); }
void GSL_OptionModeCB() {}

// Stand-in until the option items exist: every template is the terminator.
OptionTemplate* GSL_OptionTemplateGet(OptionTemplate* out, int32_t) {
    if (!out) return out;
    std::memset(out, 0, sizeof *out);
    out->textCount = -1;
    for (int32_t& r : out->spriteRect) r = -1;
    for (int32_t& t : out->textIndex) t = -1;
    return out;
}
