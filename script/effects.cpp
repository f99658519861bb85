#include "script/effects.h"

#include <cmath>
#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/core/util.h"
#include "engine/render/camera.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "script/action_fx.h"
#include "script/args.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "ui/mode.h"
#include "ui/trans_num.h"
#include "ui/widget.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

namespace {

constexpr uint16_t kEffectPriority = 34000;
constexpr uint16_t kQuakePriority = 34001;
constexpr uint16_t kEffectGroup = 400;
constexpr int32_t kMoveQueueMax = 64;

struct MoveWork {
    WidgetWork head;
    int32_t base, layer, frames, curve, delay;
    int32_t transX, transY;
    float goalX, goalY, curX, curY;
    int32_t sprite;   // the sprite this move drives
    uint8_t aborted;
};
static_assert(sizeof(MoveWork) <= kWidgetWorkSize);

struct QuakeWork {
    WidgetWork head;
    int32_t kind, axis, cycle, layer;
    float signX, signY;
    int32_t phase, framesLeft, frames;
    float restX, restY, amplitude, startAmplitude;
    CameraRecord* camera;
    StageRecord* stage;  // whose id this quake clears at its end
};
static_assert(sizeof(QuakeWork) <= kWidgetWorkSize);

// The stage record of the story script, or null when no story script runs.
StageRecord* StoryStage() {
    ScriptTaskWork* w = GSL_ScriptTaskWork(GSL_ScriptStoryTask());
    return w ? w->context.stage : nullptr;
}

// The suspended byte of the story script task; 255 when there is none.
uint8_t ScriptSuspended() {
    const int32_t slot = GSL_ScriptStoryTask();
    if (slot < 0 || slot >= kTaskSlots || !TaskTable.slots[slot]) return 255;
    return TaskTable.slots[slot]->suspended;
}

int32_t TableIndex(int32_t base, int32_t layer) { return (base == 12 ? 12 : 0) + layer; }

// An effect waits to start while a wipe holds the stage, then for its delay.
bool StartHeld(const StageRecord* stage, int32_t* delay) {
    if (stage && stage->wipeHold) return true;
    if (*delay <= 0) return false;
    --*delay;
    return true;
}

void SetTransSuspended(int32_t slot, uint8_t value) {
    if (slot >= 0 && slot < kTaskSlots && TaskTable.slots[slot] &&
        TaskTable.slots[slot]->callback == GSL_SystemTransNumCB)
        TaskTable.slots[slot]->suspended = value;
}

// --- moves ------------------------------------------------------------------

void MoveDeleteTrans(MoveWork* w) {
    GSL_SystemTransNumDel(w->transX, &w->curX);
    GSL_SystemTransNumDel(w->transY, &w->curY);
    w->transX = w->transY = -1;
}

void MoveDelete(int32_t slot) {
    if (auto* w = reinterpret_cast<MoveWork*>(GSL_WidgetWorkGet(slot, MoveCB))) MoveDeleteTrans(w);
}

// The driven sprite while the layer still holds it, else null.
SpriteRecord* MoveSprite(const MoveWork* w) {
    if (w->sprite < 0 || GSL_ScriptStoryLayerSprite(w->base + w->layer) != w->sprite) return nullptr;
    return Lib_SpriteIsLive(w->sprite) ? Lib_SpriteAt(w->sprite) : nullptr;
}

// A picture in layer 11 of the same page makes the page's moves whole, its
// own included.
bool WholeNumbers(const MoveWork* w) { return Lib_SpriteIsLive(GSL_ScriptStoryLayerSprite(w->base + 11)); }

void MoveWrite(const MoveWork* w, SpriteRecord* s, float x, float y) {
    if (!s) return;
    if (WholeNumbers(w)) {
        x = floorf(x);
        y = floorf(y);
    }
    s->posX = x;
    s->posY = y;
    s->posZ = 0.0f;
}

void MoveStart(MoveWork* w, const SpriteRecord* s) {
    w->curX = s ? s->posX : 0.0f;
    w->curY = s ? s->posY : 0.0f;
    w->transX = w->curX != w->goalX
        ? GSL_SystemTransNumSetF(&w->curX, w->goalX, w->frames, int8_t(w->curve), kEffectPriority, kEffectGroup, 0)
        : -1;
    w->transY = w->curY != w->goalY
        ? GSL_SystemTransNumSetF(&w->curY, w->goalY, w->frames, int8_t(w->curve), kEffectPriority, kEffectGroup, 0)
        : -1;
}

bool MoveRunning(const MoveWork* w) {
    return !GSL_SystemTransNumCheck(w->transX, &w->curX) || !GSL_SystemTransNumCheck(w->transY, &w->curY);
}

}  // namespace

