// The backlog: the lines read so far in this play-through, newest last,
// three at a time over the frozen story. The player scrolls them by keys,
// wheel, drags and the scroll bar, replays a line's voices and can jump the
// story back to a chosen line. Pushed above the story screen, which it
// leaves with STORY_EXIT_RESTART after a jump.
#pragma once

#include <cstdint>

#include "story/line_text.h"

inline constexpr int32_t kBacklogPage = 3;         // entries shown at once
inline constexpr int32_t kBacklogVoiceSteps = 16;  // replay steps of one line
inline constexpr int32_t kBacklogStepVoices = 8;   // voices played together
inline constexpr uint32_t kBacklogFirstVoiceSlot = 11;

// Steps of the dispatcher.
enum BacklogStep : int32_t {
    BACKLOG_INIT = 0,
    BACKLOG_OPEN = 1,
    BACKLOG_RUN = 2,
    BACKLOG_JUMP = 3,
    BACKLOG_NOTICE = 4,
    BACKLOG_EXIT = 5,
};

struct BacklogWork {
    int32_t keys[4];  // key repeat tasks: up, down (every 5 frames), left, right (every frame)
    int32_t bar;
    int32_t selected;
    int32_t drawn;  // the selection the page was last built for, -1 none
    int32_t top;    // history index of the page's first entry
    int32_t angle;
    int32_t blink;
    int32_t replayEntry;  // -1 none
    int32_t replayStep;
    uint8_t dragging;  // the scroll bar's knob is being dragged
    int32_t travel;    // the gesture travel last seen during that drag
    // Voice names of the page's entries, one replay step of up to eight
    // names after the other; an empty name ends a step, an empty first name
    // the line.
    char voices[kBacklogPage][kBacklogVoiceSteps][kBacklogStepVoices][kLineVoiceSize];
};

void GSL_BacklogModeCB();
// Lays out and refreshes the page and runs the voice replay (every frame of
// the open and run steps).
void GSL_BacklogDrawList();
// The screen's work (null while it is not open or the history is empty).
BacklogWork* GSL_BacklogWork();
