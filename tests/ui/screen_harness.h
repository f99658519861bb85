// The headless screen harness: drives screens through the real frame tasks,
// deterministically. One fake microsecond clock serves the stopwatch, the
// sound channels and the texts; the loader and the sound worker run by hand,
// once a frame; input is injected into the platform's snapshot and read by
// the real input task. Every screen test of the game's subsystems uses it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/task.h"
#include "engine/render/draw_list.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "platform/plat_input.h"
#include "tests/engine/render/gl_fixture.h"
#include "ui/mode.h"

// One file of the scratch data root: bytes written as they are, or a line of
// one of the project's writers ("{}" stands for the file's path; for
// "vndata.py" the line is a tools/pack.py command, run after the others).
struct DataFile {
    std::string path;  // engine path, under root/
    std::string bytes;
    std::string tool;  // "image_data.py", "sound_data.py" or "vndata.py"; empty: bytes
    std::string command;
};
inline DataFile Bytes(std::string path, std::string bytes) { return {std::move(path), std::move(bytes), {}, {}}; }
inline DataFile Tool(std::string tool, std::string path, std::string command) {
    return {std::move(path), {}, std::move(tool), std::move(command)};
}

// The bytes of a file (empty when it cannot be read).
std::string FileBytes(const std::string& path);

struct Crop {
    int32_t x = 0, y = 0, w = 1280, h = 720;
};

class ScreenHarness : public GlTest {
protected:
    static constexpr uint64_t kMiB = 1024 * 1024;
    static constexpr uint64_t kFrameUs = 16666;
    void SetUp() override;
    void TearDown() override;

public:
    // --- data ---------------------------------------------------------------
    // Writes the files under root/, packs root/ into data/data_00.pcarc and
    // opens it.
    // The same writers' work is kept by what they were given (KeptToolRun).
    static bool Files(std::initializer_list<DataFile> files);
    // The sample game's archives (built once a process), opened: the R18
    // edition (base, patch and R18 archives).
    static bool SampleData();
    // The same without its R18 archive: the all-ages edition.
    static bool AllAgesSampleData();
    // Caches the container `arc`, as the open archives hold it, without its
    // member `member`, in place of theirs: the member's entry leaves the
    // table and the data stays. False when either is not found.
    static bool CacheArcWithout(const char* arc, const char* member);
    // The three message tables.
    static void Messages();
    // The text renderer with the sample's faces of a language (needs SampleData()).
    bool Fonts(int language = 1);

    // --- frames -------------------------------------------------------------
    // Main_Init: the six main tasks, the overlay and the preloads.
    void StartFull();
    // Only Main_InputCB and Main_ModeCB.
    void StartMinimal();
    // Per frame: loader passes, one sound-worker pass, the between-frames
    // pass and the frame pass; then the clock moves on by one frame.
    // Frames (here and in ProgramRun) run with rasterisation off: every task
    // and draw callback runs and every GL call is made, but the software
    // renderer shades no pixel, which is most of a test's time. Render() and
    // MatchesReference() draw for real. A test whose picture holds what a
    // frame drew into a texture (a wipe's captured scene, a page drawn once
    // into a sprite) calls DrawFrames(true) first; each test starts with it off.
    void Frame(int n = 1);
    static void DrawFrames(bool on);
    int loaderPasses = 1;
    // Fails the pending load request of that name.
    static bool FailLoad(const char* name);
    // Runs frames until pred holds; fails the test at the limit.
    bool FramesUntil(const std::function<bool()>& pred, int limit, const char* what = "condition");
    // Runs frames until pred holds where it waits for a worker thread (the
    // save writer works in real time): no number of frames, only
    // WorkerUntil's deadline, which a hang alone reaches.
    bool FramesUntilWorker(const std::function<bool()>& pred, const char* what = "the worker's result");
    static uint64_t Now();
    // Moves the fake clock on inside a frame (work that takes time).
    static void ClockAdvance(uint64_t us);

    // --- screens ------------------------------------------------------------
    // TestScreen(n), n 0..7: a dispatcher that calls the test's body.
    static ModeFunction TestScreen(int n);
    static void SetBody(int n, std::function<void()> body);
    static void Push(ModeFunction screen);  // direct, nothing suspended
    static ScreenWork* MakeContext(ModeFunction screen);
    // Registers `screen` as screen `id` (null: none), the others kept; SetUp
    // registers the program's own.
    static void Register(ScreenId id, ModeFunction screen);

