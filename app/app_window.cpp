#include "app/app_window.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/frame.h"
#include "engine/files/file_loader.h"
#include "engine/files/message_table.h"
#include "engine/movie/movie.h"
#include "engine/input/input.h"
#include "engine/render/renderer.h"
#include "platform/plat_gl.h"
#include "platform/plat_input.h"
#include "platform/plat_msg.h"
#include "platform/plat_store.h"
#include "platform/plat_time.h"

std::atomic<uint8_t> ResizePending{0};
std::atomic<uint8_t> CloseConfirm{1};

namespace {
constexpr int32_t kCloseTextSection = 2;
constexpr int32_t kCloseQuestionIndex = 29;
constexpr int32_t kCloseCaptionIndex = 30;
constexpr uint32_t kCloseTextSize = 128;
constexpr int kMaxDisplays = 16;
// How much of a saved window must lie on some display to be left where it is.
constexpr int64_t kMinVisible = 32;
// Frames a posted full-screen switch may take to settle before the window
// service stops waiting for it.
constexpr uint64_t kSwitchBoundFrames = 120;

// What full screen returns to lives under SystemIniMutex with the settings
// block; the lock also keeps writers of system.ini apart.
// process-wide (SavedWindowPos, SavedWindowSize): read from system.ini by Main_AppStart
int32_t SavedWindowPos[2] = {0, 0};
uint32_t SavedWindowSize[2] = {1280, 720};
// On a driver that shows no window, the window's place and size as the
// player's system.ini had them (unchecked), written back in its place: a
// window no one sees sets nothing of the player's. Under SystemIniMutex.
bool g_windowUnseen = false;
SystemIni g_iniAsRead;

std::atomic<int32_t> g_stateSeen{PLAT_WINDOW_NORMAL};
// A full-screen switch is posted and not yet settled on the UI thread.
std::atomic<bool> g_switching{false};
std::atomic<uint64_t> g_switchFrame{0};  // MainFrameCount when the switch was posted
std::atomic<bool> g_questionOpen{false};

// UI thread only.
bool g_geomDirty = false;
bool g_settling = false;
WinSize g_fixFrom{-1, -1};  // the size last corrected, to notice a window manager that keeps it

PlatWindowState realState() { return PlatWindowState(g_stateSeen.load(std::memory_order_acquire)); }

void realResize(uint32_t width, uint32_t height) {
    Renderer* renderer = *Lib_GetRenderer();
    if (!renderer) return;
    renderer->letterbox = (WindowFlags.load() & WINDOW_FULLSCREEN_ON) && realState() != PLAT_WINDOW_MINIMIZED;
    Lib_ResizeTarget(renderer, width, height);
}

bool realTakeMessage() { return kMainPassOps.takeMessage(); }

const WindowOps kRealOps = {realState,     Main_WindowKeysNewlyPressed, Plat_PostWindowRequest, realResize,
                            realTakeMessage, Plat_AskYesNo,             Plat_DisplayBounds};
// process-wide: a test seam (Main_WindowOpsSet)
std::atomic<const WindowOps*> g_ops{&kRealOps};

const WindowOps& ops() { return *g_ops.load(std::memory_order_acquire); }

// --- system.ini ----------------------------------------------------------------

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

void encodeIni(const SystemIni& b, uint8_t out[kSystemIniSize]) {
    put32(out, uint32_t(b.x));
    put32(out + 4, uint32_t(b.y));
    put32(out + 8, b.width);
    put32(out + 12, b.height);
    out[16] = b.fullScreen;
    std::memcpy(out + 17, b.reserved, sizeof b.reserved);
}

SystemIni decodeIni(const uint8_t in[kSystemIniSize]) {
    SystemIni b;
    b.x = int32_t(get32(in));
    b.y = int32_t(get32(in + 4));
    b.width = get32(in + 8);
    b.height = get32(in + 12);
    b.fullScreen = in[16];
    std::memcpy(b.reserved, in + 17, sizeof b.reserved);
    return b;
}

// Makes values read from the file usable: a size between the minimum and the
// primary display, a window that some display shows, a boolean full screen.
// A size that has to be brought into range becomes the largest 16:9 size
// that fits, so that the picture is never stretched out of shape.
void checkIni(SystemIni* b, const PlatRect* displays, int count) {
    uint32_t maxW = 16384, maxH = 16384;
    if (count > 0) {
        maxW = uint32_t(std::max(displays[0].w, kWindowMinWidth));
        maxH = uint32_t(std::max(displays[0].h, kWindowMinHeight));
    }
    uint32_t w = std::clamp(b->width, uint32_t(kWindowMinWidth), maxW);
    uint32_t h = std::clamp(b->height, uint32_t(kWindowMinHeight), maxH);
    if (w != b->width || h != b->height) {
        w = std::min<uint64_t>(w, uint64_t(h) * 1280 / 720);
        h = uint32_t(uint64_t(w) * 720 / 1280);
        if (w < uint32_t(kWindowMinWidth) || h < uint32_t(kWindowMinHeight)) {
            w = kWindowMinWidth;
            h = kWindowMinHeight;
        }
    }
    b->width = w;
    b->height = h;
    b->fullScreen = b->fullScreen != 0;
    for (int i = 0; i < count; ++i) {
        const PlatRect& d = displays[i];
        int64_t across = std::min<int64_t>(int64_t(b->x) + b->width, int64_t(d.x) + d.w) - std::max<int64_t>(b->x, d.x);
        int64_t down = std::min<int64_t>(int64_t(b->y) + b->height, int64_t(d.y) + d.h) - std::max<int64_t>(b->y, d.y);
        if (across >= kMinVisible && down >= kMinVisible) return;
    }
    if (count > 0) {
        b->x = displays[0].x + (displays[0].w - int32_t(b->width)) / 2;
        b->y = displays[0].y + (displays[0].h - int32_t(b->height)) / 2;
    }
}

bool iniName(char* name, size_t size) {
    int n = std::snprintf(name, size, "%s%s/%s", "user/", UserId, "system.ini");
    return n > 0 && size_t(n) < size;
}

void makeFolder(const char* name) {
    char path[1024];
    if (Lib_FileMakePath(name, path, sizeof path) && ::mkdir(path, 0755) != 0 && errno != EEXIST)
        Lib_WriteRefusalTell(path, errno);
}

// Reads system.ini into the settings block, its values checked against the
// displays; false, and the block as it was, when there is no file to read.
bool iniRead() {
    char name[kFileNameSize];
    char path[1024];
    if (!iniName(name, sizeof name)) return false;
    // A FIFO or other special file counts as missing rather than blocking the window thread.
    int fd = Lib_FileMakePath(name, path, sizeof path) ? Lib_FileOpenRegular(path) : -1;
    if (fd < 0) return false;
    uint8_t file[kSystemIniSize];
    size_t got = 0;
    while (got < kSystemIniSize) {
        ssize_t n = ::read(fd, file + got, kSystemIniSize - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    ::close(fd);
    PlatRect displays[kMaxDisplays];
    int count = std::clamp(ops().displays(displays, kMaxDisplays), 0, kMaxDisplays);
    std::lock_guard lock(SystemIniMutex);
    // A short file replaces only the bytes it has.
    uint8_t bytes[kSystemIniSize];
    encodeIni(SystemIniBlock, bytes);
    std::memcpy(bytes, file, got);
    SystemIni b = decodeIni(bytes);
    g_iniAsRead = b;
    checkIni(&b, displays, count);
    SystemIniBlock = b;
    return true;
}

// Whether system.ini is on disk as a regular file.
bool iniOnDisk() {
    char name[kFileNameSize];
    char path[1024];
    int fd = iniName(name, sizeof name) && Lib_FileMakePath(name, path, sizeof path) ? Lib_FileOpenRegular(path) : -1;
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

// --- Sizing --------------------------------------------------------------------

int32_t sat32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// trunc(v * num / den) in single precision, multiplication first.
int64_t scaled(int64_t v, float num, float den) {
    float f = float(v) * num / den;
    return int64_t(std::clamp(f, -4e18f, 4e18f));
}

void Main_WinFrameSizeGet(int32_t* left, int32_t* top, WinSize* frame) {
    int32_t right, bottom;
    Plat_WindowFrameSize(left, top, &right, &bottom);
    *frame = WinSize{*left + right, *top + bottom};
}

// What full screen returns to: the last normal window.
void saveWindowed() {
    std::lock_guard lock(SystemIniMutex);
    SavedWindowPos[0] = SystemIniBlock.x;
    SavedWindowPos[1] = SystemIniBlock.y;
    SavedWindowSize[0] = SystemIniBlock.width;
    SavedWindowSize[1] = SystemIniBlock.height;
}

// On the UI thread once the queue is drained: keeps a normal window at 16:9
// and records its place and size.
void recordGeometry() {
    if (!g_geomDirty) return;
    g_geomDirty = false;
    if (!Plat_WindowExists() || g_switching.load() || (WindowFlags.load() & WINDOW_FULLSCREEN_ON) ||
        Plat_WindowState() != PLAT_WINDOW_NORMAL)
        return;
    PlatRect c;
    Plat_WindowGetRect(&c);
    if (c.w <= 0 || c.h <= 0) return;
    int32_t left, top;
    WinSize frame;
    Main_WinFrameSizeGet(&left, &top, &frame);
    WinRect r{c.x - left, c.y - top, c.x - left + c.w + frame.w, c.y - top + c.h + frame.h};
    SystemIni b = Main_SystemIniGet();
    // The new size does not say which edge moved; what changed does.
    bool wide = uint32_t(c.w) != b.width, high = uint32_t(c.h) != b.height;
    int32_t edge = wide && high ? 8 : wide ? 2 : high ? 6 : 0;
    if (c.w == g_fixFrom.w && c.h == g_fixFrom.h) edge = 0;
    WinRect a = SizingAdjust(edge, r, frame);
    int32_t w = a.right - a.left - frame.w, h = a.bottom - a.top - frame.h;
    g_fixFrom = WinSize{-1, -1};
    if (w != c.w || h != c.h) {
        g_fixFrom = WinSize{c.w, c.h};
        Plat_WindowSetSize(w, h);
    }
    std::lock_guard lock(SystemIniMutex);
    SystemIniBlock.x = a.left;
    SystemIniBlock.y = a.top;
    SystemIniBlock.width = uint32_t(w);
    SystemIniBlock.height = uint32_t(h);
}

// --- Full screen and closing (UI thread) -----------------------------------------

void switchFullScreen(bool on) {
    Plat_WindowFullScreen(on);
    if (!on) {
        Plat_WindowRestore();
        SystemIni b = Main_SystemIniGet();
        int32_t left, top;
        WinSize frame;
        Main_WinFrameSizeGet(&left, &top, &frame);
        Plat_WindowSetRect(PlatRect{b.x + left, b.y + top, int32_t(b.width), int32_t(b.height)});
    }
    Plat_SleepMs(100);
    g_settling = true;
}

struct CloseQuestion {
    char text[kCloseTextSize];
    char caption[kCloseTextSize];
};

void Main_CloseConfirmThread(CloseQuestion q, const WindowOps* with) {
    int answer = with->ask(q.text, q.caption);
    if (answer < 0) std::fprintf(stderr, "vn: the close question could not be shown; closing\n");
    if (answer != 0) {
        // The window is going: no further question.
        Main_CloseNow();
        return;
    }
    g_questionOpen.store(false, std::memory_order_release);
}

void closeRequest() {
    if (CloseConfirm.load() == 0) {
        Main_CloseNow();
        return;
    }
    if (g_questionOpen.exchange(true, std::memory_order_acq_rel)) return;
    // The texts are copied here, so the question never reads a shared buffer.
    CloseQuestion q;
    Lib_MesGetBuf(nullptr, kCloseTextSection, kCloseQuestionIndex, -1, q.text, sizeof q.text);
    Lib_MesGetBuf(nullptr, kCloseTextSection, kCloseCaptionIndex, -1, q.caption, sizeof q.caption);
    try {
        std::thread(Main_CloseConfirmThread, q, &ops()).detach();
    } catch (const std::system_error&) {
        std::fprintf(stderr, "vn: the close question could not be started\n");
        g_questionOpen.store(false);
    }
}

void handleRequest(const PlatWindowEvent& ev) {
    int32_t left, top;
    WinSize frame;
    switch (ev.req) {
        case WINDOW_REQ_CLOSE:
            closeRequest();
            break;
        case WINDOW_REQ_DESTROY:
            // The window itself stays until the game thread, which draws into
            // it, has ended (Main_AppEnd).
            Plat_WindowHide();
            Plat_PostQuit();
            break;
        case WINDOW_REQ_MAXIMIZE:
            if (!(WindowFlags.load() & WINDOW_FULLSCREEN_ON)) saveWindowed();
            Plat_WindowMaximize();
            break;
        case WINDOW_REQ_MOVE:
            Main_WinFrameSizeGet(&left, &top, &frame);
            Plat_WindowSetRect(PlatRect{ev.a + left, ev.b + top, ev.c, ev.d});
            break;
        case WINDOW_REQ_SHOW:
            if (ev.a == 1)
                Plat_WindowMaximize();
            else if (ev.a == 2)
                Plat_WindowMinimize();
            else
                Plat_WindowRestore();
            break;
        case WINDOW_REQ_FULLSCREEN:
            switchFullScreen(ev.a != 0);
            break;
    }
}
}  // namespace

// --- Interfaces ------------------------------------------------------------------

WinRect SizingAdjust(int32_t edge, WinRect r, WinSize f) {
    int64_t cw = int64_t(r.right) - r.left - f.w, ch = int64_t(r.bottom) - r.top - f.h;
    WinRect a = r;
    switch (edge) {
        case 1: case 2: case 8: a.bottom = sat32(int64_t(r.top) + f.h + scaled(cw, 720.0f, 1280.0f)); break;
        case 3: case 6: a.right = sat32(int64_t(r.left) + f.w + scaled(ch, 1280.0f, 720.0f)); break;
        case 4: case 7: a.left = sat32(int64_t(r.right) - f.w - scaled(ch, 1280.0f, 720.0f)); break;
        case 5: a.top = sat32(int64_t(r.bottom) - f.h - scaled(cw, 720.0f, 1280.0f)); break;
        default: return r;
    }
    if (int64_t(a.right) - a.left - f.w >= kWindowMinWidth && int64_t(a.bottom) - a.top - f.h >= kWindowMinHeight)
        return a;
    // Too small: back to the proposal, with only the dragged edges at the minimum.
    a = r;
    if (edge == 1 || edge == 4 || edge == 7) a.left = sat32(int64_t(r.right) - f.w - kWindowMinWidth);
    if (edge == 2 || edge == 5 || edge == 8) a.right = sat32(int64_t(r.left) + kWindowMinWidth + f.w);
    if (edge == 3 || edge == 4 || edge == 5) a.top = sat32(int64_t(r.bottom) - f.h - kWindowMinHeight);
    if (edge == 6 || edge == 7 || edge == 8) a.bottom = sat32(int64_t(r.top) + kWindowMinHeight + f.h);
    return a;
}

bool Main_SystemIniRead() { return iniRead(); }

void Main_SystemIniWrite() {
    char name[kFileNameSize];
    if (!iniName(name, sizeof name)) return;
    std::lock_guard lock(SystemIniMutex);
    SystemIni b = SystemIniBlock;
    if (g_windowUnseen) {
        b.x = g_iniAsRead.x;
        b.y = g_iniAsRead.y;
        b.width = g_iniAsRead.width;
        b.height = g_iniAsRead.height;
    }
    uint8_t bytes[kSystemIniSize];
    encodeIni(b, bytes);
    if (Lib_FileSave(name, bytes, kSystemIniSize)) return;
    const int refusal = errno;
    char path[1024];
    if (!Lib_FileMakePath(name, path, sizeof path)) std::snprintf(path, sizeof path, "%s", name);
    Lib_WriteRefusalTell(path, refusal);
}

void Main_UserFolderMake() {
    char folder[kFileNameSize];
    std::snprintf(folder, sizeof folder, "%s%s", "user/", UserId);
    makeFolder("user/");
    makeFolder(folder);
    if (!iniOnDisk()) Main_SystemIniWrite();
}

void Main_CloseNow() {
    Main_SystemIniWrite();
    // A destroy request lost to a full queue must not keep the program alive.
    if (!ops().post(WINDOW_REQ_DESTROY, 0, 0, 0, 0)) Plat_PostQuit();
}

void Main_AppWindowReset() {
    ResizePending.store(0);
    CloseConfirm.store(1);
    g_stateSeen.store(PLAT_WINDOW_NORMAL);
    g_switching.store(false);
    g_switchFrame.store(0);
    g_questionOpen.store(false);
    g_geomDirty = false;
    g_settling = false;
    g_fixFrom = WinSize{-1, -1};
    std::lock_guard lock(SystemIniMutex);
    g_windowUnseen = false;
    g_iniAsRead = SystemIni{};
}

void Main_WindowOpsSet(const WindowOps* with) {
    g_ops.store(with ? with : &kRealOps, std::memory_order_release);
    g_switching.store(false);
    g_questionOpen.store(false);
    g_settling = false;
}

uint32_t Main_WindowKeysNewlyPressed() {
    // The newly-pressed set lasts until the next frame's input poll, while
    // the service runs after every pass: take a press once, or one F2 could
    // switch full screen on and off again before the frame ends.
    static uint32_t takenAtPoll = ~0u;
    if (InputPollCount == takenAtPoll) return 0;
    takenAtPoll = InputPollCount;
    return InputButtons.pressed & (BUTTON_SIZE_RESET | BUTTON_FULLSCREEN);
}

bool Main_AppStart() {
    Store_Init();
    std::snprintf(UserId, sizeof UserId, "%s", "00000000000000000");
    if (uint64_t id = Store_UserId()) std::snprintf(UserId, sizeof UserId, "%lld", (long long)id);

    {
        std::lock_guard lock(SystemIniMutex);
        SystemIniBlock = SystemIni{};
        g_iniAsRead = SystemIni{};
        SavedWindowPos[0] = SavedWindowPos[1] = 0;
    }
    if (!Plat_VideoInit()) {
        std::fprintf(stderr, "vn: the video system could not start: %s\n", Plat_LastError());
        return false;
    }
    // Read only: nothing is written before the start has succeeded
    // (Main_UserFolderMake).
    Main_SystemIniRead();
    SystemIni ini = Main_SystemIniGet();
    {
        std::lock_guard lock(SystemIniMutex);
        g_windowUnseen = !Plat_VideoShowsWindow();
        SavedWindowSize[0] = ini.width;
        SavedWindowSize[1] = ini.height;
    }

    Plat_GLSetAttributes();
    if (!Plat_WindowCreate("Initializing", ini.x, ini.y, ini.width, ini.height)) {
        std::fprintf(stderr, "vn: the window could not be created: %s\n", Plat_LastError());
        return false;
    }
    if (!Plat_GLCreateContext(Plat_WindowHandle())) {
        Plat_GLFatal(Plat_GLError());
        return false;
    }
    // The game thread makes the context current and owns every GL call.
    Plat_GLReleaseCurrent();
    // No input method: keys come to the game as they are.
    Plat_TextInputOff();
    Plat_WindowSetMinSize(kWindowMinWidth, kWindowMinHeight);
    g_stateSeen.store(Plat_WindowState());
    Plat_SetWindowEventHandler(Main_WndProc);
    // Keyboard, mouse and pad events feed the input snapshot.
    Plat_InputStart();
    Plat_SetUiEventHandler(Plat_InputEvent);
    // Raising the process priority needs privileges a game does not have: not done.
    return true;
}

void Main_AppEnd() {
    Plat_SetUiEventHandler(nullptr);
    Plat_InputStop();
    Plat_GLDestroyContext();
    Plat_VideoQuit();
}

void Main_WndProc(const PlatWindowEvent& ev) {
    switch (ev.kind) {
        case PWE_SIZE_CHANGED:
            ResizePending.store(1);
            g_geomDirty = true;
            break;
        case PWE_MOVED:
            g_geomDirty = true;
            break;
        case PWE_MAXIMIZED:
            // A maximise from the caption: full screen follows and returns here.
            if (!(WindowFlags.load() & WINDOW_FULLSCREEN_ON) && !g_switching.load()) saveWindowed();
            g_stateSeen.store(Plat_WindowState(), std::memory_order_release);
            break;
        case PWE_MINIMIZED:
        case PWE_RESTORED:
            g_stateSeen.store(Plat_WindowState(), std::memory_order_release);
            break;
        case PWE_CLOSE:
            closeRequest();
            break;
        case PWE_QUIT:
            // Ctrl-C, SIGTERM or the system: no question, but the same close.
            Main_CloseNow();
            break;
        case PWE_EXPOSED:
            Lib_RenderTouch();  // the next frame is drawn even when nothing changed
            break;
        case PWE_REQUEST:
            handleRequest(ev);
            break;
        case PWE_IDLE:
            g_stateSeen.store(Plat_WindowState(), std::memory_order_release);
            if (g_settling) {
                // Every event of the switch is handled by now.
                g_settling = false;
                g_switching.store(false, std::memory_order_release);
                ResizePending.store(1);
            }
            recordGeometry();
            break;
    }
}

void Main_WindowMaximise() { ops().post(WINDOW_REQ_MAXIMIZE, 0, 0, 0, 0); }

void Main_FullScreenRestore() {
    if (Main_SystemIniGet().fullScreen) Main_WindowMaximise();
}

bool Main_WindowMinimised() { return ops().state() == PLAT_WINDOW_MINIMIZED; }

uint32_t Main_FullScreenSet(uint8_t on) {
    const WindowOps& with = ops();
    uint8_t flags = WindowFlags.load();
    bool wasOn = flags & WINDOW_FULLSCREEN_ON;
    bool minimised = with.state() == PLAT_WINDOW_MINIMIZED;
    uint32_t result = wasOn && !minimised;
    if (bool(on) == wasOn) return result;
    SystemIni before;
    {
        std::lock_guard lock(SystemIniMutex);
        before = SystemIniBlock;
        if (on) {
            if (WindowFlags.fetch_and(uint8_t(~WINDOW_TAKE_POS)) & WINDOW_TAKE_POS) {
                SavedWindowPos[0] = SystemIniBlock.x;
                SavedWindowPos[1] = SystemIniBlock.y;
                SavedWindowSize[0] = SystemIniBlock.width;
                SavedWindowSize[1] = SystemIniBlock.height;
            }
            SystemIniBlock.fullScreen = 1;
        } else {
            SystemIniBlock.x = SavedWindowPos[0];
            SystemIniBlock.y = SavedWindowPos[1];
            SystemIniBlock.width = SavedWindowSize[0];
            SystemIniBlock.height = SavedWindowSize[1];
            SystemIniBlock.fullScreen = 0;
        }
    }
    if (on)
        WindowFlags.fetch_or(WINDOW_FULLSCREEN_ON);
    else
        WindowFlags.fetch_and(uint8_t(~WINDOW_FULLSCREEN_ON));
    g_switchFrame.store(MainFrameCount.load(std::memory_order_relaxed));
    g_switching.store(true, std::memory_order_release);
    if (!with.post(WINDOW_REQ_FULLSCREEN, on ? 1 : 0, 0, 0, 0)) {
        // Lost to a full queue: the window did not change, so neither does
        // anything here; a later pass asks again.
        {
            std::lock_guard lock(SystemIniMutex);
            SystemIniBlock.x = before.x;
            SystemIniBlock.y = before.y;
            SystemIniBlock.width = before.width;
            SystemIniBlock.height = before.height;
            SystemIniBlock.fullScreen = before.fullScreen;
        }
        WindowFlags.fetch_and(uint8_t(~(WINDOW_FULLSCREEN_ON | WINDOW_TAKE_POS)));
        WindowFlags.fetch_or(uint8_t(flags & (WINDOW_FULLSCREEN_ON | WINDOW_TAKE_POS)));
        g_switching.store(false, std::memory_order_release);
        return result;
    }
    ResizePending.store(1);
    return result;
}

void Main_WindowService() {
    const WindowOps& with = ops();
    // While a full-screen switch settles, the window's state says nothing yet.
    // One that never settles (its request went astray) is waited for only so long.
    if (g_switching.load(std::memory_order_acquire)) {
        if (MainFrameCount.load(std::memory_order_relaxed) - g_switchFrame.load() <= kSwitchBoundFrames) return;
        std::fprintf(stderr, "vn: a full-screen switch did not settle; going on\n");
        g_switching.store(false, std::memory_order_release);
    }
    PlatWindowState state = with.state();
    uint32_t keys = with.keysNewlyPressed();
    bool toggle = (keys & BUTTON_FULLSCREEN) && !(WindowFlags.load() & WINDOW_F2_IGNORED);
    bool fullScreen = WindowFlags.load() & WINDOW_FULLSCREEN_ON;
    if (state == PLAT_WINDOW_MINIMIZED) {
        // No tasks run while minimised; the game thread's own windows are served.
        while (with.state() == PLAT_WINDOW_MINIMIZED && RunState.load(std::memory_order_acquire) != RUN_QUIT) {
            if (with.takeMessage()) continue;
            Lib_MovieUpdate();  // a movie still ends while the window is down
            Plat_GameMsgWait(10000);
        }
    } else if (state == PLAT_WINDOW_MAXIMIZED) {
        if (!fullScreen)
            Main_FullScreenSet(1);
        else if (toggle)
            Main_FullScreenSet(0);
    } else if (fullScreen) {
        if (toggle) Main_FullScreenSet(0);
    } else if (toggle) {
        with.post(WINDOW_REQ_MAXIMIZE, 0, 0, 0, 0);
    } else if (keys & BUTTON_SIZE_RESET) {
        SystemIni b;
        {
            std::lock_guard lock(SystemIniMutex);
            SystemIniBlock.width = 1280;
            SystemIniBlock.height = 720;
            b = SystemIniBlock;
        }
        with.post(WINDOW_REQ_MOVE, b.x, b.y, 1280, 720);
        with.resizeTarget(1280, 720);
        ResizePending.store(0);
        return;
    }
    if (!g_switching.load(std::memory_order_acquire) && ResizePending.exchange(0)) with.resizeTarget(0, 0);
}
