// The choice menu and the control commands on the stage harness: the menu's
// buttons, keys and confirm, what a taken choice leaves behind and what a
// replay takes; the waits, the jump to "*staffroll_stop", returnmenu and the
// message viewer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/input/input.h"
#include "engine/text/text_layout.h"
#include "engine/text/text_object.h"
#include "script/choice_cmds.h"
#include "script/flow.h"
#include "script/message.h"
#include "script/script_host.h"
#include "script/syntax.h"
#include "tests/script/markup_env.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"

namespace {

constexpr char kMenu[] =
    "<menuadd 0,SELECT_0,c,*a>\n<menuadd 1,SELECT_1,c,*b,\"[2000]=7\">\n<menuadd -9999,SELECT_2,c,*c>\n"
    "<menustart 2>\n"
    "*a\n<label>\n<trophy 10>\n<jump c,*end>\n"
    "*b\n<label>\n<trophy 11>\n<jump c,*end>\n"
    "*c\n<label>\n<trophy 12>\n"
    "*end\n<label>\n<trophy 13>\n";

class ChoiceCmdsTest : public MarkupEnv {
public:
    void SetUp() override {
        MarkupEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        FixedAdvances();
        ASSERT_TRUE(MessageTables("languages = ja en\n[section 1]\n0.en = Left\n1.en = Middle\n2.en = Right\n"
                                  "[section 2]\n0.en = First\n1.en = Second#nline\n"));
        SystemDataBlock.language = 1;
        SystemDataBlock.textSpeed = 100;
        LayerSprite(31, SPRITE_IN_USE | SPRITE_READY, 1296, 992).captureEntry = -1;
    }
    void TearDown() override {
        InputButtons.pressed = 0;
        MarkupEnv::TearDown();
    }
    void Run(const std::string& body) {
        ASSERT_TRUE(Scripts({{"c.txt", body}}));
        Start("c.txt");
    }
    bool Waiting() { return (MenuActiveFlag & 1u) && Work() && (Work()->script.status & SCRIPT_PLAYER_WAIT); }
    // Frames with the message texts laid out after each, so that their
    // reveal runs as it does on screen.
    void Frames(int n) {
        for (int i = 0; i < n; ++i) {
            Frame();
            for (uint32_t t = kMessageNameText; t <= kMessageLastText; ++t)
                if (TextRecord* r = Text(t)) Lib_TextDrawCB(uint64_t(uintptr_t(r)));
        }
    }
    void Press(uint32_t bits) {
        InputButtons.pressed = bits;
        Frame();
        InputButtons.pressed = 0;
    }
    SpriteRecord* Button(uint32_t i) {
        const int32_t s = GSL_WorkLayerGet(GSL_ScreenOf(SCREEN_STORY), kChoiceButtonSlot + i);
        return s >= 0 ? &SpriteTable[s] : nullptr;
    }
    TextRecord* Text(uint32_t textSlot) {
        const int32_t h = GSL_WorkTextGet(GSL_ScreenOf(SCREEN_STORY), textSlot);
        return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
    }
    // The highlighted button: the one whose rectangle dropped by its height + 8.
    int32_t Highlighted() {
        LayoutRect r{};
        GSL_LayoutGetRect(&r, 5, 5);
        for (uint32_t i = 0; i < 8; ++i)
            if (SpriteRecord* b = Button(i); b && b->srcRect[1] == r.y + r.height + 8) return int32_t(i);
        return -1;
    }
    bool SePlayed(const char* name) {
        for (int32_t c = 19; c <= 21; ++c)
            if (std::strstr(SoundChannelTable[c].st.path, name)) return true;
        return false;
    }
    void ClearSe() {
        for (int32_t c = 19; c <= 21; ++c) SoundChannelTable[c].st.path[0] = 0;
    }
    std::vector<std::string> Trophies() {
        std::vector<std::string> t;
        for (const Executed& e : executed)
            if (std::string(GSL_ScriptCommandGet(e.index).name) == "trophy") t.push_back(e.args.at(0));
        return t;
    }
    std::string Last() {
        const Executed& e = executed.back();
        std::string s = GSL_ScriptCommandGet(e.index).name;
        for (const std::string& a : e.args) s += " " + a;
        return s;
    }
    // Frames from the first tag named a to the first named b.
    int Between(const std::string& a, const std::string& b) {
        int fa = -1, fb = -1;
        for (const Executed& e : executed) {
            const std::string n = GSL_ScriptCommandGet(e.index).name;
            if (n == a && fa < 0) fa = e.frame;
            if (n == b && fb < 0) fb = e.frame;
        }
        return fa >= 0 && fb >= 0 ? fb - fa : -1;
    }
};

}  // namespace

