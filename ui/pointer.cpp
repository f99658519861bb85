#include "ui/pointer.h"

#include <cmath>

#include "engine/core/util.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "ui/screen_slots.h"

PointerGestureState PointerGesture{1, {0, 0}, {0, 0}, {0, 0}};
uint32_t MenuActiveFlag = 0;

namespace {
constexpr int32_t kScreenRight = 1279, kScreenBottom = 719;
constexpr int32_t kDragThreshold = 43;

// Scripts give scales and positions: an out-of-range conversion must not be
// undefined.
int32_t clampInt(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483520.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return int32_t(v);
}

bool inside(const int32_t* r, int32_t x, int32_t y) { return r[0] <= x && x <= r[2] && r[1] <= y && y <= r[3]; }
bool onScreen(int32_t x, int32_t y) {
    return uint32_t(x) <= uint32_t(kScreenRight) && uint32_t(y) <= uint32_t(kScreenBottom);
}

// A press or a click of an active button, by phase.
int32_t hit(int32_t phase, int32_t sprite, int32_t* rect, uint8_t margins) {
    int32_t r[4];
    GSL_SystemSpriteRect(r, sprite, rect, margins);
    if (MouseInput.clickPhase != phase || MouseInput.clickButton < 0) return 0;
    if (inside(r, MouseInput.x, MouseInput.y)) return 1;
    return sprite >= 0 && onScreen(MouseInput.x, MouseInput.y) ? -1 : 0;
}
}  // namespace

void GSL_SystemMouseUpdate() {
    PointerGestureState& g = PointerGesture;
    const PointerPoint pointer{MouseInput.x, MouseInput.y};
    if (!MouseInput.active) {
        g = {1, {0, 0}, {0, 0}, {0, 0}};
        return;
    }
    switch (MouseInput.clickPhase) {
        case 0: g.clickAllowed = 1; break;
        case 1: g.press = g.current = g.previous = pointer; break;
        case 2:
            g.previous = g.current;
            g.current = pointer;
            break;
        case 3: {
            // The last held position decides, not the release frame's.
            const int64_t dx = int64_t(g.current.x) - g.press.x, dy = int64_t(g.current.y) - g.press.y;
            const int64_t t = kDragThreshold;
            if (dx < -t || dx > t || dy < -t || dy > t) g.clickAllowed = 0;
            g.press = g.current = g.previous = {0, 0};
            break;
        }
        default: break;
    }
}

void GSL_SystemMouseReset() { PointerGesture = {1, {0, 0}, {0, 0}, {0, 0}}; }

int32_t* GSL_SystemSpriteRect(int32_t* out, int32_t sprite, int32_t* rect, uint8_t margins) {
    int32_t zero[4] = {0, 0, 0, 0};
    int32_t* in = rect ? rect : zero;
    int32_t r[4];
    if (sprite < 0) {
        r[0] = in[0];
        r[1] = in[1];
        r[2] = in[2] == -1 ? kScreenRight : in[2];
        r[3] = in[3] == -1 ? kScreenBottom : in[3];
    } else {
        float x = 0.0f, y = 0.0f;
        int64_t w = 0, h = 0;
        if (Lib_SpriteIsLive(sprite)) {
            const SpriteRecord& s = *Lib_SpriteAt(sprite);
            x = s.posX;
            y = s.posY;
            int32_t sw = s.srcRect[2], sh = s.srcRect[3];
            if (sw == 0 || sh == 0) {
                sw = s.imageWidth;
                sh = s.imageHeight;
            }
            w = clampInt(float(sw) * s.scaleX);
            h = clampInt(float(sh) * s.scaleY);
        }
        const int64_t cx = clampInt(x + 640.0f), cy = clampInt(360.0f - y);
        const int64_t hw = w / 2, hh = h / 2;
        const int32_t* m = margins ? in : zero;
        auto fit = [](int64_t v) { return int32_t(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); };
        r[0] = fit(cx - hw - m[0]);
        r[1] = fit(cy - m[1] - hh);
        r[2] = fit(cx + hw + m[2]);
        r[3] = fit(cy + m[3] + hh);
    }
    for (int i = 0; i < 4; ++i) {
        if (out) out[i] = r[i];
        if (rect) rect[i] = r[i];
    }
    return out;
}

int32_t GSL_SystemHitPress(int32_t, int32_t sprite, int32_t* rect, uint8_t margins) {
    return hit(1, sprite, rect, margins);
}

int32_t GSL_SystemHitClick(int32_t, int32_t sprite, int32_t* rect, uint8_t margins) {
    if (!PointerGesture.clickAllowed) {
        int32_t r[4];
        GSL_SystemSpriteRect(r, sprite, rect, margins);
        return 0;
    }
    return hit(3, sprite, rect, margins);
}

int32_t GSL_SystemHitOver(int32_t, int32_t sprite, int32_t* rect, uint8_t margins) {
    if (sprite >= 0 && !Lib_SpriteIsLive(sprite)) return -1;
    int32_t r[4];
    GSL_SystemSpriteRect(r, sprite, rect, margins);
    const bool now = inside(r, MouseInput.x, MouseInput.y), before = inside(r, MouseInput.prevX, MouseInput.prevY);
    if (now) return before ? 2 : 1;
    return before ? 3 : 0;
}

