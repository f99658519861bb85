#include "tests/ui/screen_harness.h"

#include <png.h>
#include <strings.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "app/frame.h"
#include "platform/plat_gl_api.h"
#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/util.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "screens/boot.h"
#include "screens/title.h"
#include "story/config.h"
#include "story/quick_save.h"
#include "ui/utility_dialog.h"
#include "engine/movie/movie.h"
#include "engine/render/camera.h"
#include "tests/engine/core/cached_file.h"
#include "engine/render/renderer.h"
#include "engine/text/font.h"
#include "engine/text/glyph_cache.h"
#include "engine/text/text_layout.h"
#include "platform/plat_audio.h"
#include "platform/plat_window.h"
#include "tests/engine/core/worker_wait.h"
#include "tests/engine/sound/sound_env.h"
#include "ui/screen_restore.h"
#include "ui/widget.h"
#include "ui/wipe.h"

namespace {
std::atomic<uint64_t> g_now{1000000};
bool g_drawFrames = false;  // frames rasterise (DrawFrames)
uint64_t FakeClock() { return g_now.load(); }

std::mutex g_logMutex;
std::string g_log;
void LogSink(const char* line) {
    std::lock_guard<std::mutex> hold(g_logMutex);
    g_log += line;
}

std::function<void()> g_bodies[8];
template <int N>
void Dispatch() {
    if (g_bodies[N]) g_bodies[N]();
}
const ModeFunction kScreens[8] = {Dispatch<0>, Dispatch<1>, Dispatch<2>, Dispatch<3>,
                                  Dispatch<4>, Dispatch<5>, Dispatch<6>, Dispatch<7>};

TextOps g_textOps;

bool RunTool(const std::string& tool, const std::string& batch) {
    if (tool == "pack.py" || tool == "vndata.py") {
        // vndata's command line is pack.py, one command a line.
        std::istringstream lines(batch);
        for (std::string line; std::getline(lines, line);) {
            std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py " + line + " >/dev/null";
            if (std::system(cmd.c_str()) != 0) return false;
        }
        return true;
    }
    std::ofstream("batch_" + tool + ".txt") << batch;
    std::string cmd = "python3 " VN_SOURCE_DIR "/tools/" + tool + " batch batch_" + tool + ".txt >/dev/null";
    return std::system(cmd.c_str()) == 0;
}

// A digest of the sample's sources and of the tools that build it, under
// `sources`: every file's path in it and its bytes.
std::string SampleSourceDigest(const std::filesystem::path& sources) {
    namespace fs = std::filesystem;
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](const std::string& bytes) {
        for (unsigned char c : bytes) {
            h ^= c;
            h *= 1099511628211ull;
        }
    };
    for (const char* part : {"sample", "tools"}) {
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(sources / part, ec))
            if (e.is_regular_file() && e.path().string().find("__pycache__") == std::string::npos)
                files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            mix(f.lexically_relative(sources).string());
            std::ifstream in(f, std::ios::binary);
            mix(std::string(std::istreambuf_iterator<char>(in), {}));
        }
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

}  // namespace

// The sample built once per state of its sources and shared by every test
// process of this build: the first builds it under a lock, the others wait
// for it and read it.
const std::string& SampleFolder() {
    static const std::string dir = [] {
        namespace fs = std::filesystem;
        const fs::path base = fs::path(VN_BINARY_DIR) / "test_sample";
        std::error_code ec;
        fs::create_directories(base, ec);
        const fs::path d = base / SampleSourceDigest(VN_SOURCE_DIR);
        const int lock = ::open((d.string() + ".lock").c_str(), O_CREAT | O_RDWR, 0644);
        if (lock < 0) return std::string();
        ::flock(lock, LOCK_EX);
        std::string result;
        if (fs::exists(d / "built")) {
            result = d.string();
        } else {
            fs::remove_all(d, ec);
            const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/build_sample.py " + d.string() + " >/dev/null";
            if (std::system(cmd.c_str()) == 0) {
                std::ofstream(d / "built") << "ok\n";
                result = d.string();
            }
        }
        ::flock(lock, LOCK_UN);
        ::close(lock);
        return result;
    }();
    return dir;
}

namespace {
std::string Hex(const uint8_t* bytes, size_t n) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        out += two;
    }
    return out;
}

