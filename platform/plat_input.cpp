#include "platform/plat_input.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/plat_window.h"

namespace {
// The engine's key codes and the SDL keys at the same place on the keyboard.
struct KeyMap {
    uint8_t dik;
    SDL_Scancode scancode;
};
constexpr KeyMap kKeyMap[kPlatKeyCount] = {
    {0x2C, SDL_SCANCODE_Z},      {0x1C, SDL_SCANCODE_RETURN}, {0x2D, SDL_SCANCODE_X},
    {0x0E, SDL_SCANCODE_BACKSPACE}, {0x1F, SDL_SCANCODE_S},   {0x2E, SDL_SCANCODE_C},
    {0x3B, SDL_SCANCODE_F1},     {0x3C, SDL_SCANCODE_F2},     {0x1E, SDL_SCANCODE_A},
    {0x2A, SDL_SCANCODE_LSHIFT}, {0x20, SDL_SCANCODE_D},      {0x36, SDL_SCANCODE_RSHIFT},
    {0x10, SDL_SCANCODE_Q},      {0x11, SDL_SCANCODE_W},      {0x12, SDL_SCANCODE_E},
    {0x1D, SDL_SCANCODE_LCTRL},  {0xCB, SDL_SCANCODE_LEFT},   {0xC8, SDL_SCANCODE_UP},
    {0xCD, SDL_SCANCODE_RIGHT},  {0xD0, SDL_SCANCODE_DOWN},   {0x01, SDL_SCANCODE_ESCAPE},
    {0x3D, SDL_SCANCODE_F3},     {0x0F, SDL_SCANCODE_TAB},    {0x3E, SDL_SCANCODE_F4},
    {0x3F, SDL_SCANCODE_F5},     {0x40, SDL_SCANCODE_F6},     {0x41, SDL_SCANCODE_F7},
    {0x42, SDL_SCANCODE_F8},     {0x43, SDL_SCANCODE_F9},     {0x44, SDL_SCANCODE_F10},
    {0x57, SDL_SCANCODE_F11},
};

// SDL's hat bits (up 1, right 2, down 4, left 8) as an angle; impossible
// combinations count as centred.
constexpr uint32_t kHatAngle[16] = {
    kPlatHatCentred, 0,     9000,  4500,  18000, kPlatHatCentred, 13500, kPlatHatCentred,
    27000, 31500, kPlatHatCentred, kPlatHatCentred, 22500, kPlatHatCentred, kPlatHatCentred, kPlatHatCentred,
};

// The pad buttons the engine reads, by their place on a standard pad (the
// layout the engine's button table was made for): the face buttons west,
// south, east and north, the shoulder buttons, the triggers, select and
// start, the stick clicks and the home button. SDL's game-controller layer
// names a pad's buttons by place, whatever the model numbers them.
struct PadButtonMap {
    SDL_GameControllerButton button;
    SDL_GameControllerAxis trigger;  // when the engine button is a trigger
};
constexpr PadButtonMap kPadLayout[kPlatPadButtons] = {
    {SDL_CONTROLLER_BUTTON_X, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_Y, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_INVALID, SDL_CONTROLLER_AXIS_TRIGGERLEFT},
    {SDL_CONTROLLER_BUTTON_INVALID, SDL_CONTROLLER_AXIS_TRIGGERRIGHT},
    {SDL_CONTROLLER_BUTTON_BACK, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_START, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_LEFTSTICK, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_RIGHTSTICK, SDL_CONTROLLER_AXIS_INVALID},
    {SDL_CONTROLLER_BUTTON_GUIDE, SDL_CONTROLLER_AXIS_INVALID},
};
// The four axes: left stick across and down, right stick across and down.
constexpr SDL_GameControllerAxis kPadAxisLayout[kPlatPadAxes] = {
    SDL_CONTROLLER_AXIS_LEFTX, SDL_CONTROLLER_AXIS_LEFTY, SDL_CONTROLLER_AXIS_RIGHTX, SDL_CONTROLLER_AXIS_RIGHTY};
// A trigger counts as pressed beyond half its travel (0..32767).
constexpr int16_t kTriggerHalf = 16384;

// process-wide (g_mutex, g_live): the input devices' state, made afresh by Plat_InputStart
std::mutex g_mutex;
PlatInputState g_live = Plat_InputIdle();  // guarded by g_mutex

// Presses not yet shown in a snapshot, and what the last snapshot showed, for
// every key and button (guarded by g_mutex). A press that begins and ends
// between two snapshots would leave the state unchanged; latched, it shows
// down in the next snapshot and up in the one after, so that it counts once.
struct Buttons {
    uint8_t keys[256];
    uint8_t pad[kPlatPadButtons];
    uint8_t mouse[3];
};
// process-wide: made afresh by Plat_InputStart
Buttons g_latched{}, g_shown{};

// A key or button going down or up; only a change from up to down is a press
// (the key repeat sends more downs).
void setButton(uint8_t& live, uint8_t& latched, bool down) {
    if (down && !(live & kPlatDown)) latched = 1;
    live = down ? kPlatDown : 0;
}

// What a snapshot shows of one key or button. A press still latched shows
// down; but when the last snapshot showed the key down already, its release
// shows first and the press waits for the next snapshot.
uint8_t shownButton(uint8_t live, uint8_t& latched, uint8_t& shown) {
    if (latched) {
        if (shown & kPlatDown) {
            shown = 0;
        } else {
            latched = 0;
            shown = kPlatDown;
        }
        return shown;
    }
    return shown = live;
}

void forgetPresses() { g_latched = Buttons{}; }
// A new start of the devices (or an injected state): no snapshot shown yet.
void restartPresses() {
    forgetPresses();
    g_shown = Buttons{};
}

// process-wide (g_warpEvent, g_started): made afresh by Plat_InputStart and Plat_InputStop
std::atomic<uint32_t> g_warpEvent{0};
std::atomic<bool> g_started{false};

// UI thread only.
// process-wide (g_joystickOn, g_pad, g_controller, g_padId): made afresh by Plat_InputStart and
// Plat_InputStop
bool g_joystickOn = false;
SDL_Joystick* g_pad = nullptr;
SDL_GameController* g_controller = nullptr;  // the pad when SDL knows its layout
SDL_JoystickID g_padId = -1;

SDL_Window* gameWindow() { return static_cast<SDL_Window*>(Plat_WindowHandle()); }

bool isGameWindow(uint32_t id) {
    SDL_Window* w = gameWindow();
    return !w || id == SDL_GetWindowID(w);
}

int32_t scaleAxis(int32_t v) { return v >> 8; }  // -32768..32767 to -128..127

void clearPad(PlatInputState* s) {
    s->padPresent = 0;
    std::memset(s->padButtons, 0, sizeof s->padButtons);
    s->padHat = kPlatHatCentred;
    std::memset(s->padAxes, 0, sizeof s->padAxes);
}

// A pad SDL knows: its buttons, pad and sticks by place.
void readController(SDL_GameController* c, PlatInputState* s) {
    for (int i = 0; i < kPlatPadButtons; ++i) {
        const PadButtonMap& m = kPadLayout[i];
        bool on = m.trigger != SDL_CONTROLLER_AXIS_INVALID ? SDL_GameControllerGetAxis(c, m.trigger) > kTriggerHalf
                                                          : SDL_GameControllerGetButton(c, m.button) != 0;
        s->padButtons[i] = on ? kPlatDown : 0;
    }
    int hat = (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_UP) ? SDL_HAT_UP : 0) |
              (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_RIGHT) ? SDL_HAT_RIGHT : 0) |
              (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_DOWN) ? SDL_HAT_DOWN : 0) |
              (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_LEFT) ? SDL_HAT_LEFT : 0);
    s->padHat = kHatAngle[hat & 15];
    for (int i = 0; i < kPlatPadAxes; ++i) s->padAxes[i] = scaleAxis(SDL_GameControllerGetAxis(c, kPadAxisLayout[i]));
}

