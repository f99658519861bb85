#include "script/wipe_fx.h"

#include <cstring>

#include "engine/core/task.h"
#include "engine/render/camera.h"
#include "engine/render/draw_list.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "engine/text/text_object.h"
#include "script/action_fx.h"
#include "script/effects.h"
#include "script/script_host.h"
#include "script/stage.h"
#include "ui/mode.h"
#include "ui/move_alpha.h"
#include "ui/screen_slots.h"
#include "ui/trans_num.h"
#include "ui/widget.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"
#include "ui/wipe.h"

namespace {

constexpr int32_t kBackdropSlot = 719;

struct WipeFxWork {
    WidgetWork head;
    int32_t frames;
    int32_t live;
    int32_t kind;
    int32_t delay;
    int32_t ids[5];  // the wipe widget, two move widgets, two capture sprites
    char name[259];
    StageRecord* stage;
};
static_assert(sizeof(WipeFxWork) <= kWidgetWorkSize);

ScreenWork* StoryWork() { return GSL_ScriptStoryWork(); }

int32_t LayerHandle(const ScreenWork* w, int32_t slot) {
    return w && slot >= 0 && slot < kScreenLayers ? w->layers[slot].handle : -1;
}

void ShiftPrio(int32_t sprite, int32_t shift, int32_t sub) {
    if (!Lib_SpriteIsLive(sprite)) return;
    const SpriteRecord* r = Lib_SpriteAt(sprite);
    const int64_t p = int64_t(r->priority) + shift;
    if (p >= 0) Lib_SpriteSetPrio(sprite, int32_t(p), sub == 0 ? r->subPriority : sub);
}

bool AnyEffect(StageRecord* stage) {
    for (int32_t k = 0; k < 2; ++k)
        if (GSL_EffectTaskGet(stage->quakeTask, k, QuakeCB) >= 0 || GSL_EffectTaskGet(stage->cameraTask, k, CameraCB) >= 0)
            return true;
    if (stage->transTask >= 0) return true;
    for (int32_t i = 0; i < 24; ++i) {
        if (GSL_EffectTaskGet(stage->moveTask, i, MoveCB) >= 0 || GSL_EffectTaskGet(stage->scaleTask, i, ScaleCB) >= 0 ||
            GSL_EffectTaskGet(stage->rotateTask, i, RotCB) >= 0 || GSL_EffectTaskGet(stage->colorTask, i, AbgrCB) >= 0 ||
            GSL_EffectTaskGet(stage->actionTask, i, ActionCB) >= 0)
            return true;
    }
    for (int32_t q : stage->layerQuakeTask)
        if (q >= 0) return true;
    return false;
}

// Deletes what the wipe owns; the stage record only with a story context.
void WipeRelease(WipeFxWork* w, bool story) {
    if (w->ids[0] >= 0) GSL_SystemWipeDel(w->ids[0]);
    if (w->ids[1] >= 0) GSL_SystemMoveDel(w->ids[1]);
    if (w->ids[2] >= 0) GSL_SystemMoveDel(w->ids[2]);
    for (int i = 3; i < 5; ++i)
        if (w->ids[i] >= 0) Lib_SpriteFree(w->ids[i]);
    for (int32_t& id : w->ids) id = -1;
    if (story && w->stage) {
        if (w->stage->wipeTask == w->head.slot) w->stage->wipeTask = -1;
        w->stage->wipeHold = 0;
    }
}

void WipeDelete(int32_t slot) {
    if (auto* w = reinterpret_cast<WipeFxWork*>(GSL_WidgetWorkGet(slot, WipeCB))) WipeRelease(w, GSL_ScriptStoryPresent());
}

// A camera task of the fore page folds into the fore stage cameras and goes.
void CameraTaskFold(StageRecord* stage) {
    if (!(stage->flags & STAGE_FLAG_CAMERA_TASK)) return;
    stage->flags = uint8_t(stage->flags & ~STAGE_FLAG_CAMERA_TASK);
    const int32_t id = GSL_EffectTaskGet(stage->cameraTask, 0, CameraCB);
    if (id < 0) return;
    auto* c = static_cast<StageCameraWork*>(TaskTable.slots[id]->work);
    GSL_SystemTransNumDel(c->trans[0], &c->x);
    GSL_SystemTransNumDel(c->trans[1], &c->y);
    GSL_SystemTransNumDel(c->trans[2], &c->zoom);
    CameraRecord& cam = StageCamera[0];
    cam.target[0] = c->x * kWorldPerPixel;
    cam.target[1] = c->y * kWorldPerPixel;
    // A zoom of 0 or less would put the eye at infinity: the distance stays.
    if (c->zoom > 0.0f) cam.distance = 50.0f / c->zoom;
    Lib_CameraUpdate(&cam);
    StageCamera[2] = cam;
    Lib_TaskDel(uint32_t(id));
    stage->cameraTask[0] = -1;
}

// Whether the wipe still waits for its rule-image widget to reach progress;
// skipping and the story's flag test end the wait. A failed rule image and a
// bad slot answer 2: both pass.
bool WipeWaits(const WipeFxWork* w, uint32_t progress) {
    return w->ids[0] >= 0 && GSL_SystemWipeStatus(w->ids[0]) < progress && !GSL_IsSkip() &&
           !GSL_ScriptHost().storyFlagTest(3);
}

}  // namespace

