// Text objects: the 72 strings on screen with their reveal state, position,
// scale, colours, clip rectangle, layer, font style and up to 32 ruby children.
// Each registered object has a draw-list entry whose callback lays the text
// out and draws it every frame (text_layout.h). Other modules read and write
// the record's fields directly and then call Lib_TextRubyMove with a zero
// offset to pass the change on to the ruby children. Game thread only.
#pragma once

#include <cstdint>

#include "engine/render/camera.h"
#include "engine/text/glyph_cache.h"

inline constexpr int32_t kTextSlots = 72;
inline constexpr int32_t kTextBufferSize = 1536;  // at most 1535 bytes of text and the terminator
inline constexpr int32_t kTextRubyMax = 32;

// Render flags.
enum : uint8_t {
    TEXT_SHADOW = 0x01,         // drop shadow (two passes)
    TEXT_ALIGN_CENTRE = 0x02,   // every line centred, the block centred vertically
    TEXT_ALIGN_RIGHT = 0x04,    // every line right-aligned
    TEXT_ALIGN_VCENTRE = 0x08,  // the block centred vertically
    TEXT_ALIGN_HCENTRE = 0x10,  // every line centred
    TEXT_BORDER4 = 0x20,        // four-way border (five passes)
    TEXT_BORDER8 = 0x40,        // eight-way border (nine passes)
};
// State bits.
enum : uint8_t {
    TEXT_STATE_DRAWN = 0x04,
    TEXT_STATE_PROTECTED = 0x08,
};
inline constexpr uint32_t kTextDrawDefaultCamera = 0x02;  // draw-mode bit

struct TextPos {
    int32_t x, y, z;
};
struct TextScale {
    float x, y;
};
struct TextSpacing {
    int32_t letter, line;
};
// A measured rectangle in pixels, y upwards.
struct TextRect {
    int32_t left, top, right, bottom;
};

struct TextRecord {
    int32_t drawEntry;    // -1 none
    int32_t revealClock;  // frames towards the next character
    int32_t revealed;     // characters revealed
    int32_t waitCounter;  // frames left of a running pause
    uint32_t startTime;   // low 32 bits of the µs clock: creation or end of the last pause
    uint8_t finished;
    uint8_t fixedAdvance;  // every character advances 64 pixels
    int32_t x, y, z;       // from the screen's top-left, y upwards
    float scaleX, scaleY;
    int32_t letterSpacing;
    int32_t lineSpacing;  // added to the 64-pixel line step
    int32_t clipX, clipY, clipWidth, clipHeight;  // (0, 0, 1280, 720): no clip
    uint32_t colour;      // alpha << 24 | c3 << 16 | c2 << 8 | c1 (c1 the shader's red)
    uint32_t corner[4];   // top-left, top-right, bottom-left, bottom-right; all 0 none
    uint32_t outline;     // shadow and border colour; alpha != 0 switches the shader outline on
    uint8_t renderFlags;
    int32_t layer;
    uint8_t state;
    int32_t speed;        // frames per character; below 1 all at once
    uint32_t drawMode;
    uint8_t rubySpace;    // lines holding a ruby are pushed down by half a line
    uint8_t fadeIn;
    int32_t fadeLength;   // fade frames when the speed is below 1
    uint8_t alpha[kTextBufferSize];  // by character number
    char text[kTextBufferSize];
    TextRecord* ruby[kTextRubyMax];  // owned children, from 0 without gaps
    CameraRecord* camera;            // null: ActiveCamera
    uint32_t cornerBuffer;           // own corner-colour vertex buffer, 0 none; owned
    TextVertex* cornerData;          // its four vertices (heap 4); owned
    uint32_t fontStyle;              // non-zero overrides the style tags
};

extern TextRecord* TextTable[kTextSlots];

// Sets every slot to null (frees nothing: start-up).
void Lib_TextTableClear();
// Gives *record every initial value, allocating it from heap 0 first when it
// is null. The text is cut to 1535 bytes on a character boundary.
void Lib_TextObjCreate(TextRecord** record, const char* text, const TextPos* pos);
// Creates and registers a text object in the first free slot from the hint
// (read unsigned; 72 or more searches from 0; no wrap). -1 when none is free.
int32_t Lib_TextSet(int32_t hint, const char* text, const TextPos* pos);
// Deletes an object unless it is protected.
void Lib_TextDel(int32_t slot);
void Lib_TextPosSet(int32_t slot, const TextPos* pos);
void Lib_TextScaleSet(int32_t slot, const TextScale* scale);
// {1, 1} for a bad or empty slot.
TextScale Lib_TextScaleGet(int32_t slot);
// Replaces the text and starts the reveal again (start time and wait counter kept).
void Lib_TextStrSet(int32_t slot, const char* text);
void Lib_TextRgbaSet(int32_t slot, uint32_t colour);
// Builds the object's own quad with four corner colours (TL, TR, BL, BR).
void Lib_TextCornerColorSet(int32_t slot, const uint32_t colours[4]);
void Lib_TextPrioSet(int32_t slot, int32_t layer);
void Lib_TextDrawModeSet(int32_t slot, uint32_t mode);
// Lays a record out without drawing (tags still write the record).
TextRect* Lib_TextMeasureObj(TextRect* out, TextRecord* record);
// Measures a string at (0, 0) on a temporary record with render flags 0.
TextRect* Lib_TextMeasure(TextRect* out, const char* text, const TextScale* scale,
                          const TextSpacing* spacing, uint8_t rubySpace, uint32_t fontStyle);
// A measured width, right - left, taken in 64 bits and held within the int
// range: the edges of damaged text may lie further apart than an int spans.
int32_t Lib_TextRectWidth(const TextRect& r);
// Frees every ruby child (and theirs) and clears the pointers.
void Lib_TextRubyFree(TextRecord* record);
// Lib_TextRubySync to each child in turn with the offset.
void Lib_TextRubyMove(TextRecord* record, const TextPos* offset);
// Copies the parent's settings into one child, moved by the offset.
void Lib_TextRubySync(const TextRecord* parent, TextRecord* child, const TextPos* offset);
