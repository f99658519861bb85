#include "app/app_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <tuple>
#include <vector>

#include "app/frame.h"
#include "app/main_tasks.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "tests/engine/core/worker_wait.h"
#include "tests/engine/files/files_env.h"

namespace {
namespace fs = std::filesystem;

// A window as the game thread sees it, and a record of what was asked of it.
struct FakeWindow {
    static inline PlatWindowState state = PLAT_WINDOW_NORMAL;
    static inline int minimisedLooks = 0;  // state() calls left before a minimised window comes back
    static inline uint32_t keys = 0;
    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline std::vector<std::vector<int32_t>> posts;
    static inline std::vector<std::pair<uint32_t, uint32_t>> resizes;
    static inline int questions = 0;
    static inline int answer = -2;  // -2: not yet answered
    static inline std::string lastText;
    static inline bool queueFull = false;  // posts are lost
    static inline PlatRect primary{0, 0, 1920, 1080};

    static PlatWindowState getState() {
        if (state == PLAT_WINDOW_MINIMIZED && minimisedLooks > 0 && --minimisedLooks == 0) state = PLAT_WINDOW_NORMAL;
        return state;
    }
    static uint32_t getKeys() { return keys; }
    static bool post(WindowRequest req, int32_t a, int32_t b, int32_t c, int32_t d) {
        std::lock_guard lock(mutex);
        if (queueFull) return false;
        posts.push_back({req, a, b, c, d});
        changed.notify_all();
        return true;
    }
    static void resize(uint32_t w, uint32_t h) { resizes.push_back({w, h}); }
    static bool takeMessage() { return false; }
    static int ask(const char* text, const char*) {
        std::unique_lock lock(mutex);
        ++questions;
        lastText = text;
        changed.notify_all();
        changed.wait(lock, [] { return answer != -2; });
        int a = answer;
        answer = -2;
        return a;
    }
    static int displays(PlatRect* out, int) {
        out[0] = primary, out[1] = PlatRect{1920, 0, 1280, 1024};
        return 2;
    }
    static void answerWith(int a) {
        std::lock_guard lock(mutex);
        answer = a;
        changed.notify_all();
    }
    // Waits for the close question's thread (detached by the window service)
    // to make pred hold, running pass between looks.
    template <class Pred>
    static bool waitFor(Pred pred, const char* what, const std::function<void()>& pass = {}) {
        return WorkerUntil(
                   [&pred] {
                       std::lock_guard lock(mutex);
                       return pred();
                   },
                   pass, what) >= 0;
    }
};

const WindowOps kFakeOps = {FakeWindow::getState, FakeWindow::getKeys,     FakeWindow::post,    FakeWindow::resize,
                            FakeWindow::takeMessage, FakeWindow::ask, FakeWindow::displays};

class AppWindow : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = fs::current_path();
        std::memcpy(userId_, UserId, sizeof userId_);
        char tmpl[] = "/tmp/vn_appwindow_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::current_path(dir_);
        std::strcpy(UserId, "777");
        fs::create_directories("user/777");
        FakeWindow::state = PLAT_WINDOW_NORMAL;
        FakeWindow::keys = 0;
        FakeWindow::posts.clear();
        FakeWindow::resizes.clear();
        FakeWindow::questions = 0;
        FakeWindow::queueFull = false;
        FakeWindow::primary = PlatRect{0, 0, 1920, 1080};
        Main_WindowOpsSet(&kFakeOps);
        Main_SystemIniSet(SystemIni{});
        Main_RunStateReset();  // as at start: a program run before left RUN_QUIT
    }
    void TearDown() override {
        Main_WindowOpsSet(nullptr);
        Main_RunStateReset();
        fs::current_path(old_);
        fs::remove_all(dir_);
        std::memcpy(UserId, userId_, sizeof userId_);
    }
    static std::vector<uint8_t> iniBytes() {
        std::ifstream in("user/777/system.ini", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void writeIni(const std::vector<uint8_t>& bytes) {
        std::ofstream("user/777/system.ini", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                       std::streamsize(bytes.size()));
    }
    fs::path old_, dir_;
    char userId_[64];
};

using SystemIniFile = AppWindow;

struct SizingCase {
    int32_t edge;
    WinRect in, out;
};

TEST(SizingRule, EveryEdgeAndTheMinimum) {
    // Frame 16×39; proposed client 1600×800 at (100, 50).
    const WinSize f{16, 39};
    const WinRect p{100, 50, 100 + 1600 + 16, 50 + 800 + 39};
    const SizingCase cases[] = {
        {1, p, {100, 50, 1716, 50 + 39 + 900}},       // width leads: 1600 -> 900
        {2, p, {100, 50, 1716, 50 + 39 + 900}},
        {8, p, {100, 50, 1716, 50 + 39 + 900}},
        {3, p, {100, 50, 100 + 16 + 1422, 889}},      // height leads: trunc(800*1280/720) = 1422
        {6, p, {100, 50, 100 + 16 + 1422, 889}},
        {4, p, {1716 - 16 - 1422, 50, 1716, 889}},
        {7, p, {1716 - 16 - 1422, 50, 1716, 889}},
        {5, p, {100, 889 - 39 - 900, 1716, 889}},
        {0, p, p},
        {9, p, p},
        // Left edge to a client width of 100: width 192, height as proposed.
        {1, {500, 0, 500 + 100 + 16, 300 + 39}, {616 - 16 - 192, 0, 616, 339}},
        // Top-left corner below the minimum both ways.
        {4, {0, 0, 100 + 16, 50 + 39}, {116 - 16 - 192, 89 - 39 - 108, 116, 89}},
        // Bottom-right corner below the minimum both ways.
        {8, {10, 20, 10 + 50 + 16, 20 + 20 + 39}, {10, 20, 10 + 192 + 16, 20 + 108 + 39}},
    };
    for (const auto& c : cases) {
        WinRect r = SizingAdjust(c.edge, c.in, f);
        EXPECT_EQ(std::tie(r.left, r.top, r.right, r.bottom), std::tie(c.out.left, c.out.top, c.out.right, c.out.bottom))
            << "edge " << c.edge;
    }
    // Single precision, multiplication first: 1281 -> trunc(720.5625) = 720.
    EXPECT_EQ(SizingAdjust(2, {0, 0, 1281, 10}, {0, 0}).bottom, 720);
    // Absurd rectangles saturate instead of overflowing.
    WinRect huge = SizingAdjust(6, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, {0, 0});
    EXPECT_EQ(huge.right, INT32_MAX);
}

TEST_F(SystemIniFile, AbsentShortGarbageAndRoundTrip) {
    // Absent: nothing is read, and the user folder's making writes the defaults.
    EXPECT_FALSE(Main_SystemIniRead());
    EXPECT_FALSE(fs::exists("user/777/system.ini"));
    Main_UserFolderMake();
    std::vector<uint8_t> want(64, 0);
    want[9] = 0x05, want[12] = 0xD0, want[13] = 0x02;  // 1280, 720
    EXPECT_EQ(iniBytes(), want);

    // A 10-byte file replaces only its own bytes.
    writeIni({100, 0, 0, 0, 200, 0, 0, 0, 0x20, 0x03});
    EXPECT_TRUE(Main_SystemIniRead());
    SystemIni b = Main_SystemIniGet();
    EXPECT_EQ(std::tie(b.x, b.y, b.width, b.height), std::tuple(100, 200, 800u, 720u));  // 0x0320

    // Garbage: sizes brought into 192x108 .. the primary display at 16:9, an
    // off-screen window re-centred, the full-screen byte read as a boolean.
    std::vector<uint8_t> junk(64, 0xAB);
    junk[8] = 0xA0, junk[9] = 0x86, junk[10] = 0x01, junk[11] = 0;  // width 100000
    junk[12] = junk[13] = junk[14] = junk[15] = 0;                   // height 0
    writeIni(junk);
    EXPECT_TRUE(Main_SystemIniRead());
    b = Main_SystemIniGet();
    EXPECT_EQ(std::tie(b.x, b.y, b.width, b.height), std::tuple((1920 - 192) / 2, (1080 - 108) / 2, 192u, 108u));
    EXPECT_EQ(b.fullScreen, 1);

    // Round trip, reserved bytes included; a window on the second display stays.
    SystemIni r;
    r.x = 2000, r.y = -8, r.width = 960, r.height = 540, r.fullScreen = 1, r.reserved[46] = 7;
    Main_SystemIniSet(r);
    Main_SystemIniWrite();
    std::vector<uint8_t> written = iniBytes();
    ASSERT_EQ(written.size(), 64u);
    Main_SystemIniSet(SystemIni{});
    EXPECT_TRUE(Main_SystemIniRead());
    Main_SystemIniWrite();
    EXPECT_EQ(iniBytes(), written);
    EXPECT_EQ(Main_SystemIniGet().x, 2000);
    EXPECT_EQ(Main_SystemIniGet().reserved[46], 7);
}

TEST_F(AppWindow, FullScreenStateMachine) {
    SystemIni before;
    before.x = 55, before.y = 66, before.width = 960, before.height = 540;
    Main_SystemIniSet(before);
    // Normal window, F2: maximise, which leads to full screen. The UI thread
    // keeps the windowed place and size when it maximises.
    FakeWindow::keys = BUTTON_FULLSCREEN;
    Main_WindowService();
    ASSERT_EQ(FakeWindow::posts.size(), 1u);
    EXPECT_EQ(FakeWindow::posts[0][0], WINDOW_REQ_MAXIMIZE);
    Main_WndProc({PWE_REQUEST, WINDOW_REQ_MAXIMIZE, 0, 0, 0, 0});

    // Maximised with full screen off: full screen on, resize pending until the
    // switch settles; nothing more is asked meanwhile.
    FakeWindow::keys = 0;
    FakeWindow::state = PLAT_WINDOW_MAXIMIZED;
    Main_WindowService();
    Main_WindowService();
    ASSERT_EQ(FakeWindow::posts.size(), 2u);
    EXPECT_EQ(FakeWindow::posts[1], (std::vector<int32_t>{WINDOW_REQ_FULLSCREEN, 1, 0, 0, 0}));
    EXPECT_EQ(WindowFlags & WINDOW_FULLSCREEN_ON, WINDOW_FULLSCREEN_ON);
    EXPECT_EQ(Main_SystemIniGet().fullScreen, 1);
    EXPECT_EQ(ResizePending, 1);
    EXPECT_TRUE(FakeWindow::resizes.empty());

    // The UI thread carries the switch out; at its next idle moment the
    // renderer is told.
    Main_WndProc({PWE_REQUEST, WINDOW_REQ_FULLSCREEN, 1, 0, 0, 0});
    Main_WndProc({PWE_IDLE, WindowRequest(0), 0, 0, 0, 0});
    Main_WindowService();
    EXPECT_EQ(FakeWindow::resizes, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}}));
    EXPECT_EQ(ResizePending, 0);

    // F2 while the option screen holds bit 1: nothing.
    WindowFlags |= WINDOW_F2_IGNORED;
    FakeWindow::keys = BUTTON_FULLSCREEN;
    Main_WindowService();
    EXPECT_EQ(FakeWindow::posts.size(), 2u);

    // F2 leaves full screen (also when SDL reports it as a normal window) and
    // returns to the last windowed place and size.
    WindowFlags &= uint8_t(~WINDOW_F2_IGNORED);
    FakeWindow::state = PLAT_WINDOW_NORMAL;
    Main_WindowService();
    ASSERT_EQ(FakeWindow::posts.size(), 3u);
    EXPECT_EQ(FakeWindow::posts[2], (std::vector<int32_t>{WINDOW_REQ_FULLSCREEN, 0, 0, 0, 0}));
    EXPECT_EQ(WindowFlags & WINDOW_FULLSCREEN_ON, 0);
    SystemIni a = Main_SystemIniGet();
    EXPECT_EQ(std::tie(a.x, a.y, a.width, a.height, a.fullScreen), std::tuple(55, 66, 960u, 540u, uint8_t(0)));
}