int32_t CameraCB(void*) { return 0; }

int32_t GSL_LayerSpriteGet(int32_t base, int32_t layer) {
    if (base < 0 || layer < 0 || base + layer > 719) return -1;
    const int32_t id = LayerHandle(StoryWork(), base + layer);
    return id >= 0 ? id : -1;
}

void WipeEnd(StageRecord* stage) {
    ScreenWork* w = StoryWork();
    if (!stage || !w) return;
    CameraTaskFold(stage);
    for (int32_t l = 11; l >= 0; --l) {
        GSL_LayerEffectsStop(stage, 0, l);
        GSL_WorkLayerFreeIn(w, l);
        GSL_WorkLayerCopyIn(w, uint32_t(l), uint32_t(l + 12), -1);
        const int32_t id = LayerHandle(w, l);
        if (Lib_SpriteIsLive(id)) {
            SpriteRecord* r = Lib_SpriteAt(id);
            r->visible = stage->layerVisible[l];
            if (l != 11) r->camera = &StageCamera[2];
        }
        MoveSet2(stage, 0, l, 1);
        ScaleSet(stage, 0, l, 1);
        RotSet(stage, 0, l, 1);
        AbgrSet(stage, 0, l, 1);
        ActionSet(stage, 0, l, 1);
    }
    StageCamera[0] = StageCamera[1];
    StageCamera[2] = StageCamera[3];
    GSL_WorkLayerFreeIn(w, 25);
    GSL_WorkLayerCopyIn(w, 25, 24, -1);
    const int32_t plate = LayerHandle(w, 25);
    if (Lib_SpriteIsLive(plate)) Lib_SpriteAt(plate)->visible = 1;
}