    // --- input (for the next frame) ----------------------------------------
    void Hold(uint32_t bits);
    void Release(uint32_t bits);
    void Pointer(int32_t x, int32_t y);
    void Left(bool down);
    void Right(bool down);
    void Middle(bool down);
    void Click(int32_t x, int32_t y);
    void Drag(std::pair<int32_t, int32_t> from, std::pair<int32_t, int32_t> to, int frames);

    // --- reading ------------------------------------------------------------
    static SpriteRecord* Layer(ModeFunction screen, uint32_t n);
    static TextRecord* Text(ModeFunction screen, uint32_t n);
    static SoundChannel* Channel(ModeFunction screen, uint32_t n);
    static std::vector<int32_t> Tasks(TaskCallback callback);
    static int TaskCount(uint16_t group);
    static std::vector<std::pair<DrawCallback, int32_t>> DrawOrder();
    static std::string Log();
    // The text of the dialog that waits for its answer ("" when none).
    static std::string NoticeText();

    // --- pictures -----------------------------------------------------------
    static Image Render();
    // Compares with tests/data/<name>.png (at most a 24-level difference on
    // under 0.2% of the pixels); writes it when missing or VN_WRITE_REFERENCE.
    static ::testing::AssertionResult MatchesReference(const char* name, Crop crop = {});
    // Draws the frame and writes it as an opaque 1280x720 PNG.
    static bool WritePicture(const std::string& path);

private:
    static bool WriteFiles(std::initializer_list<DataFile> files);
    void ApplyInput();
    PlatInputState input_{};
    bool full_ = false;
    bool fonts_ = false;
    int32_t objects_ = 0;
    uint64_t heap0Blocks_ = 0;
    std::filesystem::path dir_, old_;
};

// The sample game's archives, built once per state of its sources and shared
// by every test process of the build (empty when it cannot be built), and
// links to them in folder/data/ for a test that runs the program itself.
const std::string& SampleFolder();

// A run of the project's tools that writes `outputs` (files or folders,
// under the current folder) from `inputs` (every byte the run reads, but
// the tools' and the sample's sources) alone. The outputs of a run that
// held are kept in the build folder by a digest of both, and every later run
// with the same inputs, in any test process, copies them instead of starting
// Python. False when `run` fails.
bool KeptToolRun(const std::string& inputs, const std::vector<std::filesystem::path>& outputs,
                 const std::function<bool()>& run);
// The same with the tools' and the sample's sources read under `sources`
// and the runs kept in `base` (KeptToolRun: the source tree's and the build
// folder's test_tool_runs).
bool KeptToolRunFrom(const std::filesystem::path& sources, const std::filesystem::path& base,
                     const std::string& inputs, const std::vector<std::filesystem::path>& outputs,
                     const std::function<bool()>& run);
// The paths and bytes of every file under `root`, as one string (a part of
// a kept run's inputs).
std::string TreeBytes(const std::filesystem::path& root);
bool LinkSampleData(const std::filesystem::path& folder);

// The whole program on the sample: WinMain with small heaps, in a scratch
// folder. The steps run on the game thread at the end of each frame (through
// MainTestHook); each waits until its condition holds, then injects its input
// for the next frame. The test thread reads only what the steps recorded.
// The timers and the text reveals run on a frame clock (one frame period a
// frame): a step that waits a number of frames sees the same screen on any
// machine. Frames are still paced by the real clock, and sounds, movies and
// file loads take their real time.
class ProgramRun {
public:
    struct Step {
        const char* label;
        std::function<bool()> until;  // game thread; null: at once
        std::function<void(PlatInputState&)> input;  // applied once the step holds
        int limit = 600;  // frames
        // The step waits for what a thread does in real time (the save
        // writer, the file loader): no frame limit, but WorkerWait's
        // deadline, its frames the passes between looks.
        bool worker = false;
    };
    // Runs the steps, then quits. Returns WinMain's code; `failed` names the
    // first step that did not hold in time.
    int Run(std::vector<Step> steps);
    // Runs in the scratch folder before the program starts (user files).
    std::function<void()> before;
    // Runs in the scratch folder after the program ended, before the folder
    // goes (to keep what the program left, e.g. user/).
    std::function<void()> after;
    // When set: the user files (user/) are copied from this folder before
    // the program starts (when there are any) and back into it, replacing
    // what it held, once the program ended; a run starts where another left.
    std::filesystem::path userFiles;
    // The heaps' sizes for WinMain (null: the harness's small heaps).
    const uint64_t* heaps = nullptr;
    // The last step ends the program itself (a confirmed close): no quit is
    // posted for it, and the program ending while it waits is no failure.
    bool lastStepCloses = false;
    std::string failed;
    int frames = 0;
};
