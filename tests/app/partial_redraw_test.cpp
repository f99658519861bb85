// The sample's screens drawn in part and drawn whole give the same frames:
// one scripted sequence (the title with its pulsing item, a move, a new game
// whose page fades in, reveals its line and waits with the key-wait icon, the
// in-game menu over the page with a move in it, back to the page) runs
// through the real frame tasks, as the program runs and with every frame
// drawn whole, and every frame presented in part must read back as the same
// bytes as that frame drawn whole.
// A first run rasterises nothing: it learns which frames are presented in
// part and where a sprite comes or goes (a screen capture among them). The
// two compared runs then rasterise only those frames, the frame each run of
// partial frames is drawn over, and the frames around a sprite's change: a
// frame drawn whole rests on nothing drawn before it but a captured picture.
// Drawing only some frames must leave what each frame presents as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/frame_skip.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "platform/plat_gl.h"
#include "screens/title.h"
#include "story/sys_menu.h"
#include "tests/program/program_screens.h"
#include "tests/ui/screen_harness.h"

namespace {
using program_screens::StoryWaiting;
using program_screens::TitleMenuUp;
constexpr uint32_t kMenuKey = 0x8;  // C: the in-game menu

// A 64-bit digest of a picture's bytes (FNV-1a over 64-bit words).
uint64_t PictureDigest(const Image& img) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (const Bgra& p : img.pixels) {
        uint32_t w = uint32_t(p.b) | uint32_t(p.g) << 8 | uint32_t(p.r) << 16 | uint32_t(p.a) << 24;
        h = (h ^ w) * 0x100000001B3ull;
    }
    return h;
}

bool MenuUp() {
    const ScreenWork* w = GSL_WorkGet(GSL_SysMenuModeCB);
    return GSL_ModeTop() == GSL_SysMenuModeCB && w && w->step == 2;
}

class PartialRedraw : public ScreenHarness {
protected:
    void SetUp() override { GlTest::SetUp(); }
    void TearDown() override {
        unsetenv("VN_FRAME_SKIP");
        Main_FrameSkipInit();
        GlTest::TearDown();
    }

    // Every frame of the sequence, read back from the frame target.
    struct Run {
        std::vector<uint64_t> frames;
        std::vector<const char*> labels;  // what the run was waiting for at each frame
        std::vector<uint64_t> pixels;  // window pixels presented in each frame
        std::vector<bool> spritesChanged;  // a sprite came, went or changed its texture
        const char* failed = nullptr;
    };

    void Step(Run& run, const char* label, int n = 1) {
        for (int i = 0; i < n; ++i) {
            const size_t index = run.frames.size();
            const bool drawn = index < rasterised_.size() && rasterised_[index];
            DrawFrames(drawn);
            const std::vector<uint32_t> before = Sprites();
            Frame();
            run.spritesChanged.push_back(Sprites() != before);
            const uint64_t pixels = Plat_GLPresentedPixels();
            run.pixels.push_back(pixels - lastPixels_);
            lastPixels_ = pixels;
            const bool read = drawn && index < read_.size() && read_[index];
            run.frames.push_back(read ? PictureDigest(ReadFrame()) : 0);
            run.labels.push_back(label);
        }
    }
    bool Until(Run& run, const char* label, bool (*done)(), int limit) {
        for (int i = 0; i < limit; ++i) {
            if (done()) return true;
            Step(run, label);
        }
        run.failed = label;
        return false;
    }
    void Press(Run& run, uint32_t button, const char* label) {
        Hold(button);
        Step(run, label);
        Release(button);
        Step(run, label);
    }

    // The texture of every sprite slot in use (0 for a free one).
    static std::vector<uint32_t> Sprites() {
        std::vector<uint32_t> out(kSpriteSlots);
        for (int32_t i = 0; i < kSpriteSlots; ++i)
            out[size_t(i)] = SpriteTable[i].flags & SPRITE_IN_USE ? SpriteTable[i].texture | 0x80000000u : 0;
        return out;
    }

