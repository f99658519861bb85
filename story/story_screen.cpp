#include "story/story_screen.h"

#include <cstring>

#include "script/script_state.h"
#include "script/script_task.h"
#include "engine/core/task.h"
#include "script/stage.h"
#include "story/game_state.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/mode.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"

int32_t StoryCaptureSprite = -1;

// Stand-in until the story screen exists: it fades the overlay off, loads
// the story sheet into layer slot 31, runs the game state's script (the
// opening scenario when none is named) through the interpreter task, which it
// keeps in task slot 0 of its context, and leaves once the script has ended
// or its task is gone, so that the screen below comes back.
namespace {
constexpr char kFirstScript[] = "00_init.txt";
constexpr char kStorySheet[] = "visual/system/sys_adv_00.ext";
constexpr uint32_t kSheetSlot = 31;

// Sub-state 0 of step 0: the context, the overlay fade and the sheet's load.
void StoryLoad() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) {
        GSL_WorkCreate();
        w = GSL_WorkGet(nullptr);
    }
    if (!w) {
        GSL_ModePop();  // no room for a context: nothing can run
        return;
    }
    GSL_SystemDispColorSet(0, 30);
    GSL_WorkLayerLoad(nullptr, kSheetSlot, -1, kStorySheet, -1, 1, nullptr, nullptr);
    w->subState = 1;
}

// Sub-state 1: once the sheet has loaded (or failed), its own piece and the
// script.
void StoryStart() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w || !GSL_WorkLayersReady(nullptr)) return;
    const int32_t sheet = GSL_WorkLayerGet(nullptr, kSheetSlot);
    if (sheet >= 0) {
        LayoutRect r{};
        GSL_LayoutGetRect(&r, 5, 10);
        const int32_t rect[4] = {r.x, r.y, r.width, r.height};
        Lib_SpriteSetRect(sheet, rect);
    }
    if (!GameStateBlock.scriptName[0]) {
        static_assert(sizeof kFirstScript <= sizeof GameStateBlock.scriptName);
        std::memcpy(GameStateBlock.scriptName, kFirstScript, sizeof kFirstScript);
        GameStateBlock.startOffset = 0;
        GameStateBlock.restartOffset = 0;
    }
    GSL_StageReset(&GameStateBlock.stage, STAGE_RESET_NAME | STAGE_RESET_FIELDS);
    w->tasks[0] = GSL_ScriptTaskSet();
    w->step = 1;
    w->subState = 0;
}

void StoryWatch() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t status = w ? GSL_ScriptStatusGet(w->tasks[0]) : -1;
    if (w && (status < 0 || (uint32_t(status) & SCRIPT_ENDED))) w->step = 2;
}

// The end: once no picture is loading any more, the screen's tasks are asked
// to finish, so that they release what they hold while this screen is on top;
// a frame later the context goes.
void StoryLeave() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (w && w->subState == 0) {
        if (!GSL_WorkLayersReady(nullptr)) return;
        Lib_TaskBreakAll();
        w->subState = 1;
        return;
    }
    // Deleting the context ends the task, at once or by its finish request.
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
}
}  // namespace

void GSL_StoryModeCB() {
    const ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w || (w->step == 0 && w->subState == 0))
        StoryLoad();
    else if (w->step == 0)
        StoryStart();
    else if (w->step == 1)
        StoryWatch();
    else
        StoryLeave();
}
