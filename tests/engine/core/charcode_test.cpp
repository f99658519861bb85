#include "engine/core/charcode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "tests/ui/stderr_lines.h"

namespace {

// UTF-16 value of one Shift-JIS code (0 when it does not decode).
char16_t Decode(std::string sjis) {
    char16_t out[4] = {};
    Lib_SjisToUtf16(sjis.c_str(), out, sizeof out);
    return out[1] ? 0 : out[0];
}

std::string Encode(std::u16string text) {
    char out[kCharConvSize];
    std::memset(out, 0x55, sizeof out);
    Lib_Utf16ToSjis(text.c_str(), out);
    return out;
}

std::string Utf8ToSjis(const std::string& utf8) {
    char out[kCharConvSize];
    Lib_Utf8ToSjis(utf8.c_str(), utf8.size(), out);
    return out;
}

std::string PathName(const char* path, int32_t flag) {
    char out[256];
    std::memset(out, 0x55, sizeof out);
    Lib_PathGetName(path, out, flag);
    return out;
}

bool IsRowLead(int lead) { return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEF) || lead >= 0xFA; }
bool IsTrail(int t) { return (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC); }

TEST(CharcodeTable, CountsAndRoundTrips) {
    std::set<char16_t> decodable;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        for (int trail = 0x40; trail <= 0xFC && IsRowLead(lead); ++trail) {
            if (!IsTrail(trail)) continue;
            std::string code{char(lead), char(trail)};
            char16_t u = Decode(code);
            if (!u) continue;
            decodable.insert(u);
            std::string back = Encode(std::u16string(1, u));
            bool jis = lead <= 0x84 || (lead >= 0x88 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEA);
            if (jis) {
                EXPECT_EQ(back, code) << std::hex << lead << ' ' << trail;
            }
            ASSERT_EQ(back.size(), 2u);
            EXPECT_NE(uint8_t(back[0]) & 0xFE, 0xEC) << "NEC-selected rows are never encoded";
            EXPECT_EQ(Decode(back), u);
        }
    }
    EXPECT_EQ(decodable.size(), 7326u);

    // Every BMP value that encodes, less the arithmetic ranges, is one record.
    int records = 0;
    for (uint32_t u = 1; u <= 0xFFFF; ++u) {
        bool arithmetic = u < 0x80 || (u >= 0xFF61 && u <= 0xFF9F) || (u >= 0xE000 && u <= 0xE757) ||
                          (u >= 0xF8F0 && u <= 0xF8F3);
        if (!Encode(std::u16string(1, char16_t(u))).empty() && !arithmetic) ++records;
    }
    EXPECT_EQ(records, 7410);
}

TEST(CharcodeTable, DuplicatesBestFitAndMissing) {
    EXPECT_EQ(Encode(u"\u7E8A"), "\xFA\x5C");
    EXPECT_EQ(Decode("\xED\x40"), 0x7E8A);
    EXPECT_EQ(Encode(u"\u2252"), "\x81\xE0");
    EXPECT_EQ(Decode("\x87\x90"), 0x2252);
    EXPECT_EQ(Encode(u"\uFFE2"), "\x81\xCA");
    EXPECT_EQ(Encode(u"\u3000"), "\x81\x40");
    EXPECT_EQ(Decode("\x81\x40"), 0x3000);
    EXPECT_EQ(Encode(u"\u00E9\u00A5\u0080\u3094\u00AC"), "e\x5C\x80\x83\x94\x81\xCA");
    // No code: the conversion stops, the text before stands.
    EXPECT_EQ(Encode(u"AB\u301C\u3000"), "AB");
    EXPECT_EQ(Encode(u"\u3000\u2016A"), "\x81\x40");
    EXPECT_EQ(Encode(u"A\u2212B"), "A");
    EXPECT_EQ(Encode(u"A\U0001F600B"), "A");
    EXPECT_EQ(Decode("\x85\x40"), 0);  // unmapped row 0x85
}

