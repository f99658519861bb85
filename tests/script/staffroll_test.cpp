// The staff roll seen from the story screen's text slots: the credit layout,
// the scroll, the ways a roll ends, and a restart in the middle of one.
#include "script/staffroll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/input/input.h"
#include "engine/text/text_object.h"
#include "script/game_blocks.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "script/script_host.h"
#include "tests/script/stage_env.h"
#include "ui/mode.h"
#include "ui/widget_task.h"

namespace {

constexpr uint8_t kLive = SPRITE_IN_USE | SPRITE_READY;

// The roll's commands, then a stop before the credits.
std::string Scenario(int ms, const std::string& credits) {
    return "<label>\n<staffroll_start " + std::to_string(ms) + ">\n<staffroll_wait>\n<staffroll_end>\n"
           "<jump 00_init,*stop>\n*text\n<label>\n" + credits + "*stop\n<label>\n";
}

class Staffroll : public StageEnv {
protected:
    void Run(const std::string& text) {
        ASSERT_TRUE(Scripts({{"00_init.txt", text}}));
        ASSERT_GE(Start("00_init.txt"), 0);
    }
    TextRecord* Credit(uint32_t n) { return Text(GSL_StoryModeCB, n); }
    StageRecord& stage() { return GameStateBlock.stage; }
    bool Ran(const char* name) {
        for (const std::string& n : Names())
            if (n == name) return true;
        return false;
    }
};

TEST_F(Staffroll, CreditsAreLaidOutFromTheTextLabel) {
    Run(Scenario(1000, "<font 60>\n<text ABC>\n<text #n>\n; a comment\n<text DEF>\n<font 30>\n<text GHI>\n<font>\n"
                       "<text never>\n"));
    Frame(3);
    ASSERT_GE(GSL_StaffrollTaskGet(), 0);
    EXPECT_TRUE(GSL_StaffrollIsActive());
    TextRecord* a = Credit(0);
    TextRecord* b = Credit(1);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Credit(2), nullptr);
    EXPECT_STREQ(a->text, "ABC#n#nDEF#n");
    EXPECT_STREQ(b->text, "GHI#n");
    EXPECT_FLOAT_EQ(a->scaleX, 1.0f);
    EXPECT_FLOAT_EQ(a->scaleY, 1.0f);
    EXPECT_FLOAT_EQ(b->scaleX, 0.5f);
    EXPECT_EQ(a->colour, kStaffrollColour);
    EXPECT_EQ(a->layer, kStaffrollPriority);
    // Line steps of 64 for the first line, 80 after it, at the size then.
    const int32_t delta = a->y - 0;
    EXPECT_EQ(a->x, kStaffrollX);
    EXPECT_EQ(b->y - delta, -64 - 80 - 80);
    // The scroll ends at the last y + 396 and the roll with it.
    int n = 0;
    while (GSL_StaffrollTaskGet() >= 0 && n < 200) {
        Frame();
        ++n;
    }
    EXPECT_GE(n, 55);
    EXPECT_LE(n, 64);
    EXPECT_EQ(Credit(0), nullptr);
    EXPECT_EQ(Credit(1), nullptr);
    Frame(2);
    EXPECT_TRUE(Ran("staffroll_end"));
    EXPECT_FALSE(GSL_StaffrollIsActive());
}

TEST_F(Staffroll, ObjectsScrollByTheDeltaShowInRangeAndGoAt800) {
    std::string credits = "<font 60>\n";
    for (int i = 0; i < 20; ++i) credits += "<text L" + std::to_string(i) + ">\n<font 60>\n";
    Run(Scenario(1000, credits + "<font>\n"));
    for (int i = 0; i < 6 && !Credit(19); ++i) Frame();  // set-up: every credit hidden
    ASSERT_TRUE(Credit(19));
    for (uint32_t i = 0; i < 20; ++i) EXPECT_FALSE(Credit(i)->state & TEXT_STATE_DRAWN) << i;
    EXPECT_EQ(Credit(19)->y, -64 - 18 * 80);
    bool deleted0 = false;
    for (int f = 0; f < 70 && GSL_StaffrollTaskGet() >= 0; ++f) {
        std::vector<int32_t> before;
        for (uint32_t i = 0; i < 20; ++i) before.push_back(Credit(i) ? Credit(i)->y : 99999);
        Frame();
        int32_t step = -1;
        for (uint32_t i = 0; i < 20; ++i) {
            const TextRecord* r = Credit(i);
            if (!r) {
                if (i == 0) deleted0 = true;
                continue;
            }
            if (before[i] == 99999) continue;
            if (step < 0) step = r->y - before[i];
            EXPECT_EQ(r->y - before[i], step) << "one delta for all, frame " << f;
            if (r->y >= -800 && r->y < 800) {
                EXPECT_TRUE(r->state & TEXT_STATE_DRAWN) << i;
            }
            EXPECT_LT(r->y, 800);
        }
    }
    // The scroll's goal: last y (-64 - 19 * 80) + 396, so credit 0 ends at 1188.
    EXPECT_TRUE(deleted0);
}

TEST_F(Staffroll, AConfirmInTheWaitEndsTheRollAndAnEmptyBlockScrollsNothing) {
    Run(Scenario(20000, "<font 60>\n<text ABC>\n<font>\n"));
    stage().messageInput = 1;
    Frame(5);
    ASSERT_GE(GSL_StaffrollTaskGet(), 0);
    InputButtons.pressed = BUTTON_DECIDE;
    Frame();
    InputButtons.pressed = 0;
    Frame(3);
    EXPECT_EQ(GSL_StaffrollTaskGet(), -1);
    EXPECT_EQ(Credit(0), nullptr);
    EXPECT_TRUE(Ran("staffroll_end"));
    EXPECT_FALSE(stage().flags & 1);
}

