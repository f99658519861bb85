// The in-game system menu over the real story screen (stage harness, injected
// input): which buttons can be chosen, the slide-in and the captions, the
// cancel paths, skip and auto, the quick save's confirmation and write, the
// title question, the visits to the save and option screens, and the quick
// load's preview panel with its delete question.
#include <gtest/gtest.h>


#include <cstring>
#include <string>
#include <vector>

#include "app/main_tasks.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "script/script_host.h"
#include "story/game_state.h"
#include "story/line_text.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "story/sys_menu.h"
#include "tests/engine/sound/sound_env.h"
#include "tests/script/stage_env.h"
#include "ui/layout_table.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/system_sound.h"
#include "ui/utility_dialog.h"

namespace {
constexpr uint32_t kKeyZ = 0x1, kKeyX = 0x2, kKeyS = 0x4, kKeyC = 0x8, kKeyE = 0x400;


const char kAdvSheet[] =
    "{\"format\": \"ext0\", \"bpp\": 32, \"size\": [1296, 992], \"background\": \"#00000000\", \"shapes\": ["
    "{\"rect\": [8, 888, 224, 64], \"colour\": \"#ffffffff\"},"
    "{\"rect\": [816, 888, 72, 48], \"colour\": \"#ffffffff\"}]}";
const char kSaveSheet[] =
    "{\"format\": \"ext0\", \"bpp\": 32, \"size\": [176, 88], \"background\": \"#00000000\", \"shapes\": ["
    "{\"rect\": [88, 0, 88, 88], \"colour\": \"#ff2020ff\"}]}";
const char kDialogSheet[] =
    "{\"format\": \"png\", \"size\": [560, 448], \"background\": \"#00000000\", \"shapes\": ["
    "{\"rect\": [8, 8, 544, 280], \"colour\": \"#203040e0\"}]}";

const char kSystemMes[] =
    "languages = ja en zh-hans zh-hant\n"
    "[section 0]\n0.en = The Game\n0.ja = The Game\n"
    "[section 1]\ncount = 14\n0.en = Yes\n1.en = No\n0.ja = Yes\n1.ja = No\n"
    "[section 2]\n4.en = Back to the title?\n4.ja = Back to the title?\n7.en = No data\n7.ja = No data\n"
    "10.en = System\n10.ja = System\n11.en = Data\n11.ja = Data\n12.en = Settings\n12.ja = Settings\n"
    "20.en = Delete the quick save?\n20.ja = Delete the quick save?\n";
const char kSysgraMes[] =
    "languages = ja en zh-hans zh-hant\n"
    "[section 2]\n1.en = Save\n2.en = Load\n3.en = Quick save\n4.en = Quick load\n5.en = Options\n"
    "8.en = Manual\n9.en = Title\n14.en = Skip\n15.en = Auto\n16.en = Backlog\n";

class SysMenu : public StageEnv {
protected:
    void SetUp() override {
        StageEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        NoStory();
        ASSERT_TRUE(Files({Bytes("src/adv.pict", kAdvSheet), Bytes("src/save.pict", kSaveSheet),
                           Bytes("src/dialog.pict", kDialogSheet),
                           Tool("image_data.py", "visual/system/sys_adv_00.ext", "pict {} root/src/adv.pict"),
                           Tool("image_data.py", "visual/system/sys_save_00.ext", "pict {} root/src/save.pict"),
                           Tool("image_data.py", "utility/dialog/dialog.png", "pict {} root/src/dialog.pict")}));
        // The captions' table first (it lands in the script table's place),
        // then the script and system tables.
        ASSERT_TRUE(MessageTables(kSysgraMes));
        sysgra_.assign(ScriptMesTable.data, ScriptMesTable.data + ScriptMesTable.size);
        ASSERT_TRUE(MessageTables("languages = ja en zh-hans zh-hant\n[section 2]\n10.en = Hello\n", kSystemMes));
        const MesTable script = ScriptMesTable, system = SystemMesTable;
        std::strcpy(UserId, "4242");
        Lib_SaveSizesSet();
        ASSERT_TRUE(Lib_SaveInit());
        StartFull();
        SysgraMesTable = {sysgra_.data(), sysgra_.size()};
        ScriptMesTable = script;
        SystemMesTable = system;
        TextLanguage = 1;
        Register(SCREEN_TITLE, TestScreen(0));
        ModeStack[0] = TestScreen(0);
        SetBody(0, [] {});
        for (ScreenId id : {SCREEN_SAVE, SCREEN_LOAD, SCREEN_OPTION, SCREEN_MANUAL, SCREEN_SPECIAL})
            Register(id, nullptr);
        Handler(12, [](CommandContext* c) {
            if (c->script->status & SCRIPT_REPLAY_RUN) return;
            if (c->step == 0) c->script->status |= SCRIPT_BUSY | SCRIPT_PLAYER_WAIT;
            c->step = 1;
        });
    }
    void TearDown() override {
        Main_ScreenCallsSet();
        SysgraMesTable = {};
        ShowQuickGDDel();
        GSL_StoryGuideDel();
        StoryHoldPictDel();
        Lib_SpriteFree(StoryCoverSprite);
        if (!IsSkipped()) Lib_SaveEnd();
        StageEnv::TearDown();
    }
    static ScreenWork* Menu() { return GSL_WorkGet(GSL_SysMenuModeCB); }
    static ScreenWork* StoryWork() { return GSL_WorkGet(GSL_StoryModeCB); }
    static SelectInputWork* Input() { return Menu() ? GSL_InputWork(GSL_SysMenuHead(Menu())->input) : nullptr; }
    static int32_t Button(int32_t i) { return GSL_WorkLayerGet(GSL_SysMenuModeCB, uint32_t(2 + i)); }
    static std::string LastSe() { return SoundChannelTable[19 + (SystemSeRotation + 2) % 3].st.path; }

    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame();
    }
    // The story waiting for the player, then C and the menu up and running.
    void Open() {
        ASSERT_TRUE(Scripts({{"00_init.txt", "\r\n<keywait 1>\r\n"}}));
        Push(GSL_StoryModeCB);
        ASSERT_TRUE(FramesUntil([] { return StoryWork() && StoryWork()->step == 2; }, 400, "the story's input"));
        Press(kKeyC);
        ASSERT_TRUE(FramesUntil([] { return Menu() && Menu()->step == 2; }, 200, "the menu"));
    }
    static void CursorTo(int32_t i) {
        SelectInputWork* in = Input();
        ASSERT_NE(in, nullptr);
        in->previous = in->cursor;
        in->cursor = i;
        GSL_InputHighlight(in);
    }
    void Choose(int32_t i) {
        CursorTo(i);
        Frame();
        Press(kKeyZ);
    }
    bool MenuGone(int limit = 300) {
        return FramesUntil([] { return !Menu(); }, limit, "the menu's close");
    }
    static UtilityDialogWork* Dialog() {
        for (int32_t t : Tasks(Lib_UtilityCB))
            if (auto* w = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(t)); w && w->kind == 1) return w;
        return nullptr;
    }
    std::vector<uint8_t> sysgra_;
};

