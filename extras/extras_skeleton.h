// What the extras screens (gallery, music room, special-scenario menu) share:
// the opening, the build sequence, the track, the heading and counter, the
// category arrows and their bob, the count-up, the bar drag, the hover scan,
// the swipe, following a selection on a grid, the zoom and the closing fade.
// Plain functions over the screen's own fields, with the screen's constants
// as parameters. Game thread only; every call acts on the top screen.
#pragma once

#include <cstdint>

#include "ui/mode.h"

// The two swipe latches: set when a swipe changed the category during the
// current press (0 previous arrow, 1 next arrow).
extern uint8_t ExtrasSwipeLatch[2];
// Puts the extras' run-wide state (the swipe latches) back as a fresh process
// has it.
void Extras_RunStateReset();

inline constexpr float kExtrasBarX = 598.0f;
inline constexpr int32_t kExtrasBarPriority = 608;
inline constexpr int32_t kExtrasBarMinimum = 3;
inline constexpr int32_t kExtrasBarMargin = 22;
inline constexpr int32_t kExtrasSwipe = 171;  // more than this many pixels
inline constexpr int32_t kExtrasTrackChannel = 0;
inline constexpr int32_t kExtrasKeyInterval = 5;
enum : int32_t { EXTRAS_KEY_LEFT, EXTRAS_KEY_RIGHT, EXTRAS_KEY_UP, EXTRAS_KEY_DOWN, EXTRAS_KEY_A, EXTRAS_KEY_D };
inline constexpr int32_t kExtrasKeys = 6;
enum : uint32_t { EXTRAS_BUTTON_A = 64, EXTRAS_BUTTON_D = 128, EXTRAS_BUTTON_LEFT = 4096, EXTRAS_BUTTON_RIGHT = 16384 };

// --- dispatching -----------------------------------------------------------
// The steps the extras screens share: LOAD -> BUILD -> MAIN, MAIN -> CHANGE
// (the page or category zoom) -> MAIN, and the screen's own last steps from
// EXTRAS_STEP_OWN on.
enum : int32_t { EXTRAS_STEP_LOAD, EXTRAS_STEP_BUILD, EXTRAS_STEP_MAIN, EXTRAS_STEP_CHANGE, EXTRAS_STEP_OWN };
// Sub-states of the build step: WAIT -> BLACK (Extras_BuildFade), then
// COUNT -> COUNTED (Extras_BuildCount), then the main step.
enum : int32_t { EXTRAS_BUILD_WAIT = 0, EXTRAS_BUILD_BLACK = 1, EXTRAS_BUILD_COUNT = 2, EXTRAS_BUILD_COUNTED = 3 };
// Sub-states of the change step: the page shrinks (OUT), is redrawn and grows
// back (IN), then SUBSTATE_CLOSE returns to the main step.
enum : int32_t { EXTRAS_ZOOM_OUT = 0, EXTRAS_ZOOM_IN = 1 };
// One step of a screen, given the screen's context (null before it exists).
using ExtrasStep = void (*)(ScreenWork* w);
// Runs steps[step] for the top screen `screen`: step 0 while it has no
// context of its own; a step out of range or without a function does nothing.
void Extras_Dispatch(ModeFunction screen, const ExtrasStep* steps, int32_t count);

// --- opening ---------------------------------------------------------------
// The opening every extras screen makes: clears the swipe latches, starts
// the loading indicator (priority 20, shown), sets the overlay to transparent
// over 60 frames (a target already set stays) and loads layer slot 0 with the
// background, slot 2 with the screen's sheet and `closeSlot` with the close
// button's sheet (through the named cache), in that order. The indicator's task.
int32_t Extras_Open(const char* background, const char* sheet, uint32_t closeSlot);
// A layer slot of the top screen from a file, through the named cache when cached.
int32_t Extras_LayerLoad(uint32_t slot, const char* file, uint8_t cached);
// The scroll bar at (598, 0), size (1, 5), priority 608, hidden, range
// minimum..rows, own sprites.
int32_t Extras_BarCreate(int32_t minimum, int32_t rows);
// The six key repeaters (Left, Right, Up, Down, A, D; interval 5) and frame rate 60.
void Extras_KeysStart(int32_t* keys);
void Extras_KeysEnd(int32_t* keys);