// The open pad's whole state as it is now.
void readPadState(PlatInputState* s) {
    clearPad(s);
    if (!g_pad) return;
    s->padPresent = 1;
    if (g_controller) {
        readController(g_controller, s);
        return;
    }
    // A device SDL has no layout for: its own button and axis numbers.
    int buttons = std::min(SDL_JoystickNumButtons(g_pad), kPlatPadButtons);
    for (int i = 0; i < buttons; ++i) s->padButtons[i] = SDL_JoystickGetButton(g_pad, i) ? kPlatDown : 0;
    if (SDL_JoystickNumHats(g_pad) > 0) s->padHat = kHatAngle[SDL_JoystickGetHat(g_pad, 0) & 15];
    int axes = std::min(SDL_JoystickNumAxes(g_pad), kPlatPadAxes);
    for (int i = 0; i < axes; ++i) s->padAxes[i] = scaleAxis(SDL_JoystickGetAxis(g_pad, i));
}

// Reads the open pad's whole state (g_mutex held); a button that came down
// since the last read is a press.
void readPad(PlatInputState* s) {
    uint8_t before[kPlatPadButtons];
    std::memcpy(before, s->padButtons, sizeof before);
    readPadState(s);
    for (int i = 0; i < kPlatPadButtons; ++i)
        if ((s->padButtons[i] & kPlatDown) && !(before[i] & kPlatDown)) g_latched.pad[i] = 1;
}