// The folder of the kept tool runs of the state of the tools and the sample
// under `sources`, in `base`; the folders of other states go when it is made.
std::filesystem::path KeptRunsFolderOf(const std::filesystem::path& sources, const std::filesystem::path& base) {
    namespace fs = std::filesystem;
    const fs::path d = base / SampleSourceDigest(sources);
    std::error_code ec;
    if (!fs::exists(d, ec)) {
        for (const auto& e : fs::directory_iterator(base, ec))
            if (e.path() != d) fs::remove_all(e.path(), ec);
        fs::create_directories(d, ec);
    }
    return d;
}

bool KeptRun(const std::filesystem::path& folder, const std::string& inputs,
             const std::vector<std::filesystem::path>& outputs, const std::function<bool()>& run) {
    namespace fs = std::filesystem;
    uint8_t digest[20];
    Lib_Sha1(inputs.data(), uint32_t(inputs.size()), digest);
    const fs::path kept = folder / Hex(digest, sizeof digest);
    std::error_code ec;
    auto copy = [&ec](const fs::path& from, const fs::path& to) {
        fs::remove_all(to, ec);
        if (to.has_parent_path()) fs::create_directories(to.parent_path(), ec);
        fs::copy(from, to, fs::copy_options::recursive, ec);
        return !ec;
    };
    if (fs::exists(kept / "done", ec)) {
        bool all = true;
        for (size_t i = 0; i < outputs.size(); ++i) all = copy(kept / std::to_string(i), outputs[i]) && all;
        if (all) return true;
    }
    if (!run()) return false;
    // Kept under a name of this process's own, then renamed: a run of another
    // process finds the whole of it or nothing.
    const fs::path part = kept.string() + ".part" + std::to_string(::getpid());
    fs::remove_all(part, ec);
    bool all = fs::create_directories(part, ec);
    for (size_t i = 0; all && i < outputs.size(); ++i) all = copy(outputs[i], part / std::to_string(i));
    if (all) std::ofstream(part / "done") << "ok\n";
    if (!all || (fs::rename(part, kept, ec), ec)) fs::remove_all(part, ec);
    return true;
}
}  // namespace

bool KeptToolRun(const std::string& inputs, const std::vector<std::filesystem::path>& outputs,
                 const std::function<bool()>& run) {
    static const std::filesystem::path folder =
        KeptRunsFolderOf(VN_SOURCE_DIR, std::filesystem::path(VN_BINARY_DIR) / "test_tool_runs");
    return KeptRun(folder, inputs, outputs, run);
}

bool KeptToolRunFrom(const std::filesystem::path& sources, const std::filesystem::path& base,
                     const std::string& inputs, const std::vector<std::filesystem::path>& outputs,
                     const std::function<bool()>& run) {
    return KeptRun(KeptRunsFolderOf(sources, base), inputs, outputs, run);
}

std::string TreeBytes(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file()) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    std::string out;
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        out += f.string() + '\n' + std::to_string(bytes.size()) + '\n' + bytes;
    }
    return out;
}