int32_t GSL_EffectTaskGet(int32_t* table, int32_t index, TaskCallback callback) {
    if (!table || index < 0 || index >= 24) return -1;
    const int32_t id = table[index];
    if (id >= 0 && GSL_WidgetWorkGet(id, callback)) return id;
    table[index] = -1;
    return -1;
}

void GSL_LayerEffectsStop(StageRecord* stage, int32_t page, int32_t layer) {
    if (!stage || page < 0 || page > 1 || layer < 0 || layer > 11) return;
    const int32_t i = page * 12 + layer;
    const struct {
        int32_t* table;
        TaskCallback cb;
    } kinds[] = {{stage->moveTask, MoveCB}, {stage->scaleTask, ScaleCB}, {stage->rotateTask, RotCB},
                 {stage->colorTask, AbgrCB}, {stage->actionTask, ActionCB}};
    for (const auto& k : kinds) {
        const int32_t id = GSL_EffectTaskGet(k.table, i, k.cb);
        if (id >= 0) TaskTable.slots[id]->finishRequest = 1;
    }
}

int32_t MoveCB(void* work) {
    auto* w = static_cast<MoveWork*>(work);
    TaskRecord* self = GSL_WidgetRecord(&w->head);
    StageRecord* stage = StoryStage();
    SpriteRecord* s = MoveSprite(w);
    const bool finish = self && self->finishRequest;
    if (w->head.state < 99 && (finish || !stage || !s)) {
        w->head.state = 99;
        w->aborted = 1;
    }
    if (w->head.state != 99) {
        SetTransSuspended(w->transX, 0);
        SetTransSuspended(w->transY, 0);
        if (ScriptSuspended() == 1) {
            SetTransSuspended(w->transX, 1);
            SetTransSuspended(w->transY, 1);
            return 0;
        }
    }
    if (w->head.state == 0) {
        if (StartHeld(stage, &w->delay)) return 0;
        MoveStart(w, s);
        w->head.state = 1;
    }
    if (w->head.state == 1) {
        if (!GSL_IsSkip() && MoveRunning(w)) {
            MoveWrite(w, s, w->curX, w->curY);
            return 0;
        }
        w->head.state = 99;
    }
    // state 99
    MoveDeleteTrans(w);
    if (!(w->aborted && w->layer == 10)) MoveWrite(w, s, w->goalX, w->goalY);
    const int32_t index = TableIndex(w->base, w->layer);
    MoveQueue& q = MoveQueues[index];
    if (q.count > 0) {
        if (!finish && stage && s && !GSL_IsSkip()) {
            // The next queued move starts from this goal in the next frame.
            const MoveQueueEntry e = q.entries[0];
            std::memmove(q.entries, q.entries + 1, sizeof(MoveQueueEntry) * size_t(q.count - 1));
            --q.count;
            w->goalX = e.x;
            w->goalY = e.y;
            w->frames = e.frames;
            w->aborted = 0;
            w->head.state = 0;
            return 0;
        }
        const MoveQueueEntry& last = q.entries[q.count - 1];
        MoveWrite(w, s, last.x, last.y);
        q.count = 0;
    }
    if (stage && stage->moveTask[index] == w->head.slot) stage->moveTask[index] = -1;
    return 1;
}

