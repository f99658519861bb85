// Whole-program runs on the sample: the steps from the start to the title's
// menu (each logo cut short with decide once it is up, the opening movie
// skipped), and the moves through the menu.
#pragma once

#include <cstdlib>
#include <functional>
#include <string>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/core/debug_log.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "screens/logo.h"
#include "screens/slot_list.h"
#include "screens/title.h"
#include "screens/title_work.h"
#include "script/script_task.h"
#include "story/story_screen.h"
#include "tests/program/program_screens.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/utility_dialog.h"

namespace program_title {

using program_screens::ListUp;
using program_screens::LogoHeld;
using program_screens::MoviePlaying;
using program_screens::StoryWaiting;
using program_screens::Title;
using program_screens::TitleInput;
using program_screens::TitleMenuUp;

inline ModeFunction LogoScreen() { return GSL_LogoModeCB; }


inline void Press(PlatInputState& in, uint32_t button) {
    in.keys[Lib_InputKeyCode(0, button, 0) & 0xFF] = kPlatDown;
}

// Logos and movie with decide presses, then the menu. The first title after
// fresh system data may not skip its movie: these runs allow it, as a later
// run would, to keep them short. The steps wait for threads (the save
// writer's system data, the loader, the movie player): marked worker.
// `onTitle` runs once, on the first frame the title is on top.
inline void ToTitleMenu(std::vector<ProgramRun::Step>& steps, std::function<void()> onTitle = nullptr) {
    auto pending = std::make_shared<std::function<void()>>(std::move(onTitle));
    for (int i = 0; i < 4; ++i) {
        steps.push_back({"toward the title menu",
                         [pending] {
                             if (*pending && GSL_ModeTop() == GSL_TitleModeCB) {
                                 (*pending)();
                                 *pending = nullptr;
                             }
                             if (Title()) TitleFlags |= 2;
                             return TitleMenuUp() || LogoHeld() || (MoviePlaying() && MovieState.load() == MOVIE_PLAYING);
                         },
                         [](PlatInputState& in) {
                             if (!TitleMenuUp()) Press(in, BUTTON_DECIDE);
                         },
                         900, true});
        steps.push_back({"let go", nullptr, [](PlatInputState&) {}});
    }
    int frames = 0;
    steps.push_back({"the title menu", [frames]() mutable { return TitleMenuUp() && ++frames > 20; }, nullptr, 900, true});
}

// Moves the cursor to `item` with the arrow keys (the menu wraps): one press
// and one let-go per move.
inline void MenuTo(std::vector<ProgramRun::Step>& steps, int32_t item, int moves = 8) {
    for (int i = 0; i < moves; ++i) {
        steps.push_back({"a move", TitleMenuUp, [item](PlatInputState& in) {
                             const SelectInputWork* m = TitleInput();
                             if (m && m->cursor != item) Press(in, BUTTON_DOWN);
                         }});
        steps.push_back({"let go", nullptr, [](PlatInputState&) {}});
    }
    steps.push_back({"the cursor there", [item] {
                         const SelectInputWork* m = TitleInput();
                         return TitleMenuUp() && m && m->cursor == item;
                     },
                     nullptr, 30});
}

// A title item chosen: the cursor moved there, decide pressed and let go.
inline void Choose(std::vector<ProgramRun::Step>& steps, int32_t item) {
    MenuTo(steps, item);
    steps.push_back({"decide", nullptr, [](PlatInputState& in) { Press(in, BUTTON_DECIDE); }});
    steps.push_back({"let go", nullptr, [](PlatInputState&) {}});
}


using Act = std::function<void(PlatInputState&)>;
inline const Act kIdle = [](PlatInputState&) {};
inline Act Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}

// One step that holds once `done` does; until then each even frame gets the
// input `act` chooses and each odd frame none, so that every key is a press.
// (A screen that sees a key one frame late takes a longer `every`.)
inline ProgramRun::Step Drive(const char* label, std::function<bool()> done, Act act, int limit = 900, int every = 2) {
    auto frame = std::make_shared<int>(0);
    return {label,
            [=] {
                if (done()) return true;
                PlatInputState in = Plat_InputIdle();
                in.focus = 1;
                if ((*frame)++ % every == 0 && act) act(in);
                Plat_InputInject(in);
                return false;
            },
            kIdle, limit};
}

// The step waits for what a thread does in real time (a save written by the
// save writer): by WorkerWait's deadline, not its frame limit.
inline ProgramRun::Step Worker(ProgramRun::Step step) {
    step.worker = true;
    return step;
}

// The slot list's question is up and takes its answer.
inline bool Asking(ModeFunction screen) {
    const ScreenWork* w = GSL_WorkGet(screen);
    if (!(GSL_ModeTop() == screen && w && w->subState == SLOT_MAIN_ANSWER)) return false;
    const auto* d = static_cast<const UtilityDialogWork*>(Lib_UtilityWorkGet(SlotListGet(w)->dialog));
    return d && d->state == DIALOG_WAITING;
}

// The steps to the menu and a decide on new game (the cursor's first place
// when no slot holds a save), put before `steps`.
inline void PrependNewGame(std::vector<ProgramRun::Step>& steps) {
    std::vector<ProgramRun::Step> pre;
    ToTitleMenu(pre);
    pre.push_back({"new game", [] { return TitleMenuUp() && TitleInput()->cursor == TITLE_ITEM_NEW_GAME; },
                   [](PlatInputState& in) { Press(in, BUTTON_DECIDE); }});
    pre.push_back({"let go", nullptr, [](PlatInputState&) {}});
    steps.insert(steps.begin(), pre.begin(), pre.end());
}

// Runs the steps with the script trace on (one line per command on stderr)
// and returns what went to stderr; WinMain's code in *code.
inline std::string RunTraced(ProgramRun& run, std::vector<ProgramRun::Step> steps, int* code) {
    ::setenv("VN_SCRIPT_TRACE", "1", 1);
    testing::internal::CaptureStderr();
    *code = run.Run(std::move(steps));
    std::string err = testing::internal::GetCapturedStderr();
    ::unsetenv("VN_SCRIPT_TRACE");
    GSL_ScriptTraceSet(nullptr);
    Lib_DebugSetSink(nullptr);
    return err;
}

}  // namespace program_title
