#include "engine/files/file_loader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/files/file_ops.h"
#include "tests/engine/core/worker_wait.h"
#include "tests/engine/files/files_env.h"

namespace {

namespace fs = std::filesystem;

class FileLoaderTest : public FilesEnv {
protected:
    // Loader passes are driven by hand (no thread) unless a test starts it.
    void SetUp() override {
        FilesEnv::SetUp();
        for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
        FileLoadTable.pending = 0;
    }
    static std::string Loaded(uint32_t type, const std::string& engineName) {
        char name[256];
        std::snprintf(name, sizeof name, "%s", engineName.c_str());
        void* data = &data;
        uint32_t size = 77;
        if (!Lib_FileLoad(type, name, &data, &size, 16, true))
            return data || size ? "<dirty failure>" : "<failed>";
        std::string out(static_cast<char*>(data), size);
        if (type != kFileTypeCache) Lib_MemFree(int(type), data);
        return out;
    }
    static std::string MakePath(const std::string& name, size_t room = 1024) {
        char out[1024] = "junk";
        bool ok = Lib_FileMakePath(name.c_str(), out, room);
        return ok ? out : out[0] ? "<dirty failure>" : "<failed>";
    }
    static int32_t State(int32_t slot) { return FileLoadTable.slots[slot].state.load(std::memory_order_acquire); }
};

TEST_F(FileLoaderTest, PathsAreComposedAndBounded) {
    EXPECT_EQ(MakePath("save/save.cdf"), "user/4242/save/save.cdf");
    EXPECT_EQ(MakePath("user/x"), "user/x");
    EXPECT_EQ(MakePath("visual/a.ext"), "data/visual/a.ext");
    EXPECT_EQ(MakePath("save/\x83\x5C.txt"), "user/4242/save/\xE3\x82\xBD.txt");  // Shift-JIS to UTF-8
    EXPECT_EQ(MakePath("save/\x85\x40"), "<failed>");                           // no such character
    std::string n255 = "save/" + std::string(250, 'a');
    EXPECT_EQ(MakePath(n255), "user/4242/" + n255);
    EXPECT_EQ(MakePath(n255, 265), "<failed>");  // one byte short
    EXPECT_EQ(MakePath(n255 + "b"), "<failed>");
    EXPECT_FALSE(Lib_PathIsArchive("screenshot/a"));
    EXPECT_TRUE(Lib_PathIsArchive("Save/a"));
}

TEST_F(FileLoaderTest, SaveRoundTripsAndReplacesFilesWhole) {
    std::string thousand;
    for (int i = 0; i < 1000; ++i) thousand.push_back(char(i * 7));
    ASSERT_TRUE(Lib_FileSave("save/save.cdf", thousand.data(), 1000));
    std::string file = Read("user/4242/save/save.cdf");
    EXPECT_EQ(file.substr(file.size() - 8), std::string("\0\0\0\0\xE8\x03\0\0", 8));
    EXPECT_EQ(Loaded(0, "save/save.cdf"), thousand);
    for (const std::string small : {"", "x"}) {
        ASSERT_TRUE(Lib_FileSave("save/small.gz", small.data(), uint32_t(small.size())));
        EXPECT_EQ(Loaded(1, "save/small.gz"), small.empty() ? "<failed>" : small);  // no heap buffer of 0 bytes
        EXPECT_EQ(Loaded(kFileTypeCache, "save/small.gz"), small);
        Lib_CashFreeGroup(0);
    }
    ASSERT_TRUE(Lib_FileSave("save/raw.bin", "abc", 3));
    EXPECT_EQ(Read("user/4242/save/raw.bin"), "abc");

    // The old file is replaced only by a complete new one.
    EXPECT_FALSE(fs::exists("user/4242/save/save.cdf.tmp"));
    fs::create_directories("user/4242/save/save.cdf.tmp");  // the new file cannot be written
    EXPECT_FALSE(Lib_FileSave("save/save.cdf", "newer", 5));
    EXPECT_EQ(Loaded(0, "save/save.cdf"), thousand);
    EXPECT_FALSE(Lib_FileSave("save/no_folder/x.cdf", "a", 1));
}

TEST_F(FileLoaderTest, NamesAreLowerCasedAndNormalisedToOneFile) {
    ASSERT_TRUE(Lib_FileSave("save/MiXed.BIN", "mixed", 5));
    EXPECT_EQ(Loaded(0, "save/MIXED.bin"), "mixed");
    char missing[256] = "save/NoSuch.File";
    void* data = nullptr;
    EXPECT_FALSE(Lib_FileLoad(0, missing, &data, nullptr, 8, false));
    EXPECT_STREQ(missing, "save/nosuch.file");  // lower-cased even when the read fails

    Write("user/4242/save/\xE3\x82\xBD.bin", "so");
    uint32_t before = FileReadCount;
    EXPECT_EQ(Loaded(kFileTypeCache, "save/\xE3\x82\xBD.bin"), "so");  // UTF-8
    EXPECT_EQ(Loaded(kFileTypeCache, "save/\x83\x5C.BIN"), "so");      // Shift-JIS
    EXPECT_EQ(FileReadCount - before, 1u);
}

TEST_F(FileLoaderTest, DamagedGzipFilesFailWithNothingLeft) {
    Write("in.bin", std::string(3000, 'q') + "tail");
    ASSERT_TRUE(Pack("gz user/4242/save/plain.gz in.bin --plain"));
    EXPECT_EQ(Loaded(0, "save/plain.gz"), std::string(3000, 'q') + "tail");
    uint64_t used[HEAP_COUNT];
    for (int h = 0; h < HEAP_COUNT; ++h) used[h] = InUse(h);
    for (std::string v : {"truncated", "short", "tiny", "empty", "bad-crc", "bad-size"}) {
        ASSERT_TRUE(Pack("gz user/4242/save/" + v + ".gz in.bin --broken " + v));
        EXPECT_EQ(Loaded(0, "save/" + v + ".gz"), "<failed>") << v;
        EXPECT_EQ(Loaded(kFileTypeCache, "save/" + v + ".gz"), "<failed>") << v;
        EXPECT_EQ(Lib_CashGetHitInfo(("save/" + v + ".gz").c_str(), -1), nullptr) << v;
    }
    for (int h = 0; h < HEAP_COUNT; ++h) EXPECT_EQ(InUse(h), used[h]) << "heap " << h;
}

TEST_F(FileLoaderTest, RequestLimitsAndReleaseWhilePending) {
    void* data = nullptr;
    std::string n255 = "save/" + std::string(250, 'x');
    EXPECT_EQ(Lib_FileLoadReq(0, nullptr, &data, nullptr, 8), -1);
    EXPECT_EQ(Lib_FileLoadReq(0, (n255 + "y").c_str(), &data, nullptr, 8), -1);
    void* more[kFileLoadSlots];
    for (int32_t i = 0; i < kFileLoadSlots; ++i) EXPECT_EQ(Lib_FileLoadReq(0, n255.c_str(), &more[i], nullptr, 8), i);
    EXPECT_EQ(Lib_FileLoadReq(0, "save/a", &data, nullptr, 8), -1);
    for (int32_t i = 0; i < kFileLoadSlots; ++i) Lib_FileLoadEnd(i);
    EXPECT_EQ(FileLoadTable.pending.load(), 0);  // the loader idles again

    Write("user/4242/save/a.bin", "aaaa");
    uint32_t before = FileReadCount;
    Lib_FileLoadCB(nullptr);
    EXPECT_EQ(FileReadCount, before);  // released requests are never served
    uint32_t size = 0;
    ASSERT_EQ(Lib_FileLoadReq(0, "save/a.bin", &data, &size, 8), 0);
    Lib_FileLoadCB(nullptr);
    EXPECT_EQ(State(0), 1);
    EXPECT_EQ(std::string(static_cast<char*>(data), size), "aaaa");
    EXPECT_EQ(FileLoadTable.pending.load(), 0);
    Lib_MemFree(0, data);
}

// What the after-step below saw, and what it does while it runs.
struct AfterProbe {
    std::string bytes;
    bool unlocked = false, pending = false;
    int made = 0, dropped = 0;
    int32_t slot = -1, releaseSlot = -1, nextSlot = -1;
    void* next = nullptr;
};
AfterProbe g_probe;

void* ProbeMake(const void* data, uint32_t size) {
    AfterProbe& p = g_probe;
    p.bytes.assign(static_cast<const char*>(data), size);
    p.unlocked = FileLoadTable.mutex.try_lock();
    if (p.unlocked) FileLoadTable.mutex.unlock();
    p.pending = FileLoadTable.slots[p.slot].state.load() == 0;
    if (p.releaseSlot >= 0) {  // the requester gives up, and asks for something else
        Lib_FileLoadEnd(p.releaseSlot);
        p.nextSlot = Lib_FileLoadReq(0, "save/b.bin", &p.next, nullptr, 8);
    }
    ++p.made;
    return Lib_MemAlloc(0, 64, 8);
}
void ProbeDrop(void* product) {
    ++g_probe.dropped;
    Lib_MemFree(0, product);
}
constexpr FileLoadAfter kProbe{ProbeMake, ProbeDrop};

// A requester's after-step runs on the bytes outside the loader mutex, from
// the disk or from the cache, before the request is done. A request given up
// meanwhile keeps its slot until the loader has dropped the product and freed
// the bytes nobody will take, and unpinned a cache entry.
TEST_F(FileLoaderTest, AfterStepsRunUnlockedAndSurviveARelease) {
    Write("user/4242/save/a.bin", "aaaa");
    Write("user/4242/save/b.bin", "bb");
    const uint64_t used[2] = {InUse(0), InUse(1)};
    for (uint32_t type : {1u, kFileTypeCache, kFileTypeCache}) {
        g_probe = AfterProbe{};
        void *data = nullptr, *product = &data;
        uint32_t size = 0;
        g_probe.slot = Lib_FileLoadReq(type, "save/a.bin", &data, &size, 8, &kProbe, &product);
        ASSERT_EQ(g_probe.slot, 0);
        EXPECT_EQ(product, nullptr);
        Lib_FileLoadCB(nullptr);  // the second cache request finds the entry
        EXPECT_EQ(g_probe.made, 1);
        EXPECT_EQ(g_probe.bytes, "aaaa");
        EXPECT_TRUE(g_probe.unlocked);
        EXPECT_TRUE(g_probe.pending);
        EXPECT_EQ(State(0), 1);
        EXPECT_EQ(std::string(static_cast<char*>(data), size), "aaaa");
        ASSERT_NE(product, nullptr);
        ProbeDrop(product);
        if (type != kFileTypeCache) Lib_MemFree(int(type), data);
        Lib_FileLoadEnd(0);
    }
    Lib_CashFreeGroup(0);
    for (uint32_t type : {1u, kFileTypeCache}) {
        g_probe = AfterProbe{};
        void* data = nullptr;
        void* product = nullptr;
        g_probe.slot = g_probe.releaseSlot = Lib_FileLoadReq(type, "save/a.bin", &data, nullptr, 8, &kProbe, &product);
        Lib_FileLoadCB(nullptr);
        EXPECT_EQ(g_probe.made, 1);
        EXPECT_EQ(g_probe.dropped, 1);
        EXPECT_EQ(product, nullptr);
        EXPECT_EQ(g_probe.nextSlot, 1) << "the slot was taken while its bytes were in use";
        EXPECT_EQ(State(1), 1);  // served in the same pass
        EXPECT_EQ(std::string(static_cast<char*>(g_probe.next), 2), "bb");
        Lib_MemFree(0, g_probe.next);
        Lib_FileLoadEnd(1);
        EXPECT_EQ(FileLoadTable.pending.load(), 0);
        EXPECT_EQ(Lib_FileLoadReq(0, "save/a.bin", &data, nullptr, 8), 0);  // free again
        Lib_FileLoadEnd(0);
    }
    Lib_CashFreeGroup(0);
    EXPECT_EQ(Lib_CashGetHitInfo("save/a.bin", -1), nullptr) << "still pinned";
    EXPECT_EQ(InUse(0), used[0]);
    EXPECT_EQ(InUse(1), used[1]);
}

TEST_F(FileLoaderTest, CacheRequestsReadOnceAndFailuresLeaveNoEntry) {
    Write("user/4242/save/pic.bin", "picture");
    void *first = nullptr, *second = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(Lib_FileLoadReq(kFileTypeCache, "save/pic.bin", &first, nullptr, 32), 0);
    ASSERT_EQ(Lib_FileLoadReq(kFileTypeCache, "save/PIC.bin", &second, &size, 32), 1);
    uint32_t before = FileReadCount;
    Lib_FileLoadCB(nullptr);
    EXPECT_EQ(FileReadCount - before, 1u);
    EXPECT_EQ(State(0) + State(1), 2);
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::string(static_cast<char*>(second), size), "picture");
    Lib_FileLoadEnd(0);
    Lib_FileLoadEnd(1);

