#include "engine/text/font.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/text/glyph_cache.h"
#include "tests/engine/text/font_env.h"

namespace {

using font_env::ReadFile;

// --- Name table ---------------------------------------------------------------

struct NameRecord {
    uint16_t platform, nameId;
    std::string bytes;
};

void PutU16(std::string& s, size_t at, uint32_t v) {
    s[at] = char(v >> 8);
    s[at + 1] = char(v);
}
void PutU32(std::string& s, size_t at, uint32_t v) {
    PutU16(s, at, v >> 16);
    PutU16(s, at + 2, v & 0xFFFF);
}

// A font file of two tables, "head" (16 bytes, unused) and "name".
std::string MakeFont(const std::vector<NameRecord>& records) {
    std::string name(6 + 12 * records.size(), '\0');
    PutU16(name, 2, uint32_t(records.size()));
    PutU16(name, 4, uint32_t(name.size()));
    std::string storage;
    for (size_t i = 0; i < records.size(); ++i) {
        size_t r = 6 + 12 * i;
        PutU16(name, r, records[i].platform);
        PutU16(name, r + 6, records[i].nameId);
        PutU16(name, r + 8, uint32_t(records[i].bytes.size()));
        PutU16(name, r + 10, uint32_t(storage.size()));
        storage += records[i].bytes;
    }
    name += storage;
    std::string font(12 + 32, '\0');
    PutU32(font, 0, 0x00010000);
    PutU16(font, 4, 2);
    font.replace(12, 4, "head");
    PutU32(font, 20, 44);
    PutU32(font, 24, 16);
    font.replace(28, 4, "name");
    PutU32(font, 36, 60);
    PutU32(font, 40, uint32_t(name.size()));
    return font + std::string(16, '\0') + name;
}

std::string Utf16(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += {char(c >> 8), char(c & 0xFF)};
    return out;
}

std::string NameOf(const std::string& font) {
    char out[kFaceNameSize] = "unchanged";
    Lib_TtfNameGet(font.data(), font.size(), out);
    return out;
}

TEST(TtfName, FirstFamilyOrFullNameRecordWithZeroBytesLeftOut) {
    EXPECT_EQ(NameOf(MakeFont({{3, 1, Utf16(u"Abc")}})), "Abc");
    // The first record of ID 1 or 4 wins, whatever its platform.
    EXPECT_EQ(NameOf(MakeFont({{3, 2, Utf16(u"Regular")}, {1, 4, "Mac Full"}, {3, 1, Utf16(u"Win")}})), "Mac Full");
    // Non-ASCII UTF-16: its non-zero bytes in order.
    EXPECT_EQ(NameOf(MakeFont({{3, 1, Utf16(u"\u3042A")}})), "0BA");
    EXPECT_EQ(NameOf(MakeFont({{3, 1, std::string(100, 'x')}})), std::string(63, 'x'));
    // No usable record: the output is left alone.
    EXPECT_EQ(NameOf(MakeFont({{3, 2, "Bold"}})), "unchanged");
    EXPECT_EQ(NameOf(MakeFont({{3, 1, std::string(4, '\0')}, {3, 4, "Next"}})), "Next");
    EXPECT_EQ(NameOf(MakeFont({})), "unchanged");
    std::string noName = MakeFont({{3, 1, "Abc"}});
    noName.replace(28, 4, "nome");
    EXPECT_EQ(NameOf(noName), "unchanged");
}

TEST(TtfName, OddAndTruncatedFontsAreReadWithinTheirBytes) {
    std::string font = MakeFont({{3, 2, "Style"}, {3, 1, Utf16(u"Family")}});
    for (size_t n = 0; n < font.size(); ++n) {
        std::string cut = font.substr(0, n);
        std::string got = NameOf(cut);
        EXPECT_TRUE(got == "unchanged" || got == "Family") << n;
    }
    std::string far = font;
    PutU32(far, 36, 0xFFFFFF00);  // the name table past the end
    EXPECT_EQ(NameOf(far), "unchanged");
    std::string manyTables = font;
    PutU16(manyTables, 4, 0xFFFF);
    EXPECT_EQ(NameOf(manyTables), "Family");
    std::string manyRecords = font;
    PutU16(manyRecords, 60 + 2, 0xFFFF);
    EXPECT_EQ(NameOf(manyRecords), "Family");
    std::string outside = font;
    PutU16(outside, 60 + 6 + 12 + 10, 0xFFF0);  // the family string beyond the table
    EXPECT_EQ(NameOf(outside), "unchanged");
    // A collection names its first font.
    std::string ttc = "ttcf" + std::string(12, '\0') + font;
    PutU32(ttc, 12, 16);
    PutU32(ttc, 16 + 36, 60 + 16);
    EXPECT_EQ(NameOf(ttc), "Family");
    PutU32(ttc, 12, 0x7FFFFFFF);
    EXPECT_EQ(NameOf(ttc), "unchanged");
}

TEST(TtfName, RealFonts) {
    std::string sans = ReadFile(font_env::kDejaVuSans), gothic = ReadFile(font_env::kIpaGothic);
    if (sans.empty() || gothic.empty()) GTEST_SKIP() << "font packages missing (tools/setup.sh)";
    EXPECT_EQ(NameOf(sans), "DejaVu Sans");
    EXPECT_EQ(NameOf(gothic), "IPAGothic");
}

// --- Glyphs through a fake rasteriser --------------------------------------------

struct FakeGlyph {
    RasterGlyph glyph;
    std::vector<uint8_t> pixels;
};
std::map<std::pair<int32_t, uint32_t>, FakeGlyph> g_glyphs;
int g_rasterCalls = 0;

bool FakeRaster(int32_t style, uint32_t codePoint, bool bitmap, RasterGlyph* out) {
    ++g_rasterCalls;
    auto it = g_glyphs.find({style, codePoint});
    if (it == g_glyphs.end()) return false;
    *out = it->second.glyph;
    out->pixels = bitmap ? it->second.pixels.data() : nullptr;
    return true;
}

void AddGlyph(int32_t style, uint32_t codePoint, uint32_t width, uint32_t rows, int32_t advance, uint8_t level = 255) {
    FakeGlyph& g = g_glyphs[{style, codePoint}];
    g.pixels.assign(size_t(width) * rows, level);
    g.glyph = RasterGlyph{width, rows, 3, 40, advance, int32_t(width), nullptr};
}

class FontGlyph : public FontEnv {
protected:
    void SetUp() override {
        FontEnv::SetUp();
        g_glyphs.clear();
        g_rasterCalls = 0;
        Lib_GlyphRasterSet(FakeRaster);
        std::strcpy(FontDefaultFace, "Game Face");
        Lib_FontCreate(nullptr, 0);
    }
    static GlyphMetrics Outline(uint32_t codePoint, int32_t mode = 1) {
        Lib_GlyphOutlineGet(mode, codePoint);
        GlyphMetrics m;
        return *Lib_GlyphParamGet(&m);
    }
};

TEST_F(FontGlyph, BitmapHasAFivePixelBorderAndPitchOfTheRoundedBox) {
    AddGlyph(0, 'A', 13, 20, 40);
    GlyphMetrics m = Outline('A');
    EXPECT_EQ(FontGlyphMetrics.boxWidth, 16u);
    EXPECT_EQ(m.bitmapWidth, 26);  // pitch 16 + 10
    EXPECT_EQ(m.bitmapHeight, 30);
    EXPECT_EQ(m.boxWidth, 26);
    EXPECT_EQ(m.originX, 3);
    EXPECT_EQ(m.originY, 45);
    EXPECT_EQ(m.advance, 40);
    EXPECT_EQ(m.bitmap, FontGlyphBitmap);
    const uint8_t* b = m.bitmap;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 26; ++x) {
            bool inside = x >= 5 && x < 18 && y >= 5 && y < 25;
            ASSERT_EQ(b[y * 26 + x], inside ? 255 : 0) << x << "," << y;
        }
    // 256 grey values through 65 levels.
    for (auto [in, out] : {std::pair{128, 127}, {1, 0}, {2, 3}, {255, 255}}) {
        AddGlyph(0, 'B', 1, 1, 10, uint8_t(in));
        EXPECT_EQ(Outline('B').bitmap[5 * 14 + 5], out) << in;
    }
    // Metrics only: the same box, no new bitmap.
    const uint8_t* before = FontGlyphBitmap;
    GlyphMetrics m0 = Outline('A', 0);
    EXPECT_EQ(m0.bitmapWidth, 26);
    EXPECT_EQ(FontGlyphBitmap, before);
}