bool LinkSampleData(const std::filesystem::path& folder) {
    const std::string& sample = SampleFolder();
    if (sample.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(folder / "data", ec);
    for (const char* name : {"data_00.pcarc", "data_p00.pcarc", "data_r18.pcarc"}) {
        std::filesystem::remove(folder / "data" / name, ec);
        std::filesystem::create_symlink(std::filesystem::path(sample) / "data" / name, folder / "data" / name, ec);
        if (ec) return false;
    }
    return true;
}

namespace {
void* LoadWhole(const char* name, uint32_t* size) {
    char buf[kFileNameSize];
    std::snprintf(buf, sizeof buf, "%s", name);
    void* data = nullptr;
    if (!Lib_FileLoad(HEAP_GRAPHICS, buf, &data, size, 0x4000, false)) return nullptr;
    return data;
}
}  // namespace

void ScreenHarness::SetUp() {
    GlTest::SetUp();
    if (IsSkipped()) return;
    // The composition onto the window is drawn every frame and read by no
    // screen test (pictures are read from the frame target): a small window
    // keeps it cheap on the software renderer.
    Lib_ResizeTarget(renderer(), 320, 180);
    char tmpl[] = "/tmp/vn_screen_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    std::filesystem::create_directories("data");
    std::filesystem::create_directories("root");
    // The run-wide state as a fresh process has it.
    Main_RunStateReset();
    // The named cache as in the whole-program runs: a story picture loads
    // only while a 64 MiB block of it is free.
    const uint64_t sizes[HEAP_COUNT] = {16 * kMiB, 64 * kMiB, 24 * kMiB, 160 * kMiB, 96 * kMiB};
    ASSERT_TRUE(Lib_MemInit(sizes));
    ASSERT_TRUE(Lib_TaskInit());
    for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
    FileLoadTable.pending = 0;
    for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);
    Lib_TextTableClear();
    Lib_CameraReset(&ActiveCamera);

    g_now = 1000000;
    g_drawFrames = false;
    Lib_TimerSetClock(FakeClock);
    Lib_TextOpsSet(nullptr);
    g_textOps = Lib_TextOps();
    g_textOps.nowUs = FakeClock;
    Lib_TextOpsSet(&g_textOps);

    sound_test::FakeAudio::Get().Reset();
    Plat_AudioSetBackend(&sound_test::kFakeBackend);
    Lib_SoundSetClock(FakeClock);
    Lib_SoundReset();
    Lib_MovieInit();
    SystemIni ini = Main_SystemIniGet();
    ini.width = 1280;
    ini.height = 720;
    Main_SystemIniSet(ini);
    Lib_InputInit();
    input_ = Plat_InputIdle();
    input_.focus = 1;
    ApplyInput();

    Main_ScreenCallsSet();
    for (auto& b : g_bodies) b = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_logMutex);
        g_log.clear();
    }
    Lib_DebugSetSink(LogSink);
    objects_ = SpriteLiveObjects;
    heap0Blocks_ = HeapTable.heaps[HEAP_GENERAL].usedCount;
}

void ScreenHarness::TearDown() {
    if (dir_.empty()) {
        GlTest::TearDown();
        return;
    }
    // Through the real calls first.
    GSL_WorkDeleteAll();
    if (full_)
        Main_InitEnd();
    else
        GSL_SystemWidgetsEnd();  // system widgets a screen left running
    Lib_TaskPass(true);  // removes the tasks deleted during a pass
    // Then what the harness itself started: the main tasks.
    for (int32_t slot = 2; slot < kTaskSlots; ++slot) {
        TaskRecord* t = TaskTable.slots[slot];
        if (!t) continue;
        bool own = t->group == 402 || t->callback == Main_InputCB;
        EXPECT_TRUE(own) << "task left in slot " << slot << " (group " << t->group << ")";
        Lib_TaskDel(uint32_t(slot));
    }
    int sprites = 0, texts = 0, requests = 0;
    for (const SpriteRecord& s : SpriteTable) sprites += (s.flags & SPRITE_IN_USE) ? 1 : 0;
    for (TextRecord* t : TextTable) texts += t ? 1 : 0;
    for (const FileLoadRequest& r : FileLoadTable.slots) requests += r.flags & 1;
    EXPECT_EQ(sprites, 0) << "sprites left behind";
    EXPECT_EQ(texts, 0) << "texts left behind";
    EXPECT_EQ(requests, 0) << "file-load slots left behind";
    EXPECT_EQ(HeapTable.heaps[HEAP_SCREEN].usedCount, 0u) << "screen-heap blocks left behind";
    for (ScreenWork* w : ScreenWorkTable) EXPECT_EQ(w, nullptr);
    for (ModeFunction m : ModeStack) EXPECT_EQ(m, nullptr);

    // Clean up whatever a failed test left, so that the next one starts clean.
    Main_RunStateReset();
    for (int32_t i = 0; i < kTextSlots; ++i) {
        if (TextTable[i]) TextTable[i]->state &= uint8_t(~TEXT_STATE_PROTECTED);
        Lib_TextDel(i);
    }
    for (int32_t i = 0; i < kSpriteSlots; ++i) {
        SpriteTable[i].flags |= SPRITE_FAILED;
        Lib_SpriteFree(i);
    }
    if (fonts_ && TextRenderState.ready) {
        Lib_TextDrawRelease();
        Lib_FontEnd();
    }
    Lib_MesFree();
    Lib_MesSystemFree();
    EXPECT_EQ(SpriteLiveObjects, objects_) << "GL objects left behind";
    EXPECT_EQ(HeapTable.heaps[HEAP_GENERAL].usedCount, heap0Blocks_) << "heap-0 blocks left behind";
    Lib_SoundShutdownChannels();
    Lib_SoundReset();  // channels a test set by hand (a voice "still sounding") stop too
    Plat_AudioSetBackend(nullptr);
    Lib_SoundSetClock(nullptr);
    Lib_TimerSetClock(nullptr);
    Lib_TextOpsSet(nullptr);
    Lib_DebugSetSink(nullptr);
    Lib_InputEnd();
    for (int32_t i = 0; i < kFileLoadSlots; ++i) Lib_FileLoadEnd(i);
    Lib_PcArcClose();
    Lib_CashReset();
    Lib_MemRelease();
    for (auto& b : g_bodies) b = nullptr;
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
    GlTest::TearDown();
}

