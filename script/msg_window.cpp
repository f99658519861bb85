#include "script/msg_window.h"

#include <algorithm>

#include "script/game_blocks.h"
#include "script/message.h"
#include "script/markup.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/move_alpha.h"
#include "ui/screen_slots.h"
#include "ui/widget.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

namespace {

constexpr int32_t kLayoutGroup = 5;
constexpr uint32_t kMasterSlot = 24, kPlateSlot = 26, kUpperPart = 27, kLowerPart = 28, kStageLayer9 = 9;
constexpr int32_t kCloseFades = 10;

struct Part {
    uint32_t slot;
    float x, y;
    int32_t priority;
};

struct OpenWork {
    WidgetWork head;
    int32_t frames;
    int32_t fades[2];  // the window, layer 9
};
static_assert(sizeof(OpenWork) <= kWidgetWorkSize);

struct CloseWork {
    WidgetWork head;
    int32_t frames;
    int32_t fades[kCloseFades];  // window, plate, icon, name, layer 9, message texts 1..5
};
static_assert(sizeof(CloseWork) <= kWidgetWorkSize);

ModeFunction Story() { return GSL_ScreenOf(SCREEN_STORY); }
bool StoryPresent() { return Story() && GSL_WorkGet(Story()); }
StageRecord& Stage() { return GameStateBlock.stage; }

int32_t Sprite(uint32_t slot) { return Story() ? GSL_WorkLayerGet(Story(), slot) : -1; }
int32_t TextHandle(uint32_t slot) {
    const int32_t h = Story() ? GSL_WorkTextGet(Story(), slot) : -1;
    return h >= 0 && h < kTextSlots && TextTable[h] ? h : -1;
}

// A part cut from the sheet: a copy of slot 31 when its slot is empty,
// hidden, with the layout rectangle, place, priority and colour.
int32_t MakePart(const Part& p, int32_t layoutIndex, uint32_t colour) {
    if (Sprite(kStorySheetSlot) < 0) return -1;
    if (Sprite(p.slot) < 0 && GSL_WorkLayerCopy(Story(), p.slot, kStorySheetSlot, -1) < 0) return -1;
    const int32_t s = Sprite(p.slot);
    if (s < 0 || s >= kSpriteSlots) return -1;
    LayoutRect r{};
    GSL_LayoutGetRect(&r, kLayoutGroup, layoutIndex);
    const int32_t rect[4] = {r.x, r.y, r.width, r.height};
    Lib_SpriteSetRect(s, rect);
    Lib_SpriteSetValue(s, 1);
    Lib_SpriteSetPrio(s, p.priority, -1);
    Lib_SpriteSetColor(s, colour);
    Lib_SpriteSetFlag(s, 0);
    SpriteTable[s].posX = p.x;
    SpriteTable[s].posY = p.y;
    SpriteTable[s].posZ = 0.0f;
    SpriteTable[s].scaleX = SpriteTable[s].scaleY = SpriteTable[s].scaleZ = 1.0f;
    return s;
}

void SetTextsShown() {
    for (uint32_t i = kMessageNameText; i <= kMessageLastText; ++i)
        if (const int32_t h = TextHandle(i); h >= 0) TextTable[h]->state |= TEXT_STATE_DRAWN;
}

// The plate while a name exists, layer 9 and the two small parts with the
// window: what both an opening and a re-show write.
void ShowWithWindow() {
    Lib_SpriteSetFlag(Sprite(kPlateSlot), TextHandle(kMessageNameText) >= 0 ? 1 : 0);
    SetTextsShown();
    Lib_SpriteSetFlag(Sprite(kStageLayer9), 1);
    Stage().layerVisible[9] = 1;
    const uint8_t shown = Lib_SpriteGetFlag(Sprite(kMessageWindowSlot));
    Lib_SpriteSetFlag(Sprite(kUpperPart), shown);
    Lib_SpriteSetFlag(Sprite(kLowerPart), shown);
}

void OpenedState() {
    if (!StoryPresent()) return;
    Lib_SpriteSetColor(Sprite(kMessageWindowSlot), GSL_WindowOpacity());
    Lib_SpriteSetColor(Sprite(kStageLayer9), 0xFFFFFFFFu);
    ShowWithWindow();
}

void ClosedState() {
    if (!StoryPresent()) return;
    GSL_WorkLayerFree(Story(), int32_t(kMasterSlot));
    GSL_WorkLayerFree(Story(), int32_t(kPlateSlot));
    GSL_WorkLayerFree(Story(), int32_t(kMessageIconSlot));
    for (uint32_t i = kMessageNameText; i <= kMessageLastText; ++i) GSL_WorkTextFree(Story(), i);
    GSL_WorkLayerFree(Story(), int32_t(kMessageWindowSlot));
    Lib_SpriteSetColor(Sprite(kStageLayer9), 0xFFFFFFFFu);
    Lib_SpriteSetFlag(Sprite(kStageLayer9), 0);
    Stage().layerVisible[9] = 0;
    GSL_WorkLayerFree(Story(), int32_t(kUpperPart));
    GSL_WorkLayerFree(Story(), int32_t(kLowerPart));
}

void DeleteFades(int32_t* fades, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        GSL_SystemAlphaDel(fades[i]);
        fades[i] = -1;
    }
}

