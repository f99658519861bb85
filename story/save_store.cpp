#include "story/save_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engine/core/cache.h"
#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/thread.h"
#include "engine/files/file_loader.h"
#include "engine/files/file_ops.h"
#include "engine/files/message_table.h"
#include "platform/plat_vm.h"
#include "script/game_blocks.h"
#include "script/saved_position.h"
#include "story/game_state.h"
#include "ui/utility_dialog.h"

uint8_t SystemDataFresh;

namespace {

constexpr const char* kSaveName = "save/save.cdf";
constexpr const char* kRegistryName = "save/registry.cdf";
constexpr const char* kRegistryNextName = "save/registry_next.cdf";
constexpr uint64_t kMaxFileSize = 64ull << 20;
constexpr int32_t kAsideCopies = 10;  // name.broken, name.broken.2, ... name.broken.10

// What loading one of the files found.
enum FileState : int32_t { FILE_UNREADABLE = -2, FILE_DAMAGED = -1, FILE_MISSING = 0, FILE_GOOD = 1 };

enum : uint32_t { ST_START = 0, ST_WORK = 1, ST_RESULT = 10, ST_CLOSE = 99 };
// The save task's texts in system-text section 1.
enum : int32_t {
    TEXT_SAVING = 3,
    TEXT_SAVING_SYSTEM = 4,
    TEXT_DELETING = 7,
    TEXT_DELETING_SYSTEM = 8,
    TEXT_CREATED = 9,          // no system data yet: it is created
    TEXT_WRITE_FAILED = 11,
    TEXT_BROKEN = 13,
    // The notices of what start-up found.
    TEXT_DAMAGED_NOTICE = 14,    // save.cdf was damaged; the path of its copy follows
    TEXT_REBUILT_NOTICE = 15,    // registry.cdf was rebuilt from the slots' data: every saved slot loads
    TEXT_SAVING_OFF_NOTICE = 16, // saving is off; the path of the file that cannot be written follows
    TEXT_REBUILT_DAMAGED_NOTICE = 17,          // rebuilt; slots still show damaged
    TEXT_REBUILT_SESSION_NOTICE = 18,          // rebuilt in memory only: saving is off
    TEXT_REBUILT_SESSION_DAMAGED_NOTICE = 19,  // both
};

struct SlotBefore;

// The save task's work, behind the dialog's fields.
struct SaveTaskWork {
    UtilityDialogWork dialog;
    uint32_t state;
    SaveTaskMode mode;
    uint32_t done;
    uint32_t slot;
    int32_t dialogTask;
    int32_t nextState;
    SaveTaskCode result;
    uint32_t frames;
    SaveRequest* request;
    uint64_t needSeq;   // change number the task's writes carry, 0 none
    uint64_t commitNo;  // the commit that holds them, 0 not yet known
    SaveTaskCode code;
    SlotBefore* before;  // the slot as a save or deletion found it
};
static_assert(sizeof(SaveTaskWork) <= kUtilityWorkSize);

struct Store {
    uint8_t* image = nullptr;
    uint8_t* table = nullptr;   // 680 bytes, the live digests
    uint8_t* mirror = nullptr;  // the writer's copy of the image
    bool on = false;
    // Game thread: what changed since the last commit.
    bool flagsDirty = false;
    bool tableDirty = false;
    bool partDirty[kSaveSlots][3] = {};
    uint64_t changeSeq = 0;   // numbers every change
    uint64_t coveredSeq = 0;  // changes copied into the mirror
    uint64_t commitNo = 0;    // commits made
    // Shared with the writer.
    std::mutex mutex;
    std::condition_variable cv;
    bool pending = false;  // a commit waits for the writer
    bool busy = false;     // the writer works on one
    bool killed = false;   // test seam: the writer stopped for good
    bool mirrorReady = false;  // the writer's first job copies the loaded image
    std::atomic<uint64_t> writtenNo{0};
    uint8_t failed[64] = {};  // by commit number mod 64
    uint8_t mirrorTable[kSaveRegistrySize] = {};
    uint8_t diskTable[kSaveRegistrySize] = {};
    bool diskTableKnown = false;
    // A damaged or unreadable file stays where it is, with no copy of it
    // on disk: nothing is written until it has been dealt with.
    std::atomic<bool> savingOff{false};
    // What the player is told at the first load of the system slot, in this
    // order: the disk path of the copy of a damaged save.cdf, a registry
    // rebuilt from the slots' data, and the disk path of the file that keeps
    // saving off.
    char notice[256] = {};
    bool rebuiltNotice = false;
    char offNotice[256] = {};
    std::atomic<int32_t> stopAfter{0};
    int32_t thread = -1;
    // Game thread: each game slot's script record file as this run saved it
    // (recordKnown; null: the slot has none), and whether the next commit
    // carries it to the writer.
    uint8_t* record[kSaveSlots] = {};
    uint32_t recordSize[kSaveSlots] = {};
    bool recordKnown[kSaveSlots] = {};
    bool recordWaits[kSaveSlots] = {};
    // The writer's copies of a commit's records (null: the file goes), made
    // and freed by the game thread while the writer is idle.
    uint8_t* mirrorRecord[kSaveSlots] = {};
    uint32_t mirrorRecordSize[kSaveSlots] = {};
    bool mirrorRecordWaits[kSaveSlots] = {};
    // Set by the writer when the system refused a slot's record, cleared when
    // it writes or removes it.
    std::atomic<bool> recordLost[kSaveSlots] = {};
};

// process-wide: made afresh by Lib_SaveInit, released by Lib_SaveEnd
Store g;
// process-wide: a test seam (Lib_SaveClockSet)
DateTime* (*g_clock)(DateTime*) = nullptr;

uint8_t* Part(int32_t slot, int32_t part) { return g.image + SavePartOffset(slot, part); }
uint32_t PartSize(int32_t slot, int32_t part) {
    return part == 0 ? SaveDataSize(slot) : part == 1 ? kSaveInfoSize : kSavePictSize;
}
uint8_t& Flag(int32_t slot, int32_t part) { return g.image[part * kSaveSlots + slot]; }

void MarkPart(int32_t slot, int32_t part) {
    g.partDirty[slot][part] = true;
    g.flagsDirty = true;
    ++g.changeSeq;
}

// --- The writer --------------------------------------------------------------

bool WriterStop(int32_t step) {
    if (g.stopAfter.load() != step) return false;
    std::lock_guard<std::mutex> lock(g.mutex);
    g.killed = true;
    g.busy = false;
    g.pending = false;
    g.cv.notify_all();
    return true;
}

bool BlockIsZero(const uint8_t* p, uint32_t n) { return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0); }

