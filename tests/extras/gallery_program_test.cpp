// The whole program on the sample with a system slot written by
// tools/save_data.py: from the logo (the title's place until the title
// exists) to the gallery, the viewer, the next picture, a pan and back, and
// cancel to the logo with its music. Only the first seven thumbnails of
// category 0 are used, which both editions share.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "extras/gallery.h"
#include "platform/plat_store.h"
#include "screens/boot.h"
#include "story/game_state.h"
#include "tests/ui/screen_harness.h"
#include "ui/screen_slots.h"

namespace {
constexpr uint8_t kKeyZ = 0x2C, kKeyX = 0x2D, kKeyD = 0x20, kKeyDown = 0xD0;

std::function<void(PlatInputState&)> Key(uint8_t key) {
    return [key](PlatInputState& in) { in.keys[key] = kPlatDown; };
}
const std::function<void(PlatInputState&)> kIdle = [](PlatInputState&) {};

const GalleryHead* G() { return GSL_GalleryHead(GSL_WorkGet(GSL_GalleryModeCB)); }
const GalleryViewHead* V() { return GSL_GalleryViewHead(GSL_WorkGet(GSL_GalleryViewModeCB)); }
bool Viewing() {
    const ScreenWork* w = GSL_WorkGet(GSL_GalleryViewModeCB);
    return GSL_ModeTop() == GSL_GalleryViewModeCB && w && w->step == 1 && w->subState == 10;
}
bool GalleryMain() {
    const ScreenWork* w = GSL_WorkGet(GSL_GalleryModeCB);
    return GSL_ModeTop() == GSL_GalleryModeCB && w && !w->suspended && w->step == 2 && G()->moveTask < 0;
}
float PictureY() {
    const GalleryViewHead* v = V();
    const int32_t s = v ? GSL_WorkLayerGet(GSL_GalleryViewModeCB, uint32_t(v->layer)) : -1;
    return Lib_SpriteIsLive(s) ? SpriteTable[s].posY : -9999.0f;
}

TEST(GalleryProgram, LogoGalleryViewerAndBack) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    ProgramRun run;
    run.before = [] {
        // The user folder is named by the store's user id.
        ASSERT_TRUE(Store_Init());
        const std::string folder = "user/" + std::to_string(Store_UserId()) + "/save";
        Store_Shutdown();
        const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/save_data.py system " + folder +
                                " --var 15=1 --var 16=1 --event 2105 --event 2158";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    };
    float startY = 0, pannedY = 0;
    int32_t selectionBack = -1;
    bool musicBack = false;
    std::string debug;
    const int code = run.Run({
        {"the logo", [] { return GSL_ModeTop() == GSL_LogoModeCB && Lib_SoundStateGet(0) == SOUND_PLAYING; },
         Key(kKeyD)},
        {"the gallery after its count-up",
         [&] {
             const ScreenWork* w = GSL_WorkGet(GSL_GalleryModeCB);
             debug = std::to_string(GSL_ModeCount()) + " top " + (GSL_ModeTop() == GSL_LogoModeCB ? "logo" : "?") +
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
        {"the logo with its music again",
         [&] {
             const ScreenWork* logo = GSL_WorkGet(GSL_LogoModeCB);
             debug = std::string("top logo ") + (GSL_ModeTop() == GSL_LogoModeCB ? "y" : "n") + " susp " +
                     std::to_string(logo ? logo->suspended : -1) + " snd " + std::to_string(Lib_SoundStateGet(0)) +
                     " path " + SoundChannelTable[0].st.path + " gal " + (GSL_WorkGet(GSL_GalleryModeCB) ? std::to_string(GSL_WorkGet(GSL_GalleryModeCB)->step) + "/" + std::to_string(GSL_WorkGet(GSL_GalleryModeCB)->subState) + " mv " + std::to_string(G()->moveTask) + " drag " + std::to_string(G()->state ? G()->state->drag.dragging : 9) : "n");
             if (GSL_ModeTop() != GSL_LogoModeCB || !logo || logo->suspended) return false;
             musicBack = Lib_SoundStateGet(0) == SOUND_PLAYING && !GSL_WorkGet(GSL_GalleryModeCB);
             return musicBack;
         },
         kIdle, 300},
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(run.failed, "") << debug;
    EXPECT_EQ(startY, -360.0f);
    EXPECT_GT(pannedY, startY);
    EXPECT_EQ(selectionBack, 1);
    EXPECT_TRUE(musicBack);
}

}  // namespace
