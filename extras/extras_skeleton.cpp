#include "extras/extras_skeleton.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "story/access_flags.h"
#include "story/catalogue.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/loading.h"
#include "ui/move_alpha.h"
#include "ui/number_display.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/window_frame.h"

uint8_t ExtrasSwipeLatch[2] = {0, 0};

void Extras_RunStateReset() { ExtrasSwipeLatch[0] = ExtrasSwipeLatch[1] = 0; }

namespace {
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kClear = 0x00000000u;
constexpr uint32_t kPlain = 0xFFF0F0F0u;
constexpr int32_t kOpenFrames = 60;
constexpr int32_t kBlackFrames = 30;
constexpr int32_t kScrollFrames = 8;
constexpr uint32_t kArrowSlots[4] = {3, 4, 5, 6};

bool PointerOnScreen(int32_t x, int32_t y) { return x >= 0 && x <= 1279 && y >= 0 && y <= 719; }
}  // namespace

void Extras_Dispatch(ModeFunction screen, const ExtrasStep* steps, int32_t count) {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (w && w->screenId != screen) w = nullptr;
    const int32_t step = w ? w->step : EXTRAS_STEP_LOAD;
    if (step >= 0 && step < count && steps[step]) steps[step](w);
}

int32_t Extras_Open(const char* background, const char* sheet, uint32_t closeSlot) {
    ExtrasSwipeLatch[0] = ExtrasSwipeLatch[1] = 0;
    const int32_t loading = GSL_SystemLoadingSet(20, 1);
    GSL_SystemDispColorSet(kClear, kOpenFrames);
    Extras_LayerLoad(0, background, 0);
    Extras_LayerLoad(2, sheet, 0);
    Extras_LayerLoad(closeSlot, "visual/system/sys_system_01.ext", 1);
    return loading;
}

int32_t Extras_LayerLoad(uint32_t slot, const char* file, uint8_t cached) {
    return GSL_WorkLayerFile(nullptr, slot, file, LayerKeep(cached));
}

int32_t Extras_BarCreate(int32_t minimum, int32_t rows) {
    const float at[2] = {kExtrasBarX, 0.0f}, size[2] = {1.0f, 5.0f};
    return GSL_SystemBarSet(at, size, kExtrasBarPriority, 0, minimum, rows, -1, -1);
}

void Extras_KeysStart(int32_t* keys) {
    const uint32_t masks[kExtrasKeys] = {EXTRAS_BUTTON_LEFT, EXTRAS_BUTTON_RIGHT, BUTTON_UP,
                                         BUTTON_DOWN,        EXTRAS_BUTTON_A,     EXTRAS_BUTTON_D};
    for (int32_t i = 0; i < kExtrasKeys; ++i) keys[i] = GSL_SystemKeySet(masks[i], kExtrasKeyInterval);
    Lib_FrameRateSet(60);
}

void Extras_KeysEnd(int32_t* keys) {
    for (int32_t i = 0; i < kExtrasKeys; ++i) {
        if (keys[i] >= 0 && GSL_SystemKeyGet(keys[i]) >= 0) Lib_TaskDel(uint32_t(keys[i]));
        keys[i] = -1;
    }
}

bool Extras_BuildReady(int32_t bar, int32_t loading, bool own) {
    return GSL_SystemDispColorCheck() && GSL_WorkLayersReady(nullptr) && GSL_SystemWinCheck(bar) != 0 &&
           GSL_SystemLoadingCheck(loading) && own;
}

void Extras_BuildFade(ScreenWork* w, bool ready, void (*build)(ScreenWork*)) {
    if (w->subState == EXTRAS_BUILD_WAIT) {
        if (!ready) return;
        GSL_SystemDispColorSet(kBlack, kBlackFrames);
        w->subState = EXTRAS_BUILD_BLACK;
        return;
    }
    if (w->subState != EXTRAS_BUILD_BLACK || !GSL_SystemDispColorCheck()) return;
    build(w);
    GSL_SystemDispColorSet(kClear, kOpenFrames);
    w->subState = EXTRAS_BUILD_COUNT;
}