// Copies n bytes into the writer's mirror block by block, leaving out the
// blocks that are the same already: the mirror's pages of empty slots are
// never touched, and take no resident memory. A mirror known to hold zeros
// is not read: only the image's blocks that hold something are copied.
void CopyToMirror(uint8_t* mirror, const uint8_t* image, uint32_t n, bool mirrorIsZero = false) {
    constexpr uint32_t kBlock = 4096;
    for (uint32_t at = 0; at < n; at += kBlock) {
        const uint32_t step = std::min(kBlock, n - at);
        const bool same = mirrorIsZero ? BlockIsZero(image + at, step) : std::memcmp(mirror + at, image + at, step) == 0;
        if (!same) std::memcpy(mirror + at, image + at, step);
    }
}

void RecordName(int32_t slot, char* out, uint32_t size) { Lib_SaveFileName(slot, out, size, ".scr"); }

// The script records of the commit, each written whole or removed. A record
// the system refuses leaves its save standing whole, as the commit wrote it:
// the loss is told on stderr, and the slot loads as a save with no record
// (recordLost; a file left under its name names other data, and is not
// taken).
void RecordsWrite() {
    for (int32_t s = 0; s < kSaveSlots; ++s) {
        if (!g.mirrorRecordWaits[s]) continue;
        g.mirrorRecordWaits[s] = false;
        char name[64];
        RecordName(s, name, sizeof name);
        if (!g.mirrorRecord[s]) {
            Lib_FileRemove(name);
            g.recordLost[s].store(false);
        } else if (Lib_FileSave(name, g.mirrorRecord[s], g.mirrorRecordSize[s])) {
            g.recordLost[s].store(false);
        } else {
            const int refusal = errno;
            g.recordLost[s].store(true);
            char path[1024];
            if (!Lib_FileMakePath(name, path, sizeof path)) std::snprintf(path, sizeof path, "%s", name);
            std::fprintf(stderr,
                         "vn: %s could not be written (%s); the save stands, and loads as one with no record of its "
                         "script files\n",
                         path, refusal ? std::strerror(refusal) : "the reason is unknown");
        }
    }
}

// Tells the first refused write of the run: the file's disk path, the reason.
void RefusalTell(const char* name, int err) {
    char path[1024];
    if (!Lib_FileMakePath(name, path, sizeof path)) std::snprintf(path, sizeof path, "%s", name);
    Lib_WriteRefusalTell(path, err);
}

int32_t Lib_SaveWriteCB(void*) {
    if (!g.mirrorReady) {
        // Start-up leaves this copy to the writer; the store counts as busy
        // until it is done, and nothing changes the image meanwhile. The
        // image was written whole by the read: once copied, its empty
        // slots' pages of zeros need not stay resident.
        Plat_VmZero(g.mirror, kSaveImageSize);
        CopyToMirror(g.mirror, g.image, kSaveImageSize, true);
        Plat_VmDropZeroPages(g.image, kSaveImageSize);
        std::lock_guard<std::mutex> lock(g.mutex);
        g.mirrorReady = true;
        g.busy = false;
        g.cv.notify_all();
        return 0;
    }
    uint64_t number;
    {
        std::unique_lock<std::mutex> lock(g.mutex);
        if (!g.cv.wait_for(lock, std::chrono::milliseconds(20), [] { return g.pending && !g.killed; })) return 0;
        g.pending = false;
        g.busy = true;
        number = g.commitNo;
    }
    const bool off = g.savingOff.load();
    bool ok = !off;  // said at start-up: saving is off
    // The file the system refused, and why.
    const char* refused = nullptr;
    int refusal = 0;
    const auto save = [&](const char* name, const void* data, uint32_t size) {
        if (Lib_FileSave(name, data, size)) return true;
        refusal = errno;
        refused = name;
        return false;
    };
    bool tableChanged = !g.diskTableKnown || std::memcmp(g.mirrorTable, g.diskTable, kSaveRegistrySize) != 0;
    if (ok && tableChanged) ok = save(kRegistryNextName, g.mirrorTable, kSaveRegistrySize);
    if (WriterStop(1)) return 0;
    ok = ok && save(kSaveName, g.mirror, kSaveImageSize);
    if (WriterStop(2)) return 0;
    // With save.cdf and registry_next.cdf on disk the commit stands: a start
    // takes registry_next.cdf up while registry.cdf lacks its digests. What
    // the system refuses from here on is told on stderr, and the commit
    // counts as written; registry_next.cdf stays until registry.cdf holds it.
    if (ok) RecordsWrite();
    bool tidy = ok && tableChanged;
    if (tidy && save(kRegistryName, g.mirrorTable, kSaveRegistrySize)) {
        std::memcpy(g.diskTable, g.mirrorTable, kSaveRegistrySize);
        g.diskTableKnown = true;
    } else {
        tidy = false;
    }
    if (WriterStop(3)) return 0;
    if (tidy && !Lib_FileRemove(kRegistryNextName)) {
        refusal = errno;
        refused = kRegistryNextName;
    }
    if (WriterStop(4)) return 0;
    if (refused && !off) RefusalTell(refused, refusal);
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.failed[number % 64] = ok ? 0 : 1;
        g.busy = false;
        g.writtenNo.store(number, std::memory_order_release);
    }
    g.cv.notify_all();
    return 0;
}

// Copies every change into the mirror and wakes the writer; false while the
// writer is busy (the changes wait for a later call).
bool CommitTry() {
    if (!g.on || g.coveredSeq == g.changeSeq) return true;
    std::lock_guard<std::mutex> lock(g.mutex);
    if (g.busy || g.pending || g.killed) return false;
    if (g.flagsDirty) std::memcpy(g.mirror, g.image, kSaveFlagSize);
    for (int32_t s = 0; s < kSaveSlots; ++s)
        for (int32_t p = 0; p < 3; ++p)
            if (g.partDirty[s][p]) {
                CopyToMirror(g.mirror + SavePartOffset(s, p), Part(s, p), PartSize(s, p));
                g.partDirty[s][p] = false;
            }
    std::memcpy(g.mirrorTable, g.table, kSaveRegistrySize);
    for (int32_t s = 0; s < kSaveSlots; ++s) {
        if (!g.recordWaits[s]) continue;
        if (g.mirrorRecord[s]) Lib_MemFree(HEAP_FILE, g.mirrorRecord[s]);
        g.mirrorRecord[s] = g.record[s] ? static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, g.recordSize[s], 16)) : nullptr;
        if (g.mirrorRecord[s]) std::memcpy(g.mirrorRecord[s], g.record[s], g.recordSize[s]);
        g.mirrorRecordSize[s] = g.mirrorRecord[s] ? g.recordSize[s] : 0;
        g.mirrorRecordWaits[s] = true;
        g.recordWaits[s] = false;
    }
    g.flagsDirty = g.tableDirty = false;
    g.coveredSeq = g.changeSeq;
    ++g.commitNo;
    g.pending = true;
    g.cv.notify_all();
    return true;
}

void CommitAll() {
    g.flagsDirty = g.tableDirty = true;
    for (auto& slot : g.partDirty)
        for (bool& p : slot) p = true;
    ++g.changeSeq;
    CommitTry();
}

