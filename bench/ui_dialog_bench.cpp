// System texts: GSL_SysTextGet rewriting a 1,535-byte entry of the music room
// (case M: 511 white stars, each turned into an add-on glyph tag, cut at the
// buffer's end) against Lib_MesGet of the same entry. Target: ratio ≤ 3.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/files/message_table.h"
#include "engine/text/font.h"
#include "ui/system_text.h"

namespace {

void MusicRoom() {}

const std::vector<uint8_t>& Table() {
    static const std::vector<uint8_t> bytes = [] {
        namespace fs = std::filesystem;
        fs::path dir = fs::temp_directory_path() / ("ui_dialog_bench_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        std::string line = "a";
        for (int i = 0; i < 511; ++i) line += "\xE2\x98\x86";
        std::ofstream(dir / "mes.txt") << "languages = ja en zh-hans zh-hant\n[section 0]\ncount = 1\n0.en = " << line
                                       << "\n";
        std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py mul " + (dir / "mes.mul").string() + " " +
                          (dir / "mes.txt").string() + " >/dev/null";
        std::vector<uint8_t> out;
        if (std::system(cmd.c_str()) == 0) {
            std::ifstream in(dir / "mes.mul", std::ios::binary);
            out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        fs::remove_all(dir);
        return out;
    }();
    return bytes;
}

bool Setup(benchmark::State& state) {
    if (Table().empty()) {
        state.SkipWithError("the table could not be packed");
        return false;
    }
    SysgraMesTable = {Table().data(), Table().size()};
    InterfaceLanguage = 1;
    TextLanguage = 1;
    ModeFunction screens[SCREEN_COUNT] = {};
    screens[SCREEN_MUSIC_ROOM] = MusicRoom;
    GSL_ScreensSet(screens);
    ModeStack[0] = MusicRoom;
    return true;
}

void Teardown() {
    ModeStack[0] = nullptr;
    GSL_ScreensSet(nullptr);
    SysgraMesTable = {};
    InterfaceLanguage = -1;
    TextLanguage = -1;
}

void BM_SysTextCaseM(benchmark::State& state) {
    if (!Setup(state)) return;
    char out[kMesTextSize];
    for (auto _ : state) benchmark::DoNotOptimize(GSL_SysTextGet(&SysgraMesTable, 0, 0, 0, out, sizeof out));
    Teardown();
}
BENCHMARK(BM_SysTextCaseM);

void BM_MesGetSameEntry(benchmark::State& state) {
    if (!Setup(state)) return;
    char out[kMesTextSize];
    for (auto _ : state) benchmark::DoNotOptimize(Lib_MesGet(&SysgraMesTable, 0, 0, -1, out, sizeof out));
    Teardown();
}
BENCHMARK(BM_MesGetSameEntry);

}  // namespace
