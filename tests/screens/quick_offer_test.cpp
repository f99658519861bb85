// A start after a run that left a quick save: the boot flow loads slot 33
// from the disk, and the title's menu offers "continue", with the quick
// save's panel beside it once the cursor is there.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "screens/title_work.h"
#include "story/game_state.h"
#include "story/line_text.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "tests/ui/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/utility_dialog.h"

namespace {

class QuickOffer : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        std::strcpy(UserId, "4242");
        for (int i = 0; i < 32; ++i) SaveBinSizeTable[i] = 135752;
        SaveBinSizeTable[32] = 4379;
        SaveBinSizeTable[33] = 366152;
        SystemDataFresh = 0;
        QuickDataPresent = 0;
    }
    void TearDown() override {
        ShowQuickGDDel();
        Lib_SaveEnd();
        ScreenHarness::TearDown();
        TextLanguage = 0;
        QuickDataPresent = 0;
    }
    // Frames, the disk writer in real time, until the save task has answered.
    bool Saved(SaveRequest* request, int32_t slot) {
        const int32_t task = Lib_SaveTaskSet(0, request, slot);
        if (task < 0) return false;
        for (int i = 0; i < 3000 && Lib_SaveTaskResult(task) == 0; ++i) {
            if (i > 50) ::usleep(1000);
            Frame();
        }
        const bool ok = Lib_SaveTaskResult(task) == 1;
        Lib_SaveTaskEnd(task);
        return ok;
    }
};

TEST_F(QuickOffer, TheNextStartOffersTheQuickSaveAtTheTitle) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    Messages();
    ASSERT_TRUE(Fonts());

    // The first run's quick save as the store keeps it: slot 33, then the
    // system slot.
    ASSERT_TRUE(Lib_SaveInit());
    GSL_GameStateInit();
    std::strcpy(GameStateBlock.scriptName, "00_init.txt");
    GameStateBlock.gameVars[3] = 11;
    static uint8_t block[366152];
    std::memcpy(block, &GameStateBlock, sizeof GameStateBlock);
    static SaveRequest quick{};
    std::strcpy(quick.detail, "Prologue  a quick line");
    quick.data = block;
    quick.dataSize = sizeof block;
    ASSERT_TRUE(Saved(&quick, kSaveQuickSlot));
    SaveRequest system;
    GSL_SystemSaveRequestBuild(&system);
    ASSERT_TRUE(Saved(&system, kSaveSystemSlot));
    ASSERT_TRUE(Lib_SaveFlush());
    Lib_SaveEnd();
    std::memset(static_cast<void*>(&GameStateBlock), 0, sizeof GameStateBlock);

    // The next start, from the boot flow: the logos and the movie cut short
    // with decide, as a player would.
    ASSERT_TRUE(Lib_SaveInit());
    StartFull();
    bool down = false;
    ASSERT_TRUE(FramesUntil(
        [&] {
            if (program_title::Title()) TitleFlags |= 2;  // the first movie may be cut, as on a later start
            const bool cut = program_title::LogoHeld() ||
                             (program_title::MoviePlaying() && MovieState.load() == MOVIE_PLAYING);
            down = cut && !down;
            if (down) Hold(BUTTON_DECIDE);
            else Release(BUTTON_DECIDE);
            return program_title::TitleMenuUp();
        },
        3000, "the title's menu"));
    Release(BUTTON_DECIDE);
    EXPECT_EQ(SystemDataFresh, 0) << "the system slot was there";
    EXPECT_EQ(QuickDataPresent, 1);
    EXPECT_EQ(QuickDataCache.gameVars[3], 11);
    EXPECT_STREQ(QuickCaption, "Prologue  a quick line");
    Frame(30);
    const SpriteRecord* item = Lib_SpriteAt(TitleItemSprite(4));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->color >> 24, 0xFFu) << "continue is offered";
    EXPECT_EQ(ShowQuickGDState(), -1) << "no panel away from continue";
    for (int i = 0; i < 4 && program_title::TitleInput()->cursor != 4; ++i) {
        Hold(BUTTON_DOWN);
        Frame();
        Release(BUTTON_DOWN);
        Frame();
    }
    ASSERT_EQ(program_title::TitleInput()->cursor, 4);
    Frame(5);
    EXPECT_GE(ShowQuickGDState(), 0) << "the quick save's panel beside continue";
}

}  // namespace
