#include "screens/boot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/sound/sound.h"
#include "tests/engine/text/font_env.h"
#include "ui/mode.h"

namespace {

// The boot flow with a base archive that holds the fonts of language 1.
class BootTest : public FontEnv {
protected:
    void SetUp() override {
        FontEnv::SetUp();
        if (HasFailure()) return;
        char tmpl[] = "/tmp/vn_boot_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        ASSERT_TRUE(Lib_TaskInit());
        for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
        FileLoadTable.pending = 0;
        std::filesystem::create_directories("tree/font");
        std::filesystem::create_directories("data");
        for (const auto& [name, path] : {std::pair{"font_01.ttf", font_env::kDejaVuSans},
                                         std::pair{"font_11.ttf", font_env::kDejaVuSerif}}) {
            if (!std::filesystem::exists(path)) GTEST_SKIP() << "font packages missing (tools/setup.sh)";
            std::filesystem::copy_file(path, std::string("tree/font/") + name);
        }
        std::ofstream("tree/font/font_add_00.ext", std::ios::binary) << std::string(256 + 16384, '\0');
        ASSERT_EQ(std::system("python3 " VN_SOURCE_DIR "/tools/pack.py pcarc data/data_00.pcarc tree"), 0);
        Lib_PcArcOpen();
        for (ModeFunction& entry : ModeStack) entry = nullptr;
    }
    void TearDown() override {
        for (ModeFunction& entry : ModeStack) entry = nullptr;
        Lib_SoundReset();  // the title music request
        for (int32_t i = 0; i < kFileLoadSlots; ++i) Lib_FileLoadEnd(i);
        Lib_PcArcClose();
        if (!old_.empty()) std::filesystem::current_path(old_);
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
        FontEnv::TearDown();
    }
    // Frames of the boot flow: the top mode function, the tasks, a loader pass.
    static void Frames(int count) {
        for (int i = 0; i < count; ++i) {
            ModeStack[0]();
            Lib_TaskPass(false);
            Lib_FileLoadCB(nullptr);
        }
    }
    static int FontTasks() {
        int n = 0;
        for (const TaskRecord* t : TaskTable.slots) n += t && t->callback == Lib_FontSetCB;
        return n;
    }
    std::filesystem::path dir_, old_;
};

// The interface language's fonts are loaded at start-up, and the task that
// loaded them ends; a language without its font file ends it too.
TEST_F(BootTest, LoadsTheInterfaceLanguagesFonts) {
    TextLanguage = 1;
    ModeStack[0] = GSL_BootModeCB;
    Frames(1);
    EXPECT_EQ(ModeStack[0], GSL_LogoModeCB);
    EXPECT_EQ(FontTasks(), 1);
    Frames(3);
    EXPECT_EQ(FontTasks(), 0);
    EXPECT_NE(TextRenderState.images[0], nullptr);
    EXPECT_NE(TextRenderState.images[1], nullptr);
    EXPECT_NE(TextRenderState.images[2], nullptr);
    EXPECT_STREQ(FontDefaultFace, "DejaVu Sans");
    EXPECT_NE(Lib_GlyphInfoGet('A', -1, 0).advance, 0);

    TextLanguage = 0;
    ModeStack[0] = GSL_BootModeCB;
    testing::internal::CaptureStderr();
    Frames(4);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("font/font_00.ttf"), std::string::npos) << log;
    EXPECT_EQ(FontTasks(), 0);
}

}  // namespace
