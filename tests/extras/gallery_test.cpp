// The gallery and its viewer on the sample's data, through the screen
// harness and the full main initialisation: opened above an idle screen, as
// the title opens it, and closed again by the test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "extras/gallery.h"
#include "extras/gallery_tables.h"
#include "story/access_flags.h"
#include "story/game_state.h"
#include "tests/ui/screen_harness.h"
#include "ui/layout_table.h"
#include "ui/number_display.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/widget_task.h"
#include "ui/system_sound.h"

namespace {

class GalleryTest : public ScreenHarness {
protected:
    // The sample's all-ages edition (without its R18 archive), the main
    // tasks and an idle screen below the gallery.
    bool Start() {
        if (!AllAgesSampleData()) return false;
        Messages();
        StartFull();
        ModeStack[0] = nullptr;
        SetBody(0, [] {});
        if (!MakeContext(TestScreen(0))) return false;
        Frame();
        std::memset(SystemDataBlock.eventUnlock, 0, sizeof SystemDataBlock.eventUnlock);
        std::memset(SystemDataBlock.musicUnlock, 0, sizeof SystemDataBlock.musicUnlock);
        return true;
    }
    // Opens the gallery and waits for its count-up to end.
    bool Open() {
        if (GSL_ModeTop() != GSL_GalleryModeCB) GSL_ModePush(GSL_GalleryModeCB, 0);
        return FramesUntil([] { return GSL_ModeTop() == GSL_GalleryModeCB && G() && W()->step == 2; }, 500,
                           "the gallery's main step");
    }
    void Close() {
        Press(BUTTON_CANCEL);
        FramesUntil([] { return GSL_ModeTop() == TestScreen(0) && !GSL_WorkGet(GSL_GalleryModeCB); }, 120,
                    "the gallery closed");
        Frame(2);
    }
    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame();
    }
    static ScreenWork* W() { return GSL_WorkGet(GSL_GalleryModeCB); }
    static GalleryHead* G() { return GSL_GalleryHead(W()); }
    static ScreenWork* VW() { return GSL_WorkGet(GSL_GalleryViewModeCB); }
    static GalleryViewHead* V() { return GSL_GalleryViewHead(VW()); }
    static void Unlock(int32_t id) { StoryAccessFlagGal(nullptr, id, 1); }
    // The member of the last system sound played.
    static std::string LastSe() {
        return SoundChannelTable[19 + (SystemSeRotation + 2) % 3].st.path;
    }
    static bool RectIs(int32_t sprite, int32_t group, int32_t item) {
        LayoutRect r{};
        GSL_LayoutGetRect(&r, group, item);
        const SpriteRecord& s = SpriteTable[sprite];
        return s.srcRect[0] == r.x && s.srcRect[1] == r.y && s.srcRect[2] == r.width && s.srcRect[3] == r.height;
    }
    // The thumbnail container without the member of thumbnail `omit`.
    static bool ThumbsWithout(int32_t omit) {
        char name[kFileNameSize];
        GSL_GalleryThumbName(omit, name, sizeof name);
        return name[0] && CacheArcWithout(kGalleryThumbArc, name);
    }
};