    uint64_t lastPixels_ = 0;
    std::vector<bool> rasterised_, read_;  // the frames rasterised and read back; past their ends, none
    Run Play(bool whole, const std::vector<bool>& rasterised = {}, const std::vector<bool>& read = {}) {
        rasterised_ = rasterised;
        read_ = read;
        Run run;
        if (whole) setenv("VN_FRAME_SKIP", "0", 1);
        else unsetenv("VN_FRAME_SKIP");
        ScreenHarness::SetUp();
        struct Down {
            PartialRedraw* h;
            ~Down() { h->ScreenHarness::TearDown(); }
        } down{this};
        if (!SampleData()) {
            run.failed = "the sample";
            return run;
        }
        Messages();
        if (!Fonts()) {
            run.failed = "the fonts";
            return run;
        }
        StartFull();
        Main_FrameSkipInit();
        DrawFrames(true);
        ModeStack[0] = GSL_TitleModeCB;  // in the boot's place, without the movie
        TitleFlags = 6;
        lastPixels_ = Plat_GLPresentedPixels();
        if (!Until(run, "the title menu", TitleMenuUp, 600)) return run;
        Step(run, "the title's pulse", 20);
        Press(run, BUTTON_DOWN, "a move");
        Step(run, "the pulse on the next item", 10);
        Press(run, BUTTON_UP, "a move back");
        Press(run, BUTTON_DECIDE, "new game");
        if (!Until(run, "the first line", StoryWaiting, 900)) return run;
        Step(run, "the key-wait icon", 60);
        Press(run, kMenuKey, "the menu");
        if (!Until(run, "the menu over the page", MenuUp, 300)) return run;
        Step(run, "the menu's pulse", 10);
        Press(run, BUTTON_DOWN, "a move in the menu");
        Step(run, "the menu's pulse on the next button", 10);
        Press(run, BUTTON_CANCEL, "the menu closing");
        if (!Until(run, "the page again", StoryWaiting, 300)) return run;
        Step(run, "the key-wait icon again", 30);
        return run;
    }
};

TEST_F(PartialRedraw, EveryFrameEqualsTheFrameDrawnWhole) {
    if (IsSkipped()) return;
    const Run plan = Play(false);
    ASSERT_EQ(plan.failed, nullptr) << plan.failed;
    // A frame presented whole was drawn whole: it can differ only where the
    // two runs' states do (the story's black cover has been seen a frame
    // apart at its start), which is not the drawing's doing. Every frame
    // drawn in part, and every frame kept, must match.
    const uint64_t window = plan.pixels.front();
    ASSERT_EQ(window, *std::max_element(plan.pixels.begin(), plan.pixels.end()));
    const size_t n = plan.frames.size();
    std::vector<bool> inPart(n);
    for (size_t i = 0; i < n; ++i) inPart[i] = plan.pixels[i] != window;
    // Drawn whole, a frame needs no frame before it but those a picture is
    // captured from; drawn in part, also the frame it is drawn over.
    std::vector<bool> forWhole(n), forPart(n);
    for (size_t i = 0; i < n; ++i) {
        forWhole[i] = inPart[i] || plan.spritesChanged[i] || (i > 0 && plan.spritesChanged[i - 1]) ||
                      (i + 1 < n && plan.spritesChanged[i + 1]);
        forPart[i] = forWhole[i] || (i + 1 < n && inPart[i + 1]);
    }
    const Run part = Play(false, forPart, inPart);
    ASSERT_EQ(part.failed, nullptr) << part.failed;
    EXPECT_EQ(part.pixels, plan.pixels);
    EXPECT_EQ(part.spritesChanged, plan.spritesChanged);
    const Run whole = Play(true, forWhole, inPart);
    ASSERT_EQ(whole.failed, nullptr) << whole.failed;
    ASSERT_EQ(part.frames.size(), whole.frames.size());
    int differ = 0, compared = 0;
    for (size_t i = 0; i < part.frames.size(); ++i) {
        if (!inPart[i]) continue;
        ++compared;
        if (part.frames[i] != whole.frames[i] && differ++ < 5)
            ADD_FAILURE() << "frame " << i << " (" << part.labels[i] << ") differs";
    }
    EXPECT_EQ(differ, 0);
    EXPECT_GT(compared, 90);
    // Waiting with the icon, a frame presents a few thousand pixels, not the window.
    uint64_t partPixels = 0, wholePixels = 0;
    for (size_t i = 0; i < part.frames.size(); ++i) {
        if (std::string(part.labels[i]) != "the key-wait icon again") continue;
        partPixels += part.pixels[i];
        wholePixels += whole.pixels[i];
    }
    EXPECT_GT(partPixels, 0u);
    EXPECT_LT(partPixels * 20, wholePixels);
}

}  // namespace