TEST_F(SysMenu, DisabledButtonsAreGreyAndSkippedAndTheColumnSlidesInWithItsCaptions) {
    if (IsSkipped()) return;
    SpecialScenarioFlag = 1;
    GameStateBlock.gameVars[3] = 1;  // "[2003]" set: no backlog
    ASSERT_FALSE(GSL_StoryTestFlagRef());
    ASSERT_TRUE(Scripts({{"00_init.txt", "\r\n<keywait 1>\r\n"}}));
    Push(GSL_StoryModeCB);
    ASSERT_TRUE(FramesUntil([] { return StoryWork() && StoryWork()->step == 2; }, 400, "the story's input"));
    Press(kKeyC);
    // Frames from the column's start until each button is in place.
    ASSERT_TRUE(FramesUntil([] { return Menu() && Menu()->step == 1 && Menu()->subState == 99; }, 200, "the open"));
    int arrived[kSysMenuButtons];
    for (int& a : arrived) a = -1;
    for (int f = 0; f < 40; ++f) {
        for (int i = 0; i < kSysMenuButtons; ++i)
            if (arrived[i] < 0 && SpriteTable[Button(i)].posX == 524.0f) arrived[i] = f;
        Frame();
    }
    for (int i = 1; i < kSysMenuButtons; ++i) EXPECT_EQ(arrived[i] - arrived[0], 2 * i) << i;
    ASSERT_TRUE(FramesUntil([] { return Menu() && Menu()->step == 2; }, 100, "the run step"));
    Frame(2);
    const SelectInputWork* in = Input();
    ASSERT_NE(in, nullptr);
    for (int i = 0; i < kSysMenuButtons; ++i) {
        const bool grey = i <= 3 || i == 6;
        EXPECT_EQ(in->disabled[i], grey) << i;
        if (grey) {
            EXPECT_EQ(Lib_SpriteGetColor(Button(i)), 0xFF808080u) << i;
        } else if (i != in->cursor) {
            EXPECT_EQ(Lib_SpriteGetColor(Button(i)), 0xFFFFFFFFu) << i;
        }
    }
    EXPECT_EQ(in->cursor, 4);
    // The captions follow their buttons.
    for (int i = 0; i < kSysMenuButtons; ++i) {
        const TextRecord* t = Text(GSL_SysMenuModeCB, uint32_t(i));
        ASSERT_NE(t, nullptr) << i;
        const SpriteRecord& b = SpriteTable[Button(i)];
        EXPECT_EQ(t->x, int32_t(b.posX - 112.0f + 640.0f) + 22) << i;
        EXPECT_EQ(t->y, int32_t(b.posY + 32.0f - 360.0f) - 19) << i;
        EXPECT_FLOAT_EQ(t->scaleX, 0.55f) << i;
        if (i != in->cursor) {  // the cursor's pulse runs after the captions
            EXPECT_EQ(t->colour, Lib_SpriteGetColor(Button(i))) << i;
        }
        EXPECT_EQ(t->layer, 298) << i;
    }
    // Z on a grey button cannot happen: the cursor never rests on one.
    EXPECT_EQ(GSL_SysMenuItemIndex(9), 20);
    Register(SCREEN_SPECIAL, TestScreen(0));  // the special menu below the story
    EXPECT_EQ(GSL_SysMenuItemIndex(9), 23);
    Register(SCREEN_SPECIAL, TestScreen(5));
    EXPECT_EQ(GSL_SysMenuItemIndex(9), 20);
    GameStateBlock.gameVars[3] = 0;
}