// A run that ends in full screen writes it to system.ini; the next start
// reads it, asks for the maximise, and the service turns it into full screen
// with the windowed place kept to return to. A windowed run asks nothing.
TEST_F(AppWindow, FullScreenComesBackFromSystemIniAfterARestart) {
    SystemIni windowed;
    windowed.x = 40, windowed.y = 30, windowed.width = 960, windowed.height = 540;
    Main_SystemIniSet(windowed);
    WindowFlags |= WINDOW_TAKE_POS;
    Main_WindowMaximise();  // the option screen's display plate
    FakeWindow::state = PLAT_WINDOW_MAXIMIZED;
    Main_WindowService();
    ASSERT_EQ(WindowFlags & WINDOW_FULLSCREEN_ON, WINDOW_FULLSCREEN_ON);
    Main_CloseNow();
    const std::vector<uint8_t> closed = iniBytes();
    ASSERT_EQ(closed.size(), 64u);
    EXPECT_EQ(closed[16], 1);
    EXPECT_EQ(closed[8] | closed[9] << 8, 960);

    // Started again: windowed, nothing known but the file.
    Main_WindowOpsSet(&kFakeOps);  // no switch under way
    WindowFlags = 0;
    FakeWindow::state = PLAT_WINDOW_NORMAL;
    FakeWindow::posts.clear();
    Main_SystemIniSet(SystemIni{});
    EXPECT_TRUE(Main_SystemIniRead());
    Main_FullScreenRestore();
    ASSERT_EQ(FakeWindow::posts.size(), 1u);
    EXPECT_EQ(FakeWindow::posts[0][0], WINDOW_REQ_MAXIMIZE);
    Main_WndProc({PWE_REQUEST, WINDOW_REQ_MAXIMIZE, 0, 0, 0, 0});
    FakeWindow::state = PLAT_WINDOW_MAXIMIZED;
    Main_WindowService();
    ASSERT_EQ(FakeWindow::posts.size(), 2u);
    EXPECT_EQ(FakeWindow::posts[1], (std::vector<int32_t>{WINDOW_REQ_FULLSCREEN, 1, 0, 0, 0}));
    EXPECT_EQ(WindowFlags & WINDOW_FULLSCREEN_ON, WINDOW_FULLSCREEN_ON);
    // Leaving full screen returns to the window of the run before.
    Main_FullScreenSet(0);
    SystemIni a = Main_SystemIniGet();
    EXPECT_EQ(std::tie(a.x, a.y, a.width, a.height, a.fullScreen), std::tuple(40, 30, 960u, 540u, uint8_t(0)));
    Main_CloseNow();
    EXPECT_EQ(iniBytes()[16], 0);

    // A windowed run starts windowed.
    WindowFlags = 0;
    FakeWindow::state = PLAT_WINDOW_NORMAL;
    FakeWindow::posts.clear();
    EXPECT_TRUE(Main_SystemIniRead());
    Main_FullScreenRestore();
    EXPECT_TRUE(FakeWindow::posts.empty());
}

