#include "ui/layout_table.h"

#include <gtest/gtest.h>

namespace {

bool operator==(const LayoutRect& a, const LayoutRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

LayoutRect Get(int32_t group, int32_t index) {
    LayoutRect r{7, 7, 7, 7};
    EXPECT_EQ(GSL_LayoutGetRect(&r, group, index), &r);
    return r;
}

const LayoutRect kNone{-1, 0, 0, 0};

TEST(LayoutTable, GroupsHoldTheirSizesAndNothingBeyond) {
    const int32_t sizes[kLayoutGroups] = {28, 13, 18, 12, 5, 32, 25, 34, 8, 11, 32};
    int32_t total = 0;
    for (int32_t g = 0; g < kLayoutGroups; ++g) {
        for (int32_t i = 0; i < sizes[g]; ++i) EXPECT_FALSE(Get(g, i) == kNone) << g << "/" << i;
        EXPECT_TRUE(Get(g, sizes[g]) == kNone) << g;
        EXPECT_TRUE(Get(g, 100000) == kNone) << g;
        total += sizes[g];
    }
    EXPECT_EQ(total, kLayoutRects);

    for (auto [g, i] : {std::pair{11, 0}, {0, -1}, {-1, 0}, {0, 28}, {3, 12}, {INT32_MIN, 0}, {0, INT32_MIN}})
        EXPECT_TRUE(Get(g, i) == kNone) << g << "/" << i;
    EXPECT_EQ(GSL_LayoutGetRect(nullptr, 0, 0), nullptr);
}

TEST(LayoutTable, PiecesTheScreensCut) {
    EXPECT_TRUE(Get(0, 0) == (LayoutRect{8, 8, 64, 64}));
    EXPECT_TRUE(Get(0, 8) == (LayoutRect{136, 136, 64, 64}));
    EXPECT_TRUE(Get(0, 27) == (LayoutRect{88, 720, 32, 32}));
    EXPECT_TRUE(Get(1, 12) == (LayoutRect{8, 152, 304, 56}));
    EXPECT_TRUE(Get(3, 0) == (LayoutRect{88, 128, 44, 64}));
    EXPECT_TRUE(Get(3, 11) == (LayoutRect{132, 128, 44, 64}));
    EXPECT_TRUE(Get(4, 0) == (LayoutRect{8, 8, 512, 200}));
    EXPECT_TRUE(Get(4, 4) == (LayoutRect{0, 624, 0, 0}));
    EXPECT_TRUE(Get(5, 21) == (LayoutRect{0, 0, 100, 100}));
    EXPECT_TRUE(Get(6, 24) == (LayoutRect{184, 272, 80, 64}));
    // Leftovers stay as they are.
    EXPECT_TRUE(Get(7, 1) == (LayoutRect{0, -4, 0, 4}));
    EXPECT_TRUE(Get(7, 32) == (LayoutRect{480, 0, 0, 0}));
    EXPECT_TRUE(Get(7, 33) == (LayoutRect{960, 0, 0, 0}));
    EXPECT_TRUE(Get(8, 7) == (LayoutRect{280, 264, 48, 48}));
    EXPECT_TRUE(Get(9, 1) == (LayoutRect{7, 72, 594, 64}));
    EXPECT_TRUE(Get(9, 10) == (LayoutRect{0, 128, 592, 64}));
    EXPECT_TRUE(Get(10, 5) == (LayoutRect{0, 0, 0, 0}));
}

}  // namespace