void MoveSet(StageRecord* stage, int32_t base, int32_t layer, float x, float y, float z, int32_t frames) {
    if (!stage || layer < 0 || layer > 11) return;
    GSL_WidgetDeleteRegister(MoveCB, MoveDelete);
    const int32_t index = TableIndex(base, layer);
    base = base == 12 ? 12 : 0;
    if (GSL_EffectTaskGet(stage->moveTask, index, MoveCB) >= 0) {
        MoveQueue& q = MoveQueues[index];
        if (q.count >= kMoveQueueMax) {
            Lib_DebugPrintf("Error -> MoveSet(%d, %d): queue full\n", int(base), int(layer));
            return;
        }
        q.entries[q.count++] = MoveQueueEntry{x, y, z, frames};
        return;
    }
    if (GSL_IsSkip()) frames = 0;
    const int32_t sprite = GSL_ScriptStoryLayerSprite(base + layer);
    SpriteRecord* s = Lib_SpriteIsLive(sprite) ? Lib_SpriteAt(sprite) : nullptr;
    const bool differs = !s || s->posX != x || s->posY != y;
    if (frames > 0 && differs && s) {
        auto* w = reinterpret_cast<MoveWork*>(
            GSL_WidgetCreate("MoveCB", MoveCB, kEffectPriority, kEffectGroup, TASK_FLAG_BREAKABLE));
        if (w) {
            w->base = base;
            w->layer = layer;
            w->frames = frames;
            w->curve = 0;
            w->delay = 0;
            w->transX = w->transY = -1;
            w->goalX = x;
            w->goalY = y;
            w->curX = s->posX;
            w->curY = s->posY;
            w->sprite = sprite;
            w->aborted = 0;
            stage->moveTask[index] = w->head.slot;
            return;
        }
    }
    if (s) {
        s->posX = x;
        s->posY = y;
        s->posZ = 0.0f;
    }
}

void MoveSet2(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage) {
    if (!stage || layer < 0 || layer > 11 || dstPage < 0 || dstPage > 1 || srcPage < 0 || srcPage > 1) return;
    const int32_t src = GSL_EffectTaskGet(stage->moveTask, srcPage * 12 + layer, MoveCB);
    if (src < 0 || TaskTable.slots[src]->finishRequest) return;
    GSL_WidgetDeleteRegister(MoveCB, MoveDelete);
    const auto* from = static_cast<const MoveWork*>(TaskTable.slots[src]->work);
    auto* w = reinterpret_cast<MoveWork*>(
        GSL_WidgetCreate("MoveCB", MoveCB, kEffectPriority, kEffectGroup, TASK_FLAG_BREAKABLE));
    if (!w) return;
    const int32_t slot = w->head.slot;
    std::memcpy(static_cast<void*>(w), from, sizeof(MoveWork));
    w->head.slot = slot;
    w->base = dstPage * 12;
    w->sprite = GSL_ScriptStoryLayerSprite(w->base + layer);
    w->aborted = 0;
    // The clones drive this work's values, not the source's.
    w->transX = from->transX >= 0 ? GSL_SystemTransNumCopy(from->transX, nullptr, &w->curX, kEffectPriority) : -1;
    w->transY = from->transY >= 0 ? GSL_SystemTransNumCopy(from->transY, nullptr, &w->curY, kEffectPriority) : -1;
    stage->moveTask[dstPage * 12 + layer] = slot;
}

// --- scale, rotation and colour --------------------------------------------

