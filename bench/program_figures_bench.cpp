// The whole program's figures, each from one run of WinMain on the sample
// (bench/program_bench.h drives it):
//   BM_StoryPageFrameCpu   a story page (background, three characters, the
//                          message window, a line being revealed): the game
//                          thread's CPU time per frame with no pixel shaded;
//   BM_StoryPageIdleCpu    the same page once the line is out, its key-wait
//                          icon blinking: the whole process's share of one
//                          core over 10 s, drawing for real (run it under
//                          xvfb-run, below), the presents a second and the
//                          window pixels a present covers; /1 with every
//                          frame drawn whole (VN_FRAME_SKIP=0);
//   BM_TitleIdleCpu        the same for the title's menu, its item pulsing;
//   BM_StartToTitleAndStory a returning player's start: to the first frame,
//                          to the first title frame (logos and the movie
//                          confirmed as soon as each takes it), and from new
//                          game to the story's first frame, in seconds;
//   BM_SaveFrameShare      a save to a slot from the in-game menu: the longest
//                          game-thread frame while it runs, as a share of 1/60 s,
//                          and the longest by the save screen's sub-states from
//                          the slot's choice on (longest_in_step_*);
//                          and the resident memory with its split (MemorySplit)
//                          on the title's menu and on the story page after the save;
//   BM_AutoPlayRss         auto mode through the story, back to the title,
//                          new game again: peak RSS and RSS per loop
//                          (one loop, or VN_AUTOPLAY_MINUTES of loops);
//   BM_NeverWaitingScenario an opening scenario that loops without waiting
//                          (a line, then a call back to its label): the
//                          longest frame while it runs (wall and game-thread
//                          CPU time), and the time from SIGINT to the end.
//
// Counters ending in _ms or _s are times, _pct shares, _mib MiB; the
// benchmarks' own time columns are not figures. Each benchmark starts the
// program from scratch (about 10 s of logos before the title): run them
// with a filter, one process each, as the scripts do.
//
//   bench/program_figures.sh                  # all but the long loop, under xvfb-run
//   bench/autoplay_loop.sh 30                 # the 30-minute loop
//   build/engine_bench --benchmark_filter=BM_StoryPageFrameCpu   # one, headless
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/frame_skip.h"
#include "bench/program_bench.h"
#include "engine/core/heap.h"
#include "platform/plat_gl.h"
#include "screens/save.h"
#include "script/game_blocks.h"
#include "script/script_host.h"
#include "script/staffroll.h"
#include "ui/pointer.h"

