// The frame driver: the UI-thread entry point, the game thread, engine
// start-up and shutdown, and the shared stopwatch.
#pragma once

#include <atomic>
#include <cstdint>

class FrameClock;

enum : uint8_t {
    RUN_STARTING = 0xFF,  // before the game thread runs
    RUN_INIT = 0,
    RUN_RUNNING = 1,
    RUN_QUIT = 99,
};

extern std::atomic<uint8_t> RunState;
extern uint8_t FrameRate;        // read once at start-up
extern uint8_t FrameRateConfig;  // copy for text and effect timing
extern uint32_t FramePeriodUs;
extern uint32_t SaveBinSizeTable[34];
// Heap sizes start-up asks for (the program's defaults; tests pass smaller ones).
extern const uint64_t* MainHeapSizes;
// Frame passes run since start-up.
extern std::atomic<uint64_t> MainFrameCount;

// The program's entry point on the UI thread; returns the exit code.
int WinMain();
int Main_GameThread();
bool Main_SystemInit();
void Main_SystemEnd();

// Frame period for a configured rate, kept within 16..240 frames per second.
uint32_t Main_FramePeriodFor(uint32_t rate);

enum PassKind { PASS_MESSAGE, PASS_BETWEEN, PASS_FRAME };

// What one game-thread pass works with; the program uses the real ones.
struct GamePassOps {
    bool (*takeMessage)();  // handles one queued message; false when none
    uint64_t (*now)();
    int (*taskPass)(bool betweenFrames);
    void (*windowService)();
};
extern const GamePassOps kMainPassOps;
PassKind Main_GamePass(FrameClock& clock, const GamePassOps& ops);
// The handler of the game thread's messages of one type (movie events, ...);
// false when the table is full. Messages of other types are dropped.
struct PlatMsg;
using GameMsgHandler = void (*)(const PlatMsg& msg);
bool Main_GameMsgHandlerSet(uint32_t type, GameMsgHandler handler);

// The one shared stopwatch, in microseconds of the monotonic clock.
void Lib_TimerStart();
bool Lib_TimerCheck(uint32_t us);
// Replaces the stopwatch's time source (null restores the monotonic clock).
void Lib_TimerSetClock(uint64_t (*now)());