TEST_F(GalleryTest, NothingUnlockedTrackAndCancel) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    GSL_ModePush(GSL_GalleryModeCB, 0);
    // The count-up ends in the frame it starts.
    ASSERT_TRUE(FramesUntil([] { return G() && W()->step == 1 && W()->subState == 3; }, 400, "the count-up"));
    Frame();
    EXPECT_EQ(W()->step, 2);
    const GalleryHead* h = G();
    EXPECT_EQ(GSL_SystemNumWork(h->number)->value, 0);
    for (int32_t i = 0; i < 11; ++i) {
        ASSERT_TRUE(Lib_SpriteIsLive(h->state->cells[i])) << i;
        EXPECT_TRUE(SpriteTable[h->state->cells[i]].flags & SPRITE_COPY) << i;
        EXPECT_TRUE(RectIs(h->state->cells[i], 8, 1)) << i;
        EXPECT_EQ(h->state->badges[i], -1);
        EXPECT_EQ(h->state->sways[i], -1);
    }
    // The track: endless on channel 0, replayed on return, and unlocked by
    // its Japanese stem.
    const ScreenSoundSlot& slot = W()->sounds[0];
    EXPECT_EQ(slot.handle, 0);
    EXPECT_EQ(slot.restoreKind, 1);
    EXPECT_EQ(slot.releaseFade, 30u);
    EXPECT_EQ(slot.extra, -1);
    EXPECT_EQ(SoundChannelTable[0].st.repeat.load(), -1);
    EXPECT_EQ(SystemDataBlock.musicUnlock[16 >> 3] >> (16 & 7) & 1, 1);

    Press(BUTTON_DECIDE);
    EXPECT_EQ(LastSe(), "error.wav");
    EXPECT_EQ(GSL_ModeTop(), GSL_GalleryModeCB);

    Hold(BUTTON_CANCEL);
    Frame();
    Release(BUTTON_CANCEL);
    EXPECT_EQ(LastSe(), "cancel.wav");
    EXPECT_EQ(SoundChannelTable[0].st.fadeOutFrames.load(), 60u);
    EXPECT_EQ(W()->step, 4);
    FramesUntil([] { return GSL_ModeTop() == TestScreen(0) && !W(); }, 90, "the screen below");
    const auto* overlay = static_cast<const DispColorWork*>(TaskTable.slots[DispColorTask]->work);
    EXPECT_EQ(overlay->current, 0xFF000000u);
    Frame(2);
}

TEST_F(GalleryTest, PageBuildMissingMemberAndNavigation) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(ThumbsWithout(3));
    Unlock(2105);  // thumbnail 0: complete
    Unlock(2158);  // thumbnail 1: [locked, unlocked]
    Unlock(2106);  // thumbnail 3: its member is missing
    ASSERT_TRUE(Open());
    const GalleryHead* h = G();
    const GalleryState* st = h->state;
    EXPECT_FALSE(SpriteTable[st->cells[0]].flags & (SPRITE_COPY | SPRITE_FAILED));
    EXPECT_GE(st->badges[0], 0);
    EXPECT_GE(st->sways[0], 0);
    EXPECT_FALSE(SpriteTable[st->cells[1]].flags & SPRITE_COPY);
    EXPECT_EQ(st->badges[1], -1);
    EXPECT_TRUE(SpriteTable[st->cells[3]].flags & SPRITE_FAILED);
    EXPECT_GE(st->badges[3], 0);
    EXPECT_TRUE(RectIs(st->cells[2], 8, 1));
    const std::string log = Log();
    EXPECT_NE(log.find("Error -> Lib_ArcGetData(thumb_"), std::string::npos) << log;
    // The rate: 3 of 131.
    EXPECT_EQ(GSL_SystemNumWork(h->number)->value, 2);

    // The failed cell still takes the cursor to its place in the grid.
    for (int i = 0; i < 3; ++i) Press(EXTRAS_BUTTON_RIGHT);
    EXPECT_EQ(h->selection, 3);
    const SpriteRecord& cursor = SpriteTable[GSL_WorkLayerGet(GSL_GalleryModeCB, 2)];
    EXPECT_EQ(cursor.posX, -392.0f + 3 * 262.0f);
    EXPECT_EQ(cursor.posY, 155.0f);

    // Previous category from 0 is 5, through a zoom of 6 frames down and 5 up.
    Press(EXTRAS_BUTTON_A);
    EXPECT_EQ(W()->step, 3);
    EXPECT_EQ(h->category, 5);
    int down = 0;
    while (W()->subState == 0 && down < 20) {
        Frame();
        ++down;
    }
    EXPECT_EQ(down, 6);
    int up = 0;
    while (W()->subState == 1 && up < 20) {
        Frame();
        ++up;
    }
    EXPECT_EQ(up, 5);
    EXPECT_EQ(h->zoom, 1.0f);
    Frame(2);
    ASSERT_EQ(W()->step, 2);
    ScrollBarWork* bar = GSL_SystemBarWork(h->bar);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->shown, 1u);

    // Left at 0 gives 20; back by Right, then Down from 17 and 18, Up from 1.
    Press(EXTRAS_BUTTON_LEFT);
    EXPECT_EQ(h->selection, 20);
    FramesUntil([] { return G()->moveTask < 0 && W()->step == 2; }, 20, "the scroll");
    EXPECT_EQ(h->topRow, 3);
    for (int32_t from : {17, 18}) {
        G()->selection = G()->shown = from;
        Press(BUTTON_DOWN);
        EXPECT_EQ(h->selection, 20) << from;
    }
    FramesUntil([] { return G()->moveTask < 0; }, 20, "the scroll");
    // Row 0 from below scrolls back to the top.
    G()->selection = G()->shown = 4;
    Press(BUTTON_UP);
    EXPECT_EQ(h->selection, 0);
    FramesUntil([] { return G()->moveTask < 0; }, 20, "the scroll");
    EXPECT_EQ(h->topRow, 0);
    G()->selection = G()->shown = 1;
    Press(BUTTON_UP);
    EXPECT_EQ(h->selection, 20);
    FramesUntil([] { return G()->moveTask < 0; }, 20, "the scroll");
    Close();
}

