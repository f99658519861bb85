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
#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/files/file_loader.h"
#include "engine/files/load_stored.h"

// process-wide: made afresh by Lib_PcArcOpen and emptied by Lib_PcArcClose
PcArcRecord PcArcTable[kPcArcCount];

namespace {

constexpr uint64_t kHeaderSize = sizeof(PcArcHeader);
constexpr uint64_t kTableHead = 80;
constexpr uint64_t kEntrySize = 80;

const char* const kArchiveNames[kPcArcCount] = {"data/data_00.pcarc", "data/data_p00.pcarc",
                                                "data/data_r18.pcarc"};
const char* const kArchiveRoles[kPcArcCount] = {"base archive", "patch archive", "R18 archive"};

// process-wide (g_presence, g_version, g_archiveMutex): made afresh by Lib_PcArcOpen; the lock
// guards the loads
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

// Whether an entry's stored data lies inside the archive file.
bool EntryInside(const PcArcRecord& rec, const uint8_t* entry) {
    uint64_t room = rec.fileSize - rec.header.base;  // base <= fileSize, checked at opening
    uint64_t offset = U64At(entry + 64);
    return offset <= room && U32At(entry + 72) <= room - offset;
}

// Why a table read whole cannot be used, or null: its name and entry count
// against its size, and every name terminated.
const char* TableFault(const uint8_t* table, uint64_t size) {
    if (!Terminated(table)) return "directory name not terminated";
    int32_t count = EntryCount(table);
    if (count < 0 || uint64_t(count) > (size - kTableHead) / kEntrySize) return "entry count beyond the table's size";
    for (int32_t i = 0; i < count; ++i)
        if (!Terminated(EntryAt(table, i))) return "file name not terminated";
    return nullptr;
}

// Reads table j of an archive whose header was accepted: null (and the
// reason) when it cannot be used; the archive's other tables still serve.
uint8_t* ReadTable(const PcArcRecord& rec, int32_t j, const char** why) {
    uint64_t offset = rec.header.tableOffset[j];
    uint64_t size = rec.header.tableSize[j];
    if (size < kTableHead) {
        *why = "table size too small";
        return nullptr;
    }
    if (offset > rec.fileSize || size > rec.fileSize - offset) {
        *why = "table lies past the end of the file";
        return nullptr;
    }
    uint8_t* table = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, size, 8));
    *why = !table ? "no memory for the table" : !ReadAt(rec.fd, table, size, offset) ? "table unreadable"
                                                                                       : TableFault(table, size);
    if (*why && table) {
        Lib_MemFree(HEAP_FILE, table);
        table = nullptr;
    }
    return table;
}

