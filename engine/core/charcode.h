// Character codes: Shift-JIS (code page 932), UTF-16 and UTF-8 conversions
// through the engine's own tables, the per-character primitives every text
// scanner uses, and byte-string utilities that step over the second byte of a
// two-byte Shift-JIS character.
//
// Engine strings are NUL-terminated bytes in Shift-JIS or UTF-8, decided per
// character: where the bytes form one valid UTF-8 sequence the character is
// UTF-8, otherwise Shift-JIS. A conversion stops at the first character that
// has no code in the target; what came before stands, terminated.
#pragma once

#include <cstddef>
#include <cstdint>

// Room of the fixed conversion buffers; results are cut to 1023 bytes on a
// character boundary and always terminated.
constexpr size_t kCharConvSize = 1024;

// --- Character primitives (UTF-8 where valid, else Shift-JIS) ---------------
// True for a full-width character.
bool Lib_CharIsWide(const char* text);
// Byte length of the character at text: 1-4 for UTF-8, 1-2 for Shift-JIS, 1 at
// the terminator. A Shift-JIS lead byte right before the terminator counts 1,
// and 0xFD-0xFF are single bytes, so stepping never passes a string's end.
uint32_t Lib_CharLen(const char* text);
// Length of a valid UTF-8 sequence at p (ASCII counts 1): the lead byte gives
// the length and every further byte must be 0x80-0xBF; 0 when the bytes are
// not UTF-8. Reads stop at the first byte that fails, so a NUL is never passed.
uint32_t Lib_Utf8SeqLen(const uint8_t* p);
// Unicode code point of the character at text; 0 for a Shift-JIS lead byte
// with a missing or invalid trail byte, U+FFFD for malformed UTF-8.
uint32_t Lib_CharCode(const char* text);

// --- Conversions ------------------------------------------------------------
// Lower-cases ASCII 'A'-'Z' in place, passing over Shift-JIS lead bytes
// (0x81-0x9F, 0xE0-0xFF) together with their trail byte. Returns str.
char* Lib_StrLowerSjis(char* str);
// Shift-JIS to UTF-16 into out (outSize in bytes); at most outSize / 2 - 1
// values are written, followed by a terminating 0.
void Lib_SjisToUtf16(const char* src, char16_t* out, size_t outSize);
// UTF-16 to Shift-JIS into out, which holds kCharConvSize bytes.
void Lib_Utf16ToSjis(const char16_t* src, char* out);
// The first n bytes of a UTF-8 string (up to a NUL) to Shift-JIS into out,
// which holds kCharConvSize bytes. n = 0 leaves out untouched.
void Lib_Utf8ToSjis(const char* src, size_t n, char* out);
// Shift-JIS to UTF-8 in a static buffer overwritten by the next call: game
// thread only. Other threads use Lib_SjisToUtf8Buf.
const char* Lib_SjisToUtf8(const char* src);
// Shift-JIS to UTF-8 into the caller's buffer (cut on a character boundary,
// terminated when outSize > 0). Returns out.
char* Lib_SjisToUtf8Buf(const char* src, char* out, size_t outSize);
// A text for a line on a UTF-8 terminal: printable ASCII and whole UTF-8
// characters from U+00A0 up as they are, every other byte as \xNN: the
// controls below 0x20, 0x7F, the C1 controls U+0080-U+009F (U+0085, the next
// line, among them) and the line and paragraph separators U+2028 and U+2029
// written in UTF-8, and each byte of no whole character (Shift-JIS text, a
// cut or overlong sequence, a surrogate, a raw 0x80-0x9F). Read byte by byte as the terminal
// reads it, so that no text of a save or a script, in any encoding, colours
// the terminal or starts a line of its own. Cut on a character or escape
// boundary to fit outSize, always terminated; returns out. Any thread.
char* Lib_TextEscaped(const char* text, char* out, size_t outSize);

// --- Paths ------------------------------------------------------------------
// The file name of a path (after the last '\\', '/' or TAB that starts a
// character) without its extension: flag 0 cuts at the last '.', any other
// flag at the first. out must hold 256 bytes; the name is cut to 255 bytes on
// a character boundary.
void Lib_PathGetName(const char* path, char* out, int32_t flag);
