// The whole program as a benchmark runs it: WinMain in a scratch folder on
// the sample's archives (or on a variant whose opening scenario is replaced),
// with a driver called on the game thread at the end of every frame (through
// MainTestHook) that reads the screens and presses keys for the next frame.
// Also the CPU and memory readings the program benchmarks share.
#pragma once

#include <dirent.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/frame.h"
#include "app/main_tasks.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "platform/plat_gl_api.h"
#include "platform/plat_input.h"
#include "platform/plat_window.h"
#include "screens/logo.h"
#include "screens/slot_list.h"
#include "screens/system_screens.h"
#include "screens/title.h"
#include "screens/title_work.h"
#include "script/message.h"
#include "script/script_state.h"
#include "script/script_task.h"
#include "story/story_screen.h"
#include "story/sys_menu.h"
#include "story/system_save.h"
#include "tests/program/program_screens.h"
#include "ui/mode.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/utility_dialog.h"

namespace program_bench {

using program_screens::LogoHeld;
using program_screens::StoryWaiting;
using program_screens::Title;
using program_screens::TitleInput;
using program_screens::TitleMenuUp;

namespace fs = std::filesystem;

// --- readings -------------------------------------------------------------------

// CPU time of the calling thread, microseconds.
inline double ThreadCpuUs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

// CPU time of the whole process (every thread), seconds.
inline double ProcessCpuSeconds() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

inline double WallSeconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Clock ticks (user + system) used by the threads named `name`, or -1.
inline long ThreadTicks(const char* name) {
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return -1;
    long ticks = -1;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::string base = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(base + "/comm"), comm);
        if (comm != name) continue;
        std::string stat;
        std::getline(std::ifstream(base + "/stat"), stat);
        // Fields after the closing parenthesis of the name: utime is the 14th field.
        const char* p = std::strrchr(stat.c_str(), ')');
        long utime = 0, stime = 0;
        if (p && std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime) == 2)
            ticks = (ticks < 0 ? 0 : ticks) + utime + stime;
    }
    closedir(dir);
    return ticks;
}

// CPU seconds of every thread of the process by name (threads of one name summed).
inline std::map<std::string, double> ThreadSeconds() {
    std::map<std::string, double> out;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return out;
    const double hz = double(sysconf(_SC_CLK_TCK));
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::string base = std::string("/proc/self/task/") + e->d_name, comm, stat;
        std::getline(std::ifstream(base + "/comm"), comm);
        std::getline(std::ifstream(base + "/stat"), stat);
        const char* p = std::strrchr(stat.c_str(), ')');
        long utime = 0, stime = 0;
        if (p && std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime) == 2)
            out[comm] += double(utime + stime) / hz;
    }
    closedir(dir);
    return out;
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
inline long StatusKib(const char* field) {
    std::ifstream f("/proc/self/status");
    const size_t n = std::strlen(field);
    for (std::string line; std::getline(f, line);)
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
    return -1;
}

// Resident memory and where it lies, in MiB: the whole process; its
// file-backed pages (mostly the mapped libraries: Mesa, LLVM, SDL...) and its
// anonymous ones; of those, the engine heaps' resident pages (heap 3 is the
// named file cache, heap 4 the pictures), malloc's blocks in use (Mesa's own
// copies of the textures among them, and the libraries' data), and two shares
// of the heaps: the resident picture copies sprites keep beside their textures
// (heap 4) and the pixels of every sprite texture (what Mesa keeps for them).
struct MemorySplit {
    double rss = 0, file = 0, anon = 0, heapResident[HEAP_COUNT] = {}, heapsResident = 0, mallocUsed = 0,
           spriteCopies = 0, spriteTextures = 0;
    void Add(std::map<std::string, double>& out, const std::string& prefix) const {
        out[prefix + "rss_mib"] = rss;
        out[prefix + "rss_file_mib"] = file;
        out[prefix + "rss_anon_mib"] = anon;
        out[prefix + "heaps_resident_mib"] = heapsResident;
        for (int h = 0; h < HEAP_COUNT; ++h) out[prefix + "heap" + std::to_string(h) + "_resident_mib"] = heapResident[h];
        out[prefix + "malloc_used_mib"] = mallocUsed;
        out[prefix + "sprite_copies_mib"] = spriteCopies;
        out[prefix + "sprite_textures_mib"] = spriteTextures;
    }
};