namespace {

struct FxWork {
    WidgetWork head;
    int32_t kind, base, layer, frames, curve, delay;
    int32_t count;         // components: 2 scale, 1 rotation, 4 colour
    int32_t trans[4];
    float goal[4];
    float cur[4];          // scale and rotation
    int32_t icur[4];       // colour channels alpha, blue, green, red
    int32_t sprite;
    uint8_t aborted;
};
static_assert(sizeof(FxWork) <= kWidgetWorkSize);

int32_t* FxTable(StageRecord* stage, int32_t kind) {
    return kind == EFFECT_SCALE ? stage->scaleTask : kind == EFFECT_ROT ? stage->rotateTask : stage->colorTask;
}
TaskCallback FxCallback(int32_t kind) { return kind == EFFECT_SCALE ? ScaleCB : kind == EFFECT_ROT ? RotCB : AbgrCB; }
const char* FxName(int32_t kind) {
    return kind == EFFECT_SCALE ? "ScaleCB" : kind == EFFECT_ROT ? "RotCB" : "AbgrCB";
}

SpriteRecord* FxSprite(const FxWork* w) {
    if (w->sprite < 0 || GSL_ScriptStoryLayerSprite(w->base + w->layer) != w->sprite) return nullptr;
    return Lib_SpriteIsLive(w->sprite) ? Lib_SpriteAt(w->sprite) : nullptr;
}

// The colour in the engine layout: alpha 24-31, blue 16-23, green 8-15, red 0-7.
void SplitColor(uint32_t c, int32_t* out) {
    out[0] = int32_t(c >> 24 & 0xFF);
    out[1] = int32_t(c >> 16 & 0xFF);
    out[2] = int32_t(c >> 8 & 0xFF);
    out[3] = int32_t(c & 0xFF);
}
uint32_t PackColor(const int32_t* v) {
    auto ch = [](int32_t x) { return uint32_t(x < 0 ? 0 : x > 255 ? 255 : x); };
    return ch(v[0]) << 24 | ch(v[1]) << 16 | ch(v[2]) << 8 | ch(v[3]);
}

void FxRead(FxWork* w, const SpriteRecord* s) {
    if (w->kind == EFFECT_SCALE) {
        w->cur[0] = s ? s->scaleX : 0.0f;
        w->cur[1] = s ? s->scaleY : 0.0f;
    } else if (w->kind == EFFECT_ROT) {
        w->cur[0] = s ? s->rotZ : 0.0f;
    } else {
        SplitColor(s ? Lib_SpriteGetColor(w->sprite) : 0u, w->icur);
    }
}

void FxWrite(const FxWork* w, SpriteRecord* s, bool goals) {
    if (!s) return;
    const float* v = goals ? w->goal : w->cur;
    if (w->kind == EFFECT_SCALE) {
        s->scaleX = v[0];
        s->scaleY = v[1];
        s->scaleZ = 1.0f;
    } else if (w->kind == EFFECT_ROT) {
        s->rotX = s->rotY = 0.0f;
        s->rotZ = v[0];
    } else {
        int32_t c[4];
        for (int i = 0; i < 4; ++i) c[i] = goals ? int32_t(w->goal[i]) : w->icur[i];
        Lib_SpriteSetColor(w->sprite, PackColor(c));
    }
}

void* FxTarget(FxWork* w, int i) {
    return w->kind == EFFECT_ABGR ? static_cast<void*>(&w->icur[i]) : static_cast<void*>(&w->cur[i]);
}

void FxDeleteTrans(FxWork* w) {
    for (int i = 0; i < w->count; ++i) GSL_SystemTransNumDel(w->trans[i], FxTarget(w, i));
    for (int32_t& t : w->trans) t = -1;
}

void FxDelete(int32_t slot) {
    for (int32_t kind = EFFECT_SCALE; kind <= EFFECT_ABGR; ++kind)
        if (auto* w = reinterpret_cast<FxWork*>(GSL_WidgetWorkGet(slot, FxCallback(kind)))) FxDeleteTrans(w);
}

void FxStart(FxWork* w) {
    for (int i = 0; i < w->count; ++i) {
        if (w->kind == EFFECT_ABGR) {
            // A colour task always drives all four channels.
            w->trans[i] = GSL_SystemTransNumSet(&w->icur[i], int32_t(w->goal[i]), w->frames, int8_t(w->curve),
                                                kEffectPriority, kEffectGroup, 0);
        } else {
            w->trans[i] = w->cur[i] != w->goal[i]
                ? GSL_SystemTransNumSetF(&w->cur[i], w->goal[i], w->frames, int8_t(w->curve), kEffectPriority,
                                         kEffectGroup, 0)
                : -1;
        }
    }
}

bool FxRunning(FxWork* w) {
    for (int i = w->count - 1; i >= 0; --i)
        if (!GSL_SystemTransNumCheck(w->trans[i], FxTarget(w, i))) return true;
    return false;
}

int32_t FxStep(FxWork* w) {
    TaskRecord* self = GSL_WidgetRecord(&w->head);
    StageRecord* stage = StoryStage();
    SpriteRecord* s = FxSprite(w);
    if (w->head.state < 99 && ((self && self->finishRequest) || !stage || !s)) {
        w->head.state = 99;
        w->aborted = 1;
    }
    if (w->head.state != 99) {
        for (int i = 0; i < w->count; ++i) SetTransSuspended(w->trans[i], 0);
        if (ScriptSuspended() == 1) {
            for (int i = 0; i < w->count; ++i) SetTransSuspended(w->trans[i], 1);
            return 0;
        }
    }
    if (w->head.state == 0) {
        if (StartHeld(stage, &w->delay)) return 0;
        FxRead(w, s);
        FxStart(w);
        w->head.state = 1;
    }
    if (w->head.state == 1) {
        if (!GSL_IsSkip() && FxRunning(w)) {
            FxWrite(w, s, false);
            return 0;
        }
        w->head.state = 99;
    }
    FxDeleteTrans(w);
    // An aborted colour keeps the colour it shows; layer 10 keeps its place.
    if (!(w->aborted && (w->layer == 10 || w->kind == EFFECT_ABGR))) FxWrite(w, s, true);
    if (stage) {
        int32_t* table = FxTable(stage, w->kind);
        const int32_t index = TableIndex(w->base, w->layer);
        if (table[index] == w->head.slot) table[index] = -1;
    }
    return 1;
}

void FxCopy(StageRecord* stage, int32_t kind, int32_t dstPage, int32_t layer, int32_t srcPage) {
    if (!stage || layer < 0 || layer > 11 || dstPage < 0 || dstPage > 1 || srcPage < 0 || srcPage > 1) return;
    int32_t* table = FxTable(stage, kind);
    const int32_t src = GSL_EffectTaskGet(table, srcPage * 12 + layer, FxCallback(kind));
    if (src < 0 || TaskTable.slots[src]->finishRequest) return;
    const auto* from = static_cast<const FxWork*>(TaskTable.slots[src]->work);
    auto* w = reinterpret_cast<FxWork*>(
        GSL_WidgetCreate(FxName(kind), FxCallback(kind), kEffectPriority, kEffectGroup, TASK_FLAG_BREAKABLE));
    if (!w) return;
    const int32_t slot = w->head.slot;
    std::memcpy(static_cast<void*>(w), from, sizeof(FxWork));
    w->head.slot = slot;
    w->base = dstPage * 12;
    w->sprite = GSL_ScriptStoryLayerSprite(w->base + layer);
    w->aborted = 0;
    for (int i = 0; i < w->count; ++i) {
        if (from->trans[i] < 0) continue;
        w->trans[i] = kind == EFFECT_ABGR
            ? GSL_SystemTransNumCopy(from->trans[i], &w->icur[i], nullptr, kEffectPriority)
            : GSL_SystemTransNumCopy(from->trans[i], nullptr, &w->cur[i], kEffectPriority);
    }
    table[dstPage * 12 + layer] = slot;
}

}  // namespace

