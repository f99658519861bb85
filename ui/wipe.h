// Two system-group widget tasks over screen captures: the save thumbnail
// composition (the screen shrunk into the top-left 320×180 with a frame over
// a black backdrop, captured again) and the rule-image wipe (a capture drawn
// through a grey-scale rule whose alpha is a per-pixel threshold, so the old
// picture dissolves in the rule's pattern).
#pragma once

#include <cstdint>

#include "engine/render/camera.h"
#include "engine/render/sprite.h"
#include "shaders/const_buf.h"

// Wipe flags: the pixel shader's three switches, the default camera, hold
// (do not start rising while set; the owner clears it), keep the capture.
enum : uint32_t {
    WIPE_INVERT = 1,
    WIPE_MIRROR_U = 2,
    WIPE_MIRROR_V = 4,
    WIPE_DEFAULT_CAMERA = 8,
    WIPE_HOLD = 16,
    WIPE_KEEP_CAPTURE = 32,
};

enum : uint32_t { WIPE_PREPARING = 0, WIPE_RUNNING = 1, WIPE_FINISHED = 2 };

struct WipeWork {
    int32_t slot;
    uint8_t state;
    char path[256];
    uint32_t status;
    int32_t request;  // -1 once released
    int32_t capture;  // -1 none
    int32_t reserved;
    int32_t frames, drawPriority, capturePriority, interval;
    float step, progress, end;
    float lowering;   // lowers the end by 256 a unit
    void* ruleData;   // the named cache's, while the request holds it
    uint32_t ruleSize;
    uint32_t flags;
    uint32_t ruleTexture;  // this wipe's own
};

// The newest wipe's rule texture (its own view).
extern uint32_t WipeRuleTexture;
extern uint32_t WipeRuleView;

// Starts a wipe with the rule image at `path`. The task slot or -1.
int32_t GSL_SystemWipeSet(const char* path, int32_t reserved, int32_t frames, int32_t priority,
                          int32_t capturePriority, int32_t captureInterval, uint32_t flags);
// Frees the wipe's capture and its own rule texture and deletes the task.
void GSL_SystemWipeDel(int32_t slot);
// 0 preparing, 1 running, 2 finished (also for a bad slot).
uint32_t GSL_SystemWipeStatus(int32_t slot);
// The wipe's work area (null for a bad slot): owners clear WIPE_HOLD in it.
WipeWork* GSL_SystemWipeWork(int32_t slot);
int32_t GSL_SystemWipeSetCB(void* work);
// The capture sprite's draw hook; the argument is the WipeWork's address.
void GSL_SystemWipeDraw(uint64_t work);
// The wipe's constant block for the capture `r` seen through `camera`.
void GSL_SystemWipeConstBuf(const WipeWork* w, const SpriteRecord* r, const CameraRecord* camera, ConstBuf* cb);

struct SaveIconWork {
    int32_t slot;
    uint8_t state;
    int32_t first;  // capture of the screen
    int32_t frame;
    int32_t capturePriority;
    int32_t second;  // capture of the composition
    int32_t backdrop;
};

// The story screen's capture for the save thumbnail: the finished
// composition's sprite, -1 when none was made. Its users free it.
extern int32_t StoryCaptureSprite;

// Starts the composition (the story screen passes 9700001). The task slot or -1.
int32_t GSL_SystemSaveIcon0Set(int32_t capturePriority);
int32_t GSL_SystemSaveIcon0SetCB(void* work);

// Deletes every live wipe, loading icon and thumbnail composition with their
// sprites and textures (before the renderer goes), and ends the preloads
// still loading (GSL_SystemLoadPrevEnd).
void GSL_SystemWidgetsEnd();
