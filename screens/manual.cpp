#include "screens/manual.h"

#include <cmath>
#include <cstdio>

#include "engine/files/message_table.h"
#include "engine/core/engine_state.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "screens/option.h"
#include "story/game_state.h"
#include "ui/layout_table.h"
#include "ui/mode.h"
#include "ui/move_alpha.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/wipe.h"

uint8_t ManualNextLatch = 0;
uint8_t ManualPreviousLatch = 0;

namespace {
constexpr int32_t kWipeFrames = 30, kWipePriority = 190;
constexpr int32_t kTurnFrames = 16;
constexpr float kPageShift = 1000.0f;
constexpr int32_t kDragThreshold = 171;
constexpr uint32_t kNormal = 0xFFF0F0F0u, kHover = 0xFFFFFFFFu;
// Sub-states of the load step: PICTURES -> WIPE -> BUILD -> WIPE_END.
enum : int32_t { LOAD_PICTURES = 0, LOAD_WIPE = 1, LOAD_BUILD = 2, LOAD_WIPE_END = 3 };
// Sub-states of the end step: WIPE -> FREE -> WIPE_END.
enum : int32_t { END_WIPE = 0, END_FREE = 1, END_WIPE_END = 2 };

int32_t Layer(uint32_t slot) { return GSL_WorkLayerGet(GSL_ManualModeCB, slot); }

void Goto(ScreenWork* w, int32_t step) {
    w->step = step;
    w->subState = SUBSTATE_ENTRY;
}

void Piece(int32_t sprite, int32_t index, float x, float y, int32_t priority) {
    LayoutRect r{};
    GSL_LayoutGetRect(&r, 2, index);
    const int32_t rect[4] = {r.x, r.y, r.width, r.height};
    Lib_SpriteSetRect(sprite, rect);
    if (SpriteRecord* s = Lib_SpriteAt(sprite)) {
        s->posX = x;
        s->posY = y;
        s->posZ = 0.0f;
    }
    Lib_SpriteSetPrio(sprite, priority, -1);
    Lib_SpriteSetColor(sprite, kNormal);
    Lib_SpriteSetFlag(sprite, 1);
}

void Page(uint32_t slot, float x) {
    const int32_t h = Layer(slot);
    if (SpriteRecord* s = Lib_SpriteAt(h)) {
        s->posX = x;
        s->posY = -20.0f;
        s->posZ = 0.0f;
    }
    Lib_SpriteSetPrio(h, 199, -1);
    Lib_SpriteSetValue(h, 2);
    Lib_SpriteSetFlag(h, 1);
}

uint32_t Wipe(const ScreenWork* w) { return GSL_SystemWipeStatus(GSL_WorkWord(w, MANUAL_WIPE)); }

void StartWipe(ScreenWork* w, uint32_t flags) {
    char path[256];
    GSL_WipePathMake(path);
    GSL_WorkWordSet(w, MANUAL_WIPE, GSL_SystemWipeSet(path, -1, kWipeFrames, kWipePriority, kWipePriority, 0, flags));
}

void Init(ScreenWork*) {
    ManualNextLatch = ManualPreviousLatch = 0;
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    w->subState = SUBSTATE_ENTRY;
    for (uint32_t i : {MANUAL_WIPE, MANUAL_MOVE, MANUAL_FADE_OUT, MANUAL_FADE_IN}) GSL_WorkWordSet(w, i, -1);
    for (uint32_t i = 0; i < 4; ++i) GSL_WorkWordSet(w, MANUAL_KEYS + i, -1);
    GSL_WorkWordSet(w, MANUAL_PAGE, 0);
    GSL_WorkWordSet(w, MANUAL_SHOWN, 0);
    GSL_WorkWordSet(w, MANUAL_ANGLE, 0);
    GSL_WorkFrameRateHold(w);
    Goto(w, MANUAL_STEP_LOAD);
}

void Build(ScreenWork*) {
    if (SysgraMesTable.data) {
        char text[kMesTextSize];
        GSL_SysTextGet(&SysgraMesTable, 2, 8, 0, text, sizeof text);
        const int32_t t = GSL_WorkTextSet(nullptr, 0, -1, text);
        if (TextRecord* r = t >= 0 && t < kTextSlots ? TextTable[t] : nullptr) {
            const TextPos pos{64, -13, 0};
            Lib_TextPosSet(t, &pos);
            const TextScale scale{0.7f, 0.7f};
            Lib_TextScaleSet(t, &scale);
            Lib_TextPrioSet(t, 199);
            r->colour = 0xFFB6A3FFu;
            r->outline = 0xFFFFFFFFu;
            r->state |= TEXT_STATE_DRAWN;
        }
    }
    const int32_t frame = Layer(0);
    Lib_SpriteSetPrio(frame, 200, -1);
    Lib_SpriteSetValue(frame, 2);
    Lib_SpriteSetFlag(frame, 1);
    Piece(Layer(1), 3, 597.0f, 317.0f, 199);
    Piece(GSL_WorkLayerCopy(nullptr, 2, 1, -1), 16, -490.0f, -320.0f, 199);
    Piece(GSL_WorkLayerCopy(nullptr, 3, 1, -1), 17, 491.0f, -320.0f, 199);
    Piece(GSL_WorkLayerCopy(nullptr, 4, 1, -1), 4, -490.0f, -320.0f, 198);
    Piece(GSL_WorkLayerCopy(nullptr, 5, 1, -1), 5, 491.0f, -320.0f, 198);
    for (uint32_t slot : {4u, 5u})
        if (SpriteRecord* s = Lib_SpriteAt(Layer(slot))) {
            s->scaleX = s->scaleY = 1.2f;
            s->scaleZ = 1.0f;
        }
    Page(6, 0.0f);
    Page(7, kPageShift);
    Lib_SpriteSetColor(Layer(7), 0x80FFFFFFu);
}

void Load(ScreenWork* w) {
    switch (w->subState) {
        case LOAD_PICTURES: {
            const uint32_t masks[4] = {0x1000, 0x4000, 0x40, 0x80};
            for (uint32_t i = 0; i < 4; ++i) GSL_WorkWordSet(w, MANUAL_KEYS + i, GSL_SystemKeySet(masks[i], 5));
            // The pages of the configured language (byte 29, as the texts).
            int32_t language = SystemDataBlock.language;
            language = language < 0 ? 0 : language > 3 ? 3 : language;
            char page[64];
            GSL_WorkLayerFile(nullptr, 0, "visual/system/sys_manual_00.ext", LAYER_CACHED);
            GSL_WorkLayerFile(nullptr, 1, "visual/system/sys_system_01.ext", LAYER_CACHED);
            for (uint32_t n = 1; n <= 2; ++n) {
                std::snprintf(page, sizeof page, "visual/manual/%02d/%03u.png", int(language), n);
                GSL_WorkLayerFile(nullptr, 5 + n, page, LAYER_OWN);
            }
            w->subState = LOAD_WIPE;
            return;
        }
        case LOAD_WIPE:
            if (!GSL_WorkLayersReady(nullptr)) return;
            StartWipe(w, 0);
            w->subState = LOAD_BUILD;
            return;
        case LOAD_BUILD:
            if (Wipe(w) == WIPE_PREPARING) return;
            Build(w);
            w->subState = LOAD_WIPE_END;
            [[fallthrough]];
        default:  // LOAD_WIPE_END
            GSL_ManualArrowBob();
            if (Wipe(w) != WIPE_FINISHED) return;
            GSL_SystemWipeDel(GSL_WorkWord(w, MANUAL_WIPE));
            GSL_WorkWordSet(w, MANUAL_WIPE, -1);
            Goto(w, MANUAL_STEP_MAIN);
            return;
    }
}

bool KeyTurn(const ScreenWork* w, uint32_t a, uint32_t b) {
    for (uint32_t i : {a, b}) {
        const int32_t r = GSL_SystemKeyGet(GSL_WorkWord(w, MANUAL_KEYS + i));
        if (r == 3 || r == 5) return true;
    }
    return false;
}

// The drag distance seen by one direction: 0 while its latch holds.
int32_t Latched(uint8_t* latch, int32_t dx) {
    if (!*latch) return dx;
    const bool held = MouseInput.clickPhase == 2 && MouseInput.x >= 0 && MouseInput.x < 1280 &&
                      MouseInput.y >= 0 && MouseInput.y < 720;
    if (held) return 0;
    *latch = 0;
    return dx;
}

// Deletes the animation tasks that are done; true while any is set.
bool Animating(ScreenWork* w) {
    bool any = false;
    const int32_t move = GSL_WorkWord(w, MANUAL_MOVE);
    if (move >= 0) {
        any = true;
        if (GSL_SystemMoveCheck(move) != 0) {
            GSL_SystemMoveDel(move);
            GSL_WorkWordSet(w, MANUAL_MOVE, -1);
        }
    }
    for (uint32_t i : {MANUAL_FADE_OUT, MANUAL_FADE_IN}) {
        const int32_t t = GSL_WorkWord(w, i);
        if (t < 0) continue;
        any = true;
        if (GSL_SystemAlphaCheck(t) != 0) {
            GSL_SystemAlphaDel(t);
            GSL_WorkWordSet(w, i, -1);
        }
    }
    return any;
}

uint8_t Check(uint32_t slot) {
    int32_t rect[4] = {-1, 0, 0, 0};
    return GSL_ButtonCheck(nullptr, Layer(slot), rect, 0, kNormal, kHover, -1);
}

void Main(ScreenWork* w) {
    GSL_ManualArrowBob();
    if (Animating(w)) return;
    if ((InputButtons.pressed & BUTTON_CANCEL) || Check(1) == 1) {
        GSL_SystemSePlay(SE_CANCEL);
        Goto(w, MANUAL_STEP_END);
        return;
    }
    const int32_t dx = MouseInput.clickPhase == 2 ? PointerGesture.current.x - PointerGesture.press.x : 0;
    const bool nextClick = Check(3) == 1, previousClick = Check(2) == 1;
    const int32_t nextDx = Latched(&ManualNextLatch, dx), previousDx = Latched(&ManualPreviousLatch, dx);
    const bool next = KeyTurn(w, 1, 3) || nextDx < -kDragThreshold || nextClick;
    const bool previous = !next && (KeyTurn(w, 0, 2) || previousDx > kDragThreshold || previousClick);
    int32_t page = GSL_WorkWord(w, MANUAL_PAGE);
    if (next || previous) {
        (next ? ManualNextLatch : ManualPreviousLatch) = 1;
        if ((next && page == 1) || (previous && page == 0)) return;
        GSL_SystemSePlay(SE_MOVE);
        page += next ? 1 : -1;
        GSL_WorkWordSet(w, MANUAL_PAGE, page);
    }
    Lib_SpriteSetColor(Layer(4), Lib_SpriteGetColor(Layer(2)));
    Lib_SpriteSetColor(Layer(5), Lib_SpriteGetColor(Layer(3)));
    const int32_t shown = GSL_WorkWord(w, MANUAL_SHOWN);
    if (page == shown) return;
    const float shift = shown < page ? -kPageShift : kPageShift;
    for (uint32_t slot : {6u, 7u}) {
        const SpriteRecord* s = Lib_SpriteAt(Layer(slot));
        if (!s) continue;
        const float goal[3] = {s->posX + shift, s->posY, s->posZ};
        const int32_t t = GSL_SystemMoveSet(Layer(slot), -1, goal, kTurnFrames, -1, slot == 7 ? 1 : 0, MOVE_POSITION, 7);
        if (slot == 6) GSL_WorkWordSet(w, MANUAL_MOVE, t);
    }
    GSL_WorkWordSet(w, MANUAL_FADE_OUT, GSL_SystemAlphaSet(Layer(6 + uint32_t(shown)), -1, 128, kTurnFrames, -1, 0));
    GSL_WorkWordSet(w, MANUAL_FADE_IN, GSL_SystemAlphaSet(Layer(6 + uint32_t(page)), -1, 255, kTurnFrames, -1, 0));
    GSL_WorkWordSet(w, MANUAL_SHOWN, page);
}

void End(ScreenWork* w) {
    if (w->subState == END_WIPE) {
        StartWipe(w, 6);
        w->subState = END_FREE;
    }
    if (w->subState == END_FREE) {
        if (Wipe(w) == WIPE_PREPARING) return;
        for (uint32_t i = 0; i < 4; ++i) {
            const int32_t k = GSL_WorkWord(w, MANUAL_KEYS + i);
            if (k >= 0) Lib_TaskDel(uint32_t(k));
            GSL_WorkWordSet(w, MANUAL_KEYS + i, -1);
        }
        for (int32_t slot = 0; slot <= 7; ++slot) GSL_WorkLayerFree(nullptr, slot);
        GSL_WorkTextFree(nullptr, 0);
        w->subState = END_WIPE_END;
    }
    if (Wipe(w) != WIPE_FINISHED) return;
    GSL_SystemWipeDel(GSL_WorkWord(w, MANUAL_WIPE));
    GSL_WorkWordSet(w, MANUAL_WIPE, -1);
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
}

using StepFn = void (*)(ScreenWork*);
constexpr StepFn kSteps[] = {Init, Load, Main, End};
}  // namespace