TEST_F(ChoiceCmdsTest, TheMenuTakesKeysAndOnlyConfirmsAHighlightedChoice) {
    std::memset(GameStateBlock.choices, 0xAB, sizeof GameStateBlock.choices);
    Run(kMenu);
    for (int i = 0; i < 30 && !Waiting(); ++i) Frame();
    ASSERT_TRUE(Waiting());
    EXPECT_TRUE(SePlayed("select"));

    // Three buttons at the pitch rule's heights, their texts centred above.
    LayoutRect r{};
    GSL_LayoutGetRect(&r, 5, 5);
    const float ys[] = {223.0f, 96.0f, -31.0f};
    const char* texts[] = {"Left", "Middle", "Right"};
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_NE(Button(i), nullptr) << i;
        EXPECT_EQ(Button(i)->posY, ys[i]);
        EXPECT_EQ(Button(i)->priority, 9700000);
        EXPECT_EQ(Button(i)->srcRect[1], r.y);
        ASSERT_NE(Text(kChoiceTextSlot + i), nullptr);
        EXPECT_STREQ(Text(kChoiceTextSlot + i)->text, texts[i]);
        EXPECT_EQ(Text(kChoiceTextSlot + i)->y, int32_t(ys[i]) - 351);
        EXPECT_EQ(Text(kChoiceTextSlot + i)->colour, 0xFF000000u);
    }
    EXPECT_EQ(Button(3), nullptr);
    EXPECT_EQ(Text(kChoiceTextSlot)->x, 640 - int32_t(std::strlen("Left")) * 32 * 45 / 200);

    // A confirm before anything is selected takes nothing.
    Press(BUTTON_DECIDE);
    Frame();
    EXPECT_TRUE(Waiting());
    EXPECT_EQ(GameStateBlock.choices[2][0], 0xAB);
    EXPECT_EQ(SystemDataBlock.choiceSeen[2], 0);

    // Down with nothing selected: the last; Down there stays; Up moves up to
    // the first and no further. Each change sounds.
    ClearSe();
    Press(BUTTON_DOWN);
    EXPECT_EQ(Highlighted(), 2);
    EXPECT_TRUE(SePlayed("move"));
    Press(BUTTON_DOWN);
    EXPECT_EQ(Highlighted(), 2);
    Press(BUTTON_UP);
    Press(BUTTON_UP);
    Press(BUTTON_UP);
    EXPECT_EQ(Highlighted(), 0);
    Press(BUTTON_DOWN);
    EXPECT_EQ(Highlighted(), 1);

    ClearSe();
    Press(BUTTON_DECIDE);
    EXPECT_TRUE(SePlayed("enter"));
    Frame(2);
    EXPECT_FALSE(MenuActiveFlag & 1u);
    EXPECT_EQ(Button(1), nullptr);
    EXPECT_EQ(Text(kChoiceTextSlot + 1), nullptr);
    EXPECT_EQ(GameStateBlock.choices[2][0], 1);
    EXPECT_EQ(SystemDataBlock.choiceSeen[2], 2);
    EXPECT_EQ(GameStateBlock.gameVars[0], 7);
    EXPECT_EQ(Trophies(), (std::vector<std::string>{"11", "13"}));

    // Taken once, the choice shows its seen mark the next time.
    executed.clear();
    Run(kMenu);
    for (int i = 0; i < 30 && !Waiting(); ++i) Frame();
    EXPECT_LT(GSL_WorkLayerGet(GSL_ScreenOf(SCREEN_STORY), kChoiceSeenSlot), 0);
    const int32_t seen = GSL_WorkLayerGet(GSL_ScreenOf(SCREEN_STORY), kChoiceSeenSlot + 1);
    ASSERT_GE(seen, 0);
    EXPECT_EQ(SpriteTable[seen].posX, float(r.width / 2));
    EXPECT_EQ(SpriteTable[seen].posY, 96.0f + float(r.height / 2));
    ASSERT_TRUE(ChooseMenu(2));
    Frame();
    EXPECT_EQ(Trophies(), (std::vector<std::string>{"12", "13"}));
    EXPECT_EQ(SystemDataBlock.choiceSeen[2], 6);
}

