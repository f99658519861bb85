// The whole program on a real X server (Xvfb, Mesa's software GLX), where the
// window changes size under it: full screen from system.ini, F2 on and off,
// and resizes from outside as a window manager makes them, each left to the
// program's own window events. After each change the window is read back from
// the server and must show the frame letterboxed into it, and the program must
// go on running. Beside the picture, what the present does: the program's
// first present at a new size (one side or both) swaps the whole window and
// its next frame comes whole; after a mark the window's size is asked after
// each of the next 30 presents and not otherwise, so a change carried out
// late is seen; a rectangle outside the window is swapped whole; an X error
// answering a present makes the next one a whole swap with one line and the
// program's next frame whole, and a second makes every later present whole.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/app_window.h"
#include "app/frame_skip.h"
#include "engine/core/engine_state.h"
#include "engine/render/renderer.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"
#include "platform/plat_window.h"
#include "tests/program/program_title.h"
#include "tests/program/x_server.h"
#include "tests/ui/screen_harness.h"

namespace {

using namespace program_title;

// The system.ini of a player who chose full screen.
void WriteFullScreenIni() {
    const std::string folder = "user/" + std::to_string(10000000000000000ull + ::getuid());
    std::filesystem::create_directories(folder);
    uint8_t bytes[64] = {};
    const uint32_t words[4] = {0, 0, 1280, 720};
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b) bytes[i * 4 + b] = uint8_t(words[i] >> (8 * b));
    bytes[16] = 1;
    std::ofstream(folder + "/system.ini", std::ios::binary).write(reinterpret_cast<char*>(bytes), sizeof bytes);
}

unsigned long WindowId() {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(static_cast<SDL_Window*>(Plat_WindowHandle()), &info)) return 0;
    return info.subsystem == SDL_SYSWM_X11 ? info.info.x11.window : 0;
}

// The connection the program's window and GL run on.
Display* ProgramDisplay() {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(static_cast<SDL_Window*>(Plat_WindowHandle()), &info)) return nullptr;
    return info.subsystem == SDL_SYSWM_X11 ? info.info.x11.display : nullptr;
}

// Presents `area` (game thread) and tells the window pixels it covered and
// the last request it made.
uint64_t PresentPart(Display* gl, PlatGLRect area, unsigned long* lastRequest = nullptr) {
    XLockDisplay(gl);
    const uint64_t before = Plat_GLPresentedPixels();
    Plat_GLPresentArea(area);
    if (lastRequest) *lastRequest = NextRequest(gl) - 1;
    XUnlockDisplay(gl);
    return Plat_GLPresentedPixels() - before;
}

// A window manager that carries a size change out late: after the mark the
// X server still has the old size for three questions, then the new one.
struct LateSize {
    int asked;
    int32_t oldW, oldH, newW, newH;
} g_lateSize{};
bool AskLateSize(int32_t* w, int32_t* h) {
    const bool late = ++g_lateSize.asked > 3;
    *w = late ? g_lateSize.newW : g_lateSize.oldW;
    *h = late ? g_lateSize.newH : g_lateSize.oldH;
    return true;
}

// What one read-back found: the window's size and the share of sampled
// pixels that differ from the frame letterboxed into it.
struct ReadBack {
    int width = 0, height = 0;
    double wrong = 1.0;
    std::string what;
};

// Reads the window from the server and the frame target from GL (game
// thread), and compares them on a grid: inside the picture's rectangle each
// window pixel against the frame pixel it is scaled from, outside it black.
ReadBack Compare(Display* display, unsigned long window) {
    ReadBack r;
    XWindowAttributes attr;
    if (!XGetWindowAttributes(display, window, &attr)) return r;
    r.width = attr.width;
    r.height = attr.height;
    XImage* image = XGetImage(display, window, 0, 0, unsigned(attr.width), unsigned(attr.height), AllPlanes, ZPixmap);
    if (!image) return r;
    std::vector<uint8_t> frame(size_t(kFrameWidth) * kFrameHeight * 4);
    const Renderer* renderer = *Lib_GetRenderer();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, renderer->frameFramebuffer);
    glReadPixels(0, 0, kFrameWidth, kFrameHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, renderer->windowFramebuffer);
    const ComposeRect vp = Lib_ComposeViewport(uint32_t(attr.width), uint32_t(attr.height), renderer->letterbox != 0);
    int samples = 0, wrong = 0;
    for (int y = 1; y < attr.height; y += 5) {
        for (int x = 2; x < attr.width; x += 5) {
            const unsigned long px = XGetPixel(image, x, y);
            const int got[3] = {int(px >> 16 & 0xFF), int(px >> 8 & 0xFF), int(px & 0xFF)};
            int want[3] = {0, 0, 0};
            const int fx = int((x - vp.left + 0.5) * kFrameWidth / vp.width);
            const int fy = int((y - vp.top + 0.5) * kFrameHeight / vp.height);
            if (x >= vp.left && x < vp.left + vp.width && y >= vp.top && y < vp.top + vp.height) {
                // The frame keeps its top row first.
                const uint8_t* f = &frame[(size_t(std::min(fy, int(kFrameHeight) - 1)) * kFrameWidth +
                                           size_t(std::min(fx, int(kFrameWidth) - 1))) * 4];
                for (int c = 0; c < 3; ++c) want[c] = f[c];
            }
            ++samples;
            int far = 0;
            for (int c = 0; c < 3; ++c) far = std::max(far, std::abs(got[c] - want[c]));
            if (far > 48) ++wrong;
        }
    }
    XDestroyImage(image);
    r.wrong = samples ? double(wrong) / samples : 1.0;
    r.what = std::to_string(r.width) + "x" + std::to_string(r.height) + ": " + std::to_string(wrong) + " of " +
             std::to_string(samples) + " samples off the letterboxed frame";
    return r;
}