void GSL_ManualArrowBob() {
    ScreenWork* w = GSL_WorkGet(GSL_ManualModeCB);
    if (!w) return;
    const int32_t angle = GSL_WorkWord(w, MANUAL_ANGLE);
    const float s = std::sin(float(angle) * 0.017453f);
    const bool first = GSL_WorkWord(w, MANUAL_PAGE) == 0;
    const struct {
        uint32_t arrow, overlay;
        float dx;
        bool shown;
    } arrows[2] = {{2, 4, -s, !first}, {3, 5, s, first}};
    for (const auto& a : arrows) {
        SpriteRecord* arrow = Lib_SpriteAt(Layer(a.arrow));
        if (arrow) {
            arrow->posX += a.dx;
            if (SpriteRecord* o = Lib_SpriteAt(Layer(a.overlay))) {
                o->posX = arrow->posX;
                o->posY = arrow->posY;
                o->posZ = arrow->posZ;
            }
        }
        Lib_SpriteSetFlag(Layer(a.arrow), a.shown);
        Lib_SpriteSetFlag(Layer(a.overlay), a.shown);
    }
    GSL_WorkWordSet(w, MANUAL_ANGLE, (angle + 6) % 360);
}

void GSL_ManualModeCB() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : 0;
    if (!w) {
        Init(nullptr);
        return;
    }
    if (step >= 0 && step < int32_t(std::size(kSteps))) kSteps[step](w);
}
