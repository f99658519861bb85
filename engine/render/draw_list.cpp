#include "engine/render/draw_list.h"

#include <algorithm>

#include "engine/render/renderer.h"

// process-wide: emptied by Lib_DrawClear at the graphics' start
DrawListT DrawList;
// process-wide: set and put back by each drawing (Main_DrawCB)
DrawWalkFilter DrawFilter{nullptr, nullptr};

namespace {

// While the walk runs, it resumes after the anchor: the entry being called,
// or, once that entry leaves the chain, the nearest entry before it. When no
// entry is left before it, the walk resumes at g_resume instead.
// process-wide (g_walking, g_anchor, g_resume): the walk's place, set and put back by Lib_DrawWalk
bool g_walking = false;
int32_t g_anchor = -1;
int32_t g_resume = -1;

DrawEntry& Entry(int32_t index) { return DrawList.entries[index]; }

// The head never leaves the chain: it is where every walk starts.
bool InChain(int32_t index) { return index == kDrawHead || Entry(index).prev >= 0; }

// Takes an entry out of the chain, patching only the neighbours that really
// point at it, and moves the walk's anchor off it.
void Unlink(int32_t index) {
    if (index == kDrawHead) return;
    DrawEntry& e = Entry(index);
    if (g_walking) {
        if (index == g_anchor) {
            g_resume = e.next;
            g_anchor = e.prev;
        } else if (g_anchor < 0 && index == g_resume) {
            g_resume = e.next;
        }
    }
    if (e.prev >= 0 && Entry(e.prev).next == index) Entry(e.prev).next = e.next;
    if (e.next >= 0 && Entry(e.next).prev == index) Entry(e.next).prev = e.prev;
    e.prev = -1;
    e.next = -1;
}

void RemoveNow(int32_t index) {
    Unlink(index);
    DrawEntry& e = Entry(index);
    int32_t keepNext = index == kDrawHead ? e.next : -1;
    e = DrawEntry{nullptr, 0, 0, -1, -1, keepNext, 0};
    DrawList.count--;
}

}  // namespace

void Lib_DrawClear() {
    for (DrawEntry& e : DrawList.entries) e = DrawEntry{nullptr, 0, 0, -1, -1, -1, 0};
    DrawList.count = 0;
    Lib_RenderTouch();  // a new start: the next frame is drawn whatever it holds
}

void Lib_DrawLink(int32_t index, int32_t priority, int32_t subPriority) {
    if (index < 0 || index >= kDrawEntries || index == kDrawHead) return;
    DrawEntry& e = Entry(index);
    if (!e.callback) return;
    Unlink(index);
    // A negative priority is stored, so that any later non-negative one
    // links the entry again.
    e.priority = priority;
    e.subPriority = subPriority;
    if (priority < 0) {
        // Out of the chain it is never walked, so a pending removal is done now.
        if (e.removeFlag) RemoveNow(index);
        return;
    }
    // Insert before the first entry this one outranks; equal pairs keep their
    // insertion order, and a negative sub-priority goes after its whole rank.
    int32_t before = kDrawHead;
    int32_t at = Entry(kDrawHead).next;
    while (at >= 0) {
        const DrawEntry& other = Entry(at);
        if (priority > other.priority ||
            (subPriority >= 0 && priority == other.priority && subPriority > other.subPriority))
            break;
        before = at;
        at = other.next;
    }
    e.prev = before;
    e.next = at;
    Entry(before).next = index;
    if (at >= 0) Entry(at).prev = index;
}

int32_t Lib_DrawSet(DrawCallback callback, uint64_t arg, int32_t priority, int32_t /*unused*/,
                    int32_t subPriority) {
    if (!callback || DrawList.count >= kDrawEntries) return -1;
    int32_t index = 0;
    while (index < kDrawEntries && Entry(index).callback) index++;
    if (index == kDrawEntries) return -1;
    Unlink(index);  // a free entry should be unlinked already; make sure
    int32_t p = std::max(priority, 0);
    DrawEntry& e = Entry(index);
    e = DrawEntry{callback, arg, p, subPriority, -1, index == kDrawHead ? e.next : -1, 0};
    DrawList.count++;
    Lib_DrawLink(index, p, subPriority);
    return index;
}

void Lib_DrawDel(uint32_t index, uint8_t deferred) {
    if (index >= uint32_t(kDrawEntries)) return;
    int32_t i = int32_t(index);
    if (!Entry(i).callback) return;
    if (deferred && InChain(i)) {
        Entry(i).removeFlag = 1;
        return;
    }
    RemoveNow(i);
}

void Lib_DrawSetPrio(uint32_t index, int32_t priority, int32_t subPriority) {
    if (index >= uint32_t(kDrawEntries)) return;
    const DrawEntry& e = Entry(int32_t(index));
    if (!e.callback) return;
    if (priority == e.priority && subPriority == e.subPriority) return;
    Lib_DrawLink(int32_t(index), priority, subPriority);
}

void Lib_DrawWalk() {
    if (g_walking) return;
    g_walking = true;
    int32_t flagged[kDrawEntries];
    int flaggedCount = 0;
    int32_t at = kDrawHead;
    while (at >= 0) {
        g_anchor = at;
        g_resume = -1;
        const DrawEntry& e = Entry(at);
        const uint8_t skip = DrawFilter.skip ? DrawFilter.skip[at] : 0;
        if (e.callback && !skip) e.callback(e.arg);
        else if (e.callback && skip == 2 && DrawFilter.kept) DrawFilter.kept(e.callback, e.arg);
        if (Entry(at).removeFlag && flaggedCount < kDrawEntries) flagged[flaggedCount++] = at;
        at = g_anchor >= 0 ? Entry(g_anchor).next : g_resume;
    }
    g_walking = false;
    g_anchor = -1;
    g_resume = -1;
    // Only entries still flagged: a remembered index may have been removed and
    // taken again during the walk.
    for (int k = 0; k < flaggedCount; k++) {
        int32_t i = flagged[k];
        if (Entry(i).callback && Entry(i).removeFlag) RemoveNow(i);
    }
}
