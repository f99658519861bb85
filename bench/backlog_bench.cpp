// The backlog over 300 voiced lines on the sample's sheets, headless on the
// real renderer: one whole frame of the game thread (every task of the pass,
// the drawing included) while a held right or left key moves the selection
// by ten lines every frame, so that the page is rebuilt each time (three
// line reads, six texts). "frame_share" is the frame's time as a share of one
// 60 Hz frame period (16,667 us).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/script_arc_bench.h"
#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "platform/plat_gl.h"
#include "shaders/text_programs.h"
#include "story/backlog.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "ui/mode.h"
#include "ui/wipe.h"

namespace {
constexpr uint64_t kMiB = 1024 * 1024;
constexpr int32_t kLines = 300;

const std::string& SampleDir() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/vn_backlog_bench_XXXXXX";
        if (!::mkdtemp(tmpl)) return std::string();
        const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/build_sample.py " + std::string(tmpl) + " >/dev/null";
        return std::system(cmd.c_str()) == 0 ? std::string(tmpl) : std::string();
    }();
    return dir;
}

// 300 lines with a name, two voices and a text of about 120 characters.
std::string Scenario() {
    std::string member = "*top\r\n<label>\r\n";
    for (int32_t n = 0; n < kLines; ++n) {
        member += "<name NAME_" + std::to_string(n % 4) + ">\r\n<voice 0,v_bl_01>\r\n<voice 1,v_bl_02>\r\n";
        member += "<text The_rain_had_not_stopped_since_morning_and_the_road_to_the_station_shone_under_"
                  "the_lamps_line_" + std::to_string(n) + ">\r\n<keywait " + std::to_string(n) + ">\r\n";
    }
    return member;
}

struct Bench {
    bool ok = false;
    std::filesystem::path old;
    Bench() {
        if (SampleDir().empty() || !Plat_GLHeadlessStart(kFrameWidth, kFrameHeight)) return;
        if (!*Lib_GetRenderer() && !Lib_GraphicsInit()) return;
        old = std::filesystem::current_path();
        std::filesystem::current_path(SampleDir());
        const uint64_t sizes[HEAP_COUNT] = {16 * kMiB, 64 * kMiB, 24 * kMiB, 64 * kMiB, 128 * kMiB};
        if (!Lib_MemInit(sizes)) return;
        Lib_PcArcOpen();
        Lib_TaskInit();
        for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
        FileLoadTable.pending = 0;
        Lib_DrawClear();
        Lib_DrawSet(Lib_ClearCB, 0, kDrawHeadPriority, 0, -1);
        for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);
        Lib_TextTableClear();
        Lib_SoundReset();
        Lib_MovieInit();
        Lib_MesSystemLoad();
        Lib_MesLoad();
        Lib_WipeProgramsCreate();
        for (ModeFunction& m : ModeStack) m = nullptr;
        for (ScreenWork*& w : ScreenWorkTable) w = nullptr;
        Main_ScreenCallsSet();
        if (!script_bench::CacheOneMemberScriptArc(Scenario())) return;
        // The history: every wait of the member, under its one label.
        const std::string member = Scenario();
        std::memset(static_cast<void*>(&GameStateBlock), 0, sizeof GameStateBlock);
        GameStateBlock.labelCount = 1;
        GameStateBlock.labelFlags[0] = 1;
        size_t at = 0;
        for (int32_t n = 0; n < kLines; ++n) {
            at = member.find("<keywait", at);
            GameStateBlock.readLinePos[n] = uint32_t(at);
            ++at;
        }
        GameStateBlock.readLineCount = kLines;
        SystemDataBlock.voiceVolume = 0;  // the replay is not what is measured
        MainInputDone = 1;                // the drawing waits for the first input otherwise
        Lib_TaskSet("Main_ModeCB", Main_ModeCB, 20000, 402, 0);
        Lib_TaskSet("Main_DrawBCB", Main_DrawBCB, 15000, 402, 0);
        Lib_TaskSet("Main_DrawCB", Main_DrawCB, 40000, 402, 0);
        Lib_TaskSet("Main_DrawACB", Main_DrawACB, 45000, 402, 0);
        ModeStack[0] = GSL_StoryModeCB;
        GSL_WorkCreate();
        GSL_WorkGet(GSL_StoryModeCB)->step = 99;  // idle below
        ModeStack[1] = GSL_BacklogModeCB;
        for (int i = 0; i < 2000 && !Running(); ++i) Pass();
        if (!Running()) {
            const ScreenWork* w = GSL_WorkGet(GSL_BacklogModeCB);
            const WipeWork* wipe = w ? GSL_SystemWipeWork(GSL_WorkWord(w, 3)) : nullptr;
            std::fprintf(stderr, "backlog bench: stopped at %d/%d (wipe %d, %s)\n", w ? w->step : -1,
                         w ? w->subState : -1, wipe ? int(wipe->state) : -1, wipe ? wipe->path : "");
            return;
        }
        ok = true;
    }
    static bool Running() {
        const ScreenWork* w = GSL_WorkGet(GSL_BacklogModeCB);
        return w && w->step == BACKLOG_RUN;
    }
    static void Pass() {
        Lib_FileLoadCB(nullptr);
        Lib_SoundWorkPass();
        Lib_TaskPass(false);
    }
    ~Bench() {
        GSL_WorkDeleteAll();
        for (int32_t i = 2; i < kTaskSlots; ++i)
            if (TaskTable.slots[i]) Lib_TaskDel(uint32_t(i));
        for (int32_t i = 0; i < kSpriteSlots; ++i) {
            SpriteTable[i].flags |= SPRITE_FAILED;
            Lib_SpriteFree(i);
        }
        for (int32_t i = 0; i < kTextSlots; ++i) Lib_TextDel(i);
        for (int32_t i = 0; i < kFileLoadSlots; ++i) Lib_FileLoadEnd(i);
        Lib_PcArcClose();
        Lib_CashReset();
        Lib_MemRelease();
        if (!old.empty()) std::filesystem::current_path(old);
    }
};

void BM_BacklogFrameKeyHeld(benchmark::State& state) {
    Bench b;
    if (!b.ok) {
        state.SkipWithError("no headless GL or sample data");
        return;
    }
    BacklogWork* work = GSL_BacklogWork();
    uint32_t key = 0x1000;  // left first: the page starts at the newest lines
    int64_t rebuilt = 0;
    for (auto _ : state) {
        if (work->selected == 0) key = 0x4000;
        if (work->selected == kLines - 1) key = 0x1000;
        // Newly pressed every frame: the key task fires each time.
        InputButtons.pressed = key;
        InputButtons.held = 0;
        const int32_t before = work->drawn;
        Lib_SoundWorkPass();
        Lib_TaskPass(false);
        rebuilt += work->drawn != before;
    }
    InputButtons.pressed = InputButtons.held = 0;
    state.counters["rebuilt_share"] = double(rebuilt) / double(state.iterations());
    state.counters["frame_share"] = benchmark::Counter(
        1.0 / 60.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_BacklogFrameKeyHeld)->Unit(benchmark::kMicrosecond);
}  // namespace
