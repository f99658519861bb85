// The whole program on the sample (the R18 edition) with a system slot
// written by tools/save_data.py as `run_sample.sh --extras` writes it: from
// the title's extras submenu to the gallery, the viewer, the next picture, a
// pan and back, and cancel to the title with its music; then the music room
// (play, louder, quieter, stop, back) and the special-scenario menu (scenario 1 runs on the story screen to its end, the
// menu comes back with the title track, back). Only the first seven
// thumbnails of category 0 are used, which both editions share.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "extras/extras_screens.h"
#include "extras/extras_skeleton.h"
#include "extras/gallery.h"
#include "extras/music_room.h"
#include "extras/special_menu.h"
#include "platform/plat_input.h"
#include "platform/plat_store.h"
#include "screens/boot.h"
#include "screens/title.h"
#include "script/script_task.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C, kKeyX = 0x2D, kKeyD = 0x20, kKeyDown = 0xD0;
constexpr uint8_t kKeyQ = 0x10, kKeyW = 0x11;

std::function<void(PlatInputState&)> Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}
using program_title::kIdle;

const GalleryHead* G() { return GSL_GalleryHead(GSL_WorkGet(GSL_GalleryModeCB)); }
const GalleryViewHead* V() { return GSL_GalleryViewHead(GSL_WorkGet(GSL_GalleryViewModeCB)); }
bool Viewing() {
    const ScreenWork* w = GSL_WorkGet(GSL_GalleryViewModeCB);
    return GSL_ModeTop() == GSL_GalleryViewModeCB && w && w->step == VIEW_STEP_MAIN && w->subState == VIEW_SHOW;
}
bool GalleryMain() {
    const ScreenWork* w = GSL_WorkGet(GSL_GalleryModeCB);
    return GSL_ModeTop() == GSL_GalleryModeCB && w && !w->suspended && w->step == EXTRAS_STEP_MAIN && G()->moveTask < 0;
}
MusicHead* M() { return GSL_MusicHead(GSL_WorkGet(GSL_MusicRoomModeCB)); }
bool MusicMain() {
    const ScreenWork* w = GSL_WorkGet(GSL_MusicRoomModeCB);
    return GSL_ModeTop() == GSL_MusicRoomModeCB && w && w->step == EXTRAS_STEP_MAIN;
}
bool SpecialMain() {
    const ScreenWork* w = GSL_WorkGet(GSL_SpecialModeCB);
    return GSL_ModeTop() == GSL_SpecialModeCB && w && w->step == EXTRAS_STEP_MAIN;
}
bool TitleBack() { return program_title::TitleMenuUp(); }
using program_title::Choose;
float PictureY() {
    const GalleryViewHead* v = V();
    const int32_t s = v ? GSL_WorkLayerGet(GSL_GalleryViewModeCB, uint32_t(v->layer)) : -1;
    return Lib_SpriteIsLive(s) ? SpriteTable[s].posY : -9999.0f;
}