int32_t Extras_TrackPlay(int32_t record) {
    const BgmTrackRecord track = GSL_BgmTrackGet(record);
    char path[kScreenNameSize];
    std::snprintf(path, sizeof path, "%s%s%s", "sound/bgm/", track.name, ".oggl");
    const int32_t channel = GSL_WorkSoundSet(nullptr, kExtrasTrackChannel, {.file = path, .releaseFade = 30});
    // The catalogue hands the stem out in Shift-JIS already.
    StoryAccessFlagBGM(path, -1, 1);
    return channel;
}

void Extras_Heading(uint32_t index) {
    if (!SysgraMesTable.data) return;
    char text[kMesTextSize];
    GSL_SysTextGet(&SysgraMesTable, 2, index, 0, text, sizeof text);
    const int32_t t = GSL_WorkTextSet(nullptr, 0, -1, text);
    TextRecord* r = t >= 0 ? TextTable[t] : nullptr;
    if (!r) return;
    const TextPos pos{64, -13, 0};
    const TextScale scale{0.7f, 0.7f};
    Lib_TextPosSet(t, &pos);
    Lib_TextScaleSet(t, &scale);
    Lib_TextPrioSet(t, 608);
    Lib_TextRgbaSet(t, 0xFFB6A3FFu);
    r->outline = 0xFFFFFFFFu;
    r->state |= TEXT_STATE_DRAWN;
    GSL_TextShowFully(r);
}

void Extras_PageShow(uint32_t heading) {
    Extras_Heading(heading);
    const int32_t bg = GSL_WorkLayerGet(nullptr, 0);
    Lib_SpriteSetPrio(bg, 610, -1);
    Lib_SpriteSetFlag(bg, 1);
    const int32_t back = GSL_WorkLayerGet(nullptr, 1);
    GSL_LayoutSpriteRect(back, 2, 3);
    if (Lib_SpriteIsLive(back)) {
        SpriteTable[back].posX = 597.0f;
        SpriteTable[back].posY = 317.0f;
        SpriteTable[back].posZ = 0.0f;
    }
    Lib_SpriteSetPrio(back, 608, -1);
    Lib_SpriteSetColor(back, kPlain);
    Lib_SpriteSetFlag(back, 1);
}

bool Extras_Place(int32_t sprite, float x, float y, float scale, int32_t priority, const int32_t* clip) {
    if (!Lib_SpriteIsLive(sprite)) return false;
    SpriteRecord& r = SpriteTable[sprite];
    r.posX = x;
    r.posY = y;
    r.posZ = 0.0f;
    r.scaleX = r.scaleY = scale;
    r.scaleZ = 1.0f;
    if (clip) std::memcpy(r.clipRect, clip, sizeof r.clipRect);
    Lib_SpriteSetPrio(sprite, priority, -1);
    return true;
}

void Extras_Counter(ModeFunction screen, int32_t n, int32_t m) {
    char text[32];
    std::snprintf(text, sizeof text, "%d / %d", int(n), int(m));
    const int32_t t = GSL_WorkTextSet(screen, 3, -1, text);
    TextRecord* r = t >= 0 ? TextTable[t] : nullptr;
    if (!r) return;
    const TextPos pos{640, -677, 0};
    const TextScale scale{0.6f, 0.6f};
    Lib_TextPosSet(t, &pos);
    Lib_TextScaleSet(t, &scale);
    Lib_TextPrioSet(t, 608);
    r->outline = 0xFF00CCCCu;
    r->renderFlags = TEXT_ALIGN_CENTRE;
    r->state |= TEXT_STATE_DRAWN;
    GSL_TextShowFully(r);
}

