// The X server goes away while the program starts and its loader still reads
// the boot files: the program ends at once with one line, and nothing runs
// its global destructors under the threads still working (the sanitizer
// build would report a use after free or a leak on the way out). A start
// that cannot run (no display, no window, no OpenGL 3.3, no room for the
// glyph atlas) ends with one line and writes nothing, even where the
// player's folder is there already without its system.ini.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/core/heap.h"
#include "platform/plat_store.h"
#include "tests/engine/core/worker_wait.h"
#include "tests/program/x_server.h"
#include "tests/ui/screen_harness.h"

namespace {

// Whether a top-level window stands on the server's screen.
bool AWindowIsUp(Display* x) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) return false;
    if (children) XFree(children);
    return count > 0;
}

// Starts the program in `dir` with its environment changed by `changes`
// ("NAME=value" sets, a bare "NAME" removes), no sound device, and stderr
// into `err` (or onto the descriptor `errFd`), with SIGPIPE and SIGXFSZ as a
// shell leaves them (ending the process), whatever this process does with them.
pid_t StartProgram(const std::filesystem::path& dir, const std::vector<std::string>& changes, const std::string& err,
                   int errFd = -1) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        const bool changed = std::any_of(changes.begin(), changes.end(), [&v](const std::string& c) {
            const std::string name = c.substr(0, c.find('='));
            return v.rfind(name + "=", 0) == 0;
        });
        if (!changed) env.push_back(v);
    }
    for (const std::string& c : changes)
        if (c.find('=') != std::string::npos) env.push_back(c);
    env.push_back("SDL_AUDIODRIVER=dummy");
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t fatal;
    sigemptyset(&fatal);
    sigaddset(&fatal, SIGPIPE);
    sigaddset(&fatal, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attr, &fatal);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    char program[] = VN_PROGRAM;
    char* argv[] = {program, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program, &actions, &attr, argv, envp.data()) != 0) pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for the program to end (WorkerUntil's deadline: only a program that
// runs on reaches it), then kills it; false when it had to be killed.
bool EndsByItself(pid_t pid, int* status) {
    if (WorkerUntil([pid, status] { return ::waitpid(pid, status, WNOHANG) == pid; }, {}, "the program's end") >= 0)
        return true;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, status, 0);
    return false;
}

