#include "engine/render/sprite_image.h"

#include <gtest/gtest.h>

#include "engine/render/image_decode.h"

#include "tests/engine/render/sprite_env.h"

namespace {

using SpriteImageTest = SpriteEnv;

TEST(SpriteImageProbe, TypesHeaderCopiesAndPointers) {
    std::string ext0(256 + 1024 + 4, '\0');
    ext0.replace(0, 4, "EXT0");
    ext0[36] = 8;
    const uint8_t* base = reinterpret_cast<const uint8_t*>(ext0.data());
    Ext0HeaderCopy e;
    Header18Copy t;
    EXPECT_EQ(Lib_ImageGetType(base, uint32_t(ext0.size()), &e, nullptr), IMAGE_EXT0);
    EXPECT_EQ(e.palette, base + 256);
    EXPECT_EQ(e.pixels, base + 1280);
    EXPECT_EQ(Lib_ImageGetType(base, 300, &e, nullptr), IMAGE_EXT0);
    EXPECT_EQ(e.pixels, nullptr);  // would lie past the data
    EXPECT_EQ(Lib_ImageGetType(base, 100, &e, nullptr), IMAGE_EXT0);
    EXPECT_EQ(e.palette, nullptr);  // the header itself does not fit
    EXPECT_EQ(Lib_ImageGetType(base, uint32_t(ext0.size()), nullptr, &t), -1);
    // PNG only with IHDR as the first chunk, as the decoder wants it: a file
    // it refuses is no PNG to the probe either.
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    EXPECT_EQ(Lib_ImageGetType(png.data(), 16, nullptr, &t), IMAGE_PNG);
    EXPECT_EQ(Lib_ImageGetType(png.data(), 15, nullptr, &t), IMAGE_HEADER18);
    std::string idatFirst = png;
    idatFirst.replace(12, 4, "IDAT");
    idatFirst += std::string(13 + 4, '\x01');
    uint32_t pixel = 0;
    EXPECT_EQ(Lib_WicDecode(nullptr, &pixel, 4, idatFirst.data(), uint32_t(idatFirst.size())).width, 0u);
    EXPECT_EQ(Lib_ImageGetType(idatFirst.data(), uint32_t(idatFirst.size()), nullptr, &t), IMAGE_HEADER18);
    for (const char* other : {"\x89PNG\r\n\x1a\n", "\x89PNX\r\n\x1a\n", "EXT1", "E"})
        EXPECT_EQ(Lib_ImageGetType(other, uint32_t(std::strlen(other)), nullptr, &t), IMAGE_HEADER18) << other;
}

TEST_F(SpriteImageTest, Ext0SizesCentresAndPixels) {
    ASSERT_TRUE(Picture("ext0 a.ext --size 64 32 --offset 1.5 -2 --extra 1 2 3 4\n"
                        "ext0 pad.ext --size 400 300 --texture 512 512 --pattern solid\n"
                        "ext0 padc.ext --size 400 300 --texture 512 512 --centre 10 20 --pattern solid\n"
                        "ext0 i8.ext --size 20 10 --bpp 8 --pattern index"));
    const SpriteRecord& a = SpriteTable[FromFile("a.ext")];
    ASSERT_EQ(a.flags & SPRITE_READY, SPRITE_READY);
    EXPECT_EQ(a.centerX, 32.0f);
    EXPECT_EQ(a.centerY, 16.0f);
    EXPECT_EQ(a.offsetY, -2.0f);
    EXPECT_EQ(a.imageExtra[3], 4u);
    EXPECT_EQ(DrawList.entries[a.drawEntry].subPriority, -1);
    auto texels = ReadTexture(a.texture, 64, 32);
    for (int32_t y : {0, 31})
        for (int32_t x : {0, 63}) EXPECT_EQ(TexelAt(texels, 64, x, y), Coords(x, y)) << x << "," << y;

    const SpriteRecord &pad = SpriteTable[FromFile("pad.ext")], &padc = SpriteTable[FromFile("padc.ext")];
    EXPECT_EQ(pad.textureWidth, 512);
    EXPECT_EQ(pad.imageWidth, 400);
    EXPECT_EQ(pad.centerX, 200.0f);  // the picture's centre, not the texture's
    EXPECT_EQ(pad.centerY, 150.0f);
    EXPECT_EQ(padc.centerX, 10.0f);
    EXPECT_EQ(padc.centerY, 20.0f);
    texels = ReadTexture(pad.texture, 512, 512);
    EXPECT_EQ(TexelAt(texels, 512, 399, 299), (Bgra{255, 255, 255, 255}));  // picture top left
    EXPECT_EQ(TexelAt(texels, 512, 400, 0), (Bgra{0, 0, 0, 0}));

    const SpriteRecord& i8 = SpriteTable[FromFile("i8.ext")];
    EXPECT_EQ(i8.flags & SPRITE_PALETTE, SPRITE_PALETTE);
    EXPECT_EQ(ReadTexture(i8.texture, 20, 10, true)[2 * 20 + 7], 13);  // (x + 3y) & 255
    EXPECT_EQ(TexelAt(ReadTexture(i8.paletteTexture, 256, 1), 256, 13, 0), (Bgra{13, 242, 65, 255}));
    GLint filter = 0;
    glGetSamplerParameteriv(i8.sampler, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_NEAREST);
}

// The writer stores each picture so that it reads upright by the descriptor
// rule; the texture's row 0 must be the picture's top row for all four.
TEST_F(SpriteImageTest, Header18RowOrderAndPngPremultiplied) {
    ASSERT_TRUE(Picture("tga t10.tga --size 6 4 --descriptor 0x10\ntga t08.tga --size 6 4 --descriptor 0x08\n"
                        "tga t28.tga --size 6 4 --descriptor 0x28\ntga t00.tga --size 6 4 --descriptor 0\n"
                        "png p.png --size 100 50 --pattern solid --colour 00000000 --pixel 10 20 ffffff80"));
    for (const char* name : {"t10.tga", "t08.tga", "t28.tga", "t00.tga"}) {
        auto texels = ReadTexture(SpriteTable[FromFile(name)].texture, 6, 4);
        for (int32_t y = 0; y < 4; ++y) EXPECT_EQ(TexelAt(texels, 6, 1, y), Coords(1, y)) << name << " row " << y;
    }
    EXPECT_EQ(Read("t10.tga")[18 + 1], 0);  // 0x10 stores the top row first (green = y)
    // Borrowed bytes of no file (a save image's picture): rows stored top
    // first are uploaded where they lie, the others through a copy; the
    // lender's bytes stay the lender's, and a second build reads them again.
    for (const char* name : {"t10.tga", "t08.tga"}) {
        const std::string bytes = Read(name);
        const int32_t slot = Lib_SpriteGetFree(0);
        SpriteRecord* r = Lib_SpriteAt(slot);
        r->flags |= SPRITE_CACHED;
        r->data = const_cast<char*>(bytes.data());
        r->dataSize = uint32_t(bytes.size());
        const uint64_t heap = HeapTable.heaps[HEAP_GRAPHICS].bytesInUse;
        const bool topFirst = name[1] == '1';
        for (int build = 0; build < (topFirst ? 2 : 1); ++build) {
            Lib_SpriteMakeTexture(slot);
            ASSERT_EQ(r->flags & SPRITE_READY, SPRITE_READY) << name;
            auto texels = ReadTexture(r->texture, 6, 4);
            for (int32_t y = 0; y < 4; ++y) EXPECT_EQ(TexelAt(texels, 6, 1, y), Coords(1, y)) << name << " row " << y;
        }
        EXPECT_EQ(r->data == bytes.data(), topFirst) << name;
        EXPECT_EQ(HeapTable.heaps[HEAP_GRAPHICS].bytesInUse == heap, topFirst) << name;
        Lib_SpriteFree(slot);
        EXPECT_EQ(HeapTable.heaps[HEAP_GRAPHICS].bytesInUse, heap) << name;
    }

    const SpriteRecord& p = SpriteTable[FromFile("p.png")];
    EXPECT_EQ(p.textureWidth, 100);
    EXPECT_EQ(p.centerX, 50.0f);
    EXPECT_EQ(p.centerY, 25.0f);
    auto texels = ReadTexture(p.texture, 100, 50);
    const Bgra half = TexelAt(texels, 100, 10, 20);
    for (uint8_t c : {half.b, half.g, half.r, half.a}) EXPECT_NEAR(c, 128, 1);
    EXPECT_EQ(TexelAt(texels, 100, 11, 20), (Bgra{0, 0, 0, 0}));
}

// Damaged and hostile files of every format fail the sprite: no texture, no
// draw entry, nothing leaked. Names with ".arc" and ".mip" build nothing.
// Building a record's texture again releases the first build's objects and
// keeps one own copy of data that stays in the cache.
TEST_F(SpriteImageTest, ASecondBuildReleasesTheFirst) {
    ASSERT_TRUE(Picture("ext0 a.ext --size 16 8\n"
                        "ext0 i8.ext --size 20 10 --bpp 8 --pattern index"));
    for (const char* file : {"a.ext", "i8.ext"}) {
        const int32_t slot = FromFile(file);
        const int32_t objects = SpriteLiveObjects;
        Lib_SpriteMakeTexture(slot);
        EXPECT_EQ(SpriteLiveObjects, objects) << file;
        EXPECT_EQ(Lib_SpriteGetState(slot), 2) << file;
    }
    // Cached bytes without a name: the build copies them once.
    const std::string bytes = Read("a.ext");
    const int32_t slot = Lib_SpriteGetFree(0);
    SpriteRecord* r = Lib_SpriteAt(slot);
    r->flags |= SPRITE_CACHED;
    r->data = const_cast<char*>(bytes.data());
    r->dataSize = uint32_t(bytes.size());
    Lib_SpriteMakeTexture(slot);
    const uint64_t heap = HeapTable.heaps[HEAP_GRAPHICS].bytesInUse;
    Lib_SpriteMakeTexture(slot);
    EXPECT_EQ(HeapTable.heaps[HEAP_GRAPHICS].bytesInUse, heap);
    EXPECT_EQ(r->flags & SPRITE_OWN_COPY, SPRITE_OWN_COPY);
}

TEST_F(SpriteImageTest, DamagedFilesFailTheSprite) {
    const std::pair<const char*, std::vector<const char*>> formats[] = {
        {"ext0", {"truncated", "short-header", "bpp-4", "bpp-16", "zero-size", "negative-size", "huge-size"}},
        {"tga", {"truncated", "short-header", "zero-size"}},
        {"png", {"truncated", "short", "huge-size", "bad-crc"}},
    };
    std::string commands = "ext0 four.ext --size 4 4 --bpp 4 --pattern solid\next0 good.ext --size 4 4\n";
    std::vector<std::string> files = {"four.ext"};
    for (const auto& [kind, variants] : formats) {
        for (const char* v : variants) {
            files.push_back(std::string(kind) + "-" + v);
            commands += std::string(kind) + " " + files.back() + " --size 16 8 --broken " + v + "\n";
        }
    }
    ASSERT_TRUE(Picture(commands));
    const uint64_t heap4 = HeapTable.heaps[HEAP_GRAPHICS].bytesInUse;
    files.push_back("empty");
    for (const std::string& f : files) {
        int32_t s = FromFile(f);
        EXPECT_EQ(Lib_SpriteGetState(s), -1) << f;
        EXPECT_EQ(SpriteTable[s].texture, 0u) << f;
        EXPECT_EQ(SpriteTable[s].drawEntry, -1) << f;
        Lib_SpriteFree(s);
    }
    EXPECT_EQ(HeapTable.heaps[HEAP_GRAPHICS].bytesInUse, heap4);
    EXPECT_EQ(SpriteLiveObjects, objects_);

    const std::string good = Read("good.ext");
    EXPECT_EQ(SpriteTable[FromBytes(good, "visual/x.arc")].flags, SPRITE_IN_USE);
    const SpriteRecord& mip = SpriteTable[FromBytes("not a picture", "visual/x.mip")];
    EXPECT_EQ(mip.flags & SPRITE_READY, SPRITE_READY);
    EXPECT_EQ(mip.texture + uint32_t(mip.textureWidth), 0u);
    EXPECT_NE(SpriteTable[FromBytes(good, "visual/y.mip")].texture, 0u);  // EXT0 data wins over the name
}

}  // namespace
