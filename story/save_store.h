// The save-data store: 34 slots in one image mirrored to save/save.cdf, the
// SHA-1 digest of each slot's data in save/registry.cdf, and the save task
// that saves, loads and deletes a slot. The disk files are written by a
// worker thread, crash-safe: after a kill every slot reads old or new.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/save_sizes.h"
#include "engine/core/util.h"

inline constexpr uint32_t kSaveFlagSize = 102;
inline constexpr uint32_t kSaveInfoSize = 1296;
inline constexpr uint32_t kSavePictSize = 116754;  // 18-byte header, 228x128x4
inline constexpr uint32_t kSaveRegistrySize = 20 * kSaveSlots;

// Offset of part p (0 data, 1 information, 2 picture) of a slot in the image;
// slot 34 gives the image size.
constexpr uint32_t SavePartOffset(int32_t slot, int32_t part) {
    uint32_t at = kSaveFlagSize;
    for (int32_t i = 0; i < slot; ++i) at += SaveDataSize(i) + kSaveInfoSize + kSavePictSize;
    if (slot < kSaveSlots && part >= 1) at += SaveDataSize(slot);
    if (slot < kSaveSlots && part == 2) at += kSaveInfoSize;
    return at;
}
inline constexpr uint32_t kSaveImageSize = SavePartOffset(kSaveSlots, 0);
static_assert(SavePartOffset(0, 0) == 102 && SavePartOffset(0, 1) == 135854 && SavePartOffset(0, 2) == 137150);
static_assert(SavePartOffset(32, 0) == 8121766 && SavePartOffset(33, 0) == 8244195);
static_assert(kSaveImageSize == 8728397);

struct SaveInfo {
    char title[128];
    char subtitle[128];  // slots 0-31 end in "_%02d" of slot + 1
    char detail[1024];
    DateTime date;
};
static_assert(sizeof(SaveInfo) == kSaveInfoSize && offsetof(SaveInfo, date) == 1280);

struct SaveRequest {
    char title[128];
    char subtitle[128];
    char detail[1024];
    char icon[64];   // loaded for the picture part when picture is null
    char icon2[64];  // not read by the store
    const void* picture;
    uint32_t pictureSize;
    void* data;  // source of a save, destination of a load
    uint32_t dataSize;
};
static_assert(sizeof(SaveRequest) == 1440 && offsetof(SaveRequest, picture) == 1408 &&
              offsetof(SaveRequest, pictureSize) == 1416 && offsetof(SaveRequest, data) == 1424 &&
              offsetof(SaveRequest, dataSize) == 1432);

// Set when a load of the system slot found it empty (it is then created).
extern uint8_t SystemDataFresh;

// Start-up: loads both files (or creates them), starts the writer. False
// (store off) when the size table disagrees or memory is short. A damaged
// file is written afresh only once a copy of it is on disk (save.cdf.broken,
// .broken.2, ...); one that cannot be copied or read stays in place, and
// saving stays off for the run.
bool Lib_SaveInit();
// The store read from the bytes of save.cdf and registry.cdf (null: the
// file is missing) as start-up reads the files, without the disk and without
// a writer: nothing is ever written, and the slot checks and part reads
// answer from what was read. A store read this way keeps its buffers for
// the next read. False when memory is short.
bool Lib_SaveReadFrom(const uint8_t* save, uint64_t saveSize, const uint8_t* registry, uint64_t registrySize);
// Waits for the writer, stops it and frees the buffers.
void Lib_SaveEnd();

// part < 0 the image, 0 the slot's data, 1 information, 2 picture, other the
// flag area. 0 for a data size of a slot outside 0..33.
uint32_t Lib_SaveSizeGet(int32_t part, int32_t slot);
// "save/system<ext>", "save/quick<ext>" or "save/data%03d<ext>" into out
// (outSize bytes); empty for a slot outside 0..33.
void Lib_SaveFileName(int32_t slot, char* out, uint32_t outSize, const char* ext);
// op 1 write, 2 read, 3 clear, 4 pointer (stored in *(void**)data), other
// query, on the part a name of Lib_SaveFileName selects; flags bit 0 commits a
// write or clear to disk. Returns the part's flag; 0 for a name that selects
// no slot (nothing touched).
uint8_t Lib_SaveDataAccess(int32_t op, const char* name, void* data, uint32_t* outSize, uint32_t flags);
// open 1 reloads the table from disk, 0 commits it.
void Lib_SaveRegistryOpen(int32_t open);
// What a slot holds.
enum : int32_t { SLOT_VALID = 0, SLOT_EMPTY = 1, SLOT_BROKEN = 2 };
// SLOT_VALID (info copied, terminated, when given), SLOT_EMPTY, or
// SLOT_BROKEN (the data differs from its digest, or the system slot's block is
// of another version: said once on stderr at start-up); SLOT_EMPTY for a slot
// outside 0..33.
uint32_t Lib_SaveSlotCheck(int32_t slot, SaveInfo* info);

// What a save task does.
enum SaveTaskMode : int32_t { SAVE_TASK_SAVE = 0, SAVE_TASK_LOAD = 1, SAVE_TASK_DELETE = 2 };
// Task id, or -1 for a refused request.
int32_t Lib_SaveTaskSet(SaveTaskMode mode, const SaveRequest* request, int32_t slot);
// Where a save task is.
enum SaveTaskState : int32_t { SAVE_TASK_NO_TASK = -1, SAVE_TASK_RUNNING = 0, SAVE_TASK_FINISHED = 1 };
SaveTaskState Lib_SaveTaskResult(int32_t task);
// How a finished save task went.
enum SaveTaskCode : int32_t {
    SAVE_CODE_NO_TASK = -1,      // no save task of that id
    SAVE_CODE_OK = 0,
    SAVE_CODE_CREATED = 1,       // the slot was empty and has been created
    SAVE_CODE_BROKEN = 3,        // digest mismatch, data untouched
    SAVE_CODE_WRITE_FAILED = 4,
};
SaveTaskCode Lib_SaveTaskCode(int32_t task);
void Lib_SaveTaskEnd(int32_t task);
int32_t Lib_UtilitySaveCB(void* work);

// Hands the script record kept beside a game slot or the quick slot (see
// GSL_SavedScriptsMake) to the story that starts from its data, when it was
// made with the slot's data as it is now; else the story starts as from a
// save made without one. A load of a game slot does this itself.
void Lib_SaveRecordLoad(int32_t slot);

// Read-only views for the title's save check (one address for the run).
const uint8_t* Lib_SaveImageGet();
const uint8_t* Lib_SaveDigestGet(int32_t slot);

// The request of a system-slot save or load of SystemDataBlock.
void GSL_SystemSaveRequestBuild(SaveRequest* request);

// --- Writer control (tests and shutdown) -----------------------------------
// Commits pending changes (when the writer is free) and waits until every
// commit is on disk. False when a commit failed.
bool Lib_SaveFlush();
// Test seam: the writer stops for good after step n (1..4) of its next
// commit, as if the program were killed there. 0 turns it off.
void Lib_SaveWriterStopAfter(int32_t step);
// Test seam: the local time of the save dates (null: the real clock).
void Lib_SaveClockSet(DateTime* (*now)(DateTime*));
