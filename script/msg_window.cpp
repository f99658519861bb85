#include "script/msg_window.h"

#include <algorithm>

#include "script/game_blocks.h"
#include "script/message.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/screen_slots.h"

namespace {

constexpr int32_t kLayoutGroup = 5;

struct Part {
    uint32_t slot;
    float x, y;
    int32_t priority;
};

ModeFunction Story() { return ScreenUpper.storyScreen; }

int32_t Sprite(uint32_t slot) { return Story() ? GSL_WorkLayerGet(Story(), slot) : -1; }

// A part cut from the sheet: a copy of slot 31 when its slot is empty,
// hidden, with the layout rectangle, place, priority and colour.
int32_t MakePart(const Part& p, int32_t layoutIndex, uint32_t colour) {
    if (Sprite(kStorySheetSlot) < 0) return -1;
    if (Sprite(p.slot) < 0 && GSL_WorkLayerCopy(Story(), p.slot, kStorySheetSlot, -1) < 0) return -1;
    const int32_t s = Sprite(p.slot);
    if (s < 0 || s >= kSpriteSlots) return -1;
    LayoutRect r{};
    GSL_LayoutGetRect(&r, kLayoutGroup, layoutIndex);
    const int32_t rect[4] = {r.x, r.y, r.width, r.height};
    Lib_SpriteSetRect(s, rect);
    Lib_SpriteSetValue(s, 1);
    Lib_SpriteSetPrio(s, p.priority, -1);
    Lib_SpriteSetColor(s, colour);
    Lib_SpriteSetFlag(s, 0);
    SpriteTable[s].posX = p.x;
    SpriteTable[s].posY = p.y;
    SpriteTable[s].posZ = 0.0f;
    SpriteTable[s].scaleX = SpriteTable[s].scaleY = 1.0f;
    return s;
}

void SetTextsShown(bool shown) {
    for (uint32_t i = kMessageNameText; i <= kMessageLastText; ++i) {
        const int32_t h = GSL_WorkTextGet(Story(), i);
        if (h < 0 || h >= kTextSlots || !TextTable[h]) continue;
        if (shown) TextTable[h]->state |= TEXT_STATE_DRAWN;
        else TextTable[h]->state &= uint8_t(~TEXT_STATE_DRAWN);
    }
}

void OpenedState() {
    StageRecord& stage = GameStateBlock.stage;
    const int32_t window = Sprite(kMessageWindowSlot);
    Lib_SpriteSetColor(window, GSL_WindowOpacity());
    Lib_SpriteSetFlag(window, 1);
    Lib_SpriteSetFlag(Sprite(26), GSL_WorkTextGet(Story(), kMessageNameText) >= 0 ? 1 : 0);
    SetTextsShown(true);
    Lib_SpriteSetColor(Sprite(9), 0xFFFFFFFFu);
    stage.layerVisible[9] = 1;
    const uint8_t shown = Lib_SpriteGetFlag(window);
    Lib_SpriteSetFlag(Sprite(27), shown);
    Lib_SpriteSetFlag(Sprite(28), shown);
}

void ClosedState() {
    StageRecord& stage = GameStateBlock.stage;
    GSL_WorkLayerFree(Story(), 24);
    GSL_WorkLayerFree(Story(), 26);
    GSL_WorkLayerFree(Story(), int32_t(kMessageIconSlot));
    for (uint32_t i = kMessageNameText; i <= kMessageLastText; ++i) GSL_WorkTextFree(Story(), i);
    GSL_WorkLayerFree(Story(), int32_t(kMessageWindowSlot));
    Lib_SpriteSetColor(Sprite(9), 0xFFFFFFFFu);
    Lib_SpriteSetFlag(Sprite(9), 0);
    stage.layerVisible[9] = 0;
    GSL_WorkLayerFree(Story(), 27);
    GSL_WorkLayerFree(Story(), 28);
}

}  // namespace

uint32_t GSL_WindowOpacity() {
    const uint32_t a = std::min<uint32_t>(uint32_t(SystemDataBlock.windowOpacity) * 255u / 100u, 255u);
    return (a << 24) + 0xFFFFFFu;
}

void openSet(int32_t /*frames*/) {
    StageRecord& stage = GameStateBlock.stage;
    if (!Story() || stage.openTask >= 0) return;
    if (Sprite(kMessageWindowSlot) < 0) {
        const int32_t frame = stage.windowFrame;
        const uint32_t opacity = GSL_WindowOpacity();
        MakePart({24, 0.0f, -240.0f, 9700000}, frame < 0 ? 0 : frame, opacity);
        MakePart({26, -315.0f, -139.0f, 8499001}, frame < 0 ? 2 : frame + 2, opacity);
        const int32_t icon = MakePart({kMessageIconSlot, 0.0f, 0.0f, kMessagePriority}, 6, 0x00FFFFFFu);
        if (icon >= 0) {
            SpriteTable[icon].clipRect[0] = 0, SpriteTable[icon].clipRect[1] = 532;
            SpriteTable[icon].clipRect[2] = 1280, SpriteTable[icon].clipRect[3] = 174;
        }
        if (Sprite(24) >= 0 && GSL_WorkLayerCopy(Story(), kMessageWindowSlot, 24, -1) >= 0) {
            const int32_t w = Sprite(kMessageWindowSlot);
            Lib_SpriteSetValue(w, 1);
            Lib_SpriteSetPrio(w, 9700000, -1);
            SpriteTable[w].posX = 0.0f, SpriteTable[w].posY = -240.0f;
            Lib_SpriteSetFlag(w, 1);
            Lib_SpriteSetColor(w, 0x00FFFFFFu);
        }
        Lib_SpriteSetFlag(Sprite(9), 1);
        Lib_SpriteSetColor(Sprite(9), 0x00FFFFFFu);
        MakePart({27, 600.0f, -183.0f, 9699000}, 29, 0xFFF0F0F0u);
        MakePart({28, 600.0f, -335.0f, 9699000}, 30, 0xFFF0F0F0u);
    }
    OpenedState();
}

void closeSet(int32_t /*frames*/) {
    StageRecord& stage = GameStateBlock.stage;
    if (!Story() || stage.closeTask >= 0) return;
    ClosedState();
}
