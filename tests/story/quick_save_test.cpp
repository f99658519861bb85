// The quick save: its caption table, the thumbnail taken from the story's
// capture, the write of slot 33 and the system slot, and the load at start-up
// from the files on disk.
#include <gtest/gtest.h>


#include <cstring>
#include <string>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "engine/render/sprite.h"
#include "story/game_state.h"
#include "story/line_text.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "story/story_screen.h"
#include "tests/ui/screen_harness.h"

namespace {

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(QuickCaption, EveryAppendCountsAgainstSixtyBytesAndKeysStayWhole) {
    char out[kQuickCaptionSize + 8];
    const std::string a3 = "\xE3\x81\x82";  // one three-byte character
    const std::string name66(66, 'n');
    const struct {
        const char* what;
        std::string name, speaker, message, expect;
    } rows[] = {
        {"a line without text", "Ch1", "Welm", "", "Ch1  Welm  "},
        {"no speaker", "Ch1", "", "Hello", "Ch1  Hello"},
        // 5 + 18 * 3 = 59: the next character would pass 60.
        {"multi-byte at the boundary", "Ch1", "", Repeat(a3, 19), "Ch1  " + Repeat(a3, 18) + "\xE2\x80\xA6"},
        {"a 66-byte name text", name66, "Welm", "Hi", std::string(60, 'n') + "\xE2\x80\xA6"},
        // "Ch1  " + 49 bytes = 54; "TEXT_1234" would end at 63.
        {"a raw key at the boundary", "Ch1", "", std::string(49, 'm') + "TEXT_1234",
         "Ch1  " + std::string(49, 'm') + "\xE2\x80\xA6"},
        {"a key that fits", "NAME_3", "", "TEXT_10", "NAME_3  TEXT_10"},
    };
    for (const auto& row : rows) {
        std::memset(out, 0x5A, sizeof out);
        GSL_QuickCaptionBuild(out, row.name.c_str(), row.speaker.c_str(), row.message.c_str());
        EXPECT_EQ(std::string(out), row.expect) << row.what;
        EXPECT_LE(std::strlen(out), kQuickCaptionSize - 1) << row.what;
        EXPECT_EQ(uint8_t(out[kQuickCaptionSize]), 0x5A) << row.what;  // nothing past the 64 bytes
    }
}

const char kMessages[] =
    "languages = ja en zh-hans zh-hant\n"
    "[section 0]\n0.en = The Game\n0.ja = The Game\n"
    "[section 1]\ncount = 14\n0.en = Yes\n1.en = No\n0.ja = Yes\n1.ja = No\n"
    "[section 2]\n7.en = No data\n7.ja = No data\n10.en = System\n10.ja = System\n11.en = Data\n11.ja = Data\n"
    "12.en = Settings\n12.ja = Settings\n";

class QuickSave : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(Files({Bytes("src/mes.txt", kMessages),
                           Tool("vndata.py", "script/system_mes.mul", "mul {} root/src/mes.txt")}));
        std::strcpy(UserId, "4242");
        Lib_SaveSizesSet();
        ASSERT_TRUE(Lib_SaveInit());
        StartFull();
        ModeStack[0] = TestScreen(0);
        SetBody(0, [] {});
        Messages();
        TextLanguage = 1;
        Frame();
    }
    void TearDown() override {
        if (!IsSkipped()) Lib_SaveEnd();
        Lib_SpriteFree(StoryCaptureSprite);
        ScreenHarness::TearDown();
    }
    // Frames (the disk writer runs in real time) until the quick task is over.
    bool TaskOver() { return FramesUntilWorker([] { return SaveQuickGDGuard == -1; }, "the quick task's end"); }
};

