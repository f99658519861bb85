// The title's version label from the archives' versions, and the save check
// that puts the menu's cursor on "load".
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/core/save_sizes.h"
#include "engine/core/engine_state.h"
#include "engine/files/archive.h"
#include "screens/title.h"
#include "story/story_services.h"
#include "tests/ui/screen_harness.h"

namespace {
using TitleParts = ScreenHarness;

int Pack(const char* archive, const char* version) {
    return std::system((std::string("python3 " VN_SOURCE_DIR "/tools/pack.py pcarc data/") + archive +
                        " root --version " + version + " >/dev/null")
                           .c_str());
}

std::string Label() {
    char label[96];
    GSL_TitleVersionLabel(label, sizeof label);
    return label;
}

TEST_F(TitleParts, TheVersionLabelNamesEachArchiveAndTheR18Edition) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Files({Bytes("text/a.txt", "a")}));
    ASSERT_EQ(Pack("data_00.pcarc", "0123"), 0);
    ASSERT_EQ(Pack("data_p00.pcarc", "0099"), 0);
    Lib_PcArcOpen();
    EXPECT_EQ(Label(), "V01.23.E01.00.B01.23.P00.99.D00.00");
    ASSERT_EQ(Pack("data_r18.pcarc", "0007"), 0);
    Lib_PcArcOpen();
    EXPECT_EQ(Label(), "V01.23.E01.00.B01.23.P00.99.D00.07 - R18");
    // Below 100 the base version is 100.
    ASSERT_EQ(Pack("data_00.pcarc", "0042"), 0);
    Lib_PcArcOpen();
    EXPECT_EQ(Label(), "V01.00.E01.00.B00.42.P00.99.D00.07 - R18");
    char small[8];
    GSL_TitleVersionLabel(small, sizeof small);
    EXPECT_STREQ(small, "V01.00.");
}

TEST_F(TitleParts, OnlyASlotMatchingItsDigestCountsAsASave) {
    if (IsSkipped()) return;
    std::strcpy(UserId, "4242");
    Lib_SaveSizesSet();
    const std::string tool = "python3 " VN_SOURCE_DIR "/tools/save_data.py write user/4242/save ";
    ASSERT_EQ(std::system((tool + "--slot 5:1 --corrupt 5").c_str()), 0);
    ASSERT_TRUE(Lib_SaveInit());
    EXPECT_FALSE(GSL_TitleAnySaveValid());
    Lib_SaveEnd();
    ASSERT_EQ(std::system((tool + "--slot 5:1 --slot 17:2 --corrupt 5").c_str()), 0);
    ASSERT_TRUE(Lib_SaveInit());
    EXPECT_TRUE(GSL_TitleAnySaveValid());
    Lib_SaveEnd();
}

TEST_F(TitleParts, TheSpecialMenuItemNeedsTheExtrasAndTheR18Archive) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Files({Bytes("text/a.txt", "a")}));
    SystemDataBlock.systemVars[15] = 1;
    TitleSubMenuOpen = 1;
    EXPECT_TRUE(GSL_TitleIsItemVisible(7));
    EXPECT_FALSE(GSL_TitleIsItemVisible(9));
    ASSERT_EQ(Pack("data_r18.pcarc", "0001"), 0);
    Lib_PcArcOpen();
    EXPECT_TRUE(GSL_TitleIsItemVisible(9));
    EXPECT_EQ(TitleSubMenuOpen, 1) << "the extras' condition is asked with the main menu and back";
    SystemDataBlock.systemVars[15] = 0;
    EXPECT_FALSE(GSL_TitleIsItemVisible(9));
    EXPECT_FALSE(GSL_TitleIsItemVisible(8));
    EXPECT_TRUE(GSL_TitleIsItemVisible(10));
    for (int32_t item : {-1, 1, 2, 11, 12, 14}) EXPECT_FALSE(GSL_TitleIsItemVisible(item)) << item;
}
}  // namespace
