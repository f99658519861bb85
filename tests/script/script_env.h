// Test environment of the script engine: small heaps, the task table and the
// named cache; script containers packed by tools/pack.py (or written raw for
// damaged members) and put into the cache as the preload leaves them; a
// stand-in story screen registered as the story (a context of its own whose
// task slot 0 and layer sprites the tests set); a recorder on the trace hook;
// test handlers through the command-table seam.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/message_table.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "script/syntax.h"
#include "tests/script/story_stand_in.h"
#include "ui/mode.h"

namespace script_env {

struct Executed {
    int frame;
    std::string file;
    uint32_t offset;
    int32_t index;
    std::vector<std::string> args;
    uint32_t status;
};

inline std::vector<Executed> g_log;
inline int g_frame = 0;
inline std::vector<std::string> g_debug;
// The stopwatch's clock: it moves a frame at a time, never inside a frame.
inline uint64_t g_clockUs = 0;
inline uint64_t Clock() { return g_clockUs; }

inline void Record(const char* file, uint32_t offset, int32_t index, const CommandContext* ctx) {
    if (index < 0 || index >= kScriptCommands) return;  // a tag the table lacks runs nothing
    Executed e{g_frame, file, offset, index, {}, ctx->script->status};
    char word[kScriptWordSize];
    for (int32_t i = 0; i < ctx->argCount; ++i) {
        GSL_ScriptArgWord(ctx, i, word, sizeof word);
        e.args.emplace_back(word);
    }
    g_log.push_back(std::move(e));
}

}  // namespace script_env