TEST_F(QuickSave, TheThumbnailIsTheTopLeftBlockOfTheCaptureInBgraWithOpaqueAlpha) {
    if (IsSkipped()) return;
    // A gradient: B = x, G = y, R = x + y, alpha 0x10 (the thumbnail's is 0xFF).
    std::vector<uint8_t> frame(1280u * 720u * 4u);
    for (uint32_t y = 0; y < 720; ++y)
        for (uint32_t x = 0; x < 1280; ++x) {
            uint8_t* p = &frame[(y * 1280 + x) * 4];
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = uint8_t(x + y);
            p[3] = 0x10;
        }
    const int32_t slot = Lib_SpriteGetFree(-1);
    ASSERT_GE(slot, 0);
    SpriteRecord& r = SpriteTable[slot];
    r.texture = r.textureView = Lib_SpriteTexCreate(1280, 720, false, frame.data());
    r.flags |= SPRITE_READY;
    StoryCaptureSprite = slot;
    std::strcpy(GameStateBlock.stage.name, "Ch1");
    GameStateBlock.readLineCount = 0;
    GSL_QuickCaptureThumb();
    int wrong = 0;
    for (uint32_t y = 0; y < 180; ++y)
        for (uint32_t x = 0; x < 320; ++x) {
            const uint8_t* p = &QuickThumb[(y * 320 + x) * 4];
            wrong += p[0] != uint8_t(x) || p[1] != uint8_t(y) || p[2] != uint8_t(x + y) || p[3] != 0xFF;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_STREQ(QuickCaption, "Ch1  ");

    // Without a capture sprite nothing changes.
    Lib_SpriteFree(StoryCaptureSprite);
    StoryCaptureSprite = -1;
    GSL_QuickCaptureThumb();
    EXPECT_EQ(QuickThumb[4], 1);
    EXPECT_STREQ(QuickCaption, "Ch1  ");
}

TEST_F(QuickSave, SlotThirtyThreeHoldsTheBufferAndThumbnailAndLoadsBackCheckedAtStartUp) {
    if (IsSkipped()) return;
    // The live state as the menu's quick save takes it: the play time counts
    // up to the save.
    GSL_GameStateInit();
    GameStateBlock.playHours = 2;
    GameStateBlock.gameVars[5] = 7;
    std::strcpy(GameStateBlock.scriptName, "00_init.txt");
    GSL_PlayTimeClockSet([] { return uint64_t(15'000'000); });
    PlayTimeBase = 10'000'000;
    GSL_QuickSaveNow();
    GSL_PlayTimeClockSet(nullptr);
    EXPECT_EQ(QuickDataPresent, 1);
    EXPECT_EQ(QuickDataCache.playHours, 2);
    EXPECT_EQ(QuickDataCache.playSeconds, 5);
    EXPECT_EQ(QuickDataCache.gameVars[5], 7);
    EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(&QuickDataCache) + 4,
                          reinterpret_cast<uint8_t*>(&GameStateBlock) + 4, sizeof(GameState) - 4),
              0);
    EXPECT_EQ(SaveQuickGDGuard, -2);
    SaveQuickGDSet(SAVE_TASK_SAVE);  // refused while one runs
    for (int i = 0; i < 255; ++i) QuickThumb[i] = uint8_t(i);
    std::strcpy(QuickCaption, "Ch1  TEXT_10");
    ASSERT_TRUE(TaskOver());
    ASSERT_TRUE(Lib_SaveFlush());
    const uint8_t* image = Lib_SaveImageGet();
    EXPECT_EQ(std::memcmp(image + SavePartOffset(kSaveQuickSlot, 0), &QuickDataCache, sizeof QuickDataCache), 0);
    EXPECT_EQ(std::memcmp(image + SavePartOffset(kSaveQuickSlot, 0) + sizeof QuickDataCache, QuickThumb,
                          sizeof QuickThumb),
              0);
    SaveInfo info{};
    ASSERT_EQ(Lib_SaveSlotCheck(kSaveQuickSlot, &info), 0u);
    EXPECT_STREQ(info.subtitle, "Data(Quick)");
    EXPECT_STREQ(info.detail, "Ch1  TEXT_10");
    ASSERT_EQ(Lib_SaveSlotCheck(kSaveSystemSlot, nullptr), 0u);  // the system slot follows

    // A slot whose stored state is out of range and whose detail fills its
    // 1024 bytes, as a damaged or foreign file may: checked and cut.
    static uint8_t block[SaveDataSize(kSaveQuickSlot)];
    std::memcpy(block, &QuickDataCache, sizeof QuickDataCache);
    reinterpret_cast<GameState*>(block)->readLineCount = 0xFFFFFFFFu;
    std::memcpy(block + sizeof(GameState), QuickThumb, sizeof QuickThumb);
    static SaveRequest request{};
    std::memset(request.detail, 'd', sizeof request.detail - 1);
    request.data = block;
    request.dataSize = sizeof block;
    const int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, &request, kSaveQuickSlot);
    ASSERT_GE(task, 0);
    ASSERT_TRUE(FramesUntilWorker([task] { return Lib_SaveTaskResult(task) != SAVE_TASK_RUNNING; }, "the save"));
    Lib_SaveTaskEnd(task);
    ASSERT_TRUE(Lib_SaveFlush());

    // Start-up: the store from disk, then the quick-data step.
    Lib_SaveEnd();
    ASSERT_TRUE(Lib_SaveInit());
    QuickDataPresent = 0;
    std::memset(&QuickDataCache, 0, sizeof QuickDataCache);
    std::memset(QuickThumb, 0, sizeof QuickThumb);
    std::memset(QuickCaption, 0x41, kQuickCaptionSize);
    SaveQuickGDSet(SAVE_TASK_LOAD);
    ASSERT_TRUE(TaskOver());
    EXPECT_EQ(QuickDataPresent, 1);
    EXPECT_EQ(QuickDataCache.gameVars[5], 7);
    EXPECT_LE(QuickDataCache.readLineCount, kReadLineSize);
    EXPECT_EQ(QuickThumb[200], 200);
    EXPECT_EQ(std::strlen(QuickCaption), kQuickCaptionSize - 1);
    EXPECT_EQ(QuickCaption[0], 'd');

    // An empty slot offers nothing.
    const int32_t del = Lib_SaveTaskSet(SAVE_TASK_DELETE, nullptr, kSaveQuickSlot);
    ASSERT_TRUE(FramesUntilWorker([del] { return Lib_SaveTaskResult(del) != SAVE_TASK_RUNNING; }, "the deletion"));
    Lib_SaveTaskEnd(del);
    QuickDataPresent = 0;
    SaveQuickGDSet(SAVE_TASK_LOAD);
    ASSERT_TRUE(TaskOver());
    EXPECT_EQ(QuickDataPresent, 0);
}
}  // namespace
