// A restore on the sample scenario with the real handlers: RestoreAt a read
// line gives the stage that running straight to it gave, inside a menu
// branch and during looping music and effects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/text/text_layout.h"
#include "script/choice_cmds.h"
#include "script/flow.h"
#include "script/message.h"
#include "script/replay.h"
#include "script/script_report.h"
#include "script/syntax.h"
#include "story/story_window.h"
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

namespace {

namespace fs = std::filesystem;
using Texts = std::map<std::string, std::string>;  // the sample's UTF-8 sources by member name

// The sample's scripts saved on both roads and loaded with edited copies of
// them: the saves, the sources and the packed containers.
class SampleSavedScripts : public SampleReplay {
public:
    struct Save {
        std::string key;                  // the saved file, and the file it returns into
        std::unique_ptr<GameState> state; // what a save holds
        int32_t road = 0;                 // the option taken at every choice
    };
    struct Went {
        std::string err;                  // what stderr was told
        std::string on;                   // file:line of the first tag run after the restore
        std::vector<std::string> moves;   // file:line where the story came to each next file
        std::set<std::string> replayed;   // file:line of each tag the restore replayed
    };

    static Texts Sources() {
        Texts files;
        for (const auto& e : fs::directory_iterator(VN_SOURCE_DIR "/sample/base/script/script.arc"))
            files[e.path().filename().string()] = ReadAll(e.path().string());
        return files;
    }
    std::string Pack(const Texts& files) {
        const std::string dir = "edited_" + std::to_string(packs_++);
        fs::create_directories(dir + "/script.arc");
        for (const auto& [name, text] : files) std::ofstream(dir + "/script.arc/" + name, std::ios::binary) << text;
        const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py script " + dir + "/script.arc " + dir +
                                "/out.arc >/dev/null 2>&1";
        return std::system(cmd.c_str()) == 0 ? ReadAll(dir + "/out.arc") : std::string();
    }
    // The line (from 1) of a position's offset in its member of the cached container.
    static uint32_t LineOf(const std::string& file, uint32_t offset) {
        const char* text = nullptr;
        uint32_t size = 0, at = 0;
        const int32_t m = GSL_ScriptMemberIndex(file.c_str());
        if (m < 0 || !GSL_ScriptPositionText(GSL_ScriptPosition(m, offset), &text, &size, &at)) return 0;
        return uint32_t(std::count(text, text + at, '\n')) + 1;
    }
    static std::string MemberName(uint32_t position) {
        const char* name = GSL_ScriptMemberName(int32_t(position >> 20));
        return name ? name : "?";
    }
    // The newest label entry of the saved file with a return point, or -1.
    static int32_t Returning(const GameState& g, const std::string& file) {
        for (int32_t i = int32_t(g.labelCount) - 1; i >= 0; --i)
            if (MemberName(g.labelPos[i]) == file && g.labelReturn[i]) return i;
        return -1;
    }

    // Reads both roads from a new game, saving at the first line of each
    // file reached (a called file by the file it returns into).
    void SaveEach() {
        for (int32_t road : {0, 1}) {
            Finish();
            Step();
            GameStateBlock = *fresh_;
            Start("00_init.txt");
            uint32_t lines = 0;
            for (int i = 0; i < 20000 && Alive() && Work()->script.status != SCRIPT_ENDED; ++i) {
                if (MenuActiveFlag & 1u) {
                    ASSERT_TRUE(ChooseMenu(road));
                    continue;
                }
                if (AtLine(GSL_ReadLineCount() - 1) && GSL_ReadLineCount() != lines) {
                    lines = GSL_ReadLineCount();
                    const GameState& g = GameStateBlock;
                    const int32_t r = Returning(g, Work()->fileName);
                    const std::string key =
                        MemberName(g.labelPos[g.labelCount - 1]) + (r >= 0 ? " < " + MemberName(g.labelReturn[r]) : "");
                    bool known = false;
                    for (const Save& s : saves) known = known || s.key == key;
                    if (!known) {
                        Save s{key, std::make_unique<GameState>(g), road};
                        ASSERT_TRUE(GSL_StoryRestoreHistory(-1, s.state.get()));
                        saves.push_back(std::move(s));
                    }
                }
                Step(i % 2 ? uint32_t(BUTTON_DECIDE) : 0u);
            }
        }
    }

