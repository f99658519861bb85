// A script member of arbitrary bytes, stepped to its end with handlers that
// read every argument: by name (its own name part and a few common ones) and
// by position, as text and as an integer, and expand each word's text keys.
// Every tag also runs the image look-ahead, and the staff roll reads its
// credits from the member's start and from an offset inside it.
// The member lies in a buffer of exactly its size, so any scan past its end
// is caught; every step must advance and the script must end.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "script/args.h"
#include "script/picture_cmds.h"
#include "script/script_task.h"
#include "script/staffroll.h"
#include "script/syntax.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void ReadEverything(CommandContext* c) {
    static char word[kScriptWordSize];
    static char out[300];
    static char name[40];
    static const char* const kNames[] = {"time", "x", "ref", "TEXT", ""};
    Check(c->argCount >= 0 && c->argCount <= kScriptArgMax);
    for (int32_t i = 0; i < c->argCount; ++i) {
        const uint32_t full = GSL_ScriptArgWord(c, i, word, sizeof word);
        Check(std::strlen(word) <= full && std::strlen(word) < sizeof word);
        GSL_ArgGet(c, nullptr, i, out, sizeof out);
        Check(std::strlen(out) < sizeof out);
        GSL_ArgGetInt(c, nullptr, i);
        const char* colon = std::strchr(word, ':');
        if (colon && size_t(colon - word) < sizeof name) {
            std::memcpy(name, word, size_t(colon - word));
            name[colon - word] = 0;
            GSL_ArgGet(c, name, i, out, sizeof out);
            GSL_ArgGetInt(c, name, -1);
        }
        GSL_TextIdExpand(word, out, sizeof out);
        Check(std::strlen(out) < sizeof out);
        GSL_CharaIndexFromName(word);
    }
    const int32_t ahead = GSL_ScriptImageLookAhead(c, 1);
    Check(ahead == 0 || ahead == 1);
    for (const char* n : kNames) {
        GSL_ArgGet(c, n, 0, out, 8);
        Check(std::strlen(out) < 8);
        GSL_ArgGetInt(c, n, c->argCount);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<CommandEntry> table;
    if (table.empty()) {
        table.assign(GSL_ScriptCommandTable(), GSL_ScriptCommandTable() + kScriptCommands);
        for (CommandEntry& e : table) e.handler = ReadEverything;
        GSL_ScriptCommandTableSet(table.data());
    }
    if (size > (1u << 20)) return 0;
    std::unique_ptr<char[]> member(new char[size ? size : 1]);
    if (size) std::memcpy(member.get(), data, size);

    auto work = std::make_unique<ScriptTaskWork>();
    ScriptTaskWork& w = *work;
    std::memset(static_cast<void*>(&w), 0, sizeof w);
    w.secondSlot = -1;
    std::strcpy(w.fileName, "fuzz.txt");
    w.context.script = &w.script;
    w.script.text = member.get();
    w.script.size = uint32_t(size);
    w.script.command = w.script.prevCommand = -1;
    w.script.status = SCRIPT_STARTED;

    for (uint32_t steps = 0; w.script.status != SCRIPT_ENDED; ++steps) {
        const uint32_t before = w.script.nextOffset;
        GSL_ScriptStep(&w.script);
        Check(w.script.readOffset <= w.script.size && w.script.nextOffset <= w.script.size);
        Check(w.script.status == SCRIPT_ENDED || w.script.nextOffset > before);
        Check(steps <= size + 1);
    }

    auto put = [](int32_t slot, const char* line, float, int32_t, bool, void*) {
        Check(slot >= 0 && slot < kStaffrollTexts);
        Check(std::strlen(line) < 1536);
    };
    int32_t y = 0;
    const uint32_t from = size ? uint32_t(data[0]) * 7 % uint32_t(size) : 0;
    for (uint32_t start : {0u, from}) {
        const int32_t count = GSL_StaffrollRead(member.get(), uint32_t(size), start, put, nullptr, &y);
        Check(count >= 1 && count <= kStaffrollTexts);
        const int32_t ahead = GSL_ImageLookAheadScan(member.get(), uint32_t(size), start, "3");
        Check(ahead == 0 || ahead == 1);
    }
    return 0;
}
