// What a whole-program run sees on screen, read on the game thread: the
// logos, the opening movie, the title's menu, the story waiting for the
// reader and the slot lists. Shared by the program tests and the program
// benchmarks (no test framework here).
#pragma once

#include "screens/logo.h"
#include "screens/slot_list.h"
#include "screens/title.h"
#include "screens/title_work.h"
#include "script/script_task.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "ui/mode.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"

namespace program_screens {

inline ScreenWork* Title() { return GSL_WorkGet(GSL_TitleModeCB); }
inline SelectInputWork* TitleInput() {
    ScreenWork* w = Title();
    return w ? GSL_InputWork(GSL_TitleHead(w)->input) : nullptr;
}
// The title's menu on top, faded in and taking input.
inline bool TitleMenuUp() {
    const ScreenWork* w = Title();
    const SelectInputWork* in = TitleInput();
    return GSL_ModeTop() == GSL_TitleModeCB && w && !w->suspended && w->step == TITLE_STEP_INPUT &&
           w->subState == SUBSTATE_ENTRY && in && in->state == 1 && GSL_SystemDispColorCheck();
}
// A logo shown and waiting, so that decide cuts it short.
inline bool LogoHeld() {
    const ScreenWork* w = GSL_WorkGet(GSL_LogoModeCB);
    return GSL_ModeTop() == GSL_LogoModeCB && w && w->step == LOGO_STEP_PLAY && w->subState == LOGO_PLAY_HOLD;
}
// The title's opening-movie step on top.
inline bool MoviePlaying() {
    const ScreenWork* w = Title();
    return GSL_ModeTop() == GSL_TitleModeCB && w && w->step == TITLE_STEP_LOAD && w->subState == TITLE_LOAD_MOVIE;
}
// The story on top, its script waiting for the reader.
inline bool StoryWaiting() {
    const ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
    return GSL_ModeTop() == GSL_StoryModeCB && w && w->step == STORY_STEP_INPUT &&
           (uint32_t(GSL_ScriptStatusGet(w->tasks[0])) & SCRIPT_PLAYER_WAIT);
}
// The save or load screen's slot list on top, taking input.
inline bool ListUp(ModeFunction screen) {
    const ScreenWork* w = GSL_WorkGet(screen);
    return GSL_ModeTop() == screen && w && w->step == SLOT_STEP_MAIN && w->subState == SLOT_MAIN_LIST;
}

}  // namespace program_screens
