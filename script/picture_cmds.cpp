#include "script/picture_cmds.h"

#include <cstdio>
#include <cstring>

#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/files/file_loader.h"
#include "engine/render/sprite.h"
#include "script/action_fx.h"
#include "script/args.h"
#include "script/effects.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "script/wipe_fx.h"
#include "script/script_report.h"
#include "ui/mode.h"
#include "ui/screen_slots.h"
#include "ui/widget.h"
#include "ui/widget_task.h"

namespace {

constexpr int32_t kCmdBackLay = 32;
constexpr int32_t kCmdImage = 33;
constexpr int32_t kCmdMove = 35;
constexpr int32_t kBackBase = 12;
constexpr int32_t kBasePriority = 10000000;
constexpr char kDefaultWipe[] = "wipe_000";

struct ImageFields {
    int32_t base;
    int32_t layer;
    uint8_t fore;
};

ModeFunction Story() { return GSL_ScreenOf(SCREEN_STORY); }

bool WipeRunning(StageRecord* stage) {
    if (stage->wipeTask >= 0 && GSL_WidgetWorkGet(stage->wipeTask, WipeCB)) return true;
    stage->wipeTask = -1;
    return false;
}

// Steps of the picture commands: WIPE_WAIT (until no wipe runs), then LOADED
// (the picture is in) and SHOWN (waiting for the wipe that shows it).
enum : uint32_t { STEP_WIPE_WAIT = 10, STEP_LOADED = 11, STEP_SHOWN = 12 };

void Busy(CommandContext* ctx) { ctx->script->status |= SCRIPT_BUSY; }
void Done(CommandContext* ctx) {
    ctx->step = CMD_STEP_LAST;
    ctx->script->status &= ~SCRIPT_BUSY;
}

bool Recording(const CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    return mode == REPLAY_RUN || mode == REPLAY_SILENT;
}

// The layer of argument 0 (empty: fallback), or -1 with a debug line.
int32_t LayerArg(const CommandContext* ctx, const char* command, const char* fallback) {
    char word[64];
    GSL_ArgGet(ctx, nullptr, 0, word, sizeof word);
    if (!word[0] && fallback) std::snprintf(word, sizeof word, "%s", fallback);
    const int32_t layer = GSL_ScriptLayerParse(word);
    if (layer < 0) Lib_DebugPrintf("Error -> %s: layer %s\n", command, word);
    return layer;
}

// Starts-with over the bytes left in a line.
bool LineStarts(const char* p, uint32_t left, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return n <= left && std::memcmp(p, prefix, n) == 0;
}

void ShowAtOnce(StageRecord* stage) { WipeSet(stage, 0, kDefaultWipe); }

}  // namespace

int32_t GSL_ScriptLayerParse(const char* word) {
    if (!word) return -1;
    if (std::strcmp(word, "base") == 0) return 10;
    uint32_t used = 0;
    const int32_t v = GSL_ScriptAtoi(word, &used);
    if (used == 0 || word[used] != 0 || word[0] == '+' || word[0] == '-' || v < 0 || v > 11) return -1;
    return v;
}

int32_t GSL_ImagePriority(int32_t offset) {
    const int64_t p = int64_t(kBasePriority) - int64_t(offset);
    if (p > INT32_MAX) return INT32_MAX;
    if (p < INT32_MIN) return INT32_MIN;
    return int32_t(p);
}

int32_t GSL_ImageLookAheadScan(const char* text, uint32_t size, uint32_t from, const char* layerWord) {
    if (!text) return 0;
    char formed[256];
    std::snprintf(formed, sizeof formed, "<image %s", layerWord ? layerWord : "");
    uint32_t at = from;
    while (at < size) {
        const char* p = text + at;
        const uint32_t left = size - at;
        if (LineStarts(p, left, "<text") || LineStarts(p, left, "<backlay") || LineStarts(p, left, "<trans") ||
            LineStarts(p, left, "<move") || LineStarts(p, left, formed))
            return 1;
        if (LineStarts(p, left, "<image") || LineStarts(p, left, "<freeimage")) return 0;
        const void* lf = std::memchr(p, '\n', left);
        if (!lf) break;
        at += uint32_t(static_cast<const char*>(lf) - p) + 1;
    }
    return 0;
}