TEST_F(AppWindow, SizeResetKey) {
    // F1 in a normal window: 1280x720 at the same place, the renderer at once.
    SystemIni b;
    b.x = 70, b.y = 80, b.width = 640, b.height = 360;
    Main_SystemIniSet(b);
    FakeWindow::keys = BUTTON_SIZE_RESET;
    ResizePending = 1;
    Main_WindowService();
    ASSERT_EQ(FakeWindow::posts.size(), 1u);
    EXPECT_EQ(FakeWindow::posts[0], (std::vector<int32_t>{WINDOW_REQ_MOVE, 70, 80, 1280, 720}));
    EXPECT_EQ(FakeWindow::resizes, (std::vector<std::pair<uint32_t, uint32_t>>{{1280, 720}}));
    EXPECT_EQ(ResizePending, 0);
    EXPECT_EQ(Main_SystemIniGet().width, 1280u);
}

TEST_F(AppWindow, MaximiseRequestAndMinimisedStateForTheOptionScreen) {
    Main_WindowMaximise();
    ASSERT_EQ(FakeWindow::posts.size(), 1u);
    EXPECT_EQ(FakeWindow::posts[0], (std::vector<int32_t>{WINDOW_REQ_MAXIMIZE, 0, 0, 0, 0}));
    EXPECT_FALSE(Main_WindowMinimised());
    FakeWindow::state = PLAT_WINDOW_MINIMIZED;
    EXPECT_TRUE(Main_WindowMinimised());
    FakeWindow::state = PLAT_WINDOW_NORMAL;
}

