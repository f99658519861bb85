// The message box: a window frame with a text that fades in over a dimmed
// screen and waits until the player confirms with a button or a click. Its
// owner polls the answered word, then deletes it.
#pragma once

#include <cstdint>

#include "ui/widget_task.h"

enum : uint8_t { MSGBOX_WINDOW = 0, MSGBOX_FADING = 1, MSGBOX_WAITING = 10, MSGBOX_ANSWERED = 20 };

struct MessageBoxWork {
    WidgetWork head;
    int32_t overlay;  // blank full-screen sprite that dims the screen
    int32_t window;   // task slot of its window frame
    int32_t text;     // text object slot
    uint32_t wait;    // 1: wait for the player after the fade-in
    uint32_t answered;
    float textX, textY, textZ;
    uint32_t alpha;  // the fade's alpha, in the top byte
};

// position: the text's x, y, z; spacing: letter and line spacing; scale: the
// window's middle scale (w, h). Task slot, or -1 with nothing made.
int32_t GSL_SystemMsgSet(const char* text, const int32_t position[3], const int32_t spacing[2],
                         const float scale[2]);
// Frees the box's overlay, window and text and deletes it. Always -1 (what
// owners store as "no message box").
int32_t GSL_SystemMsgDel(int32_t slot);
// Draws the box with the default camera.
void GSL_SystemMsgFixCam(int32_t slot);
MessageBoxWork* GSL_SystemMsgWork(int32_t slot);
int32_t GSL_SystemMsgCB(void* work);