namespace {
using namespace program_bench;

constexpr double kFrameUs = 1e6 / 60.0;

// The game thread's CPU time of each frame: the time between two ends of frame.
// `drawn`: the part from the start of the drawing pass.
struct FrameMeter {
    double last = -1, drawn = 0;
    double Tick() {
        const double now = ThreadCpuUs(), d = last < 0 ? 0 : now - last;
        drawn = last < 0 ? 0 : now - std::max(last, DrawStartCpuUs());
        last = now;
        return d;
    }
};

struct Stats {
    std::vector<double> v;
    double Mean() const {
        double s = 0;
        for (double x : v) s += x;
        return v.empty() ? 0 : s / double(v.size());
    }
    double Max() const { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
    double Quantile(double q) const {
        if (v.empty()) return 0;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s[std::min(s.size() - 1, size_t(q * double(s.size())))];
    }
};

// Character pictures shown on screen now.
int ShownCharacters() {
    int n = 0;
    for (const SpriteRecord& s : SpriteTable)
        if (s.visible && (s.flags & SPRITE_FAILED) == 0 && s.texture && std::strstr(s.fileName, "chara_")) ++n;
    return n;
}

// --- (1) a story page ------------------------------------------------------------

// The opening scenario of the page variant: a background, three characters and
// a long line revealed at 5 frames a character. Ten seconds of it are
// measured, then a confirm shows the rest of the line.
const char* const kPageScenario =
    "; A story page for the benchmarks.\n"
    "*top\n"
    "<label>\n"
    "<image base,fore,bg_forest>\n"
    "<image 3,fore,chara_guide,,80,60>\n"
    "<image 4,fore,chara_traveller,,480,80>\n"
    "<image 5,fore,chara_guide,,880,60>\n"
    "<textspeed 80>\n"
    "<name NAME_0>\n"
    "<text TEXT_7>\n"
    "<keywait 7>\n"
    "<returnmenu>\n";

struct PageRun {
    ToNewGame toGame;
    FrameMeter meter;
    Stats reveal, drawing;
    int characters = 0;
    bool revealed = false;
    static constexpr size_t kFrames = 600;
    // Per frame: true once the line is out.
    void Step(Input& in) {
        const double cpu = meter.Tick();
        if (!GSL_WorkGet(GSL_StoryModeCB)) {
            toGame.Step(in);
            return;
        }
        const TextRecord* t = MessageText();
        if (GSL_ModeTop() != GSL_StoryModeCB || !t) return;
        if (!t->finished && t->revealed > 0) {
            if (reveal.v.size() < kFrames) {
                reveal.v.push_back(cpu);
                drawing.v.push_back(meter.drawn);
            } else {
                in.Button(BUTTON_DECIDE);
            }
            characters = std::max(characters, ShownCharacters());
        }
        revealed = revealed || (t->finished && !reveal.v.empty());
    }
};

void BM_StoryPageFrameCpu(benchmark::State& state) {
    Scratch scratch(SampleData(kPageScenario));
    if (scratch.dir.empty()) return state.SkipWithError("the sample could not be built");
    PageRun page;
    for (auto _ : state) {
        int frames = 0;
        Run(scratch, [&](Input& in) {
            page.Step(in);
            return page.reveal.v.size() < PageRun::kFrames && ++frames < 60 * 120;
        }, false);
    }
    if (page.reveal.v.size() < 30) return state.SkipWithError("the line was not revealed");
    state.counters["reveal_frames"] = double(page.reveal.v.size());
    state.counters["characters_shown"] = page.characters;
    state.counters["cpu_per_frame_ms"] = page.reveal.Mean() / 1000;
    state.counters["cpu_p95_ms"] = page.reveal.Quantile(0.95) / 1000;
    state.counters["cpu_max_ms"] = page.reveal.Max() / 1000;
    state.counters["frame_share_pct"] = 100 * page.reveal.Mean() / kFrameUs;
    state.counters["drawing_pass_ms"] = page.drawing.Mean() / 1000;  // walk, compose, present
    Stats first, last;  // the start of the line against its 120th character
    first.v.assign(page.reveal.v.begin(), page.reveal.v.begin() + 100);
    last.v.assign(page.reveal.v.end() - 100, page.reveal.v.end());
    state.counters["cpu_first_100_frames_ms"] = first.Mean() / 1000;
    state.counters["cpu_last_100_frames_ms"] = last.Mean() / 1000;
}
BENCHMARK(BM_StoryPageFrameCpu)->Iterations(1)->Unit(benchmark::kSecond);

// Ten seconds of a still screen after a second's settling: the whole
// process's share of a core and each thread's, what the drawing pass decided
// each frame, and the presents with the window pixels they covered.
struct IdleMeter {
    // VN_IDLE_SECONDS sets the window's length (bench/idle_cpu.sh).
    const double kSeconds = std::getenv("VN_IDLE_SECONDS") ? std::atof(std::getenv("VN_IDLE_SECONDS")) : 10;
    static constexpr double kSettle = 1;
    double wall0 = -1, cpu0 = 0, wall1 = 0, cpu1 = 0, stillAt = -1;
    uint64_t presents0 = 0, pixels0 = 0, presents1 = 0, pixels1 = 0;
    int frames = 0, partial = 0, whole = 0;
    double damagePixels = 0;
    FrameDamageCounts counts0{};
    std::map<std::string, double> threads0, threads1;
    // Per frame once the screen is still; false when the window is over.
    bool Step() {
        const double now = WallSeconds();
        if (stillAt < 0) stillAt = now;
        if (now - stillAt < kSettle) return true;
        if (wall0 < 0) {
            wall0 = now;
            cpu0 = ProcessCpuSeconds();
            threads0 = ThreadSeconds();
            presents0 = Plat_GLPresents();
            pixels0 = Plat_GLPresentedPixels();
            counts0 = FrameDamageCounted;
            return true;
        }
        if (now - wall0 < kSeconds) return true;
        // What the drawing pass decided: nothing, a part, or the whole frame.
        const FrameDamageCounts& c = FrameDamageCounted;
        frames = int(c.kept + c.partial + c.whole - counts0.kept - counts0.partial - counts0.whole);
        partial = int(c.partial - counts0.partial);
        whole = int(c.whole - counts0.whole);
        damagePixels = double(c.damagePixels - counts0.damagePixels);
        wall1 = now;
        cpu1 = ProcessCpuSeconds();
        threads1 = ThreadSeconds();
        presents1 = Plat_GLPresents();
        pixels1 = Plat_GLPresentedPixels();
        return false;
    }
    void Report(benchmark::State& state) {
        if (wall1 <= wall0) return state.SkipWithError("the screen was not reached");
        const double wall = wall1 - wall0;
        const double presents = double(presents1 - presents0);
        state.counters["process_core_share"] = (cpu1 - cpu0) / wall;
        state.counters["frames"] = frames;
        state.counters["frames_partial"] = partial;
        state.counters["frames_whole"] = whole;
        state.counters["damage_pixels_per_partial"] = partial ? damagePixels / partial : 0;
        state.counters["presents_per_s"] = presents / wall;
        state.counters["pixels_per_present"] = presents > 0 ? double(pixels1 - pixels0) / presents : 0;
        for (const auto& [name, secs] : threads1) {
            const double share = (secs - threads0[name]) / wall;
            if (share >= 0.001) state.counters["thread_" + name] = share;
        }
    }
};

// Arg 1: every frame drawn whole (VN_FRAME_SKIP=0), for comparison.
void SetFrameSkip(const benchmark::State& state) {
    if (state.range(0)) setenv("VN_FRAME_SKIP", "0", 1);
    else unsetenv("VN_FRAME_SKIP");
}

// Runs the program until `reach` says the screen is up (it drives the
// input until then), measures it still and reports.
void IdleRun(benchmark::State& state, const Scratch& scratch, const std::function<bool(Input&)>& reach) {
    if (scratch.dir.empty()) return state.SkipWithError("the sample could not be built");
    SetFrameSkip(state);
    IdleMeter idle;
    for (auto _ : state) {
        int frames = 0;
        Run(scratch, [&](Input& in) {
            if (++frames > 60 * 180) return false;
            return reach(in) ? idle.Step() : true;
        }, true);
    }
    unsetenv("VN_FRAME_SKIP");
    idle.Report(state);
}

void BM_StoryPageIdleCpu(benchmark::State& state) {
    PageRun page;
    IdleRun(state, Scratch(SampleData(kPageScenario)), [&](Input& in) {
        if (!page.revealed) page.Step(in);
        return page.revealed;
    });
}
BENCHMARK(BM_StoryPageIdleCpu)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// The title's menu waiting, its current item pulsing.
void BM_TitleIdleCpu(benchmark::State& state) {
    ToNewGame toTitle;
    IdleRun(state, Scratch(SampleData()), [&](Input& in) {
        if (TitleMenuUp()) return true;
        toTitle.Step(in);
        return false;
    });
}
BENCHMARK(BM_TitleIdleCpu)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// --- (2) start-up ----------------------------------------------------------------

void BM_StartToTitleAndStory(benchmark::State& state) {
    Scratch scratch(SampleData());
    if (scratch.dir.empty()) return state.SkipWithError("the sample could not be built");
    // A first start makes the system data; the measured one is the next.
    {
        ToNewGame toGame;
        Run(scratch, [&](Input& in) {
            toGame.Step(in);
            return !TitleMenuUp();
        }, false);
    }
    double start = 0, firstFrame = -1, titleTop = -1, titleFrame = -1, menu = -1, newGame = -1, storyFrame = -1,
           firstLine = -1;
    double init = -1, running = -1;  // the game thread started; its start-up done
    for (auto _ : state) {
        ToNewGame toGame;
        start = WallSeconds();
        std::atomic<bool> over{false};
        std::thread watch([&] {
            while (!over.load() && running < 0) {
                const uint8_t s = RunState.load();
                if (init < 0 && s == RUN_INIT) init = WallSeconds() - start;
                if (s == RUN_RUNNING) running = WallSeconds() - start;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        Run(scratch, [&](Input& in) {
            const double now = WallSeconds() - start;
            if (firstFrame < 0) firstFrame = now;
            if (titleTop < 0 && GSL_ModeTop() == GSL_TitleModeCB) titleTop = now;
            if (titleFrame < 0 && TitlePictureUp()) titleFrame = now;
            if (menu < 0 && TitleMenuUp()) menu = now;
            if (newGame >= 0 && storyFrame < 0 && GSL_ModeTop() == GSL_StoryModeCB) storyFrame = now;
            if (storyFrame >= 0 && StoryWaiting()) {
                firstLine = now;
                return false;
            }
            const bool was = toGame.started;
            toGame.Step(in);
            if (!was && toGame.started) newGame = now;
            return now < 120;
        }, false);
        over = true;
        watch.join();
    }
    if (firstLine < 0) return state.SkipWithError("the story was not reached");
    state.counters["window_s"] = init;                      // WinMain to the game thread's start
    state.counters["engine_start_s"] = running - init;      // heaps, archives, GL, saves, sound, fonts, main tasks
    state.counters["start_to_first_frame_s"] = firstFrame;
    state.counters["start_to_title_pushed_s"] = titleTop;
    state.counters["start_to_title_frame_s"] = titleFrame;
    state.counters["title_own_load_s"] = titleFrame - titleTop;
    state.counters["startup_without_logos_s"] = firstFrame + (titleFrame - titleTop);
    state.counters["start_to_menu_s"] = menu;
    state.counters["new_game_to_story_frame_s"] = storyFrame - newGame;
    state.counters["new_game_to_first_line_s"] = firstLine - newGame;
    state.counters["start_to_story_frame_s"] = storyFrame;
}
BENCHMARK(BM_StartToTitleAndStory)->Iterations(1)->Unit(benchmark::kSecond);

// --- (3) a save to a slot ------------------------------------------------------------

// Keeps the longest frame by the save screen's sub-states at its start
// (*subState) and end (-1: no screen): "10_to_11" is the frame that builds
// the request, "11" one that waits in it.
void Longest(std::map<std::string, double>& longest, int* subState, double cpu) {
    const ScreenWork* w = GSL_WorkGet(GSL_SaveModeCB);
    const int ended = w ? w->subState : -1;
    const std::string key = std::to_string(*subState) + (ended == *subState ? "" : "_to_" + std::to_string(ended));
    longest[key] = std::max(longest[key], cpu);
    *subState = ended;
}

void BM_SaveFrameShare(benchmark::State& state) {
    Scratch scratch(SampleData());
    if (scratch.dir.empty()) return state.SkipWithError("the sample could not be built");
    Stats before, during;
    double saveStart = -1, saveEnd = -1;
    int reached = 0, longestStep = -1;
    double pictureMs = -1, longestDrawing = 0;
    MemorySplit titleMemory, savedMemory;
    std::map<std::string, double> longestBySubState;  // from the slot's choice on
    for (auto _ : state) {
        ToNewGame toGame;
        FrameMeter meter;
        int waiting = 0, frames = 0, after = 0, atTitle = 0, settled = 0, subState = -1;
        bool saw = false;
        enum { READING, MENU, LIST, ASKED, SAVING, DONE } phase = READING;
        Run(scratch, [&](Input& in) {
            const double cpu = meter.Tick();
            if (++frames > 60 * 120) return false;
            reached = int(phase);
            switch (phase) {
                case READING:
                    if (TitleMenuUp() && atTitle < 60) {  // the title's memory, once it has settled
                        if (++atTitle == 60) titleMemory = ReadMemory();
                    } else if (!GSL_WorkGet(GSL_StoryModeCB)) {
                        toGame.Step(in);
                    } else if (StoryWaiting() && ++waiting > 60 && in.Button(kKeyMenu)) {
                        phase = MENU;
                    }
                    break;
                case MENU:
                    if (GSL_WorkGet(GSL_SaveModeCB)) {
                        phase = LIST;
                    } else if (const SelectInputWork* m = SysMenuInput()) {
                        in.Button(m->cursor == 0 ? BUTTON_DECIDE : BUTTON_UP);  // save: the first button
                    }
                    break;
                case LIST:
                    if (!SaveListUp()) break;
                    if (pictureMs < 0) {  // the save's picture alone, its read-back and reduction in one go
                        const double t0 = ThreadCpuUs();
                        void* picture = Save_PictureMake(StoryCaptureSprite);
                        pictureMs = (ThreadCpuUs() - t0) / 1000;
                        Lib_MemFree(HEAP_SCREEN, picture);
                        meter.Tick();  // not counted as the list's
                        break;
                    }
                    before.v.push_back(cpu);  // the list alone, for comparison
                    if (before.v.size() >= 60 && in.Button(BUTTON_DECIDE)) {
                        subState = SLOT_MAIN_LIST;
                        phase = ASKED;
                    }
                    break;
                case ASKED:
                    Longest(longestBySubState, &subState, cpu);
                    if (SaveAsking() && in.Button(BUTTON_DECIDE)) {
                        phase = SAVING;
                        saveStart = WallSeconds();
                    }
                    break;
                case SAVING: {
                    // From the answer through the slot's write and the system
                    // data's (the screen's steps 10 to 13), and a few frames on.
                    const ScreenWork* w = GSL_WorkGet(GSL_SaveModeCB);
                    if (cpu > during.Max()) {
                        longestStep = w ? w->subState : -1;
                        longestDrawing = meter.drawn;
                    }
                    during.v.push_back(cpu);
                    Longest(longestBySubState, &subState, cpu);
                    const bool writing = w && w->subState >= 10 && w->subState <= 13;
                    if (writing) saw = true;
                    if (saw && !writing && ++after >= 5) {
                        saveEnd = WallSeconds();
                        phase = DONE;
                    }
                    break;
                }
                case DONE:  // back on the story page: its memory after the save
                    if (++settled < 120) break;
                    savedMemory = ReadMemory();
                    return false;
            }
            return true;
        }, false);
    }
    if (saveEnd < 0) {
        static const char* const kPhases[] = {"the story did not wait for the reader", "the in-game menu did not open",
                                              "the save list did not come", "the save question did not come",
                                              "the save did not end"};
        return state.SkipWithError(kPhases[std::min(reached, 4)]);
    }
    state.counters["save_frames"] = double(during.v.size());
    state.counters["save_wall_s"] = saveEnd - saveStart;
    state.counters["longest_frame_ms"] = during.Max() / 1000;
    state.counters["longest_frame_share_pct"] = 100 * during.Max() / kFrameUs;
    state.counters["mean_frame_ms"] = during.Mean() / 1000;
    state.counters["longest_frame_drawing_pass_ms"] = longestDrawing / 1000;
    state.counters["longest_frame_ends_in_step"] = longestStep;  // the save screen's sub-state, -1 gone
    state.counters["list_alone_longest_ms"] = before.Max() / 1000;
    state.counters["picture_make_ms"] = pictureMs;
    for (const auto& [steps, cpu] : longestBySubState) state.counters["longest_in_step_" + steps + "_ms"] = cpu / 1000;
    std::map<std::string, double> memory;
    titleMemory.Add(memory, "title_");
    savedMemory.Add(memory, "saved_");
    for (const auto& [name, mib] : memory) state.counters[name] = mib;
}
BENCHMARK(BM_SaveFrameShare)->Iterations(1)->Unit(benchmark::kSecond);

// --- (4) the auto-play loop --------------------------------------------------------------

// Auto mode through the story: the auto key whenever it is off, a choice
// taken by the loop's number, every question answered with its first
// button, and a decide after 30 s without any change (counted; the line's
// reveal counts as a change).
struct AutoPlay {
    ToNewGame toGame;
    int loops = 0, nudges = 0, cooldown = 0, downs = 0, still = 0;
    bool inStory = false;
    uint64_t seen = 0;
    // True when a loop ended this frame (back on the title's menu).
    bool Step(Input& in) {
        const bool story = GSL_WorkGet(GSL_StoryModeCB) != nullptr;
        const uint64_t now = uint64_t(reinterpret_cast<uintptr_t>(GSL_ModeTop())) ^
                             (uint64_t(GameStateBlock.readLineCount) << 32) ^ (uint64_t(GSL_ModeCount()) << 48) ^
                             (uint64_t(MenuActiveFlag) << 56) ^ uint64_t(uint32_t(StoryScriptStatus())) ^
                             (story && MessageText() ? uint64_t(uint32_t(MessageText()->revealed)) << 8 : 0);
        still = now == seen ? still + 1 : 0;
        seen = now;
        if (cooldown > 0) --cooldown;
        if (still > 60 * 30 && in.Button(BUTTON_DECIDE)) {
            const int32_t task = story ? GSL_WorkTaskGet(GSL_StoryModeCB) : -1;
            const char* file = task >= 0 ? GSL_ScriptTaskFileName(task) : nullptr;
            std::fprintf(stderr, "  nudge: 30 s without a change (script %s, status %#x, auto %u, screens %d)\n",
                         file ? file : "-", StoryScriptStatus(), StoryPlayMode, GSL_ModeCount());
            ++nudges;
            still = 0;
            return false;
        }
        if (!story) {
            const bool ended = inStory && TitleMenuUp();
            if (ended) {
                ++loops;
                inStory = false;
                toGame.started = false;
            }
            toGame.Step(in);
            return ended;
        }
        inStory = true;
        if (!(MenuActiveFlag & 1u)) downs = 0;  // the next menu starts with its cursor on none
        if (DialogWaiting()) {
            in.Button(BUTTON_DECIDE);
        } else if (MenuActiveFlag & 1u) {
            if (downs < 1 + loops % 3) {  // the first press puts the cursor on the first choice
                if (in.Button(BUTTON_DOWN)) ++downs;
            } else {
                in.Button(BUTTON_DECIDE);
            }
            cooldown = 30;
        } else if (GSL_ModeTop() == GSL_StoryModeCB && !(StoryPlayMode & 4) && cooldown == 0 &&
                   !GSL_StaffrollIsActive()) {
            if (in.Button(kKeyAuto)) cooldown = 30;
        }
        return false;
    }
};

void BM_AutoPlayRss(benchmark::State& state) {
    Scratch scratch(SampleData());
    if (scratch.dir.empty()) return state.SkipWithError("the sample could not be built");
    const char* env = std::getenv("VN_AUTOPLAY_MINUTES");
    const double minutes = env ? std::atof(env) : 0;
    AutoPlay play;
    std::vector<double> rss, at;
    double firstPeak = 0, titleRss = 0;
    for (auto _ : state) {
        const double start = WallSeconds();
        double report = start;
        Run(scratch, [&](Input& in) {
            if (titleRss == 0 && TitleMenuUp()) titleRss = double(StatusKib("VmRSS")) / 1024;
            if (WallSeconds() - report >= 30) {  // where the loop stands, for a long run's log
                report = WallSeconds();
                std::fprintf(stderr, "  %.0f s: screens %d, story %d, line %u, mode %u, menu %u, script %#x, nudges %d\n",
                             report - start, GSL_ModeCount(), GSL_WorkGet(GSL_StoryModeCB) != nullptr,
                             GameStateBlock.readLineCount, StoryPlayMode, MenuActiveFlag, StoryScriptStatus(),
                             play.nudges);
            }
            if (!play.Step(in)) return WallSeconds() - start < std::max(minutes, 20.0) * 60;
            const double t = WallSeconds() - start, mib = double(StatusKib("VmRSS")) / 1024;
            rss.push_back(mib);
            at.push_back(t);
            if (play.loops == 1) firstPeak = double(StatusKib("VmHWM")) / 1024;
            std::fprintf(stderr, "loop %d: %.0f s, RSS %.1f MiB, peak %.1f MiB, nudges %d\n", play.loops, t, mib,
                         double(StatusKib("VmHWM")) / 1024, play.nudges);
            return t < minutes * 60;
        }, true);
    }
    if (rss.empty()) return state.SkipWithError("no loop ended");
    state.counters["loops"] = double(rss.size());
    state.counters["first_loop_s"] = at[0];
    state.counters["rss_at_title_mib"] = titleRss;
    state.counters["peak_rss_first_loop_mib"] = firstPeak;
    // Also counts the program's ending, after the last loop.
    state.counters["peak_rss_with_exit_mib"] = double(StatusKib("VmHWM")) / 1024;
    state.counters["rss_after_first_loop_mib"] = rss.front();
    state.counters["rss_after_last_loop_mib"] = rss.back();
    state.counters["growth_after_first_loop_pct"] = 100 * (rss.back() - rss.front()) / rss.front();
    state.counters["nudges"] = play.nudges;
}
BENCHMARK(BM_AutoPlayRss)->Iterations(1)->Unit(benchmark::kSecond);

// --- (6) a scenario that never waits ----------------------------------------------------

const char* const kNeverWaiting = "*r\n<label>\n<text TEXT_0>\n<call 00_init,*r>\n";

void BM_NeverWaitingScenario(benchmark::State& state) {
    Scratch scratch(SampleData(kNeverWaiting));
    if (scratch.dir.empty()) return state.SkipWithError("the sample could not be built");
    Stats frames, cpu;
    size_t longestAt = 0;
    double signalled = -1, ended = -1;
    for (auto _ : state) {
        ToNewGame toGame;
        FrameMeter meter;
        double last = -1;
        Run(scratch, [&](Input& in) {
            const double now = WallSeconds(), wall = last < 0 ? 0 : now - last, used = meter.Tick();
            last = now;
            if (signalled >= 0) return now - signalled < 30;  // the signal's close is awaited
            if (!GSL_WorkGet(GSL_StoryModeCB)) {
                toGame.Step(in);
                return true;
            }
            if (!(StoryScriptStatus() & SCRIPT_STARTED)) return true;
            if (wall > frames.Max()) longestAt = frames.v.size();
            frames.v.push_back(wall);
            cpu.v.push_back(used);
            if (frames.v.size() == 600) {
                signalled = WallSeconds();
                std::raise(SIGINT);
            }
            return true;
        }, false);
        ended = WallSeconds();
    }
    if (frames.v.size() < 600) return state.SkipWithError("the scenario did not run for 600 frames");
    state.counters["frames"] = double(frames.v.size());
    state.counters["longest_frame_ms"] = frames.Max() * 1000;
    state.counters["longest_frame_at"] = double(longestAt);
    state.counters["p99_frame_ms"] = frames.Quantile(0.99) * 1000;
    state.counters["mean_frame_ms"] = frames.Mean() * 1000;
    state.counters["longest_frame_cpu_ms"] = cpu.Max() / 1000;
    state.counters["mean_frame_cpu_ms"] = cpu.Mean() / 1000;
    state.counters["sigint_to_end_s"] = ended - signalled;
}
BENCHMARK(BM_NeverWaitingScenario)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

// --- (7) waiting for screens -------------------------------------------------------
//
//   BM_ScreenWaits         from a key to the first frame of the next screen,
//                          drawn for real (run it under xvfb-run): a slot load
//                          from the load screen to the story page with its
//                          text, the save screen from the in-game menu,
//                          leaving the gallery to the title, and the start to
//                          the first logo (the very first start and the
//                          next). Each beside the screens' own fade
//                          and wait frames on that path (own_frames, from
//                          their code; fade_frames_seen, the frames the
//                          overlay was seen fading) and the excess: the wall
//                          time less own_frames at 60 frames a second; for
//                          the starts also where their time goes (StartSplit).
#include "extras/extras_skeleton.h"
#include "extras/gallery.h"
#include "platform/plat_store.h"
#include "screens/boot.h"
#include "story/config.h"
#include "story/save_store.h"
#include "ui/widget.h"
#include "ui/widget_task.h"

namespace {
using namespace program_bench;

// The own frames of each path, read from the screens' code.
// Slot load (the answer to the load question to the page's text):
//   story/save_store.cpp Lib_UtilitySaveCB ST_CLOSE: the load task, quick as
//   its read is, ends no sooner than 60 frames after it; screens/load.cpp
//   LoadFadeOut: the fade to black, 16 frames, then the 10-frame count;
//   story/story_play.cpp Load and Setup (kFadeFrames): the overlay's fade to
//   clear (under the black cover, 30), to black (30) and to clear again (30)
//   before the script runs on.
constexpr int kLoadOwnFrames = 60 + 16 + 10 + 30 + 30 + 30;
// Save screen (decide on the menu's save to the save screen's first frame):
//   story/sys_menu.cpp GotoScreen: one frame's delay for the save, then the
//   fade to black, 30 frames. The save screen's own fade-in (16 frames,
//   screens/slot_list.cpp SLOT_BUILD_FADE_IN) starts on its first frame.
constexpr int kSaveOwnFrames = 1 + 30;
// Leaving the gallery (cancel to the title's first frame on top):
//   extras/extras_skeleton.cpp Extras_CloseFade, kOpenFrames: 60 frames.
constexpr int kGalleryOwnFrames = 60;
// The start to the first logo: screens/boot_flow.cpp loads the system data
//   through the save task, which stays at least 60 frames before it reports
//   (story/save_store.cpp, ST_CLOSE). On the very first start the slot is
//   empty: the task then shows its notice (a dialog that grows in over 5
//   frames, ui/utility_dialog.cpp), saves the slot behind its progress
//   message (5 frames' growth) and stays 60 frames again. GSL_BootEnd fades
//   to black in 60 frames, but the overlay starts black, so it takes none;
//   the logo's fade-in (60 frames, screens/logo.cpp) starts on its first frame.
constexpr int kStartOwnFrames = 60;
constexpr int kFirstStartOwnFrames = 60 + 5 + 5 + 60;

const DispColorWork* Overlay() {
    return reinterpret_cast<const DispColorWork*>(GSL_WidgetWorkGet(DispColorTask, GSL_SystemDispColorCB));
}
bool OverlayFading() {
    const DispColorWork* o = Overlay();
    return o && (o->current != o->target || o->newTarget);
}

// One path's reading: from its key (or the start) to its end frame.
struct PathWait {
    double from = -1, wall = -1;
    int frames = 0, fading = 0;
    void Mark() {
        from = WallSeconds();
        frames = fading = 0;
    }
    bool Running() const { return from >= 0 && wall < 0; }
    // After the key: a press the old screen still took is the key instead.
    // True once the path has reached its end frame.
    bool Ended(bool pressedAgain) {
        if (pressedAgain) Mark();
        return wall >= 0;
    }
    // Per frame while it runs; `reached` ends it on this frame.
    void Step(bool reached) {
        if (!Running()) return;
        ++frames;
        if (OverlayFading()) ++fading;
        if (reached) wall = WallSeconds() - from;
    }
    void Report(benchmark::State& state, const std::string& name, int own) const {
        state.counters[name + "_s"] = wall;
        state.counters[name + "_frames"] = frames;
        state.counters[name + "_own_frames"] = own;
        state.counters[name + "_fade_frames_seen"] = fading;
        state.counters[name + "_excess_s"] = wall - own / 60.0;
    }
};

bool LogoShown();

// Where a start's time goes: to its first frame (the window, the GL context,
// the engine's start-up and the first frame's drawing), then frames: the
// boot's wait for the interface font (queued at the loader behind the
// system preloads), its wait for the save task that loads (or makes) the
// system data, and the logo screen's wait for its pictures.
struct StartSplit {
    double firstFrame = -1;
    int font = 0, systemData = 0, logoLoad = 0;
    void Step(const PathWait& path) {
        if (!path.Running()) return;
        if (firstFrame < 0) firstFrame = WallSeconds() - path.from;
        if (GSL_ModeTop() == GSL_BootModeCB) {
            if (FontLoadTask >= 0) ++font;
            for (const TaskRecord* t : TaskTable.slots)
                if (t && t->callback == Lib_UtilitySaveCB) {
                    ++systemData;
                    break;
                }
        } else if (GSL_ModeTop() == GSL_LogoModeCB && !LogoShown()) {
            ++logoLoad;
        }
    }
    void Report(benchmark::State& state, const std::string& name) const {
        state.counters[name + "_first_frame_s"] = firstFrame;
        state.counters[name + "_font_frames"] = font;
        state.counters[name + "_system_data_frames"] = systemData;
        state.counters[name + "_logo_load_frames"] = logoLoad;
    }
};

bool LogoShown() {
    const ScreenWork* w = GSL_WorkGet(GSL_LogoModeCB);
    return GSL_ModeTop() == GSL_LogoModeCB && w && w->step == LOGO_STEP_PLAY;
}
// The save screen's first frame: its pictures built, its fade-in begun.
bool SaveScreenShown() {
    const ScreenWork* w = GSL_WorkGet(GSL_SaveModeCB);
    return GSL_ModeTop() == GSL_SaveModeCB && w && w->step == SLOT_STEP_BUILD && w->subState == SUBSTATE_CLOSE;
}
// The story page with the restored line's text on it.
bool StoryTextShown() {
    const TextRecord* t = GSL_ModeTop() == GSL_StoryModeCB ? MessageText() : nullptr;
    return t && t->revealed > 0 && (t->state & TEXT_STATE_DRAWN);
}
bool GalleryMainUp() {
    ScreenWork* w = GSL_WorkGet(GSL_GalleryModeCB);
    return GSL_ModeTop() == GSL_GalleryModeCB && w && !w->suspended && w->step == EXTRAS_STEP_MAIN &&
           GSL_GalleryHead(w)->moveTask < 0;
}
bool LoadAsking() {
    const ScreenWork* w = GSL_WorkGet(GSL_LoadModeCB);
    return GSL_ModeTop() == GSL_LoadModeCB && w && w->subState == SLOT_MAIN_ANSWER && DialogWaiting();
}

// The title's menu with the cursor moved to `item` and decided; true once decided.
struct TitleChoice {
    int settled = 0;
    bool Step(Input& in, int32_t item) {
        if (!TitleMenuUp()) return false;
        if (++settled < 20) return false;
        const SelectInputWork* m = TitleInput();
        if (m->cursor != item) {
            in.Button(BUTTON_DOWN);
            return false;
        }
        return in.Button(BUTTON_DECIDE);
    }
};

// The logos and the movie cut short as soon as each takes it.
bool PastLogos(Input& in) {
    if (Title()) TitleFlags |= 2;
    if ((DialogWaiting() && GSL_ModeTop() != GSL_StoryModeCB) || LogoHeld() || MoviePlaying()) {
        in.Button(BUTTON_DECIDE);
        return false;
    }
    return TitleMenuUp();
}

void BM_ScreenWaits(benchmark::State& state) {
    Scratch scratch(SampleData());
    if (scratch.dir.empty()) return state.SkipWithError("the sample could not be built");
    PathWait firstLogo, logo, save, load, gallery;
    StartSplit firstSplit, split;
    const char* failed = nullptr;
    for (auto _ : state) {
        // (a) the start to the first logo; new game; the save screen from the
        // in-game menu; a save to slot 0 to load from.
        {
            ToNewGame toGame;
            int waiting = 0, after = 0, frames = 0;
            enum { START, READING, MENU, LIST, ASKED, SAVING } phase = START;
            firstLogo.Mark();
            Run(scratch, [&](Input& in) {
                firstSplit.Step(firstLogo);
                firstLogo.Step(LogoShown());
                save.Step(SaveScreenShown());
                if (firstLogo.Running() && firstLogo.frames > 60 * 60) return false;
                switch (phase) {
                    case START:
                    case READING:
                        if (!GSL_WorkGet(GSL_StoryModeCB)) toGame.Step(in);
                        else if (StoryWaiting() && ++waiting > 60 && in.Button(kKeyMenu)) phase = MENU;
                        break;
                    case MENU:  // save, the first button; the last decide before the screen came is the key
                        if (GSL_WorkGet(GSL_SaveModeCB) || (save.Running() && OverlayFading())) {
                            phase = LIST;
                        } else if (const SelectInputWork* m = SysMenuInput()) {
                            if (m->cursor != 0) in.Button(BUTTON_UP);
                            else if (in.Button(BUTTON_DECIDE)) save.Mark();
                        }
                        break;
                    case LIST:
                        if (SaveListUp() && in.Button(BUTTON_DECIDE)) phase = ASKED;
                        break;
                    case ASKED:
                        if (SaveListUp()) in.Button(BUTTON_DECIDE);  // until the question takes it
                        if (SaveAsking() && in.Button(BUTTON_DECIDE)) phase = SAVING;
                        break;
                    case SAVING:
                        if (SaveAsking()) in.Button(BUTTON_DECIDE);
                        if (!GSL_WorkGet(GSL_SaveModeCB) && ++after > 30) return false;
                        break;
                }
                return ++frames < 60 * 180;
            }, true);
            if (phase != SAVING || after <= 30) {
                std::fprintf(stderr, "  the save run stopped in phase %d after %d frames, %d waiting\n", int(phase), frames,
                             waiting);
                failed = "the save was not made";
            }
        }
        // (b) the title's load, slot 0, its question answered: to the page's text.
        if (!failed) {
            TitleChoice choice;
            enum { TITLE, LIST, ASKED, LOADING, DONE } phase = TITLE;
            int frames = 0;
            logo.Mark();
            Run(scratch, [&](Input& in) {
                split.Step(logo);
                logo.Step(LogoShown());
                load.Step(StoryTextShown());
                if (++frames > 60 * 180) return false;
                switch (phase) {
                    case TITLE:
                        if (PastLogos(in) && choice.Step(in, TITLE_ITEM_LOAD)) phase = LIST;
                        break;
                    case LIST:
                        if (program_screens::ListUp(GSL_LoadModeCB) && in.Button(BUTTON_DECIDE)) phase = ASKED;
                        break;
                    case ASKED:
                        if (program_screens::ListUp(GSL_LoadModeCB)) in.Button(BUTTON_DECIDE);
                        if (LoadAsking() && in.Button(BUTTON_DECIDE)) {
                            load.Mark();
                            phase = LOADING;
                        }
                        break;
                    case LOADING:
                        if (load.Ended(LoadAsking() && in.Button(BUTTON_DECIDE))) phase = DONE;
                        break;
                    case DONE: return false;
                }
                return true;
            }, true);
            if (load.wall < 0) failed = "the slot was not loaded";
        }
        // (c) the gallery, its extras opened in the system data, and cancel
        // back to the title.
        if (!failed) {
            const fs::path old = fs::current_path();
            fs::current_path(scratch.dir);
            if (Store_Init()) {
                const std::string folder = "user/" + std::to_string(Store_UserId()) + "/save";
                Store_Shutdown();
                const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/save_data.py system " + folder +
                                        " --var 15=1 --var 16=1 --event 2105 --event 2158 --var 0=1 >/dev/null";
                if (std::system(cmd.c_str()) != 0) failed = "the system data could not be written";
            }
            fs::current_path(old);
        }
        if (!failed) {
            TitleChoice extras, pick;
            enum { TITLE, EXTRAS, GALLERY, LEAVING, DONE } phase = TITLE;
            int frames = 0, shown = 0;
            Run(scratch, [&](Input& in) {
                gallery.Step(GSL_ModeTop() == GSL_TitleModeCB);
                if (++frames > 60 * 180) return false;
                switch (phase) {
                    case TITLE:
                        if (PastLogos(in) && extras.Step(in, TITLE_ITEM_EXTRAS)) phase = EXTRAS;
                        break;
                    case EXTRAS:
                        if (pick.Step(in, TITLE_ITEM_GALLERY)) phase = GALLERY;
                        break;
                    case GALLERY:
                        if (GalleryMainUp() && ++shown > 30 && in.Button(BUTTON_CANCEL)) {
                            gallery.Mark();
                            phase = LEAVING;
                        }
                        break;
                    case LEAVING:
                        if (gallery.Ended(GalleryMainUp() && in.Button(BUTTON_CANCEL))) phase = DONE;
                        break;
                    case DONE: return false;
                }
                return true;
            }, true);
            if (gallery.wall < 0) failed = "the gallery was not left";
        }
    }
    if (firstLogo.wall < 0) return state.SkipWithError("no logo came");
    if (save.wall < 0) return state.SkipWithError("the save screen did not come");
    firstLogo.Report(state, "first_start_to_logo", kFirstStartOwnFrames);
    firstSplit.Report(state, "first_start_to_logo");
    save.Report(state, "menu_to_save_screen", kSaveOwnFrames);
    if (failed) return state.SkipWithError(failed);
    logo.Report(state, "start_to_logo", kStartOwnFrames);
    split.Report(state, "start_to_logo");
    load.Report(state, "slot_load_to_text", kLoadOwnFrames);
    gallery.Report(state, "gallery_to_title", kGalleryOwnFrames);
}
BENCHMARK(BM_ScreenWaits)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
