#include "engine/files/file_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/core/thread.h"
#include "engine/files/archive.h"
#include "engine/files/load_stored.h"
#include "engine/core/charcode.h"
#include "platform/plat_time.h"

// process-wide: made afresh by Lib_FileInit
FileLoadTableT FileLoadTable;
// process-wide: a count read as differences
std::atomic<uint32_t> FileReadCount{0};

namespace {

// Room for an operating-system path: the prefix, the user id and a name of
// 255 Shift-JIS bytes, which may grow to three times that in UTF-8.
constexpr size_t kPathSize = 1024;

bool StartsWith(const char* s, const char* prefix) { return std::strncmp(s, prefix, std::strlen(prefix)) == 0; }

bool IsGzName(const char* name) { return std::strstr(name, ".gz") || std::strstr(name, ".cdf"); }

// The whole-name test: bytes below 0x80 stand alone, 0xC0-0xDF, 0xE0-0xEF and
// 0xF0-0xF7 lead sequences of 2, 3 and 4 bytes continued by 0x80-0xBF.
bool IsUtf8Name(const char* name) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(name);
    while (*p) {
        uint32_t n;
        if (*p < 0x80) n = 1;
        else if (*p >= 0xC0 && *p <= 0xDF) n = 2;
        else if (*p >= 0xE0 && *p <= 0xEF) n = 3;
        else if (*p >= 0xF0 && *p <= 0xF7) n = 4;
        else return false;
        for (uint32_t i = 1; i < n; ++i)
            if ((p[i] & 0xC0) != 0x80) return false;
        p += n;
    }
    return true;
}

bool IsAscii(const char* name) {
    for (const uint8_t* p = reinterpret_cast<const uint8_t*>(name); *p; ++p)
        if (*p >= 0x80) return false;
    return true;
}

// Characters of a Shift-JIS string as the decoder steps through it.
size_t SjisCharCount(const char* s) {
    size_t count = 0;
    for (const uint8_t* p = reinterpret_cast<const uint8_t*>(s); *p; ++count) {
        uint8_t c = *p;
        bool single = c <= 0x80 || (c >= 0xA0 && c <= 0xDF) || c >= 0xFD;
        p += single || !p[1] ? 1 : 2;
    }
    return count;
}

size_t Utf8CharCount(const char* s) {
    size_t count = 0;
    for (const uint8_t* p = reinterpret_cast<const uint8_t*>(s); *p; ++p)
        if ((*p & 0xC0) != 0x80) ++count;
    return count;
}

bool ReadAll(int fd, uint8_t* buffer, uint64_t bytes) {
    while (bytes > 0) {
        size_t step = bytes > (1u << 30) ? (1u << 30) : size_t(bytes);
        ssize_t got = ::read(fd, buffer, step);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        bytes -= uint64_t(got);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, uint64_t bytes) {
    while (bytes > 0) {
        size_t step = bytes > (1u << 30) ? (1u << 30) : size_t(bytes);
        ssize_t put = ::write(fd, data, step);
        if (put < 0 && errno == EINTR) continue;
        if (put == 0) errno = EIO;
        if (put <= 0) return false;
        data += put;
        bytes -= uint64_t(put);
    }
    return true;
}

bool ReadFromFd(void* context, uint8_t* buffer, uint64_t bytes) {
    return ReadAll(*static_cast<int*>(context), buffer, bytes);
}

// A buffer of a load: from a heap, or the data of a new cache entry.
struct LoadBuffer {
    uint8_t* data = nullptr;
    CacheEntry* entry = nullptr;
    uint32_t heap = 0;
};

bool TakeBuffer(uint32_t heap, bool toCache, const char* name, uint64_t bytes, uint32_t align, LoadBuffer* out) {
    out->heap = heap;
    if (toCache) {
        out->data = static_cast<uint8_t*>(Lib_CashAlloc(name, bytes, align));
        out->entry = Lib_CashEntryOf(out->data, align);
    } else {
        out->data = static_cast<uint8_t*>(Lib_MemAlloc(int(heap), bytes, align));
        out->entry = nullptr;
    }
    return out->data != nullptr;
}

void DropBuffer(LoadBuffer* b) {
    if (b->entry) Lib_CashRemove(b->entry);
    else if (b->data) Lib_MemFree(int(b->heap), b->data);
    b->data = nullptr;
    b->entry = nullptr;
}

// The idle loader waits here (with the loader mutex) for a request or a
// stop; the bound only limits the damage of a wake-up that was missed.
// process-wide: the loader thread's wake-up
std::condition_variable g_loaderWake;
constexpr auto kLoaderIdleBound = std::chrono::milliseconds(20);

// Whether the loader thread has been asked to stop (checked between files so
// that shutdown does not wait for a whole pass).
bool LoaderStopAsked() {
    int32_t slot = FileLoadTable.thread;
    if (slot < 0 || slot >= kThreadSlots || !ThreadTable[slot]) return false;
    return ThreadTable[slot]->control.load(std::memory_order_acquire) & THREAD_STOP;
}

}  // namespace