// The first attached pad that opens becomes the pad (g_mutex held).
void openFirstPad() {
    if (!g_joystickOn || g_pad) return;
    int n = SDL_NumJoysticks();
    for (int i = 0; i < n && !g_pad; ++i) {
        if (SDL_IsGameController(i)) {
            g_controller = SDL_GameControllerOpen(i);
            g_pad = g_controller ? SDL_GameControllerGetJoystick(g_controller) : nullptr;
            if (!g_pad && g_controller) SDL_GameControllerClose(g_controller);
            if (!g_pad) g_controller = nullptr;
        }
        if (!g_pad) g_pad = SDL_JoystickOpen(i);
    }
    g_padId = g_pad ? SDL_JoystickInstanceID(g_pad) : -1;
    readPad(&g_live);
}

void closePad() {
    if (g_controller)
        SDL_GameControllerClose(g_controller);
    else if (g_pad)
        SDL_JoystickClose(g_pad);
    g_controller = nullptr;
    g_pad = nullptr;
    g_padId = -1;
    clearPad(&g_live);
}

void windowEvent(const SDL_WindowEvent& w) {
    if (!isGameWindow(w.windowID)) return;
    switch (w.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            g_live.focus = 1;
            readPad(&g_live);  // the pad may have changed while the events went elsewhere
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            // Key and button releases after this point go to another window.
            g_live.focus = 0;
            std::memset(g_live.keys, 0, sizeof g_live.keys);
            std::memset(g_live.mouseButtons, 0, sizeof g_live.mouseButtons);
            forgetPresses();
            break;
        case SDL_WINDOWEVENT_LEAVE:
            g_live.mouseX = g_live.mouseY = kPlatPointerAway;
            break;
        case SDL_WINDOWEVENT_MINIMIZED: g_live.minimized = 1; break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_MAXIMIZED: g_live.minimized = 0; break;
        default: break;
    }
}

void mouseButton(uint8_t button, bool down, int32_t x, int32_t y) {
    int index = button == SDL_BUTTON_LEFT ? 0 : button == SDL_BUTTON_RIGHT ? 1 : button == SDL_BUTTON_MIDDLE ? 2 : -1;
    if (index >= 0) setButton(g_live.mouseButtons[index], g_latched.mouse[index], down);
    g_live.mouseX = x;
    g_live.mouseY = y;
}
}  // namespace

PlatInputState Plat_InputIdle() {
    PlatInputState s;
    std::memset(&s, 0, sizeof s);
    s.padHat = kPlatHatCentred;
    s.mouseX = s.mouseY = kPlatPointerAway;
    return s;
}

uint8_t Plat_InputDikOf(int scancode) {
    for (const KeyMap& k : kKeyMap)
        if (k.scancode == scancode) return k.dik;
    return 0;
}

void Plat_InputStart() {
    if (g_warpEvent.load() == 0) {
        uint32_t type = SDL_RegisterEvents(1);
        if (type != uint32_t(-1)) g_warpEvent.store(type);
    }
    if (!g_joystickOn) {
        // Buttons by place, not by the letters printed on them: the east
        // button decides on every pad.
        SDL_SetHint(SDL_HINT_GAMECONTROLLER_USE_BUTTON_LABELS, "0");
        // The mapping database SDL ships with, and SDL_GAMECONTROLLERCONFIG.
        g_joystickOn = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
    }
    std::lock_guard lock(g_mutex);
    g_live = Plat_InputIdle();
    restartPresses();
    if (SDL_Window* w = gameWindow()) {
        uint32_t flags = SDL_GetWindowFlags(w);
        g_live.focus = (flags & SDL_WINDOW_INPUT_FOCUS) != 0;
        g_live.minimized = (flags & SDL_WINDOW_MINIMIZED) != 0;
        if (SDL_GetMouseFocus() == w) {
            int x = 0, y = 0;
            SDL_GetMouseState(&x, &y);
            g_live.mouseX = x;
            g_live.mouseY = y;
        }
    }
    openFirstPad();
    g_started.store(true, std::memory_order_release);
}

