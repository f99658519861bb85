#include "story/save_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/util.h"
#include "script/flow.h"
#include "script/saved_position.h"
#include "script/script_report.h"
#include "tests/engine/core/cached_file.h"
#include "tests/story/save_env.h"

namespace fs = std::filesystem;

namespace {

class SaveStoreTest : public SaveEnv {};

DateTime* FixedClock(DateTime* out) {
    *out = DateTime{2031, 4, 5, 6, 7, 8, 99};
    return out;
}

TEST_F(SaveStoreTest, PartNamesAndPlaces) {
    EXPECT_EQ(Lib_SaveSizeGet(0, 34), 0u);

    char name[32];
    Lib_SaveFileName(5, name, sizeof name, ".bin.gz");
    EXPECT_STREQ(name, "save/data005.bin.gz");
    Lib_SaveFileName(32, name, sizeof name, ".pic.gz");
    EXPECT_STREQ(name, "save/system.pic.gz");
    Lib_SaveFileName(33, name, 8, ".bin.gz");  // cut to the output size
    EXPECT_STREQ(name, "save/qu");
    Lib_SaveFileName(34, name, sizeof name, ".bin.gz");
    EXPECT_STREQ(name, "");

    ASSERT_TRUE(Lib_SaveInit());
    void* at = nullptr;
    uint32_t size = 0;
    Lib_SaveDataAccess(4, "save/data031.prm.gz", &at, &size, 0);
    EXPECT_EQ(static_cast<uint8_t*>(at) - Lib_SaveImageGet(), SavePartOffset(31, 1));
    EXPECT_EQ(size, 1296u);
    Lib_SaveDataAccess(4, "save/system.pic.gz", &at, &size, 0);
    EXPECT_EQ(static_cast<uint8_t*>(at) - Lib_SaveImageGet(), SavePartOffset(32, 2));
    for (const char* bad : {"x", "save/dataabc.bin.gz", "save/data099.bin.gz", "save/data034.bin.gz"}) {
        at = nullptr;
        size = 0;
        uint8_t block[8] = {1, 2, 3};
        EXPECT_EQ(Lib_SaveDataAccess(1, bad, block, &size, 1), 0) << bad;
        EXPECT_EQ(Lib_SaveDataAccess(4, bad, &at, &size, 0), 0) << bad;
        EXPECT_EQ(at, nullptr);
        EXPECT_EQ(size, 0u);
    }
    // Write, read, clear through names; the flag follows.
    std::vector<uint8_t> info(1296, 7), back(1296);
    EXPECT_EQ(Lib_SaveDataAccess(1, "save/data002.prm.gz", info.data(), nullptr, 0), 1);
    EXPECT_EQ(Lib_SaveImageGet()[34 + 2], 1);
    EXPECT_EQ(Lib_SaveDataAccess(2, "save/data002.prm.gz", back.data(), nullptr, 0), 1);
    EXPECT_EQ(back, info);
    EXPECT_EQ(Lib_SaveDataAccess(3, "save/data002.prm.gz", nullptr, nullptr, 1), 0);
    EXPECT_EQ(Lib_SaveDataAccess(0, "save/data002.prm.gz", nullptr, nullptr, 0), 0);
}

// Packs one script file into the cached script container.
void ScriptsCached(const std::string& text) {
    fs::create_directories("scripts/script.arc");
    SaveEnv::Write("scripts/script.arc/a.txt", text);
    ASSERT_EQ(std::system("python3 " VN_SOURCE_DIR "/tools/pack.py script scripts/script.arc scripts.arc >/dev/null"),
              0);
    ASSERT_TRUE(CachedFilePut("script/script.arc", SaveEnv::Read("scripts.arc")));
}

// Beside a game slot lies the record of the script files its state was made
// with, naming the slot's data: a load hands it to the story that starts from
// the slot, which finds its line by it after the file changed. A record that
// names other data (the writer stopped between save.cdf and the record) is not
// taken: the story is told the save has no record.
TEST_F(SaveStoreTest, AGameSlotKeepsItsScriptRecordBesideItAndALoadTakesOnlyItsOwn) {
    ASSERT_TRUE(Lib_SaveInit());
    const std::string text = "*a\n<label>\n<text one>\n<keywait 1>\n";
    ScriptsCached(text);
    const int32_t member = GSL_ScriptMemberIndex("a.txt");
    ASSERT_GE(member, 0);
    auto state = std::make_unique<GameState>();
    GSL_BlockVersionStamp(state.get());
    std::strcpy(state->scriptName, "a.txt");
    state->restartOffset = 4;  // CR LF: <label>, then <keywait 1>
    state->startOffset = 25;
    state->labelCount = 1;
    state->labelPos[0] = GSL_ScriptPosition(member, 4);
    state->labelFlags[0] = 1;
    state->readLinePos[0] = GSL_ScriptPosition(member, 25);
    const auto* bytes = reinterpret_cast<const uint8_t*>(state.get());
    std::vector<uint8_t> data(bytes, bytes + sizeof(GameState));
    ASSERT_GE(Transfer(SAVE_TASK_SAVE, 0, data), 0);
    const std::string record = Read("user/4242/save/data000.scr");
    ASSERT_GT(record.size(), 48u);
    uint8_t digest[20];
    Lib_Sha1(data.data(), uint32_t(data.size()), digest);
    EXPECT_EQ(record.substr(0, 4), "VNSR");
    EXPECT_EQ(record.substr(8, 20), std::string(reinterpret_cast<const char*>(digest), 20));

    // The file changed above its label; the slot loaded, then the story's
    // start.
    auto load = [&]() {
        std::vector<uint8_t> out;
        EXPECT_EQ(Transfer(SAVE_TASK_LOAD, 0, out), SAVE_CODE_OK);
        std::memcpy(static_cast<void*>(&GameStateBlock), out.data(), sizeof(GameState));
        GSL_ScriptReportReset();
        testing::internal::CaptureStderr();
        GSL_SavedPositionMend();
        return testing::internal::GetCapturedStderr();
    };
    ScriptsCached("; a line at the top\n" + text);
    EXPECT_EQ(load(), "vn: script a.txt:3: the save at *a was made with other script files; it goes on there, found "
                      "by name\n");
    EXPECT_EQ(GameStateBlock.startOffset, 25u + 21u);

    // A later save stopped after save.cdf, before its record: the older
    // record on the disk is not taken for it.
    // A save of slot 0 made at the given seconds whose writer stops after
    // save.cdf.
    auto stoppedSave = [&](uint8_t seconds) {
        Lib_SaveWriterStopAfter(2);
        state->playSeconds = seconds;
        data.assign(bytes, bytes + sizeof(GameState));
        SaveRequest r = Request(data, 0);
        const int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, 0);
        EXPECT_GE(task, 0);
        for (int i = 0; i < 120; ++i) Pass();
        EXPECT_FALSE(Lib_SaveFlush());
        Lib_SaveTaskEnd(task);
    };
    ScriptsCached(text);
    ASSERT_TRUE(Lib_SaveFlush());
    stoppedSave(5);
    Reload();
    EXPECT_EQ(Data(0), data);
    EXPECT_EQ(Read("user/4242/save/data000.scr"), record);
    ScriptsCached("; a line at the top\n" + text);
    EXPECT_EQ(load(), "vn: script a.txt:1: the save has no record of its script files, and its label is no label of "
                      "a.txt; it goes on from its top\n");
    EXPECT_EQ(GameStateBlock.startOffset, 0u);

