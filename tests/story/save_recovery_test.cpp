// Crash safety and damaged files: the store started again from the disk after
// a stop at any step of the writer, after a kill, and from damaged files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <utility>

#include "story/save_store.h"
#include "tests/engine/files/fifo_wait.h"
#include "tests/story/save_env.h"

namespace fs = std::filesystem;

namespace {

class SaveRecoveryTest : public SaveEnv {
protected:
    // Writes slot's data part straight into the image and commits it, with its
    // digest, as a save does.
    static void Put(int32_t slot, uint8_t seed) {
        ASSERT_EQ(Save(slot, seed), 0);
    }
    static void ExpectSlot(int32_t slot, uint8_t seed) {
        EXPECT_EQ(Lib_SaveSlotCheck(slot, nullptr), 0u) << "slot " << slot;
        EXPECT_TRUE(Data(slot) == Pattern(slot, seed)) << "slot " << slot;
    }
    // Slots 0, 5 and 32 saved (seeds 1, 2, 3); the bytes of both files.
    static void SaveThree(std::string* save, std::string* registry) {
        ASSERT_TRUE(Lib_SaveInit());
        Put(0, 1);
        Put(5, 2);
        Put(32, 3);
        Lib_SaveEnd();
        *save = Read(kSave);
        *registry = Read(kRegistry);
    }
    // The store started on these files; what it said on stderr.
    static std::string StartOn(const std::string& save, const std::string& registry) {
        Write(kSave, save);
        Write(kRegistry, registry);
        testing::internal::CaptureStderr();
        EXPECT_TRUE(Lib_SaveInit());
        return testing::internal::GetCapturedStderr();
    }
};

// The writer stopped after each of its four steps: every slot saved before
// reads whole, the slot in flight reads old or new, never broken.
TEST_F(SaveRecoveryTest, StopAfterEachWriterStep) {
    for (int32_t step = 1; step <= 4; ++step) {
        SCOPED_TRACE(step);
        ASSERT_TRUE(Lib_SaveInit());
        Put(1, 10);
        Put(2, 20);
        Lib_SaveWriterStopAfter(step);
        std::vector<uint8_t> data = Pattern(2, uint8_t(30 + step));
        SaveRequest r = Request(data, 2);
        int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, 2);
        ASSERT_GE(task, 0);
        // The task hands the slot to the writer and waits out its second of
        // frames; the writer stops in that commit, for good: a flush says
        // so, and the task never ends.
        for (int i = 0; i < 120; ++i) Pass();
        EXPECT_FALSE(Lib_SaveFlush());
        Pass();
        EXPECT_EQ(Lib_SaveTaskResult(task), SAVE_TASK_RUNNING);
        Lib_SaveTaskEnd(task);
        Reload();
        ExpectSlot(1, 10);
        EXPECT_EQ(Lib_SaveSlotCheck(2, nullptr), 0u);
        bool old = Data(2) == Pattern(2, 20), now = Data(2) == Pattern(2, uint8_t(30 + step));
        EXPECT_TRUE(old || now);
        EXPECT_EQ(now, step >= 2);
        EXPECT_FALSE(fs::exists("user/4242/save/registry_next.cdf"));
        Lib_SaveEnd();
        fs::remove_all("user");
    }
}

// The slot as a save of Pattern(slot, seed) leaves it in the image: data,
// information (fixed clock) and an empty picture, byte for byte.
std::string SlotBytes(int32_t slot, uint8_t seed) {
    std::string bytes(SavePartOffset(slot + 1, 0) - SavePartOffset(slot, 0), '\0');
    for (uint32_t i = 0; i < SaveDataSize(slot); ++i) bytes[i] = char(uint8_t(i * 31 + seed));
    GSL_BlockVersionStamp(bytes.data());
    SaveInfo info{};
    std::strcpy(info.title, "title");
    std::snprintf(info.subtitle, sizeof info.subtitle, "sub_%02d", slot + 1);
    std::strcpy(info.detail, "detail");
    info.date = {2026, 12, 7, 18, 30, 15, 0};
    std::memcpy(&bytes[SaveDataSize(slot)], &info, sizeof info);
    return bytes;
}

std::string ImageSlot(int32_t slot) {
    const uint8_t* image = Lib_SaveImageGet();
    return std::string(reinterpret_cast<const char*>(image + SavePartOffset(slot, 0)),
                       SavePartOffset(slot + 1, 0) - SavePartOffset(slot, 0));
}