int32_t ScaleCB(void* work) { return FxStep(static_cast<FxWork*>(work)); }
int32_t RotCB(void* work) { return FxStep(static_cast<FxWork*>(work)); }
int32_t AbgrCB(void* work) { return FxStep(static_cast<FxWork*>(work)); }

void ScaleSet(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage) {
    FxCopy(stage, EFFECT_SCALE, dstPage, layer, srcPage);
}
void RotSet(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage) {
    FxCopy(stage, EFFECT_ROT, dstPage, layer, srcPage);
}
void AbgrSet(StageRecord* stage, int32_t dstPage, int32_t layer, int32_t srcPage) {
    FxCopy(stage, EFFECT_ABGR, dstPage, layer, srcPage);
}

int32_t GSL_LayerEffectStart(StageRecord* stage, int32_t kind, int32_t page, int32_t layer, const float* goals,
                             int32_t frames) {
    if (!stage || !goals || kind < EFFECT_SCALE || kind > EFFECT_ABGR || page < 0 || page > 1 || layer < 0 ||
        layer > 11)
        return -1;
    for (int32_t k = EFFECT_SCALE; k <= EFFECT_ABGR; ++k) GSL_WidgetDeleteRegister(FxCallback(k), FxDelete);
    int32_t* table = FxTable(stage, kind);
    const int32_t index = page * 12 + layer;
    if (GSL_EffectTaskGet(table, index, FxCallback(kind)) >= 0) return -1;
    auto* w = reinterpret_cast<FxWork*>(
        GSL_WidgetCreate(FxName(kind), FxCallback(kind), kEffectPriority, kEffectGroup, TASK_FLAG_BREAKABLE));
    if (!w) return -1;
    w->kind = kind;
    w->base = page * 12;
    w->layer = layer;
    w->frames = frames;
    w->curve = 0;
    w->delay = 0;
    w->count = kind == EFFECT_SCALE ? 2 : kind == EFFECT_ROT ? 1 : 4;
    for (int i = 0; i < 4; ++i) {
        w->trans[i] = -1;
        w->goal[i] = i < w->count ? goals[i] : 0.0f;
    }
    w->sprite = GSL_ScriptStoryLayerSprite(w->base + layer);
    w->aborted = 0;
    table[index] = w->head.slot;
    return w->head.slot;
}