int32_t GSL_ScriptImageLookAhead(const CommandContext* ctx, int32_t fore) {
    if (!fore || !ctx || !ctx->script) return 0;
    if (const ScriptState* story = GSL_ScriptStoryState();
        story && (story->status & (SCRIPT_REPLAY_RUN | SCRIPT_REPLAYING)))
        return 1;
    char word[kScriptWordSize];
    GSL_ArgGet(ctx, nullptr, 0, word, sizeof word);
    const ScriptState* s = ctx->script;
    // The next line begins behind the tag's CR LF; a last tag without one
    // has nothing after it.
    const uint64_t from = uint64_t(s->nextOffset) + 2;
    if (from >= s->size) return 0;
    return GSL_ImageLookAheadScan(s->text, s->size, uint32_t(from), word);
}

void GSL_CmdTrans(CommandContext* ctx) {
    if (Recording(ctx)) {
        GSL_ReplayRecord(ctx);
        return;
    }
    char mask[256];
    GSL_ArgGet(ctx, "mask", 0, mask, sizeof mask);
    if (!mask[0] || std::strcmp(mask, "crossfade") == 0) std::snprintf(mask, sizeof mask, "%s", kDefaultWipe);
    int32_t time = GSL_ArgGetInt(ctx, "time", 1);
    if (time == kScriptMissing) time = 1000;
    const int32_t frames = SystemDataBlock.instantEffects ? 0 : int32_t(GSL_WaitFrames(time));
    char rule[256];
    GSL_ResPathMake(RES_WIPE, mask, rule, sizeof rule, false);
    GSL_ScriptResourceCheck(ctx, "wipe rule", mask, rule);
    WipeSet(ctx->stage, frames, mask);
}

void GSL_CmdWaitTrans(CommandContext* ctx) {
    if (Recording(ctx)) {
        GSL_ReplayRecord(ctx);
        return;
    }
    if (WipeRunning(ctx->stage)) Busy(ctx);
    else Done(ctx);
}

void GSL_CmdBackLay(CommandContext* ctx) {
    if (Recording(ctx)) {
        GSL_ReplayRecord(ctx);
        return;
    }
    const int32_t layer = LayerArg(ctx, "backlay", "base");
    if (layer < 0) return;
    StageRecord* stage = ctx->stage;
    GSL_LayerEffectsStop(stage, 1, layer);
    GSL_WorkLayerFree(Story(), kBackBase + layer);
    const int32_t id = GSL_WorkLayerCopy(Story(), uint32_t(kBackBase + layer), uint32_t(layer), -1);
    if (Lib_SpriteIsLive(id)) {
        Lib_SpriteSetFlag(id, 0);
        if (layer <= 9) Lib_SpriteSetUser(id, &StageCamera[2]);
        else if (layer == 10) Lib_SpriteSetUser(id, &StageCamera[0]);
    }
    MoveSet2(stage, 1, layer, 0);
    ScaleSet(stage, 1, layer, 0);
    RotSet(stage, 1, layer, 0);
    AbgrSet(stage, 1, layer, 0);
    ActionSet(stage, 1, layer, 0);
}

