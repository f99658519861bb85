// The story screen's window routines on the stage harness's story context:
// the history restore as a table with its guards, the sound pause, the slide
// store, the play-mode icon and the guide.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "story/game_state.h"
#include "story/story_screen.h"
#include "script/script_host.h"
#include "story/story_window.h"
#include "tests/script/stage_env.h"
#include "ui/layout_table.h"
#include "ui/system_sound.h"

namespace {
using StoryWindow = StageEnv;

// Labels: 0 flagged in a.txt, 1 unflagged in a.txt, 2 flagged in b.txt,
// 3 unflagged in a.txt, 4 unflagged in b.txt.
void History(GameState& g) {
    const struct {
        uint32_t pos;
        uint8_t flag;
        const char* name;
    } labels[] = {{100, 1, "A0"}, {200, 0, "A1"}, {1u << 20 | 10, 1, "B2"}, {300, 0, "A3"}, {1u << 20 | 50, 0, "B4"}};
    g.labelCount = 5;
    for (uint32_t i = 0; i < 5; ++i) {
        g.labelPos[i] = labels[i].pos;
        g.labelFlags[i] = labels[i].flag;
        std::memset(g.labelVars[i], int(i + 1), sizeof g.labelVars[i]);
        std::strcpy(g.labelName[i], labels[i].name);
    }
    const struct {
        uint32_t pos;
        uint16_t label;
    } lines[] = {{150, 0}, {250, 1}, {350, 3}, {1u << 20 | 60, 4}};
    for (uint32_t i = 0; i < 4; ++i) {
        g.readLinePos[i] = lines[i].pos;
        g.readLineLabel[i] = lines[i].label;
    }
    g.readLineCount = 4;
    std::strcpy(g.scriptName, "old.txt");
}

TEST_F(StoryWindow, HistoryRestoreFindsTheRestartLabelAndRefusesWhatIsNotThere) {
    if (IsSkipped()) return;
    Raw({{"a.txt", "<wait>" + std::string(400, '\n')}, {"b.txt", "<wait>" + std::string(100, '\n')}});
    auto g = std::make_unique<GameState>();
    const struct {
        int32_t line;
        int8_t vars;
        uint32_t labels;
        const char *name, *script;
        uint32_t start, restart;
    } rows[] = {
        {0, 1, 1, "A0", "a.txt", 150, 100},   // a flagged label
        {1, 1, 1, "A0", "a.txt", 250, 100},   // an earlier flagged one in the same file
        {2, 4, 4, "A3", "a.txt", 350, 300},   // the earlier flagged one lies in another file
        {-1, 3, 3, "B2", "b.txt", 60, 10},    // the last line
    };
    for (const auto& r : rows) {
        std::memset(static_cast<void*>(g.get()), 0, sizeof *g);
        History(*g);
        ASSERT_TRUE(GSL_StoryRestoreHistory(r.line, g.get())) << r.line;
        EXPECT_EQ(g->gameVars[0], r.vars) << r.line;
        EXPECT_EQ(g->gameVars[23], r.vars) << r.line;
        EXPECT_EQ(g->labelCount, r.labels) << r.line;
        EXPECT_STREQ(g->stage.name, r.name) << r.line;
        EXPECT_STREQ(g->scriptName, r.script) << r.line;
        EXPECT_EQ(g->startOffset, r.start) << r.line;
        EXPECT_EQ(g->restartOffset, r.restart) << r.line;
        EXPECT_EQ(g->readLineCount, uint32_t(r.line < 0 ? 3 : r.line)) << r.line;
    }

    // A label name from a save without its terminator.
    std::memset(static_cast<void*>(g.get()), 0, sizeof *g);
    History(*g);
    std::memset(g->labelName[0], 'N', sizeof g->labelName[0]);
    ASSERT_TRUE(GSL_StoryRestoreHistory(0, g.get()));
    EXPECT_EQ(std::string(g->stage.name), std::string(63, 'N'));

    // Each guard leaves the block as it was.
    const std::vector<std::pair<const char*, void (*)(GameState&, int32_t&)>> guards = {
        {"empty history", [](GameState& s, int32_t& n) { s.readLineCount = 0, n = -1; }},
        {"line beyond the count", [](GameState&, int32_t& n) { n = 4; }},
        {"count beyond the table", [](GameState& s, int32_t& n) { s.readLineCount = 20000, n = -1; }},
        {"label beyond the count", [](GameState& s, int32_t& n) { s.readLineLabel[1] = 5, n = 1; }},
        {"label beyond the table", [](GameState& s, int32_t& n) { s.labelCount = 1000, s.readLineLabel[1] = 450, n = 1; }},
        {"file beyond the container", [](GameState& s, int32_t& n) { s.readLinePos[1] = 7u << 20 | 5, n = 1; }},
        // A line or label a load could not place lies past its file's end.
        {"line past its file", [](GameState& s, int32_t& n) { s.readLinePos[1] = 0xFFFFF, n = 1; }},
        {"label past its file", [](GameState& s, int32_t& n) { s.labelPos[0] = 0xFFFFF, n = 1; }},
        {"line at its file's end", [](GameState& s, int32_t& n) { s.readLinePos[1] = 406, n = 1; }},
        {"label at its file's end", [](GameState& s, int32_t& n) { s.labelPos[0] = 406, n = 1; }},
    };
    auto before = std::make_unique<GameState>();
    for (const auto& [what, spoil] : guards) {
        std::memset(static_cast<void*>(g.get()), 0, sizeof *g);
        History(*g);
        int32_t n = 0;
        spoil(*g, n);
        std::memcpy(static_cast<void*>(before.get()), g.get(), sizeof *g);
        EXPECT_FALSE(GSL_StoryRestoreHistory(n, g.get())) << what;
        EXPECT_EQ(std::memcmp(before.get(), g.get(), sizeof *g), 0) << what;
    }
}

TEST_F(StoryWindow, SoundPauseHoldsLoopsAndVoicesStopsOneShotsAndResumesExactlyThose) {
    if (IsSkipped()) return;
    SoundChannel& loop = SoundSlot(3, 3, SOUND_PLAYING);
    loop.st.repeat.store(-1);
    SoundChannel& once = SoundSlot(4, 4, SOUND_PLAYING);
    once.st.repeat.store(0);
    SoundChannel& held = SoundSlot(5, 5, SOUND_PAUSED);  // paused already: left alone
    held.st.pause.store(SOUND_PAUSE_REQUEST);
    SoundChannel& voice = SoundSlot(11, 11, SOUND_PLAYING);
    SoundChannel& quiet = SoundSlot(12, 12, SOUND_PAUSED);
    quiet.st.pause.store(SOUND_PAUSE_REQUEST);
    GSL_StoryReleaseChannels(1);
    EXPECT_EQ(loop.st.pause.load(), SOUND_PAUSE_REQUEST);
    EXPECT_EQ(once.st.pause.load(), 0);
    EXPECT_EQ(once.st.fadeOutFrames.load(), 16u);
    EXPECT_TRUE(once.st.flags.load() & SOUND_RELEASE_REQUEST);
    EXPECT_EQ(Story()->sounds[4].handle, -1);
    EXPECT_EQ(voice.st.pause.load(), SOUND_PAUSE_REQUEST);
    GSL_StoryReleaseChannels(0);
    EXPECT_EQ(loop.st.pause.load(), 0);
    EXPECT_EQ(voice.st.pause.load(), 0);
    EXPECT_EQ(held.st.pause.load(), SOUND_PAUSE_REQUEST);
    EXPECT_EQ(quiet.st.pause.load(), SOUND_PAUSE_REQUEST);
    EXPECT_EQ(once.st.pause.load(), 0);
}

TEST_F(StoryWindow, SlidingOutAndInGivesEachLayerItsOwnAlphaBack) {
    if (IsSkipped()) return;
    SpriteRecord* layers[5];
    for (int32_t i = 0; i < 5; ++i) {
        layers[i] = &LayerSprite(25 + uint32_t(i), SPRITE_IN_USE | SPRITE_READY, 64, 64);
        layers[i]->color = uint32_t(0x20 * (i + 1)) << 24 | 0xFFFFFFu;
        layers[i]->posY = -200.0f;
    }
    GSL_StorySlideWindow(-720, 8, 2);
    Frame(12);
    // Out again while out: the store keeps the alphas of the first slide.
    GSL_StorySlideWindow(-720, 8, 2);
    Frame(12);
    GSL_StorySlideWindow(1440, 0, 0);
    for (SpriteRecord* s : layers) EXPECT_EQ(s->color >> 24, 0u);
    GSL_StorySlideWindow(-720, 0, 0);
    GSL_StorySlideWindow(720, 8, 2);
    Frame(12);
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(layers[i]->color >> 24, uint32_t(0x20 * (i + 1))) << i;
        EXPECT_FLOAT_EQ(layers[i]->posY, -200.0f) << i;
    }
}