// --- Loading -----------------------------------------------------------------

// The whole file into a heap-1 buffer; null when missing, unreadable or too
// large. *found: FILE_MISSING, FILE_UNREADABLE (something that is not a
// regular file stands under the name, or it cannot be opened; nothing waits
// on a FIFO), else FILE_GOOD.
uint8_t* ReadFile(const char* name, uint64_t* size, FileState* found) {
    char path[1024];
    *size = 0;
    *found = FILE_MISSING;
    if (!Lib_FileMakePath(name, path, sizeof path)) return nullptr;
    int fd = Lib_FileOpenRegular(path);
    if (fd < 0) {
        struct stat st;
        if (::lstat(path, &st) == 0 || errno != ENOENT) *found = FILE_UNREADABLE;
        return nullptr;
    }
    *found = FILE_GOOD;
    struct stat st;
    uint8_t* buf = nullptr;
    if (::fstat(fd, &st) == 0 && uint64_t(st.st_size) <= kMaxFileSize) {
        uint64_t n = uint64_t(st.st_size);
        buf = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, n ? n : 1, 16));
        uint64_t got = 0;
        while (buf && got < n) {
            ssize_t r = ::read(fd, buf + got, n - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += uint64_t(r);
        }
        *size = got;
    }
    ::close(fd);
    return buf;
}

// Inflates a gzip file into out (zeroed, `size` bytes). True only for one
// member of exactly `size` bytes followed by the trailer u32 0, u32 size.
bool Inflate(const uint8_t* file, uint64_t n, uint8_t* out, uint32_t size) {
    if (!file || n < 26) {
        std::memset(out, 0, size);
        return false;
    }
    z_stream z{};
    if (inflateInit2(&z, 31) != Z_OK) {
        std::memset(out, 0, size);
        return false;
    }
    z.next_in = const_cast<Bytef*>(file);
    z.avail_in = uInt(n);
    z.next_out = out;
    z.avail_out = size;
    int r = inflate(&z, Z_FINISH);
    uint64_t used = z.total_in, made = z.total_out;
    inflateEnd(&z);
    std::memset(out + made, 0, size - made);  // what did not inflate reads as zeros
    if (r != Z_STREAM_END || made != size || n - used != 8) return false;
    const uint8_t* t = file + used;
    uint32_t zero = uint32_t(t[0]) | uint32_t(t[1]) << 8 | uint32_t(t[2]) << 16 | uint32_t(t[3]) << 24;
    uint32_t total = uint32_t(t[4]) | uint32_t(t[5]) << 8 | uint32_t(t[6]) << 16 | uint32_t(t[7]) << 24;
    return zero == 0 && total == size;
}

// One of the two files from its bytes (exists false: missing); what did not
// load reads as zeros.
FileState LoadBytes(const uint8_t* file, uint64_t n, bool exists, uint8_t* out, uint32_t size) {
    if (!exists) {
        std::memset(out, 0, size);
        return FILE_MISSING;
    }
    return Inflate(file, n, out, size) ? FILE_GOOD : FILE_DAMAGED;
}

// Loads one of the two files into out (what did not load reads as zeros).
FileState LoadFile(const char* name, uint8_t* out, uint32_t size) {
    uint64_t n = 0;
    FileState found;
    uint8_t* file = ReadFile(name, &n, &found);
    const FileState got = LoadBytes(file, n, found == FILE_GOOD, out, size);
    if (file) Lib_MemFree(HEAP_FILE, file);
    return found != FILE_GOOD ? found : got;
}

// A digest of zeros marks a slot without one (no data hashes to it), so it
// is not compared.
bool SlotDigestMatches(int32_t slot, const uint8_t* digests) {
    static const uint8_t kNone[20] = {};
    if (std::memcmp(digests + 20 * slot, kNone, 20) == 0) return false;
    uint8_t sha[20];
    Lib_Sha1(Part(slot, 0), SaveDataSize(slot), sha);
    return std::memcmp(sha, digests + 20 * slot, 20) == 0;
}

// The system slot's data must carry the version the writer stamps; the game
// slots are not compared (see kBlockVersion).
bool SlotVersionKnown(int32_t slot) {
    return slot != kSaveSystemSlot || std::memcmp(Part(slot, 0), kBlockVersion, 4) == 0;
}

// One line for a saved system slot that would load but for its version.
void VersionRefusalTell() {
    const int32_t slot = kSaveSystemSlot;
    if (!Flag(slot, 0) || !SlotDigestMatches(slot, g.table) || SlotVersionKnown(slot)) return;
    char found[5] = {};
    for (int32_t i = 0; i < 4; ++i) {
        const uint8_t c = Part(slot, 0)[i];
        found[i] = c > 0x20 && c < 0x7F ? char(c) : '?';
    }
    std::fprintf(stderr, "vn: save slot %d (the system data) is of version %s, not %s; it is refused as damaged\n", slot,
                 found, kBlockVersion);
}

