// The music room on the sample's sheets, titles and tracks, through the
// screen harness and the full main initialisation: opened above an idle
// screen, as the title opens it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/font.h"
#include "extras/music_room.h"
#include "story/access_flags.h"
#include "story/catalogue.h"
#include "story/game_state.h"
#include "tests/ui/screen_harness.h"
#include "ui/layout_table.h"
#include "ui/number_display.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"

namespace {

class MusicRoomTest : public ScreenHarness {
protected:
    bool Start(int32_t musicVolume = 80) {
        if (!SampleData()) return false;
        Messages();
        StartFull();
        ModeStack[0] = nullptr;
        SetBody(0, [] {});
        if (!MakeContext(TestScreen(0))) return false;
        Frame();
        std::memset(SystemDataBlock.musicUnlock, 0, sizeof SystemDataBlock.musicUnlock);
        SystemDataBlock.musicVolume = uint8_t(musicVolume);
        SystemDataBlock.systemVolume = 70;
        return true;
    }
    bool Open() {
        GSL_ModePush(GSL_MusicRoomModeCB, 0);
        return FramesUntil([] { return H() && W()->step == 2; }, 500, "the music room's main step");
    }
    // Cancel until the room has closed: the first stops a playing track.
    void Leave() {
        for (int i = 0; i < 4 && W(); ++i) {
            Press(BUTTON_CANCEL);
            FramesUntil([] { return !W() || Lib_SoundStateGet(0) == 0; }, 120, "a quiet channel");
        }
        FramesUntil([] { return !W(); }, 120, "the room closed");
        Frame(2);
    }
    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame();
    }
    static ScreenWork* W() { return GSL_WorkGet(GSL_MusicRoomModeCB); }
    static MusicHead* H() { return GSL_MusicHead(W()); }
    static void Hear(int32_t record) { StoryAccessFlagBGM(GSL_BgmTrackGet(record).name, -1, 1); }
    static std::string LastSe() { return SoundChannelTable[19 + (SystemSeRotation + 2) % 3].st.path; }
    static std::string Title(int32_t slot) {
        const int32_t t = H()->state->titles[slot];
        return t >= 0 && TextTable[t] ? TextTable[t]->text : "";
    }
    static std::string SysText(uint32_t section, uint32_t index) {
        char text[kMesTextSize];
        GSL_SysTextGet(&SysgraMesTable, section, index, 0, text, sizeof text);
        return text;
    }
    static float Volume(int32_t c) { return SoundChannelTable[c].st.volume.load(); }
    static const SpriteRecord& Sprite(int32_t s) { return SpriteTable[s]; }
    static int32_t Slot(uint32_t n) { return GSL_WorkLayerGet(GSL_MusicRoomModeCB, n); }
};