// --- build -----------------------------------------------------------------
// The build waits: the overlay, the layers, the bar's layout, the indicator
// and the screen's own condition.
bool Extras_BuildReady(int32_t bar, int32_t loading, bool own);
// The black-over-30, build, transparent-over-60 sequence on sub-states
// EXTRAS_BUILD_WAIT (waits for `ready`, then black) and EXTRAS_BUILD_BLACK
// (waits for black, builds, fades in, goes to EXTRAS_BUILD_COUNT).
void Extras_BuildFade(ScreenWork* w, bool ready, void (*build)(ScreenWork*));
// Plays "sound/bgm/<stem>.oggl" of music record `record` looping on channel
// 0, recorded in sound slot 0 (restore kind 1, release fade 30), and unlocks
// it. The path goes to the flag in Shift-JIS as the catalogue hands it out.
int32_t Extras_TrackPlay(int32_t record);
// Text slot 0: SysgraMesTable's text (2, index) at (64, -13), scale 0.7.
void Extras_Heading(uint32_t index);
// The page of a one-sheet screen shown: its heading (Extras_Heading), the
// background (layer slot 0) at priority 610 and the back button (slot 1)
// cut from layout (2, 3), at (597, 317) at priority 608.
void Extras_PageShow(uint32_t heading);
// Moves a live sprite to (x, y, 0) at `scale` (z 1), clipped to `clip` when
// given, at `priority`; false when the sprite is not live (nothing changes).
bool Extras_Place(int32_t sprite, float x, float y, float scale, int32_t priority, const int32_t* clip);
// Text slot 3 of `screen`: "%d / %d" at (640, -677), scale 0.6, centred.
void Extras_Counter(ModeFunction screen, int32_t n, int32_t m);
// Layer slots 3..6: the arrows and their highlights, copied from
// `sourceSlot` (the screen's system sheet; slot 1 unless told).
void Extras_ArrowsSet(uint32_t sourceSlot = 1);
// One frame of the arrows' bob: each arrow moves by sin(angle) outward; the
// angle grows by 6 and wraps at 360.
void Extras_ArrowBob(int32_t* angle);
// One frame of the count-up on a number display: false while it runs, true
// when *counter has reached rate (then *counter is 0). With waitTrack it
// first waits while channel 0 is starting.
bool Extras_CountUp(int32_t* counter, int32_t rate, int32_t number, bool waitTrack);
// Sub-states EXTRAS_BUILD_COUNT and EXTRAS_BUILD_COUNTED: once the overlay is clear and the
// number display has come in, the count-up to rate(); then the main step.
void Extras_BuildCount(ScreenWork* w, int32_t* counter, int32_t (*rate)(), int32_t number, bool waitTrack);

// --- input -----------------------------------------------------------------
struct ExtrasDrag {
    int32_t reference;  // vertical travel already turned into rows
    uint8_t dragging;
};
// One frame of the bar drag: the rows moved (0 none). *endFrame is set when
// the frame ends here (a drag start, a drag end).
int32_t Extras_BarDrag(ExtrasDrag* d, int32_t bar, int32_t rows, bool* endFrame);
// The hover scan over cells at screen y `cellY(i)` for i < count: a cell
// above the band's top is skipped, one below its bottom ends the scan. The
// cell clicked or newly entered other than `selection`, else -1.
int32_t Extras_HoverScan(const int32_t* sprites, const float* cellY, int32_t count, int32_t selection,
                         float bandTop, float bandBottom, bool* clicked);
// A click (on release) on a sprite, recoloured normal/hover; false without one.
bool Extras_Clicked(int32_t sprite, uint32_t normal, uint32_t hover);
// The swipe of arrow `side` (0 previous: rightward, 1 next: leftward) with
// its latch, or a click on the arrow's layer slot: true to change.
bool Extras_Swipe(int32_t side, uint32_t arrowSlot);

// --- following a selection on a grid ----------------------------------------
struct ExtrasGrid {
    int32_t columns;
    float pitch;        // row height in pixels
    int32_t visibleRows;
};
// The scroll in rows that brings `selection` into view from `topRow`.
int32_t Extras_FollowRows(const ExtrasGrid& g, int32_t selection, int32_t topRow);
// The cursor sprite put on the selection's cell at (x, y), the bar scrolled
// and *topRow moved by the rows that bring `selection` into view; those rows
// (0 when it is in view), by which the caller scrolls its sprites.
int32_t Extras_FollowCursor(const ExtrasGrid& g, int32_t selection, int32_t cursor, float x, float y, int32_t bar,
                            int32_t* topRow);
// Moves the sprites by rows * pitch upward: over 8 frames (one move task per
// sprite; the one of sprites[keep] is returned, the others end by
// themselves) or at once (-1).
int32_t Extras_ScrollSprites(const int32_t* sprites, int32_t count, int32_t rows, float pitch, bool animated,
                             int32_t keep);

// --- changing and closing ---------------------------------------------------
// One zoom frame: the scale moves by delta in single precision; true when it
// has reached 0 (delta < 0) or 1 (delta > 0).
bool Extras_ZoomStep(float* scale, float delta);
// The closing fade to black over 60 frames; true once black.
bool Extras_CloseFade();