TEST(CharcodeTable, SingleByteAndUserDefinedBothWays) {
    for (int b = 0xA1; b <= 0xDF; ++b) {
        EXPECT_EQ(Decode(std::string(1, char(b))), char16_t(0xFF61 + b - 0xA1));
        EXPECT_EQ(Encode(std::u16string(1, char16_t(0xFF61 + b - 0xA1))), std::string(1, char(b)));
    }
    const struct { const char* sjis; char16_t u; } cases[] = {
        {"\x80", 0x0080}, {"\xA0", 0xF8F0}, {"\xFD", 0xF8F1}, {"\xFE", 0xF8F2}, {"\xFF", 0xF8F3},
        {"\xF0\x40", 0xE000}, {"\xF0\x80", 0xE03F}, {"\xF9\xFC", 0xE757},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Decode(c.sjis), c.u) << c.sjis;
        EXPECT_EQ(Encode(std::u16string(1, c.u)), c.sjis);
    }
    EXPECT_EQ(Encode(u"\uE758"), "");
    EXPECT_EQ(Decode("\x81\x7F"), 0);  // invalid trail
    EXPECT_STREQ(Lib_SjisToUtf8("\xB1\x82\xA0"), "\xEF\xBD\xB1\xE3\x81\x82");
    EXPECT_EQ(Utf8ToSjis("\xEF\xBD\xB1\xE3\x81\x82"), "\xB1\x82\xA0");
}

TEST(CharcodePrimitives, PerCharacterDecision) {
    const char* s = "\x41\x81\x40\x42";
    EXPECT_EQ(Lib_CharLen(s + 1), 2u);
    EXPECT_EQ(Lib_CharCode(s + 1), 0x3000u);
    EXPECT_TRUE(Lib_CharIsWide(s + 1));
    EXPECT_FALSE(Lib_CharIsWide(s));
    EXPECT_EQ(Lib_CharLen("\xE3\x81\x82"), 3u);
    EXPECT_EQ(Lib_CharCode("\xE3\x81\x82"), 0x3042u);
    EXPECT_EQ(Lib_CharLen("\xE3\x81\x41"), 2u);  // not UTF-8: Shift-JIS E3 81
    EXPECT_EQ(Lib_CharCode("\xE3\x81\x41"), Decode("\xE3\x81"));
    EXPECT_FALSE(Lib_CharIsWide("\xB1"));
    EXPECT_FALSE(Lib_CharIsWide("\xEF\xBD\xB1"));
    EXPECT_EQ(Lib_CharCode("\xF0\x9F\x98\x80"), 0x1F600u);
    EXPECT_EQ(Lib_CharCode("\xC0\x80"), 0xFFFDu);  // overlong
    EXPECT_EQ(Lib_CharLen(""), 1u);
    // A lead byte before the terminator is one byte: stepping stops at the end.
    EXPECT_EQ(Lib_CharLen("\x81"), 1u);
    EXPECT_EQ(Lib_CharCode("\x81"), 0u);
    EXPECT_EQ(Lib_CharLen("\x81\x7F"), 2u);  // an invalid trail still pairs
    // 0xFD-0xFF are single bytes for both primitives: the next one survives.
    for (const char* s2 : {"\xFD\x41", "\xFE\x41", "\xFF\x41"}) {
        EXPECT_EQ(Lib_CharLen(s2), 1u);
        EXPECT_EQ(Lib_CharCode(s2 + Lib_CharLen(s2)), 0x41u);
    }
    EXPECT_EQ(Lib_CharCode("\xFD\x41"), 0xF8F1u);
    EXPECT_EQ(Lib_CharCode("\xF9\xFC"), 0xE757u);
    EXPECT_EQ(Lib_CharCode("\xF0\x40"), 0xE000u);  // user-defined area
    EXPECT_EQ(Lib_CharCode("\xB1"), 0xFF71u);
    EXPECT_EQ(Lib_CharLen("\xC0\x80"), 2u);  // overlong: one character all the same
    // Mixed Shift-JIS and UTF-8, ending in a lone lead byte: five steps, the
    // last landing exactly on the terminator.
    const char* mixed = "\x41\x81\x40\xE3\x81\x82\xB1\x82";
    size_t at = 0, steps = 0;
    for (; mixed[at]; at += Lib_CharLen(mixed + at)) ++steps;
    EXPECT_EQ(steps, 5u);
    EXPECT_EQ(at, 8u);
}