    // An entry another reader is still filling is waited for.
    void* filling = Lib_CashAlloc("save/wait.bin", 4, 8);
    ASSERT_EQ(Lib_FileLoadReq(kFileTypeCache, "save/wait.bin", &first, nullptr, 8), 0);
    Lib_FileLoadCB(nullptr);
    EXPECT_EQ(State(0), 0);
    EXPECT_EQ(first, nullptr);
    Lib_CashSetComplete(Lib_CashEntryOf(filling, 8));
    Lib_FileLoadCB(nullptr);
    EXPECT_EQ(State(0), 1);
    EXPECT_EQ(first, filling);
    Lib_FileLoadEnd(0);

    // A failed read removes its entry, so the next request is not stuck.
    Write("user/4242/save/bad.gz", std::string(40, 'z'));
    for (int attempt = 0; attempt < 2; ++attempt) {
        ASSERT_EQ(Lib_FileLoadReq(kFileTypeCache, "save/bad.gz", &first, nullptr, 8), 0);
        Lib_FileLoadCB(nullptr);
        EXPECT_EQ(State(0), -1);
        EXPECT_EQ(Lib_CashGetHitInfo("save/bad.gz", -1), nullptr);
        Lib_FileLoadEnd(0);
    }
    EXPECT_EQ(FileLoadTable.pending.load(), 0);
}