TEST_F(SysMenu, XCAndALongDragCancelAShorterDragDoesNotSkipAndAutoSwitchTheMode) {
    if (IsSkipped()) return;
    const uint32_t before = StoryPlayMode;
    for (uint32_t key : {kKeyX, kKeyC}) {
        if (!StoryWork()) {
            Open();
            Menu()->heldFrameRate = 0;  // clamped on the way out
        } else {
            Hold(kKeyC);
            ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_SysMenuModeCB; }, 10, "the menu pushed"));
            ASSERT_EQ(Menu(), nullptr);
            Lib_FrameRateSet(30);  // the rate the menu finds and holds
            Release(kKeyC);
            ASSERT_TRUE(FramesUntil([] { return Menu() && Menu()->step == 2; }, 200, "the menu"));
            EXPECT_EQ(FrameRateConfig, 60);
        }
        Press(key);
        EXPECT_EQ(LastSe(), "cancel.wav") << key;
        ASSERT_TRUE(MenuGone());
        EXPECT_EQ(FrameRateConfig, key == kKeyX ? 1 : 30);
        EXPECT_EQ(FramePeriodUs, Lib_FramePeriodFor(key == kKeyX ? 1 : 30));
        EXPECT_EQ(StoryPlayMode, before);
        EXPECT_EQ(StoryExitRequest, 0u);
        ASSERT_TRUE(FramesUntil([] { return StoryWork()->step == 2; }, 100, "the story again"));
    }
    Press(kKeyC);
    ASSERT_TRUE(FramesUntil([] { return Menu() && Menu()->step == 2; }, 200, "the menu"));
    Drag({100, 400}, {271, 400}, 4);  // 171: not beyond
    Frame(3);
    ASSERT_NE(Menu(), nullptr);
    EXPECT_EQ(Menu()->step, 2);
    Drag({100, 400}, {100, 572}, 4);  // 172
    EXPECT_EQ(LastSe(), "cancel.wav");
    ASSERT_TRUE(MenuGone());
    EXPECT_EQ(StoryExitRequest, 0u);

    // Skip and auto switch the mode and close.
    ASSERT_TRUE(FramesUntil([] { return StoryWork()->step == 2; }, 100, "the story again"));
    for (int32_t button : {4, 5}) {
        StoryPlayMode = 0;
        Press(kKeyC);
        ASSERT_TRUE(FramesUntil([] { return Menu() && Menu()->step == 2; }, 200, "the menu"));
        Choose(button);
        ASSERT_TRUE(MenuGone());
        EXPECT_EQ(StoryPlayMode, button == 4 ? 1u : 4u);
        ASSERT_TRUE(FramesUntil([] { return StoryWork()->step == 2; }, 100, "the story again"));
    }
}