// A fade is done when its widget says so, or when it is gone.
bool FadesDone(const int32_t* fades, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (GSL_SystemAlphaCheck(fades[i]) == 0) return false;
    return true;
}

OpenWork* OpenWorkOf(int32_t slot) { return reinterpret_cast<OpenWork*>(GSL_WidgetWorkGet(slot, openCB)); }
CloseWork* CloseWorkOf(int32_t slot) { return reinterpret_cast<CloseWork*>(GSL_WidgetWorkGet(slot, closeCB)); }

// The stage's task ids, cleared when they no longer name a live task of
// their kind (a task removed with its screen, or an id from a save).
int32_t OpenTask() {
    if (Stage().openTask >= 0 && !OpenWorkOf(Stage().openTask)) Stage().openTask = -1;
    return Stage().openTask;
}
int32_t CloseTask() {
    if (Stage().closeTask >= 0 && !CloseWorkOf(Stage().closeTask)) Stage().closeTask = -1;
    return Stage().closeTask;
}

void OpenDelete(int32_t slot) {
    if (OpenWork* w = OpenWorkOf(slot)) DeleteFades(w->fades, 2);
    if (Stage().openTask == slot) Stage().openTask = -1;
}
void CloseDelete(int32_t slot) {
    if (CloseWork* w = CloseWorkOf(slot)) DeleteFades(w->fades, kCloseFades);
    if (Stage().closeTask == slot) Stage().closeTask = -1;
}

// A running open or close completed at once.
void CompleteOpen() {
    const int32_t id = OpenTask();
    if (id < 0) return;
    OpenDelete(id);
    OpenedState();
    Lib_TaskDel(uint32_t(id));
}
void CompleteClose() {
    const int32_t id = CloseTask();
    if (id < 0) return;
    CloseDelete(id);
    ClosedState();
    Lib_TaskDel(uint32_t(id));
}

// The finish check of the fade tasks: 1 when the task ends aborted without
// a story screen (nothing written), else whether it must finish now.
enum class Finish { Run, Now, Gone };
Finish FinishCheck(const WidgetWork* head) {
    if (!StoryPresent()) return Finish::Gone;
    const TaskRecord* self = GSL_WidgetRecord(head);
    if ((self && self->finishRequest) || !GSL_ScriptStoryState()) return Finish::Now;
    return Finish::Run;
}

// The three reveal fields of a message text before the close fades it: the
// whole text shown, every glyph at the colour's alpha, so it fades as one.
void RevealForFade(int32_t h) {
    TextRecord* r = TextTable[h];
    r->speed = 0;
    r->fadeIn = 0;
    r->fadeLength = 1;
    GSL_TextShowFully(r);
    Lib_TextRubyMove(r, nullptr);
}

}  // namespace

uint32_t GSL_WindowOpacity() {
    const uint32_t a = std::min<uint32_t>(uint32_t(SystemDataBlock.windowOpacity) * 255u / 100u, 255u);
    return (a << 24) + 0xFFFFFFu;
}

bool GSL_WindowOpening() { return OpenTask() >= 0; }

void openSet(int32_t frames) {
    if (!StoryPresent() || OpenTask() >= 0) return;
    CompleteClose();
    if (Sprite(kMessageWindowSlot) >= 0) {
        ShowWithWindow();
        return;
    }
    const int32_t frame = Stage().windowFrame;
    const uint32_t opacity = GSL_WindowOpacity();
    MakePart({kMasterSlot, 0.0f, -240.0f, 9700000}, frame < 0 ? 0 : frame, opacity);
    MakePart({kPlateSlot, -315.0f, -139.0f, 8499001}, frame < 0 ? 2 : frame + 2, opacity);
    const int32_t icon = MakePart({kMessageIconSlot, 0.0f, 0.0f, kMessagePriority}, 6, 0x00FFFFFFu);
    if (icon >= 0) {
        float at[3];
        ScriptTaskWork* task = GSL_ScriptTaskWork(GSL_ScriptStoryTask());
        GSL_TextPageMake(at, task ? &task->context : nullptr);
        SpriteTable[icon].posX = at[0], SpriteTable[icon].posY = at[1];
        SpriteTable[icon].clipRect[0] = 0, SpriteTable[icon].clipRect[1] = 532;
        SpriteTable[icon].clipRect[2] = 1280, SpriteTable[icon].clipRect[3] = 174;
    }
    GSL_WorkLayerFree(Story(), int32_t(kMessageWindowSlot));
    if (Sprite(kMasterSlot) >= 0 && GSL_WorkLayerCopy(Story(), kMessageWindowSlot, kMasterSlot, -1) >= 0) {
        const int32_t w = Sprite(kMessageWindowSlot);
        Lib_SpriteSetValue(w, 1);
        Lib_SpriteSetPrio(w, 9700000, -1);
        SpriteTable[w].posX = 0.0f, SpriteTable[w].posY = -240.0f, SpriteTable[w].posZ = 0.0f;
        Lib_SpriteSetFlag(w, 1);
        Lib_SpriteSetColor(w, 0x00FFFFFFu);
    }
    Lib_SpriteSetFlag(Sprite(kStageLayer9), 1);
    Lib_SpriteSetColor(Sprite(kStageLayer9), 0x00FFFFFFu);
    MakePart({kUpperPart, 600.0f, -183.0f, 9699000}, 29, 0xFFF0F0F0u);
    MakePart({kLowerPart, 600.0f, -335.0f, 9699000}, 30, 0xFFF0F0F0u);

    if (frames != 0 && !GSL_IsSkip()) {
        GSL_WidgetDeleteRegister(openCB, OpenDelete);
        auto* w = reinterpret_cast<OpenWork*>(
            GSL_WidgetCreate("openCB", openCB, kWidgetPriority, kWidgetGroupSystem, 2));
        if (w) {
            w->frames = frames;
            w->fades[0] = w->fades[1] = -1;
            Stage().openTask = w->head.slot;
            return;
        }
    }
    OpenedState();
}