// --- quakes -----------------------------------------------------------------

namespace {

constexpr uint32_t kQuakeRun = 10;  // the quake command's step while a quake runs
constexpr int32_t kQuakeSlots[] = {24, 25, 26, 29, 32, 33, 34, 35, 36, 37, 38, 39, 27, 28};

// Clears every sprite and text (ruby children included) that holds the
// camera, then frees it.
void QuakeCameraFree(QuakeWork* w) {
    if (!w->camera) return;
    for (int32_t i = 0; i < kSpriteSlots; ++i)
        if (SpriteTable[i].camera == w->camera) SpriteTable[i].camera = nullptr;
    for (int32_t i = 0; i < kTextSlots; ++i) {
        if (TextTable[i] && TextTable[i]->camera == w->camera) {
            TextTable[i]->camera = nullptr;
            Lib_TextRubyMove(TextTable[i], nullptr);
        }
    }
    // A ruby child made from a holder keeps its own copy of the pointer.
    for (int32_t i = 0; i < kTextSlots; ++i)
        if (TextTable[i] && TextTable[i]->camera == w->camera) TextTable[i]->camera = nullptr;
    Lib_MemFree(HEAP_SCREEN, w->camera);
    w->camera = nullptr;
}

void QuakeDelete(int32_t slot) {
    if (auto* w = reinterpret_cast<QuakeWork*>(GSL_WidgetWorkGet(slot, QuakeCB))) QuakeCameraFree(w);
}

CameraRecord* QuakeCamera(const QuakeWork* w) { return w->kind == 1 ? w->camera : &StageCamera[0]; }

}  // namespace