DateTime* FixedClock(DateTime* out) {
    *out = {2026, 12, 7, 18, 30, 15, 0};
    return out;
}

// A child saves in a loop and reports the start and the end of each save
// through a pipe. It is killed 30 times at seeded moments of a save: a share
// (0 to 1.1) of the length of one save after the start of its first save
// (the first child, which measures that length, in its second). Afterwards
// every slot holds, byte for byte, its last finished save, or the one in
// flight when the kill came.
TEST_F(SaveRecoveryTest, KilledWhileSavingLosesNothingCommitted) {
    using Clock = std::chrono::steady_clock;
    std::mt19937 rng(1234);
    int done[6], flight[6];
    for (int s = 0; s < 6; ++s) done[s] = flight[s] = -1;
    Clock::duration saveLength{};
    for (int kill = 0; kill < 30; ++kill) {
        const double share = double(rng() % 1100) / 1000.0;
        SCOPED_TRACE(testing::Message() << "kill " << kill << " at " << share << " of a save");
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            Lib_SaveClockSet(FixedClock);
            if (!Lib_SaveInit()) ::_exit(2);
            for (int i = 0;; ++i) {
                int32_t slot = (kill * 7 + i) % 6;
                uint8_t seed = uint8_t(kill * 12 + i % 12);
                uint8_t msg[3] = {0, uint8_t(slot), seed};
                if (::write(fds[1], msg, 3) != 3) ::_exit(4);
                if (Save(slot, seed) != 0) ::_exit(3);
                msg[0] = 1;
                if (::write(fds[1], msg, 3) != 3) ::_exit(4);
            }
        }
        ::close(fds[1]);
        auto take = [&](const uint8_t* msg) {
            ASSERT_LT(msg[1], 6);
            if (msg[0] == 0) {
                flight[msg[1]] = msg[2];
            } else {
                done[msg[1]] = msg[2];
                flight[msg[1]] = -1;
            }
        };
        // Up to the start of the save to interrupt.
        uint8_t msg[3];
        int starts = 0;
        const int target = saveLength.count() ? 1 : 2;
        Clock::time_point firstStart{};
        while (starts < target) {
            ASSERT_EQ(::read(fds[0], msg, 3), 3) << "the child stopped";
            take(msg);
            if (msg[0] == 0 && ++starts == 1) firstStart = Clock::now();
            if (msg[0] == 1 && !saveLength.count()) saveLength = Clock::now() - firstStart;
        }
        std::this_thread::sleep_for(std::chrono::duration_cast<Clock::duration>(saveLength * share));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        while (::read(fds[0], msg, 3) == 3) take(msg);
        ::close(fds[0]);

        ASSERT_TRUE(Lib_SaveInit());
        for (int32_t slot = 0; slot < 6; ++slot) {
            SCOPED_TRACE(testing::Message() << "slot " << slot);
            const uint32_t check = Lib_SaveSlotCheck(slot, nullptr);
            EXPECT_NE(check, 2u);
            const std::string now = ImageSlot(slot);
            const bool isDone = done[slot] >= 0 ? now == SlotBytes(slot, uint8_t(done[slot])) : check == 1;
            const bool isFlight = flight[slot] >= 0 && now == SlotBytes(slot, uint8_t(flight[slot]));
            EXPECT_TRUE(isDone || isFlight);
            if (isFlight) done[slot] = flight[slot];
            flight[slot] = -1;
        }
        Lib_SaveEnd();
    }
}

