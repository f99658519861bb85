// The stage record's reset, the stage cameras and move queues it resets,
// resource names to archive paths, and the skip test and wait lengths every
// waiting command uses.
#pragma once

#include <cstdint>

#include "engine/render/camera.h"
#include "script/game_blocks.h"

// The four stage cameras: 0 the fore page's layers 10 and 11, 1 its back
// page, 2 the fore page's layers 0..9, 3 its back page.
extern CameraRecord StageCamera[4];

struct MoveQueueEntry {
    float x, y, z;
    int32_t frames;
};
struct MoveQueue {
    int32_t count;
    MoveQueueEntry entries[64];
};
// One queue per page and layer (page * 12 + layer); not saved.
extern MoveQueue MoveQueues[24];

enum : uint8_t {
    STAGE_RESET_NAME = 1,     // the flag byte and the name
    STAGE_RESET_FIELDS = 2,   // every other field
    STAGE_RESET_CAMERAS = 4,  // the stage cameras
};
// Resets the record and the stage it drives: the cameras (with
// STAGE_RESET_CAMERAS), the secondary shader set and the move queues.
void GSL_StageReset(StageRecord* stage, uint8_t flags);
// Resets only the record's fields, for a record no script runs on.
void GSL_StageRecordReset(StageRecord* stage, uint8_t flags);

// Resource kinds of GSL_ResPathMake.
enum : int32_t {
    RES_PICTURE = 0,
    RES_WIPE = 10,
    RES_MOVIE = 20,
    RES_VOICE = 30,
    RES_BGM = 40,
    RES_SE = 50,
};
// The archive path of a script resource name into out (empty when the name
// is empty or the path does not fit). A picture "event_*" is flagged
// unlocked when unlock is set.
void GSL_ResPathMake(int32_t kind, const char* name, char* out, uint32_t outSize, bool unlock);

// True while text is being skipped.
bool GSL_IsSkip();
// Frames of a wait of ms milliseconds (at least 4; 0 for 0 or a negative
// time, and while skipping).
uint32_t GSL_WaitFrames(int32_t ms);