// --- data -----------------------------------------------------------------------

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

bool ScreenHarness::Files(std::initializer_list<DataFile> files) {
    // What the writers read: the files under root/ so far and the new ones.
    std::string inputs = "files\n" + TreeBytes("root");
    for (const DataFile& f : files)
        for (const std::string* part : {&f.path, &f.bytes, &f.tool, &f.command})
            inputs += std::to_string(part->size()) + '\n' + *part;
    Lib_PcArcClose();
    const bool built = KeptToolRun(inputs, {"root", "data/data_00.pcarc"}, [&files] { return WriteFiles(files); });
    Lib_PcArcOpen();
    return built && Lib_PcArcExists(0);
}

bool ScreenHarness::WriteFiles(std::initializer_list<DataFile> files) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> batches;
    for (const DataFile& f : files) {
        fs::path p = fs::path("root") / f.path;
        fs::create_directories(p.parent_path());
        if (f.tool.empty()) {
            std::ofstream(p, std::ios::binary) << f.bytes;
            continue;
        }
        std::string line = f.command;
        for (size_t at; (at = line.find("{}")) != std::string::npos;) line.replace(at, 2, p.string());
        batches[f.tool] += line + "\n";
    }
    // Pictures and sounds first: containers and tables may hold them.
    for (const char* tool : {"image_data.py", "sound_data.py", "vndata.py", "pack.py"})
        if (batches.count(tool) && !RunTool(tool, batches[tool])) return false;
    return std::system("python3 " VN_SOURCE_DIR "/tools/pack.py pcarc data/data_00.pcarc root >/dev/null") == 0;
}

bool ScreenHarness::AllAgesSampleData() {
    if (!SampleData()) return false;
    Lib_PcArcClose();
    std::filesystem::remove("data/data_r18.pcarc");
    Lib_PcArcOpen();
    return !Lib_PcArcExists(2);
}

bool ScreenHarness::SampleData() {
    Lib_PcArcClose();
    if (!LinkSampleData(".")) return false;
    Lib_PcArcOpen();
    return Lib_PcArcExists(0);
}

bool ScreenHarness::CacheArcWithout(const char* arc, const char* member) {
    char path[kFileNameSize];
    std::snprintf(path, sizeof path, "%s", arc);
    void* data = nullptr;
    uint32_t size = 0;
    if (!Lib_FileLoad(HEAP_GRAPHICS, path, &data, &size, 16, false)) return false;
    std::string bytes(static_cast<const char*>(data), size);
    Lib_MemFree(HEAP_GRAPHICS, data);
    // u32 0, u32 n, then n entries of a 64-byte name, the size and the offset.
    constexpr size_t kEntry = 72;
    uint32_t n = 0;
    if (bytes.size() >= 8) std::memcpy(&n, bytes.data() + 4, 4);
    for (size_t i = 0; i < n && 8 + (i + 1) * kEntry <= bytes.size(); ++i) {
        const size_t at = 8 + i * kEntry;
        if (std::strncmp(bytes.data() + at, member, 64) != 0) continue;
        bytes.erase(at, kEntry);
        bytes.insert(8 + (n - 1) * kEntry, kEntry, '\0');
        --n;
        std::memcpy(bytes.data() + 4, &n, 4);
        return CachedFilePut(arc, bytes);
    }
    return false;
}

void ScreenHarness::Messages() {
    Lib_MesSystemLoad();
    Lib_MesLoad();
}

