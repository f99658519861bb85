// The whole program twice in one folder: the first run creates the save
// files and the system slot, the second loads it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "app/frame.h"
#include "app/main_tasks.h"
#include "engine/input/input.h"
#include "platform/plat_input.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/util.h"
#include "platform/plat_window.h"
#include "screens/boot.h"
#include "script/game_blocks.h"
#include "story/save_store.h"
#include "tests/story/save_env.h"
#include "ui/mode.h"
#include "tests/ui/screen_harness.h"

namespace {

const uint64_t kHeaps[HEAP_COUNT] = {8u << 20, 48u << 20, 2u << 20, 64u << 20, 96u << 20};

std::atomic<bool> g_booted{false};

// Quits once the boot flow has handed over (its system-data step is done).
void QuitAfterBoot() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        bool booted = RunState.load() == RUN_RUNNING && MainFrameCount.load() > 2 &&
                      __atomic_load_n(&ModeStack[0], __ATOMIC_ACQUIRE) != GSL_BootModeCB;
        if (booted || std::chrono::steady_clock::now() > deadline) {
            g_booted = booted;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Plat_PostQuit();
}

class ProgramSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        char tmpl[] = "/tmp/vn_program_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        ASSERT_TRUE(LinkSampleData("."));
        MainHeapSizes = kHeaps;
    }
    void TearDown() override {
        MainHeapSizes = kHeapDefaultSizes;
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }
    // The player confirms the start-up notices: the decide key goes down and
    // up on alternate frames.
    static void ConfirmNotices() {
        static PlatInputState input = Plat_InputIdle();
        input.focus = 1;
        static bool down = false;
        down = !down;
        input.keys[Lib_InputKeyCode(0, BUTTON_DECIDE, 0) & 0xFF] = down ? kPlatDown : 0;
        Plat_InputInject(input);
    }
    static int Run() {
        g_booted = false;
        MainTestHook = ConfirmNotices;
        std::thread watcher(QuitAfterBoot);
        int code = WinMain();
        watcher.join();
        MainTestHook = nullptr;
        return code;
    }
    std::filesystem::path dir_, old_;
};

TEST_F(ProgramSaveTest, FirstRunCreatesTheSystemSlotAndTheNextLoadsIt) {
    SystemDataFresh = 0;
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(g_booted.load());
    EXPECT_EQ(SystemDataFresh, 1);
    std::string save = std::string("user/") + UserId + "/save/";
    std::string image = SaveEnv::Inflated(save + "save.cdf"), registry = SaveEnv::Inflated(save + "registry.cdf");
    ASSERT_EQ(image.size(), 8728397u);
    ASSERT_EQ(registry.size(), 680u);
    EXPECT_EQ(image[32], 1);
    EXPECT_EQ(image[34 + 32], 1);
    uint8_t sha[20];
    Lib_Sha1(&SystemDataBlock, sizeof SystemDataBlock, sha);
    EXPECT_EQ(registry.substr(640, 20), std::string(reinterpret_cast<char*>(sha), 20));
    EXPECT_EQ(image.compare(SavePartOffset(32, 0), 4379, reinterpret_cast<const char*>(&SystemDataBlock), 4379), 0);
    EXPECT_EQ(SystemDataBlock.musicUnlock[2], 1 << 2);  // the title track

    // The second run loads the slot: a variable set in the file comes back.
    image[SavePartOffset(32, 0) + 94 + 5] = 7;  // system variable [5]
    Lib_Sha1(image.data() + SavePartOffset(32, 0), 4379, sha);
    registry.replace(640, 20, reinterpret_cast<char*>(sha), 20);
    SaveEnv::Write(save + "save.cdf", SaveEnv::Gzip(image));
    SaveEnv::Write(save + "registry.cdf", SaveEnv::Gzip(registry));
    SystemDataFresh = 0;
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(g_booted.load());
    EXPECT_EQ(SystemDataFresh, 0);
    EXPECT_EQ(SystemDataBlock.systemVars[5], 7);
}

}  // namespace
