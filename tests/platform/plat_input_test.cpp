#include "platform/plat_input.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {
void feed(uint32_t type, void (*fill)(SDL_Event&)) {
    SDL_Event ev{};
    ev.type = type;
    fill(ev);
    Plat_InputEvent(&ev);
}
void window(uint8_t kind) {
    SDL_Event ev{};
    ev.type = SDL_WINDOWEVENT;
    ev.window.event = kind;
    Plat_InputEvent(&ev);
}
PlatInputState snapshot() {
    PlatInputState s;
    Plat_InputSnapshot(&s);
    return s;
}

TEST(PlatInput, KeysMouseWheelAndFocusFoldIntoTheSnapshot) {
    std::set<uint8_t> read;
    for (int sc = 0; sc < SDL_NUM_SCANCODES; ++sc)
        if (uint8_t dik = Plat_InputDikOf(sc)) read.insert(dik);
    EXPECT_EQ(read.size(), size_t(kPlatKeyCount));
    EXPECT_EQ(Plat_InputDikOf(SDL_SCANCODE_BACKSPACE), 0x0E);
    EXPECT_EQ(Plat_InputDikOf(SDL_SCANCODE_F11), 0x57);

    Plat_InputInject(Plat_InputIdle());
    window(SDL_WINDOWEVENT_FOCUS_GAINED);
    feed(SDL_KEYDOWN, [](SDL_Event& e) { e.key.keysym.scancode = SDL_SCANCODE_LCTRL; });
    feed(SDL_MOUSEMOTION, [](SDL_Event& e) { e.motion.x = 321, e.motion.y = 123; });
    feed(SDL_MOUSEBUTTONDOWN, [](SDL_Event& e) { e.button.button = SDL_BUTTON_RIGHT, e.button.x = 320; });
    feed(SDL_MOUSEWHEEL, [](SDL_Event& e) { e.wheel.y = 2; });
    // Natural scrolling: three steps backward.
    feed(SDL_MOUSEWHEEL, [](SDL_Event& e) { e.wheel.y = 3, e.wheel.direction = SDL_MOUSEWHEEL_FLIPPED; });
    PlatInputState s = snapshot();
    EXPECT_EQ(s.focus, 1);
    EXPECT_EQ(s.keys[0x1D], kPlatDown);
    EXPECT_EQ(s.mouseX, 320);
    EXPECT_EQ(s.mouseButtons[1], kPlatDown);
    EXPECT_EQ(s.wheel, -1);
    EXPECT_EQ(snapshot().wheel, 0);

    // Losing the focus lets go of keys and buttons; leaving moves the pointer away.
    window(SDL_WINDOWEVENT_FOCUS_LOST);
    window(SDL_WINDOWEVENT_LEAVE);
    s = snapshot();
    EXPECT_EQ(s.focus | s.keys[0x1D] | s.mouseButtons[1], 0);
    EXPECT_EQ(s.mouseX, kPlatPointerAway);
    Plat_InputInject(Plat_InputIdle());
}

void key(uint32_t type, SDL_Scancode code, uint8_t repeat = 0) {
    SDL_Event ev{};
    ev.type = type;
    ev.key.keysym.scancode = code;
    ev.key.repeat = repeat;
    Plat_InputEvent(&ev);
}
void mouse(uint32_t type, uint8_t button) {
    SDL_Event ev{};
    ev.type = type;
    ev.button.button = button;
    ev.button.x = 100, ev.button.y = 50;
    Plat_InputEvent(&ev);
}
// How often a byte went from up to down over a run of snapshots.
template <typename Byte>
int Presses(const std::vector<PlatInputState>& run, Byte byte) {
    int n = 0;
    for (size_t i = 1; i < run.size(); ++i) n += !(byte(run[i - 1]) & kPlatDown) && (byte(run[i]) & kPlatDown);
    return n;
}

