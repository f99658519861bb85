// A real message text (Japanese with ruby, colour and a shadow, through
// IPAGothic, the glyph cache and the text programs) drawn headless and
// compared with a stored reference picture.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/engine/text/text_gl_env.h"

namespace {
constexpr uint32_t kCropX = 80, kCropY = 40, kCropW = 960, kCropH = 240;
const char* const kReference = VN_SOURCE_DIR "/tests/data/text_message_reference.png";

std::vector<uint8_t> crop(const Image& img) {
    std::vector<uint8_t> out(size_t(kCropW) * kCropH * 4);
    for (uint32_t y = 0; y < kCropH; ++y)
        for (uint32_t x = 0; x < kCropW; ++x) {
            Bgra p = img.at(kCropX + x, kCropY + y);
            uint8_t* o = &out[(size_t(y) * kCropW + x) * 4];
            o[0] = p.b, o[1] = p.g, o[2] = p.r, o[3] = 255;
        }
    return out;
}

class TextReference : public TextGlEnv {
protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) return;
        if (!StartText("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
                       "/usr/share/fonts/opentype/ipafont-mincho/ipam.ttf"))
            GTEST_SKIP() << "IPA fonts not installed";
    }
};

TEST_F(TextReference, MessageTextMatchesTheStoredPicture) {
    const TextPos pos{100, -100, 0};
    ASSERT_EQ(Lib_TextSet(0, "#Size[0.75,0.75]\xe6\x98\xa5\xe3\x81\xae#Rubi[\xe3\x81\x97\xe3\x81\x8d]"
                             "\xe5\x9b\x9b\xe5\xad\xa3\xe3\x80\x81#Color[255,64,200,255]Visual Novel\n"
                             "\xe4\xba\x8c\xe8\xa1\x8c\xe7\x9b\xae\xe3\x81\xae\xe3\x83\x86\xe3\x82\xad\xe3\x82\xb9\xe3\x83\x88",
                          &pos),
              0);
    TextRecord* r = TextTable[0];
    r->speed = 0;  // all at once
    r->fadeLength = 0;
    r->renderFlags = TEXT_SHADOW;
    r->outline = 0xFF202020;
    ClearFrame(0.1f, 0.1f, 0.3f, 1);
    Lib_TextDrawCB(reinterpret_cast<uint64_t>(r));
    std::vector<uint8_t> got = crop(ReadFrame());

    png_image ref{};
    ref.version = PNG_IMAGE_VERSION;
    if (!std::filesystem::exists(kReference) || std::getenv("VN_WRITE_REFERENCE")) {
        png_image out{};
        out.version = PNG_IMAGE_VERSION;
        out.width = kCropW, out.height = kCropH, out.format = PNG_FORMAT_BGRA;
        ASSERT_TRUE(png_image_write_to_file(&out, kReference, 0, got.data(), 0, nullptr));
        FAIL() << "reference written to " << kReference << ": look at it, then run again";
    }
    ASSERT_TRUE(png_image_begin_read_from_file(&ref, kReference));
    ref.format = PNG_FORMAT_BGRA;
    ASSERT_EQ(ref.width, kCropW);
    ASSERT_EQ(ref.height, kCropH);
    std::vector<uint8_t> want(PNG_IMAGE_SIZE(ref));
    ASSERT_TRUE(png_image_finish_read(&ref, nullptr, want.data(), 0, nullptr));

    // Small differences are allowed (rasteriser rounding); a moved, missing
    // or recoloured glyph is not.
    size_t off = 0, inked = 0;
    for (size_t i = 0; i < got.size(); i += 4) {
        int d = 0;
        for (int c = 0; c < 3; ++c) d = std::max(d, std::abs(int(got[i + c]) - int(want[i + c])));
        if (d > 24) ++off;
        if (want[i + 2] > 128) ++inked;
    }
    EXPECT_GT(inked, 2000u) << "the reference holds no text";
    EXPECT_LT(off, got.size() / 4 / 500) << off << " pixels differ from the reference";
}
}  // namespace