// Opens archive a and reads its tables. An archive whose header cannot be
// trusted is closed again with nothing left allocated; a damaged table is
// left out on its own. Every fault found is told on one line of stderr.
bool OpenOne(int32_t a) {
    PcArcRecord& rec = PcArcTable[a];
    CloseOne(rec);
    char path[1024];
    if (!Lib_FileMakePath(kArchiveNames[a], path, sizeof path)) return false;
    rec.fd = Lib_FileOpenRegular(path);
    if (rec.fd < 0) return false;
    struct stat st;
    const char* refused = nullptr;
    if (::fstat(rec.fd, &st) != 0) refused = "it cannot be examined";
    rec.fileSize = refused ? 0 : uint64_t(st.st_size);
    if (!refused && !ReadAt(rec.fd, &rec.header, kHeaderSize, 0)) refused = "shorter than its 400-byte header";
    int32_t count = refused ? 0 : rec.header.tableCount;
    if (!refused && (count < 0 || count > kPcArcMaxTables)) refused = "table count out of range";
    if (!refused && rec.header.base > rec.fileSize) refused = "data offset past the end of the file";
    if (refused) {
        Lib_DebugPrintf("Error -> Lib_PcArcOpen(%s)\n", kArchiveNames[a]);
        std::fprintf(stderr, "vn: %s %s is damaged (%s); it is not used\n", kArchiveRoles[a], kArchiveNames[a],
                     refused);
        CloseOne(rec);
        return false;
    }

    int32_t badTables = 0, badEntries = 0, firstBadTable = -1;
    const char* tableWhy = nullptr;
    char firstBadEntry[2 * kPcArcNameSize] = "";
    for (int32_t j = 0; j < count; ++j) {
        const char* why = nullptr;
        rec.tables[j] = ReadTable(rec, j, &why);
        if (!rec.tables[j]) {
            if (badTables++ == 0) {
                firstBadTable = j;
                tableWhy = why;
            }
            continue;
        }
        // Entries whose data lies outside the file fail their own loads.
        for (int32_t i = 0; i < EntryCount(rec.tables[j]); ++i) {
            const uint8_t* e = EntryAt(rec.tables[j], i);
            if (EntryInside(rec, e) || badEntries++ > 0) continue;
            std::snprintf(firstBadEntry, sizeof firstBadEntry, "%s/%s", reinterpret_cast<const char*>(rec.tables[j]),
                          reinterpret_cast<const char*>(e));
        }
    }
    if (badTables || badEntries) {
        Lib_DebugPrintf("Error -> Lib_PcArcOpen(%s)\n", kArchiveNames[a]);
        char tables[160] = "", entries[256] = "";
        if (badTables) {
            std::snprintf(tables, sizeof tables, "%d damaged directory table%s left out (table %d: %s)", badTables,
                          badTables == 1 ? "" : "s", firstBadTable, tableWhy);
        }
        if (badEntries) {
            std::snprintf(entries, sizeof entries, "%sthe data of %d file%s lies past its end (%s%s)",
                          badTables ? "; " : "", badEntries, badEntries == 1 ? "" : "s", firstBadEntry,
                          badEntries > 1 ? ", ..." : "");
        }
        std::fprintf(stderr, "vn: %s %s is damaged: %s%s; the rest is used\n", kArchiveRoles[a], kArchiveNames[a],
                     tables, entries);
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
            if (!rec.tables[t]) continue;  // a damaged table is left out
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

// Damaged files told since the archives were opened (name digests), so that
// a file asked for again and again is told once.
// process-wide (g_reportedMutex, g_reported, g_reportedCount): emptied by Lib_PcArcOpen; the
// lock guards the list
std::mutex g_reportedMutex;
uint32_t g_reported[64];
size_t g_reportedCount = 0;

void ReportDamaged(const char* name, int32_t archive, const char* why) {
    uint32_t h = 2166136261u;
    for (const char* p = name; *p; ++p) h = (h ^ uint8_t(*p)) * 16777619u;
    {
        std::lock_guard<std::mutex> lock(g_reportedMutex);
        for (size_t i = 0; i < g_reportedCount && i < 64; ++i)
            if (g_reported[i] == h) return;
        g_reported[g_reportedCount++ % 64] = h;
    }
    char escaped[1024];  // a name a script gave
    std::fprintf(stderr, "vn: %s in the %s %s is damaged (%s); it cannot be loaded\n",
                 Lib_TextEscaped(name, escaped, sizeof escaped), kArchiveRoles[archive],
                 kArchiveNames[archive], why);
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
    // Anything but a regular file (a FIFO, a folder) counts as missing.
    int fd = Lib_FileMakePath(kArchiveNames[archive], path, sizeof path) ? Lib_FileOpenRegular(path) : -1;
    if (fd >= 0) ::close(fd);
    g_presence[archive].store(fd >= 0 ? 1 : 0, std::memory_order_release);
    return fd >= 0;
}

void Lib_PcArcOpen() {
    Lib_PcArcClose();
    {
        std::lock_guard<std::mutex> lock(g_reportedMutex);
        g_reportedCount = 0;
    }
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
    // Closed, the archives' presence is no longer known: the next question
    // looks at the folder again rather than answer from the last opening.
    for (std::atomic<int8_t>& known : g_presence) known.store(-1, std::memory_order_release);
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
    if (!t) return -1;
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

bool Lib_PcArcLoad(uint32_t type, char* name, void** result, uint32_t* size, uint32_t align, bool cacheCheck,
                   CacheEntry** pinned) {
    char canon[kFileNameSize];
    bool named = Lib_FileNameNormalise(name, canon);
    if (result) *result = nullptr;
    if (size) *size = 0;
    if (!named || !result || type >= HEAP_COUNT) return false;
    if (type == kFileTypeCache && cacheCheck && Lib_LoadFromCache(canon, result, size, pinned)) return true;

    Location at;
    if (!Locate(canon, &at)) return false;
    const PcArcRecord& rec = PcArcTable[at.archive];
    if (!EntryInside(rec, at.entry)) {  // this file only: the archive's others still load
        Lib_DebugPrintf("Error -> Lib_PcArcLoad(%s:%d)\n", name, 0);
        return false;
    }
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
        Lib_CashSetComplete(entry, pinned && entry);  // the entry made here, not one found by name
        if (pinned && entry) *pinned = entry;
        return true;
    case LOAD_NO_BUFFER:
    case LOAD_EMPTY:
        Lib_DebugPrintf("Error -> Lib_PcArcLoad(%s)\n", name);
        break;
    case LOAD_READ_FAILED:
        Lib_DebugPrintf("Error -> Lib_PcArcLoad(%s:%d)\n", name, 0);
        ReportDamaged(canon, at.archive, "its data cannot be read");
        break;
    case LOAD_NO_OUTPUT:
        Lib_DebugPrintf("Error -> Lib_PcArcLoad(decomp:%s)\n", name);
        break;
    case LOAD_BAD_GZIP:
        Lib_DebugPrintf("Error -> Lib_PcArcLoad(decomp:%s)\n", name);
        ReportDamaged(canon, at.archive, "its compressed data is damaged");
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

const char* Lib_PcArcName(int32_t archive) {
    return archive >= 0 && archive < kPcArcCount ? kArchiveNames[archive] : nullptr;
}
