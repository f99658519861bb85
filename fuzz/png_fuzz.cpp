// PNG decoding of arbitrary bytes into a bounded destination. A failed decode
// must leave the destination untouched; a successful one must fit it and hold
// premultiplied pixels (no colour above its alpha).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "engine/render/image_decode.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

constexpr uint8_t kCanary = 0xA5;

// Mutations rarely keep a chunk's CRC right: rewrite every CRC so that the
// chunk contents themselves reach the decoder.
void FixCrcs(std::vector<uint8_t>* png) {
    uint8_t* p = png->data();
    for (size_t at = 8; at + 12 <= png->size();) {
        const size_t length = size_t(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3];
        if (length > png->size() - at - 12) break;
        const uint32_t crc = uint32_t(crc32(0, p + at + 4, uInt(length + 4)));
        for (int b = 0; b < 4; ++b) p[at + 8 + length + b] = uint8_t(crc >> (24 - 8 * b));
        at += 12 + length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks the destination size (bits 0-6), so that the bound
    // is hit too, and whether chunk CRCs are repaired (bit 7).
    if (size < 1) return 0;
    const uint32_t dstSize = uint32_t(data[0] & 0x7F) * 2048 + 16;
    static std::vector<uint8_t> png, dst;
    png.assign(data + 1, data + size);
    if (data[0] & 0x80) FixCrcs(&png);
    dst.assign(size_t(dstSize) + 64, kCanary);
    ImageSize s = Lib_WicDecode(nullptr, dst.data(), dstSize, png.data(), uint32_t(png.size()));

    const uint64_t bytes = uint64_t(s.width) * s.height * 4;
    Check((s.width == 0) == (s.height == 0));
    Check(bytes <= dstSize);
    for (size_t i = size_t(bytes); i < dst.size(); ++i) Check(dst[i] == kCanary);
    for (uint64_t i = 0; i < bytes; i += 4)
        for (int k = 0; k < 3; ++k) Check(dst[i + k] <= dst[i + 3]);
    return 0;
}