TEST_F(StoryWindow, TheIconFollowsThePlayModeWithItsSounds) {
    if (IsSkipped()) return;
    SpriteRecord& sheet = LayerSprite(31, SPRITE_IN_USE | SPRITE_READY, 1296, 992);
    ScreenWork* story = Story();
    const struct {
        uint32_t mode;
        const char* sound;
        int32_t index;  // -1: no icon
    } rows[] = {{1, "son.wav", 10}, {5, "son.wav", 11}, {4, "soff.wav", 9}, {0, "soff.wav", -1}};
    for (const auto& r : rows) {
        StoryPlayMode = r.mode;
        SystemSeRotation = 0;
        GSL_StoryIconUpdate();
        EXPECT_STREQ(SoundChannelTable[19].st.path, r.sound) << r.mode;
        GSL_StoryIconUpdate();  // no change: nothing more
        EXPECT_EQ(SystemSeRotation, 1) << r.mode;
        if (r.index < 0) {
            EXPECT_EQ(int32_t(story->words[STORY_ICON]), -1);
            EXPECT_EQ(sheet.visible, 0);
            continue;
        }
        LayoutRect rect{};
        GSL_LayoutGetRect(&rect, 5, r.index);
        Frame();
        EXPECT_EQ(sheet.srcRect[2], rect.width) << r.mode;
        EXPECT_EQ(sheet.visible, 1);
        EXPECT_EQ(sheet.priority, 402);
        const float start = float(-640 - rect.width / 2);
        EXPECT_NEAR(sheet.posX, start, 1.0f) << r.mode;
        EXPECT_FLOAT_EQ(sheet.posY, float((720 - rect.height) / 2)) << r.mode;
        Frame(31);
        EXPECT_FLOAT_EQ(sheet.posX, start + float(rect.width + 11)) << r.mode;
        EXPECT_EQ(int32_t(story->words[STORY_ICON]), -1) << r.mode;  // done; the icon stays
    }
    Lib_SoundReset();
}

TEST_F(StoryWindow, TheGuideGoesWhenAModeStartsOrAfterItsTime) {
    if (IsSkipped()) return;
    ModeStack[0] = GSL_StoryModeCB;
    auto guideSprites = [] {
        int n = 0;
        for (const SpriteRecord& s : SpriteTable) n += (s.flags & SPRITE_IN_USE) && s.priority == 403;
        return n;
    };
    GSL_StoryGuideStart();
    Frame();
    EXPECT_EQ(guideSprites(), 4);
    StoryPlayMode = 1;
    Frame();
    EXPECT_EQ(guideSprites(), 0);
    EXPECT_EQ(GuideTaskId, -1);
    StoryPlayMode = 0;
    GSL_StoryGuideStart();
    Frame(300);
    EXPECT_EQ(guideSprites(), 4);
    Frame(3);
    EXPECT_EQ(guideSprites(), 0);
    EXPECT_EQ(GuideTaskId, -1);
    ModeStack[0] = nullptr;
}
}  // namespace