TEST_F(FontGlyph, EmptyGlyphsGetTheBlankCell) {
    AddGlyph(0, 'x', 0, 0, 0);
    AddGlyph(0, 0x20, 0, 0, 18);
    AddGlyph(0, 0x3000, 0, 0, 64);
    AddGlyph(0, 'w', 0, 0, 100);
    GlyphMetrics m = Outline('x');
    EXPECT_EQ(m.bitmap, FontBlankCell);
    EXPECT_EQ(m.advance, 32);
    EXPECT_EQ(m.boxWidth, 32);
    EXPECT_EQ(m.bitmapHeight, 64);
    EXPECT_EQ(m.originY, 64);
    EXPECT_EQ(Outline(0x20).advance, 18);  // a space keeps its advance
    EXPECT_EQ(Outline(0x20).boxWidth, 18);
    EXPECT_EQ(Outline('w').advance, 32);  // other empty glyphs lose theirs
    EXPECT_EQ(Outline(0x3000).advance, 64);
    TextLanguage = 1;
    EXPECT_EQ(FontGlyphMetrics.advanceX, 64);
    EXPECT_EQ(Outline(0x3000).advance, 32);  // advance 0 for language 1
    EXPECT_EQ(FontGlyphMetrics.advanceX, 0);
    EXPECT_EQ(Outline(0x1234).advance, 32);  // no glyph at all
    EXPECT_EQ(Outline(0x1234).style, 0);
}