bool TimeBefore(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Copies a damaged file to the first free name of name.broken,
// name.broken.2, ... (an earlier copy is never replaced); true once the copy
// is on disk, its disk path in `where`. Says on stderr where the copy is or
// why there is none.
bool SetAside(const char* name, char* where, size_t whereSize) {
    char aside[64], oldest[64] = "";
    timespec oldestTime{};
    for (int32_t n = 1; n <= kAsideCopies; ++n) {
        if (n == 1) std::snprintf(aside, sizeof aside, "%s.broken", name);
        else std::snprintf(aside, sizeof aside, "%s.broken.%d", name, n);
        struct stat st;
        if (!Lib_FileMakePath(aside, where, whereSize)) break;
        if (::lstat(where, &st) == 0) {
            if (!oldest[0] || TimeBefore(st.st_mtim, oldestTime)) {
                std::memcpy(oldest, aside, sizeof aside);
                oldestTime = st.st_mtim;
            }
            continue;
        }
        if (Lib_FileCopy(name, aside)) {
            std::fprintf(stderr, "vn: %s is damaged; set aside as %s\n", name, aside);
            return true;
        }
        std::fprintf(stderr, "vn: %s is damaged and could not be copied to %s; it is left in place and saving is off "
                             "until it is moved away\n", name, aside);
        return false;
    }
    std::fprintf(stderr, "vn: %s is damaged and %d copies are set aside already (the oldest is %s); it is left in "
                         "place and saving is off until it or a copy is moved away\n", name, kAsideCopies, oldest);
    return false;
}

// Whether a file that loaded as `state` may be written over: a damaged one
// once its copy is on disk (where: the copy's disk path), an unreadable one
// never. Says on stderr why not.
bool MayRewrite(const char* name, FileState state, char* where, size_t whereSize) {
    where[0] = 0;
    if (state == FILE_DAMAGED) {
        if (SetAside(name, where, whereSize)) return true;
        where[0] = 0;
        return false;
    }
    if (state != FILE_UNREADABLE) return true;
    std::fprintf(stderr, "vn: %s is not a regular file or cannot be opened; it is left in place and saving is off "
                         "until it is moved away\n", name);
    return false;
}

// Whether a slot's data reads as a block of this game: nothing the checks of
// a load would have to repair, and for the system slot its version.
bool SlotPassesChecks(int32_t slot) {
    const uint32_t size = slot == kSaveSystemSlot ? sizeof(SystemData) : sizeof(GameState);
    void* copy = Lib_MemAlloc(HEAP_FILE, size, 16);
    if (!copy) return false;
    std::memcpy(copy, Part(slot, 0), size);
    bool sound = slot == kSaveSystemSlot ? GSL_SystemDataCheck(static_cast<SystemData*>(copy))
                                         : GSL_GameStateCheck(static_cast<GameState*>(copy));
    Lib_MemFree(HEAP_FILE, copy);
    return sound;
}

// Of a registry that could not be read as a whole the digests that still
// match their slot's data are kept (a SHA-1 match cannot be chance); a saved
// slot whose data passes the checks gets its digest anew; every other stored
// slot checks broken.
// Returns how many slots got their digest anew.
int32_t RegistryRebuild() {
    int32_t renewed = 0;
    for (int32_t s = 0; s < kSaveSlots; ++s) {
        if (SlotDigestMatches(s, g.table)) continue;
        if (Flag(s, 0) && SlotPassesChecks(s)) {
            Lib_Sha1(Part(s, 0), SaveDataSize(s), g.table + 20 * s);
            ++renewed;
        } else {
            std::memset(g.table + 20 * s, 0, 20);
        }
    }
    if (renewed)
        std::fprintf(stderr, "vn: %s is rebuilt%s: %d saved slot%s whose data passes the game-state checks load%s again\n",
                     kRegistryName, g.savingOff.load() ? " in memory" : "", renewed, renewed == 1 ? "" : "s",
                     renewed == 1 ? "s" : "");
    return renewed;
}

// A registry_next.cdf left by a stop between the writer's steps is taken
// when the image holds the data it describes.
void Recover() {
    uint8_t next[kSaveRegistrySize];
    uint64_t n = 0;
    FileState found;
    uint8_t* file = ReadFile(kRegistryNextName, &n, &found);
    if (found == FILE_MISSING) return;
    if (found == FILE_UNREADABLE)
        std::fprintf(stderr, "vn: %s is not a regular file or cannot be opened; it is ignored\n", kRegistryNextName);
    bool whole = Inflate(file, n, next, kSaveRegistrySize);
    if (file) Lib_MemFree(HEAP_FILE, file);
    bool take = false;
    for (int32_t s = 0; whole && s < kSaveSlots && !take; ++s)
        if (std::memcmp(next + 20 * s, g.table + 20 * s, 20) != 0 && SlotDigestMatches(s, next)) take = true;
    if (take) std::memcpy(g.table, next, kSaveRegistrySize);
    if (g.savingOff.load()) return;
    // The file stays for the next start until registry.cdf holds what it took.
    if (take && !Lib_FileSave(kRegistryName, g.table, kSaveRegistrySize)) {
        RefusalTell(kRegistryName, errno);
        return;
    }
    if (take) {
        std::memcpy(g.diskTable, g.table, kSaveRegistrySize);
        g.diskTableKnown = true;
    }
    Lib_FileRemove(kRegistryNextName);
}

bool SizesAgree() {
    for (int32_t s = 0; s < kSaveSlots; ++s)
        if (SaveBinSizeTable[s] != SaveDataSize(s)) return false;
    return true;
}

// --- Helpers of the task -------------------------------------------------------

// Copies at most max bytes of src (a field that may lack its terminator),
// cut on a character boundary to fit size - 1 bytes, terminated.
void CopyCut(char* dst, uint32_t size, const char* src, uint32_t max) {
    std::memset(dst, 0, size);
    if (!src) return;
    char bounded[1025];
    uint32_t n = uint32_t(::strnlen(src, max));
    if (n > 1024) n = 1024;
    std::memcpy(bounded, src, n);
    bounded[n] = 0;
    uint32_t at = 0;
    while (bounded[at]) {
        uint32_t len = Lib_CharLen(bounded + at);
        if (at + len > size - 1) break;
        at += len;
    }
    std::memcpy(dst, bounded, at);
}

int32_t ParseSlot(const char* name) {
    if (!name) return -1;
    size_t len = ::strnlen(name, 256);
    if (len < 10 || len >= 256) return -1;
    if (std::strstr(name, "system")) return kSaveSystemSlot;
    if (std::strstr(name, "quick")) return kSaveQuickSlot;
    const char* p = name + len - 10;
    if (*p < '0' || *p > '9') return -1;
    int32_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v >= kSaveSlots) return -1;
    }
    return v;
}

// Waits (once, briefly) until the writer has its copy of the loaded image.
void WaitMirror() {
    std::unique_lock<std::mutex> lock(g.mutex);
    g.cv.wait(lock, [] { return g.mirrorReady; });
}

void ClearPart(int32_t slot, int32_t part) {
    WaitMirror();
    std::memset(Part(slot, part), 0, PartSize(slot, part));
    Flag(slot, part) = 0;
    MarkPart(slot, part);
}

void WritePart(int32_t slot, int32_t part, const void* data, uint32_t size) {
    WaitMirror();
    uint32_t whole = PartSize(slot, part);
    uint32_t n = size < whole ? size : whole;
    if (data && n) std::memcpy(Part(slot, part), data, n);
    std::memset(Part(slot, part) + n, 0, whole - n);
    Flag(slot, part) = 1;
    MarkPart(slot, part);
}

SaveTaskWork* TaskWork(int32_t task) {
    void* w = Lib_UtilityWorkGet(task);
    if (!w) return nullptr;
    TaskRecord* r = TaskTable.slots[task];
    return r->callback == Lib_UtilitySaveCB ? static_cast<SaveTaskWork*>(w) : nullptr;
}

// --- The script records -------------------------------------------------------
//
// Beside each game slot's data its script record (GSL_SavedScriptsMake) lies
// in a file of its own, save/data000.scr or save/quick.scr: "VNSR", u32 the
// record's size, the SHA-1 of the slot's data it was made with, the SHA-1 of
// the record, the record. The writer writes it with the commit that holds the
// slot, after save.cdf; it is taken only while the slot's digest is the one
// it names, so a record left by an older save or by a stop between the writes
// is never taken for the slot's; a slot without one loads as a save with no
// record, where its data places it.

constexpr char kRecordMagic[4] = {'V', 'N', 'S', 'R'};
constexpr uint32_t kRecordHead = 48;

