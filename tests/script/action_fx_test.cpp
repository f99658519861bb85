// Action presets seen from a layer picture's second point, frame by frame:
// a counted sway, an endless hop that is stopped, skipping and the copy.
#include "script/action_fx.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/render/sprite.h"
#include "script/effects.h"
#include "script/game_blocks.h"
#include "script/script_host.h"
#include "script/stage.h"
#include "tests/script/stage_env.h"

namespace {

constexpr uint8_t kLive = SPRITE_IN_USE | SPRITE_READY;

class Actions : public StageEnv {
protected:
    void Run() {
        ASSERT_TRUE(Scripts({{"00_init.txt", "<label>\n"}}));
        ASSERT_GE(Start("00_init.txt"), 0);
        Frame(2);
    }
    StageRecord& stage() { return GameStateBlock.stage; }
    // A picture whose second point stands at (5, 7).
    SpriteRecord& Picture(uint32_t layerSlot) {
        SpriteRecord& s = LayerSprite(layerSlot, kLive, 100, 100);
        s.centerX = 50.0f;
        s.centerY = 50.0f;
        s.shiftX = 5.0f;
        s.shiftY = 7.0f;
        return s;
    }
    // Frames until the entry clears, the second point's x recorded each frame.
    std::vector<float> Follow(int32_t index, const SpriteRecord& s, int limit) {
        std::vector<float> xs;
        while (stage().actionTask[index] >= 0 && int(xs.size()) < limit) {
            Frame();
            xs.push_back(s.shiftX);
        }
        return xs;
    }
};

TEST_F(Actions, ACountedSwayRunsFourQuartersAndEndsAtItsBase) {
    Run();
    SpriteRecord& s = Picture(3);
    ASSERT_GE(GSL_LayerActionStart(&stage(), 0, 3, 1, 30, 40.0f, 1.0f, 0.0f), 0);
    const std::vector<float> xs = Follow(3, s, 100);
    // Quarters of 8, 7, 8 and 7 frames, each followed by its set-up frame.
    ASSERT_EQ(xs.size(), 34u);
    EXPECT_EQ(xs[8], 45.0f);   // A at 90: base + amplitude
    EXPECT_EQ(xs[16], 5.0f);   // 180
    EXPECT_EQ(xs[25], -35.0f);  // 270
    for (float x : xs) {
        EXPECT_GE(x, -35.0f);
        EXPECT_LE(x, 45.0f);
    }
    EXPECT_EQ(s.shiftX, 5.0f);
    EXPECT_EQ(s.shiftY, 7.0f);
    EXPECT_EQ(GSL_EffectTaskGet(stage().actionTask, 3, ActionCB), -1);

    // Two turns take twice as long; a short turn jumps a quarter a frame.
    ASSERT_GE(GSL_LayerActionStart(&stage(), 0, 3, 1, 30, 40.0f, 2.0f, 0.0f), 0);
    EXPECT_EQ(Follow(3, s, 200).size(), 68u);
    ASSERT_GE(GSL_LayerActionStart(&stage(), 0, 3, 1, 4, 40.0f, 1.0f, 0.0f), 0);
    const std::vector<float> jumps = Follow(3, s, 20);
    ASSERT_EQ(jumps.size(), 3u);
    EXPECT_EQ(jumps[0], 45.0f);
    EXPECT_EQ(s.shiftX, 5.0f);
}

TEST_F(Actions, AnEndlessHopRunsUntilStoppedAndLandsAtTheRepeatDistance) {
    Run();
    SpriteRecord& s = Picture(4);
    ASSERT_GE(GSL_LayerActionStart(&stage(), 0, 4, 4, 10, 30.0f, -2.0f, 12.0f), 0);
    float highest = 0.0f;
    for (int i = 0; i < 60; ++i) {
        Frame();
        highest = std::max(highest, s.shiftY);
    }
    EXPECT_GE(stage().actionTask[4], 0);
    EXPECT_GT(s.shiftX, 5.0f + 30.0f * 4);  // forward a hop a sweep
    EXPECT_EQ(highest, 7.0f + 12.0f);       // arcs of height amplitude 2
    GSL_LayerEffectsStop(&stage(), 0, 4);
    Frame();
    EXPECT_EQ(stage().actionTask[4], -1);
    EXPECT_EQ(s.shiftX, 5.0f - 2.0f * 30.0f);
    EXPECT_EQ(s.shiftY, 7.0f);
}

TEST_F(Actions, SkippingEndsACountedActionButNotAnEndlessOne) {
    Run();
    SpriteRecord& counted = Picture(1);
    SpriteRecord& endless = Picture(2);
    ASSERT_GE(GSL_LayerActionStart(&stage(), 0, 1, 5, 20, 10.0f, 3.0f, 10.0f), 0);
    ASSERT_GE(GSL_LayerActionStart(&stage(), 0, 2, 0, 20, 10.0f, -1.0f, 0.0f), 0);
    Frame(4);
    const uint32_t saved = StoryPlayMode;
    StoryPlayMode = PLAY_SKIP;
    SystemDataBlock.skipAll = 1;
    Frame();
    EXPECT_EQ(stage().actionTask[1], -1);
    EXPECT_EQ(counted.shiftX, 5.0f);
    EXPECT_EQ(counted.shiftY, 7.0f);
    Frame(3);
    EXPECT_GE(stage().actionTask[2], 0);
    StoryPlayMode = saved;
    SystemDataBlock.skipAll = 0;
    // While records are replayed the action stands still; a stop still ends it.
    Work()->script.status |= SCRIPT_REPLAYING;
    const float x = endless.shiftX, y = endless.shiftY;
    Frame(5);
    EXPECT_EQ(endless.shiftX, x);
    EXPECT_EQ(endless.shiftY, y);
    GSL_LayerEffectsStop(&stage(), 0, 2);
    Frame();
    EXPECT_EQ(stage().actionTask[2], -1);
    EXPECT_EQ(endless.shiftY, 7.0f);
    Work()->script.status &= ~SCRIPT_REPLAYING;
}

TEST_F(Actions, ACopyDrivesTheOtherPagesPictureAndANewPictureIsLeftAlone) {
    Run();
    SpriteRecord& fore = Picture(6);
    SpriteRecord& back = Picture(18);
    ASSERT_GE(GSL_LayerActionStart(&stage(), 0, 6, 5, 40, 20.0f, -1.0f, 20.0f), 0);
    Frame(10);
    ActionSet(&stage(), 1, 6, 0);
    ASSERT_GE(stage().actionTask[18], 0);
    Frame(3);
    EXPECT_NE(back.shiftX, 5.0f);
    // A copy of a stopping action is not made.
    TaskTable.slots[stage().actionTask[6]]->finishRequest = 1;
    stage().actionTask[19] = -1;
    const int32_t before = stage().actionTask[18];
    ActionSet(&stage(), 1, 6, 0);
    EXPECT_EQ(stage().actionTask[18], before);
    Frame();
    EXPECT_EQ(fore.shiftX, 5.0f);
    // The back layer gets a new picture: the old action does not touch it.
    SpriteRecord& fresh = Picture(18);
    fresh.shiftX = 300.0f;
    Frame(3);
    EXPECT_EQ(fresh.shiftX, 300.0f);
    EXPECT_EQ(stage().actionTask[18], -1);
}

}  // namespace
