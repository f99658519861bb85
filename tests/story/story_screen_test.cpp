// The story screen through the real frame loop over a test screen in the
// title's place: its start (black cover or white hold), the input rules with
// a test handler standing in for the script's wait, the hide action with its
// badge, the menu action with its capture and held picture, and the exits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/main_tasks.h"
#include "engine/core/task.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "script/script_host.h"
#include "story/game_state.h"
#include "story/story_play.h"
#include "story/sys_menu.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "story/system_save.h"
#include "tests/script/stage_env.h"
#include "ui/engine_services.h"
#include "ui/loading.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/system_sound.h"
#include "ui/widget_task.h"

namespace {
constexpr uint32_t kKeyX = 0x2, kKeyS = 0x4, kKeyC = 0x8, kKeyE = 0x400, kKeyAuto = 0x40, kKeySkip = 0x80;


const char kSheet[] =
    "{\"format\": \"ext0\", \"bpp\": 32, \"size\": [1296, 992], \"background\": \"#00000000\", \"shapes\": ["
    "{\"rect\": [816, 888, 72, 48], \"colour\": \"#ffffffff\"}]}";

class StoryScreen : public StageEnv {
protected:
    void SetUp() override {
        StageEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        NoStory();
        ASSERT_TRUE(Files({Bytes("src/adv.pict", kSheet),
                           Tool("image_data.py", "visual/system/sys_adv_00.ext", "pict {} root/src/adv.pict")}));
        StartFull();
        Register(SCREEN_TITLE, TestScreen(0));
        ModeStack[0] = TestScreen(0);
        SetBody(0, [] {});
        // keywait: the script waits for the player until the test lets it go.
        Handler(12, [](CommandContext* c) {
            if (c->script->status & SCRIPT_REPLAY_RUN) return;  // a restore passes it
            if (c->step == 0) c->script->status |= SCRIPT_BUSY | SCRIPT_PLAYER_WAIT;
            c->step = 1;
            if (g_release) c->script->status &= ~(SCRIPT_BUSY | SCRIPT_PLAYER_WAIT);
        });
        g_release = false;
    }
    void TearDown() override {
        Main_ScreenCallsSet();
        // What outlives the story screen by design: its guide and held picture.
        GSL_StoryGuideDel();
        StoryHoldPictDel();
        Lib_SpriteFree(StoryCoverSprite);
        StageEnv::TearDown();
    }
    static DispColorWork* Overlay() {
        return reinterpret_cast<DispColorWork*>(GSL_WidgetWorkGet(DispColorTask, GSL_SystemDispColorCB));
    }
    static ScreenWork* Work() { return GSL_WorkGet(GSL_StoryModeCB); }
    static int32_t Word(uint32_t i) { return Work() ? GSL_WorkWord(Work(), i) : -2; }
    // Starts the story on a waiting script and runs it into its input step.
    void Enter(const char* script = "\r\n<keywait 1>\r\n") {
        ASSERT_TRUE(Scripts({{"00_init.txt", script}}));
        Push(GSL_StoryModeCB);
        ASSERT_TRUE(FramesUntil([] { return Work() && Work()->step == 2; }, 400, "the input step"));
    }
    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame();
    }
    static std::string LastSe() {
        const int32_t ch = 19 + (SystemSeRotation + 2) % 3;
        return SoundChannelTable[ch].st.path;
    }
    static bool g_release;
};
bool StoryScreen::g_release = false;