    // Loads a save with a container and plays on, taking the save's road,
    // until the story has come to two more files or ended.
    Went Load(const Save& save, const std::string& container) {
        Finish();
        Step();
        Cache(container);
        GSL_ScriptReportReset();
        GameStateBlock = *save.state;
        executed.clear();
        Went went;
        std::string file;
        testing::internal::CaptureStderr();
        Start(save.state->scriptName, save.state->startOffset, save.state->restartOffset);
        for (int i = 0; i < 6000 && Alive() && Work()->script.status != SCRIPT_ENDED && went.moves.size() < 2; ++i) {
            if (MenuActiveFlag & 1u) {
                if (!ChooseMenu(save.road)) break;
            } else {
                Step(i % 2 ? uint32_t(BUTTON_DECIDE) : 0u);
            }
            for (const Executed& e : executed) {
                const std::string where = e.file + ":" + std::to_string(LineOf(e.file, e.offset));
                if (e.status & SCRIPT_REPLAYING) went.replayed.insert(where);
                if (e.status & (SCRIPT_REPLAY_RUN | SCRIPT_REPLAYING)) continue;  // the restore's
                if (went.on.empty()) went.on = where;
                else if (e.file != file && went.moves.size() < 2) went.moves.push_back(where);
                file = e.file;
            }
            executed.clear();
        }
        went.err = testing::internal::GetCapturedStderr();
        return went;
    }

    void SetUp() override {
        SampleReplay::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        fresh_ = std::make_unique<GameState>(GameStateBlock);
        // These saves follow the story's files, not its stage: the tags
        // that wait for a drawn picture or a staff roll pass at once.
        for (int32_t index : {30, 31, 32, 34, 35, 37, 43, 44, 45, 46}) Handler(index, GSL_CommandEmpty);
    }
    std::vector<Save> saves;

private:
    std::unique_ptr<GameState> fresh_;
    int packs_ = 0;
};

// A line added above a line (from 1) of a source.
void AddLine(Texts& files, const std::string& file, uint32_t line, const std::string& text) {
    std::string& t = files[file];
    size_t at = 0;
    for (uint32_t l = 1; l < line && at != std::string::npos; ++l) at = t.find('\n', at) + 1;
    t.insert(at, text + "\n");
}

// file:line moved down by one line when it lies in file at or below line.
std::string Below(const std::string& where, const std::string& file, uint32_t line) {
    const size_t colon = where.rfind(':');
    const uint32_t n = uint32_t(std::stoul(where.substr(colon + 1)));
    return where.substr(0, colon) == file && n >= line ? file + ":" + std::to_string(n + 1) : where;
}

}  // namespace

