#include "ui/message_box.h"

#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "engine/text/text_object.h"
#include "ui/pointer.h"
#include "ui/widget_delete.h"
#include "ui/window_frame.h"

static_assert(sizeof(MessageBoxWork) <= kWidgetWorkSize);

namespace {
constexpr uint32_t kAlphaStep = 0x11000000u;  // 15 frames to opaque
constexpr uint32_t kDimmed = 0xC0000000u;
constexpr uint32_t kWhite = 0x00FFFFFFu;

bool textLive(int32_t t) { return t >= 0 && t < kTextSlots && TextTable[t]; }

// Frees what the box owns; each handle becomes -1.
void release(MessageBoxWork* w) {
    if (w->overlay >= 0) Lib_SpriteFree(w->overlay);
    w->overlay = -1;
    GSL_SystemWinDel(w->window);
    w->window = -1;
    if (textLive(w->text)) Lib_TextDel(w->text);
    w->text = -1;
}

void msgDelete(int32_t slot) {
    if (MessageBoxWork* w = GSL_SystemMsgWork(slot)) release(w);
}
}  // namespace

MessageBoxWork* GSL_SystemMsgWork(int32_t slot) {
    return reinterpret_cast<MessageBoxWork*>(GSL_WidgetWorkGet(slot, GSL_SystemMsgCB));
}

int32_t GSL_SystemMsgSet(const char* text, const int32_t position[3], const int32_t spacing[2],
                         const float scale[2]) {
    if (!position || !scale) return -1;
    GSL_WidgetDeleteRegister(GSL_SystemMsgCB, msgDelete);
    auto* w = reinterpret_cast<MessageBoxWork*>(
        GSL_WidgetCreate("GSL_SystemMsgCB", GSL_SystemMsgCB, kWidgetPriority, kWidgetGroupScreen, 0));
    if (!w) return -1;
    w->overlay = Lib_SpriteLoad(-1, nullptr, -1, 0);
    if (w->overlay < 0) w->overlay = -1;
    Lib_SpriteSetFlag(w->overlay, 1);
    Lib_SpriteSetPrio(w->overlay, 101, -1);
    Lib_SpriteSetColor(w->overlay, 0x00000000u);
    const float centre[2] = {0.0f, 0.0f};
    w->window = GSL_SystemWinSet(centre, scale, 100, 0);
    w->textX = float(position[0]), w->textY = float(position[1]), w->textZ = float(position[2]);
    const TextPos at{position[0], position[1], position[2]};
    w->text = Lib_TextSet(-1, text ? text : "", &at);
    if (textLive(w->text)) {
        TextRecord* t = TextTable[w->text];
        Lib_TextPrioSet(w->text, 99);
        if (spacing) t->letterSpacing = spacing[0], t->lineSpacing = spacing[1];
        Lib_TextRgbaSet(w->text, kWhite);
        const TextScale s{0.6f, 0.6f};
        Lib_TextScaleSet(w->text, &s);
    } else {
        w->text = -1;
    }
    w->wait = 1;
    w->alpha = 0;
    return w->head.slot;
}

int32_t GSL_SystemMsgDel(int32_t slot) {
    MessageBoxWork* w = GSL_SystemMsgWork(slot);
    if (!w) return -1;
    release(w);
    Lib_TaskDel(uint32_t(slot));
    return -1;
}

void GSL_SystemMsgFixCam(int32_t slot) {
    MessageBoxWork* w = GSL_SystemMsgWork(slot);
    if (!w) return;
    Lib_SpriteSetValue(w->overlay, 2);
    GSL_SystemWinFixCam(w->window);
    if (textLive(w->text)) Lib_TextDrawModeSet(w->text, 2);
}

int32_t GSL_SystemMsgCB(void* work) {
    auto* w = static_cast<MessageBoxWork*>(work);
    if (!w) return 0;
    switch (w->head.state) {
    case MSGBOX_WINDOW: {
        // A window that is gone (or whose sheet failed) does not hold the box.
        const WindowWork* win = GSL_SystemWinWork(w->window);
        if (win && win->head.state == WIDGET_STARTING) return 0;
        GSL_SystemWinShow(w->window);
        GSL_SystemWinSetColor(w->window, kWhite);
        w->head.state = MSGBOX_FADING;
        return 0;
    }
    case MSGBOX_FADING:
        w->alpha += kAlphaStep;
        GSL_SystemWinSetColor(w->window, w->alpha + kWhite);
        if (textLive(w->text)) Lib_TextRgbaSet(w->text, w->alpha + kWhite);
        Lib_SpriteSetColor(w->overlay, w->alpha < kDimmed ? w->alpha : kDimmed);
        if (w->alpha < 0xFF000000u) return 0;
        GSL_SystemWinSetColor(w->window, 0xFFFFFFFFu);
        if (textLive(w->text)) Lib_TextRgbaSet(w->text, 0xFFFFFFFFu);
        Lib_SpriteSetColor(w->overlay, kDimmed);
        w->head.state = MSGBOX_WAITING;
        if (!w->wait) {
            w->answered = 1;
            w->head.state = MSGBOX_ANSWERED;
        }
        return 0;
    case MSGBOX_WAITING: {
        int32_t screen[4] = {-1, 0, 0, 0};
        const bool key = (InputButtons.pressed & (BUTTON_DECIDE | BUTTON_CANCEL)) != 0;
        if (key || GSL_ButtonCheck(nullptr, -1, screen, 0, 0, 0, -1) == 1) {
            w->answered = 1;
            w->head.state = MSGBOX_ANSWERED;
        }
        return 0;
    }
    default:
        return 0;
    }
}
