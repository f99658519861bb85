// A load's fitting of a saved position to the script files, with the record
// of the files the save was made with: a 600 KB file with one label and a
// save of 16,000 read lines, loaded after a one-line edit above the label
// (every position proven by its stretch from the label) against the same
// load with the file unchanged (its digest only). Target: the edited load
// costs within twice the unchanged one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "script/flow.h"
#include "script/game_blocks.h"
#include "script/saved_position.h"
#include "tests/engine/core/cached_file.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kLines = 16000;

// The container of one file, bench.txt, packed with its label index.
std::string Packed(const std::string& text, const std::string& dir) {
    fs::create_directories(dir + "/script.arc");
    std::ofstream(dir + "/script.arc/bench.txt", std::ios::binary) << text;
    const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py script " + dir + "/script.arc " + dir +
                            "/out.arc >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return {};
    std::ifstream in(dir + "/out.arc", std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

struct Env {
    std::string unchanged, edited;
    std::unique_ptr<GameState> saved = std::make_unique<GameState>();
    std::vector<uint8_t> record;
    bool ok = false;

    Env() {
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 2 * mib, 4 * mib, 8 * mib, 2 * mib};
        if (!Lib_MemInit(sizes)) return;
        std::string text = "*top\r\n";
        const uint32_t label = uint32_t(text.size());
        text += "<label>\r\n";
        std::vector<uint32_t> lines;
        for (uint32_t i = 0; i < kLines; ++i) {
            lines.push_back(uint32_t(text.size()));
            char line[64];
            std::snprintf(line, sizeof line, "<text TEXT_%05u_OF_THE_LONG_SCENE>\r\n", unsigned(i));
            text += line;
        }
        const std::string dir = (fs::temp_directory_path() / ("vn_saved_position_" + std::to_string(::getpid()))).string();
        unchanged = Packed(text, dir + "/a");
        edited = Packed("; a line an update adds\r\n" + text, dir + "/b");
        fs::remove_all(dir);
        if (unchanged.empty() || edited.empty() || !CachedFilePut("script/script.arc", unchanged)) return;
        const int32_t member = GSL_ScriptMemberIndex("bench.txt");
        if (member < 0) return;
        GameState& g = *saved;
        std::memset(static_cast<void*>(&g), 0, sizeof g);
        std::strcpy(g.scriptName, "bench.txt");
        g.labelPos[0] = GSL_ScriptPosition(member, label);
        g.labelFlags[0] = 1;
        g.labelCount = 1;
        for (uint32_t i = 0; i < kLines; ++i) g.readLinePos[i] = GSL_ScriptPosition(member, lines[i]);
        g.readLineCount = kLines - 1;
        g.startOffset = lines.back();
        g.restartOffset = label;
        const uint8_t* made = nullptr;
        const uint32_t size = GSL_SavedScriptsMake(g, &made);
        record.assign(made, made + size);
        ok = size > 0;
    }
    ~Env() {
        GSL_SavedScriptsForget();
        Lib_CashReset();
        Lib_MemRelease();
    }
};

// The load with container in the cache; the one line it tells goes to
// /dev/null.
void Load(benchmark::State& state, bool edit) {
    Env env;
    if (!env.ok || !CachedFilePut("script/script.arc", edit ? env.edited : env.unchanged))
        return state.SkipWithError("set-up failed");
    const int err = ::dup(2), null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    uint32_t start = 0;
    for (auto _ : state) {
        GameStateBlock = *env.saved;
        GSL_SavedScriptsLoaded(env.record.data(), uint32_t(env.record.size()));
        GSL_SavedPositionMend();
        start = GameStateBlock.startOffset;
    }
    ::dup2(err, 2);
    ::close(err);
    ::close(null);
    // The edit moves every position by its line; each is found.
    if (start != env.saved->startOffset + (edit ? 25u : 0u)) state.SkipWithError("the saved line was not found");
}

void BM_SavedPosition16000LinesUnchanged(benchmark::State& state) { Load(state, false); }
BENCHMARK(BM_SavedPosition16000LinesUnchanged)->Unit(benchmark::kMillisecond);

void BM_SavedPosition16000LinesEdited(benchmark::State& state) { Load(state, true); }
BENCHMARK(BM_SavedPosition16000LinesEdited)->Unit(benchmark::kMillisecond);

}  // namespace
