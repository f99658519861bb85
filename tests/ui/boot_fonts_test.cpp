// The boot flow loads the interface language's fonts at start-up and ends the
// load task, whether the fonts were found or not.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/files/message_table.h"
#include "engine/text/font.h"
#include "screens/boot.h"
#include "screens/logo.h"
#include "story/config.h"
#include "story/story_services.h"
#include "tests/engine/text/font_env.h"
#include "tests/ui/screen_harness.h"

namespace {
using BootFonts = ScreenHarness;

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

int FontTasks() {
    int n = 0;
    for (const TaskRecord* t : TaskTable.slots) n += t && t->callback == Lib_FontSetCB;
    return n;
}

bool FontData() {
    const std::string sans = ReadFile(font_env::kDejaVuSans), serif = ReadFile(font_env::kDejaVuSerif);
    if (sans.empty() || serif.empty()) return false;
    return ScreenHarness::Files({Bytes("font/font_01.ttf", sans), Bytes("font/font_11.ttf", serif),
                                 Bytes("font/font_add_00.ext", std::string(256 + 16384, '\0')),
                                 Bytes("sound/se_system/se_sys.arc", std::string(64, '\0'))});
}

TEST_F(BootFonts, TheInterfaceLanguagesFontsLoadAndTheirTaskEnds) {
    if (IsSkipped()) return;
    if (!FontData()) GTEST_SKIP() << "font packages missing (tools/setup.sh)";
    ASSERT_TRUE(Fonts());
    FontReloadPending = -1;  // as at start-up, whatever ran before in this process
    StartFull();
    SystemDataBlock.language = 1;  // as the system data holds it
    Frame(2);
    EXPECT_EQ(FontTasks(), 1);
    FramesUntil([] { return GSL_ModeTop() == GSL_LogoModeCB && FontTasks() == 0; }, 300, "the logo, fonts loaded");
    EXPECT_NE(TextRenderState.images[0], nullptr);
    EXPECT_NE(TextRenderState.images[1], nullptr);
    EXPECT_NE(TextRenderState.images[2], nullptr);
    EXPECT_STREQ(FontDefaultFace, "DejaVu Sans");
    EXPECT_NE(Lib_GlyphInfoGet('A', -1, 0).advance, 0);
    TextLanguage = 0;
}

TEST_F(BootFonts, AMissingFontEndsItsTaskWithALine) {
    if (IsSkipped()) return;
    if (!FontData()) GTEST_SKIP() << "font packages missing (tools/setup.sh)";
    ASSERT_TRUE(Fonts());
    StartFull();
    SystemDataBlock.language = 0;  // no font_00.ttf in the data
    testing::internal::CaptureStderr();
    FramesUntil([] { return GSL_ModeTop() == GSL_LogoModeCB && FontTasks() == 0; }, 300, "the logo, load failed");
    const std::string log = testing::internal::GetCapturedStderr() + Log();
    EXPECT_NE(log.find("font/font_00.ttf"), std::string::npos) << log;
}
}  // namespace