TEST_F(FileLoaderTest, LoaderThreadServesDiskAndArchiveFiles) {
    Write("tree/script/hello.txt", "from the archive");
    ASSERT_TRUE(Pack("pcarc data/data_00.pcarc tree --compress script"));
    Write("user/4242/save/s.bin", "from the disk");
    ASSERT_TRUE(Lib_FileInit());
    void *disk = nullptr, *arc = nullptr, *none = nullptr;
    uint32_t diskSize = 0, arcSize = 0;
    int32_t a = Lib_FileLoadReq(0, "save/s.bin", &disk, &diskSize, 8);
    int32_t b = Lib_FileLoadReq(kFileTypeCache, "data/script/HELLO.txt", &arc, &arcSize, 8);
    int32_t c = Lib_FileLoadReq(0, "script/none.txt", &none, nullptr, 8);
    WorkerUntil([&] { return State(a) && State(b) && State(c); }, {}, "the loader thread's answers");
    ASSERT_EQ(State(a) + State(b), 2);
    EXPECT_EQ(State(c), -1);
    EXPECT_EQ(std::string(static_cast<char*>(disk), diskSize), "from the disk");
    EXPECT_EQ(std::string(static_cast<char*>(arc), arcSize), "from the archive");
    Lib_MemFree(0, disk);
    Lib_FileEnd();
    EXPECT_FALSE(PcArcTable[0].opened);
}

