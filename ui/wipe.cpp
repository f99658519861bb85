#include "ui/wipe.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

#include "engine/core/debug_log.h"
#include "engine/files/file_loader.h"
#include "engine/render/image_decode.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_image.h"
#include "engine/render/sprite_load.h"
#include "engine/render/wipe_draw.h"
#include "engine/text/font.h"
#include "ui/layout_table.h"
#include "ui/loading.h"
#include "ui/widget.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"

static_assert(sizeof(WipeWork) <= kWidgetWorkSize);
static_assert(sizeof(SaveIconWork) <= kWidgetWorkSize);

// process-wide (WipeRuleTexture, WipeRuleView): the rule picture's GL objects, released with
// the wipe (releaseRule)
uint32_t WipeRuleTexture = 0;
uint32_t WipeRuleView = 0;
int32_t StoryCaptureSprite = -1;

namespace {
constexpr float kFullProgress = 512.0f;

WipeWork* wipeWork(int32_t slot) { return reinterpret_cast<WipeWork*>(GSL_WidgetWorkGet(slot, GSL_SystemWipeSetCB)); }

// The rule image as a BGRA texture, rows top first; 0 when the data does not
// hold the picture its header promises.
uint32_t ruleTexture(const void* data, uint32_t size) {
    ImageInfo info{};
    if (!data || !Lib_ImageParse(data, size, &info)) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const int32_t w = info.textureWidth, h = info.textureHeight;
    if (w <= 0 || h <= 0) return 0;
    if (info.type == IMAGE_EXT0 && info.bpp == 32) return Lib_SpriteTexCreate(w, h, false, bytes + info.pixelOffset);
    std::vector<uint8_t> pixels(size_t(w) * size_t(h) * 4u);
    if (info.type == IMAGE_EXT0 && info.bpp == 8) {
        const uint8_t* palette = bytes + info.paletteOffset;
        const uint8_t* index = bytes + info.pixelOffset;
        for (size_t i = 0; i < size_t(w) * size_t(h); ++i) std::memcpy(&pixels[i * 4], palette + index[i] * 4u, 4);
    } else if (info.type == IMAGE_HEADER18) {
        Lib_ImageCopyRows18(data, info, pixels.data());
    } else if (info.type == IMAGE_PNG) {
        const ImageSize got = Lib_WicDecode(nullptr, pixels.data(), uint32_t(pixels.size()), data, size);
        if (int32_t(got.width) != w || int32_t(got.height) != h) return 0;
    } else {
        return 0;
    }
    return Lib_SpriteTexCreate(w, h, false, pixels.data());
}

void releaseRule(WipeWork* w) {
    if (!w->ruleTexture) return;
    if (WipeRuleTexture == w->ruleTexture) WipeRuleTexture = WipeRuleView = 0;
    Lib_WipeTexRelease(&w->ruleTexture);
}

void releaseRequest(WipeWork* w) {
    if (w->request >= 0) Lib_FileLoadEnd(w->request);
    w->request = -1;
}

void freeCapture(WipeWork* w) {
    if (w->capture >= 0) Lib_SpriteFree(w->capture);
    w->capture = -1;
}

// The wipe cannot run: it ends at once.
void refuse(WipeWork* w) {
    releaseRequest(w);
    freeCapture(w);
    releaseRule(w);
    w->status = WIPE_FINISHED;
    w->state = WIDGET_RELEASED;
}

void wipeDelete(int32_t slot) {
    WipeWork* w = wipeWork(slot);
    if (!w) return;
    releaseRequest(w);
    freeCapture(w);
    releaseRule(w);
}

void setRows(float* m, const float (&r)[3][3]) {
    Lib_MatrixIdentity(m);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i * 4 + j] = r[i][j];
}
}  // namespace

int32_t GSL_SystemWipeSet(const char* path, int32_t reserved, int32_t frames, int32_t priority,
                          int32_t capturePriority, int32_t captureInterval, uint32_t flags) {
    if (!path || std::strlen(path) >= sizeof(WipeWork::path)) return -1;
    GSL_WidgetDeleteRegister(GSL_SystemWipeSetCB, wipeDelete);
    auto* w = reinterpret_cast<WipeWork*>(
        GSL_WidgetCreate("GSL_SystemWipeSetCB", GSL_SystemWipeSetCB, kWidgetPriority, kWidgetGroupSystem, 0));
    if (!w) return -1;
    std::snprintf(w->path, sizeof w->path, "%s", path);
    w->status = WIPE_PREPARING;
    w->capture = -1;
    w->reserved = reserved;
    w->frames = frames;
    w->drawPriority = priority;
    w->capturePriority = capturePriority;
    w->interval = captureInterval;
    w->flags = flags;
    w->request = Lib_FileLoadReq(3, w->path, &w->ruleData, &w->ruleSize, 256);
    if (w->request < 0) refuse(w);
    return w->slot;
}

