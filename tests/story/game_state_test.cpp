#include "story/game_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "engine/files/message_table.h"
#include "engine/text/font.h"
#include "script/stage.h"
#include "story/access_flags.h"
#include "story/catalogue.h"

namespace {

uint64_t g_now;
uint64_t Now() { return g_now; }

std::vector<std::string> g_log;
void Sink(const char* line) { g_log.emplace_back(line); }

class GameStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        GSL_PlayTimeClockSet(Now);
        Lib_DebugSetSink(Sink);
        g_log.clear();
    }
    void TearDown() override {
        GSL_PlayTimeClockSet(nullptr);
        Lib_DebugSetSink(nullptr);
        FontDefaultFace[0] = 0;
    }
    static const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }
};

TEST_F(GameStateTest, ResetValuesOfBothBlocks) {
    std::memset(&SystemDataBlock, 0xA5, sizeof SystemDataBlock);
    SystemDataBlock.language = int8_t(Lib_LanguageGet());
    std::strcpy(FontDefaultFace, "Game Face");
    GSL_SystemDataReset();
    const uint8_t* d = Bytes(&SystemDataBlock);
    EXPECT_EQ(std::memcmp(d, "0100", 4), 0);
    EXPECT_EQ(d[4], 0);
    const uint8_t config[24] = {0, 60, 80, 0, 100, 50, 50, 100, 100, 1};
    EXPECT_EQ(std::memcmp(d + 5, config, 24), 0);
    EXPECT_EQ(d[29], Lib_LanguageGet());
    EXPECT_STREQ(SystemDataBlock.fontName, "Game Face");
    EXPECT_EQ(d[30 + 63], 0);
    for (uint32_t i = 94; i < 4379; ++i) {
        if (i == 4374 + 2) EXPECT_EQ(d[i], 1 << 2) << "the title track, record 18";
        else EXPECT_EQ(d[i], 0) << i;
    }

    // The font name is kept only when the language stays.
    SystemDataBlock.language = int8_t((Lib_LanguageGet() + 1) % 4);
    GSL_ConfigDefaults();
    EXPECT_STREQ(SystemDataBlock.fontName, "");
    FontDefaultFace[0] = 0;
    GSL_ConfigDefaults();
    EXPECT_STREQ(SystemDataBlock.fontName, "");

    std::memset(&GameStateBlock, 0x5A, sizeof GameStateBlock);
    g_now = 777;
    GSL_GameStateInit();
    const uint8_t* g = Bytes(&GameStateBlock);
    EXPECT_EQ(std::memcmp(g, "0100", 4), 0);
    EXPECT_EQ(PlayTimeBase, 777u);
    for (uint32_t i = 4; i < 96; ++i) EXPECT_EQ(g[i], 0) << i;
    EXPECT_STREQ(GameStateBlock.scriptName, "00_init.txt");
    for (uint32_t i = 108; i < 134960; ++i)
        if (g[i]) FAIL() << "byte " << i;
    StageRecord expected;
    std::memset(&expected, 0x5A, sizeof expected);
    GSL_StageReset(&expected, STAGE_RESET_NAME | STAGE_RESET_FIELDS);
    EXPECT_EQ(std::memcmp(&GameStateBlock.stage, &expected, sizeof expected), 0);

    EXPECT_EQ(GSL_MouseDragThreshold(0, 0), 43);
    EXPECT_EQ(GSL_MouseDragThreshold(-5, 99), 43);
    char path[256];
    GSL_WipePathMake(path);
    EXPECT_STREQ(path, "visual/wipe/wipe_000.ext");
}

