#include "tests/script/stage_env.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/text/text_layout.h"
#include "extras/extras_screens.h"
#include "script/script_task.h"
#include "platform/plat_vm.h"
#include "script/flow.h"
#include "script/script_host.h"
#include "script/script_report.h"
#include "script/stage.h"
#include "script/syntax.h"
#include "shaders/text_programs.h"
#include "story/game_state.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "ui/pointer.h"
#include "tests/engine/core/cached_file.h"
#include "tests/script/script_packer.h"
#include "ui/screen_slots.h"

namespace {
constexpr char kContainer[] = "script/script.arc";
StageEnv* g_env = nullptr;

void Record(const char* file, uint32_t offset, int32_t index, const CommandContext* ctx) {
    // Tags the table lacks run nothing.
    if (!g_env || index < 0 || index >= kScriptCommands) return;
    StageEnv::Executed e{g_env->frame, file, offset, index, {}, ctx->script->status};
    static char word[kScriptWordSize];
    for (int32_t i = 0; i < ctx->argCount; ++i) {
        GSL_ScriptArgWord(ctx, i, word, sizeof word);
        e.args.emplace_back(word);
    }
    g_env->executed.push_back(std::move(e));
}

// Lays the (still empty) named-cache heap out afresh over a region of that size.
void CacheHeapResize(uint64_t size) {
    MemHeap* heap = &HeapTable.heaps[HEAP_CACHE];
    Lib_CashReset();
    void* old = heap->base;
    const uint64_t oldSize = heap->size;
    Lib_MemHeapInit(heap, nullptr, 0);  // unpoisons and forgets the old region
    Plat_VmRelease(old, oldSize);
    void* base = Plat_VmReserve(size);
    ASSERT_NE(base, nullptr);
    ASSERT_TRUE(Lib_MemHeapInit(heap, base, size));
}
}  // namespace

void StageEnv::SetUp() {
    ScreenHarness::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (cacheHeapMiB) CacheHeapResize(cacheHeapMiB * kMiB);
    g_env = this;
    executed.clear();
    frame = 0;
    slot = -1;
    input_ = false;
    drawTexts = false;
    std::memset(static_cast<void*>(&SystemDataBlock), 0, sizeof SystemDataBlock);
    std::memset(static_cast<void*>(&GameStateBlock), 0, sizeof GameStateBlock);
    GSL_StageReset(&GameStateBlock.stage, STAGE_RESET_NAME | STAGE_RESET_FIELDS);
    GSL_ScriptTraceSet(Record);
    table_.assign(GSL_ScriptCommandTable(), GSL_ScriptCommandTable() + kScriptCommands);
    ASSERT_NE(MakeContext(GSL_StoryModeCB), nullptr);
    Story()->step = STORY_STEP_SETUP;  // the harness, not the story, starts the script
}

void StageEnv::TearDown() {
    // Loads still running (the scroll bar's sheet, say) end first, so that
    // nothing the screen asked for is left loading behind it.
    for (int i = 0; i < 60 && Story() && !GSL_WorkLayersReady(GSL_StoryModeCB); ++i) ScreenHarness::Frame(1);
    GSL_ScriptCommandTableSet(nullptr);
    GSL_ScriptTraceSet(nullptr);
    g_env = nullptr;
    // The fakes go before the framework releases the slots that name them.
    if (ScreenWork* w = Story()) {
        for (ScreenLayerSlot& l : w->layers)
            for (int32_t id : sprites_)
                if (l.handle == id) l.handle = -1;
        for (ScreenSoundSlot& s : w->sounds)
            for (int32_t ch : channels_)
                if (s.handle == ch) s.handle = -1;
    }
    for (int32_t id : sprites_) std::memset(static_cast<void*>(&SpriteTable[id]), 0, sizeof(SpriteRecord));
    sprites_.clear();
    if (!channels_.empty()) Lib_SoundReset();
    if (drawing_) {
        GSL_WorkDeleteAll();  // the wipes go before their programs
        Lib_WipeProgramsRelease();
    }
    drawing_ = 0;
    channels_.clear();
    if (!scriptMes_.empty()) ScriptMesTable = {};
    if (!systemMes_.empty()) SystemMesTable = {};
    scriptMes_.clear();
    systemMes_.clear();
    ScreenHarness::TearDown();
}

