// Push and restore round trips through the real frame tasks: what a push
// keeps or releases, and how the screen comes back when it is on top again.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_load.h"
#include "script/script_task.h"
#include "tests/engine/sound/sound_env.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_restore.h"
#include "ui/screen_slots.h"

namespace {
int32_t IdleCB(void*) { return 0; }

class ScreenRestoreTest : public ScreenHarness {
protected:
    ModeFunction a = TestScreen(0), b = TestScreen(1);
    ScreenWork* w = nullptr;
    int aRuns = 0;
    int32_t t1 = -1, t2 = -1, text = -1;

    // A screen holding a looping and a one-shot sound, a kept and a capture
    // sprite, a picture with every attribute set, a three-link and a
    // six-link copy chain running down the slot order, a half-revealed text
    // and two screen tasks (one suspended already).
    void Build() {
        ASSERT_TRUE(Files({Tool("image_data.py", "visual/a.ext", "ext0 {} --size 16 8"),
                           Tool("sound_data.py", "sound/bgm/loop.wav", "wav {} --rate 22050 --frames 4410 --loop 1000 3000"),
                           Tool("sound_data.py", "sound/se/tone.wav", "wav {} --rate 22050 --frames 2205 --tone 441")}));
        StartMinimal();
        SetBody(0, [this] { ++aRuns; });
        w = MakeContext(a);
        ASSERT_NE(w, nullptr);
        ASSERT_EQ(GSL_WorkLayerLoad(a, 10, 300, "visual/a.ext", -1, 0, "pic", nullptr), 300);
        ASSERT_EQ(GSL_WorkLayerLoad(a, 20, 400, "visual/a.ext", -1, 0, nullptr, nullptr), 400);
        ASSERT_EQ(GSL_WorkLayerLoad(a, 40, 500, "visual/a.ext", -1, 0, nullptr, nullptr), 500);
        ASSERT_EQ(GSL_WorkLayerLoad(a, 5, 719, "visual/a.ext", -1, 0, nullptr, nullptr), 719);
        ASSERT_EQ(GSL_WorkLayerLoad(a, 1, 250, nullptr, -1, 0, nullptr, nullptr), 250);
        SpriteTable[250].effectParams[10] = 1.0f;
        SpriteTable[250].visible = 1;
        const int32_t capture = Lib_SpriteCreateCapture(0, 5, 0);
        ASSERT_GE(capture, 0);
        w->layers[2].handle = capture;
        w->layers[2].source = -1;
        w->layers[2].file[0] = w->layers[2].tag[0] = w->layers[2].container[0] = '\0';
        Render();  // the capture
        FramesUntil([&] { return GSL_WorkLayersReady(a); }, 20, "the pictures");
        ASSERT_GE(GSL_WorkLayerCopy(a, 19, 20, 419), 0);
        ASSERT_GE(GSL_WorkLayerCopy(a, 18, 19, 418), 0);
        for (uint32_t i = 39; i >= 34; --i) ASSERT_GE(GSL_WorkLayerCopy(a, i, i + 1, int32_t(480 + i)), 0) << i;

        SpriteRecord* r = &SpriteTable[300];
        r->visible = 1;
        r->posX = 10, r->posY = 20, r->posZ = 1;
        r->scaleX = r->scaleY = 2;
        r->rotZ = 30;
        const int32_t rect[4] = {0, 0, 8, 4};
        Lib_SpriteSetRect(300, rect);
        Lib_SpriteSetColor(300, 0x80FF0000u);
        Lib_SpriteSetPrio(300, 55, 3);
        const int32_t clip[4] = {1, 2, 300, 400};
        std::memcpy(r->clipRect, clip, sizeof clip);
        Lib_SpriteSetValue(300, 2);
        Lib_SpriteSetCenter(300, {4, 3}, {1, 1});
        r->effectParams[5] = 0.5f;
        r->layerTag = 9;

        text = GSL_WorkTextSet(a, 0, 3, "Hello there");
        ASSERT_EQ(text, 3);
        TextRecord* t = TextTable[text];
        const TextPos pos{100, -200, 0};
        Lib_TextPosSet(text, &pos);
        Lib_TextRgbaSet(text, 0xFF00FF00u);
        Lib_TextPrioSet(text, 50);
        t->state |= TEXT_STATE_DRAWN;
        t->speed = 4;
        t->revealed = 2;
        t->finished = 0;

        ASSERT_EQ(GSL_WorkSoundSet(a, 0, {.file = "sound/bgm/loop.wav"}), 0);
        Lib_SoundVolumeSet(0, 40);
        ASSERT_EQ(GSL_WorkSoundSet(a, 3, {.file = "sound/se/tone.wav", .restore = SOUND_EFFECT, .repeat = 1}), 3);
        Frame(2);
        ASSERT_EQ(Lib_SoundStateGet(0), SOUND_PLAYING);

        t1 = Lib_TaskSet("T1", IdleCB, 34000, 400, 0);
        t2 = Lib_TaskSet("T2", IdleCB, 34000, 400, 0);
        TaskTable.slots[t2]->suspended = 1;
        aRuns = 0;
    }
    sound_test::FakeVoice Voice(int32_t channel) {
        int32_t v = SoundChannelTable[channel].voice;
        return sound_test::FakeAudio::With(v, sound_test::FakeVoice{}, [](sound_test::FakeVoice& f) { return f; });
    }
    // Pops the upper screen and runs frames until the lower one runs again.
    int PopAndReturn(const std::function<void()>& eachFrame = nullptr) {
        GSL_ModePop();
        const int before = aRuns;
        int frames = 0;
        while (aRuns == before && frames < 60) {
            Frame();
            ++frames;
            if (eachFrame) eachFrame();
        }
        return frames;
    }
};

TEST_F(ScreenRestoreTest, KeptScreenComesBackOnTheDriversFirstFrame) {
    if (IsSkipped()) return;
    Build();
    if (HasFatalFailure()) return;
    GSL_ModePush(b, 1);
    EXPECT_EQ(w->suspended, SCREEN_KEPT);
    EXPECT_EQ(w->pause[t1], 0);
    EXPECT_EQ(w->pause[t2], 1);
    EXPECT_EQ(TaskTable.slots[t1]->suspended, 1);
    EXPECT_TRUE(Lib_SpriteIsLive(300));
    EXPECT_NE(TextTable[text], nullptr);
    EXPECT_EQ(SoundChannelTable[0].st.fadeOutFrames.load(), 0u);
    EXPECT_EQ(FrameRateConfig, 60);
    Frame(3);
    EXPECT_EQ(aRuns, 0);

    GSL_ModePop();
    Frame();  // the driver goes on top
    EXPECT_EQ(GSL_ModeTop(), GSL_WorkRestoreCB);
    Frame();  // and finishes at once
    EXPECT_EQ(GSL_ModeTop(), a);
    EXPECT_EQ(w->suspended, SCREEN_ACTIVE);
    EXPECT_EQ(TaskTable.slots[t1]->suspended, 0);
    EXPECT_EQ(TaskTable.slots[t2]->suspended, 1);
    EXPECT_EQ(GSL_WorkLayerGet(a, 10), 300);
    Frame();
    EXPECT_EQ(aRuns, 1);
}

TEST_F(ScreenRestoreTest, ReleasedScreenComesBackAsItWas) {
    if (IsSkipped()) return;
    Build();
    if (HasFatalFailure()) return;
    const SpriteRecord before = SpriteTable[300];
    const TextRecord textBefore = *TextTable[text];
    const int32_t expectedMb = Lib_SoundGainToMb(0.4f);
    Lib_FrameRateSet(75);
    GSL_ModePush(b, 0);
    EXPECT_EQ(w->suspended, SCREEN_RELEASED);
    EXPECT_EQ(FrameRateConfig, 60);
    // Kept and capture sprites stay loaded but hidden; the rest is freed.
    EXPECT_TRUE(Lib_SpriteIsLive(250));
    EXPECT_EQ(SpriteTable[250].visible, 0);
    EXPECT_TRUE(Lib_SpriteIsLive(w->layers[2].handle));
    EXPECT_EQ(SpriteTable[w->layers[2].handle].visible, 0);
    for (int32_t s : {300, 400, 500, 719, 419, 418}) EXPECT_FALSE(SpriteTable[s].flags & SPRITE_IN_USE) << s;
    EXPECT_EQ(TextTable[text], nullptr);
    EXPECT_EQ(SoundChannelTable[0].st.fadeOutFrames.load(), 16u);
    EXPECT_EQ(TaskTable.slots[t1]->suspended, 1);
    EXPECT_EQ(TaskTable.slots[t1]->finishRequest, 0);
    // Meanwhile another owner takes sprite 719, the last slot.
    ASSERT_EQ(Lib_SpriteLoad(719, nullptr, -1, 0), 719);
    Frame(20);
    EXPECT_EQ(Lib_SoundStateGet(0), 0);  // faded out and released

    bool heldSilent = false, loudEarly = false;
    PopAndReturn([&] {
        sound_test::FakeVoice v = Voice(0);
        if (SoundChannelTable[0].st.pause.load() & SOUND_PAUSE_REQUEST) heldSilent = true;
        if (v.playing && v.mB != expectedMb) loudEarly = true;
    });
    EXPECT_EQ(aRuns, 1);
    EXPECT_TRUE(heldSilent);
    EXPECT_FALSE(loudEarly);
    EXPECT_EQ(w->suspended, SCREEN_ACTIVE);
    EXPECT_EQ(FrameRateConfig, 60);

    // The picture is back in its old sprite slot with its attributes.
    ASSERT_EQ(GSL_WorkLayerGet(a, 10), 300);
    const SpriteRecord& r = SpriteTable[300];
    EXPECT_EQ(r.visible, 1);
    EXPECT_EQ(r.posX, before.posX);
    EXPECT_EQ(r.posY, before.posY);
    EXPECT_EQ(r.scaleX, 2.0f);
    EXPECT_EQ(r.rotZ, 30.0f);
    EXPECT_EQ(0, std::memcmp(r.srcRect, before.srcRect, sizeof r.srcRect));
    EXPECT_EQ(r.color, 0x80FF0000u);
    EXPECT_EQ(r.priority, 55);
    EXPECT_EQ(r.subPriority, 3);
    EXPECT_EQ(0, std::memcmp(r.clipRect, before.clipRect, sizeof r.clipRect));
    EXPECT_EQ(r.cameraMode, 2u);
    EXPECT_EQ(r.centerX, 4.0f);
    EXPECT_EQ(r.centerY, 3.0f);
    EXPECT_EQ(r.shiftX, 1.0f);
    EXPECT_EQ(r.effectParams[5], 0.5f);
    EXPECT_EQ(r.layerTag, 9);
    ASSERT_GE(r.drawEntry, 0);
    EXPECT_EQ(DrawList.entries[r.drawEntry].priority, 55);
    EXPECT_EQ(DrawList.entries[r.drawEntry].arg, reinterpret_cast<uint64_t>(&SpriteTable[300]));
    // Kept and capture sprites are shown again; the one whose old slot was
    // taken is back elsewhere.
    EXPECT_EQ(SpriteTable[250].visible, 1);
    const int32_t moved = GSL_WorkLayerGet(a, 5);
    EXPECT_TRUE(Lib_SpriteIsLive(moved));
    EXPECT_NE(moved, 719);
    // Copies: the short chain whole, the six-link chain without its last link.
    EXPECT_EQ(GSL_WorkLayerGet(a, 20), 400);
    EXPECT_EQ(GSL_WorkLayerGet(a, 19), 419);
    EXPECT_EQ(GSL_WorkLayerGet(a, 18), 418);
    for (uint32_t i = 35; i <= 39; ++i) EXPECT_EQ(GSL_WorkLayerGet(a, i), int32_t(480 + i)) << i;
    EXPECT_EQ(GSL_WorkLayerGet(a, 34), -1);
    // The text comes back fully shown where it was.
    ASSERT_EQ(GSL_WorkTextGet(a, 0), text);
    const TextRecord* t = TextTable[text];
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->finished, 1);
    EXPECT_EQ(t->revealed, kTextBufferSize);
    EXPECT_EQ(t->x, textBefore.x);
    EXPECT_EQ(t->y, textBefore.y);
    EXPECT_EQ(t->colour, 0xFF00FF00u);
    EXPECT_EQ(t->layer, 50);
    EXPECT_TRUE(t->state & TEXT_STATE_DRAWN);
    // The music plays again at its volume; the one-shot sound does not.
    Frame(2);
    EXPECT_EQ(Lib_SoundStateGet(0), SOUND_PLAYING);
    EXPECT_TRUE(Voice(0).playing);
    EXPECT_EQ(Voice(0).mB, expectedMb);
    EXPECT_EQ(SoundChannelTable[0].st.volume.load(), 40.0f);
    EXPECT_EQ(Lib_SoundStateGet(3), 0);
    EXPECT_EQ(GSL_WorkSoundGet(a, 3), -1);
    EXPECT_EQ(TaskTable.slots[t1]->suspended, 0);
    EXPECT_EQ(TaskTable.slots[t2]->suspended, 1);

