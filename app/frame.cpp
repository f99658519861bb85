#include "app/frame.h"

#include <unistd.h>

#include <cstdio>
#include <thread>

#include "app/app_window.h"
#include "engine/core/cache.h"
#include "engine/core/frame_clock.h"
#include "engine/core/heap.h"
#include "engine/core/save_sizes.h"
#include "app/main_tasks.h"
#include "engine/core/task.h"
#include "engine/core/thread.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/render/renderer.h"
#include "engine/text/glyph_cache.h"
#include "engine/sound/sound.h"
#include "script/script_task.h"
#include "story/save_store.h"
#include "platform/plat_gl.h"
#include "platform/plat_msg.h"
#include "platform/plat_store.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_vm.h"
#include "platform/plat_window.h"

// process-wide: a test seam
const uint64_t* MainHeapSizes = kHeapDefaultSizes;
// process-wide: counted from 0 by each game thread's start
std::atomic<uint64_t> MainPassCount{0};

namespace {
// process-wide: set by WinMain
std::atomic<int> g_exitCode{0};

bool takeGameMessage() {
    PlatMsg msg;
    if (!Plat_GameMsgPeek(&msg)) return false;
    Main_GameMsgDispatch(msg);
    return true;
}

// Whether a task that runs on every pass has work between frames (a preload
// waiting for its file).
bool everyPassWork() {
    for (const TaskRecord* t : TaskTable.slots)
        if (t && (t->flags & TASK_FLAG_EVERY_PASS) && !t->dead && t->callback)
            return true;
    return false;
}

// Start-up stops, saying why in one line; with `box`, the same text in a
// message box too, for a player who started the game without a terminal.
void fatal(const char* what, bool box = false) {
    char text[2600];
    std::snprintf(text, sizeof text, "start-up failed: %s", what);
    if (box)
        Plat_GLFatal(text);
    else
        std::fprintf(stderr, "vn: %s\n", text);
    g_exitCode.store(1);
}

// The game cannot run without its base archive: say which file was looked
// for and where (a damaged one has been described on its own line already).
void baseArchiveMissing() {
    char path[1024] = "", cwd[1024] = "", text[2400];
    const char* name = Lib_PcArcName(0);
    Lib_FileMakePath(name, path, sizeof path);
    if (!::getcwd(cwd, sizeof cwd)) std::snprintf(cwd, sizeof cwd, ".");
    int fd = Lib_FileOpenRegular(path);
    if (fd >= 0) ::close(fd);
    std::snprintf(text, sizeof text, "the base archive %s is %s (looked for %s/%s)", name,
                  fd >= 0 ? "damaged" : "missing", cwd, path);
    fatal(text);
}
}  // namespace

const GamePassOps kMainPassOps = {takeGameMessage, Plat_MonotonicUs, Lib_TaskPass, Main_WindowService,
                                  everyPassWork};

PassKind Main_GamePass(FrameClock& clock, const GamePassOps& ops) {
    if (ops.takeMessage()) return PASS_MESSAGE;
    if (FramePeriodUs != clock.periodUs()) clock.setPeriod(FramePeriodUs);
    bool frame = clock.step(ops.now());
    ops.taskPass(!frame);
    ops.windowService();
    return frame ? PASS_FRAME : PASS_BETWEEN;
}

uint64_t Main_BetweenFramesWaitUs(const FrameClock& clock, const GamePassOps& ops) {
    if (FramePeriodUs != clock.periodUs()) return 0;  // a new rate: the next pass takes it over
    uint64_t wait = clock.dueInUs(ops.now());
    if (wait > 1000 && ops.everyPassWork()) wait = 1000;
    return wait;
}

