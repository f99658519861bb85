// The message window on the stage harness with the sample's story sheet: its
// parts opened at once or faded in, closed at once or faded out as one, a
// rendered window against its reference picture, and the scroll bar beside a
// message longer than the window.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/input/input.h"
#include "script/markup.h"
#include "script/message.h"
#include "script/msg_scroll.h"
#include "script/msg_window.h"
#include "story/story_screen.h"
#include "script/script_host.h"
#include "tests/script/markup_env.h"
#include "tests/script/stage_table.h"
#include "ui/move_alpha.h"
#include "ui/scroll_bar.h"
#include "ui/screen_slots.h"

namespace {

class MsgWindow : public MarkupEnv {
public:
    StageRecord& Stage() { return GameStateBlock.stage; }
    static int32_t Sprite(uint32_t s) { return GSL_WorkLayerGet(GSL_StoryModeCB, s); }
    static TextRecord* Text(uint32_t s) {
        const int32_t h = GSL_WorkTextGet(GSL_StoryModeCB, s);
        return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
    }
    static uint32_t Alpha(int32_t sprite) { return Lib_SpriteGetColor(sprite) >> 24; }
    // The sample's story sheet in layer slot 31.
    void Sheet() {
        ASSERT_TRUE(SampleData());
        GSL_WorkLayerLoad(GSL_StoryModeCB, kStorySheetSlot, -1, "visual/system/sys_adv_00.ext", -1, 1, nullptr,
                          nullptr);
        ASSERT_TRUE(FramesUntil([] { return GSL_WorkLayersReady(GSL_StoryModeCB); }, 30, "the sheet"));
    }
    // Frames (with the texts laid out when asked) until pred holds.
    bool Until(const std::function<bool()>& pred, int limit) {
        for (int i = 0; i < limit && !pred(); ++i) Frame();
        return pred();
    }
    // A story script that stands at a busy wait.
    void Idle() {
        Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
        ASSERT_TRUE(Scripts({{"m.txt", "<wait>\n"}}));
        Start("m.txt");
        Frame(2);
    }
    void ExpectPart(uint32_t layer, const int32_t (&rect)[4], float x, float y, int32_t prio, uint32_t colour,
                    uint8_t shown) {
        const int32_t s = Sprite(layer);
        ASSERT_GE(s, 0) << layer;
        const SpriteRecord& r = SpriteTable[s];
        EXPECT_EQ(std::vector<int32_t>(r.srcRect, r.srcRect + 4), std::vector<int32_t>(rect, rect + 4)) << layer;
        EXPECT_EQ(r.posX, x) << layer;
        EXPECT_EQ(r.posY, y) << layer;
        EXPECT_EQ(r.priority, prio) << layer;
        EXPECT_EQ(r.subPriority, -1) << layer;
        EXPECT_EQ(r.color, colour) << layer;
        EXPECT_EQ(r.visible, shown) << layer;
    }
};

TEST_F(MsgWindow, OpensAtOnceFromTheSheetAndClosesAtOnce) {
    Sheet();
    Idle();
    SystemDataBlock.windowOpacity = 60;
    LayerSprite(9, SPRITE_IN_USE | SPRITE_READY, 16, 16).captureEntry = -1;
    for (const bool name : {true, false}) {
        if (name) GSL_WorkTextSet(GSL_StoryModeCB, kMessageNameText, -1, "Welm");
        openSet(0);
        EXPECT_EQ(Stage().openTask, -1);
        ExpectPart(24, {8, 8, 1280, 240}, 0.0f, -240.0f, 9700000, 0x99FFFFFFu, 0);
        ExpectPart(25, {8, 8, 1280, 240}, 0.0f, -240.0f, 9700000, 0x99FFFFFFu, 1);
        ExpectPart(26, {8, 512, 632, 64}, -315.0f, -139.0f, 8499001, 0x99FFFFFFu, name ? 1 : 0);
        ExpectPart(29, {1064, 888, 48, 48}, 395.0f, -310.0f, 8499000, 0x00FFFFFFu, 0);
        ExpectPart(27, {1008, 888, 48, 48}, 600.0f, -183.0f, 9699000, 0xFFF0F0F0u, 1);
        ExpectPart(28, {952, 888, 48, 48}, 600.0f, -335.0f, 9699000, 0xFFF0F0F0u, 1);
        EXPECT_EQ(std::vector<int32_t>(SpriteTable[Sprite(29)].clipRect, SpriteTable[Sprite(29)].clipRect + 4),
                  (std::vector<int32_t>{0, 532, 1280, 174}));
        EXPECT_EQ(Lib_SpriteGetColor(Sprite(9)), 0xFFFFFFFFu);
        EXPECT_EQ(Lib_SpriteGetFlag(Sprite(9)), 1);
        EXPECT_EQ(Stage().layerVisible[9], 1);
        if (name) {
            EXPECT_TRUE(Text(kMessageNameText)->state & TEXT_STATE_DRAWN);
            EXPECT_TRUE(MatchesTable("window_open_60"));
        }
        // Closed at once: every part and text released, layer 9 hidden.
        closeSet(0);
        for (uint32_t s : {24u, 25u, 26u, 27u, 28u, 29u}) EXPECT_LT(Sprite(s), 0) << s;
        EXPECT_EQ(Text(kMessageNameText), nullptr);
        EXPECT_EQ(Lib_SpriteGetFlag(Sprite(9)), 0);
        EXPECT_EQ(Stage().layerVisible[9], 0);
    }
    // With no window a close over frames starts no task; skipping opens at once.
    closeSet(10);
    EXPECT_EQ(Stage().closeTask, -1);
    EXPECT_TRUE(Tasks(closeCB).empty());
    SystemDataBlock.skipAll = 1;
    StoryPlayMode = 1;
    openSet(10);
    StoryPlayMode = 0;
    EXPECT_TRUE(Tasks(openCB).empty());
    EXPECT_EQ(Lib_SpriteGetColor(Sprite(25)), 0x99FFFFFFu);
    closeSet(0);
}

TEST_F(MsgWindow, OpenFadesInAndCloseDuringItCompletesItFirst) {
    Sheet();
    Idle();
    SystemDataBlock.windowOpacity = 60;
    LayerSprite(9, SPRITE_IN_USE | SPRITE_READY, 16, 16).captureEntry = -1;
    openSet(10);
    const int32_t task = Stage().openTask;
    ASSERT_GE(task, 0);
    EXPECT_EQ(Alpha(Sprite(25)), 0u);
    openSet(10);  // ignored while the open runs
    EXPECT_EQ(Tasks(openCB), std::vector<int32_t>{task});
    std::vector<uint32_t> window, layer9;
    for (int i = 0; i < 16 && Stage().openTask >= 0; ++i) {
        Frame();
        window.push_back(Alpha(Sprite(25)));
        layer9.push_back(Alpha(Sprite(9)));
    }
    EXPECT_EQ(Stage().openTask, -1);
    ASSERT_GE(window.size(), 10u);
    EXPECT_TRUE(std::is_sorted(window.begin(), window.end()));
    EXPECT_TRUE(std::is_sorted(layer9.begin(), layer9.end()));
    EXPECT_GT(window[window.size() / 2], 0u);
    EXPECT_LT(window[window.size() / 2], 153u);
    EXPECT_EQ(window.back(), 153u);
    EXPECT_EQ(layer9.back(), 255u);
    EXPECT_TRUE(Tasks(GSL_SystemAlphaCB).empty());

    // A close during an open: the open is completed, then the close runs.
    closeSet(0);
    openSet(10);
    Frame(3);
    ASSERT_GE(Stage().openTask, 0);
    closeSet(0);
    EXPECT_EQ(Stage().openTask, -1);
    EXPECT_TRUE(Tasks(openCB).empty());
    EXPECT_LT(Sprite(25), 0);
    // An open during a close completes the close, then builds anew.
    openSet(0);
    closeSet(10);
    ASSERT_GE(Stage().closeTask, 0);
    Frame();
    EXPECT_LT(Sprite(27), 0);  // the small parts go on the close's first frame
    EXPECT_GE(Sprite(25), 0);
    openSet(0);
    EXPECT_EQ(Stage().closeTask, -1);
    EXPECT_EQ(Lib_SpriteGetColor(Sprite(25)), 0x99FFFFFFu);
    Frame(2);
    EXPECT_TRUE(Tasks(GSL_SystemAlphaCB).empty());
}

TEST_F(MsgWindow, StaleTaskIdsDoNotBlockTheWindow) {
    // Ids kept in a saved stage, or left by tasks removed with their screen,
    // name no fade task: the window opens and closes as if there were none.
    Sheet();
    Idle();
    SystemDataBlock.windowOpacity = 100;
    Stage().openTask = Stage().closeTask = slot;  // the script task's slot
    EXPECT_FALSE(GSL_WindowOpening());
    openSet(0);
    EXPECT_EQ(Stage().openTask, -1);
    EXPECT_EQ(Lib_SpriteGetColor(Sprite(25)), 0xFFFFFFFFu);
    Stage().closeTask = slot;
    closeSet(0);
    EXPECT_LT(Sprite(25), 0);
    EXPECT_EQ(Stage().closeTask, -1);
}

// The brightest channel in a box of a rendered frame.
int Peak(const Image& img, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    int peak = 0;
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) {
            const Bgra p = img.at(uint32_t(x), uint32_t(y));
            peak = std::max({peak, int(p.r), int(p.g), int(p.b)});
        }
    return peak;
}