// Keeps a game slot's script record for the next commit (and for the loads
// of this run).
void RecordWrite(int32_t slot, const GameState* state, const uint8_t* digest) {
    const uint8_t* record = nullptr;
    const uint32_t size = GSL_SavedScriptsMake(*state, &record);
    if (g.record[slot]) Lib_MemFree(HEAP_FILE, g.record[slot]);
    g.record[slot] = size ? static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, kRecordHead + size, 16)) : nullptr;
    g.recordSize[slot] = g.record[slot] ? kRecordHead + size : 0;
    g.recordKnown[slot] = g.recordWaits[slot] = true;
    g.recordLost[slot].store(false);
    if (uint8_t* file = g.record[slot]) {
        std::memcpy(file, kRecordMagic, 4);
        std::memcpy(file + 4, &size, 4);
        std::memcpy(file + 8, digest, 20);
        Lib_Sha1(record, size, file + 28);
        std::memcpy(file + kRecordHead, record, size);
    }
}

void RecordsFree() {
    for (int32_t s = 0; s < kSaveSlots; ++s) {
        if (g.record[s]) Lib_MemFree(HEAP_FILE, g.record[s]);
        if (g.mirrorRecord[s]) Lib_MemFree(HEAP_FILE, g.mirrorRecord[s]);
        g.record[s] = g.mirrorRecord[s] = nullptr;
        g.recordSize[s] = g.mirrorRecordSize[s] = 0;
        g.recordKnown[s] = g.recordWaits[s] = g.mirrorRecordWaits[s] = false;
        g.recordLost[s].store(false);
    }
}

// A numbered slot as a save or a deletion found it, kept until its commit is
// on disk: a commit the system refused puts the slot back, so that the slot
// list shows what the disk holds and no later commit writes what the player
// was told is not saved. (The system slot and the quick save are not put
// back: each is kept in memory and goes on from there, and the next commit
// writes it.) The parts follow the head.
struct SlotBefore {
    uint8_t flags[3];
    uint8_t digest[20];
    bool recordKnown;
    bool recordLost;
    uint8_t* record;  // a copy of the record this run kept (recordKnown)
    uint32_t recordSize;
};

uint32_t SlotBytes(int32_t slot) { return SavePartOffset(slot + 1, 0) - SavePartOffset(slot, 0); }

SlotBefore* SlotKeep(int32_t slot) {
    WaitMirror();
    auto* b = static_cast<SlotBefore*>(Lib_MemAlloc(HEAP_FILE, sizeof(SlotBefore) + SlotBytes(slot), 16));
    if (!b) return nullptr;
    for (int32_t p = 0; p < 3; ++p) b->flags[p] = Flag(slot, p);
    std::memcpy(b->digest, g.table + 20 * slot, 20);
    std::memcpy(b + 1, Part(slot, 0), SlotBytes(slot));
    b->recordKnown = g.recordKnown[slot];
    b->recordLost = g.recordLost[slot].load();
    b->recordSize = g.record[slot] ? g.recordSize[slot] : 0;
    b->record = b->recordSize ? static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, b->recordSize, 16)) : nullptr;
    if (b->record) std::memcpy(b->record, g.record[slot], b->recordSize);
    else b->recordSize = 0;
    return b;
}

void SlotBeforeFree(SlotBefore*& b) {
    if (!b) return;
    if (b->record) Lib_MemFree(HEAP_FILE, b->record);
    Lib_MemFree(HEAP_FILE, b);
    b = nullptr;
}

// Puts the slot back as it was kept, its record as the disk holds it (the
// refused commit wrote none): the one this run wrote last, else the file's.
void SlotPutBack(int32_t slot, SlotBefore*& b) {
    WaitMirror();
    std::memcpy(Part(slot, 0), b + 1, SlotBytes(slot));
    for (int32_t p = 0; p < 3; ++p) {
        Flag(slot, p) = b->flags[p];
        MarkPart(slot, p);
    }
    std::memcpy(g.table + 20 * slot, b->digest, 20);
    g.tableDirty = true;
    if (g.record[slot]) Lib_MemFree(HEAP_FILE, g.record[slot]);
    uint64_t size = b->recordSize;
    if (b->recordKnown) {
        g.record[slot] = b->record;
        b->record = nullptr;
    } else {
        char name[64];
        RecordName(slot, name, sizeof name);
        FileState found;
        g.record[slot] = ReadFile(name, &size, &found);
    }
    g.recordSize[slot] = g.record[slot] ? uint32_t(size) : 0;
    g.recordKnown[slot] = g.recordWaits[slot] = true;
    g.recordLost[slot].store(b->recordLost);
    SlotBeforeFree(b);
}

void SaveSlot(SaveTaskWork* w) {
    const SaveRequest& q = *w->request;
    int32_t slot = int32_t(w->slot);
    SaveInfo info{};
    CopyCut(info.title, sizeof info.title, q.title, sizeof q.title);
    if (slot < 32) {
        CopyCut(info.subtitle, sizeof info.subtitle - 3, q.subtitle, sizeof q.subtitle);
        const char suffix[4] = {'_', char('0' + (slot + 1) / 10), char('0' + (slot + 1) % 10), 0};
        std::strcat(info.subtitle, suffix);
    } else {
        CopyCut(info.subtitle, sizeof info.subtitle, q.subtitle, sizeof q.subtitle);
    }
    CopyCut(info.detail, sizeof info.detail, q.detail, sizeof q.detail);
    DateTime now{};
    if (g_clock) g_clock(&now);
    else Lib_LocalTimeGet(&now);
    now.zero = 0;
    info.date = now;
    WritePart(slot, 1, &info, sizeof info);

    if (q.picture) {
        WritePart(slot, 2, q.picture, q.pictureSize);
    } else {
        char icon[kFileNameSize] = {};
        CopyCut(icon, sizeof icon, q.icon, sizeof q.icon);
        void* data = nullptr;
        uint32_t size = 0;
        if (icon[0] && Lib_FileLoad(HEAP_GENERAL, icon, &data, &size, 16, false) && data) {
            WritePart(slot, 2, data, size);
        } else {
            WritePart(slot, 2, nullptr, 0);
        }
        if (data) Lib_MemFree(HEAP_GENERAL, data);
    }
    Lib_Sha1(q.data, q.dataSize, g.table + 20 * slot);
    g.tableDirty = true;
    WritePart(slot, 0, q.data, q.dataSize);
    if (slot != kSaveSystemSlot) RecordWrite(slot, static_cast<const GameState*>(q.data), g.table + 20 * slot);
}

bool NoticeWaiting() { return g.notice[0] || g.rebuiltNotice || g.offNotice[0]; }

// The rebuilt registry's notice: whether saved slots still show damaged, and
// whether the registry lives in memory only (saving is off, it is not written).
int32_t RebuiltText() {
    bool damaged = false;
    for (int32_t s = 0; s < kSaveSlots && !damaged; ++s) damaged = Lib_SaveSlotCheck(s, nullptr) == SLOT_BROKEN;
    if (g.savingOff.load()) return damaged ? TEXT_REBUILT_SESSION_DAMAGED_NOTICE : TEXT_REBUILT_SESSION_NOTICE;
    return damaged ? TEXT_REBUILT_DAMAGED_NOTICE : TEXT_REBUILT_NOTICE;
}