bool Main_SystemInit() {
    if (!Lib_MemInit(MainHeapSizes)) {
        fatal("the memory heaps could not be reserved");
        return false;
    }
    if (!Lib_TaskInit()) {
        fatal("the task table could not be set up");
        return false;
    }
    Lib_ThreadTableClear();
    if (!Lib_FileInit()) {
        fatal("the file loader could not be started");
        return false;
    }
    if (!Lib_PcArcExists(0)) {
        baseArchiveMissing();
        return false;
    }
    if (!Lib_MesSystemLoad()) std::fprintf(stderr, "vn: script/system_mes.mul could not be loaded\n");
    if (!Lib_GraphicsInit()) {
        char text[512];
        std::snprintf(text, sizeof text, "the renderer could not be created (%s)", Lib_GraphicsError());
        fatal(text, true);
        return false;
    }
    Lib_SoundInit();
    Lib_MovieInit();
    if (!Lib_FontInit()) {
        char text[128];
        std::snprintf(text, sizeof text, "the glyph atlas (%llu MiB of the graphics heap) could not be allocated",
                      static_cast<unsigned long long>(kGlyphAtlasSize >> 20));
        fatal(text);
        return false;
    }
    // The start has succeeded: only now is anything written to disk.
    Main_UserFolderMake();
    Lib_SaveInit();  // saving stays off when it fails; the game still runs
    Lib_InputInit();
    // A game closed in full screen starts in full screen again.
    Main_FullScreenRestore();
    return true;
}

void Main_SystemEnd() {
    Lib_InputEnd();
    Lib_FontEnd();
    Lib_MovieStop();
    Lib_SoundEnd();  // the worker goes before the data it plays
    Lib_SaveEnd();   // waits for the save writer
    Lib_GraphicsEnd();
    Plat_GLReleaseCurrent();
    Lib_MesSystemFree();
    Lib_FileEnd();  // stops the loader thread, then closes the archives
    Lib_MemRelease();
}

int Main_GameThread() {
    Plat_ThreadSetName("game");
    Plat_ThreadSetPriority(THREAD_PRIORITY_ABOVE_NORMAL);
    RunState.store(RUN_INIT, std::memory_order_release);
    MainFrameCount.store(0);
    if (!Main_SystemInit()) {
        Main_SystemEnd();
        RunState.store(RUN_QUIT, std::memory_order_release);
        Plat_PostQuit();
        return 0;
    }
    GSL_ScriptTraceFromEnv();  // VN_SCRIPT_TRACE=1: every script command on stderr
    Main_Init();
    RunState.store(RUN_RUNNING, std::memory_order_release);

    FrameClock clock(FramePeriodUs);
    MainPassCount.store(0);
    for (;;) {
        PassKind kind = Main_GamePass(clock, kMainPassOps);
        MainPassCount.fetch_add(1, std::memory_order_relaxed);
        if (kind == PASS_FRAME) MainFrameCount.fetch_add(1, std::memory_order_relaxed);
        if (RunState.load(std::memory_order_acquire) == RUN_QUIT) break;
        if (kind == PASS_BETWEEN) {
            // Nothing but the every-pass tasks is due until the next frame:
            // wait for it, or for a new message.
            uint64_t wait = Main_BetweenFramesWaitUs(clock, kMainPassOps);
            if (wait) Plat_GameMsgWait(wait);
        }
    }
    Main_InitEnd();
    Main_SystemEnd();
    return 0;
}

int WinMain() {
    Plat_SignalsSetUp();
    Plat_MallocSetUp();
    Lib_SaveSizesSet();
    g_exitCode.store(0);
    Main_RunStateReset();
    if (!Main_AppStart()) {
        Main_AppEnd();
        Store_Shutdown();
        return 1;
    }

    std::thread game;
    try {
        game = std::thread(Main_GameThread);
    } catch (...) {
        Main_AppEnd();
        Store_Shutdown();
        return 0;
    }
    for (;;) {
        uint8_t state = RunState.load(std::memory_order_acquire);
        if (state == RUN_RUNNING || state == RUN_QUIT) break;
        Plat_SleepMs(1);
    }
    if (RunState.load(std::memory_order_acquire) == RUN_RUNNING) {
        // The UI thread sleeps until an event comes: input, the window
        // system, or a request or the quit from the game thread. The quit
        // flag is also looked at four times a second, should its wake-up
        // event be lost (a full queue).
        while (Plat_PumpOne(250) != PUMP_QUIT) {
        }
    }
    RunState.store(RUN_QUIT, std::memory_order_release);
    game.join();
    Plat_GameMsgClear();
    Main_AppEnd();
    Store_Shutdown();
    return g_exitCode.load();
}