TEST_F(FontGlyph, MissingGlyphFallsBackToTheGameFaceOnlyWithAnotherUserFace) {
    AddGlyph(2, 0x2800, 20, 30, 50);
    EXPECT_FALSE(Lib_FontStyleExists(2));
    EXPECT_EQ(Outline(0x2800).advance, 32);
    std::strcpy(FontUserFace, "Game Face");  // the same face: no fallback
    Lib_FontCreate(nullptr, 0);
    EXPECT_FALSE(Lib_FontStyleExists(2));
    EXPECT_EQ(Outline(0x2800).advance, 32);
    std::strcpy(FontUserFace, "Other Face");
    Lib_FontCreate(nullptr, 0);
    EXPECT_TRUE(Lib_FontStyleExists(2));
    g_rasterCalls = 0;
    GlyphMetrics m = Outline(0x2800);
    EXPECT_EQ(g_rasterCalls, 2);
    EXPECT_EQ(m.advance, 50);
    EXPECT_EQ(m.style, 2);
    EXPECT_EQ(FontSelectedStyle, 2);  // stays until the next selection
    g_rasterCalls = 0;
    EXPECT_EQ(Outline(0x2801).advance, 32);  // in style 2 already: no second try
    EXPECT_EQ(g_rasterCalls, 1);
}

// --- Real faces ---------------------------------------------------------------

class FontFaces : public FontEnv {
protected:
    void SetUp() override {
        FontEnv::SetUp();
        if (!LoadImage(0, font_env::kDejaVuSans) || !LoadImage(2, font_env::kDejaVuSerif) ||
            !LoadImage(3, font_env::kDejaVuSansOblique))
            GTEST_SKIP() << "font packages missing (tools/setup.sh)";
    }
    static GlyphMetrics Glyph(int32_t style, uint32_t codePoint, int32_t mode = 1) {
        Lib_FontSelect(style);
        Lib_GlyphOutlineGet(mode, codePoint);
        GlyphMetrics m;
        return *Lib_GlyphParamGet(&m);
    }
};

