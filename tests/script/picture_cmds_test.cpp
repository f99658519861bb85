// The picture and transition commands seen from the story layer slots: what
// a loaded picture looks like, when a fore picture shows, the wait for room in
// the named cache, backlay over a running move, and the wipes of trans.
#include "script/picture_cmds.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/render/sprite.h"
#include "script/effects.h"
#include "script/game_blocks.h"
#include "script/stage.h"
#include "script/syntax.h"
#include "script/wipe_fx.h"
#include "tests/script/stage_env.h"
#include "ui/widget.h"

namespace {

constexpr uint8_t kLive = SPRITE_IN_USE | SPRITE_READY;
constexpr int32_t kCmdText = 11;
constexpr int32_t kCmdImage = 33;

// Rules: the alpha is the threshold, grey with it.
const char kRadial[] = R"({"format": "ext0", "bpp": 32, "size": [1280, 720], "background": "#ffffffff", "shapes": [
 {"circle": [640, 360, 700], "colour": "#c0c0c0c0"}, {"circle": [640, 360, 500], "colour": "#80808080"},
 {"circle": [640, 360, 300], "colour": "#40404040"}, {"circle": [640, 360, 120], "colour": "#00000000"}]})";
const char kLinear[] = R"({"format": "ext0", "bpp": 32, "size": [1280, 720], "background": "#000000ff", "shapes": [
 {"gradient": [0, 0, 1280, 720], "from": "#00000000", "to": "#ffffffff", "direction": "horizontal"}]})";

// What the stub handlers saw.
struct Seen {
    bool fore3, fore4, back3;
};
std::vector<Seen> g_seen;
Seen Look() {
    return {Lib_SpriteIsLive(GSL_LayerSpriteGet(0, 3)), Lib_SpriteIsLive(GSL_LayerSpriteGet(0, 4)),
            Lib_SpriteIsLive(GSL_LayerSpriteGet(12, 3))};
}

class Pictures : public StageEnv {
protected:
    void SetUp() override {
        cacheHeapMiB = 160;
        StageEnv::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        g_seen.clear();
        ASSERT_TRUE(Files({Bytes("src/radial.pict", kRadial), Bytes("src/linear.pict", kLinear),
                           Tool("image_data.py", "visual/adv/bg_a.ext", "ext0 {} --size 1280 720"),
                           Tool("image_data.py", "visual/adv/bg_b.ext",
                                "ext0 {} --size 1280 720 --pattern solid --colour 3060a0ff"),
                           Tool("image_data.py", "visual/adv/chara.ext",
                                "ext0 {} --size 400 640 --pattern solid --colour e0b040ff"),
                           Tool("image_data.py", "visual/wipe/wipe_000.ext", "pict {} root/src/linear.pict"),
                           Tool("image_data.py", "visual/wipe/wipe_001.ext", "pict {} root/src/radial.pict")}));
    }
    void TearDown() override {
        if (junk_) Lib_CashRemove(junk_);
        junk_ = nullptr;
        StageEnv::TearDown();
    }
    void Run(const std::string& text, const char* file = "00_init.txt") {
        ASSERT_TRUE(Scripts({{file, text}}));
        ASSERT_GE(Start(file), 0);
    }
    // Frames until a command of that name has run n times and the script no
    // longer waits.
    bool Until(const char* name, size_t n = 1, int limit = 300, bool settled = true) {
        auto holds = [&] {
            size_t k = 0;
            for (const std::string& s : Names()) k += s == name;
            return k >= n && Work() && (!settled || !(Work()->script.status & SCRIPT_BUSY));
        };
        for (int i = 0; i < limit && !holds(); ++i) Frame();
        if (holds()) return true;
        ADD_FAILURE() << name << " not reached within " << limit << " frames";
        return false;
    }
    StageRecord& stage() { return GameStateBlock.stage; }
    SpriteRecord* Back(int32_t layer) { return Lib_SpriteAt(GSL_LayerSpriteGet(12, layer)); }
    // A ready picture in a layer slot that can be copied.
    SpriteRecord& Picture(uint32_t layerSlot) {
        SpriteRecord& r = LayerSprite(layerSlot, kLive, 100, 100);
        r.captureEntry = -1;
        r.drawEntry = -1;
        return r;
    }
    // Runs a handler once on a tag of its own, as the interpreter would.
    void Call(CommandHandler fn, const char* tag) {
        state_ = ScriptState{};
        text_ = std::string(tag) + "\r\n";
        state_.text = text_.data();
        state_.size = uint32_t(text_.size());
        ctx_ = CommandContext{};
        ctx_.script = &state_;
        ctx_.stage = &stage();
        char buf[kScriptTagSize];
        uint32_t next = 0;
        ASSERT_TRUE(GSL_ScriptTagCut(&state_, buf, &ctx_, &next));
        state_.nextOffset = next;
        fn(&ctx_);
    }
    // Fills the cache heap until its largest free block is below 64 MiB.
    void Crowd() {
        void* data = Lib_CashAlloc("junk.bin", 100 * kMiB, 8);
        ASSERT_NE(data, nullptr);
        junk_ = Lib_CashEntryOf(data, 8);
        Lib_CashSetComplete(junk_);
        ASSERT_FALSE(Lib_CashHasLargeBlock());
    }
    CacheEntry* junk_ = nullptr;
    ScriptState state_{};
    CommandContext ctx_{};
    std::string text_;
};