TEST_F(AppWindow, MinimisedLoopLeaves) {
    // Until the window comes back.
    FakeWindow::state = PLAT_WINDOW_MINIMIZED;
    FakeWindow::minimisedLooks = 4;
    Main_WindowService();
    EXPECT_EQ(FakeWindow::state, PLAT_WINDOW_NORMAL);

    // Or when the program quits while it is minimised.
    uint8_t run = RunState.load();
    FakeWindow::state = PLAT_WINDOW_MINIMIZED;
    RunState = RUN_QUIT;
    Main_WindowService();
    RunState = run;
    EXPECT_TRUE(FakeWindow::posts.empty());
}

TEST_F(AppWindow, CloseAsksOnceAndYesSavesAndDestroys) {
    // A question text longer than its buffer, in 3-byte characters.
    std::string longText;
    for (int i = 0; i < 60; ++i) longText += "\xE3\x81\x82";
    // One language, section 2 of 31 entries, entry 29 the text.
    std::vector<uint8_t> table(48 + 31 * 8, 0);
    table[0] = 1, table[4] = 31, table[16] = 31, table[48 + 29 * 8 + 4] = uint8_t(longText.size());
    table.insert(table.end(), longText.begin(), longText.end());
    MesTable saved = SystemMesTable;
    int32_t lang = TextLanguage.load();
    SystemMesTable = MesTable{table.data(), table.size()};
    TextLanguage = 0;

    PlatWindowEvent close{PWE_CLOSE, WindowRequest(0), 0, 0, 0, 0};
    Main_WndProc(close);
    Main_WndProc(close);
    ASSERT_TRUE(FakeWindow::waitFor([] { return FakeWindow::questions == 1; }, "the question"));
    Main_WndProc(close);
    EXPECT_EQ(FakeWindow::lastText.size(), 126u);  // 42 whole characters
    SystemMesTable = saved;
    TextLanguage = lang;

    // "No": the window stays, and once the answer is in a close asks again.
    FakeWindow::answerWith(0);
    ASSERT_TRUE(FakeWindow::waitFor([] { return FakeWindow::questions == 2; }, "the second question",
                                    [&close] { Main_WndProc(close); }));
    EXPECT_TRUE(FakeWindow::posts.empty());
    EXPECT_FALSE(fs::exists("user/777/system.ini"));

    SystemIni b;
    b.x = 33;
    Main_SystemIniSet(b);
    FakeWindow::answerWith(1);
    ASSERT_TRUE(FakeWindow::waitFor([] { return !FakeWindow::posts.empty(); }, "the window's destruction"));
    EXPECT_EQ(FakeWindow::posts[0][0], WINDOW_REQ_DESTROY);
    std::vector<uint8_t> ini = iniBytes();
    ASSERT_EQ(ini.size(), 64u);
    EXPECT_EQ(ini[0], 33);
    EXPECT_EQ(FakeWindow::questions, 2);
}