TEST_F(FontFaces, FacesOwnTheirBytesAndAreChosenByFamilyName) {
    Lib_FontCreate(TextRenderState.images[0], TextRenderState.sizes[0]);
    EXPECT_STREQ(FontDefaultFace, "DejaVu Sans");
    // The faces keep working once the images are gone.
    for (int i : {0, 2, 3}) {
        Lib_MemFree(HEAP_GRAPHICS, TextRenderState.images[i]);
        TextRenderState.images[i] = nullptr;
    }
    GlyphMetrics sansM = Glyph(0, 'M');
    EXPECT_GT(sansM.boxWidth, 40);
    EXPECT_EQ(Glyph(0, 'M', 0).boxWidth, sansM.boxWidth);  // metrics alone: the same box
    const uint8_t* b = Glyph(0, 'M').bitmap;
    for (int x = 0; x < sansM.bitmapWidth; ++x) EXPECT_EQ(b[x] | b[4 * sansM.bitmapWidth + x], 0);

    std::strcpy(FontUserFace, "dejavu serif");  // names match without case
    Lib_FontCreate(nullptr, 0);
    GlyphMetrics serifM = Glyph(0, 'M');
    EXPECT_NE(serifM.advance, sansM.advance);
    EXPECT_EQ(Glyph(2, 'M').advance, sansM.advance);
    // Circled digits are in DejaVu Sans only: the serif face falls back to the game's face.
    GlyphMetrics circled = Glyph(0, 0x2460);
    EXPECT_EQ(circled.style, 2);
    EXPECT_NE(circled.bitmap, FontBlankCell);

    std::strcpy(FontUserFace, "No Such Face");  // unknown: the game's own face
    Lib_FontCreate(nullptr, 0);
    EXPECT_EQ(Glyph(0, 'M').advance, sansM.advance);
}

TEST_F(FontFaces, ItalicUsesTheItalicFileElseASlantedFace) {
    Lib_FontCreate(TextRenderState.images[0], TextRenderState.sizes[0]);
    GlyphMetrics upright = Glyph(0, 'l'), oblique = Glyph(1, 'l');
    EXPECT_GT(oblique.boxWidth, upright.boxWidth + 4);
    // No italic file: slanted. A vertical bar of about 60 rows leans by about 12 pixels.
    std::strcpy(FontUserFace, "DejaVu Serif");
    Lib_FontCreate(nullptr, 0);
    GlyphMetrics serif = Glyph(0, '|'), slanted = Glyph(1, '|');
    EXPECT_GT(slanted.boxWidth, serif.boxWidth + 8);
    EXPECT_EQ(slanted.advance, serif.advance);
}

TEST_F(FontFaces, AFontWithoutANameKeepsThePreviousDefaultFace) {
    Lib_FontCreate(TextRenderState.images[0], TextRenderState.sizes[0]);
    std::string nameless = MakeFont({{3, 2, "Bold"}});
    Lib_FontCreate(nameless.data(), uint32_t(nameless.size()));  // not a usable face either
    EXPECT_STREQ(FontDefaultFace, "DejaVu Sans");
    EXPECT_EQ(Glyph(0, 'M').bitmap, FontBlankCell);
}

// --- The font-load task ---------------------------------------------------------

class FontLoad : public FontEnv {
protected:
    void SetUp() override {
        FontEnv::SetUp();
        if (HasFailure()) return;
        char tmpl[] = "/tmp/vn_font_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        ASSERT_TRUE(Lib_TaskInit());
        for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
        FileLoadTable.pending = 0;
    }
    void TearDown() override {
        Lib_PcArcClose();
        if (!old_.empty()) std::filesystem::current_path(old_);
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
        FontEnv::TearDown();
    }
    // Packs the listed fonts (archive name, system file) and an add-glyph picture.
    bool Archive(const std::vector<std::pair<std::string, const char*>>& fonts) {
        std::filesystem::create_directories("tree/font");
        std::filesystem::create_directories("data");
        for (const auto& [name, path] : fonts) {
            if (!std::filesystem::exists(path)) return false;
            std::filesystem::copy_file(path, "tree/font/" + name);
        }
        std::ofstream("tree/font/font_add_00.ext", std::ios::binary) << std::string(256 + 2 * 16384, '\x7F');
        if (std::system("python3 " VN_SOURCE_DIR "/tools/pack.py pcarc data/data_00.pcarc tree") != 0) return false;
        Lib_PcArcOpen();
        return true;
    }
    static FontLoadWork* Work(int32_t slot) { return static_cast<FontLoadWork*>(TaskTable.slots[slot]->work); }
    std::filesystem::path dir_, old_;
};

