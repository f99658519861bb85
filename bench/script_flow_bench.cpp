// Restoring a position by the replay buffer against running the same tags
// straight, with recording stand-ins of the presentation commands that
// follow their replay rules (keys and keep counts) and, when they act, only
// write a small stage.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/script_arc_bench.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "script/args.h"
#include "script/flow.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "script/syntax.h"
#include "tests/script/story_stand_in.h"

namespace {

struct Stage {
    char layers[12][32];
    char name[32], text[64], music[32];
    int32_t transitions;
} g_stage;
int32_t g_acted = 0;  // handler calls of replayed records

int32_t g_task = -1;
std::unique_ptr<StoryStandIn> g_standIn;

bool Recording(CommandContext* c) {
    const ReplayMode m = GSL_ReplayModeGet(c);
    return m == REPLAY_RUN || m == REPLAY_SILENT;
}
void Name(CommandContext* c) {
    if (GSL_ReplayModeGet(c) == REPLAY_SILENT) return;
    if (Recording(c)) {
        GSL_ReplayDedupe(c, -1, 0, -1, 0);
        GSL_ReplayRecord(c);
        return;
    }
    g_acted += GSL_ReplayModeGet(c) == REPLAY_ACTING;
    GSL_ArgGet(c, nullptr, 0, g_stage.name, sizeof g_stage.name);
}
void Text(CommandContext* c) {
    if (Recording(c)) {
        GSL_ReplayRecord(c);
        return;
    }
    g_acted += GSL_ReplayModeGet(c) == REPLAY_ACTING;
    GSL_ArgGet(c, nullptr, 0, g_stage.text, sizeof g_stage.text);
}
void Keywait(CommandContext* c) {
    if (Recording(c)) {
        for (int32_t cmd : {10, 11}) GSL_ReplayDedupe(c, cmd, 0, -1, 1);
        for (int32_t cmd : {13, 14, 15, 20}) GSL_ReplayDedupe(c, cmd, 0, -1, 0);
        GSL_ReplayDedupe(c, -1, 0, -1, 0);
        GSL_ReplayRecord(c);
        return;
    }
    g_acted += GSL_ReplayModeGet(c) == REPLAY_ACTING;
    if (GSL_ReplayModeGet(c) == REPLAY_NORMAL) GSL_HistoryPosGet(1, 1);  // read, without waiting
}
void Image(CommandContext* c) {
    if (Recording(c)) {
        for (int32_t cmd : {32, 35, 33}) GSL_ReplayDedupe(c, cmd, 0, 0, 0);
        GSL_ReplayRecord(c);
        return;
    }
    g_acted += GSL_ReplayModeGet(c) == REPLAY_ACTING;
    const int32_t layer = GSL_ArgGetInt(c, nullptr, 0);
    if (layer >= 0 && layer < 12) GSL_ArgGet(c, nullptr, 1, g_stage.layers[layer], sizeof g_stage.layers[0]);
}
void Trans(CommandContext* c) {
    if (Recording(c)) {
        GSL_ReplayRecord(c);
        return;
    }
    g_acted += GSL_ReplayModeGet(c) == REPLAY_ACTING;
    ++g_stage.transitions;
}
void PlayBgm(CommandContext* c) {
    if (Recording(c)) {
        GSL_ReplayDedupe(c, -1, 0, -1, 0);
        GSL_ReplayRecord(c);
        return;
    }
    g_acted += GSL_ReplayModeGet(c) == REPLAY_ACTING;
    GSL_ArgGet(c, nullptr, 0, g_stage.music, sizeof g_stage.music);
}

std::vector<CommandEntry> g_table;

// n tags in blocks of ten (two pictures, a name, two texts, a transition and
// its wait, music and two line ends), a flagged label every 100 tags; the
// last tag is the target keywait. Label offsets in *labels.
std::string Script(int n, bool uniqueLayers, std::vector<uint32_t>* labels) {
    std::string s;
    for (int i = 0; i < n - 1; ++i) {
        if (i % 100 == 0) {
            s += "*l" + std::to_string(i) + "\r\n";
            labels->push_back(uint32_t(s.size()));
            s += "<label>\r\n";
        }
        const int b = i / 10;
        if (uniqueLayers) {
            s += "<image " + std::to_string(i) + ",pic_" + std::to_string(i) + ">\r\n";
            continue;
        }
        switch (i % 10) {
            case 0: s += "<image " + std::to_string(b % 12) + ",bg_" + std::to_string(b % 37) + ">\r\n"; break;
            case 1: s += "<name NAME_" + std::to_string(b % 5) + ">\r\n"; break;
            case 2: s += "<text TEXT_" + std::to_string(b) + ">\r\n"; break;
            case 3: s += "<trans 500>\r\n"; break;
            case 4: s += "<keywait " + std::to_string(2 * b) + ">\r\n"; break;
            case 5: s += "<playbgm bgm_" + std::to_string(b % 7) + ">\r\n"; break;
            case 6: s += "<text TEXT_" + std::to_string(b) + "_2>\r\n"; break;
            case 7: s += "<wt>\r\n"; break;
            case 8: s += "<image " + std::to_string((b + 5) % 12) + ",ch_" + std::to_string(b % 11) + ">\r\n"; break;
            default: s += "<keywait " + std::to_string(2 * b + 1) + ">\r\n"; break;
        }
    }
    return s + "<keywait 99999>\r\n";
}

struct Env {
    std::string text;
    std::vector<uint32_t> labels;
    uint32_t target = 0;
    bool ok = false;