TEST_F(ChoiceCmdsTest, MenusWithoutAMemoryAndANinthChoiceTouchNothing) {
    std::string body;
    std::string wide;  // 300 two-byte characters
    for (int i = 0; i < 300; ++i) wide += "\xE3\x81\x82";
    for (int i = 0; i < 9; ++i) body += "<menuadd " + std::to_string(i == 0 ? 0 : 1) + "," + (i == 0 ? wide : "c" + std::to_string(i)) +
                                        ",c,*x" + std::to_string(i) + "," + (i == 0 ? std::string(400, 'e') : "") + ">\n";
    body += "<menustart>\n";
    for (int i = 0; i < 9; ++i) body += "*x" + std::to_string(i) + "\n<label>\n<trophy " + std::to_string(i) + ">\n<jump c,*next>\n";
    body += "*next\n<label>\n<menuadd 0,a,c,*y>\n<menuadd 1,b,c,*z>\n<menustart 9>\n*y\n<label>\n<trophy 20>\n*z\n<label>\n<trophy 21>\n";
    std::memset(GameStateBlock.choices, 0x5A, sizeof GameStateBlock.choices);
    Run(body);
    for (int i = 0; i < 30 && !Waiting(); ++i) Frame();
    EXPECT_TRUE(Logged("more than 8 choices"));
    // Long fields are cut to their 256 bytes on a character boundary.
    EXPECT_EQ(std::strlen(ChoiceList.entries[0].text), 254u);
    EXPECT_EQ(std::strlen(ChoiceList.entries[0].expression), 255u);
    EXPECT_NE(Button(7), nullptr);
    EXPECT_EQ(Button(8), nullptr);
    ASSERT_TRUE(ChooseMenu(7));
    ASSERT_TRUE(ChooseMenu(1));
    Frame();
    EXPECT_EQ(Last(), "trophy 21");
    std::vector<std::string> trophies;
    for (const Executed& e : executed)
        if (std::string(GSL_ScriptCommandGet(e.index).name) == "trophy") trophies.push_back(e.args[0]);
    EXPECT_EQ(trophies, (std::vector<std::string>{"7", "21"}));
    for (const auto& group : GameStateBlock.choices)
        for (uint8_t b : group) EXPECT_EQ(b, 0x5A);
    for (uint8_t b : SystemDataBlock.choiceSeen) EXPECT_EQ(b, 0);
}

// A choice whose file or label does not exist, or that names neither, is
// told once with the file and line of its menuadd when it is taken; the
// rule still holds: the file runs again from its top. A menustart with no
// choice before it is told once and passed; a file named in other capitals
// is found with its labels.
TEST_F(ChoiceCmdsTest, AChoiceToATargetThatDoesNotExistOrAnEmptyMenuIsToldOnce) {
    // A story cut short between its menuadds and its menustart hands no
    // choice to the next one. The file is named in other capitals in the
    // tags: a call, a jump and a choice still find labels below its top.
    ASSERT_TRUE(Scripts({{"cut.txt", "<menuadd 0,a,c,*x>\n<keywait 0>\n<menustart 0>\n"},
                         {"c.txt", "*top\n<label>\n<trophy 1>\n<menustart 5>\n<menuadd 0,a,c,*stya>\n"
                                   "<menuadd 1,b,nowhere,*x>\n<menuadd 1,d>\n<menuadd 1,e,C,*x>\n<menustart 0>\n"
                                   "*x\n<label>\n<trophy 2>\n<call C,*sub>\n<jump C,*y>\n"
                                   "*sub\n<label>\n<trophy 3>\n<return>\n"
                                   "*y\n<label>\n<trophy 4>\n<jump c>\n"}}));
    Start("cut.txt");
    Frames(3);
    Finish();
    Frames(2);
    ASSERT_FALSE(Alive());
    executed.clear();
    Start("c.txt");
    testing::internal::CaptureStderr();
    for (int32_t choice : {0, 0, 1, 2, 3, 2}) ASSERT_TRUE(ChooseMenu(choice)) << choice;
    Frame();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "vn: script c.txt:4: <menustart 5>: no menuadd before it gives a choice; the script goes on past the "
              "menu\n"
              "vn: script c.txt:5: <menuadd 0,a,c,*stya>: c.txt has no label *stya; it runs from its top\n"
              "vn: script c.txt:6: <menuadd 1,b,nowhere,*x>: no script nowhere.txt; c.txt goes on from its top\n"
              "vn: script c.txt:7: <menuadd 1,d>: the choice names no file or label; c.txt runs again from its "
              "top\n");
    EXPECT_EQ(Trophies(), (std::vector<std::string>{"1", "1", "1", "1", "1", "2", "3", "4", "1", "1"}));
}