TEST_F(MsgWindow, TheOpenedWindowRendersAndTheIconIsCutAtTheStrip) {
    Sheet();
    ASSERT_TRUE(Fonts(1));
    drawTexts = true;
    SystemDataBlock.windowOpacity = 100;
    SystemDataBlock.textSpeed = 100;
    ASSERT_TRUE(Scripts({{"m.txt", "<name Welm>\n<text The first line of the message#nand the second one.>\n"
                                    "<keywait 1>\n"}}));
    Start("m.txt");
    ASSERT_TRUE(Until([] { return Sprite(29) >= 0 && Alpha(Sprite(29)) == 255; }, 120));
    EXPECT_TRUE(MatchesReference("message_window_open"));

    // An icon below the strip is cut at y 706.
    const int32_t icon = Sprite(29);
    SpriteTable[icon].posY = -346.0f;  // its centre on row 706
    const int32_t x0 = int32_t(SpriteTable[icon].posX) + 640 - 20, x1 = x0 + 40;
    const Image with = Render();
    Lib_SpriteSetFlag(icon, 0);
    const Image without = Render();
    int above = 0, below = 0;
    for (int32_t y = 690; y < 720; ++y)
        for (int32_t x = x0; x < x1; ++x) {
            const Bgra a = with.at(uint32_t(x), uint32_t(y)), b = without.at(uint32_t(x), uint32_t(y));
            const bool differs = a.r != b.r || a.g != b.g || a.b != b.b;
            (y <= 705 ? above : below) += differs ? 1 : 0;
        }
    EXPECT_GT(above, 40);
    EXPECT_EQ(below, 0);
}