TEST_F(GalleryTest, SelectingRowThreeScrollsOneRow) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    SystemDataBlock.systemVars[16] = 1;
    ASSERT_TRUE(Open());
    // [16] unlocks the last picture on every opening.
    EXPECT_EQ(StoryAccessFlagGal(nullptr, 2374, 0), 1);
    GalleryHead* h = G();
    // Category 0 has 11 thumbnails: 3 rows, the bar hidden, drags ignored.
    EXPECT_EQ(GSL_SystemBarWork(h->bar)->shown, 0u);
    int32_t track[4];
    GSL_SystemBarGetRect(track, h->bar, BAR_TRACK);
    ASSERT_GT(track[3], track[1]);  // the hidden bar still has its place
    Pointer((track[0] + track[2]) / 2, (track[1] + track[3]) / 2);
    Frame();
    Left(true);
    Frame(2);
    EXPECT_EQ(h->state->drag.dragging, 0);
    Left(false);
    Frame();
    Press(EXTRAS_BUTTON_D);
    FramesUntil([] { return W()->step == 2; }, 30, "category 1");
    for (int i = 0; i < 4; ++i) {
        Press(EXTRAS_BUTTON_D);
        FramesUntil([] { return W()->step == 2; }, 30, "the next category");
    }
    ASSERT_EQ(h->category, 5);
    const int32_t cell = h->state->cells[12];
    const float y0 = SpriteTable[cell].posY;
    const float bar0 = GSL_SystemBarWork(h->bar)->position;
    Hold(BUTTON_DOWN);
    Frame();
    Release(BUTTON_DOWN);
    for (int32_t i = 0; i < 2; ++i) {
        Frame();
        Press(BUTTON_DOWN);
    }
    // Down three times: rows 1, 2, 3; the third scrolls.
    EXPECT_EQ(h->selection, 12);
    EXPECT_EQ(h->topRow, 1);
    EXPECT_GE(h->moveTask, 0);
    // Input is ignored while the cells move.
    Press(BUTTON_DOWN);
    EXPECT_EQ(h->selection, 12);
    FramesUntil([] { return G()->moveTask < 0; }, 20, "the scroll");
    EXPECT_EQ(SpriteTable[cell].posY, y0 + 150.0f);
    EXPECT_EQ(GSL_SystemBarWork(h->bar)->position, bar0 + 1.0f);
    Close();
}

