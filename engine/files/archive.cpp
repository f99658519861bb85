#include "engine/files/archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/files/file_loader.h"
#include "engine/files/load_stored.h"

PcArcRecord PcArcTable[kPcArcCount];

namespace {

constexpr uint64_t kHeaderSize = sizeof(PcArcHeader);
constexpr uint64_t kTableHead = 80;
constexpr uint64_t kEntrySize = 80;

const char* const kArchiveNames[kPcArcCount] = {"data/data_00.pcarc", "data/data_p00.pcarc",
                                                "data/data_r18.pcarc"};

std::atomic<int8_t> g_presence[kPcArcCount] = {-1, -1, -1};
char g_version[kPcArcCount][5] = {"0000", "0000", "0000"};
std::mutex g_archiveMutex;

uint32_t U32At(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint64_t U64At(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
int32_t EntryCount(const uint8_t* table) { return int32_t(U32At(table + 64)); }
bool Compressed(const uint8_t* table) { return table[68] != 0; }
const uint8_t* EntryAt(const uint8_t* table, int32_t i) { return table + kTableHead + kEntrySize * uint64_t(i); }
bool Terminated(const uint8_t* name) { return std::memchr(name, 0, kPcArcNameSize) != nullptr; }

bool ReadAt(int fd, void* buffer, uint64_t bytes, uint64_t offset) {
    uint8_t* p = static_cast<uint8_t*>(buffer);
    while (bytes > 0) {
        size_t step = bytes > (1u << 30) ? (1u << 30) : size_t(bytes);
        ssize_t got = ::pread(fd, p, step, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        bytes -= uint64_t(got);
        offset += uint64_t(got);
    }
    return true;
}

void CloseOne(PcArcRecord& rec) {
    for (uint8_t*& t : rec.tables) {
        if (t) Lib_MemFree(HEAP_FILE, t);
        t = nullptr;
    }
    if (rec.fd >= 0) ::close(rec.fd);
    rec.fd = -1;
    rec.fileSize = 0;
    rec.opened = false;
}

// Checks one table read whole: its name and entry count against its size,
// every name terminated, every entry's data inside the file.
bool TableSound(const PcArcRecord& rec, const uint8_t* table, uint64_t size) {
    if (!Terminated(table)) return false;
    int32_t count = EntryCount(table);
    if (count < 0 || uint64_t(count) > (size - kTableHead) / kEntrySize) return false;
    uint64_t room = rec.fileSize - rec.header.base;  // base <= fileSize, checked before
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* e = EntryAt(table, i);
        uint64_t offset = U64At(e + 64);
        uint32_t stored = U32At(e + 72);
        if (!Terminated(e) || offset > room || stored > room - offset) return false;
    }
    return true;
}

// Opens archive a and reads its tables. On any fault the archive is closed
// again with nothing left allocated.
bool OpenOne(int32_t a) {
    PcArcRecord& rec = PcArcTable[a];
    CloseOne(rec);
    char path[1024];
    if (!Lib_FileMakePath(kArchiveNames[a], path, sizeof path)) return false;
    rec.fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (rec.fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(rec.fd, &st) == 0 && S_ISREG(st.st_mode);
    rec.fileSize = ok ? uint64_t(st.st_size) : 0;
    ok = ok && ReadAt(rec.fd, &rec.header, kHeaderSize, 0);
    int32_t count = ok ? rec.header.tableCount : 0;
    ok = ok && count >= 0 && count <= kPcArcMaxTables && rec.header.base <= rec.fileSize;
    for (int32_t j = 0; ok && j < count; ++j) {
        uint64_t offset = rec.header.tableOffset[j];
        uint64_t size = rec.header.tableSize[j];
        ok = size >= kTableHead && offset <= rec.fileSize && size <= rec.fileSize - offset;
        if (!ok) break;
        rec.tables[j] = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, size, 8));
        ok = rec.tables[j] && ReadAt(rec.fd, rec.tables[j], size, offset) && TableSound(rec, rec.tables[j], size);
    }
    if (!ok) {
        Lib_DebugPrintf("Error -> Lib_PcArcOpen(%s)\n", kArchiveNames[a]);
        CloseOne(rec);
        return false;
    }
    std::memcpy(g_version[a], rec.header.version, 4);
    g_version[a][4] = 0;
    rec.opened = true;
    return true;
}

int32_t VersionNumber(const char* text) {
    int32_t v = 0;
    std::from_chars(text, text + 4, v);
    return v;
}

struct Location {
    int32_t archive;
    const uint8_t* table;
    const uint8_t* entry;
};

// The newest archive whose first table of the directory holds the file.
bool Locate(const char* name, Location* at) {
    char dir[kPcArcNameSize], file[kPcArcNameSize];
    if (!Lib_PathSplit(name, dir, file)) return false;
    for (int32_t a = kPcArcCount - 1; a >= 0; --a) {
        const PcArcRecord& rec = PcArcTable[a];
        if (!rec.opened) continue;
        for (int32_t t = 0; t < rec.header.tableCount; ++t) {
            if (std::strcmp(reinterpret_cast<const char*>(rec.tables[t]), dir) != 0) continue;
            int32_t i = Lib_PcArcFind(a, t, file);
            if (i >= 0) {
                *at = Location{a, rec.tables[t], EntryAt(rec.tables[t], i)};
                return true;
            }
            break;  // only the first table of a directory counts
        }
    }
    return false;
}

struct ReadSpot {
    int fd;
    uint64_t offset;
};

bool ReadFromArchive(void* context, uint8_t* buffer, uint64_t bytes) {
    const ReadSpot* spot = static_cast<const ReadSpot*>(context);
    return ReadAt(spot->fd, buffer, bytes, spot->offset);
}

}  // namespace

bool Lib_PcArcExists(int32_t archive) {
    if (archive < 0 || archive >= kPcArcCount) return false;
    int8_t known = g_presence[archive].load(std::memory_order_acquire);
    if (known >= 0) return known == 1;
    char path[1024];
    int fd = Lib_FileMakePath(kArchiveNames[archive], path, sizeof path) ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd >= 0) ::close(fd);
    g_presence[archive].store(fd >= 0 ? 1 : 0, std::memory_order_release);
    return fd >= 0;
}