// Opens the one-button dialog of the first notice that waits and forgets it.
int32_t NoticeOpen() {
    char* path = g.notice[0] ? g.notice : g.rebuiltNotice ? nullptr : g.offNotice;
    const int32_t index = g.notice[0] ? TEXT_DAMAGED_NOTICE : g.rebuiltNotice ? RebuiltText() : TEXT_SAVING_OFF_NOTICE;
    char text[257];
    Lib_MesGetBuf(nullptr, 1, index, -1, text, sizeof text);
    if (path) {
        const size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, "\n%s", path);
        path[0] = 0;
    } else {
        g.rebuiltNotice = false;
    }
    return Lib_DialogNotice(DIALOG_ONE_BUTTON, text);
}

int32_t OpenProgress(int32_t index) {
    char text[257];
    Lib_MesGetBuf(nullptr, 1, index, -1, text, sizeof text);
    return Lib_DialogNotice(DIALOG_PROGRESS, text);
}

}  // namespace

// --- Start-up and shutdown -------------------------------------------------------

bool Lib_SaveInit() {
    if (g.on || g.image) Lib_SaveEnd();
    if (!SizesAgree()) {
        std::fprintf(stderr, "vn: the save size table disagrees with the save layout; saving is off\n");
        return false;
    }
    g.image = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, kSaveImageSize, 256));
    g.table = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, kSaveRegistrySize, 16));
    g.mirror = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, kSaveImageSize, 256));
    if (!g.image || !g.table || !g.mirror) {
        std::fprintf(stderr, "vn: no memory for the save image; saving is off\n");
        Lib_SaveEnd();
        return false;
    }
    g.flagsDirty = g.tableDirty = false;
    for (auto& slot : g.partDirty)
        for (bool& p : slot) p = false;
    g.changeSeq = g.coveredSeq = g.commitNo = 0;
    g.pending = g.killed = g.mirrorReady = false;
    g.busy = true;  // until the writer has copied the loaded image
    g.writtenNo.store(0);
    g.diskTableKnown = false;
    g.stopAfter.store(0);
    g.savingOff.store(false);
    g.notice[0] = g.offNotice[0] = 0;
    g.rebuiltNotice = false;
    std::memset(g.failed, 0, sizeof g.failed);

    // The dialog sheet stays in the named cache for the program's life.
    char sheet[kFileNameSize] = "data/utility/dialog/dialog.png";
    void* sheetData = nullptr;
    if (Lib_FileLoad(kFileTypeCache, sheet, &sheetData, nullptr, 16, true))
        if (CacheEntry* entry = Lib_CashGetHitInfo(sheet, -1)) entry->tag.store(2);

    Lib_FolderMake("save/");
    FileState reg = LoadFile(kRegistryName, g.table, kSaveRegistrySize);
    if (reg == FILE_GOOD) {
        std::memcpy(g.diskTable, g.table, kSaveRegistrySize);
        g.diskTableKnown = true;
    }
    FileState image = LoadFile(kSaveName, g.image, kSaveImageSize);
    // Neither file is written over before a copy of a damaged one is on disk.
    char where[sizeof g.notice];
    const bool registryWritable = MayRewrite(kRegistryName, reg, where, sizeof where);
    const bool saveWritable = MayRewrite(kSaveName, image, g.notice, sizeof g.notice);
    g.savingOff.store(!registryWritable || !saveWritable);
    if (g.savingOff.load() && !Lib_FileMakePath(registryWritable ? kSaveName : kRegistryName, g.offNotice, sizeof g.offNotice))
        std::snprintf(g.offNotice, sizeof g.offNotice, "%s", registryWritable ? kSaveName : kRegistryName);
    if (reg == FILE_DAMAGED || reg == FILE_UNREADABLE) g.rebuiltNotice = RegistryRebuild() > 0;
    Recover();
    VersionRefusalTell();

    g.thread = Lib_ThreadSet("Lib_SaveWriteCB", Lib_SaveWriteCB, THREAD_PRIORITY_NORMAL);
    if (g.thread < 0) {
        std::fprintf(stderr, "vn: the save writer could not be started; saving is off\n");
        Lib_SaveEnd();
        return false;
    }
    Lib_ThreadStart(g.thread);
    g.on = true;
    // A missing or damaged file is written afresh.
    if ((reg != FILE_GOOD || image != FILE_GOOD) && !g.savingOff.load()) CommitAll();
    return true;
}

bool Lib_SaveReadFrom(const uint8_t* save, uint64_t saveSize, const uint8_t* registry, uint64_t registrySize) {
    if (g.on || g.mirror) Lib_SaveEnd();
    if (!g.image) g.image = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, kSaveImageSize, 256));
    if (!g.table) g.table = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_FILE, kSaveRegistrySize, 16));
    if (!g.image || !g.table) {
        Lib_SaveEnd();
        return false;
    }
    const FileState reg = LoadBytes(registry, registrySize, registry != nullptr, g.table, kSaveRegistrySize);
    LoadBytes(save, saveSize, save != nullptr, g.image, kSaveImageSize);
    if (reg == FILE_DAMAGED) RegistryRebuild();
    VersionRefusalTell();
    g.mirrorReady = true;  // no writer copies the image
    return true;
}

void Lib_SaveEnd() {
    if (g.on) Lib_SaveFlush();
    g.on = false;
    if (g.thread >= 0) Lib_ThreadDel(g.thread);
    g.thread = -1;
    if (g.image) Lib_MemFree(HEAP_FILE, g.image);
    if (g.table) Lib_MemFree(HEAP_FILE, g.table);
    if (g.mirror) Lib_MemFree(HEAP_FILE, g.mirror);
    g.image = g.table = g.mirror = nullptr;
    RecordsFree();
}

bool Lib_SaveFlush() {
    if (!g.on) return false;
    for (;;) {
        bool all = CommitTry();
        std::unique_lock<std::mutex> lock(g.mutex);
        if (g.killed) return false;
        g.cv.wait(lock, [] { return g.killed || (!g.busy && !g.pending); });
        if (g.killed) return false;
        if (all && g.coveredSeq == g.changeSeq) return g.commitNo == 0 || !g.failed[g.commitNo % 64];
    }
}

void Lib_SaveWriterStopAfter(int32_t step) { g.stopAfter.store(step); }
void Lib_SaveClockSet(DateTime* (*now)(DateTime*)) { g_clock = now; }

// --- Parts ---------------------------------------------------------------------

