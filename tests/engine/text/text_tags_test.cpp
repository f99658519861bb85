#include "engine/text/text_tags.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/engine/text/text_env.h"

namespace {

using TextTags = TextTest;

// What the passes drew: the characters, add-glyph n as the digit n.
std::string Drawn(const std::vector<RecordedPass>& passes) {
    std::string s;
    for (const RecordedPass& p : passes) s += p.texture >= 1000 ? char('0' + p.texture - 1000) : char(p.texture);
    return s;
}

TEST_F(TextTags, RecordTags) {
    TextRecord* r = Make("A#Color[-1,255,0,0]B#Size[2.5,0.5]C#Speed[4]D#Color[10,20,30,40]");
    r->colour = 0x80123456;
    auto p = Frame(r);
    ASSERT_EQ(Drawn(p), "ABCD");
    EXPECT_FLOAT_EQ(p[0].cb.m_rgba[0], 0x56 / 255.0f);
    // Alpha kept, then the channels from the top byte down to red.
    EXPECT_EQ(std::vector<float>(p[1].cb.m_rgba, p[1].cb.m_rgba + 4),
              (std::vector<float>{0, 0, 1, 0x80 / 255.0f}));
    EXPECT_FLOAT_EQ(p[2].cb.m_work[2][2], 2.5f);
    EXPECT_EQ(r->colour, 0x0A141E28u);
    EXPECT_EQ(r->speed, 4);
    // The record keeps them: the next pass starts with the last values.
    p = Frame(r);
    EXPECT_FLOAT_EQ(p[0].cb.m_rgba[0], 0x28 / 255.0f);
    EXPECT_FLOAT_EQ(p[0].cb.m_work[2][3], 0.5f);
}

TEST_F(TextTags, CursorTags) {
    TextRecord* r = Make("#Add[3]A#Add[16]#Add[-1]B");
    auto p = Frame(r);
    ASSERT_EQ(Drawn(p), "3AB");
    EXPECT_EQ(p[0].program, uint32_t(TEXT_PROGRAM_PICTURE));
    EXPECT_EQ(Pen(p[1], r).first, 72);  // an add-glyph advances 72

    TextCursor c = Lib_TextCursorStart(r, 0, 0);
    Lib_TextStrSet(0, "#System[1]#Italic[0]#Weight[25]X#Italic[30]#Pos[5]AB,7]C");
    while (Lib_TagParse(&c)) {}
    EXPECT_EQ(c.styleOverride, 0);  // "#Italic[0]" after "#System[1]"
    EXPECT_FLOAT_EQ(c.weight, 2.5f);
    c.offset++;
    while (Lib_TagParse(&c)) {}
    EXPECT_EQ(c.styleOverride, 1);
    EXPECT_FLOAT_EQ(c.slant, 30 * 0.017453f);
    // A missing argument comes after the next comma anywhere later; the tag
    // then ends at the next ']'.
    EXPECT_EQ(std::make_pair(c.penX, c.penY), std::make_pair(5, 7));
    EXPECT_EQ(r->text[c.offset], 'C');

    // The slant reaches the program unless the glyph came from an italic
    // face; a record font style overrides the style tags.
    r->fontStyle = 0;
    Lib_TextStrSet(0, "#Italic[30]A");
    EXPECT_EQ(Frame(r)[0].cb.m_work[2][0], 0.0f);
    text_env::italicFace = false;
    EXPECT_FLOAT_EQ(Frame(r)[0].cb.m_work[2][0], 30 * 0.017453f);
    text_env::italicFace = true;
    r->fontStyle = 2;
    EXPECT_FLOAT_EQ(Frame(r)[0].cb.m_work[2][0], 30 * 0.017453f);
}

TEST_F(TextTags, ArgumentsAndNonTags) {
    TextRecord* r = Make("#Size[ +1.5e0, -.25]#Speed[99999999999]#Color[1,2");
    Frame(r);
    EXPECT_EQ(r->scaleX, 1.5f);  // locale-free reals
    EXPECT_EQ(r->scaleY, -0.25f);
    EXPECT_EQ(r->speed, INT32_MAX);
    EXPECT_EQ(r->colour, 0x01020000u);  // arguments past the end read 0
    // Unknown names and other cases are characters; "#n" comes first.
    Lib_TextStrSet(0, "#Foo#color[1]#nA");
    r->scaleX = r->scaleY = 1;
    r->speed = 0;
    EXPECT_EQ(Drawn(Frame(r)), "#Foo#color[1]A");
}

TEST_F(TextTags, LineBreaksAndRubySpace) {
    TextRecord* r = Make("A\nB#nC");
    r->lineSpacing = 6;
    auto p = Frame(r);
    EXPECT_EQ(Pen(p[1], r), std::make_pair(0, -70));
    EXPECT_EQ(Pen(p[2], r), std::make_pair(0, -140));
    // The first line with a ruby moves down by half the 64-pixel cell; a
    // later one by half the last glyph's bitmap height (40 here).
    Lib_TextStrSet(0, "#Rubi[x]A\nB#Rubi[y]C\nD");
    r->lineSpacing = 0;
    r->rubySpace = 1;
    p = Frame(r);
    ASSERT_EQ(Drawn(p).substr(0, 4), "ABCD");
    EXPECT_EQ(Pen(p[0], r).second, -32);
    EXPECT_EQ(Pen(p[1], r).second, -32 - 64 - 20);
    EXPECT_EQ(Pen(p[3], r).second, -32 - 64 - 20 - 64);
}

TEST_F(TextTags, AlignmentOfTwoLines) {
    // Lines of 64 and 128 pixels; the block is 120 high (top -8, bottom -128).
    TextRecord* r = Make("AB\nCDEF", 640, -100);
    auto pen = [&](uint8_t flags, size_t glyph) {
        r->renderFlags = flags;
        return Pen(Frame(r).at(glyph), r);
    };
    EXPECT_EQ(pen(TEXT_ALIGN_CENTRE, 0), std::make_pair(-32, 60));
    EXPECT_EQ(pen(TEXT_ALIGN_CENTRE, 2), std::make_pair(-64, -4));
    EXPECT_EQ(pen(TEXT_ALIGN_RIGHT, 2), std::make_pair(-128, -64));
    EXPECT_EQ(pen(TEXT_ALIGN_VCENTRE, 2), std::make_pair(0, -4));
    EXPECT_EQ(pen(TEXT_ALIGN_HCENTRE | TEXT_ALIGN_RIGHT, 0), std::make_pair(-32, 0));
    // The first line ends at a line feed even after a "#n".
    EXPECT_EQ(Lib_TextLineStart(r, "A#nBCD\nE").x, -48);
    EXPECT_EQ(Lib_TextLineStart(r, "A#nBCD").x, -16);
    // Through a pass, line by line: "A" and "BCD" end at the line feed,
    // "EF" and "GHIJ" at their "#n".
    Lib_TextStrSet(0, "A#nBCD\nEF#nGHIJ");
    r->renderFlags = TEXT_ALIGN_HCENTRE;
    auto p = Frame(r);
    ASSERT_EQ(Drawn(p), "ABCDEFGHIJ");
    for (auto [glyph, x] : {std::pair{0, -48}, {1, -48}, {4, -32}, {6, -64}})
        EXPECT_EQ(Pen(p[size_t(glyph)], r).first, x) << glyph;
}

}  // namespace
