// The whole program twice on the same user files: the first run creates the
// save files and the system slot, the second loads it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "engine/core/util.h"
#include "engine/text/glyph_cache.h"
#include "screens/boot.h"
#include "script/game_blocks.h"
#include "story/save_store.h"
#include "tests/story/save_env.h"
#include "tests/ui/screen_harness.h"
#include "ui/mode.h"

namespace {

// The boot flow has handed over (its system-data step is done).
ProgramRun::Step Booted() {
    return {"the boot flow handed over", [] { return ModeStack[0] && ModeStack[0] != GSL_BootModeCB; }, nullptr, 1800};
}

// Whether the system data was made afresh in this run.
ProgramRun::Step Fresh(bool* fresh) {
    return {"the system data's freshness seen", [fresh] {
                *fresh = SystemDataFresh != 0;
                return true;
            }};
}

// The interface font is in memory (the boot waited for it before the system data).
ProgramRun::Step FontLoaded() {
    return {"the interface font loaded", [] { return TextRenderState.images[0] != nullptr; }, nullptr, 1};
}

TEST(SystemSlotProgram, FirstRunCreatesTheSystemSlotAndTheNextLoadsIt) {
    const std::filesystem::path user =
        std::filesystem::temp_directory_path() / ("vn_system_slot_" + std::to_string(::getpid()));
    std::filesystem::remove_all(user);
    // The user id is known once the program has started.
    const auto save = [] { return std::string("user/") + UserId + "/save/"; };
    std::string image, registry;
    uint8_t sha[20];

    ProgramRun first;
    first.userFiles = user;
    bool fresh = false;
    first.after = [&] {
        image = SaveEnv::Inflated(save() + "save.cdf");
        registry = SaveEnv::Inflated(save() + "registry.cdf");
    };
    ASSERT_EQ(first.Run({Booted(), Fresh(&fresh), FontLoaded()}), 0);
    EXPECT_EQ(first.failed, "");
    EXPECT_TRUE(fresh);
    ASSERT_EQ(image.size(), 8728397u);
    ASSERT_EQ(registry.size(), 680u);
    EXPECT_EQ(image[32], 1);
    EXPECT_EQ(image[34 + 32], 1);
    Lib_Sha1(&SystemDataBlock, sizeof SystemDataBlock, sha);
    EXPECT_EQ(registry.substr(640, 20), std::string(reinterpret_cast<char*>(sha), 20));
    EXPECT_EQ(image.compare(SavePartOffset(32, 0), 4379, reinterpret_cast<const char*>(&SystemDataBlock), 4379), 0);
    EXPECT_EQ(SystemDataBlock.musicUnlock[2], 1 << 2);  // the title track

    // The second run loads the slot: a variable set in the file comes back,
    // and the fonts load again as at any start.
    image[SavePartOffset(32, 0) + 94 + 5] = 7;  // system variable [5]
    Lib_Sha1(image.data() + SavePartOffset(32, 0), 4379, sha);
    registry.replace(640, 20, reinterpret_cast<char*>(sha), 20);
    ProgramRun second;
    second.userFiles = user;
    second.before = [&] {
        SaveEnv::Write(save() + "save.cdf", SaveEnv::Gzip(image));
        SaveEnv::Write(save() + "registry.cdf", SaveEnv::Gzip(registry));
    };
    ASSERT_EQ(second.Run({Booted(), Fresh(&fresh), FontLoaded()}), 0);
    std::filesystem::remove_all(user);
    EXPECT_EQ(second.failed, "");
    EXPECT_FALSE(fresh);
    EXPECT_EQ(SystemDataBlock.systemVars[5], 7);
}

}  // namespace
