#include "tests/script/stage_table.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "script/args.h"
#include "script/game_blocks.h"
#include "script/stage.h"
#include "story/story_screen.h"
#include "tests/script/stage_env.h"
#include "ui/screen_slots.h"

namespace {

void Add(std::string& out, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out += line;
}

const char* CameraName(const CameraRecord* camera) {
    static const char* const kNames[] = {"S1", "S2", "S3", "S4"};
    if (!camera) return "-";
    for (int i = 0; i < 4; ++i)
        if (camera == &StageCamera[i]) return kNames[i];
    return "Q";  // the quake's private camera
}

// A task-id table as one character an entry: '+' a task, '-' none.
std::string Ids(const int32_t* ids, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += ids[i] >= 0 ? '+' : '-';
    return s;
}

}  // namespace

int32_t PlaceLayer(StageEnv& env, int32_t page, int32_t layer, const char* picture, int32_t x, int32_t y) {
    if (page < 0 || page > 1 || layer < 0 || layer > 11) return -1;
    char path[256];
    GSL_ResPathMake(RES_PICTURE, picture, path, sizeof path, false);
    const uint32_t slot = uint32_t(page * 12 + layer);
    const int32_t id = GSL_WorkLayerLoad(GSL_StoryModeCB, slot, -1, path, -1, 1, nullptr, nullptr);
    if (id < 0) return -1;
    for (int i = 0; i < 120 && Lib_SpriteGetState(id) == 0; ++i) env.Frame();
    if (Lib_SpriteGetState(id) != 2) return -1;
    const ScriptPos p = GSL_PosToScreen(page * 12, layer, ScriptPos{float(x), float(y), 0.0f}, 1.0f, 1.0f);
    SpriteRecord* r = Lib_SpriteAt(id);
    Lib_SpriteSetPrio(id, 10000000 - (layer == 10 ? 0 : layer + 1000), -1);
    r->posX = p.x;
    r->posY = p.y;
    r->posZ = p.z;
    r->scaleX = r->scaleY = r->scaleZ = 1.0f;
    r->rotX = r->rotY = r->rotZ = 0.0f;
    Lib_SpriteSetColor(id, 0xFFFFFFFFu);
    const int32_t clip[4] = {0, 0, 1280, 720};
    for (int i = 0; i < 4; ++i) r->clipRect[i] = clip[i];
    if (page == 1) {
        r->visible = 0;
        Lib_SpriteSetUser(id, &StageCamera[3]);
    } else {
        r->visible = GameStateBlock.stage.layerVisible[layer];
        Lib_SpriteSetUser(id, layer == 11 ? &StageCamera[3] : &StageCamera[2]);
    }
    return id;
}

std::string StageTable() {
    std::string out;
    if (ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB)) {
        for (int32_t i = 0; i < kScreenLayers; ++i) {
            const ScreenLayerSlot& l = w->layers[i];
            if (!Lib_SpriteIsLive(l.handle)) continue;
            const SpriteRecord& r = *Lib_SpriteAt(l.handle);
            Add(out,
                "layer %3d sprite %3d copy %3d vis %u pos %.2f %.2f %.2f scale %.3f %.3f %.3f rot %.2f %.2f %.2f "
                "colour %08X prio %d %d src %d %d %d %d clip %d %d %d %d camera %s\n",
                i, l.handle, l.source, r.visible, r.posX, r.posY, r.posZ, r.scaleX, r.scaleY, r.scaleZ, r.rotX, r.rotY,
                r.rotZ, r.color, r.priority, r.subPriority, r.srcRect[0], r.srcRect[1], r.srcRect[2], r.srcRect[3],
                r.clipRect[0], r.clipRect[1], r.clipRect[2], r.clipRect[3], CameraName(r.camera));
        }
        for (int32_t i = 0; i < kScreenTexts; ++i) {
            const int32_t t = w->texts[i].handle;
            if (t < 0 || t >= kTextSlots || !TextTable[t]) continue;
            const TextRecord& r = *TextTable[t];
            Add(out, "text %2d pos %d %d %d scale %.3f %.3f colour %08X state %02X speed %d finished %u \"%.48s\"\n",
                i, r.x, r.y, r.z, r.scaleX, r.scaleY, r.colour, r.state, r.speed, r.finished, r.text);
        }
    }
    for (int32_t i = 0; i < kSoundChannels; ++i) {
        const SoundChannelState& s = SoundChannelTable[i].st;
        if (!(s.flags.load() & 1)) continue;
        Add(out, "sound %2d state %d pause %u path \"%s\" volume %.1f repeat %d\n", i, s.state.load(), s.pause.load(),
            s.path, s.volume.load(), s.repeat.load());
    }
    const StageRecord& st = GameStateBlock.stage;
    Add(out, "stage wipe %c hold %u delay %d flags %02X quake %s camera %s trans %c\n", st.wipeTask >= 0 ? '+' : '-',
        st.wipeHold, st.wipeDelay, st.flags, Ids(st.quakeTask, 2).c_str(), Ids(st.cameraTask, 2).c_str(),
        st.transTask >= 0 ? '+' : '-');
    Add(out, "tables move %s scale %s rot %s colour %s action %s layer quake %s\n", Ids(st.moveTask, 24).c_str(),
        Ids(st.scaleTask, 24).c_str(), Ids(st.rotateTask, 24).c_str(), Ids(st.colorTask, 24).c_str(),
        Ids(st.actionTask, 24).c_str(), Ids(st.layerQuakeTask, 12).c_str());
    std::string visible;
    for (uint8_t v : st.layerVisible) visible += char('0' + (v ? 1 : 0));
    Add(out, "visible %s\n", visible.c_str());
    for (int i = 0; i < 4; ++i)
        Add(out, "camera S%d target %.4f %.4f %.4f distance %.3f\n", i + 1, StageCamera[i].target[0],
            StageCamera[i].target[1], StageCamera[i].target[2], StageCamera[i].distance);
    return out;
}

::testing::AssertionResult MatchesTable(const char* name) {
    const std::string got = StageTable();
    const std::string path = std::string(VN_SOURCE_DIR "/tests/data/script/") + name + ".txt";
    if (!std::filesystem::exists(path) || std::getenv("VN_WRITE_REFERENCE")) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << got;
        return ::testing::AssertionFailure() << "table written to " << path << ": read it, then run again";
    }
    std::ifstream in(path, std::ios::binary);
    const std::string want{std::istreambuf_iterator<char>(in), {}};
    if (got == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the stage differs from " << path << ":\n" << got;
}
