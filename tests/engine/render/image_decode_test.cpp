#include "engine/render/image_decode.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A test image written by libpng's own writer: per pixel and channel a sample
// of `depth` bits (indices for palette images).
constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyA = PNG_COLOR_TYPE_GRAY_ALPHA, kRgb = PNG_COLOR_TYPE_RGB,
              kRgba = PNG_COLOR_TYPE_RGB_ALPHA, kPalette = PNG_COLOR_TYPE_PALETTE;

struct PngImage {
    PngImage(uint32_t w_, uint32_t h_, int type = kRgba, int depth_ = 8, bool adam7 = false, bool gAMA = false)
        : w(w_), h(h_), colorType(type), depth(depth_), interlaced(adam7), gamma(gAMA) {}
    uint32_t w, h;
    int colorType, depth;
    bool interlaced, gamma;  // gamma: a gAMA chunk of 1.0
    std::vector<uint32_t> samples;
    std::vector<png_color> palette;
    Bytes trns;        // palette alpha
    int greyKey = -1;  // transparent grey value
};

int Channels(int type) { return type == kRgba ? 4 : type == kRgb ? 3 : type == kGreyA ? 2 : 1; }

void Append(png_structp png, png_bytep p, size_t n) {
    Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), p, p + n);
}
void NoFlush(png_structp) {}

