// A restore on the sample scenario with the real handlers: RestoreAt a read
// line gives the stage that running straight to it gave, inside a menu
// branch and during looping music and effects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/text/text_layout.h"
#include "script/choice_cmds.h"
#include "script/flow.h"
#include "script/message.h"
#include "script/replay.h"
#include "script/syntax.h"
#include "tests/engine/sound/sound_env.h"
#include "tests/script/markup_env.h"
#include "ui/engine_services.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

class SampleReplay : public MarkupEnv {
public:
    void SetUp() override {
        MarkupEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!SampleData()) GTEST_SKIP() << "sample data not built";
        FixedAdvances();
        const std::string out = "sample_script.arc";
        const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py script " VN_SOURCE_DIR
                                "/sample/base/script/script.arc " + out + " >/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        Cache(ReadAll(out));
        ASSERT_TRUE(MessageTables(ReadAll(VN_SOURCE_DIR "/sample/base/script/script_mes.mul.txt")));
        SystemDataBlock.textSpeed = 100;
        SystemDataBlock.musicVolume = SystemDataBlock.seVolume = SystemDataBlock.voiceVolume = 50;
        LayerSprite(31, SPRITE_IN_USE | SPRITE_READY, 1296, 992).captureEntry = -1;
        Handler(100, GSL_CommandEmpty);  // the movie has its own tests; a restore never plays it
        Handler(33, GSL_CommandEmpty);  // pictures too: this stage compares texts and sounds
    }
    void TearDown() override {
        InputButtons.pressed = 0;
        MarkupEnv::TearDown();
    }
    ModeFunction S() const { return GSL_ScreenOf(SCREEN_STORY); }
    // A frame as the program runs it: the texts laid out, the movie driven,
    // the effects' voices moved on by the mixer.
    void Step(uint32_t pressed = 0) {
        InputButtons.pressed = pressed;
        Frame();
        InputButtons.pressed = 0;
        for (uint32_t t = 0; t < 12; ++t) {
            const int32_t h = GSL_WorkTextGet(S(), t);
            if (h >= 0 && h < kTextSlots && TextTable[h]) Lib_TextDrawCB(uint64_t(uintptr_t(TextTable[h])));
        }
        Lib_MovieUpdate();
        for (int32_t c = 3; c <= 10; ++c) sound_test::FakeAudio::Advance(SoundChannelTable[c].voice, 8192);
    }
    bool AtLine(uint32_t n) {
        return GSL_ReadLineCount() == n + 1 && Work() && (Work()->script.status & SCRIPT_PLAYER_WAIT) &&
               !(MenuActiveFlag & 1u) && ReplayPhase == 0;
    }
    // Plays the sample to read line n, confirming each line and the movie,
    // taking choice `choice` at the menu.
    bool PlayTo(uint32_t n, int32_t choice) {
        for (int i = 0; i < 1500; ++i) {
            if (AtLine(n)) return true;
            if (MenuActiveFlag & 1u) {
                if (!ChooseMenu(choice)) return false;
                continue;
            }
            Step(i % 2 ? uint32_t(BUTTON_DECIDE) : 0u);
        }
        return false;
    }
    // What the stage shows: the texts, and what sounds in the music slots
    // (by name, whichever slot it took) and the effect banks.
    std::map<std::string, std::string> Table() {
        std::map<std::string, std::string> t;
        for (uint32_t i = 0; i <= kMessageLastText; ++i) {
            const int32_t h = GSL_WorkTextGet(S(), i);
            if (h >= 0 && TextTable[h]) t["text " + std::to_string(i)] = TextTable[h]->text;
        }
        for (uint32_t i = 0; i <= 10; ++i) {
            const SoundChannel* ch = Channel(S(), i);
            if (!ch || ch->st.state.load() != SOUND_PLAYING) continue;
            const std::string file = GSL_WorkGet(S())->sounds[i].file;
            if (i < 3) t["music " + file] = std::to_string(int(ch->st.volume.load()));
            else t["bank " + std::to_string(i - 3)] = file + " " + std::to_string(int(ch->st.volume.load()));
        }
        return t;
    }
    // The story context as a restore finds it: no texts, no sounds.
    void Clear() {
        for (uint32_t i = 0; i < 23; ++i) GSL_WorkSoundStop(S(), i, 0);
        for (uint32_t i = 0; i < 72; ++i) GSL_WorkTextFree(S(), i);
        for (int i = 0; i < 20; ++i) Step();
    }
};

}  // namespace

TEST_F(SampleReplay, ARestoredLineMatchesTheStraightRun) {
    // Read lines of the sample: 15 the rain line (looping music and rain), 16
    // the menu, 17 the line of its first branch.
    Start("00_init.txt");
    ASSERT_TRUE(PlayTo(15, 0)) << GSL_ReadLineCount();
    for (int i = 0; i < 40; ++i) Step();
    const auto rain = Table();
    EXPECT_EQ(rain.count("bank 1"), 1u);
    EXPECT_EQ(rain.count("music sound/bgm/quillmere.oggl"), 1u);
    ASSERT_TRUE(PlayTo(17, 0)) << GSL_ReadLineCount();
    for (int i = 0; i < 40; ++i) Step();
    const auto branch = Table();
    EXPECT_EQ(branch.count("bank 1"), 0u);
    EXPECT_EQ(GameStateBlock.choices[0][0], 0);

    const struct {
        uint32_t line;
        const std::map<std::string, std::string>* straight;
    } points[] = {{17, &branch}, {15, &rain}};  // each restore cuts the history back to its line
    for (const auto& p : points) {
        SCOPED_TRACE(p.line);
        Finish();
        Step();
        Clear();
        RestoreAt(int32_t(p.line));
        ASSERT_TRUE(PlayTo(p.line, 2));  // a menu on the way would take another branch
        for (int i = 0; i < 40; ++i) Step();
        EXPECT_EQ(Table(), *p.straight);
        EXPECT_FALSE(MenuActiveFlag & 1u);
    }
}