    Env(int n, bool uniqueLayers) {
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 2 * mib, 4 * mib, 8 * mib, 2 * mib};
        if (!Lib_MemInit(sizes) || !Lib_TaskInit()) return;
        text = Script(n, uniqueLayers, &labels);
        target = uint32_t(text.rfind("<keywait"));
        if (!script_bench::CacheOneMemberScriptArc(text)) return;
        g_table.assign(GSL_ScriptCommandTable(), GSL_ScriptCommandTable() + kScriptCommands);
        g_table[10].handler = Name;
        g_table[11].handler = Text;
        g_table[12].handler = Keywait;
        g_table[30].handler = Trans;
        g_table[31].handler = Trans;
        g_table[33].handler = Image;
        g_table[101].handler = PlayBgm;
        GSL_ScriptCommandTableSet(g_table.data());
        g_standIn = std::make_unique<StoryStandIn>();
        g_standIn->Present(true);
        ok = true;
    }
    ~Env() {
        GSL_ScriptCommandTableSet(nullptr);
        g_standIn.reset();
        g_task = -1;
        GSL_ReplayReset();
        Lib_CashReset();
        Lib_MemRelease();
    }
    // The saved game: flagged labels at the start and at restart, the
    // target line read under the second.
    void Saved(uint32_t restart) {
        GameState& g = GameStateBlock;
        std::memset(static_cast<void*>(&g), 0, sizeof g);
        GSL_StageReset(&g.stage, 3);
        std::strcpy(g.scriptName, "bench.txt");
        g.labelPos[0] = GSL_ScriptPosition(0, labels[0]);
        g.labelPos[1] = GSL_ScriptPosition(0, restart);
        g.labelFlags[0] = g.labelFlags[1] = 1;
        g.labelCount = 2;
        g.readLineLabel[0] = 1;
        g.readLinePos[0] = GSL_ScriptPosition(0, target);
        g.readLineCount = 0;
        g.startOffset = target;
        g.restartOffset = restart;
    }
};