Bytes Encode(const PngImage& im) {
    const size_t perRow = size_t(im.w) * Channels(im.colorType), rowBytes = (perRow * im.depth + 7) / 8;
    Bytes raw(rowBytes * im.h, 0), out;
    for (size_t i = 0; i < perRow * im.h; ++i) {
        const uint32_t s = im.samples[i];
        const size_t bit = (i % perRow) * im.depth;
        uint8_t* p = &raw[(i / perRow) * rowBytes + bit / 8];
        if (im.depth == 16) p[0] = uint8_t(s >> 8), p[1] = uint8_t(s);
        else p[0] |= uint8_t(s << (8 - im.depth - bit % 8));
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, Append, NoFlush);
    png_set_IHDR(png, info, im.w, im.h, im.depth, im.colorType, im.interlaced ? PNG_INTERLACE_ADAM7 : 0, 0, 0);
    if (!im.palette.empty()) png_set_PLTE(png, info, im.palette.data(), int(im.palette.size()));
    if (!im.trns.empty()) png_set_tRNS(png, info, im.trns.data(), int(im.trns.size()), nullptr);
    png_color_16 key{0, 0, 0, 0, png_uint_16(im.greyKey)};
    if (im.greyKey >= 0) png_set_tRNS(png, info, nullptr, 0, &key);
    if (im.gamma) png_set_gAMA_fixed(png, info, PNG_FP_1);
    std::vector<png_bytep> rows(im.h);
    for (uint32_t y = 0; y < im.h; ++y) rows[y] = raw.data() + y * rowBytes;
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

uint32_t Hash(uint32_t x, uint32_t y, uint32_t c) {
    uint32_t v = x * 0x9E3779B1u ^ y * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
    v = (v ^ (v >> 15)) * 0x2C1B3C6Du;
    return v ^ (v >> 12);
}

constexpr uint8_t kCanary = 0xA5;

// Decodes into a canary-filled destination of dstSize bytes (plus a guard):
// nothing may be written beyond the decoded pixels, and nothing at all on failure.
ImageSize Decode(const Bytes& png, uint32_t dstSize, Bytes* dst) {
    dst->assign(dstSize + 16, kCanary);
    ImageSize s = Lib_WicDecode(nullptr, dst->data(), dstSize, png.data(), uint32_t(png.size()));
    const uint64_t written = uint64_t(s.width) * s.height * 4;
    EXPECT_LE(written, dstSize);
    EXPECT_EQ(s.width == 0, s.height == 0);
    EXPECT_TRUE(std::all_of(dst->begin() + std::min<uint64_t>(written, dstSize), dst->end(),
                            [](uint8_t b) { return b == kCanary; })) << "written beyond " << s.width << "x" << s.height;
    return s;
}

TEST(ImageDecodeTest, PremultipliesWithRoundingInBgraOrder) {
    PngImage im(5, 1);
    im.samples = {255, 128, 0, 128,  255, 255, 255, 128,  200, 100, 50, 255,  10, 20, 30, 0,  3, 1, 254, 128};
    Bytes dst;
    ImageSize s = Decode(Encode(im), 20, &dst);
    ASSERT_TRUE(s.width == 5 && s.height == 1);
    // The last pixel shows (c * a + 127) / 255: 3 -> 2 and 1 -> 1, where truncation gives 1 and 0.
    EXPECT_EQ(Bytes(dst.begin(), dst.begin() + 20),
              (Bytes{0, 64, 128, 128,  128, 128, 128, 128,  50, 100, 200, 255,  0, 0, 0, 0,  127, 1, 2, 128}));
}

// Every colour type and depth, plain and Adam7 at sizes that leave interlace
// blocks partly filled, against straight RGBA taken from the samples.
TEST(ImageDecodeTest, EveryFormatMatchesItsSamples) {
    struct Format { int colorType, depth, trns, gamma; };  // trns: palette alpha or a grey key
    const Format formats[] = {{kRgba, 8, 0, 0},  {kRgba, 16, 0, 0},  {kRgb, 8, 0, 0},     {kRgb, 8, 0, 1},
                              {kRgb, 16, 0, 0},  {kGrey, 8, 0, 0},   {kGrey, 8, 1, 0},    {kGrey, 2, 0, 0},
                              {kGrey, 16, 0, 0}, {kGreyA, 8, 0, 0},  {kGreyA, 16, 0, 0},  {kPalette, 8, 1, 0},
                              {kPalette, 4, 1, 0}, {kPalette, 1, 0, 0}};
    const uint32_t sizes[][2] = {{1, 1}, {13, 9}, {33, 2}};
    for (const Format& f : formats)
        for (const auto& size : sizes)
            for (bool interlaced : {false, true}) {
                PngImage im(size[0], size[1], f.colorType, f.depth, interlaced, f.gamma);
                SCOPED_TRACE(::testing::Message() << "type " << f.colorType << " depth " << f.depth << " trns "
                             << f.trns << " gAMA " << f.gamma << " " << im.w << "x" << im.h << " adam7 " << interlaced);
                const int ch = Channels(f.colorType);
                const uint32_t max = (1u << f.depth) - 1;
                const uint32_t entries = f.colorType == kPalette ? std::min(max + 1, 40u) : 0;
                for (uint32_t e = 0; e < entries; ++e) {
                    im.palette.push_back({uint8_t(Hash(e, 1, 0)), uint8_t(Hash(e, 2, 0)), uint8_t(Hash(e, 3, 0))});
                    if (f.trns && e < entries * 2 / 3) im.trns.push_back(uint8_t(Hash(e, 4, 0)));
                }
                if (f.trns && !entries) im.greyKey = 77;

                Bytes want;  // B, G, R, A straight
                for (uint32_t y = 0; y < im.h; ++y)
                    for (uint32_t x = 0; x < im.w; ++x) {
                        uint32_t s[4];
                        for (int c = 0; c < ch; ++c) s[c] = Hash(x, y, c) & max;
                        if (entries) s[0] %= entries;
                        if (im.greyKey >= 0 && (x + y) % 3 == 0) s[0] = uint32_t(im.greyKey);
                        im.samples.insert(im.samples.end(), s, s + ch);
                        uint8_t v[4];
                        for (int c = 0; c < ch; ++c) v[c] = uint8_t(f.depth == 16 ? s[c] >> 8 : s[c] * (255 / max));
                        if (entries) {
                            const png_color& p = im.palette[s[0]];
                            want.insert(want.end(), {p.blue, p.green, p.red,
                                                     s[0] < im.trns.size() ? im.trns[s[0]] : uint8_t(255)});
                        } else if (ch <= 2) {
                            want.insert(want.end(), {v[0], v[0], v[0], ch == 2 ? v[1]
                                                     : int(s[0]) == im.greyKey ? uint8_t(0) : uint8_t(255)});
                        } else {
                            want.insert(want.end(), {v[2], v[1], v[0], ch == 4 ? v[3] : uint8_t(255)});
                        }
                    }

                Bytes dst;
                ImageSize got = Decode(Encode(im), im.w * im.h * 4, &dst);
                ASSERT_TRUE(got.width == im.w && got.height == im.h) << got.width << "x" << got.height;
                const int tolerance = f.depth == 16 ? 2 : 0;  // 16-bit samples may be truncated or rounded
                for (size_t i = 0; i < want.size(); ++i) {
                    const int a = want[i | 3], expected = (i & 3) == 3 ? a : (want[i] * a + 127) / 255;
                    ASSERT_NEAR(dst[i], expected, tolerance) << "pixel " << i / 4 << " byte " << i % 4;
                }
            }
}

// Rewrites the IHDR's width and height and its CRC.
Bytes WithSize(Bytes png, uint32_t w, uint32_t h) {
    for (int b = 0; b < 4; ++b) png[16 + b] = uint8_t(w >> (24 - 8 * b)), png[20 + b] = uint8_t(h >> (24 - 8 * b));
    const uint32_t crc = uint32_t(crc32(0, png.data() + 12, 17));
    for (int b = 0; b < 4; ++b) png[29 + b] = uint8_t(crc >> (24 - 8 * b));
    return png;
}

TEST(ImageDecodeTest, RefusesBadInputWithoutTouchingTheDestination) {
    PngImage im(13, 9);
    for (uint32_t i = 0; i < 13 * 9 * 4; ++i) im.samples.push_back(Hash(i, 0, 0) & 255);
    Bytes dst;
    for (bool interlaced : {false, true}) {
        im.interlaced = interlaced;
        const Bytes png = Encode(im);
        ASSERT_EQ(Decode(png, 13 * 9 * 4, &dst).width, 13u);
        EXPECT_EQ(Decode(png, 13 * 9 * 4 - 1, &dst).width, 0u);  // one byte short
        EXPECT_EQ(Decode(png, 0, &dst).width, 0u);
        for (size_t len = 0; len < png.size(); ++len)             // every proper prefix
            ASSERT_EQ(Decode(Bytes(png.begin(), png.begin() + len), 1 << 16, &dst).width, 0u) << "prefix " << len;

        // One flipped bit in the IHDR, in the first IDAT's data and in its CRC.
        size_t idat = 8;
        auto length = [&](size_t at) { return size_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]; };
        while (std::memcmp(&png[idat + 4], "IDAT", 4) != 0) idat += 12 + length(idat);
        for (size_t at : {size_t(20), idat + 8 + length(idat) / 2, idat + 9 + length(idat)}) {
            Bytes bad = png;
            bad[at] ^= 0x10;
            EXPECT_EQ(Decode(bad, 1 << 16, &dst).width, 0u) << "flipped byte " << at;
        }
        // Absurd headers, byte counts that wrap in 32 bits, and more rows than the data holds.
        const uint32_t sizes[][2] = {{100000, 100000}, {0x7FFFFFFF, 1}, {65536, 65536},
                                     {kDecodeMaxSide + 1, 1}, {1, kDecodeMaxSide + 1}, {13, 200}};
        for (const auto& wh : sizes)
            EXPECT_EQ(Decode(WithSize(png, wh[0], wh[1]), 1 << 20, &dst).width, 0u) << wh[0] << "x" << wh[1];
    }

    Bytes garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(Hash(uint32_t(i), 9, 9));
    EXPECT_EQ(Decode(garbage, 4096, &dst).width, 0u);
    std::memcpy(garbage.data(), "\x89PNG\r\n\x1a\n", 8);
    EXPECT_EQ(Decode(garbage, 4096, &dst).width, 0u);
    dst.assign(64, kCanary);
    EXPECT_EQ(Lib_WicDecode(nullptr, dst.data(), 64, nullptr, 100).width, 0u);
    const Bytes png = Encode(im);
    EXPECT_EQ(Lib_WicDecode(nullptr, nullptr, 1 << 16, png.data(), uint32_t(png.size())).width, 0u);
    EXPECT_EQ(dst, Bytes(64, kCanary));
}

