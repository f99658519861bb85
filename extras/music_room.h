// The music room: the 21 catalogue tracks on two pages of a two-column list,
// each played as an endless loop on channel 0, with a playing icon, a
// room-only volume slider and the completion percentage.
#pragma once

#include <cstdint>

#include "ui/mode.h"

inline constexpr int32_t kMusicSlots = 16;
inline constexpr int32_t kMusicKeys = 8;
inline constexpr float kMusicKnobStep = 1.71f;  // pixels of track per volume step

struct MusicPageEntry {
    uint32_t one;
    uint32_t record;  // catalogue index
};
struct MusicPage {
    const MusicPageEntry* entries;  // null ends the table
    int32_t count;
    int32_t first;
};
extern const MusicPage MusicPageTable[3];

struct MusicRoomState {
    int32_t buttons[kMusicSlots];
    int32_t titles[kMusicSlots];
    int32_t keys[kMusicKeys];  // Left, Right, Up, Down, previous, next, volume down, volume up
    int32_t icon;
    int32_t knobReference;  // volume steps of the current knob drag already taken
    uint8_t knobDragging;
    int32_t barReference;
    uint8_t barDragging;
    uint8_t volumeSound;
};

// The room's fields of its ScreenWork header.
struct MusicHead {
    int32_t loading, bar, cursor, shown, topRow, moveTask, counter, iconFrame, iconTimer, volume, page,
        arrowAngle, playing, number;
    MusicRoomState* state;
    float zoom;  // the list's scale during a page change
};
MusicHead* GSL_MusicHead(ScreenWork* w);

void GSL_MusicRoomModeCB();
bool GSL_MusicIsOpen(int32_t record);
// Percentage of heard tracks (1 when some but under 1%).
int32_t GSL_MusicRate();
int32_t GSL_MusicGetPage();
int32_t GSL_MusicRowCount();
void GSL_MusicPageText();
void GSL_MusicTrackText(uint8_t rebuild);
void GSL_MusicDrawPage(float scale, uint8_t bandShown);
void GSL_MusicSelectUpdate();
void GSL_MusicRedraw(float scale, uint8_t bandShown);
void GSL_MusicArrowSwing();
void GSL_MusicIconUpdate();
int32_t IconWorkSetCB(void* work);
void GSL_MusicPlay(MusicHead* h);
bool GSL_MusicStop(MusicHead* h);
void GSL_MusicVolume(MusicHead* h, int8_t delta, uint8_t playSound);
// The display index of slot i on a page of n entries: the numbers run down
// the left column, then down the right one.
int32_t GSL_MusicDisplayIndex(int32_t i, int32_t n);
