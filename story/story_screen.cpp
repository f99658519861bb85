#include "story/story_screen.h"

#include <cstring>

#include "script/script_state.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "story/game_state.h"
#include "ui/mode.h"

int32_t StoryCaptureSprite = -1;

// Stand-in until the story screen exists: it runs the game state's script
// (the opening scenario when none is named) through the interpreter task,
// which it keeps in task slot 0 of its context, and leaves once the script
// has ended or its task is gone, so that the screen below comes back.
namespace {
constexpr char kFirstScript[] = "00_init.txt";

void StoryStart() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) {
        GSL_WorkCreate();
        w = GSL_WorkGet(nullptr);
    }
    if (!w) {
        GSL_ModePop();  // no room for a context: nothing can run
        return;
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
}

void StoryWatch() {
    const ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t status = w ? GSL_ScriptStatusGet(w->tasks[0]) : -1;
    if (status >= 0 && !(uint32_t(status) & SCRIPT_ENDED)) return;
    // Deleting the context ends the task, at once or by its finish request.
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
}
}  // namespace

void GSL_StoryModeCB() {
    const ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w || w->step == 0)
        StoryStart();
    else
        StoryWatch();
}
