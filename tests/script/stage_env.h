// The stage harness: the screen harness with a story context in which scripts
// run through the real interpreter task and the real scheduler. Script
// containers are packed by the scenario writer (or written raw, for damaged
// members) and cached as the preload leaves them; the story stand-in's
// context holds the task in task slot 0 and the layer sprites the script
// engine looks at, through the start-up wiring. A recorder on the trace hook
// lists every executed tag; test handlers go in through the command-table
// seam. The script tests that need a real screen, and the story tests, use it.
//
// The story stand-in itself does not run (no mode task): the harness owns its
// context. StartInput() adds the input task for tests that press keys.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "script/script_task.h"
#include "tests/ui/screen_harness.h"
#include "ui/mode.h"

class StageEnv : public ScreenHarness {
protected:
    void SetUp() override;
    void TearDown() override;

public:
    // The named-cache heap's size in MiB, read by SetUp (0: the screen
    // harness's 64 MiB). Picture loads through the cache need well above 64.
    uint64_t cacheHeapMiB = 0;

    using Sources = std::vector<std::pair<std::string, std::string>>;

    // --- scripts ------------------------------------------------------------
    // Packs UTF-8 sources with `tools/pack.py script` and caches the container
    // as "script/script.arc" (complete, tag 2). False when the writer refuses.
    bool Scripts(const Sources& sources);
    // A container of members written byte for byte (damaged or UTF-8 scripts).
    void Raw(const Sources& members);
    // Caches bytes as the script container, in place of an earlier one.
    void Cache(const std::string& bytes);

    // --- the story ----------------------------------------------------------
    ScreenWork* Story() const;
    // Removes the story context (and the stand-in from the stack).
    void NoStory();
    // Starts the script task for a file through the creation function and
    // records it in task slot 0 of the story context.
    int32_t Start(const char* file, uint32_t start = 0, uint32_t restart = 0);
    int32_t slot = -1;
    bool Alive() const { return GSL_ScriptTaskWork(slot) != nullptr; }
    ScriptTaskWork* Work() const { return GSL_ScriptTaskWork(slot); }
    void Finish() const;
    // The screen harness's frame, counted.
    void Frame(int n = 1);
    int frame = 0;
    // The input task alone, so that injected keys reach the engine buttons.
    void StartInput();
    // Presses the confirm key for one frame, then lets it go (the input task
    // starts with the first use).
    void Confirm();
    // The pointer to (x, y) for a frame, then the left button pressed and
    // released there, a frame each: a click on the story screen.
    void ClickScreen(int32_t x, int32_t y);
    // Lays the story screen's texts 0..5 out after every frame, as the
    // drawing pass does, so that their reveal runs.
    bool drawTexts = false;
    // Frames until a choice menu waits for the player, then Up (the first
    // choice), i Downs and a confirm, one press a frame. False when no menu
    // waits within limit frames.
    bool ChooseMenu(int32_t i, int limit = 300);
    // The story screen's history restore of read line n (the last one when
    // n < 0) into the game state, then a new script task there, with the
    // real handlers. -1 when the restore refuses the line.
    int32_t RestoreAt(int32_t n);
    // The input task, the frame's drawing tasks and the wipe programs, for
    // tests whose wipes capture the screen.
    void StartDrawing();

    // --- what ran -----------------------------------------------------------
    struct Executed {
        int frame;
        std::string file;
        uint32_t offset;  // of the tag's '<'
        int32_t index;
        std::vector<std::string> args;
        uint32_t status;
    };
    std::vector<Executed> executed;
    std::vector<std::string> Names() const;
    // True when the debug log has held a line containing part.
    bool Logged(const std::string& part);

    // --- test handlers ------------------------------------------------------
    // Puts a handler at an index of a copy of the command table.
    void Handler(int32_t index, CommandHandler fn);

    // --- fakes (no GL, no worker) -------------------------------------------
    // A sprite record of a free sprite slot in a story layer slot, written
    // directly: flags, a texture size, scale 1.
    SpriteRecord& LayerSprite(uint32_t layerSlot, uint8_t flags, int32_t width = 0, int32_t height = 0);
    // A sound channel record in a story sound slot, set directly. No
    // platform voice plays behind it, so the sound worker releases a channel
    // in state SOUND_PLAYING at its next pass; SOUND_STARTING (no start
    // request) stays, and stands for a voice still sounding.
    SoundChannel& SoundSlot(uint32_t soundSlot, int32_t channel, int32_t state, float volume = 100.0f);
    // The script (and system) message tables from vndata sources, written by
    // `tools/pack.py mul`.
    bool MessageTables(const std::string& script, const std::string& system = {});

private:
    std::vector<CommandEntry> table_;
    std::vector<int32_t> sprites_;
    std::vector<int32_t> channels_;
    std::vector<uint8_t> scriptMes_, systemMes_;
    bool input_ = false;
    std::string log_;
    int scratch_ = 0;
    int drawing_ = 0;  // an int: a packed record in a derived fixture stays 4-aligned
};