TEST_F(FontLoad, RequestsTheLanguagesFilesAndInstallsThem) {
    if (!Archive({{"font_01.ttf", font_env::kDejaVuSans},
                  {"font_11.ttf", font_env::kDejaVuSerif},
                  {"font_01_i.ttf", font_env::kDejaVuSansOblique}}))
        GTEST_SKIP() << "font packages missing (tools/setup.sh)";
    int32_t slot = Lib_FontSet("font_01.ttf", "font_add_00.ext");
    ASSERT_GE(slot, 0);
    FontLoadWork* w = Work(slot);
    EXPECT_STREQ(w->name[2], "font_11.ttf");
    EXPECT_STREQ(w->name[3], "font_01_i.ttf");
    EXPECT_STREQ(w->name[4], "");  // no italic of the alternative face
    EXPECT_EQ(Lib_FontSetCB(w), 0);
    EXPECT_EQ(w->state, 1);
    for (int i = 0; i < 4; ++i) EXPECT_GE(w->request[i], 0) << i;
    EXPECT_EQ(w->request[4], -1);
    EXPECT_EQ(Lib_FontSetCB(w), 0);  // still pending
    EXPECT_EQ(w->result, 0);
    Lib_FileLoadCB(nullptr);
    EXPECT_EQ(Lib_FontSetCB(w), 0);
    EXPECT_EQ(w->state, 99);
    EXPECT_EQ(w->result, 1);
    for (int i = 0; i < 4; ++i) EXPECT_NE(TextRenderState.images[i], nullptr) << i;
    EXPECT_EQ(TextRenderState.images[4], nullptr);
    EXPECT_EQ(TextRenderState.sizes[1], 256u + 2 * 16384);
    for (const FileLoadRequest& r : FileLoadTable.slots) EXPECT_EQ(r.flags & 1, 0);
    EXPECT_STREQ(FontDefaultFace, "DejaVu Sans");
    EXPECT_NE(Lib_GlyphInfoGet('A', -1, 0).advance, 0);
    EXPECT_EQ(Lib_FontSetCB(w), 0);  // done, but the task stays until its owner deletes it
    EXPECT_NE(TaskTable.slots[slot], nullptr);

    // A new load frees the previous images first.
    uint64_t inUse = HeapTable.heaps[HEAP_GRAPHICS].bytesInUse;
    Lib_TaskDel(uint32_t(slot));
    slot = Lib_FontSet("font_01.ttf", "font_add_00.ext");
    Lib_FontSetCB(Work(slot));
    Lib_FileLoadCB(nullptr);
    Lib_FontSetCB(Work(slot));
    EXPECT_EQ(Work(slot)->result, 1);
    EXPECT_EQ(HeapTable.heaps[HEAP_GRAPHICS].bytesInUse, inUse);
    Lib_TaskDel(uint32_t(slot));
}

TEST_F(FontLoad, AMissingAlternativeFaceFailsTheLoadAndStopsGlyphs) {
    if (!Archive({{"font_00.ttf", font_env::kDejaVuSans}})) GTEST_SKIP() << "font packages missing";
    int32_t slot = Lib_FontSet("font_00.ttf", "font_add_00.ext");
    FontLoadWork* w = Work(slot);
    EXPECT_STREQ(w->name[2], "font_10.ttf");  // requested without a check
    EXPECT_STREQ(w->name[3], "");
    Lib_FontSetCB(w);
    Lib_FileLoadCB(nullptr);
    testing::internal::CaptureStderr();
    Lib_FontSetCB(w);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("font/font_10.ttf"), std::string::npos) << log;
    EXPECT_EQ(w->result, -1);
    EXPECT_NE(TextRenderState.images[0], nullptr);
    EXPECT_EQ(TextRenderState.images[2], nullptr);
    EXPECT_STREQ(FontDefaultFace, "DejaVu Sans");
    EXPECT_EQ(Lib_GlyphInfoGet('A', -1, 0).advance, 0);  // no alternative face: nothing is drawn
    Lib_TaskDel(uint32_t(slot));
}

}  // namespace
