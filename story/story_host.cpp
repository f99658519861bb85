#include "story/story_host.h"

#include "engine/core/host_table.h"
#include "engine/movie/movie.h"
#include "story/config.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "story/story_play.h"
#include "story/story_window.h"

namespace {
const StoryHost kDefaults = {
    [](int32_t, int32_t*) { return int32_t(-1); },
};
// process-wide: installed by Main_ScreenCallsSet
StoryHost g_host = kDefaults;
}  // namespace

void GSL_StoryHostSet(const StoryHost* host) {
    Lib_HostTableSet(g_host, host, kDefaults, &StoryHost::optionLabels);
}

const StoryHost& GSL_StoryHost() { return g_host; }

void GSL_StoryRunStateReset() {
    SystemDataFresh = 0;
    GSL_QuickDataReset();
    SaveQuickGDGuard = -1;
    ShowQuickGDTask = -1;
    GSL_ConfigFontStateReset();
    StoryExitRequest = STORY_EXIT_NONE;
    StoryStartMode = -1;
    StoryCoverSprite = -1;
    GuideTaskId = -1;
    StoryHoldPictTask = -1;
    GSL_StoryWindowReset();
    MovieVolume.store(1.0f);
}
