// The page swap seen from the story layer slots: what the fore page holds
// after a wipe, and which effects it carries.
#include "script/wipe_fx.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/render/sprite.h"
#include "script/effects.h"
#include "script/game_blocks.h"
#include "script/script_host.h"
#include "script/stage.h"
#include "tests/script/stage_env.h"
#include "ui/trans_num.h"
#include "ui/widget_task.h"

namespace {

constexpr uint8_t kLive = SPRITE_IN_USE | SPRITE_READY;

class WipeFx : public StageEnv {
protected:
    void Run() {
        ASSERT_TRUE(Scripts({{"00_init.txt", "<label>\n"}}));
        ASSERT_GE(Start("00_init.txt"), 0);
        Frame(2);
    }
    StageRecord& stage() { return GameStateBlock.stage; }
    // A ready picture in a layer slot that can be copied (no capture).
    SpriteRecord& Picture(uint32_t layerSlot) {
        SpriteRecord& r = LayerSprite(layerSlot, kLive, 100, 100);
        r.captureEntry = -1;
        r.drawEntry = -1;
        return r;
    }
};

TEST_F(WipeFx, ZeroFramesSwapsAtOnceAndCarriesTheBackMove) {
    Run();
    SpriteRecord& oldFore = Picture(3);
    oldFore.posX = -300.0f;
    SpriteRecord& back = Picture(15);
    Picture(24);
    stage().layerVisible[3] = 1;
    MoveSet(&stage(), 0, 3, 500.0f, 0.0f, 0.0f, 30);  // the old picture's move
    MoveSet(&stage(), 12, 3, 90.0f, 0.0f, 0.0f, 10);  // the new picture's
    Frame(3);
    const int32_t oldMove = stage().moveTask[3];
    ASSERT_GE(oldMove, 0);
    WipeSet(&stage(), 0, "wipe_000");
    EXPECT_EQ(stage().wipeTask, -1);
    EXPECT_EQ(stage().wipeHold, 0);
    const int32_t fore = GSL_LayerSpriteGet(0, 3);
    ASSERT_TRUE(Lib_SpriteIsLive(fore));
    EXPECT_NE(fore, GSL_LayerSpriteGet(12, 3));
    EXPECT_EQ(Lib_SpriteAt(fore)->camera, &StageCamera[2]);
    EXPECT_EQ(Lib_SpriteAt(fore)->visible, 1);
    EXPECT_TRUE(Lib_SpriteIsLive(GSL_LayerSpriteGet(0, 25)));
    // The old move stops without touching the new picture; the back move
    // goes on in the fore slot and reaches its goal.
    EXPECT_GE(stage().moveTask[3], 0);
    EXPECT_NE(stage().moveTask[3], oldMove);
    for (int i = 0; i < 20; ++i) {
        Frame();
        EXPECT_LE(Lib_SpriteAt(fore)->posX, 90.0f) << i;
    }
    EXPECT_EQ(Lib_SpriteAt(fore)->posX, 90.0f);
    EXPECT_EQ(back.posX, 90.0f);
    EXPECT_EQ(stage().moveTask[3], -1);
    EXPECT_EQ(GSL_LayerSpriteGet(700, 20), -1);

    // While skipping a timed wipe swaps at once too.
    const uint32_t saved = StoryPlayMode;
    StoryPlayMode = PLAY_SKIP;
    SystemDataBlock.skipAll = 1;
    Picture(16);
    WipeSet(&stage(), 30, "wipe_000");
    EXPECT_EQ(stage().wipeTask, -1);
    EXPECT_EQ(stage().wipeHold, 0);
    EXPECT_TRUE(Lib_SpriteIsLive(GSL_LayerSpriteGet(0, 4)));
    StoryPlayMode = saved;
    SystemDataBlock.skipAll = 0;
}

TEST_F(WipeFx, AMissingRuleImageStillSwapsAndASecondWipeIsIgnored) {
    Run();
    Picture(15);
    WipeSet(&stage(), 20, "no_such_rule");
    const int32_t id = stage().wipeTask;
    ASSERT_GE(id, 0);
    EXPECT_EQ(stage().wipeHold, 1);
    WipeSet(&stage(), 20, "wipe_000");
    EXPECT_EQ(stage().wipeTask, id);
    int n = 0;
    while (stage().wipeTask >= 0 && n < 200) {
        Frame();
        ++n;
    }
    EXPECT_EQ(stage().wipeTask, -1);
    EXPECT_EQ(stage().wipeHold, 0);
    EXPECT_TRUE(Lib_SpriteIsLive(GSL_LayerSpriteGet(0, 3)));
}

TEST_F(WipeFx, AFinishRequestBeforeTheCaptureReleasesTheHoldWithoutASwap) {
    Run();
    Picture(15);
    stage().wipeDelay = 5;
    WipeSet(&stage(), 20, "wipe_000");
    EXPECT_EQ(stage().wipeDelay, 0);
    Frame(2);
    TaskTable.slots[stage().wipeTask]->finishRequest = 1;
    Frame(3);
    EXPECT_EQ(stage().wipeTask, -1);
    EXPECT_EQ(stage().wipeHold, 0);
    EXPECT_EQ(GSL_LayerSpriteGet(0, 3), -1);
}

TEST_F(WipeFx, TheSwapDeletesAForeCameraTaskAndTheForeCamerasTakeTheBackOnes) {
    Run();
    Picture(15);
    auto* c = reinterpret_cast<StageCameraWork*>(
        GSL_WidgetCreate("CameraCB", CameraCB, kWidgetPriority, kWidgetGroupScreen, TASK_FLAG_BREAKABLE));
    ASSERT_NE(c, nullptr);
    const int32_t task = c->head.slot;
    c->x = 100.0f;
    c->y = -50.0f;
    c->zoom = 2.0f;
    c->trans[0] = GSL_SystemTransNumSetF(&c->x, 300.0f, 100, TRANS_LINEAR, kWidgetPriority, kWidgetGroupScreen, 0);
    c->trans[1] = c->trans[2] = -1;
    const int32_t trans = c->trans[0];
    stage().cameraTask[0] = task;
    stage().flags |= STAGE_FLAG_CAMERA_TASK;
    StageCamera[1].target[0] = 3.0f;
    StageCamera[3].target[1] = -2.0f;
    Frame();
    WipeSet(&stage(), 0, "wipe_000");
    EXPECT_EQ(stage().flags & STAGE_FLAG_CAMERA_TASK, 0);
    EXPECT_EQ(stage().cameraTask[0], -1);
    EXPECT_EQ(GSL_WidgetWorkGet(task, CameraCB), nullptr);
    EXPECT_EQ(GSL_WidgetWorkGet(trans, GSL_SystemTransNumCB), nullptr);
    // Whole records: the fore cameras are the back ones now.
    EXPECT_EQ(StageCamera[0].target[0], 3.0f);
    EXPECT_EQ(StageCamera[2].target[1], -2.0f);
    EXPECT_EQ(std::memcmp(&StageCamera[0], &StageCamera[1], sizeof(CameraRecord)), 0);
    // The flag without a task is only cleared.
    stage().flags |= STAGE_FLAG_CAMERA_TASK;
    WipeSet(&stage(), 0, "wipe_000");
    EXPECT_EQ(stage().flags & STAGE_FLAG_CAMERA_TASK, 0);
}

}  // namespace
