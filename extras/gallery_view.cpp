#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/core/heap.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "extras/gallery.h"
#include "extras/gallery_tables.h"
#include "story/access_flags.h"
#include "story/catalogue.h"
#include "story/game_state.h"
#include "ui/color_pulse.h"
#include "ui/layout_table.h"
#include "ui/move_alpha.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"
#include "ui/wipe.h"

static_assert(sizeof(GalleryViewHead) <= sizeof(ScreenWork::words));

namespace {
constexpr uint32_t kButton = 0x60F0F0F0u, kButtonHover = 0x60FFFFFFu;
constexpr uint32_t kWhite = 0xFFFFFFFFu, kFaded = 0x00FFFFFFu;
constexpr int32_t kFadeStep = 17;
constexpr int32_t kCounterFrames = 60, kArrowFrames = 180;
constexpr int32_t kPanStep = 10;
constexpr int32_t kDigitSlot = 32;
constexpr int32_t kWhole[4] = {0, 0, 1280, 720};

struct Where {
    int32_t category, thumbnail, index;
};

struct Range {
    float x, y;
};

GalleryHead* Gallery() { return GSL_GalleryHead(GSL_WorkGet(GSL_GalleryModeCB)); }

const GalleryThumb& Thumb(int32_t category, int32_t thumbnail) {
    const GalleryCategory& c = GSL_GalleryGetTable()[category];
    return c.thumbnails[thumbnail >= 0 && thumbnail < c.count ? thumbnail : 0];
}

Where Current() {
    const GalleryHead* g = Gallery();
    Where at{GSL_GalleryGetCategory(), g ? g->selection : 0, 0};
    if (at.category < 0 || at.category >= kGalleryCategoryCount) at.category = 0;
    return at;
}

bool Open(int32_t category, int32_t thumbnail, int32_t index) {
    const GalleryThumb& t = Thumb(category, thumbnail);
    int32_t total = 0;
    const int32_t* ids = GSL_GalleryPictureIds(&total);
    const int32_t k = t.firstPicture + index;
    return index >= 0 && index < t.count && k < total && StoryAccessFlagGal(nullptr, ids[k], 0) != 0;
}

int32_t CursorSheet() { return GSL_WorkLayerGet(GSL_GalleryModeCB, 2); }

// A copy of `source` cut to a piece, placed over the whole screen's clip.
int32_t Piece(int32_t source, int32_t group, int32_t item, float x, float y, int32_t priority, uint32_t colour,
              uint8_t shown) {
    const int32_t s = Lib_SpriteCopy(-1, source);
    if (s < 0) return -1;
    GSL_LayoutSpriteRect(s, group, item);
    SpriteRecord& r = SpriteTable[s];
    r.posX = x;
    r.posY = y;
    r.posZ = 0.0f;
    std::memcpy(r.clipRect, kWhole, sizeof kWhole);
    Lib_SpriteSetPrio(s, priority, -1);
    Lib_SpriteSetColor(s, colour);
    Lib_SpriteSetFlag(s, shown);
    return s;
}

Range PanRange(int32_t sprite) {
    if (!Lib_SpriteIsLive(sprite)) return {0.0f, 0.0f};
    const SpriteSize size = Lib_SpriteGetSize(sprite, 0, 1);
    return {float(size.w - 1280) / 2.0f, float(size.h - 720) / 2.0f};
}

int32_t Picture(const GalleryViewHead* v) { return GSL_WorkLayerGet(nullptr, uint32_t(v->layer)); }

void CounterFree(GalleryViewState* st) {
    for (int32_t i = 0; i < 6; ++i) {
        GSL_SystemMoveDel(st->counterMoves[i]);
        Lib_SpriteFree(st->counter[i]);
        st->counterMoves[i] = st->counter[i] = -1;
    }
}

int32_t Digits(int32_t n) { return n >= 10 ? 2 : 1; }

void CounterBuild(GalleryViewHead* v, uint32_t colour) {
    GalleryViewState* st = v->state;
    CounterFree(st);
    const Where at = Current();
    const int32_t n = v->index + 1, m = Thumb(at.category, at.thumbnail).count;
    const int32_t digits = GSL_WorkLayerGet(nullptr, kDigitSlot);
    st->counter[0] = Piece(CursorSheet(), 8, 2, -490.0f, 299.0f, 500, colour, 1);
    st->counter[1] = Piece(digits, 3, 0, -490.0f, 299.0f, 499, colour, 1);
    int32_t next = 2;
    for (int32_t side = 0; side < 2; ++side) {
        int32_t value = side == 0 ? n : m;
        float x = -554.0f + 22.0f * float(Digits(value) - 1) + (side == 0 ? 0.0f : 128.0f);
        for (int32_t d = 0; d < Digits(value) && next < 6; ++d, x -= 43.0f, value /= 10)
            st->counter[next++] = Piece(digits, 3, value % 10 + 1, x, 299.0f, 499, colour, 1);
    }
}

void ArrowsFree(GalleryViewState* st) {
    for (int32_t& a : st->arrows) {
        Lib_SpriteFree(a);
        a = -1;
    }
}

void ArrowsBuild(GalleryViewHead* v, uint32_t colour) {
    GalleryViewState* st = v->state;
    ArrowsFree(st);
    const Range range = PanRange(Picture(v));
    if (range.x <= 0.0f && range.y <= 0.0f) return;
    const float at[4][3] = {{592.0f, 0.0f, 0.0f}, {0.0f, -315.0f, -90.0f}, {-592.0f, 0.0f, -180.0f},
                            {0.0f, 315.0f, -270.0f}};
    for (int32_t i = 0; i < 4; ++i) {
        st->arrows[i] = Piece(CursorSheet(), 8, 5, at[i][0], at[i][1], 500, colour, 0);
        if (Lib_SpriteIsLive(st->arrows[i])) SpriteTable[st->arrows[i]].rotZ = at[i][2];
    }
}

void ArrowUpkeep(GalleryViewHead* v) {
    GalleryViewState* st = v->state;
    if (v->arrowTimer >= kArrowFrames) return;
    const int32_t pic = Picture(v);
    if (Lib_SpriteIsLive(pic)) {
        const SpriteRecord& p = SpriteTable[pic];
        const SpriteSize size = Lib_SpriteGetSize(pic, 0, 1);
        const float hw = float(size.w) / 2.0f, hh = float(size.h) / 2.0f;
        const bool beyond[4] = {p.posX + hw > 640.0f, p.posY - hh < -360.0f, p.posX - hw < -640.0f,
                                p.posY + hh > 360.0f};
        for (int32_t i = 0; i < 4; ++i) {
            Lib_SpriteSetFlag(st->arrows[i], beyond[i] ? 1 : 0);
            if (Lib_SpriteIsLive(st->arrows[i]))
                GSL_SystemColorCycle(st->arrows[i], -1, 255, 255, 255, -32, &st->arrowAngles[i]);
        }
    }
    if (++v->arrowTimer >= kArrowFrames) ArrowsFree(st);
}

// The fades' alpha on the picture, the backdrop, the counter and the arrows.
void Alpha(GalleryViewHead* v) {
    const uint32_t a = uint32_t(v->alpha) << 24;
    const int32_t pic = Picture(v);
    if (Lib_SpriteIsLive(pic)) Lib_SpriteSetColor(pic, a | 0x00FFFFFFu);
    Lib_SpriteSetColor(GSL_WorkLayerGet(nullptr, 2), a);
    for (int32_t s : v->state->counter) Lib_SpriteSetColor(s, a | 0x00FFFFFFu);
    for (int32_t s : v->state->arrows) Lib_SpriteSetColor(s, a | 0x00FFFFFFu);
}

void ViewBegin(ScreenWork* w, GalleryViewHead* v) {
    v->first = 0;
    v->counterTimer = 0;
    v->arrowTimer = 0;
    w->subState = VIEW_SHOW;
}

void Init(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    GalleryViewHead* v = GSL_GalleryViewHead(w);
    *v = GalleryViewHead{0, 0, 1, 0, -1, -1, 0, 0, nullptr};
    void* area = Lib_MemAlloc(HEAP_SCREEN, sizeof(GalleryViewState), 4);
    if (!area) return;
    v->state = new (area) GalleryViewState{};
    std::memset(v->state, 0xFF, sizeof(GalleryViewState));
    std::memset(v->state->arrowAngles, 0, sizeof v->state->arrowAngles);
    v->state->saved[0] = v->state->saved[1] = 0.0f;
    v->state->saved[2] = 1.0f;
    v->state->savedSize[0] = v->state->savedSize[1] = 0;
    const Where at = Current();
    const int32_t n = Thumb(at.category, at.thumbnail).count;
    for (int32_t i = 0; i < n; ++i) {
        if (Open(at.category, at.thumbnail, i)) {
            v->index = i;
            break;
        }
    }
    w->subState = VIEW_LOAD;
    w->step = VIEW_STEP_MAIN;
}

void LoadPicture(GalleryViewHead* v) {
    const Where at = Current();
    int32_t total = 0;
    const int32_t* ids = GSL_GalleryPictureIds(&total);
    const int32_t k = Thumb(at.category, at.thumbnail).firstPicture + v->index;
    const EventPictureRecord r = GSL_EventPictureGet(k >= 0 && k < total ? ids[k] - kEventPictureFirstId : -1);
    char path[kScreenNameSize];
    std::snprintf(path, sizeof path, "visual/adv/%s.ext", r.name);
    GSL_WorkLayerFile(nullptr, uint32_t(v->layer), path, LAYER_OWN);
    if (GSL_WorkLayerGet(nullptr, kDigitSlot) < 0)
        GSL_WorkLayerFile(nullptr, kDigitSlot, "visual/system/sys_system_04.ext", LAYER_CACHED);
    if (!v->first) return;
    GSL_WorkLayerFile(nullptr, 2, nullptr, LAYER_OWN);
    GSL_WorkLayerFile(nullptr, 3, "visual/system/sys_system_01.ext", LAYER_CACHED);
    GSL_WorkLayerFile(nullptr, 4, "visual/system/sys_gallery_01.ext", LAYER_CACHED);
}

void SetUp(ScreenWork* w, GalleryViewHead* v) {
    GalleryViewState* st = v->state;
    const int32_t pic = Picture(v);
    const Range range = PanRange(pic);
    if (Lib_SpriteIsLive(pic)) {
        SpriteRecord& r = SpriteTable[pic];
        const SpriteSize size = Lib_SpriteGetSize(pic, 0, 1);
        const SpriteSize plain = Lib_SpriteGetSize(pic, 0, 0);
        r.posX = std::fmax(range.x, 0.0f);
        r.posY = -std::fmax(range.y, 0.0f);
        r.posZ = 0.0f;
        if (st->saved[2] != 1.0f && st->savedSize[0] == size.w && st->savedSize[1] == size.h) {
            r.posX = st->saved[0];
            r.posY = st->saved[1];
            r.posZ = st->saved[2];
        }
        Lib_SpriteSetCenter(pic, SpritePoint{float(plain.w) / 2.0f, float(plain.h) / 2.0f}, SpritePoint{0, 0});
        std::memcpy(r.clipRect, kWhole, sizeof kWhole);
        Lib_SpriteSetPrio(pic, 600, -1);
        Lib_SpriteSetColor(pic, kFaded);
        Lib_SpriteSetFlag(pic, 1);
    }
    const int32_t frame = GSL_WorkLayerGet(nullptr, 4);
    Lib_SpriteSetPrio(frame, 601, -1);
    Lib_SpriteSetFlag(frame, (range.x < -32.0f || range.y < -32.0f) ? 1 : 0);
    if (!v->first) {
        Lib_SpriteSetPrio(GSL_WorkLayerGet(nullptr, uint32_t(v->layer ^ 1)), 599, -1);
        ArrowsBuild(v, kWhite);
        w->subState = VIEW_WIPE;
        return;
    }
    const int32_t backdrop = GSL_WorkLayerGet(nullptr, 2);
    Lib_SpriteSetPrio(backdrop, 601, -1);
    Lib_SpriteSetColor(backdrop, 0);
    Lib_SpriteSetFlag(backdrop, 1);
    CounterBuild(v, kFaded);
    ArrowsBuild(v, kFaded);
    const int32_t back = GSL_WorkLayerGet(nullptr, 3);
    GSL_LayoutSpriteRect(back, 2, 3);
    if (Lib_SpriteIsLive(back)) {
        SpriteTable[back].posX = 597.0f;
        SpriteTable[back].posY = 317.0f;
    }
    Lib_SpriteSetPrio(back, 501, -1);
    Lib_SpriteSetColor(back, kButton);
    Lib_SpriteSetFlag(back, 1);
    st->buttons[0] = Piece(CursorSheet(), 8, 6, -581.0f, 317.0f, 501, kButton, 0);
    st->buttons[1] = Piece(back, 2, 14, -597.0f, -317.0f, 501, kButton, 1);
    st->buttons[2] = Piece(back, 2, 15, 597.0f, -317.0f, 501, kButton, 1);
    v->alpha = 0;
    w->subState = VIEW_FADE_IN;
}

// The next (step 1) or previous (-1) unlocked picture across thumbnails and
// categories. The search ends at the start picture at the latest.
Where Step(GalleryViewHead* v, int32_t step) {
    Where at = Current();
    at.index = v->index;
    int32_t total = 0;
    GSL_GalleryPictureIds(&total);
    for (int32_t guard = 0; guard <= total + 1; ++guard) {
        at.index += step;
        const GalleryCategory* cats = GSL_GalleryGetTable();
        if (step > 0 && at.index >= Thumb(at.category, at.thumbnail).count) {
            at.index = 0;
            at.thumbnail = (at.thumbnail + 1) % cats[at.category].count;
            v->state->saved[2] = 1.0f;
            if (at.thumbnail == 0) at.category = (at.category + 1) % kGalleryCategoryCount;
        } else if (step < 0 && at.index < 0) {
            const int32_t count = cats[at.category].count;
            at.thumbnail = (at.thumbnail - 1 + count) % count;
            v->state->saved[2] = 1.0f;
            if (at.thumbnail == count - 1) {
                at.category = (at.category + kGalleryCategoryCount - 1) % kGalleryCategoryCount;
                at.thumbnail = cats[at.category].count - 1;
            }
            at.index = Thumb(at.category, at.thumbnail).count - 1;
        }
        if (Open(at.category, at.thumbnail, at.index)) break;
    }
    return at;
}

void Pan(GalleryViewHead* v) {
    const int32_t pic = Picture(v);
    if (!Lib_SpriteIsLive(pic)) return;
    const Range range = PanRange(pic);
    SpriteRecord& r = SpriteTable[pic];
    const uint32_t held = InputButtons.held;
    const bool dragging = MouseInput.active && MouseInput.clickPhase == 2;
    const float dx = dragging ? float(PointerGesture.current.x - PointerGesture.previous.x) : 0.0f;
    const float dy = dragging ? float(PointerGesture.current.y - PointerGesture.previous.y) : 0.0f;
    if (range.x > 0.0f) {
        if (held & EXTRAS_BUTTON_RIGHT) r.posX -= kPanStep;
        else if (held & EXTRAS_BUTTON_LEFT) r.posX += kPanStep;
        else r.posX += dx;
        r.posX = std::fmin(std::fmax(r.posX, -range.x), range.x);
    }
    if (range.y > 0.0f) {
        if (held & BUTTON_UP) r.posY -= kPanStep;
        else if (held & BUTTON_DOWN) r.posY += kPanStep;
        else r.posY -= dy;
        r.posY = std::fmin(std::fmax(r.posY, -range.y), range.y);
    }
    if (range.x <= 0.0f && range.y <= 0.0f) return;
    const SpriteSize size = Lib_SpriteGetSize(pic, 0, 1);
    v->state->saved[0] = r.posX;
    v->state->saved[1] = r.posY;
    v->state->saved[2] = r.posZ;
    v->state->savedSize[0] = size.w;
    v->state->savedSize[1] = size.h;
}

void Show(ScreenWork* w, GalleryViewHead* v) {
    GalleryViewState* st = v->state;
    int32_t hit = 0;
    const int32_t buttons[4] = {GSL_WorkLayerGet(nullptr, 3), st->buttons[0], st->buttons[1], st->buttons[2]};
    for (int32_t i = 0; i < 4; ++i)
        if (Extras_Clicked(buttons[i], kButton, kButtonHover) && !hit) hit = i + 1;
    if (v->counterTimer < kCounterFrames && ++v->counterTimer == kCounterFrames) {
        for (int32_t i = 0; i < 6; ++i) {
            if (!Lib_SpriteIsLive(st->counter[i])) continue;
            const SpriteRecord& r = SpriteTable[st->counter[i]];
            const float goal[3] = {r.posX - 342.0f, r.posY, r.posZ};
            st->counterMoves[i] = GSL_SystemMoveSet(st->counter[i], -1, goal, 16, 1, 0, MOVE_POSITION, 7);
        }
    }
    ArrowUpkeep(v);
    Lib_SpriteSetFlag(buttons[0], 1);
    Lib_SpriteSetFlag(buttons[1], 0);
    Lib_SpriteSetFlag(buttons[2], 1);
    Lib_SpriteSetFlag(buttons[3], 1);
    const uint32_t pressed = InputButtons.pressed;
    int32_t whole[4] = {-1, 0, 0, 0};
    const bool click = hit == 0 && GSL_ButtonCheck(nullptr, -1, whole, 0, 0, 0, -1) == 1;
    if ((pressed & BUTTON_DECIDE) || click) {
        GSL_SystemSePlay(SE_ENTER);
        const Where at = Current();
        int32_t i = v->index + 1;
        const int32_t n = Thumb(at.category, at.thumbnail).count;
        while (i < n && !Open(at.category, at.thumbnail, i)) ++i;
        if (i >= n) {
            w->subState = VIEW_FADE_OUT;
            return;
        }
        v->index = i;
        CounterBuild(v, kWhite);
        v->layer ^= 1;
        w->subState = VIEW_LOAD;
    } else if ((pressed & BUTTON_CANCEL) || hit == 1) {
        GSL_SystemSePlay(SE_CANCEL);
        w->subState = VIEW_FADE_OUT;
    } else if ((pressed & EXTRAS_BUTTON_D) || hit == 4 || (pressed & EXTRAS_BUTTON_A) || hit == 3) {
        GSL_SystemSePlay(SE_MOVE);
        const bool next = (pressed & EXTRAS_BUTTON_D) || hit == 4;
        const Where to = Step(v, next ? 1 : -1);
        v->index = to.index;
        GSL_GallerySetNowSelect(0, to.category, to.thumbnail);
        w->subState = VIEW_SELECT;
    } else {
        Pan(v);
    }
}

void Main(ScreenWork* w) {
    GalleryViewHead* v = GSL_GalleryViewHead(w);
    GalleryViewState* st = v->state;
    if (!st) {
        w->step = VIEW_STEP_END;
        return;
    }
    if (st->counterMoves[0] >= 0 && GSL_SystemMoveCheck(st->counterMoves[0]) != 0) {
        for (int32_t& m : st->counterMoves) {
            GSL_SystemMoveDel(m);
            m = -1;
        }
    }
    switch (w->subState) {
        case VIEW_LOAD:
            LoadPicture(v);
            w->subState = VIEW_SETUP;
            break;
        case VIEW_SETUP:
            if (GSL_WorkLayersReady(nullptr)) SetUp(w, v);
            break;
        case VIEW_FADE_IN:
            v->alpha = v->alpha + kFadeStep > 255 ? 255 : v->alpha + kFadeStep;
            Alpha(v);
            if (v->alpha < 255) break;
            GSL_WorkLayerFree(nullptr, v->layer ^ 1);
            ViewBegin(w, v);
            break;
        case VIEW_WIPE: {
            char rule[256];
            GSL_WipePathMake(rule);
            v->wipe = GSL_SystemWipeSet(rule, -1, 15, 598, 598, 0, 0);
            w->subState = VIEW_WIPE_CAPTURED;
            break;
        }
        case VIEW_WIPE_CAPTURED:
            if (GSL_SystemWipeStatus(v->wipe) == WIPE_PREPARING) break;
            GSL_WorkLayerFree(nullptr, v->layer ^ 1);
            Lib_SpriteSetColor(Picture(v), kWhite);
            v->alpha = 255;
            w->subState = VIEW_WIPE_END;
            break;
        case VIEW_WIPE_END:
            if (GSL_SystemWipeStatus(v->wipe) != WIPE_FINISHED) break;
            GSL_SystemWipeDel(v->wipe);
            v->wipe = -1;
            ViewBegin(w, v);
            break;
        case VIEW_SHOW: Show(w, v); break;
        case VIEW_SELECT:
            if (v->selectTask >= 0) break;
            CounterBuild(v, kWhite);
            v->layer ^= 1;
            w->subState = VIEW_LOAD;
            break;
        case VIEW_FADE_OUT:
            v->alpha = v->alpha - kFadeStep < 0 ? 0 : v->alpha - kFadeStep;
            Alpha(v);
            if (v->alpha == 0) w->subState = VIEW_FREE;
            break;
        case VIEW_FREE:
            CounterFree(st);
            ArrowsFree(st);
            for (int32_t& b : st->buttons) {
                Lib_SpriteFree(b);
                b = -1;
            }
            GSL_SystemWipeDel(v->wipe);
            v->wipe = -1;
            Lib_MemFree(HEAP_SCREEN, st);
            v->state = nullptr;
            w->step = VIEW_STEP_END;
            break;
        default: break;
    }
}

void End(ScreenWork*) {
    GSL_WorkDelete(nullptr);
    if (GSL_ModeCount() > 1) GSL_ModePop();
}
}  // namespace

GalleryViewHead* GSL_GalleryViewHead(ScreenWork* w) {
    return w ? reinterpret_cast<GalleryViewHead*>(w->words) : nullptr;
}

void GSL_GalleryViewModeCB() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : VIEW_STEP_INIT;
    switch (step) {
        case VIEW_STEP_INIT: Init(w); break;
        case VIEW_STEP_MAIN: Main(w); break;
        case VIEW_STEP_END: End(w); break;
        default: break;
    }
}
