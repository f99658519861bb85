// Number transitions: a widget task that drives someone else's integer or
// float from its current value to a goal over a number of frames along one
// of five curves (linear, accelerating, decelerating, fast-slow-fast and
// slow-fast-slow). The task writes the goal on its last frame, sets its done
// flag and then idles until its owner deletes it.
#pragma once

#include <cstdint>

#include "ui/widget_task.h"

// Curve modes; any mode of 2 or more behaves as 2, any of -2 or less as -2.
enum : int8_t {
    TRANS_LINEAR = 0,
    TRANS_ACCEL = 1,
    TRANS_DECEL = -1,
    TRANS_FAST_SLOW_FAST = 2,
    TRANS_SLOW_FAST_SLOW = -2,
};

struct TransNumState {
    int32_t counter;  // frames stepped
    int32_t goal;     // integer transitions
    int32_t frames;
    int32_t mode;
    uint32_t done;
    float goalF;      // float transitions
    float start;      // read from the target on the first step
    float speed1, accel1;  // first part (the whole curve for one-part modes)
    float speed2, accel2;  // second part of a two-part curve
    void* target;     // int32_t or float, not owned
    uint32_t isFloat;
};

struct TransNumWork {
    WidgetWork head;
    TransNumState num;
};

// Start a transition of an integer or a float target; the task slot, or -1
// (nothing registered) without a target or when no task or work area could
// be had.
int32_t GSL_SystemTransNumSet(int32_t* target, int32_t goal, int32_t frames, int8_t mode, uint16_t priority,
                              uint16_t group, uint8_t flags);
int32_t GSL_SystemTransNumSetF(float* target, float goal, int32_t frames, int8_t mode, uint16_t priority,
                               uint16_t group, uint8_t flags);

// True when the transition has written its goal, and for a bad slot: one out
// of range, empty, or now held by another task. With a target given, a
// transition of another variable counts as a bad slot too.
bool GSL_SystemTransNumCheck(int32_t slot, const void* target = nullptr);

// Deletes the transition in `slot` when it is one (of `target`, when given);
// a bad slot deletes nothing. True when a task was deleted.
bool GSL_SystemTransNumDel(int32_t slot, const void* target = nullptr);

// A second transition that continues exactly where `source` stands, driving
// intTarget when given and the source is an integer transition, else
// floatTarget (an integer source then drives it as a float, and a float
// source with only intTarget drives the integer). Group 400, breakable.
// -1 for a bad source or no target.
int32_t GSL_SystemTransNumCopy(int32_t source, int32_t* intTarget, float* floatTarget, uint16_t priority);

// The curve constants from `from` to `to` over `frames` frames; null outputs
// are skipped.
void GSL_SystemTransCurve(int32_t mode, float from, float to, int32_t frames, float* speed1, float* accel1,
                          float* speed2, float* accel2);

// The task callback; 1 only when a finish request made the task delete itself.
int32_t GSL_SystemTransNumCB(void* work);