    // A saved rate of 0 comes back as 1.
    w->savedFrameRate = 0;
    GSL_WorkRestoreLoad(a);
    EXPECT_EQ(FrameRateConfig, 1);
    Lib_FrameRateSet(FrameRate);
    Lib_SpriteFree(719);
}

// The driver waits only for a live script task whose status is still 0; a
// stored task id that now names another task is not waited for.
TEST_F(ScreenRestoreTest, WaitsForTheScriptTaskOnly) {
    if (IsSkipped()) return;
    StartMinimal();
    SetBody(0, [this] { ++aRuns; });
    w = MakeContext(a);
    const int32_t other = Lib_TaskSet("Other", IdleCB, 34000, 401, 0);
    std::memset(Lib_TaskWorkAlloc(uint32_t(other), 64), 0, 64);
    w->tasks[0] = other;
    GSL_ModePush(b, 1);
    EXPECT_LE(PopAndReturn(), 3);
    Lib_TaskDel(uint32_t(other));

    // A script task that idles with its status still 0.
    const int32_t script = Lib_TaskSet("GSL_ScriptCB", GSL_ScriptCB, 34000, 400, 0);
    auto* sw = static_cast<ScriptTaskWork*>(Lib_TaskWorkAlloc(uint32_t(script), sizeof(ScriptTaskWork)));
    std::memset(static_cast<void*>(sw), 0, sizeof *sw);
    sw->ownSlot = script;
    sw->secondSlot = -1;
    sw->state = SCRIPT_TASK_DONE;
    w->tasks[0] = script;
    GSL_ModePush(b, 1);
    GSL_ModePop();
    Frame(5);
    EXPECT_EQ(aRuns, 1);
    EXPECT_EQ(GSL_ModeTop(), GSL_WorkRestoreCB);
    sw->script.status = SCRIPT_READY;
    Frame(2);
    EXPECT_EQ(aRuns, 2);
}