TEST_F(AppWindow, CloseWithoutConfirmationSavesAndDestroysAtOnce) {
    CloseConfirm = 0;
    Main_WndProc({PWE_REQUEST, WINDOW_REQ_CLOSE, 0, 0, 0, 0});
    ASSERT_EQ(FakeWindow::posts.size(), 1u);
    EXPECT_EQ(FakeWindow::posts[0][0], WINDOW_REQ_DESTROY);
    EXPECT_EQ(iniBytes().size(), 64u);
    EXPECT_EQ(FakeWindow::questions, 0);

    // The window's reset puts the question back: the next run asks first.
    Main_AppWindowReset();
    FakeWindow::posts.clear();
    Main_WndProc({PWE_REQUEST, WINDOW_REQ_CLOSE, 0, 0, 0, 0});
    ASSERT_TRUE(FakeWindow::waitFor([] { return FakeWindow::questions == 1; }, "the question"));
    EXPECT_TRUE(FakeWindow::posts.empty());
    FakeWindow::answerWith(1);
    ASSERT_TRUE(FakeWindow::waitFor([] { return !FakeWindow::posts.empty(); }, "the window's destruction"));
}

TEST_F(SystemIniFile, SizeFromALargerDisplayKeeps16By9) {
    // 1280x720, written on a larger display, read on a 1024x768 one: not 1024x720.
    FakeWindow::primary = PlatRect{0, 0, 1024, 768};
    writeIni({0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x05, 0, 0, 0xD0, 0x02, 0, 0});
    EXPECT_TRUE(Main_SystemIniRead());
    SystemIni b = Main_SystemIniGet();
    EXPECT_EQ(std::tie(b.width, b.height), std::tuple(1024u, 576u));
    // Taller than the display: the height leads.
    FakeWindow::primary = PlatRect{0, 0, 2560, 1000};
    Main_SystemIniSet(SystemIni{});
    writeIni({0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x0A, 0, 0, 0xA0, 0x05, 0, 0});  // 2560x1440
    EXPECT_TRUE(Main_SystemIniRead());
    b = Main_SystemIniGet();
    EXPECT_EQ(std::tie(b.width, b.height), std::tuple(1777u, 999u));
    // A size that fits is left as it is.
    writeIni({0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0x03, 0, 0, 0x1C, 0x02, 0, 0});  // 960x540
    EXPECT_TRUE(Main_SystemIniRead());
    b = Main_SystemIniGet();
    EXPECT_EQ(std::tie(b.width, b.height), std::tuple(960u, 540u));
}

