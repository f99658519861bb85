#include "script/script_host.h"

#include "engine/files/message_table.h"
#include "script/game_blocks.h"

SystemData SystemDataBlock;
GameState GameStateBlock;

ScriptHostTable ScriptHost;

uint32_t GSL_ScriptPlayMode() { return ScriptHost.playMode ? ScriptHost.playMode() : 0; }
bool GSL_ScriptStaffrollActive() { return ScriptHost.staffrollIsActive && ScriptHost.staffrollIsActive(); }
int32_t GSL_ScriptSpecialScenario() { return ScriptHost.specialScenario ? ScriptHost.specialScenario() : 0; }
int32_t GSL_ScriptStoryTask() { return ScriptHost.storyTask ? ScriptHost.storyTask() : -1; }
bool GSL_ScriptStoryPresent() { return ScriptHost.storyPresent && ScriptHost.storyPresent(); }
int32_t GSL_ScriptStoryLayerSprite(int32_t layerSlot) {
    return ScriptHost.storyLayerSprite ? ScriptHost.storyLayerSprite(layerSlot) : -1;
}
ScreenWork* GSL_ScriptStoryWork() { return ScriptHost.storyWork ? ScriptHost.storyWork() : nullptr; }
bool GSL_ScriptStoryFlagTest(uint8_t mask) { return ScriptHost.storyFlagTest && ScriptHost.storyFlagTest(mask); }