// A kept sprite with a capture image gets one mask texture however often it
// comes back; a copy gets none, nor an image that is not 32-bit 1280x720.
TEST_F(ScreenRestoreTest, MaskTexturesAreMadeOnceAndOnlyFromAFullFrameImage) {
    if (IsSkipped()) return;
    StartMinimal();
    SetBody(0, [this] { ++aRuns; });
    w = MakeContext(a);
    const uint32_t bytes = 256 + 1280 * 720 * 4;
    auto* good = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_GRAPHICS, bytes, 256));
    auto* bad = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_GRAPHICS, bytes, 256));
    ASSERT_TRUE(good && bad);
    std::memset(good, 0, bytes);
    std::memcpy(good, "EXT0", 4);
    const int32_t dims[6] = {1280, 720, 1280, 720, -9999, -9999};
    std::memcpy(good + 12, dims, sizeof dims);
    good[36] = 32;
    std::memcpy(bad, good, bytes);
    const int32_t small[2] = {640, 360};
    std::memcpy(bad + 12, small, sizeof small);
    for (uint32_t layer : {0u, 2u}) {
        const int32_t h = GSL_WorkLayerLoad(a, layer, -1, nullptr, -1, 0, nullptr, nullptr);
        ASSERT_GE(h, 0);
        SpriteTable[h].effectParams[10] = 1.0f;
        SpriteTable[h].maskImage = layer == 0 ? good : bad;
    }
    ASSERT_GE(GSL_WorkLayerCopy(a, 1, 0, -1), 0);
    int32_t objects = 0;
    for (int round = 0; round < 3; ++round) {
        GSL_ModePush(b, 0);
        PopAndReturn();
        if (round == 0) objects = SpriteLiveObjects;
    }
    EXPECT_EQ(SpriteLiveObjects, objects);
    const SpriteRecord& kept = SpriteTable[GSL_WorkLayerGet(a, 0)];
    EXPECT_NE(kept.maskTexture, 0u);
    EXPECT_EQ(SpriteTable[GSL_WorkLayerGet(a, 2)].maskTexture, 0u);
    const SpriteRecord& copy = SpriteTable[GSL_WorkLayerGet(a, 1)];
    EXPECT_TRUE(copy.maskTexture == 0 || copy.maskTexture == kept.maskTexture);
    GSL_WorkDeleteAll();
    Lib_MemFree(HEAP_GRAPHICS, good);
    Lib_MemFree(HEAP_GRAPHICS, bad);
}
}  // namespace

