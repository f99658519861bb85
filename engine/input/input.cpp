#include "engine/input/input.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "engine/core/engine_state.h"
#include "engine/render/renderer.h"
#include "platform/plat_input.h"

// process-wide (InputButtons, MouseInput, InputActivity): made afresh by Lib_InputInit
InputButtonSets InputButtons;
MouseInputRecord MouseInput;
uint8_t InputActivity;

namespace {
struct ButtonRow {
    uint32_t bit;
    uint8_t key, secondKey;  // DIK codes; 0 none
    int8_t padButton;        // -1 none
};
constexpr ButtonRow kButtonTable[] = {
    {0x1, 0x2C, 0x1C, 2},      {0x2, 0x2D, 0x0E, 1},     {0x4, 0x1F, 0, 3},        {0x8, 0x2E, 0, 0},
    {0x10, 0x3B, 0, 10},       {0x20, 0x3C, 0, 11},      {0x40, 0x1E, 0x2A, 4},    {0x80, 0x20, 0x36, 5},
    {0x100, 0x10, 0, 6},       {0x200, 0x11, 0, 7},      {0x400, 0x12, 0, 9},      {0x800, 0x1D, 0, 8},
    {0x1000, 0xCB, 0, -1},     {0x2000, 0xC8, 0, -1},    {0x4000, 0xCD, 0, -1},    {0x8000, 0xD0, 0, -1},
    {0x10000, 0x01, 0, 12},    {0x20000, 0x3D, 0, -1},   {0x40000, 0x0F, 0, -1},
};
// F4..F10, F11: keyboard activity only.
constexpr uint8_t kAxisKeys[8] = {0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x57};
constexpr uint32_t kHatLeft = 0x1000, kHatUp = 0x2000, kHatRight = 0x4000, kHatDown = 0x8000;
constexpr int32_t kVirtualWidth = 1280, kVirtualHeight = 720;

// process-wide (g_devices, g_frame): made afresh by Lib_InputInit and Lib_InputEnd
bool g_devices = false;   // keyboard, pad and mouse open to the polls
PlatInputState g_frame;  // this frame's snapshot

bool down(uint8_t b) { return (b & kPlatDown) != 0; }

// A float truncated to int32, held to the type's range (NaN as 0).
int32_t toInt(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483520.0f) return 2147483520;
    if (v <= -2147483648.0f) return INT32_MIN;
    return int32_t(v);
}

// 1280 over a width; a width below 1 (or none) counts as 1280.
float scaleFor(float width) { return float(kVirtualWidth) / (width >= 1.0f ? width : float(kVirtualWidth)); }

uint32_t hatButtons(uint32_t hat) {
    if (hat == kPlatHatCentred) return 0;
    uint32_t degrees = hat / 100;
    float a = float(double(degrees) * std::numbers::pi / 180.0);
    float s = std::sin(a), c = std::cos(a);
    uint32_t bits = 0;
    if (s < -0.01f)
        bits |= kHatLeft;
    else if (s > 0.01f)
        bits |= kHatRight;
    if (c > 0.01f)
        bits |= kHatUp;
    else if (c < -0.01f)
        bits |= kHatDown;
    return bits;
}

void clearMouse() {
    std::memset(&MouseInput, 0, sizeof MouseInput);
    MouseInput.clickButton = -1;
}

bool onVirtualScreen(InputPoint p) { return p.x >= 0 && p.x < kVirtualWidth && p.y >= 0 && p.y < kVirtualHeight; }
}  // namespace

void Lib_InputPointerReset() { clearMouse(); }

void Lib_InputInit() {
    InputButtons = InputButtonSets{0, 0};
    InputActivity = 0;
    clearMouse();
    g_frame = Plat_InputIdle();
    g_devices = true;
}

void Lib_InputEnd() {
    g_devices = false;
    g_frame = Plat_InputIdle();
}

// process-wide: a count read as differences
uint32_t InputPollCount = 0;