// Play time by the monotonic clock, whole seconds per update.
TEST_F(GameStateTest, PlayTimeTable) {
    g_now = 1000;
    GSL_GameStateInit();
    GameStateBlock.playSeconds = 30;
    g_now += 59900000;  // 59.9 s
    GSL_PlayTimeUpdate();
    EXPECT_EQ(GameStateBlock.playHours, 0);
    EXPECT_EQ(GameStateBlock.playMinutes, 1);
    EXPECT_EQ(GameStateBlock.playSeconds, 29);
    g_now += 3600000000ull;
    GSL_PlayTimeUpdate();
    EXPECT_EQ(GameStateBlock.playHours, 1);
    EXPECT_EQ(GameStateBlock.playMinutes, 1);
    EXPECT_EQ(GameStateBlock.playSeconds, 29);
    GameStateBlock.playHours = 65535;
    GameStateBlock.playMinutes = 59;
    GameStateBlock.playSeconds = 59;
    g_now += 1000000;
    GSL_PlayTimeUpdate();
    EXPECT_EQ(GameStateBlock.playHours, 0);
    EXPECT_EQ(GameStateBlock.playMinutes, 0);
    EXPECT_EQ(GameStateBlock.playSeconds, 0);
    // 40 days are counted whole.
    g_now += 40ull * 86400 * 1000000;
    GSL_PlayTimeUpdate();
    EXPECT_EQ(GameStateBlock.playHours, 960);
    // A clock that went back adds nothing.
    g_now -= 5000000;
    GSL_PlayTimeUpdate();
    EXPECT_EQ(GameStateBlock.playHours, 960);
    EXPECT_EQ(GameStateBlock.playSeconds, 0);
}

TEST_F(GameStateTest, ChecksRepairHostileBlocks) {
    SystemData d;
    std::memset(&d, 0xFF, sizeof d);
    d.language = 7;
    GSL_SystemDataCheck(&d);
    EXPECT_EQ(d.language, Lib_LanguageGet());
    EXPECT_EQ(d.lastSlot, 0);
    EXPECT_EQ(d.fontName[63], 0);
    d.language = -1;
    d.lastSlot = 31;
    GSL_SystemDataCheck(&d);
    EXPECT_EQ(d.language, Lib_LanguageGet());
    EXPECT_EQ(d.lastSlot, 31);
    d.language = 3;
    GSL_SystemDataCheck(&d);
    EXPECT_EQ(d.language, 3);

    static GameState g;
    std::memset(&g, 'x', sizeof g);
    g.labelCount = 0xFFFFFFFF;
    g.readLineCount = 16001;
    GSL_GameStateCheck(&g);
    EXPECT_EQ(std::strlen(g.scriptName), 47u);
    for (const auto& name : g.labelName) EXPECT_EQ(std::strlen(name), 63u);
    EXPECT_EQ(g.labelCount, 400u);
    EXPECT_EQ(g.readLineCount, 16000u);
    g.labelCount = 12;
    GSL_GameStateCheck(&g);
    EXPECT_EQ(g.labelCount, 12u);
    GSL_SystemDataCheck(nullptr);
    GSL_GameStateCheck(nullptr);
}