// ---------------------------------------------------------------- thumbnail

constexpr size_t kSourceBytes = size_t(kThumbSourceStride) * 720 * 4;

TEST(ThumbnailTest, BoxesOverlapAndTruncate) {
    Bytes src(kSourceBytes, 0);  // channels 10x, 10y, x*x + y (to see truncation), 255
    for (uint8_t y = 0; y < 8; ++y)
        for (uint8_t x = 0; x < 8; ++x)
            std::memcpy(&src[(y * kThumbSourceStride + x) * 4], Bytes{uint8_t(10 * x), uint8_t(10 * y),
                                                                      uint8_t(x * x + y), 255}.data(), 4);
    Bytes dst(160 * 90 * 4, kCanary);
    EXPECT_EQ(Lib_MakeThumbnail(dst.data(), 160, 90, src.data()), dst.data());
    auto at = [](const Bytes& d, int w, int i, int j) { return Bytes(&d[(j * w + i) * 4], &d[(j * w + i) * 4 + 4]); };
    EXPECT_EQ(at(dst, 160, 0, 0), (Bytes{5, 5, 1, 255}));     // x 0-1, y 0-1: x*x+y = 4/4
    EXPECT_EQ(at(dst, 160, 1, 0), (Bytes{20, 5, 5, 255}));    // x 1-3, y 0-1: 31/6
    EXPECT_EQ(at(dst, 160, 1, 1), (Bytes{20, 20, 6, 255}));   // x 1-3, y 1-3: 60/9
    EXPECT_EQ(at(dst, 160, 2, 1), (Bytes{40, 20, 18, 255}));  // x 3-5, y 1-3: 168/9

    Bytes small(228 * 128 * 4, kCanary);  // steps 1.4035088 x 1.40625
    Lib_MakeThumbnail(small.data(), 228, 128, src.data());
    EXPECT_EQ(at(small, 228, 0, 0), (Bytes{0, 0, 0, 255}));    // x 0, y 0 alone
    EXPECT_EQ(at(small, 228, 1, 0), (Bytes{10, 0, 1, 255}));   // x 0-2 (0.70 .. 2.10), y 0
}

