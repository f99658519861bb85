// Character-code conversions and string utilities on arbitrary bytes. Besides
// the sanitizers, checks that every result is terminated inside its buffer and
// that Shift-JIS -> UTF-8 -> Shift-JIS -> UTF-8 is stable.
#include "engine/core/charcode.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

size_t TerminatedLen(const char* buf, size_t size) {
    const void* nul = std::memchr(buf, 0, size);
    Check(nul != nullptr);
    return size_t(static_cast<const char*>(nul) - buf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back(0);
    const char* src = text.data();

    // Character stepping never passes the terminator by more than one byte.
    size_t len = std::strlen(src);
    for (size_t i = 0; i < len; i += Lib_CharLen(src + i)) {
        (void)Lib_CharCode(src + i);
        (void)Lib_CharIsWide(src + i);
    }

    char16_t wide[kCharConvSize / 2];
    Lib_SjisToUtf16(src, wide, sizeof wide);
    char sjis[kCharConvSize];
    std::memset(sjis, 0x55, sizeof sjis);
    Lib_Utf16ToSjis(wide, sjis);
    TerminatedLen(sjis, sizeof sjis);

    // Round trip through UTF-8 in the caller-buffer and static variants.
    char utf8[kCharConvSize], again[kCharConvSize];
    Lib_SjisToUtf8Buf(src, utf8, sizeof utf8);
    size_t utf8Len = TerminatedLen(utf8, sizeof utf8);
    Check(std::strcmp(utf8, Lib_SjisToUtf8(src)) == 0);
    Lib_Utf8ToSjis(utf8, utf8Len, sjis);
    TerminatedLen(sjis, sizeof sjis);
    Lib_SjisToUtf8Buf(sjis, again, sizeof again);
    Check(std::strcmp(utf8, again) == 0);

    // Arbitrary bytes taken as UTF-8, with the length both exact and short.
    Lib_Utf8ToSjis(src, size, sjis);
    TerminatedLen(sjis, sizeof sjis);
    Lib_Utf8ToSjis(src, size / 2, sjis);
    TerminatedLen(sjis, sizeof sjis);

    char name[256];
    Lib_PathGetName(src, name, int32_t(size & 1));
    Check(TerminatedLen(name, sizeof name) <= len);

    char small[5];
    Lib_SjisToUtf8Buf(src, small, sizeof small);
    TerminatedLen(small, sizeof small);

    Lib_StrLowerSjis(text.data());
    Check(std::strlen(src) == len);
    return 0;
}