// Damaged files: the slots that inflated whole and match their digests still
// load; the damaged file is set aside; nothing reads out of bounds.
TEST_F(SaveRecoveryTest, DamagedFiles) {
    std::string good, registry;
    SaveThree(&good, &registry);
    std::string image = Inflated(kSave);
    ASSERT_EQ(image.size(), 8728397u);

    // One slot's data changed inside a valid file.
    std::string changed = image;
    changed[SavePartOffset(5, 0) + 10] ^= 0x40;
    Write(kSave, Gzip(changed));
    ASSERT_TRUE(Lib_SaveInit());
    EXPECT_EQ(Lib_SaveSlotCheck(5, nullptr), 2u);
    ExpectSlot(0, 1);
    ExpectSlot(32, 3);
    EXPECT_FALSE(fs::exists("user/4242/save/save.cdf.broken"));
    Lib_SaveEnd();

    // Truncated, wrong trailer, garbled in the middle, empty, wrong size.
    std::string wrongSize = image.substr(0, 8000000);
    std::string badTrailer = good;
    badTrailer[badTrailer.size() - 1] ^= 1;
    std::string garbled = good;
    for (size_t i = garbled.size() / 2; i < garbled.size() / 2 + 64; ++i) garbled[i] = char(i);
    const std::string variants[] = {good.substr(0, good.size() / 2), badTrailer, garbled, "", Gzip(wrongSize),
                                    Gzip(image + "x")};
    for (const std::string& v : variants) {
        fs::remove("user/4242/save/save.cdf.broken");
        EXPECT_NE(StartOn(v, registry).find("set aside"), std::string::npos);
        EXPECT_EQ(Read("user/4242/save/save.cdf.broken"), v);
        if (!v.empty()) ExpectSlot(0, 1);  // at the front: inflated whole
        else EXPECT_EQ(Lib_SaveSlotCheck(0, nullptr), 1u);
        for (int32_t s = 0; s < kSaveSlots; ++s) Lib_SaveSlotCheck(s, nullptr);
        Lib_SaveEnd();
    }

    // A registry of 679 bytes is set aside; the table is zero, so the saved
    // slots check broken.
    StartOn(good, Gzip(std::string(679, 'r')));
    EXPECT_TRUE(fs::exists("user/4242/save/registry.cdf.broken"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Lib_SaveDigestGet(0)), 20), std::string(20, '\0'));
    EXPECT_EQ(Lib_SaveSlotCheck(0, nullptr), 2u);
    EXPECT_EQ(Lib_SaveSlotCheck(1, nullptr), 1u);
    Lib_SaveEnd();

    // A registry_next that does not match the image is dropped.
    Write(kRegistry, registry);
    Write("user/4242/save/registry_next.cdf", Gzip(std::string(680, 'n')));
    ASSERT_TRUE(Lib_SaveInit());
    ExpectSlot(5, 2);
    EXPECT_FALSE(fs::exists("user/4242/save/registry_next.cdf"));
    Lib_SaveEnd();

    // One that holds a digest registry.cdf lacks is taken; where registry.cdf
    // cannot be rewritten (a folder at its temporary file) one line says so,
    // and registry_next stays for the next start, which takes it.
    const std::string table = Inflated(kRegistry);
    Write("user/4242/save/registry_next.cdf", registry);
    fs::create_directories("user/4242/save/registry.cdf.tmp/kept");
    const std::string told = StartOn(good, Gzip(std::string(table).replace(100, 20, 20, '\0')));  // slot 5's
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
    EXPECT_NE(told.find("save/registry.cdf could not be written ("), std::string::npos) << told;
    Lib_SaveEnd();
    fs::remove_all("user/4242/save/registry.cdf.tmp");
    ASSERT_TRUE(Lib_SaveInit());
    EXPECT_TRUE(Inflated(kRegistry) == table && !fs::exists("user/4242/save/registry_next.cdf"));
    ExpectSlot(5, 2);
}

size_t LineCount(const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); }