void GSL_CmdImage(CommandContext* ctx) {
    auto* f = GSL_CommandPrivate<ImageFields>(ctx);
    StageRecord* stage = ctx->stage;
    if (ctx->step == CMD_STEP_FIRST) {
        if (Recording(ctx)) {
            GSL_ReplayDedupe(ctx, kCmdBackLay, 0, 0, 0);
            GSL_ReplayDedupe(ctx, kCmdMove, 0, 0, 0);
            GSL_ReplayDedupe(ctx, -1, 0, 0, 0);
            GSL_ReplayRecord(ctx);
            return;
        }
        Busy(ctx);
        ctx->step = STEP_WIPE_WAIT;
    }
    if (ctx->step == STEP_WIPE_WAIT) {
        if (WipeRunning(stage)) return Busy(ctx);
        f->base = kBackBase;
        f->layer = LayerArg(ctx, "image", nullptr);
        if (f->layer < 0) return Done(ctx);
        char page[16];
        GSL_ArgGet(ctx, nullptr, 1, page, sizeof page);
        f->fore = page[0] == 0 || std::strcmp(page, "fore") == 0;
        char name[kScriptWordSize];
        GSL_ArgGet(ctx, nullptr, 2, name, sizeof name);
        char path[256];
        GSL_ResPathMake(RES_PICTURE, name, path, sizeof path, true);
        if (!path[0]) return Done(ctx);
        GSL_ScriptResourceCheck(ctx, "picture", name, path);

        bool room = Lib_CashHasLargeBlock();
        if (!room) {
            char normal[kFileNameSize];
            room = Lib_FileNameNormalise(path, normal) && Lib_CashGetHitInfo(normal, kCacheEntryId) != nullptr;
            if (!room) Lib_DebugPrintf("Hash No Match -> Lib_CashGetHitInfo(%s,%d)\n", path, int(kCacheEntryId));
        }
        if (!room) {
            // Room is made once nothing loads: the untagged cached files go.
            if (GSL_ScriptSpritesIdle(GSL_ScriptStoryTask()) && PreloadPending <= 0) GSL_SystemLoadPrevCheck();
            return Busy(ctx);
        }
        GSL_LayerEffectsStop(stage, 1, f->layer);
        GSL_WorkLayerFree(Story(), f->base + f->layer);
        GSL_WorkLayerFile(Story(), uint32_t(f->base + f->layer), path, LAYER_CACHED);
        ctx->step = STEP_LOADED;
    }
    if (ctx->step == STEP_LOADED) {
        const int32_t id = GSL_WorkLayerGet(Story(), uint32_t(f->base + f->layer));
        if (Lib_SpriteGetState(id) == 0) return Busy(ctx);
        int32_t offset = GSL_ArgGetInt(ctx, nullptr, 3);
        if (offset == kScriptMissing) offset = f->layer == 10 ? 0 : f->layer + 1000;
        const ScriptPos pos = GSL_PosToScreen(
            f->base, f->layer,
            ScriptPos{float(GSL_ArgGetInt(ctx, nullptr, 4)), float(GSL_ArgGetInt(ctx, nullptr, 5)), 0.0f}, 1.0f,
            1.0f);
        char effect[16];
        GSL_ArgGet(ctx, nullptr, 9, effect, sizeof effect);
        if (Lib_SpriteIsLive(id)) {
            SpriteRecord* s = Lib_SpriteAt(id);
            Lib_SpriteSetFlag(id, 0);
            Lib_SpriteSetPrio(id, GSL_ImagePriority(offset), -1);
            s->posX = pos.x;
            s->posY = pos.y;
            s->posZ = pos.z;
            s->scaleX = s->scaleY = s->scaleZ = 1.0f;
            s->rotX = s->rotY = s->rotZ = 0.0f;
            Lib_SpriteSetColor(id, 0xFFFFFFFFu);
            float params[kSpriteParams];
            Lib_SpriteGetParams(params, id);
            params[1] = effect[0] ? 2.0f : 0.0f;
            std::memcpy(s->effectParams, params, sizeof params);
            s->clipRect[0] = 0;
            s->clipRect[1] = 0;
            s->clipRect[2] = 1280;
            s->clipRect[3] = 720;
            Lib_SpriteSetUser(id, &StageCamera[3]);
        }
        if (!f->fore || GSL_ScriptImageLookAhead(ctx, 1) != 1) return Done(ctx);
        ShowAtOnce(stage);
        ctx->step = STEP_SHOWN;
    }
    if (WipeRunning(stage)) return Busy(ctx);
    Done(ctx);
}

void GSL_CmdFreeImage(CommandContext* ctx) {
    StageRecord* stage = ctx->stage;
    if (ctx->step == CMD_STEP_FIRST) {
        if (Recording(ctx)) {
            GSL_ReplayDedupe(ctx, kCmdBackLay, 0, 0, 0);
            GSL_ReplayDedupe(ctx, kCmdImage, 0, 0, 0);
            GSL_ReplayDedupe(ctx, kCmdMove, 0, 0, 0);
            return;
        }
        Busy(ctx);
        ctx->step = STEP_WIPE_WAIT;
    }
    if (ctx->step == STEP_WIPE_WAIT) {
        if (WipeRunning(stage)) return Busy(ctx);
        const int32_t layer = LayerArg(ctx, "freeimage", nullptr);
        if (layer < 0) return Done(ctx);
        GSL_LayerEffectsStop(stage, 1, layer);
        GSL_WorkLayerFree(Story(), kBackBase + layer);
        if (GSL_ScriptImageLookAhead(ctx, 1) != 1) return Done(ctx);
        ShowAtOnce(stage);
        ctx->step = STEP_SHOWN;
    }
    if (WipeRunning(stage)) return Busy(ctx);
    Done(ctx);
}
