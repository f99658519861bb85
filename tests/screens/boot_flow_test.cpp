// The boot flow on the sample: the first run creates the system slot and
// says so, a damaged save file is told with where its copy is, a later run
// brings the saved settings back, and the system slot's request stays inside
// its fields whatever the message table holds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/text/font.h"
#include "screens/boot.h"
#include "screens/logo.h"
#include "screens/title_work.h"
#include "story/game_state.h"
#include "story/line_text.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "story/story_services.h"
#include "tests/program/program_title.h"
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
        Lib_SaveSizesSet();
    }
    void TearDown() override {
        Lib_SaveEnd();
        ScreenHarness::TearDown();
    }
    static void Open() { ASSERT_TRUE(Lib_SaveInit()); }
    // The texts of the next n notices, each answered with confirm.
    std::vector<std::string> AnswerNotices(int n);
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
    FramesUntilWorker([] { return GSL_ModeTop() == GSL_LogoModeCB; }, "the logo");
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

std::vector<std::string> BootFlow::AnswerNotices(int n) {
    std::vector<std::string> shown;
    for (int i = 0; i < n; ++i) {
        if (!FramesUntil(NoticeUp, 600, "a notice")) break;
        shown.push_back(NoticeText());
        Hold(BUTTON_DECIDE);
        Frame();
        Release(BUTTON_DECIDE);
        if (!FramesUntil([] { return !NoticeUp(); }, 60, "the notice answered")) break;
    }
    return shown;
}

// A save.cdf that cannot be read as a whole: before anything else the player
// learns that the saves were damaged and where the copy of the file is; the
// system slot went with it, so the empty-slot notice follows.
TEST_F(BootFlow, ADamagedSaveFileIsToldWithWhereItsCopyIs) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    Messages();
    ASSERT_TRUE(Fonts());  // the atlas the font loads fill
    std::filesystem::create_directories(SaveDir());
    std::ofstream(SaveDir() + "/save.cdf", std::ios::binary) << "not a save file";
    testing::internal::CaptureStderr();
    Open();
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(told, "vn: save/save.cdf is damaged; set aside as save/save.cdf.broken\n");
    StartFull();
    const std::vector<std::string> shown = AnswerNotices(2);
    char damaged[257], empty[257];
    Lib_MesGetBuf(nullptr, 1, 14, -1, damaged, sizeof damaged);
    Lib_MesGetBuf(nullptr, 1, 9, -1, empty, sizeof empty);
    EXPECT_GT(std::strlen(damaged), 20u) << damaged;
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], std::string(damaged) + "\n" + SaveDir() + "/save.cdf.broken");
    EXPECT_EQ(shown[1], empty);
    std::ifstream copy(SaveDir() + "/save.cdf.broken", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copy), {}), "not a save file");
    FramesUntilWorker([] { return GSL_ModeTop() == GSL_LogoModeCB; }, "the logo");
    EXPECT_EQ(Lib_SaveSlotCheck(kSaveSystemSlot, nullptr), 0u);
}

// A registry.cdf that cannot be read is rebuilt from the saves' data, and
// one that is not a regular file (a folder in its place) keeps saving off:
// before anything else the player is told each (the rebuilt registry of the
// second lives for this session only), the second with the file that cannot
// be written; the system slot loads as saved.
class RegistryNotice : public BootFlow {
protected:
    void Run(bool directory) {
        if (IsSkipped()) return;
        ASSERT_TRUE(SampleData());
        Messages();
        ASSERT_TRUE(Fonts());  // the atlas the font loads fill
        char rebuilt[257], off[257];
        Lib_MesGetBuf(nullptr, 1, directory ? 18 : 15, -1, rebuilt, sizeof rebuilt);
        Lib_MesGetBuf(nullptr, 1, 16, -1, off, sizeof off);
        EXPECT_GT(std::strlen(rebuilt), 20u) << rebuilt;
        EXPECT_GT(std::strlen(off), 20u) << off;
        const std::string registry = SaveDir() + "/registry.cdf";
        ASSERT_EQ(std::system(("python3 " VN_SOURCE_DIR "/tools/save_data.py system " + SaveDir()).c_str()), 0);
        std::filesystem::remove(registry);
        if (directory) std::filesystem::create_directories(registry);
        else std::ofstream(registry, std::ios::binary) << "not a registry";
        testing::internal::CaptureStderr();
        Open();
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  directory ? "vn: save/registry.cdf is not a regular file or cannot be opened; it is left in place "
                              "and saving is off until it is moved away\n"
                              "vn: save/registry.cdf is rebuilt in memory: 1 saved slot whose data passes the "
                              "game-state checks loads again\n"
                            : "vn: save/registry.cdf is damaged; set aside as save/registry.cdf.broken\n"
                              "vn: save/registry.cdf is rebuilt: 1 saved slot whose data passes the game-state checks "
                              "loads again\n");
        StartFull();
        const std::vector<std::string> shown = AnswerNotices(directory ? 2 : 1);
        const std::vector<std::string> expected =
            directory ? std::vector<std::string>{rebuilt, std::string(off) + "\n" + registry}
                      : std::vector<std::string>{rebuilt};
        EXPECT_EQ(shown, expected);
        bool more = false;
        FramesUntilWorker([&] {
            more |= NoticeUp();
            return GSL_ModeTop() == GSL_LogoModeCB;
        }, "the logo");
        EXPECT_FALSE(more);
        EXPECT_EQ(SystemDataFresh, 0);
        EXPECT_EQ(Lib_SaveSlotCheck(kSaveSystemSlot, nullptr), 0u);
    }
};

TEST_F(RegistryNotice, ADamagedRegistryIsRebuiltAndThePlayerIsTold) { Run(false); }
TEST_F(RegistryNotice, ARegistryThatCannotBeWrittenKeepsSavingOffAndThePlayerIsTold) { Run(true); }

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

// A start after a run that left a quick save: the boot flow loads slot 33
// from the disk, and the title's menu offers "continue", with the quick
// save's panel beside it once the cursor is there.
class QuickOffer : public BootFlow {
protected:
    void TearDown() override {
        ShowQuickGDDel();
        BootFlow::TearDown();
    }
    // Frames, the disk writer in real time, until the save task has answered.
    bool Saved(SaveRequest* request, int32_t slot) {
        const int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, request, slot);
        if (task < 0) return false;
        const bool ok = FramesUntilWorker([task] { return Lib_SaveTaskResult(task) != SAVE_TASK_RUNNING; }, "the save") &&
                        Lib_SaveTaskResult(task) == SAVE_TASK_FINISHED;
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
    // system slot, from the blocks the main initialisation resets.
    ASSERT_TRUE(Lib_SaveInit());
    GSL_SystemDataReset();
    GSL_GameStateInit();
    std::strcpy(GameStateBlock.scriptName, "00_init.txt");
    GameStateBlock.gameVars[3] = 11;
    static uint8_t block[SaveDataSize(kSaveQuickSlot)];
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
    ASSERT_TRUE(FramesUntilWorker(
        [&] {
            if (program_title::Title()) TitleFlags |= 2;  // the first movie may be cut, as on a later start
            const bool cut = program_title::LogoHeld() ||
                             (program_title::MoviePlaying() && MovieState.load() == MOVIE_PLAYING);
            down = cut && !down;
            if (down) Hold(BUTTON_DECIDE);
            else Release(BUTTON_DECIDE);
            return program_title::TitleMenuUp();
        },
        "the title's menu (the movie's worker in real time)"));
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
