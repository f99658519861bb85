// The title screen on the sample: the opening movie's skip rules (and a movie
// that cannot be opened), the menu's items and rows, its returns, the idle
// restart, and the ways out to the story.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "screens/logo.h"
#include "screens/system_screens.h"
#include "screens/title.h"
#include "screens/title_work.h"
#include "story/game_state.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "story/story_screen.h"
#include "story/system_save.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/system_sound.h"

namespace {
using Title = ScreenHarness;

ScreenWork* Work() { return GSL_WorkGet(GSL_TitleModeCB); }
int32_t Word(int32_t TitleHead::*field) { return Work() ? GSL_TitleHead(Work())->*field : -99; }
bool At(int32_t step, int32_t subState) { return Work() && Work()->step == step && Work()->subState == subState; }
SelectInputWork* Input() { return Work() ? GSL_InputWork(GSL_TitleHead(Work())->input) : nullptr; }
int32_t Cursor() { return Input() ? Input()->cursor : -1; }
const SpriteRecord* Item(int32_t i) { return Lib_SpriteAt(TitleItemSprite(i)); }

// The sample, the title in the boot's place; `movie` leaves bit 0 of the
// title flags (play the movie) as a fresh run has it.
void Begin(Title* h, bool movie) {
    ASSERT_TRUE(ScreenHarness::SampleData());
    ScreenHarness::Messages();
    ASSERT_TRUE(h->Fonts());
    h->StartFull();
    ModeStack[0] = GSL_TitleModeCB;
    SystemDataBlock.language = 1;
    if (!movie) TitleFlags = 6;
}

// The menu takes input: the title call over, the items faded in.
void MenuUp(Title* h) {
    h->FramesUntil([] { return At(TITLE_STEP_INPUT, 0); }, 600, "the menu");
    h->Frame(30);
}

void Press(Title* h, uint32_t bits, int frames = 1) {
    h->Hold(bits);
    h->Frame();
    h->Release(bits);
    h->Frame(frames);
}

TEST_F(Title, TheFirstMovieOfAFreshRunCannotBeSkippedALaterOneCan) {
    if (IsSkipped()) return;
    SystemDataFresh = 1;
    Begin(this, true);
    Frame(2);
    EXPECT_EQ(TitleFlags & 2, 0) << "no skip on the first title after fresh system data";
    // A movie file that cannot be opened still ends, and the menu comes.
    ASSERT_TRUE(FailLoad("movie/movie1_en.avi"));
    FramesUntil([] { return At(TITLE_STEP_LOAD, 2); }, 60, "the movie playing");
    Press(this, BUTTON_DECIDE);
    EXPECT_EQ(Word(&TitleHead::move), -1) << "the press is not a skip";
    FramesUntil([] { return At(TITLE_STEP_LOAD, 10) || At(TITLE_STEP_LOAD, 11); }, 10, "the movie over");
    EXPECT_EQ(MovieState.load(), MOVIE_IDLE);
    MenuUp(this);
    EXPECT_EQ(TitleFlags & 1, 0);

    // A later entry (as the idle restart makes it) may skip, once.
    GSL_InputDel(Word(&TitleHead::input));
    GSL_WorkDelete(GSL_TitleModeCB);
    TitleFlags |= 1;
    Frame();
    EXPECT_NE(TitleFlags & 2, 0);
    FramesUntil([] { return At(TITLE_STEP_LOAD, 2); }, 120, "the movie playing");
    Frame(5);
    Press(this, BUTTON_DECIDE, 0);
    EXPECT_TRUE(At(TITLE_STEP_LOAD, 3));
    const int32_t move = Word(&TitleHead::move);
    EXPECT_GE(move, 0);
    Press(this, BUTTON_DECIDE, 0);
    EXPECT_EQ(Word(&TitleHead::move), move) << "a second press during the move does nothing";
    FramesUntil([] { return Word(&TitleHead::move) == -2; }, 12, "the skip's move over");
    EXPECT_TRUE(MovieState.load() == MOVIE_STOP_REQUESTED || MovieState.load() == MOVIE_IDLE);
    FramesUntil([] { return At(TITLE_STEP_LOAD, 11); }, 20, "the movie gone");
    MenuUp(this);
}

TEST_F(Title, TheMenuShowsItsItemsInRowsAndReturnsToThem) {
    if (IsSkipped()) return;
    Begin(this, false);
    QuickDataPresent = 1;
    SystemDataBlock.systemVars[15] = 1;
    MenuUp(this);
    // Six items from y 80 down in steps of 70; hidden ones sit, clear, on
    // the next row.
    const int32_t shown[] = {0, 3, 4, 5, 6, 13};
    const float rows[] = {80, 10, -60, -130, -200, -270};
    for (int i = 0; i < 6; ++i) {
        ASSERT_NE(Item(shown[i]), nullptr) << shown[i];
        EXPECT_EQ(Item(shown[i])->posY, rows[i]) << shown[i];
        EXPECT_EQ(Item(shown[i])->color >> 24, 0xFFu) << shown[i];
    }
    EXPECT_EQ(Item(1)->posY, 10.0f);
    EXPECT_EQ(Item(1)->color >> 24, 0u);
    EXPECT_EQ(Item(7)->color >> 24, 0u);
    EXPECT_EQ(Cursor(), 0) << "no valid save: new game";
    EXPECT_TRUE(MatchesReference("title_menu"));

    // Extras opens the submenu (its first item current); cancel closes it
    // with the cursor back on extras.
    for (int i = 0; i < 4; ++i) Press(this, BUTTON_DOWN);
    ASSERT_EQ(Cursor(), 6);
    Press(this, BUTTON_DECIDE, 2);
    EXPECT_EQ(TitleSubMenuOpen, 1);
    FramesUntil([] { return At(TITLE_STEP_INPUT, 0); }, 10, "the submenu");
    EXPECT_EQ(Cursor(), 7);
    // The sample has the R18 archive: the special menu is offered too.
    EXPECT_EQ(Item(7)->posY, -60.0f);
    EXPECT_EQ(Item(8)->posY, -130.0f);
    EXPECT_EQ(Item(9)->posY, -200.0f);
    EXPECT_EQ(Item(10)->posY, -270.0f);
    EXPECT_EQ(Item(9)->color >> 24, 0xFFu) << "the R18 archive brings the special menu";
    EXPECT_EQ(Item(0)->color >> 24, 0u);
    Frame(30);
    EXPECT_TRUE(MatchesReference("title_submenu"));
    Press(this, BUTTON_CANCEL, 2);
    FramesUntil([] { return At(TITLE_STEP_INPUT, 0); }, 10, "the main menu");
    EXPECT_EQ(TitleSubMenuOpen, 0);
    EXPECT_EQ(Cursor(), 6);

    // Without the flag and the quick data: four rows, closed up.
    QuickDataPresent = 0;
    SystemDataBlock.systemVars[15] = 0;
    GSL_TitleDrawMenu(1, nullptr, -1);
    EXPECT_EQ(Item(0)->posY, -60.0f);
    EXPECT_EQ(Item(13)->posY, -270.0f);
    EXPECT_FALSE(GSL_TitleIsItemVisible(4));
    EXPECT_FALSE(GSL_TitleIsItemVisible(6));
    TitleSubMenuOpen = 1;
    EXPECT_FALSE(GSL_TitleIsItemVisible(7));
    EXPECT_TRUE(GSL_TitleIsItemVisible(10));
    TitleSubMenuOpen = 0;

    // Options open above the title without a fade; back on its item, the
    // menu not laid out again when the language stayed.
    GSL_TitleDrawMenu(1, nullptr, 5);
    Lib_SpriteAt(TitleItemSprite(1))->posX = 123.0f;  // a new layout puts it back at 0
    Press(this, BUTTON_DECIDE);
    FramesUntil([] { return GSL_ModeTop() == GSL_OptionModeCB; }, 60, "the options");
    EXPECT_TRUE(GSL_SystemDispColorCheck());
    FramesUntil([] { return Work() && Work()->step == TITLE_STEP_EXECUTE && Work()->subState == 2 &&
                            GSL_ModeTop() == GSL_OptionModeCB && GSL_WorkGet(GSL_OptionModeCB) &&
                            GSL_WorkGet(GSL_OptionModeCB)->step >= 2; }, 200, "the options up");
    Frame(30);
    Press(this, BUTTON_CANCEL);
    FramesUntil([] { return At(TITLE_STEP_INPUT, 0) && GSL_ModeTop() == GSL_TitleModeCB; }, 300, "the title again");
    EXPECT_EQ(Item(1)->posX, 123.0f) << "not laid out again";
    EXPECT_EQ(Cursor(), 5);
}

TEST_F(Title, IdleForAMinuteTheTitleStartsAgainWithTheMovieThenNewGame) {
    if (IsSkipped()) return;
    Begin(this, false);
    MenuUp(this);
    const uint32_t now = uint32_t(Lib_TimerNow());
    // At 59 s a move starts the minute again.
    TitleIdleStart = now - 59000000u;
    Press(this, BUTTON_DOWN, 2);
    EXPECT_GE(TitleIdleStart, now);
    TitleSubMenuOpen = 1;
    TitleIdleStart = uint32_t(Lib_TimerNow()) - 60000000u;
    Frame();
    EXPECT_EQ(Work()->step, TITLE_STEP_WIPE_OUT);
    EXPECT_EQ(TitleSubMenuOpen, 0);
    EXPECT_NE(TitleFlags & 1, 0);
    FramesUntil([] { return At(TITLE_STEP_LOAD, 2); }, 150, "a fresh title with the movie");
    EXPECT_EQ(GSL_ModeCount(), 1);
    EXPECT_EQ(ModeStack[0], GSL_TitleModeCB);
    EXPECT_EQ(TitleFlags & 1, 0);
    EXPECT_EQ(Word(&TitleHead::idleVoice), 1) << "the idle voice is asked for again";
    Press(this, BUTTON_DECIDE);
    MenuUp(this);

    // New game: a fresh game state and a 60-frame fade to the story over a
    // fresh title.
    ASSERT_EQ(Cursor(), 0);
    std::strcpy(GameStateBlock.scriptName, "sub.txt");
    Press(this, BUTTON_DECIDE, 0);
    FramesUntil([] { return Work() && Work()->step == TITLE_STEP_WIPE_OUT; }, 5, "the way out");
    EXPECT_STREQ(GameStateBlock.scriptName, "00_init.txt");
    int frames = 0;
    FramesUntil([&] { ++frames; return GSL_ModeCount() == 2; }, 120, "the story over a fresh title");
    EXPECT_GE(frames, 59);
    EXPECT_EQ(ModeStack[0], GSL_TitleModeCB);
    EXPECT_EQ(ModeStack[1], GSL_StoryModeCB);
}

TEST_F(Title, ContinueWipesToTheCheckedQuickSave) {
    if (IsSkipped()) return;
    Begin(this, false);
    QuickDataPresent = 1;
    std::memset(static_cast<void*>(&QuickDataCache), 0, sizeof QuickDataCache);
    std::strcpy(QuickDataCache.scriptName, "sub.txt");
    QuickDataCache.labelCount = 999;  // out of range: the check repairs it
    MenuUp(this);
    ASSERT_EQ(Cursor(), 0);
    Press(this, BUTTON_DOWN);
    Press(this, BUTTON_DOWN);
    ASSERT_EQ(Cursor(), 4);
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    EXPECT_EQ(Work()->step, TITLE_STEP_EXECUTE);
    const uint64_t before = GSL_PlayTimeNow();
    // A voice still speaking holds the action (the sample has no "continue"
    // line: the title call stands in); decide cuts it, and the action
    // follows one frame on.
    GSL_SysVoicePlay(0, 2, 100.0f);
    Frame(3);
    ASSERT_GE(GSL_WorkSoundGet(GSL_TitleModeCB, kTitleVoiceSlot), 0);
    EXPECT_EQ(Work()->step, TITLE_STEP_EXECUTE);
    Press(this, BUTTON_DECIDE, 0);
    EXPECT_EQ(GSL_WorkSoundGet(GSL_TitleModeCB, kTitleVoiceSlot), -1);
    EXPECT_EQ(Work()->step, TITLE_STEP_EXECUTE);
    Frame();
    EXPECT_EQ(Work()->step, TITLE_STEP_WIPE_OUT);
    EXPECT_STREQ(GameStateBlock.scriptName, "sub.txt");
    EXPECT_LE(GameStateBlock.labelCount, uint32_t(kLabelHistorySize));
    EXPECT_GE(PlayTimeBase, before) << "play time counts from the choice, not from the logos";
    FramesUntil([] { return Work() && Work()->subState == 52; }, 10, "the wipe running");
    int frames = 0;
    FramesUntil([&] { ++frames; return GSL_ModeCount() == 2; }, 200, "the story over a fresh title");
    EXPECT_GE(frames, 100) << "the 120-frame wipe";
    EXPECT_EQ(ModeStack[0], GSL_TitleModeCB);
    EXPECT_EQ(ModeStack[1], GSL_StoryModeCB);
}

TEST_F(Title, AValidSavePutsTheCursorOnLoadWhichFadesOutAndBack) {
    if (IsSkipped()) return;
    std::strcpy(UserId, "4242");
    Lib_SaveSizesSet();
    ASSERT_EQ(std::system("python3 " VN_SOURCE_DIR "/tools/save_data.py write user/4242/save --slot 17:2 >/dev/null"), 0);
    ASSERT_TRUE(Lib_SaveInit());
    Begin(this, false);
    MenuUp(this);
    EXPECT_EQ(Cursor(), 3);
    Press(this, BUTTON_DECIDE, 0);
    // The load item speaks first (its system voice, which the harness's
    // mixer never finishes): a second decide cuts it, then the title fades
    // out.
    int frames = 0;
    FramesUntil([&] {
        ++frames;
        if (frames % 8 == 4 && GSL_ModeTop() == GSL_TitleModeCB && Work()->subState == 0) Press(this, BUTTON_DECIDE, 0);
        return GSL_ModeTop() == GSL_LoadModeCB;
    }, 120, "the load screen");
    EXPECT_GE(frames, 29) << "the title fades out first";
    EXPECT_EQ(GSL_WorkGet(GSL_TitleModeCB)->suspended, SCREEN_RELEASED);
    FramesUntil([] { return GSL_WorkGet(GSL_LoadModeCB) && GSL_WorkGet(GSL_LoadModeCB)->step == 2 &&
                            GSL_SystemDispColorCheck(); }, 300, "the load screen up");
    Frame(10);
    Press(this, BUTTON_CANCEL, 0);
    FramesUntil([] { return GSL_ModeTop() == GSL_TitleModeCB && Work() && !Work()->suspended &&
                            Work()->subState == 3; }, 300, "the title again");
    frames = 0;
    FramesUntil([&] { ++frames; return At(TITLE_STEP_INPUT, 0); }, 60, "the menu again");
    EXPECT_GE(frames, 28) << "and fades back in";
    EXPECT_EQ(Cursor(), 3);
    EXPECT_GE(Lib_SpriteGetState(GSL_WorkLayerGet(GSL_TitleModeCB, 15)), 1) << "the title picture comes back";
    Lib_SaveEnd();
}

TEST_F(Title, TheCautionLogoInTheFirstLanguage) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    StartFull();
    ModeStack[0] = GSL_LogoModeCB;
    SystemDataBlock.language = 0;
    FramesUntil([] {
        const ScreenWork* w = GSL_WorkGet(GSL_LogoModeCB);
        return w && w->step == 2 && w->subState == 12;
    }, 120, "logo 0 held");
    EXPECT_TRUE(MatchesReference("logo_caution"));
}