TEST_F(ChoiceCmdsTest, AReplayTakesTheRememberedChoiceWithinTheList) {
    GameStateBlock.choices[0][0] = 2;
    EXPECT_EQ(GSL_ChoiceRemembered(0, 3), 2);
    GameStateBlock.choices[0][0] = 7;
    EXPECT_EQ(GSL_ChoiceRemembered(0, 3), 0);
    EXPECT_EQ(GSL_ChoiceRemembered(-9999, 3), 0);
    EXPECT_EQ(GSL_ChoiceRemembered(9, 3), 0);
    const int32_t layouts[][3] = {{0, 1, 4}, {1, 0, 5}, {2, 0, 4}, {2, 1, 5}, {2, 2, 4}, {2, 3, 5}, {3, 0, 5}, {9, 0, 5},
                                  {-1, 1, 4}};
    for (const auto& l : layouts) EXPECT_EQ(GSL_ChoiceLayout(l[0], l[1]), l[2]) << l[0] << " " << l[1];

    // A restore inside a branch passes the menu silently along the choice taken.
    Run("*top\n<label>\n<text one>\n<keywait 0>\n"
        "<menuadd 0,SELECT_0,c,*a>\n<menuadd 1,SELECT_1,c,*b>\n<menustart 0>\n"
        "*a\n<label>\n<text in_a>\n<keywait 1>\n"
        "*b\n<label ref:0>\n<text in_b>\n<keywait 2>\n<text in_b_2>\n<keywait 3>\n");
    Frames(5);
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(ChooseMenu(1));
    Frames(5);
    Press(BUTTON_DECIDE);
    Frames(5);
    ASSERT_EQ(GSL_ReadLineCount(), 4u);
    EXPECT_EQ(GameStateBlock.choices[0][0], 1);
    const uint32_t at = GameStateBlock.readLinePos[3];
    executed.clear();
    RestoreAt(3);
    for (int i = 0; i < 60 && !(Work()->script.status & SCRIPT_PLAYER_WAIT); ++i) Frames(1);
    ASSERT_TRUE(Work()->script.status & SCRIPT_PLAYER_WAIT);
    EXPECT_EQ(GameStateBlock.readLinePos[3], at);
    ASSERT_NE(Text(kMessageFirstText), nullptr);
    EXPECT_NE(std::strstr(Text(kMessageFirstText)->text, "in_b_2"), nullptr);
    EXPECT_EQ(Button(0), nullptr);  // nothing was shown
    EXPECT_FALSE(MenuActiveFlag & 1u);
}

