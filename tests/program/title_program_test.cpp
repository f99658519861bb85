// The whole program on the sample from an empty user folder: the logos (E
// cuts one short and starts nothing), the opening movie, the title's menu,
// and new game, which brings the story's first line.
#include <gtest/gtest.h>

#include <string>

#include "engine/movie/movie.h"
#include "engine/text/text_object.h"
#include "script/script_task.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"

namespace {
using namespace program_title;
constexpr uint8_t kKeyE = 0x12;


bool FirstLineShown() {
    const ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
    if (GSL_ModeTop() != GSL_StoryModeCB || !w || w->step != STORY_STEP_INPUT) return false;
    if (!(uint32_t(GSL_ScriptStatusGet(w->tasks[0])) & SCRIPT_PLAYER_WAIT)) return false;
    const int32_t h = GSL_WorkTextGet(GSL_StoryModeCB, 1);
    return h >= 0 && h < kTextSlots && TextTable[h] && TextTable[h]->text[0];
}

TEST(TitleProgram, LogosMovieTitleAndNewGame) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    struct Seen {
        bool eNothing = false, movie = false, titleBelow = false;
    } seen;
    ProgramRun run;
    std::vector<ProgramRun::Step> steps = {
        {"logo 0 held", LogoHeld, [](PlatInputState& in) { in.keys[kKeyE] = kPlatDown; }},
        {"let go", nullptr, kIdle},
        {"E started nothing",
         [&] {
             seen.eNothing = GSL_ModeCount() == 1 && GSL_ModeTop() == LogoScreen() && !GSL_WorkGet(GSL_StoryModeCB) &&
                             !GSL_WorkGet(GSL_TitleModeCB);
             return true;
         },
         nullptr},
    };
    for (int i = 0; i < 3; ++i) {
        steps.push_back({"the next logo or the title",
                         [&] {
                             if (MoviePlaying()) seen.movie = true;
                             return LogoHeld() || Title();
                         },
                         [](PlatInputState& in) {
                             if (LogoHeld()) Press(in, BUTTON_DECIDE);
                         },
                         900});
        steps.push_back({"let go", nullptr, kIdle});
    }
    steps.push_back({"the movie, then the menu",
                     [&] {
                         if (MoviePlaying() && MovieState.load() == MOVIE_PLAYING) seen.movie = true;
                         return TitleMenuUp() && TitleInput()->cursor == TITLE_ITEM_NEW_GAME;
                     },
                     nullptr, 900});
    steps.push_back({"new game", nullptr, [](PlatInputState& in) { Press(in, BUTTON_DECIDE); }});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the story's first line",
                     [&] {
                         if (!FirstLineShown()) return false;
                         seen.titleBelow = GSL_ModeCount() == 2 && ModeStack[0] == GSL_TitleModeCB &&
                                           !GSL_WorkGet(LogoScreen());
                         return true;
                     },
                     nullptr, 900});
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_TRUE(seen.eNothing);
    EXPECT_TRUE(seen.movie);
    EXPECT_TRUE(seen.titleBelow);
}
}  // namespace
