// Measuring a text that only grows at its end, as the message converter does
// after every character it adds: each append gives what Lib_TextMeasure
// gives for the whole text so far, for the cost of what is new. The last
// steps whose reading may change with what follows them ("#" before "n", a
// tag not closed yet, a character not whole yet) are laid out again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/text/text_tags.h"

// One character or tag of a measuring pass over a record: out grows by it.
// False at the end of the text.
bool Lib_TextMeasureStep(TextRecord* record, TextCursor* cursor, TextRect* out);

struct TextMeasureRun {
    // The state before one step: the cursor, the rectangle and the record
    // fields a tag may write. Only steps near the end, and tags, are marked.
    struct Mark {
        TextCursor cursor;
        TextRect rect;
        float scaleX, scaleY;
        uint32_t colour;
        int32_t speed;
        int32_t stepEnd;  // the offset behind the step
    };
    static constexpr int kMarks = 10;  // the steps within a tag name's length of the end, and one more
    TextRecord record;
    TextCursor cursor;
    TextRect rect;
    Mark marks[kMarks];  // a ring, oldest at markFirst
    int32_t markFirst, markCount;
    int32_t length;  // bytes of the text
};

// A run at (0, 0) with the settings Lib_TextMeasure takes, ruby space off
// (with it, a line's first step would read the whole line).
void Lib_TextMeasureRunStart(TextMeasureRun* run, const TextScale* scale, const TextSpacing* spacing,
                             uint32_t fontStyle);
// Appends n bytes (cut where the text is full) and returns the measure of
// the whole text so far.
TextRect Lib_TextMeasureRunAppend(TextMeasureRun* run, const char* bytes, size_t n);
// Frees what the run's ruby tags made.
void Lib_TextMeasureRunEnd(TextMeasureRun* run);