int32_t QuakeCB(void* work) {
    auto* w = static_cast<QuakeWork*>(work);
    TaskRecord* self = GSL_WidgetRecord(&w->head);
    // Asked to finish, or the story script is gone: put the camera back.
    if (w->head.state < 99 && ((self && self->finishRequest) || !StoryStage())) w->head.state = 99;
    if (w->head.state != 99 && (ScriptSuspended() == 1 || GSL_SkipFlagGet(1))) return 0;
    if (w->head.state == 0) {
        if (w->kind == 1) {
            w->camera = static_cast<CameraRecord*>(Lib_MemAlloc(HEAP_SCREEN, sizeof(CameraRecord), 16));
            if (!w->camera) {
                Lib_DebugPrintf("Error -> QuakeCB: no camera\n");
                w->head.state = 99;
            } else {
                *w->camera = ActiveCamera;
                for (int32_t slot : kQuakeSlots) {
                    const int32_t id = GSL_ScriptStoryLayerSprite(slot);
                    if (Lib_SpriteIsLive(id)) Lib_SpriteAt(id)->camera = w->camera;
                }
                // The window's texts, their ruby following.
                if (ScreenWork* sw = GSL_ScriptStoryWork()) {
                    for (int32_t i = 0; i < 5; ++i) {
                        const int32_t t = sw->texts[i].handle;
                        if (t < 0 || t >= kTextSlots || !TextTable[t]) continue;
                        TextTable[t]->camera = w->camera;
                        Lib_TextRubyMove(TextTable[t], nullptr);
                    }
                }
            }
        }
        if (w->head.state == 0) {
            CameraRecord* cam = QuakeCamera(w);
            w->restX = cam->target[0];
            w->restY = cam->target[1];
            w->framesLeft = w->frames == 0 ? 30 : w->frames;
            w->amplitude = w->startAmplitude;
            w->head.state = 1;
        }
    }
    // A timed quake ends as soon as skipping is on, in its first frame or later.
    if (w->head.state == 1 && GSL_IsSkip() && w->frames >= 0) w->head.state = 99;
    if (w->head.state == 1) {
        CameraRecord* cam = QuakeCamera(w);
        if (w->frames > 0) w->amplitude = std::fmax(0.0f, w->amplitude - w->startAmplitude / float(w->frames));
        const int32_t steps = w->cycle == 250 ? 5 : 15;
        w->phase = (w->phase + 1) % steps;
        const int32_t angle = 360 / steps * w->phase;
        if (angle == 0 && w->axis == 4) {
            w->signX = Lib_Random(0, 1) ? 1.0f : -1.0f;
            w->signY = Lib_Random(0, 1) ? 1.0f : -1.0f;
        }
        const float s = sinf(float(double(angle) * 0.017453));
        float dx = s * w->amplitude * w->signX * kWorldPerPixel;
        float dy = s * w->amplitude * w->signY * kWorldPerPixel;
        if (w->axis == 0) dy = 0.0f;
        if (w->axis == 2) dx = 0.0f;
        cam->target[0] = w->restX + dx;
        cam->target[1] = w->restY + dy;
        Lib_CameraUpdate(cam);
        if (w->kind == 0) {
            if (w->axis == 4) {
                StageCamera[2].target[0] = w->restX - dx;
                StageCamera[2].target[1] = w->restY - dy;
                Lib_CameraUpdate(&StageCamera[2]);
            } else {
                StageCamera[2] = StageCamera[0];
            }
        }
        if (w->frames >= 0 && --w->framesLeft < 1) w->head.state = 99;
        return 0;
    }
    // state 99: the end
    if (w->kind == 1) {
        QuakeCameraFree(w);
    } else {
        StageCamera[0].target[0] = w->restX;
        StageCamera[0].target[1] = w->restY;
        Lib_CameraUpdate(&StageCamera[0]);
        StageCamera[2] = StageCamera[0];
    }
    if (w->stage && w->stage->quakeTask[w->kind] == w->head.slot) w->stage->quakeTask[w->kind] = -1;
    return 1;
}

void QuakeSet(StageRecord* stage, int32_t kind, int32_t, int32_t amplitude, int32_t frames) {
    if (!stage || kind < 0 || kind > 1) return;
    GSL_WidgetDeleteRegister(QuakeCB, QuakeDelete);
    if (stage->quakeTask[kind] >= 0 && GSL_WidgetWorkGet(stage->quakeTask[kind], QuakeCB)) return;
    stage->quakeTask[kind] = -1;
    if (frames == 0 && kind != 0) return;
    auto* w = reinterpret_cast<QuakeWork*>(
        GSL_WidgetCreate("QuakeCB", QuakeCB, kQuakePriority, kEffectGroup, TASK_FLAG_BREAKABLE));
    if (!w) return;
    w->kind = kind;
    w->axis = 4;
    w->cycle = 250;
    w->layer = -1;
    w->signX = w->signY = 1.0f;
    w->phase = 0;
    w->framesLeft = 0;
    w->frames = frames;
    w->restX = w->restY = 0.0f;
    w->amplitude = 0.0f;
    w->startAmplitude = float(amplitude);
    w->camera = nullptr;
    w->stage = stage;
    stage->quakeTask[kind] = w->head.slot;
}

// --- commands -----------------------------------------------------------------

namespace {

int32_t QuakeId(StageRecord* stage, int32_t kind) {
    int32_t& id = stage->quakeTask[kind];
    if (id >= 0 && !GSL_WidgetWorkGet(id, QuakeCB)) id = -1;
    return id;
}

bool AnyMove(StageRecord* stage) {
    bool any = false;
    for (int32_t i = 0; i < 24; ++i) any |= GSL_EffectTaskGet(stage->moveTask, i, MoveCB) >= 0;
    return any;
}

}  // namespace