TEST_F(Pictures, PriorityPositionAndSetUpOfALoadedPicture) {
    Picture(3).posX = 123.0f;  // the fore picture whose x a missing x keeps
    Run("<label>\n<image base,back,bg_a>\n<image 3,back,chara>\n<image 4,back,chara,-2147483648,100,50,,,,1>\n"
        "<image 5,back,chara,2147483647>\n<image 12,back,chara>\n<image -1,back,chara>\n<image fore,back,chara>\n"
        "<image 3x,back,chara>\n<freeimage 12>\n<backlay top>\n<label>\n");
    ASSERT_TRUE(Until("label", 2));
    SpriteRecord* base = Back(10);
    ASSERT_TRUE(base && (base->flags & SPRITE_READY));
    EXPECT_EQ(base->priority, 10000000);
    EXPECT_EQ(base->subPriority, -1);
    EXPECT_EQ(base->visible, 0);
    EXPECT_EQ(base->camera, &StageCamera[3]);
    EXPECT_EQ(base->posX, 0.0f);
    EXPECT_EQ(base->posY, 0.0f);
    EXPECT_EQ(base->color, 0xFFFFFFFFu);
    EXPECT_EQ(base->effectParams[1], 0.0f);
    const int32_t clip[4] = {0, 0, 1280, 720};
    EXPECT_EQ(std::memcmp(base->clipRect, clip, sizeof clip), 0);

    SpriteRecord* c3 = Back(3);
    ASSERT_TRUE(c3);
    EXPECT_EQ(c3->priority, 9998997);
    EXPECT_EQ(c3->posX, 123.0f);  // x kept from the fore picture
    EXPECT_EQ(c3->posY, 40.0f);   // y at the top edge: 360 - 640 / 2
    EXPECT_EQ(c3->scaleX, 1.0f);
    EXPECT_EQ(c3->rotZ, 0.0f);

    SpriteRecord* c4 = Back(4);
    ASSERT_TRUE(c4);
    EXPECT_EQ(c4->priority, INT_MAX);  // 10,000,000 + 2^31, clamped
    EXPECT_EQ(c4->posX, -340.0f);
    EXPECT_EQ(c4->posY, -10.0f);
    EXPECT_EQ(c4->effectParams[1], 2.0f);
    ASSERT_TRUE(Back(5));
    EXPECT_EQ(Back(5)->priority, 10000000 - INT_MAX);

    // Refused layers write nothing.
    for (int32_t n = 0; n < 30; ++n) {
        const bool ours = n == 3 || n == 15 || n == 16 || n == 17 || n == 22;
        EXPECT_EQ(GSL_LayerSpriteGet(0, n) >= 0, ours) << n;
    }
    EXPECT_TRUE(Logged("Error -> image: layer 12"));
    EXPECT_TRUE(Logged("Error -> image: layer fore"));
    EXPECT_TRUE(Logged("Error -> freeimage: layer 12"));
    EXPECT_TRUE(Logged("Error -> backlay: layer top"));
    EXPECT_EQ(GSL_ScriptLayerParse("base"), 10);
    EXPECT_EQ(GSL_ScriptLayerParse("11"), 11);
    EXPECT_EQ(GSL_ScriptLayerParse("+3"), -1);
    EXPECT_EQ(GSL_ScriptLayerParse(""), -1);
}

void SeeAfterImage(CommandContext* ctx) {
    GSL_CmdImage(ctx);
    if (ctx->step == 999) g_seen.push_back(Look());
}
void SeeText(CommandContext*) { g_seen.push_back(Look()); }

