#include "engine/core/engine_state.h"

#include "engine/core/save_sizes.h"

#include "platform/plat_msg.h"
#include "platform/plat_time.h"

#include <cstdio>
#include <cstring>

std::atomic<uint8_t> RunState{RUN_STARTING};
const uint8_t FrameRate = 60;
uint8_t FrameRateConfig = 60;
uint8_t FrameRateSwitch = 1;

namespace {
uint32_t g_framePeriodUs = 1000000 / 60;
// Whether this run has told a refused write (Lib_WriteRefusalTell).
std::atomic<bool> g_writeRefusalTold{false};
}  // namespace
const uint32_t& FramePeriodUs = g_framePeriodUs;

void Lib_SaveSizesSet() {
    for (int32_t slot = 0; slot < kSaveSlots; ++slot) SaveBinSizeTable[slot] = SaveDataSize(slot);
}

uint32_t Lib_FramePeriodFor(uint32_t rate) {
    if (rate < 16) rate = 16;
    if (rate > 240) rate = 240;
    return 1000000u / rate;
}
void Lib_FrameRateSet(uint8_t rate) {
    FrameRateConfig = rate;
    if (FrameRateSwitch) g_framePeriodUs = Lib_FramePeriodFor(rate);
}

void Lib_RunStateReset() {
    RunState.store(RUN_STARTING, std::memory_order_release);
    WindowFlags.store(0);
    FrameRateSwitch = 1;
    Lib_FrameRateSet(FrameRate);
    MainInputDone = 0;
    FrameTimeCounter = 0.0f;
    FrameTimeHold = 0;
    g_writeRefusalTold.store(false);
}

void Lib_WriteRefusalTell(const char* path, int err) {
    if (g_writeRefusalTold.exchange(true)) return;
    std::fprintf(stderr, "vn: %s could not be written (%s)\n", path && *path ? path : "a file",
                 err ? std::strerror(err) : "the reason is unknown");
}

// process-wide: the save sizes, the same for every run
uint32_t SaveBinSizeTable[34];
// process-wide: counted from 0 by each game thread's start
std::atomic<uint64_t> MainFrameCount{0};

uint8_t MainInputDone = 0;
float FrameTimeCounter = 0.0f;
uint8_t FrameTimeHold = 0;

// process-wide (UserId, SystemIniBlock, SystemIniMutex): the player's id and settings, written
// by Main_AppStart at each start (the id from the store, the block from system.ini); the lock
// guards the block
char UserId[64] = "00000000000000000";
SystemIni SystemIniBlock;
std::mutex SystemIniMutex;
std::atomic<uint8_t> WindowFlags{0};

namespace {
// process-wide (g_timerStart, g_timerClock): the timer's start, set by Lib_TimerStart; the clock
// is a test seam
std::atomic<uint32_t> g_timerStart{0};
std::atomic<uint64_t (*)()> g_timerClock{nullptr};

// Messages on the game thread's queue go to the handler of their type.
constexpr int kMsgHandlers = 8;
// process-wide (g_msgTypes, g_msgHandlers): each message type's handler, registered at the
// subsystems' start
std::atomic<uint32_t> g_msgTypes[kMsgHandlers];
std::atomic<GameMsgHandler> g_msgHandlers[kMsgHandlers];

uint32_t timerNow() {
    uint64_t (*clock)() = g_timerClock.load();
    return uint32_t(clock ? clock() : Plat_MonotonicUs());
}
}  // namespace

SystemIni Main_SystemIniGet() {
    std::lock_guard lock(SystemIniMutex);
    return SystemIniBlock;
}

void Main_SystemIniSet(const SystemIni& ini) {
    std::lock_guard lock(SystemIniMutex);
    SystemIniBlock = ini;
}

bool Main_GameMsgHandlerSet(uint32_t type, GameMsgHandler handler) {
    int slot = -1;
    for (int i = 0; i < kMsgHandlers; ++i) {
        GameMsgHandler held = g_msgHandlers[i].load(std::memory_order_relaxed);
        if (held && g_msgTypes[i].load(std::memory_order_relaxed) == type) slot = i;
        if (!held && slot < 0) slot = i;
    }
    if (slot < 0) return false;
    g_msgHandlers[slot].store(nullptr, std::memory_order_relaxed);
    g_msgTypes[slot].store(type, std::memory_order_relaxed);
    g_msgHandlers[slot].store(handler, std::memory_order_release);
    return true;
}

bool Main_GameMsgDispatch(const PlatMsg& msg) {
    for (int i = 0; i < kMsgHandlers; ++i) {
        GameMsgHandler handler = g_msgHandlers[i].load(std::memory_order_acquire);
        if (handler && g_msgTypes[i].load(std::memory_order_relaxed) == msg.type) {
            handler(msg);
            return true;
        }
    }
    return false;
}

void Lib_TimerSetClock(uint64_t (*now)()) { g_timerClock.store(now); }

uint64_t Lib_TimerNow() {
    uint64_t (*clock)() = g_timerClock.load();
    return clock ? clock() : Plat_MonotonicUs();
}

void Lib_TimerStart() { g_timerStart.store(timerNow()); }

bool Lib_TimerCheck(uint32_t us) { return uint32_t(timerNow() - g_timerStart.load()) >= us; }
