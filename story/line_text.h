// Past lines of the story read back from their positions in the read-line
// history, without running the script: the speaker's name, the message text
// and the voice file names, for the backlog, the save screen and the quick
// save; and the quick-save caption rebuilt in the current language.
#pragma once

#include <cstdint>

inline constexpr uint32_t kLineTextSize = 1536;  // name and text outputs, terminator included
inline constexpr uint32_t kLineVoiceSize = 64;   // one voice entry, terminator included
inline constexpr uint32_t kQuickCaptionSize = 64;

enum : uint32_t {
    LINE_INDENT = 1,  // detect the hanging indent
    LINE_BREAKS = 2,  // keep "#n", indents become "#Pos[" moves
    LINE_ADD = 4,     // keep "#Add[" tags
    LINE_RAW = 8,     // names and texts as written (keys unexpanded)
};

// The quick save's caption with its text-id keys (filled by the quick save).
extern char QuickCaption[kQuickCaptionSize];

// Line `line` of the read-line history: 0 a message (name, text and up to
// voiceCapacity voice entries filled), 1 a choice (name only), -1 otherwise.
// name and text hold kLineTextSize bytes each; voices may be null.
int32_t GSL_ScriptLineText(uint32_t line, char* name, char* text, char (*voices)[kLineVoiceSize],
                           uint32_t voiceCapacity, uint32_t flags);
// The same into buffers of any size, each cut on a character boundary.
int32_t GSL_ScriptLineTextInto(uint32_t line, char* name, uint32_t nameSize, char* text, uint32_t textSize,
                               uint32_t flags);
// QuickCaption with its keys expanded, into out (outSize bytes, cut on a
// character boundary).
void GSL_QuickBuildPreviewText(char* out, uint32_t outSize);
