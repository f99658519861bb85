// The script flow on arbitrary input. The first byte picks the part:
// - conditions and statements: the bytes as a condition list, a statement
//   list, one condition and one statement (each must return; variables stay
//   in their banks);
// - block skips: the bytes as a script member (in a buffer of exactly its
//   size) scanned by the if-block searches from every few offsets; every
//   answer is -1 or a '<' inside the member;
// - restores: the bytes fill the histories and offsets of the game state,
//   and a script task over a fixed container of calls, jumps, blocks and
//   labels restores that position and runs a few frames, as a load (with the
//   record of its script files, the input's rest as a record, or none) or as
//   a line read again. A damaged history or record may give a wrong
//   position, never a crash or a hang.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "fuzz/script_container.h"
#include "script/flow.h"
#include "script/replay.h"
#include "script/saved_position.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/stage.h"
#include "script/vars.h"
#include "tests/script/story_stand_in.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

uint32_t FixedRandom(uint32_t lo, uint32_t hi) { return lo + (hi - lo) / 2; }

void Expressions(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // up to the first NUL
    GSL_CondEvalList(text.c_str());
    GSL_ExprEvalList(text.c_str());
    GSL_CondEval(text.c_str());
    GSL_ExprEval(text.c_str());
}

void Blocks(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return;
    std::unique_ptr<char[]> member(new char[size ? size : 1]);
    if (size) std::memcpy(member.get(), data, size);
    ScriptState s{};
    s.text = member.get();
    s.size = uint32_t(size);
    static const char* const kIf[] = {"<if ", "<endif>", "<elseif ", "<else>"};
    auto valid = [&](int32_t r) { return r == -1 || (r >= 0 && uint32_t(r) < size && member[r] == '<'); };
    const uint32_t stride = size / 8 + 1;
    for (uint32_t from = 0; from <= size; from += stride) {
        s.nextOffset = from;
        Check(valid(GSL_IfSkip2(&s, kIf, 4)));
        s.nextOffset = from;
        Check(valid(GSL_IfSkip2(&s, kIf, 2)));
        s.nextOffset = from;
        Check(valid(GSL_IfSkip(&s, -1, 1, kIf + 1, 1)));
        s.nextOffset = from;
        Check(valid(GSL_IfSkip(&s, -1, -1, kIf + 1, 3)));
        Check(valid(GSL_IfSkip(&s, -1, 0, kIf, 4)));
    }
}

int32_t g_story = -1;
StoryStandIn* g_standIn = nullptr;

// A small container: 00_init.txt calls sub.txt, jumps and branches.
void Container() {
    static const char* const kMembers[][2] = {
        {"00_init.txt",
         "<clearvar>\r\n<eval \"[2000]=rand(1,3)\">\r\n*top\r\n<label>\r\n<text a>\r\n<keywait 0>\r\n"
         "<call sub,*s>\r\n*mid\r\n<label ref:0>\r\n<if \"[2000]==1\">\r\n<text b>\r\n<jump_endif>\r\n"
         "<elseif \"[2000]==2\">\r\n<if \"[2001]==0\">\r\n<text c>\r\n<endif>\r\n<else>\r\n<text d>\r\n<endif>\r\n"
         "<keywait 1>\r\n<jump 00_init,*end,\"[2000]!=0\">\r\n<text never>\r\n*end\r\n<label>\r\n<return>\r\n"},
        {"sub.txt", "*s\r\n<label>\r\n<text s>\r\n<keywait 2>\r\n<jump sub,*t,\"[2002]==0\">\r\n*t\r\n<label>\r\n"},
    };
    std::vector<std::pair<std::string, std::string>> scripts;
    for (const auto& m : kMembers) scripts.emplace_back(m[0], m[1]);
    const std::string arc = fuzz_script::Container(scripts);
    void* data = Lib_CashAlloc("script/script.arc", arc.size(), 256);
    Check(data != nullptr);
    std::memcpy(data, arc.data(), arc.size());
    CacheEntry* e = Lib_CashEntryOf(data, 256);
    e->tag = 2;
    Lib_CashSetComplete(e);
}

void Restore(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {4 * mib, 2 * mib, 2 * mib, 4 * mib, 1 * mib};
        Check(Lib_MemInit(sizes));
        Check(Lib_TaskInit());
        Container();
        static StoryStandIn standIn;
        g_standIn = &standIn;
        GSL_ScriptRandomSet(FixedRandom);
        ready = true;
    }
    // Each field of the histories comes from the input in turn.
    size_t at = 0;
    auto take = [&](size_t n) {
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v = (v << 8) | (at < size ? data[at++] : 0);
        return v;
    };
    GameState& g = GameStateBlock;
    std::memset(static_cast<void*>(&g), 0, sizeof g);
    const uint8_t files = uint8_t(take(1));
    std::strcpy(g.scriptName, files & 1 ? "sub.txt" : files & 2 ? "gone.txt" : "00_init.txt");
    g.startOffset = uint32_t(take(2)) & 0x3FF;
    g.restartOffset = uint32_t(take(2)) & 0x3FF;
    const uint32_t labels = uint32_t(take(1)), lines = uint32_t(take(1));
    for (uint32_t i = 0; i < 16; ++i) {
        g.labelPos[i] = uint32_t(take(4));
        g.labelReturn[i] = uint32_t(take(4));
        g.labelFlags[i] = uint8_t(take(1));
        g.readLineLabel[i] = uint16_t(take(2));
        g.readLinePos[i] = uint32_t(take(4));
    }
    // Counts near, at and far past the tables' ends.
    const uint32_t kCounts[] = {0, 1, 3, 8, 15, 399, 400, 401, 15999, 16000, 70000, 0xFFFFFFFFu};
    g.labelCount = labels < 16 ? labels : kCounts[labels % std::size(kCounts)];
    g.readLineCount = lines < 16 ? lines : kCounts[lines % std::size(kCounts)];
    if (g.readLineCount < kReadLineSize) g.readLineLabel[g.readLineCount] = uint16_t(take(2));
    PendingCall = {-1, 0};
    // A load under way: with the record the state was made with, with the
    // rest of the input as its record, or with none.
    const uint8_t load = uint8_t(take(1)) % 4;
    if (load == 1) {
        const uint8_t* record = nullptr;
        const uint32_t n = GSL_SavedScriptsMake(g, &record);
        GSL_SavedScriptsLoaded(record, n);
    } else if (load == 2) {
        GSL_SavedScriptsLoaded(data + at, uint32_t(size - std::min(at, size)));
    } else if (load == 3) {
        GSL_SavedScriptsLoaded(nullptr, 0);
    }

    g_story = GSL_ScriptTaskSet();
    Check(g_story >= 0);
    g_standIn->Work().tasks[0] = g_story;
    g_standIn->Present(true);
    for (int frame = 0; frame < 3; ++frame) Lib_TaskPass(false);
    if (GSL_ScriptTaskWork(g_story)) Check(GSL_ScriptTaskEnd(g_story));
    for (int32_t slot = 0; slot < kTaskSlots; ++slot)
        if (TaskTable.slots[slot]) Lib_TaskDel(uint32_t(slot));
    g_story = -1;
    g_standIn->Present(false);
    // Ending the task ends its replay.
    Check(ReplayPhase == 0 && GSL_ReplayTargetText() == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    switch (data[0] % 3) {
        case 0: Expressions(data + 1, size - 1); break;
        case 1: Blocks(data + 1, size - 1); break;
        default: Restore(data + 1, size - 1); break;
    }
    return 0;
}