TEST_F(GalleryTest, ViewerOpensOnTheUnlockedPictureAndPans) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Unlock(2158);  // thumbnail 1: [locked, unlocked], 1280x1440
    ASSERT_TRUE(Open());
    Press(EXTRAS_BUTTON_RIGHT);
    ASSERT_EQ(G()->selection, 1);
    Press(BUTTON_DECIDE);
    EXPECT_EQ(LastSe(), "enter.wav");
    ASSERT_TRUE(FramesUntil([] { return V() && VW()->subState == 10; }, 120, "the viewer"));
    const GalleryViewHead* v = V();
    EXPECT_EQ(v->index, 1);
    // "2 / 2": plate and slash at -490, the digits 64 left and right.
    const int32_t* c = v->state->counter;
    EXPECT_EQ(SpriteTable[c[0]].posX, -490.0f);
    EXPECT_EQ(SpriteTable[c[1]].posX, -490.0f);
    EXPECT_EQ(SpriteTable[c[2]].posX, -554.0f);
    EXPECT_EQ(SpriteTable[c[3]].posX, -426.0f);
    EXPECT_EQ(SpriteTable[c[2]].posY, 299.0f);
    EXPECT_TRUE(RectIs(c[2], 3, 3));
    EXPECT_EQ(c[4], -1);
    // A tall picture starts with its top edge at the top and pans down to +360.
    const int32_t pic = GSL_WorkLayerGet(GSL_GalleryViewModeCB, uint32_t(v->layer));
    EXPECT_EQ(SpriteTable[pic].posY, -360.0f);
    EXPECT_EQ(SpriteTable[pic].posX, 0.0f);
    Hold(BUTTON_DOWN);
    Frame();
    EXPECT_EQ(SpriteTable[pic].posY, -350.0f);
    Frame(80);
    Release(BUTTON_DOWN);
    Frame();
    EXPECT_EQ(SpriteTable[pic].posY, 360.0f);
    // A drag moves it back up by the pointer's travel.
    Pointer(600, 300);
    Frame();
    Left(true);
    Frame();
    Pointer(600, 250);
    Frame();
    EXPECT_EQ(SpriteTable[pic].posY, 410.0f > 360.0f ? 360.0f : 410.0f);
    Pointer(600, 400);
    Frame();
    EXPECT_EQ(SpriteTable[pic].posY, 210.0f);
    Left(false);
    Frame(2);
    EXPECT_EQ(VW()->subState, 10) << "a long drag is not a click";
    // The counter slides 342 px left after 60 frames, over 16; the arrows go at 180.
    FramesUntil([] { return V()->counterTimer >= 60; }, 80, "the counter's slide");
    Frame(17);
    EXPECT_EQ(SpriteTable[V()->state->counter[0]].posX, -490.0f - 342.0f);
    FramesUntil([] { return V()->arrowTimer >= 180; }, 200, "the arrows' end");
    for (int32_t a : V()->state->arrows) EXPECT_EQ(a, -1);
    // Confirm on the last unlocked picture closes the viewer on that thumbnail.
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_GalleryModeCB && !W()->suspended; }, 90,
                            "the gallery again"));
    EXPECT_EQ(G()->selection, 1);
    Frame(2);
    Close();
}

// Each picture of a thumbnail shows its "n / m" counter at the top left,
// which then slides wholly off the screen's left edge; the second picture's
// counter as well as the first's.
TEST_F(GalleryTest, EachPicturesCounterShowsThenLeavesWhole) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Unlock(2013);
    Unlock(2015);  // category 4, thumbnail 0: [unlocked, locked, unlocked]
    ASSERT_TRUE(Open());
    for (int32_t k = 0; k < 4; ++k) {
        Press(EXTRAS_BUTTON_D);
        FramesUntil([] { return W()->step == 2 && G()->moveTask < 0; }, 60, "the next category");
    }
    ASSERT_EQ(G()->category, 4);
    ASSERT_EQ(G()->selection, 0);
    Press(BUTTON_DECIDE);
    // Where the counter's pieces stand: each one's left and right edge.
    struct Span {
        float left, right;
    };
    const auto spans = [] {
        std::vector<Span> out;
        for (int32_t s : V()->state->counter) {
            if (!Lib_SpriteIsLive(s)) continue;
            const SpriteRecord& r = SpriteTable[s];
            const float half = float(r.srcRect[2]) / 2.0f;
            out.push_back({r.posX - half, r.posX + half});
        }
        return out;
    };
    for (const int32_t shown : {1, 3}) {
        ASSERT_TRUE(FramesUntil([] { return V() && VW()->subState == 10 && V()->counterTimer == 1; }, 120,
                                "the picture in view"))
            << shown;
        EXPECT_EQ(V()->index + 1, shown);
        const std::vector<Span> before = spans();
        ASSERT_EQ(before.size(), 4u) << "plate, slash and one digit each";
        for (const Span& p : before) EXPECT_GT(p.left, -640.0f) << "picture " << shown << ": the counter on screen";
        ASSERT_TRUE(FramesUntil([] { return V()->counterTimer >= 60; }, 80, "the counter's slide"));
        Frame(20);
        const std::vector<Span> after = spans();
        ASSERT_EQ(after.size(), 4u);
        for (size_t i = 0; i < after.size(); ++i) {
            EXPECT_EQ(after[i].left, before[i].left - 342.0f) << "picture " << shown << ", piece " << i;
            EXPECT_LT(after[i].right, -640.0f) << "picture " << shown << ", piece " << i << " left on the screen";
        }
        Press(BUTTON_DECIDE);
    }
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_GalleryModeCB && !W()->suspended; }, 90,
                            "the gallery again"));
    Frame(2);
    Close();
}

