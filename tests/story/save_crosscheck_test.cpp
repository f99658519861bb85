// The engine's files against tools/save_data.py, a reader and writer made
// from the layout alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "script/game_blocks.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "tests/story/save_env.h"

namespace {

class SaveCrossCheckTest : public SaveEnv {
protected:
    static int Tool(const std::string& args) {
        return std::system(("python3 " VN_SOURCE_DIR "/tools/save_data.py " + args).c_str());
    }
};

TEST_F(SaveCrossCheckTest, EngineFilesReadByTheTool) {
    ASSERT_EQ(std::system("python3 " VN_SOURCE_DIR "/tools/image_data.py tga user/icon.tga --size 228 128"), 0);
    ASSERT_TRUE(Lib_SaveInit());
    std::vector<uint8_t> data = Pattern(5, 4);
    SaveRequest r = Request(data, 5, "abc");
    std::strcpy(r.icon, "user/icon.tga");
    int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, 5);
    ASSERT_GT(RunTask(task), 0);
    Lib_SaveTaskEnd(task);
    EXPECT_EQ(Save(32, 1), 0);
    EXPECT_EQ(Tool("check user/4242/save --slot 5:abc_06 --slot 32 --icon-slot 5"), 0);
    EXPECT_NE(Tool("check user/4242/save --slot 6"), 0);  // the tool finds what is missing
}

TEST_F(SaveCrossCheckTest, ToolFilesLoadedByTheEngine) {
    ASSERT_EQ(Tool("write user/4242/save --slot 1:7 --slot 2:9 --slot 33:2 --corrupt 2"), 0);
    ASSERT_TRUE(Lib_SaveInit());
    EXPECT_EQ(Lib_SaveSlotCheck(1, nullptr), 0u);
    EXPECT_EQ(Data(1), Pattern(1, 7));
    EXPECT_EQ(Lib_SaveSlotCheck(2, nullptr), 2u);
    EXPECT_EQ(Lib_SaveSlotCheck(3, nullptr), 1u);
    EXPECT_EQ(Lib_SaveSlotCheck(33, nullptr), 0u);
    SaveInfo info;
    ASSERT_EQ(Lib_SaveSlotCheck(1, &info), 0u);
    EXPECT_STREQ(info.subtitle, "sub_02");
    EXPECT_EQ(info.date.year, 2030);
    Lib_SaveEnd();

    // The system slot as the tool writes it, loaded through the task.
    ASSERT_EQ(Tool("system user/4242/save --language 2 --var 16=1 --event 2374 --track 3 --special 5"), 0);
    ASSERT_TRUE(Lib_SaveInit());
    std::memset(&SystemDataBlock, 0, sizeof SystemDataBlock);
    SaveRequest req;
    GSL_SystemSaveRequestBuild(&req);
    EXPECT_EQ(req.data, &SystemDataBlock);
    EXPECT_EQ(req.dataSize, 4379u);
    int32_t task = Lib_SaveTaskSet(SAVE_TASK_LOAD, &req, 32);
    ASSERT_GT(RunTask(task), 0);
    EXPECT_EQ(Lib_SaveTaskCode(task), 0);
    Lib_SaveTaskEnd(task);
    GSL_SystemDataCheck(&SystemDataBlock);
    EXPECT_EQ(std::memcmp(SystemDataBlock.version, "0100", 4), 0);
    EXPECT_EQ(SystemDataBlock.language, 2);
    EXPECT_EQ(SystemDataBlock.systemVars[16], 1);
    EXPECT_EQ(SystemDataBlock.eventUnlock[374 / 8], 1 << (374 % 8));
    EXPECT_EQ(SystemDataBlock.musicUnlock[0], 1 << 3);
    EXPECT_EQ(SystemDataBlock.musicUnlock[2], 1 << 2);
    uint16_t special = SystemDataBlock.specialUnlock;
    EXPECT_EQ(special, 5);
    EXPECT_EQ(SystemDataFresh, 0);
}

}  // namespace