TEST_F(MsgWindow, CloseFadesTheWholeMessageAsOne) {
    Sheet();
    ASSERT_TRUE(Fonts(1));
    drawTexts = true;
    SystemDataBlock.windowOpacity = 0;  // black behind the text
    SystemDataBlock.textEffectOff = 1;  // no edge
    SystemDataBlock.textSpeed = 60;     // 10 frames a character, each fading in
    Handler(132, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });
    ASSERT_TRUE(Scripts({{"m.txt", "<font size:15,color:FFFFFF>\n<text HHHHHHHHHHHH>\n<wait>\n"}}));
    Start("m.txt");
    Frame(2);
    openSet(0);
    TextRecord* text = Text(kMessageFirstText);
    ASSERT_NE(text, nullptr);
    ASSERT_TRUE(Until([&] { return text->revealed >= 6; }, 200));
    // The lit columns of the message's row: the first and the last glyph.
    auto glyphs = [&](const Image& img) {
        int32_t first = -1, last = -1;
        for (int32_t x = 100; x < 1200; ++x)
            if (Peak(img, x, x + 1, 540, 640) > 8) {
                if (first < 0) first = x;
                last = x;
            }
        return std::pair<int, int>(first < 0 ? 0 : Peak(img, first, first + 6, 540, 640),
                                   last < 0 ? 0 : Peak(img, last - 5, last + 1, 540, 640));
    };
    const auto before = glyphs(Render());
    EXPECT_GT(before.first, before.second + 40);  // the newest glyph still fades in
    closeSet(20);
    Frame(2);
    int previous = 256;
    for (int i = 0; i < 6; ++i) {
        const auto now = glyphs(Render());
        EXPECT_NEAR(now.first, now.second, 3) << i;
        EXPECT_LT(now.first, previous) << i;
        previous = now.first;
        Frame(2);
    }
    EXPECT_GT(previous, 0);
    ASSERT_TRUE(Until([&] { return Stage().closeTask < 0; }, 30));
    EXPECT_EQ(Text(kMessageFirstText), nullptr);
}