bool ScreenHarness::Fonts(int language) {
    if (language < 0 || language > 3 || !Lib_FontInit()) return false;
    fonts_ = true;
    char main[32], alt[32];
    std::snprintf(main, sizeof main, "font/font_%02d.ttf", language);
    std::snprintf(alt, sizeof alt, "font/font_%02d.ttf", 10 + language);
    const char* const names[3] = {main, "font/font_add_00.ext", alt};
    for (int i = 0; i < 3; ++i) {
        uint32_t size = 0;
        void* data = LoadWhole(names[i], &size);
        if (!data) return false;
        TextRenderState.images[i] = data;
        TextRenderState.sizes[i] = size;
    }
    Lib_FontCreate(TextRenderState.images[0], TextRenderState.sizes[0]);
    return true;
}

// --- frames ---------------------------------------------------------------------

void ScreenHarness::StartFull() {
    full_ = true;
    Main_Init();
}

void ScreenHarness::StartMinimal() {
    Lib_TaskSet("Main_InputCB", Main_InputCB, 10000, 401, 0);
    Lib_TaskSet("Main_ModeCB", Main_ModeCB, 20000, 402, 0);
}

void ScreenHarness::DrawFrames(bool on) {
    // Frames run without rasterising left the frame target behind the
    // picture the frame driver believes it holds: the next one is drawn whole.
    if (on && !g_drawFrames) Lib_RenderTouch();
    g_drawFrames = on;
}

void ScreenHarness::Frame(int n) {
    if (!g_drawFrames) glEnable(GL_RASTERIZER_DISCARD);
    for (int k = 0; k < n; ++k) {
        for (int i = 0; i < loaderPasses; ++i) Lib_FileLoadCB(nullptr);
        Lib_SoundWorkPass();
        Lib_TaskPass(true);
        Lib_TaskPass(false);
        g_now += kFrameUs;
    }
    glDisable(GL_RASTERIZER_DISCARD);
}

bool ScreenHarness::FailLoad(const char* name) {
    std::lock_guard<std::mutex> lock(FileLoadTable.mutex);
    for (FileLoadRequest& r : FileLoadTable.slots) {
        if (!(r.flags.load() & 1) || r.state.load() != 0 || strcasecmp(r.name, name) != 0) continue;
        r.state.store(-1, std::memory_order_release);
        FileLoadTable.pending.fetch_sub(1);
        return true;
    }
    return false;
}

bool ScreenHarness::FramesUntil(const std::function<bool()>& pred, int limit, const char* what) {
    for (int i = 0; i < limit; ++i) {
        if (pred()) return true;
        Frame();
    }
    if (pred()) return true;
    ADD_FAILURE() << what << " not reached within " << limit << " frames";
    return false;
}

bool ScreenHarness::FramesUntilWorker(const std::function<bool()>& pred, const char* what) {
    return WorkerUntil(pred, [this] { Frame(); }, what) >= 0;
}

uint64_t ScreenHarness::Now() { return g_now.load(); }
void ScreenHarness::ClockAdvance(uint64_t us) { g_now += us; }

// --- screens --------------------------------------------------------------------

ModeFunction ScreenHarness::TestScreen(int n) { return kScreens[n & 7]; }
void ScreenHarness::SetBody(int n, std::function<void()> body) { g_bodies[n & 7] = std::move(body); }

void ScreenHarness::Push(ModeFunction screen) {
    int n = GSL_ModeCount();
    if (n < kModeStackSize) ModeStack[n] = screen;
}

void ScreenHarness::Register(ScreenId id, ModeFunction screen) {
    ModeFunction screens[SCREEN_COUNT];
    for (uint32_t i = 0; i < SCREEN_COUNT; ++i) screens[i] = GSL_ScreenOf(ScreenId(i));
    screens[id] = screen;
    GSL_ScreensSet(screens);
}

ScreenWork* ScreenHarness::MakeContext(ModeFunction screen) {
    Push(screen);
    GSL_WorkCreate();
    return GSL_WorkGet(screen);
}

// --- input ----------------------------------------------------------------------

void ScreenHarness::ApplyInput() { Plat_InputInject(input_); }

void ScreenHarness::Hold(uint32_t bits) {
    for (uint32_t bit = 1; bit; bit <<= 1)
        if ((bits & bit) && Lib_InputKeyCode(0, bit, 0)) input_.keys[Lib_InputKeyCode(0, bit, 0) & 0xFF] = kPlatDown;
    ApplyInput();
}

