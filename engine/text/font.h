// Fonts: the font files of a language loaded through file requests, the
// faces made from them with FreeType, and single glyphs rasterised into 8-bit
// coverage bitmaps with a 5-pixel transparent border. Game thread only; the
// text renderer (glyph_cache.h) must have been started first.
//
// Font styles: 0 the main face (FontUserFace when set, else the game's own
// face), 1 its italic, 2 the game's own face FontDefaultFace, upright (made
// only when a different user face is set; the glyph fallback).
#pragma once

#include <cstdint>

inline constexpr uint32_t kFaceNameSize = 64;

// UTF-8 family name of font image [0]; empty until the first load.
extern char FontDefaultFace[kFaceNameSize];
// The face the player chose; empty for none.
extern char FontUserFace[kFaceNameSize];
// Puts the text's run-wide state back as a fresh process has it: the
// language the locale gives (TextLanguage -1) and no face of the player's.
void Lib_TextRunStateReset();
// The interface language (0 Japanese, 1 other, 2 simplified Chinese, 3
// traditional Chinese), taken from Lib_LanguageGet once when the text
// renderer starts (-1 before). Unlike TextLanguage, the option screen never
// changes it.
extern int32_t InterfaceLanguage;
// The style whose face is selected for the next outline; 0 after the faces
// are made, 2 after a fallback until the next selection.
extern int32_t FontSelectedStyle;

// The platform metrics of the last outline request.
struct FontGlyphMetricsT {
    uint32_t boxWidth;   // black box, raised to a multiple of 4 when a bitmap exists
    uint32_t boxHeight;
    int32_t originX;     // left bearing of the black box
    int32_t originY;     // top of the black box above the baseline
    int16_t advanceX;
    int16_t advanceY;
};
extern FontGlyphMetricsT FontGlyphMetrics;
// The last bordered coverage bitmap (heap 4): (boxWidth + 10) × (boxHeight + 10)
// bytes, pitch boxWidth + 10; null before the first bitmap request.
extern uint8_t* FontGlyphBitmap;
// A 64 × 64 blank bitmap, the cell of an empty glyph.
extern uint8_t FontBlankCell[4096];

// One rasterised glyph as the glyph cache stores it. Each value is the low
// byte of the platform metric.
struct GlyphMetrics {
    const uint8_t* bitmap;
    uint32_t reserved0;  // always 0
    int8_t originX;
    int8_t originY;      // top of the bitmap above the baseline, border included
    uint8_t boxWidth;
    uint8_t boxHeight;
    uint8_t advance;
    uint8_t bitmapWidth;
    uint8_t bitmapHeight;
    uint16_t reserved1;  // always 0
    uint8_t style;       // FontSelectedStyle when the glyph was made
};
static_assert(sizeof(GlyphMetrics) == 24);

// Work area of the font-load task.
inline constexpr int kFontImages = 5;
struct FontLoadWork {
    uint8_t state;   // 0 start, 1 waiting, 99 done
    int32_t result;  // 0 running, 1 every named file loaded, -1 some file missing
    void* data[kFontImages];
    uint32_t size[kFontImages];
    int32_t request[kFontImages];  // FileLoadRequest slot, -1 none
    char name[kFontImages][32];    // file names below "font/"; empty = not wanted
};

// Starts loading a language's fonts as the task "Lib_FontSetCB": name1 is
// "font_NN.ttf", name2 the add-glyph picture. Returns the task slot (-1 when
// no task could be made). The task never ends by itself: its owner reads the
// work's result and deletes the task.
int32_t Lib_FontSet(const char* name1, const char* name2);
int32_t Lib_FontSetCB(void* work);

// With an image: makes the faces of the font images anew (image [0] is the
// one given, [2], [3], [4] from TextRenderState) and names FontDefaultFace
// from it. With null: only chooses the faces again (a new FontUserFace).
void Lib_FontCreate(const void* image, uint32_t size);

// The family name of a TrueType/OpenType image: the first "name" record with
// name ID 1 or 4 on any platform, zero bytes left out, at most 63 bytes and a
// terminator. False (out unchanged) without a usable table or record; every
// offset, count and length is checked against size.
bool Lib_TtfNameGet(const void* image, uint64_t size, char out[kFaceNameSize]);

// Selects a style's face for the next outline (FontSelectedStyle).
void Lib_FontSelect(int32_t style);
// Whether the style has a face (style 2 only with a distinct user face).
bool Lib_FontStyleExists(int32_t style);

// Outlines a code point in the selected style: mode 0 fills FontGlyphMetrics,
// mode 1 also FontGlyphBitmap. A code point the face has no glyph for falls
// back once to style 2 when that exists.
void Lib_GlyphOutlineGet(int32_t mode, uint32_t codePoint);
// Describes the last outline request; an empty glyph gets FontBlankCell.
GlyphMetrics* Lib_GlyphParamGet(GlyphMetrics* out);

// Empties the face names, the faces and FontBlankCell (part of Lib_FontInit).
void Lib_FontStateClear();
// Closes the faces and frees FontGlyphBitmap (part of Lib_FontEnd).
void Lib_FontRelease();

// --- Rasteriser ----------------------------------------------------------------
// One glyph as the rasteriser gives it: black box, origin and advance in
// pixels, and (when asked) coverage 0..255 in rows of `pitch` bytes.
struct RasterGlyph {
    uint32_t width, rows;
    int32_t left, top;
    int32_t advance;
    int32_t pitch;
    const uint8_t* pixels;
};
// Rasterises a code point in a style's face; false when the face has no glyph
// for it or the style has no face. FreeType by default; tests install their
// own with Lib_GlyphRasterSet (null restores FreeType).
using GlyphRasterFn = bool (*)(int32_t style, uint32_t codePoint, bool bitmap, RasterGlyph* out);
void Lib_GlyphRasterSet(GlyphRasterFn fn);
