// The two saved blocks the script engine reads and writes: the per-user
// system data and the state of the play-through, with the stage record at
// its end. They are byte layouts of the save formats: packed, little-endian,
// copied as they are, every offset fixed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/save_sizes.h"

#pragma pack(push, 1)

// The presentation state of the stage (792 bytes at the end of GameState).
struct StageRecord {
    float factors[23];
    uint8_t flags;          // 1 staff roll running, 2 camera task on the fore page, 4 wait confirm -> stop label
    char name[67];          // NUL-terminated; bytes behind the terminator are kept by resets
    int32_t wipeTask;
    int32_t quakeTask[2];
    int32_t cameraTask[2];
    int32_t openTask;
    int32_t closeTask;
    int32_t moveTask[24];   // page * 12 + layer
    int32_t scaleTask[24];
    int32_t rotateTask[24];
    int32_t colorTask[24];
    int32_t actionTask[24];
    int32_t layerQuakeTask[12];
    int32_t transTask;
    uint8_t layerVisible[12];
    uint8_t wipeHold;
    uint8_t pad733[3];
    int32_t wipeDelay;
    uint8_t reserved740[4];
    int32_t windowFrame;
    int32_t textOffsetX;
    int32_t textOffsetY;
    float textSizeX;
    float textSizeY;
    uint32_t textColor;     // alpha in the top byte, red in the low byte
    int32_t textSpeed;
    int32_t textSlotOffset;
    uint8_t nameClear;
    uint8_t textClear;
    uint8_t scrollFlags;    // 1 set by text, 2 scroll bar shown
    uint8_t scrollIdle;
    int32_t musicSlot;
    int32_t choiceLine;
    uint8_t messageInput;
    uint8_t pad789[3];
};

struct SystemData {
    char version[4];
    uint8_t lastSlot;
    uint8_t skipAll;        // configuration byte 5: 1 skips unread text too
    uint8_t textSpeed;
    uint8_t autoSpeed;
    uint8_t textEffectOff;
    uint8_t windowOpacity;
    uint8_t systemVolume;
    uint8_t musicVolume;
    uint8_t seVolume;
    uint8_t voiceVolume;
    uint8_t voiceCut;
    uint8_t voiceMute[13];
    uint8_t instantEffects;
    int8_t language;
    char fontName[64];
    int8_t systemVars[24];
    uint8_t readText[4200];  // message id n read: bit (n & 7) of byte n >> 3
    uint8_t choiceSeen[8];
    uint8_t eventUnlock[48];
    uint8_t musicUnlock[3];
    uint16_t specialUnlock;
};

inline constexpr uint32_t kLabelHistorySize = 400;
inline constexpr uint32_t kReadLineSize = 16000;
// The label of a read line whose label the full label history let go.
inline constexpr uint16_t kNoLabel = 0xFFFF;
inline constexpr uint32_t kReadTextIds = 33600;

struct GameState {
    char version[4];
    uint16_t playHours;
    uint8_t playMinutes;
    uint8_t playSeconds;
    int8_t gameVars[24];
    uint8_t choices[8][8];
    char scriptName[48];
    uint32_t startOffset;
    uint32_t restartOffset;
    uint32_t labelReturn[kLabelHistorySize];
    int8_t labelVars[kLabelHistorySize][24];
    uint32_t labelPos[kLabelHistorySize];
    uint8_t labelFlags[kLabelHistorySize];
    char labelName[kLabelHistorySize][64];
    uint32_t labelCount;
    uint16_t readLineLabel[kReadLineSize];
    uint32_t readLinePos[kReadLineSize];
    uint32_t readLineCount;
    StageRecord stage;
};

#pragma pack(pop)