void Plat_InputStop() {
    g_started.store(false, std::memory_order_release);
    std::lock_guard lock(g_mutex);
    closePad();
    if (g_joystickOn) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    g_joystickOn = false;
    g_live = Plat_InputIdle();
    restartPresses();
}

void Plat_InputEvent(const void* sdlEvent) {
    const SDL_Event& ev = *static_cast<const SDL_Event*>(sdlEvent);
    uint32_t warp = g_warpEvent.load();
    if (warp != 0 && ev.type == warp) {
        if (SDL_Window* w = gameWindow()) SDL_WarpMouseInWindow(w, ev.user.code, int(intptr_t(ev.user.data1)));
        return;
    }
    std::lock_guard lock(g_mutex);
    switch (ev.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (uint8_t dik = Plat_InputDikOf(ev.key.keysym.scancode))
                setButton(g_live.keys[dik], g_latched.keys[dik], ev.type == SDL_KEYDOWN);
            break;
        case SDL_MOUSEMOTION:
            g_live.mouseX = ev.motion.x;
            g_live.mouseY = ev.motion.y;
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            mouseButton(ev.button.button, ev.type == SDL_MOUSEBUTTONDOWN, ev.button.x, ev.button.y);
            break;
        case SDL_MOUSEWHEEL: {
            int64_t steps = ev.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -int64_t(ev.wheel.y) : ev.wheel.y;
            g_live.wheel = int32_t(std::clamp<int64_t>(g_live.wheel + steps, INT32_MIN, INT32_MAX));
            break;
        }
        case SDL_WINDOWEVENT:
            windowEvent(ev.window);
            break;
        case SDL_JOYDEVICEADDED:
            openFirstPad();
            break;
        case SDL_JOYDEVICEREMOVED:
            if (g_pad && ev.jdevice.which == g_padId) {
                closePad();
                openFirstPad();
            }
            break;
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
        case SDL_CONTROLLERAXISMOTION:
            // A change of a known pad: read it whole, through its layout.
            if (g_controller && (ev.type == SDL_CONTROLLERAXISMOTION ? ev.caxis.which : ev.cbutton.which) == g_padId)
                readPad(&g_live);
            break;
        case SDL_JOYBUTTONDOWN:
        case SDL_JOYBUTTONUP:
            if (g_pad && !g_controller && ev.jbutton.which == g_padId && ev.jbutton.button < kPlatPadButtons)
                setButton(g_live.padButtons[ev.jbutton.button], g_latched.pad[ev.jbutton.button],
                          ev.type == SDL_JOYBUTTONDOWN);
            break;
        case SDL_JOYHATMOTION:
            if (g_pad && !g_controller && ev.jhat.which == g_padId && ev.jhat.hat == 0) g_live.padHat = kHatAngle[ev.jhat.value & 15];
            break;
        case SDL_JOYAXISMOTION:
            if (g_pad && !g_controller && ev.jaxis.which == g_padId && ev.jaxis.axis < kPlatPadAxes)
                g_live.padAxes[ev.jaxis.axis] = scaleAxis(ev.jaxis.value);
            break;
        default:
            break;
    }
}

void Plat_InputSnapshot(PlatInputState* out) {
    std::lock_guard lock(g_mutex);
    *out = g_live;
    for (int i = 0; i < 256; ++i) out->keys[i] = shownButton(g_live.keys[i], g_latched.keys[i], g_shown.keys[i]);
    for (int i = 0; i < kPlatPadButtons; ++i)
        out->padButtons[i] = shownButton(g_live.padButtons[i], g_latched.pad[i], g_shown.pad[i]);
    for (int i = 0; i < 3; ++i)
        out->mouseButtons[i] = shownButton(g_live.mouseButtons[i], g_latched.mouse[i], g_shown.mouse[i]);
    g_live.wheel = 0;
}

void Plat_InputWarp(int32_t x, int32_t y) {
    {
        std::lock_guard lock(g_mutex);
        g_live.mouseX = x;
        g_live.mouseY = y;
    }
    uint32_t type = g_warpEvent.load();
    if (type == 0 || !g_started.load(std::memory_order_acquire)) return;
    SDL_Event ev{};
    ev.type = type;
    ev.user.code = x;
    ev.user.data1 = reinterpret_cast<void*>(intptr_t(y));
    SDL_PushEvent(&ev);
}

void Plat_InputInject(const PlatInputState& state) {
    std::lock_guard lock(g_mutex);
    g_live = state;
    restartPresses();
}
