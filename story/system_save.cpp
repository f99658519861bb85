#include "story/system_save.h"

#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "story/save_store.h"
#include "ui/dialog_access.h"
#include "ui/mode.h"
#include "ui/overlay.h"
#include "ui/system_text.h"
#include "ui/utility_dialog.h"
#include "ui/widget_task.h"

namespace {
constexpr int32_t kFadeFrames = 60;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kDimColour = 0xC0000000u;
constexpr int32_t kDimPriority = 100;
enum : uint32_t { WORD_SAVE = 0, WORD_DIALOG = 1, WORD_DIM = 2, WORD_FADED = 3 };
// Sub-states of the fade-in: START -> WAIT -> SUBSTATE_CLOSE.
enum : int32_t { FADE_START = 0, FADE_WAIT = 1 };

// The request lives as long as the save task may read it.
// process-wide: scratch, built before each save
SaveRequest g_request;

const DispColorWork* Overlay() {
    return reinterpret_cast<const DispColorWork*>(GSL_WidgetWorkGet(DispColorTask, GSL_SystemDispColorCB));
}
uint32_t OverlayTarget() {
    const DispColorWork* o = Overlay();
    return o ? o->target : 0;
}


void Next(ScreenWork* w) {
    ++w->step;
    w->subState = SUBSTATE_ENTRY;
}

void Init() {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) {
        GSL_ModePop();  // no room for a context: nothing to ask
        return;
    }
    w->step = SYSTEM_SAVE_STEP_FADE_IN;
    w->subState = FADE_START;
    GSL_WorkWordSet(w, WORD_SAVE, -1);
    GSL_WorkWordSet(w, WORD_DIALOG, -1);
    GSL_WorkWordSet(w, WORD_DIM, -1);
    GSL_WorkWordSet(w, WORD_FADED, 1);
}

void FadeIn(ScreenWork* w) {
    if (w->subState == FADE_START) {
        if (OverlayTarget() != 0) GSL_SystemDispColorSet(0, kFadeFrames);
        w->subState = FADE_WAIT;
        if (!GSL_SystemDispColorCheck()) return;
        GSL_WorkWordSet(w, WORD_FADED, 0);
        w->subState = SUBSTATE_CLOSE;
    }
    if (w->subState == FADE_WAIT) {
        if (!GSL_SystemDispColorCheck()) return;
        w->subState = SUBSTATE_CLOSE;
    }
    if (w->subState == SUBSTATE_CLOSE) Next(w);
}

void Write(ScreenWork* w) {
    switch (w->subState) {
        case SYSTEM_SAVE_WRITE_ASK: {
            const char* text = GSL_SysTextGet(nullptr, 2, 16, 0, nullptr, 0);
            GSL_WorkWordSet(w, WORD_DIALOG, Lib_DialogAsk(text));
            w->subState = SYSTEM_SAVE_WRITE_ANSWER;
            return;
        }
        case SYSTEM_SAVE_WRITE_ANSWER: {
            const int32_t answer = GSL_SystemDialogGet(GSL_WorkWord(w, WORD_DIALOG));
            // A dialog that could not be made answers no.
            if (answer < 0 && GSL_SystemDialogIsReady(GSL_WorkWord(w, WORD_DIALOG)) >= 0) return;
            GSL_SystemDialogDel(GSL_WorkWord(w, WORD_DIALOG));
            GSL_WorkWordSet(w, WORD_DIALOG, -1);
            w->subState = answer == 1 ? int32_t(SYSTEM_SAVE_WRITE_SAVE) : int32_t(SUBSTATE_CLOSE);
            const int32_t dim = Lib_SpriteLoad(-1, nullptr, -1, 0);
            GSL_WorkWordSet(w, WORD_DIM, dim);
            Lib_SpriteSetColor(dim, kDimColour);
            Lib_SpriteSetPrio(dim, kDimPriority, -1);
            Lib_SpriteSetValue(dim, 2);
            Lib_SpriteSetFlag(dim, 1);
            return;
        }
        case SYSTEM_SAVE_WRITE_SAVE:
            GSL_SystemSaveRequestBuild(&g_request);
            GSL_WorkWordSet(w, WORD_SAVE, Lib_SaveTaskSet(SAVE_TASK_SAVE, &g_request, kSaveSystemSlot));
            w->subState = SYSTEM_SAVE_WRITE_SAVE_WAIT;
            return;
        case SYSTEM_SAVE_WRITE_SAVE_WAIT: {
            const int32_t task = GSL_WorkWord(w, WORD_SAVE);
            if (Lib_SaveTaskResult(task) == SAVE_TASK_RUNNING) return;
            if (task >= 0) Lib_SaveTaskEnd(task);
            GSL_WorkWordSet(w, WORD_SAVE, -1);
            w->subState = SUBSTATE_CLOSE;
            return;
        }
        default:  // SUBSTATE_CLOSE
            Lib_SpriteFree(GSL_WorkWord(w, WORD_DIM));
            GSL_WorkWordSet(w, WORD_DIM, -1);
            Next(w);
            return;
    }
}

void Exit(ScreenWork* w) {
    if (GSL_WorkWord(w, WORD_FADED) && OverlayTarget() != kBlack) GSL_SystemDispColorSet(kBlack, kFadeFrames);
    if (!GSL_SystemDispColorCheck()) return;
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
}
}  // namespace

void GSL_SystemSaveModeCB() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : SYSTEM_SAVE_STEP_INIT;
    switch (step) {
        case SYSTEM_SAVE_STEP_INIT: Init(); break;
        case SYSTEM_SAVE_STEP_FADE_IN: FadeIn(w); break;
        case SYSTEM_SAVE_STEP_WRITE: Write(w); break;
        default: Exit(w); break;
    }
}
