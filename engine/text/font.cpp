#include "engine/text/font.h"

#include "engine/text/font_window.h"

#include <unistd.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/files/message_table.h"
#include "engine/text/glyph_cache.h"

// process-wide: set by Lib_FontCreate
char FontDefaultFace[kFaceNameSize];
char FontUserFace[kFaceNameSize];

void Lib_TextRunStateReset() {
    TextLanguage.store(-1);
    FontUserFace[0] = 0;
}
// process-wide (FontSelectedStyle, InterfaceLanguage, FontGlyphMetrics, FontGlyphBitmap,
// FontBlankCell): set by Lib_FontInit and Lib_FontStateClear; the glyph's fields are written
// before each read
int32_t FontSelectedStyle;
int32_t InterfaceLanguage = -1;
FontGlyphMetricsT FontGlyphMetrics;
uint8_t* FontGlyphBitmap;
uint8_t FontBlankCell[4096];

namespace {

// Face names are compared and chosen on their first 31 bytes.
constexpr size_t kFaceNameCut = 31;
constexpr uint32_t kEmSize = 64;

// A face made from a font image. Slots: 0 image [0], 1 image [2], 2 image
// [3], 3 image [4]; 2 and 3 are the italics. Each face owns a copy of its
// bytes, so the images may be freed while glyphs are still asked for.
struct FaceSlot {
    uint8_t* bytes;
    FT_Face face;
    char family[kFaceNameSize];
};
constexpr int kFaceSlots = 4;
constexpr int kSlotImage[kFaceSlots] = {0, 2, 3, 4};

// The face of each font style; oblique slants an upright face.
struct StyleFace {
    FT_Face face;
    bool oblique;
    bool exists;
};

// process-wide (g_library, g_slots, g_styles): made by Lib_FontCreate, released by
// Lib_FontRelease
FT_Library g_library;
FaceSlot g_slots[kFaceSlots];
StyleFace g_styles[3];

bool FreeTypeRaster(int32_t style, uint32_t codePoint, bool bitmap, RasterGlyph* out);
// process-wide: a test seam (Lib_GlyphRasterSet)
GlyphRasterFn g_raster = FreeTypeRaster;

uint16_t ReadU16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t ReadU32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// Copies a name cut to at most `cut` bytes on a UTF-8 character boundary.
void CopyName(char* out, const char* in, size_t cut) {
    size_t n = std::strlen(in);
    if (n > cut) {
        n = cut;
        while (n > 0 && (uint8_t(in[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(out, in, n);
    out[n] = 0;
}

// Face names match like the platform's: ASCII case folded, first 31 bytes.
bool SameFace(const char* a, const char* b) {
    char ca[kFaceNameSize], cb[kFaceNameSize];
    CopyName(ca, a, kFaceNameCut);
    CopyName(cb, b, kFaceNameCut);
    for (size_t i = 0;; ++i) {
        char x = ca[i], y = cb[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
}

bool UserFaceDistinct() { return FontUserFace[0] && std::strcmp(FontUserFace, FontDefaultFace) != 0; }

void CloseSlot(FaceSlot* s) {
    if (s->face) FT_Done_Face(s->face);
    std::free(s->bytes);
    *s = FaceSlot{};
}

void CloseFaces() {
    for (FaceSlot& s : g_slots) CloseSlot(&s);
    for (StyleFace& s : g_styles) s = StyleFace{};
}

void OpenSlot(FaceSlot* s, const void* image, uint32_t size, int imageIndex) {
    CloseSlot(s);
    if (!image || !size) return;
    if (!g_library && FT_Init_FreeType(&g_library)) {
        g_library = nullptr;
        std::fprintf(stderr, "vn: FreeType could not be started; no text is drawn\n");
        return;
    }
    s->bytes = static_cast<uint8_t*>(std::malloc(size));
    if (!s->bytes) return;
    std::memcpy(s->bytes, image, size);
    if (FT_New_Memory_Face(g_library, s->bytes, FT_Long(size), 0, &s->face) ||
        FT_Set_Pixel_Sizes(s->face, 0, kEmSize)) {
        Lib_DebugPrintf("Error -> font image [%d] is not a usable font\n", imageIndex);
        std::fprintf(stderr, "vn: font image [%d] is not a usable font\n", imageIndex);
        CloseSlot(s);
        return;
    }
    Lib_TtfNameGet(s->bytes, size, s->family);
}

// The loaded face of a family, upright (slots 0, 1) or italic (2, 3).
FT_Face FindFace(const char* family, bool italic) {
    for (int i = italic ? 2 : 0; i < (italic ? 4 : 2); ++i)
        if (g_slots[i].face && g_slots[i].family[0] && SameFace(g_slots[i].family, family)) return g_slots[i].face;
    return nullptr;
}

const char* FamilyOf(FT_Face face) {
    for (const FaceSlot& s : g_slots)
        if (s.face == face) return s.family;
    return "";
}

// The shear of a synthetic oblique (about 12 degrees).
constexpr FT_Matrix kOblique = {0x10000, 0x0366A, 0, 0x10000};

bool FitsCell(uint32_t width, uint32_t rows) { return ((uint64_t(width) + 3) & ~3ull) + 10 <= 255 && uint64_t(rows) + 10 <= 255; }

bool FreeTypeRaster(int32_t style, uint32_t codePoint, bool bitmap, RasterGlyph* out) {
    if (style < 0 || style > 2 || !g_styles[style].exists || !g_styles[style].face) return false;
    FT_Face face = g_styles[style].face;
    FT_UInt index = FT_Get_Char_Index(face, codePoint);
    if (!index) return false;
    FT_Matrix shear = kOblique;
    FT_Set_Transform(face, g_styles[style].oblique ? &shear : nullptr, nullptr);
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP)) return false;
    FT_GlyphSlot slot = face->glyph;
    // The load presets the box. One wider or taller than a cell's byte sizes
    // hold (width raised to a multiple of 4, with the 5-pixel border: four
    // times the em and more) is a damaged outline: refused before it is
    // rendered, so that a damaged font cannot spend a frame on one glyph or
    // store sides that are not its own; the rendered box is held to it too.
    if (!FitsCell(slot->bitmap.width, slot->bitmap.rows)) return false;
    if (bitmap && slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL))
        return false;
    if (!FitsCell(slot->bitmap.width, slot->bitmap.rows)) return false;
    // The bitmap fields are preset by the load, so metrics-only requests get
    // the same box as rendered ones.
    out->width = slot->bitmap.width;
    out->rows = slot->bitmap.rows;
    out->left = slot->bitmap_left;
    out->top = slot->bitmap_top;
    out->advance = int32_t((slot->advance.x + 32) >> 6);
    out->pitch = slot->bitmap.pitch;
    out->pixels = bitmap && slot->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY ? slot->bitmap.buffer : nullptr;
    if (bitmap && !out->pixels && out->width && out->rows) return false;
    return true;
}

// Grey 0..255 to the nearest of the 65 levels 0..64, then × 255 / 64.
struct LevelTable {
    uint8_t value[256];
};
constexpr LevelTable MakeLevels() {
    LevelTable t{};
    for (uint32_t v = 0; v < 256; ++v) t.value[v] = uint8_t((v * 64u + 127u) / 255u * 255u / 64u);
    return t;
}
constexpr LevelTable kLevels = MakeLevels();

// Copies the glyph into a new bordered bitmap: 5 zero pixels on every side,
// pitch width + 10, each 0..255 value through the 65 levels 0..64.
void MakeBorderedBitmap(const RasterGlyph& g, uint32_t width, uint32_t rows) {
    if (FontGlyphBitmap) Lib_MemFree(HEAP_GRAPHICS, FontGlyphBitmap);
    uint32_t pitch = width + 10;
    uint64_t bytes = uint64_t(pitch) * (rows + 10);
    FontGlyphBitmap = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_GRAPHICS, bytes, 256));
    if (!FontGlyphBitmap) return;
    std::memset(FontGlyphBitmap, 0, bytes);
    for (uint32_t r = 0; r < g.rows; ++r) {
        const uint8_t* src = g.pixels + (g.pitch >= 0 ? int64_t(r) * g.pitch : int64_t(g.rows - 1 - r) * -g.pitch);
        uint8_t* dst = FontGlyphBitmap + (r + 5) * pitch + 5;
        for (uint32_t c = 0; c < g.width; ++c) dst[c] = kLevels.value[src[c]];
    }
}

void OutlineOnce(int32_t mode, uint32_t codePoint, bool mayFallBack) {
    RasterGlyph g{};
    bool ok = g_raster(FontSelectedStyle, codePoint, mode == 1, &g);
    FontGlyphMetricsT& m = FontGlyphMetrics;
    m.originX = ok ? g.left : 0;
    m.originY = ok ? g.top : 0;
    m.advanceX = ok ? int16_t(g.advance) : 0;
    m.advanceY = 0;
    if (!ok || !g.width || !g.rows) {
        m.boxWidth = m.boxHeight = 0;
        if (codePoint == 0x20) return;
        if (codePoint == 0x3000) {
            if (TextRenderState.language.load(std::memory_order_relaxed) == 1) m.advanceX = 0;
            return;
        }
        m.advanceX = 0;
        if (mayFallBack && FontSelectedStyle != 2 && g_styles[2].exists && UserFaceDistinct()) {
            Lib_FontSelect(2);
            OutlineOnce(mode, codePoint, false);
        }
        return;
    }
    m.boxWidth = (g.width + 3) & ~3u;
    m.boxHeight = g.rows;
    if (mode == 1) MakeBorderedBitmap(g, m.boxWidth, m.boxHeight);
}

// --- The font-load task ------------------------------------------------------

void CopyFileName(char out[32], const char* in) { std::snprintf(out, 32, "%s", in ? in : ""); }

bool FontFileExists(const char* fileName) {
    char name[kFileNameSize];
    if (std::snprintf(name, sizeof name, "font/%s", fileName) >= int(sizeof name)) return false;
    return Lib_FileExists(name);
}

}  // namespace

int32_t Lib_FontSet(const char* name1, const char* name2) {
    int32_t slot = Lib_TaskSet("Lib_FontSetCB", Lib_FontSetCB, 32000, 200, 0);
    if (slot < 0) return slot;
    auto* w = static_cast<FontLoadWork*>(Lib_TaskWorkAlloc(uint32_t(slot), sizeof(FontLoadWork)));
    if (!w) {
        Lib_TaskDel(uint32_t(slot));
        return -1;
    }
    std::memset(w, 0, sizeof *w);
    for (int32_t& r : w->request) r = -1;
    CopyFileName(w->name[0], name1);
    CopyFileName(w->name[1], name2);
    // The font number starts at the sixth character ("font_NN.ttf").
    int number = 0;
    const char* digits = name1 && std::strlen(name1) > 5 ? name1 + 5 : "";
    for (; *digits >= '0' && *digits <= '9' && number < 100000; ++digits) number = number * 10 + (*digits - '0');
    std::snprintf(w->name[2], 32, "font_%02d.ttf", number + 10);
    for (int k = 0; k < 2; ++k) {
        char italic[32];
        std::snprintf(italic, sizeof italic, "font_%02d_i.ttf", number + 10 * k);
        if (FontFileExists(italic)) CopyFileName(w->name[3 + k], italic);
    }
    return slot;
}

int32_t Lib_FontSetCB(void* work) {
    auto* w = static_cast<FontLoadWork*>(work);
    if (w->state == 0) {
        for (int i = 0; i < kFontImages; ++i) {
            if (TextRenderState.images[i]) Lib_MemFree(HEAP_GRAPHICS, TextRenderState.images[i]);
            TextRenderState.images[i] = nullptr;
            TextRenderState.sizes[i] = 0;
            if (!w->name[i][0]) continue;
            char name[kFileNameSize];
            std::snprintf(name, sizeof name, "font/%s", w->name[i]);
            w->request[i] = Lib_FileLoadReq(HEAP_GRAPHICS, name, &w->data[i], &w->size[i], 0x4000);
        }
        w->state = 1;
    }
    if (w->state != 1) return 0;
    int32_t final[kFontImages];
    for (int i = 0; i < kFontImages; ++i) {
        int32_t r = w->request[i];
        final[i] = -1;
        if (r < 0 || r >= kFileLoadSlots) continue;
        final[i] = FileLoadTable.slots[r].state.load(std::memory_order_acquire);
        if (final[i] == 0) return 0;
    }
    w->result = 1;
    for (int i = 0; i < kFontImages; ++i) {
        if (w->request[i] >= 0) Lib_FileLoadEnd(w->request[i]);
        w->request[i] = -1;
        if (final[i] == 1) {
            TextRenderState.images[i] = w->data[i];
            TextRenderState.sizes[i] = w->size[i];
        } else if (w->name[i][0]) {
            w->result = -1;
            Lib_DebugPrintf("Error -> Lib_FontSetCB font/%s\n", w->name[i]);
            if (i <= 2) std::fprintf(stderr, "vn: font/%s is missing: text cannot be drawn without it\n", w->name[i]);
        }
        w->data[i] = nullptr;
    }
    Lib_FontCreate(TextRenderState.images[0], TextRenderState.sizes[0]);
    Lib_GlyphAtlasReset();
    w->state = 99;
    return 0;
}

void Lib_FontCreate(const void* image, uint32_t size) {
    if (image) {
        OpenSlot(&g_slots[0], image, size, 0);
        for (int i = 1; i < kFaceSlots; ++i) {
            int k = kSlotImage[i];
            OpenSlot(&g_slots[i], TextRenderState.images[k], TextRenderState.sizes[k], k);
        }
        char name[kFaceNameSize];
        if (Lib_TtfNameGet(image, size, name)) CopyName(FontDefaultFace, name, kFaceNameSize - 1);
    }
    for (StyleFace& s : g_styles) s = StyleFace{};
    const char* wanted = FontUserFace[0] ? FontUserFace : FontDefaultFace;
    // An unknown name gets the game's own face, as the platform substitutes.
    FT_Face main = FindFace(wanted, false);
    if (!main) main = g_slots[0].face;
    g_styles[0] = {main, false, true};
    FT_Face italic = main ? FindFace(FamilyOf(main), true) : nullptr;
    g_styles[1] = italic ? StyleFace{italic, false, true} : StyleFace{main, true, true};
    if (UserFaceDistinct()) {
        FT_Face own = FindFace(FontDefaultFace, false);
        g_styles[2] = {own ? own : g_slots[0].face, false, true};
    }
    FontSelectedStyle = 0;
}

bool Lib_TtfNameGet(const void* image, uint64_t size, char out[kFaceNameSize]) {
    const uint8_t* p = static_cast<const uint8_t*>(image);
    if (!p || size < 12) return false;
    // A collection names its first font: its table directory is at the u32
    // offset at +12.
    uint64_t dir = 0;
    if (std::memcmp(p, "ttcf", 4) == 0) {
        if (size < 16) return false;
        dir = ReadU32(p + 12);
        if (dir + 12 > size) return false;
    }
    // The table directory: u16 table count at +4, 16-byte records from +12
    // {tag, checksum, offset, length}.
    uint32_t tables = ReadU16(p + dir + 4);
    uint64_t at = 0, end = 0;
    for (uint32_t i = 0; i < tables && dir + 12 + 16ull * (i + 1) <= size; ++i) {
        const uint8_t* rec = p + dir + 12 + 16ull * i;
        if (std::memcmp(rec, "name", 4) != 0) continue;
        at = ReadU32(rec + 8);
        end = at + ReadU32(rec + 12);
        if (end > size) end = size;  // a short length field is trusted only up to the file's end
        break;
    }
    if (at == 0 || at + 6 > end) return false;
    const uint8_t* t = p + at;
    uint64_t tableSize = end - at;
    uint32_t count = ReadU16(t + 2);
    uint64_t storage = ReadU16(t + 4);
    for (uint32_t i = 0; i < count && 6 + 12ull * (i + 1) <= tableSize; ++i) {
        const uint8_t* r = t + 6 + 12ull * i;
        uint16_t id = ReadU16(r + 6);
        if (id != 1 && id != 4) continue;
        uint64_t from = storage + ReadU16(r + 10), length = ReadU16(r + 8);
        if (from + length > tableSize) continue;  // a string outside the table is no name
        char name[kFaceNameSize];
        size_t n = 0;
        for (uint64_t k = 0; k < length && n < kFaceNameSize - 1; ++k)
            if (t[from + k]) name[n++] = char(t[from + k]);
        if (!n) continue;
        name[n] = 0;
        std::memcpy(out, name, n + 1);
        Lib_DebugPrintf("ttf -> \"%s\"\n", out);
        return true;
    }
    return false;
}

void Lib_FontSelect(int32_t style) { FontSelectedStyle = style; }

bool Lib_FontStyleExists(int32_t style) { return style >= 0 && style <= 2 && g_styles[style].exists; }

void Lib_GlyphOutlineGet(int32_t mode, uint32_t codePoint) { OutlineOnce(mode, codePoint, true); }

GlyphMetrics* Lib_GlyphParamGet(GlyphMetrics* out) {
    const FontGlyphMetricsT& m = FontGlyphMetrics;
    *out = GlyphMetrics{};
    out->originX = int8_t(uint8_t(m.originX));
    if (m.boxWidth && m.boxHeight) {
        out->bitmap = FontGlyphBitmap;
        out->originY = int8_t(uint8_t(m.originY + 5));
        out->boxWidth = out->bitmapWidth = uint8_t(m.boxWidth + 10);
        out->boxHeight = out->bitmapHeight = uint8_t(m.boxHeight + 10);
        out->advance = uint8_t(m.advanceX);
    } else {
        out->bitmap = FontBlankCell;
        out->advance = uint8_t(m.advanceX) ? uint8_t(m.advanceX) : 32;
        out->boxWidth = out->bitmapWidth = out->advance < 64 ? out->advance : 64;
        out->boxHeight = out->bitmapHeight = 64;
        out->originY = 64;
    }
    out->style = uint8_t(FontSelectedStyle);
    return out;
}

void Lib_FontStateClear() {
    Lib_FontAppStateClear();
    FontDefaultFace[0] = 0;
    FontUserFace[0] = 0;
    std::memset(FontBlankCell, 0, sizeof FontBlankCell);
    CloseFaces();
    FontSelectedStyle = 0;
}

void Lib_FontRelease() {
    if (FontGlyphBitmap) Lib_MemFree(HEAP_GRAPHICS, FontGlyphBitmap);
    FontGlyphBitmap = nullptr;
    CloseFaces();
    if (g_library) FT_Done_FreeType(g_library);
    g_library = nullptr;
}

void Lib_GlyphRasterSet(GlyphRasterFn fn) { g_raster = fn ? fn : FreeTypeRaster; }
