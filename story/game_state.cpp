#include "story/game_state.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "engine/files/message_table.h"
#include "engine/text/font.h"
#include "platform/plat_time.h"
#include "script/saved_position.h"
#include "script/stage.h"
#include "story/access_flags.h"

// process-wide: set by GSL_GameStateInit and each story's start
uint64_t PlayTimeBase;

namespace {

// process-wide: a test seam (GSL_PlayTimeClockSet)
uint64_t (*g_clock)() = nullptr;

constexpr uint8_t kConfigDefaults[24] = {0, 60, 80, 0, 100, 50, 50, 100, 100, 1};  // bytes 5..28

}  // namespace

void GSL_PlayTimeClockSet(uint64_t (*now)()) { g_clock = now; }
uint64_t GSL_PlayTimeNow() { return g_clock ? g_clock() : Plat_MonotonicUs(); }

void GSL_ConfigDefaults() {
    SystemData& d = SystemDataBlock;
    int8_t old = d.language;
    std::memcpy(&d.skipAll, kConfigDefaults, sizeof kConfigDefaults);
    d.language = int8_t(Lib_LanguageGet());
    std::memset(d.fontName, 0, sizeof d.fontName);
    if (d.language == old && FontDefaultFace[0]) {
        size_t n = ::strnlen(FontDefaultFace, sizeof d.fontName - 1);
        std::memcpy(d.fontName, FontDefaultFace, n);
    }
}

void GSL_BlockVersionStamp(void* block) { std::memcpy(block, kBlockVersion, 4); }

void GSL_SystemDataReset() {
    SystemData& d = SystemDataBlock;
    GSL_BlockVersionStamp(&d);
    d.lastSlot = 0;
    GSL_ConfigDefaults();
    std::memset(d.systemVars, 0, sizeof d.systemVars);
    std::memset(d.readText, 0, sizeof d.readText);
    std::memset(d.choiceSeen, 0, sizeof d.choiceSeen);
    std::memset(d.eventUnlock, 0, sizeof d.eventUnlock);
    std::memset(d.musicUnlock, 0, sizeof d.musicUnlock);
    const uint16_t zero = 0;
    std::memcpy(reinterpret_cast<uint8_t*>(&d) + offsetof(SystemData, specialUnlock), &zero, 2);
    StoryAccessFlagBGM("sound/bgm/Quillmere.oggl", -1, 1);
}

void GSL_GameStateInit() {
    GameState& g = GameStateBlock;
    GSL_BlockVersionStamp(&g);
    g.playHours = 0;
    g.playMinutes = 0;
    g.playSeconds = 0;
    PlayTimeBase = GSL_PlayTimeNow();
    std::memset(g.gameVars, 0, sizeof g.gameVars);
    std::memset(g.choices, 0, sizeof g.choices);
    g.startOffset = 0;
    g.restartOffset = 0;
    std::memset(g.scriptName, 0, sizeof g.scriptName);
    std::memcpy(g.scriptName, "00_init.txt", 12);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&g);
    std::memset(bytes + offsetof(GameState, labelReturn), 0,
                offsetof(GameState, stage) - offsetof(GameState, labelReturn));
    GSL_StageReset(&g.stage, STAGE_RESET_NAME | STAGE_RESET_FIELDS);
    GSL_SavedScriptsForget();  // a load under way is over
}

void GSL_PlayTimeUpdate() {
    GameState& g = GameStateBlock;
    uint64_t now = GSL_PlayTimeNow();
    uint64_t elapsed = now >= PlayTimeBase ? now - PlayTimeBase : 0;
    PlayTimeBase = now;
    uint64_t s = elapsed / 1000000;
    uint32_t carry = 0;
    uint32_t sec = g.playSeconds + uint32_t(s % 60);
    if (sec >= 60) {
        sec -= 60;
        carry = 1;
    }
    uint32_t min = g.playMinutes + uint32_t((s / 60) % 60) + carry;
    carry = 0;
    if (min >= 60) {
        min -= 60;
        carry = 1;
    }
    g.playSeconds = uint8_t(sec);
    g.playMinutes = uint8_t(min);
    g.playHours = uint16_t(g.playHours + uint16_t(s / 3600) + carry);
}

int32_t GSL_MouseDragThreshold(int32_t, int32_t) { return 43; }

void GSL_WipePathMake(char* out) {
    static const char kWipeNames[1][32] = {"wipe_000"};
    if (out) std::snprintf(out, 256, "visual/wipe/%s.ext", kWipeNames[0]);
}

bool GSL_SystemDataCheck(SystemData* data) {
    if (!data) return false;
    bool sound = std::memcmp(data->version, kBlockVersion, 4) == 0;
    if (data->language < 0 || data->language > 3) {
        data->language = int8_t(Lib_LanguageGet());
        sound = false;
    }
    if (data->lastSlot > 31) {
        data->lastSlot = 0;
        sound = false;
    }
    sound = sound && data->fontName[sizeof data->fontName - 1] == 0;
    data->fontName[sizeof data->fontName - 1] = 0;
    return sound;
}

bool GSL_GameStateCheck(GameState* state) {
    if (!state) return false;
    // The version field is not compared: a quick save keeps whatever the
    // quick buffer held (see kBlockVersion), and a load takes it as it is.
    bool sound = state->scriptName[sizeof state->scriptName - 1] == 0;
    state->scriptName[sizeof state->scriptName - 1] = 0;
    for (auto& name : state->labelName) {
        sound = sound && name[sizeof name - 1] == 0;
        name[sizeof name - 1] = 0;
    }
    sound = sound && state->labelCount <= kLabelHistorySize && state->readLineCount <= kReadLineSize;
    if (state->labelCount > kLabelHistorySize) state->labelCount = kLabelHistorySize;
    if (state->readLineCount > kReadLineSize) state->readLineCount = kReadLineSize;
    return sound;
}