void ScreenHarness::Release(uint32_t bits) {
    for (uint32_t bit = 1; bit; bit <<= 1)
        if ((bits & bit) && Lib_InputKeyCode(0, bit, 0)) input_.keys[Lib_InputKeyCode(0, bit, 0) & 0xFF] = 0;
    ApplyInput();
}

void ScreenHarness::Pointer(int32_t x, int32_t y) {
    input_.mouseX = x;
    input_.mouseY = y;
    ApplyInput();
}

void ScreenHarness::Left(bool down) {
    input_.mouseButtons[0] = down ? kPlatDown : 0;
    ApplyInput();
}

void ScreenHarness::Middle(bool down) {
    input_.mouseButtons[2] = down ? kPlatDown : 0;
    ApplyInput();
}

void ScreenHarness::Right(bool down) {
    input_.mouseButtons[1] = down ? kPlatDown : 0;
    ApplyInput();
}

void ScreenHarness::Click(int32_t x, int32_t y) {
    Pointer(x, y);
    Left(true);
    Frame();
    Left(false);
    Frame();
}

void ScreenHarness::Drag(std::pair<int32_t, int32_t> from, std::pair<int32_t, int32_t> to, int frames) {
    Pointer(from.first, from.second);
    Left(true);
    Frame();
    for (int i = 1; i <= frames; ++i) {
        Pointer(from.first + (to.first - from.first) * i / frames, from.second + (to.second - from.second) * i / frames);
        Frame();
    }
    Left(false);
    Frame();
}

// --- reading --------------------------------------------------------------------

SpriteRecord* ScreenHarness::Layer(ModeFunction screen, uint32_t n) {
    const ScreenWork* w = GSL_WorkGet(screen);
    if (!w || n >= uint32_t(kScreenLayers)) return nullptr;
    int32_t h = w->layers[n].handle;
    return Lib_SpriteIsLive(h) ? &SpriteTable[h] : nullptr;
}

TextRecord* ScreenHarness::Text(ModeFunction screen, uint32_t n) {
    const ScreenWork* w = GSL_WorkGet(screen);
    if (!w || n >= uint32_t(kScreenTexts)) return nullptr;
    int32_t h = w->texts[n].handle;
    return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
}

SoundChannel* ScreenHarness::Channel(ModeFunction screen, uint32_t n) {
    const ScreenWork* w = GSL_WorkGet(screen);
    if (!w || n >= uint32_t(kScreenSounds)) return nullptr;
    int32_t h = w->sounds[n].handle;
    return h >= 0 && h < kSoundChannels ? &SoundChannelTable[h] : nullptr;
}

std::vector<int32_t> ScreenHarness::Tasks(TaskCallback callback) {
    std::vector<int32_t> out;
    for (int32_t i = 0; i < kTaskSlots; ++i)
        if (TaskTable.slots[i] && TaskTable.slots[i]->callback == callback) out.push_back(i);
    return out;
}

std::string ScreenHarness::NoticeText() {
    for (int32_t slot : Tasks(Lib_UtilityCB)) {
        const auto* d = static_cast<const UtilityDialogWork*>(Lib_UtilityWorkGet(slot));
        if (!d || d->state != 10 || d->texts[0] < 0 || d->texts[0] >= int32_t(kTextSlots)) continue;
        if (const TextRecord* t = TextTable[d->texts[0]]) return t->text;
    }
    return "";
}

int ScreenHarness::TaskCount(uint16_t group) {
    int n = 0;
    for (int32_t i = 2; i < kTaskSlots; ++i) n += TaskTable.slots[i] && TaskTable.slots[i]->group == group ? 1 : 0;
    return n;
}

std::vector<std::pair<DrawCallback, int32_t>> ScreenHarness::DrawOrder() {
    std::vector<std::pair<DrawCallback, int32_t>> out;
    for (int32_t i = kDrawHead; i >= 0 && out.size() < size_t(kDrawEntries); i = DrawList.entries[i].next)
        out.emplace_back(DrawList.entries[i].callback, DrawList.entries[i].priority);
    return out;
}