void Lib_PcArcOpen() {
    Lib_PcArcClose();
    for (int32_t a = 0; a < kPcArcCount; ++a) {
        g_presence[a].store(-1, std::memory_order_release);
        std::memcpy(g_version[a], "0000", 5);
    }
    for (int32_t a = 0; a < kPcArcCount; ++a) {
        // A damaged archive counts as absent; the others still open.
        if (Lib_PcArcExists(a) && !OpenOne(a)) g_presence[a].store(0, std::memory_order_release);
    }
}

void Lib_PcArcClose() {
    for (PcArcRecord& rec : PcArcTable)
        if (rec.opened) CloseOne(rec);
}

bool Lib_PathSplit(const char* path, char dir[kPcArcNameSize], char file[kPcArcNameSize]) {
    dir[0] = file[0] = 0;
    if (!path) return false;
    if (std::strncmp(path, "data/", 5) == 0) path += 5;
    size_t len = ::strnlen(path, kFileNameSize);
    if (len >= kFileNameSize) return false;
    size_t cut = SIZE_MAX;
    for (size_t i = 0; i < len;) {
        uint8_t c = uint8_t(path[i]);
        if (c == '\\' || c == '/' || c == '\t') cut = i;
        bool lead = (c >= 0x81 && c <= 0x9F) || c >= 0xE0;
        i += lead && i + 1 < len ? 2 : 1;
    }
    size_t dirLen = cut == SIZE_MAX ? 0 : cut;
    size_t fileStart = cut == SIZE_MAX ? 0 : cut + 1;
    if (dirLen >= kPcArcNameSize || len - fileStart >= kPcArcNameSize) return false;
    std::memcpy(dir, path, dirLen);
    dir[dirLen] = 0;
    std::memcpy(file, path + fileStart, len - fileStart);
    file[len - fileStart] = 0;
    return true;
}

int32_t Lib_PcArcFind(int32_t archive, int32_t table, const char* file) {
    if (archive < 0 || archive >= kPcArcCount || !file) return -1;
    const PcArcRecord& rec = PcArcTable[archive];
    if (!rec.opened || table < 0 || table >= rec.header.tableCount) return -1;
    const uint8_t* t = rec.tables[table];
    char key[kPcArcNameSize];
    size_t len = ::strnlen(file, kPcArcNameSize);
    size_t extra = Compressed(t) ? 3 : 0;
    if (len + extra >= kPcArcNameSize) return -1;
    std::memcpy(key, file, len);
    std::memcpy(key + len, ".gz", extra);
    key[len + extra] = 0;
    size_t keyBytes = len + extra + 1;
    int32_t count = EntryCount(t);
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* name = EntryAt(t, i);
        if (name[0] == uint8_t(key[0]) && std::memcmp(name, key, keyBytes) == 0) return i;
    }
    return -1;
}

bool Lib_PcArcLoad(uint32_t type, char* name, void** result, uint32_t* size, uint32_t align, bool cacheCheck) {
    char canon[kFileNameSize];
    bool named = Lib_FileNameNormalise(name, canon);
    if (result) *result = nullptr;
    if (size) *size = 0;
    if (!named || !result || type >= HEAP_COUNT) return false;
    if (type == kFileTypeCache && cacheCheck && Lib_LoadFromCache(canon, result, size)) return true;

    Location at;
    if (!Locate(canon, &at)) return false;
    const PcArcRecord& rec = PcArcTable[at.archive];
    ReadSpot spot{rec.fd, rec.header.base + U64At(at.entry + 64)};
    LoadJob job{type, canon, align, Compressed(at.table), U32At(at.entry + 72), ReadFromArchive, &spot};
    CacheEntry* entry = nullptr;
    LoadStep step;
    {
        std::lock_guard<std::mutex> lock(g_archiveMutex);
        step = Lib_LoadStored(job, result, size, &entry);
    }
    switch (step) {
    case LOAD_DONE:
        Lib_CashSetComplete(entry);  // the entry made here, not one found by name
        return true;
    case LOAD_NO_BUFFER:
        Lib_DebugPrintf("Error -> Lib_PcArcLoad(%s)\n", name);
        break;
    case LOAD_READ_FAILED:
        Lib_DebugPrintf("Error -> Lib_PcArcLoad(%s:%d)\n", name, 0);
        break;
    case LOAD_NO_OUTPUT:
    case LOAD_BAD_GZIP:
        Lib_DebugPrintf("Error -> Lib_PcArcLoad(decomp:%s)\n", name);
        break;
    }
    return false;
}

bool Lib_PcArcFileExists(char* name) {
    char canon[kFileNameSize];
    Location at;
    return Lib_FileNameNormalise(name, canon) && Locate(canon, &at);
}

void Lib_PcArcGetVersion(int32_t archive, char out[4]) {
    if (!out) return;
    if (archive >= kPcArcCount) {
        std::memcpy(out, "0000", 4);
    } else if (archive >= 0) {
        std::memcpy(out, g_version[archive], 4);
    } else {
        int32_t v = 100;
        for (int32_t a = 0; a < 2; ++a)
            if (VersionNumber(g_version[a]) > v) v = VersionNumber(g_version[a]);
        char text[16];
        std::snprintf(text, sizeof text, "%04d", v);
        std::memcpy(out, text, 4);
    }
}
