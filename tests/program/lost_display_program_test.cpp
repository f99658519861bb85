// The X server goes away while the program starts and its loader still reads
// the boot files: the program ends at once with one line, and nothing runs
// its global destructors under the threads still working (the sanitizer
// build would report a use after free or a leak on the way out). A start
// that finds no display, or one on which no window can be made, ends with
// its line and writes nothing.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

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

// Starts the program in `dir` with DISPLAY set to `display` (unset when
// empty), the x11 video driver, no sound device, and stderr into `err`.
pid_t StartProgram(const std::filesystem::path& dir, const std::string& display, const std::string& err) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("DISPLAY=", 0) && v.rfind("SDL_VIDEODRIVER=", 0)) env.push_back(v);
    }
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    env.push_back("SDL_VIDEODRIVER=x11");
    env.push_back("SDL_AUDIODRIVER=dummy");
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char program[] = VN_PROGRAM;
    char* argv[] = {program, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits up to 30 seconds for the program to end, then kills it; false when
// it had to be killed.
bool EndsByItself(pid_t pid, int* status) {
    for (int i = 0; i < 600; ++i) {
        if (::waitpid(pid, status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, status, 0);
    return false;
}

// Starts the program on a server of its own and stops the server `delayMs`
// after the program's window is up.
void LoseTheServer(int delayMs) {
    x_server::Server server(1280, 720);
    if (!server.Started()) GTEST_SKIP() << "no X server could be started (Xvfb): " << server.Error();
    char tmpl[] = "/tmp/vn_lost_display_XXXXXX";
    ASSERT_TRUE(::mkdtemp(tmpl));
    const std::filesystem::path dir = tmpl;
    ASSERT_TRUE(LinkSampleData(dir)) << "the sample could not be built";
    const std::string err = (dir / "stderr.txt").string();
    const pid_t pid = StartProgram(dir, server.Name(), err);
    ASSERT_GT(pid, 0);

    // The window up, then the server gone while the boot files load.
    Display* x = XOpenDisplay(server.Name().c_str());
    ASSERT_TRUE(x);
    for (int i = 0; i < 2000 && !AWindowIsUp(x); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool windowUp = AWindowIsUp(x);
    XCloseDisplay(x);
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

// No display at all, and a server without GLX (the window cannot be made):
// the start ends with its line, and the empty folder it ran in stays empty.
TEST(LostDisplayProgram, AStartWithoutAWindowWritesNothing) {
    x_server::Server server(1280, 720, "GLX");
    struct Case {
        std::string display;
        const char* told;
    };
    std::vector<Case> cases = {{"", "vn: the video system could not start"}};
    if (server.Started()) cases.push_back({server.Name(), "vn: the window could not be created"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.display.empty() ? "no display" : "no GLX");
        char tmpl[] = "/tmp/vn_no_window_XXXXXX";
        ASSERT_TRUE(::mkdtemp(tmpl));
        const std::filesystem::path dir = tmpl;
        char errTmpl[] = "/tmp/vn_no_window_err_XXXXXX";
        const int errFd = ::mkstemp(errTmpl);
        ASSERT_GE(errFd, 0);
        ::close(errFd);
        const pid_t pid = StartProgram(dir, c.display, errTmpl);
        ASSERT_GT(pid, 0);
        int status = 0;
        const bool ended = EndsByItself(pid, &status);
        std::stringstream text;
        text << std::ifstream(errTmpl).rdbuf();
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
            left.push_back(entry.path().lexically_relative(dir).string());
        std::filesystem::remove_all(dir);
        std::filesystem::remove(errTmpl);
        ASSERT_TRUE(ended) << text.str();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << text.str();
        EXPECT_NE(text.str().find(c.told), std::string::npos) << text.str();
        EXPECT_EQ(left, std::vector<std::string>{});
    }
    if (!server.Started()) GTEST_SKIP() << "no X server could be started (Xvfb): " << server.Error();
}

}  // namespace