TEST_F(GameStateTest, AccessFlagsByNameAndId) {
    std::memset(SystemDataBlock.eventUnlock, 0, 48);
    std::memset(SystemDataBlock.musicUnlock, 0, 3);
    // A full upper-case path and the bare stem select record 374.
    EXPECT_EQ(StoryAccessFlagGal("VISUAL/ADV/EVENT_OTHER_LAST1.EXT", -1, 1), 0);
    EXPECT_EQ(SystemDataBlock.eventUnlock[374 / 8], 1 << (374 % 8));
    EXPECT_EQ(StoryAccessFlagGal("event_other_last1", -1, 0), 1);
    EXPECT_EQ(StoryAccessFlagGal("event_other_last1", -1, 1), 1);  // already set
    EXPECT_EQ(StoryAccessFlagGal("event_other_last1", -1, -1), 1);
    EXPECT_EQ(StoryAccessFlagGal("event_other_last1", -1, 0), 0);
    EXPECT_EQ(SystemDataBlock.eventUnlock[46], 0);
    // By id: 2375 is bit 7 of byte 46; 2376 and 1999 fail with the debug line.
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2375, 1), 0);
    EXPECT_EQ(SystemDataBlock.eventUnlock[46], 0x80);
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2375, 0), 1);
    g_log.clear();
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2376, 1), 0);
    EXPECT_EQ(StoryAccessFlagGal("x", 1999, 1), 0);
    ASSERT_EQ(g_log.size(), 2u);
    EXPECT_EQ(g_log[0], "Error -> StoryAccessFlagGal((null),2376,1)\n");
    EXPECT_EQ(SystemDataBlock.eventUnlock[47], 0);  // the reserved byte

    // Names that select nothing leave every bit alone.
    uint8_t before[51];
    std::memcpy(before, SystemDataBlock.eventUnlock, 48);
    std::memcpy(before + 48, SystemDataBlock.musicUnlock, 3);
    for (const char* name : {"", "visual/adv/.ext", "event_nothing", "event_other_last", "\x82"}) {
        EXPECT_EQ(StoryAccessFlagGal(name, -1, 1), 0) << name;
        EXPECT_EQ(StoryAccessFlagBGM(name, -1, 1), 0) << name;
    }
    EXPECT_EQ(StoryAccessFlagBGM(nullptr, -1, 1), 0);
    EXPECT_EQ(StoryAccessFlagBGM(nullptr, 0, 1), 0);  // every track id is -1
    // A tune the music room does not list is no mistake and says nothing;
    // a track id that names no track does.
    g_log.clear();
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/a_tune_not_listed.oggl", -1, 1), 0);
    EXPECT_EQ(g_log.size(), 0u);
    EXPECT_EQ(StoryAccessFlagBGM(nullptr, 7, 1), 0);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0], "Error -> StoryAccessFlagBGM((null),7,1)\n");
    EXPECT_EQ(std::memcmp(before, SystemDataBlock.eventUnlock, 48), 0);
    EXPECT_EQ(std::memcmp(before + 48, SystemDataBlock.musicUnlock, 3), 0);

    // Tracks: the title track by its fixed path, track 20 at bit 4 of byte 2.
    EXPECT_EQ(StoryAccessFlagBGM("sound/bgm/Quillmere.oggl", -1, 1), 0);
    EXPECT_EQ(SystemDataBlock.musicUnlock[2], 1 << 2);
    BgmTrackRecord t20 = GSL_BgmTrackGet(20);
    EXPECT_EQ(StoryAccessFlagBGM(t20.name, -1, 1), 0);
    EXPECT_EQ(SystemDataBlock.musicUnlock[2], (1 << 2) | (1 << 4));

    // A Japanese stem in UTF-8 and in Shift-JIS selects the same record.
    BgmTrackRecord t0 = GSL_BgmTrackGet(0);  // Shift-JIS
    char utf8[256];
    std::snprintf(utf8, sizeof utf8, "sound/bgm/%s.oggl", Lib_SjisToUtf8(t0.name));
    EXPECT_GT(std::strlen(utf8), std::strlen(t0.name) + 15);
    EXPECT_EQ(StoryAccessFlagBGM(utf8, -1, 1), 0);
    EXPECT_EQ(SystemDataBlock.musicUnlock[0], 1);
    EXPECT_EQ(StoryAccessFlagBGM(t0.name, -1, -1), 1);
    EXPECT_EQ(SystemDataBlock.musicUnlock[0], 0);
    EventPictureRecord p20 = GSL_EventPictureGet(20);
    std::snprintf(utf8, sizeof utf8, "%s", Lib_SjisToUtf8(p20.name));
    EXPECT_EQ(StoryAccessFlagGal(utf8, -1, 1), 0);
    EXPECT_EQ(StoryAccessFlagGal(p20.name, -1, 0), 1);
    // A lead byte just before the terminator never steps over it.
    char lead[] = "event_\x82";
    EXPECT_EQ(StoryAccessFlagGal(lead, -1, 0), 0);
}