TEST_F(SysMenu, TheQuickSaveWaitsForItsVoiceThenSavesAndTheMenuWaitsForTheWrite) {
    if (IsSkipped()) return;
    Open();
    CursorTo(2);
    Frame();
    Hold(kKeyZ);
    Frame();
    Release(kKeyZ);
    ASSERT_TRUE(FramesUntil([] { return Menu()->step == 3 && GSL_SysMenuHead(Menu())->confirm == 1; }, 20, "the confirm"));
    // A voice still sounding (starting counts): the answer waits.
    SoundChannel& ch = SoundChannelTable[22];
    ch.st.flags.store(1);
    Menu()->sounds[22].handle = 22;
    ch.st.state.store(SOUND_STARTING);
    Frame(5);
    EXPECT_EQ(QuickDataPresent, 0);
    EXPECT_EQ(Menu()->step, 3);
    // E cuts it.
    ch.st.state.store(SOUND_STARTING);
    Hold(kKeyE);
    Frame();
    Release(kKeyE);
    ch.st.flags.store(0);
    ch.st.state.store(0);
    Menu()->sounds[22].handle = -1;
    EXPECT_EQ(QuickDataPresent, 1);
    EXPECT_EQ(SaveQuickGDGuard, -2);
    bool closedEarly = false;
    ASSERT_TRUE(FramesUntilWorker([&] {
        if (Menu() && Menu()->step == 4 && SaveQuickGDGuard != -1) closedEarly = true;
        return !Menu();
    }));
    EXPECT_FALSE(closedEarly);
    ASSERT_TRUE(Lib_SaveFlush());
    EXPECT_EQ(Lib_SaveSlotCheck(kSaveQuickSlot, nullptr), 0u);
    EXPECT_EQ(Lib_SaveSlotCheck(kSaveSystemSlot, nullptr), 0u);
    EXPECT_EQ(std::memcmp(Lib_SaveImageGet() + SavePartOffset(kSaveQuickSlot, 0), &QuickDataCache,
                          sizeof QuickDataCache),
              0);
}

