// Message-table lookups on arbitrary bytes. The first 16 bytes pick the
// section, index, language and output size; the rest is the table. Every
// result must be terminated inside its buffer, and the shared buffer and the
// caller's buffer must agree (the shorter begins the longer).
#include "engine/files/message_table.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

int32_t ReadI32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 16) return 0;
    int32_t section = ReadI32(data), index = ReadI32(data + 4), language = ReadI32(data + 8);
    uint32_t outSize = uint32_t(ReadI32(data + 12)) % 2048;
    // Small numbers are the interesting ones; keep a few out of range too.
    if (!(data[15] & 0x80)) {
        section = (section & 0xFF) % 11;
        index = index & 0x3FF;
        language = (language & 0xFF) % 6 - 1;
    }
    std::vector<uint8_t> bytes(data + 16, data + size);
    MesTable table{bytes.empty() ? nullptr : bytes.data(), bytes.size()};
    if (!table.data) return 0;

    std::vector<char> out(outSize + 1, 'x');
    const char* shared = Lib_MesGet(&table, section, index, language, out.data(), outSize);
    size_t len = strnlen(shared, kMesTextSize);
    Check(len < kMesTextSize);
    if (outSize) {
        size_t outLen = strnlen(out.data(), outSize);
        Check(outLen < outSize);
        // Each is cut on a character boundary to its own size: the shorter
        // one begins the longer.
        Check(std::strncmp(shared, out.data(), std::min(outLen, len)) == 0);
    }
    Check(out[outSize] == 'x');
    std::vector<char> own(kMesTextSize);
    Lib_MesGetBuf(&table, section, index, language, own.data(), kMesTextSize);
    Check(std::strcmp(own.data(), shared) == 0);
    return 0;
}
