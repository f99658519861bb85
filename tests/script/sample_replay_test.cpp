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
#include "script/saved_position.h"
#include "script/script_host.h"
#include "script/script_report.h"
#include "script/syntax.h"
#include "story/quick_save.h"
#include "story/story_window.h"
#include "tests/engine/sound/sound_env.h"
#include "tests/script/markup_env.h"
#include "tests/script/script_packer.h"
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
        // process-wide: the sample's container, packed once
        static const std::string sample =
            script_packer::Pack(VN_SOURCE_DIR "/sample/base/script/script.arc", "sample_script.arc");
        ASSERT_FALSE(sample.empty());
        Cache(sample);
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
        // The text drawing's record is not read here: kept to one frame, it
        // does not grow over the thousands of frames of a test.
        text_env::passes.clear();
        text_env::scissors.clear();
        text_env::released.clear();
        text_env::events.clear();
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
        std::vector<uint8_t> record;      // the record of its script files
        std::set<std::string> files;      // the files its histories name
        bool first = false;               // the first save of its file and caller
    };
    struct Went {
        std::string err;                  // what stderr was told
        std::string on;                   // file:line of the first tag run after the restore
        std::vector<std::string> moves;   // file:line where the story came to each next file
        std::set<std::string> replayed;   // file:line of each tag the restore replayed
        bool systemKept = true;           // read marks and seen choices as they were at the first wait
        std::string jumpOff;              // a read line whose jump back starts at no tag of its file
    };
    // The first read line of the live history a jump back would start at a
    // place that is no tag of its file, or "".
    static std::string JumpOff() {
        auto copy = std::make_unique<GameState>();
        for (uint32_t j = 0; j < GameStateBlock.readLineCount; ++j) {
            *copy = GameStateBlock;
            if (!GSL_StoryRestoreHistory(int32_t(j), copy.get())) continue;
            const int32_t m = GSL_ScriptMemberIndex(copy->scriptName);
            const char* text = nullptr;
            uint32_t size = 0, at = 0;
            if (m < 0 || !GSL_ScriptPositionText(GSL_ScriptPosition(m, copy->startOffset), &text, &size, &at) ||
                copy->startOffset >= size || text[copy->startOffset] != '<')
                return "read line " + std::to_string(j);
        }
        return "";
    }

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
        return script_packer::Pack(dir + "/script.arc", dir + "/out.arc");
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

    // Reads both roads from a new game, saving at the first line read behind
    // each label a load restarts from, in each file reached (a called file by
    // the file it returns into).
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
                    auto state = std::make_unique<GameState>(g);
                    ASSERT_TRUE(GSL_StoryRestoreHistory(-1, state.get()));
                    bool known = false, fileKnown = false;
                    for (const Save& s : saves) {
                        fileKnown = fileKnown || s.key == key;
                        known = known || (s.key == key && s.state->restartOffset == state->restartOffset);
                    }
                    if (!known) {
                        Save s{key, std::move(state), road};
                        s.first = !fileKnown;
                        const uint8_t* record = nullptr;
                        const uint32_t size = GSL_SavedScriptsMake(*s.state, &record);
                        s.record.assign(record, record + size);
                        for (uint32_t j = 0; j < s.state->labelCount; ++j) {
                            s.files.insert(MemberName(s.state->labelPos[j]));
                            if (s.state->labelReturn[j]) s.files.insert(MemberName(s.state->labelReturn[j]));
                        }
                        for (uint32_t j = 0; j <= s.state->readLineCount; ++j)
                            s.files.insert(MemberName(s.state->readLinePos[j]));
                        saves.push_back(std::move(s));
                    }
                }
                Step(i % 2 ? uint32_t(BUTTON_DECIDE) : 0u);
            }
        }
    }

    // Loads a save with a container (with or without its record) and plays on, taking the save's road, until the
    // story has come to two more files or ended. The player has read nothing
    // and seen no choice.
    // With loaded false, a jump back of the backlog: no load is under way.
    Went Load(const Save& save, const std::string& container, bool recorded = true, bool loaded = true) {
        Finish();
        Step();
        Cache(container);
        GSL_ScriptReportReset();
        GameStateBlock = *save.state;
        if (loaded)
            GSL_SavedScriptsLoaded(recorded ? save.record.data() : nullptr,
                                   recorded ? uint32_t(save.record.size()) : 0);
        executed.clear();
        Went went;
        std::string file;
        const SystemData system = SystemDataBlock;
        std::memset(SystemDataBlock.readText, 0, sizeof SystemDataBlock.readText);
        std::memset(SystemDataBlock.choiceSeen, 0, sizeof SystemDataBlock.choiceSeen);
        const SystemData unread = SystemDataBlock;
        bool waited = false;
        testing::internal::CaptureStderr();
        Start(save.state->scriptName, save.state->startOffset, save.state->restartOffset);
        for (int i = 0; i < 6000 && Alive() && Work()->script.status != SCRIPT_ENDED && went.moves.size() < 2; ++i) {
            if (!waited && (Work()->script.status & SCRIPT_PLAYER_WAIT) && ReplayPhase == 0) {
                waited = true;
                const SystemData& d = SystemDataBlock;
                went.jumpOff = JumpOff();
                went.systemKept = std::memcmp(d.readText, unread.readText, sizeof d.readText) == 0 &&
                                  std::memcmp(d.choiceSeen, unread.choiceSeen, sizeof d.choiceSeen) == 0 &&
                                  std::memcmp(d.systemVars, unread.systemVars, sizeof d.systemVars) == 0;
            }
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
        SystemDataBlock = system;
        return went;
    }

    void SetUp() override {
        SampleReplay::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        fresh_ = std::make_unique<GameState>(GameStateBlock);
        // These saves follow the story's files, not its stage: the tags
        // that wait for a drawn picture or a staff roll pass at once.
        // A scene that goes on from its label neither plays its voices nor
        // waits for its sounds. Music and sounds are not played either:
        // decoding them was most of the time of these loads, and the
        // restore tests above hear them.
        for (int32_t index : {13, 30, 31, 32, 34, 35, 37, 43, 44, 45, 46, 101, 102, 103, 104, 105})
            Handler(index, GSL_CommandEmpty);
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

// Lines first to first + count - 1 (from 1) of a source taken out; with
// count 0, the source cut short before line first.
void TakeLines(Texts& files, const std::string& file, uint32_t first, uint32_t count) {
    std::string& t = files[file];
    size_t from = 0;
    for (uint32_t l = 1; l < first; ++l) from = t.find('\n', from) + 1;
    if (count == 0) {
        t.erase(from);
        return;
    }
    size_t to = from;
    for (uint32_t l = 0; l < count; ++l) to = t.find('\n', to) + 1;
    t.erase(from, to - from);
}

// The line (from 1) of a source.
std::string LineText(const Texts& files, const std::string& file, uint32_t line) {
    std::string t = files.at(file);
    for (uint32_t l = 1; l < line; ++l) t = t.substr(t.find('\n') + 1);
    return t.substr(0, t.find('\n'));
}

// file:line moved by `by` lines when it lies in file at or below line.
std::string Below(const std::string& where, const std::string& file, uint32_t line, int by = 1) {
    const size_t colon = where.rfind(':');
    const uint32_t n = uint32_t(std::stoul(where.substr(colon + 1)));
    return where.substr(0, colon) == file && n >= line ? file + ":" + std::to_string(int(n) + by) : where;
}

}  // namespace

// Saves at the first line of each file of both roads, loaded after each
// edit an update makes to the scripts: where the story goes on (the saved
// line, or its label when told), the files it comes to next (its returns
// among them), the one line told, the read marks and seen choices untouched
// until the first wait, against what the same save does with the files it
// was made with; the save and its record stay as they were. The same saves
// without their record go on where they place themselves, told, giving up
// only a place shown wrong.
TEST_F(SampleSavedScripts, EachSaveGoesOnWhereItWasAfterTheScriptsChangeOrSaysWhyNot) {
    SaveEach();
    std::string keys;
    for (const Save& s : saves) keys += s.key + "; ";
    ASSERT_GE(saves.size(), 10u) << keys;
    const Texts sources = Sources();
    const std::string unedited = Pack(sources);
    ASSERT_FALSE(unedited.empty());
    // The files of the whole play: a file added in front of every other one,
    // a copy of the wind road in front (a second road of the same template),
    // a label of 00_init.txt renamed (its later tags moved along its line), a
    // line at the top of 00_init.txt, of each road, and of story.txt (whose
    // choice jumps on into a road).
    Texts added = sources, copied = sources, renamed = sources, top = sources, roads = sources, jumped = sources;
    added["00_added.txt"] = "*added\n<label>\n<text TEXT_1>\n<keywait 1>\n";
    copied["00_copy.txt"] = sources.at("route_wind.txt");
    const size_t branch = renamed["00_init.txt"].find("*branch\n");
    ASSERT_NE(branch, std::string::npos);
    renamed["00_init.txt"].replace(branch, 7, "*branch_renamed");
    AddLine(top, "00_init.txt", 1, "; a line at the top");
    AddLine(roads, "route_books.txt", 1, "; a line at the top");
    AddLine(roads, "route_wind.txt", 1, "; a line at the top");
    AddLine(jumped, "story.txt", 1, "; a line at the top");
    Texts among = sources, less = sources;
    among["epilogue.txt"] = added["00_added.txt"];
    less.erase("pict.txt");
    const std::string amongArc = Pack(among), lessArc = Pack(less);
    const std::string addedArc = Pack(added), copiedArc = Pack(copied), renamedArc = Pack(renamed),
                      topArc = Pack(top), roadsArc = Pack(roads), jumpedArc = Pack(jumped);

    for (const Save& save : saves) {
        SCOPED_TRACE(save.key);
        Cache(unedited);
        const GameState& g = *save.state;
        const std::vector<uint8_t> stored(reinterpret_cast<const uint8_t*>(&g),
                                          reinterpret_cast<const uint8_t*>(&g) + sizeof g);
        const std::vector<uint8_t> record = save.record;
        ASSERT_FALSE(record.empty());
        const std::string file = g.scriptName;
        const uint32_t labelLine = LineOf(file, g.restartOffset), savedLine = LineOf(file, g.startOffset);
        ASSERT_GT(savedLine, labelLine);
        const int32_t r = Returning(g, file);
        const std::string caller = r >= 0 ? MemberName(g.labelReturn[r]) : "";
        const uint32_t callLine = r >= 0 ? LineOf(caller, (g.labelReturn[r] & 0xFFFFFu) - 1) : 0;
        const std::string label = LineText(sources, file, labelLine - 1);
        const Went base = Load(save, unedited);
        EXPECT_EQ(base.err, "");
        EXPECT_EQ(base.on, file + ":" + std::to_string(savedLine));
        EXPECT_TRUE(base.systemKept);
        std::string back;  // where the story comes back into the caller
        for (const std::string& m : base.moves)
            if (back.empty() && !caller.empty() && m.rfind(caller + ":", 0) == 0) back = m;

        // The one line of a save found by name, its label at line.
        auto at = [&](uint32_t line) {
            return "vn: script " + file + ":" + std::to_string(line) + ": the save at " + label +
                   " was made with other script files; it goes on there, found by name";
        };
        // The one line of a save that goes on from its label at line.
        auto from = [&](uint32_t line) {
            return "vn: script " + file + ":" + std::to_string(line) + ": the save at " + label +
                   " was made with other script files and " + file + " has changed between " + label +
                   " and the saved line; it goes on from " + label + "\n";
        };
        // The story's places after an edit that moved the lines of `in` at
        // or below line by `by`.
        auto moved = [&](const std::string& in, uint32_t line, int by = 1) {
            Went w = base;
            w.on = Below(w.on, in, line, by);
            for (std::string& m : w.moves) m = Below(m, in, line, by);
            w.replayed.clear();
            for (const std::string& m : base.replayed) w.replayed.insert(Below(m, in, line, by));
            return w;
        };
        // The first tag behind the label in an edited source: where a scene
        // that goes on from its label goes on.
        auto behindLabel = [&](const Texts& files) {
            uint32_t l = labelLine + 1;
            while (LineText(files, file, l).rfind('<', 0) != 0) ++l;
            return file + ":" + std::to_string(l);
        };
        struct Case {
            const char* what;
            std::string container;
            std::string err;
            Went expected;
            bool placesKnown = true;
            std::string on;  // where a scene told to go on from its label goes on
            std::string back = "";  // where it comes back into the caller, when not where the save does
        };
        std::vector<Case> cases;
        // Edits between the label and the saved line: the scene again from
        // its label, and its return where it was.
        {
            Texts above = sources;
            AddLine(above, file, savedLine, "; a line above the saved one");
            cases.push_back({"a line added above the saved one", Pack(above), from(labelLine), base, false,
                             behindLabel(above)});
            if (savedLine > labelLine + 1) {
                Texts out = sources;
                TakeLines(out, file, savedLine - 1, 1);
                cases.push_back({"the line above the saved one taken out", Pack(out), from(labelLine), base, false,
                                 behindLabel(out)});
            }
            Texts cut = sources;
            TakeLines(cut, file, savedLine, 0);
            cases.push_back({"the saved file cut short of the saved line", Pack(cut), from(labelLine), base, false,
                             behindLabel(cut)});
        }
        // Edits above the label: the same lines, found behind it by name.
        {
            Texts above = sources;
            for (int k = 0; k < 3; ++k) AddLine(above, file, 1, "; a header line");
            cases.push_back({"three lines added at the top of the saved file", Pack(above), at(labelLine + 3) + "\n",
                             moved(file, 1, 3)});
            const uint32_t header = std::min<uint32_t>(6, labelLine - 2);
            if (header > 0) {
                Texts out = sources;
                TakeLines(out, file, 1, header);
                cases.push_back({"header lines taken out of the saved file", Pack(out),
                                 at(labelLine - header) + "\n", moved(file, header + 1, -int(header))});
            }
        }
        // The edits of other files, once for each file and caller.
        if (!caller.empty() && save.first) {
            Texts above = sources;
            AddLine(above, caller, callLine, "; a line above the call");
            cases.push_back({"a line above the caller's call", Pack(above), at(labelLine) + "\n",
                             moved(caller, callLine)});
            Texts twice = sources;
            AddLine(twice, caller, callLine, LineText(sources, caller, callLine));
            // The return's own lines still follow the caller's label: it
            // stands behind the first of the two calls.
            cases.push_back({"the caller calls the scene twice", Pack(twice), at(labelLine) + "\n", base, false,
                             base.on, back.empty() ? "" : caller + ":" + std::to_string(callLine + 1)});
        }
        // Edits of other files, each told when the save names the file.
        const auto told = [&](std::initializer_list<const char*> edited, uint32_t line) {
            bool named = false;
            for (const char* e : edited) named = named || save.files.count(e);
            return named ? at(line) + "\n" : std::string();
        };
        const bool initSaved = file == "00_init.txt";
        if (save.first) {
            cases.push_back({"a line at the top of 00_init.txt", topArc,
                             told({"00_init.txt"}, labelLine + initSaved), moved("00_init.txt", 1)});
            {
                Went w = moved("route_books.txt", 1);
                for (std::string& m : w.moves) m = Below(m, "route_wind.txt", 1);
                w.on = Below(w.on, "route_wind.txt", 1);
                std::set<std::string> replayed;
                for (const std::string& m : w.replayed) replayed.insert(Below(m, "route_wind.txt", 1));
                w.replayed = replayed;
                const bool road = file == "route_books.txt" || file == "route_wind.txt";
                cases.push_back({"a line at the top of each road", roadsArc,
                                 told({"route_books.txt", "route_wind.txt"}, labelLine + road), w});
            }
            cases.push_back({"a line at the top of the file that jumped on", jumpedArc,
                             told({"story.txt"}, labelLine + (file == "story.txt")), moved("story.txt", 1)});
            cases.push_back({"a file added in front", addedArc, at(labelLine) + "\n", base});
            cases.push_back(
                {"a second road of the same template added in front", copiedArc, at(labelLine) + "\n", base});
            // The renamed label's positions are lost: the saves that name it are
            // told, and none that goes on there was saved under it.
            cases.push_back(
                {"a label renamed", renamedArc, told({"00_init.txt"}, labelLine), base, label != "*branch"});
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            ASSERT_FALSE(c.container.empty());
            const Went went = Load(save, c.container);
            EXPECT_EQ(went.err, c.err);
            EXPECT_EQ(went.jumpOff, "") << "a jump back to a place the load could not place";
            if (c.placesKnown) {
                EXPECT_EQ(went.on, c.expected.on);
                EXPECT_EQ(went.moves, c.expected.moves);
                EXPECT_TRUE(went.systemKept);
                // A tag of a file that changed may go unreplayed; none that
                // the save did not replay is replayed.
                for (const std::string& tag : went.replayed) EXPECT_EQ(c.expected.replayed.count(tag), 1u) << tag;
            } else if (!c.on.empty()) {
                EXPECT_EQ(went.on, c.on);
                const std::string& returned = c.back.empty() ? back : c.back;
                if (!returned.empty()) {
                    EXPECT_NE(std::find(went.moves.begin(), went.moves.end(), returned), went.moves.end())
                        << "the return";
                }
            } else {
                for (const std::string& m : went.moves) EXPECT_NE(m.rfind(caller + ":", 0), 0u) << m;
            }
        }
        // Without the record (none beside the slot, or another save's): the
        // save goes on where it places itself, told in one line, and only a
        // place shown wrong is given up: a saved line that is no tag goes on
        // from its label, a return point behind no tag ends the story there.
        {
            const std::string none = "vn: script " + file + ":" + std::to_string(labelLine) + ": the save at " +
                                     label + " has no record of its script files";
            struct Bare {
                const char* what;
                const std::string* container;
                std::string err;
                std::string on;
                bool returns;
                bool errStarts = false;  // more may follow: a later call of the file taken out
            };
            std::vector<Bare> bare = {
                {"the same files", &unedited, none + "; it goes on where the save places it\n", base.on, true},
                {cases[0].what, &cases[0].container,
                 none + ", and its line is no tag of " + file + "; it goes on from " + label + "\n", cases[0].on,
                 true}};
            for (const Case& c : cases)
                if (std::string(c.what) == "a line above the caller's call")
                    bare.push_back({c.what, &c.container,
                                    none + "; it goes on where the save places it, but " + file + " returns behind "
                                        "a call of it that the script files do not hold where the save places it, "
                                        "so the story ends at that return\n",
                                    base.on, false});
            // The file numbers moved: a file added in front, one added among
            // them (in front of some saved files and behind others), one the
            // story left taken out. Each save goes on at its line and returns
            // behind its call.
            const std::string same = none + "; it goes on where the save places it\n";
            bare.push_back({"a file added in front", &addedArc, same, base.on, true});
            bare.push_back({"a file added among them", &amongArc, same, base.on, true});
            bool inPict = base.on.rfind("pict.txt:", 0) == 0;
            for (const std::string& m : base.moves) inPict = inPict || m.rfind("pict.txt:", 0) == 0;
            if (!inPict) bare.push_back({"a file the story left taken out", &lessArc, same, base.on, true, true});
            for (const Bare& c : bare) {
                SCOPED_TRACE(std::string("without the record: ") + c.what);
                const Went went = Load(save, *c.container, false);
                EXPECT_EQ(c.errStarts ? went.err.substr(0, c.err.size()) : went.err, c.err);
                EXPECT_EQ(went.jumpOff, "") << "a jump back to a place the load could not place";
                EXPECT_EQ(went.on, c.on);
                if (c.returns && !back.empty()) {
                    EXPECT_NE(std::find(went.moves.begin(), went.moves.end(), back), went.moves.end()) << "the return";
                }
                if (!c.returns) {
                    for (const std::string& m : went.moves) EXPECT_NE(m.rfind(caller + ":", 0), 0u) << m;
                }
                if (c.container != &unedited && c.returns && !back.empty()) {
                    ASSERT_FALSE(went.moves.empty());
                    EXPECT_EQ(went.moves[0], base.moves[0]);
                }
                if (c.container == &unedited) {
                    EXPECT_EQ(went.moves, base.moves);
                    EXPECT_TRUE(went.systemKept);
                }
            }
        }
        EXPECT_EQ(std::memcmp(stored.data(), save.state.get(), stored.size()), 0) << "the save changed";
        EXPECT_EQ(record, save.record) << "the record changed";
    }
}

// A long play keeps its place: 450 labels passed, then lines read past the
// read-line history's 16,000, each saved by the slot save and the quick save
// in every play mode, loaded with and without its record, and jumped back to.
TEST_F(SampleSavedScripts, ALongPlayGoesOnAtItsLineHoweverManyLabelsAndLinesItPassed) {
    std::string many = "*many\n<label>\n";
    for (int i = 0; i < 450; ++i) many += "*l" + std::to_string(i) + "\n<label>\n";
    std::string big = "*big\n<label>\n";
    for (int i = 0; i < 12; ++i) big += "<text TEXT_1>\n<keywait " + std::to_string(i) + ">\n";
    const std::string arc = Pack({{"00_init.txt", "*top\n<label>\n<call many>\n<call scene4>\n<call big>\n"
                                                  "<text TEXT_3>\n<keywait 505>\n"},
                                  {"many.txt", many + "<return>\n"},
                                  {"scene4.txt", "*after\n<label>\n<text TEXT_1>\n<keywait 503>\n<text TEXT_2>\n"
                                                 "<keywait 504>\n<return>\n"},
                                  {"big.txt", big + "<return>\n"}});
    ASSERT_FALSE(arc.empty());
    // Lines read before this chapter: the history holds 15,990 of them.
    constexpr uint32_t kBefore = 15990;
    const auto fresh = std::make_unique<GameState>(GameStateBlock);
    struct Point {
        uint32_t line;     // read lines before it
        std::string on;    // where it goes on
        std::string back;  // where its file returns to
        std::string label;
    } points[] = {{kBefore, "scene4.txt:4", "00_init.txt:5", "*after"},
                  {kBefore + 2 + 9, "big.txt:22", "00_init.txt:6", "*big"}};
    for (uint32_t mode : {0u, uint32_t(PLAY_SKIP), uint32_t(PLAY_AUTO)}) {
        for (int quick = 0; quick < 2; ++quick) {
            SCOPED_TRACE("mode " + std::to_string(mode) + (quick ? ", the quick save" : ", a slot save"));
            Finish();
            Step();
            Cache(arc);
            GameStateBlock = *fresh;
            GameStateBlock.readLineCount = kBefore;
            for (uint32_t j = 0; j < kBefore; ++j)  // each at 00_init.txt's <label>, under its label
                GameStateBlock.readLinePos[j] = GSL_ScriptPosition(GSL_ScriptMemberIndex("00_init.txt"), 6);
            StoryPlayMode = mode;
            Start("00_init.txt");
            std::vector<Save> made;
            GameState live{};
            for (int i = 0; i < 20000 && made.size() < std::size(points); ++i) {
                const Point& p = points[made.size()];
                const uint32_t count = GSL_ReadLineCount();
                const uint32_t newest = count ? GameStateBlock.readLinePos[count - 1] : 0;
                const std::string name = MemberName(newest);
                if (count && name + ":" + std::to_string(LineOf(name, newest & 0xFFFFFu)) == p.on) {
                    Save s{p.on};
                    if (quick) {
                        const int32_t guard = SaveQuickGDGuard;
                        SaveQuickGDGuard = 0;  // no writer: the slot's bytes are what is read
                        GSL_QuickSaveNow();
                        SaveQuickGDGuard = guard;
                        s.state = std::make_unique<GameState>(QuickDataCache);
                    } else {
                        s.state = std::make_unique<GameState>(GameStateBlock);
                        ASSERT_TRUE(GSL_StoryRestoreHistory(-1, s.state.get()));
                    }
                    const uint8_t* record = nullptr;
                    const uint32_t size = GSL_SavedScriptsMake(*s.state, &record);
                    s.record.assign(record, record + size);
                    made.push_back(std::move(s));
                    live = GameStateBlock;
                }
                Step(mode == 0 && i % 2 ? uint32_t(BUTTON_DECIDE) : 0u);
            }
            StoryPlayMode = 0;
            ASSERT_EQ(made.size(), std::size(points));
            EXPECT_EQ(live.labelCount, kLabelHistorySize);
            EXPECT_EQ(live.readLineCount, kReadLineSize);
            for (size_t k = 0; k < made.size(); ++k) {
                const Point& p = points[k];
                SCOPED_TRACE(p.on);
                const std::string file = p.on.substr(0, p.on.find(':'));
                const std::string none = "vn: script " + file + ":2: the save at " + p.label +
                                         " has no record of its script files; it goes on where the save places it\n";
                for (int recorded = 1; recorded >= 0; --recorded) {
                    const Went went = Load(made[k], arc, recorded);
                    EXPECT_EQ(went.err, recorded ? "" : none);
                    EXPECT_EQ(went.on, p.on);
                    ASSERT_FALSE(went.moves.empty());
                    EXPECT_EQ(went.moves[0], p.back);
                }
            }
            // The backlog's jump back from the live history to the first saved line.
            if (!quick) {
                Save back{"jump back", std::make_unique<GameState>(live)};
                int32_t n = -1;
                for (uint32_t j = 0; j < kReadLineSize && n < 0; ++j)
                    if (back.state->readLineLabel[j] != kNoLabel &&
                        MemberName(back.state->readLinePos[j]) == "scene4.txt")
                        n = int32_t(j);
                ASSERT_GE(n, 0);
                ASSERT_TRUE(GSL_StoryRestoreHistory(n, back.state.get()));
                const Went went = Load(back, arc, false, false);
                EXPECT_EQ(went.err, "");
                EXPECT_EQ(went.on, points[0].on);
                ASSERT_FALSE(went.moves.empty());
                EXPECT_EQ(went.moves[0], points[0].back);
            }
        }
    }
}
