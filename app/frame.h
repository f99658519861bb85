// The frame driver: the UI-thread entry point, the game thread, engine
// start-up and shutdown.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/core/engine_state.h"

class FrameClock;

// Heap sizes start-up asks for (the program's defaults; tests pass smaller ones).
extern const uint64_t* MainHeapSizes;

// The program's entry point on the UI thread; returns the exit code.
int WinMain();
int Main_GameThread();
// The engine's start-up on the game thread. Writes to disk only once every
// step that can fail has succeeded; false (with a line on stderr) otherwise.
bool Main_SystemInit();
void Main_SystemEnd();

// Passes of the game thread's loop since it started (test hook and diagnostics).
extern std::atomic<uint64_t> MainPassCount;

enum PassKind { PASS_MESSAGE, PASS_BETWEEN, PASS_FRAME };

// What one game-thread pass works with; the program uses the real ones.
struct GamePassOps {
    bool (*takeMessage)();  // handles one queued message; false when none
    uint64_t (*now)();
    int (*taskPass)(bool betweenFrames);
    void (*windowService)();
    bool (*everyPassWork)();  // a task that runs on every pass has work between frames
};
extern const GamePassOps kMainPassOps;
PassKind Main_GamePass(FrameClock& clock, const GamePassOps& ops);
// After a pass between frames, how long the game thread waits for a message
// (0: the next pass runs at once): until the next frame is due, at most a
// millisecond while an every-pass task has work, and not at all when the
// frame rate changed during the pass, so that the next pass takes the new
// period over.
uint64_t Main_BetweenFramesWaitUs(const FrameClock& clock, const GamePassOps& ops);
