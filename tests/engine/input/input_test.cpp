#include "engine/input/input.h"

#include <gtest/gtest.h>

#include "app/app_window.h"
#include "engine/core/engine_state.h"
#include "engine/render/renderer.h"
#include "platform/plat_input.h"

namespace {
// Each engine button with its keys (DIK codes, 0 none) and pad button (-1 none).
struct Row {
    uint32_t bit;
    uint8_t key, key2;
    int pad;
};
const Row kRows[] = {
    {0x1, 0x2C, 0x1C, 2},  {0x2, 0x2D, 0x0E, 1},  {0x4, 0x1F, 0, 3},     {0x8, 0x2E, 0, 0},     {0x10, 0x3B, 0, 10},
    {0x20, 0x3C, 0, 11},   {0x40, 0x1E, 0x2A, 4}, {0x80, 0x20, 0x36, 5}, {0x100, 0x10, 0, 6},   {0x200, 0x11, 0, 7},
    {0x400, 0x12, 0, 9},   {0x800, 0x1D, 0, 8},   {0x1000, 0xCB, 0, -1}, {0x2000, 0xC8, 0, -1}, {0x4000, 0xCD, 0, -1},
    {0x8000, 0xD0, 0, -1}, {0x10000, 0x01, 0, 12}, {0x20000, 0x3D, 0, -1}, {0x40000, 0x0F, 0, -1},
};

class Input : public ::testing::Test {
  protected:
    void SetUp() override {
        savedIni = Main_SystemIniGet();
        savedRenderer = *Lib_GetRenderer();
        setWidth(1280);
        Lib_RunStateReset();
        Lib_InputInit();
        idle = Plat_InputIdle();
        idle.focus = 1;
        idle.mouseX = idle.mouseY = 100;
    }
    void TearDown() override {
        Lib_InputEnd();
        InputButtons = InputButtonSets{0, 0};
        Plat_InputInject(Plat_InputIdle());
        Main_SystemIniSet(savedIni);
        *Lib_GetRenderer() = savedRenderer;
        Lib_RunStateReset();
    }
    static void setWidth(uint32_t w) {
        SystemIni ini = Main_SystemIniGet();
        ini.width = w;
        Main_SystemIniSet(ini);
    }
    static void frame(const PlatInputState& s) {
        Plat_InputInject(s);
        Lib_InputPoll();
        Lib_InputPollMouse();
    }
    PlatInputState idle;
    SystemIni savedIni;
    Renderer* savedRenderer = nullptr;
};

TEST_F(Input, EveryKeyAndPadButtonPressesOnceAndHoldsForThreeFrames) {
    for (const Row& row : kRows) {
        for (int source = 0; source < 4; ++source) {  // first key, second key, both keys, pad
            if ((source == 1 || source == 2) ? !row.key2 : source == 3 && row.pad < 0) continue;
            PlatInputState s = idle;
            if (source != 1 && source != 3) s.keys[row.key] = kPlatDown;
            if (source == 1 || source == 2) s.keys[row.key2] = kPlatDown;
            if (source == 3) s.padPresent = 1, s.padButtons[row.pad] = kPlatDown;
            for (int f = 0; f < 3; ++f) {
                frame(s);
                EXPECT_EQ(InputButtons.pressed, f == 0 ? row.bit : 0u) << std::hex << row.bit << " source " << source;
                EXPECT_EQ(InputButtons.held, row.bit) << std::hex << row.bit << " source " << source;
                EXPECT_EQ(InputActivity, source == 3 ? 2 : 1);
                EXPECT_EQ(Main_WindowKeysNewlyPressed(), f == 0 ? (row.bit & 0x30) : 0u);
            }
            frame(idle);
            EXPECT_EQ(InputButtons.held | InputActivity, 0u);
        }
        EXPECT_EQ(Lib_InputKeyCode(0, row.bit, 1), row.key2 ? row.key2 : row.key);
        EXPECT_EQ(Lib_InputKeyCode(1, row.bit, 0), uint32_t(std::max(row.pad, 0)));
    }
    // An axis key is keyboard use without a button.
    PlatInputState s = idle;
    s.keys[0x57] = kPlatDown;  // F11
    frame(s);
    EXPECT_EQ(InputButtons.held, 0u);
    EXPECT_EQ(InputActivity, 1);
    EXPECT_EQ(Lib_InputKeyCode(0, BUTTON_AXIS_KEY, 7), 0x57u);
}

TEST_F(Input, HatDirectionsAndARestingStick) {
    const uint32_t hats[][2] = {{0, 0x2000},     {4500, 0x6000},  {9000, 0x4000},  {13500, 0xC000}, {18000, 0x8000},
                                {22500, 0x9000}, {27000, 0x1000}, {31500, 0x3000}, {kPlatHatCentred, 0}};
    PlatInputState s = idle;
    s.padPresent = 1;
    for (auto& h : hats) {
        s.padHat = h[0];
        frame(s);
        EXPECT_EQ(InputButtons.held, h[1]) << h[0];
    }
    s.padAxes[3] = -1;  // no dead zone: pad use, no button
    frame(s);
    EXPECT_EQ(InputButtons.held, 0u);
    EXPECT_EQ(InputActivity, 2);
}

TEST_F(Input, ClickPhasesRightReleaseAndLateWheel) {
    const int32_t phases[] = {1, 2, 2, 3, 0};
    PlatInputState s = idle;
    for (int f = 0; f < 5; ++f) {
        s.mouseButtons[0] = f < 3 ? kPlatDown : 0;
        frame(s);
        EXPECT_EQ(MouseInput.clickPhase, phases[f]);
        EXPECT_EQ(MouseInput.clickButton, f < 4 ? 0 : -1);
    }
    // The right button gives cancel in both sets on its release only; X
    // pressed in the next frame is then not newly pressed.
    const uint8_t right[] = {kPlatDown, 0, 0}, x[] = {0, 0, kPlatDown};
    const uint32_t pressed[] = {0, 0x2, 0}, held[] = {0, 0x2, 0x2};
    for (int f = 0; f < 3; ++f) {
        s.mouseButtons[1] = right[f], s.keys[0x2D] = x[f];
        frame(s);
        EXPECT_EQ(InputButtons.pressed, pressed[f]);
        EXPECT_EQ(InputButtons.held, held[f]);
    }
    s.keys[0x2D] = 0;
    // A wheel step shows in both sets one frame after it was read.
    const int32_t wheel[] = {1, 0, 0, -2, 0};
    const uint32_t bits[] = {0, 0x2000, 0, 0, 0x8000};
    for (int f = 0; f < 5; ++f) {
        s.wheel = wheel[f];
        frame(s);
        EXPECT_EQ(InputButtons.pressed, bits[f]) << f;
        EXPECT_EQ(InputButtons.held, bits[f]) << f;
    }
    const InputRect rect{90, 90, 110, 110};
    EXPECT_EQ(Lib_InputMouseInRect(0, &rect), 2);
    s.mouseX = 111;
    frame(s);
    EXPECT_EQ(Lib_InputMouseInRect(0, &rect), 3);
}

TEST_F(Input, CursorWindowedLetterboxedAndParked) {
    PlatInputState s = idle;
    s.mouseX = 960, s.mouseY = 540;
    setWidth(1920);
    frame(s);
    EXPECT_EQ(MouseInput.x, 640);
    EXPECT_EQ(MouseInput.y, 360);

    // Full screen on 1920×1200: the picture starts 60 rows down.
    Renderer fake{};
    fake.viewport[1] = 60, fake.viewport[2] = 1920, fake.viewport[3] = 1080;
    *Lib_GetRenderer() = &fake;
    WindowFlags.store(WINDOW_FULLSCREEN_ON);
    s.mouseY = 600;
    frame(s);
    EXPECT_EQ(MouseInput.x, 640);
    EXPECT_EQ(MouseInput.y, 360);

    // A width of 0, of the viewport or in system.ini, counts as 1280.
    fake.viewport[2] = 0;
    frame(s);
    EXPECT_EQ(MouseInput.y, 540);
    WindowFlags.store(0);
    setWidth(0);
    frame(s);
    EXPECT_EQ(MouseInput.y, 600);

    // A pad button held beyond its first frame parks the pointer at (0, 730).
    setWidth(1920);
    s.padPresent = 1, s.padButtons[2] = kPlatDown;
    frame(s);
    frame(s);
    Plat_InputSnapshot(&s);
    EXPECT_EQ(s.mouseX, 0);
    EXPECT_EQ(s.mouseY, 1095);
}

TEST_F(Input, LeavingTheScreenOrLosingFocusClearsThePointerOnce) {
    PlatInputState s = idle;
    s.mouseButtons[0] = kPlatDown;
    frame(s);
    frame(s);
    for (int32_t away : {1280, kPlatPointerAway}) {
        s.mouseX = away;
        frame(s);
        EXPECT_EQ(MouseInput.active, 0);
        EXPECT_EQ(MouseInput.x | MouseInput.y | MouseInput.prevX | MouseInput.prevY | MouseInput.clickPhase, 0);
        EXPECT_EQ(MouseInput.clickButton, -1);
        s.mouseX = 50;
        frame(s);
        EXPECT_EQ(MouseInput.active, 1);
        EXPECT_EQ(MouseInput.x, 50);
        EXPECT_EQ(MouseInput.prevX, 0);
    }
    // Without the focus nothing is read.
    s.keys[0x2C] = kPlatDown;
    s.focus = 0;
    frame(s);
    EXPECT_EQ(InputButtons.held | InputActivity | MouseInput.active | MouseInput.x, 0u);
    EXPECT_EQ(MouseInput.clickButton, -1);
    s.focus = 1;
    frame(s);
    EXPECT_EQ(InputButtons.pressed, 0x1u);
    EXPECT_EQ(MouseInput.active, 1);
}
}  // namespace
