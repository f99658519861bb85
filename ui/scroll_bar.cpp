#include "ui/scroll_bar.h"

#include <cmath>

#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "ui/layout_table.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/widget_delete.h"
#include "ui/window_frame.h"
#include "ui/widget_task.h"

static_assert(sizeof(ScrollBarWork) <= kWidgetWorkSize);

namespace {
constexpr uint32_t kPlain = 0xFFF0F0F0u, kLit = 0xFFFFFFFFu;

// One counter for every bar: a single pointer holds one arrow at a time.
// process-wide: counted from 0 by each press
int32_t HoldFrames = 0;

int32_t firstItem(const ScrollBarWork* w) { return w->firstPiece < 0 ? 9 : w->firstPiece; }

float pieceSize(const ScrollBarWork* w) {
    if (w->firstPiece < 0) return 64.0f;
    LayoutRect r{};
    GSL_LayoutGetRect(&r, 0, w->firstPiece);
    return float(r.width);
}

void freeParts(int32_t slot) {
    ScrollBarWork* w = GSL_SystemBarWork(slot);
    if (!w) return;
    for (int32_t i = 0; i < 8; ++i) {
        if (w->layerBase >= 0)
            GSL_WorkLayerFree(nullptr, w->layerBase + i);
        else
            GSL_WidgetSpriteFree(w->parts[i]);
        w->parts[i] = -1;
    }
}

void place(int32_t sprite, float x, float y) {
    if (!Lib_SpriteIsLive(sprite)) return;
    SpriteRecord* s = Lib_SpriteAt(sprite);
    s->posX = x;
    s->posY = y;
}

// Makes part i when needed and gives it its place, scale and colours.
void makePart(ScrollBarWork* w, int32_t i, float x, float y, float sx, float sy, int32_t prioOffset) {
    if (i >= 6 && (w->flags & BAR_NO_ARROWS)) {
        if (w->layerBase >= 0) GSL_WorkLayerFree(nullptr, w->layerBase + i);
        else GSL_WidgetSpriteFree(w->parts[i]);
        w->parts[i] = -1;
        return;
    }
    if (w->parts[i] < 0) {
        w->parts[i] = w->layerBase >= 0
                          ? GSL_WorkLayerCopy(nullptr, uint32_t(w->layerBase + i), uint32_t(w->layerBase), -1)
                          : Lib_SpriteCopy(-1, w->parts[0]);
        if (w->parts[i] < 0) w->parts[i] = -1;
    }
    const int32_t p = w->parts[i];
    if (!Lib_SpriteIsLive(p)) return;
    GSL_SystemSheetRect(p, firstItem(w) + i);
    Lib_SpriteSetFlag(p, uint8_t(w->shown));
    Lib_SpriteSetPrio(p, w->priority + prioOffset, -1);
    SpriteRecord* s = Lib_SpriteAt(p);
    s->posX = x, s->posY = y, s->posZ = 0.0f;
    s->scaleX = sx, s->scaleY = sy, s->scaleZ = 1.0f;
    Lib_SpriteSetValue(p, w->drawMode);
    Lib_SpriteSetColor(p, (i < 3 || i >= 6) ? kPlain : kLit);
}

// Puts the three knob parts where their current y says, x kept.
void placeKnob(ScrollBarWork* w) {
    for (int32_t j = 0; j < 3; ++j) {
        if (w->parts[j] < 0) continue;
        float y = std::floor(w->knobY[j]);
        if (j == 2 && Lib_SpriteIsLive(w->parts[1]) && Lib_SpriteAt(w->parts[1])->scaleY <= 0.0f)
            y = std::floor(w->knobY[0]) - pieceSize(w);
        place(w->parts[j], Lib_SpriteIsLive(w->parts[j]) ? Lib_SpriteAt(w->parts[j])->posX : w->x, y);
    }
}

// Moves the knob by whole steps; false when it already stood at that end.
bool scroll(ScrollBarWork* w, int32_t n) {
    if (w->minimum >= w->maximum) return false;
    const float range = float(w->maximum - w->minimum);
    const float old = w->position;
    float p = float(n) * w->factor + old;
    if (p < 0.0f) {
        if (old <= 0.0f) return false;
        p = 0.0f;
    } else if (p > range) {
        if (old >= range) return false;
        p = range;
    }
    const int32_t d = int32_t(std::floor(p - std::floor(old)));
    w->position = p;
    w->stepsMoved += d;
    const float move = w->step * float(d < 0 ? -d : d) * (n > 0 ? -1.0f : 1.0f);
    for (int32_t j = 0; j < 3; ++j) w->knobY[j] = w->stepsMoved == 0 ? w->knobBase[j] : w->knobY[j] + move;
    placeKnob(w);
    return true;
}

void layout(ScrollBarWork* w) {
    if (!w->relayout) return;
    const float P = pieceSize(w), h2 = P / 2.0f;
    const int32_t R = w->maximum - w->minimum;
    const float H = w->h * P;
    float k;
    if (R <= 0) {
        k = w->h;
    } else if (H > float(R)) {
        const float a = 0.4f * H;
        const float t1 = float(double(a) / double(h2));
        const float t2 = float(double(0.2f * H) / double(P / 4.0f)) + t1;
        const float t3 = float(double(0.2f * H) / double(P / 8.0f)) + t2;
        const float r = float(R);
        float T;
        if (r <= t1) T = r * h2;
        else if (r <= t2) T = a + (r - t1) * P / 4.0f;
        else if (r <= t3) T = a + (t2 - t1) * P / 4.0f + (r - t2) * P / 8.0f;
        else T = a + (t2 - t1) * P / 4.0f + (t3 - t2) * P / 8.0f + (r - t3) * P / 16.0f;
        k = (H - T) / P;
        if (k < 0.0f) k = 0.0f;
    } else {
        k = 0.0f;
    }
    const float c = H / 2.0f - k * P / 2.0f + w->y;
    if (w->relayout == 1) {
        // A range of nothing leaves the knob filling the track, with no step.
        w->step = R > 0 ? (H - k * P) / float(R) : 0.0f;
        w->factor = 1.0f;
        w->position = 0.0f;
    }
    w->knobBase[0] = w->knobY[0] = k * h2 + h2 + c;
    w->knobBase[1] = w->knobY[1] = c;
    w->knobBase[2] = w->knobY[2] = c - (k * h2 + h2);
    makePart(w, 0, w->x, std::floor(w->knobY[0]), w->w, 1.0f, -1);
    makePart(w, 1, w->x, c, w->w, 2.0f / P + k, -1);
    const float bottom = k <= 0.0f ? std::floor(w->knobY[0]) - P : std::floor(w->knobY[2]);
    makePart(w, 2, w->x, bottom, w->w, 1.0f, -1);
    const float edge = w->h * h2 + h2;
    makePart(w, 3, w->x, w->y + edge, w->w, 1.0f, 0);
    makePart(w, 4, w->x, w->y, w->w, w->h, 0);
    makePart(w, 5, w->x, w->y - edge, w->w, 1.0f, 0);
    const float arrow = w->h * h2 + 1.5f * P;
    makePart(w, 6, w->x, w->y + arrow, w->w, 1.0f, -1);
    makePart(w, 7, w->x, w->y - arrow, w->w, 1.0f, -1);
    w->relayout = 0;
    // The knob stands where the position says (the top after a new range):
    // the steps already moved are not moved again.
    w->stepsMoved = int32_t(std::floor(w->position));
    for (int32_t j = 0; j < 3; ++j) w->knobY[j] = w->knobBase[j] - w->step * float(w->stepsMoved);
    placeKnob(w);
}

// The screen extent of one part: its rectangle (the image when empty) times
// its scale, truncated; false when the part is not live.
bool extent(int32_t sprite, float* x, float* y, int32_t* hw, int32_t* hh) {
    if (!Lib_SpriteIsLive(sprite)) return false;
    const SpriteRecord& s = *Lib_SpriteAt(sprite);
    int32_t sw = s.srcRect[2], sh = s.srcRect[3];
    if (s.srcRect[0] == int32_t(kSpriteUnset) || sw == 0 || sh == 0) sw = s.imageWidth, sh = s.imageHeight;
    *x = s.posX;
    *y = s.posY;
    *hw = int32_t(float(sw) * s.scaleX) / 2;
    *hh = int32_t(float(sh) * s.scaleY) / 2;
    return true;
}

bool inside(const int32_t* r, int32_t x, int32_t y) { return r[0] <= x && x <= r[2] && r[1] <= y && y <= r[3]; }
}  // namespace

