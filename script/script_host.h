// What the script engine asks of the layers above it (the access flags and
// the story screen's flag word), the story state it reads (the play mode,
// the special scenario) and its views of the story screen's context, which
// it reaches through the screen registry below it. The top layer installs
// the host table whole at start-up; the defaults give the answer of
// "nothing there". The top layer also calls the layer's run-wide reset here.
#pragma once

#include <cstdint>

struct ScreenWork;

struct ScriptHost {
    // Flags a gallery picture of that name (mode 1: unlocked).
    int32_t (*accessFlagGal)(const char* name, int32_t id, int8_t op);
    // Flags a music track of that path (mode 1: unlocked).
    int32_t (*accessFlagBgm)(const char* name, int32_t id, int8_t op);
    // The story screen's flag word AND mask is non-zero (false without one).
    bool (*storyFlagTest)(uint8_t mask);
};
// Null restores the defaults; a null entry takes its default.
void GSL_ScriptHostSet(const ScriptHost* host);
const ScriptHost& GSL_ScriptHost();

// Puts the script layer's run-wide state back as a fresh process has it: the
// play mode, the special scenario, what the script report has told, the
// script pack's check, the pending call, the choice list, the replay (its
// buffer forgotten: the heap that held it is released) and the scroll and
// staff-roll tasks.
void GSL_ScriptRunStateReset();

// The story's play mode, written by the story screen and its system menu.
enum : uint32_t {
    PLAY_SKIP = 1,
    PLAY_AUTO = 4,
};
extern uint32_t StoryPlayMode;
// 1 while a special scenario runs (set by the special-scenario menu).
extern uint32_t SpecialScenarioFlag;

// The story screen's script task (-1 without a story context) and whether
// the context exists: both survive a release of the context, which only
// gives up its sprites, texts and sounds.
int32_t GSL_ScriptStoryTask();
bool GSL_ScriptStoryPresent();
// The story context while its handles are its own (not released), or null,
// and the sprite of one of its layer slots through it (-1).
ScreenWork* GSL_ScriptStoryWork();
int32_t GSL_ScriptStoryLayerSprite(int32_t layerSlot);