void GSL_CmdMove(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_RUN || mode == REPLAY_SILENT) {
        GSL_ReplayDedupe(ctx, -1, 0, 0, 0);
        GSL_ReplayRecord(ctx);
        return;
    }
    char page[16] = {};
    GSL_ArgGet(ctx, "page", 1, page, sizeof(page));
    char word[16] = {};
    GSL_ArgGet(ctx, "layer", 0, word, sizeof(word));
    const int32_t layer = GSL_ArgGetInt(ctx, "layer", 0);
    uint32_t used = 0;
    GSL_ScriptAtoi(word, &used);
    const bool isBase = std::strcmp(word, "base") == 0;
    if (!isBase && (used == 0 || used != std::strlen(word) || layer < 0 || layer > 11)) {
        Lib_DebugPrintf("Error -> move: layer %s\n", word);
        return;
    }
    const int32_t l = isBase ? 10 : layer;
    const bool fore = page[0] == 0 || std::strcmp(page, "fore") == 0;
    const int32_t time = GSL_ArgGetInt(ctx, "time", 2);
    const int32_t frames = SystemDataBlock.instantEffects ? 0 : int32_t(GSL_WaitFrames(time));
    const int32_t base = fore ? 0 : 12;
    const ScriptPos target = GSL_PosToScreen(base, l, ScriptPos{float(GSL_ArgGetInt(ctx, "x", 3)),
                                                                float(GSL_ArgGetInt(ctx, "y", 4)), 0.0f},
                                             1.0f, 1.0f);
    if (fore) MoveSet(ctx->stage, 0, l, target.x, target.y, target.z, frames);
    MoveSet(ctx->stage, 12, l, target.x, target.y, target.z, frames);
}

void GSL_CmdStopMove(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_RUN || mode == REPLAY_SILENT) return;
    for (int32_t i = 0; i < 24; ++i) {
        const int32_t id = GSL_EffectTaskGet(ctx->stage->moveTask, i, MoveCB);
        if (id >= 0) TaskTable.slots[id]->finishRequest = 1;
    }
}

void GSL_CmdWaitMove(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_RUN || mode == REPLAY_SILENT) {
        GSL_ReplayRecord(ctx);
        return;
    }
    if (AnyMove(ctx->stage)) ctx->script->status |= SCRIPT_BUSY;
    else ctx->script->status &= ~SCRIPT_BUSY;
}

void GSL_CmdQuake(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_RUN || mode == REPLAY_SILENT) return;
    StageRecord* stage = ctx->stage;
    if (ctx->step == CMD_STEP_FIRST) ctx->step = kQuakeRun;
    if (ctx->step == kQuakeRun) {
        bool running = false;
        for (int32_t k = 0; k < 2; ++k) {
            const int32_t id = QuakeId(stage, k);
            if (id >= 0) {
                TaskTable.slots[id]->finishRequest = 1;
                running = true;
            }
        }
        if (running) {
            ctx->script->status |= SCRIPT_BUSY;
            return;
        }
        if (!SystemDataBlock.instantEffects) {
            const int32_t amplitude = GSL_ArgGetInt(ctx, "amplitude", 1);
            const int32_t frames = int32_t(GSL_WaitFrames(GSL_ArgGetInt(ctx, "time", 0)));
            QuakeSet(stage, 0, 0, amplitude, frames);
            QuakeSet(stage, 1, 0, amplitude, frames);
        }
    }
    ctx->script->status &= ~SCRIPT_BUSY;
}

void GSL_CmdStopQuake(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_RUN || mode == REPLAY_SILENT) return;
    for (int32_t k = 0; k < 2; ++k) {
        const int32_t id = QuakeId(ctx->stage, k);
        if (id >= 0) TaskTable.slots[id]->finishRequest = 1;
    }
}

void GSL_CmdWaitQuake(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_RUN || mode == REPLAY_SILENT) return;
    if (QuakeId(ctx->stage, 0) >= 0 || QuakeId(ctx->stage, 1) >= 0) ctx->script->status |= SCRIPT_BUSY;
    else ctx->script->status &= ~SCRIPT_BUSY;
}