void WipeSpriteSet(StageRecord* stage, int32_t flag) {
    ScreenWork* w = StoryWork();
    if (!stage || !w) return;
    const int32_t s = flag ? -1 : 1;
    for (int32_t slot = 12; slot <= 23; ++slot) {
        const int32_t id = LayerHandle(w, slot);
        if (!Lib_SpriteIsLive(id)) continue;
        ShiftPrio(id, s * 1000001, 0);
        Lib_SpriteAt(id)->visible = flag ? stage->layerVisible[slot - 12] : 0;
    }
    if (const int32_t id = LayerHandle(w, 24); Lib_SpriteIsLive(id)) {
        ShiftPrio(id, s * 1000001, 0);
        Lib_SpriteAt(id)->visible = uint8_t(flag);
    }
    for (int32_t slot = 26; slot <= 29; ++slot) ShiftPrio(LayerHandle(w, slot), s * 1500001, -1);
    for (int32_t i = 0; i < 5 && i < kScreenTexts; ++i) {
        const int32_t t = w->texts[i].handle;
        if (t < 0 || t >= kTextSlots || !TextTable[t]) continue;
        TextRecord* r = TextTable[t];
        const int64_t layer = int64_t(r->layer) + int64_t(s) * 1500001;
        if (layer < 0) continue;
        r->layer = int32_t(layer);
        Lib_TextRubyMove(r, nullptr);
        if (r->drawEntry >= 0) Lib_DrawSetPrio(uint32_t(r->drawEntry), r->layer, -1);
    }
    // The backdrop lives in the story's last layer slot, so that the
    // context's release takes it with everything else.
    GSL_WorkLayerFreeIn(w, kBackdropSlot);
    if (flag) {
        const int32_t id = GSL_WorkLayerLoadIn(w, kBackdropSlot, -1, nullptr, -1, 0, nullptr, nullptr);
        if (id >= 0) {
            Lib_SpriteSetFlag(id, 1);
            Lib_SpriteSetPrio(id, 8999999, 100);
        }
        Lib_SpriteSetColor(id, 0xFF000000u);
    }
}

int32_t WipeCB(void* work) {
    auto* w = static_cast<WipeFxWork*>(work);
    TaskRecord* self = GSL_WidgetRecord(&w->head);
    const bool story = GSL_ScriptStoryPresent();
    if (!story && w->head.state < 99) w->head.state = 99;
    if (self && self->finishRequest && w->head.state < 99) {
        // An early finish releases the hold without a swap.
        w->stage->wipeHold = 0;
        w->head.state = 99;
    }
    StageRecord* stage = w->stage;
    if (w->head.state == 0) {
        if (w->delay > 0) {
            --w->delay;
            return 0;
        }
        char path[256];
        GSL_ResPathMake(RES_WIPE, w->name, path, sizeof path, false);
        if (!path[0]) {
            stage->wipeHold = 0;
            w->head.state = 99;
        } else {
            w->live = AnyEffect(stage) ? 1 : 0;
            w->ids[0] = GSL_SystemWipeSet(path, -1, w->frames, 8500000, 9000000, w->live, 0);
            w->head.state = 1;
        }
    }
    if (w->head.state == 1) {
        if (WipeWaits(w, 1)) return 0;
        if (w->live) WipeSpriteSet(stage, 1);
        else WipeEnd(stage);
        stage->wipeHold = 0;
        w->head.state = 2;
    }
    if (w->head.state == 2) {
        if (WipeWaits(w, 2)) return 0;
        if (w->live) {
            WipeSpriteSet(stage, 0);
            WipeEnd(stage);
        }
        w->head.state = 99;
    }
    if (w->ids[0] >= 0 && GSL_SystemWipeWork(w->ids[0]) && GSL_SystemWipeStatus(w->ids[0]) == 0) return 0;
    WipeRelease(w, story);
    return 1;
}

void WipeSet(StageRecord* stage, int32_t frames, const char* name) {
    if (!stage) return;
    if (stage->wipeTask >= 0 && GSL_WidgetWorkGet(stage->wipeTask, WipeCB)) return;
    stage->wipeTask = -1;
    GSL_WidgetDeleteRegister(WipeCB, WipeDelete);
    WipeFxWork* w = nullptr;
    if (!GSL_IsSkip() && frames > 0)
        w = reinterpret_cast<WipeFxWork*>(
            GSL_WidgetCreate("WipeCB", WipeCB, kWidgetPriority, kWidgetGroupSystem, TASK_FLAG_BREAKABLE));
    if (!w) {
        WipeEnd(stage);
        stage->wipeHold = 0;
        return;
    }
    w->frames = frames;
    w->live = 1;
    w->kind = -1;
    w->delay = stage->wipeDelay;
    for (int32_t& id : w->ids) id = -1;
    std::strncpy(w->name, name ? name : "", 258);
    w->name[258] = 0;
    w->stage = stage;
    stage->wipeTask = w->head.slot;
    stage->wipeHold = 1;
    stage->wipeDelay = 0;
}