namespace {
// A context made over the bytes of a freed block comes back from a kept push
// as a fresh one does: on the driver's first frame, with no picture loaded
// on its behalf.
TEST_F(ScreenRestoreTest, AContextOverOldBytesComesBackAsAFreshOneDoes) {
    if (IsSkipped()) return;
    StartMinimal();
    SetBody(0, [this] { ++aRuns; });
    void* old = Lib_MemAlloc(HEAP_SCREEN, sizeof(ScreenWork), 4);
    ASSERT_NE(old, nullptr);
    std::memset(old, 0xFF, sizeof(ScreenWork));
    Lib_MemFree(HEAP_SCREEN, old);
    w = MakeContext(a);
    ASSERT_EQ(static_cast<void*>(w), old) << "the context takes the freed block";
    auto spritesInUse = [] {
        int n = 0;
        for (const SpriteRecord& s : SpriteTable) n += (s.flags & SPRITE_IN_USE) != 0;
        return n;
    };
    const int before = spritesInUse();
    aRuns = 0;
    GSL_ModePush(b, 1);
    Frame(2);
    EXPECT_EQ(PopAndReturn(), 3);  // driver on top, restore, the screen again
    EXPECT_EQ(aRuns, 1);
    EXPECT_EQ(spritesInUse(), before);
}

// More released pictures than there are file-load slots: those that find no
// slot at the reload wait for one, and every layer comes back.
TEST_F(ScreenRestoreTest, MoreLayersThanLoadSlotsAllComeBack) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Files({Tool("image_data.py", "visual/a.ext", "ext0 {} --size 8 8")}));
    StartMinimal();
    SetBody(0, [this] { ++aRuns; });
    w = MakeContext(a);
    ASSERT_NE(w, nullptr);
    constexpr uint32_t kLayers = 200;
    for (uint32_t batch = 0; batch < kLayers; batch += 100) {
        for (uint32_t i = batch; i < batch + 100; ++i)
            ASSERT_EQ(GSL_WorkLayerLoad(a, i, int32_t(100 + i), "visual/a.ext", -1, 1, nullptr, nullptr),
                      int32_t(100 + i));
        FramesUntil([&] { return GSL_WorkLayersReady(a); }, 20, "a batch of pictures");
    }
    aRuns = 0;
    GSL_ModePush(b, 0);
    for (uint32_t i = 0; i < kLayers; ++i) ASSERT_FALSE(SpriteTable[100 + i].flags & SPRITE_IN_USE) << i;
    loaderPasses = 4;
    PopAndReturn();
    EXPECT_EQ(aRuns, 1);
    for (uint32_t i = 0; i < kLayers; ++i) {
        const int32_t h = GSL_WorkLayerGet(a, i);
        ASSERT_GE(h, 0) << "layer " << i;
        EXPECT_EQ(Lib_SpriteGetState(h), 2) << "layer " << i;
    }
}
}  // namespace
