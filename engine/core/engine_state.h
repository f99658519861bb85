// The engine-wide state that every layer may read: the run state and frame
// rate, the frame counter the drawing reads, the user's id, the window flags
// and settings block, the game thread's message handlers and the shared
// stopwatch. The frame driver in app/ owns and drives it.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

enum : uint8_t {
    RUN_STARTING = 0xFF,  // before the game thread runs
    RUN_INIT = 0,
    RUN_RUNNING = 1,
    RUN_QUIT = 99,
};
extern std::atomic<uint8_t> RunState;
extern const uint8_t FrameRate;  // the rate every run starts at: 60
// The rate text and effect timing run at. Screens set it to 60 while they
// are open, and those that hold the rate (GSL_WorkFrameRateHold, the
// backlog) put back the one found on entry; it is written only through
// Lib_FrameRateSet.
extern uint8_t FrameRateConfig;
// Microseconds per frame; the frame clock takes a new value over from the
// next pass. Read-only: Lib_FrameRateSet is its one writer.
extern const uint32_t& FramePeriodUs;
// The frame period for a configured rate, kept within 16..240 frames per
// second.
uint32_t Lib_FramePeriodFor(uint32_t rate);
// 1 (initially): Lib_FrameRateSet also rewrites FramePeriodUs, so that the
// frames come at the rate the texts and effects count.
extern uint8_t FrameRateSwitch;
// Sets FrameRateConfig and, while FrameRateSwitch is on, FramePeriodUs with it.
void Lib_FrameRateSet(uint8_t rate);
// Puts the run-wide state kept here back as a fresh process has it: the run
// state, the window flags (windowed, F2 heard), the frame rate and period
// set to FrameRate through Lib_FrameRateSet, and whether a refused write was
// told.
void Lib_RunStateReset();
// A write to the player's files that the system refused (`err`: the errno of
// the refusal, such as EFBIG past the file-size limit, ENOSPC, EROFS or
// EACCES): the first of a run is told in one line on stderr, with the path
// and the reason; later ones add nothing there (a start that cannot write
// refuses its settings, its saves and its last settings alike, and a failed
// save is told to the player in the game as well). Any thread.
void Lib_WriteRefusalTell(const char* path, int err);
extern uint32_t SaveBinSizeTable[34];
// Frame passes run since start-up.
extern std::atomic<uint64_t> MainFrameCount;

extern uint8_t MainInputDone;   // 0 until the input task has run once
extern float FrameTimeCounter;  // presented frames, 0.0 to 99999.0
extern uint8_t FrameTimeHold;   // non-zero: the counter stands still

// The user's numeric id as decimal text; names the per-user folder.
extern char UserId[64];

// The window settings, stored whole as "system.ini" (64 bytes, little-endian).
// Position and size are those of the last normal window: nothing is recorded
// while the window is minimised, maximised or full screen.
struct SystemIni {
    int32_t x = 0, y = 0;                 // window rectangle's top-left
    uint32_t width = 1280, height = 720;  // client size
    uint8_t fullScreen = 0;               // 1 on
    uint8_t reserved[47] = {};
};
// The block and its one lock (the window code also keeps what full screen
// returns to under it).
extern SystemIni SystemIniBlock;
extern std::mutex SystemIniMutex;
SystemIni Main_SystemIniGet();
void Main_SystemIniSet(const SystemIni& ini);

// WindowFlags bits.
enum : uint8_t {
    WINDOW_FULLSCREEN_ON = 1,
    WINDOW_F2_IGNORED = 2,  // set by the option screen while it shows the display settings
    WINDOW_TAKE_POS = 4,    // full screen takes the position in SystemIni as the one to return to
};
extern std::atomic<uint8_t> WindowFlags;

// The handler of the game thread's messages of one type (movie events, ...);
// false when the table is full. Messages of other types are dropped.
struct PlatMsg;
using GameMsgHandler = void (*)(const PlatMsg& msg);
bool Main_GameMsgHandlerSet(uint32_t type, GameMsgHandler handler);
// Hands one message to the handler of its type; false when the message has none.
bool Main_GameMsgDispatch(const PlatMsg& msg);

// The one shared stopwatch, in microseconds of the monotonic clock.
void Lib_TimerStart();
bool Lib_TimerCheck(uint32_t us);
// Now on the stopwatch's clock, in microseconds.
uint64_t Lib_TimerNow();
// Replaces the stopwatch's time source (null restores the monotonic clock).
void Lib_TimerSetClock(uint64_t (*now)());
