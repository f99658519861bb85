// Reading ".wav", ".ogg" and ".oggl" files, and what the worker does with
// files it cannot use.
#include "engine/sound/sound_decode.h"

#include <gtest/gtest.h>

#include "tests/engine/sound/sound_env.h"

namespace sound_test {
namespace {

using SoundDecodeTest = SoundEnv;

const char* Parse(const std::string& s, SoundPcm* pcm) {
    return Lib_SoundParseWav(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()), pcm);
}
const char* Decode(const std::string& s, bool oggl, SoundPcm* pcm) {
    return Lib_SoundDecodeOgg(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()), oggl, pcm);
}
void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = char(v >> (8 * i));
}

TEST_F(SoundDecodeTest, TrailersAfterBothFormatChunksAndFromOggl) {
    SoundPcm pcm;
    std::string loop = SoundBytes("loop.wav"), loop18 = SoundBytes("loop18.wav");
    ASSERT_EQ(Parse(loop, &pcm), nullptr);
    EXPECT_EQ(pcm.pcm, reinterpret_cast<const uint8_t*>(loop.data()) + 44);
    EXPECT_EQ(pcm.pcmBytes, 8820u);
    EXPECT_EQ(pcm.format.rate, 22050u);
    EXPECT_TRUE(pcm.hasTrailer);
    EXPECT_EQ(pcm.loopStart, 1000u);
    EXPECT_EQ(pcm.loopEnd, 3000u);
    // Samples at 46: the trailer is still found (length = data size + 52
    // would read it 2 bytes past the end).
    ASSERT_EQ(Parse(loop18, &pcm), nullptr);
    EXPECT_EQ(pcm.pcm, reinterpret_cast<const uint8_t*>(loop18.data()) + 46);
    EXPECT_TRUE(pcm.hasTrailer);
    EXPECT_EQ(pcm.loopEnd, 3000u);
    ASSERT_EQ(Parse(SoundBytes("plain18.wav"), &pcm), nullptr);
    EXPECT_FALSE(pcm.hasTrailer);
    ASSERT_EQ(Parse(loop + "x", &pcm), nullptr);
    EXPECT_FALSE(pcm.hasTrailer);

    uint64_t before = InUse(HEAP_FILE);
    ASSERT_EQ(Decode(SoundBytes("tone.ogg"), false, &pcm), nullptr);
    EXPECT_EQ(pcm.format.channels, 1);
    EXPECT_EQ(pcm.pcmBytes, 22050u * 2);
    EXPECT_FALSE(pcm.hasTrailer);
    int32_t peak = 0;
    for (uint32_t i = 0; i < pcm.pcmBytes; i += 2)
        peak = std::max(peak, std::abs(int32_t(int16_t(pcm.pcm[i] | pcm.pcm[i + 1] << 8))));
    EXPECT_NEAR(peak, 16384, 2000);  // the 0.5 tone survives the coding
    Lib_MemFree(HEAP_FILE, pcm.decoded);
    ASSERT_EQ(Decode(SoundBytes("loop.oggl"), true, &pcm), nullptr);
    EXPECT_EQ(pcm.format.blockAlign, 4);
    EXPECT_EQ(pcm.pcmBytes, 22050u * 4);
    EXPECT_EQ(pcm.loopStart, 5000u);
    EXPECT_EQ(pcm.loopEnd, 20000u);
    Lib_MemFree(HEAP_FILE, pcm.decoded);
    EXPECT_EQ(InUse(HEAP_FILE), before);
}