std::string ScreenHarness::Log() {
    std::lock_guard<std::mutex> hold(g_logMutex);
    std::string out;
    out.swap(g_log);
    return out;
}

// --- pictures -------------------------------------------------------------------

Image ScreenHarness::Render() {
    const bool discarding = glIsEnabled(GL_RASTERIZER_DISCARD);
    glDisable(GL_RASTERIZER_DISCARD);
    Lib_FrameBind(renderer());
    ClearFrame(0, 0, 0, 0);
    Lib_DrawWalk();
    Image frame = ReadFrame();
    if (discarding) glEnable(GL_RASTERIZER_DISCARD);
    return frame;
}

namespace {
// The cropped part of a frame as opaque BGRA rows.
std::vector<uint8_t> Opaque(const Image& img, const Crop& crop) {
    std::vector<uint8_t> bytes(size_t(crop.w) * crop.h * 4);
    for (int32_t y = 0; y < crop.h; ++y)
        for (int32_t x = 0; x < crop.w; ++x) {
            const Bgra p = img.at(uint32_t(crop.x + x), uint32_t(crop.y + y));
            uint8_t* o = &bytes[(size_t(y) * crop.w + x) * 4];
            o[0] = p.b, o[1] = p.g, o[2] = p.r, o[3] = 255;
        }
    return bytes;
}

bool WritePng(const std::string& path, const Crop& crop, const std::vector<uint8_t>& bytes) {
    png_image out{};
    out.version = PNG_IMAGE_VERSION;
    out.width = uint32_t(crop.w), out.height = uint32_t(crop.h), out.format = PNG_FORMAT_BGRA;
    return png_image_write_to_file(&out, path.c_str(), 0, bytes.data(), 0, nullptr) != 0;
}
}  // namespace

::testing::AssertionResult ScreenHarness::MatchesReference(const char* name, Crop crop) {
    const std::vector<uint8_t> got = Opaque(Render(), crop);
    const std::string path = std::string(VN_SOURCE_DIR "/tests/data/") + name + ".png";
    if (!std::filesystem::exists(path) || std::getenv("VN_WRITE_REFERENCE")) {
        WritePng(path, crop, got);
        return ::testing::AssertionFailure() << "reference written to " << path << ": look at it, then run again";
    }
    png_image ref{};
    ref.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&ref, path.c_str())) return ::testing::AssertionFailure() << "unreadable " << path;
    ref.format = PNG_FORMAT_BGRA;
    if (ref.width != uint32_t(crop.w) || ref.height != uint32_t(crop.h)) {
        png_image_free(&ref);
        return ::testing::AssertionFailure() << "reference size differs";
    }
    std::vector<uint8_t> want(PNG_IMAGE_SIZE(ref));
    png_image_finish_read(&ref, nullptr, want.data(), 0, nullptr);
    size_t off = 0;
    for (size_t i = 0; i < got.size(); i += 4) {
        int d = 0;
        for (int c = 0; c < 3; ++c) d = std::max(d, std::abs(int(got[i + c]) - int(want[i + c])));
        if (d > 24) ++off;
    }
    if (off * 500 >= got.size() / 4) {
        const std::string seen = ::testing::TempDir() + name + "_seen.png";
        WritePng(seen, crop, got);
        return ::testing::AssertionFailure() << off << " pixels differ from " << name << " (the frame seen: " << seen
                                             << ")";
    }
    return ::testing::AssertionSuccess();
}

bool ScreenHarness::WritePicture(const std::string& path) {
    const Crop whole{};
    return WritePng(path, whole, Opaque(Render(), whole));
}

// --- the whole program ----------------------------------------------------------