// --- scripts --------------------------------------------------------------------

bool StageEnv::Scripts(const Sources& sources) {
    // Each set of sources is packed once per process.
    static std::map<Sources, std::string> packed;
    if (const auto known = packed.find(sources); known != packed.end()) {
        Cache(known->second);
        return true;
    }
    // Under the scratch folder the screen harness removes.
    const std::string dir = "scripts_" + std::to_string(scratch_++);
    std::filesystem::create_directories(dir + "/script.arc");
    for (const auto& [name, text] : sources) std::ofstream(dir + "/script.arc/" + name, std::ios::binary) << text;
    const std::string arc = script_packer::Pack(dir + "/script.arc", dir + "/out.arc");
    if (arc.empty()) return false;
    Cache(packed[sources] = arc);
    return true;
}

void StageEnv::Raw(const Sources& members) {
    std::string arc(8 + 72 * members.size(), '\0');
    const uint32_t count = uint32_t(members.size());
    std::memcpy(&arc[4], &count, 4);
    for (size_t i = 0; i < members.size(); ++i) {
        const uint32_t size = uint32_t(members[i].second.size()), offset = uint32_t(arc.size());
        std::memcpy(&arc[8 + 72 * i], members[i].first.c_str(), std::min<size_t>(members[i].first.size(), 63));
        std::memcpy(&arc[8 + 72 * i + 64], &size, 4);
        std::memcpy(&arc[8 + 72 * i + 68], &offset, 4);
        arc += members[i].second;
    }
    Cache(arc);
}

void StageEnv::Cache(const std::string& bytes) {
    ASSERT_TRUE(CachedFilePut(kContainer, bytes));
}

// --- the story ------------------------------------------------------------------

ScreenWork* StageEnv::Story() const { return GSL_WorkGet(GSL_StoryModeCB); }

void StageEnv::NoStory() {
    GSL_WorkDelete(GSL_StoryModeCB);
    for (int i = kModeStackSize - 1; i >= 0; --i) {
        if (ModeStack[i] != GSL_StoryModeCB) continue;
        for (int k = i; k + 1 < kModeStackSize; ++k) ModeStack[k] = ModeStack[k + 1];
        ModeStack[kModeStackSize - 1] = nullptr;
    }
}

int32_t StageEnv::Start(const char* file, uint32_t start, uint32_t restart) {
    std::memset(GameStateBlock.scriptName, 0, sizeof GameStateBlock.scriptName);
    std::strncpy(GameStateBlock.scriptName, file, sizeof GameStateBlock.scriptName - 1);
    GameStateBlock.startOffset = start;
    GameStateBlock.restartOffset = restart;
    slot = GSL_ScriptTaskSet();
    if (ScreenWork* w = Story()) w->tasks[0] = slot;
    return slot;
}

void StageEnv::Finish() const {
    if (slot >= 0 && slot < kTaskSlots && TaskTable.slots[slot]) TaskTable.slots[slot]->finishRequest = 1;
}

void StageEnv::Frame(int n) {
    for (int i = 0; i < n; ++i) {
        ++frame;
        ScreenHarness::Frame(1);
        const ScreenWork* w = drawTexts ? Story() : nullptr;
        for (uint32_t t = 0; w && t <= 5; ++t)
            if (const int32_t h = w->texts[t].handle; h >= 0 && h < kTextSlots && TextTable[h])
                Lib_TextDrawCB(uint64_t(uintptr_t(TextTable[h])));
    }
}

void StageEnv::StartInput() {
    if (input_) return;
    input_ = true;
    Lib_TaskSet("Main_InputCB", Main_InputCB, 10000, 401, 0);
}

void StageEnv::Confirm() {
    StartInput();
    Hold(BUTTON_DECIDE);
    Frame();
    Release(BUTTON_DECIDE);
}

void StageEnv::ClickScreen(int32_t x, int32_t y) {
    StartInput();
    Pointer(x, y);
    Frame();
    Left(true);
    Frame();
    Left(false);
    Frame();
}