// --- Gzip files ----------------------------------------------------------------

bool Lib_GzSize(const uint8_t* data, uint64_t n, uint32_t* size) {
    if (!data || n < kGzMinSize) return false;
    const uint8_t* t = data + n - 4;
    *size = uint32_t(t[0]) | uint32_t(t[1]) << 8 | uint32_t(t[2]) << 16 | uint32_t(t[3]) << 24;
    // Deflate makes at most 1032 bytes of one: a larger size is a damaged
    // field, not a file too large for memory.
    return uint64_t(*size) <= n * 1032;
}

bool Lib_GzInflate(const uint8_t* data, uint64_t n, uint8_t* out, uint32_t size) {
    if (!data || n < kGzMinSize || n > UINT_MAX || (!out && size)) return false;
    uint8_t spare = 0;
    z_stream z{};
    if (inflateInit2(&z, 31) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(n);
    z.next_out = out ? out : &spare;
    z.avail_out = size;
    int r = inflate(&z, Z_FINISH);
    bool ok = r == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    return ok;
}

// --- Shared by the disk and archive readers ---------------------------------

LoadStep Lib_LoadStored(const LoadJob& job, void** data, uint32_t* size, CacheEntry** entry) {
    *entry = nullptr;
    bool toCache = job.type == kFileTypeCache;
    if (!toCache && !job.gz && job.stored == 0) return LOAD_EMPTY;
    LoadBuffer in;
    // A type-3 gzip file is read into heap 1 and inflated into the cache.
    if (!TakeBuffer(job.gz && toCache ? uint32_t(HEAP_FILE) : job.type, toCache && !job.gz, job.cacheName, job.stored,
                    job.align, &in))
        return LOAD_NO_BUFFER;
    FileReadCount.fetch_add(1, std::memory_order_relaxed);
    if (!job.read(job.context, in.data, job.stored)) {
        DropBuffer(&in);
        return LOAD_READ_FAILED;
    }
    if (!job.gz) {
        *data = in.data;
        if (size) *size = uint32_t(job.stored);
        *entry = in.entry;
        return LOAD_DONE;
    }
    uint32_t inflated;
    if (!Lib_GzSize(in.data, job.stored, &inflated)) {
        DropBuffer(&in);
        return LOAD_BAD_GZIP;
    }
    if (!toCache && inflated == 0) {
        // The member is still checked, so that damage is told as damage.
        bool ok = Lib_GzInflate(in.data, job.stored, nullptr, 0);
        DropBuffer(&in);
        return ok ? LOAD_EMPTY : LOAD_BAD_GZIP;
    }
    LoadBuffer out;
    if (!TakeBuffer(job.type, toCache, job.cacheName, inflated, job.align, &out)) {
        DropBuffer(&in);
        return LOAD_NO_OUTPUT;
    }
    bool ok = Lib_GzInflate(in.data, job.stored, out.data, inflated);
    DropBuffer(&in);
    if (!ok) {
        DropBuffer(&out);
        return LOAD_BAD_GZIP;
    }
    *data = out.data;
    if (size) *size = inflated;
    *entry = out.entry;
    return LOAD_DONE;
}

bool Lib_LoadFromCache(const char* name, void** data, uint32_t* size, CacheEntry** pinned) {
    for (;;) {
        void* found = nullptr;
        uint64_t bytes = 0;
        int32_t state = Lib_CashLookup(name, &found, &bytes, pinned);
        if (state < 0) return false;
        if (state == 1) {
            *data = found;
            if (size) *size = uint32_t(bytes);
            return true;
        }
        Plat_SleepMs(1);
    }
}

// --- Names and paths -----------------------------------------------------------

bool Lib_FileNameNormalise(char* name, char out[kFileNameSize]) {
    if (out) out[0] = 0;
    if (!name || !out) return false;
    Lib_StrLowerSjis(name);
    size_t len = ::strnlen(name, kFileNameSize);
    if (len >= kFileNameSize) return false;
    if (IsAscii(name) || !IsUtf8Name(name)) {
        std::memcpy(out, name, len + 1);
        return true;
    }
    char sjis[kCharConvSize];
    Lib_Utf8ToSjis(name, len, sjis);
    // A character without a Shift-JIS code ends the conversion early.
    if (SjisCharCount(sjis) != Utf8CharCount(name) || std::strlen(sjis) >= kFileNameSize) {
        out[0] = 0;
        return false;
    }
    std::memcpy(out, sjis, std::strlen(sjis) + 1);
    // The caller's buffer was lower-cased as Shift-JIS, which may pass over
    // a letter after a UTF-8 byte; the converted name is lower-cased again.
    Lib_StrLowerSjis(out);
    return true;
}

bool Lib_FileCacheTag(const char* name, int32_t id, uint32_t tag, uint32_t onlyUpTo) {
    char copy[kFileNameSize], canon[kFileNameSize];
    size_t len = name ? ::strnlen(name, kFileNameSize) : 0;
    if (len >= kFileNameSize) return false;
    if (len) std::memcpy(copy, name, len);
    copy[len] = 0;
    if (!Lib_FileNameNormalise(copy, canon)) return false;
    return Lib_CashSetTag(canon, id, tag, onlyUpTo);
}

int Lib_FileOpenRegular(const char* path) {
    if (!path) return -1;
    // Non-blocking, so that a FIFO without a writer does not hold the caller.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Lib_FileMakePath(const char* name, char* out, size_t outSize) {
    if (!out || outSize == 0) return false;
    out[0] = 0;
    if (!name || ::strnlen(name, kFileNameSize) >= kFileNameSize) return false;
    // Operating-system paths are UTF-8: a name that is not valid UTF-8 as a
    // whole is Shift-JIS and is converted.
    char utf8[kPathSize];
    const char* osName = name;
    if (!IsUtf8Name(name)) {
        Lib_SjisToUtf8Buf(name, utf8, sizeof utf8);
        if (Utf8CharCount(utf8) != SjisCharCount(name)) return false;
        osName = utf8;
    }
    const char* root = "";
    int n;
    if (StartsWith(osName, "user/") || StartsWith(osName, "data/"))
        n = std::snprintf(out, outSize, "%s%s", root, osName);
    else if (StartsWith(osName, "save/") || StartsWith(osName, "screenshot/"))
        n = std::snprintf(out, outSize, "%suser/%s/%s", root, UserId, osName);
    else
        n = std::snprintf(out, outSize, "%sdata/%s", root, osName);
    if (n < 0 || size_t(n) >= outSize) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool Lib_PathIsArchive(const char* name) {
    if (!name) return false;
    return !StartsWith(name, "user/") && !StartsWith(name, "save/") && !StartsWith(name, "screenshot/");
}

// --- Synchronous read and write ------------------------------------------------

bool Lib_FileLoad(uint32_t type, char* name, void** result, uint32_t* size, uint32_t align, bool cacheCheck,
                  CacheEntry** pinned) {
    if (Lib_PathIsArchive(name)) return Lib_PcArcLoad(type, name, result, size, align, cacheCheck, pinned);
    bool gz = name && IsGzName(name);  // decided before lower-casing
    char canon[kFileNameSize];
    bool named = Lib_FileNameNormalise(name, canon);
    if (result) *result = nullptr;
    if (size) *size = 0;
    if (!named || !result || type >= HEAP_COUNT) return false;
    if (type == kFileTypeCache && cacheCheck && Lib_LoadFromCache(canon, result, size, pinned)) return true;

    char path[kPathSize];
    if (!Lib_FileMakePath(canon, path, sizeof path)) return false;
    int fd = Lib_FileOpenRegular(path);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || uint64_t(st.st_size) > UINT32_MAX) {
        ::close(fd);
        return false;
    }
    LoadJob job{type, canon, align, gz, uint64_t(st.st_size), ReadFromFd, &fd};
    CacheEntry* entry = nullptr;
    LoadStep step = Lib_LoadStored(job, result, size, &entry);
    ::close(fd);
    if (step != LOAD_DONE) return false;
    Lib_CashSetComplete(entry, pinned && entry);
    if (pinned && entry) *pinned = entry;
    return true;
}

bool Lib_FileExists(const char* name) {
    char copy[kFileNameSize];
    if (!name || std::snprintf(copy, sizeof copy, "%s", name) >= int(sizeof copy)) return false;
    if (Lib_PathIsArchive(copy)) return Lib_PcArcFileExists(copy);
    char canon[kFileNameSize], path[kPathSize];
    if (!Lib_FileNameNormalise(copy, canon) || !Lib_FileMakePath(canon, path, sizeof path)) return false;
    const int fd = Lib_FileOpenRegular(path);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

bool Lib_FileSave(const char* name, const void* data, uint32_t size) {
    if (!name) return true;
    bool gz = IsGzName(name);
    // Written names are lower-cased like read names, so that what is written
    // is found again on a case-sensitive file system.
    char copy[kFileNameSize], canon[kFileNameSize];
    size_t len = ::strnlen(name, kFileNameSize);
    if (len >= kFileNameSize) return false;
    std::memcpy(copy, name, len + 1);
    char path[kPathSize], temp[kPathSize + 8];
    if (!Lib_FileNameNormalise(copy, canon) || !Lib_FileMakePath(canon, path, sizeof path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::snprintf(temp, sizeof temp, "%s.tmp", path);

    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint64_t count = data ? size : 0;
    uint8_t* packed = nullptr;
    if (data && gz) {
        z_stream z{};
        if (deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            errno = ENOMEM;
            return false;
        }
        uint64_t bound = deflateBound(&z, size);
        packed = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, bound + 8, 256));
        int r = Z_MEM_ERROR;
        if (packed && bound <= UINT_MAX) {
            z.next_in = const_cast<Bytef*>(bytes);
            z.avail_in = size;
            z.next_out = packed;
            z.avail_out = uInt(bound);
            r = deflate(&z, Z_FINISH);
        }
        count = z.total_out;
        deflateEnd(&z);
        if (r != Z_STREAM_END) {
            Lib_MemFree(HEAP_FILE, packed);
            errno = ENOMEM;
            return false;
        }
        const uint32_t trailer[2] = {0, size};
        for (int i = 0; i < 8; ++i) packed[count + i] = uint8_t(trailer[i / 4] >> (8 * (i % 4)));
        count += 8;
        bytes = packed;
    }

    // The old file stays in place until the new one is complete on disk. A
    // write the system refuses (EFBIG past the file-size limit, ENOSPC)
    // leaves the old file whole and its errno for the caller to tell.
    bool ok = false;
    int refusal = 0;
    // A leftover temporary file (or a FIFO or link in its place) is replaced,
    // never opened: writing to a FIFO would wait for a reader.
    ::unlink(temp);
    int fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) refusal = errno;
    if (fd >= 0) {
        ok = WriteAll(fd, bytes, count) && ::fsync(fd) == 0;
        if (!ok) refusal = errno;
        const bool closed = ::close(fd) == 0;
        if (ok && !closed) refusal = errno;
        ok = ok && closed;
        ok = ok && std::rename(temp, path) == 0;
        if (!ok && !refusal) refusal = errno;
        if (!ok) {
            ::unlink(temp);
        } else {
            // Make the rename itself durable.
            char dir[kPathSize];
            std::memcpy(dir, path, std::strlen(path) + 1);
            char* slash = std::strrchr(dir, '/');
            if (slash) *slash = 0;
            else std::memcpy(dir, ".", 2);
            int dfd = ::open(dir[0] ? dir : "/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dfd >= 0) {
                ::fsync(dfd);
                ::close(dfd);
            }
        }
    }
    if (packed) Lib_MemFree(HEAP_FILE, packed);
    if (!ok) errno = refusal;
    return ok;
}

// --- Requests and the loader thread ---------------------------------------------

static int32_t LoaderThreadPass(void* unused);

bool Lib_FileInit() {
    if (FileLoadTable.thread >= 0) Lib_FileEnd();
    {
        std::lock_guard<std::mutex> lock(FileLoadTable.mutex);
        for (FileLoadRequest& r : FileLoadTable.slots) {
            if (r.flags.load(std::memory_order_relaxed) & 1) Lib_CashUnpin(r.pinned);  // ignored once reset
            r.pinned = nullptr;
            r.flags.store(0, std::memory_order_relaxed);
            r.state.store(0, std::memory_order_relaxed);
        }
        FileLoadTable.pending.store(0, std::memory_order_release);
    }
    Lib_PcArcOpen();
    int32_t slot = Lib_ThreadSet("Lib_FileLoadCB", LoaderThreadPass, THREAD_PRIORITY_NORMAL);
    FileLoadTable.thread = slot;
    if (slot < 0 || slot >= kThreadSlots || !ThreadTable[slot]) return false;
    Lib_ThreadStart(slot);
    return true;
}

void Lib_FileEnd() {
    int32_t slot = FileLoadTable.thread;
    if (slot >= 0 && slot < kThreadSlots && ThreadTable[slot]) {
        // Ask an idle loader to stop where it waits, so that it stops at once.
        {
            std::lock_guard<std::mutex> lock(FileLoadTable.mutex);
            ThreadTable[slot]->control.fetch_or(THREAD_STOP, std::memory_order_release);
        }
        g_loaderWake.notify_all();
    }
    if (FileLoadTable.thread >= 0) Lib_ThreadDel(FileLoadTable.thread);
    FileLoadTable.thread = -1;
    Lib_PcArcClose();
}

int32_t Lib_FileLoadReq(uint32_t type, const char* name, void** result, uint32_t* size, uint32_t align,
                        const FileLoadAfter* after, void** product) {
    if (!name || !result) return -1;
    size_t len = ::strnlen(name, kFileNameSize);
    if (len >= kFileNameSize) return -1;
    std::lock_guard<std::mutex> lock(FileLoadTable.mutex);
    for (int32_t i = 0; i < kFileLoadSlots; ++i) {
        FileLoadRequest& r = FileLoadTable.slots[i];
        if (r.flags.load(std::memory_order_relaxed) != 0) continue;  // in use, or still in its after-step
        r.result = result;
        *result = nullptr;
        r.size = size;
        if (size) *size = 0;
        r.align = align;
        r.type = type;
        std::memcpy(r.name, name, len + 1);
        r.pinned = nullptr;
        r.after = after && after->make && product ? after : nullptr;
        r.product = product;
        if (product) *product = nullptr;
        FileLoadTable.pending.fetch_add(1, std::memory_order_acq_rel);
        r.state.store(0, std::memory_order_release);
        r.flags.store(1, std::memory_order_release);
        g_loaderWake.notify_one();
        return i;
    }
    return -1;
}

void Lib_FileLoadEnd(int32_t slot) {
    if (slot < 0 || slot >= kFileLoadSlots) return;
    std::lock_guard<std::mutex> lock(FileLoadTable.mutex);
    FileLoadRequest& r = FileLoadTable.slots[slot];
    const uint8_t flags = r.flags.load(std::memory_order_relaxed);
    if ((flags & FILE_REQUEST_IN_USE) && r.state.load(std::memory_order_relaxed) == 0)
        FileLoadTable.pending.fetch_sub(1, std::memory_order_acq_rel);
    if (flags & FILE_REQUEST_AFTER) {
        // The loader is still working on the bytes: it finishes the slot.
        r.flags.store(FILE_REQUEST_AFTER, std::memory_order_release);
        return;
    }
    if (flags & FILE_REQUEST_IN_USE) Lib_CashUnpin(r.pinned);
    r.pinned = nullptr;
    r.flags.store(0, std::memory_order_release);
}

// The loader thread's pass: with nothing asked for it waits for a request
// instead of looking every millisecond; a pass called by hand never waits.
static int32_t LoaderThreadPass(void* unused) {
    if (FileLoadTable.pending.load(std::memory_order_acquire) <= 0) {
        std::unique_lock<std::mutex> lock(FileLoadTable.mutex);
        g_loaderWake.wait_for(lock, kLoaderIdleBound, [] {
            return FileLoadTable.pending.load(std::memory_order_acquire) > 0 || LoaderStopAsked();
        });
        return 0;
    }
    return Lib_FileLoadCB(unused);
}

namespace {

// Marks a request served (the loader mutex held): its state, and one less pending.
void Served(FileLoadRequest& r, bool ok) {
    r.state.store(ok ? 1 : -1, std::memory_order_release);
    FileLoadTable.pending.fetch_sub(1, std::memory_order_acq_rel);
}

// Hands the bytes of a request to its after-step (the loader mutex held),
// which runs once the mutex is let go.
struct AfterStep {
    const FileLoadAfter* step = nullptr;
    void* data = nullptr;
    uint32_t size = 0;
};
AfterStep BeginAfter(FileLoadRequest& r, void* data, uint32_t size) {
    r.flags.fetch_or(FILE_REQUEST_AFTER, std::memory_order_relaxed);
    return AfterStep{r.after, data, size};
}

// Runs the after-step without the mutex, then delivers its product, or, when
// the request was released meanwhile, disposes of everything it held.
void RunAfter(FileLoadRequest& r, const AfterStep& a) {
    void* product = a.step->make(a.data, a.size);
    std::lock_guard<std::mutex> lock(FileLoadTable.mutex);
    if (r.flags.load(std::memory_order_relaxed) & FILE_REQUEST_IN_USE) {
        *r.product = product;
        r.flags.store(FILE_REQUEST_IN_USE, std::memory_order_release);
        Served(r, true);
        return;
    }
    if (product && a.step->drop) a.step->drop(product);
    if (r.type != kFileTypeCache) Lib_MemFree(int(r.type), a.data);
    Lib_CashUnpin(r.pinned);
    r.pinned = nullptr;
    r.flags.store(0, std::memory_order_release);
}

}  // namespace

int32_t Lib_FileLoadCB(void*) {
    if (FileLoadTable.pending.load(std::memory_order_acquire) <= 0) return 0;
    for (FileLoadRequest& r : FileLoadTable.slots) {
        if (LoaderStopAsked()) return 0;
        bool readFile = false;
        AfterStep after;
        {
            std::lock_guard<std::mutex> lock(FileLoadTable.mutex);
            if (!(r.flags.load(std::memory_order_relaxed) & FILE_REQUEST_IN_USE) ||
                r.state.load(std::memory_order_relaxed) != 0)
                continue;
            char canon[kFileNameSize];
            void* data = nullptr;
            uint32_t size = 0;
            if (r.type == kFileTypeCache && Lib_FileNameNormalise(r.name, canon)) {
                uint64_t bytes = 0;
                int32_t cached = Lib_CashLookup(canon, &data, &bytes, &r.pinned);
                if (cached == 0) {  // another request is filling it: ask again later
                    *r.result = nullptr;
                    continue;
                }
                if (cached == 1) {
                    *r.result = data;
                    if (r.size) *r.size = uint32_t(bytes);
                    if (!r.after) {
                        Served(r, true);
                        continue;
                    }
                    after = BeginAfter(r, data, uint32_t(bytes));
                }
            }
            if (!after.step) {
                bool ok = Lib_FileLoad(r.type, r.name, &data, &size, r.align, false,
                                       r.type == kFileTypeCache ? &r.pinned : nullptr);
                *r.result = data;
                if (r.size) *r.size = size;
                if (!ok) Lib_DebugPrintf("Error -> Lib_FileLoadCB(%s)\n", r.name);
                if (ok && r.after) after = BeginAfter(r, data, size);
                else Served(r, ok);
                readFile = true;
            }
        }
        if (after.step) RunAfter(r, after);
        if (readFile) Plat_SleepMs(16);
    }
    Plat_SleepMs(1);
    return 0;
}
