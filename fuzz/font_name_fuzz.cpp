// The family-name reader of font files on arbitrary bytes, held in a buffer
// of exactly their size so that any read past the end is caught. A name found
// is terminated within 63 bytes and holds no zero byte; without one, the
// output is left as it was.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/text/font.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> font(data, data + size);
    char out[kFaceNameSize];
    std::memset(out, 'u', sizeof out);
    bool found = Lib_TtfNameGet(font.empty() ? nullptr : font.data(), font.size(), out);
    if (!found) {
        for (char c : out) Check(c == 'u');
        return 0;
    }
    size_t n = strnlen(out, sizeof out);
    Check(n > 0 && n < sizeof out);
    return 0;
}