    // A record the system refuses (a folder stands in its place): the save
    // stands whole and is told as saved, the record's loss on stderr; after
    // a restart the slot is that save, loading as one with no record.
    ScriptsCached(text);
    const std::string at = "user/4242/save/data000.scr";
    std::filesystem::remove(at);
    std::filesystem::create_directories(at + "/kept");
    state->playSeconds = 7;
    data.assign(bytes, bytes + sizeof(GameState));
    testing::internal::CaptureStderr();
    EXPECT_EQ(Transfer(SAVE_TASK_SAVE, 0, data), SAVE_CODE_OK);
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find("data000.scr could not be written"), std::string::npos) << told;
    EXPECT_NE(told.find("the save stands, and loads as one with no record of its script files"), std::string::npos)
        << told;
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
    const std::string none = "vn: script a.txt:2: the save at *a has no record of its script files; it goes on where "
                             "the save places it\n";
    EXPECT_EQ(load(), none);
    Reload();
    std::filesystem::remove_all(at);
    EXPECT_EQ(Lib_SaveSlotCheck(0, nullptr), uint32_t(SLOT_VALID));
    EXPECT_EQ(Data(0), data);
    EXPECT_EQ(load(), none);
    EXPECT_EQ(GameStateBlock.startOffset, 25u);

    // A load before the writer has written a save's record (it stops after
    // save.cdf) takes the record that save made, though the record of the
    // save before it was refused.
    std::filesystem::create_directories(at + "/kept");
    state->playSeconds = 9;
    data.assign(bytes, bytes + sizeof(GameState));
    testing::internal::CaptureStderr();
    EXPECT_EQ(Transfer(SAVE_TASK_SAVE, 0, data), SAVE_CODE_OK);
    testing::internal::GetCapturedStderr();
    std::filesystem::remove_all(at);
    stoppedSave(11);
    EXPECT_EQ(load(), "");
}

