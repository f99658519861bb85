// The draw list: every callback that draws something, kept in one chain in
// drawing order (highest priority first). The renderer's clear callback sits
// at the head, entry 0; the walk runs the chain once per frame.
#pragma once

#include <cstdint>

using DrawCallback = void (*)(uint64_t arg);

struct DrawEntry {
    DrawCallback callback;  // null: the entry is free
    uint64_t arg;
    int32_t priority;       // higher is drawn earlier; negative while taken out of the chain
    int32_t subPriority;    // higher first among equal priorities; negative goes last
    int32_t prev;           // -1: none
    int32_t next;           // -1: none
    uint8_t removeFlag;     // removed after the walk that calls it next
};

inline constexpr int kDrawEntries = 1024;
inline constexpr int kDrawHead = 0;
inline constexpr int32_t kDrawHeadPriority = 0x7FFFFFFF;

struct DrawListT {
    DrawEntry entries[kDrawEntries];
    int32_t count;  // entries with a callback
};
extern DrawListT DrawList;

// Empties the table: count 0, every entry free and unlinked; the next frame
// is drawn in full.
void Lib_DrawClear();
// Adds an entry (priority clamped to 0 or more) and links it. -1 when the
// callback is null or the table is full. `unused` is kept for the callers.
int32_t Lib_DrawSet(DrawCallback callback, uint64_t arg, int32_t priority, int32_t unused,
                    int32_t subPriority);
// Removes an entry now, or (deferred != 0) after the walk that calls it next.
// A free entry is left alone; an entry out of the chain is removed at once.
void Lib_DrawDel(uint32_t index, uint8_t deferred);
// Re-orders a used entry; a negative priority takes it out of the chain.
void Lib_DrawSetPrio(uint32_t index, int32_t priority, int32_t subPriority);
// The ordering step: takes the entry out of the chain, stores (priority,
// subPriority) and, when priority >= 0, links it by the order rule. The head
// entry keeps its place.
void Lib_DrawLink(int32_t index, int32_t priority, int32_t subPriority);
// While `skip` is set, the walk passes over the entries it marks by index:
// 1 calls nothing, 2 calls `kept` with the entry's callback and argument in
// place of the callback (the state the entry leaves behind for the next one).
struct DrawWalkFilter {
    const uint8_t* skip;
    void (*kept)(DrawCallback callback, uint64_t arg);
};
extern DrawWalkFilter DrawFilter;
// Calls every entry of the chain from the head, then removes the entries
// flagged for removal. Entries linked behind the running one are called in the
// same walk; an entry that removes itself does not end it.
void Lib_DrawWalk();