TEST_F(GameStateTest, CatalogueRecords) {
    EventPictureRecord r = GSL_EventPictureGet(0);
    EXPECT_EQ(std::strncmp(r.name, "event_deformation_", 18), 0);
    EXPECT_EQ(r.id, 2000);
    r = GSL_EventPictureGet(13);
    EXPECT_STREQ(r.name, "event_sefa_ed_a");
    EXPECT_STREQ(GSL_EventPictureGet(14).name, "event_sefa_ed_b");
    EXPECT_STREQ(GSL_EventPictureGet(96).name, "event_dova_ed");
    EXPECT_STREQ(GSL_EventPictureGet(159).name, "event_pemble_ed");
    EXPECT_STREQ(GSL_EventPictureGet(231).name, "event_lirra_ed");
    EXPECT_STREQ(GSL_EventPictureGet(374).name, "event_other_last1");
    EXPECT_EQ(GSL_EventPictureGet(375).id, 2375);
    for (int32_t i : {-1, 376, 100000}) {
        EXPECT_STREQ(GSL_EventPictureGet(i).name, "");
        EXPECT_EQ(GSL_EventPictureGet(i).id, -1);
        EXPECT_STREQ(GSL_BgmTrackGet(i < 0 ? i : 21).name, "");
    }
    for (int32_t k = 0; k < 21; ++k) EXPECT_EQ(GSL_BgmTrackGet(k).id, -1);
    EXPECT_STREQ(GSL_BgmTrackGet(18).name, "quillmere");
    // A Japanese name: 2 bytes a character instead of 3, the prefix unchanged.
    r = GSL_EventPictureGet(2);
    const char* stored = Lib_SjisToUtf8(r.name);
    size_t sjisLen = std::strlen(r.name), utf8Len = std::strlen(stored);
    EXPECT_EQ(std::strncmp(r.name, "event_deformation_", 18), 0);
    EXPECT_EQ((utf8Len - 18) * 2, (sjisLen - 18) * 3);
    // The group ranges and unique names.
    const char* keys[] = {"deformation", "sefa", "dova", "pemble", "lirra", "other", "quorin"};
    const int32_t firsts[] = {0, 13, 96, 159, 231, 313, 319, 374};
    for (int g = 0; g < 7; ++g)
        for (int32_t i = firsts[g]; i < firsts[g + 1]; ++i) {
            char prefix[32];
            std::snprintf(prefix, sizeof prefix, "event_%s_", keys[g]);
            EXPECT_EQ(std::strncmp(GSL_EventPictureGet(i).name, prefix, std::strlen(prefix)), 0) << i;
            EXPECT_EQ(GSL_EventPictureFind(GSL_EventPictureGet(i).name), i);
        }
}

TEST_F(GameStateTest, VariableReferences) {
    std::memset(SystemDataBlock.systemVars, 0, 24);
    std::memset(GameStateBlock.gameVars, 0, 24);
    SystemDataBlock.systemVars[3] = 4;
    SystemDataBlock.systemVars[23] = -2;
    GameStateBlock.gameVars[5] = 9;
    EXPECT_EQ(GSL_VarRefEval("[0003]"), 4);
    EXPECT_EQ(GSL_VarRefEval("[03x"), 4);  // digits up to the first non-digit
    EXPECT_EQ(GSL_VarRefEval("[3]"), 0);   // only "[0", "[1" and "[2" begin a reference
    EXPECT_EQ(GSL_VarRefEval("[0023]"), -2);
    EXPECT_EQ(GSL_VarRefEval("[0024]"), 0);
    EXPECT_EQ(GSL_VarRefEval("[2005]"), 9);
    EXPECT_EQ(GSL_VarRefEval("[2024]"), 0);
    EXPECT_EQ(GSL_VarRefEval("[3999999999999999]"), 0);
    for (const char* bad : {"", "[", "3", "[a1]", "[-1]", "[9]"}) EXPECT_EQ(GSL_VarRefEval(bad), 0) << bad;
    EXPECT_EQ(GSL_VarRefEval(nullptr), 0);
}

}  // namespace