// The first start writes both files; a save is on disk once the task is done
// and reads back whole from a fresh start.
TEST_F(SaveStoreTest, FirstStartAndSaveReachTheDisk) {
    ASSERT_TRUE(Lib_SaveInit());
    ASSERT_TRUE(Lib_SaveFlush());
    EXPECT_EQ(Inflated(kSave).size(), 8728397u);
    EXPECT_EQ(Inflated(kRegistry), std::string(680, '\0'));
    std::string file = Read(kSave);
    EXPECT_EQ(file.substr(file.size() - 8), std::string("\0\0\0\0\x4D\x2F\x85\x00", 8));

    Lib_SaveClockSet(FixedClock);
    std::vector<uint8_t> data = Pattern(5, 3);
    std::vector<uint8_t> picture(116754, 0x5A);
    SaveRequest r = Request(data, 5, "");
    std::memset(r.subtitle, 'x', sizeof r.subtitle);  // unterminated, full
    r.picture = picture.data();
    r.pictureSize = 1000;  // a short picture is zero-filled
    int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, 5);
    ASSERT_GE(task, 0);
    std::memset(&r, 0, sizeof r);  // the store keeps its own copy
    ASSERT_GT(RunTask(task), 60);
    EXPECT_EQ(Lib_SaveTaskCode(task), 0);
    Lib_SaveTaskEnd(task);
    EXPECT_EQ(Lib_SaveTaskResult(task), -1);

    // What the disk holds, read without the store.
    std::string image = Inflated(kSave), registry = Inflated(kRegistry);
    ASSERT_EQ(image.size(), 8728397u);
    ASSERT_EQ(registry.size(), 680u);
    EXPECT_EQ(image[5], 1);
    EXPECT_EQ(image[34 + 5], 1);
    EXPECT_EQ(image[68 + 5], 1);
    EXPECT_EQ(image.compare(SavePartOffset(5, 0), data.size(), std::string(data.begin(), data.end())), 0);
    uint8_t sha[20];
    Lib_Sha1(data.data(), uint32_t(data.size()), sha);
    EXPECT_EQ(registry.substr(100, 20), std::string(reinterpret_cast<char*>(sha), 20));
    SaveInfo info;
    std::memcpy(&info, image.data() + SavePartOffset(5, 1), sizeof info);
    EXPECT_EQ(std::strlen(info.subtitle), 127u);
    EXPECT_STREQ(info.subtitle + 124, "_06");
    EXPECT_STREQ(info.title, "title");
    EXPECT_EQ(info.date.year, 2031);
    EXPECT_EQ(info.date.second, 8);
    EXPECT_EQ(info.date.zero, 0u);
    const char* pict = image.data() + SavePartOffset(5, 2);
    EXPECT_EQ(pict[999], 0x5A);
    EXPECT_EQ(pict[1000], 0);

    // A slot whose only byte in a 4 KiB block of the image is the block's
    // last: the writer's first copy after a start keeps it.
    std::vector<uint8_t> sparse(SaveDataSize(0), 0);
    sparse[2 * 4096 - 1 - SavePartOffset(0, 0)] = 7;
    ASSERT_EQ(Transfer(SAVE_TASK_SAVE, 0, sparse), 0);
    Reload();
    SaveInfo check;
    EXPECT_EQ(Lib_SaveSlotCheck(5, &check), 0u);
    EXPECT_STREQ(check.title, "title");
    EXPECT_EQ(Data(5), data);
    // A save after a start from the disk keeps the slots loaded from it.
    EXPECT_EQ(Save(6, 2), 0);
    Reload();
    EXPECT_EQ(Lib_SaveSlotCheck(5, nullptr), 0u);
    EXPECT_EQ(Data(5), data);
    EXPECT_EQ(Lib_SaveSlotCheck(0, nullptr), 0u);
    EXPECT_TRUE(Data(0) == sparse);
    EXPECT_EQ(Lib_SaveSlotCheck(4, nullptr), 1u);
    EXPECT_EQ(Lib_SaveSlotCheck(-1, nullptr), 1u);
    EXPECT_EQ(Lib_SaveSlotCheck(34, nullptr), 1u);

    // A deletion empties the slot; its digest stays.
    task = Lib_SaveTaskSet(SAVE_TASK_DELETE, nullptr, 5);
    ASSERT_GE(task, 0);
    ASSERT_GT(RunTask(task), 60);
    Lib_SaveTaskEnd(task);
    Reload();
    EXPECT_EQ(Lib_SaveSlotCheck(5, nullptr), 1u);
    EXPECT_EQ(std::memcmp(Lib_SaveDigestGet(5), sha, 20), 0);
}