namespace {
// Heap 1 holds the save image, its mirror and the compressor's buffer. The
// story's pictures load only while the named cache has a 64 MiB block free.
const uint64_t kProgramHeaps[HEAP_COUNT] = {8u << 20, 48u << 20, 2u << 20, 160u << 20, 96u << 20};
std::vector<ProgramRun::Step>* g_steps = nullptr;
size_t g_step = 0;
int g_stepFrames = 0;
std::optional<WorkerWait> g_stepWait;  // the wait of a step marked worker
ProgramRun* g_run = nullptr;
bool g_quitPosted = false;
// The program's frame clock: the timers and the text reveals read it, and it
// moves on by one frame period at the end of each frame, so that what a
// frame shows depends on how many frames ran, never on the machine's load.
std::atomic<uint64_t> g_programNow{1000000};
uint64_t ProgramClock() { return g_programNow.load(); }

// The first run's start-up notice (no system data yet) waits for the
// player: the decide key confirms it, then is released.
bool ConfirmBootNotice() {
    static bool pressed = false;
    PlatInputState in = Plat_InputIdle();
    in.focus = 1;
    if (pressed) {
        pressed = false;
        Plat_InputInject(in);
        return true;
    }
    if (ModeStack[0] != GSL_BootModeCB) return false;
    for (int32_t slot : ScreenHarness::Tasks(Lib_UtilityCB)) {
        auto* d = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(slot));
        if (!d || d->state != DIALOG_WAITING) continue;
        in.keys[Lib_InputKeyCode(0, BUTTON_DECIDE, 0) & 0xFF] = kPlatDown;
        Plat_InputInject(in);
        pressed = true;
        return true;
    }
    return false;
}

void ProgramHook() {
    ++g_run->frames;
    g_programNow += FramePeriodUs;
    if (!g_drawFrames) glEnable(GL_RASTERIZER_DISCARD);
    if (g_quitPosted) return;
    if (ConfirmBootNotice()) return;
    while (g_step < g_steps->size()) {
        ProgramRun::Step& s = (*g_steps)[g_step];
        if (s.until && !s.until()) {
            if (s.worker) {
                if (!g_stepWait) g_stepWait.emplace(s.label);
                if (g_stepWait->Going()) return;
                g_run->failed = s.label;
                break;
            }
            if (++g_stepFrames > s.limit) {
                g_run->failed = s.label;
                break;
            }
            return;
        }
        if (s.input) {
            PlatInputState in = Plat_InputIdle();
            in.focus = 1;
            s.input(in);
            Plat_InputInject(in);
        }
        ++g_step;
        g_stepFrames = 0;
        g_stepWait.reset();
        if (s.input) return;  // one input a frame
    }
    g_quitPosted = true;
    Plat_PostQuit();
}
}  // namespace

int ProgramRun::Run(std::vector<Step> steps) {
    char tmpl[] = "/tmp/vn_program_XXXXXX";
    if (!::mkdtemp(tmpl)) return -1;
    std::filesystem::path dir = tmpl, old = std::filesystem::current_path();
    if (!LinkSampleData(dir)) {
        failed = "the sample could not be built";
        std::filesystem::remove_all(dir);
        return -1;
    }
    std::filesystem::current_path(dir);
    std::error_code ec;
    if (!userFiles.empty() && std::filesystem::exists(userFiles / "user"))
        std::filesystem::copy(userFiles / "user", "user", std::filesystem::copy_options::recursive, ec);
    if (before) before();
    g_steps = &steps;
    g_step = 0;
    g_stepFrames = 0;
    g_stepWait.reset();
    g_run = this;
    g_quitPosted = false;
    MainHeapSizes = heaps ? heaps : kProgramHeaps;
    MainTestHook = ProgramHook;
    g_programNow = 1000000;
    Lib_TimerSetClock(ProgramClock);
    TextOps clock{};
    clock.nowUs = ProgramClock;
    Lib_TextOpsSet(&clock);
    int code = WinMain();
    // As before any program ran: a run that ended in full screen would
    // otherwise map a later test's pointer through the letterbox.
    Main_RunStateReset();
    Lib_TextOpsSet(nullptr);
    Lib_TimerSetClock(nullptr);
    MainTestHook = nullptr;
    MainHeapSizes = kHeapDefaultSizes;
    g_drawFrames = false;
    const bool closedAtTheEnd = lastStepCloses && g_step + 1 == steps.size();
    if (!g_quitPosted && failed.empty() && !closedAtTheEnd) failed = "the program ended before its steps";
    if (after) after();
    if (!userFiles.empty()) {
        std::filesystem::remove_all(userFiles / "user", ec);
        std::filesystem::create_directories(userFiles, ec);
        if (std::filesystem::exists("user"))
            std::filesystem::copy("user", userFiles / "user", std::filesystem::copy_options::recursive, ec);
    }
    g_steps = nullptr;
    g_run = nullptr;
    std::filesystem::current_path(old);
    std::filesystem::remove_all(dir);
    return code;
}
