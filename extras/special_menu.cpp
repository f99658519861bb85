#include "extras/special_menu.h"

#include <cstring>
#include <iterator>
#include <new>

#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "extras/extras_screens.h"
#include "extras/special_table.h"
#include "script/flow.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "ui/color_pulse.h"
#include "ui/layout_table.h"
#include "ui/loading.h"
#include "ui/move_alpha.h"
#include "ui/number_display.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/window_frame.h"

static_assert(sizeof(SpecialHead) <= sizeof(ScreenWork::words));

namespace {
// The menu has no change step: its own steps follow the main one.
constexpr int32_t kStepLaunch = EXTRAS_STEP_OWN, kStepClose = EXTRAS_STEP_OWN + 1;
// Sub-states of the launch: START -> STORY (the story runs above the menu)
// -> BACK -> BAR -> FADE_IN, then the main step.
enum : int32_t { LAUNCH_START = 0, LAUNCH_STORY = 1, LAUNCH_BACK = 2, LAUNCH_BAR = 3, LAUNCH_FADE_IN = 4 };
constexpr int32_t kColumns = 4;
constexpr float kCellX = -392.0f, kCellDX = 262.0f, kCellY = 155.0f, kPitch = 150.0f;
constexpr float kBandTop = 268.0f, kBandBottom = -258.0f;
constexpr int32_t kBand[4] = {0, 92, 1280, 526};
constexpr uint32_t kGrey = 0xFF707070u, kWhite = 0xFFFFFFFFu, kPlain = 0xFFF0F0F0u;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr int32_t kTitleTrack = 18;
constexpr uint32_t kHeadingText = 11;
constexpr int32_t kNumberBase = 22;
constexpr int32_t kButtonBase = 7;
constexpr int32_t kVisibleRows = 3;
constexpr ExtrasGrid kGrid{kColumns, kPitch, kVisibleRows};

ScreenWork* Work() { return GSL_WorkGet(GSL_SpecialModeCB); }
SpecialHead* Head() { return GSL_SpecialHead(Work()); }

float CellX(int32_t i) { return kCellX + float(i % kColumns) * kCellDX; }
float CellY(int32_t i) { return kCellY - float(i / kColumns) * kPitch; }
// Where button i stands with the rows scrolled (its sprite may have failed).
float PlaceY(const SpecialHead* h, int32_t i) { return CellY(i) + kPitch * float(h->topRow); }

int32_t Layer(uint32_t slot) { return GSL_WorkLayerGet(GSL_SpecialModeCB, slot); }
int32_t Cursor() { return Layer(2); }
int32_t Button(int32_t i) { return Layer(uint32_t(kButtonBase + i)); }

void Place(int32_t sprite, float x, float y, float scale, int32_t priority) {
    Extras_Place(sprite, x, y, scale, priority, kBand);
}

void KeysEnd(SpecialHead* h) {
    if (h->keys) Extras_KeysEnd(h->keys->keys);
}

void KeysStart(SpecialHead* h) {
    if (h->keys) Extras_KeysStart(h->keys->keys);
}

// Made shown from the start: a later flag write would replace the bar's
// first full layout by a relayout that keeps a position it never had.
void BarCreate(SpecialHead* h, uint8_t shown) {
    const float at[2] = {kExtrasBarX, 0.0f}, size[2] = {1.0f, 5.0f};
    h->bar = GSL_SystemBarSet(at, size, kExtrasBarPriority, shown, kExtrasBarMinimum, GSL_SpecialRowCount(), -1, -1);
}

// --- steps -------------------------------------------------------------------

void Init(ScreenWork*) {
    GSL_SpecialUnlockEval();
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    SpecialHead* h = GSL_SpecialHead(w);
    *h = SpecialHead{-1, -1, 0, 0, 0, -1, 0, 0, 0, -1, nullptr};
    w->subState = EXTRAS_BUILD_WAIT;
    h->loading = Extras_Open("visual/system/sys_tips_bg.ext", "visual/system/sys_gallery_00.ext", 1);
    BarCreate(h, 0);
    if (void* area = Lib_MemAlloc(HEAP_SCREEN, sizeof(SpecialKeyBlock), 4)) {
        h->keys = new (area) SpecialKeyBlock{};
        h->keys->drag = ExtrasDrag{0, 0};
        KeysStart(h);
    }
    Lib_FrameRateSet(60);
    w->step = EXTRAS_STEP_BUILD;
}

void BuildMenu(ScreenWork* w) {
    SpecialHead* h = GSL_SpecialHead(w);
    Extras_TrackPlay(kTitleTrack);
    GSL_SystemLoadingDel(h->loading);
    h->loading = -1;
    Extras_PageShow(kHeadingText);
    GSL_LayoutSpriteRect(Cursor(), 8, 0);
    // The arrows and their highlights stay hidden: the menu has one page.
    Extras_ArrowsSet();
    for (uint32_t s = 3; s <= 6; ++s) Lib_SpriteSetFlag(Layer(s), 0);
    GSL_SpecialDrawPage(1.0f, 1);
    GSL_SystemBarSetFlag(h->bar, GSL_SpecialRowCount() >= 4 ? 1 : 0);
    const float at[3] = {534.0f, 320.0f, 0.0f};
    h->number = GSL_SystemNumSet(at, kNumberBase);
}

void Build(ScreenWork* w) {
    SpecialHead* h = GSL_SpecialHead(w);
    if (w->subState < EXTRAS_BUILD_COUNT) {
        Extras_BuildFade(w, Extras_BuildReady(h->bar, h->loading, true), BuildMenu);
        return;
    }
    Extras_BuildCount(w, &h->counter, GSL_SpecialRate, h->number, false);
}

void Main(ScreenWork* w) {
    SpecialHead* h = GSL_SpecialHead(w);
    if (!h->keys) return;
    if (h->scrollTask >= 0) {
        if (GSL_SystemMoveCheck(h->scrollTask) != 0) {
            GSL_SystemMoveDel(h->scrollTask);
            h->scrollTask = -1;
        }
        return;
    }
    ExtrasDrag& drag = h->keys->drag;
    const int32_t rows = GSL_SpecialRowCount();
    int32_t delta = 0;
    if (rows >= 4) {
        bool endFrame = false;
        delta = Extras_BarDrag(&drag, h->bar, rows, &endFrame);
        if (endFrame) return;
    }
    int32_t target = -1;
    bool clicked = false;
    if (!drag.dragging) {
        int32_t sprites[kSpecialCount];
        float ys[kSpecialCount];
        for (int32_t i = 0; i < kSpecialCount; ++i) {
            sprites[i] = Button(i);
            ys[i] = PlaceY(h, i);
        }
        target = Extras_HoverScan(sprites, ys, kSpecialCount, h->selected, kBandTop, kBandBottom, &clicked);
    }
    const bool back = Extras_Clicked(Layer(1), kPlain, kWhite);
    if ((InputButtons.pressed & BUTTON_CANCEL) || back) {
        GSL_SystemSePlay(SE_CANCEL);
        w->step = kStepClose;
        w->subState = SUBSTATE_ENTRY;
        return;
    }
    if (!drag.dragging) {
        const int32_t* keys = h->keys->keys;
        int32_t sel = h->selected;
        if ((InputButtons.pressed & BUTTON_DECIDE) || (target >= 0 && target == sel)) {
            if (GSL_SpecialIsUnlocked(sel)) {
                GSL_SystemSePlay(SE_ENTER);
                w->step = kStepLaunch;
                w->subState = LAUNCH_START;
                return;
            }
            GSL_SystemSePlay(SE_ERROR);
        } else if (target >= 0) {
            GSL_SystemSePlay(SE_MOVE);
            sel = target;
        } else if (GSL_SystemKeyFires(keys[EXTRAS_KEY_LEFT])) {
            GSL_SystemSePlay(SE_MOVE);
            sel = (sel + kSpecialCount - 1) % kSpecialCount;
        } else if (GSL_SystemKeyFires(keys[EXTRAS_KEY_RIGHT])) {
            GSL_SystemSePlay(SE_MOVE);
            sel = (sel + 1) % kSpecialCount;
        } else if (GSL_SystemKeyFires(keys[EXTRAS_KEY_UP]) || GSL_SystemBarFires(h->bar, BAR_UP)) {
            GSL_SystemSePlay(SE_MOVE);
            const int32_t m = rows * kColumns;
            sel = (sel - kColumns + m) % m;
            if (sel >= kSpecialCount) sel = kSpecialCount - 1;
        } else if (GSL_SystemKeyFires(keys[EXTRAS_KEY_DOWN]) || GSL_SystemBarFires(h->bar, BAR_DOWN)) {
            GSL_SystemSePlay(SE_MOVE);
            const int32_t m = rows * kColumns;
            sel = (sel + kColumns) % m;
            if (sel >= kSpecialCount) sel = kSpecialCount - 1;
        }
        h->selected = sel;
    } else if (delta != 0) {
        int32_t sel = h->selected + kColumns * delta;
        if (sel < 0) sel = 0;
        if (sel > kSpecialCount - 1) sel = kSpecialCount - 1;
        h->selected = sel;
    }
    Lib_SpriteSetColor(Layer(5), Lib_SpriteGetColor(Layer(3)));
    Lib_SpriteSetColor(Layer(6), Lib_SpriteGetColor(Layer(4)));
    GSL_SpecialSelectUpdate();
    GSL_SystemColorCycle(Cursor(), -1, 255, 255, 255, -32, &h->counter);
}

void GSL_SpecialLaunch(ScreenWork* w) {
    SpecialHead* h = GSL_SpecialHead(w);
    switch (w->subState) {
        case LAUNCH_START: {
            GSL_GameStateInit();
            SpecialEntry e{};
            GSL_SpecialGetEntry(&e, h->selected);
            static_assert(sizeof e.script <= sizeof GameStateBlock.scriptName);
            std::memcpy(GameStateBlock.scriptName, e.script, sizeof e.script);
            const LabelRecord at = GSL_InfoFind(e.script, e.label);
            GameStateBlock.startOffset = GameStateBlock.restartOffset = uint32_t(at.offset);
            SpecialScenarioFlag = 1;
            GSL_SystemDispColorSet(kBlack, 30);
            w->subState = LAUNCH_STORY;
            return;
        }
        case LAUNCH_STORY:
            if (!GSL_SystemDispColorCheck()) return;
            GSL_SystemBarDel(h->bar);
            h->bar = -1;
            KeysEnd(h);
            w->subState = LAUNCH_BACK;
            // Suspends this menu with its pictures released; the restore
            // brings them and the title track back before LAUNCH_BACK runs.
            GSL_ModePush(GSL_StoryModeCB, 0);
            return;
        case LAUNCH_BACK: {
            BarCreate(h, GSL_SpecialRowCount() >= 4 ? 1 : 0);
            KeysStart(h);
            if (SysgraMesTable.data) {
                char text[kMesTextSize];
                GSL_SysTextGet(&SysgraMesTable, 2, kHeadingText, 0, text, sizeof text);
                const int32_t t = GSL_WorkTextGet(nullptr, 0);
                if (t >= 0) Lib_TextStrSet(t, text);
            }
            w->subState = LAUNCH_BAR;
            return;
        }
        case LAUNCH_BAR:
            if (GSL_SystemWinCheck(h->bar) != 1) return;
            GSL_SystemBarScroll(h->bar, h->topRow);
            GSL_SystemDispColorSet(0x00000000u, 30);
            w->subState = LAUNCH_FADE_IN;
            return;
        default:  // LAUNCH_FADE_IN
            if (!GSL_SystemDispColorCheck()) return;
            w->subState = SUBSTATE_ENTRY;
            w->step = EXTRAS_STEP_MAIN;
            SpecialScenarioFlag = 0;
            return;
    }
}

void Release(ScreenWork* w) {
    SpecialHead* h = GSL_SpecialHead(w);
    if (!Extras_CloseFade()) return;
    Lib_FrameRateSet(60);
    KeysEnd(h);
    GSL_SystemBarDel(h->bar);
    GSL_SystemNumDel(h->number);
    h->bar = h->number = -1;
    if (h->keys) {
        Lib_MemFree(HEAP_SCREEN, h->keys);
        h->keys = nullptr;
    }
    GSL_WorkDelete(nullptr);
    if (GSL_ModeCount() > 1) GSL_ModePop();
}
}  // namespace