// The picture part comes from the icon file when the request has none:
// whole, zero-filled when short, zeroed when missing.
TEST_F(SaveStoreTest, PicturePartFromTheIcon) {
    ASSERT_TRUE(Lib_SaveInit());
    fs::create_directories("user/icons");
    Write("user/icons/icon_full.tga", std::string(120000, 'F'));
    Write("user/icons/icon_short.tga", std::string(50, 'S'));
    struct Case {
        const char* icon;
        char first, last;
    } cases[] = {{"user/icons/icon_full.tga", 'F', 'F'},
                 {"user/icons/icon_short.tga", 'S', 0},
                 {"user/icons/missing.tga", 0, 0}};
    for (const Case& c : cases) {
        // Garbage first, so that zeros are written, not left.
        std::vector<uint8_t> junk(116754, 0xEE);
        Lib_SaveDataAccess(1, "save/data007.pic.gz", junk.data(), nullptr, 0);
        std::vector<uint8_t> data = Pattern(7, 1);
        SaveRequest r = Request(data, 7);
        std::snprintf(r.icon, sizeof r.icon, "%s", c.icon);
        int32_t task = Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, 7);
        ASSERT_GT(RunTask(task), 0);
        Lib_SaveTaskEnd(task);
        const uint8_t* pict = Lib_SaveImageGet() + SavePartOffset(7, 2);
        EXPECT_EQ(pict[0], uint8_t(c.first)) << c.icon;
        EXPECT_EQ(pict[116753], uint8_t(c.last)) << c.icon;
        EXPECT_EQ(pict[60], uint8_t(c.last)) << c.icon;
    }
}

// Loads: a good slot fills the caller's block; an empty system slot is
// created from it (code 1, fresh); a broken slot leaves the block alone
// (code 3); refused requests give -1.
TEST_F(SaveStoreTest, LoadResultsAndRefusals) {
    ASSERT_TRUE(Lib_SaveInit());
    std::vector<uint8_t> block = Pattern(32, 9);
    SaveRequest r = Request(block, 32);
    int32_t task = Lib_SaveTaskSet(SAVE_TASK_LOAD, &r, 32);
    int passes = RunTask(task);
    EXPECT_GT(passes, 120);  // the result dialog and the save, each a second at least
    EXPECT_EQ(Lib_SaveTaskCode(task), 1);
    EXPECT_EQ(SystemDataFresh, 1);
    Lib_SaveTaskEnd(task);
    EXPECT_EQ(Lib_SaveSlotCheck(32, nullptr), 0u);
    EXPECT_EQ(Data(32), Pattern(32, 9));

    std::vector<uint8_t> out(4379, 0);
    r = Request(out, 32);
    task = Lib_SaveTaskSet(SAVE_TASK_LOAD, &r, 32);
    EXPECT_GE(RunTask(task), 60);  // no dialog, still a second
    EXPECT_EQ(Lib_SaveTaskCode(task), 0);
    Lib_SaveTaskEnd(task);
    EXPECT_EQ(out, Pattern(32, 9));

    // Damage the slot's data in the image: the load reports it.
    uint8_t* data = nullptr;
    Lib_SaveDataAccess(4, "save/system.bin.gz", &data, nullptr, 0);
    data[100] ^= 1;
    EXPECT_EQ(Lib_SaveSlotCheck(32, nullptr), 2u);
    std::fill(out.begin(), out.end(), 0x77);
    task = Lib_SaveTaskSet(SAVE_TASK_LOAD, &r, 32);
    ASSERT_GT(RunTask(task), 0);
    EXPECT_EQ(Lib_SaveTaskCode(task), 3);
    Lib_SaveTaskEnd(task);
    EXPECT_EQ(out, std::vector<uint8_t>(4379, 0x77));

    // Refused: slot outside 0..33, no data, a size other than the slot's.
    EXPECT_EQ(Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, 34), -1);
    EXPECT_EQ(Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, -1), -1);
    EXPECT_EQ(Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, 5), -1);  // 4379 bytes for a game slot
    EXPECT_EQ(Lib_SaveTaskSet(SAVE_TASK_LOAD, nullptr, 32), -1);
    r.data = nullptr;
    EXPECT_EQ(Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, 32), -1);
    EXPECT_EQ(Lib_SaveTaskSet(SaveTaskMode(3), nullptr, 2), -1);
    EXPECT_EQ(Lib_SaveTaskResult(-1), SAVE_TASK_NO_TASK);
    EXPECT_EQ(Lib_SaveTaskCode(12345), SAVE_CODE_NO_TASK);
    Lib_SaveTaskEnd(-3);
}