TEST_F(GalleryTest, NextAcrossCategoriesAndMissingPicture) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Unlock(2375);  // the last thumbnail of category 5
    Unlock(2096);  // category 0 thumbnail 4, picture 0: no file in the sample
    ASSERT_TRUE(Open());
    Press(EXTRAS_BUTTON_A);
    FramesUntil([] { return W()->step == 2; }, 30, "category 5");
    Press(EXTRAS_BUTTON_LEFT);
    FramesUntil([] { return G()->moveTask < 0; }, 20, "the scroll");
    ASSERT_EQ(G()->selection, 20);
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return V() && VW()->subState == 10; }, 120, "the viewer"));
    // Next goes to the first unlocked picture of category 0; the gallery
    // follows before the picture loads.
    Hold(EXTRAS_BUTTON_D);
    Frame();
    Release(EXTRAS_BUTTON_D);
    EXPECT_EQ(VW()->subState, 15);
    FramesUntil([] { return VW()->subState != 15; }, 5, "the gallery's selection");
    EXPECT_EQ(G()->category, 0);
    EXPECT_EQ(G()->selection, 4);
    EXPECT_EQ(G()->topRow, 0);
    EXPECT_EQ(V()->index, 0);
    // The missing picture still shows its counter and closes.
    ASSERT_TRUE(FramesUntil([] { return VW()->subState == 10; }, 60, "the missing picture"));
    Hold(BUTTON_CANCEL);
    Frame();
    Release(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_GalleryModeCB && !W()->suspended; }, 90,
                            "the gallery again"));
    EXPECT_EQ(G()->category, 0);
    EXPECT_EQ(G()->selection, 4);
    Frame(2);
    Close();
}

// A picture that failed to load (an expected case) still fades in and out:
// the fades run on the viewer's own alpha, not on the picture's colour.
TEST_F(GalleryTest, ViewerOnAMissingFirstPictureStillCloses) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Unlock(2096);  // category 0 thumbnail 4, picture 0: no file in the sample
    // The container's load fails too: the screen is still built, with the
    // unlocked cell a failed sprite.
    GSL_ModePush(GSL_GalleryModeCB, 0);
    Frame();
    ASSERT_TRUE(FailLoad(kGalleryThumbArc));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(SpriteTable[G()->state->cells[4]].flags & SPRITE_FAILED);
    EXPECT_TRUE(SpriteTable[G()->state->cells[0]].flags & SPRITE_COPY);
    Press(BUTTON_DOWN);
    ASSERT_EQ(G()->selection, 4);
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return V() && VW()->subState == 10; }, 60, "the viewer"));
    EXPECT_FALSE(Lib_SpriteIsLive(GSL_WorkLayerGet(GSL_GalleryViewModeCB, uint32_t(V()->layer))));
    EXPECT_EQ(SpriteTable[V()->state->counter[0]].color, 0xFFFFFFFFu);
    // Confirm: the other picture is locked, so the viewer closes.
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_GalleryModeCB && !W()->suspended; }, 60,
                            "the gallery again"));
    EXPECT_EQ(G()->selection, 4);
    Frame(2);
    Close();
}

