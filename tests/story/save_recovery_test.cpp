// Crash safety and damaged files: the store started again from the disk after
// a stop at any step of the writer, after a kill, and from damaged files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "story/save_store.h"
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
        int32_t task = Lib_SaveTaskSet(0, &r, 2);
        ASSERT_GE(task, 0);
        EXPECT_EQ(RunTask(task, 400), -1);  // never done: the writer is gone
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

// A child saves in a loop and reports the start and the end of each save
// through a pipe; it is killed at random moments. Afterwards every slot holds
// its last reported save, or the one in flight when the kill came.
TEST_F(SaveRecoveryTest, KilledWhileSavingLosesNothingCommitted) {
    std::mt19937 rng(1234);
    int done[6], flight[6];
    for (int s = 0; s < 6; ++s) done[s] = flight[s] = -1;
    for (int kill = 0; kill < 20; ++kill) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
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
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 300 + 20));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        uint8_t msg[3];
        while (::read(fds[0], msg, 3) == 3) {
            if (msg[0] == 0) {
                flight[msg[1]] = msg[2];
            } else {
                done[msg[1]] = msg[2];
                flight[msg[1]] = -1;
            }
        }
        ::close(fds[0]);
        ASSERT_TRUE(Lib_SaveInit());
        for (int32_t slot = 0; slot < 6; ++slot) {
            SCOPED_TRACE(testing::Message() << "kill " << kill << " slot " << slot);
            uint32_t check = Lib_SaveSlotCheck(slot, nullptr);
            EXPECT_NE(check, 2u);
            bool isDone = done[slot] >= 0 ? Data(slot) == Pattern(slot, uint8_t(done[slot])) : check == 1;
            bool isFlight = flight[slot] >= 0 && Data(slot) == Pattern(slot, uint8_t(flight[slot]));
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
    ASSERT_TRUE(Lib_SaveInit());
    Put(0, 1);
    Put(5, 2);
    Put(32, 3);
    Lib_SaveEnd();
    const std::string good = Read(kSave), registry = Read(kRegistry);
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
        Write(kSave, v);
        Write(kRegistry, registry);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(Lib_SaveInit());
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("set aside"), std::string::npos);
        EXPECT_EQ(Read("user/4242/save/save.cdf.broken"), v);
        if (!v.empty()) ExpectSlot(0, 1);  // at the front: inflated whole
        else EXPECT_EQ(Lib_SaveSlotCheck(0, nullptr), 1u);
        for (int32_t s = 0; s < kSaveSlots; ++s) Lib_SaveSlotCheck(s, nullptr);
        Lib_SaveEnd();
    }

    // A registry of 679 bytes is set aside; the table is zero, so the saved
    // slots check broken.
    Write(kSave, good);
    Write(kRegistry, Gzip(std::string(679, 'r')));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Lib_SaveInit());
    testing::internal::GetCapturedStderr();
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
}

}  // namespace