TEST_F(StoryScreen, ANormalStartPassesThroughTheBlackCoverAndFadesIn) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Scripts({{"00_init.txt", "\r\n<keywait 1>\r\n"}}));
    Push(GSL_StoryModeCB);
    Frame();
    ASSERT_NE(Work(), nullptr);
    const int32_t cover = StoryCoverSprite;
    ASSERT_TRUE(Lib_SpriteIsLive(cover));
    EXPECT_EQ(SpriteTable[cover].color, 0xFF000000u);
    EXPECT_EQ(SpriteTable[cover].priority, 21);
    bool blackWhileSuspended = false;
    ASSERT_TRUE(FramesUntil(
        [&] {
            const int32_t task = Work()->tasks[0];
            if (task >= 0 && TaskTable.slots[task] && TaskTable.slots[task]->suspended &&
                Overlay()->target == 0xFF000000u)
                blackWhileSuspended = true;
            return Work()->step == 2;
        },
        400, "the input step"));
    EXPECT_TRUE(blackWhileSuspended);
    EXPECT_EQ(StoryCoverSprite, -1);
    EXPECT_FALSE(Lib_SpriteIsLive(cover) && SpriteTable[cover].color == 0xFF000000u && SpriteTable[cover].priority == 21);
    EXPECT_EQ(Overlay()->current, 0u);
    EXPECT_EQ(StoryStartMode, -1);
    EXPECT_GE(GuideTaskId, 0);
    EXPECT_FALSE(TaskTable.slots[Work()->tasks[0]]->suspended);
    EXPECT_STREQ(GameStateBlock.scriptName, "00_init.txt");
}

TEST_F(StoryScreen, AWhiteOverlayHoldsWhiteForItsTimeThenFades) {
    if (IsSkipped()) return;
    GSL_SystemDispColorSet(0xFFFFFFFFu, 0);
    Frame(2);
    ASSERT_EQ(Overlay()->current, 0xFFFFFFFFu);
    ASSERT_TRUE(Scripts({{"00_init.txt", "\r\n<keywait 1>\r\n"}}));
    Push(GSL_StoryModeCB);
    ASSERT_TRUE(FramesUntil([] { return Work() && Work()->subState == 9999; }, 400, "the white hold"));
    int white = 0;
    while (Overlay()->target == 0xFFFFFFFFu && white < 200) {
        EXPECT_EQ(Overlay()->current, 0xFFFFFFFFu);
        Frame();
        ++white;
    }
    EXPECT_GE(white, 120);
    EXPECT_LE(white, 123);
    EXPECT_EQ(Overlay()->target, 0x00FFFFFFu);
    ASSERT_TRUE(FramesUntil([] { return Work()->step == 2; }, 40, "the input step"));
    EXPECT_EQ(Overlay()->target, 0u);
    Frame(2);
    EXPECT_EQ(Overlay()->current, 0u);
    EXPECT_EQ(StoryStartMode, -1);
}

TEST_F(StoryScreen, StopKeysOnlyStopAModeAndRefusalsSoundAnError) {
    if (IsSkipped()) return;
    Enter();
    Press(kKeySkip);
    Press(kKeyAuto);
    EXPECT_EQ(StoryPlayMode, 5u);
    EXPECT_EQ(GuideTaskId, -1);  // gone once a mode started
    Press(kKeyX);  // only stops both modes
    EXPECT_EQ(StoryPlayMode, 0u);
    EXPECT_EQ(Work()->step, 2);
    // "[2003]" set: no backlog.
    GameStateBlock.gameVars[3] = 1;
    Press(kKeyS);
    EXPECT_EQ(Work()->step, 2);
    EXPECT_EQ(LastSe(), "error.wav");
    GameStateBlock.gameVars[3] = 0;
    // No choice point: E sounds the error and the release gives no click.
    GameStateBlock.stage.choiceLine = -1;
    SystemSeRotation = 0;
    Hold(kKeyE);
    Frame();
    EXPECT_EQ(PointerGesture.clickAllowed, 0);
    Release(kKeyE);
    Frame();
    EXPECT_EQ(Work()->step, 2);
    EXPECT_STREQ(SoundChannelTable[19].st.path, "error.wav");
}