TEST_F(SoundDecodeTest, MemoryStreamCallbacks) {
    const uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    OggMemStream stream{data, 10, 0};
    OggMemStream* src = &stream;
    uint8_t out[16] = {};
    EXPECT_EQ(Lib_SoundOggRead(out, 0, 5, &src), 0u);  // a zero element size reads nothing
    EXPECT_EQ(Lib_SoundOggRead(nullptr, 1, 5, &src), 0u);
    EXPECT_EQ(Lib_SoundOggRead(out, 4, 5, &src), 2u);  // whole elements only
    EXPECT_EQ(Lib_SoundOggTell(&src), 8);
    EXPECT_EQ(Lib_SoundOggSeek(&src, 3, SEEK_SET), 0);
    EXPECT_EQ(Lib_SoundOggSeek(&src, 2, SEEK_CUR), 0);
    EXPECT_EQ(Lib_SoundOggTell(&src), 5);
    EXPECT_EQ(Lib_SoundOggSeek(&src, -10, SEEK_END), 0);
    EXPECT_EQ(Lib_SoundOggTell(&src), 0);
    EXPECT_EQ(Lib_SoundOggSeek(&src, 11, SEEK_SET), -1);
    EXPECT_EQ(Lib_SoundOggTell(&src), 10);
    EXPECT_EQ(Lib_SoundOggSeek(&src, -11, SEEK_END), -1);
    EXPECT_EQ(Lib_SoundOggTell(&src), 0);
    EXPECT_EQ(Lib_SoundOggSeek(&src, (ogg_int64_t(1) << 32) + 4, SEEK_SET), 0);  // low 32 bits
    EXPECT_EQ(Lib_SoundOggSeek(&src, 0, 7), -1);
    EXPECT_EQ(Lib_SoundOggTell(&src), 4);
}

// Every unusable file ends its request with one debug line and a release,
// and leaves no memory behind.
TEST_F(SoundDecodeTest, BrokenFilesAreReleasedWithOneDebugLine) {
    std::string tone = SoundBytes("tone.wav"), loop = SoundBytes("loop.wav"), oggl = SoundBytes("loop.oggl");
    std::string bigData = tone, loopOut = loop, ogglOut = oggl, mute = tone;
    Put32(bigData, 40, uint32_t(tone.size()));  // data size larger than the file
    Put32(loopOut, loop.size() - 4, 4411);      // loop end past the samples
    Put32(ogglOut, oggl.size() - 8, 22051);     // loop start past the samples
    Put32(mute, 22, 0);                         // no channels
    const std::pair<std::string, std::string> cases[] = {
        {"short.wav", tone.substr(0, 43)},     {"short18.wav", SoundBytes("plain18.wav").substr(0, 45)},
        {"big.wav", bigData},                  {"loop_out.wav", loopOut},
        {"mute.wav", mute},                    {"short.oggl", "OggS"},
        {"loop_out.oggl", ogglOut},            {"junk.ogg", std::string(4000, 'j')},
        {"cut.ogg", SoundBytes("tone.ogg").substr(0, 40)},
    };
    uint64_t before = InUse(HEAP_FILE);
    size_t lines = 0;
    for (auto& [name, bytes] : cases) {
        std::string path = "user/sound/se/" + name;
        Write(path, bytes);
        ASSERT_EQ(Lib_SoundPlay(8, path.c_str(), 0, -1, 0, 0, nullptr), 8);
        Pass();
        EXPECT_EQ(State(8), SOUND_IDLE) << name;
        EXPECT_EQ(Flags(8), 0) << name;
        EXPECT_EQ(Voice(8), -1) << name;
        EXPECT_EQ(LogLines(), ++lines) << name;
        EXPECT_EQ(InUse(HEAP_FILE), before) << name;
    }
    EXPECT_NE(Log().find("Error -> ogg(user/sound/se/junk.ogg)\n"), std::string::npos);
    // A missing file, and a device that cannot make the voice.
    Lib_SoundPlay(8, "user/sound/se/none.wav", 0, 0, 0, 0, nullptr);
    Pass();
    EXPECT_EQ(State(8), SOUND_IDLE);
    Write("user/sound/se/tone.wav", tone);
    FakeAudio::Get().refuse = true;
    Lib_SoundPlay(8, "user/sound/se/tone.wav", 0, 0, 0, 0, nullptr);
    Pass();
    EXPECT_EQ(Flags(8), 0);
    EXPECT_EQ(InUse(HEAP_FILE), before);
    EXPECT_EQ(LogLines(), lines + 2);
}

