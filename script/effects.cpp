#include "script/effects.h"

#include <cmath>
#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/core/util.h"
#include "engine/render/camera.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "script/args.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
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

// A picture in layer 11 of the same page makes the page's moves whole.
bool WholeNumbers(const MoveWork* w) {
    return w->layer != 11 && Lib_SpriteIsLive(GSL_ScriptStoryLayerSprite(w->base + 11));
}

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
    const int32_t id = GSL_EffectTaskGet(stage->moveTask, i, MoveCB);
    if (id >= 0) TaskTable.slots[id]->finishRequest = 1;
    // Scale, rotation, colour and action tasks are not built yet; their
    // entries name no task of this kind and are left alone.
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
    for (;;) {
        if (w->head.state == 0) {
            if (stage && stage->wipeHold) return 0;
            if (w->delay > 0) {
                --w->delay;
                return 0;
            }
            MoveStart(w, s);
            w->head.state = 1;
        }
        if (w->head.state == 1) {
            if (GSL_IsSkip()) {
                w->head.state = 99;
            } else if (MoveRunning(w)) {
                MoveWrite(w, s, w->curX, w->curY);
                return 0;
            } else {
                w->head.state = 99;
            }
        }
        // state 99
        MoveDeleteTrans(w);
        if (!(w->aborted && w->layer == 10)) MoveWrite(w, s, w->goalX, w->goalY);
        const int32_t index = TableIndex(w->base, w->layer);
        MoveQueue& q = MoveQueues[index];
        if (q.count > 0) {
            if (!finish && stage && s && !GSL_IsSkip()) {
                const MoveQueueEntry e = q.entries[0];
                std::memmove(q.entries, q.entries + 1, sizeof(MoveQueueEntry) * size_t(q.count - 1));
                --q.count;
                w->goalX = e.x;
                w->goalY = e.y;
                w->frames = e.frames;
                w->aborted = 0;
                w->head.state = 0;
                continue;
            }
            const MoveQueueEntry& last = q.entries[q.count - 1];
            MoveWrite(w, s, last.x, last.y);
            q.count = 0;
        }
        if (stage && stage->moveTask[index] == w->head.slot) stage->moveTask[index] = -1;
        return 1;
    }
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

// --- quakes -----------------------------------------------------------------

namespace {

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
    if (self && self->finishRequest && w->head.state < 99) w->head.state = 99;
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
            }
        }
        if (w->head.state == 0) {
            CameraRecord* cam = QuakeCamera(w);
            w->restX = cam->target[0];
            w->restY = cam->target[1];
            w->framesLeft = w->frames == 0 ? 30 : w->frames;
            w->amplitude = w->startAmplitude;
            w->head.state = (GSL_IsSkip() && w->frames >= 0) ? 99 : 1;
        }
    }
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
    if (ctx->step == 0) ctx->step = 10;
    if (ctx->step == 10) {
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