// Resident bytes of the pages that [at, at + size) touches, from
// /proc/self/pagemap: a page read but never written maps the shared zero page,
// which mincore counts and the RSS does not, so it is left out (known by its
// frame number, which only root can read; others count it).
inline uint64_t ResidentBytes(const void* at, uint64_t size) {
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t first = uintptr_t(at) / page * page, last = (uintptr_t(at) + size + page - 1) / page * page;
    if (!at || !size || first >= last) return 0;
    FILE* f = std::fopen("/proc/self/pagemap", "rb");
    if (!f) return 0;
    constexpr uint64_t kPresent = 1ull << 63, kFrame = (1ull << 55) - 1;
    static const uint64_t zeroFrame = [&] {
        static volatile uint8_t probe[1 << 16];  // a zero page only read
        const uintptr_t p = (uintptr_t(probe) + page - 1) / page * page;
        (void)*reinterpret_cast<volatile uint8_t*>(p);
        uint64_t e = 0;
        if (std::fseek(f, long(p / page * 8), SEEK_SET) != 0 || std::fread(&e, 8, 1, f) != 1) return ~uint64_t(0);
        return uint64_t(e & kFrame);
    }();
    uint64_t n = 0;
    std::vector<uint64_t> entries(4096);
    for (uintptr_t p = first; p < last;) {
        const size_t count = std::min<size_t>(entries.size(), (last - p) / page);
        if (std::fseek(f, long(p / page * 8), SEEK_SET) != 0 || std::fread(entries.data(), 8, count, f) != count) break;
        for (size_t i = 0; i < count; ++i)
            if ((entries[i] & kPresent) && (zeroFrame == 0 || (entries[i] & kFrame) != zeroFrame)) ++n;
        p += count * page;
    }
    std::fclose(f);
    return n * page;
}

inline MemorySplit ReadMemory() {
    constexpr double kMiB = 1024.0 * 1024.0;
    MemorySplit m;
    m.rss = double(StatusKib("VmRSS")) / 1024;
    m.file = double(StatusKib("RssFile") + StatusKib("RssShmem")) / 1024;
    m.anon = double(StatusKib("RssAnon")) / 1024;
    for (int h = 0; h < HEAP_COUNT; ++h) {
        const MemHeap& heap = HeapTable.heaps[h];
        m.heapResident[h] = double(ResidentBytes(heap.base, heap.size)) / kMiB;
        m.heapsResident += m.heapResident[h];
    }
    const struct mallinfo2 mi = mallinfo2();
    m.mallocUsed = double(mi.uordblks + mi.hblkhd) / kMiB;
    std::vector<const void*> copies;
    std::vector<uint32_t> textures;
    const MemHeap& pictures = HeapTable.heaps[HEAP_GRAPHICS];
    for (const SpriteRecord& r : SpriteTable) {
        if (!(r.flags & SPRITE_IN_USE)) continue;
        const auto* at = static_cast<const uint8_t*>(r.data);
        if (at && (r.flags & (SPRITE_CACHED | SPRITE_OWN_COPY)) != SPRITE_CACHED && at >= pictures.base + 32 &&
            at < pictures.base + pictures.size && std::find(copies.begin(), copies.end(), at) == copies.end()) {
            copies.push_back(at);
            m.spriteCopies += double(ResidentBytes(at, reinterpret_cast<const MemBlockHeader*>(at - 32)->size - 32)) / kMiB;
        }
        if (r.texture && std::find(textures.begin(), textures.end(), r.texture) == textures.end()) {
            textures.push_back(r.texture);
            m.spriteTextures += double(r.textureWidth) * r.textureHeight * ((r.flags & SPRITE_PALETTE) ? 1 : 4) / kMiB;
        }
    }
    return m;
}