TEST_F(Title, AfterTheOptionsChangedTheLanguageTheMenuTakesItsColumn) {
    if (IsSkipped()) return;
    Begin(this, false);
    MenuUp(this);
    GSL_TitleDrawMenu(1, nullptr, 5);
    Lib_SpriteAt(TitleItemSprite(1))->posX = 123.0f;  // a new layout puts it back at 0
    Press(this, BUTTON_DECIDE);
    FramesUntil([] { return GSL_ModeTop() == GSL_OptionModeCB && GSL_WorkGet(GSL_OptionModeCB) &&
                            GSL_WorkGet(GSL_OptionModeCB)->step >= 2 && GSL_SystemDispColorCheck(); },
                300, "the options up");
    Frame(30);
    SystemDataBlock.language = 2;  // as the font page sets it
    Press(this, BUTTON_CANCEL);
    // The changed settings bring the save question; no leaves them unsaved.
    for (int i = 0; i < 40 && !(GSL_ModeTop() == GSL_TitleModeCB && At(TITLE_STEP_INPUT, 0)); ++i) {
        if (GSL_ModeTop() == GSL_SystemSaveModeCB) Press(this, BUTTON_CANCEL, 10);
        else Frame(10);
    }
    FramesUntil([] { return GSL_ModeTop() == GSL_TitleModeCB && At(TITLE_STEP_INPUT, 0); }, 300, "the title again");
    EXPECT_EQ(Item(1)->posX, 0.0f) << "laid out again";
    EXPECT_EQ(Cursor(), 5);
    EXPECT_EQ(Item(0)->srcRect[0], 8 + 480) << "the third language's column";
    EXPECT_EQ(Lib_SpriteAt(GSL_WorkLayerGet(GSL_TitleModeCB, 16))->srcRect[1], 8 + 416) << "and its row";
}
}  // namespace