// An empty file has no heap buffer and fails (into the cache it is an entry
// without data); a FIFO or a folder counts as missing, without waiting for
// a writer, for files and archives alike, and a FIFO in place of a
// temporary file is replaced.
TEST_F(FileLoaderTest, EmptyAndSpecialFilesFailWithoutWaiting) {
    Write("user/4242/save/empty.bin", "");
    uint64_t used[HEAP_COUNT];
    for (int h = 0; h < HEAP_COUNT; ++h) used[h] = InUse(h);
    EXPECT_EQ(Loaded(0, "save/empty.bin"), "<failed>");
    for (int h = 0; h < HEAP_COUNT; ++h) EXPECT_EQ(InUse(h), used[h]) << "heap " << h;
    EXPECT_EQ(Loaded(kFileTypeCache, "save/empty.bin"), "");

    ASSERT_EQ(::mkfifo("user/4242/save/fifo.bin", 0644), 0);
    ASSERT_EQ(::mkfifo("user/4242/save/out.bin.tmp", 0644), 0);  // in place of the temporary file
    ASSERT_EQ(::mkfifo("data/data_p00.pcarc", 0644), 0);
    fs::create_directories("user/4242/save/folder.bin");
    std::string fifo, folder;
    bool saved = false;
    EXPECT_TRUE(EndsWithoutWaitingOn("user/4242/save/fifo.bin", [&] {
        fifo = Loaded(0, "save/fifo.bin");
        folder = Loaded(kFileTypeCache, "save/folder.bin");
    }));
    EXPECT_TRUE(EndsWithoutWaitingOn("data/data_p00.pcarc", [] { Lib_PcArcOpen(); }));
    EXPECT_FALSE(Lib_PcArcExists(1));
    EXPECT_TRUE(
        EndsWithoutWaitingOn("user/4242/save/out.bin.tmp", [&] { saved = Lib_FileSave("save/out.bin", "abc", 3); }));
    EXPECT_EQ(fifo, "<failed>");
    EXPECT_EQ(folder, "<failed>");
    EXPECT_TRUE(saved);
    EXPECT_EQ(Read("user/4242/save/out.bin"), "abc");
    EXPECT_EQ(Lib_CashGetHitInfo("save/folder.bin", -1), nullptr);

    // A copy neither reads from a FIFO nor writes into one left in place of
    // its temporary file.
    ASSERT_EQ(::mkfifo("user/4242/save/copy.bin.tmp", 0644), 0);
    bool fromFifo = true, copied = false;
    EXPECT_TRUE(EndsWithoutWaitingOn("user/4242/save/fifo.bin",
                                     [&] { fromFifo = Lib_FileCopy("save/fifo.bin", "save/x.bin"); }));
    EXPECT_TRUE(EndsWithoutWaitingOn("user/4242/save/copy.bin.tmp",
                                     [&] { copied = Lib_FileCopy("save/out.bin", "save/copy.bin"); }));
    EXPECT_FALSE(fromFifo);
    EXPECT_FALSE(fs::exists("user/4242/save/x.bin"));
    EXPECT_TRUE(copied);
    EXPECT_EQ(Read("user/4242/save/copy.bin"), "abc");
}