TEST_F(MusicRoomTest, CountingDisplayOrderAndWhatEachSlotPlays) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Fonts(1));  // the titles are measured
    Hear(18);
    ASSERT_TRUE(Open());
    const MusicHead* h = H();
    EXPECT_EQ(GSL_SystemNumWork(h->number)->value, 4);  // (100 * 1) / 21
    int32_t unknown = 0;
    for (int32_t i = 0; i < 16; ++i) unknown += Title(i) == "? ? ?";
    EXPECT_EQ(unknown, 16);  // record 18 is on page 1
    EXPECT_EQ(GSL_MusicRate(), 4);

    // Page 1: slots 0..4 show 17, 20, 18, 21, 19 and hold records 16..20;
    // slot 2 (record 18) is the only one heard, numbered 18.
    Press(128);
    ASSERT_TRUE(FramesUntil([] { return W()->step == 2; }, 40, "the page change"));
    EXPECT_EQ(GSL_MusicGetPage(), 1);
    EXPECT_EQ(GSL_MusicRowCount(), 3);
    const int32_t shown[5] = {17, 20, 18, 21, 19};
    for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(GSL_MusicDisplayIndex(i, 5) + 17, shown[i]) << i;
    EXPECT_EQ(Title(2), "18." + SysText(4, 17));
    EXPECT_EQ(SysText(4, 17), " Quillmere");
    EXPECT_EQ(Title(0), "? ? ?");
    EXPECT_EQ(H()->state->titles[5], -1);

    // Every title names the track its slot plays: record 1 sits in slot 1
    // of page 0 and shows number 09 with title 4/8.
    const int32_t all = GSL_MusicRate();
    for (int32_t k = 0; k < 21; ++k) Hear(k);
    EXPECT_EQ(all, 4);
    EXPECT_EQ(GSL_MusicRate(), 100);
    Press(64);
    ASSERT_TRUE(FramesUntil([] { return W()->step == 2 && GSL_MusicGetPage() == 0; }, 40, "page 0"));
    EXPECT_EQ(Title(1), "09." + SysText(4, 8));
    EXPECT_EQ(SysText(4, 8), " Where the Wind Goes");  // record 1's title
    EXPECT_EQ(Title(2), "02." + SysText(4, 1));
    EXPECT_EQ(SysText(4, 1), " Dova's Theme");  // record 2's title
    // Record 15's title is wider than 500 at half scale: it is narrowed.
    EXPECT_EQ(Title(15), "16.#Size[0.4,0.50]" + SysText(4, 15) + "#Size[0.50,0.50]");

    // Slot 1 plays record 1 and the icon stands 294 px left of its button.
    Press(16384);  // Right
    EXPECT_EQ(H()->cursor, 1);
    Press(BUTTON_DECIDE);
    EXPECT_EQ(H()->playing, 1);
    EXPECT_EQ(std::string(SoundChannelTable[0].st.path), "sound/bgm/" + std::string(GSL_BgmTrackGet(1).name) + ".oggl");
    const ScreenSoundSlot& slot = W()->sounds[0];
    EXPECT_EQ(slot.handle, 0);
    EXPECT_EQ(slot.restoreKind, 1);
    EXPECT_EQ(slot.releaseFade, 0u);
    EXPECT_EQ(slot.extra, -1);
    EXPECT_EQ(SoundChannelTable[0].st.repeat.load(), -1);
    EXPECT_EQ(SoundChannelTable[0].st.fadeInFrames.load(), 0u);
    for (int32_t c = 19; c <= 22; ++c) EXPECT_EQ(Volume(c), 0.0f) << c;
    Frame();
    const SpriteRecord& icon = Sprite(Slot(7));
    EXPECT_TRUE(icon.visible);
    EXPECT_FLOAT_EQ(icon.posX, Sprite(H()->state->buttons[1]).posX - 294.0f);
    EXPECT_FLOAT_EQ(icon.posY, Sprite(H()->state->buttons[1]).posY);
    EXPECT_EQ(icon.color, 0xFF00FFFFu);
    Press(16384);
    EXPECT_EQ(Sprite(Slot(7)).color, 0xFFFFFFFFu);

    // On page 1 the icon is hidden, back on page 0 it stands by its slot.
    Press(128);
    ASSERT_TRUE(FramesUntil([] { return W()->step == 2; }, 40, "page 1"));
    Frame();
    EXPECT_FALSE(Sprite(Slot(7)).visible);
    Press(128);
    ASSERT_TRUE(FramesUntil([] { return W()->step == 2 && GSL_MusicGetPage() == 0; }, 40, "page 0 again"));
    Frame();
    EXPECT_TRUE(Sprite(Slot(7)).visible);
    EXPECT_FLOAT_EQ(Sprite(Slot(7)).posX, Sprite(H()->state->buttons[1]).posX - 294.0f);
    Leave();
}

TEST_F(MusicRoomTest, CountUpTicksAndNavigation) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    for (int32_t k = 0; k < 21; ++k) Hear(k);
    GSL_ModePush(GSL_MusicRoomModeCB, 0);
    ASSERT_TRUE(FramesUntil([] { return H() && W()->step == 1 && W()->subState == 3; }, 400, "the count-up"));
    std::vector<int32_t> ticks;
    int32_t frame = 0;
    while (W()->step == 1 && frame < 60) {
        const int32_t rotation = SystemSeRotation;
        Frame();
        if (SystemSeRotation != rotation) ticks.push_back(frame * 3);
        ++frame;
    }
    EXPECT_EQ(GSL_SystemNumWork(H()->number)->value, 100);
    ASSERT_GE(ticks.size(), 17u);
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(ticks[i], int32_t(i) * 6);

    // Left at 0 gives the last slot; the previous page from 0 is page 1,
    // six frames down and five up with the titles hidden and the icon
    // task suspended.
    Press(4096);
    EXPECT_EQ(H()->cursor, 15);
    Hold(64);
    Frame();
    Release(64);
    Frame();  // the key task answers after the screen's step
    EXPECT_EQ(W()->step, 3);
    int32_t frames = 0;
    bool hiddenTitles = true, suspended = true;
    while (W()->step == 3 && frames < 30) {
        Frame();
        ++frames;
        if (W()->step != 3) break;
        const int32_t t = H()->state->titles[0];
        if (t >= 0 && H()->zoom < 1.0f && (TextTable[t]->state & 0x04)) hiddenTitles = false;
        const auto tasks = Tasks(IconWorkSetCB);
        if (tasks.size() != 1 || !TaskTable.slots[tasks[0]]->suspended) suspended = false;
    }
    EXPECT_EQ(frames, 12);  // 6 + 5 zoom frames and the resume
    EXPECT_TRUE(hiddenTitles);
    EXPECT_TRUE(suspended);
    EXPECT_EQ(GSL_MusicGetPage(), 1);
    EXPECT_FALSE(TaskTable.slots[Tasks(IconWorkSetCB)[0]]->suspended);
    // Page 1's five slots in two columns.
    H()->cursor = 3;
    Press(BUTTON_DOWN);
    EXPECT_EQ(H()->cursor, 4);
    H()->cursor = 1;
    Press(BUTTON_UP);
    EXPECT_EQ(H()->cursor, 4);
    Press(BUTTON_DOWN);
    EXPECT_EQ(H()->cursor, 0);
    Leave();
}