void Extras_ArrowsSet(uint32_t sourceSlot) {
    struct Arrow {
        int32_t item, priority;
        float x, scale;
    };
    const Arrow arrows[4] = {{16, 609, -490.0f, 1.0f}, {17, 609, 491.0f, 1.0f}, {4, 608, -490.0f, 1.2f},
                             {5, 608, 491.0f, 1.2f}};
    for (int i = 0; i < 4; ++i) {
        const int32_t s = GSL_WorkLayerCopy(nullptr, kArrowSlots[i], sourceSlot, -1);
        SpriteRecord* r = Lib_SpriteIsLive(s) ? Lib_SpriteAt(s) : nullptr;
        if (!r) continue;
        GSL_LayoutSpriteRect(s, 2, arrows[i].item);
        r->posX = arrows[i].x;
        r->posY = -320.0f;
        r->posZ = 0.0f;
        r->scaleX = r->scaleY = arrows[i].scale;
        r->scaleZ = 1.0f;
        Lib_SpriteSetPrio(s, arrows[i].priority, -1);
        Lib_SpriteSetColor(s, kPlain);
        Lib_SpriteSetFlag(s, 1);
    }
}

void Extras_ArrowBob(int32_t* angle) {
    const float swing = std::sin(float(*angle) * 0.017453292f);
    for (int i = 0; i < 4; ++i) {
        const int32_t s = GSL_WorkLayerGet(nullptr, kArrowSlots[i]);
        if (!Lib_SpriteIsLive(s)) continue;
        SpriteTable[s].posX += (i % 2 == 0) ? -swing : swing;
    }
    *angle = (*angle + 6) % 360;
}

bool Extras_CountUp(int32_t* counter, int32_t rate, int32_t number, bool waitTrack) {
    if (waitTrack) {
        const SoundChannel& ch = SoundChannelTable[kExtrasTrackChannel];
        const int32_t state = ch.st.state.load(std::memory_order_relaxed);
        if ((ch.st.flags.load(std::memory_order_relaxed) & 1) && state != 0 && state != 8) return false;
    }
    if (*counter >= rate) {
        *counter = 0;
        return true;
    }
    if (*counter % 6 == 0) GSL_SystemSePlay(SE_MOVE);
    *counter += 3;
    if (*counter > rate) *counter = rate;
    GSL_SystemNumSetValue(number, *counter);
    return false;
}

void Extras_BuildCount(ScreenWork* w, int32_t* counter, int32_t (*rate)(), int32_t number, bool waitTrack) {
    if (w->subState == EXTRAS_BUILD_COUNT) {
        const NumberDisplayWork* n = GSL_SystemNumWork(number);
        if (GSL_SystemDispColorCheck() && (!n || n->done)) w->subState = EXTRAS_BUILD_COUNTED;
        return;
    }
    if (Extras_CountUp(counter, rate(), number, waitTrack)) {
        w->subState = SUBSTATE_ENTRY;
        w->step = EXTRAS_STEP_MAIN;
    }
}

int32_t Extras_BarDrag(ExtrasDrag* d, int32_t bar, int32_t rows, bool* endFrame) {
    const int32_t phase = MouseInput.active ? MouseInput.clickPhase : -1;
    const int32_t x = MouseInput.x, y = MouseInput.y;
    if (!d->dragging) {
        if (phase != 1) return 0;
        int32_t track[4];
        GSL_SystemBarGetRect(track, bar, BAR_TRACK);
        if (track[3] <= track[1]) return 0;  // no bar to drag
        if (x < track[0] - kExtrasBarMargin || x > track[2] + kExtrasBarMargin || y < track[1] || y > track[3])
            return 0;
        d->dragging = 1;
        d->reference = 0;
        *endFrame = true;
        return 0;
    }
    if (phase == 2 && PointerOnScreen(x, y) && rows > 0) {
        int32_t track[4];
        GSL_SystemBarGetRect(track, bar, BAR_TRACK);
        const float rowHeight = float(track[3] - track[1]) / float(rows);
        if (rowHeight > 0.0f) {
            const int32_t travel = PointerGesture.current.y - PointerGesture.press.y;
            const int32_t v = travel - d->reference;
            int32_t moved = int32_t(float(v) / rowHeight);
            if (moved == 0 && v != 0) moved = v > 0 ? 1 : -1;
            d->reference = travel;
            return moved;
        }
    }
    d->dragging = 0;
    d->reference = 0;
    *endFrame = true;
    return 0;
}