TEST_F(AppWindow, FullScreenKeyIsTakenOncePerInputPoll) {
    // The service runs after every pass, several times between two polls,
    // while the pressed set lasts until the next poll.
    WindowOps withKeys = kFakeOps;
    withKeys.keysNewlyPressed = Main_WindowKeysNewlyPressed;
    Main_WindowOpsSet(&withKeys);
    InputButtonSets saved = InputButtons;
    const uint32_t keys = uint32_t(BUTTON_FULLSCREEN) | BUTTON_DECIDE;
    InputButtons = InputButtonSets{keys, keys};
    ++InputPollCount;
    Main_WindowService();
    Main_WindowService();
    EXPECT_EQ(FakeWindow::posts.size(), 1u);
    ++InputPollCount;  // the next frame's poll, the key pressed again
    Main_WindowService();
    EXPECT_EQ(FakeWindow::posts.size(), 2u);
    EXPECT_EQ(Main_WindowKeysNewlyPressed(), 0u);
    InputButtons = saved;
}

TEST_F(AppWindow, LostFullScreenRequestChangesNothingAndIsAskedAgain) {
    // Maximised, full screen off, and the UI queue full.
    FakeWindow::state = PLAT_WINDOW_MAXIMIZED;
    FakeWindow::queueFull = true;
    Main_WindowService();
    EXPECT_TRUE(FakeWindow::posts.empty());
    EXPECT_EQ(WindowFlags & WINDOW_FULLSCREEN_ON, 0);
    EXPECT_EQ(Main_SystemIniGet().fullScreen, 0);
    // The queue drains: the next pass switches.
    FakeWindow::queueFull = false;
    Main_WindowService();
    ASSERT_EQ(FakeWindow::posts.size(), 1u);
    EXPECT_EQ(FakeWindow::posts[0], (std::vector<int32_t>{WINDOW_REQ_FULLSCREEN, 1, 0, 0, 0}));
    EXPECT_EQ(WindowFlags & WINDOW_FULLSCREEN_ON, WINDOW_FULLSCREEN_ON);

    // Leaving, lost: still full screen, at the full-screen settings.
    FakeWindow::queueFull = true;
    EXPECT_EQ(Main_FullScreenSet(0), 1u);
    EXPECT_EQ(WindowFlags & WINDOW_FULLSCREEN_ON, WINDOW_FULLSCREEN_ON);
    EXPECT_EQ(Main_SystemIniGet().fullScreen, 1);
}