// Saves at the first line of each file of both roads, loaded after each
// edit an author makes to the scripts: where the story goes on, the files
// it comes to next (its returns among them) and the one line told, against
// what the same save does with the files it was made with; the save itself
// stays as it was.
TEST_F(SampleSavedScripts, EachSaveGoesOnWhereItWasAfterTheScriptsChangeOrSaysWhyNot) {
    SaveEach();
    std::string keys;
    for (const Save& s : saves) keys += s.key + "; ";
    ASSERT_GE(saves.size(), 10u) << keys;
    const Texts sources = Sources();
    const std::string unedited = Pack(sources);
    ASSERT_FALSE(unedited.empty());
    // The files of the whole play: a file added in front of every other one,
    // and a copy of the wind road's ending in front (of the same shape), and
    // a label of 00_init.txt renamed (its later tags moved along its line).
    Texts added = sources, copied = sources, renamed = sources;
    added["00_added.txt"] = "*added\n<label>\n<text TEXT_1>\n<keywait 1>\n";
    copied["00_copy.txt"] = sources.at("route_wind.txt");
    const size_t branch = renamed["00_init.txt"].find("*branch\n");
    ASSERT_NE(branch, std::string::npos);
    renamed["00_init.txt"].replace(branch, 7, "*branch_renamed");
    Texts top = sources;
    AddLine(top, "00_init.txt", 1, "; a line at the top");
    const std::string addedArc = Pack(added), copiedArc = Pack(copied), renamedArc = Pack(renamed),
                      topArc = Pack(top);

    for (const Save& save : saves) {
        SCOPED_TRACE(save.key);
        Cache(unedited);
        const GameState& g = *save.state;
        const std::vector<uint8_t> stored(reinterpret_cast<const uint8_t*>(&g),
                                          reinterpret_cast<const uint8_t*>(&g) + sizeof g);
        const std::string file = g.scriptName;
        const uint32_t labelLine = LineOf(file, g.restartOffset), savedLine = LineOf(file, g.startOffset);
        const int32_t r = Returning(g, file);
        const std::string caller = r >= 0 ? MemberName(g.labelReturn[r]) : "";
        const uint32_t callLine = r >= 0 ? LineOf(caller, (g.labelReturn[r] & 0xFFFFFu) - 1) : 0;
        std::string label = sources.at(file);
        for (uint32_t l = 1; l + 1 < labelLine; ++l) label = label.substr(label.find('\n') + 1);
        label = label.substr(0, label.find('\n'));
        const Went base = Load(save, unedited);
        EXPECT_EQ(base.err, "");
        ASSERT_FALSE(base.on.empty());

        auto at = [&](uint32_t line) {
            return "vn: script " + file + ":" + std::to_string(line) + ": the save at " + label +
                   " was made with other script files; it goes on there, found by name";
        };
        auto near = [&](uint32_t line) {
            return "vn: script " + file + ":" + std::to_string(line) + ": the save near " + label +
                   " was made with other script files and " + file + " has changed since; it goes on from the saved "
                   "offset " + std::to_string(g.startOffset) + ", which may not be where it was\n";
        };
        // The story's places after an edit that added a line above line of file.
        auto moved = [&](const std::string& in, uint32_t line) {
            Went w = base;
            w.on = Below(w.on, in, line);
            for (std::string& m : w.moves) m = Below(m, in, line);
            w.replayed.clear();
            for (const std::string& m : base.replayed) w.replayed.insert(Below(m, in, line));
            return w;
        };
        struct Case {
            const char* what;
            std::string container;
            std::string err;
            Went expected;
            bool placesKnown = true;
        };
        std::vector<Case> cases;
        {
            Texts above = sources;
            AddLine(above, file, savedLine, "; a line above the saved one");
            Went w = moved(file, savedLine);
            cases.push_back({"a line above the saved one", Pack(above), near(labelLine - 1), w});
        }
        if (!caller.empty()) {
            Texts above = sources;
            AddLine(above, caller, callLine, "; a line above the call");
            cases.push_back({"a line above the caller's call", Pack(above), at(labelLine) + "\n",
                             moved(caller, callLine)});
        }
        if (file == "00_init.txt")
            cases.push_back({"a line at the top of 00_init.txt", topArc, near(labelLine), base, false});
        else
            cases.push_back({"a line at the top of 00_init.txt", topArc, at(labelLine) + "\n", moved("00_init.txt", 1)});
        cases.push_back({"a file added in front", addedArc, at(labelLine) + "\n", base});
        if (file == "ending.txt" && caller == "route_wind.txt") {
            Went ends = base;
            ends.moves.clear();
            cases.push_back({"a file of the same shape added in front", copiedArc,
                             at(labelLine) + ", but ending.txt returns into a file that cannot be told apart from "
                                             "another, so the story ends at that return\n",
                             ends});
        } else {
            cases.push_back({"a file of the same shape added in front", copiedArc, at(labelLine) + "\n", base});
        }
        // Positions of 00_init.txt from *branch on moved: told by a save that
        // passed it.
        bool passed = false;
        for (uint32_t i = 0; i < g.labelCount; ++i)
            passed = passed || (MemberName(g.labelPos[i]) == "00_init.txt" && LineOf("00_init.txt", g.labelPos[i] & 0xFFFFFu) > 69);
        if (file == "00_init.txt" && passed)
            cases.push_back({"a label renamed", renamedArc, near(labelLine - 1), base, false});
        else
            cases.push_back({"a label renamed", renamedArc, passed ? at(labelLine) + "\n" : "", base});
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            ASSERT_FALSE(c.container.empty());
            const Went went = Load(save, c.container);
            EXPECT_EQ(went.err, c.err);
            if (c.placesKnown) {
                EXPECT_EQ(went.on, c.expected.on);
                EXPECT_EQ(went.moves, c.expected.moves);
            }
            // A tag of a file that changed may go unreplayed; none that the
            // save did not replay is replayed (unless the saved file itself
            // changed where it was saved).
            if (c.placesKnown) {
                for (const std::string& tag : went.replayed) EXPECT_EQ(c.expected.replayed.count(tag), 1u) << tag;
            }
        }
        EXPECT_EQ(std::memcmp(stored.data(), save.state.get(), stored.size()), 0) << "the save changed";
    }
}
