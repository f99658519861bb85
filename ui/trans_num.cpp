#include "ui/trans_num.h"

#include <cmath>
#include <cstring>

static_assert(sizeof(TransNumWork) <= kWidgetWorkSize);

namespace {

TransNumWork* TransOf(int32_t slot, const void* target) {
    auto* w = reinterpret_cast<TransNumWork*>(GSL_WidgetWorkGet(slot, GSL_SystemTransNumCB));
    if (w && target && w->num.target != target) return nullptr;
    return w;
}

int32_t Create(const char* name, void* target, int32_t goal, float goalF, int32_t frames, int8_t mode,
               uint16_t priority, uint16_t group, uint8_t flags, bool isFloat) {
    auto* w = reinterpret_cast<TransNumWork*>(GSL_WidgetCreate(name, GSL_SystemTransNumCB, priority, group, flags));
    if (!w) return -1;
    TransNumState& n = w->num;
    n.counter = 0;
    n.goal = goal;
    n.goalF = goalF;
    n.frames = frames;
    n.mode = mode;
    n.done = 0;
    n.target = target;
    n.isFloat = isFloat ? 1 : 0;
    return w->head.slot;
}

// Truncation toward zero that stays defined for every float.
int32_t ToInt(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v < -2147483648.0f) return INT32_MIN;
    return int32_t(v);
}

// Two-part curves: mode 2 or more, or -2 or less.
bool TwoPart(int32_t mode) { return uint32_t(mode + 1) > 2; }

void WriteGoal(TransNumState& n) {
    if (n.isFloat)
        *static_cast<float*>(n.target) = n.goalF;
    else
        *static_cast<int32_t*>(n.target) = n.goal;
    n.done = 1;
}

// One frame of the curve: writes the target and says whether the goal is reached.
bool Step(TransNumState& n) {
    ++n.counter;
    float t = float(n.counter);
    float goal = n.isFloat ? n.goalF : float(n.goal);
    float half = float(n.frames / 2);
    float base = n.start, speed = n.speed1, accel = n.accel1;
    if (TwoPart(n.mode) && t >= half) {
        base = (goal - n.start) * 0.5f + n.start;
        t = t - half;
        speed = n.speed2;
        accel = n.accel2;
    }
    float value = (t * accel * t) * 0.5f + (t * speed + base);
    if (!std::isfinite(value)) return true;  // no curve to follow: take the goal

    if (n.isFloat) {
        *static_cast<float*>(n.target) = value;
        if ((goal > n.start && value > goal) || (n.start > goal && goal > value)) return true;
        return value == goal || n.counter >= n.frames;
    }
    int32_t v = ToInt(value);
    *static_cast<int32_t*>(n.target) = v;
    if ((goal > n.start && v > n.goal) || (n.start > goal && n.goal > v)) return true;
    return v == n.goal || n.counter >= n.frames;
}

}  // namespace

void GSL_SystemTransCurve(int32_t mode, float from, float to, int32_t frames, float* speed1, float* accel1,
                          float* speed2, float* accel2) {
    float s1 = 0.0f, a1 = 0.0f, s2 = 0.0f, a2 = 0.0f;
    if (TwoPart(mode)) {
        // Each half over h frames; fewer than 2 frames leave no half to run.
        int32_t h = frames / 2;
        if (h != 0) {
            float mid = (to - from) * 0.5f + from;
            GSL_SystemTransCurve(mode > 0 ? -1 : 1, from, mid, h, &s1, &a1, nullptr, nullptr);
            GSL_SystemTransCurve(mode > 0 ? 1 : -1, mid, to, h, &s2, &a2, nullptr, nullptr);
        }
    } else if (frames != 0) {
        float d = to - from;
        float nn = float(int32_t(uint32_t(frames) * uint32_t(frames)));
        if (mode == 0) {
            s1 = d / float(frames);
        } else if (nn != 0.0f) {
            a1 = 2.0f * d / nn;
            if (mode < 0) {
                a1 = -a1;
                s1 = -(float(frames) * a1);
            }
        }
        s2 = s1;
        a2 = a1;
    }
    if (speed1) *speed1 = s1;
    if (accel1) *accel1 = a1;
    if (speed2) *speed2 = s2;
    if (accel2) *accel2 = a2;
}

int32_t GSL_SystemTransNumSet(int32_t* target, int32_t goal, int32_t frames, int8_t mode, uint16_t priority,
                              uint16_t group, uint8_t flags) {
    if (!target) return -1;
    return Create("GSL_SystemTransNumCB", target, goal, float(goal), frames, mode, priority, group, flags, false);
}

int32_t GSL_SystemTransNumSetF(float* target, float goal, int32_t frames, int8_t mode, uint16_t priority,
                               uint16_t group, uint8_t flags) {
    if (!target) return -1;
    return Create("GSL_SystemTransNumCB(F)", target, ToInt(goal), goal, frames, mode, priority, group, flags, true);
}

bool GSL_SystemTransNumCheck(int32_t slot, const void* target) {
    TransNumWork* w = TransOf(slot, target);
    return !w || w->num.done != 0;
}

bool GSL_SystemTransNumDel(int32_t slot, const void* target) {
    if (!TransOf(slot, target)) return false;
    Lib_TaskDel(uint32_t(slot));
    return true;
}

int32_t GSL_SystemTransNumCopy(int32_t source, int32_t* intTarget, float* floatTarget, uint16_t priority) {
    TransNumWork* from = TransOf(source, nullptr);
    if (!from || (!intTarget && !floatTarget)) return -1;
    auto* w = reinterpret_cast<TransNumWork*>(
        GSL_WidgetCreate("GSL_SystemTransNumCB(C)", GSL_SystemTransNumCB, priority, kWidgetGroupScreen,
                         TASK_FLAG_BREAKABLE));
    if (!w) return -1;
    int32_t slot = w->head.slot;
    std::memcpy(static_cast<void*>(w), from, kWidgetWorkSize);
    w->head.slot = slot;
    TransNumState& n = w->num;
    if (intTarget && (!n.isFloat || !floatTarget)) {
        if (n.isFloat) n.goal = ToInt(n.goalF);
        n.isFloat = 0;
        n.target = intTarget;
    } else {
        if (!n.isFloat) n.goalF = float(n.goal);
        n.isFloat = 1;
        n.target = floatTarget;
    }
    return slot;
}

int32_t GSL_SystemTransNumCB(void* work) {
    auto* w = static_cast<TransNumWork*>(work);
    if (!w) return 1;
    TaskRecord* record = GSL_WidgetRecord(&w->head);
    if (record && record->finishRequest) {
        Lib_TaskDel(uint32_t(w->head.slot));  // frees the work area: touch nothing after
        return 1;
    }
    TransNumState& n = w->num;
    if (w->head.state == WIDGET_STARTING) {
        n.start = n.isFloat ? *static_cast<float*>(n.target) : float(*static_cast<int32_t*>(n.target));
        w->head.state = WIDGET_RUNNING;
        if (TwoPart(n.mode) && n.frames < 2) {
            // Too short for two halves: the goal at once.
            WriteGoal(n);
            w->head.state = WIDGET_FINISHED;
            return 0;
        }
        float goal = n.isFloat ? n.goalF : float(n.goal);
        GSL_SystemTransCurve(n.mode, n.start, goal, n.frames == 0 ? int32_t(1.0f) : n.frames, &n.speed1,
                             &n.accel1, &n.speed2, &n.accel2);
    }
    if (w->head.state != WIDGET_RUNNING) return 0;
    if (Step(n)) {
        WriteGoal(n);
        w->head.state = WIDGET_FINISHED;
    }
    return 0;
}