TEST_F(MusicRoomTest, PlaybackStopAndCancel) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Hear(0);
    ASSERT_TRUE(Open());
    Press(16384);  // slot 1: record 1, not heard
    Press(BUTTON_DECIDE);
    EXPECT_EQ(LastSe(), "error.wav");
    EXPECT_EQ(H()->playing, -1);
    Press(4096);
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    EXPECT_EQ(H()->playing, 0);
    for (int32_t c = 19; c <= 22; ++c) EXPECT_EQ(Volume(c), 0.0f) << c;
    Frame(3);
    ASSERT_NE(Lib_SoundStateGet(0), 0);
    // The volume keys are silent while a track plays.
    const int32_t rotation = SystemSeRotation, volume = H()->volume;
    Press(512);
    EXPECT_EQ(H()->volume, volume + 1);
    EXPECT_EQ(SystemSeRotation, rotation);
    // Confirm again: a 60-frame fade; the system sounds come back with the
    // first frame without a track.
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
    EXPECT_EQ(H()->playing, -1);
    EXPECT_EQ(SoundChannelTable[0].st.fadeOutFrames.load(), 60u);
    EXPECT_EQ(W()->sounds[0].handle, -1);
    Frame();
    for (int32_t c = 19; c <= 22; ++c) EXPECT_EQ(Volume(c), 70.0f) << c;
    // Cancel during the fade starts it again and the room stays.
    Frame(20);
    Press(BUTTON_CANCEL);
    EXPECT_EQ(W()->step, 2);
    EXPECT_EQ(SoundChannelTable[0].st.fadeOutFrames.load(), 60u);
    ASSERT_TRUE(FramesUntil([] { return Lib_SoundStateGet(0) == 0; }, 120, "the track's end"));
    Hold(BUTTON_CANCEL);
    Frame();
    Release(BUTTON_CANCEL);
    EXPECT_EQ(LastSe(), "cancel.wav");
    EXPECT_EQ(W()->step, 4);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the room closed"));
    EXPECT_EQ(GSL_ModeTop(), TestScreen(0));
    EXPECT_TRUE(Tasks(IconWorkSetCB).empty());
    Frame(2);
}

