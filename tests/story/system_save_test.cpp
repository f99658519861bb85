// The system-data save screen over a test screen: yes saves the system slot
// with the request fields of the interface language, no saves nothing; the
// dimmer shows and goes either way; the fades run only from and to black.
#include <gtest/gtest.h>


#include <cstring>
#include <string>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "story/system_save.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/utility_dialog.h"
#include "ui/widget_task.h"

namespace {

const char kSheet[] =
    "{\"format\": \"png\", \"size\": [560, 448], \"background\": \"#00000000\", \"shapes\": ["
    "{\"rect\": [8, 8, 544, 280], \"colour\": \"#203040e0\"}]}";

const char kMessages[] =
    "languages = ja en zh-hans zh-hant\n"
    "[section 0]\n0.ja = \xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\n0.en = The Game\n"
    "[section 1]\ncount = 3\n0.en = Yes\n1.en = No\n0.ja = Yes\n1.ja = No\n"
    "[section 2]\n10.ja = SYS\n10.en = System\n12.ja = \xE8\xA8\xAD\xE5\xAE\x9A\n12.en = Settings\n"
    "16.ja = Save?\n16.en = Save the system data?\n";

class SystemSave : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(Files({Bytes("src/dialog.pict", kSheet), Bytes("src/mes.txt", kMessages),
                           Tool("image_data.py", "utility/dialog/dialog.png", "pict {} root/src/dialog.pict"),
                           Tool("vndata.py", "script/system_mes.mul", "mul {} root/src/mes.txt")}));
        std::strcpy(UserId, "4242");
        Lib_SaveSizesSet();
        ASSERT_TRUE(Lib_SaveInit());
        StartFull();
        ModeStack[0] = TestScreen(0);
        SetBody(0, [] {});
        Messages();
        Frame();
    }
    void TearDown() override {
        if (!IsSkipped()) Lib_SaveEnd();
        ScreenHarness::TearDown();
    }
    static DispColorWork* Overlay() {
        return reinterpret_cast<DispColorWork*>(GSL_WidgetWorkGet(DispColorTask, GSL_SystemDispColorCB));
    }
    static UtilityDialogWork* Dialog() {
        for (int32_t t : Tasks(Lib_UtilityCB))
            if (auto* w = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(t)); w && w->kind == 1) return w;
        return nullptr;
    }
    // The live sprites of a colour at a priority.
    static int Dimmers() {
        int n = 0;
        for (const SpriteRecord& s : SpriteTable)
            n += (s.flags & SPRITE_IN_USE) && s.color == 0xC0000000u && s.priority == 100 && s.visible;
        return n;
    }
    // Runs the screen to its question, answers it and runs it out: the frames
    // in which the dimmer showed and whether the overlay moved.
    struct Run {
        int dimmedFrames = 0;
        bool faded = false;
    };
    Run Answer(uint32_t key) {
        Run r;
        const uint32_t before = Overlay()->current;
        Push(GSL_SystemSaveModeCB);
        EXPECT_TRUE(FramesUntil([] { return Dialog() && Dialog()->state >= 10; }, 200, "the question"));
        if (Overlay()->current != before) r.faded = true;
        Hold(key);
        Frame();
        Release(key);
        FramesUntilWorker([&] {
            if (GSL_ModeTop() != GSL_SystemSaveModeCB) return true;
            if (Overlay()->current != before && Overlay()->current != 0) r.faded = true;
            r.dimmedFrames += Dimmers() > 0;
            return false;
        }, "the screen's end after the save");
        EXPECT_EQ(GSL_ModeTop(), TestScreen(0));
        EXPECT_EQ(Dimmers(), 0);
        EXPECT_EQ(GSL_WorkGet(GSL_SystemSaveModeCB), nullptr);
        return r;
    }
};

TEST_F(SystemSave, YesSavesTheSystemSlotWithTheRequestOfTheLanguage) {
    if (IsSkipped()) return;
    const struct {
        int32_t language;
        const char* title;
        const char* subtitle;
        const char* detail;
    } rows[] = {
        {0, "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0", "SYS",
         "\xE3\x80\x8C\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\xE3\x80\x8D\n\xE8\xA8\xAD\xE5\xAE\x9A"},
        {1, "The Game", "System", "Settings\n\"The Game\""},
    };
    for (const auto& row : rows) {
        TextLanguage = row.language;
        SystemDataBlock.textSpeed = uint8_t(40 + row.language);
        const Run r = Answer(BUTTON_DECIDE);
        EXPECT_TRUE(r.faded);  // from and to black
        EXPECT_GT(r.dimmedFrames, 0);
        ASSERT_TRUE(Lib_SaveFlush());
        SaveInfo info{};
        ASSERT_EQ(Lib_SaveSlotCheck(kSaveSystemSlot, &info), 0u);
        EXPECT_STREQ(info.title, row.title);
        EXPECT_STREQ(info.subtitle, row.subtitle);
        EXPECT_STREQ(info.detail, row.detail);
        EXPECT_EQ(std::memcmp(Lib_SaveImageGet() + SavePartOffset(kSaveSystemSlot, 0), &SystemDataBlock,
                              sizeof SystemDataBlock),
                  0);
        EXPECT_EQ(Overlay()->target, 0xFF000000u);
    }
}

TEST_F(SystemSave, NoSavesNothingAndOverAVisibleScreenNothingFades) {
    if (IsSkipped()) return;
    GSL_SystemDispColorSet(0, 0);
    Frame(2);
    ASSERT_EQ(Overlay()->current, 0u);
    const Run r = Answer(BUTTON_CANCEL);
    EXPECT_FALSE(r.faded);
    EXPECT_GT(r.dimmedFrames, 0);
    EXPECT_EQ(Overlay()->current, 0u);
    EXPECT_EQ(Overlay()->target, 0u);
    ASSERT_TRUE(Lib_SaveFlush());
    EXPECT_EQ(Lib_SaveSlotCheck(kSaveSystemSlot, nullptr), 1u);  // still empty
}
}  // namespace
