// The modal dialog through the main tasks: keys and clicks injected, the
// answer, the pictures and the dialog sounds read back.
#include "ui/utility_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "tests/ui/screen_harness.h"
#include "ui/dialog_access.h"

namespace {

const char kSheet[] =
    "{\"format\": \"png\", \"size\": [560, 448], \"background\": \"#00000000\", \"shapes\": ["
    "{\"rect\": [8, 8, 544, 280], \"colour\": \"#203040e0\"},"
    "{\"rect\": [8, 304, 464, 64], \"colour\": \"#406080ff\"},"
    "{\"rect\": [8, 376, 464, 64], \"colour\": \"#c0a040ff\"}]}";

const char kMessages[] =
    "languages = ja en zh-hans zh-hant\n[section 1]\ncount = 3\n"
    "0.en = Yes\n1.en = No\n2.en = OK\n0.ja = Yes\n1.ja = No\n2.ja = OK\n";

class UtilityDialogTest : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        ASSERT_TRUE(Files({Bytes("src/dialog.pict", kSheet), Bytes("src/mes.txt", kMessages),
                           Tool("image_data.py", "utility/dialog/dialog.png", "pict {} root/src/dialog.pict"),
                           Tool("vndata.py", "script/system_mes.mul", "mul {} root/src/mes.txt")}));
        StartMinimal();
        Messages();
        Frame(2);
    }
    UtilityDialogWork* Open(uint32_t kind, uint32_t timeout = 180, uint8_t dim = 1) {
        task_ = Lib_DialogOpen(kind, "Question?", timeout, 98, dim);
        auto* w = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(task_));
        EXPECT_TRUE(w);
        if (w) {
            EXPECT_TRUE(FramesUntil([w] { return w->state >= 10; }, 60, "grown in"));
        }
        return w;
    }
    // Presses a key for one frame.
    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
    }
    // Closes the dialog; none of its pictures or texts may stay.
    void Close() {
        std::vector<int32_t> sprites, texts;
        if (auto* w = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(task_))) {
            sprites = {w->sprites[0], w->sprites[1], w->sprites[2], w->dimSprite};
            texts = {w->texts[0], w->texts[1], w->texts[2]};
        }
        Lib_DialogClose(task_);
        for (int32_t s : sprites) EXPECT_TRUE(s < 0 || !Lib_SpriteIsLive(s)) << s;
        for (int32_t t : texts) EXPECT_TRUE(t < 0 || !TextTable[t]) << t;
        EXPECT_FALSE(Lib_UtilityWorkGet(task_));
    }
    static std::string Path(int ch) { return SoundChannelTable[ch].st.path; }
    int32_t task_ = -1;
};