TEST_F(Pictures, ForePicturesInARowShowTogetherAndBeforeTheText) {
    Handler(kCmdImage, SeeAfterImage);
    Handler(kCmdText, SeeText);
    Run("<label>\n<image 3,fore,chara>\n<image 4,fore,chara,,600>\n<text one>\n<freeimage 3>\n<text two>\n"
        "<label>\n");
    ASSERT_TRUE(Until("label", 2));
    ASSERT_EQ(g_seen.size(), 4u);
    EXPECT_FALSE(g_seen[0].fore3);  // the first waits on the back page
    EXPECT_TRUE(g_seen[0].back3);
    EXPECT_TRUE(g_seen[1].fore3);   // the second shows both
    EXPECT_TRUE(g_seen[1].fore4);
    EXPECT_TRUE(g_seen[2].fore3);   // before the text starts
    // freeimage before a text: the layer is empty on both pages.
    EXPECT_FALSE(g_seen[3].fore3);
    EXPECT_FALSE(g_seen[3].back3);
    EXPECT_TRUE(g_seen[3].fore4);
}

TEST_F(Pictures, TheLookAheadReadsWholeLinesWithinTheText) {
    const std::string t = "<image 3,fore,a>\r\n; note\r\n<label>\r\n<text x>\r\n";
    EXPECT_EQ(GSL_ImageLookAheadScan(t.data(), uint32_t(t.size()), 18, "3"), 1);
    for (const char* next : {"<backlay>", "<trans>", "<move 3,fore>", "<image 3,back,b>"}) {
        const std::string s = std::string("x\r\n") + next + "\r\n";
        EXPECT_EQ(GSL_ImageLookAheadScan(s.data(), uint32_t(s.size()), 3, "3"), 1) << next;
    }
    for (const char* next : {"<image 4,fore,b>", "<freeimage 3>", "<label>"}) {
        const std::string s = std::string("x\r\n") + next + "\r\n";
        EXPECT_EQ(GSL_ImageLookAheadScan(s.data(), uint32_t(s.size()), 3, "3"), 0) << next;
    }
    // A line cut by the end of the member, a start past it, a long layer word.
    EXPECT_EQ(GSL_ImageLookAheadScan("<tex", 4, 0, "3"), 0);
    EXPECT_EQ(GSL_ImageLookAheadScan("<text>", 6, 9, "3"), 0);
    // A long layer word is compared as far as its formed tag holds it.
    const std::string word(3000, '7');
    const std::string s = "<image " + word + "\r\n";
    EXPECT_EQ(GSL_ImageLookAheadScan(s.data(), uint32_t(s.size()), 0, word.c_str()), 1);
    // A last tag without CR LF has nothing after it.
    Run("<label>\n");
    Frame(2);
    Call([](CommandContext* c) { EXPECT_EQ(GSL_ScriptImageLookAhead(c, 1), 1); }, "<image 3,fore,a>\r\n<text x>");
    Call([](CommandContext* c) { EXPECT_EQ(GSL_ScriptImageLookAhead(c, 0), 0); }, "<image 3,back,a>\r\n<text x>");
    state_ = ScriptState{};
    Call([](CommandContext* c) {
        c->script->size = c->script->nextOffset;  // "<image 3,fore,a>" alone
        EXPECT_EQ(GSL_ScriptImageLookAhead(c, 1), 0);
    }, "<image 3,fore,a>");
}

TEST_F(Pictures, WithoutRoomTheImageWaitsForIdleSpritesAndPreloadsThenFlushes) {
    // First load bg_b and free it: it stays in the cache.
    Run("<label>\n<image base,back,bg_b>\n<freeimage base>\n<label>\n", "a.txt");
    ASSERT_TRUE(Until("label", 2));
    Finish();
    Frame(3);
    executed.clear();

    Crowd();
    SpriteRecord& loading = LayerSprite(5, SPRITE_IN_USE);  // a sprite still loading
    // A cached picture loads at once.
    Run("<label>\n<image base,back,bg_b>\n<label>\n", "b.txt");
    ASSERT_TRUE(Until("label", 2, 20));
    EXPECT_TRUE(Back(10));
    Finish();
    Frame(3);
    executed.clear();

    // One that is not cached waits while a sprite loads and a preload is pending.
    Run("<label>\n<image 3,back,bg_a>\n<label>\n", "c.txt");
    Frame(10);
    EXPECT_EQ(GSL_LayerSpriteGet(12, 3), -1);
    EXPECT_TRUE(Logged("Hash No Match -> Lib_CashGetHitInfo(visual/adv/bg_a.ext,-9999)"));
    EXPECT_NE(Lib_CashGetHitInfo("junk.bin", kCacheEntryId), nullptr);
    loading.flags |= SPRITE_READY;
    PreloadPending = 1;
    Frame(5);
    EXPECT_NE(Lib_CashGetHitInfo("junk.bin", kCacheEntryId), nullptr);
    PreloadPending = 0;
    Frame();
    // The cache rule flushed the untagged files; the load follows.
    EXPECT_EQ(Lib_CashGetHitInfo("junk.bin", kCacheEntryId), nullptr);
    junk_ = nullptr;
    EXPECT_EQ(GSL_LayerSpriteGet(12, 3), -1);
    ASSERT_TRUE(Until("label", 2, 30));
    EXPECT_TRUE(Back(3));
}