// Every pixel of any size is the truncated mean of its own box, the box
// trunc(c - step / 2) .. trunc(c + step / 2) of each axis clipped to the
// area, c stepping from 0 by the float step: what saved pictures hold.
TEST(ThumbnailTest, EveryPixelIsTheMeanOfItsBox) {
    Bytes src(kSourceBytes);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(Hash(uint32_t(i), 5, 7));
    auto box = [](float centre, float step, int limit) {
        return std::pair{std::clamp(int(centre - step * 0.5f), 0, limit - 1),
                         std::clamp(int(centre + step * 0.5f), 0, limit - 1)};
    };
    const int sizes[][2] = {{228, 128}, {160, 90}, {7, 3}, {1, 1}, {1000, 500}};
    for (const auto& [w, h] : sizes) {
        Bytes dst(size_t(w) * h * 4, kCanary);
        Lib_MakeThumbnail(dst.data(), w, h, src.data());
        const float sx = float(kThumbSourceWidth) / float(w), sy = float(kThumbSourceHeight) / float(h);
        int differing = 0;
        float fy = 0.0f;
        for (int j = 0; j < h; ++j, fy += sy) {
            const auto [top, bottom] = box(fy, sy, kThumbSourceHeight);
            float fx = 0.0f;
            for (int i = 0; i < w; ++i, fx += sx) {
                const auto [left, right] = box(fx, sx, kThumbSourceWidth);
                for (int k = 0; k < 4; ++k) {
                    uint32_t sum = 0;
                    for (int y = top; y <= bottom; ++y)
                        for (int x = left; x <= right; ++x) sum += src[(size_t(y) * kThumbSourceStride + x) * 4 + k];
                    differing += dst[(size_t(j) * w + i) * 4 + k] != sum / uint32_t((bottom - top + 1) * (right - left + 1));
                }
            }
        }
        EXPECT_EQ(differing, 0) << w << "x" << h;
    }
}

TEST(ThumbnailTest, ReadsOnlyTheTopLeftAreaAndWritesNothingWhenEmpty) {
    Bytes src(kSourceBytes);
    for (size_t i = 0; i < kSourceBytes / 4; ++i) {
        const bool inside = i % kThumbSourceStride < size_t(kThumbSourceWidth) &&
                            i / kThumbSourceStride < size_t(kThumbSourceHeight);
        std::memcpy(&src[i * 4], inside ? "\x0c\x22\x38\xff" : "\xc8\xc9\xca\x00", 4);
    }
    const int sizes[][2] = {{160, 90}, {228, 128}, {1, 1}, {7, 3}, {1000, 500}};
    for (const auto& wh : sizes) {
        Bytes dst(size_t(wh[0]) * wh[1] * 4 + 4, kCanary);
        Lib_MakeThumbnail(dst.data(), wh[0], wh[1], src.data());
        for (size_t i = 0; i + 4 < dst.size(); i += 4)
            ASSERT_EQ(Bytes(&dst[i], &dst[i + 4]), (Bytes{12, 34, 56, 255})) << wh[0] << "x" << wh[1] << " @" << i / 4;
        EXPECT_EQ(dst.back(), kCanary);
    }
    Bytes dst(64, kCanary);
    for (const auto& wh : {std::pair{4, 0}, std::pair{0, 4}, std::pair{4, -1}})
        Lib_MakeThumbnail(dst.data(), wh.first, wh.second, src.data());
    EXPECT_EQ(dst, Bytes(64, kCanary));
}

}  // namespace