// An Ogg stream whose last page claims `granule` frames, its checksum made
// anew (CRC-32, polynomial 0x04C11DB7, MSB first, over the page with the
// checksum field zeroed).
std::string ClaimFrames(std::string ogg, uint64_t granule) {
    size_t at = ogg.rfind("OggS");
    auto* p = reinterpret_cast<uint8_t*>(ogg.data()) + at;
    size_t length = 27 + p[26];
    for (int i = 0; i < p[26]; ++i) length += p[27 + i];
    EXPECT_EQ(at + length, ogg.size()) << "the last page ends the stream";
    for (int i = 0; i < 8; ++i) p[6 + i] = uint8_t(granule >> (8 * i));
    std::memset(p + 22, 0, 4);
    uint32_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= uint32_t(p[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
    }
    for (int i = 0; i < 4; ++i) p[22 + i] = uint8_t(crc >> (8 * i));
    return ogg;
}

// A 14 KB stream whose last page claims 100 million frames (200 MB of PCM)
// decodes to what it really holds (its 220500 frames, and the end of its last
// block, which the true length would have cut), and the worker keeps one copy
// of it: the voice's.
TEST_F(SoundDecodeTest, ClaimedLengthIsNotTrusted) {
    std::string ogg = SoundBytes("long.ogg"), trailer(8, '\0');
    Put32(trailer, 0, 5000);
    Put32(trailer, 4, 200000);
    std::string claim = ClaimFrames(ogg, 100000000) + trailer;
    const uint32_t real = 220500 * 2, block = 2048 * 2;
    SoundPcm pcm, honest;
    uint64_t before = InUse(HEAP_FILE);
    ASSERT_EQ(Decode(claim, true, &pcm), nullptr);
    EXPECT_GE(pcm.pcmBytes, real);
    EXPECT_LE(pcm.pcmBytes, real + block);
    EXPECT_EQ(pcm.loopEnd, 200000u);
    EXPECT_LE(InUse(HEAP_FILE) - before, pcm.pcmBytes + 512u);  // the block is the PCM's size
    ASSERT_EQ(Decode(ogg, false, &honest), nullptr);
    ASSERT_EQ(honest.pcmBytes, real);
    EXPECT_EQ(std::memcmp(honest.pcm, pcm.pcm, real), 0);
    const uint32_t decoded = pcm.pcmBytes;
    Lib_MemFree(HEAP_FILE, honest.decoded);
    Lib_MemFree(HEAP_FILE, pcm.decoded);

    // Music keeps only its voice; a voice file also keeps its samples for the level.
    Write("user/sound/bgm/claim.oggl", claim);
    Write("user/sound/voice/claim.oggl", claim);
    ASSERT_EQ(Lib_SoundPlay(0, "user/sound/bgm/claim.oggl", 0, -1, 0, 0, nullptr), 0);
    ASSERT_EQ(Lib_SoundPlay(11, "user/sound/voice/claim.oggl", 0, 0, 0, 0, nullptr), 11);
    Pass();
    ASSERT_GE(Voice(0), 0) << Log();
    ASSERT_GE(Voice(11), 0) << Log();
    EXPECT_EQ(Fake(0).data.size(), decoded + 2);
    EXPECT_EQ(Fake(0).loopEnd, 200000u * 2);
    EXPECT_EQ(Ch(0).owned, nullptr);
    EXPECT_EQ(Ch(0).samples, nullptr);
    ASSERT_EQ(Fake(11).data.size(), decoded + 2);
    ASSERT_NE(Ch(11).samples, nullptr);
    EXPECT_EQ(std::memcmp(Fake(11).data.data(), Ch(11).samples, decoded), 0);
    EXPECT_LE(InUse(HEAP_FILE) - before, decoded + 512u);
    Lib_SoundStop(0, 0);
    Lib_SoundStop(11, 0);
    Pass();
    AdvanceMs(1000);
    Pass(3);
    EXPECT_EQ(State(0), SOUND_IDLE);
    EXPECT_EQ(State(11), SOUND_IDLE);
    EXPECT_EQ(InUse(HEAP_FILE), before);
}

// A damaged title track is named on stderr once, however often it is asked for.
TEST_F(SoundDecodeTest, ADamagedSoundIsNamedOnceOnStderr) {
    std::string ogg = SoundBytes("long.ogg");
    for (size_t i = 0; i < ogg.size(); i += 7) ogg[i] = char(ogg[i] ^ 0x5A);
    Write("user/sound/bgm/broken.oggl", ogg + std::string(8, '\0'));
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Lib_SoundPlay(0, "user/sound/bgm/broken.oggl", 0, -1, 0, 0, nullptr), 0);
        Pass(2);
        EXPECT_LT(Voice(0), 0);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string line = "vn: sound user/sound/bgm/broken.oggl is damaged: not a readable ogg";
    ASSERT_NE(err.find(line), std::string::npos) << err;
    EXPECT_EQ(err.find(line), err.rfind(line)) << err;
}

}  // namespace
}  // namespace sound_test