uint32_t Lib_SaveSizeGet(int32_t part, int32_t slot) {
    if (part < 0) return kSaveImageSize;
    if (part == 0) return slot >= 0 && slot < kSaveSlots ? SaveDataSize(slot) : 0;
    if (part == 1) return kSaveInfoSize;
    if (part == 2) return kSavePictSize;
    return kSaveFlagSize;
}

void Lib_SaveFileName(int32_t slot, char* out, uint32_t outSize, const char* ext) {
    if (!out || !outSize) return;
    out[0] = 0;
    if (slot < 0 || slot >= kSaveSlots) return;
    if (!ext) ext = "";
    if (slot == kSaveSystemSlot) std::snprintf(out, outSize, "%s%s%s", "save/", "system", ext);
    else if (slot == kSaveQuickSlot) std::snprintf(out, outSize, "%s%s%s", "save/", "quick", ext);
    else std::snprintf(out, outSize, "%s%s%03d%s", "save/", "data", slot, ext);
}

uint8_t Lib_SaveDataAccess(int32_t op, const char* name, void* data, uint32_t* outSize, uint32_t flags) {
    int32_t slot = ParseSlot(name);
    if (slot < 0 || !g.image) return 0;
    int32_t part = std::strstr(name, ".bin.gz") ? 0 : std::strstr(name, ".prm.gz") ? 1 : 2;
    uint32_t size = PartSize(slot, part);
    if (outSize) *outSize = size;
    switch (op) {
    case 1:
        if (!data) return Flag(slot, part);
        WritePart(slot, part, data, size);
        break;
    case 2:
        if (data) std::memcpy(data, Part(slot, part), size);
        break;
    case 3:
        ClearPart(slot, part);
        break;
    case 4:
        WaitMirror();  // the caller may write through the pointer
        if (data) *static_cast<void**>(data) = Part(slot, part);
        break;
    default:
        break;
    }
    if ((op == 1 || op == 3) && (flags & 1)) CommitTry();
    return Flag(slot, part);
}

void Lib_SaveRegistryOpen(int32_t open) {
    if (!g.on) return;
    if (open == 1) {
        const FileState reg = LoadFile(kRegistryName, g.table, kSaveRegistrySize);
        char where[256];
        if (!MayRewrite(kRegistryName, reg, where, sizeof where)) g.savingOff.store(true);
        if (reg != FILE_GOOD) {
            g.tableDirty = true;
            ++g.changeSeq;
            CommitTry();
        }
        return;
    }
    g.tableDirty = true;
    ++g.changeSeq;
    CommitTry();
}

uint32_t Lib_SaveSlotCheck(int32_t slot, SaveInfo* info) {
    if (slot < 0 || slot >= kSaveSlots || !g.image) return SLOT_EMPTY;
    if (!Flag(slot, 0)) return SLOT_EMPTY;
    if (!SlotDigestMatches(slot, g.table) || !SlotVersionKnown(slot)) return SLOT_BROKEN;
    if (info) {
        std::memcpy(info, Part(slot, 1), sizeof *info);
        info->title[sizeof info->title - 1] = 0;
        info->subtitle[sizeof info->subtitle - 1] = 0;
        info->detail[sizeof info->detail - 1] = 0;
    }
    return SLOT_VALID;
}

void Lib_SaveRecordLoad(int32_t slot) {
    const bool game = slot >= 0 && slot < kSaveSlots && slot != kSaveSystemSlot;
    if (!game || Lib_SaveSlotCheck(slot, nullptr) != SLOT_VALID || g.recordLost[slot].load()) {
        GSL_SavedScriptsLoaded(nullptr, 0);
        return;
    }
    // What this run saved, else the disk's.
    uint8_t* read = nullptr;
    const uint8_t* file = g.record[slot];
    uint64_t n = g.recordSize[slot];
    if (!g.recordKnown[slot]) {
        char name[64];
        RecordName(slot, name, sizeof name);
        FileState found;
        file = read = ReadFile(name, &n, &found);
    }
    uint32_t size = 0;
    uint8_t sha[20];
    if (file && n >= kRecordHead) std::memcpy(&size, file + 4, 4);
    const bool whole = file && n >= kRecordHead && std::memcmp(file, kRecordMagic, 4) == 0 && size == n - kRecordHead &&
                       std::memcmp(file + 8, g.table + 20 * slot, 20) == 0 &&
                       (Lib_Sha1(file + kRecordHead, size, sha), std::memcmp(sha, file + 28, 20) == 0);
    GSL_SavedScriptsLoaded(whole ? file + kRecordHead : nullptr, whole ? size : 0);
    if (read) Lib_MemFree(HEAP_FILE, read);
}

const uint8_t* Lib_SaveImageGet() { return g.image; }
const uint8_t* Lib_SaveDigestGet(int32_t slot) {
    return g.table && slot >= 0 && slot < kSaveSlots ? g.table + 20 * slot : nullptr;
}

// --- The task ------------------------------------------------------------------

int32_t Lib_SaveTaskSet(SaveTaskMode mode, const SaveRequest* request, int32_t slot) {
    if (!g.on) {
        Lib_DebugPrintf("Error -> Lib_SaveTaskSet: the store is off\n");
        return -1;
    }
    if (slot < 0 || slot >= kSaveSlots || mode < SAVE_TASK_SAVE || mode > SAVE_TASK_DELETE) {
        Lib_DebugPrintf("Error -> Lib_SaveTaskSet(%d, slot %d)\n", mode, slot);
        return -1;
    }
    if (mode != SAVE_TASK_DELETE && (!request || !request->data || request->dataSize != SaveDataSize(slot))) {
        Lib_DebugPrintf("Error -> Lib_SaveTaskSet(%d, slot %d): data size %u, %u expected\n", mode, slot,
                        request ? request->dataSize : 0, SaveDataSize(slot));
        return -1;
    }
    auto* copy = static_cast<SaveRequest*>(Lib_MemAlloc(HEAP_GENERAL, sizeof(SaveRequest), 16));
    if (!copy) return -1;
    if (request) std::memcpy(copy, request, sizeof *copy);
    else std::memset(copy, 0, sizeof *copy);
    int32_t task = Lib_UtilitySet(uint32_t(mode), Lib_UtilitySaveCB);
    if (task < 0) {
        Lib_MemFree(HEAP_GENERAL, copy);
        Lib_DebugPrintf("Error -> Lib_SaveTaskSet: no task slot\n");
        return -1;
    }
    auto* w = static_cast<SaveTaskWork*>(Lib_UtilityWorkGet(task));
    w->mode = mode;
    w->slot = uint32_t(slot);
    w->dialogTask = -1;
    w->nextState = -1;
    w->request = copy;
    return task;
}