ScrollBarWork* GSL_SystemBarWork(int32_t slot) {
    return reinterpret_cast<ScrollBarWork*>(GSL_WidgetWorkGet(slot, GSL_SystemBarCB));
}

int32_t GSL_SystemBarSet(const float position[2], const float size[2], int32_t priority, uint8_t shown,
                         int32_t minimum, int32_t maximum, int32_t layerBase, int32_t firstPiece) {
    if (!position || !size) return -1;
    if (layerBase >= 0 && layerBase + 8 > kScreenLayers) return -1;
    GSL_WidgetDeleteRegister(GSL_SystemBarCB, freeParts);
    auto* w = reinterpret_cast<ScrollBarWork*>(
        GSL_WidgetCreate("GSL_SystemBarCB", GSL_SystemBarCB, kWidgetPriority, kWidgetGroupScreen, 0));
    if (!w) return -1;
    for (int32_t& p : w->parts) p = -1;
    w->priority = priority;
    w->shown = shown;
    w->minimum = minimum, w->maximum = maximum;
    w->layerBase = layerBase;
    w->firstPiece = firstPiece;
    w->x = position[0], w->y = position[1];
    w->w = size[0], w->h = size[1];
    w->relayout = 1;
    w->parts[0] = layerBase >= 0
                      ? GSL_WorkLayerFile(nullptr, uint32_t(layerBase), kSystemSheet, LAYER_CACHED)
                      : Lib_SpriteLoad(-1, kSystemSheet, -1, 1);
    if (w->parts[0] < 0) w->parts[0] = -1;
    return w->head.slot;
}