void Lib_InputPoll() {
    ++InputPollCount;
    InputActivity &= uint8_t(~3u);
    if (!g_devices) return;
    Plat_InputSnapshot(&g_frame);
    // Without the focus the devices give nothing, as if every read failed.
    const bool focus = g_frame.focus != 0;
    uint32_t keys = 0, pad = 0;

    bool axisKey = false;
    if (focus) {
        for (const ButtonRow& row : kButtonTable)
            if (down(g_frame.keys[row.key]) || (row.secondKey && down(g_frame.keys[row.secondKey]))) keys |= row.bit;
        for (uint8_t k : kAxisKeys) axisKey |= down(g_frame.keys[k]);
    }
    if (keys || axisKey) InputActivity |= 1;

    if (g_frame.padPresent && focus) {
        for (const ButtonRow& row : kButtonTable)
            if (row.padButton >= 0 && down(g_frame.padButtons[row.padButton])) pad |= row.bit;
        pad |= hatButtons(g_frame.padHat);
        bool moved = false;
        for (int32_t a : g_frame.padAxes) moved |= a != 0;
        if (pad || moved) InputActivity |= 2;
    }

    uint32_t now = keys | pad;
    InputButtons.pressed = now & ~InputButtons.held;
    InputButtons.held = now;

    // Pad play parks the pointer just below the screen, out of the way.
    if (g_frame.padPresent && InputButtons.pressed != InputButtons.held) {
        InputPoint p = Lib_InputCursor(0, InputPoint{0, 0});
        if (onVirtualScreen(p)) Lib_InputCursor(1, InputPoint{0, 730});
    }
}

void Lib_InputPollMouse() {
    if (!g_devices) return;
    if (!g_frame.focus) {
        if (MouseInput.active == 1) clearMouse();
        MouseInput.active = 0;
        return;
    }
    MouseInput.prevState = MouseInput.state;
    InputPoint pos = Lib_InputCursor(0, InputPoint{0, 0});
    MouseDeviceState& st = MouseInput.state;
    std::memset(&st, 0, sizeof st);
    st.wheel = g_frame.wheel;
    st.buttons[0] = g_frame.mouseButtons[0];
    st.buttons[1] = g_frame.mouseButtons[1];
    st.buttons[2] = g_frame.mouseButtons[2];

    if (!onVirtualScreen(pos)) {
        if (MouseInput.active == 1) clearMouse();
        MouseInput.active = 0;
        return;
    }

    bool wasDown = down(MouseInput.prevState.buttons[0]), isDown = down(st.buttons[0]);
    MouseInput.clickPhase = wasDown ? (isDown ? 2 : 3) : (isDown ? 1 : 0);
    MouseInput.clickButton = (wasDown || isDown) ? 0 : -1;
    MouseInput.prevX = MouseInput.x;
    MouseInput.prevY = MouseInput.y;
    MouseInput.x = pos.x;
    MouseInput.y = pos.y;

    uint32_t bits = 0;
    if (down(MouseInput.prevState.buttons[1]) && !down(st.buttons[1])) bits |= BUTTON_CANCEL;
    // The wheel as read by the previous poll: it shows one frame late.
    if (MouseInput.prevState.wheel > 0)
        bits |= BUTTON_UP;
    else if (MouseInput.prevState.wheel < 0)
        bits |= BUTTON_DOWN;
    InputButtons.pressed |= bits;
    InputButtons.held |= bits;
    MouseInput.active = 1;
}

InputPoint Lib_InputCursor(int32_t mode, InputPoint point) {
    float s = scaleFor(float(Main_SystemIniGet().width));
    if (mode == 0) {
        float x = float(g_frame.mouseX), y = float(g_frame.mouseY);
        if (!g_frame.minimized && (WindowFlags.load() & WINDOW_FULLSCREEN_ON)) {
            // Full screen shows the frame letterboxed: measure from its corner.
            const Renderer* r = *Lib_GetRenderer();
            float left = r ? r->viewport[0] : 0.0f, top = r ? r->viewport[1] : 0.0f;
            s = scaleFor(r ? r->viewport[2] : 0.0f);
            x = std::trunc(x - left);
            y = std::trunc(y - top);
        }
        // Both axes take the horizontal factor.
        return InputPoint{toInt(x * s), toInt(y * s)};
    }
    if (mode == 1) Plat_InputWarp(toInt(float(point.x) / s), toInt(float(point.y) / s));
    return point;
}

int32_t Lib_InputMouseInRect(int32_t, const InputRect* rect) {
    if (!rect) return 0;
    auto inside = [rect](int32_t x, int32_t y) {
        return rect->xMin <= x && x <= rect->xMax && rect->yMin <= y && y <= rect->yMax;
    };
    bool before = inside(MouseInput.prevX, MouseInput.prevY), now = inside(MouseInput.x, MouseInput.y);
    return before ? (now ? 2 : 3) : (now ? 1 : 0);
}

uint32_t Lib_InputKeyCode(int32_t kind, uint32_t bit, int32_t alternative) {
    if (bit == BUTTON_AXIS_KEY) {
        if (kind != 0) return 0;
        return alternative >= 0 && alternative <= 6 ? kAxisKeys[alternative] : kAxisKeys[7];
    }
    for (const ButtonRow& row : kButtonTable) {
        if (row.bit != bit) continue;
        if (kind != 0) return row.padButton >= 0 ? uint32_t(row.padButton) : 0;
        return alternative != 0 && row.secondKey ? row.secondKey : row.key;
    }
    return 0;
}
