#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "engine/core/charcode.h"
#include "extras/gallery_tables.h"
#include "extras/special_table.h"
#include "script/game_blocks.h"
#include "story/catalogue.h"
#include "tests/engine/files/files_env.h"

namespace {

class ExtrasTablesTest : public FilesEnv {
protected:
    void TearDown() override {
        std::filesystem::remove("data/data_r18.pcarc");
        Lib_PcArcOpen();  // forget the R18 archive
        Lib_PcArcClose();
        FilesEnv::TearDown();
    }
    // The gallery invariants of the current variant.
    static void CheckVariant(int32_t thumbs, int32_t pictures, const int32_t (&counts)[6]) {
        const GalleryCategory* cats = GSL_GalleryGetTable();
        int32_t n = 0;
        const int32_t* ids = GSL_GalleryPictureIds(&n);
        ASSERT_EQ(n, pictures);
        EXPECT_EQ(GSL_GalleryThumbCount(), thumbs);
        int32_t first = 0, next = 0;
        for (int c = 0; c < 6; ++c) {
            EXPECT_EQ(cats[c].count, counts[c]);
            EXPECT_EQ(cats[c].firstThumbnail, first);
            for (int32_t t = 0; t < cats[c].count; ++t) {
                EXPECT_GE(cats[c].thumbnails[t].count, 1);
                EXPECT_EQ(cats[c].thumbnails[t].firstPicture, next);  // contiguous runs
                next += cats[c].thumbnails[t].count;
            }
            first += cats[c].count;
        }
        EXPECT_EQ(first, thumbs);
        EXPECT_EQ(next, pictures);
        std::set<int32_t> seen(ids, ids + n);
        EXPECT_EQ(int32_t(seen.size()), n);
        EXPECT_EQ(seen.count(2104) + seen.count(2350) + seen.count(2355), 0u);
        EXPECT_EQ(ids[n - 2], 2374);
        EXPECT_EQ(ids[n - 1], 2375);
        EXPECT_EQ(*seen.begin() >= 2000 && *seen.rbegin() <= 2375, true);
        char name[128];
        GSL_GalleryThumbName(0, name, sizeof name);
        char expected[128];
        std::snprintf(expected, sizeof expected, "thumb_%s.ext", GSL_EventPictureGet(105).name);
        EXPECT_STREQ(name, expected);
        GSL_GalleryThumbName(thumbs, name, sizeof name);
        EXPECT_STREQ(name, "");
        GSL_GalleryThumbName(-1, name, sizeof name);
        EXPECT_STREQ(name, "");
    }
};

TEST_F(ExtrasTablesTest, GalleryVariants) {
    CheckVariant(64, 131, {11, 6, 8, 9, 9, 21});
    int32_t n = 0;
    const int32_t* aa = GSL_GalleryPictureIds(&n);
    std::set<int32_t> allAges(aa, aa + n);
    std::vector<int32_t> aaFirst(aa, aa + 17);

    std::filesystem::create_directories("tree/doc");
    Write("tree/doc/x.txt", "x");
    ASSERT_TRUE(Pack("pcarc data/data_r18.pcarc tree"));
    Lib_PcArcOpen();
    ASSERT_TRUE(Lib_PcArcExists(2));
    CheckVariant(93, 369, {16, 12, 13, 15, 16, 21});
    const int32_t* r18 = GSL_GalleryPictureIds(&n);
    std::set<int32_t> all(r18, r18 + n);
    for (int32_t id : allAges) EXPECT_EQ(all.count(id), 1u) << id;
    EXPECT_EQ(std::vector<int32_t>(r18, r18 + 17), aaFirst);
    const int32_t start[] = {2105, 2157, 2158, 2130, 2131, 2106};
    EXPECT_TRUE(std::equal(start, start + 6, r18));
    // A thumbnail whose picture has a Japanese name reaches the caller in
    // Shift-JIS.
    const GalleryCategory* cats = GSL_GalleryGetTable();
    char name[128];
    GSL_GalleryThumbName(cats[1].firstThumbnail, name, sizeof name);
    EXPECT_EQ(std::strncmp(name, "thumb_event_quorin_", 19), 0);
    EXPECT_NE(std::strcmp(Lib_SjisToUtf8(name), name), 0);
    GSL_GalleryThumbName(0, name, 10);  // cut to the output size
    EXPECT_STREQ(name, "thumb_eve");
}

TEST_F(ExtrasTablesTest, SpecialScenarios) {
    SpecialEntry e;
    std::memset(&e, 0xCC, sizeof e);
    GSL_SpecialGetEntry(&e, 9);
    EXPECT_STREQ(e.button, "button_c46.ext");
    EXPECT_STREQ(e.script, "special.txt");
    EXPECT_STREQ(e.label, "*m10");
    EXPECT_STREQ(e.unlock, "[0009]");
    EXPECT_EQ(e.button[63], 0);
    EXPECT_EQ(e.unlock[31], 0);
    GSL_SpecialGetEntry(&e, 15);
    EXPECT_EQ(e.button[0], 0);

    std::memset(SystemDataBlock.systemVars, 0, 24);
    std::memset(GameStateBlock.gameVars, 0, 24);
    SystemDataBlock.specialUnlock = 0;
    GSL_SpecialUnlockEval();
    EXPECT_EQ(GSL_SpecialRate(), 0);
    SystemDataBlock.systemVars[3] = 1;
    SystemDataBlock.systemVars[20] = 1;  // names no entry
    GSL_SpecialUnlockEval();
    EXPECT_TRUE(GSL_SpecialIsUnlocked(3));
    EXPECT_EQ(GSL_SpecialRate(), 6);
    SystemDataBlock.systemVars[3] = 0;
    GSL_SpecialUnlockEval();
    EXPECT_TRUE(GSL_SpecialIsUnlocked(3));  // never cleared
    const int32_t rates[] = {0, 6, 13, 20, 26, 33, 40, 46, 53, 60, 66, 73, 80, 86, 93, 100};
    SystemDataBlock.specialUnlock = 0;
    for (int k = 0; k <= 15; ++k) {
        EXPECT_EQ(GSL_SpecialRate(), rates[k]) << k;
        if (k < 15) SystemDataBlock.systemVars[k] = int8_t(-k - 1);
        GSL_SpecialUnlockEval();
    }
    uint16_t word = SystemDataBlock.specialUnlock;
    EXPECT_EQ(word, 0x7FFF);  // bit 15 stays clear
    EXPECT_FALSE(GSL_SpecialIsUnlocked(-1));
    EXPECT_FALSE(GSL_SpecialIsUnlocked(15));
    uint8_t raw[2];
    std::memcpy(raw, reinterpret_cast<uint8_t*>(&SystemDataBlock) + 4377, 2);
    EXPECT_EQ(raw[0], 0xFF);
    EXPECT_EQ(raw[1], 0x7F);
}

}  // namespace