int32_t Lib_UtilitySaveCB(void* work) {
    auto* w = static_cast<SaveTaskWork*>(work);
    int32_t slot = int32_t(w->slot);
    switch (w->state) {
    case ST_START:
        if (w->mode == SAVE_TASK_LOAD && slot == kSaveSystemSlot && NoticeWaiting()) {
            // Before anything else the player learns what start-up found,
            // one notice at a time.
            w->dialogTask = NoticeOpen();
            w->nextState = ST_START;
            w->state = ST_CLOSE;
            return 0;
        }
        if (w->mode != SAVE_TASK_LOAD) {
            const bool system = slot == kSaveSystemSlot;
            w->dialogTask = OpenProgress(w->mode == SAVE_TASK_SAVE ? (system ? TEXT_SAVING_SYSTEM : TEXT_SAVING)
                                                                   : (system ? TEXT_DELETING_SYSTEM : TEXT_DELETING));
        }
        w->state = ST_WORK;
        return 0;
    case ST_WORK: {
        if (auto* d = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(w->dialogTask)))
            if (!d->answered) return 0;
        uint32_t check = Lib_SaveSlotCheck(slot, nullptr);
        if (w->mode == SAVE_TASK_LOAD) {
            if (check == SLOT_EMPTY) {
                w->result = SAVE_CODE_CREATED;
                w->nextState = ST_RESULT;
            } else if (check == SLOT_BROKEN) {
                w->result = SAVE_CODE_BROKEN;
                w->nextState = ST_RESULT;
            } else {
                std::memcpy(w->request->data, Part(slot, 0), SaveDataSize(slot));
                // A game slot's data goes straight to the story it starts.
                if (slot < kSaveSystemSlot) Lib_SaveRecordLoad(slot);
            }
            w->state = ST_CLOSE;
            return 0;
        }
        if (slot < kSaveSystemSlot) w->before = SlotKeep(slot);
        if (check != SLOT_EMPTY) {
            ClearPart(slot, 1);
            ClearPart(slot, 2);
            ClearPart(slot, 0);
        }
        if (w->mode == SAVE_TASK_SAVE) SaveSlot(w);
        w->needSeq = g.changeSeq;
        w->commitNo = 0;
        CommitTry();
        w->state = ST_CLOSE;
        return 0;
    }
    case ST_RESULT: {
        int32_t index = TEXT_WRITE_FAILED;
        if (w->result == SAVE_CODE_CREATED) {
            // The empty slot is saved afresh once the player has read why.
            index = TEXT_CREATED;
            w->mode = SAVE_TASK_SAVE;
            w->nextState = ST_START;
            if (slot == kSaveSystemSlot) SystemDataFresh = 1;
        } else if (w->result == SAVE_CODE_BROKEN) {
            index = TEXT_BROKEN;
        }
        char text[257];
        Lib_MesGetBuf(nullptr, 1, index, -1, text, sizeof text);
        w->dialogTask = Lib_DialogNotice(DIALOG_ONE_BUTTON, text);
        w->state = ST_CLOSE;
        return 0;
    }
    case ST_CLOSE: {
        if (auto* d = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(w->dialogTask)))
            if (!d->answered) return 0;
        if (w->frames < 60) ++w->frames;
        if (w->frames < 60) return 0;
        // The done word waits for the commit that holds the slot.
        if (w->needSeq && w->nextState < 0) {
            if (g.coveredSeq < w->needSeq && !CommitTry()) return 0;
            if (!w->commitNo) w->commitNo = g.commitNo;
            std::lock_guard<std::mutex> lock(g.mutex);
            if (g.killed || g.writtenNo.load(std::memory_order_acquire) < w->commitNo) return 0;
        }
        if (w->nextState != ST_RESULT) w->frames = 0;
        if (w->dialogTask >= 0) Lib_DialogClose(w->dialogTask);
        w->dialogTask = -1;
        if (w->nextState >= 0) {
            w->state = uint32_t(w->nextState);
            w->nextState = -1;
            return 0;
        }
        if (w->needSeq && w->result != SAVE_CODE_WRITE_FAILED) {
            bool failed;
            {
                std::lock_guard<std::mutex> lock(g.mutex);
                failed = g.failed[w->commitNo % 64] != 0;
            }
            w->needSeq = 0;
            if (failed && w->before) SlotPutBack(slot, w->before);
            SlotBeforeFree(w->before);
            if (failed) {
                w->code = SAVE_CODE_WRITE_FAILED;
                w->result = SAVE_CODE_WRITE_FAILED;
                w->state = ST_RESULT;  // "write failed"
                return 0;
            }
        }
        if (w->code == SAVE_CODE_OK && (w->result == SAVE_CODE_CREATED || w->result == SAVE_CODE_BROKEN ||
                                        w->result == SAVE_CODE_WRITE_FAILED))
            w->code = w->result;
        w->done = 1;
        return 0;
    }
    default:
        return 0;
    }
}

SaveTaskState Lib_SaveTaskResult(int32_t task) {
    SaveTaskWork* w = TaskWork(task);
    if (!w) return SAVE_TASK_NO_TASK;
    if (!w->done) CommitTry();
    return w->done ? SAVE_TASK_FINISHED : SAVE_TASK_RUNNING;
}

SaveTaskCode Lib_SaveTaskCode(int32_t task) {
    SaveTaskWork* w = TaskWork(task);
    return w ? w->code : SAVE_CODE_NO_TASK;
}

void Lib_SaveTaskEnd(int32_t task) {
    SaveTaskWork* w = TaskWork(task);
    if (!w) return;
    if (w->dialogTask >= 0) Lib_DialogClose(w->dialogTask);
    if (w->request) Lib_MemFree(HEAP_GENERAL, w->request);
    w->request = nullptr;
    SlotBeforeFree(w->before);
    Lib_TaskDel(uint32_t(task));
}

void GSL_SystemSaveRequestBuild(SaveRequest* request) {
    if (!request) return;
    std::memset(request, 0, sizeof *request);
    char title[256], sub[256], note[512], detail[1024];
    Lib_MesGetBuf(nullptr, 0, 0, -1, title, sizeof title);
    Lib_MesGetBuf(nullptr, 2, 10, -1, sub, sizeof sub);
    Lib_MesGetBuf(nullptr, 2, 12, -1, note, sizeof note);
    if (TextLanguage.load() == 1) std::snprintf(detail, sizeof detail, "%s\n\"%s\"", note, title);
    else std::snprintf(detail, sizeof detail, "\xE3\x80\x8C%s\xE3\x80\x8D\n%s", title, note);
    CopyCut(request->title, sizeof request->title, title, sizeof title);
    CopyCut(request->subtitle, sizeof request->subtitle, sub, sizeof sub);
    CopyCut(request->detail, sizeof request->detail, detail, sizeof detail);
    CopyCut(request->icon, sizeof request->icon, "data/utility/ICON0_SYS.tga", 64);
    CopyCut(request->icon2, sizeof request->icon2, "data/utility/ICON0_NON.tga", 64);
    request->picture = nullptr;
    request->pictureSize = 0;
    request->data = &SystemDataBlock;
    request->dataSize = sizeof(SystemData);
}
