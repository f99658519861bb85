// The layout cursor and the inline tags of text objects: line feeds and
// "#n", "#Color[", "#Pos[", "#Size[", "#Speed[", "#Rubi[", "#Add[",
// "#Wait[", "#Italic[", "#Weight[" and "#System[", the line break with its
// ruby space, and the alignment offset of a line. Every scan stays inside the
// record's text buffer.
#pragma once

#include <cstdint>

#include "engine/text/text_object.h"

// One layout pass over one record.
struct TextCursor {
    TextRecord* record;
    int32_t penX, penY;         // from the record's position, y upwards
    int32_t cellWidth, cellHeight;
    int32_t offset;             // byte offset into the text
    int32_t count;              // characters laid out in this pass
    int32_t rubyIndex;          // "#Rubi[" tags passed
    int32_t addIndex;           // 0..15 right after "#Add[", else -1
    int32_t pauseAt;            // character count of a "#Wait[", -1 none
    int32_t pauseLength;        // frames
    int32_t styleOverride;      // used when the record's font style is 0
    float slant;                // radians
    float weight;
    int32_t feedAt;             // offset of the next line feed (or the end) seen at a line break, -1 none yet
};

// A cursor at the start of a pass over record with the given pen.
TextCursor Lib_TextCursorStart(TextRecord* record, int32_t penX, int32_t penY);

// 1 when a line break or a tag was consumed at the cursor, 0 on an ordinary
// character (a '#' that starts no tag is one).
uint8_t Lib_TagParse(TextCursor* cursor);
// Moves the offset past the next ',' (or to the end of the text) and returns
// where the next argument starts.
const char* Lib_TagNextArg(TextCursor* cursor);
// Extra downward shift of the line starting at p: half a cell when the record
// has ruby space and the line holds a "#Rubi[" before its end.
int32_t Lib_TagRubiCheck(const TextCursor* cursor, const char* p);

struct TextPen {
    int32_t x, y;
};
// Starting pen of the line at p (and the vertical offset of the block from
// there) by the alignment flags; (0, 0) without alignment.
TextPen Lib_TextLineStart(const TextRecord* record, const char* p);

// Truncation to int32 as the layout does it: a value outside the range (or
// NaN) gives INT32_MIN.
int32_t Lib_TextTrunc(double v);
