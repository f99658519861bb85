// The event-picture gallery: six categories of thumbnails in a scrolling
// grid of four columns with the completion percentage, and its full-screen
// viewer, pushed above it with the gallery's resources kept.
#pragma once

#include <cstdint>

#include "extras/extras_skeleton.h"
#include "ui/mode.h"

inline constexpr int32_t kGalleryCells = 21;
inline constexpr int32_t kGalleryColumns = 4;
inline constexpr float kGalleryPitch = 150.0f;
inline constexpr const char* kGalleryThumbArc = "visual/thumb/thumb.arc";

struct GalleryState {
    int32_t cells[kGalleryCells];
    int32_t badges[kGalleryCells];
    int32_t sways[kGalleryCells];
    int32_t keys[kExtrasKeys];
    ExtrasDrag drag;
};

// The gallery's fields of its ScreenWork header.
struct GalleryHead {
    int32_t loading, bar, selection, shown, topRow, moveTask, counter, category, arrowAngle, groupLoad, number;
    GalleryState* state;
    float zoom;  // the page's scale during a category change
};
GalleryHead* GSL_GalleryHead(ScreenWork* w);

void GSL_GalleryModeCB();
// Percentage of unlocked pictures (1 when some but under 1%).
int32_t GSL_GalleryRate();
// mode 0: all of the count pictures from `first` unlocked; else any.
bool GSL_GalleryAnyOpen(int32_t first, int32_t count, int32_t mode);
// The gallery's category, also while the viewer is on top (0 without a gallery).
int32_t GSL_GalleryGetCategory();
// Moves the suspended gallery to `category` and `thumbnail` through the
// one-shot task SetNowSelectCB, whose slot goes to the viewer's select field.
void GSL_GallerySetNowSelect(int32_t unused, int32_t category, int32_t thumbnail);
int32_t SetNowSelectCB(void* work);
// The page of the current category at `scale` (cells, badges, sways).
void GSL_GalleryDrawPage(float scale, bool cursorShown);

// The viewer.
struct GalleryViewState {
    int32_t counter[6];
    int32_t counterMoves[6];
    int32_t arrows[4];
    int32_t arrowAngles[4];
    int32_t buttons[3];
    float saved[3];  // z 1.0: none
    int32_t savedSize[2];
};
struct GalleryViewHead {
    int32_t layer, index, first, counterTimer, selectTask, wipe, arrowTimer;
    int32_t alpha;  // the fades' alpha, 0..255
    GalleryViewState* state;
};
GalleryViewHead* GSL_GalleryViewHead(ScreenWork* w);

void GSL_GalleryViewModeCB();
// The viewer's steps, and the sub-states of its main step: LOAD -> SETUP ->
// FADE_IN (the first picture) or WIPE -> WIPE_CAPTURED -> WIPE_END (a later
// one) -> SHOW; SHOW -> LOAD (the next picture) or SELECT (another
// thumbnail) -> LOAD; SHOW -> FADE_OUT -> FREE, then the end step.
enum : int32_t { VIEW_STEP_INIT, VIEW_STEP_MAIN, VIEW_STEP_END };
enum : int32_t {
    VIEW_LOAD = 0,
    VIEW_SETUP = 1,
    VIEW_FADE_IN = 2,
    VIEW_SHOW = 10,  // the picture up, taking input
    VIEW_SELECT = 15,
    VIEW_FADE_OUT = 20,
    VIEW_WIPE = 50,
    VIEW_WIPE_CAPTURED = 51,
    VIEW_WIPE_END = 52,
    VIEW_FREE = 99,
};
