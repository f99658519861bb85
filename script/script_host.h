// What the script engine asks of the layers above it (the story screen, the
// staff roll, the access flags, the screen contexts). The top layer fills the
// table at start-up; an empty entry gives the answer of "nothing there".
#pragma once

#include <cstdint>

struct ScreenWork;

struct ScriptHostTable {
    // The story screen's play mode (bit 1 skip, bit 4 auto).
    uint32_t (*playMode)();
    // True while the staff roll runs.
    bool (*staffrollIsActive)();
    // Non-zero while a special scenario runs.
    int32_t (*specialScenario)();
    // Flags a gallery picture of that name (mode 1: unlocked).
    int32_t (*accessFlagGal)(const char* name, int32_t id, int8_t op);
    // The task in slot 0 of the story screen's work context, -1 when there
    // is no story screen.
    int32_t (*storyTask)();
    // True when the story screen has a work context.
    bool (*storyPresent)();
    // The sprite in a layer slot of the story screen's work context, or -1.
    int32_t (*storyLayerSprite)(int32_t layerSlot);
    // The story screen's work context while its handles are its own, or null.
    ScreenWork* (*storyWork)();
    // The story screen's flag word AND mask is non-zero (false without one).
    bool (*storyFlagTest)(uint8_t mask);
    // Flags a music track of that path (mode 1: unlocked).
    int32_t (*accessFlagBgm)(const char* name, int32_t id, int8_t op);
};

extern ScriptHostTable ScriptHost;

uint32_t GSL_ScriptPlayMode();
bool GSL_ScriptStaffrollActive();
int32_t GSL_ScriptSpecialScenario();
int32_t GSL_ScriptStoryTask();
bool GSL_ScriptStoryPresent();
int32_t GSL_ScriptStoryLayerSprite(int32_t layerSlot);
ScreenWork* GSL_ScriptStoryWork();
bool GSL_ScriptStoryFlagTest(uint8_t mask);
