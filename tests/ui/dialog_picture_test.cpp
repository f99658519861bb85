// The modal dialog and the message box on the sample's pictures and fonts,
// rendered and compared with stored pictures.
#include <gtest/gtest.h>

#include "engine/files/message_table.h"
#include "engine/text/font.h"
#include "engine/text/text_object.h"
#include "tests/ui/screen_harness.h"
#include "ui/message_box.h"
#include "ui/utility_dialog.h"

namespace {

class DialogPicture : public ScreenHarness {
protected:
    bool Start() {
        if (!SampleData()) return false;
        Messages();
        if (!Fonts(1)) return false;
        InterfaceLanguage = 1;
        TextLanguage = 1;
        StartMinimal();
        SetBody(0, [] {});
        return MakeContext(TestScreen(0)) != nullptr;
    }
    void TearDown() override {
        InterfaceLanguage = -1;
        ScreenHarness::TearDown();
    }
};

TEST_F(DialogPicture, YesNoQuestionThenMessageBox) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    const int32_t dialog = Lib_DialogOpen(1, Lib_MesGet(nullptr, 1, 40, -1, nullptr, 0), 180, 98, 1);
    auto* w = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(dialog));
    ASSERT_TRUE(w);
    ASSERT_TRUE(FramesUntil([w] { return w->state == 10; }, 60, "grown in"));
    Frame();
    EXPECT_TRUE(MatchesReference("dialog_yes_no"));
    Lib_DialogClose(dialog);

    // The notice centred in a window of eight middle pieces.
    const char* notice = Lib_MesGet(nullptr, 1, 41, -1, nullptr, 0);
    const TextScale size{0.6f, 0.6f};
    const TextSpacing none{};
    TextRect extent{};
    Lib_TextMeasure(&extent, notice, &size, &none, 0, 0);
    const int32_t at[3] = {640 - (extent.right - extent.left) / 2, -340, 0}, spacing[2] = {0, 0};
    const float scale[2] = {8.0f, 1.0f};
    const int32_t box = GSL_SystemMsgSet(notice, at, spacing, scale);
    MessageBoxWork* m = GSL_SystemMsgWork(box);
    ASSERT_TRUE(m);
    ASSERT_TRUE(FramesUntil([m] { return m->head.state == MSGBOX_WAITING; }, 60, "faded in"));
    Frame();
    EXPECT_TRUE(MatchesReference("message_box"));
    GSL_SystemMsgDel(box);
}

}  // namespace
