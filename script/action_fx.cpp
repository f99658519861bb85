#include "script/action_fx.h"

#include <cmath>
#include <cstring>

#include "engine/core/util.h"
#include "engine/render/sprite.h"
#include "script/effects.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "ui/trans_num.h"
#include "ui/widget.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

namespace {

constexpr uint16_t kSweepPriority = 34000;
constexpr uint16_t kActionPriority = 34001;
constexpr uint16_t kActionGroup = 400;
constexpr double kDegree = 0.017453;

enum : uint8_t { ACTION_START = 0, ACTION_SETUP = 10, ACTION_RUN = 11, ACTION_END = 99 };

struct ActionWork {
    WidgetWork head;
    int32_t base, layer;
    int32_t preset;
    int32_t repeatsLeft;  // -1: taken from `repeat` at the next sweep; negative for ever
    int32_t quarter;      // -1: a new turn
    int32_t hold;         // frames after a sweep, -1 none
    int32_t frames;       // of a whole turn
    int32_t transA, transB;
    float angleA, angleB;
    float amplitude1, repeat, amplitude2;
    float baseX, baseY;
    int32_t sprite;  // the sprite this action drives
};
static_assert(sizeof(ActionWork) <= kWidgetWorkSize);

// A float as an i32: truncated, NaN 0, out of range clamped.
int32_t TruncI32(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483520.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return int32_t(v);
}

float Sine(float degrees) { return sinf(float(double(degrees) * kDegree)); }

// A sweep length: truncated, or rounded half up where asked; at least 1.
int32_t SweepLength(float n, bool halfUp) {
    int32_t whole = TruncI32(n);
    if (halfUp && n - float(whole) >= 0.5f && whole < INT32_MAX) ++whole;
    return whole < 1 ? 1 : whole;
}

ScriptTaskWork* StoryScript() { return GSL_ScriptTaskWork(GSL_ScriptStoryTask()); }

uint8_t ScriptSuspended() {
    const int32_t slot = GSL_ScriptStoryTask();
    if (slot < 0 || slot >= kTaskSlots || !TaskTable.slots[slot]) return 255;
    return TaskTable.slots[slot]->suspended;
}

void SetTransSuspended(int32_t slot, uint8_t value) {
    if (slot >= 0 && slot < kTaskSlots && TaskTable.slots[slot] &&
        TaskTable.slots[slot]->callback == GSL_SystemTransNumCB)
        TaskTable.slots[slot]->suspended = value;
}

void DeleteSweeps(ActionWork* w) {
    GSL_SystemTransNumDel(w->transA, &w->angleA);
    GSL_SystemTransNumDel(w->transB, &w->angleB);
    w->transA = w->transB = -1;
}

void ActionDelete(int32_t slot) {
    if (auto* w = reinterpret_cast<ActionWork*>(GSL_WidgetWorkGet(slot, ActionCB))) DeleteSweeps(w);
}

// The driven sprite while its layer still holds it, else -1.
int32_t ActionSprite(const ActionWork* w) {
    if (w->sprite < 0 || GSL_ScriptStoryLayerSprite(w->base + w->layer) != w->sprite) return -1;
    return Lib_SpriteIsLive(w->sprite) ? w->sprite : -1;
}

void SetPoint2(int32_t sprite, float x, float y) {
    if (sprite >= 0) Lib_SpriteSetCenter(sprite, Lib_SpriteGetCenter(sprite), SpritePoint{x, y});
}

// Sweeps an angle from `from` to `to` over n frames; 1 frame or less: at once.
void Sweep(float* angle, int32_t* id, float from, float to, int32_t n) {
    if (n <= 1) {
        *angle = to;
        *id = -1;
        return;
    }
    *angle = from;
    *id = GSL_SystemTransNumSetF(angle, to, n, TRANS_LINEAR, kSweepPriority, kActionGroup, 0);
}

// The length of a quarter sweep: a whole turn's frames times `share`, the
// even quarters rounded half up so that the quarters add up to the turn.
int32_t QuarterLength(const ActionWork* w, float share) {
    return SweepLength(float(w->frames) * share, w->quarter % 2 == 0);
}

// One quarter of angle A's turn of four (the counter runs down from 4).
void QuarterSweep(ActionWork* w) {
    if (w->quarter < 0) w->quarter = 4;
    const float from = float(360 - w->quarter * 90);
    Sweep(&w->angleA, &w->transA, from, from + 90.0f, QuarterLength(w, 0.25f));
}

void SetUp(ActionWork* w) {
    const float a0 = w->angleA, b0 = w->angleB;
    w->angleA = w->angleB = 0.0f;
    if (w->preset >= 0 && w->preset <= 5 && w->repeatsLeft < 0) w->repeatsLeft = TruncI32(w->repeat);
    switch (w->preset) {
    case 0: {
        // Two quarters of B a turn: 0 -> 90 -> 180.
        if (w->quarter < 0) w->quarter = 2;
        const float from = float(180 - w->quarter * 90);
        Sweep(&w->angleB, &w->transB, from, from + 90.0f, QuarterLength(w, 0.5f));
        break;
    }
    case 1:
        if (w->frames < 6) {
            // Too short to sweep: three quarters a turn, one a frame.
            if (w->quarter < 0) w->quarter = 3;
            w->angleA = float(270 - w->quarter * 90) + 90.0f;
            break;
        }
        QuarterSweep(w);
        break;
    case 2:
        QuarterSweep(w);
        Sweep(&w->angleB, &w->transB, b0, b0 + w->amplitude2, QuarterLength(w, 0.25f));
        break;
    case 3: {
        QuarterSweep(w);
        const float from = float(Lib_Random(0, 360));
        Sweep(&w->angleB, &w->transB, from, from + 90.0f, QuarterLength(w, 0.25f));
        break;
    }
    case 4:
        Sweep(&w->angleA, &w->transA, a0, a0 + w->amplitude1, w->frames);
        Sweep(&w->angleB, &w->transB, 0.0f, 180.0f, w->frames);
        break;
    case 5:
        Sweep(&w->angleA, &w->transA, 0.0f, 360.0f, w->frames);
        Sweep(&w->angleB, &w->transB, 0.0f, 360.0f, w->frames);
        break;
    default:
        break;  // no sweep: the point stays at the raw angles
    }
}

void WriteOffsets(const ActionWork* w, int32_t sprite) {
    float x = w->angleA, y = w->angleB;
    switch (w->preset) {
    case 0: x = w->angleA; y = Sine(w->angleB) * w->amplitude1; break;
    case 1: x = Sine(w->angleA) * w->amplitude1; y = w->angleB; break;
    case 2: x = Sine(w->angleA) * w->amplitude1; y = -w->angleB; break;
    case 3: x = Sine(w->angleA) * w->amplitude1; y = Sine(w->angleB) * w->amplitude2 * 0.5f; break;
    case 4: x = w->angleA; y = Sine(w->angleB) * w->amplitude2; break;
    case 5:
        x = Sine(w->angleA) * w->amplitude1;
        y = w->amplitude2 - std::fabs(Sine(w->angleB)) * w->amplitude2;
        break;
    default: break;
    }
    SetPoint2(sprite, float(TruncI32(x)) + w->baseX, float(TruncI32(y)) + w->baseY);
}

bool SweepRunning(const ActionWork* w) {
    return !GSL_SystemTransNumCheck(w->transA, &w->angleA) || !GSL_SystemTransNumCheck(w->transB, &w->angleB);
}

void ActionEnd(ActionWork* w, int32_t sprite) {
    DeleteSweeps(w);
    if (w->preset == 4) SetPoint2(sprite, w->repeat * w->amplitude1 + w->baseX, w->baseY);
    else SetPoint2(sprite, w->baseX, w->baseY);
    ScriptTaskWork* script = StoryScript();
    if (StageRecord* stage = script ? script->context.stage : nullptr) {
        int32_t& entry = stage->actionTask[(w->base == 12 ? 12 : 0) + w->layer];
        if (entry == w->head.slot) entry = -1;
    }
}

}  // namespace