// --- the scroll bar ----------------------------------------------------------

class MsgScroll : public MsgWindow {
public:
    // A one-line message at its wait, the window open and the bar laid out;
    // EndAt() then moves the message's end.
    void Message() {
        Sheet();
        FixedAdvances();
        drawTexts = true;
        SystemDataBlock.textSpeed = 100;
        ASSERT_TRUE(Scripts({{"m.txt", "<text a>\n<keywait 1>\n<text next>\n<keywait 2>\n"}}));
        Start("m.txt");
        ASSERT_TRUE(Until([] { return Sprite(29) >= 0 && Lib_SpriteGetFlag(Sprite(29)) == 1; }, 60));
    }
    // Moves the message's end to y through the text offset the end is read with.
    void EndAt(int32_t y) {
        Stage().textOffsetY = 0;
        float at[3];
        GSL_TextPageMake(at, &Work()->context);
        Stage().textOffsetY = y - int32_t(at[1]);
    }
    static ScrollBarWork* Bar() {
        const std::vector<int32_t> bars = Tasks(GSL_SystemBarCB);
        return bars.size() == 1 ? GSL_SystemBarWork(bars[0]) : nullptr;
    }
    static int32_t TextY() { return Text(kMessageFirstText) ? Text(kMessageFirstText)->y : 0; }
};

TEST_F(MsgScroll, ShowsOnlyForMoreThanOnePixelOfOverflow) {
    Message();
    ASSERT_NE(Bar(), nullptr);
    EndAt(-311);
    Frame(3);
    EXPECT_FALSE(Stage().scrollFlags & 2);
    EXPECT_EQ(Bar()->shown, 0u);
    EndAt(-312);
    Frame(2);
    EXPECT_TRUE(Stage().scrollFlags & 2);
    EXPECT_EQ(Bar()->shown, 1u);
    EXPECT_EQ(Bar()->minimum, 1);
    EXPECT_EQ(Bar()->maximum, 2);
    EXPECT_EQ(Bar()->flags & BAR_NO_ARROWS, BAR_NO_ARROWS);
    EXPECT_EQ(Bar()->drawMode, 2u);
}

TEST_F(MsgScroll, KeysScrollFourPixelsAFrameWithinTheOverflow) {
    Message();
    StartInput();
    EndAt(-320);  // 10 pixels below the window
    Frame(2);
    ASSERT_TRUE(Stage().scrollFlags & 2);
    std::vector<int32_t> ys;
    Hold(BUTTON_DOWN);
    for (int i = 0; i < 4; ++i) Frame(), ys.push_back(TextY());
    Release(BUTTON_DOWN);
    Hold(BUTTON_UP);
    for (int i = 0; i < 4; ++i) Frame(), ys.push_back(TextY());
    Release(BUTTON_UP);
    EXPECT_EQ(ys, (std::vector<int32_t>{-554, -550, -548, -548, -552, -556, -558, -558}));
    EXPECT_EQ(Text(kMessageFirstText)->x, 110);
}