TEST_F(ChoiceCmdsTest, WaitsLastTheirTimeUnlessConfirmedOrSkipped) {
    struct Case {
        const char* tag;
        int confirmAt;  // frame of the wait to confirm on; -1 never
        uint32_t mode;
        int frames;
    } cases[] = {
        {"<wait time:1000>", -1, 0, 60},
        {"<wait time:1000>", 10, 0, 10},
        {"<wait time:1000,click:false>", 10, 0, 60},
        {"<wait time:1000>", -1, 1, 0},
        {"<wait>", 30, 0, 30},
        {"<wait>", -1, 4, 86},
    };
    SystemDataBlock.autoSpeed = 80;
    SystemDataBlock.skipAll = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        executed.clear();
        StoryPlayMode = c.mode;
        Run(std::string(c.tag) + "\n<trophy 1>\n");
        for (int i = 0; i < 10 && executed.empty(); ++i) Frame();
        for (int i = 1; i < 200 && executed.size() < 2; ++i) {
            if (i == c.confirmAt) Press(BUTTON_DECIDE);
            else Frame();
        }
        EXPECT_NEAR(Between("wait", "trophy"), c.frames, 1);
        Finish();
        Frame();
    }
    StoryPlayMode = 0;
}

TEST_F(ChoiceCmdsTest, AClickModeWaitGoesOnAtTheStopLabel) {
    Run("<click 0>\n<wait>\n<trophy 1>\n*staffroll_stop\n<label>\n<trophy 2>\n<click 0>\n<click 1>\n"
        "<wait time:100,click:false>\n<trophy 3>\n");
    for (int i = 0; i < 10 && executed.size() < 2; ++i) Frame();
    EXPECT_TRUE(GameStateBlock.stage.flags & 4);
    Press(BUTTON_DECIDE);
    EXPECT_EQ(Last(), "wait time:100 click:false");
    EXPECT_EQ(Trophies(), std::vector<std::string>{"2"});
    EXPECT_FALSE(GameStateBlock.stage.flags & 4);  // click 1 cleared it again
}

TEST_F(ChoiceCmdsTest, ReturnMenuEndsTheTaskThroughItsFinishRequest) {
    Run("<trophy 5>\n<returnmenu>\n<trophy 6>\n");
    for (int i = 0; i < 10 && Alive(); ++i) Frame();
    EXPECT_FALSE(Alive());
    EXPECT_EQ(Last(), "returnmenu");
}

TEST_F(ChoiceCmdsTest, TheViewerShowsEachMessageUntilTheLast) {
    Run("<debug>\n<trophy 1>\n");
    for (int i = 0; i < 10 && executed.empty(); ++i) Frame();
    ASSERT_NE(Text(kMessageFirstText), nullptr);
    EXPECT_STREQ(Text(kMessageFirstText)->text, "First");
    EXPECT_EQ(Text(kMessageFirstText)->x, 110);
    Frame(3);
    EXPECT_EQ(Last(), "debug");
    Press(BUTTON_DECIDE);
    ASSERT_NE(Text(kMessageFirstText), nullptr);
    EXPECT_NE(std::strstr(Text(kMessageFirstText)->text, "Second"), nullptr);
    Press(BUTTON_DECIDE);
    Frame();
    EXPECT_EQ(Last(), "trophy 1");
    EXPECT_EQ(Text(kMessageFirstText), nullptr);
}

TEST_F(ChoiceCmdsTest, ThePointerHighlightsAChoiceAndAClickOnItTakesIt) {
    Run(kMenu);
    for (int i = 0; i < 30 && !Waiting(); ++i) Frame();
    ASSERT_TRUE(Waiting());
    StartInput();
    // The middle button stands at y 96 above the centre.
    Pointer(640, 360 - 96);
    Frame(2);
    EXPECT_EQ(Highlighted(), 1);
    Pointer(640, 360 - 223);
    Frame(2);
    EXPECT_EQ(Highlighted(), 0);
    Click(640, 360 - 223);
    Frame(2);
    EXPECT_FALSE(MenuActiveFlag & 1u);
    EXPECT_EQ(Trophies(), (std::vector<std::string>{"10", "13"}));
}

TEST_F(ChoiceCmdsTest, AStoryCutShortDuringAMenuLeavesNoMenuBehind) {
    Run(kMenu);
    for (int i = 0; i < 30 && !Waiting(); ++i) Frame();
    ASSERT_TRUE(Waiting());
    // The task goes as a restart takes it; the next story starts clean, so
    // pointer presses reach the screen again.
    Lib_TaskDel(uint32_t(slot));
    Start("c.txt");
    EXPECT_FALSE(MenuActiveFlag & 1u);
}
