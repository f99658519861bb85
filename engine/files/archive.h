// The three read-only ".pcarc" archives, searched newest first: 2
// "data/data_r18.pcarc" (the R18 edition), 1 "data/data_p00.pcarc" (patch),
// 0 "data/data_00.pcarc" (base).
//
// Layout (little-endian): a 400-byte header {version[4] ASCII digits, i32
// table count T <= 32, u64 base offset of the data, u64 offsets[32], u32
// sizes[32]}; directory tables {name[64], i32 entry count E, u8 compressed,
// 11 bytes, E entries}; entries of 80 bytes {name[64], u64 offset from the
// base, u32 stored size, 4 bytes}. In a compressed directory every file is a
// gzip file stored under its name plus ".gz".
//
// The tables are checked and read whole into heap 1 when the archives are
// opened. Only an archive whose header cannot be trusted (too short, a table
// count outside 0..32, a data offset past the end) is rejected whole; a
// damaged table (size, count or an unterminated name) is left out on its own,
// and a file whose data lies past the end fails its own loads. Each damaged
// archive is told on one line of stderr. Tables are not changed afterwards,
// so lookups take no lock; reads take the archive mutex.
#pragma once

#include <cstdint>

struct CacheEntry;

inline constexpr int32_t kPcArcCount = 3;
inline constexpr int32_t kPcArcMaxTables = 32;
inline constexpr uint32_t kPcArcNameSize = 64;

struct PcArcHeader {
    char version[4];
    int32_t tableCount;
    uint64_t base;
    uint64_t tableOffset[kPcArcMaxTables];
    uint32_t tableSize[kPcArcMaxTables];
};
static_assert(sizeof(PcArcHeader) == 400);

struct PcArcRecord {
    int fd = -1;
    PcArcHeader header;
    uint8_t* tables[kPcArcMaxTables];  // heap 1, null when absent or damaged
    uint64_t fileSize = 0;
    bool opened = false;  // header and every table read and checked
};
extern PcArcRecord PcArcTable[kPcArcCount];

// Opens the archives that exist and reads their tables (start-up, before the
// loader thread starts). Archives already open are closed first.
void Lib_PcArcOpen();
// Closes the archives and frees their tables (shutdown, after the loader
// thread has stopped).
void Lib_PcArcClose();
// Whether the archive's file exists as a regular file (and, once opened, was
// accepted).
bool Lib_PcArcExists(int32_t archive);
// The archive's engine path ("data/data_00.pcarc"), for messages; null for a
// number outside 0..2.
const char* Lib_PcArcName(int32_t archive);

// Reads a file from the archives into heap `type` or, for type 3, the named
// cache; inflated when its directory is compressed. Lower-cases name in place.
// With `pinned`, a type-3 entry delivered is pinned and stored there.
bool Lib_PcArcLoad(uint32_t type, char* name, void** result, uint32_t* size, uint32_t align,
                   bool cacheCheck, CacheEntry** pinned = nullptr);
// Whether any archive holds the file. Lower-cases name in place.
bool Lib_PcArcFileExists(char* name);
// Four version characters (no terminator): an archive's own, or for a
// negative number the largest of 100 and archives 0 and 1, as "%04d".
void Lib_PcArcGetVersion(int32_t archive, char out[4]);

// Splits an archive path (a leading "data/" skipped) at its last separator
// ('\\', '/' or TAB, not a Shift-JIS trail byte). False when either part does
// not fit in 64 bytes.
bool Lib_PathSplit(const char* path, char dir[kPcArcNameSize], char file[kPcArcNameSize]);
// Index of the entry named `file` (plus ".gz" in a compressed directory) in
// an open archive's table, or -1.
int32_t Lib_PcArcFind(int32_t archive, int32_t table, const char* file);