std::vector<std::string> g_log;
void Sink(const char* line) { g_log.emplace_back(line); }

// What the player is told of a save is what the next start finds, whichever
// one write of the commit the system refuses (a folder at its temporary file,
// or at the record's name). save.cdf or registry_next.cdf refused: the save
// is lost, told "write failed" (code 4, a result dialog), and the slot stays
// as it was, in the list and after a restart. The record or registry.cdf
// refused: the save stands, told saved, and the next start finds it (the
// digests registry.cdf lacks from registry_next.cdf).
TEST_F(SaveStoreTest, WriteFailureIsReported) {
    ASSERT_TRUE(Lib_SaveInit());
    ASSERT_EQ(Save(3, 1), 0);
    const struct {
        const char* refused;
        int32_t code;
    } rows[] = {{"save.cdf.tmp", 4}, {"registry_next.cdf.tmp", 4}, {"data003.scr", 0}, {"registry.cdf.tmp", 0}};
    uint8_t seed = 10;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.refused);
        const std::vector<uint8_t> found = r.code ? Data(3) : Pattern(3, ++seed);
        const std::string at = std::string("user/4242/save/") + r.refused;
        fs::create_directories(at + "/kept");
        g_log.clear();
        Lib_DebugSetSink(Sink);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Save(3, r.code ? 99 : seed), r.code);
        testing::internal::GetCapturedStderr();
        Lib_DebugSetSink(nullptr);
        std::erase_if(g_log, [](const std::string& l) { return l.rfind("dialog ", 0) != 0; });  // the dialogs only
        ASSERT_EQ(g_log.size(), r.code ? 2u : 1u);
        EXPECT_EQ(g_log[0].rfind("dialog 4:", 0), 0u);  // the progress message
        if (r.code) {
            EXPECT_EQ(g_log[1].rfind("dialog 2:", 0), 0u);  // the result: "write failed"
        }
        EXPECT_EQ(Lib_SaveSlotCheck(3, nullptr), 0u);
        EXPECT_TRUE(Data(3) == found);
        fs::remove_all(at);
        Reload();
        EXPECT_EQ(Lib_SaveSlotCheck(3, nullptr), 0u);
        EXPECT_TRUE(Data(3) == found);
        EXPECT_FALSE(fs::exists("user/4242/save/registry_next.cdf"));
    }

    // The information part is not digested: its copy is always terminated.
    std::vector<char> info(1296, 'x');
    Lib_SaveDataAccess(1, "save/data003.prm.gz", info.data(), nullptr, 0);
    SaveInfo check;
    ASSERT_EQ(Lib_SaveSlotCheck(3, &check), 0u);
    EXPECT_EQ(std::strlen(check.title), 127u);
    EXPECT_EQ(std::strlen(check.subtitle), 127u);
    EXPECT_EQ(std::strlen(check.detail), 1023u);
}

// The size table must agree with the layout, or the store stays off.
TEST_F(SaveStoreTest, SizeTableMismatchLeavesTheStoreOff) {
    SaveBinSizeTable[33] = 135752;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Lib_SaveInit());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("size table"), std::string::npos);
    EXPECT_EQ(Lib_SaveImageGet(), nullptr);
    std::vector<uint8_t> data;
    SaveRequest r = Request(data, 5);
    EXPECT_EQ(Lib_SaveTaskSet(SAVE_TASK_SAVE, &r, 5), -1);
    EXPECT_EQ(Lib_SaveDataAccess(0, "save/data005.bin.gz", nullptr, nullptr, 0), 0);
    EXPECT_EQ(Lib_SaveSlotCheck(5, nullptr), 1u);
}

}  // namespace
