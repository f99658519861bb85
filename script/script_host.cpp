#include "script/script_host.h"

#include "engine/core/host_table.h"
#include "engine/files/message_table.h"
#include "script/choice_cmds.h"
#include "script/flow.h"
#include "script/game_blocks.h"
#include "script/msg_scroll.h"
#include "script/replay.h"
#include "script/saved_position.h"
#include "script/script_report.h"
#include "script/script_task.h"
#include "script/staffroll.h"
#include "ui/mode.h"

// process-wide (SystemDataBlock, GameStateBlock): loaded by the save system's start and each
// story's
SystemData SystemDataBlock;
GameState GameStateBlock;
uint32_t StoryPlayMode = 0;
uint32_t SpecialScenarioFlag = 0;

namespace {
const ScriptHost kDefaults = {
    [](const char*, int32_t, int8_t) { return int32_t(0); },
    [](const char*, int32_t, int8_t) { return int32_t(0); },
    [](uint8_t) { return false; },
};
// process-wide: installed by Main_ScreenCallsSet
ScriptHost g_host = kDefaults;
}  // namespace

void GSL_ScriptHostSet(const ScriptHost* host) {
    Lib_HostTableSet(g_host, host, kDefaults, &ScriptHost::accessFlagGal, &ScriptHost::accessFlagBgm,
                     &ScriptHost::storyFlagTest);
}

const ScriptHost& GSL_ScriptHost() { return g_host; }

int32_t GSL_ScriptStoryTask() {
    const ScreenWork* w = GSL_ScreenWork(SCREEN_STORY);
    return w ? w->tasks[0] : -1;
}

bool GSL_ScriptStoryPresent() { return GSL_ScreenWork(SCREEN_STORY) != nullptr; }

ScreenWork* GSL_ScriptStoryWork() {
    ScreenWork* w = GSL_ScreenWork(SCREEN_STORY);
    return w && !w->released ? w : nullptr;
}

int32_t GSL_ScriptStoryLayerSprite(int32_t layerSlot) {
    const ScreenWork* w = GSL_ScriptStoryWork();
    return w && layerSlot >= 0 && layerSlot < kScreenLayers ? w->layers[layerSlot].handle : -1;
}

void GSL_ScriptRunStateReset() {
    StoryPlayMode = 0;
    SpecialScenarioFlag = 0;
    GSL_ScriptReportReset();
    GSL_ScriptArcForget();
    GSL_ScriptTagLimitLogReset();
    GSL_CallStateReset();
    ChoiceList = {};
    GSL_ReplayReset();
    GSL_SavedScriptsForget();
    MessageScrollTask = -1;
    StaffrollTask = -1;
}
