// The special-scenario menu on the sample's sheets and buttons, through the
// screen harness and the full main initialisation, with a special.txt of
// the test's own in the script container: opened above an idle screen, it
// starts a scenario on the story screen and comes back when it ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/files/archive.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "extras/extras_screens.h"
#include "extras/special_menu.h"
#include "extras/special_table.h"
#include "script/flow.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "tests/engine/core/cached_file.h"
#include "tests/ui/screen_harness.h"
#include "ui/layout_table.h"
#include "ui/number_display.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/system_sound.h"

namespace {

std::string Scenario(bool withM5) {
    std::string s = "; the special scenarios of the test\n";
    for (int i = 1; i <= 15; ++i) {
        if (i == 5 && !withM5) continue;
        s += "*m" + std::to_string(i) + "\n<label>\n<wait 100>\n";
    }
    return s;
}

class SpecialMenuTest : public ScreenHarness {
protected:
    bool Start(bool withM5 = true) {
        if (!SampleData()) return false;
        Messages();
        StartFull();
        ModeStack[0] = nullptr;
        SetBody(0, [] {});
        if (!MakeContext(TestScreen(0))) return false;
        Frame();
        SystemDataBlock.specialUnlock = 0;
        std::memset(SystemDataBlock.systemVars, 0, sizeof SystemDataBlock.systemVars);
        SpecialScenarioFlag = 0;
        return Scripts(withM5);
    }
    // Packs special.txt with its label index and caches it as the script
    // container, in place of the sample's.
    static bool Scripts(bool withM5) {
        std::filesystem::create_directories("special/script.arc");
        std::ofstream("special/script.arc/special.txt", std::ios::binary) << Scenario(withM5);
        const std::string cmd = "python3 " VN_SOURCE_DIR
                                "/tools/pack.py script special/script.arc special/out.arc 2>/dev/null";
        return std::system(cmd.c_str()) == 0 && CacheFile("script/script.arc", "special/out.arc");
    }
    // The button container without button `omit`.
    static bool ButtonsWithout(int32_t omit) {
        SpecialEntry e;
        return GSL_SpecialGetEntry(&e, omit)->button[0] && CacheArcWithout(kSpecialThumbArc, e.button);
    }
    static bool CacheFile(const char* name, const char* path) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        return !bytes.empty() && CachedFilePut(name, bytes);
    }
    bool Open() {
        GSL_ModePush(GSL_SpecialModeCB, 0);
        return FramesUntil([] { return H() && W()->step == 2; }, 500, "the menu's main step");
    }
    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame();
    }
    // Presses a direction and waits out any scroll.
    void Go(uint32_t bits) {
        Press(bits);
        FramesUntil([] { return H()->scrollTask < 0; }, 20, "the scroll");
        Frame();
    }
    // Selects a button and waits out the scroll it causes.
    void Select(int32_t i) {
        H()->selected = i;
        Frame();
        FramesUntil([] { return H()->scrollTask < 0; }, 20, "the scroll");
        Frame();
    }
    static ScreenWork* W() { return GSL_WorkGet(GSL_SpecialModeCB); }
    static SpecialHead* H() { return GSL_SpecialHead(W()); }
    static std::string LastSe() { return SoundChannelTable[19 + (SystemSeRotation + 2) % 3].st.path; }
    static int32_t Slot(uint32_t n) { return GSL_WorkLayerGet(GSL_SpecialModeCB, n); }
    static bool RectIs(int32_t sprite, int32_t group, int32_t item) {
        LayoutRect r{};
        GSL_LayoutGetRect(&r, group, item);
        const SpriteRecord& s = SpriteTable[sprite];
        return s.srcRect[0] == r.x && s.srcRect[1] == r.y && s.srcRect[2] == r.width && s.srcRect[3] == r.height;
    }
    static void Unlock(int32_t n) {
        for (int32_t i = 0; i < n; ++i) SystemDataBlock.systemVars[i] = 1;
    }
};

