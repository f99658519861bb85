// The start-up chain on arbitrary archives: the input holds up to three
// ".pcarc" files split at "--vn-archive--" (base, patch, R18). They are
// opened as at start-up, the message tables loaded and looked up, and the
// start-up files and the first files each archive names are read. Newest
// first must hold: a file that the R18 archive serves on its own is served
// the same with all three present, and so is a file the patch serves on its
// own that the R18 archive does not name. Nothing may stay allocated.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/files/message_table.h"
#include "fuzz/fuzz_scratch.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}
void Quiet(const char*) {}

const char kSeparator[] = "--vn-archive--";
const char* const kFiles[3] = {"data/data_00.pcarc", "data/data_p00.pcarc", "data/data_r18.pcarc"};
const char* const kStartupNames[] = {"script/system_mes.mul", "script/sysgra_mes.mul", "script/script_mes.mul",
                                     "sound/bgm/title.oggl",  "font/font_00.ttf",      "doc/about.txt",
                                     "sound/se/se_decide.wav", "script/script.arc"};

struct Result {
    bool exists = false, loaded = false;
    std::string bytes;
};

void WriteArchives(const std::vector<std::string>& parts, bool use0, bool use1, bool use2) {
    const bool use[3] = {use0, use1, use2};
    for (int a = 0; a < 3; ++a) {
        std::string path = fuzz_scratch::Folder() + "/" + kFiles[a];
        ::unlink(path.c_str());
        if (!use[a] || size_t(a) >= parts.size()) continue;
        FILE* f = std::fopen(path.c_str(), "wb");
        Check(f != nullptr);
        if (!parts[a].empty()) Check(std::fwrite(parts[a].data(), 1, parts[a].size(), f) == parts[a].size());
        std::fclose(f);
    }
}

Result Load(const std::string& name) {
    Result r;
    char probe[256];
    std::snprintf(probe, sizeof probe, "%s", name.c_str());
    r.exists = Lib_PcArcFileExists(probe);
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s", name.c_str());
    void* data = nullptr;
    uint32_t size = 0;
    if (Lib_FileLoad(0, buf, &data, &size, 16, false)) {
        Check(data != nullptr);
        r.loaded = true;
        r.bytes.assign(static_cast<const char*>(data), size);
        Lib_MemFree(0, data);
    } else {
        Check(data == nullptr && size == 0);
    }
    return r;
}

// Names of the first files of every open archive's tables.
void TableNames(std::vector<std::string>* names) {
    for (const PcArcRecord& rec : PcArcTable) {
        if (!rec.opened) continue;
        int taken = 0;
        for (int32_t t = 0; t < rec.header.tableCount && taken < 8; ++t) {
            const uint8_t* table = rec.tables[t];
            if (!table) continue;
            int32_t count;
            std::memcpy(&count, table + 64, 4);
            for (int32_t i = 0; i < count && i < 4 && taken < 8; ++i, ++taken) {
                std::string dir(reinterpret_cast<const char*>(table), ::strnlen(reinterpret_cast<const char*>(table), 64));
                const char* entry = reinterpret_cast<const char*>(table + 80 + 80 * i);
                std::string file(entry, ::strnlen(entry, 64));
                if (table[68] && file.size() > 3 && file.compare(file.size() - 3, 3, ".gz") == 0)
                    file.resize(file.size() - 3);
                names->push_back(dir + "/" + file);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_scratch::Enter(argc, argv, "vn_startup_chain_fuzz");
    std::filesystem::create_directories("data");
    const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {16 * mib, 32 * mib, 2 * mib, 16 * mib, 8 * mib};
    Check(Lib_MemInit(sizes));
    Lib_DebugSetSink(Quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (4u << 20)) return 0;
    std::string in(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    for (size_t at = 0; parts.size() < 3;) {
        size_t end = parts.size() < 2 ? in.find(kSeparator, at) : std::string::npos;
        parts.push_back(in.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + sizeof kSeparator - 1;
    }

    // All three, as at start-up.
    WriteArchives(parts, true, true, true);
    Lib_PcArcOpen();
    if (Lib_MesSystemLoad()) {
        char text[64];
        for (int32_t s = 0; s < 10; ++s) Lib_MesGetBuf(nullptr, s, s, -1, text, sizeof text);
        Lib_MesSystemFree();
    }
    Lib_MesLoad();
    Lib_MesFree();
    char version[4];
    Lib_PcArcGetVersion(-1, version);
    for (char c : version) Check(c >= '0' && c <= '9');
    std::vector<std::string> names(std::begin(kStartupNames), std::end(kStartupNames));
    TableNames(&names);
    names.resize(std::min<size_t>(names.size(), 40));
    std::vector<Result> all;
    for (const std::string& n : names) all.push_back(Load(n));

    // The R18 archive alone, then the patch alone.
    WriteArchives(parts, false, false, true);
    Lib_PcArcOpen();
    std::vector<Result> r18;
    for (const std::string& n : names) r18.push_back(Load(n));
    WriteArchives(parts, false, true, false);
    Lib_PcArcOpen();
    for (size_t i = 0; i < names.size(); ++i) {
        Result patch = Load(names[i]);
        if (r18[i].loaded) {
            Check(all[i].loaded && all[i].bytes == r18[i].bytes);
        } else if (!r18[i].exists && patch.loaded) {
            Check(all[i].loaded && all[i].bytes == patch.bytes);
        }
    }
    Lib_PcArcClose();
    Lib_CashFreeGroup(0);
    Check(HeapTable.heaps[HEAP_CACHE].usedCount == 0);
    Check(HeapTable.heaps[HEAP_FILE].usedCount == 0);
    Check(HeapTable.heaps[HEAP_GENERAL].usedCount == 0);
    return 0;
}
