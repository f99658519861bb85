// The boot flow on the sample: the first run creates the system slot and
// says so, a later run brings the saved settings back, and the system slot's
// request stays inside its fields whatever the message table holds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/text/font.h"
#include "screens/boot.h"
#include "screens/logo.h"
#include "story/story_services.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/utility_dialog.h"

namespace {
// The save store as the program opens it, over the harness's folder.
class BootFlow : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        std::strcpy(UserId, "4242");
        for (int i = 0; i < 32; ++i) SaveBinSizeTable[i] = 135752;
        SaveBinSizeTable[32] = 4379;
        SaveBinSizeTable[33] = 366152;
        SystemDataFresh = 0;
    }
    void TearDown() override {
        Lib_SaveEnd();
        ScreenHarness::TearDown();
        TextLanguage = 0;
    }
    static void Open() { ASSERT_TRUE(Lib_SaveInit()); }
};

// The empty-slot notice, when one waits for its answer.
bool NoticeUp() {
    for (int32_t slot : ScreenHarness::Tasks(Lib_UtilityCB)) {
        const auto* d = static_cast<const UtilityDialogWork*>(Lib_UtilityWorkGet(slot));
        if (d && d->state == 10) return true;
    }
    return false;
}

bool FontTaskRunning() { return !ScreenHarness::Tasks(Lib_FontSetCB).empty(); }

std::string SaveDir() { return std::string("user/") + UserId + "/save"; }

TEST_F(BootFlow, TheFirstRunCreatesTheSystemSlotAndSaysSo) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    ASSERT_TRUE(Fonts());  // the atlas the font loads fill
    Open();
    StartFull();
    int frames = 0;
    bool fontSeen = false;
    FramesUntil([&] {
        ++frames;
        fontSeen |= FontTaskRunning();
        return NoticeUp();
    }, 600, "the empty-slot notice");
    EXPECT_TRUE(fontSeen) << "the factory settings' font is loaded first";
    EXPECT_EQ(ModeStack[0], GSL_BootModeCB);
    EXPECT_EQ(SystemDataFresh, 1);
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    // The writer thread needs real time.
    FramesUntil([] {
        ::usleep(1000);
        return GSL_ModeTop() == GSL_LogoModeCB;
    }, 3000, "the logo");
    EXPECT_EQ(GSL_ModeCount(), 1);
    EXPECT_FALSE(FontTaskRunning());
    EXPECT_EQ(TextLanguage.load(), SystemDataBlock.language);
    EXPECT_EQ(std::memcmp(SystemDataBlock.version, "0100", 4), 0);
    SaveInfo info{};
    ASSERT_EQ(Lib_SaveSlotCheck(kSaveSystemSlot, &info), 0u) << "slot 32 is on disk";
    // The request the boot made, as the slot keeps it.
    char title[256], sub[256], note[512];
    Lib_MesGetBuf(nullptr, 0, 0, -1, title, sizeof title);
    Lib_MesGetBuf(nullptr, 2, 10, -1, sub, sizeof sub);
    Lib_MesGetBuf(nullptr, 2, 12, -1, note, sizeof note);
    const std::string detail = TextLanguage.load() == 1 ? std::string(note) + "\n\"" + title + "\""
                                                        : "\xE3\x80\x8C" + std::string(title) + "\xE3\x80\x8D\n" + note;
    EXPECT_STREQ(info.title, title);
    EXPECT_STREQ(info.subtitle, sub);
    EXPECT_EQ(std::string(info.detail), detail);
    EXPECT_EQ(std::system(("python3 " VN_SOURCE_DIR "/tools/save_data.py check " + SaveDir() + " --slot 32 >/dev/null")
                              .c_str()),
              0);
}

TEST_F(BootFlow, ASecondRunAppliesTheSavedLanguageAndFont) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    ASSERT_TRUE(Fonts());  // the atlas the font loads fill
    ASSERT_EQ(std::system(("python3 " VN_SOURCE_DIR "/tools/save_data.py system " + SaveDir() + " --language 2")
                              .c_str()),
              0);
    Open();
    StartFull();
    bool notice = false, font2 = false;
    FramesUntil([&] {
        notice |= NoticeUp();
        for (int32_t slot : Tasks(Lib_FontSetCB)) {
            const auto* f = static_cast<const FontLoadWork*>(TaskTable.slots[slot]->work);
            font2 |= f && std::strcmp(f->name[0], "font_02.ttf") == 0;
        }
        return GSL_ModeTop() == GSL_LogoModeCB;
    }, 600, "the logo");
    EXPECT_FALSE(notice);
    EXPECT_EQ(SystemDataFresh, 0);
    EXPECT_EQ(SystemDataBlock.language, 2);
    EXPECT_EQ(TextLanguage.load(), 2);
    EXPECT_TRUE(font2) << "the second apply loads the saved language's font";
}

TEST_F(BootFlow, AnOutOfRangeSavedLanguageComesBackAsTheLocales) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    ASSERT_TRUE(Fonts());  // the atlas the font loads fill
    ASSERT_EQ(std::system(("python3 " VN_SOURCE_DIR "/tools/save_data.py system " + SaveDir() + " --language 7")
                              .c_str()),
              0);
    Open();
    StartFull();
    FramesUntil([] { return GSL_ModeTop() == GSL_LogoModeCB; }, 600, "the logo");
    EXPECT_EQ(SystemDataBlock.language, Lib_LanguageGet());
    EXPECT_EQ(TextLanguage.load(), Lib_LanguageGet());
}
TEST_F(BootFlow, AMissingSoundPackKeepsTheBootWaitingAndSaysSo) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Files({Bytes("visual/system/sys_system_00.ext", "x")}));
    StartFull();
    Frame(620);
    EXPECT_EQ(ModeStack[0], GSL_BootModeCB);
    EXPECT_NE(Log().find("still waiting for sound/se_system/se_sys.arc"), std::string::npos) << Log();
}
}  // namespace
