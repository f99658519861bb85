// The message box through the screen harness: its fade, the confirm it takes
// only once faded in, and what it leaves behind.
#include "ui/message_box.h"

#include <gtest/gtest.h>

#include "engine/input/input.h"
#include "engine/render/sprite_load.h"
#include "tests/ui/screen_harness.h"
#include "ui/window_frame.h"

namespace {

class MessageBoxTest : public ScreenHarness {
protected:
    void Start() {
        ASSERT_TRUE(Files({Tool("image_data.py", "visual/system/sys_system_00.ext", "ext0 {} --size 208 760")}));
        StartMinimal();
        SetBody(0, [] {});
        ASSERT_NE(MakeContext(TestScreen(0)), nullptr);
    }
    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
    }
    static int InUse() {
        int n = 0;
        for (const SpriteRecord& s : SpriteTable) n += (s.flags & SPRITE_IN_USE) ? 1 : 0;
        return n;
    }
    static int Texts() {
        int n = 0;
        for (const TextRecord* t : TextTable) n += t ? 1 : 0;
        return n;
    }
    int32_t Open() {
        const int32_t at[3] = {640, -340, 0}, spacing[2] = {0, 0};
        const float scale[2] = {6.0f, 1.0f};
        return GSL_SystemMsgSet("Saved.", at, spacing, scale);
    }
};

TEST_F(MessageBoxTest, FadesInThenTakesAConfirm) {
    if (IsSkipped()) return;
    Start();
    const int sprites = InUse(), texts = Texts();
    const int32_t box = Open();
    MessageBoxWork* w = GSL_SystemMsgWork(box);
    ASSERT_TRUE(w);
    const TextRecord* t = TextTable[w->text];
    ASSERT_TRUE(t);
    EXPECT_EQ(t->colour, 0x00FFFFFFu);
    EXPECT_EQ(t->scaleX, 0.6f);
    EXPECT_EQ(t->layer, 99);
    EXPECT_EQ(Lib_SpriteGetColor(w->overlay), 0x00000000u);
    ASSERT_TRUE(FramesUntil([w] { return w->head.state == MSGBOX_FADING; }, 20, "the window"));
    // A confirm during the fade is not taken.
    Press(BUTTON_DECIDE);
    Frame(3);
    EXPECT_EQ(w->answered, 0u);
    ASSERT_TRUE(FramesUntil([w] { return w->head.state == MSGBOX_WAITING; }, 15, "faded in"));
    EXPECT_EQ(w->alpha, 0xFF000000u);
    EXPECT_EQ(Lib_SpriteGetColor(w->overlay), 0xC0000000u);
    EXPECT_EQ(t->colour, 0xFFFFFFFFu);
    const WindowWork* win = GSL_SystemWinWork(w->window);
    ASSERT_TRUE(win);
    for (int32_t p : win->parts) {
        EXPECT_EQ(Lib_SpriteGetColor(p), 0xFFFFFFFFu);
        EXPECT_EQ(SpriteTable[p].visible, 1);
    }
    Frame(5);
    EXPECT_EQ(w->answered, 0u);
    Click(200, 600);  // anywhere on the screen
    EXPECT_EQ(w->answered, 1u);
    EXPECT_EQ(w->head.state, MSGBOX_ANSWERED);
    EXPECT_EQ(GSL_SystemMsgDel(box), -1);
    EXPECT_FALSE(GSL_SystemMsgWork(box));
    Frame();
    EXPECT_EQ(InUse(), sprites);
    EXPECT_EQ(Texts(), texts);
    EXPECT_EQ(GSL_SystemMsgDel(box), -1);  // a bad slot
}

TEST_F(MessageBoxTest, HalfwayColoursCancelFixCamAndScreenDelete) {
    if (IsSkipped()) return;
    Start();
    const int sprites = InUse(), texts = Texts();
    const int32_t box = Open();
    MessageBoxWork* w = GSL_SystemMsgWork(box);
    ASSERT_TRUE(w);
    ASSERT_TRUE(FramesUntil([w] { return w->head.state == MSGBOX_FADING; }, 20, "the window"));
    Frame(4);
    EXPECT_EQ(w->alpha, 0x44000000u);
    EXPECT_EQ(TextTable[w->text]->colour, 0x44FFFFFFu);
    EXPECT_EQ(Lib_SpriteGetColor(w->overlay), 0x44000000u);
    EXPECT_EQ(Lib_SpriteGetColor(GSL_SystemWinWork(w->window)->parts[4]), 0x44FFFFFFu);
    GSL_SystemMsgFixCam(box);
    EXPECT_EQ(SpriteTable[w->overlay].cameraMode, 2u);
    EXPECT_EQ(SpriteTable[GSL_SystemWinWork(w->window)->parts[8]].cameraMode, 2u);
    EXPECT_EQ(TextTable[w->text]->drawMode, 2u);
    ASSERT_TRUE(FramesUntil([w] { return w->head.state == MSGBOX_WAITING; }, 15, "faded in"));
    Press(BUTTON_CANCEL);
    EXPECT_EQ(w->answered, 1u);
    // Without the wait word the box answers itself once faded in.
    const int32_t second = Open();
    MessageBoxWork* v = GSL_SystemMsgWork(second);
    ASSERT_TRUE(v);
    v->wait = 0;
    ASSERT_TRUE(FramesUntil([v] { return v->answered == 1; }, 40, "answered"));
    EXPECT_EQ(v->head.state, MSGBOX_ANSWERED);
    // A box whose window went before its sheet loaded does not wait for it.
    const int32_t third = Open();
    MessageBoxWork* u = GSL_SystemMsgWork(third);
    ASSERT_TRUE(u && GSL_SystemWinWork(u->window));
    const int32_t sheet = GSL_SystemWinWork(u->window)->parts[0];
    GSL_SystemWinDel(u->window);
    Frame();
    EXPECT_EQ(u->head.state, MSGBOX_FADING);
    // The sprite layer leaves a pending load alone: the sheet is freed here
    // once it has arrived.
    ASSERT_TRUE(FramesUntil([sheet] { return !GSL_SystemSheetPending(sheet); }, 20, "the sheet"));
    Lib_SpriteFree(sheet);
    // Removing every screen task takes the boxes' pictures and texts too.
    GSL_WorkDeleteAll();
    Frame();
    EXPECT_EQ(InUse(), sprites);
    EXPECT_EQ(Texts(), texts);
}

}  // namespace
