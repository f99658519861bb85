#include "engine/text/text_tags.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/text/text_measure_run.h"
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

TEST_F(TextTags, MovesAndScalesStayWithinTheRangeOfAPen) {
    // Four far moves would carry the pen past 2^31: each is held at 2^20.
    TextRect out{};
    const TextScale scale{1, 1};
    Lib_TextMeasure(&out, "#Pos[555555001,0]#Pos[555555001,0]#Pos[555555001,0]#Pos[555555001,0]A", &scale, nullptr, 0, 0);
    EXPECT_EQ(out.left, 0);
    EXPECT_EQ(out.right, 4 * (1 << 20) + 32);
    Lib_TextMeasure(&out, "#Pos[-2147483648,-99999999999]A", &scale, nullptr, 0, 0);
    EXPECT_EQ(out.left, -(1 << 20));
    EXPECT_EQ(out.right, 0);
    // A huge scale would carry the pen past 2^31 in one character: each
    // factor is held at 64 either way.
    Lib_TextMeasure(&out, "#Size[1e30,-1e30]AB", &scale, nullptr, 0, 0);
    EXPECT_EQ(out.left, 0);
    EXPECT_EQ(out.right, 2 * 32 * 64);
    EXPECT_EQ(out.bottom, 64 * 64);
    // Downward and upward moves are held the same way.
    Lib_TextMeasure(&out, "#Pos[0,99999999999]#Pos[0,2147483647]A", &scale, nullptr, 0, 0);
    EXPECT_EQ(out.bottom, 2 * (1 << 20) - 64);
    Lib_TextMeasure(&out, "#Pos[0,-99999999999]#Pos[0,-2147483648]A", &scale, nullptr, 0, 0);
    EXPECT_EQ(out.bottom, -2 * (1 << 20) - 64);
    // A mirrored scale at its extreme runs the pen left, 64 times a
    // character: the third one starts two such steps left.
    Lib_TextMeasure(&out, "#Size[-1e30,1]ABC", &scale, nullptr, 0, 0);
    EXPECT_EQ(out.left, -2 * 32 * 64);
    EXPECT_EQ(out.right, 0);
    // Edges further apart than an int spans measure as the widest int, not
    // as a wrapped, negative width.
    EXPECT_EQ(Lib_TextRectWidth(TextRect{INT32_MIN, 0, INT32_MAX, 0}), INT32_MAX);
    EXPECT_EQ(Lib_TextRectWidth(TextRect{-5, 0, INT32_MAX, 0}), INT32_MAX);
    EXPECT_EQ(Lib_TextRectWidth(TextRect{INT32_MAX, 0, INT32_MIN, 0}), INT32_MIN);
    EXPECT_EQ(Lib_TextRectWidth(TextRect{-20, 0, 100, 0}), 120);
}

TEST_F(TextTags, AMeasureThatGrowsGivesWhatAWholeMeasureGives) {
    // Appended a few bytes at a time, cut inside tag names, open tags and
    // characters of several bytes: after every append the measure is that
    // of the whole text so far.
    const std::string texts[] = {
        "AB#nC#Size[2,2]D#Pos[5,-3]E#Italic[20]F#Add[3]G#Rubi[xy]H#Color[1,2,3,4]I",
        "#Pos[5]ab,7]c#Co#lor[x#n\xE3\x81\x82\x82\xA0#\xE3\x81\x82z#Weight[9]\x81",
        "\xF0\x9F\x98\x80#Rubi[ab#Size[0.5,3]cd]e#Speed[2]f#Wait[3]g#System[1]h#",
    };
    const TextScale scale{0.5f, 0.75f};
    const TextSpacing spacing{3, 4};
    for (const std::string& text : texts) {
        for (size_t piece = 1; piece <= 3; ++piece) {
            static TextMeasureRun run;
            Lib_TextMeasureRunStart(&run, &scale, &spacing, 0);
            for (size_t at = 0; at < text.size(); at += piece) {
                const size_t n = std::min(piece, text.size() - at);
                const TextRect grown = Lib_TextMeasureRunAppend(&run, text.data() + at, n);
                TextRect whole{};
                Lib_TextMeasure(&whole, text.substr(0, at + n).c_str(), &scale, &spacing, 0, 0);
                ASSERT_EQ(std::vector<int32_t>({grown.left, grown.top, grown.right, grown.bottom}),
                          std::vector<int32_t>({whole.left, whole.top, whole.right, whole.bottom}))
                    << "after " << at + n << " bytes of " << text << " in pieces of " << piece;
            }
            Lib_TextMeasureRunEnd(&run);
        }
    }
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
