#include "script/args.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "script/syntax.h"
#include "script_env.h"

namespace {

// A command context over one tag.
struct Tag {
    std::string text;
    ScriptTaskWork w{};
    explicit Tag(std::string t) : text(std::move(t)) {
        w.context.script = &w.script;
        w.script.text = text.data();
        w.script.size = uint32_t(text.size());
        char tag[kScriptTagSize];
        uint32_t next = 0;
        EXPECT_TRUE(GSL_ScriptTagCut(&w.script, tag, &w.context, &next)) << text;
    }
    std::string Get(const char* name, int32_t pos, uint32_t size = 256) const {
        std::unique_ptr<char[]> out(new char[size]);
        GSL_ArgGet(&w.context, name, pos, out.get(), size);
        return out.get();
    }
    int32_t Int(const char* name, int32_t pos) const { return GSL_ArgGetInt(&w.context, name, pos); }
};

TEST(ScriptArgs, NamedAndPositionalLookups) {
    EXPECT_EQ(Tag("<wait time:500>").Int("time", 0), 500);
    EXPECT_EQ(Tag("<wait 500>").Int("time", 0), 500);
    EXPECT_EQ(Tag("<wait TIME:7>").Int("Time", 0), 7);
    // An empty value and a name that is not there fall back to the position.
    EXPECT_EQ(Tag("<wait time:>").Int("time", 0), 0);
    EXPECT_EQ(Tag("<wait click:false>").Int("time", 0), 0);
    EXPECT_EQ(Tag("<wait click:false>").Int("time", -1), kScriptMissing);
    EXPECT_EQ(Tag("<wait>").Int("time", 0), kScriptMissing);
    // The last argument of a name wins; empty arguments are passed over.
    const Tag twice("<x a:1,a:2,,>");
    EXPECT_EQ(twice.Int("a", -1), 2);
    EXPECT_EQ(twice.Get(nullptr, 2), "");
    EXPECT_EQ(twice.Get(nullptr, 3), "");
    EXPECT_EQ(twice.Get(nullptr, 4), "");
    EXPECT_EQ(twice.Get(nullptr, 0), "a:1");
    // Quotes enclosing a value are stripped.
    EXPECT_EQ(Tag("<text \"a,b\">").Get(nullptr, 0), "a,b");
    EXPECT_EQ(Tag("<x name:\"a b\",2>").Get("name", 1), "a b");
    EXPECT_EQ(Tag("<x name:\"a b\",2>").Get("other", 1), "2");
    // Only ASCII letters are lower-cased; a Shift-JIS second byte stays.
    const Tag sjis("<x \x83\x41:1>");
    EXPECT_EQ(sjis.Get("\x83\x41", -1), "1");
    EXPECT_EQ(sjis.Get("\x83\x61", -1), "");
    // The result is cut to the caller's buffer on a character boundary.
    EXPECT_EQ(Tag("<x \x83\x41\x83\x42>").Get(nullptr, 0, 4), "\x83\x41");
    const Tag long_word("<x " + std::string(1600, 'y') + ">");
    EXPECT_EQ(long_word.Get(nullptr, 0, 1536).size(), 1535u);
}

TEST(ScriptArgs, IntegerArithmetic) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"10+5*2", 30},       {"-5-3", -8},          {"5*-3", -3},           {"7/2", 3},
        {"-7/2", -3},         {"7/0", 0},
        // Every sign after the first byte is an operator: INT_MIN / 0 - 1.
        {"-2147483648/-1", -1},
        {"2147483647+1", INT_MIN},                   {"65536*65536", 0},     {"1+1+1+1+100", 4},
        {"99999999999", INT_MAX},                    {"-99999999999", INT_MIN},
        {"99999999999+1", INT_MIN},                  {"12abc", 12},          {"abc", 0},
        {"3-", 3},            {"+4", 4},             {"-", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Tag(std::string("<x ") + c.text + ">").Int(nullptr, 0), c.value) << c.text;
}

TEST(ScriptArgs, ScaleByFourThirds) {
    for (int32_t v = -100000; v <= 100000; ++v) {
        const int64_t a = int64_t(v) * 4;
        const int64_t exact = a >= 0 ? (a + 2) / 3 : -((-a) / 3);
        ASSERT_EQ(GSL_Scale43i(v, 9999), exact) << v;
    }
    EXPECT_EQ(GSL_Scale43i(30, 9999), 40);
    EXPECT_EQ(GSL_Scale43i(31, 9999), 42);
    EXPECT_EQ(GSL_Scale43i(72, 9999), 96);
    EXPECT_EQ(GSL_Scale43i(31, 5), 5);
    EXPECT_EQ(GSL_Scale43f(-368.0f, 9999.0f), -490.0f);
    EXPECT_EQ(GSL_Scale43f(72.0f, 9999.0f), 96.0f);
    EXPECT_EQ(GSL_Scale43f(1.5f, 3.0f), 3.0f);
}

TEST(ScriptArgs, CharacterOfAVoiceFile) {
    const char* names[] = {"v_dova_01", "v_quorin_1", "v_pemble", "v_lirra_9", "v_sefa_1", "v_varo_1",
                           "v_arlo_1", "v_tiln_1", "v_welm_0001", "v_fennick_2", "v_zastrell_3", "v_gub_4"};
    for (int32_t k = 0; k < 12; ++k) EXPECT_EQ(GSL_CharaIndexFromName(names[k]), k) << names[k];
    EXPECT_EQ(GSL_CharaIndexFromName("V_WELM_01"), 8);
    EXPECT_EQ(GSL_CharaIndexFromName("bgm01"), 12);
    EXPECT_EQ(GSL_CharaIndexFromName("x_other"), 12);
    EXPECT_EQ(GSL_CharaIndexFromName("v_dov"), 12);
    EXPECT_EQ(GSL_CharaIndexFromName(""), 12);
    EXPECT_EQ(GSL_CharaIndexFromName(nullptr), 12);
    EXPECT_EQ(GSL_CharaIndexFromName(std::string(400, 'a').c_str()), 12);
}