TEST_F(Pictures, BacklayCopiesTheForePictureHiddenWithItsRunningMove) {
    Run("<label>\n");
    Frame(2);
    Picture(3).posX = 0.0f;
    Picture(10);
    SpriteRecord& eleven = Picture(11);
    eleven.camera = &StageCamera[1];
    MoveSet(&stage(), 0, 3, 300.0f, 0.0f, 0.0f, 30);
    Frame(5);
    Call(GSL_CmdBackLay, "<backlay 3>");
    Call(GSL_CmdBackLay, "<backlay>");
    Call(GSL_CmdBackLay, "<backlay 11>");
    SpriteRecord* b3 = Back(3);
    ASSERT_TRUE(b3);
    EXPECT_EQ(b3->visible, 0);
    EXPECT_EQ(b3->camera, &StageCamera[2]);
    ASSERT_TRUE(Back(10));
    EXPECT_EQ(Back(10)->camera, &StageCamera[0]);
    ASSERT_TRUE(Back(11));
    EXPECT_EQ(Back(11)->camera, &StageCamera[1]);
    ASSERT_GE(GSL_EffectTaskGet(stage().moveTask, 15, MoveCB), 0);
    const SpriteRecord* fore = Lib_SpriteAt(GSL_LayerSpriteGet(0, 3));
    int frames = 0;
    while (stage().moveTask[3] >= 0 && frames < 60) {
        Frame();
        ++frames;
        EXPECT_EQ(b3->posX, fore->posX) << frames;
    }
    EXPECT_EQ(stage().moveTask[3], -1);
    EXPECT_EQ(GSL_EffectTaskGet(stage().moveTask, 15, MoveCB), -1);  // ends on the same frame
    EXPECT_EQ(b3->posX, 300.0f);
}

TEST_F(Pictures, TransRunsItsWipeAndWtWaitsForIt) {
    StartDrawing();
    Run("<label>\n<image base,back,bg_b>\n<trans crossfade>\n<wt>\n<label>\n");
    ASSERT_TRUE(Until("trans", 1, 300, false));
    const int start = frame;
    const int32_t wipe = stage().wipeTask;
    ASSERT_GE(wipe, 0);
    // During the wipe another one does nothing.
    Call(GSL_CmdTrans, "<trans wipe_000,0>");
    EXPECT_EQ(stage().wipeTask, wipe);
    ASSERT_TRUE(Until("label", 2, 120));
    EXPECT_EQ(stage().wipeTask, -1);
    EXPECT_GE(frame - start, 60);
    EXPECT_LE(frame - start, 66);
    EXPECT_TRUE(Lib_SpriteIsLive(GSL_LayerSpriteGet(0, 10)));

    // A time of 0 swaps at once.
    Picture(15);
    Call(GSL_CmdTrans, "<trans wipe_000,0>");
    EXPECT_EQ(stage().wipeTask, -1);
    EXPECT_TRUE(Lib_SpriteIsLive(GSL_LayerSpriteGet(0, 3)));
}

TEST_F(Pictures, HalfWayThroughARadialWipe) {
    StartDrawing();
    DrawFrames(true);  // the wipe starts from the scene a frame drew
    Handler(kCmdText, SeeText);
    Run("<label>\n<image base,fore,bg_a>\n<text a>\n<image base,back,bg_b>\n<image 3,back,chara,,440,40>\n"
        "<trans wipe_001,1000>\n<wt>\n<label>\n");
    ASSERT_TRUE(Until("trans", 1, 300, false));
    // The rule's dark centre gives way first; the progress passes the
    // rule's middle grey about 46 frames into the 60.
    Frame(46);
    EXPECT_TRUE(MatchesReference("pict_wipe_half"));
    ASSERT_TRUE(Until("label", 2, 120));
}

}  // namespace