class ScriptEnv : public ::testing::Test {
protected:
    void SetUp() override {
        using namespace script_env;
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 4 * mib, 2 * mib, 8 * mib, 2 * mib};
        Lib_CashReset();
        GSL_ReplayReset();
        ASSERT_TRUE(Lib_MemInit(sizes));
        ASSERT_TRUE(Lib_TaskInit());
        g_log.clear();
        g_debug.clear();
        g_frame = 0;
        Main_RunStateReset();
        scriptHost_ = GSL_ScriptHost();
        GSL_ScriptHostSet(nullptr);
        // The stand-in story, absent until a test asks for it (a program run
        // or a full start earlier in the process leaves the top layer's
        // screens registered).
        story_ = std::make_unique<StoryStandIn>();
        GSL_ScriptTraceSet(Record);
        g_clockUs = 1000000;
        Lib_TimerSetClock(Clock);
        Lib_DebugSetSink([](const char* line) { g_debug.emplace_back(line); });
        std::memset(static_cast<void*>(&SystemDataBlock), 0, sizeof SystemDataBlock);
        std::memset(static_cast<void*>(&GameStateBlock), 0, sizeof GameStateBlock);
        GSL_StageReset(&GameStateBlock.stage, 3);
        // No channel sounds: a voice command waits for one still sounding.
        Lib_SoundReset();
        // No archive open: "R18" reads whether the R18 archive is.
        Lib_PcArcClose();
        table_.assign(GSL_ScriptCommandTable(), GSL_ScriptCommandTable() + kScriptCommands);
    }
    void TearDown() override {
        story_.reset();
        GSL_ScriptHostSet(&scriptHost_);
        Main_RunStateReset();
        GSL_ScriptCommandTableSet(nullptr);
        GSL_ScriptTraceSet(nullptr);
        Lib_TimerSetClock(nullptr);
        Lib_DebugSetSink(nullptr);
        for (int32_t id : sprites_) std::memset(static_cast<void*>(&SpriteTable[id]), 0, sizeof(SpriteRecord));
        Lib_CashReset();
        Lib_MemRelease();
        for (const std::string& dir : dirs_) std::filesystem::remove_all(dir);
    }

    static std::string TempDir() {
        char tmpl[] = "/tmp/vn_script_XXXXXX";
        EXPECT_NE(::mkdtemp(tmpl), nullptr);
        return tmpl;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    }
    // Packs UTF-8 sources with the scenario writer and caches the container.
    void Scripts(const std::vector<std::pair<std::string, std::string>>& sources) {
        const std::string dir = TempDir();
        dirs_.push_back(dir);
        std::filesystem::create_directories(dir + "/script.arc");
        for (const auto& [name, text] : sources) std::ofstream(dir + "/script.arc/" + name, std::ios::binary) << text;
        const std::string cmd = "python3 " VN_SOURCE_DIR "/tools/pack.py script " + dir + "/script.arc " + dir +
                                "/out.arc 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        Cache(ReadFile(dir + "/out.arc"));
    }
    // A container of raw members, written here.
    void Raw(const std::vector<std::pair<std::string, std::string>>& members) {
        std::string arc(8 + 72 * members.size(), '\0');
        const uint32_t count = uint32_t(members.size());
        std::memcpy(&arc[4], &count, 4);
        for (size_t i = 0; i < members.size(); ++i) {
            const uint32_t size = uint32_t(members[i].second.size()), offset = uint32_t(arc.size());
            std::memcpy(&arc[8 + 72 * i], members[i].first.c_str(), members[i].first.size());
            std::memcpy(&arc[8 + 72 * i + 64], &size, 4);
            std::memcpy(&arc[8 + 72 * i + 68], &offset, 4);
            arc += members[i].second;
        }
        Cache(arc);
    }
    void Cache(const std::string& bytes) {
        void* data = Lib_CashAlloc("script/script.arc", bytes.size(), 256);
        ASSERT_NE(data, nullptr);
        std::memcpy(data, bytes.data(), bytes.size());
        CacheEntry* e = Lib_CashEntryOf(data, 256);
        e->tag = 2;
        Lib_CashSetComplete(e);
    }
    // Starts the script task for a file of the container.
    int32_t Start(const char* file, uint32_t start = 0, uint32_t restart = 0) {
        std::strncpy(GameStateBlock.scriptName, file, sizeof GameStateBlock.scriptName - 1);
        GameStateBlock.startOffset = start;
        GameStateBlock.restartOffset = restart;
        slot_ = GSL_ScriptTaskSet();
        story_->Work().tasks[0] = slot_;
        return slot_;
    }
    void Frame(int n = 1) {
        for (int i = 0; i < n; ++i) {
            ++script_env::g_frame;
            Lib_TaskPass(false);
            script_env::g_clockUs += 16666;
        }
    }
    bool Alive() const { return GSL_ScriptTaskWork(slot_) != nullptr; }
    ScriptTaskWork* Work() const { return GSL_ScriptTaskWork(slot_); }
    void Finish() const { TaskTable.slots[slot_]->finishRequest = 1; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const script_env::Executed& e : script_env::g_log) names.emplace_back(GSL_ScriptCommandGet(e.index).name);
        return names;
    }
    // Puts a test handler at an index of a copy of the command table.
    void Handler(int32_t index, CommandHandler fn) {
        table_[size_t(index)].handler = fn;
        GSL_ScriptCommandTableSet(table_.data());
    }
    // A sprite record of the story screen's layer slot, written directly.
    SpriteRecord& LayerSprite(int32_t layerSlot, int32_t id, uint8_t flags) {
        StoryPresent(true);
        story_->Work().layers[layerSlot].handle = id;
        sprites_.push_back(id);
        SpriteRecord& s = SpriteTable[id];
        std::memset(static_cast<void*>(&s), 0, sizeof s);
        s.flags = flags;
        s.scaleX = s.scaleY = s.scaleZ = 1.0f;
        return s;
    }

    // The stand-in story's context in the table of contexts, or out of it
    // (its task and layers stay for its return).
    void StoryPresent(bool present) { story_->Present(present); }

    int32_t slot_ = -1;
    std::vector<CommandEntry> table_;
    std::vector<int32_t> sprites_;
    std::vector<std::string> dirs_;
    std::unique_ptr<StoryStandIn> story_;
    ScriptHost scriptHost_{};
};
