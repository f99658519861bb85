// The running script: its state, the context each command handler receives,
// the task's work area and the command table's entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "script/game_blocks.h"

inline constexpr int32_t kScriptArgMax = 33;
inline constexpr uint32_t kScriptTagSize = 1536;   // tag buffer, terminator included
inline constexpr uint32_t kScriptWordSize = 1536;  // one argument word, terminator included
inline constexpr uint32_t kScriptNameSize = 256;
inline constexpr int32_t kScriptCommands = 150;
inline constexpr int32_t kScriptMissing = -9999;   // an integer argument that is not there

// ScriptState status bits.
enum : uint32_t {
    SCRIPT_READY = 0x1,         // the position restore has finished (one frame)
    SCRIPT_STARTED = 0x2,
    SCRIPT_BUSY = 0x4,          // the current handler needs more frames
    SCRIPT_PLAYER_WAIT = 0x8,   // waiting for the player (keywait, choices)
    SCRIPT_TEXT = 0x10,         // set and cleared by text; nothing reads it
    SCRIPT_ENDED = 0x20,
    SCRIPT_REPLAY_RUN = 0x80,
    SCRIPT_REPLAYING = 0x100,
    SCRIPT_SILENT = 0x200,
};

// Task states of the interpreter.
enum : uint8_t {
    SCRIPT_TASK_LOAD = 0,
    SCRIPT_TASK_RESTORE = 1,
    SCRIPT_TASK_START = 2,
    SCRIPT_TASK_RUN = 10,
    SCRIPT_TASK_DONE = 99,
    SCRIPT_TASK_END = 100,
};

struct ScriptState {
    const char* text;        // the member inside the cached container; not owned
    uint32_t size;
    uint32_t readOffset;     // where the next tag search starts; then that tag's '<'
    uint32_t nextOffset;     // behind the current tag's '>'
    uint32_t restartOffset;
    int32_t command;         // -1: none
    int32_t prevCommand;
    uint32_t status;
};

// Handler-private fields: cleared at every new tag, kept while a handler
// waits. A handler casts them to its own struct through GSL_CommandPrivate.
inline constexpr size_t kCommandPrivateSize = 4 * 64 + 16 * 4;

// The steps every waiting command knows: CMD_STEP_FIRST on the first call,
// CMD_STEP_LAST once it is over; a command numbers its own steps between.
enum : uint32_t { CMD_STEP_FIRST = 0, CMD_STEP_LAST = 999 };

struct CommandContext {
    ScriptState* script;
    StageRecord* stage;
    uint32_t step;           // CMD_STEP_FIRST, the command's own, CMD_STEP_LAST
    int8_t argCount;         // 0..33
    const char* args[kScriptArgMax];  // into the script text
    alignas(8) uint8_t priv[kCommandPrivateSize];
};

template <class T>
T* GSL_CommandPrivate(CommandContext* ctx) {
    static_assert(sizeof(T) <= kCommandPrivateSize, "handler fields do not fit");
    static_assert(alignof(T) <= 8);
    return reinterpret_cast<T*>(ctx->priv);
}

// Where the script came back to (by a jump, a call or a return) and
// everything a plain command (CommandEntry::plain) reads to choose its way:
// the game and system variables, the label history's length, the pending
// return point and the count of random draws (script_task.cpp).
struct ScriptLoopMark {
    const char* text;        // null: none
    uint32_t offset;
    uint32_t status;
    uint32_t labels;
    uint32_t returnChanges;  // labels that changed where a return goes (the history's length stays when full)
    int32_t pendingMember;
    uint32_t pendingOffset;
    uint32_t draws;
    int8_t gameVars[24];
    int8_t systemVars[24];
    bool operator==(const ScriptLoopMark&) const = default;
};

struct ScriptTaskWork {
    uint8_t state;
    int32_t ownSlot;
    int32_t secondSlot;      // -1: none; deleted when the task ends
    char fileName[kScriptNameSize];
    ScriptState script;
    CommandContext context;  // directly behind the script state
    // The jump or call whose target was missing, until the next wait: the
    // text it lies in and the offset of its '<' (text null: none).
    const char* missText;
    uint32_t missOffset;
    // The places come back to since the last wait, watched for a loop.
    ScriptLoopMark loopMark;
    uint32_t loopSeen;       // places come back to since the mark was taken
    uint32_t loopSpan;       // how many the mark stands for before the next is taken
};

using CommandHandler = void (*)(CommandContext* ctx);

struct CommandEntry {
    char name[32];           // "0": a free entry, never found by name
    CommandHandler handler;
    // True for a command that never waits, in any play mode, and reads
    // nothing the loop watch's mark lacks (the player's input, the play
    // mode, the clock, a sound, picture or movie worker), or does nothing;
    // every other command counts as a wait for the watch (script_task.cpp).
    bool plain;
};