// A click anywhere on the screen cuts a button's voice and the quick save's
// voice alike: the visit, or the save, follows at once.
TEST_F(SysMenu, AClickAnywhereCutsAButtonsVoiceAndTheQuickSaveVoice) {
    if (IsSkipped()) return;
    static int visits = 0;
    visits = 0;
    Register(SCREEN_OPTION, TestScreen(2));
    SetBody(2, [] {
        ++visits;
        GSL_ModePop();
    });
    Open();
    SoundChannel& ch = SoundChannelTable[22];
    auto speak = [&] {  // a voice still sounding in the menu's voice slot
        ch.st.flags.store(1);
        ch.st.state.store(SOUND_STARTING);
        Menu()->sounds[22].handle = 22;
    };
    auto hush = [&] {
        ch.st.flags.store(0);
        ch.st.state.store(0);
        if (Menu()) Menu()->sounds[22].handle = -1;
    };
    CursorTo(7);
    Frame();
    Press(kKeyZ);
    ASSERT_TRUE(FramesUntil([] { return Menu()->step == 3 && Menu()->subState == 1; }, 20, "the options voice"));
    speak();
    Frame(5);
    EXPECT_EQ(Menu()->subState, 1) << "the voice holds the visit";
    Click(640, 360);  // the middle of the screen, on no button
    EXPECT_NE(Menu()->subState, 1) << "a click cuts the voice";
    hush();
    ASSERT_TRUE(FramesUntil([] { return visits == 1 && Menu()->step == 2; }, 100, "the options visit"));

    CursorTo(2);
    Frame();
    Press(kKeyZ);
    ASSERT_TRUE(FramesUntil([] { return Menu()->step == 3 && GSL_SysMenuHead(Menu())->confirm == 1; }, 20, "the confirm"));
    speak();
    Frame(5);
    EXPECT_EQ(QuickDataPresent, 0);
    Click(640, 360);
    EXPECT_EQ(QuickDataPresent, 1) << "a click cuts the confirmation";
    hush();
    ASSERT_TRUE(FramesUntilWorker([] { return !Menu(); }));
    ASSERT_TRUE(Lib_SaveFlush());
}

// Without a cut, the answer comes when the voice ends by itself.
TEST_F(SysMenu, TheQuickSaveAnswerFollowsItsVoiceToItsEnd) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Files({Tool("sound_data.py", "sound/voice_system/quick.ogg",
                            "ogg {} --rate 22050 --frames 22050 --tone 441 --quality 0")}));
    Open();
    CursorTo(2);
    Frame();
    Press(kKeyZ);
    ASSERT_TRUE(FramesUntil([] { return Menu()->step == 3 && GSL_SysMenuHead(Menu())->confirm == 1; }, 20, "the confirm"));
    SoundChannel& ch = SoundChannelTable[22];
    ASSERT_TRUE(Lib_SoundRequest(ch, "sound/voice_system/quick.ogg", 0, 0, nullptr));
    Menu()->sounds[22].handle = 22;
    ASSERT_TRUE(FramesUntil([&] { return (ch.st.state.load() & SOUND_PLAYING) != 0; }, 60, "the voice"));
    Frame(20);
    EXPECT_EQ(QuickDataPresent, 0) << "the answer waits while the voice speaks";
    EXPECT_EQ(Menu()->step, 3);
    sound_test::FakeAudio::Advance(ch.voice, 1 << 20);  // the voice's last sample played
    ASSERT_TRUE(FramesUntil([] { return QuickDataPresent == 1; }, 30, "the answer"));
    EXPECT_EQ(SaveQuickGDGuard, -2);
    ASSERT_TRUE(FramesUntilWorker([] { return !Menu(); }));
    ASSERT_TRUE(Lib_SaveFlush());
    EXPECT_EQ(Lib_SaveSlotCheck(kSaveQuickSlot, nullptr), 0u);
}