// Without the main initialisation's preloads the wipe's rule is read when
// the picture changes; when that read fails the change still completes. The
// next picture of the same size keeps the panned position.
TEST_F(GalleryTest, MissingWipeRuleStillChangesThePictureAndKeepsThePan) {
    if (IsSkipped()) return;
    ASSERT_TRUE(SampleData());
    Messages();
    StartMinimal();
    SetBody(0, [] {});
    ASSERT_NE(MakeContext(TestScreen(0)), nullptr);
    Frame();
    std::memset(SystemDataBlock.eventUnlock, 0, sizeof SystemDataBlock.eventUnlock);
    Unlock(2157);
    Unlock(2158);  // thumbnail 1: two pictures of 1280x1440
    ASSERT_TRUE(Open());
    Press(EXTRAS_BUTTON_RIGHT);
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return V() && VW()->subState == 10; }, 120, "the viewer"));
    EXPECT_EQ(V()->index, 0);
    Hold(BUTTON_DOWN);
    Frame(5);
    Release(BUTTON_DOWN);
    Frame();
    const int32_t first = GSL_WorkLayerGet(GSL_GalleryViewModeCB, uint32_t(V()->layer));
    const float panned = SpriteTable[first].posY;
    EXPECT_EQ(panned, -360.0f + 50.0f);
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return VW()->subState == 51; }, 30, "the wipe"));
    char rule[256];
    GSL_WipePathMake(rule);
    EXPECT_TRUE(FailLoad(rule));
    ASSERT_TRUE(FramesUntil([] { return VW()->subState == 10; }, 30, "the picture change"));
    EXPECT_EQ(V()->index, 1);
    EXPECT_EQ(V()->wipe, -1);
    const int32_t second = GSL_WorkLayerGet(GSL_GalleryViewModeCB, uint32_t(V()->layer));
    ASSERT_TRUE(Lib_SpriteIsLive(second));
    EXPECT_EQ(SpriteTable[second].color, 0xFFFFFFFFu);
    EXPECT_EQ(SpriteTable[second].posY, panned);
    EXPECT_EQ(GSL_WorkLayerGet(GSL_GalleryViewModeCB, uint32_t(V()->layer ^ 1)), -1);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_GalleryModeCB && !W()->suspended; }, 90,
                            "the gallery again"));
    Frame(2);
    Close();
}

// Stored pictures: the page after its count-up (complete, partly unlocked
// and locked thumbnails), a frame in the middle of a category change's zoom,
// and the viewer with a picture, its counter and buttons. The badges are
// held still.
TEST_F(GalleryTest, ReferencePictures) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Fonts());
    Unlock(2105);  // complete
    Unlock(2158);  // [locked, unlocked]
    Unlock(2130);  // one of two
    ASSERT_TRUE(Open());
    auto still = [] {
        for (int32_t slot : G()->state->sways)
            if (auto* w = reinterpret_cast<SwayWork*>(GSL_WidgetWorkGet(slot, GSL_SystemFbSetCB))) {
                w->speedMin = w->speedMax = 0;
                w->angle1 = w->angle2 = 0;
            }
    };
    still();
    Frame();
    EXPECT_TRUE(MatchesReference("gallery_page"));
    Press(EXTRAS_BUTTON_D);
    ASSERT_EQ(W()->step, 3);
    Frame(2);
    EXPECT_TRUE(MatchesReference("gallery_zoom"));
    FramesUntil([] { return W()->step == 2; }, 30, "category 1");
    Press(EXTRAS_BUTTON_A);
    FramesUntil([] { return W()->step == 2; }, 30, "category 0");
    still();
    Press(EXTRAS_BUTTON_RIGHT);
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return V() && VW()->subState == 10; }, 120, "the viewer"));
    Frame(2);  // the pan arrows show where the picture goes on
    EXPECT_TRUE(MatchesReference("gallery_viewer"));
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == GSL_GalleryModeCB && !W()->suspended; }, 90,
                            "the gallery again"));
    Frame(2);
    Close();
}

}  // namespace