// Tags 0..2999 straight with the stand-ins acting: the task's first frame
// loads, the second runs up to the target keywait.
void BM_Straight3000Tags(benchmark::State& state) {
    Env env(3000, false);
    if (!env.ok) return state.SkipWithError("set-up failed");
    for (auto _ : state) {
        env.Saved(env.labels[20]);
        GameStateBlock.startOffset = GameStateBlock.restartOffset = 0;
        g_task = GSL_ScriptTaskSet();
        g_standIn->Work().tasks[0] = g_task;
        Lib_TaskPass(false);
        Lib_TaskPass(false);
        GSL_ScriptTaskEnd(g_task);
    }
    benchmark::DoNotOptimize(g_stage);
}
BENCHMARK(BM_Straight3000Tags)->Unit(benchmark::kMicrosecond);

// The restore of the same target: silent run over tags 0..1999, main run
// over 2000..2999, then the surviving records replayed; one frame.
void BM_Restore3000Tags(benchmark::State& state) {
    Env env(3000, false);
    if (!env.ok) return state.SkipWithError("set-up failed");
    bool oneFrame = true;
    for (auto _ : state) {
        env.Saved(env.labels[20]);
        g_task = GSL_ScriptTaskSet();
        g_standIn->Work().tasks[0] = g_task;
        g_acted = 0;
        Lib_TaskPass(false);
        oneFrame = oneFrame && GSL_ScriptStatusGet(g_task) == int32_t(SCRIPT_READY);
        GSL_ScriptTaskEnd(g_task);
    }
    if (!oneFrame) state.SkipWithError("the restore took more than one frame");
    state.counters["records"] = g_acted;
    benchmark::DoNotOptimize(g_stage);
}
BENCHMARK(BM_Restore3000Tags)->Unit(benchmark::kMicrosecond);

// The worst case: every tag a picture in a layer of its own, so nothing is
// dropped and each keyed drop compares with every record (2,048, the most).
void BM_Restore2048KeyedRecords(benchmark::State& state) {
    Env env(3000, true);
    if (!env.ok) return state.SkipWithError("set-up failed");
    for (auto _ : state) {
        env.Saved(env.labels[20]);
        g_task = GSL_ScriptTaskSet();
        g_standIn->Work().tasks[0] = g_task;
        g_acted = 0;
        Lib_TaskPass(false);
        GSL_ScriptTaskEnd(g_task);
    }
    state.counters["records"] = g_acted;
}
BENCHMARK(BM_Restore2048KeyedRecords)->Unit(benchmark::kMillisecond);

// A label and a read line recorded on full histories: 400 labels of 40
// files, each file's last with a return point, and 16,000 lines under them;
// each label lets the oldest entry no return needs go, each line the oldest
// line.
void BM_LabelAndLineOnFullHistories(benchmark::State& state) {
    Env env(3000, false);
    if (!env.ok) return state.SkipWithError("set-up failed");
    env.Saved(env.labels[20]);
    g_task = GSL_ScriptTaskSet();
    g_standIn->Work().tasks[0] = g_task;
    Lib_TaskPass(false);
    GameState& g = GameStateBlock;
    for (uint32_t i = 0; i < kLabelHistorySize; ++i) {
        g.labelPos[i] = GSL_ScriptPosition(int32_t(i % 40), i);
        g.labelReturn[i] = i >= kLabelHistorySize - 40 ? GSL_ScriptPosition(int32_t((i + 1) % 40), i) : 0;
    }
    for (uint32_t j = 0; j < kReadLineSize; ++j) g.readLineLabel[j] = uint16_t(j % kLabelHistorySize);
    g.labelCount = kLabelHistorySize;
    g.readLineCount = kReadLineSize;
    for (auto _ : state) {
        GSL_HistoryPosGet(0, 1);
        GSL_HistoryPosGet(1, 1);
    }
    GSL_ScriptTaskEnd(g_task);
    if (g.labelCount != kLabelHistorySize || g.readLineCount != kReadLineSize) state.SkipWithError("not full");
}
BENCHMARK(BM_LabelAndLineOnFullHistories)->Unit(benchmark::kMicrosecond);

}  // namespace