// The play-mode icon follows a mode chosen in the menu: skip, gone when a
// key ends skipping, then auto; its picture is the sheet's part for the
// mode, slid in and shown.
TEST_F(SysMenu, TheModeIconFollowsSkipAndAutoChosenInTheMenu) {
    if (IsSkipped()) return;
    Open();
    for (int32_t button : {4, 5}) {
        if (!Menu()) {
            Press(kKeyC);  // ends skipping
            ASSERT_TRUE(FramesUntil([] { return StoryWork()->step == 2; }, 100, "the story"));
            EXPECT_EQ(StoryPlayMode, 0u);
            EXPECT_EQ(StoryWork()->words[STORY_ICON], -1) << "the icon goes with the mode";
            Press(kKeyC);
            ASSERT_TRUE(FramesUntil([] { return Menu() && Menu()->step == 2; }, 200, "the menu"));
        }
        Choose(button);
        ASSERT_TRUE(MenuGone());
        ASSERT_TRUE(FramesUntil([] { return StoryWork()->step == 2; }, 100, "the story again"));
        Frame(40);  // the slide in
        EXPECT_EQ(StoryPlayMode, button == 4 ? 1u : 4u);
        EXPECT_GE(StoryWork()->words[STORY_ICON], 0) << button;
        const int32_t sprite = GSL_WorkLayerGet(GSL_StoryModeCB, 31);
        ASSERT_TRUE(Lib_SpriteIsLive(sprite)) << button;
        const SpriteRecord& s = SpriteTable[sprite];
        LayoutRect r{};
        GSL_LayoutGetRect(&r, 5, button == 4 ? 10 : 9);
        ASSERT_GT(r.width, 0);
        EXPECT_EQ(s.srcRect[0], r.x) << button;
        EXPECT_EQ(s.srcRect[1], r.y) << button;
        EXPECT_EQ(s.visible, 1) << button;
        EXPECT_EQ(s.posX, float(-640 - r.width / 2 + r.width + 11)) << button;
    }
}

TEST_F(SysMenu, TheTitleButtonAsksWithItsVoiceAndYesAsksForTheTitle) {
    if (IsSkipped()) return;
    Open();
    Choose(9);
    ASSERT_TRUE(FramesUntil([] { return Dialog() && Dialog()->state >= 10; }, 100, "the question"));
    Frame(2);
    EXPECT_NE(std::string(Menu()->sounds[22].file).find("_title"), std::string::npos) << Menu()->sounds[22].file;
    Press(kKeyZ);  // yes
    ASSERT_TRUE(MenuGone());
    EXPECT_EQ(StoryExitRequest, 1u);
}

TEST_F(SysMenu, ALanguageChangedDuringTheOptionsVisitReloadsTheStory) {
    if (IsSkipped()) return;
    Register(SCREEN_OPTION, TestScreen(2));
    SetBody(2, [] {
        SystemDataBlock.language = int8_t(SystemDataBlock.language == 1 ? 0 : 1);
        GSL_ModePop();
    });
    Open();
    Choose(7);
    ASSERT_TRUE(MenuGone());
    EXPECT_EQ(StoryExitRequest, 4u);
}

TEST_F(SysMenu, TheSaveVisitKeepsTheLiveStateAndWithoutRoomForItsCopyTouchesNothing) {
    if (IsSkipped()) return;
    static uint64_t copy = 0;
    static int visits = 0;
    copy = 0, visits = 0;  // from a run before in the same process
    Register(SCREEN_SAVE, TestScreen(3));
    SetBody(3, [] {
        copy = GSL_WorkGet(GSL_SysMenuModeCB) ? uint64_t(uintptr_t(GSL_SysMenuHead(GSL_WorkGet(GSL_SysMenuModeCB))->copy)) : 99;
        ++visits;
        GameStateBlock.gameVars[7] = 1;  // what the save screen does not do: caught below
        GameStateBlock.gameVars[7] = 0;
        GSL_ModePop();
    });
    Open();
    GameStateBlock.gameVars[9] = 42;
    std::vector<uint8_t> before(reinterpret_cast<uint8_t*>(&GameStateBlock) + 8,
                                reinterpret_cast<uint8_t*>(&GameStateBlock) + sizeof(GameState));
    Choose(0);
    ASSERT_TRUE(MenuGone(400));
    EXPECT_EQ(visits, 1);
    EXPECT_NE(copy, 0u);
    EXPECT_EQ(std::memcmp(before.data(), reinterpret_cast<uint8_t*>(&GameStateBlock) + 8, before.size()), 0);

    // Heap 2 full: no copy, the live state is neither rewound nor restored.
    ASSERT_TRUE(FramesUntil([] { return StoryWork()->step == 2; }, 100, "the story again"));
    Press(kKeyC);
    ASSERT_TRUE(FramesUntil([] { return Menu() && Menu()->step == 2; }, 200, "the menu"));
    std::vector<void*> blocks;
    for (uint64_t size = 1u << 20; size >= 64; size /= 2)
        while (void* b = Lib_MemAlloc(HEAP_SCREEN, size, 4)) blocks.push_back(b);
    Choose(0);
    ASSERT_TRUE(FramesUntil([] { return visits == 2; }, 200, "the second visit"));
    for (void* b : blocks) Lib_MemFree(HEAP_SCREEN, b);
    EXPECT_EQ(copy, 0u);
    ASSERT_TRUE(MenuGone(400));
    EXPECT_EQ(GameStateBlock.gameVars[9], 42);
}