void GSL_SystemBarDel(int32_t slot) {
    if (!GSL_SystemBarWork(slot)) return;
    freeParts(slot);
    Lib_TaskDel(uint32_t(slot));
}

bool GSL_SystemBarScroll(int32_t slot, int32_t steps) {
    ScrollBarWork* w = GSL_SystemBarWork(slot);
    return w && scroll(w, steps);
}

void GSL_SystemBarSetFlag(int32_t slot, uint8_t shown) {
    ScrollBarWork* w = GSL_SystemBarWork(slot);
    if (!w) return;
    w->shown = shown;
    w->relayout = 2;
}

void GSL_SystemBarSetRange(int32_t slot, int32_t minimum, int32_t maximum) {
    ScrollBarWork* w = GSL_SystemBarWork(slot);
    if (!w) return;
    w->minimum = minimum, w->maximum = maximum;
    w->relayout = 1;
}

int32_t* GSL_SystemBarGetRect(int32_t* out, int32_t slot, int32_t which) {
    if (!out) return out;
    out[0] = out[1] = out[2] = out[3] = 0;
    const ScrollBarWork* w = GSL_SystemBarWork(slot);
    if (!w || which < 0 || which > 3) return out;
    static constexpr int32_t kUpper[4] = {0, 3, 6, 7}, kLower[4] = {2, 5, 6, 7};
    float ux, uy, lx, ly;
    int32_t uw, uh, lw, lh;
    if (!extent(w->parts[kUpper[which]], &ux, &uy, &uw, &uh) || !extent(w->parts[kLower[which]], &lx, &ly, &lw, &lh))
        return out;
    out[0] = int32_t(ux - float(uw) + 640.0f);
    out[1] = int32_t(360.0f - float(uh) - uy);
    out[2] = int32_t(lx + 640.0f + float(lw));
    out[3] = int32_t(float(lh) - ly + 360.0f);
    return out;
}

int32_t GSL_SystemBarHit(int32_t slot, int32_t which) {
    if (!GSL_SystemBarWork(slot)) return -1;
    if (MouseInput.clickButton < 0) return 0;
    int32_t r[4];
    GSL_SystemBarGetRect(r, slot, which);
    if (!inside(r, MouseInput.x, MouseInput.y)) return 0;
    if (MouseInput.clickPhase == 1) {
        HoldFrames = 0;
        return 3;
    }
    if (MouseInput.clickPhase != 2) return 0;
    ++HoldFrames;
    return HoldFrames >= 30 && (HoldFrames - 30) % 5 == 0 ? 5 : 4;
}

bool GSL_SystemBarFires(int32_t slot, int32_t which) {
    const int32_t r = GSL_SystemBarHit(slot, which);
    return r == 3 || r == 5;
}

int32_t GSL_SystemBarGetPos(int32_t slot) {
    const ScrollBarWork* w = GSL_SystemBarWork(slot);
    if (!w) return 0;
    const int32_t range = w->maximum - w->minimum;
    int32_t knob[4], track[4];
    GSL_SystemBarGetRect(knob, slot, BAR_KNOB);
    GSL_SystemBarGetRect(track, slot, BAR_TRACK);
    const int32_t k = knob[3] - knob[1];
    const int64_t top = int64_t(track[1]) + k / 2, bottom = int64_t(track[3]) - k / 2;
    // A knob that fills the track leaves no span to point into.
    if (bottom <= top || range <= 0) return 0;
    const int64_t y = MouseInput.y;
    if (y < top) return 0;
    if (y >= bottom) return range;
    return int32_t((y - top) * (int64_t(range) + 1) / (bottom - top));
}

int32_t GSL_SystemBarCB(void* work) {
    auto* w = static_cast<ScrollBarWork*>(work);
    if (!w) return 0;
    if (w->head.state == WIDGET_STARTING) {
        if (GSL_SystemSheetPending(w->parts[0])) return 0;
        GSL_SystemSheetRect(w->parts[0], firstItem(w));
        w->head.state = WIDGET_RUNNING;
    }
    layout(w);
    int32_t knob[4];
    GSL_SystemBarGetRect(knob, w->head.slot, BAR_KNOB);
    const int32_t over = GSL_SystemHitOver(0, -1, knob, 0);
    for (int32_t i = 6; i < 8; ++i) {
        if (w->parts[i] < 0) continue;
        int32_t rect[4] = {-1, 0, 0, 0};
        GSL_ButtonCheck(nullptr, w->parts[i], rect, 0, kPlain, kLit, -1);
    }
    const bool inPhase = MouseInput.clickButton >= 0 && MouseInput.clickPhase != 0;
    if (over == 1 || over == 2) {
        for (int32_t j = 0; j < 3; ++j) Lib_SpriteSetColor(w->parts[j], kLit);
    } else if (!inPhase) {
        for (int32_t j = 0; j < 3; ++j) Lib_SpriteSetColor(w->parts[j], kPlain);
    }
    return 0;
}
