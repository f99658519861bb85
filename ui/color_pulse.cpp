#include "ui/color_pulse.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "ui/mode.h"
#include "ui/widget_task.h"

namespace {
// Beside each saved byte: the task that owned the slot when it was saved, so
// a slot reused meanwhile by another task is left alone on restore.
struct PauseOwner {
    TaskCallback callback;
    void* work;
};
// process-wide: cleared by each pause before it is read
PauseOwner PauseOwners[2][kTaskSlots];

int32_t fall(int32_t c, int32_t e) { return c + e < 0 ? 0 : std::min(c + e, c); }
}  // namespace

void GSL_SystemColorCycle(int32_t sprite, int32_t text, int32_t red, int32_t green, int32_t blue, int32_t amplitude,
                          int32_t* angle) {
    if (!angle) return;
    const float c = cosf(float(*angle) * 0.017453f);
    const int32_t e = amplitude - int32_t(c * float(amplitude));
    int32_t r, g, b;
    if (amplitude > 0) {
        r = std::min(red + e, 255);
        g = std::min(green + e, 255);
        b = blue + e < blue ? blue : (blue + e > 255 ? 255 : blue + e);
    } else {
        r = fall(red, e);
        g = fall(green, e);
        b = fall(blue, e);
    }
    uint32_t kept = 0xFF000000u;
    if (red == 0) kept |= 0xFF0000u;
    if (green == 0) kept |= 0xFF00u;
    if (blue == 0) kept |= 0xFFu;
    const uint32_t word = (uint32_t(r) & 0xFFu) << 16 | (uint32_t(g) & 0xFFu) << 8 | (uint32_t(b) & 0xFFu);
    if (sprite >= 0) {
        if (sprite < kSpriteSlots) {
            const uint32_t current = Lib_SpriteIsLive(sprite) ? Lib_SpriteGetColor(sprite) : 0xFFFFFFFFu;
            Lib_SpriteSetColor(sprite, word | (current & kept));
        }
    } else if (text >= 0 && text < kTextSlots && TextTable[text]) {
        Lib_TextRgbaSet(text, word | (TextTable[text]->colour & kept));
    }
    *angle = (*angle + 5) % 360;
}

void GSL_SystemTaskPause(uint8_t value, int32_t buffer) {
    if (buffer < 0 || buffer > 1) return;
    uint8_t*& saved = TaskPauseSave[buffer];
    PauseOwner* owners = PauseOwners[buffer];
    if (!saved) {
        saved = static_cast<uint8_t*>(Lib_MemAlloc(0, kTaskSlots, 8));
        if (!saved) {
            Lib_DebugPrintf("widget pause: no memory for the saved bytes; not paused\n");
            return;
        }
        std::memset(saved, 0xFF, kTaskSlots);
        std::memset(owners, 0, sizeof PauseOwners[0]);
        for (int32_t i = 0; i < kTaskSlots; ++i) {
            TaskRecord* t = TaskTable.slots[i];
            if (!t || t->dead || t->group != kWidgetGroupScreen) continue;
            saved[i] = t->suspended;
            owners[i] = {t->callback, t->work};
            t->suspended = value;
        }
        return;
    }
    for (int32_t i = 0; i < kTaskSlots; ++i) {
        TaskRecord* t = TaskTable.slots[i];
        if (!t || t->dead || t->group != kWidgetGroupScreen || saved[i] == 0xFF) continue;
        if (t->callback != owners[i].callback || t->work != owners[i].work) continue;
        t->suspended = saved[i];
    }
    Lib_MemFree(0, saved);
    saved = nullptr;
}