// A system slot whose block carries another version than the writer stamps
// is refused as a damaged one although its digest matches: it checks broken,
// its load ends with the damaged code and leaves the caller's block alone, and
// one line names it. The game slots load whatever their version field holds
// (a quick save keeps the one the quick slot had at start-up: zeros when it
// was empty).
TEST_F(SaveRecoveryTest, SystemSlotOfAnotherVersionIsRefusedAsDamaged) {
    ASSERT_TRUE(Lib_SaveInit());
    Put(0, 1);
    std::vector<uint8_t> quick = Pattern(kSaveQuickSlot, 4);
    std::memset(quick.data(), 0, 4);
    ASSERT_EQ(Transfer(SAVE_TASK_SAVE, kSaveQuickSlot, quick), 0);
    Put(kSaveSystemSlot, 3);
    Lib_SaveEnd();

    std::string image = Inflated(kSave), table = Inflated(kRegistry);
    ASSERT_EQ(table.size(), kSaveRegistrySize);
    char* system = &image[SavePartOffset(kSaveSystemSlot, 0)];
    std::memcpy(system, "0200", 4);
    uint8_t digest[20];
    Lib_Sha1(system, SaveDataSize(kSaveSystemSlot), digest);
    table.replace(20 * kSaveSystemSlot, 20, reinterpret_cast<const char*>(digest), 20);
    const std::string told = StartOn(Gzip(image), Gzip(table));
    EXPECT_EQ(LineCount(told), 1u) << told;
    EXPECT_NE(told.find("slot 32"), std::string::npos) << told;

    EXPECT_EQ(Lib_SaveSlotCheck(kSaveSystemSlot, nullptr), 2u);
    std::vector<uint8_t> block(SaveDataSize(kSaveSystemSlot), 0xEE);
    EXPECT_EQ(Transfer(SAVE_TASK_LOAD, kSaveSystemSlot, block), 3);
    EXPECT_TRUE(block == std::vector<uint8_t>(SaveDataSize(kSaveSystemSlot), 0xEE));

    ExpectSlot(0, 1);
    EXPECT_EQ(Lib_SaveSlotCheck(kSaveQuickSlot, nullptr), 0u);
    block.assign(SaveDataSize(kSaveQuickSlot), 0xEE);
    EXPECT_EQ(Transfer(SAVE_TASK_LOAD, kSaveQuickSlot, block), 0);
    EXPECT_TRUE(block == quick);
}

// A quick save made in a run whose quick slot started empty carries a zero
// version field, and so does a numbered save made after loading it. When
// registry.cdf is damaged the rebuild gives both their digests anew, as a
// load would take them; a system slot of another version stays refused.
TEST_F(SaveRecoveryTest, GameSlotsWithoutTheVersionSurviveARegistryRebuild) {
    // A new game's state as the quick buffer holds it: no version.
    auto state = [](int32_t slot, int8_t var) {
        std::vector<uint8_t> data(SaveDataSize(slot), 0);
        GameState* g = reinterpret_cast<GameState*>(data.data());
        std::strcpy(g->scriptName, "00_init.txt");
        g->gameVars[3] = var;
        return data;
    };
    std::vector<uint8_t> quick = state(kSaveQuickSlot, 11), numbered = state(4, 12);
    std::vector<uint8_t> system(SaveDataSize(kSaveSystemSlot), 0);
    std::memcpy(system.data(), "0000", 4);
    ASSERT_TRUE(Lib_SaveInit());
    ASSERT_EQ(Transfer(SAVE_TASK_SAVE, kSaveQuickSlot, quick), 0);
    ASSERT_EQ(Transfer(SAVE_TASK_SAVE, 4, numbered), 0);
    ASSERT_EQ(Transfer(SAVE_TASK_SAVE, kSaveSystemSlot, system), 0);
    Lib_SaveEnd();

    const std::string told = StartOn(Read(kSave), "");
    EXPECT_TRUE(fs::exists("user/4242/save/registry.cdf.broken"));
    EXPECT_NE(told.find("rebuilt: 2 saved slots"), std::string::npos) << told;
    for (const auto& [slot, saved] : {std::pair{kSaveQuickSlot, &quick}, std::pair{4, &numbered}}) {
        SCOPED_TRACE(testing::Message() << "slot " << slot);
        EXPECT_EQ(Lib_SaveSlotCheck(slot, nullptr), 0u);
        std::vector<uint8_t> block(saved->size(), 0xEE);
        EXPECT_EQ(Transfer(SAVE_TASK_LOAD, slot, block), 0);
        EXPECT_TRUE(block == *saved);
    }
    EXPECT_EQ(Lib_SaveSlotCheck(kSaveSystemSlot, nullptr), 2u);
}

