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
constexpr uint32_t kDialogValue = 180;
constexpr uint32_t kDialogPriority = 98;
enum : uint32_t { WORD_SAVE = 0, WORD_DIALOG = 1, WORD_DIM = 2, WORD_FADED = 3 };

// The request lives as long as the save task may read it.
SaveRequest g_request;

const DispColorWork* Overlay() {
    return reinterpret_cast<const DispColorWork*>(GSL_WidgetWorkGet(DispColorTask, GSL_SystemDispColorCB));
}
uint32_t OverlayTarget() {
    const DispColorWork* o = Overlay();
    return o ? o->target : 0;
}

int32_t Word(const ScreenWork* w, uint32_t i) { return int32_t(int64_t(w->words[i])); }
void SetWord(ScreenWork* w, uint32_t i, int32_t v) { w->words[i] = uint64_t(int64_t(v)); }

void Next(ScreenWork* w) {
    ++w->step;
    w->subState = 0;
}

void Init() {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) {
        GSL_ModePop();  // no room for a context: nothing to ask
        return;
    }
    w->step = 1;
    w->subState = 0;
    SetWord(w, WORD_SAVE, -1);
    SetWord(w, WORD_DIALOG, -1);
    SetWord(w, WORD_DIM, -1);
    SetWord(w, WORD_FADED, 1);
}

void FadeIn(ScreenWork* w) {
    if (w->subState == 0) {
        if (OverlayTarget() != 0) GSL_SystemDispColorSet(0, kFadeFrames);
        w->subState = 1;
        if (!GSL_SystemDispColorCheck()) return;
        SetWord(w, WORD_FADED, 0);
        w->subState = 99;
    }
    if (w->subState == 1) {
        if (!GSL_SystemDispColorCheck()) return;
        w->subState = 99;
    }
    if (w->subState == 99) Next(w);
}

void Write(ScreenWork* w) {
    switch (w->subState) {
        case 0: {
            const char* text = GSL_SysTextGet(nullptr, 2, 16, 0, nullptr, 0);
            SetWord(w, WORD_DIALOG, Lib_DialogOpen(1, text, kDialogValue, kDialogPriority, 1));
            w->subState = 1;
            return;
        }
        case 1: {
            const int32_t answer = GSL_SystemDialogGet(Word(w, WORD_DIALOG));
            // A dialog that could not be made answers no.
            if (answer < 0 && GSL_SystemDialogIsReady(Word(w, WORD_DIALOG)) >= 0) return;
            GSL_SystemDialogDel(Word(w, WORD_DIALOG));
            SetWord(w, WORD_DIALOG, -1);
            w->subState = answer == 1 ? 10 : 99;
            const int32_t dim = Lib_SpriteLoad(-1, nullptr, -1, 0);
            SetWord(w, WORD_DIM, dim);
            Lib_SpriteSetColor(dim, kDimColour);
            Lib_SpriteSetPrio(dim, kDimPriority, -1);
            Lib_SpriteSetValue(dim, 2);
            Lib_SpriteSetFlag(dim, 1);
            return;
        }
        case 10:
            GSL_SystemSaveRequestBuild(&g_request);
            SetWord(w, WORD_SAVE, Lib_SaveTaskSet(0, &g_request, kSaveSystemSlot));
            w->subState = 11;
            return;
        case 11: {
            const int32_t task = Word(w, WORD_SAVE);
            if (task >= 0 && Lib_SaveTaskResult(task) == 0) return;
            if (task >= 0) Lib_SaveTaskEnd(task);
            SetWord(w, WORD_SAVE, -1);
            w->subState = 99;
            return;
        }
        default:
            Lib_SpriteFree(Word(w, WORD_DIM));
            SetWord(w, WORD_DIM, -1);
            Next(w);
            return;
    }
}

void Exit(ScreenWork* w) {
    if (Word(w, WORD_FADED) && OverlayTarget() != kBlack) GSL_SystemDispColorSet(kBlack, kFadeFrames);
    if (!GSL_SystemDispColorCheck()) return;
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
}
}  // namespace

void GSL_SystemSaveModeCB() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : 0;
    switch (step) {
        case 0: Init(); break;
        case 1: FadeIn(w); break;
        case 2: Write(w); break;
        default: Exit(w); break;
    }
}