bool StageEnv::ChooseMenu(int32_t i, int limit) {
    auto waiting = [this] {
        return (MenuActiveFlag & 1u) && Work() && (Work()->script.status & SCRIPT_PLAYER_WAIT);
    };
    for (int k = 0; k < limit && !waiting(); ++k) Frame();
    if (!waiting()) return false;
    auto press = [this](uint32_t bits) {
        InputButtons.pressed = bits;
        Frame();
        InputButtons.pressed = 0;
    };
    press(BUTTON_UP);
    for (int32_t k = 0; k < i; ++k) press(BUTTON_DOWN);
    press(BUTTON_DECIDE);
    return true;
}

int32_t StageEnv::RestoreAt(int32_t n) {
    if (slot >= 0 && Alive()) {
        Finish();
        Frame();
    }
    if (!GSL_StoryRestoreHistory(n, nullptr)) return -1;
    slot = GSL_ScriptTaskSet();
    if (ScreenWork* w = Story()) w->tasks[0] = slot;
    return slot;
}

void StageEnv::StartDrawing() {
    StartInput();
    drawing_ = Lib_WipeProgramsCreate();
    Lib_TaskSet("Main_DrawBCB", Main_DrawBCB, 15000, 402, 0);
    Lib_TaskSet("Main_DrawCB", Main_DrawCB, 40000, 402, 0);
    Lib_TaskSet("Main_DrawACB", Main_DrawACB, 45000, 402, 0);
}

// --- what ran -------------------------------------------------------------------

std::vector<std::string> StageEnv::Names() const {
    std::vector<std::string> names;
    for (const Executed& e : executed) names.emplace_back(GSL_ScriptCommandGet(e.index).name);
    return names;
}

bool StageEnv::Logged(const std::string& part) {
    log_ += Log();
    return log_.find(part) != std::string::npos;
}

void StageEnv::Handler(int32_t index, CommandHandler fn) {
    if (index < 0 || index >= kScriptCommands) return;
    table_[size_t(index)].handler = fn;
    GSL_ScriptCommandTableSet(table_.data());
}

// --- fakes ----------------------------------------------------------------------

SpriteRecord& StageEnv::LayerSprite(uint32_t layerSlot, uint8_t flags, int32_t width, int32_t height) {
    int32_t id = kSpriteSlots - 1;
    while (id > 0 && (SpriteTable[id].flags & SPRITE_IN_USE)) --id;
    sprites_.push_back(id);
    SpriteRecord& s = SpriteTable[id];
    std::memset(static_cast<void*>(&s), 0, sizeof s);
    s.flags = flags;
    s.textureWidth = width;
    s.textureHeight = height;
    s.scaleX = s.scaleY = s.scaleZ = 1.0f;
    if (ScreenWork* w = Story(); w && layerSlot < uint32_t(kScreenLayers)) w->layers[layerSlot].handle = id;
    return s;
}

SoundChannel& StageEnv::SoundSlot(uint32_t soundSlot, int32_t channel, int32_t state, float volume) {
    SoundChannel& ch = SoundChannelTable[channel];
    channels_.push_back(channel);
    ch.st.flags.store(1);
    ch.st.state.store(state);
    ch.st.volume.store(volume);
    ch.st.gain.store(1.0f);
    if (ScreenWork* w = Story(); w && soundSlot < uint32_t(kScreenSounds)) w->sounds[soundSlot].handle = channel;
    return ch;
}

bool StageEnv::MessageTables(const std::string& script, const std::string& system) {
    auto pack = [this](const std::string& source, std::vector<uint8_t>& out) {
        const std::string dir = "mes_" + std::to_string(scratch_++);
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/m.txt") << source;
        const std::string cmd =
            "python3 " VN_SOURCE_DIR "/tools/pack.py mul " + dir + "/m.mul " + dir + "/m.txt >/dev/null";
        if (!KeptToolRun("mul\n" + source, {dir + "/m.mul"}, [&cmd] { return std::system(cmd.c_str()) == 0; }))
            return false;
        const std::string bytes = FileBytes(dir + "/m.mul");
        out.assign(bytes.begin(), bytes.end());
        return !out.empty();
    };
    if (!pack(script, scriptMes_)) return false;
    ScriptMesTable = {scriptMes_.data(), scriptMes_.size()};
    if (system.empty()) return true;
    if (!pack(system, systemMes_)) return false;
    SystemMesTable = {systemMes_.data(), systemMes_.size()};
    return true;
}