TEST_F(StoryScreen, HideShowsTheBadgePausesTheScreenAndComesBack) {
    if (IsSkipped()) return;
    Enter();
    SpriteRecord& window = LayerSprite(25, SPRITE_IN_USE | SPRITE_READY, 64, 64);
    window.visible = 1;
    window.color = 0x80FFFFFFu;
    window.posY = -250.0f;
    const int32_t script = Work()->tasks[0];
    Press(kKeyX);
    EXPECT_EQ(Work()->step, 3);
    ASSERT_TRUE(FramesUntil([] { return Work()->subState == 11; }, 20, "the badge"));
    const int32_t badge = Word(STORY_BADGE);
    ASSERT_TRUE(Lib_SpriteIsLive(badge));
    const SpriteRecord& b = SpriteTable[badge];
    EXPECT_FLOAT_EQ(b.posX, -581.0f);
    EXPECT_FLOAT_EQ(b.posY, 317.0f);
    EXPECT_FLOAT_EQ(b.scaleX, 1.0f);
    EXPECT_FLOAT_EQ(b.scaleY, 1.0f);
    EXPECT_EQ(b.color, 0x60FFFFFFu);
    EXPECT_EQ(b.priority, 400);
    EXPECT_EQ(b.visible, 1);
    EXPECT_EQ(window.visible, 0);
    EXPECT_TRUE(TaskTable.slots[script]->suspended);
    Press(kKeyX);
    ASSERT_TRUE(FramesUntil([] { return Work()->step == 2; }, 30, "back"));
    EXPECT_FALSE(Lib_SpriteIsLive(badge) && SpriteTable[badge].color == 0x60FFFFFFu);
    EXPECT_EQ(window.visible, 1);
    EXPECT_EQ(window.color >> 24, 0x80u);
    EXPECT_FLOAT_EQ(window.posY, -250.0f);
    EXPECT_FALSE(TaskTable.slots[script]->suspended);
    EXPECT_EQ(Word(STORY_FLAGS), 0);
}

TEST_F(StoryScreen, TheMenuCapturesHoldsThePictureAndReturnsEverything) {
    if (IsSkipped()) return;
    Enter();
    SpriteRecord& picture = LayerSprite(3, SPRITE_IN_USE | SPRITE_READY, 64, 64);
    picture.visible = 1;
    const int32_t script = Work()->tasks[0];
    bool held = false, menu = false;
    SetBody(1, [] {});
    Press(kKeyC);
    // The menu comes up; X closes it again.
    ASSERT_TRUE(FramesUntil(
        [&] {
            held = held || (StoryHoldPictTask >= 0 && StoryCaptureSprite >= 0 && picture.visible == 0);
            menu = menu || Work()->subState == 99;
            const ScreenWork* m = GSL_WorkGet(GSL_SysMenuModeCB);
            return m && m->step == 2;
        },
        120, "the menu"));
    Press(kKeyX);
    ASSERT_TRUE(FramesUntil([&] { return Work()->step == 2; }, 120, "the menu and back"));
    EXPECT_TRUE(held);
    EXPECT_TRUE(menu);
    EXPECT_EQ(StoryHoldPictTask, -1);
    EXPECT_EQ(StoryCaptureSprite, -1);
    EXPECT_EQ(picture.visible, 1);
    EXPECT_FALSE(TaskTable.slots[script]->suspended);
    EXPECT_EQ(StoryPausedFlag, 0);
}

