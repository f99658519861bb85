// The save and load screens' slot list.
// (a) Building the 32 rows of valid slots (what the build step does for each:
//     the slot check, the picture borrowed from the save image, the label and
//     the buttons) against the bare work it holds: 32 SHA-1 over 135,752
//     bytes and 32 texture uploads of 228×128. Target: ratio ≤ 1.3.
// (b) One frame of the list while the 27-row wrap scroll runs its moves,
//     without drawing: the list step and every move task. Target: ≤ 1% of one
//     core at 60 frames a second, that is a CPU time of at most 166 µs.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/sprite_scene_bench.h"
#include "engine/core/engine_state.h"
#include "engine/core/task.h"
#include "engine/core/util.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "screens/slot_list.h"
#include "screens/system_screens.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "ui/mode.h"
#include "ui/screen_slots.h"

namespace {

std::string Gzip(const std::string& bytes) {
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, uLong(bytes.size())) + 8, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    const uint32_t trailer[2] = {0, uint32_t(bytes.size())};
    out.append(reinterpret_cast<const char*>(trailer), 8);
    return out;
}

// 32 valid slots with pictures, written where the store reads them.
void WriteStore() {
    std::string image(kSaveImageSize, '\0'), registry(kSaveRegistrySize, '\0');
    for (int32_t n = 0; n < 32; ++n) {
        std::string data(SaveDataSize(n), '\0');
        for (size_t i = 0; i < data.size(); ++i) data[i] = char((i * 31 + size_t(n)) & 255);
        GSL_BlockVersionStamp(data.data());
        image.replace(SavePartOffset(n, 0), data.size(), data);
        uint8_t digest[20];
        Lib_Sha1(data.data(), uint32_t(data.size()), digest);
        registry.replace(size_t(20 * n), 20, reinterpret_cast<const char*>(digest), 20);
        SaveInfo info{};
        std::snprintf(info.title, sizeof info.title, "%s", "The Book of Winds R18");
        std::snprintf(info.detail, sizeof info.detail, "%s", "Chapter One\nSYSTEM_2028 01:02:03\nTEXT_1");
        info.date = {2026, 12, 7, 14, 5, 0, 0};
        image.replace(SavePartOffset(n, 1), sizeof info, reinterpret_cast<const char*>(&info), sizeof info);
        std::string pict(kSavePictSize, '\0');
        pict[12] = char(228);
        pict[14] = char(128);
        pict[16] = 32;
        pict[17] = 0x10;
        for (size_t i = 18; i < pict.size(); ++i) pict[i] = char(i * 7);
        image.replace(SavePartOffset(n, 2), pict.size(), pict);
        for (int part = 0; part < 3; ++part) image[size_t(part * kSaveSlots + n)] = 1;
    }
    const std::string folder = std::string("user/") + UserId + "/save";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/save.cdf", std::ios::binary) << Gzip(image);
    std::ofstream(folder + "/registry.cdf", std::ios::binary) << Gzip(registry);
}

// A scratch folder with the store, heaps, tasks and a context of the load
// screen whose list stands at the list step.
struct ListScene {
    sprite_bench::SpriteScene scene;
    std::filesystem::path dir, old;
    bool ok = false;
    SaveSlotList list{};
    ListScene() {
        if (!scene.ok) return;
        dir = std::filesystem::temp_directory_path() / ("saveload_bench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        std::strcpy(UserId, "4242");
        Lib_SaveSizesSet();
        WriteStore();
        if (!Lib_TaskInit() || !Lib_SaveInit()) return;
        Lib_TextTableClear();
        Lib_InputInit();  // no pointer of an earlier benchmark over the list
        for (ModeFunction& m : ModeStack) m = nullptr;
        for (ScreenWork*& w : ScreenWorkTable) w = nullptr;
        ModeStack[0] = GSL_LoadModeCB;
        GSL_WorkCreate();
        ScreenWork* w = GSL_WorkGet(nullptr);
        if (!w) return;
        list.count = kSlotCount;
        list.rows = kSlotRows;
        list.pitch = kSlotPitch;
        list.bar = list.dialog = list.pending = -1;
        for (int32_t& k : list.keys) k = -1;
        for (int32_t& m : list.rowMoves) m = -1;
        w->words[SLOT_WORD_LIST] = uint64_t(uintptr_t(&list));
        GSL_WorkWordSet(w, SLOT_WORD_TASK, -1);
        w->step = SLOT_STEP_MAIN;
        w->subState = SLOT_MAIN_LIST;
        ok = true;
    }
    ~ListScene() {
        if (ScreenWork* w = GSL_WorkGet(nullptr)) GSL_WorkWordSet(w, SLOT_WORD_LIST, 0);
        for (int32_t slot = 0; slot < kTaskSlots; ++slot)
            if (TaskTable.slots[slot]) Lib_TaskDel(uint32_t(slot));
        Lib_TaskPass(true);
        GSL_WorkDelete(nullptr);
        for (ModeFunction& m : ModeStack) m = nullptr;
        Lib_SaveEnd();
        for (int32_t i = 0; i < kTextSlots; ++i) Lib_TextDel(i);
        if (!old.empty()) std::filesystem::current_path(old);
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
    void BuildAll() {
        for (int32_t n = 0; n < kSlotCount; ++n) GSL_SlotBuild(nullptr, n);
        for (int32_t n = 0; n < kSlotCount; ++n) GSL_SlotUpdate(nullptr, n);
    }
};

void BM_SlotListBuild32(benchmark::State& state) {
    ListScene s;
    if (!s.ok) {
        state.SkipWithError("no renderer or store");
        return;
    }
    for (auto _ : state) s.BuildAll();
}
BENCHMARK(BM_SlotListBuild32)->Unit(benchmark::kMillisecond);

void BM_SlotListBareWork32(benchmark::State& state) {
    ListScene s;
    if (!s.ok) {
        state.SkipWithError("no renderer or store");
        return;
    }
    const uint8_t* image = Lib_SaveImageGet();
    std::vector<uint8_t> pixels(228 * 128 * 4, 0x5A);
    for (auto _ : state) {
        for (int32_t n = 0; n < kSlotCount; ++n) {
            uint8_t digest[20];
            Lib_Sha1(image + SavePartOffset(n, 0), SaveDataSize(n), digest);
            benchmark::DoNotOptimize(digest);
            uint32_t texture = Lib_SpriteTexCreate(228, 128, false, pixels.data());
            SpriteRecord r{};
            r.texture = r.textureView = texture;
            Lib_SpriteReleaseObjects(&r, -1, false);
        }
    }
}
BENCHMARK(BM_SlotListBareWork32)->Unit(benchmark::kMillisecond);

// Frames of the list step and the move tasks; the cursor wraps between 0
// and 31 whenever the rows have settled, so every frame is one of a 27-row
// scroll.
void BM_SlotListWrapScrollFrame(benchmark::State& state) {
    ListScene s;
    if (!s.ok) {
        state.SkipWithError("no renderer or store");
        return;
    }
    s.BuildAll();
    for (auto _ : state) {
        bool moving = false;
        for (int32_t m : s.list.rowMoves) moving = moving || m >= 0;
        if (!moving && s.list.cursor == s.list.applied) s.list.cursor = s.list.cursor == 0 ? kSlotCount - 1 : 0;
        GSL_LoadModeCB();
        Lib_TaskPass(false);
    }
}
BENCHMARK(BM_SlotListWrapScrollFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