TEST(CharcodeStrings, PathGetName) {
    EXPECT_EQ(PathName("data/\x83\x5C\x83\x41/file.txt", 0), "file");
    EXPECT_EQ(PathName("dir/\x83\x5Cname.ext", 0), "\x83\x5Cname");
    EXPECT_EQ(PathName("x\\y\tdir/a.b.c", 0), "a.b");
    EXPECT_EQ(PathName("x\\y\tdir/a.b.c", 1), "a");
    EXPECT_EQ(PathName("plain", 0), "plain");
    EXPECT_EQ(PathName("", 0), "");
    EXPECT_EQ(PathName(nullptr, 1), "");
    EXPECT_EQ(PathName("dir/", 0), "");
    // A name of 256 bytes or more is cut to 255 without splitting a character.
    std::string longName = "d/ab";
    for (int i = 0; i < 150; ++i) longName += "\x82\xA0";
    std::string name = PathName((longName + ".x").c_str(), 0);
    EXPECT_EQ(name, longName.substr(2, 254));
    EXPECT_EQ(name.back(), '\xA0');
}

TEST(CharcodeStrings, LowerCasing) {
    char buf[] = "ABC\x83\x41Z\x82\x5A\xFD\x4Fq";
    EXPECT_EQ(Lib_StrLowerSjis(buf), buf);
    EXPECT_STREQ(buf, "abc\x83\x41z\x82\x5A\xFD\x4Fq");
    char tail[] = {'A', '\x81', 0};  // a lead byte before the terminator
    EXPECT_STREQ(Lib_StrLowerSjis(tail), "a\x81");
}

TEST(CharcodeStrings, ResultsAreCutAndTerminated) {
    std::string ascii(2000, 'a');
    EXPECT_EQ(Utf8ToSjis(ascii), std::string(1023, 'a'));
    std::string kana, kanaSjis;
    for (int i = 0; i < 700; ++i) kana += "\xE3\x81\x82";
    for (int i = 0; i < 511; ++i) kanaSjis += "\x82\xA0";
    EXPECT_EQ(Utf8ToSjis("a" + kana.substr(0, 1998) + "b"), "a" + kanaSjis);  // 2000 bytes in
    EXPECT_EQ(Utf8ToSjis(kana).size(), 1022u);  // the 512th character does not fit
    EXPECT_EQ(Encode(std::u16string(700, u'\u3042')).size(), 1022u);

    std::string sjis;
    for (int i = 0; i < 700; ++i) sjis += "\x82\xA0";
    EXPECT_EQ(std::strlen(Lib_SjisToUtf8(sjis.c_str())), 1023u);
    char small[8];
    EXPECT_STREQ(Lib_SjisToUtf8Buf(sjis.c_str(), small, sizeof small), "\xE3\x81\x82\xE3\x81\x82");

    // Invalid UTF-8 reads as U+FFFD, which has no code; n bounds the input.
    EXPECT_EQ(Utf8ToSjis("ab\xC0\x80" "cd"), "ab");
    EXPECT_EQ(Utf8ToSjis("ab\xE3\x81"), "ab");
    char out[kCharConvSize];
    Lib_Utf8ToSjis("abcdef", 3, out);
    EXPECT_STREQ(out, "abc");
    Lib_Utf8ToSjis("xyz", 0, out);
    EXPECT_STREQ(out, "abc");
}

std::string Escaped(const std::string& text) {
    char out[256];
    return Lib_TextEscaped(text.c_str(), out, sizeof out);
}