TEST_F(Staffroll, ABlockWithoutTextLinesEndsWithItsTransition) {
    Run(Scenario(500, "<font 60>\n<font>\n"));
    int n = 0;
    while (!Ran("staffroll_end") && n < 100) {
        Frame();
        ++n;
    }
    EXPECT_GE(n, 30);
    EXPECT_LT(n, 40);
    for (uint32_t i = 0; i < 72; ++i) EXPECT_EQ(Credit(i), nullptr);
}

TEST_F(Staffroll, PlayModesGoOffAtTheStartAndTheIconReturnsOnlyWithAMode) {
    SpriteRecord& icon = LayerSprite(kStaffrollIconSlot, kLive, 16, 16);
    icon.visible = 1;
    StoryPlayMode = 5;
    Run("<label>\n<staffroll_start 100>\n<staffroll_end>\n<staffroll_start 100>\n");
    Frame(2);
    EXPECT_EQ(StoryPlayMode, 0u);
    EXPECT_EQ(icon.visible, 0);  // hidden at the start, not shown again at the end without a mode
    EXPECT_TRUE(stage().flags & 1);

    StoryPlayMode = 1;
    CommandContext c{};
    c.script = &Work()->script;
    c.stage = &stage();
    GSL_CmdStaffrollEnd(&c);
    EXPECT_EQ(icon.visible, 1);
    EXPECT_FALSE(GSL_StaffrollIsActive());
    StoryPlayMode = 0;
}

TEST_F(Staffroll, ARestartDuringTheRollLeavesNoStaleSlot) {
    Run(Scenario(20000, "<font 60>\n<text ABC>\n<font>\n"));
    Frame(3);
    ASSERT_GE(GSL_StaffrollTaskGet(), 0);
    // The system menu's return to the title.
    GSL_WorkDeleteAll();
    Frame();
    EXPECT_EQ(StaffrollTask, -1);
    ASSERT_NE(MakeContext(GSL_StoryModeCB), nullptr);
    Story()->step = STORY_STEP_SETUP;
    GameStateBlock.stage.flags = 0;
    ASSERT_GE(Start("00_init.txt"), 0);
    Frame(3);
    EXPECT_GE(GSL_StaffrollTaskGet(), 0) << "a new roll starts";
    ASSERT_TRUE(Credit(0));

    // A global left naming another task (as a saved or stale value would):
    // no roll runs, and the wait neither hangs nor touches that task.
    const int32_t roll = GSL_StaffrollTaskGet();
    TaskTable.slots[roll]->finishRequest = 1;
    Frame(4);
    WidgetWork* other = GSL_WidgetCreate("other", [](void*) { return 0; }, 34000, 400, 0);
    ASSERT_NE(other, nullptr);
    StaffrollTask = other->slot;
    EXPECT_EQ(GSL_StaffrollTaskGet(), -1);
    EXPECT_EQ(StaffrollTask, -1);
    EXPECT_EQ(TaskTable.slots[other->slot]->finishRequest, 0);
    Lib_TaskDel(uint32_t(other->slot));
}

TEST_F(Staffroll, TheReaderCapsObjectsAndBoundsAnUnterminatedLine) {
    std::string text;
    for (int i = 0; i < 80; ++i) text += "<font 30>\r\n<text line" + std::to_string(i) + ">\r\n";
    struct Seen {
        int calls = 0, maxSlot = -1;
        size_t longest = 0;
    } seen;
    auto put = [](int32_t at, const char* line, float, int32_t, bool, void* user) {
        auto* s = static_cast<Seen*>(user);
        ++s->calls;
        s->maxSlot = std::max(s->maxSlot, at);
        s->longest = std::max(s->longest, std::string(line).size());
    };
    int32_t y = 0;
    EXPECT_EQ(GSL_StaffrollRead(text.data(), uint32_t(text.size()), 0, put, &seen, &y), 72);
    EXPECT_EQ(seen.calls, 72);
    EXPECT_EQ(seen.maxSlot, 71);
    EXPECT_EQ(y, -32 - 79 * 40);  // dropped lines still step the pen

    // "<text " without '>' or line end, longer than a text holds.
    std::string open = "<text " + std::string(4000, 'x');
    seen = {};
    EXPECT_EQ(GSL_StaffrollRead(open.data(), uint32_t(open.size()), 0, put, &seen, &y), 1);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_LE(seen.longest, size_t(kTextBufferSize - 1));
    // A line that ends the member on a lead byte, with no terminator after it.
    const std::string tail = "<text ab\x82";
    std::unique_ptr<char[]> exact(new char[tail.size()]);
    std::memcpy(exact.get(), tail.data(), tail.size());
    seen = {};
    EXPECT_EQ(GSL_StaffrollRead(exact.get(), uint32_t(tail.size()), 0, put, &seen, &y), 1);
    EXPECT_EQ(seen.calls, 1);
    // Sizes from the script keep the pen within range.
    const std::string huge = "<font 99999999999>\r\n<text a>\r\n<text b>\r\n<font -99999999999>\r\n<text c>\r\n";
    EXPECT_EQ(GSL_StaffrollRead(huge.data(), uint32_t(huge.size()), 0, put, &seen, &y), 2);
    EXPECT_GT(y, 0);  // down to the i32 minimum, then up by the negative size's step
    // A start past the end reads nothing.
    seen = {};
    EXPECT_EQ(GSL_StaffrollRead(open.data(), 10, 20, put, &seen, &y), 1);
    EXPECT_EQ(seen.calls, 0);
}

}  // namespace