namespace {
void setRect(int32_t* rect, int32_t l, int32_t t, int32_t r, int32_t b) {
    rect[0] = l;
    rect[1] = t;
    rect[2] = r;
    rect[3] = b;
}

// Whether a button fires, without hover or colour.
bool fires(int32_t sprite, int32_t* rect, bool pressMode) {
    if (rect[0] >= 0) {
        int32_t r[4];
        GSL_SystemSpriteRect(r, -1, rect, 0);
        if (MouseInput.clickButton < 0 || !inside(r, MouseInput.x, MouseInput.y)) return false;
        if (pressMode) return MouseInput.clickPhase == 1;
        return PointerGesture.clickAllowed && MouseInput.clickPhase == 3;
    }
    setRect(rect, 0, 0, kScreenRight, kScreenBottom);
    return (pressMode ? GSL_SystemHitPress(0, sprite, rect, 0) : GSL_SystemHitClick(0, sprite, rect, 0)) > 0;
}

uint8_t normalTest(int32_t sprite, int32_t* rect, bool pressMode, uint32_t normal, uint32_t hover) {
    const bool bare = rect[0] < 0;
    uint8_t result = fires(sprite, rect, pressMode) ? 1 : 0;
    const int32_t over = bare ? GSL_SystemHitOver(0, sprite, rect, 0) : GSL_SystemHitOver(0, -1, rect, 0);
    if (over < 0) return result;
    if (over == 1) result = 2;
    if (sprite >= 0 && normal && hover) Lib_SpriteSetColor(sprite, over == 1 || over == 2 ? hover : normal);
    return result;
}

bool boxFires(int32_t l, int32_t t, int32_t r, int32_t b, bool pressMode) {
    int32_t box[4] = {l, t, r, b};
    return fires(-1, box, pressMode);
}

// A story layer's button: the sprite of the top screen's slot, when shown.
uint8_t layerButton(uint32_t slot, int32_t* rect, bool pressMode, uint32_t normal, uint32_t hover) {
    const int32_t sprite = GSL_WorkLayerGet(nullptr, slot);
    if (sprite < 0 || !Lib_SpriteGetFlag(sprite)) return 0;
    return normalTest(sprite, rect, pressMode, normal, hover);
}
}  // namespace

uint8_t GSL_ButtonCheck(ModeFunction screen, int32_t id, int32_t* rect, int32_t, uint32_t normal, uint32_t hover,
                        int8_t flag) {
    int32_t own[4] = {-1, 0, 0, 0};
    if (!rect) rect = own;
    const bool pressMode = flag >= 0;
    if (!screen) return normalTest(id, rect, pressMode, normal, hover);
    if (screen != GSL_ScreenOf(SCREEN_STORY)) return 0;

    const int64_t d = Lib_Size43(128);
    const PointerGestureState& g = PointerGesture;
    const int64_t dx = int64_t(g.current.x) - g.press.x, dy = int64_t(g.current.y) - g.press.y;
    const int32_t boxRight = 1280 - Lib_Size43(64), boxBottom = Lib_Size43(63);
    switch (id) {
        case BUTTON_WHOLE_SCREEN:
            if (boxFires(boxRight, 0, kScreenRight, boxBottom, false) || boxFires(0, 0, boxBottom, boxBottom, false))
                return 0;
            setRect(rect, 0, 0, kScreenRight, kScreenBottom);
            return normalTest(-1, rect, pressMode, normal, hover);
        case BUTTON_RECT:
        case BUTTON_RECT_ALT: return normalTest(-1, rect, pressMode, normal, hover);
        case BUTTON_DRAG_DOWN:
            if (dy > d) return 1;
            return layerButton(27, rect, pressMode, normal, hover);
        case BUTTON_DRAG_UP: return dy < -d ? 1 : 0;
        case BUTTON_BOX_RIGHT:
            setRect(rect, boxRight, 0, kScreenRight, boxBottom);
            return normalTest(-1, rect, pressMode, normal, hover);
        case BUTTON_BOX_LEFT:
            setRect(rect, 0, 0, boxBottom, boxBottom);
            return normalTest(-1, rect, pressMode, normal, hover);
        case BUTTON_SCREEN_PRESS:
            if (boxFires(boxRight, 0, kScreenRight, boxBottom, true) || boxFires(0, 0, boxBottom, boxBottom, true))
                return 0;
            if (MenuActiveFlag & 1u) return 0;
            setRect(rect, 0, 0, kScreenRight, kScreenBottom);
            return normalTest(-1, rect, true, normal, hover);
        case BUTTON_PRESS_BOX:
            setRect(rect, 0, 0, Lib_Size43(80) - 1, Lib_Size43(48) - 1);
            return normalTest(-1, rect, true, normal, hover);
        case BUTTON_MIDDLE:
            if (dy < -d) return 1;
            return (MouseInput.prevState.buttons[2] & 0x80) && !(MouseInput.state.buttons[2] & 0x80) ? 1 : 0;
        case BUTTON_DRAG_LEFT:
            if (dx < -d) return 1;
            return layerButton(28, rect, pressMode, normal, hover);
        case BUTTON_DRAG_RIGHT: return dx > d ? 1 : 0;
        case BUTTON_TOP_SWIPE: {
            auto inStrip = [](int32_t x, int32_t y) { return x >= 0 && x <= 1280 && y >= 0 && y <= 90; };
            return inStrip(MouseInput.prevX, MouseInput.prevY) && inStrip(MouseInput.x, MouseInput.y) &&
                           dx > 3 * (d / 4)
                       ? 1
                       : 0;
        }
        default: break;
    }
    if (id < 0) return 0;
    int32_t sprite = GSL_WorkLayerGet(nullptr, uint32_t(id) + 40);
    if (sprite < 0) sprite = GSL_WorkLayerGet(nullptr, uint32_t(id) + 48);
    if (sprite < 0) return 0;
    return normalTest(sprite, rect, pressMode, normal, hover);
}
