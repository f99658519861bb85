// Stage effects seen from outside: the sprites of the story layers and the
// stage cameras, frame by frame, with moves and quakes started directly and
// through the script commands.
#include "script/effects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/render/camera.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "script/game_blocks.h"
#include "script/script_host.h"
#include "script/stage.h"
#include "tests/script/stage_env.h"
#include "ui/screen_slots.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

namespace {

constexpr uint8_t kLive = SPRITE_IN_USE | SPRITE_READY;

class Effects : public StageEnv {
protected:
    void SetUp() override {
        StageEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
    }
    // A story script that stays alive (its task ends only when asked).
    void Run(const std::string& text) {
        ASSERT_TRUE(Scripts({{"00_init.txt", text}}));
        ASSERT_GE(Start("00_init.txt"), 0);
        Frame(2);
    }
    StageRecord& stage() { return GameStateBlock.stage; }
};

TEST_F(Effects, AMoveFollowsItsTransitionAFrameLateAndClearsItsEntry) {
    Run("<label>\n");
    SpriteRecord& s = LayerSprite(3, kLive, 100, 100);
    MoveSet(&stage(), 0, 3, 120.0f, -60.0f, 0.0f, 30);
    const int32_t id = stage().moveTask[3];
    ASSERT_GE(id, 0);
    std::vector<float> xs;
    for (int i = 0; i < 40 && stage().moveTask[3] >= 0; ++i) {
        Frame();
        xs.push_back(s.posX);
    }
    // Frame k shows the transition's value of step k - 1; the goal on the
    // frame after the last step, then the entry is cleared.
    ASSERT_EQ(xs.size(), 31u);
    for (size_t k = 0; k + 1 < xs.size(); ++k) EXPECT_NEAR(xs[k], 120.0f * float(k) / 30.0f, 1e-3f) << k;
    EXPECT_EQ(s.posX, 120.0f);
    EXPECT_EQ(s.posY, -60.0f);
    EXPECT_EQ(stage().moveTask[3], -1);
    EXPECT_EQ(GSL_EffectTaskGet(stage().moveTask, 3, MoveCB), -1);

    // At the current place, with 0 frames or while skipping: at once, no task.
    MoveSet(&stage(), 0, 3, 120.0f, -60.0f, 0.0f, 30);
    EXPECT_EQ(stage().moveTask[3], -1);
    MoveSet(&stage(), 0, 3, 5.0f, 6.0f, 0.0f, 0);
    EXPECT_EQ(stage().moveTask[3], -1);
    EXPECT_EQ(s.posX, 5.0f);
    EXPECT_EQ(s.posY, 6.0f);
}

TEST_F(Effects, QueuedMovesStartFromTheLastGoalAndAStopLandsOnTheLastEntry) {
    Run("<label>\n");
    SpriteRecord& s = LayerSprite(3, kLive, 100, 100);
    MoveSet(&stage(), 0, 3, 10.0f, 0.0f, 0.0f, 4);
    const int32_t id = stage().moveTask[3];
    MoveSet(&stage(), 0, 3, 10.0f, 40.0f, 0.0f, 4);
    EXPECT_EQ(stage().moveTask[3], id);  // queued
    EXPECT_EQ(MoveQueues[3].count, 1);
    int frames = 0;
    while (stage().moveTask[3] >= 0 && frames < 30) {
        Frame();
        ++frames;
        if (s.posY != 0.0f) {
            EXPECT_EQ(s.posX, 10.0f);  // the second starts from the first's goal
        }
    }
    EXPECT_EQ(s.posX, 10.0f);
    EXPECT_EQ(s.posY, 40.0f);
    EXPECT_EQ(frames, 10);  // each 4-frame move lands in its fifth frame

    // stopmove with two moves queued: the last queued place.
    MoveSet(&stage(), 0, 3, 100.0f, 0.0f, 0.0f, 20);
    MoveSet(&stage(), 0, 3, 200.0f, 0.0f, 0.0f, 20);
    MoveSet(&stage(), 0, 3, 300.0f, 50.0f, 0.0f, 20);
    Frame(3);
    TaskTable.slots[stage().moveTask[3]]->finishRequest = 1;
    Frame();
    EXPECT_EQ(s.posX, 300.0f);
    EXPECT_EQ(s.posY, 50.0f);
    EXPECT_EQ(MoveQueues[3].count, 0);
    EXPECT_EQ(stage().moveTask[3], -1);
}

TEST_F(Effects, AStoppedMoveJumpsToItsGoalExceptOnLayer10AndLayer11MakesWholeNumbers) {
    Run("<label>\n");
    SpriteRecord& a = LayerSprite(3, kLive, 100, 100);
    SpriteRecord& b = LayerSprite(10, kLive, 100, 100);
    MoveSet(&stage(), 0, 3, 100.0f, 0.0f, 0.0f, 30);
    MoveSet(&stage(), 0, 10, 100.0f, 0.0f, 0.0f, 30);
    Frame(5);
    const float keep = b.posX;
    EXPECT_GT(keep, 0.0f);
    TaskTable.slots[stage().moveTask[3]]->finishRequest = 1;
    TaskTable.slots[stage().moveTask[10]]->finishRequest = 1;
    Frame();
    EXPECT_EQ(a.posX, 100.0f);
    EXPECT_EQ(b.posX, keep);
    EXPECT_EQ(stage().moveTask[3], -1);
    EXPECT_EQ(stage().moveTask[10], -1);

    // With a picture in layer 11 of the page every written value is whole,
    // layer 11's own included.
    SpriteRecord& top = LayerSprite(11, kLive, 10, 10);
    MoveSet(&stage(), 0, 3, 0.0f, 7.0f, 0.0f, 7);
    MoveSet(&stage(), 0, 11, 0.0f, 10.0f, 0.0f, 7);
    for (int i = 0; i < 5; ++i) {
        Frame();
        EXPECT_EQ(a.posX, std::floor(a.posX)) << i;
        EXPECT_EQ(a.posY, std::floor(a.posY)) << i;
        EXPECT_EQ(top.posY, std::floor(top.posY)) << i;
    }
}

TEST_F(Effects, ANewPictureIsNotMovedByTheOldEffect) {
    Run("<label>\n");
    LayerSprite(3, kLive, 100, 100);
    MoveSet(&stage(), 0, 3, 300.0f, 300.0f, 0.0f, 30);
    Frame(5);
    // The layer now holds another picture (as a page swap leaves it).
    SpriteRecord& fresh = LayerSprite(3, kLive, 50, 50);
    fresh.posX = 7.0f;
    TaskTable.slots[stage().moveTask[3]]->finishRequest = 1;
    Frame(2);
    EXPECT_EQ(fresh.posX, 7.0f);
    EXPECT_EQ(fresh.posY, 0.0f);
    EXPECT_EQ(stage().moveTask[3], -1);
}

TEST_F(Effects, AnEntryNamingAnotherKindOfTaskIsCleared) {
    Run("<label>\n");
    const int32_t other = Lib_TaskSet("Other", [](void*) { return 0; }, 100, 400, 0);
    stage().moveTask[5] = other;
    EXPECT_EQ(GSL_EffectTaskGet(stage().moveTask, 5, MoveCB), -1);
    EXPECT_EQ(stage().moveTask[5], -1);
    stage().moveTask[5] = other;
    GSL_LayerEffectsStop(&stage(), 0, 5);
    EXPECT_EQ(TaskTable.slots[other]->finishRequest, 0);
    Lib_TaskDel(uint32_t(other));
}

TEST_F(Effects, MoveCommandPagesAndRefusedLayers) {
    Run("<move 2,fore,100,0,0>\n<move 4,back,100,0,0>\n<move 15,fore,100,0,0>\n<move -1,fore,100,0,0>\n"
        "<move basex,fore,100,0,0>\n<wm>\n<label>\n");
    // Pictures are placed before the script reaches the tags.
    EXPECT_TRUE(Logged("move: layer 15"));
    EXPECT_TRUE(Logged("move: layer -1"));
    EXPECT_TRUE(Logged("move: layer basex"));
    for (int i = 0; i < 24; ++i) EXPECT_EQ(stage().moveTask[i], -1) << i;  // no picture: set at once
}

TEST_F(Effects, ForeMovesBothSlotsAndBackOnlyTheBackOneAndWmWaits) {
    SpriteRecord& f = LayerSprite(2, kLive, 100, 100);
    SpriteRecord& b = LayerSprite(14, kLive, 100, 100);
    SpriteRecord& f4 = LayerSprite(4, kLive, 100, 100);
    SpriteRecord& b4 = LayerSprite(16, kLive, 100, 100);
    f.posX = b.posX = f4.posX = b4.posX = -500.0f;
    Run("<move 2,fore,500,100,0>\n<move 4,back,500,100,0>\n<wm>\n<label>\n");
    EXPECT_GE(stage().moveTask[2], 0);
    EXPECT_GE(stage().moveTask[14], 0);
    EXPECT_EQ(stage().moveTask[4], -1);
    EXPECT_GE(stage().moveTask[16], 0);
    int n = 0;
    while (Names().back() != "label" && n < 100) {
        Frame();
        ++n;
    }
    EXPECT_EQ(Names().back(), "label");
    EXPECT_EQ(stage().moveTask[2], -1);
    EXPECT_EQ(stage().moveTask[16], -1);
    const float goal = float(100 - 640 + 50);
    EXPECT_EQ(f.posX, goal);
    EXPECT_EQ(b.posX, goal);
    EXPECT_EQ(b4.posX, goal);
    EXPECT_EQ(f4.posX, -500.0f);
}

// Reads the signs of the running quake's work: they follow the kind in the
// work area (kind, axis, cycle, layer, then the two signs).
void QuakeSigns(int32_t id, float* sx, float* sy) {
    const auto* base = reinterpret_cast<const uint8_t*>(TaskTable.slots[id]->work) + sizeof(WidgetWork);
    std::memcpy(sx, base + 16, 4);
    std::memcpy(sy, base + 20, 4);
}

TEST_F(Effects, AQuakeSwingsCameraOneAndMovesCameraThreeOpposite) {
    Run("<label>\n");
    const float rx = StageCamera[0].target[0], ry = StageCamera[0].target[1];
    QuakeSet(&stage(), 0, 0, 10, 10);
    const int32_t id = stage().quakeTask[0];
    ASSERT_GE(id, 0);
    for (int k = 1; k <= 10; ++k) {
        Frame();
        float sx = 0, sy = 0;
        QuakeSigns(id, &sx, &sy);
        const float s = sinf(float(double(72 * (k % 5)) * 0.017453));
        const float amp = 10.0f - 10.0f * float(k) / 10.0f;
        EXPECT_NEAR(StageCamera[0].target[0], rx + s * amp * sx * kWorldPerPixel, 1e-4f) << k;
        EXPECT_NEAR(StageCamera[0].target[1], ry + s * amp * sy * kWorldPerPixel, 1e-4f) << k;
        EXPECT_NEAR(StageCamera[2].target[0], rx - s * amp * sx * kWorldPerPixel, 1e-4f) << k;
    }
    Frame();
    EXPECT_EQ(StageCamera[0].target[0], rx);
    EXPECT_EQ(StageCamera[2].target[1], ry);
    EXPECT_EQ(stage().quakeTask[0], -1);
}

TEST_F(Effects, KindOneNeedsFramesAndItsCameraLeavesNoHolder) {
    Run("<label>\n");
    QuakeSet(&stage(), 1, 0, 10, 0);
    EXPECT_EQ(stage().quakeTask[1], -1);
    QuakeSet(&stage(), 0, 0, 10, 0);  // kind 0 runs 30 frames
    Frame(30);
    EXPECT_GE(stage().quakeTask[0], 0);
    Frame();
    EXPECT_EQ(stage().quakeTask[0], -1);

    SpriteRecord& plate = LayerSprite(24, kLive, 10, 10);
    SpriteRecord& copy = LayerSprite(40, kLive, 10, 10);
    QuakeSet(&stage(), 1, 0, 10, 5);
    Frame();
    ASSERT_NE(plate.camera, nullptr);
    copy.camera = plate.camera;  // a copy made from a listed slot
    Frame(6);
    EXPECT_EQ(stage().quakeTask[1], -1);
    EXPECT_EQ(plate.camera, nullptr);
    EXPECT_EQ(copy.camera, nullptr);

    // Removed without its end (a restart): the delete routine frees it.
    QuakeSet(&stage(), 1, 0, 10, 50);
    Frame();
    const int32_t id = stage().quakeTask[1];
    ASSERT_NE(plate.camera, nullptr);
    GSL_WidgetDeleteFind(QuakeCB)(id);
    Lib_TaskDel(uint32_t(id));
    EXPECT_EQ(plate.camera, nullptr);
}

TEST_F(Effects, QuakeOverAQuakeStopsItFirstAndWqWaits) {
    // The second quake stops the 60-frame first one and waits for its end;
    // wq then lasts the second's 6 frames.
    Run("<quake 1000,10>\n<quake 100,5>\n<wq>\n<label>\n");
    int quakes = 0;
    for (const auto& e : executed) quakes += e.index == 40;
    EXPECT_EQ(quakes, 2);
    int n = 0;
    while (Names().back() != "label" && n < 100) {
        Frame();
        ++n;
    }
    EXPECT_EQ(Names().back(), "label");
    EXPECT_GE(n, 6);
    EXPECT_LT(n, 12);
    EXPECT_EQ(stage().quakeTask[0], -1);
    EXPECT_EQ(stage().quakeTask[1], -1);
}

TEST_F(Effects, AHalfWayCopyEndsWithItsSourceAndOtherKindsReachTheirGoals) {
    Run("<label>\n");
    SpriteRecord& fore = LayerSprite(5, kLive, 100, 100);
    SpriteRecord& back = LayerSprite(17, kLive, 100, 100);
    MoveSet(&stage(), 0, 5, 90.0f, 30.0f, 0.0f, 20);
    Frame(10);
    back.posX = fore.posX;
    back.posY = fore.posY;
    MoveSet2(&stage(), 1, 5, 0);
    ASSERT_GE(stage().moveTask[17], 0);
    int endFore = -1, endBack = -1;
    for (int i = 0; i < 30; ++i) {
        Frame();
        if (endFore < 0 && stage().moveTask[5] < 0) endFore = i;
        if (endBack < 0 && stage().moveTask[17] < 0) endBack = i;
        if (endFore < 0) {
            EXPECT_EQ(back.posX, fore.posX) << i;
        }
    }
    EXPECT_GE(endFore, 0);
    EXPECT_EQ(endFore, endBack);
    EXPECT_EQ(back.posX, 90.0f);
    EXPECT_EQ(back.posY, 30.0f);

    const float scale[] = {2.0f, 0.5f}, rot[] = {45.0f}, color[] = {128.0f, 0.0f, 255.0f, 16.0f};
    SpriteRecord& a = LayerSprite(2, kLive, 10, 10);
    Lib_SpriteSetColor(GSL_ScriptStoryLayerSprite(2), 0xFFFFFFFFu);
    EXPECT_GE(GSL_LayerEffectStart(&stage(), EFFECT_SCALE, 0, 2, scale, 8), 0);
    EXPECT_GE(GSL_LayerEffectStart(&stage(), EFFECT_ROT, 0, 2, rot, 8), 0);
    EXPECT_GE(GSL_LayerEffectStart(&stage(), EFFECT_ABGR, 0, 2, color, 8), 0);
    Frame(5);
    EXPECT_GT(a.scaleX, 1.0f);
    EXPECT_LT(a.scaleX, 2.0f);
    Frame(10);
    EXPECT_EQ(a.scaleX, 2.0f);
    EXPECT_EQ(a.scaleY, 0.5f);
    EXPECT_EQ(a.rotZ, 45.0f);
    EXPECT_EQ(Lib_SpriteGetColor(GSL_ScriptStoryLayerSprite(2)), 0x8000FF10u);
    EXPECT_EQ(stage().scaleTask[2], -1);
    EXPECT_EQ(stage().rotateTask[2], -1);
    EXPECT_EQ(stage().colorTask[2], -1);

    // An aborted colour keeps the colour it shows.
    const float black[] = {255.0f, 0.0f, 0.0f, 0.0f};
    GSL_LayerEffectStart(&stage(), EFFECT_ABGR, 0, 2, black, 20);
    Frame(6);
    const uint32_t shown = Lib_SpriteGetColor(GSL_ScriptStoryLayerSprite(2));
    EXPECT_NE(shown, 0xFF000000u);
    GSL_LayerEffectsStop(&stage(), 0, 2);
    Frame(2);
    EXPECT_EQ(Lib_SpriteGetColor(GSL_ScriptStoryLayerSprite(2)), shown);
    EXPECT_EQ(stage().colorTask[2], -1);
}

TEST_F(Effects, ASuspendedScriptFreezesAMoveAndItsTransitions) {
    Run("<label>\n");
    SpriteRecord& s = LayerSprite(3, kLive, 100, 100);
    MoveSet(&stage(), 0, 3, 200.0f, 0.0f, 0.0f, 20);
    Frame(5);
    TaskTable.slots[slot]->suspended = 1;
    Frame();
    const float frozen = s.posX;
    Frame(10);
    EXPECT_EQ(s.posX, frozen);
    TaskTable.slots[slot]->suspended = 0;
    int n = 0;
    while (stage().moveTask[3] >= 0 && n < 40) {
        Frame();
        ++n;
    }
    EXPECT_EQ(s.posX, 200.0f);
    EXPECT_GE(n, 14);
    EXPECT_LE(n, 17);
}

TEST_F(Effects, WhileSkippingMovesLandAtOnceAndQuakesEndAtRest) {
    Run("<label>\n");
    SpriteRecord& s = LayerSprite(3, kLive, 100, 100);
    const uint32_t saved = StoryPlayMode;
    StoryPlayMode = PLAY_SKIP;
    SystemDataBlock.skipAll = 1;
    ASSERT_TRUE(GSL_IsSkip());
    MoveSet(&stage(), 0, 3, 40.0f, 20.0f, 0.0f, 30);
    EXPECT_EQ(stage().moveTask[3], -1);
    EXPECT_EQ(s.posX, 40.0f);
    const float rx = StageCamera[0].target[0];
    QuakeSet(&stage(), 0, 0, 10, 30);
    ASSERT_GE(stage().quakeTask[0], 0);
    Frame();
    EXPECT_EQ(stage().quakeTask[0], -1);
    EXPECT_EQ(StageCamera[0].target[0], rx);
    // A running move that meets skipping ends at its goal.
    StoryPlayMode = saved;
    SystemDataBlock.skipAll = 0;
    MoveSet(&stage(), 0, 3, 140.0f, 20.0f, 0.0f, 30);
    Frame(3);
    StoryPlayMode = PLAY_SKIP;
    SystemDataBlock.skipAll = 1;
    Frame();
    EXPECT_EQ(s.posX, 140.0f);
    EXPECT_EQ(stage().moveTask[3], -1);
    StoryPlayMode = saved;
    SystemDataBlock.skipAll = 0;
}

TEST_F(Effects, ARunningQuakeEndsAtRestWhenSkippingStartsOrTheScriptGoes) {
    ASSERT_TRUE(Scripts({{"00_init.txt", "<quake 2000,10>\n<wq>\n<label>\n"}}));
    const float rx = StageCamera[0].target[0], ry = StageCamera[0].target[1];
    ASSERT_GE(Start("00_init.txt"), 0);
    Frame(5);
    ASSERT_GE(stage().quakeTask[0], 0);
    ASSERT_EQ(Names().back(), "wq");
    // Skipping switched on while it shakes: it ends in the next frame and
    // wq lets the script go on.
    const uint32_t saved = StoryPlayMode;
    StoryPlayMode = PLAY_SKIP;
    SystemDataBlock.skipAll = 1;
    Frame();
    EXPECT_EQ(stage().quakeTask[0], -1);
    EXPECT_EQ(stage().quakeTask[1], -1);
    EXPECT_EQ(StageCamera[0].target[0], rx);
    EXPECT_EQ(StageCamera[2].target[1], ry);
    Frame();
    EXPECT_EQ(Names().back(), "label");
    StoryPlayMode = saved;
    SystemDataBlock.skipAll = 0;

    // The story screen without its script: the quake ends at its next frame.
    SpriteRecord& plate = LayerSprite(24, kLive, 10, 10);
    QuakeSet(&stage(), 0, 0, 10, 100);
    QuakeSet(&stage(), 1, 0, 10, 100);
    Frame(3);
    ASSERT_NE(plate.camera, nullptr);
    Story()->tasks[0] = -1;
    Frame();
    Story()->tasks[0] = slot;
    EXPECT_EQ(stage().quakeTask[0], -1);
    EXPECT_EQ(stage().quakeTask[1], -1);
    EXPECT_EQ(StageCamera[0].target[0], rx);
    EXPECT_EQ(StageCamera[2].target[1], ry);
    EXPECT_EQ(plate.camera, nullptr);
}

TEST_F(Effects, AMoveWaitsForTheWipeHold) {
    Run("<label>\n");
    SpriteRecord& s = LayerSprite(3, kLive, 100, 100);
    stage().wipeHold = 1;
    MoveSet(&stage(), 0, 3, 40.0f, 0.0f, 0.0f, 4);
    Frame(5);
    EXPECT_EQ(s.posX, 0.0f);
    EXPECT_GE(stage().moveTask[3], 0);
    stage().wipeHold = 0;
    Frame(6);
    EXPECT_EQ(s.posX, 40.0f);
    EXPECT_EQ(stage().moveTask[3], -1);
}

TEST_F(Effects, KindOneHandsItsCameraToTheWindowTextsAndTakesItBack) {
    Run("<label>\n");
    const int32_t t = GSL_WorkTextSetIn(Story(), 0, -1, "abc");
    if (t < 0 || !TextTable[t]) GTEST_SKIP() << "no text object here";
    QuakeSet(&stage(), 1, 0, 10, 5);
    Frame();
    ASSERT_NE(TextTable[t]->camera, nullptr);
    Frame(6);
    EXPECT_EQ(stage().quakeTask[1], -1);
    EXPECT_EQ(TextTable[t]->camera, nullptr);
}

TEST_F(Effects, A65thQueuedMoveIsDroppedWithOneLine) {
    Run("<label>\n");
    LayerSprite(6, kLive, 100, 100);
    MoveSet(&stage(), 0, 6, 1.0f, 0.0f, 0.0f, 50);
    for (int i = 0; i < 65; ++i) MoveSet(&stage(), 0, 6, float(i + 2), 0.0f, 0.0f, 5);
    EXPECT_EQ(MoveQueues[6].count, 64);
    EXPECT_EQ(MoveQueues[6].entries[63].x, 65.0f);
    EXPECT_TRUE(Logged("MoveSet(0, 6): queue full"));
    TaskTable.slots[stage().moveTask[6]]->finishRequest = 1;
    Frame();
    EXPECT_EQ(SpriteTable[GSL_ScriptStoryLayerSprite(6)].posX, 65.0f);
    EXPECT_EQ(MoveQueues[6].count, 0);
}

}  // namespace