// From a fresh state with the focus: the snapshot taken, then a tap of Z and
// a left click before the next one.
std::vector<PlatInputState> TapAndClick() {
    Plat_InputInject(Plat_InputIdle());
    window(SDL_WINDOWEVENT_FOCUS_GAINED);
    std::vector<PlatInputState> run{snapshot()};
    key(SDL_KEYDOWN, SDL_SCANCODE_Z);
    key(SDL_KEYUP, SDL_SCANCODE_Z);
    mouse(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    mouse(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    return run;
}

// A tap or a click that begins and ends between two snapshots shows in the
// next one and is let go in the one after: one press. A held key let go and
// pressed again between two snapshots shows its release, then its new press.
TEST(PlatInput, APressShorterThanAFrameCountsOnce) {
    std::vector<PlatInputState> run = TapAndClick();
    for (int i = 0; i < 3; ++i) run.push_back(snapshot());
    EXPECT_EQ(run[1].keys[0x2C], kPlatDown);
    EXPECT_EQ(run[1].mouseButtons[0], kPlatDown);
    EXPECT_EQ(run[2].keys[0x2C] | run[2].mouseButtons[0], 0) << "let go in the next snapshot";
    auto z = [](const PlatInputState& s) { return s.keys[0x2C]; };
    auto left = [](const PlatInputState& s) { return s.mouseButtons[0]; };
    EXPECT_EQ(Presses(run, z), 1);
    EXPECT_EQ(Presses(run, left), 1);

    run = {snapshot()};
    key(SDL_KEYDOWN, SDL_SCANCODE_Z);
    run.push_back(snapshot());
    key(SDL_KEYUP, SDL_SCANCODE_Z);
    key(SDL_KEYDOWN, SDL_SCANCODE_Z);
    run.push_back(snapshot());
    run.push_back(snapshot());
    key(SDL_KEYUP, SDL_SCANCODE_Z);
    run.push_back(snapshot());
    EXPECT_EQ(Presses(run, z), 2);
    EXPECT_EQ(run[2].keys[0x2C], 0);
    EXPECT_EQ(run[3].keys[0x2C], kPlatDown);
    EXPECT_EQ(run[4].keys[0x2C], 0);
    Plat_InputInject(Plat_InputIdle());
}

// A tap or a click that no snapshot has shown yet when the window loses the
// focus is gone with the focus: no snapshot after shows it.
TEST(PlatInput, APressNotYetShownIsForgottenWithTheFocus) {
    std::vector<PlatInputState> run = TapAndClick();
    window(SDL_WINDOWEVENT_FOCUS_LOST);
    for (int i = 0; i < 2; ++i) run.push_back(snapshot());
    window(SDL_WINDOWEVENT_FOCUS_GAINED);
    for (int i = 0; i < 2; ++i) run.push_back(snapshot());
    EXPECT_EQ(Presses(run, [](const PlatInputState& s) { return s.keys[0x2C]; }), 0);
    EXPECT_EQ(Presses(run, [](const PlatInputState& s) { return s.mouseButtons[0]; }), 0);
    Plat_InputInject(Plat_InputIdle());
}

// A key or button held over many snapshots reads as it always did: down in
// each of them, whatever the key repeat sends, and up once let go.
TEST(PlatInput, AHeldKeyReadsDownInEverySnapshotUntilLetGo) {
    Plat_InputInject(Plat_InputIdle());
    window(SDL_WINDOWEVENT_FOCUS_GAINED);
    key(SDL_KEYDOWN, SDL_SCANCODE_LCTRL);
    mouse(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);
    for (int i = 0; i < 5; ++i) {
        const PlatInputState s = snapshot();
        EXPECT_EQ(s.keys[0x1D], kPlatDown) << i;
        EXPECT_EQ(s.mouseButtons[1], kPlatDown) << i;
        key(SDL_KEYDOWN, SDL_SCANCODE_LCTRL, 1);  // the key repeat
    }
    key(SDL_KEYUP, SDL_SCANCODE_LCTRL);
    mouse(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT);
    for (int i = 0; i < 2; ++i) {
        const PlatInputState s = snapshot();
        EXPECT_EQ(s.keys[0x1D] | s.mouseButtons[1], 0) << i;
    }
    Plat_InputInject(Plat_InputIdle());
}

TEST(PlatInput, FirstPadIsReadOnOpenAndFollowedByItsEvents) {
    // SDL drops pad input while a window of the process exists without focus
    // (another test's hidden window); this test has no focused window.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    Plat_InputStart();
    // A device SDL has no layout for: read by its own numbers.
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 4, 13, 1);
    SDL_Joystick* stick = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
    if (!stick) {
        Plat_InputStop();
        GTEST_SKIP() << "no virtual joystick: " << SDL_GetError();
    }
    SDL_JoystickSetVirtualButton(stick, 2, SDL_PRESSED);
    SDL_JoystickSetVirtualHat(stick, 0, SDL_HAT_RIGHTUP);
    SDL_JoystickSetVirtualAxis(stick, 0, -32768);
    SDL_JoystickSetVirtualAxis(stick, 3, 32767);
    SDL_JoystickUpdate();
    feed(SDL_JOYDEVICEADDED, [](SDL_Event&) {});
    PlatInputState s = snapshot();
    ASSERT_EQ(s.padPresent, 1);
    EXPECT_EQ(s.padButtons[2], kPlatDown);
    EXPECT_EQ(s.padHat, 4500u);
    EXPECT_EQ(s.padAxes[0], -128);
    EXPECT_EQ(s.padAxes[3], 127);

    static SDL_JoystickID id;
    id = SDL_JoystickInstanceID(stick);
    feed(SDL_JOYHATMOTION, [](SDL_Event& e) { e.jhat.which = id, e.jhat.value = SDL_HAT_LEFT; });
    feed(SDL_JOYBUTTONUP, [](SDL_Event& e) { e.jbutton.which = id + 1, e.jbutton.button = 2; });  // another device
    s = snapshot();
    EXPECT_EQ(s.padHat, 27000u);
    EXPECT_EQ(s.padButtons[2], kPlatDown);

    // Unplugged, with no other pad to take its place.
    SDL_JoystickClose(stick);
    SDL_JoystickDetachVirtual(index);
    feed(SDL_JOYDEVICEREMOVED, [](SDL_Event& e) { e.jdevice.which = id; });
    EXPECT_EQ(snapshot().padPresent, 0);
    SDL_FlushEvents(SDL_JOYAXISMOTION, SDL_JOYDEVICEREMOVED);
    Plat_InputStop();
}

// A pad in SDL's mapping database, whose own numbering is not the engine's:
// every engine button, the cross as the hat and the sticks come by place.
TEST(PlatInput, KnownPadIsReadByPlace) {
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    Plat_InputStart();
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = "engine test pad";
    int index = SDL_JoystickAttachVirtualEx(&desc);
    SDL_Joystick* stick = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
    if (!stick || !SDL_IsGameController(index)) {
        if (stick) SDL_JoystickClose(stick);
        Plat_InputStop();
        GTEST_SKIP() << "no virtual game controller: " << SDL_GetError();
    }
    // SDL gives a virtual controller the layout a:b0, b:b1, x:b2, ... in the
    // order of its button names; the engine's numbering is another.
    auto press = [stick](SDL_GameControllerButton b, bool on) {
        SDL_JoystickSetVirtualButton(stick, b, on ? SDL_PRESSED : SDL_RELEASED);
    };
    static SDL_JoystickID id;
    id = SDL_JoystickInstanceID(stick);
    feed(SDL_JOYDEVICEADDED, [](SDL_Event&) {});
    const SDL_GameControllerButton byEngineButton[] = {
        SDL_CONTROLLER_BUTTON_X,          SDL_CONTROLLER_BUTTON_A,         SDL_CONTROLLER_BUTTON_B,
        SDL_CONTROLLER_BUTTON_Y,          SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
        SDL_CONTROLLER_BUTTON_INVALID,    SDL_CONTROLLER_BUTTON_INVALID,   SDL_CONTROLLER_BUTTON_BACK,
        SDL_CONTROLLER_BUTTON_START,      SDL_CONTROLLER_BUTTON_LEFTSTICK, SDL_CONTROLLER_BUTTON_RIGHTSTICK,
        SDL_CONTROLLER_BUTTON_GUIDE};
    for (int i = 0; i < kPlatPadButtons; ++i) {
        if (byEngineButton[i] == SDL_CONTROLLER_BUTTON_INVALID) continue;
        press(byEngineButton[i], true);
        SDL_JoystickUpdate();
        feed(SDL_CONTROLLERBUTTONDOWN, [](SDL_Event& e) { e.cbutton.which = id; });
        PlatInputState s = snapshot();
        ASSERT_EQ(s.padPresent, 1);
        for (int j = 0; j < kPlatPadButtons; ++j) EXPECT_EQ(s.padButtons[j], j == i ? kPlatDown : 0) << i << " " << j;
        press(byEngineButton[i], false);
    }
    // Triggers beyond half way are buttons 6 and 7; the cross is the hat;
    // the sticks are the four axes.
    SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
    SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -16000);  // a quarter of the way
    SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_LEFTX, -32768);
    SDL_JoystickSetVirtualAxis(stick, SDL_CONTROLLER_AXIS_RIGHTY, 32767);
    press(SDL_CONTROLLER_BUTTON_DPAD_DOWN, true);
    press(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    SDL_JoystickUpdate();
    feed(SDL_CONTROLLERAXISMOTION, [](SDL_Event& e) { e.caxis.which = id; });
    PlatInputState s = snapshot();
    EXPECT_EQ(s.padButtons[6], kPlatDown);
    EXPECT_EQ(s.padButtons[7], 0);
    EXPECT_EQ(s.padHat, 22500u);
    EXPECT_EQ(s.padAxes[0], -128);
    EXPECT_EQ(s.padAxes[1], 0);
    EXPECT_EQ(s.padAxes[3], 127);
    // The raw events of a known pad say nothing of its layout.
    feed(SDL_JOYBUTTONDOWN, [](SDL_Event& e) { e.jbutton.which = id, e.jbutton.button = 0; });
    EXPECT_EQ(snapshot().padButtons[0], 0);

    SDL_JoystickClose(stick);
    SDL_JoystickDetachVirtual(index);
    feed(SDL_JOYDEVICEREMOVED, [](SDL_Event& e) { e.jdevice.which = id; });
    EXPECT_EQ(snapshot().padPresent, 0);
    SDL_FlushEvents(SDL_JOYAXISMOTION, SDL_CONTROLLERSENSORUPDATE);
    Plat_InputStop();
}

