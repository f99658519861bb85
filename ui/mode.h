// The mode stack of active screens and the screen work contexts. A screen is
// identified by its dispatcher; 0 stands for the screen on top of the stack
// in every screen-relative call. Each screen on the stack may own one context
// whose numbered slots hold its pictures, texts, sounds and script task, so
// that they can be released while another screen runs above it and brought
// back when it returns (ui/screen_restore.h). Game thread only.
#pragma once

#include <cstdint>

#include "engine/core/task.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"

using ModeFunction = void (*)();

inline constexpr int kModeStackSize = 16;
inline constexpr int kScreenWorkSlots = 16;
inline constexpr int kScreenLayers = 720;
inline constexpr int kScreenTexts = 72;
inline constexpr int kScreenSounds = 23;
inline constexpr int kScreenTasks = 8;
inline constexpr int kScreenWords = 24;
inline constexpr int kScreenNameSize = 256;
inline constexpr int kScreenTagSize = 16;

// Suspend states.
enum : uint8_t { SCREEN_ACTIVE = 0, SCREEN_KEPT = 1, SCREEN_RELEASED = 2 };

struct ScreenLayerSlot {
    SpriteRecord snapshot;
    int32_t handle;     // sprite slot, -1 empty
    int32_t source;     // layer slot this one copies, -1 own picture
    uint8_t loadFlag;   // cache flag (file) or queue flag (container member)
    int32_t loadValue;  // cache id (file) or member index (container member)
    char file[kScreenNameSize];
    char tag[kScreenTagSize];
    char container[kScreenNameSize];
    uint8_t reloadPending;  // released, and no sprite or load slot was free to bring it back yet
};

// A plain copy of a channel's values (the live record holds atomics).
struct SoundSnapshot {
    uint8_t flags, pause;
    int32_t repeat;
    float volume, gain;
    uint32_t fadeInFrames, fadeOutFrames;
    int32_t state;
};

struct ScreenTextSlot {
    TextRecord snapshot;
    int32_t handle;
};

struct ScreenSoundSlot {
    SoundSnapshot snapshot;
    int32_t handle;        // channel, -1 empty
    int8_t restoreKind;    // -1 not replayed on return; 1 music, 2 effect
    uint32_t releaseFade;  // frames; 0 means 16
    int32_t extra;
    char file[kScreenNameSize];
};

struct ScreenWork {
    int32_t step;
    int32_t subState;
    uint64_t words[kScreenWords];
    ModeFunction screenId;
    uint8_t suspended;   // SCREEN_ACTIVE, SCREEN_KEPT or SCREEN_RELEASED
    uint8_t snapshotted;
    int8_t savedFrameRate;
    int16_t heldFrameRate;  // the rate found by GSL_WorkFrameRateHold, -1 none
    // Set from the release of the slots to their reload: the handles then
    // name sprites, texts and channels that may belong to others now.
    uint8_t released;
    ScreenLayerSlot layers[kScreenLayers];
    ScreenTextSlot texts[kScreenTexts];
    ScreenSoundSlot sounds[kScreenSounds];
    int32_t tasks[kScreenTasks];  // entry 0 the screen's script task
    // The suspended byte of each group-400 task at the push, with the task's
    // callback, so that a slot reused meanwhile is not resumed.
    uint8_t pause[kTaskSlots];
    TaskCallback pauseOwner[kTaskSlots];
};

extern ModeFunction ModeStack[kModeStackSize];
extern ScreenWork* ScreenWorkTable[kScreenWorkSlots];
// The two task-pause save slots (800 saved suspended bytes each).
extern uint8_t* TaskPauseSave[2];

// The screens that the layers below the top one open or recognise by name.
// The top layer registers every dispatcher at start-up; an unregistered
// screen is null.
enum ScreenId : uint32_t {
    SCREEN_STORY,
    SCREEN_TITLE,
    SCREEN_SAVE,
    SCREEN_LOAD,
    SCREEN_OPTION,
    SCREEN_MANUAL,
    SCREEN_SPECIAL,  // the special-scenario menu
    SCREEN_GALLERY,
    SCREEN_MUSIC_ROOM,
    SCREEN_COUNT
};
ModeFunction GSL_ScreenOf(ScreenId id);
// Registers the dispatchers (SCREEN_COUNT entries; null: none).
void GSL_ScreensSet(const ModeFunction* screens);
// The context of a registered screen; null without one.
ScreenWork* GSL_ScreenWork(ScreenId id);

// The number of leading entries and the top dispatcher (null when empty).
int GSL_ModeCount();
ModeFunction GSL_ModeTop();
ModeFunction GSL_ModePop();
// Suspends the top screen (keep 1: resources kept, 0: released) and pushes
// `screen`. Nothing when the top has no context or the stack is full.
void GSL_ModePush(ModeFunction screen, uint8_t keep);
// Puts `screen` on top without suspending the one below, for a screen that
// starts with nothing below it to come back to. False (and a log line) when
// the stack is full or `screen` is null.
bool GSL_ModeAppend(ModeFunction screen);
// The top screen hands over to `next`: its context is deleted and `next`
// takes its entry (null: the entry goes).
void GSL_ModeHandOver(ModeFunction next);

int32_t GSL_WorkIndex(ModeFunction screen);
ScreenWork* GSL_WorkGet(ModeFunction screen);
void GSL_WorkCreate();
void GSL_WorkInit(int32_t index, ModeFunction screen);
void GSL_WorkClear(int32_t index, uint8_t release);
// Deletes a screen's context as it leaves; a held frame rate comes back.
void GSL_WorkDelete(ModeFunction screen);
// The screen runs at 60 frames a second until its context is deleted, which
// puts back the rate found here.
void GSL_WorkFrameRateHold(ScreenWork* w);
// A frame rate kept within 1..60.
uint8_t GSL_FrameRateClamp(int32_t rate);
// Deletes every context, empties the stack, removes every group-400 task
// (with its widget delete call) and wipes the screen heap.
void GSL_WorkDeleteAll();

// Header word i of a context read and written as a signed 32-bit value (the
// word holds it sign-extended), the way the screens keep task ids, counters
// and -1 for none.
inline int32_t GSL_WorkWord(const ScreenWork* w, uint32_t i) { return int32_t(int64_t(w->words[i])); }
inline void GSL_WorkWordSet(ScreenWork* w, uint32_t i, int32_t v) { w->words[i] = uint64_t(int64_t(v)); }

// Sub-states every step knows: a step starts at SUBSTATE_ENTRY, and
// SUBSTATE_CLOSE is the usual closing one, which waits for the screen's fade
// to finish before the step moves on (a screen may give it other closing
// work).
enum : int32_t { SUBSTATE_ENTRY = 0, SUBSTATE_CLOSE = 99 };

// The restore driver (ui/screen_restore.cpp), run from the top of the stack.
void GSL_WorkRestoreCB();
// Follows the pointer gesture from press to release (after the input poll).
void GSL_SystemMouseUpdate();
// Back to no gesture (after the display mode changed under the pointer).
void GSL_SystemMouseReset();
