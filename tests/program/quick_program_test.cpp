// The whole program on the sample, headless, with injected input: on the
// story screen C opens the in-game menu, a quick save is made, the next line
// is read, and a quick load brings the saved line back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "engine/core/cache.h"

#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "script/script_report.h"
#include "script/script_task.h"
#include "story/game_state.h"
#include "story/quick_save.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "story/sys_menu.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/utility_dialog.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C, kKeyC = 0x2E, kKeyDown = 0xD0;

const auto Waiting = program_title::StoryWaiting;
int32_t Cursor() {
    const ScreenWork* m = GSL_WorkGet(GSL_SysMenuModeCB);
    const SelectInputWork* in = m && m->step == MENU_STEP_RUN ? GSL_InputWork(GSL_SysMenuHead(m)->input) : nullptr;
    return in ? in->cursor : -1;
}
std::function<void(PlatInputState&)> Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}
using program_title::kIdle;
using program_title::Worker;

// The cursor of the in-game menu down to a button, one press at a time.
void DownTo(std::vector<ProgramRun::Step>& steps, int32_t button) {
    for (int i = 0; i < 8; ++i) {
        steps.push_back({"down", [] { return Cursor() >= 0; },
                         [button](PlatInputState& in) {
                             if (Cursor() < button) in.keys[kKeyDown] = kPlatDown;
                         },
                         120});
        steps.push_back({"let go", nullptr, kIdle});
    }
}

// Confirms while `more` holds: each confirm first completes the reveal, the next goes on.
void ReadWhile(std::vector<ProgramRun::Step>& steps, int confirms, std::function<bool()> more) {
    for (int i = 0; i < confirms; ++i) {
        steps.push_back({"a confirm", nullptr, [more](PlatInputState& in) {
                             if (more()) in.keys[kKeyZ] = kPlatDown;
                         }});
        steps.push_back({"let go", nullptr, kIdle});
    }
}

// From a waiting story: the in-game menu, quick save, back in the story.
// `saved` gets the line on screen.
void QuickSave(std::vector<ProgramRun::Step>& steps, uint32_t* saved) {
    steps.push_back({"the line to save", Waiting, Key(kKeyC), 900});
    steps.push_back({"let go", nullptr, kIdle});
    DownTo(steps, 2);
    steps.push_back({"quick save",
                     [saved] {
                         *saved = GameStateBlock.readLineCount;
                         return Cursor() == 2;
                     },
                     Key(kKeyZ), 10});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back(Worker({"back in the story",
                            [] { return QuickDataPresent && SaveQuickGDGuard == -1 && Waiting(); }, kIdle}));
}

// From a waiting story: the in-game menu, quick load, the story waiting again.
// `later` gets the line on screen before, `loaded` the one after.
void QuickLoad(std::vector<ProgramRun::Step>& steps, uint32_t* later, uint32_t* loaded) {
    steps.push_back({"the next line",
                     [later] {
                         *later = GameStateBlock.readLineCount;
                         return Waiting();
                     },
                     Key(kKeyC), 900});
    steps.push_back({"let go", nullptr, kIdle});
    DownTo(steps, 3);
    steps.push_back({"the preview", [] { return Cursor() == MENU_BUTTON_QUICK_LOAD && ShowQuickGDState() == QUICK_PANEL_SHOWN; }, Key(kKeyZ), 60});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the saved line again",
                     [loaded] {
                         *loaded = GameStateBlock.readLineCount;
                         return !GSL_WorkGet(GSL_SysMenuModeCB) && StoryExitRequest == STORY_EXIT_NONE && Waiting();
                     },
                     kIdle, 1200});
}

TEST(QuickProgram, AQuickLoadBringsTheQuickSavedLineBack) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    uint32_t first = 0, saved = 0, later = 0, loaded = 0;
    ProgramRun run;
    std::vector<ProgramRun::Step> steps;
    program_title::ToTitleMenu(steps);
    steps.push_back({"new game", program_title::TitleMenuUp,
                     [](PlatInputState& in) { program_title::Press(in, BUTTON_DECIDE); }});
    steps.push_back({"the story waiting",
                     [&] {
                         first = GameStateBlock.readLineCount;
                         return Waiting();
                     },
                     kIdle, 900});
    ReadWhile(steps, 20, [&] { return GameStateBlock.readLineCount <= first; });
    QuickSave(steps, &saved);
    ReadWhile(steps, 30, [&] { return GameStateBlock.readLineCount <= saved; });
    QuickLoad(steps, &later, &loaded);
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_GT(saved, first);
    EXPECT_GT(later, saved);
    EXPECT_EQ(loaded, saved);
}

