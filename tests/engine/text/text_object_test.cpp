#include "engine/text/text_object.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/engine/text/text_env.h"

namespace {

using TextObjects = TextTest;

TEST_F(TextObjects, SlotsRegistrationAndDeletion) {
    TextPos pos{1, 2, 3};
    ASSERT_EQ(Lib_TextSet(70, "a", &pos), 70);
    ASSERT_EQ(Lib_TextSet(70, "b", &pos), 71);
    EXPECT_EQ(Lib_TextSet(70, "c", &pos), -1);  // no wrap to the free slots below
    EXPECT_EQ(Lib_TextSet(72, "d", &pos), 0);
    EXPECT_EQ(Lib_TextSet(-1, "e", &pos), 1);   // read unsigned: from 0
    const TextRecord* r = TextTable[0];
    EXPECT_EQ(r->state, TEXT_STATE_DRAWN);
    EXPECT_EQ(r->colour, 0xFFFFFFFFu);
    EXPECT_EQ(r->startTime, uint32_t(text_env::now));
    ASSERT_GE(r->drawEntry, 0);
    EXPECT_EQ(DrawList.entries[r->drawEntry].arg, reinterpret_cast<uint64_t>(r));
    Lib_TextPrioSet(0, 7);
    EXPECT_EQ(DrawList.entries[r->drawEntry].priority, 7);

    int32_t entry = r->drawEntry;
    TextTable[71]->state |= TEXT_STATE_PROTECTED;
    Lib_TextDel(71);
    Lib_TextDel(0);
    EXPECT_NE(TextTable[71], nullptr);
    EXPECT_EQ(TextTable[0], nullptr);
    EXPECT_EQ(DrawList.entries[entry].callback, nullptr);
    EXPECT_EQ(Lib_TextScaleGet(0).x, 1.0f);  // empty slot

    // A full draw list leaves an object that is never drawn.
    while (Lib_DrawSet([](uint64_t) {}, 0, 0, 0, -1) >= 0) {}
    ASSERT_EQ(Lib_TextSet(0, "x", &pos), 0);
    EXPECT_EQ(TextTable[0]->drawEntry, -1);
}

TEST_F(TextObjects, RubyChildrenFollowTheirParent) {
    TextRecord* r = Make("#Rubi[ab]X#Rubi[cd]Y", 100, -200);
    r->speed = 5;
    r->colour = 0xFF102030;
    Frame(r);
    ASSERT_NE(r->ruby[0], nullptr);
    EXPECT_EQ(r->ruby[1], nullptr);  // created only once the reveal reaches it
    for (int i = 0; i < 6; ++i) Frame(r);
    TextRecord *a = r->ruby[0], *b = r->ruby[1];
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b->text, "cd");
    EXPECT_EQ(b->x, 100 + 32);    // at the pen of "Y"
    EXPECT_EQ(a->y, -200 + 32);   // raised by trunc(0.5 × 64)
    EXPECT_EQ(a->speed, 2);       // 5 / 2
    EXPECT_EQ(a->colour, 0xFF102030u);

    TextPos to{110, -205, 0};
    Lib_TextPosSet(0, &to);
    EXPECT_EQ(b->x, 142);
    EXPECT_EQ(a->y, -173);
    TextScale two{2.0f, 2.0f};
    Lib_TextScaleSet(0, &two);
    EXPECT_EQ(b->scaleY, 1.0f);
    a->colour = 0xFF0000AA;
    Lib_TextRgbaSet(0, 0x80FFFFFF);
    EXPECT_EQ(a->colour, 0x800000AAu);  // the parent's alpha, its own channels

    // The corner quad: bottom-left first; shared by the children, released once.
    const uint32_t corners[4] = {0xFF0000FF, 0, 0xFFFF0000, 0};
    Lib_TextCornerColorSet(0, corners);
    uint32_t buffer = r->cornerBuffer;
    EXPECT_EQ(r->cornerData[0].col[2], 1.0f);
    EXPECT_EQ(r->cornerData[2].col[0], 1.0f);
    EXPECT_EQ(a->cornerBuffer, buffer);
    Lib_TextCornerColorSet(0, corners);  // unchanged: nothing rebuilt
    EXPECT_EQ(r->cornerBuffer, buffer);

    // A new string frees the children and restarts the reveal, keeping the
    // start time and the wait counter.
    r->waitCounter = 7;
    uint32_t start = r->startTime;
    Lib_TextStrSet(0, "DE");
    EXPECT_EQ(r->ruby[0], nullptr);
    EXPECT_EQ(r->revealed, 0);
    EXPECT_EQ(r->waitCounter, 7);
    EXPECT_EQ(r->startTime, start);
    Lib_TextDel(0);
    EXPECT_EQ(text_env::released, std::vector<uint32_t>{buffer});
}

TEST_F(TextObjects, TextsAreCutTo1535BytesOnCharacterBoundaries) {
    std::string ascii(1600, 'a'), sjis;
    for (int i = 0; i < 800; ++i) sjis += "\x82\xA0";
    TextRecord* r = Make(sjis.c_str());
    EXPECT_EQ(std::strlen(r->text), 1534u);
    Lib_TextStrSet(0, ascii.c_str());
    EXPECT_EQ(std::strlen(r->text), 1535u);
    EXPECT_EQ(Frame(r).size(), 1535u);
    // The ruby text likewise (a tag without ']' runs to the end).
    Lib_TextStrSet(0, ("#Rubi[" + std::string(1600, 'b')).c_str());
    Frame(r);
    ASSERT_NE(r->ruby[0], nullptr);
    EXPECT_EQ(std::strlen(r->ruby[0]->text), 1529u);
    // A terminator overwritten by hand: scanning still ends in the buffer.
    Lib_TextRubyFree(r);
    std::memset(r->text, 'c', sizeof r->text);
    EXPECT_EQ(Frame(r).size(), 1535u);
}

TEST_F(TextObjects, Measure) {
    TextRect m;
    TextScale one{1, 1}, two{2, 2};
    TextSpacing none{0, 0}, letters{10, 0}, lines{0, 6};
    Lib_TextMeasure(&m, "AB", &one, &none, 0, 2);
    EXPECT_EQ((std::vector<int>{m.left, m.top, m.right, m.bottom}), (std::vector<int>{0, -8, 64, -64}));
    Lib_TextMeasure(&m, "AB", &one, &letters, 0, 2);
    EXPECT_EQ(m.right, 84);  // the letter spacing counts per character
    Lib_TextMeasure(&m, "AB\n\x82\xA0", &two, &lines, 0, 2);
    EXPECT_EQ(m.right, 128);
    EXPECT_EQ(m.bottom, -(6 + 128) - 128);
    Lib_TextMeasure(&m, "#Rubi[x]AB", &one, &none, 1, 2);
    EXPECT_EQ(m.bottom, -32 - 64);  // ruby space
    TextRecord* r = Make("Ab\x82\xA0");
    r->fixedAdvance = 1;
    EXPECT_EQ(Lib_TextMeasureObj(&m, r)->right, 192);
}

}  // namespace