TEST_F(SpecialMenuTest, NavigationCountUpAndScrolling) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Unlock(8);
    GSL_ModePush(GSL_SpecialModeCB, 0);
    ASSERT_TRUE(FramesUntil([] { return H() && W()->step == 1 && W()->subState == 3; }, 400, "the count-up"));
    std::vector<int32_t> values, ticks;
    for (int32_t f = 0; W()->step == 1 && f < 40; ++f) {
        const int32_t r = SystemSeRotation;
        const int32_t before = H()->counter;
        Frame();
        if (SystemSeRotation != r) ticks.push_back(before);
        if (W()->step == 1) values.push_back(GSL_SystemNumWork(H()->number)->value);
    }
    ASSERT_EQ(values.size(), 18u);
    EXPECT_EQ(values.front(), 3);
    EXPECT_EQ(values[16], 51);
    EXPECT_EQ(values.back(), 53);
    ASSERT_EQ(ticks.size(), 9u);
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(ticks[i], int32_t(i) * 6);
    EXPECT_EQ(W()->step, 2);
    // Unlocked buttons are the container's members, the others plates.
    for (int32_t i = 0; i < 15; ++i) {
        const int32_t b = Slot(uint32_t(7 + i));
        ASSERT_TRUE(Lib_SpriteIsLive(b)) << i;
        EXPECT_STREQ(W()->layers[7 + i].container, i < 8 ? kSpecialThumbArc : "") << i;
        if (i >= 8) {
            EXPECT_TRUE(RectIs(b, 8, 1)) << i;
        }
    }
    // The title track on channel 0, replayed on return.
    EXPECT_EQ(W()->sounds[0].handle, 0);
    EXPECT_EQ(W()->sounds[0].restoreKind, 1);
    EXPECT_EQ(W()->sounds[0].releaseFade, 30u);

    struct Case {
        int32_t from;
        uint32_t key;
        int32_t to;
    };
    const Case cases[] = {{11, BUTTON_DOWN, 14}, {14, BUTTON_DOWN, 2}, {3, BUTTON_UP, 14},
                          {2, BUTTON_UP, 14},    {14, 16384, 0},       {0, 4096, 14}};
    for (const Case& c : cases) {
        Select(c.from);
        Go(c.key);
        EXPECT_EQ(H()->selected, c.to) << c.from;
    }
    // Into the fourth row: the grid scrolls 150 px over 8 frames and the
    // bar one step; the first row scrolls back.
    Select(1);
    Select(5);
    ASSERT_EQ(H()->topRow, 0);
    const float y12 = SpriteTable[Slot(7 + 12)].posY;
    const float bar = GSL_SystemBarWork(H()->bar)->position;
    Press(BUTTON_DOWN);
    EXPECT_EQ(H()->selected, 9);
    EXPECT_EQ(H()->topRow, 0);
    Hold(BUTTON_DOWN);
    Frame();
    Release(BUTTON_DOWN);
    FramesUntil([] { return H()->scrollTask >= 0; }, 3, "the scroll's start");
    EXPECT_EQ(H()->selected, 13);
    EXPECT_EQ(H()->topRow, 1);
    int32_t frames = 0;
    while (H()->scrollTask >= 0 && frames < 20) {
        Frame();
        ++frames;
    }
    EXPECT_LE(frames, 9);
    EXPECT_FLOAT_EQ(SpriteTable[Slot(7 + 12)].posY, y12 + 150.0f);
    EXPECT_FLOAT_EQ(GSL_SystemBarWork(H()->bar)->position, bar + 1.0f);
    Select(1);
    EXPECT_EQ(H()->topRow, 0);
    EXPECT_FLOAT_EQ(SpriteTable[Slot(7 + 12)].posY, y12);
    EXPECT_EQ(GSL_SystemBarWork(H()->bar)->position, bar);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
}

TEST_F(SpecialMenuTest, NothingUnlockedPlatesZeroAndError) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Open());
    EXPECT_EQ(GSL_SystemNumWork(H()->number)->value, 0);
    for (int32_t i = 0; i < 15; ++i) EXPECT_TRUE(RectIs(Slot(uint32_t(7 + i)), 8, 1)) << i;
    Press(BUTTON_DECIDE);
    EXPECT_EQ(LastSe(), "error.wav");
    EXPECT_EQ(W()->step, 2);
    // The evaluation runs on opening only: [3] set now changes nothing here.
    SystemDataBlock.systemVars[3] = 1;
    Frame(3);
    EXPECT_FALSE(GSL_SpecialIsUnlocked(3));
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(GSL_SpecialIsUnlocked(3));
    const uint16_t bits = SystemDataBlock.specialUnlock;  // a packed field
    EXPECT_EQ(bits, 1u << 3);
    SystemDataBlock.systemVars[3] = 0;
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(GSL_SpecialIsUnlocked(3));
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
}

TEST_F(SpecialMenuTest, PointerSelectsThenLaunches) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Unlock(15);
    ASSERT_TRUE(Open());
    // Button 12 (-392, -295) lies below the band: no hover there.
    Pointer(248, 655);
    Frame(2);
    EXPECT_EQ(H()->selected, 0);
    // Button 1 at (-130, 155), screen (510, 205): the pointer entering it
    // selects it, a click on the selected button starts its scenario.
    Pointer(510, 205);
    Frame(2);
    EXPECT_EQ(H()->selected, 1);
    EXPECT_EQ(W()->step, 2);
    Click(510, 205);
    EXPECT_EQ(W()->step, 4);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_SpecialModeCB && W()->step == 2; }, 900,
                            "the menu back"));
    EXPECT_STREQ(GameStateBlock.scriptName, "special.txt");
    EXPECT_EQ(GameStateBlock.startOffset, uint32_t(GSL_InfoFind("special.txt", "*m2").offset));
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
}