// Whether the process ignores `signal` (its disposition, as /proc tells it).
bool Ignores(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigIgn:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// Starts the program on a server of its own and stops the server `delayMs`
// after the program's window is up. A write to the dead connection fails
// with EPIPE rather than ending the program by SIGPIPE, whenever it comes.
void LoseTheServer(int delayMs) {
    x_server::Server server(1280, 720);
    if (!server.Started()) GTEST_SKIP() << "no X server could be started (Xvfb): " << server.Error();
    char tmpl[] = "/tmp/vn_lost_display_XXXXXX";
    ASSERT_TRUE(::mkdtemp(tmpl));
    const std::filesystem::path dir = tmpl;
    ASSERT_TRUE(LinkSampleData(dir)) << "the sample could not be built";
    const std::string err = (dir / "stderr.txt").string();
    const pid_t pid = StartProgram(dir, {"DISPLAY=" + server.Name(), "SDL_VIDEODRIVER=x11"}, err);
    ASSERT_GT(pid, 0);

    // The window up, then the server gone while the boot files load.
    Display* x = XOpenDisplay(server.Name().c_str());
    ASSERT_TRUE(x);
    const bool windowUp = WorkerUntil([x] { return AWindowIsUp(x); }, {}, "the program's window") >= 0;
    XCloseDisplay(x);
    EXPECT_TRUE(Ignores(pid, SIGPIPE));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    server.Stop();

    int status = 0;
    const bool ended = EndsByItself(pid, &status);
    std::stringstream text;
    text << std::ifstream(err).rdbuf();
    std::filesystem::remove_all(dir);

    EXPECT_TRUE(windowUp);
    ASSERT_TRUE(ended) << "the program went on without its display";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << text.str();
    EXPECT_EQ(WEXITSTATUS(status), 1) << text.str();
    EXPECT_NE(text.str().find("vn: the connection to the X server was lost"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find("Sanitizer"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find("runtime error"), std::string::npos) << text.str();
}

TEST(LostDisplayProgram, TheServerGoingAwayDuringTheBootLoadsEndsTheProgramCleanly) {
    // At once, before the game thread has made its GL context; then once the
    // frames have begun.
    for (int delayMs : {0, 300}) {
        SCOPED_TRACE(delayMs);
        LoseTheServer(delayMs);
        if (IsSkipped() || HasFatalFailure()) return;
    }
}

// What a run left in its folder, the game's data aside.
std::vector<std::string> Listing(const std::filesystem::path& dir) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().lexically_relative(dir).string();
        if (name.rfind("data", 0) != 0) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The player's folder, as the program names it.
std::string UserFolder() {
    Store_Init();
    const std::string folder = "user/" + std::to_string(Store_UserId());
    Store_Shutdown();
    return folder;
}

// stderr holds exactly one line, and it begins with `told`.
::testing::AssertionResult OneLineTelling(const std::string& text, const std::string& told) {
    if (text.rfind(told, 0) == 0 && text.find('\n') == text.size() - 1) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "stderr is not the one line \"" << told << "…\":\n" << text;
}

// Starts that stop before the game runs, in a folder with the game's data:
// no display at all (no player asked for SDL's off-screen driver, so it is
// not the fallback), a Wayland server named without the runtime folder the
// Wayland library looks in (which prints a line of its own), an X server
// that cannot be reached, a server without GLX, an OpenGL below 3.3, and a
// glyph atlas the graphics heap has no room for (in this process, on the
// off-screen driver). Each ends with one line and leaves the folder as it
// was, also where the player's folder is there already without its
// system.ini. With stderr a pipe nobody reads, the line is lost but the
// program still ends with its status 1, not by SIGPIPE.
TEST(LostDisplayProgram, AStartThatCannotRunSaysSoInOneLineAndWritesNothing) {
    x_server::Server server(1280, 720, "GLX");
    struct Case {
        const char* what;
        std::vector<std::string> env;
        const char* told;
    };
    std::vector<Case> cases = {
        {"no display",
         {"DISPLAY", "SDL_VIDEODRIVER", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "XDG_RUNTIME_DIR"},
         "vn: the video system could not start: no display"},
        {"wayland named without its runtime folder",
         {"DISPLAY", "SDL_VIDEODRIVER", "WAYLAND_DISPLAY=wayland-0", "WAYLAND_SOCKET", "XDG_RUNTIME_DIR"},
         "vn: the video system could not start: no display"},
        {"wayland asked without its runtime folder",
         {"DISPLAY", "SDL_VIDEODRIVER=wayland", "WAYLAND_DISPLAY=wayland-0", "WAYLAND_SOCKET", "XDG_RUNTIME_DIR"},
         "vn: the video system could not start"},
        {"x11 asked without a display", {"DISPLAY", "SDL_VIDEODRIVER=x11"}, "vn: the video system could not start"},
        // Mesa's software GL offers no more than the version it is told.
        {"OpenGL 3.2", {"SDL_VIDEODRIVER=offscreen", "MESA_GL_VERSION_OVERRIDE=3.2"}, "vn: OpenGL 3.3 core context"},
    };
    if (server.Started())
        cases.push_back({"no GLX", {"DISPLAY=" + server.Name(), "SDL_VIDEODRIVER=x11"},
                         "vn: the window could not be created"});
    const std::string userFolder = UserFolder();
    for (const Case& c : cases) {
        for (bool folderThere : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (folderThere ? ", the player's folder there" : ""));
            char tmpl[] = "/tmp/vn_no_window_XXXXXX";
            ASSERT_TRUE(::mkdtemp(tmpl));
            const std::filesystem::path dir = tmpl;
            ASSERT_TRUE(LinkSampleData(dir)) << "the sample could not be built";
            if (folderThere) std::filesystem::create_directories(dir / userFolder);
            const std::vector<std::string> before = Listing(dir);
            char errTmpl[] = "/tmp/vn_no_window_err_XXXXXX";
            const int errFd = ::mkstemp(errTmpl);
            ASSERT_GE(errFd, 0);
            ::close(errFd);
            const pid_t pid = StartProgram(dir, c.env, errTmpl);
            ASSERT_GT(pid, 0);
            int status = 0;
            const bool ended = EndsByItself(pid, &status);
            std::stringstream text;
            text << std::ifstream(errTmpl).rdbuf();
            const std::vector<std::string> left = Listing(dir);
            std::filesystem::remove_all(dir);
            std::filesystem::remove(errTmpl);
            EXPECT_TRUE(ended) << "the program ran on\n" << text.str();
            if (!ended) continue;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << text.str();
            EXPECT_TRUE(OneLineTelling(text.str(), c.told));
            EXPECT_EQ(left, before);
        }
    }

    // stderr a pipe whose reader is gone before the program starts.
    {
        SCOPED_TRACE("stderr a pipe nobody reads");
        char tmpl[] = "/tmp/vn_no_window_XXXXXX";
        ASSERT_TRUE(::mkdtemp(tmpl));
        const std::filesystem::path dir = tmpl;
        ASSERT_TRUE(LinkSampleData(dir)) << "the sample could not be built";
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        ::close(ends[0]);
        const pid_t pid = StartProgram(dir, cases[0].env, "", ends[1]);
        ::close(ends[1]);
        ASSERT_GT(pid, 0);
        int status = 0;
        const bool ended = EndsByItself(pid, &status);
        std::filesystem::remove_all(dir);
        ASSERT_TRUE(ended) << "the program ran on";
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1);
    }

    // The glyph atlas, made after the window and the renderer, finds no room.
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    const uint64_t heaps[HEAP_COUNT] = {8u << 20, 48u << 20, 2u << 20, 160u << 20, 32u << 20};
    for (bool folderThere : {false, true}) {
        SCOPED_TRACE(std::string("no room for the glyph atlas") + (folderThere ? ", the player's folder there" : ""));
        ProgramRun run;
        run.heaps = heaps;
        std::vector<std::string> before, left;
        run.before = [&] {
            if (folderThere) std::filesystem::create_directories(userFolder);
            before = Listing(".");
        };
        run.after = [&] { left = Listing("."); };
        testing::internal::CaptureStderr();
        const int code = run.Run({{"never reached", [] { return true; }, nullptr}});
        const std::string text = testing::internal::GetCapturedStderr();
        EXPECT_EQ(code, 1) << text;
        EXPECT_EQ(run.failed, "the program ended before its steps");
        EXPECT_TRUE(OneLineTelling(text, "vn: start-up failed: the glyph atlas"));
        EXPECT_EQ(left, before);
    }
    if (!server.Started()) GTEST_SKIP() << "no X server could be started (Xvfb): " << server.Error();
}

}  // namespace