int32_t ActionCB(void* work) {
    auto* w = static_cast<ActionWork*>(work);
    TaskRecord* self = GSL_WidgetRecord(&w->head);
    ScriptTaskWork* script = StoryScript();
    StageRecord* stage = script ? script->context.stage : nullptr;
    const int32_t sprite = ActionSprite(w);
    const bool finish = self && self->finishRequest;
    if (script && (script->script.status & (SCRIPT_REPLAY_RUN | SCRIPT_REPLAYING))) {
        // A replay run only lets the action be stopped.
        if (!finish) return 0;
        w->head.state = ACTION_END;
    } else if (w->head.state < ACTION_END && (finish || !stage || sprite < 0)) {
        w->head.state = ACTION_END;
    }
    if (w->head.state != ACTION_END) {
        SetTransSuspended(w->transA, 0);
        SetTransSuspended(w->transB, 0);
        if (ScriptSuspended() == 1) {
            SetTransSuspended(w->transA, 1);
            SetTransSuspended(w->transB, 1);
            return 0;
        }
    }
    if (w->head.state == ACTION_START) {
        if (stage && stage->wipeHold) return 0;
        w->repeatsLeft = w->quarter = w->hold = -1;
        const SpritePoint p = Lib_SpriteGetPoint2(sprite);
        w->baseX = p.x;
        w->baseY = p.y;
        w->head.state = ACTION_SETUP;
    }
    if (w->head.state == ACTION_SETUP) {
        SetUp(w);
        w->head.state = ACTION_RUN;
    }
    if (w->head.state == ACTION_RUN) {
        if (GSL_IsSkip() && w->repeatsLeft >= 0) {
            w->head.state = ACTION_END;
        } else {
            WriteOffsets(w, sprite);
            if (SweepRunning(w)) return 0;
            if (w->hold >= 0) {
                --w->hold;
                return 0;
            }
            if (w->repeatsLeft > 0 && (w->quarter == 1 || w->quarter < 0)) --w->repeatsLeft;
            if (w->repeatsLeft != 0) {
                DeleteSweeps(w);
                w->head.state = ACTION_SETUP;
                if (w->quarter >= 1) w->quarter = w->quarter == 1 ? -1 : w->quarter - 1;
                return 0;
            }
            w->head.state = ACTION_END;
        }
    }
    ActionEnd(w, sprite);
    return 1;
}

