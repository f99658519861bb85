#include "script/stage.h"

#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "script/args.h"
#include "script/flow.h"
#include "script/msg_scroll.h"
#include "script/script_host.h"
#include "script/staffroll.h"
#include "script/script_task.h"
#include "script/syntax.h"
#include "shaders/shader_set2.h"

// process-wide (StageCamera, MoveQueues): made afresh by GSL_StageReset at a story's start
CameraRecord StageCamera[4];
MoveQueue MoveQueues[24];

void GSL_StageRecordReset(StageRecord* stage, uint8_t flags) {
    if (!stage) return;
    if (flags & STAGE_RESET_NAME) {
        stage->flags = 0;
        stage->name[0] = 0;
    }
    if (flags & STAGE_RESET_FIELDS) {
        for (float& f : stage->factors) f = 1.0f;
        stage->wipeTask = -1;
        stage->quakeTask[0] = stage->quakeTask[1] = -1;
        stage->cameraTask[0] = stage->cameraTask[1] = -1;
        stage->openTask = stage->closeTask = -1;
        for (int i = 0; i < 24; ++i) {
            stage->moveTask[i] = stage->scaleTask[i] = stage->rotateTask[i] = -1;
            stage->colorTask[i] = stage->actionTask[i] = -1;
        }
        for (int i = 0; i < 12; ++i) {
            stage->layerQuakeTask[i] = -1;
            stage->layerVisible[i] = 1;
        }
        stage->transTask = -1;
        stage->wipeHold = 0;
        stage->wipeDelay = 0;
        std::memset(stage->reserved740, 0, sizeof stage->reserved740);
        stage->windowFrame = 0;
        stage->textOffsetX = 0;
        stage->textOffsetY = 0;
        stage->textSizeX = stage->textSizeY = 0.5f;
        stage->textColor = 0xFF000000u;
        stage->textSpeed = -1;
        stage->textSlotOffset = 0;
        stage->nameClear = stage->textClear = stage->scrollFlags = stage->scrollIdle = 0;
        stage->musicSlot = 0;
        stage->choiceLine = -1;
        stage->messageInput = 1;
    }
}

void GSL_StageReset(StageRecord* stage, uint8_t flags) {
    if (!stage) return;
    GSL_StageRecordReset(stage, flags);
    if ((flags & STAGE_RESET_FIELDS) && (flags & STAGE_RESET_CAMERAS)) {
        GSL_PendingCallRearm();
        for (CameraRecord& c : StageCamera) c = ActiveCamera;
    }
    if (flags & STAGE_RESET_CAMERAS) {
        for (CameraRecord& c : StageCamera) Lib_CameraReset(&c);
        GSL_MessageScrollSet();
    }
    Lib_ShaderSet2Create();
    for (MoveQueue& q : MoveQueues) q.count = 0;
}

void GSL_ResPathMake(int32_t kind, const char* name, char* out, uint32_t outSize, bool unlock) {
    if (!out || !outSize) return;
    out[0] = 0;
    if (!name || !name[0]) return;
    char base[256];
    Lib_PathGetName(name, base, 1);
    Lib_StrLowerSjis(base);
    const char* prefix = "";
    const char* suffix = "";
    switch (kind) {
        case RES_PICTURE: prefix = "visual/adv/"; suffix = ".ext"; break;
        case RES_WIPE: prefix = "visual/wipe/"; suffix = ".ext"; break;
        case RES_MOVIE: prefix = "movie/"; suffix = ".avi"; break;
        case RES_VOICE: prefix = "sound/voice/"; suffix = ".ogg"; break;
        case RES_BGM: prefix = "sound/bgm/"; suffix = ".oggl"; break;
        case RES_SE: prefix = "sound/se/"; suffix = ".ogg"; break;
        default: break;
    }
    const int n = std::snprintf(out, outSize, "%s%s%s", prefix, base, suffix);
    if (n < 0 || uint32_t(n) >= outSize) {
        Lib_DebugPrintf("Error -> GSL_ResPathMake(%d, %s): path too long\n", int(kind), base);
        out[0] = 0;
        return;
    }
    if (kind == RES_PICTURE && unlock && std::strncmp(base, "event_", 6) == 0 )
        GSL_ScriptHost().accessFlagGal(base, -1, 1);
}

namespace {

// The next "<keywait " of a script from an offset, with its number. The skip
// test runs many times a frame, so the answer is kept: it holds for every
// read offset from the scan's start up to the keywait found (or the end),
// since read offsets lie on character boundaries and the character rule
// depends on the bytes alone.
struct KeywaitScan {
    const char* text = nullptr;
    uint32_t size = 0, from = 0;
    uint32_t at = 0;  // offset of the keywait's '<', or the size when none
    bool found = false;
    int32_t id = 0;
};
// process-wide: a cache keyed by the script text it scanned
KeywaitScan g_scan;

void ScanKeywait(const ScriptState* s) {
    static constexpr char kKey[] = "<keywait ";
    constexpr uint32_t kLen = sizeof kKey - 1;
    if (g_scan.text == s->text && g_scan.size == s->size && g_scan.from <= s->readOffset &&
        s->readOffset <= g_scan.at)
        return;
    g_scan = KeywaitScan{s->text, s->size, s->readOffset, s->size, false, 0};
    const uint8_t* t = reinterpret_cast<const uint8_t*>(s->text);
    for (uint32_t i = s->readOffset; i < s->size;) {
        const uint8_t b = t[i];
        if (b == '<' && s->size - i >= kLen && std::memcmp(t + i, kKey, kLen) == 0) {
            char digits[32];
            uint32_t k = 0;
            for (uint32_t j = i + kLen; j < s->size && k < sizeof digits - 1 && t[j]; ++j) digits[k++] = char(t[j]);
            digits[k] = 0;
            g_scan.at = i;
            g_scan.found = true;
            g_scan.id = GSL_ScriptAtoi(digits, nullptr);
            return;
        }
        i += GSL_ScriptIsLead(b) && i + 1 < s->size && t[i + 1] ? 2 : 1;
    }
}

}  // namespace

bool GSL_IsSkip() {
    const ScriptState* s = GSL_ScriptStoryState();
    if (s && (s->status & (SCRIPT_REPLAY_RUN | SCRIPT_REPLAYING))) return true;
    if (!(StoryPlayMode & PLAY_SKIP)) return false;
    if (GSL_StaffrollIsActive()) return false;
    if (SystemDataBlock.skipAll == 1 || SpecialScenarioFlag) return true;
    if (!s || !s->text) return true;
    ScanKeywait(s);
    if (!g_scan.found || g_scan.id < 0) return true;
    if (uint32_t(g_scan.id) >= kReadTextIds) return false;
    return (SystemDataBlock.readText[g_scan.id >> 3] >> (g_scan.id & 7)) & 1;
}

uint32_t GSL_WaitFrames(int32_t ms) {
    if (GSL_IsSkip() || ms <= 0) return 0;
    const uint64_t frames = (uint64_t(ms) * 3 + 49) / 50;
    return frames < 4 ? 4 : uint32_t(frames);
}