void GSL_SystemWipeDel(int32_t slot) {
    if (!wipeWork(slot)) return;
    wipeDelete(slot);
    Lib_TaskDel(uint32_t(slot));
}

uint32_t GSL_SystemWipeStatus(int32_t slot) {
    const WipeWork* w = wipeWork(slot);
    return w ? w->status : WIPE_FINISHED;
}

WipeWork* GSL_SystemWipeWork(int32_t slot) { return wipeWork(slot); }

// The wipe task's states: WIDGET_STARTING (the rule loads) -> CAPTURING ->
// READY (until the hold is lifted) -> STEPPING -> WIDGET_FINISHED.
enum : uint8_t { WIPE_CAPTURING = 11, WIPE_READY = 12, WIPE_STEPPING = 13 };

int32_t GSL_SystemWipeSetCB(void* work) {
    auto* w = static_cast<WipeWork*>(work);
    if (!w) return 0;
    switch (w->state) {
        case WIDGET_STARTING: {
            if (w->request < 0) {
                refuse(w);
                break;
            }
            const int32_t state = FileLoadTable.slots[w->request].state.load(std::memory_order_acquire);
            if (state == 0) break;
            // The texture is made while the request still pins the rule's
            // cache entry, so no flush can free the data under it.
            if (state == 1) w->ruleTexture = ruleTexture(w->ruleData, w->ruleSize);
            releaseRequest(w);
            w->ruleData = nullptr;
            if (!w->ruleTexture) {
                Lib_DebugPrintf("wipe: rule image %s could not be used\n", w->path);
                refuse(w);
                break;
            }
            WipeRuleTexture = WipeRuleView = w->ruleTexture;
            w->capture = Lib_SpriteCreateCapture(0, w->capturePriority, w->interval);
            if (w->capture < 0) {
                refuse(w);
                break;
            }
            w->state = WIPE_CAPTURING;
            break;
        }
        case WIPE_CAPTURING: {
            const int32_t state = Lib_SpriteGetState(w->capture);
            if (state == 0) break;
            if (state < 0) {
                refuse(w);
                break;
            }
            Lib_SpriteSetFlag(w->capture, 1);
            Lib_SpriteSetPrio(w->capture, w->drawPriority, -1);
            Lib_SpriteSetDrawCB(w->capture, GSL_SystemWipeDraw, reinterpret_cast<uint64_t>(w));
            if (w->flags & WIPE_DEFAULT_CAMERA) Lib_SpriteSetValue(w->capture, 2);
            w->status = WIPE_RUNNING;
            w->state = WIPE_READY;
            break;
        }
        case WIPE_READY:
            if (w->flags & WIPE_HOLD) break;
            w->end = kFullProgress - 256.0f * w->lowering;
            // No frames (replays): the end at once.
            w->step = w->frames > 0 ? w->end / float(w->frames) : w->end;
            w->state = WIPE_STEPPING;
            break;
        case WIPE_STEPPING:
            w->progress += w->step;
            if (w->progress < w->end) break;
            w->progress = w->end;
            w->state = WIDGET_FINISHED;
            [[fallthrough]];
        case WIDGET_FINISHED:
            if (!(w->flags & WIPE_KEEP_CAPTURE)) freeCapture(w);
            w->status = WIPE_FINISHED;
            w->state = WIDGET_RELEASED;
            break;
        default: break;
    }
    return 0;
}

