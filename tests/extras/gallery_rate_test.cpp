// The gallery's completion rate in both variants, and the unlock test of a
// thumbnail's run.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "extras/gallery.h"
#include "extras/gallery_tables.h"
#include "script/game_blocks.h"
#include "story/access_flags.h"
#include "tests/engine/files/files_env.h"

namespace {

class GalleryRate : public FilesEnv {
protected:
    void SetUp() override {
        FilesEnv::SetUp();
        std::memset(SystemDataBlock.eventUnlock, 0, sizeof SystemDataBlock.eventUnlock);
    }
    void TearDown() override {
        std::memset(SystemDataBlock.eventUnlock, 0, sizeof SystemDataBlock.eventUnlock);
        std::filesystem::remove("data/data_r18.pcarc");
        Lib_PcArcOpen();  // forget the R18 archive
        Lib_PcArcClose();
        FilesEnv::TearDown();
    }
    // Unlocks the first n pictures of the current variant's table.
    static void UnlockFirst(int32_t n) {
        int32_t total = 0;
        const int32_t* ids = GSL_GalleryPictureIds(&total);
        for (int32_t i = 0; i < n && i < total; ++i) StoryAccessFlagGal(nullptr, ids[i], 1);
    }
};

TEST_F(GalleryRate, OneInAHundredIsOneAndTheVariantsDivideByTheirSizes) {
    EXPECT_EQ(GSL_GalleryRate(), 0);
    UnlockFirst(1);
    EXPECT_EQ(GSL_GalleryRate(), 1);  // 100 / 131 rounds down to 0, shown as 1
    UnlockFirst(66);
    EXPECT_EQ(GSL_GalleryRate(), 50);  // 6600 / 131
    UnlockFirst(131);
    EXPECT_EQ(GSL_GalleryRate(), 100);

    std::memset(SystemDataBlock.eventUnlock, 0, sizeof SystemDataBlock.eventUnlock);
    std::filesystem::create_directories("tree/doc");
    Write("tree/doc/x.txt", "x");
    ASSERT_TRUE(Pack("pcarc data/data_r18.pcarc tree"));
    Lib_PcArcOpen();
    ASSERT_TRUE(Lib_PcArcExists(2));
    UnlockFirst(1);
    EXPECT_EQ(GSL_GalleryRate(), 1);
    UnlockFirst(368);
    EXPECT_EQ(GSL_GalleryRate(), 99);
    UnlockFirst(369);
    EXPECT_EQ(GSL_GalleryRate(), 100);
}

TEST_F(GalleryRate, AnyOpenAndAllOpen) {
    // Thumbnail 1 of category 0: two pictures.
    const GalleryThumb& t = GSL_GalleryGetTable()[0].thumbnails[1];
    ASSERT_EQ(t.count, 2);
    int32_t total = 0;
    const int32_t* ids = GSL_GalleryPictureIds(&total);
    EXPECT_FALSE(GSL_GalleryAnyOpen(t.firstPicture, t.count, -1));
    StoryAccessFlagGal(nullptr, ids[t.firstPicture + 1], 1);
    EXPECT_TRUE(GSL_GalleryAnyOpen(t.firstPicture, t.count, 1));
    EXPECT_FALSE(GSL_GalleryAnyOpen(t.firstPicture, t.count, 0));
    StoryAccessFlagGal(nullptr, ids[t.firstPicture], 1);
    EXPECT_TRUE(GSL_GalleryAnyOpen(t.firstPicture, t.count, 0));
}

}  // namespace
