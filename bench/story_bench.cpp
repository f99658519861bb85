// The story screen's benchmarks: (a) its own work per frame while the script
// waits for a key (input step, icon follower, guide running), (b) a past line
// read back against the markup conversion alone on the same text, and (c) a
// line whose text lies 512 KB back in its member.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench/markup_bench_env.h"
#include "bench/script_arc_bench.h"
#include "engine/core/charcode.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/render/draw_list.h"
#include "engine/render/sprite.h"
#include "script/script_state.h"
#include "script/script_task.h"
#include "story/game_state.h"
#include "story/line_text.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "script/script_host.h"
#include "story/story_window.h"
#include "ui/mode.h"

namespace {

// (a) ------------------------------------------------------------------------------
void BM_StoryFrameWhileWaiting(benchmark::State& state) {
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {16 * mib, 4 * mib, 2 * mib, 2 * mib, 4 * mib};
    if (!Lib_MemInit(sizes) || !Lib_TaskInit()) {
        state.SkipWithError("heaps");
        return;
    }
    Lib_DrawClear();
    for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);
    for (ModeFunction& m : ModeStack) m = nullptr;
    for (ScreenWork*& w : ScreenWorkTable) w = nullptr;
    ModeStack[0] = GSL_StoryModeCB;
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    w->step = STORY_STEP_INPUT;
    for (uint32_t i : {STORY_LOADING, STORY_PENDING, STORY_ACTION, STORY_ICON, STORY_DIALOG, STORY_BADGE})
        w->words[i] = uint64_t(int64_t(-1));
    w->tasks[0] = GSL_ScriptTaskSet();
    GSL_ScriptTaskWork(w->tasks[0])->script.status = SCRIPT_PLAYER_WAIT;
    StoryPlayMode = 0;
    GuideTaskId = -1;
    for (auto _ : state) {
        if (GuideTaskId < 0) GSL_StoryGuideStart();
        GSL_StoryModeCB();
        const int32_t guide = GuideTaskId;
        if (guide < 0) continue;
        // The scheduler would remove a finished guide; here it is done by hand.
        if (const TaskRecord* t = TaskTable.slots[guide]; t && t->callback(t->work)) Lib_TaskDel(uint32_t(guide));
    }
    GSL_StoryGuideDel();
    GSL_WorkDeleteAll();
    Lib_MemRelease();
}
BENCHMARK(BM_StoryFrameWhileWaiting)->Unit(benchmark::kNanosecond);

// (b), (c) -------------------------------------------------------------------------
// A Shift-JIS message of about 1,500 bytes with a ruby, as the script holds it.
std::string SjisMessage() {
    auto sjis = [](const std::string& utf8) {
        char out[kCharConvSize];
        Lib_Utf8ToSjis(utf8.c_str(), utf8.size(), out);
        return std::string(out);
    };
    std::string text = sjis("「/ruby:漢字&かんじ/の読み方は、とても難しいですね。");
    const std::string sentence = sjis("今日は朝から雨が降っていたので、駅まで歩いて行きました。");
    while (text.size() + sentence.size() <= 1496) text += sentence;
    return text + sjis("」");
}

bool Lines(benchmark::State& state, const std::string& member, uint32_t offset) {
    if (!markup_bench::Setup(state)) return false;
    if (!script_bench::CacheOneMemberScriptArc(member)) {
        state.SkipWithError("cache");
        return false;
    }
    GameStateBlock.readLinePos[0] = offset;
    GameStateBlock.readLineCount = 1;
    return true;
}

void BM_LineTextMessage(benchmark::State& state) {
    const std::string message = SjisMessage();
    const std::string member = "\r\n<text " + message + ">\r\n<keywait 1>\r\n";
    if (!Lines(state, member, uint32_t(member.find("<keywait")))) return;
    static char name[kLineTextSize], text[kLineTextSize];
    for (auto _ : state) benchmark::DoNotOptimize(GSL_ScriptLineText(0, name, text, nullptr, 0, 1 | 2 | 4));
    state.counters["bytes"] = double(message.size());
    markup_bench::Teardown();
}
BENCHMARK(BM_LineTextMessage)->Unit(benchmark::kMicrosecond);

void BM_LineTextConversionAlone(benchmark::State& state) {
    const std::string message = SjisMessage();
    if (!markup_bench::Setup(state)) return;
    for (auto _ : state) {
        markup_bench::g_stage.textSizeX = markup_bench::g_stage.textSizeY = 0.5f;
        GSL_TextToMarkup(&markup_bench::g_ctx, message.c_str(), markup_bench::g_out, sizeof markup_bench::g_out,
                         true, -1.0f, 0.4f);
    }
    markup_bench::Teardown();
}
BENCHMARK(BM_LineTextConversionAlone)->Unit(benchmark::kMicrosecond);

void BM_LineTextFarBack(benchmark::State& state) {
    std::string member = "\r\n<text X>\r\n<wait>\r\n";
    const std::string filler = ";" + std::string(62, 'c') + "\r\n";
    while (member.size() < 512 * 1024) member += filler;
    member += "<keywait 0>\r\n<keywait 1>\r\n";
    if (!Lines(state, member, uint32_t(member.find("<keywait 1>")))) return;
    static char name[kLineTextSize], text[kLineTextSize];
    for (auto _ : state) {
        GSL_ScriptLineText(0, name, text, nullptr, 0, 4 | 8);
        benchmark::DoNotOptimize(text[0]);
    }
    if (std::strcmp(text, "X") != 0) state.SkipWithError("the far text was not found");
    markup_bench::Teardown();
}
BENCHMARK(BM_LineTextFarBack)->Unit(benchmark::kMicrosecond);

}  // namespace