// --- data -----------------------------------------------------------------------

// The sample's archives built into a scratch folder once per process; with
// `opening`, a copy of the sample whose opening scenario (00_init.txt) is that
// text. Empty when the build failed. The folders go at the process's end.
inline const std::string& SampleData(const std::string& opening = "") {
    struct Built {
        std::map<std::string, std::string> out;  // by opening text
        std::vector<std::string> roots;
        ~Built() {
            for (const std::string& r : roots) fs::remove_all(r);
        }
    };
    static Built built;
    std::string& dir = built.out[opening];
    if (!dir.empty()) return dir;
    char tmpl[] = "/tmp/vn_program_bench_XXXXXX";
    if (!::mkdtemp(tmpl)) return dir;
    built.roots.push_back(tmpl);
    std::string source = VN_SOURCE_DIR "/sample";
    if (!opening.empty()) {
        source = std::string(tmpl) + "/source";
        std::error_code ec;
        fs::copy(VN_SOURCE_DIR "/sample", source, fs::copy_options::recursive, ec);
        std::ofstream(source + "/base/script/script.arc/00_init.txt", std::ios::binary) << opening;
    }
    const std::string out = std::string(tmpl) + "/out";
    const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/build_sample.py " + out + " --sample " + source + " >/dev/null";
    if (std::system(cmd.c_str()) == 0) dir = out;
    return dir;
}