TEST_F(MsgScroll, AKnobDragScrollsInDoubleStepsAndItsReleaseMovesNothing) {
    Message();
    StartInput();
    EndAt(-410);  // an overflow of 100
    Frame(3);
    ASSERT_TRUE(Stage().scrollFlags & 2);
    int32_t knob[4], track[4];
    const int32_t bar = Tasks(GSL_SystemBarCB)[0];
    GSL_SystemBarGetRect(knob, bar, BAR_KNOB);
    GSL_SystemBarGetRect(track, bar, BAR_TRACK);
    ASSERT_GT(track[3], track[1]);
    const float cell = float(track[3] - track[1]) / 100.0f;
    const int32_t x = knob[2] + 20, y = (knob[1] + knob[3]) / 2;  // beside the knob, within its margin
    Pointer(x, y);
    Frame();
    Left(true);
    Frame();
    EXPECT_EQ(Stage().scrollIdle, 0);
    EXPECT_EQ(TextY(), -558);
    Pointer(x, y + 20);
    Frame();
    const int32_t first = std::min(100, 2 * int32_t(20.0f / cell));
    EXPECT_EQ(TextY(), -558 + first);
    Pointer(x, y + 50);
    Frame();
    const int32_t second = std::min(100, first + 2 * int32_t(30.0f / cell));
    EXPECT_EQ(TextY(), -558 + second);
    Left(false);
    Frame();
    EXPECT_EQ(Stage().scrollIdle, 1);
    EXPECT_EQ(TextY(), -558 + second);
    EXPECT_TRUE(Work()->script.status & SCRIPT_PLAYER_WAIT);  // a drag is no click
    // Leaving the screen ends a drag the same way.
    GSL_SystemBarGetRect(knob, bar, BAR_KNOB);
    Pointer(knob[0], (knob[1] + knob[3]) / 2);
    Frame();
    Left(true);
    Frame();
    EXPECT_EQ(Stage().scrollIdle, 0);
    Pointer(x, 800);
    Frame();
    EXPECT_EQ(Stage().scrollIdle, 1);
    EXPECT_EQ(TextY(), -558 + second);
    Left(false);
    Frame();
}

TEST_F(MsgScroll, TheBarHidesAfterTheWaitAndTheNextMessageStartsAtTheTop) {
    Message();
    StartInput();
    EndAt(-330);
    Frame(2);
    Hold(BUTTON_DOWN);
    Frame(2);
    Release(BUTTON_DOWN);
    EXPECT_EQ(TextY(), -550);
    Confirm();
    Stage().textOffsetY = 0;  // the next message fits
    Frame();
    EXPECT_FALSE(Stage().scrollFlags & 2);
    EXPECT_EQ(Bar()->shown, 0u);
    // The next message, again too long, shows the bar from the top.
    ASSERT_TRUE(Until([] { return Sprite(29) >= 0 && Lib_SpriteGetFlag(Sprite(29)) == 1; }, 60));
    EndAt(-330);
    Frame(2);
    EXPECT_TRUE(Stage().scrollFlags & 2);
    EXPECT_EQ(Bar()->shown, 1u);
    EXPECT_EQ(TextY(), -558);
}

TEST_F(MsgScroll, NoNewBarWhileSkippingAndOneBarPerScriptStart) {
    Message();
    SystemDataBlock.skipAll = 1;
    StoryPlayMode = 1;
    Handler(12, [](CommandContext* c) { c->script->status |= SCRIPT_BUSY; });  // the wait stands
    EndAt(-330);
    Frame(3);
    EXPECT_FALSE(Stage().scrollFlags & 2);
    StoryPlayMode = 0;
    Frame(2);
    EXPECT_TRUE(Stage().scrollFlags & 2);
    // A second start replaces the task and its bar: one of each, laid out,
    // and it shows for the new script's message.
    Start("m.txt");
    ASSERT_TRUE(Until([] { return Sprite(29) >= 0 && Lib_SpriteGetFlag(Sprite(29)) == 1; }, 60));
    EXPECT_EQ(Tasks(ScrollBarCB), std::vector<int32_t>{MessageScrollTask});
    ASSERT_NE(Bar(), nullptr);
    ASSERT_TRUE(Until([] { return Bar()->flags & BAR_NO_ARROWS; }, 30));
    EXPECT_TRUE(Lib_SpriteIsLive(Sprite(32)));
    EXPECT_EQ(Bar()->flags & BAR_NO_ARROWS, BAR_NO_ARROWS);
    EndAt(-330);
    Frame(2);
    EXPECT_EQ(Bar()->shown, 1u);
}

}  // namespace