void ActionSet(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage) {
    if (!stage || layer < 0 || layer > 11 || dstPage < 0 || srcPage < 0) return;
    dstPage = dstPage ? 1 : 0;
    srcPage = srcPage ? 1 : 0;
    const int32_t src = GSL_EffectTaskGet(stage->actionTask, srcPage * 12 + layer, ActionCB);
    if (src < 0 || TaskTable.slots[src]->finishRequest) return;
    GSL_WidgetDeleteRegister(ActionCB, ActionDelete);
    const auto* from = static_cast<const ActionWork*>(TaskTable.slots[src]->work);
    auto* w = reinterpret_cast<ActionWork*>(
        GSL_WidgetCreate("ActionCB", ActionCB, kActionPriority, kActionGroup, TASK_FLAG_BREAKABLE));
    if (!w) return;
    const int32_t slot = w->head.slot;
    std::memcpy(static_cast<void*>(w), from, sizeof(ActionWork));
    w->head.slot = slot;
    w->base = dstPage * 12;
    w->sprite = GSL_ScriptStoryLayerSprite(w->base + layer);
    // The clones drive this work's angles, not the source's.
    w->transA = from->transA >= 0 ? GSL_SystemTransNumCopy(from->transA, nullptr, &w->angleA, kActionPriority) : -1;
    w->transB = from->transB >= 0 ? GSL_SystemTransNumCopy(from->transB, nullptr, &w->angleB, kActionPriority) : -1;
    stage->actionTask[dstPage * 12 + layer] = slot;
}

int32_t GSL_LayerActionStart(StageRecord* stage, int32_t page, int32_t layer, int32_t preset, int32_t frames,
                             float amplitude1, float repeat, float amplitude2) {
    if (!stage || page < 0 || page > 1 || layer < 0 || layer > 11) return -1;
    GSL_WidgetDeleteRegister(ActionCB, ActionDelete);
    const int32_t index = page * 12 + layer;
    if (GSL_EffectTaskGet(stage->actionTask, index, ActionCB) >= 0) return -1;
    auto* w = reinterpret_cast<ActionWork*>(
        GSL_WidgetCreate("ActionCB", ActionCB, kActionPriority, kActionGroup, TASK_FLAG_BREAKABLE));
    if (!w) return -1;
    w->base = page * 12;
    w->layer = layer;
    w->preset = preset;
    w->repeatsLeft = w->quarter = w->hold = -1;
    w->frames = frames;
    w->transA = w->transB = -1;
    w->angleA = w->angleB = 0.0f;
    w->amplitude1 = amplitude1;
    w->repeat = repeat;
    w->amplitude2 = amplitude2;
    w->baseX = w->baseY = 0.0f;
    w->sprite = GSL_ScriptStoryLayerSprite(w->base + layer);
    stage->actionTask[index] = w->head.slot;
    return w->head.slot;
}