TEST_F(AppWindow, SwitchThatNeverSettlesIsWaitedForOnlySoLong) {
    FakeWindow::state = PLAT_WINDOW_MAXIMIZED;
    Main_WindowService();
    ASSERT_EQ(FakeWindow::posts.size(), 1u);
    // The request never reaches the window: F2 waits while the switch may
    // still be under way, then works again.
    FakeWindow::keys = BUTTON_FULLSCREEN;
    uint64_t frames = MainFrameCount.load();
    MainFrameCount = frames + 60;
    Main_WindowService();
    EXPECT_EQ(FakeWindow::posts.size(), 1u);
    MainFrameCount = frames + 200;
    Main_WindowService();
    MainFrameCount = frames;
    ASSERT_EQ(FakeWindow::posts.size(), 2u);
    EXPECT_EQ(FakeWindow::posts[1], (std::vector<int32_t>{WINDOW_REQ_FULLSCREEN, 0, 0, 0, 0}));
}

TEST_F(AppWindow, QuitFromOutsideClosesLikeAConfirmedClose) {
    // Ctrl-C or SIGTERM while closing would ask: no question, system.ini
    // written, the window taken down.
    SystemIni b;
    b.x = 44;
    Main_SystemIniSet(b);
    Main_WndProc({PWE_QUIT, WindowRequest(0), 0, 0, 0, 0});
    ASSERT_EQ(FakeWindow::posts.size(), 1u);
    EXPECT_EQ(FakeWindow::posts[0][0], WINDOW_REQ_DESTROY);
    std::vector<uint8_t> ini = iniBytes();
    ASSERT_EQ(ini.size(), 64u);
    EXPECT_EQ(ini[0], 44);
    EXPECT_EQ(FakeWindow::questions, 0);
}

// A FIFO in place of system.ini counts as missing: the window thread neither
// waits for a writer nor reads from it, and the defaults are written.
TEST_F(SystemIniFile, AFifoCountsAsMissing) {
    ASSERT_EQ(mkfifo("user/777/system.ini", 0644), 0);
    EXPECT_TRUE(EndsWithoutWaitingOn("user/777/system.ini", [] {
        EXPECT_FALSE(Main_SystemIniRead());
        Main_UserFolderMake();
    }));
    EXPECT_TRUE(fs::is_regular_file("user/777/system.ini"));
    EXPECT_EQ(iniBytes().size(), 64u);
    EXPECT_EQ(Main_SystemIniGet().width, 1280u);
}
}  // namespace