class ScriptPositions : public ScriptEnv {};

TEST_F(ScriptPositions, ScriptPositionsBecomeSpriteCentres) {
    SpriteRecord& pic = LayerSprite(3, 100, SPRITE_IN_USE | SPRITE_READY);
    pic.textureWidth = 201;
    pic.textureHeight = 100;
    pic.posX = 77.0f;
    auto at = [](int32_t base, int32_t layer, float x, float y, float sx = 1.0f, float sy = 1.0f) {
        const ScriptPos p = GSL_PosToScreen(base, layer, {x, y, 5.0f}, sx, sy);
        EXPECT_EQ(p.z, 5.0f);
        return std::pair<float, float>(p.x, p.y);
    };
    using P = std::pair<float, float>;
    EXPECT_EQ(at(0, 3, 100, 50), P(100 - 640 + 100, 360 - 50 - 50));
    EXPECT_EQ(at(0, 3, 100.9f, 50.9f, 0.5f, 0.5f), P(100 - 640 + 50, 360 - 50 - 25));
    EXPECT_EQ(at(0, 3, 100, 50, -1.0f, 1.0f), P(100 - 640 - 100, 260));
    // -9999: x keeps the fore-page sprite's x on layers 0..9, the centre on
    // layer 10; y is never kept.
    EXPECT_EQ(at(0, 3, -9999, -9999), P(77, 360 - 50));
    EXPECT_EQ(at(12, 3, -9999, 10), P(77, 350));
    EXPECT_EQ(at(0, 4, -9999, -9999), P(0, 360));
    EXPECT_EQ(at(0, 10, -9999, -9999), P(0, 0));
    EXPECT_EQ(at(0, 11, -9999, -9999), P(-640, 360));
    EXPECT_EQ(at(0, 10, 0, 0), P(-640, 360));
    // No usable sprite: size 0. The image size stands in for a texture size of 0.
    EXPECT_EQ(at(1, 3, 0, 0), P(-640, 360));
    SpriteRecord& img = LayerSprite(8, 101, SPRITE_IN_USE);
    img.imageWidth = 40;
    img.imageHeight = 20;
    EXPECT_EQ(at(0, 8, 0, 0), P(-620, 350));
    img.flags |= SPRITE_FAILED;
    EXPECT_EQ(at(0, 8, 0, 0), P(-640, 360));
    // Huge values do not overflow.
    EXPECT_EQ(at(0, 11, 3e30f, -3e30f).first, float(int64_t(INT32_MAX) - 640));
}

class TextKeys : public ScriptEnv {
protected:
    void SetUp() override {
        ScriptEnv::SetUp();
        script_ = Table("languages = ja en\n[section 0]\n0.en = Guide\n12.en = Alice=reading\n"
                        "[section 1]\n3.en = Choice three\n[section 2]\n0.en = Line zero\n7.en = Line seven\n"
                        "8.en = \xE3\x81\x82\xE3\x81\x84\n");
        system_ = Table("languages = ja en\n[section 2]\n5.en = System five\n");
        ScriptMesTable = {script_.data(), script_.size()};
        SystemMesTable = {system_.data(), system_.size()};
        TextLanguage = 1;
    }
    void TearDown() override {
        ScriptMesTable = SystemMesTable = {};
        ScriptEnv::TearDown();
    }
    std::vector<uint8_t> Table(const std::string& source) {
        const std::string dir = TempDir();
        dirs_.push_back(dir);
        std::ofstream(dir + "/m.txt") << source;
        const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py mul " + dir + "/m.mul " + dir + "/m.txt";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        const std::string bytes = ReadFile(dir + "/m.mul");
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    }
    static std::string Expand(const char* in, uint32_t size = 1536) {
        std::unique_ptr<char[]> out(new char[size]);
        GSL_TextIdExpand(in, out.get(), size);
        return out.get();
    }
    std::vector<uint8_t> script_, system_;
};

TEST_F(TextKeys, KeysExpandIntoMessageTexts) {
    EXPECT_EQ(Expand("x NAME_0: TEXT_7"), "x Guide: Line seven");
    EXPECT_EQ(Expand("NAME_12=x"), "Alice=x");
    EXPECT_EQ(Expand("SELECT_3/SYSTEM_2005"), "Choice three/System five");
    EXPECT_EQ(Expand("TEXT_007."), "Line seven.");
    // A key without digits is plain text, also at the very end.
    EXPECT_EQ(Expand("TEXT_abc NAME_"), "TEXT_abc NAME_");
    EXPECT_EQ(Expand("TEXT_-"), "TEXT_-");
    // A negative id names no text; what follows the digits is kept.
    EXPECT_EQ(Expand("TEXT_-5!"), "No text!");
    // The output is cut at its capacity on a character boundary.
    EXPECT_EQ(Expand("TEXT_7", 8), "Line se");
    EXPECT_EQ(Expand("TEXT_8", 6), "\xE3\x81\x82");
    EXPECT_EQ(Expand("\x83\x41\x83\x42", 4), "\x83\x41");
    EXPECT_EQ(Expand("\x83\x41TEXT_0", 4), "\x83\x41L");
    EXPECT_EQ(Expand(std::string(5000, 'z').c_str()).size(), 1535u);

    char cut[8];
    GSL_NameCut("\x83\x3D=b", cut, sizeof cut);  // a second byte that looks like '=' is not one
    EXPECT_STREQ(cut, "\x83\x3D");
}

}  // namespace
