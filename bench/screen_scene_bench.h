// What the screen benchmarks stand on: heaps of the given sizes, a headless
// renderer, empty task, file-load, draw, sprite and text tables, the sound
// and movie records, no input, an empty mode stack with the upward calls filled and
// Main_ModeCB registered; optionally a folder of archives to run in. The
// sample's archives are built once per process and removed at its end.
// Everything is freed again at the end.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "platform/plat_gl.h"
#include "ui/mode.h"
#include "ui/screen_slots.h"

namespace screen_bench {

inline constexpr uint64_t kMiB = 1024 * 1024;

// The sample's archives (tools/build_sample.py); empty when they could not
// be built.
inline const std::string& SampleDir() {
    struct Folder {
        std::string dir;
        Folder() {
            char tmpl[] = "/tmp/vn_screen_bench_sample_XXXXXX";
            if (!::mkdtemp(tmpl)) return;
            dir = tmpl;
            const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/build_sample.py " + dir + " >/dev/null";
            if (std::system(cmd.c_str()) != 0) {
                std::filesystem::remove_all(dir);
                dir.clear();
            }
        }
        ~Folder() {
            if (!dir.empty()) std::filesystem::remove_all(dir);
        }
    };
    static const Folder folder;
    return folder.dir;
}

struct ScreenScene {
    bool ok = false;
    std::filesystem::path old;
    bool archives = false;
    // folder: where to run, its data/*.pcarc opened (empty: stay, no archives).
    explicit ScreenScene(const uint64_t (&sizes)[HEAP_COUNT], const std::string& folder = "") {
        if (!Plat_GLHeadlessStart(kFrameWidth, kFrameHeight)) return;
        if (!*Lib_GetRenderer() && !Lib_GraphicsInit()) return;
        if (!Lib_MemInit(sizes)) return;
        if (!folder.empty()) {
            old = std::filesystem::current_path();
            std::filesystem::current_path(folder);
            Lib_PcArcOpen();
            archives = true;
        }
        Lib_TaskInit();
        for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
        FileLoadTable.pending = 0;
        Lib_DrawClear();
        Lib_DrawSet(Lib_ClearCB, 0, kDrawHeadPriority, 0, -1);
        for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);
        Lib_TextTableClear();
        Lib_SoundReset();
        Lib_MovieInit();
        Lib_InputInit();  // no key or pointer of an earlier benchmark
        for (ModeFunction& m : ModeStack) m = nullptr;
        for (ScreenWork*& w : ScreenWorkTable) w = nullptr;
        Main_ScreenCallsSet();
        Lib_TaskSet("Main_ModeCB", Main_ModeCB, 20000, 402, 0);
        ok = !archives || Lib_PcArcExists(0);
    }
    ~ScreenScene() {
        GSL_WorkDeleteAll();
        for (int32_t i = 2; i < kTaskSlots; ++i)
            if (TaskTable.slots[i]) Lib_TaskDel(uint32_t(i));
        for (int32_t i = 0; i < kSpriteSlots; ++i) {
            SpriteTable[i].flags |= SPRITE_FAILED;
            Lib_SpriteFree(i);
        }
        for (int32_t i = 0; i < kTextSlots; ++i) Lib_TextDel(i);
        for (int32_t i = 0; i < kFileLoadSlots; ++i) Lib_FileLoadEnd(i);
        if (archives) Lib_PcArcClose();
        Lib_CashReset();
        Lib_MemRelease();
        if (!old.empty()) std::filesystem::current_path(old);
    }
    ScreenScene(const ScreenScene&) = delete;
    ScreenScene& operator=(const ScreenScene&) = delete;
};

}  // namespace screen_bench
