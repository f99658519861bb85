// The load screen: a good load clears every screen and starts the story on
// the loaded bytes above a fresh title; anything else leaves the game state
// and the screens as they were.
#include "engine/core/heap.h"
#include "engine/render/sprite_load.h"
#include "story/story_screen.h"
#include "tests/screens/slot_env.h"
#include "ui/engine_services.h"

namespace {

class LoadScreenTest : public SlotEnv {
protected:
    void Confirm() {
        Press(BUTTON_DECIDE);
        ASSERT_TRUE(FramesUntil([] { return Work() && Work()->subState == 22; }, 10, "the question"));
        Frame(6);
        Hold(BUTTON_DECIDE);  // yes
        Frame();
        Release(BUTTON_DECIDE);
    }
    static std::string State() { return std::string(reinterpret_cast<const char*>(&GameStateBlock), sizeof(GameState)); }
    static bool Gone() { return GSL_ModeTop() == TestScreen(0); }
};

// Bytes of a game state the checks leave as they are.
std::string SavedState(int seed) {
    GameState g{};
    std::memcpy(g.version, "0100", 4);
    g.playHours = 3;
    g.playMinutes = 4;
    g.playSeconds = uint8_t(seed);
    g.gameVars[0] = int8_t(seed);
    std::snprintf(g.scriptName, sizeof g.scriptName, "%s", "00_init.txt");
    g.readLineCount = 5;
    std::snprintf(g.stage.name, sizeof g.stage.name, "%s", "Chapter One");
    return std::string(reinterpret_cast<const char*>(&g), sizeof g);
}

TEST_F(LoadScreenTest, GoodLoadStartsTheStoryOnTheSlotsBytes) {
    SlotImage image;
    image.Valid(4, 1, "The Book of Winds", "Chapter One");
    image.Broken(2, 5);  // a damaged slot keeps no other from loading
    const std::string saved = SavedState(9);
    image.SetData(4, saved);
    uint8_t digest[20];
    Lib_Sha1(saved.data(), uint32_t(saved.size()), digest);
    image.registry.replace(20 * 4, 20, reinterpret_cast<const char*>(digest), 20);
    Start(image, false);
    GSL_GameStateInit();
    GameStateBlock.gameVars[1] = 7;
    StoryCaptureSprite = Lib_SpriteLoad(-1, nullptr, -1, 0);
    SystemDataBlock.lastSlot = 4;
    StoryPausedFlag = 1;  // as the story screen leaves it under its menu
    struct Unpause {
        ~Unpause() { StoryPausedFlag = 0; }
    } unpause;
    Open(GSL_LoadModeCB);
    ASSERT_EQ(List()->cursor, 4);
    Confirm();
    std::string atSwitch;
    ASSERT_TRUE(FramesUntilWorker(
        [&] {
            const bool switched = ModeStack[0] == GSL_TitleModeCB && ModeStack[1] == GSL_StoryModeCB && !ModeStack[2];
            if (switched && atSwitch.empty()) atSwitch = State();
            return switched;
        },
        "the story over a fresh title"));
    // Before the story's first step: exactly the slot's bytes.
    EXPECT_EQ(atSwitch, saved);
    EXPECT_EQ(StoryCaptureSprite, -1);
    for (ScreenWork* w : ScreenWorkTable) EXPECT_EQ(w, nullptr);
    EXPECT_EQ(HeapTable.heaps[HEAP_SCREEN].usedCount, 0u);
    // The animated pictures' time base runs again for the loaded story.
    const float time = FrameTimeCounter;
    Frame(3);
    EXPECT_GT(FrameTimeCounter, time);
}

TEST_F(LoadScreenTest, FailedLoadPutsTheGameStateBack) {
    SlotImage image;
    image.Valid(0, 1, "The Book of Winds", "Chapter One");
    Start(image, false);
    GSL_GameStateInit();
    GameStateBlock.gameVars[2] = 5;
    GameStateBlock.playMinutes = 17;
    const std::string before = State();
    Open(GSL_LoadModeCB);
    Confirm();
    ASSERT_TRUE(FramesUntil([] { return Work()->subState == 10; }, 20, "the answer"));
    // The slot is damaged after the question: the store refuses it.
    char part[64];
    Lib_SaveFileName(0, part, sizeof part, ".bin.gz");
    void* address = nullptr;
    Lib_SaveDataAccess(4, part, &address, nullptr, 0);
    ASSERT_NE(address, nullptr);
    static_cast<uint8_t*>(address)[100] ^= 0xFF;
    int frame = 0;
    ASSERT_TRUE(FramesUntilWorker(
        [&] {
            if (++frame % 2) Hold(BUTTON_DECIDE);  // the store's notice
            else Release(BUTTON_DECIDE);
            return Gone();
        },
        "the screen below"));
    Release(BUTTON_DECIDE);
    // The screen below comes back as it was.
    EXPECT_TRUE(FramesUntil([] { return GSL_ModeCount() == 1; }, 30, "the restore"));
    EXPECT_EQ(State(), before);
}

TEST_F(LoadScreenTest, CancelLeavesEverythingAsItWas) {
    SlotImage image;
    image.Valid(0, 1, "The Book of Winds", "Chapter One");
    Lib_FrameRateSet(30);  // the screen below's
    Start(image, false);
    GSL_GameStateInit();
    GameStateBlock.gameVars[2] = 5;
    const std::string before = State();
    Open(GSL_LoadModeCB);
    EXPECT_EQ(FrameRateConfig, 60);
    Press(BUTTON_CANCEL);
    int frames = 0;
    ASSERT_TRUE(FramesUntil([&] { return Gone() || ++frames > 60; }, 100, "the screen below"));
    // The fade of 16 frames, without the 10 black frames of a load.
    EXPECT_LT(frames, 25);
    Frame(2);  // the screen below is restored
    EXPECT_EQ(State(), before);
    EXPECT_EQ(FrameRateConfig, 30);
    Lib_FrameRateSet(FrameRate);

    // Without its backup the screen starts no load: it could not be undone.
    Open(GSL_LoadModeCB);
    Lib_MemFree(HEAP_SCREEN, reinterpret_cast<void*>(uintptr_t(Work()->words[SLOT_WORD_BUFFER])));
    Work()->words[SLOT_WORD_BUFFER] = 0;
    Press(BUTTON_DECIDE);
    Frame(3);
    EXPECT_EQ(Work()->subState, 20);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return Gone(); }, 100, "the screen below"));
    EXPECT_EQ(State(), before);
}