struct EnvSwap {
    std::string name;
    std::string old;
    bool had;
    EnvSwap(const char* n, const std::string& value) : name(n) {
        const char* o = std::getenv(n);
        had = o != nullptr;
        if (o) old = o;
        ::setenv(n, value.c_str(), 1);
    }
    ~EnvSwap() {
        if (had)
            ::setenv(name.c_str(), old.c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
};

TEST(WindowX11Program, FullScreenF2AndResizesShowTheFrameLetterboxedAndTheProgramGoesOn) {
    // SDL picks its video driver once a process: after a headless test in
    // the same process the program would not reach X.
    if (SDL_WasInit(SDL_INIT_VIDEO) && std::strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0)
        GTEST_SKIP() << "SDL's video already runs on another driver in this process (the test needs one of its own)";
    // A screen wider than the picture: full screen changes the width alone.
    x_server::Server server(1600, 720);
    if (!server.Started()) GTEST_SKIP() << "no X server could be started (Xvfb): " << server.Error();
    EnvSwap display("DISPLAY", server.Name());
    EnvSwap driver("SDL_VIDEODRIVER", "x11");

    Display* x = nullptr;
    unsigned long window = 0;
    std::vector<ReadBack> seen;
    std::vector<ProgramRun::Step> steps;
    // The window's size held for a number of frames with `also` true.
    auto settled = [](std::function<bool(int, int)> also) {
        return [also, last = std::pair<int, int>{}, frames = 0]() mutable {
            uint32_t w = 0, h = 0;
            Plat_GLDrawableSize(&w, &h);
            const std::pair<int, int> now{int(w), int(h)};
            frames = now == last && also(now.first, now.second) ? frames + 1 : 0;
            last = now;
            return frames > 12;
        };
    };
    auto fullScreen = [](int w, int h) { return (WindowFlags.load() & WINDOW_FULLSCREEN_ON) && w == 1600 && h == 720; };
    auto windowed = [](int, int) { return !(WindowFlags.load() & WINDOW_FULLSCREEN_ON); };
    auto look = [&](const char* label, std::function<bool()> until) {
        return ProgramRun::Step{label, [&, label, until]() mutable {
                                    if (!until()) return false;
                                    XSync(x, False);
                                    seen.push_back(Compare(x, window));
                                    seen.back().what = std::string(label) + ", " + seen.back().what;
                                    return true;
                                },
                                nullptr, 900};
    };
    // F2 until full screen is `on`: a press while the last switch still
    // settles is not taken (on a busy machine that can last many frames), so
    // it is pressed again every so often until the switch is asked for.
    auto f2 = [&steps](bool on) {
        auto reached = [on] { return bool(WindowFlags.load() & WINDOW_FULLSCREEN_ON) == on; };
        for (int i = 0; i < 10; ++i) {
            steps.push_back({"F2", [reached, frames = 0]() mutable { return reached() || ++frames > 30; },
                             [reached](PlatInputState& in) {
                                 if (!reached()) Press(in, BUTTON_FULLSCREEN);
                             }});
            steps.push_back({"let go", nullptr, [](PlatInputState&) {}});
        }
        steps.push_back({on ? "F2 to full screen" : "F2 to a window", reached, nullptr, 300});
    };
    // What a present did that it must not have, found on the game thread.
    std::vector<std::string> presentFaults;
    // A resize from outside, as a window manager or the user makes it; the
    // program hears of it by its own window events.
    auto resize = [&](const char* label, int w, int h, std::function<bool()> when) {
        return ProgramRun::Step{label, [&x, &window, w, h, when] {
                                    if (!when()) return false;
                                    XResizeWindow(x, window, unsigned(w), unsigned(h));
                                    XSync(x, False);
                                    return true;
                                },
                                nullptr};
    };
    // After the program's present at a new size (the first that covers the
    // w×h window whole: at a new size it swaps the whole window, whatever
    // changed) or after its failed present (`first` false: it came in the
    // frame before this step), the next frame is drawn whole and presented
    // whole although nothing in it changed.
    struct Seen {
        uint64_t presents, pixels, drawnWhole;
    };
    auto seenNow = [] { return Seen{Plat_GLPresents(), Plat_GLPresentedPixels(), FrameDamageCounted.whole}; };
    auto nextFrameWhole = [&](const char* label, int w, int h, bool first) {
        return ProgramRun::Step{label, [&, label, w, h, phase = first ? 0 : 2, last = Seen{}]() mutable {
                                    const Seen now = seenNow();
                                    const bool whole = now.presents == last.presents + 1 &&
                                                       now.pixels - last.pixels == uint64_t(w) * uint64_t(h);
                                    const bool drawnWhole = now.drawnWhole == last.drawnWhole + 1;
                                    last = now;
                                    if (phase == 0 || phase == 2) {  // this step's first frame
                                        ++phase;
                                        return false;
                                    }
                                    if (phase == 1) {
                                        if (whole) phase = 3;
                                        return false;
                                    }
                                    if (!whole || !drawnWhole)
                                        presentFaults.push_back(std::string(label) + ": the next frame was not whole");
                                    return true;
                                },
                                nullptr, 300};
    };
    // Xvfb has no window manager: the test gives the full-screen window the
    // screen's size as one would.
    auto fullScreenAsked = [] { return bool(WindowFlags.load() & WINDOW_FULLSCREEN_ON); };

    // What the program tells from the first resize on. A resize can beat
    // the program's own hearing of it, and the present then made at the old
    // size may fail for real before the planted errors below.
    bool capturing = false;
    std::string errorLines;
    ToTitleMenu(steps);
    steps.push_back({"the window found", [&] {
                         if (!x) x = XOpenDisplay(nullptr);
                         if (!window) window = WindowId();
                         if (x && window && !capturing) {
                             testing::internal::CaptureStderr();
                             capturing = true;
                         }
                         return x && window;
                     },
                     nullptr});
    steps.push_back(resize("full screen from system.ini", 1600, 720, fullScreenAsked));
    steps.push_back(nextFrameWhole("full screen from system.ini", 1600, 720, true));
    steps.push_back(look("full screen from system.ini", settled(fullScreen)));
    f2(false);
    steps.push_back(look("windowed by F2", settled(windowed)));
    f2(true);
    steps.push_back(resize("full screen by F2", 1600, 720, fullScreenAsked));
    steps.push_back(nextFrameWhole("full screen by F2", 1600, 720, true));
    steps.push_back(look("full screen by F2", settled(fullScreen)));
    f2(false);
    steps.push_back(look("windowed again", settled(windowed)));
    steps.push_back(resize("a smaller window", 960, 540, [] { return true; }));
    steps.push_back(nextFrameWhole("a smaller window", 960, 540, true));
    steps.push_back(look("resized to 960x540", settled([](int w, int h) { return w == 960 && h == 540; })));
    // The window keeps the picture's shape: the height follows the width
    // (while the present may already see the window it made).
    steps.push_back(resize("a larger window", 1200, 700, [] { return true; }));
    steps.push_back(look("resized to 1200 wide", settled([](int w, int) { return w == 1200; })));
    steps.push_back({"a change carried out late: the size asked after each of 30 presents, then not", [&] {
                         Display* gl = ProgramDisplay();
                         uint32_t w = 0, h = 0;
                         Plat_GLDrawableSize(&w, &h);
                         g_lateSize = LateSize{0, int32_t(w), int32_t(h), int32_t(w), int32_t(h) - 75};
                         Plat_GLSizeQuerySet(AskLateSize);
                         Plat_GLWindowChanged();
                         std::string asked;  // a present that asked: 'A'
                         for (int i = 0; i < 40; ++i) {
                             const int before = g_lateSize.asked;
                             const uint64_t got = PresentPart(gl, PlatGLRect{0, 0, 8, 8});
                             asked += g_lateSize.asked == before ? '.' : 'A';
                             const uint64_t want = i == 3 ? uint64_t(w) * (h - 75) : 64;
                             if (got != want || Plat_GLWholeFrameDue() != (i == 3))
                                 presentFaults.push_back("present " + std::to_string(i + 1) + " after the mark covered " +
                                                         std::to_string(got) + " pixels");
                         }
                         if (asked != std::string(31, 'A') + std::string(9, '.'))
                             presentFaults.push_back("the presents after a mark asked the size: " + asked);
                         // The server's own answer again, and a present at that size.
                         Plat_GLSizeQuerySet(nullptr);
                         PresentPart(gl, PlatGLRect{0, 0, 8, 8});
                         return true;
                     },
                     nullptr});
    steps.push_back({"a present outside the window, then X errors answering presents", [&] {
                         Display* gl = ProgramDisplay();
                         uint32_t w = 0, h = 0;
                         Plat_GLDrawableSize(&w, &h);
                         const uint64_t whole = uint64_t(w) * h;
                         auto fault = [&](bool bad, const std::string& what) {
                             if (bad) presentFaults.push_back(what);
                         };
                         // Across it fits, upward it does not.
                         const uint64_t outside = PresentPart(gl, PlatGLRect{0, int32_t(h) - 4, 8, 8});
                         fault(outside != whole || Plat_GLWholeFrameDue(), "a rectangle out of the window's top");
                         // The handler the platform installed, as Xlib calls it.
                         const auto installed = reinterpret_cast<XErrorHandler>(Plat_GLXErrorHandler());
                         if (!installed) {
                             fault(true, "no X error handler installed");
                             return true;
                         }
                         XErrorEvent error{};
                         error.display = gl;
                         error.error_code = BadValue;
                         error.request_code = 130;
                         error.minor_code = 3;
                         fault(PresentPart(gl, PlatGLRect{0, 0, 8, 8}, &error.serial) != 64, "a part present");
                         installed(gl, &error);
                         fault(PresentPart(gl, PlatGLRect{0, 0, 8, 8}, &error.serial) != whole ||
                                   !Plat_GLWholeFrameDue(),
                               "the present after a failed part");
                         // The next present, the program's own, finds this one.
                         installed(gl, &error);
                         // The program draws its next frame whole, as after an expose.
                         Lib_RenderTouch();
                         return true;
                     },
                     nullptr});
    steps.push_back({"the program's present after a failed whole swap", [&, presents = uint64_t(0)]() mutable {
                         if (presents == 0) presents = Plat_GLPresents();
                         if (Plat_GLPresents() == presents) return false;
                         if (Plat_GLPresentMode() != PRESENT_SWAP || !Plat_GLWholeFrameDue())
                             presentFaults.push_back("the program's present after a failed whole swap");
                         errorLines = testing::internal::GetCapturedStderr();
                         capturing = false;
                         return true;
                     },
                     nullptr, 30});
    steps.push_back(nextFrameWhole("the frame after a failed present", 1200, 675, false));
    steps.push_back(look("whole swaps after two failed presents", settled(windowed)));
    // A window someone sees: the settings written as a close writes them
    // keep its last size.
    steps.push_back({"the settings written", [] {
                         Main_SystemIniWrite();
                         return true;
                     },
                     nullptr});

    ProgramRun run;
    run.before = WriteFullScreenIni;
    std::string ini;
    run.after = [&ini] {
        std::ifstream in("user/" + std::to_string(10000000000000000ull + ::getuid()) + "/system.ini", std::ios::binary);
        ini.assign(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(run.Run(steps), 0);
    EXPECT_EQ(run.failed, "");
    if (capturing) errorLines = testing::internal::GetCapturedStderr();
    std::fputs(errorLines.c_str(), stderr);
    if (x) XCloseDisplay(x);
    ASSERT_EQ(seen.size(), 7u);
    for (const ReadBack& r : seen) std::printf("%s\n", r.what.c_str());
    for (const ReadBack& r : seen) EXPECT_LT(r.wrong, 0.02) << r.what;
    for (const std::string& f : presentFaults) ADD_FAILURE() << f;
    ASSERT_EQ(ini.size(), 64u);
    auto word = [&ini](int at) {
        uint32_t v = 0;
        for (int b = 0; b < 4; ++b) v |= uint32_t(uint8_t(ini[size_t(at + b)])) << (8 * b);
        return v;
    };
    EXPECT_EQ(word(8), 1200u);
    EXPECT_EQ(word(12), 675u);
    EXPECT_EQ(ini[16], 0) << "written windowed";
    // A failed present is told once, the planted one or a real one before
    // it; a failed whole swap is told each time, and the planted one last.
    std::vector<std::string> told;
    for (size_t at = 0, end; (end = errorLines.find('\n', at)) != std::string::npos; at = end + 1)
        if (errorLines.compare(at, 22, "vn: a present failed (") == 0) told.push_back(errorLines.substr(at, end - at));
    const std::string once = "; presenting the whole window";
    int onceTold = 0;
    for (const std::string& line : told)
        onceTold += line.size() > once.size() && line.compare(line.size() - once.size(), once.size(), once) == 0;
    EXPECT_EQ(onceTold, 1) << errorLines;
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back(), "vn: a present failed (X error 2, request 130.3); presenting the whole window from now on");
}

}  // namespace
