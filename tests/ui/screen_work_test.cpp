// Screen contexts and the mode stack through the screen harness: creation
// and lookup, pushes, appends and hand-overs, and the deletion of every
// screen at once.
#include <gtest/gtest.h>

#include "engine/core/heap.h"
#include "engine/render/sprite_load.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"
#include "ui/widget_delete.h"

namespace {
using ScreenWorkTest = ScreenHarness;

// A widget that owns a sprite outside any screen slot.
struct OwnSpriteWork {
    int32_t slot;
    int32_t sprite;
};
int32_t OwnSpriteCB(void*) { return 0; }
void OwnSpriteDelete(int32_t task) {
    if (task < 0 || task >= kTaskSlots || !TaskTable.slots[task]) return;
    auto* w = static_cast<OwnSpriteWork*>(TaskTable.slots[task]->work);
    if (w) Lib_SpriteFree(w->sprite);
    Lib_TaskDel(uint32_t(task));
}
int32_t OwnSpriteSet() {
    int32_t t = Lib_TaskSet("OwnSpriteCB", OwnSpriteCB, 34000, 400, 0);
    auto* w = static_cast<OwnSpriteWork*>(Lib_TaskWorkAlloc(uint32_t(t), sizeof(OwnSpriteWork)));
    w->slot = t;
    w->sprite = Lib_SpriteLoad(-1, nullptr, -1, 0);
    return t;
}

int32_t Blank(ModeFunction screen, uint32_t layer, int32_t first) {
    return GSL_WorkLayerLoad(screen, layer, first, nullptr, -1, 0, nullptr, nullptr);
}

TEST_F(ScreenWorkTest, LookupsCreationAndPushRefusals) {
    if (IsSkipped()) return;
    StartMinimal();
    const ModeFunction a = TestScreen(0), b = TestScreen(1), c = TestScreen(2);

    // An empty stack: screen 0 is nobody, even for a context made there.
    EXPECT_EQ(GSL_WorkGet(nullptr), nullptr);
    EXPECT_EQ(GSL_ModeCount(), 0);
    GSL_WorkCreate();
    ASSERT_NE(ScreenWorkTable[0], nullptr);
    EXPECT_EQ(ScreenWorkTable[0]->screenId, nullptr);
    EXPECT_EQ(GSL_WorkGet(nullptr), nullptr);
    EXPECT_EQ(GSL_ModeCount(), 0);
    GSL_WorkDeleteAll();

    // Step 0 creates the context; with the table full it keeps running step 0.
    int stepZero = 0, stepOne = 0;
    SetBody(0, [&] {
        ScreenWork* w = GSL_WorkGet(nullptr);
        if (w && w->step == 1) {
            ++stepOne;
            return;
        }
        ++stepZero;
        GSL_WorkCreate();
        if ((w = GSL_WorkGet(nullptr))) w->step = 1;
    });
    Push(b);
    for (int i = 0; i < kScreenWorkSlots; ++i) GSL_WorkCreate();  // duplicates of b
    EXPECT_EQ(GSL_WorkIndex(b), 0);                                 // the lower index wins
    ModeStack[0] = a;
    Frame(3);
    EXPECT_EQ(stepZero, 3);
    EXPECT_EQ(stepOne, 0);
    GSL_WorkDelete(b);  // frees table entry 0
    EXPECT_EQ(GSL_WorkIndex(b), 1);
    Frame(2);
    EXPECT_EQ(stepZero, 4);
    EXPECT_EQ(stepOne, 1);
    EXPECT_EQ(GSL_WorkIndex(a), 0);
    GSL_WorkDeleteAll();

    // A push while the top has no context changes nothing.
    Push(c);
    GSL_ModePush(a, 1);
    EXPECT_EQ(GSL_ModeCount(), 1);
    EXPECT_EQ(GSL_ModeTop(), c);

    // A push onto a full stack is refused whole: nothing is suspended.
    for (int i = 1; i < kModeStackSize - 2; ++i) Push(c);
    Push(a);
    GSL_WorkCreate();
    const ScreenWork* below = GSL_WorkGet(a);
    Push(c);
    GSL_WorkCreate();
    ScreenWork* top = GSL_WorkGet(nullptr);
    ASSERT_NE(top, nullptr);
    Log();
    GSL_ModePush(a, 0);
    EXPECT_EQ(top->suspended, SCREEN_ACTIVE);
    EXPECT_EQ(GSL_ModeTop(), c);
    EXPECT_NE(Log().find("mode stack is full"), std::string::npos);

    // So is an append; a hand-over on the full stack deletes the top's
    // context, puts the next screen in its entry and leaves the one below.
    EXPECT_FALSE(GSL_ModeAppend(a));
    EXPECT_EQ(GSL_ModeCount(), kModeStackSize);
    EXPECT_NE(Log().find("mode stack is full"), std::string::npos);
    GSL_ModeHandOver(b);
    EXPECT_EQ(GSL_ModeCount(), kModeStackSize);
    EXPECT_EQ(GSL_ModeTop(), b);
    EXPECT_EQ(GSL_WorkGet(c), nullptr);
    EXPECT_EQ(GSL_WorkGet(a), below);
    EXPECT_EQ(ModeStack[kModeStackSize - 2], a);
}

TEST_F(ScreenWorkTest, NoContextWhenNoHeapHasRoom) {
    if (IsSkipped()) return;
    uint8_t live[HEAP_COUNT];
    std::copy(std::begin(HeapTable.live), std::end(HeapTable.live), live);
    std::fill(std::begin(HeapTable.live), std::end(HeapTable.live), uint8_t(0));
    MemHeap* heap = &HeapTable.heaps[HEAP_SCREEN];
    void* filler = Lib_MemHeapAlloc(heap, Lib_MemHeapLargestFree(heap) - 4096, 4, true);
    Push(TestScreen(0));
    GSL_WorkCreate();
    std::copy(live, live + HEAP_COUNT, HeapTable.live);
    EXPECT_NE(filler, nullptr);
    for (ScreenWork* w : ScreenWorkTable) EXPECT_EQ(w, nullptr);
    EXPECT_NE(Log().find("GSL_WorkCreate"), std::string::npos);
    Lib_MemFree(HEAP_SCREEN, filler);
    GSL_WorkDeleteAll();
}

// GSL_WorkDeleteAll from inside a screen task, with a released context whose
// old sprite slots a system task has taken meanwhile, and widgets that own
// sprites of their own.
TEST_F(ScreenWorkTest, DeleteAllFromAScreenTaskFreesOnlyWhatTheScreensOwn) {
    if (IsSkipped()) return;
    ASSERT_TRUE(GSL_WidgetDeleteRegister(OwnSpriteCB, OwnSpriteDelete));
    const ModeFunction a = TestScreen(0), b = TestScreen(1), c = TestScreen(2);
    ScreenWork* wa = MakeContext(a);
    ASSERT_EQ(Blank(a, 0, 100), 100);
    ASSERT_EQ(Blank(a, 1, 101), 101);
    SpriteTable[101].effectParams[10] = 1.0f;  // kept through the release
    ASSERT_EQ(GSL_WorkTextSet(a, 0, 5, "a"), 5);
    GSL_ModePush(b, 0);
    EXPECT_EQ(wa->suspended, SCREEN_RELEASED);
    EXPECT_FALSE(SpriteTable[100].flags & SPRITE_IN_USE);
    EXPECT_TRUE(Lib_SpriteIsLive(101));
    EXPECT_EQ(SpriteTable[101].visible, 0);

    // A system task takes the released sprite and text slots.
    ASSERT_EQ(Lib_SpriteLoad(100, nullptr, -1, 0), 100);
    const TextPos origin{0, 0, 0};
    ASSERT_EQ(Lib_TextSet(5, "system", &origin), 5);

    GSL_WorkCreate();  // b's context
    ASSERT_GE(Blank(b, 0, -1), 0);
    GSL_ModePush(c, 1);
    GSL_WorkCreate();  // c's context
    ASSERT_GE(Blank(c, 3, -1), 0);
    ASSERT_GE(GSL_WorkTextSet(c, 1, -1, "c"), 0);
    const int32_t w1 = OwnSpriteSet(), w2 = OwnSpriteSet();
    const int32_t ownSprite = static_cast<OwnSpriteWork*>(TaskTable.slots[w1]->work)->sprite;
    EXPECT_TRUE(Lib_SpriteIsLive(ownSprite));

    static bool ran;
    ran = false;
    Lib_TaskSet("DeleteAllCB", [](void*) -> int32_t {
        if (!ran) GSL_WorkDeleteAll();
        ran = true;
        return 0;
    }, 30000, 400, 0);
    Frame();
    EXPECT_TRUE(ran);

    // The system task's sprite and text stand; nothing of the screens does.
    EXPECT_TRUE(Lib_SpriteIsLive(100));
    ASSERT_NE(TextTable[5], nullptr);
    EXPECT_STREQ(TextTable[5]->text, "system");
    for (int32_t i = 0; i < kSpriteSlots; ++i)
        EXPECT_TRUE(i == 100 || !(SpriteTable[i].flags & SPRITE_IN_USE)) << "sprite " << i;
    for (int32_t i = 0; i < kTextSlots; ++i)
        EXPECT_TRUE(i == 5 || !TextTable[i]) << "text " << i;
    EXPECT_EQ(TaskTable.slots[w1], nullptr);
    EXPECT_EQ(TaskTable.slots[w2], nullptr);
    EXPECT_EQ(TaskCount(400), 0);
    MemHeap* heap = &HeapTable.heaps[HEAP_SCREEN];
    EXPECT_EQ(heap->usedCount, 0u);
    EXPECT_GE(Lib_MemHeapLargestFree(heap) + 64, heap->size);  // one free block
    EXPECT_EQ(GSL_ModeCount(), 0);
    for (ScreenWork* w : ScreenWorkTable) EXPECT_EQ(w, nullptr);

    Lib_SpriteFree(100);
    Lib_TextDel(5);
    GSL_WidgetDeleteRegister(OwnSpriteCB, nullptr);
}

// A context released under a keep-0 push while kept (state 1) is not
// released again by a second keep-0 push.
TEST_F(ScreenWorkTest, ReleasedContextIsNotReleasedAgain) {
    if (IsSkipped()) return;
    const ModeFunction a = TestScreen(0), b = TestScreen(1), c = TestScreen(2), d = TestScreen(3);
    ScreenWork* wa = MakeContext(a);
    ASSERT_EQ(Blank(a, 0, 200), 200);
    ASSERT_EQ(GSL_WorkTextSet(a, 0, 7, "a"), 7);
    GSL_WorkSoundSet(a, 4, {.file = "sound/none.wav"});
    GSL_ModePush(b, 1);
    GSL_WorkCreate();
    GSL_ModePush(c, 0);  // releases b and the kept a
    EXPECT_EQ(wa->suspended, SCREEN_KEPT);
    EXPECT_FALSE(SpriteTable[200].flags & SPRITE_IN_USE);
    GSL_WorkCreate();
    // Others take a's old sprite, text and channel.
    ASSERT_EQ(Lib_SpriteLoad(200, nullptr, -1, 0), 200);
    const TextPos origin{0, 0, 0};
    ASSERT_EQ(Lib_TextSet(7, "other", &origin), 7);
    ASSERT_EQ(Lib_SoundPlay(4, "sound/other.wav", 0, -1, 0, 0, nullptr), 4);
    GSL_ModePush(d, 0);
    EXPECT_TRUE(Lib_SpriteIsLive(200));
    EXPECT_NE(TextTable[7], nullptr);
    EXPECT_EQ(SoundChannelTable[4].st.fadeOutFrames.load(), 0u);  // not faded out
    GSL_WorkDeleteAll();
    EXPECT_TRUE(Lib_SpriteIsLive(200));
    Lib_SpriteFree(200);
    Lib_TextDel(7);
    Lib_SoundStop(4, 1);
}
}  // namespace