// A device SDL does not know becomes a known pad when SDL_GAMECONTROLLERCONFIG
// (read when the pads are opened) gives its layout: its button 5 is then the
// east button, engine button 2.
TEST(PlatInput, LayoutFromTheEnvironmentIsUsed) {
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    // The device's id, as a mapping names it (without the name's checksum).
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 4, 13, 1);
    char guid[64] = "";
    if (index >= 0) SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(index), guid, sizeof guid);
    if (index >= 0) SDL_JoystickDetachVirtual(index);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    if (index < 0) GTEST_SKIP() << "no virtual joystick: " << SDL_GetError();
    guid[4] = guid[5] = guid[6] = guid[7] = '0';
    std::string mapping = std::string(guid) + ",Engine test stick,a:b1,b:b5,x:b0,y:b3,leftx:a0,lefty:a1,";
    setenv("SDL_GAMECONTROLLERCONFIG", mapping.c_str(), 1);
    Plat_InputStart();
    unsetenv("SDL_GAMECONTROLLERCONFIG");
    index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 4, 13, 1);
    SDL_Joystick* stick = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
    ASSERT_NE(stick, nullptr);
    SDL_JoystickSetVirtualButton(stick, 5, SDL_PRESSED);
    SDL_JoystickUpdate();
    feed(SDL_JOYDEVICEADDED, [](SDL_Event&) {});
    PlatInputState s = snapshot();
    EXPECT_EQ(s.padPresent, 1);
    EXPECT_EQ(s.padButtons[2], kPlatDown);
    EXPECT_EQ(s.padButtons[5], 0);

    SDL_JoystickClose(stick);
    SDL_JoystickDetachVirtual(index);
    SDL_FlushEvents(SDL_JOYAXISMOTION, SDL_CONTROLLERSENSORUPDATE);
    Plat_InputStop();
}
}  // namespace