TEST_F(StoryScreen, TheExitsLeadToTheSaveQuestionOrARestart) {
    if (IsSkipped()) return;
    // The end of the script: the system-data save screen over the title.
    Enter();
    g_release = true;
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_SystemSaveModeCB; }, 200, "the save question"));
    EXPECT_EQ(ModeStack[0], TestScreen(0));
    EXPECT_EQ(GSL_ModeCount(), 2);
    EXPECT_EQ(Work(), nullptr);
    GSL_WorkDelete(GSL_SystemSaveModeCB);
    ModeStack[1] = nullptr;

    // Request 3: title and a fresh story.
    g_release = false;
    Enter();
    StoryExitRequest = 3;
    ASSERT_TRUE(FramesUntil([] { return !Work(); }, 200, "the restart"));
    EXPECT_EQ(ModeStack[0], TestScreen(0));
    EXPECT_EQ(ModeStack[1], GSL_StoryModeCB);
    ASSERT_TRUE(FramesUntil([] { return Work() && Work()->step == 2; }, 400, "the input step"));

    // A special scenario: 1 leaves only the screen below, 3 starts again.
    SpecialScenarioFlag = 1;
    StoryExitRequest = 1;
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeCount() == 1; }, 200, "the menu below"));
    EXPECT_EQ(ModeStack[0], TestScreen(0));
    EXPECT_EQ(StoryExitRequest, 5u);
    Enter();
    StoryExitRequest = 3;
    ASSERT_TRUE(FramesUntil([] { return !Work(); }, 200, "the story again"));
    EXPECT_EQ(GSL_ModeCount(), 2);
    SpecialScenarioFlag = 0;
    ASSERT_TRUE(FramesUntil([] { return Work() && Work()->step == 2; }, 400, "the input step"));

    // Quick load: the quick state, checked, counted from now.
    std::memset(static_cast<void*>(&QuickDataCache), 0, sizeof QuickDataCache);
    std::memset(QuickDataCache.scriptName, 'q', sizeof QuickDataCache.scriptName);
    QuickDataCache.readLineCount = 99999;
    QuickDataCache.playHours = 7;
    PlayTimeBase = 0;
    StoryExitRequest = 2;
    ASSERT_TRUE(FramesUntil([] { return !Work(); }, 200, "the quick load"));
    EXPECT_EQ(GSL_ModeCount(), 2);
    EXPECT_EQ(GameStateBlock.playHours, 7);
    EXPECT_LT(strnlen(GameStateBlock.scriptName, sizeof GameStateBlock.scriptName), sizeof GameStateBlock.scriptName);
    EXPECT_LE(GameStateBlock.readLineCount, kReadLineSize);
    EXPECT_GT(PlayTimeBase, 0u);
}

TEST_F(StoryScreen, AReloadKeepsTheOldPictureAndRestartsAtTheLastLine) {
    if (IsSkipped()) return;
    Enter();
    Raw({{"00_init.txt", "\r\n<keywait 1>\r\n<keywait 2>\r\n"}});
    GameStateBlock.labelCount = 1;
    GameStateBlock.labelFlags[0] = 1;
    GameStateBlock.readLineCount = 2;
    GameStateBlock.readLinePos[0] = 2;
    GameStateBlock.readLinePos[1] = 15;
    StoryExitRequest = 4;
    Frame();
    const int32_t capture = StoryCoverSprite;
    ASSERT_GE(capture, 0);
    EXPECT_EQ(SpriteTable[capture].priority, 1);
    EXPECT_EQ(StoryStartMode, 1);
    bool black = false;
    int32_t loadingPriority = -1;
    ASSERT_TRUE(FramesUntil([&] { return !Work(); }, 200, "the exit"));
    EXPECT_EQ(StoryExitRequest, 3u);
    ASSERT_TRUE(FramesUntil(
        [&] {
            black = black || Overlay()->target == 0xFF000000u;
            if (Work() && Work()->step == 1 && Word(STORY_LOADING) >= 0) {
                if (auto* l = reinterpret_cast<LoadingWork*>(GSL_WidgetWorkGet(Word(STORY_LOADING), GSL_SystemLoadingCB)))
                    loadingPriority = l->priority;
            }
            return Work() && Work()->step == 2 && GSL_ModeCount() == 2;
        },
        400, "the reload"));
    EXPECT_FALSE(black);
    EXPECT_EQ(loadingPriority, 0);
    EXPECT_EQ(GameStateBlock.readLineCount, 1u);
    EXPECT_EQ(GameStateBlock.startOffset, 15u);
    EXPECT_EQ(StoryCoverSprite, -1);
    EXPECT_EQ(StoryStartMode, -1);
}
}  // namespace