SpecialHead* GSL_SpecialHead(ScreenWork* w) { return w ? reinterpret_cast<SpecialHead*>(w->words) : nullptr; }

void GSL_SpecialModeCB() {
    // Step 3 is unused.
    static constexpr ExtrasStep kSteps[] = {Init, Build, Main, nullptr, GSL_SpecialLaunch, Release};
    Extras_Dispatch(GSL_SpecialModeCB, kSteps, int32_t(std::size(kSteps)));
}

int32_t GSL_SpecialRowCount() { return (kSpecialCount + kColumns - 1) / kColumns; }

void GSL_SpecialDrawPage(float scale, uint8_t cursorShown) {
    SpecialHead* h = Head();
    if (!h) return;
    const int32_t cursor = Cursor();
    Place(cursor, kCellX, kCellY, scale, 606);
    Lib_SpriteSetFlag(cursor, cursorShown);
    for (int32_t i = 0; i < kSpecialCount; ++i) GSL_WorkLayerFree(GSL_SpecialModeCB, kButtonBase + i);
    for (int32_t i = 0; i < kSpecialCount; ++i) {
        const uint32_t slot = uint32_t(kButtonBase + i);
        int32_t b;
        if (GSL_SpecialIsUnlocked(i)) {
            SpecialEntry e{};
            GSL_SpecialGetEntry(&e, i);
            b = GSL_WorkLayerMember(GSL_SpecialModeCB, slot, kSpecialThumbArc, e.button, LAYER_CACHED);
        } else {
            b = GSL_WorkLayerCopy(GSL_SpecialModeCB, slot, 2, -1);
            GSL_LayoutSpriteRect(b, 8, 1);
        }
        Place(b, CellX(i), CellY(i), scale, 607);
        Lib_SpriteSetColor(b, (i == 0 && cursorShown) ? kWhite : kGrey);
        Lib_SpriteSetFlag(b, 1);
    }
}

void GSL_SpecialSelectUpdate() {
    SpecialHead* h = Head();
    if (!h || h->selected == h->highlighted) return;
    const int32_t sel = h->selected;
    const int32_t cursor = Cursor();
    const int32_t d = Extras_FollowCursor(kGrid, sel, cursor, CellX(sel), PlaceY(h, sel), h->bar, &h->topRow);
    if (d != 0) {
        int32_t sprites[1 + kSpecialCount];
        sprites[0] = cursor;
        for (int32_t i = 0; i < kSpecialCount; ++i) sprites[1 + i] = Button(i);
        h->scrollTask = Extras_ScrollSprites(sprites, 1 + kSpecialCount, d, kPitch, true, 0);
    }
    Lib_SpriteSetColor(Button(sel), kWhite);
    if (h->highlighted != sel && h->highlighted >= 0 && h->highlighted < kSpecialCount)
        Lib_SpriteSetColor(Button(h->highlighted), kGrey);
    h->counter = 0;
    h->highlighted = sel;
}
