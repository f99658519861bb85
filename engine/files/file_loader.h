// File loading: 128 request slots served by the loader thread
// "Lib_FileLoadCB", the synchronous read and write, disk paths and the gzip
// file format.
//
// Engine paths are under 256 bytes with '/' separators. Names beginning with
// "user/", "save/" or "screenshot/" are disk files; every other name is read
// from the archives (archive.h). Reading lower-cases the caller's name buffer
// in place, so the API takes mutable buffers.
//
// Gzip files (every name containing ".gz" or ".cdf"): one gzip member, then a
// u32 0 and the u32 uncompressed size (little-endian). Readers take the size
// from the last 4 bytes, which in a plain gzip file is the member's own size
// field.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

struct CacheEntry;

inline constexpr int32_t kFileLoadSlots = 128;
inline constexpr size_t kFileNameSize = 256;  // names are at most 255 bytes
// Type 3 reads into the named file cache; 0..4 otherwise name the heap.
inline constexpr uint32_t kFileTypeCache = 3;

// Work a requester has done on the loader thread with the bytes it asked
// for, after they are read and before the request is done, outside the
// loader mutex (a picture decoded there spares the game thread). `make`
// returns its product (null for none), which the requester receives with the
// bytes; `drop` disposes of a product whose request was released meanwhile.
struct FileLoadAfter {
    void* (*make)(const void* data, uint32_t size);
    void (*drop)(void* product);
};

enum : uint8_t {
    FILE_REQUEST_IN_USE = 0x01,
    FILE_REQUEST_AFTER = 0x02,  // the loader runs the after-step: the slot is not free yet
};

struct FileLoadRequest {
    std::atomic<uint8_t> flags;   // FILE_REQUEST_* (changed under the mutex)
    std::atomic<int32_t> state;   // 0 pending, 1 done, -1 failed (release/acquire)
    void** result;                // receives the data pointer
    uint32_t* size;               // receives the size, may be null
    uint32_t align;
    uint32_t type;
    char name[kFileNameSize];
    CacheEntry* pinned;  // the cache entry delivered to the slot, pinned until it is released
    const FileLoadAfter* after;   // null: none
    void** product;               // receives the after-step's product
};

struct FileLoadTableT {
    FileLoadRequest slots[kFileLoadSlots];
    std::atomic<int32_t> pending;  // requests made and not yet served
    std::mutex mutex;              // the loader mutex
    int32_t thread = -1;           // worker-thread slot of the loader
};
extern FileLoadTableT FileLoadTable;

// Files read from the disk or an archive (test hook and diagnostics).
extern std::atomic<uint32_t> FileReadCount;

// Start-up: clears the slots, opens the archives, starts the loader thread.
// False when the thread could not be made.
bool Lib_FileInit();
// Shutdown: stops the loader thread, then closes the archives.
void Lib_FileEnd();

// Queues a read. Slot 0..127, or -1 for a null name, a name of 256 bytes or
// more, or no free slot. *result is set to null (and *size to 0) at once.
// With `after`, its make runs on the bytes read (or found in the cache)
// before the request is done, and *product (set to null at once) receives
// what it made.
int32_t Lib_FileLoadReq(uint32_t type, const char* name, void** result, uint32_t* size,
                        uint32_t align, const FileLoadAfter* after = nullptr, void** product = nullptr);
// Releases a slot (served or not); a pending request is withdrawn. A cache
// entry delivered to the slot stays pinned (safe from Lib_CashFreeGroup)
// until then, so tag it (Lib_FileCacheTag) before releasing the slot. A
// request withdrawn during its after-step is finished by the loader, which
// then drops the product and frees a heap buffer nobody will take.
void Lib_FileLoadEnd(int32_t slot);
// One pass of the loader thread; returns 0 (the thread runs until stopped).
int32_t Lib_FileLoadCB(void* unused);

// The synchronous read: delivers the data (from heap `type`, or for type 3
// from the named cache) and its size. With cacheCheck, a type-3 file already
// cached is delivered from there (waiting while another thread fills it).
// An empty file, also a gzip file whose member holds nothing, fails into a
// heap (no buffer for 0 bytes) and is an entry without data in the cache.
// With `pinned`, a
// type-3 entry delivered is pinned and stored there (see Lib_CashUnpin).
bool Lib_FileLoad(uint32_t type, char* name, void** result, uint32_t* size, uint32_t align,
                  bool cacheCheck, CacheEntry** pinned = nullptr);
// The synchronous write, replacing the file atomically (a temporary file in
// the same folder, flushed, then renamed over it). Gzip names are compressed.
// A null name does nothing and succeeds; null data writes an empty file.
// False, with errno saying why and the old file as it was, when the write
// fails (the system's refusal: EFBIG past the file-size limit, ENOSPC,
// EROFS, EACCES).
bool Lib_FileSave(const char* name, const void* data, uint32_t size);

// Whether a file of that engine name can be read: held by an archive for an
// archive name, else present on the disk. The caller's text is not changed.
bool Lib_FileExists(const char* name);
// The operating-system path (UTF-8) of an engine path: "user/..." and
// "data/..." as they are, "save/..." and "screenshot/..." below
// "user/<UserId>/", anything else below "data/". False (and an empty output)
// for a null name, a name that does not convert, or an output that would not
// fit in outSize bytes.
bool Lib_FileMakePath(const char* name, char* out, size_t outSize);
// False for names beginning with "user/", "save/" or "screenshot/" (and for
// null), true for every other name.
bool Lib_PathIsArchive(const char* name);

// The one place names are normalised: lower-cases `name` in place (Shift-JIS
// aware), then writes to out the name in Shift-JIS (converted when the whole
// name is valid UTF-8). False for null, for names of 256 bytes or more and
// for names with a character that has no Shift-JIS code.
bool Lib_FileNameNormalise(char* name, char out[kFileNameSize]);
// Tags the cache entry of a file name (normalised here; the caller's text is
// not changed) or, for an empty name, of `id`, under the cache lock:
// Lib_CashSetTag. False when there is no such entry or the tag stayed.
bool Lib_FileCacheTag(const char* name, int32_t id, uint32_t tag, uint32_t onlyUpTo = UINT32_MAX);

// Opens a file for reading, without blocking on a FIFO or device and only
// when it is a regular file: anything else counts as missing (-1).
int Lib_FileOpenRegular(const char* path);

// --- Gzip files ---------------------------------------------------------------
inline constexpr uint32_t kGzMinSize = 18;  // smallest gzip member
// The uncompressed size from a gzip file's last 4 bytes; false when the file
// is shorter than 18 bytes or the size is more than its bytes can inflate to.
bool Lib_GzSize(const uint8_t* data, uint64_t n, uint32_t* size);
// Inflates one gzip member into exactly `size` bytes: true only when the
// member ends (CRC checked) after exactly that many bytes.
bool Lib_GzInflate(const uint8_t* data, uint64_t n, uint8_t* out, uint32_t size);