// A line for a terminal: every byte that is not printable ASCII or part of a
// whole UTF-8 character from U+00A0 up is written as \xNN, whatever pairs a
// Shift-JIS reading would make; cut whole.
TEST(CharcodeStrings, TextEscapedLeavesNothingATerminalReadsAsAControl) {
    for (int b = 1; b < 0x20; ++b) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "a\\x%02xb", b);
        EXPECT_EQ(Escaped(std::string("a") + char(b) + "b"), expected) << b;
    }
    EXPECT_EQ(Escaped("a\x1b[1m\x7f"), "a\\x1b[1m\\x7f");
    // Every C1 control in UTF-8, alone and behind each kind of Shift-JIS
    // lead byte, which would otherwise take the C2 as its trail.
    for (int c1 = 0x80; c1 <= 0x9F; ++c1) {
        char text[8], expected[32];
        std::snprintf(text, sizeof text, "\xc2%c", c1);
        std::snprintf(expected, sizeof expected, "\\xc2\\x%02x", c1);
        EXPECT_EQ(Escaped(text), expected) << c1;
        for (const char* lead : {"\x81", "\x9f", "\xe0", "\xfc"})
            EXPECT_EQ(Escaped(lead + std::string(text)), Escaped(lead) + expected) << c1;
    }
    EXPECT_EQ(Escaped("\x81\xc2\x9b[2J"), "\\x81\\xc2\\x9b[2J");
    EXPECT_EQ(Escaped("\x82\x0a"), "\\x82\\x0a");
    // The characters a terminal may take for a line break: next line (a C1
    // control), the line and the paragraph separator; U+2027 and U+2030 pass.
    EXPECT_EQ(Escaped("a\xc2\x85" "b\xe2\x80\xa8" "c\xe2\x80\xa9" "d\xe2\x80\xa7\xe2\x80\xb0"),
              "a\\xc2\\x85b\\xe2\\x80\\xa8c\\xe2\\x80\\xa9d\xe2\x80\xa7\xe2\x80\xb0");
    // Raw C1 bytes, overlong forms (of ESC, of CSI), surrogates, cut
    // characters: each byte escaped.
    EXPECT_EQ(Escaped("\x9b\x85"), "\\x9b\\x85");
    EXPECT_EQ(Escaped("\xc0\x9b\xc1\x9b"), "\\xc0\\x9b\\xc1\\x9b");
    EXPECT_EQ(Escaped("\xe0\x82\x9b"), "\\xe0\\x82\\x9b");
    EXPECT_EQ(Escaped("\xf0\x80\x82\x9b"), "\\xf0\\x80\\x82\\x9b");
    EXPECT_EQ(Escaped("\xed\xa0\x80"), "\\xed\\xa0\\x80");
    EXPECT_EQ(Escaped("\xe3\x81"), "\\xe3\\x81");
    // Shift-JIS text is not shown as Japanese by a UTF-8 terminal: its bytes.
    EXPECT_EQ(Escaped("\x82\xa0\xb1"), "\\x82\\xa0\\xb1");
    // Japanese in UTF-8 stays as it is, from U+00A0 to four-byte characters.
    const std::string readable = "\xc2\xa0\xe3\x81\x82\xe6\xbc\xa2\xef\xbd\xb1\xf0\xa0\x80\x8b \\ ~";
    EXPECT_EQ(Escaped(readable), readable);

    // Every two bytes, and every three of those around the edges, come out
    // as characters only.
    std::string edges;
    for (int b : {0x01, 0x1b, 0x20, 0x7e, 0x7f, 0x80, 0x85, 0x9b, 0x9f, 0xa0, 0xbf, 0xc0, 0xc1, 0xc2, 0xdf, 0xe0,
                  0xe3, 0xed, 0xef, 0xf0, 0xf4, 0xf5, 0xfc, 0xff})
        edges += char(b);
    for (int a = 1; a < 256; ++a)
        for (int b = 1; b < 256; ++b) {
            const std::string text{char(a), char(b)};
            ASSERT_TRUE(ShowsOnlyCharacters(Escaped(text))) << a << " " << b;
        }
    for (char a : edges)
        for (char b : edges)
            for (char c : edges) {
                const std::string text{a, b, c};
                ASSERT_TRUE(ShowsOnlyCharacters(Escaped(text) + Escaped(text))) << int(a) << int(b) << int(c);
            }

    // Cut on whole characters and whole escapes, always terminated.
    char small[8];
    EXPECT_STREQ(Lib_TextEscaped("ab\x07", small, 6), "ab");
    EXPECT_STREQ(Lib_TextEscaped("a\xc2\x9b", small, 8), "a\\xc2");
    EXPECT_STREQ(Lib_TextEscaped("ab\xe3\x81\x82", small, 5), "ab");
}

}  // namespace