// A save file that is not a regular file (a FIFO, on which a plain open()
// waits for ever) holds neither the start nor is it replaced. One line says
// so; for save.cdf and registry.cdf saving stays off until it is moved away.
TEST_F(SaveRecoveryTest, FilesThatAreNotRegularHoldNothingUpAndStay) {
    std::string good, registry;
    SaveThree(&good, &registry);
    for (const std::string name : {"save.cdf", "registry.cdf", "registry_next.cdf"}) {
        SCOPED_TRACE(name);
        const std::string path = "user/4242/save/" + name;
        Write(kSave, good);
        Write(kRegistry, registry);
        fs::remove(path);
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        bool started = false;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(EndsWithoutWaitingOn({path}, [&] { started = Lib_SaveInit(); }, kWorkerDeadline));
        const std::string told = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(started);
        EXPECT_EQ(LineCount(told), 1u) << told;
        EXPECT_NE(told.find("vn: save/" + name + " is not a regular file"), std::string::npos) << told;
        if (name == "registry_next.cdf") {
            ExpectSlot(0, 1);
            ExpectSlot(32, 3);
            EXPECT_EQ(Save(5, 9), 0);
            Lib_SaveEnd();
            EXPECT_FALSE(fs::exists(path));
            continue;
        }
        EXPECT_NE(told.find("saving is off"), std::string::npos) << told;
        EXPECT_EQ(Lib_SaveSlotCheck(0, nullptr), name == "save.cdf" ? 1u : 2u);
        EXPECT_EQ(Save(5, 9), 4);  // refused as a failed write
        Lib_SaveEnd();
        struct stat st {};
        EXPECT_TRUE(::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
        EXPECT_TRUE(Read(name == "save.cdf" ? kRegistry : kSave) == (name == "save.cdf" ? registry : good));
        fs::remove(path);
    }
}

// A damaged save.cdf is rewritten only once a copy of it is on disk, under a
// name that no earlier copy (or anything else) holds: save.cdf.broken,
// .broken.2, ... up to .broken.10. With every name taken the file stays as it
// is, the slots that loaded still load, saving is off, and the line names the
// oldest copy.
TEST_F(SaveRecoveryTest, EverySetAsideCopyIsKept) {
    std::string good, registry;
    SaveThree(&good, &registry);
    const std::string aside = "user/4242/save/save.cdf.broken";
    auto damagedStart = [&](const std::string& bytes) {
        std::string told = StartOn(bytes, registry);
        ExpectSlot(0, 1);  // at the front: inflated whole
        return told;
    };
    // The first name is a folder: the copy takes the next one.
    fs::create_directories(aside);
    const std::string first = good.substr(0, good.size() / 2);
    std::string told = damagedStart(first);
    EXPECT_EQ(told, "vn: save/save.cdf is damaged; set aside as save/save.cdf.broken.2\n");
    Lib_SaveEnd();
    EXPECT_TRUE(Read(aside + ".2") == first);
    EXPECT_EQ(Inflated(kSave).size(), kSaveImageSize);  // written afresh once the copy was safe

    // An earlier copy is never replaced.
    const std::string second = good.substr(0, good.size() / 3);
    told = damagedStart(second);
    EXPECT_EQ(told, "vn: save/save.cdf is damaged; set aside as save/save.cdf.broken.3\n");
    Lib_SaveEnd();
    EXPECT_TRUE(Read(aside + ".2") == first);
    EXPECT_TRUE(Read(aside + ".3") == second);

    // The tenth name is the last one taken.
    for (int n = 4; n <= 9; ++n) Write(aside + "." + std::to_string(n), "copy " + std::to_string(n));
    const std::string tenth = good.substr(0, good.size() / 5);
    told = damagedStart(tenth);
    EXPECT_EQ(told, "vn: save/save.cdf is damaged; set aside as save/save.cdf.broken.10\n");
    Lib_SaveEnd();
    EXPECT_TRUE(Read(aside + ".10") == tenth);

    // Every name taken: nothing is written, nothing set aside.
    for (int n = 4; n <= 10; ++n) Write(aside + "." + std::to_string(n), "copy " + std::to_string(n));
    fs::last_write_time(aside + ".6", fs::last_write_time(aside + ".6") - std::chrono::hours(24 * 400));
    const std::string third = good.substr(0, good.size() / 4);
    told = damagedStart(third);
    EXPECT_EQ(LineCount(told), 1u) << told;
    EXPECT_NE(told.find("saving is off"), std::string::npos) << told;
    EXPECT_NE(told.find("the oldest is save/save.cdf.broken.6"), std::string::npos) << told;
    EXPECT_EQ(Save(1, 7), 4);
    Lib_SaveEnd();
    EXPECT_TRUE(Read(kSave) == third);
    EXPECT_TRUE(Read(kRegistry) == registry);
    EXPECT_FALSE(fs::exists(aside + ".11"));
    EXPECT_EQ(Read(aside + ".6"), "copy 6");
}

}  // namespace