TEST_F(SpecialMenuTest, LaunchAndReturnKeepTheMenuAsItWas) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Unlock(15);
    ASSERT_TRUE(Open());
    // Select entry 4 (*m5) from the second row after scrolling once.
    H()->selected = 12;
    Frame();
    FramesUntil([] { return H()->scrollTask < 0; }, 20, "the scroll");
    Frame();
    H()->selected = 4;
    Frame();
    EXPECT_EQ(H()->topRow, 1);
    FramesUntil([] { return H()->scrollTask < 0; }, 20, "the scroll");
    Frame();
    const float barBefore = GSL_SystemBarWork(H()->bar)->position;
    Press(BUTTON_DECIDE);
    ASSERT_EQ(W()->step, 4);
    const LabelRecord m5 = GSL_InfoFind("special.txt", "*m5");
    ASSERT_GT(m5.offset, 0u);
    EXPECT_STREQ(GameStateBlock.scriptName, "special.txt");
    EXPECT_EQ(GameStateBlock.startOffset, uint32_t(m5.offset));
    EXPECT_EQ(GameStateBlock.restartOffset, uint32_t(m5.offset));
    EXPECT_EQ(SpecialScenarioFlag, 1u);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_StoryModeCB; }, 60, "the story screen"));
    EXPECT_EQ(SpecialScenarioFlag, 1u);
    // The scenario ends; the menu comes back with its selection, top row,
    // bar, heading and the title track.
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_SpecialModeCB && W()->step == 4; }, 900,
                            "the menu restored"));
    EXPECT_EQ(SpecialScenarioFlag, 1u);
    ASSERT_TRUE(FramesUntil([] { return W()->step == 2; }, 120, "the fade-in"));
    EXPECT_EQ(SpecialScenarioFlag, 0u);
    EXPECT_EQ(H()->selected, 4);
    EXPECT_EQ(H()->topRow, 1);
    Frame(2);
    EXPECT_EQ(GSL_SystemBarWork(H()->bar)->position, barBefore);
    EXPECT_GE(GSL_WorkTextGet(GSL_SpecialModeCB, 0), 0);
    EXPECT_EQ(W()->sounds[0].handle, 0);
    EXPECT_NE(std::string(SoundChannelTable[0].st.path).find("uillmere.oggl"), std::string::npos);
    // The keys work again.
    Go(16384);
    EXPECT_EQ(H()->selected, 5);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
    EXPECT_EQ(GSL_ModeTop(), TestScreen(0));
}

TEST_F(SpecialMenuTest, ALabelTheIndexLacksStartsAtTheFileStart) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start(false));
    Unlock(15);
    ASSERT_TRUE(Open());
    H()->selected = 4;
    Frame();
    Press(BUTTON_DECIDE);
    ASSERT_EQ(W()->step, 4);
    EXPECT_EQ(GameStateBlock.startOffset, 0u);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_SpecialModeCB && W() && W()->step == 2; }, 1200,
                            "the menu back"));
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
}

// A launch that the full mode stack refuses: the menu comes back at once
// with working keys, and the flag is cleared again.
TEST_F(SpecialMenuTest, ALaunchOntoAFullStackComesBackAtOnce) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Unlock(15);
    for (int i = 1; i < kModeStackSize - 1; ++i) ModeStack[i] = TestScreen(0);
    ASSERT_TRUE(Open());
    ASSERT_EQ(GSL_ModeCount(), kModeStackSize);
    Press(BUTTON_DECIDE);
    ASSERT_EQ(W()->step, 4);
    EXPECT_EQ(SpecialScenarioFlag, 1u);
    ASSERT_TRUE(FramesUntil([] { return W()->step == 2; }, 120, "the menu back"));
    EXPECT_EQ(GSL_ModeTop(), GSL_SpecialModeCB);
    EXPECT_EQ(GSL_WorkGet(GSL_StoryModeCB), nullptr);
    EXPECT_EQ(SpecialScenarioFlag, 0u);
    Go(16384);
    EXPECT_EQ(H()->selected, 1);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
    for (int i = 1; i < kModeStackSize; ++i) ModeStack[i] = nullptr;
}

// A button missing from the container is a failed sprite; selecting it
// still brings the cursor to its place in the grid, scrolled.
TEST_F(SpecialMenuTest, AMissingButtonFailsAndTheCursorStillFindsItsPlace) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(ButtonsWithout(12));
    Unlock(15);
    ASSERT_TRUE(Open());
    EXPECT_TRUE(SpriteTable[Slot(7 + 12)].flags & SPRITE_FAILED);
    EXPECT_FALSE(SpriteTable[Slot(7 + 11)].flags & SPRITE_FAILED);
    Select(12);
    EXPECT_EQ(H()->topRow, 1);
    const SpriteRecord& cursor = SpriteTable[Slot(2)];
    EXPECT_EQ(cursor.posX, -392.0f);
    EXPECT_EQ(cursor.posY, 155.0f - 3 * 150.0f + 150.0f);
    Go(16384);
    EXPECT_EQ(H()->selected, 13);
    EXPECT_EQ(cursor.posX, -392.0f + 262.0f);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
}

TEST_F(SpecialMenuTest, ReferencePicture) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Fonts());
    Unlock(8);
    ASSERT_TRUE(Open());
    Frame(2);
    EXPECT_TRUE(MatchesReference("special_menu"));
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the menu closed"));
}

}  // namespace