TEST_F(UtilityDialogTest, YesNoAnswersByKeys) {
    UtilityDialogWork* w = Open(1);
    ASSERT_TRUE(w);
    for (int32_t s : {w->sprites[0], w->sprites[1], w->sprites[2], w->dimSprite}) EXPECT_TRUE(Lib_SpriteIsLive(s));
    for (int32_t t : w->texts) EXPECT_TRUE(t >= 0 && TextTable[t]);
    Frame();
    EXPECT_STREQ(TextTable[w->texts[1]]->text, "Yes");
    EXPECT_EQ(TextTable[w->texts[1]]->outline, 0xFFBD60F3u);  // selected
    EXPECT_EQ(TextTable[w->texts[2]]->outline, 0xFFD4B420u);
    EXPECT_EQ(Lib_SpriteAt(w->dimSprite)->color, 0xC0000000u);
    Press(BUTTON_DECIDE);
    Frame();
    EXPECT_EQ(w->state, 99u);
    EXPECT_EQ(w->result, 1u);
    EXPECT_EQ(Path(19), "utility/dialog/enter.wav");
    EXPECT_EQ(GSL_SystemDialogGet(task_), 1);
    EXPECT_EQ(w->sprites[0], -1);  // freed on answering
    EXPECT_EQ(w->texts[0], -1);
    Close();

    w = Open(1);
    Press(BUTTON_DOWN);
    EXPECT_EQ(w->cursor, 0u);
    EXPECT_EQ(Path(20), "utility/dialog/move.wav");  // its own rotation: 19, 20, ...
    EXPECT_EQ(Lib_SpriteAt(w->sprites[2])->srcRect[1], 376);
    EXPECT_EQ(Lib_SpriteAt(w->sprites[1])->srcRect[1], 304);
    Press(BUTTON_DECIDE);
    EXPECT_EQ(w->result, 2u);
    Close();

    w = Open(1);
    EXPECT_EQ(GSL_SystemDialogGet(task_), -1);  // the accessors screens use
    EXPECT_EQ(GSL_SystemDialogIsReady(task_), 1);
    // Cancel from the first button moves the cursor to the second: "move",
    // then the closing "enter".
    const int32_t turn = UtilityDialogSeRotation;
    for (int ch = 19; ch <= 21; ++ch) SoundChannelTable[ch].st.path[0] = 0;
    Press(BUTTON_CANCEL);
    EXPECT_EQ(w->result, 2u);
    EXPECT_EQ(w->cursor, 0u);
    EXPECT_EQ(Path(19 + turn), "utility/dialog/move.wav");
    EXPECT_EQ(Path(19 + (turn + 1) % 3), "utility/dialog/enter.wav");
    EXPECT_EQ(GSL_SystemDialogGet(task_), 0);
    EXPECT_EQ(GSL_SystemDialogIsReady(task_), 0);
    Close();
    EXPECT_EQ(GSL_SystemDialogGet(task_), -1);
    EXPECT_EQ(GSL_SystemDialogIsReady(task_), -1);

    // Closing a dialog that was never answered takes everything with it.
    w = Open(1);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->state, 10u);
    Close();
}

TEST_F(UtilityDialogTest, YesNoAnswersByPointer) {
    UtilityDialogWork* w = Open(1);
    ASSERT_TRUE(w);
    int32_t r1[4], r2[4];
    Lib_UtilitySpriteRectGet(r1, w->sprites[1]);
    Lib_UtilitySpriteRectGet(r2, w->sprites[2]);
    EXPECT_EQ(r1[0], 640 - 232);
    EXPECT_EQ(r1[1], 378 - 32);
    EXPECT_EQ(r2[1], 444 - 32);
    SoundChannelTable[19].st.path[0] = 0;
    Pointer(640, 440);  // onto the second button
    Frame();
    EXPECT_EQ(w->cursor, 0u);
    EXPECT_EQ(Path(19), "utility/dialog/move.wav");
    Press(BUTTON_UP);  // the pointer stays on the second button, now unselected
    EXPECT_EQ(w->cursor, 1u);
    Click(640, 440);  // a click on a button not selected only selects it
    EXPECT_EQ(w->cursor, 0u);
    EXPECT_EQ(w->result, 0u);
    Click(640, 440);
    Frame();
    EXPECT_EQ(w->result, 2u);
    EXPECT_EQ(w->state, 99u);
    Close();
}

TEST_F(UtilityDialogTest, MessageKindsCloseByTimeOutOrStay) {
    UtilityDialogWork* w = Open(0, 180, 0);
    ASSERT_TRUE(w);
    Frame(179);
    EXPECT_EQ(w->state, 10u);
    Frame();
    EXPECT_EQ(w->state, 99u);
    EXPECT_EQ(w->result, 1u);
    Close();

    w = Open(2);
    ASSERT_TRUE(w);
    EXPECT_STREQ(TextTable[w->texts[1]]->text, "OK");
    Frame(200);
    EXPECT_EQ(w->state, 10u);
    Press(BUTTON_CANCEL);
    EXPECT_EQ(w->result, 1u);
    Close();

    task_ = Lib_DialogOpen(4, "Saving", 180, 2, 0);
    w = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(task_));
    ASSERT_TRUE(FramesUntil([w] { return w->state == 99; }, 60, "progress"));
    EXPECT_EQ(w->answered, 1u);
    Frame(10);
    EXPECT_TRUE(Lib_SpriteIsLive(w->sprites[0]));  // stays until closed
    Close();
}

}  // namespace
