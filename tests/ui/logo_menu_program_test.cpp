// The whole program on the sample game: the logo's menu moved by keys and by
// the pointer with its sounds, the question and the message box it leads to,
// the notice, and the manual page with its scroll bar; nothing stays behind.
#include <gtest/gtest.h>

#include <string>

#include "engine/input/input.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "screens/boot.h"
#include "tests/ui/screen_harness.h"
#include "ui/message_box.h"
#include "ui/number_display.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/system_sound.h"
#include "ui/utility_dialog.h"
#include "ui/window_frame.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C, kKeyX = 0x2D;

const std::function<void(PlatInputState&)> kIdle = [](PlatInputState&) {};
std::function<void(PlatInputState&)> Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}
std::function<void(PlatInputState&)> Button(uint32_t bit) {
    return [bit](PlatInputState& in) { in.keys[Lib_InputKeyCode(0, bit, 0) & 0xFF] = kPlatDown; };
}
std::function<void(PlatInputState&)> Mouse(int32_t x, int32_t y, bool down) {
    return [=](PlatInputState& in) {
        in.mouseX = x;
        in.mouseY = y;
        if (down) in.mouseButtons[0] = kPlatDown;
    };
}

template <typename Work>
Work* Find(TaskCallback cb) {
    for (TaskRecord* t : TaskTable.slots)
        if (t && !t->dead && t->callback == cb && t->work) return static_cast<Work*>(t->work);
    return nullptr;
}
int Sprites() {
    int n = 0;
    for (const SpriteRecord& s : SpriteTable) n += (s.flags & SPRITE_IN_USE) ? 1 : 0;
    return n;
}
int Texts() {
    int n = 0;
    for (const TextRecord* t : TextTable) n += t ? 1 : 0;
    return n;
}
bool MenuAt(int32_t item) {
    const auto* m = Find<const SelectInputWork>(GSL_InputCB);
    const auto* overlay = static_cast<const DispColorWork*>(TaskTable.slots[DispColorTask]->work);
    return GSL_ModeTop() == GSL_LogoModeCB && m && m->count == 3 && m->cursor == item &&
           !Find<MessageBoxWork>(GSL_SystemMsgCB) && !Find<UtilityDialogWork>(Lib_UtilityCB) &&
           GSL_WorkGet(GSL_LogoModeCB)->suspended == SCREEN_ACTIVE && overlay->current == 0;
}
// The system sound played last: the rotation runs 0, 1, 2, 0 over channels 19-21.
bool SeLast(const char* name) {
    const int32_t last = (SystemSeRotation + 2) % 3;
    return std::string(SoundChannelTable[19 + last].st.path) == name;
}
const UtilityDialogWork* DialogUp(uint32_t kind) {
    const auto* d = Find<UtilityDialogWork>(Lib_UtilityCB);
    return d && d->kind == kind && d->state == 10 ? d : nullptr;
}

// Items in pointer coordinates: x 400 and y 100, 30, -40 from the centre.
constexpr int32_t kItemX = 1040;
int32_t ItemY(int i) { return 360 - (100 - 70 * i); }

TEST(LogoMenuProgram, KeysPointerQuestionMessageBoxNoticeAndManual) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    int sprites = -1, texts = -1, spritesAfter = -2, textsAfter = -2;
    bool voice = false, frameShown = false, numberShown = false;
    std::string voicePath;
    ProgramRun run;
    int code = run.Run({
        {"the menu on the logo",
         [&] {
             if (!MenuAt(0)) return false;
             const SoundChannel& v = SoundChannelTable[22];
             voicePath = v.st.path;
             voice = voicePath.find("_title") != std::string::npos;
             const WindowWork* f = Find<WindowWork>(GSL_SystemWinCB);
             frameShown = f && f->parts[4] >= 0 && SpriteTable[f->parts[4]].visible;
             sprites = Sprites();
             texts = Texts();
             return true;
         },
         Button(BUTTON_DOWN)},
        {"down moves to item 2 with the move sound", [] { return MenuAt(1) && SeLast("move.wav"); }, kIdle},
        {"the number shows 2 / 3",
         [&] {
             const auto* n = Find<NumberDisplayWork>(GSL_SystemNumSetCB);
             numberShown = n && n->value == 2 && n->second == 3 && n->done;
             return numberShown;
         },
         Key(kKeyZ)},
        {"the question", [] { return DialogUp(1) && SeLast("enter.wav"); }, kIdle},
        {"its answer pending", [] { return DialogUp(1) != nullptr; }, Key(kKeyZ)},
        {"the message box",
         [] {
             const auto* m = Find<MessageBoxWork>(GSL_SystemMsgCB);
             return m && m->head.state == MSGBOX_WAITING && !Find<UtilityDialogWork>(Lib_UtilityCB);
         },
         kIdle},
        {"a click on the box", nullptr, Mouse(300, 600, true)},
        {"released", nullptr, Mouse(300, 600, false)},
        {"the logo after the box", [] { return MenuAt(1); }, Mouse(kItemX, ItemY(2), false)},
        {"the pointer on item 3", [] { return MenuAt(2) && SeLast("move.wav"); }, Mouse(kItemX, ItemY(2), true)},
        {"clicked", nullptr, Mouse(kItemX, ItemY(2), false)},
        {"the notice", [] { return DialogUp(2) != nullptr; }, Key(kKeyX)},
        {"the logo after the notice", [] { return MenuAt(2); }, Mouse(kItemX, ItemY(0), false)},
        {"the pointer on item 1", [] { return MenuAt(0); }, Key(kKeyZ)},
        {"the manual up, its opening wipe over",
         [] {
             const ScreenWork* w = GSL_WorkGet(GSL_ManualModeCB);
             return GSL_ModeTop() == GSL_ManualModeCB && w && w->step == 2;
         },
         Key(kKeyX)},
        {"the logo again",
         [&] {
             if (!MenuAt(0)) return false;
             spritesAfter = Sprites();
             textsAfter = Texts();
             return true;
         },
         kIdle},
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_TRUE(voice) << voicePath;
    EXPECT_TRUE(frameShown);
    EXPECT_TRUE(numberShown);
    EXPECT_EQ(spritesAfter, sprites);
    EXPECT_EQ(textsAfter, texts);
}
}  // namespace