void GSL_SystemWipeConstBuf(const WipeWork* w, const SpriteRecord* r, const CameraRecord* camera, ConstBuf* cb) {
    std::memset(cb, 0, sizeof *cb);
    constexpr float K = kWorldPerPixel;
    constexpr float kRad = std::numbers::pi_v<float> / 180.0f;
    // World = S × Rz × Rx × Ry × T, built from the right.
    float M[16], R[16];
    Lib_MatrixIdentity(M);
    M[12] = r->posX * K;
    M[13] = r->posY * K;
    M[14] = r->posZ * K;
    float c = std::cos(r->rotY * kRad), s = std::sin(r->rotY * kRad);
    setRows(R, {{c, 0.0f, -s}, {0.0f, 1.0f, 0.0f}, {s, 0.0f, c}});
    Lib_MatrixMul(M, M, R);
    c = std::cos(r->rotX * kRad), s = std::sin(r->rotX * kRad);
    setRows(R, {{1.0f, 0.0f, 0.0f}, {0.0f, c, s}, {0.0f, -s, c}});
    Lib_MatrixMul(M, M, R);
    c = std::cos(r->rotZ * kRad), s = std::sin(r->rotZ * kRad);
    setRows(R, {{c, s, 0.0f}, {-s, c, 0.0f}, {0.0f, 0.0f, 1.0f}});
    Lib_MatrixMul(M, M, R);
    const float scale[3] = {r->scaleX * float(r->imageWidth) * K, r->scaleY * float(r->imageHeight) * K, 0.0f};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) M[i * 4 + j] *= scale[i];
    float viewed[16];
    Lib_MatrixMul(viewed, camera->view, M);
    Lib_MatrixMul(cb->m_wvp, camera->lens, viewed);
    cb->m_work[0][0] = (w->flags & WIPE_INVERT) ? 1.0f : 0.0f;
    cb->m_work[0][1] = (w->flags & WIPE_MIRROR_U) ? 1.0f : 0.0f;
    cb->m_work[0][2] = (w->flags & WIPE_MIRROR_V) ? 1.0f : 0.0f;
    cb->m_work[0][3] = w->progress / 256.0f;
    cb->m_work[1][2] = w->lowering;
    cb->m_work[1][3] = (w->flags & WIPE_KEEP_CAPTURE) ? 0.0f : 1.0f;
}

void GSL_SystemWipeDraw(uint64_t arg) {
    auto* w = reinterpret_cast<const WipeWork*>(arg);
    if (!w) return;
    const SpriteRecord* r = Lib_SpriteAt(w->capture);
    if (!r || (r->flags & (SPRITE_IN_USE | SPRITE_READY | SPRITE_FAILED)) != (SPRITE_IN_USE | SPRITE_READY) ||
        !r->visible)
        return;
    const bool defaultCamera = r->cameraMode == 2;
    if (defaultCamera) Lib_CameraSwitch(0, 1, 0);
    ConstBuf cb;
    GSL_SystemWipeConstBuf(w, r, &ActiveCamera, &cb);
    Lib_WipeQuadDraw(cb, r->textureView, w->ruleTexture, r->sampler);
    if (defaultCamera) Lib_CameraSwitch(0, 0, 0);
}

// --- save thumbnail ---------------------------------------------------------

namespace {
constexpr float kThumbScale = 0.26f;

SaveIconWork* saveIconWork(int32_t slot) {
    return reinterpret_cast<SaveIconWork*>(GSL_WidgetWorkGet(slot, GSL_SystemSaveIcon0SetCB));
}

void freeSprite(int32_t& sprite) {
    GSL_WidgetSpriteFree(sprite);
    sprite = -1;
}

void saveIconDelete(int32_t slot) {
    if (SaveIconWork* w = saveIconWork(slot)) {
        freeSprite(w->first);
        freeSprite(w->frame);
        freeSprite(w->second);
        freeSprite(w->backdrop);
    }
}

// The script engine's 4:3 scaling of a layout value: × 4/3, rounded up.
float scale43(float v) { return std::ceil(v * 1.3333334f); }

void place(int32_t sprite, float x, float y, float scale, int32_t priority) {
    SpriteRecord* r = Lib_SpriteAt(sprite);
    if (!r || !Lib_SpriteIsLive(sprite)) return;
    r->posX = x;
    r->posY = y;
    r->posZ = 0.0f;
    r->scaleX = r->scaleY = scale;
    r->scaleZ = 1.0f;
    Lib_SpriteSetPrio(sprite, priority, -1);
    Lib_SpriteSetValue(sprite, 2);
}
}  // namespace

int32_t GSL_SystemSaveIcon0Set(int32_t capturePriority) {
    GSL_WidgetDeleteRegister(GSL_SystemSaveIcon0SetCB, saveIconDelete);
    auto* w = reinterpret_cast<SaveIconWork*>(GSL_WidgetCreate(
        "GSL_SystemSaveIcon0SetCB", GSL_SystemSaveIcon0SetCB, kWidgetPriority, kWidgetGroupSystem, TASK_FLAG_EVERY_PASS));
    if (!w) return -1;
    w->first = w->frame = w->second = w->backdrop = -1;
    w->capturePriority = capturePriority;
    return w->slot;
}