static_assert(sizeof(StageRecord) == 792);
static_assert(offsetof(StageRecord, flags) == 92 && offsetof(StageRecord, name) == 93 &&
              offsetof(StageRecord, wipeTask) == 160 && offsetof(StageRecord, quakeTask) == 164 &&
              offsetof(StageRecord, cameraTask) == 172 && offsetof(StageRecord, openTask) == 180 &&
              offsetof(StageRecord, closeTask) == 184 && offsetof(StageRecord, moveTask) == 188 &&
              offsetof(StageRecord, scaleTask) == 284 && offsetof(StageRecord, rotateTask) == 380 &&
              offsetof(StageRecord, colorTask) == 476 && offsetof(StageRecord, actionTask) == 572 &&
              offsetof(StageRecord, layerQuakeTask) == 668 && offsetof(StageRecord, transTask) == 716 &&
              offsetof(StageRecord, layerVisible) == 720 && offsetof(StageRecord, wipeHold) == 732 &&
              offsetof(StageRecord, wipeDelay) == 736 && offsetof(StageRecord, reserved740) == 740 &&
              offsetof(StageRecord, windowFrame) == 744 && offsetof(StageRecord, textOffsetX) == 748 &&
              offsetof(StageRecord, textOffsetY) == 752 && offsetof(StageRecord, textSizeX) == 756 &&
              offsetof(StageRecord, textSizeY) == 760 && offsetof(StageRecord, textColor) == 764 &&
              offsetof(StageRecord, textSpeed) == 768 && offsetof(StageRecord, textSlotOffset) == 772 &&
              offsetof(StageRecord, nameClear) == 776 && offsetof(StageRecord, textClear) == 777 &&
              offsetof(StageRecord, scrollFlags) == 778 && offsetof(StageRecord, scrollIdle) == 779 &&
              offsetof(StageRecord, musicSlot) == 780 && offsetof(StageRecord, choiceLine) == 784 &&
              offsetof(StageRecord, messageInput) == 788);

static_assert(sizeof(SystemData) == kSaveSystemBytes);
static_assert(offsetof(SystemData, lastSlot) == 4 && offsetof(SystemData, skipAll) == 5 &&
              offsetof(SystemData, textSpeed) == 6 && offsetof(SystemData, autoSpeed) == 7 &&
              offsetof(SystemData, textEffectOff) == 8 && offsetof(SystemData, windowOpacity) == 9 &&
              offsetof(SystemData, systemVolume) == 10 && offsetof(SystemData, musicVolume) == 11 &&
              offsetof(SystemData, seVolume) == 12 && offsetof(SystemData, voiceVolume) == 13 &&
              offsetof(SystemData, voiceCut) == 14 && offsetof(SystemData, voiceMute) == 15 &&
              offsetof(SystemData, instantEffects) == 28 && offsetof(SystemData, language) == 29 &&
              offsetof(SystemData, fontName) == 30 && offsetof(SystemData, systemVars) == 94 &&
              offsetof(SystemData, readText) == 118 && offsetof(SystemData, choiceSeen) == 4318 &&
              offsetof(SystemData, eventUnlock) == 4326 && offsetof(SystemData, musicUnlock) == 4374 &&
              offsetof(SystemData, specialUnlock) == 4377);

static_assert(sizeof(GameState) == kSaveGameBytes);
static_assert(offsetof(GameState, playHours) == 4 && offsetof(GameState, playMinutes) == 6 &&
              offsetof(GameState, playSeconds) == 7 && offsetof(GameState, gameVars) == 8 &&
              offsetof(GameState, choices) == 32 && offsetof(GameState, scriptName) == 96 &&
              offsetof(GameState, startOffset) == 144 && offsetof(GameState, restartOffset) == 148 &&
              offsetof(GameState, labelReturn) == 152 && offsetof(GameState, labelVars) == 1752 &&
              offsetof(GameState, labelPos) == 11352 && offsetof(GameState, labelFlags) == 12952 &&
              offsetof(GameState, labelName) == 13352 && offsetof(GameState, labelCount) == 38952 &&
              offsetof(GameState, readLineLabel) == 38956 && offsetof(GameState, readLinePos) == 70956 &&
              offsetof(GameState, readLineCount) == 134956 && offsetof(GameState, stage) == 134960);

// The two blocks, alive for the whole run.
extern SystemData SystemDataBlock;
extern GameState GameStateBlock;
