// The lines of a run's stderr that hold a text, and whether a text shows
// nothing a terminal takes for a control.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(part) != std::string::npos) out.push_back(line);
    return out;
}

// Whether text is all printable ASCII, line ends and whole UTF-8 characters
// from U+00A0 up (no overlong form, surrogate, U+2028 or U+2029): what a
// UTF-8 terminal shows as characters, with no control (C0, DEL, C1) and no
// stray byte that a terminal of another reading could take for one.
inline bool ShowsOnlyCharacters(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const uint8_t b = uint8_t(text[i]);
        if ((b >= 0x20 && b < 0x7F) || b == '\n') {
            ++i;
            continue;
        }
        const size_t n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (!n || i + n > text.size()) return false;
        uint32_t cp = b & (0xFFu >> (n + 1));
        for (size_t k = 1; k < n; ++k) {
            if ((uint8_t(text[i + k]) & 0xC0) != 0x80) return false;
            cp = cp << 6 | (uint8_t(text[i + k]) & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0xA0, 0x800, 0x10000};
        if (cp < least[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF || (cp | 1) == 0x2029) return false;
        i += n;
    }
    return true;
}