int32_t Extras_HoverScan(const int32_t* sprites, const float* cellY, int32_t count, int32_t selection,
                         float bandTop, float bandBottom, bool* clicked) {
    *clicked = false;
    for (int32_t i = 0; i < count; ++i) {
        if (cellY[i] > bandTop) continue;
        if (cellY[i] < bandBottom) break;
        if (sprites[i] < 0) continue;
        int32_t own[4] = {-1, 0, 0, 0};
        const uint8_t hit = GSL_ButtonCheck(nullptr, sprites[i], own, 0, 0, 0, -1);
        if (hit == 1) {
            *clicked = true;
            return i;
        }
        if (hit == 2 && i != selection) return i;
    }
    return -1;
}

bool Extras_Swipe(int32_t side, uint32_t arrowSlot) {
    const bool held = MouseInput.active && MouseInput.clickPhase == 2 && PointerOnScreen(MouseInput.x, MouseInput.y);
    if (!(ExtrasSwipeLatch[side] && held)) {
        ExtrasSwipeLatch[side] = 0;
        const int32_t dx = PointerGesture.current.x - PointerGesture.press.x;
        if (held && (side == 0 ? dx > kExtrasSwipe : dx < -kExtrasSwipe)) return true;
    }
    return Extras_Clicked(GSL_WorkLayerGet(nullptr, arrowSlot), kPlain, 0xFFFFFFFFu);
}

bool Extras_Clicked(int32_t sprite, uint32_t normal, uint32_t hover) {
    // Without a sprite the check would take the whole screen.
    if (sprite < 0) return false;
    int32_t own[4] = {-1, 0, 0, 0};
    return GSL_ButtonCheck(nullptr, sprite, own, 0, normal, hover, -1) == 1;
}

int32_t Extras_FollowRows(const ExtrasGrid& g, int32_t selection, int32_t topRow) {
    const int32_t d = selection / g.columns - topRow;
    if (d >= g.visibleRows) return d - (g.visibleRows - 1);
    return d < 0 ? d : 0;
}

int32_t Extras_FollowCursor(const ExtrasGrid& g, int32_t selection, int32_t cursor, float x, float y, int32_t bar,
                            int32_t* topRow) {
    if (Lib_SpriteIsLive(cursor)) {
        SpriteTable[cursor].posX = x;
        SpriteTable[cursor].posY = y;
    }
    const int32_t d = Extras_FollowRows(g, selection, *topRow);
    if (d != 0) {
        GSL_SystemBarScroll(bar, d);
        *topRow += d;
    }
    return d;
}

int32_t Extras_ScrollSprites(const int32_t* sprites, int32_t count, int32_t rows, float pitch, bool animated,
                             int32_t keep) {
    int32_t kept = -1;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t s = sprites[i];
        if (!Lib_SpriteIsLive(s)) continue;
        const SpriteRecord& r = SpriteTable[s];
        const float goal[3] = {r.posX, r.posY + float(rows) * pitch, r.posZ};
        if (!animated) {
            SpriteTable[s].posY = goal[1];
            continue;
        }
        const int32_t task = GSL_SystemMoveSet(s, -1, goal, kScrollFrames, 0, i == keep ? 0 : 1, MOVE_POSITION, 7);
        if (i == keep) kept = task;
    }
    return kept;
}

bool Extras_ZoomStep(float* scale, float delta) {
    *scale += delta;
    return delta < 0.0f ? *scale <= 0.0f : *scale >= 1.0f;
}

bool Extras_CloseFade() {
    GSL_SystemDispColorSet(kBlack, kOpenFrames);
    return GSL_SystemDispColorCheck();
}
