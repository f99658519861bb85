// The page swap behind a rule-image wipe with rendered frames: captured once
// when nothing moves, captured every frame over a running move with the back
// page lifted under the dissolving old picture.
#include <gtest/gtest.h>

#include "engine/render/sprite.h"
#include "script/effects.h"
#include "script/game_blocks.h"
#include "script/script_host.h"
#include "script/stage.h"
#include "script/wipe_fx.h"
#include "shaders/text_programs.h"
#include "story/story_screen.h"
#include "tests/script/stage_env.h"
#include "tests/script/stage_table.h"
#include "ui/screen_slots.h"
#include "ui/trans_num.h"
#include "ui/wipe.h"

namespace {

constexpr char kCharacter[] =
    "{\"format\": \"ext0\", \"size\": [320, 480], \"background\": \"#00000000\", \"shapes\": ["
    "{\"rect\": [40, 60, 240, 420], \"colour\": \"#3060d0ff\"}, {\"circle\": [160, 110, 70], \"colour\": "
    "\"#f0c090ff\"}]}";
constexpr char kRamp[] =
    "{\"format\": \"ext0\", \"size\": [128, 72], \"background\": \"#ffffff00\", \"shapes\": ["
    "{\"gradient\": [0, 0, 128, 72], \"from\": \"#ffffff00\", \"to\": \"#ffffffff\", \"direction\": "
    "\"vertical\"}]}";

class WipeTimeline : public StageEnv {
protected:
    void SetUp() override {
        StageEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(Files({Tool("image_data.py", "visual/adv/bg_grid.ext", "ext0 {} --size 1280 720"),
                           Tool("image_data.py", "visual/adv/bg_plain.ext",
                                "ext0 {} --size 1280 720 --pattern solid --colour 204878ff"),
                           Bytes("src/chara.pict", kCharacter), Bytes("src/ramp.pict", kRamp),
                           Tool("image_data.py", "visual/adv/chara.ext", "pict {} root/src/chara.pict"),
                           Tool("image_data.py", "visual/wipe/ramp.ext", "pict {} root/src/ramp.pict"),
                           Tool("image_data.py", "visual/adv/window.ext",
                                "ext0 {} --size 400 80 --pattern solid --colour 101010c0")}));
        ASSERT_TRUE(Scripts({{"00_init.txt", "<label>\n"}}));
        ASSERT_GE(Start("00_init.txt"), 0);
        ASSERT_TRUE(Lib_WipeProgramsCreate());
        Frame(2);
    }
    void TearDown() override {
        StageEnv::TearDown();
        Lib_WipeProgramsRelease();
    }
    StageRecord& stage() { return GameStateBlock.stage; }
    // A frame as the frame driver runs it: the tasks, then the drawing pass
    // (which takes the captures).
    void Drawn(int n = 1) {
        for (int i = 0; i < n; ++i) {
            Frame();
            Render();
        }
    }
    // The old scene on the fore page, the new one on the back page, and the
    // window's master picture in slot 24.
    void Scenes() {
        ASSERT_GE(PlaceLayer(*this, 0, 10, "bg_grid", 0, 0), 0);
        ASSERT_GE(PlaceLayer(*this, 0, 3, "chara", 20, 0), 0);
        ASSERT_GE(PlaceLayer(*this, 1, 10, "bg_plain", 0, 0), 0);
        ASSERT_GE(PlaceLayer(*this, 1, 3, "chara", 200, 0), 0);
        const int32_t win = GSL_WorkLayerLoad(GSL_StoryModeCB, 24, -1, "visual/adv/window.ext", -1, 1, nullptr, nullptr);
        ASSERT_TRUE(FramesUntil([win] { return Lib_SpriteGetState(win) == 2; }, 60, "the window"));
        Lib_SpriteSetPrio(win, 9700000, -1);
        Lib_SpriteSetFlag(win, 1);
        const int32_t part = GSL_WorkLayerLoad(GSL_StoryModeCB, 26, -1, "visual/adv/window.ext", -1, 1, nullptr, nullptr);
        ASSERT_TRUE(FramesUntil([part] { return Lib_SpriteGetState(part) == 2; }, 60, "the window part"));
        Lib_SpriteSetPrio(part, 9700000, 7);
    }
    static int32_t WipeWidget() {
        const std::vector<int32_t> t = Tasks(GSL_SystemWipeSetCB);
        return t.empty() ? -1 : t[0];
    }
    static int32_t Prio(int32_t slot) { return Lib_SpriteAt(GSL_LayerSpriteGet(0, slot))->priority; }
};

TEST_F(WipeTimeline, CapturedOnceTheDelayHoldsTheStartAndThePagesSwapAtTheCapture) {
    if (IsSkipped()) return;
    Scenes();
    stage().wipeDelay = 5;
    WipeSet(&stage(), 30, "ramp");
    EXPECT_EQ(stage().wipeHold, 1);
    // Five frames of delay, the rule wipe starts in the sixth.
    for (int i = 1; i <= 5; ++i) {
        Drawn();
        EXPECT_EQ(WipeWidget(), -1) << i;
    }
    Drawn();
    const int32_t widget = WipeWidget();
    ASSERT_GE(widget, 0);
    EXPECT_EQ(GSL_SystemWipeWork(widget)->interval, 0);  // nothing runs: captured once
    EXPECT_EQ(Story()->layers[3].source, -1);
    ASSERT_TRUE(FramesUntil([this] {
        Render();
        return stage().wipeHold == 0;
    }, 30, "the capture"));
    // The pages were swapped in the frame that released the hold.
    EXPECT_EQ(Story()->layers[3].source, 15);
    EXPECT_EQ(Lib_SpriteAt(GSL_LayerSpriteGet(0, 3))->posX, Lib_SpriteAt(GSL_LayerSpriteGet(12, 3))->posX);
    EXPECT_EQ(GSL_SystemWipeStatus(widget), WIPE_RUNNING);
    ASSERT_TRUE(FramesUntil([this] {
        Render();
        return stage().wipeTask < 0;
    }, 60, "the end"));
    EXPECT_TRUE(Tasks(GSL_SystemWipeSetCB).empty());
    EXPECT_TRUE(MatchesTable("wipe_once_after"));

    // The next wipe has no delay.
    WipeSet(&stage(), 10, "ramp");
    Drawn();
    EXPECT_GE(WipeWidget(), 0);
    ASSERT_TRUE(FramesUntil([this] {
        Render();
        return stage().wipeTask < 0;
    }, 60, "the second wipe"));
}

TEST_F(WipeTimeline, LiveOverAMoveLiftsTheNewPageAndCarriesItsMove) {
    if (IsSkipped()) return;
    Scenes();
    const int32_t foreChara = GSL_LayerSpriteGet(0, 3), backChara = GSL_LayerSpriteGet(12, 3);
    const float backStart = Lib_SpriteAt(backChara)->posX;
    MoveSet(&stage(), 0, 3, -100.0f, 0.0f, 0.0f, 200);  // the old picture's
    MoveSet(&stage(), 12, 3, backStart + 120.0f, 0.0f, 0.0f, 60);  // the new picture's
    Drawn();
    const int32_t backBgPrio = Lib_SpriteAt(GSL_LayerSpriteGet(12, 10))->priority;
    const int32_t backCharaPrio = Lib_SpriteAt(backChara)->priority;
    const int32_t windowPrio = Lib_SpriteAt(GSL_LayerSpriteGet(24, 0))->priority;
    WipeSet(&stage(), 30, "ramp");
    Drawn();
    const int32_t widget = WipeWidget();
    ASSERT_GE(widget, 0);
    EXPECT_EQ(GSL_SystemWipeWork(widget)->interval, 1);  // captured every frame
    ASSERT_TRUE(FramesUntil([this] {
        Render();
        return stage().wipeHold == 0;
    }, 30, "the capture"));

    // Lifted under the capture, over a black backdrop; the fore page is the old one.
    EXPECT_EQ(GSL_LayerSpriteGet(0, 3), foreChara);
    EXPECT_EQ(Lib_SpriteAt(GSL_LayerSpriteGet(12, 10))->priority, backBgPrio - 1000001);
    EXPECT_EQ(Lib_SpriteAt(backChara)->priority, backCharaPrio - 1000001);
    EXPECT_EQ(Lib_SpriteAt(backChara)->visible, 1);
    EXPECT_EQ(Lib_SpriteAt(GSL_LayerSpriteGet(24, 0))->priority, windowPrio - 1000001);
    // The window's parts go below the capture (drawn over it), sub-priority -1.
    EXPECT_EQ(Lib_SpriteAt(GSL_LayerSpriteGet(26, 0))->priority, 9700000 - 1500001);
    EXPECT_EQ(Lib_SpriteAt(GSL_LayerSpriteGet(26, 0))->subPriority, -1);
    const int32_t backdrop = GSL_LayerSpriteGet(719, 0);
    ASSERT_TRUE(Lib_SpriteIsLive(backdrop));
    EXPECT_EQ(SpriteTable[backdrop].priority, 8999999);
    EXPECT_EQ(SpriteTable[backdrop].subPriority, 100);
    EXPECT_EQ(SpriteTable[backdrop].color, 0xFF000000u);
    EXPECT_EQ(SpriteTable[backdrop].visible, 1);

    // Half-way the new page shows through the dissolving old picture.
    ASSERT_TRUE(FramesUntil([this, widget] {
        Render();
        return GSL_SystemWipeWork(widget)->progress >= 256.0f;
    }, 30, "half-way"));
    EXPECT_TRUE(MatchesReference("script_wipe_live_halfway"));

    ASSERT_TRUE(FramesUntil([this] {
        Render();
        return stage().wipeTask < 0;
    }, 60, "the end"));
    // Put back, swapped; the backdrop is gone.
    EXPECT_EQ(GSL_LayerSpriteGet(719, 0), -1);
    EXPECT_FALSE(SpriteTable[backdrop].flags & SPRITE_IN_USE);
    EXPECT_EQ(Lib_SpriteAt(backChara)->priority, backCharaPrio);
    EXPECT_EQ(Lib_SpriteAt(backChara)->visible, 0);
    EXPECT_EQ(Lib_SpriteAt(GSL_LayerSpriteGet(26, 0))->priority, 9700000);
    const int32_t fore = GSL_LayerSpriteGet(0, 3);
    EXPECT_EQ(Story()->layers[3].source, 15);
    EXPECT_EQ(Prio(3), backCharaPrio);
    // The old move stopped without touching the new picture; the new
    // picture's move goes on in the fore slot and reaches its goal.
    EXPECT_LT(Lib_SpriteAt(fore)->posX, backStart + 120.0f);
    EXPECT_GT(Lib_SpriteAt(fore)->posX, backStart);
    ASSERT_GE(GSL_EffectTaskGet(stage().moveTask, 3, MoveCB), 0);
    ASSERT_TRUE(FramesUntil([this] { return stage().moveTask[3] < 0; }, 60, "the carried move"));
    EXPECT_EQ(Lib_SpriteAt(fore)->posX, backStart + 120.0f);
}

TEST_F(WipeTimeline, SkippingAfterTheCaptureEndsTheWipeAtOnce) {
    if (IsSkipped()) return;
    Scenes();
    WipeSet(&stage(), 120, "ramp");
    ASSERT_TRUE(FramesUntil([this] {
        Render();
        return stage().wipeHold == 0;
    }, 30, "the capture"));
    Drawn(3);
    ASSERT_GE(stage().wipeTask, 0);
    const uint32_t saved = StoryPlayMode;
    StoryPlayMode = PLAY_SKIP;
    SystemDataBlock.skipAll = 1;
    Drawn();
    EXPECT_EQ(stage().wipeTask, -1);
    EXPECT_TRUE(Tasks(GSL_SystemWipeSetCB).empty());
    EXPECT_EQ(Story()->layers[3].source, 15);
    StoryPlayMode = saved;
    SystemDataBlock.skipAll = 0;
}

TEST_F(WipeTimeline, DeletingEveryContextDuringALiveWipeLeavesNothingOfIt) {
    if (IsSkipped()) return;
    Scenes();
    MoveSet(&stage(), 0, 3, -100.0f, 0.0f, 0.0f, 200);
    const int32_t objects = SpriteLiveObjects;
    WipeSet(&stage(), 30, "ramp");
    ASSERT_TRUE(FramesUntil([this] {
        Render();
        return stage().wipeHold == 0;
    }, 30, "the capture"));
    Drawn(3);
    const int32_t backdrop = GSL_LayerSpriteGet(719, 0);
    ASSERT_TRUE(Lib_SpriteIsLive(backdrop));
    GSL_WorkDeleteAll();
    Drawn(2);
    EXPECT_TRUE(Tasks(WipeCB).empty());
    EXPECT_TRUE(Tasks(GSL_SystemWipeSetCB).empty());
    EXPECT_TRUE(Tasks(MoveCB).empty());
    EXPECT_TRUE(Tasks(GSL_SystemTransNumCB).empty());
    EXPECT_FALSE(SpriteTable[backdrop].flags & SPRITE_IN_USE);
    EXPECT_LE(SpriteLiveObjects, objects);
}

}  // namespace