// A dialog waits for the player's answer.
bool NoticeWaits() {
    for (int32_t slot : ScreenHarness::Tasks(Lib_UtilityCB)) {
        const auto* d = static_cast<const UtilityDialogWork*>(Lib_UtilityWorkGet(slot));
        if (d && d->state == DIALOG_WAITING) return true;
    }
    return false;
}

// A run under a file-size limit of `limit` bytes (none: 0), its stderr
// caught in a pipe (a file would be held to the limit too); returns stderr.
std::string RunLimited(ProgramRun& run, std::vector<ProgramRun::Step> steps, rlim_t limit, int* code) {
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    if (limit) {
        run.before = [limit, before] {
            const rlimit held{limit, before.rlim_max};
            ::setrlimit(RLIMIT_FSIZE, &held);
        };
        run.after = [before] { ::setrlimit(RLIMIT_FSIZE, &before); };
    }
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK) != 0) return "no pipe";
    std::fflush(stderr);
    const int kept = ::dup(2);
    ::dup2(ends[1], 2);
    *code = run.Run(std::move(steps));
    std::fflush(stderr);
    ::dup2(kept, 2);
    ::close(kept);
    ::close(ends[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(ends[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
    ::close(ends[0]);
    return text;
}

// The save files of the player's folder under `userFiles`, by name.
std::vector<std::pair<std::string, std::string>> SaveFiles(const std::filesystem::path& userFiles) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(userFiles / "user")) {
        const std::string name = e.path().filename().string();
        if (name != "save.cdf" && name != "registry.cdf") continue;
        std::ifstream in(e.path(), std::ios::binary);
        out.emplace_back(name, std::string{std::istreambuf_iterator<char>(in), {}});
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Writes the system refuses (here past the file-size limit, as `ulimit -f`
// sets it; a full disk or a read-only folder are refused alike): a quick
// save whose save file does not fit is told to the player and in one line on
// stderr, the program goes on (no death by SIGXFSZ) and the saves made before
// stay whole; a first start that can write nothing at all says so in one
// line, not one for each file, and plays on.
TEST(QuickProgram, WritesTheSystemRefusesAreToldInOneLineAndLeaveTheEarlierSavesWhole) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    char tmpl[] = "/tmp/vn_refused_XXXXXX";
    ASSERT_TRUE(::mkdtemp(tmpl));
    const std::filesystem::path user = tmpl;
    auto readAndQuickSave = [](std::vector<ProgramRun::Step>& steps, uint32_t* first, uint32_t* saved) {
        steps.push_back({"the story waiting",
                         [first] {
                             *first = GameStateBlock.readLineCount;
                             return Waiting();
                         },
                         kIdle, 900});
        ReadWhile(steps, 20, [first] { return GameStateBlock.readLineCount <= *first; });
        QuickSave(steps, saved);
    };

    // The earlier saves, made with room to write.
    uint32_t first = 0, saved = 0;
    std::vector<ProgramRun::Step> steps;
    readAndQuickSave(steps, &first, &saved);
    program_title::PrependNewGame(steps);
    ProgramRun earlier;
    earlier.userFiles = user;
    int code = -1;
    std::string err = RunLimited(earlier, steps, 0, &code);
    EXPECT_EQ(code, 0);
    ASSERT_EQ(earlier.failed, "") << err;
    const auto kept = SaveFiles(user);
    ASSERT_EQ(kept.size(), 2u);
    ASSERT_EQ(kept[1].first, "save.cdf");

    // Under a limit the save file no longer fits (the settings and the
    // digests do): the quick save fails, its notices are answered.
    uint32_t later = 0, laterSaved = 0;
    std::vector<std::string> notices;
    steps.clear();
    steps.push_back({"the story waiting",
                     [&later] {
                         later = GameStateBlock.readLineCount;
                         return Waiting();
                     },
                     kIdle, 900});
    ReadWhile(steps, 20, [&later] { return GameStateBlock.readLineCount <= later; });
    steps.push_back({"the line to save", Waiting, Key(kKeyC), 900});
    steps.push_back({"let go", nullptr, kIdle});
    DownTo(steps, 2);
    steps.push_back({"quick save",
                     [&laterSaved] {
                         laterSaved = GameStateBlock.readLineCount;
                         return Cursor() == 2;
                     },
                     Key(kKeyZ), 10});
    steps.push_back({"let go", nullptr, kIdle});
    steps.push_back({"the notice that the save failed",
                     [&notices] {
                         if (!NoticeWaits()) return false;
                         notices.push_back(ScreenHarness::NoticeText());
                         return true;
                     },
                     [](PlatInputState& in) { program_title::Press(in, BUTTON_DECIDE); }, 900});
    steps.push_back({"let go", nullptr, kIdle});
    for (int i = 0; i < 3; ++i) {
        steps.push_back({"another notice answered, or the story back",
                         [&notices] {
                             if (NoticeWaits()) notices.push_back(ScreenHarness::NoticeText());
                             return NoticeWaits() || (SaveQuickGDGuard == -1 && Waiting());
                         },
                         [](PlatInputState& in) {
                             if (NoticeWaits()) program_title::Press(in, BUTTON_DECIDE);
                         },
                         900});
        steps.push_back({"let go", nullptr, kIdle});
    }
    steps.push_back({"back in the story", [] { return !NoticeWaits() && SaveQuickGDGuard == -1 && Waiting(); }, kIdle,
                     900});
    program_title::PrependNewGame(steps);
    ProgramRun limited;
    limited.userFiles = user;
    err = RunLimited(limited, steps, kept[1].second.size() / 2, &code);  // half of save.cdf
    EXPECT_EQ(code, 0);
    EXPECT_EQ(limited.failed, "") << err;
    EXPECT_NE(std::find(notices.begin(), notices.end(), "The data could not be saved."), notices.end())
        << "the player was not told";
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("vn: user/", 0), 0u) << err;
    EXPECT_NE(err.find("/save/save.cdf could not be written (" + std::string(std::strerror(EFBIG)) + ")\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(SaveFiles(user), kept) << "the earlier saves changed";
    std::filesystem::remove_all(user);

    // A first start under a limit below the settings file's 64 bytes: the
    // settings, the saves and the system data all refused, one line.
    ProgramRun fresh;
    steps.clear();
    program_title::ToTitleMenu(steps);
    err = RunLimited(fresh, steps, 16, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(fresh.failed, "") << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("/system.ini could not be written (" + std::string(std::strerror(EFBIG)) + ")\n"),
              std::string::npos)
        << err;
}

// The sample's window changes to its second frame early in the opening; a
// line saved further on comes back in that frame, and so does the next one.
TEST(QuickProgram, ALineSavedInTheSecondWindowFrameLoadsInIt) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    uint32_t saved = 0, later = 0, loaded = 0;
    int32_t frameSaved = -1, frameLoaded = -1, frameNext = -1;
    // The shown window's picture: its source rectangle's top says the frame.
    auto windowTop = [] {
        const ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
        const int32_t h = w ? w->layers[25].handle : -1;
        return Lib_SpriteIsLive(h) ? Lib_SpriteAt(h)->srcRect[1] : -1;
    };
    auto inMsgwin = [] {
        const char* file = GSL_ScriptTaskFileName(GSL_WorkTaskGet(GSL_StoryModeCB));
        return file && std::strcmp(file, "msgwin.txt") == 0;
    };
    ProgramRun run;
    std::vector<ProgramRun::Step> steps;
    steps.push_back(program_title::Drive("a line of the window's own scene",
                                         [&] {
                                             frameSaved = windowTop();
                                             return inMsgwin() && Waiting();
                                         },
                                         Key(kKeyZ), 3000));
    QuickSave(steps, &saved);
    ReadWhile(steps, 30, [&] { return GameStateBlock.readLineCount <= saved; });
    QuickLoad(steps, &later, &loaded);
    steps.push_back({"the loaded window", [&] {
                         frameLoaded = windowTop();
                         return true;
                     },
                     kIdle});
    ReadWhile(steps, 30, [&] { return GameStateBlock.readLineCount <= loaded; });
    steps.push_back({"the line after it",
                     [&] {
                         frameNext = windowTop();
                         return Waiting() && GameStateBlock.readLineCount > loaded;
                     },
                     kIdle, 900});
    program_title::PrependNewGame(steps);
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_EQ(loaded, saved);
    EXPECT_EQ(frameSaved, 256);  // the second frame's place in the story's sheet
    EXPECT_EQ(frameLoaded, frameSaved);
    EXPECT_EQ(frameNext, frameSaved);
}

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

// The sample's script sources with edits, packed as the game ships them.
std::string PackedScripts(const fs::path& dir, const std::vector<std::pair<std::string, std::string>>& edits) {
    const fs::path src = fs::path(VN_SOURCE_DIR) / "sample/base/script/script.arc";
    fs::create_directories(dir / "script.arc");
    for (const auto& e : fs::directory_iterator(src)) fs::copy_file(e.path(), dir / "script.arc" / e.path().filename());
    for (const auto& [name, text] : edits) std::ofstream(dir / "script.arc" / name, std::ios::binary) << text;
    const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py script " + (dir / "script.arc").string() + " " +
                            (dir / "out.arc").string() + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 ? ReadAll(dir / "out.arc") : std::string();
}

// The line (from 1) of the first line of a text that begins with start.
uint32_t LineOf(const std::string& text, const std::string& start) {
    const size_t at = text.find("\n" + start);
    return uint32_t(std::count(text.begin(), text.begin() + std::ptrdiff_t(at + 1), '\n')) + 1;
}

// A line added above line n (from 1) of a text.
std::string LineAdded(std::string text, uint32_t n, const std::string& line) {
    size_t at = 0;
    for (uint32_t l = 1; l < n; ++l) at = text.find('\n', at) + 1;
    return text.insert(at, line + "\n");
}

// The lines of a text before line n (from 1).
std::string LinesBefore(const std::string& text, uint32_t n) {
    size_t at = 0;
    for (uint32_t l = 1; l < n; ++l) at = text.find('\n', at) + 1;
    return text.substr(0, at);
}

// Where the story runs after a restore, traced on the game thread: file:line
// each time it comes into another file, from the first tag after the
// restore's runs.
std::vector<std::string> g_moves;
std::string g_file;
bool g_restored = false;
void NoteMove(const char* file, uint32_t offset, int32_t, const CommandContext* ctx) {
    const ScriptState* s = ctx ? ctx->script : nullptr;
    if (s && (s->status & (SCRIPT_REPLAY_RUN | SCRIPT_REPLAYING))) g_restored = true;
    if (!s || !s->text || !g_restored || (s->status & (SCRIPT_REPLAY_RUN | SCRIPT_REPLAYING)) || g_file == file ||
        g_moves.size() >= 2)
        return;
    g_file = file;
    g_moves.push_back(g_file + ":" + std::to_string(std::count(s->text, s->text + std::min(offset, s->size), '\n') + 1));
}

// Puts bytes in the place of the cached script container, as a patch of the
// game's scripts would: the next story start reads them.
bool ScriptsReplaced(const std::string& bytes) {
    CacheEntry* old = Lib_CashGetHitInfo("script/script.arc", kCacheEntryId);
    if (!old) return false;
    const uint32_t tag = old->tag;
    Lib_CashRemove(old);
    void* data = Lib_CashAlloc("script/script.arc", bytes.size(), 256);
    if (!data) return false;
    std::memcpy(data, bytes.data(), bytes.size());
    CacheEntry* e = Lib_CashEntryOf(data, 256);
    e->tag = tag;
    Lib_CashSetComplete(e);
    return true;
}

// A quick save in msgwin.txt, which 00_init.txt calls, loaded in the same
// run after changes an author makes to the game's scripts (the script test
// SampleSavedScripts loads every file's save after each edit): the story
// goes on at the saved line, returns behind the call wherever it now stands,
// and one line tells the load; msgwin.txt cut short of the saved line plays
// again from its label, told; a copy of 00_init.txt in front does not take
// the return, which finds its caller by name. The quick save stays as it was
// made.
TEST(QuickProgram, AQuickSaveInACalledFileGoesOnAfterTheScriptsChange) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    const fs::path src = fs::path(VN_SOURCE_DIR) / "sample/base/script/script.arc";
    const std::string init = ReadAll(src / "00_init.txt"), msgwin = ReadAll(src / "msgwin.txt");
    // Saved at the file's last line, one confirm before its return.
    const uint32_t call = LineOf(init, "<call msgwin"), label = LineOf(msgwin, "<label>"),
                   saved = LineOf(msgwin, "<keywait 23>");
    char tmpl[] = "/tmp/vn_edits_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    const std::string at = "vn: script msgwin.txt:" + std::to_string(label) +
                           ": the save at *msgwin_top was made with other script files; it goes on there, found by name";
    const std::string on = "msgwin.txt:" + std::to_string(saved), back = "00_init.txt:" + std::to_string(call + 2);
    const std::string below = "00_init.txt:" + std::to_string(call + 3);
    struct Load {
        const char* what;
        std::string arc;
        std::string told;  // the one line
        std::vector<std::string> moves;
    } loads[] = {
        {"a line above the call", PackedScripts(dir / "1", {{"00_init.txt", LineAdded(init, call, "; added")}}), at,
         {on, below}},
        {"a line at the top of 00_init.txt", PackedScripts(dir / "2", {{"00_init.txt", "; added\n" + init}}), at,
         {on, below}},
        {"a file added in front", PackedScripts(dir / "3", {{"00_added.txt", "*added\n<label>\n"}}), at, {on, back}},
        // The saved file cut short of the saved line: the scene again from its
        // label, told, and back into its caller.
        {"msgwin.txt cut short", PackedScripts(dir / "5", {{"msgwin.txt", LinesBefore(msgwin, saved)}}),
         "vn: script msgwin.txt:" + std::to_string(label) + ": the save at *msgwin_top was made with other script "
         "files and msgwin.txt has changed between *msgwin_top and the saved line; it goes on from *msgwin_top",
         {"msgwin.txt:" + std::to_string(label + 1), back}},
        // Last: the return, found by the caller's name.
        {"a file of the same shape added in front", PackedScripts(dir / "4", {{"00_a.txt", init}}), at, {on, back}},
    };
    for (const Load& l : loads) ASSERT_FALSE(l.arc.empty()) << l.what;

    uint32_t savedLine = 0, later = 0, loaded = 0;
    std::vector<uint8_t> quick;
    std::vector<std::vector<std::string>> moves;
    bool replaced = true, quickKept = true;
    ProgramRun run;
    std::vector<ProgramRun::Step> steps;
    steps.push_back(program_title::Drive("the last line of msgwin.txt",
                                         [&] {
                                             const char* file = GSL_ScriptTaskFileName(GSL_WorkTaskGet(GSL_StoryModeCB));
                                             const ScriptState* st = GSL_ScriptStoryState();
                                             return file && std::strcmp(file, "msgwin.txt") == 0 && Waiting() && st &&
                                                    uint32_t(std::count(st->text, st->text + st->readOffset, '\n')) + 1 ==
                                                        saved;
                                         },
                                         Key(kKeyZ), 3000));
    QuickSave(steps, &savedLine);
    steps.push_back({"the quick save kept", [&] {
                         const auto* q = reinterpret_cast<const uint8_t*>(&QuickDataCache);
                         quick.assign(q, q + sizeof QuickDataCache);
                         GSL_ScriptTraceSet(NoteMove);
                         return true;
                     },
                     kIdle});
    for (const Load& l : loads) {
        const std::string* arc = &l.arc;
        // Changed while the in-game menu is open, the story standing still.
        const size_t menu = steps.size() + 2;
        QuickLoad(steps, &later, &loaded);
        steps.insert(steps.begin() + std::ptrdiff_t(menu), {"the scripts changed", [&, arc] {
                                                                 if (Cursor() < 0) return false;
                                                                 replaced = replaced && ScriptsReplaced(*arc);
                                                                 g_moves.clear();
                                                                 g_file.clear();
                                                                 g_restored = false;
                                                                 return true;
                                                             },
                                                             kIdle, 120});
        const bool ends = &l == &loads[std::size(loads) - 1];
        steps.push_back(program_title::Drive(l.what,
                                             [&, ends] {
                                                 const bool done = g_moves.size() >= 2 || (ends && !Waiting() && g_moves.size() == 1 &&
                                                                                           GSL_ModeTop() != GSL_StoryModeCB);
                                                 if (done) {
                                                     moves.push_back(g_moves);
                                                     const auto* q = reinterpret_cast<const uint8_t*>(&QuickDataCache);
                                                     quickKept = quickKept && std::memcmp(q, quick.data(), quick.size()) == 0;
                                                 }
                                                 return done;
                                             },
                                             Key(kKeyZ), 3000));
    }
    steps.push_back({"untraced", [] {
                         GSL_ScriptTraceSet(nullptr);
                         return true;
                     },
                     kIdle});
    program_title::PrependNewGame(steps);
    testing::internal::CaptureStderr();
    const int code = run.Run(steps);
    const std::string err = testing::internal::GetCapturedStderr();
    GSL_ScriptTraceSet(nullptr);
    fs::remove_all(dir);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_TRUE(replaced);
    EXPECT_TRUE(quickKept) << "the quick save changed";
    std::vector<std::string> told;
    for (size_t at0 = err.find("vn: script "); at0 != std::string::npos; at0 = err.find("vn: script ", at0 + 1))
        told.push_back(err.substr(at0, err.find('\n', at0) - at0));
    for (size_t i = 0; i < std::size(loads); ++i) {
        SCOPED_TRACE(loads[i].what);
        ASSERT_LT(i, told.size()) << err;
        EXPECT_EQ(told[i], loads[i].told);
        ASSERT_LT(i, moves.size());
        EXPECT_EQ(moves[i], loads[i].moves);
    }
    EXPECT_EQ(told.size(), std::size(loads)) << err;
}
}  // namespace