TEST_F(MusicRoomTest, VolumeRuleSliderAndRelease) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start(40));
    Hear(0);
    ASSERT_TRUE(Open());
    MusicHead* h = H();
    EXPECT_EQ(h->volume, 40);
    EXPECT_FLOAT_EQ(Sprite(Slot(10)).posX, 1.71f * 40 - 43.0f);
    const auto at = [&](int32_t v, int8_t d) {
        h->volume = v;
        GSL_MusicVolume(h, d, 0);
        return h->volume;
    };
    EXPECT_EQ(at(0, -1), 0);
    EXPECT_EQ(at(99, 5), 100);
    EXPECT_EQ(at(100, 1), 100);
    EXPECT_EQ(at(3, -5), 0);
    EXPECT_FLOAT_EQ(Volume(0), 0.0f);
    EXPECT_FLOAT_EQ(Volume(2), 0.0f);
    EXPECT_FLOAT_EQ(Sprite(Slot(10)).posX, -43.0f);

    // A slow drag of 171 px, one pixel a frame, moves 100 steps, and the
    // knob stays under the pointer.
    const SpriteRecord& knob = Sprite(Slot(10));
    const int32_t x0 = 640 + int32_t(knob.posX), y0 = 360 - int32_t(knob.posY);
    Pointer(x0, y0);
    Frame();
    Left(true);
    Frame();
    for (int32_t dx = 1; dx <= 171; ++dx) {
        Pointer(x0 + dx, y0);
        Frame();
    }
    EXPECT_EQ(h->volume, 100);
    EXPECT_NEAR(640 + Sprite(Slot(10)).posX, float(x0 + 171), 1.0f);
    Left(false);
    Frame(2);
    EXPECT_EQ(SystemDataBlock.musicVolume, 40);

    // Held W: a step on the press, then every frame from the 30th held
    // frame, "move" on every second step.
    h->volume = 50;
    Hold(512);
    std::vector<int32_t> steps, sounds;
    for (int32_t f = 0; f < 36; ++f) {
        const int32_t v = h->volume, r = SystemSeRotation;
        Frame();
        if (h->volume != v) steps.push_back(f);
        if (SystemSeRotation != r) sounds.push_back(f);
    }
    Release(512);
    Frame();
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps[1], steps[0] + 30);  // the key repeat's 30 frames after the press
    for (size_t i = 2; i < steps.size(); ++i) EXPECT_EQ(steps[i], steps[i - 1] + 1);
    EXPECT_EQ(sounds.size(), (steps.size() + 1) / 2);
    EXPECT_EQ(SystemDataBlock.musicVolume, 40);

    // Leaving brings the configured volumes back.
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return !W(); }, 90, "the room closed"));
    for (int32_t c = 0; c <= 2; ++c) EXPECT_FLOAT_EQ(Volume(c), 40.0f) << c;
    for (int32_t c = 19; c <= 22; ++c) EXPECT_FLOAT_EQ(Volume(c), 70.0f) << c;
}

TEST_F(MusicRoomTest, AVolumeAboveItsRangeOpensAtTheTopAndStillMoves) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start(200));
    ASSERT_TRUE(Open());
    EXPECT_EQ(H()->volume, 100);
    EXPECT_FLOAT_EQ(Sprite(Slot(10)).posX, 1.71f * 100 - 43.0f);
    Press(256);
    EXPECT_EQ(H()->volume, 99);
    EXPECT_EQ(SystemDataBlock.musicVolume, 200);
    Leave();
}

// A slot shows the lock state of the record it plays, not of its number:
// with record 1 heard, slot 1 (number 09) alone has a title on page 0.
// Record 17's English title holds a star, which the room's texts write as
// its add-glyph tag; it shows as number 20 in slot 1 of page 1. The sample's
// titles begin with a space that sets them apart from their numbers.
TEST_F(MusicRoomTest, LockStatesByRecordAndTheStarAsAnAddGlyph) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    const int32_t language = InterfaceLanguage;
    InterfaceLanguage = 1;
    Hear(1);
    Hear(17);
    ASSERT_TRUE(Open());
    EXPECT_EQ(Title(1), "09. Where the Wind Goes");
    int32_t unknown = 0;
    for (int32_t i = 0; i < 16; ++i) unknown += Title(i) == "? ? ?";
    EXPECT_EQ(unknown, 15);
    Press(128);
    ASSERT_TRUE(FramesUntil([] { return W()->step == 2; }, 40, "page 1"));
    const std::string title = Title(1);
    EXPECT_EQ(title.rfind("20. The Promised Sky ", 0), 0u) << title;
    EXPECT_NE(title.find("#Add[1]"), std::string::npos) << title;
    EXPECT_EQ(title.find("#Size["), std::string::npos) << title << ": drawn at the others' size";
    EXPECT_EQ(title.find("\xE2\x98\x86"), std::string::npos) << title;
    Leave();
    InterfaceLanguage = language;
}

TEST_F(MusicRoomTest, WithoutTheTitleTableNoTextsAndPlayingStillWorks) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    Hear(0);
    const MesTable saved = SysgraMesTable;
    SysgraMesTable.data = nullptr;
    ASSERT_TRUE(Open());
    EXPECT_EQ(GSL_WorkTextGet(GSL_MusicRoomModeCB, 0), -1);
    for (int32_t i = 0; i < 16; ++i) EXPECT_EQ(H()->state->titles[i], -1);
    Press(BUTTON_DECIDE);
    EXPECT_EQ(H()->playing, 0);
    Leave();
    SysgraMesTable = saved;
}

TEST_F(MusicRoomTest, ReferencePicture) {
    if (IsSkipped()) return;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Fonts());
    for (int32_t k : {0, 1, 2, 5, 8, 15, 18}) Hear(k);
    ASSERT_TRUE(Open());
    Press(BUTTON_DECIDE);  // record 0 plays
    Frame(3);
    EXPECT_TRUE(MatchesReference("music_room"));
    Leave();
}

}  // namespace