// A cache entry handed to a request stays while the slot holds it, however
// it was tagged, so that its user can take it before a trim frees it.
TEST_F(FileLoaderTest, DeliveredCacheEntriesStayUntilTheirSlotIsReleased) {
    Write("user/4242/save/pic.bin", "picture");
    void *first = nullptr, *second = nullptr;
    ASSERT_EQ(Lib_FileLoadReq(kFileTypeCache, "save/pic.bin", &first, nullptr, 32), 0);
    Lib_FileLoadCB(nullptr);  // read from the disk
    ASSERT_EQ(State(0), 1);
    ASSERT_EQ(Lib_FileLoadReq(kFileTypeCache, "save/Pic.bin", &second, nullptr, 32), 1);
    Lib_FileLoadCB(nullptr);  // found in the cache
    ASSERT_EQ(State(1), 1);
    ASSERT_EQ(first, second);

    Lib_CashFreeGroup(0);  // a trim
    Lib_FileLoadEnd(0);
    Lib_CashFreeGroup(0);  // the second slot still holds it
    void* data = nullptr;
    ASSERT_EQ(Lib_CashLookup("save/pic.bin", &data, nullptr), 1);
    EXPECT_EQ(std::string(static_cast<char*>(data), 7), "picture");

    // Tagged by its name in any spelling, under the cache lock.
    EXPECT_TRUE(Lib_FileCacheTag("SAVE/PIC.bin", -1, 2));
    EXPECT_FALSE(Lib_FileCacheTag("save/pic.bin", -1, 1, 1));  // only from tag 1 or below
    EXPECT_TRUE(Lib_FileCacheTag("save/pic.bin", -1, 0));
    Lib_FileLoadEnd(1);
    Lib_FileLoadEnd(1);  // a second release changes nothing
    Lib_CashFreeGroup(0);
    EXPECT_EQ(Lib_CashGetHitInfo("save/pic.bin", -1), nullptr);
    EXPECT_EQ(HeapTable.heaps[HEAP_CACHE].usedCount, 0u);
}

}  // namespace