TEST_F(SysMenu, ThePreviewFollowsTheCursorAndItsDeleteQuestionRemovesTheQuickSave) {
    if (IsSkipped()) return;
    // A quick save on disk and in memory.
    QuickDataCache = GameStateBlock;
    std::strcpy(QuickCaption, "Ch1  Hello");
    QuickDataPresent = 1;
    SaveQuickGDSet(SAVE_TASK_SAVE);
    ASSERT_TRUE(FramesUntilWorker([] { return SaveQuickGDGuard == -1; }));
    ASSERT_EQ(Lib_SaveSlotCheck(kSaveQuickSlot, nullptr), 0u);
    Open();
    EXPECT_EQ(ShowQuickGDTask, -1);
    CursorTo(3);
    ASSERT_TRUE(FramesUntil([] { return ShowQuickGDState() == 2; }, 60, "the panel"));
    const SpriteRecord& b3 = SpriteTable[Button(3)];
    int thumbs = 0;
    for (const SpriteRecord& s : SpriteTable)
        thumbs += (s.flags & SPRITE_IN_USE) && s.textureWidth == 320 && s.textureHeight == 180 && s.visible &&
                  s.posX == b3.posX - 298.0f && s.posY == b3.posY + 30.0f && s.priority == 299;
    EXPECT_EQ(thumbs, 1);
    CursorTo(4);
    Frame(2);
    EXPECT_EQ(ShowQuickGDState(), -1);

    CursorTo(3);
    ASSERT_TRUE(FramesUntil([] { return ShowQuickGDState() == 2; }, 60, "the panel again"));
    Press(kKeyS);
    ASSERT_TRUE(FramesUntil([] { return Dialog() && Dialog()->state >= 10; }, 100, "the delete question"));
    EXPECT_GE(ShowQuickGDState(), 10);
    // While it asks, the menu does nothing else.
    Press(kKeyX);
    ASSERT_NE(Menu(), nullptr);
    EXPECT_EQ(Menu()->step, 2);
    if (Dialog() && Dialog()->state < 99) {
        // X answered the dialog with no: back to the panel, input resumed.
        ASSERT_TRUE(FramesUntil([] { return ShowQuickGDState() == 2; }, 60, "the panel after no"));
        Press(kKeyS);
        ASSERT_TRUE(FramesUntil([] { return Dialog() && Dialog()->state >= 10; }, 100, "the question again"));
    } else {
        ASSERT_TRUE(FramesUntil([] { return ShowQuickGDState() == 2; }, 60, "the panel after no"));
        EXPECT_EQ(QuickDataPresent, 1);
        Press(kKeyS);
        ASSERT_TRUE(FramesUntil([] { return Dialog() && Dialog()->state >= 10; }, 100, "the question again"));
    }
    Press(kKeyZ);  // yes
    ASSERT_TRUE(FramesUntilWorker([] { return ShowQuickGDState() == -1; }));
    EXPECT_EQ(QuickDataPresent, 0);
    ASSERT_TRUE(Lib_SaveFlush());
    EXPECT_EQ(Lib_SaveSlotCheck(kSaveQuickSlot, nullptr), 1u);
    EXPECT_FALSE(TaskTable.slots[GSL_SysMenuHead(Menu())->input]->suspended);
    // Quick load now does nothing and stays.
    Choose(3);
    Frame(5);
    ASSERT_NE(Menu(), nullptr);
    EXPECT_EQ(Menu()->step, 2);
    EXPECT_EQ(StoryExitRequest, 0u);
}
}  // namespace