TEST(GalleryProgram, TitleGalleryViewerAndBack) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    ProgramRun run;
    run.before = [] {
        // The user folder is named by the store's user id.
        ASSERT_TRUE(Store_Init());
        const std::string folder = "user/" + std::to_string(Store_UserId()) + "/save";
        Store_Shutdown();
        const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/save_data.py system " + folder +
                                " --var 15=1 --var 16=1 --event 2105 --event 2158"
                                " --var 0=1 --var 1=1 --var 2=1 --var 3=1 --var 4=1"
                                " --track 0 --track 1 --track 16 --track 18 --track 20";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    };
    float startY = 0, pannedY = 0;
    int32_t selectionBack = -1;
    bool musicBack = false;
    std::string debug;
    struct Music {
        bool played = false, stopped = false, closed = false;
        int32_t volume = -1, louder = -1, quieter = -1;
    } music;
    struct Special {
        bool story = false, flagDuring = false, back = false, titleTrack = false, closed = false;
        int32_t selected = -1;
    } special;
    // While the story is on top the reader confirms every other frame, for
    // as long as the story takes (its loads run on their own thread).
    int32_t readFrames = 0;
    const auto read = [&readFrames] {
        PlatInputState in = Plat_InputIdle();
        in.focus = 1;
        if (GSL_ModeTop() == GSL_StoryModeCB && ++readFrames % 2 == 0) in.keys[kKeyZ] = kPlatDown;
        Plat_InputInject(in);
    };
    std::vector<ProgramRun::Step> steps;
    program_title::ToTitleMenu(steps);
    Choose(steps, TITLE_ITEM_EXTRAS);
    Choose(steps, TITLE_ITEM_GALLERY);
    const std::vector<ProgramRun::Step> gallery = {
        {"the gallery after its count-up",
         [&] {
             const ScreenWork* w = GSL_WorkGet(GSL_GalleryModeCB);
             debug = std::to_string(GSL_ModeCount()) + " top " + (GSL_ModeTop() == GSL_TitleModeCB ? "title" : "?") +
                     " var15 " + std::to_string(SystemDataBlock.systemVars[15]) +
                     (w ? " step " + std::to_string(w->step) + "/" + std::to_string(w->subState) : "");
             return GalleryMain();
         },
         Key(kKeyZ), 900},
        {"the viewer on thumbnail 0", Viewing, Key(kKeyD)},
        {"the next unlocked picture, thumbnail 1's second",
         [&] {
             if (!Viewing() || G()->selection != 1) return false;
             startY = PictureY();
             return V()->index == 1;
         },
         Key(kKeyDown)},
        {"panned down", [&] {
             pannedY = PictureY();
             return true;
         },
         Key(kKeyX)},
        {"back in the gallery on thumbnail 1",
         [&] {
             if (!GalleryMain()) return false;
             selectionBack = G()->selection;
             return true;
         },
         kIdle},
        {"cancel", nullptr, Key(kKeyX)},
        {"the title with its music again",
         [&] {
             const ScreenWork* title = GSL_WorkGet(GSL_TitleModeCB);
             debug = std::string("top title ") + (GSL_ModeTop() == GSL_TitleModeCB ? "y" : "n") + " susp " +
                     std::to_string(title ? title->suspended : -1) + " snd " + std::to_string(Lib_SoundStateGet(0)) +
                     " path " + SoundChannelTable[0].st.path + " gal " + (GSL_WorkGet(GSL_GalleryModeCB) ? std::to_string(GSL_WorkGet(GSL_GalleryModeCB)->step) + "/" + std::to_string(GSL_WorkGet(GSL_GalleryModeCB)->subState) + " mv " + std::to_string(G()->moveTask) + " drag " + std::to_string(G()->state ? G()->state->drag.dragging : 9) : "n");
             if (!TitleBack()) return false;
             musicBack = Lib_SoundStateGet(0) == SOUND_PLAYING && !GSL_WorkGet(GSL_GalleryModeCB);
             return musicBack;
         },
         kIdle, 300},
    };
    steps.insert(steps.end(), gallery.begin(), gallery.end());
    Choose(steps, TITLE_ITEM_MUSIC_ROOM);
    const std::vector<ProgramRun::Step> room = {
        {"the music room after its count-up", MusicMain, Key(kKeyZ), 600},
        {"record 0 playing",
         [&] {
             if (M()->playing != 0 || Lib_SoundStateGet(0) != SOUND_PLAYING) return false;
             music.played = true;
             music.volume = M()->volume;
             return true;
         },
         Key(kKeyW), 1800},
        {"let go", nullptr, kIdle},
        {"louder", [&] {
             music.louder = M()->volume;
             return true;
         },
         Key(kKeyQ)},
        {"let go", nullptr, kIdle},
        {"quieter", [&] {
             music.quieter = M()->volume;
             return true;
         },
         Key(kKeyZ)},
        {"the track faded out",
         [&] {
             music.stopped = M()->playing == -1 && Lib_SoundStateGet(0) == 0;
             return music.stopped;
         },
         Key(kKeyX), 900},
        {"the title after the music room",
         [&] {
             music.closed = TitleBack() && !GSL_WorkGet(GSL_MusicRoomModeCB);
             return music.closed;
         },
         nullptr, 300},
    };
    steps.insert(steps.end(), room.begin(), room.end());
    Choose(steps, TITLE_ITEM_SPECIAL);
    const std::vector<ProgramRun::Step> menu = {
        {"the special menu after its count-up", SpecialMain, Key(kKeyZ), 600},
        {"scenario 1 on the story screen",
         [&] {
             if (GSL_ModeTop() != GSL_StoryModeCB) return false;
             const char* file = GSL_ScriptTaskFileName(GSL_WorkTaskGet(GSL_StoryModeCB));
             special.story = file && std::string(file) == "special.txt";
             special.flagDuring = SpecialScenarioFlag == 1;
             return special.story;
         },
         nullptr, 900},
    };
    steps.insert(steps.end(), menu.begin(), menu.end());
    steps.push_back({"the menu back after the scenario",
                     [&] {
                         if (!SpecialMain() || SpecialScenarioFlag != 0) {
                             read();
                             return false;
                         }
                         special.back = true;
                         special.selected = GSL_SpecialHead(GSL_WorkGet(GSL_SpecialModeCB))->selected;
                         special.titleTrack = Lib_SoundStateGet(0) == SOUND_PLAYING &&
                                              std::string(SoundChannelTable[0].st.path).find("uillmere.oggl") !=
                                                  std::string::npos;
                         return true;
                     },
                     Key(kKeyX), 1800});
    steps.push_back({"the title after the special menu",
                     [&] {
                         special.closed = TitleBack() && !GSL_WorkGet(GSL_SpecialModeCB);
                         return special.closed;
                     },
                     kIdle, 300});
    const int code = run.Run(steps);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "") << debug;
    EXPECT_EQ(startY, -360.0f);
    EXPECT_GT(pannedY, startY);
    EXPECT_EQ(selectionBack, 1);
    EXPECT_TRUE(musicBack);
    EXPECT_TRUE(music.played);
    EXPECT_EQ(music.louder, music.volume + 1);
    EXPECT_EQ(music.quieter, music.volume);
    EXPECT_TRUE(music.stopped);
    EXPECT_TRUE(music.closed);
    EXPECT_TRUE(special.story);
    EXPECT_TRUE(special.flagDuring);
    EXPECT_TRUE(special.back);
    EXPECT_EQ(special.selected, 0);
    EXPECT_TRUE(special.titleTrack);
    EXPECT_TRUE(special.closed);
}

}  // namespace
