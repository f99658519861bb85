// The picture probe and parser on arbitrary bytes. Whatever the parser
// accepts must hold every byte it promises: EXT0 palette and pixels are read
// whole, Header18 rows copied (reversed when stored bottom first), PNG
// decoded into the buffer size the texture builder allocates.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/render/image_decode.h"
#include "engine/render/sprite_image.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool Inside(const uint8_t* p, const uint8_t* data, size_t size) { return !p || (p >= data && p < data + size); }

// Decoding a large PNG costs time, not coverage.
constexpr uint64_t kMaxDecodedPixels = 1u << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size > (1u << 24)) return 0;
    // An exact-size copy, so that any read past the end is caught.
    std::vector<uint8_t> in(bytes, bytes + size);
    const uint8_t* data = in.data();
    const uint32_t n = uint32_t(size);

    Ext0HeaderCopy ext0;
    Header18Copy h18;
    const int32_t type = Lib_ImageGetType(data, n, &ext0, &h18);
    Check(type == IMAGE_EXT0 || type == IMAGE_HEADER18 || type == IMAGE_PNG);
    if (type == IMAGE_EXT0) Check(Inside(ext0.palette, data, size) && Inside(ext0.pixels, data, size));
    if (type == IMAGE_HEADER18) Check(Inside(h18.palette, data, size) && Inside(h18.pixels, data, size));
    Check(Lib_ImageGetType(data, n, nullptr, nullptr) == (type == IMAGE_PNG ? IMAGE_PNG : -1));

    ImageInfo info;
    if (!Lib_ImageParse(data, n, &info)) return 0;
    Check(info.type == type);
    Check(info.textureWidth >= 1 && info.textureWidth <= kImageMaxSide);
    Check(info.textureHeight >= 1 && info.textureHeight <= kImageMaxSide);
    const uint64_t pixels = uint64_t(info.textureWidth) * uint64_t(info.textureHeight);
    volatile uint32_t sink = 0;
    if (type == IMAGE_EXT0) {
        Check(info.bpp == 32 || info.bpp == 8);
        const uint64_t end = info.pixelOffset + pixels * uint64_t(info.bpp / 8);
        Check(end <= size);
        uint32_t sum = 0;
        for (uint64_t i = 0; i < end; ++i) sum += data[i];
        sink = sum;
    } else if (type == IMAGE_HEADER18) {
        std::vector<uint8_t> out(size_t(pixels) * 4);
        Lib_ImageCopyRows18(data, info, out.data());
        sink = out.empty() ? 0 : out.back();
    } else if (pixels <= kMaxDecodedPixels) {
        const uint64_t room = Lib_ImagePngBufferSize(info.textureWidth, info.textureHeight);
        std::vector<uint8_t> out(static_cast<size_t>(room));
        const ImageSize got = Lib_WicDecode(nullptr, out.data(), uint32_t(room), data, n);
        Check((got.width == 0 && got.height == 0) ||
              (got.width == uint32_t(info.textureWidth) && got.height == uint32_t(info.textureHeight)));
    }
    (void)sink;
    return 0;
}