// A save image written by someone else: fields without terminators, a
// picture header far larger than its part, token numbers beyond 32 bits.
TEST_F(LoadScreenTest, HostileSlotIsReadWithinBounds) {
    SlotImage image;
    std::string detail(1024, 'd');
    detail.replace(0, 40, "TEXT_99999999999999999999 SYSTEM_4294967295");
    image.Valid(0, 1, std::string(128, 'R'), detail, {65535, 99, 99, 99, 99, 99, 0}, SlotImage::Picture(1, 4096, 4096));
    image.Valid(1, 2, "The Book of Winds", "NAME_4294967295 TEXT_0000000000000000001");
    Start(image, false);
    Open(GSL_LoadModeCB);
    EXPECT_EQ(Sprite(SLOT_LAYER_PICT + 0), -1);  // refused: the row has no picture
    EXPECT_TRUE(Lib_SpriteIsLive(Sprite(SLOT_LAYER_PICT + 1)));
    Press(0x8);
    ASSERT_EQ(Work()->subState, 26);
    EXPECT_NE(TextOf(SLOT_TEXT_DETAIL), nullptr);
    Press(BUTTON_CANCEL);
    Press(BUTTON_DOWN);
    Settle();
    Press(0x8);
    ASSERT_EQ(Work()->subState, 26);
    Press(BUTTON_CANCEL);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return Gone(); }, 100, "the screen below"));
}

}  // namespace