void closeSet(int32_t frames) {
    if (!StoryPresent() || CloseTask() >= 0) return;
    CompleteOpen();
    if (frames != 0 && !GSL_IsSkip() && Sprite(kMessageWindowSlot) >= 0) {
        GSL_WidgetDeleteRegister(closeCB, CloseDelete);
        auto* w = reinterpret_cast<CloseWork*>(
            GSL_WidgetCreate("closeCB", closeCB, kWidgetPriority, kWidgetGroupSystem, 2));
        if (w) {
            w->frames = frames;
            for (int32_t& f : w->fades) f = -1;
            Stage().closeTask = w->head.slot;
            return;
        }
    }
    ClosedState();
}

int32_t openCB(void* work) {
    auto* w = static_cast<OpenWork*>(work);
    const Finish finish = FinishCheck(&w->head);
    if (w->head.state < WIDGET_FINISHED && finish != Finish::Run) w->head.state = WIDGET_FINISHED;
    if (w->head.state == 0) {
        const int32_t alpha = int32_t(GSL_WindowOpacity() >> 24);
        w->fades[0] = GSL_SystemAlphaSet(Sprite(kMessageWindowSlot), -1, alpha, w->frames, 0, 0);
        const int32_t layer9 = Sprite(kStageLayer9);
        w->fades[1] = layer9 >= 0 ? GSL_SystemAlphaSet(layer9, -1, 255, w->frames, 0, 0) : -1;
        w->head.state = 1;
        return 0;
    }
    if (w->head.state == 1) {
        if (!GSL_IsSkip() && !FadesDone(w->fades, 2)) return 0;
        w->head.state = WIDGET_FINISHED;
    }
    DeleteFades(w->fades, 2);
    if (finish != Finish::Gone) OpenedState();
    if (Stage().openTask == w->head.slot) Stage().openTask = -1;
    return 1;
}

int32_t closeCB(void* work) {
    auto* w = static_cast<CloseWork*>(work);
    const Finish finish = FinishCheck(&w->head);
    if (w->head.state < WIDGET_FINISHED && finish != Finish::Run) w->head.state = WIDGET_FINISHED;
    if (w->head.state == 0) {
        const uint32_t sprites[] = {kMessageWindowSlot, kPlateSlot, kMessageIconSlot};
        for (int32_t i = 0; i < 3; ++i) w->fades[i] = GSL_SystemAlphaSet(Sprite(sprites[i]), -1, 0, w->frames, 0, 0);
        w->fades[3] = GSL_SystemAlphaSet(-1, TextHandle(kMessageNameText), 0, w->frames, 0, 0);
        w->fades[4] = GSL_SystemAlphaSet(Sprite(kStageLayer9), -1, 0, w->frames, 0, 0);
        for (uint32_t t = kMessageFirstText; t <= kMessageLastText; ++t) {
            const int32_t h = TextHandle(t);
            if (h >= 0) RevealForFade(h);
            w->fades[5 + (t - kMessageFirstText)] = GSL_SystemAlphaSet(-1, h, 0, w->frames, 0, 0);
        }
        GSL_WorkLayerFree(Story(), int32_t(kUpperPart));
        GSL_WorkLayerFree(Story(), int32_t(kLowerPart));
        w->head.state = 1;
        return 0;
    }
    if (w->head.state == 1) {
        if (!GSL_IsSkip() && !FadesDone(w->fades, kCloseFades)) return 0;
        w->head.state = WIDGET_FINISHED;
    }
    DeleteFades(w->fades, kCloseFades);
    if (finish != Finish::Gone) ClosedState();
    if (Stage().closeTask == w->head.slot) Stage().closeTask = -1;
    return 1;
}
