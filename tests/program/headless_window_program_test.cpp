// A run on SDL's off-screen driver (the headless recipe of the README)
// shows its window to no one: closing it writes the player's system.ini
// with the window's place and size as they were, not the size the
// off-screen display allowed, while the rest of the file is written as
// usual. Without a system.ini the defaults go in, not a shrunken window.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/app_window.h"
#include "platform/plat_store.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"

namespace {

// The player's system.ini: place, size, mode and the reserved bytes.
std::string Ini(int32_t x, int32_t y, uint32_t w, uint32_t h, uint8_t fullScreen) {
    std::string bytes(64, '\0');
    const uint32_t words[4] = {uint32_t(x), uint32_t(y), w, h};
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b) bytes[size_t(i * 4 + b)] = char(uint8_t(words[i] >> (8 * b)));
    bytes[16] = char(fullScreen);
    for (size_t i = 17; i < 64; ++i) bytes[i] = char(i);  // whatever a later version keeps there
    return bytes;
}

TEST(HeadlessProgram, ARunWithoutADisplayLeavesThePlayersWindowPlaceAndSize) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Store_Init();
    const std::string ini = "user/" + std::to_string(Store_UserId()) + "/system.ini";
    Store_Shutdown();
    struct Case {
        const char* what;
        std::string before;  // empty: no system.ini
        std::string after;
    };
    // A window larger than the off-screen display, away from its corner.
    const std::string player = Ini(200, 100, 1600, 900, 0);
    std::string defaults = Ini(0, 0, 1280, 720, 0);
    for (size_t i = 17; i < 64; ++i) defaults[i] = 0;
    const Case cases[] = {{"the player's system.ini", player, player}, {"no system.ini", "", defaults}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string driver, after;
        ProgramRun run;
        run.before = [&] {
            if (c.before.empty()) return;
            std::filesystem::create_directories(std::filesystem::path(ini).parent_path());
            std::ofstream(ini, std::ios::binary) << c.before;
        };
        run.after = [&] {
            std::ifstream in(ini, std::ios::binary);
            after.assign(std::istreambuf_iterator<char>(in), {});
        };
        std::vector<ProgramRun::Step> steps;
        program_title::ToTitleMenu(steps);
        // Closed as the window's close does once answered.
        steps.push_back({"the close", [&] {
                             driver = SDL_GetCurrentVideoDriver();
                             Main_CloseNow();
                             return true;
                         },
                         nullptr});
        steps.push_back({"the window closing", [] { return false; }, nullptr, 600});
        run.lastStepCloses = true;
        EXPECT_EQ(run.Run(steps), 0);
        EXPECT_EQ(run.failed, "");
        EXPECT_EQ(driver, "offscreen");
        EXPECT_EQ(after, c.after);
    }
}

}  // namespace