// The save-icon task's states: FRAME -> BACKDROP -> FIRST -> FIRST_WAIT ->
// SECOND -> SECOND_WAIT -> WIDGET_FINISHED.
enum : uint8_t {
    ICON_FRAME = 0,
    ICON_BACKDROP = 1,
    ICON_FIRST = 10,
    ICON_FIRST_WAIT = 11,
    ICON_SECOND = 12,
    ICON_SECOND_WAIT = 13,
};

int32_t GSL_SystemSaveIcon0SetCB(void* work) {
    auto* w = static_cast<SaveIconWork*>(work);
    if (!w) return 1;
    // A sprite that is not loading (failed or gone) is never waited on.
    auto loading = [](int32_t sprite) { return sprite >= 0 && Lib_SpriteGetState(sprite) == 0; };
    switch (w->state) {
        case ICON_FRAME:
            w->frame = Lib_SpriteLoad(-1, "visual/system/sys_system_05.ext", -1, 1);
            w->state = ICON_BACKDROP;
            break;
        case ICON_BACKDROP: {
            if (loading(w->frame)) break;
            if (Lib_SpriteGetState(w->frame) == 2) {
                Lib_SpriteSetFlag(w->frame, 0);
                const int32_t language = InterfaceLanguage < 0 ? 0 : InterfaceLanguage > 3 ? 3 : InterfaceLanguage;
                LayoutRect frame, row;
                GSL_LayoutGetRect(&frame, 4, 0);
                GSL_LayoutGetRect(&row, 4, 1 + language);
                const int32_t rect[4] = {frame.x, frame.y + row.y, frame.width, frame.height};
                Lib_SpriteSetRect(w->frame, rect);
                place(w->frame, scale43(-256.0f) * kThumbScale - 480.0f, scale43(184.0f) * kThumbScale + 270.0f,
                      kThumbScale, 20000002);
            }
            w->backdrop = Lib_SpriteLoad(-1, nullptr, -1, 0);
            Lib_SpriteSetFlag(w->backdrop, 1);
            Lib_SpriteSetPrio(w->backdrop, 20000000, -1);
            Lib_SpriteSetColor(w->backdrop, 0xFF000000u);
            Lib_SpriteSetValue(w->backdrop, 2);
            w->state = ICON_FIRST;
            break;
        }
        case ICON_FIRST:
            Lib_SpriteSetFlag(w->frame, 1);
            w->first = Lib_SpriteCreateCapture(0, w->capturePriority, 0);
            w->state = ICON_FIRST_WAIT;
            break;
        case ICON_FIRST_WAIT:
            if (loading(w->first)) break;
            if (Lib_SpriteGetState(w->first) == 2) {
                Lib_SpriteSetFlag(w->first, 1);
                place(w->first, -480.0f, 270.0f, kThumbScale, 20000003);
            }
            w->state = ICON_SECOND;
            break;
        case ICON_SECOND:
            w->second = Lib_SpriteCreateCapture(0, 20000001, 0);
            w->state = ICON_SECOND_WAIT;
            break;
        case ICON_SECOND_WAIT:
            if (loading(w->second)) break;
            freeSprite(w->first);
            w->state = WIDGET_FINISHED;
            break;
        case WIDGET_FINISHED:
            freeSprite(w->frame);
            freeSprite(w->backdrop);
            if (Lib_SpriteGetState(w->second) != 2) {
                Lib_DebugPrintf("save thumbnail: the composition could not be captured\n");
                freeSprite(w->second);
            }
            StoryCaptureSprite = w->second;
            w->second = -1;
            w->state = WIDGET_RELEASED;
            return 1;
        default: return 1;
    }
    return 0;
}

void GSL_SystemWidgetsEnd() {
    GSL_SystemLoadPrevEnd();
    for (int32_t slot = 0; slot < kTaskSlots; ++slot) {
        TaskRecord* t = TaskTable.slots[slot];
        if (!t || t->dead) continue;
        if (t->callback == GSL_SystemWipeSetCB) GSL_SystemWipeDel(slot);
        else if (t->callback == GSL_SystemLoadingCB) GSL_SystemLoadingDel(slot);
        else if (t->callback == GSL_SystemSaveIcon0SetCB) {
            saveIconDelete(slot);
            Lib_TaskDel(uint32_t(slot));
        }
    }
}