// A folder the program runs in: the archives linked under data/, the user's
// files (system data, saves) kept from one run to the next.
struct Scratch {
    fs::path dir;
    explicit Scratch(const std::string& data) {
        char tmpl[] = "/tmp/vn_program_run_XXXXXX";
        if (data.empty() || !::mkdtemp(tmpl)) return;
        dir = tmpl;
        fs::create_directories(dir / "data");
        for (const auto& e : fs::directory_iterator(fs::path(data) / "data"))
            if (e.path().extension() == ".pcarc") fs::create_symlink(e.path(), dir / "data" / e.path().filename());
    }
    ~Scratch() {
        if (!dir.empty()) fs::remove_all(dir);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// --- input ----------------------------------------------------------------------

// The input of the next frame. A press holds for one frame; the frame after
// a press lets everything go, so that each press is a new one.
struct Input {
    PlatInputState state{};
    bool canPress = true;
    bool pressed = false;
    bool Button(uint32_t bit) { return Key(uint8_t(Lib_InputKeyCode(0, bit, 0) & 0xFF)); }
    bool Key(uint8_t dik) {
        if (!canPress) return false;
        state.keys[dik] = kPlatDown;
        pressed = true;
        return true;
    }
};

// The story's keys beside the buttons (bits of InputButtons).
inline constexpr uint32_t kKeyMenu = 0x8, kKeyAuto = 0x40;

// --- running --------------------------------------------------------------------

// Called at the end of every frame; false ends the program.
using Driver = std::function<bool(Input&)>;

namespace detail {
inline double g_drawStartUs = 0;
inline void DrawHook() { g_drawStartUs = ThreadCpuUs(); }
inline Driver* g_driver = nullptr;
inline bool g_draw = true, g_quit = false, g_lastPressed = false;
inline void Hook() {
    if (!g_draw) glEnable(GL_RASTERIZER_DISCARD);
    if (g_quit) return;
    Input in;
    in.state = Plat_InputIdle();
    in.state.focus = 1;
    in.canPress = !g_lastPressed;
    if (!(*g_driver)(in)) {
        g_quit = true;
        Plat_PostQuit();
        return;
    }
    g_lastPressed = in.pressed;
    Plat_InputInject(in.state);
}
}  // namespace detail

// The game thread's CPU time when this frame's drawing pass began (the
// drawing, the present and the frame's last tasks lie between it and the driver).
inline double DrawStartCpuUs() { return detail::g_drawStartUs; }


// Runs the program in `scratch` until the driver says stop. `draw` false:
// every task and GL call runs, no pixel is shaded (GPU work left out).
// Returns WinMain's code.
inline int Run(const Scratch& scratch, Driver driver, bool draw) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    if (scratch.dir.empty()) return -1;
    const fs::path old = fs::current_path();
    fs::current_path(scratch.dir);
    detail::g_driver = &driver;
    detail::g_draw = draw;
    detail::g_quit = detail::g_lastPressed = false;
    MainTestHook = detail::Hook;
    Main_DrawTestHook = detail::DrawHook;
    const int code = WinMain();
    MainTestHook = nullptr;
    Main_DrawTestHook = nullptr;
    detail::g_driver = nullptr;
    fs::current_path(old);
    return code;
}

// --- what is on screen ----------------------------------------------------------

// The title's picture (layer 15) shown.
inline bool TitlePictureUp() {
    return GSL_ModeTop() == GSL_TitleModeCB && Lib_SpriteGetState(GSL_WorkLayerGet(GSL_TitleModeCB, 15)) == 2;
}
inline bool MoviePlaying() { return program_screens::MoviePlaying() && MovieState.load() == MOVIE_PLAYING; }
// A modal question waiting for its answer.
inline bool DialogWaiting() {
    for (const TaskRecord* t : TaskTable.slots) {
        if (!t || t->callback != Lib_UtilityCB) continue;
        const auto* d = static_cast<const UtilityDialogWork*>(t->work);
        if (d && d->state == DIALOG_WAITING) return true;
    }
    return false;
}
inline int32_t StoryScriptStatus() {
    if (!GSL_WorkGet(GSL_StoryModeCB)) return 0;
    return GSL_ScriptStatusGet(GSL_WorkTaskGet(GSL_StoryModeCB));
}
// The message line's text object (null when none is shown).
inline const TextRecord* MessageText() {
    const int32_t t = GSL_WorkTextGet(GSL_StoryModeCB, kMessageFirstText);
    return t >= 0 ? TextTable[t] : nullptr;
}
inline bool SaveListUp() { return program_screens::ListUp(GSL_SaveModeCB); }
inline bool SaveAsking() {
    const ScreenWork* w = GSL_WorkGet(GSL_SaveModeCB);
    return GSL_ModeTop() == GSL_SaveModeCB && w && w->subState == SLOT_MAIN_ANSWER && DialogWaiting();
}
inline const SelectInputWork* SysMenuInput() {
    const ScreenWork* w = GSL_WorkGet(GSL_SysMenuModeCB);
    if (GSL_ModeTop() != GSL_SysMenuModeCB || !w || w->suspended) return nullptr;
    const SelectInputWork* in = GSL_InputWork(GSL_SysMenuHead(w)->input);
    return in && in->state == 1 ? in : nullptr;
}

// The way from the start to the title's menu and into a new game: the
// start-up notice, the logos and the opening movie confirmed as soon as each
// takes it, then new game (item 0) on the title. Returns true while it acts.
struct ToNewGame {
    bool started = false;  // new game decided
    bool Step(Input& in) {
        if ((DialogWaiting() && GSL_ModeTop() != GSL_StoryModeCB) || LogoHeld() || MoviePlaying()) {
            in.Button(BUTTON_DECIDE);
            return true;
        }
        if (Title()) TitleFlags |= 2;  // the first movie may be skipped too
        if (!TitleMenuUp()) return false;
        if (started) return true;
        const SelectInputWork* m = TitleInput();
        if (m->cursor != 0)
            in.Button(BUTTON_UP);
        else if (in.Button(BUTTON_DECIDE))
            started = true;
        return true;
    }
};

}  // namespace program_bench
