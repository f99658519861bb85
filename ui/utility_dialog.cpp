#include "ui/utility_dialog.h"

#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "ui/pointer.h"
#include "ui/widget_task.h"

int32_t UtilityDialogSeRotation = 0;

namespace {

const char kDialogPicture[] = "data/utility/dialog/dialog.png";
constexpr int32_t kFrameRect[4] = {8, 8, 544, 280};
constexpr int32_t kButtonRect[4] = {8, 304, 464, 64};
constexpr int32_t kSelectedRect[4] = {8, 376, 464, 64};
constexpr uint32_t kOutline = 0xFFD4B420;
constexpr uint32_t kOutlineSelected = 0xFFBD60F3;

bool textValid(int32_t t) { return t >= 0 && t < kTextSlots && TextTable[t]; }

void spriteScale(int32_t s, float x, float y, float z) {
    if (SpriteRecord* r = Lib_SpriteIsLive(s) ? Lib_SpriteAt(s) : nullptr) {
        r->scaleX = x;
        r->scaleY = y;
        r->scaleZ = z;
    }
}
float spriteScaleX(int32_t s) { return Lib_SpriteIsLive(s) ? Lib_SpriteAt(s)->scaleX : 0.0f; }

void textScale(int32_t t, float v) {
    if (!textValid(t)) return;
    TextScale sc{v, v};
    Lib_TextScaleSet(t, &sc);
    TextPos zero{0, 0, 0};
    Lib_TextRubyMove(TextTable[t], &zero);
}
float textScaleX(int32_t t) { return textValid(t) ? TextTable[t]->scaleX : 0.0f; }

void textOutline(int32_t t, uint32_t c) {
    if (textValid(t)) TextTable[t]->outline = c;
}

void textPos(int32_t t, int32_t x, int32_t y) {
    if (!textValid(t)) return;
    TextPos p{x, y, 0};
    Lib_TextPosSet(t, &p);
}

// Frees every picture and text the dialog still holds; each id becomes -1.
void freePictures(UtilityDialogWork* w) {
    for (int32_t& s : w->sprites) {
        GSL_WidgetSpriteFree(s);
        s = -1;
    }
    for (int32_t& t : w->texts) {
        if (textValid(t)) Lib_TextDel(t);
        t = -1;
    }
    GSL_WidgetSpriteFree(w->dimSprite);
    w->dimSprite = -1;
}

int32_t makeButton(UtilityDialogWork* w, float y) {
    int32_t b = Lib_SpriteCopy(0, w->sprites[0]);
    if (b < 0) return -1;
    Lib_SpriteSetFlag(b, 1);
    Lib_SpriteSetPrio(b, w->priority + 1, 0);
    spriteScale(b, 0, 0, 0);
    Lib_SpriteSetRect(b, kButtonRect);
    SpriteRecord* r = Lib_SpriteAt(b);
    r->posX = 0;
    r->posY = y;
    r->posZ = 0;
    return b;
}

int32_t makeChoice(const UtilityDialogWork* w, int32_t button, uint32_t index) {
    int32_t y = Lib_SpriteIsLive(button) ? int32_t(Lib_SpriteAt(button)->posY) : 0;
    TextPos p{640, y - 358, 0};
    int32_t t = Lib_TextSet(0, Lib_MesGet(nullptr, 1, int32_t(index), -1, nullptr, 0), &p);
    if (t < 0) return -1;
    Lib_TextPrioSet(t, w->priority);
    Lib_TextRgbaSet(t, 0xFFFFFFFF);
    const uint32_t corners[4] = {0, 0, 0x00FFFFFF, 0x00FFFFFF};
    Lib_TextCornerColorSet(t, corners);
    TextTable[t]->renderFlags = 2;
    textScale(t, 0);
    TextTable[t]->outline = kOutline;
    return t;
}

void build(UtilityDialogWork* w) {
    int32_t frame = w->sprites[0];
    Lib_SpriteSetFlag(frame, 1);
    Lib_SpriteSetPrio(frame, w->priority + 1, 1);
    spriteScale(frame, 0, 0, 0);
    Lib_SpriteSetRect(frame, kFrameRect);
    int32_t msg = w->texts[0];
    if (textValid(msg)) {
        TextTable[msg]->state |= TEXT_STATE_DRAWN;
        Lib_TextPrioSet(msg, w->priority);
        textScale(msg, 0);
        Lib_TextRgbaSet(msg, 0xFFFFFFFF);
        TextTable[msg]->outline = kOutline;
        TextTable[msg]->renderFlags = 2;
    }
    if (w->kind == DIALOG_YES_NO && Lib_SpriteIsLive(frame)) {
        w->sprites[1] = makeButton(w, -18);
        w->sprites[2] = makeButton(w, -84);
        textPos(msg, 640, -296);
        w->texts[1] = makeChoice(w, w->sprites[1], 0);
        w->texts[2] = makeChoice(w, w->sprites[2], 1);
    } else if (w->kind == DIALOG_ONE_BUTTON && Lib_SpriteIsLive(frame)) {
        w->sprites[1] = makeButton(w, -64);
        textPos(msg, 640, -320);
        w->texts[1] = makeChoice(w, w->sprites[1], 2);
    }
}

void growIn(UtilityDialogWork* w) {
    float s = spriteScaleX(w->sprites[0]) + 0.2f;
    spriteScale(w->sprites[0], s, s, 0);
    float b = spriteScaleX(w->sprites[1]) + 0.2f;
    spriteScale(w->sprites[1], b, b, 0);
    spriteScale(w->sprites[2], b, b, 0);
    textScale(w->texts[0], textScaleX(w->texts[0]) + 0.1f);
    float c = textScaleX(w->texts[1]) + 0.14f;
    textScale(w->texts[1], c);
    textScale(w->texts[2], c);
    float d = spriteScaleX(w->dimSprite) + 0.2f;
    spriteScale(w->dimSprite, d, d, 0);
    if (++w->animCounter < 5) return;
    for (int i = 0; i < 3; ++i) spriteScale(w->sprites[i], 1, 1, 0);
    textScale(w->texts[0], 0.5f);
    textScale(w->texts[1], 0.7f);
    textScale(w->texts[2], 0.7f);
    w->animCounter = 0;
    w->state = DIALOG_WAITING;
}

bool clicked() { return MouseInput.clickPhase == 3 && PointerGesture.clickAllowed; }

bool clickIn(const int32_t* r) {
    return clicked() && MouseInput.x >= r[0] && MouseInput.x <= r[2] && MouseInput.y >= r[1] &&
           MouseInput.y <= r[3];
}

int32_t pointerIn(const int32_t* r) {
    InputRect rect{r[0], r[1], r[2], r[3]};
    return Lib_InputMouseInRect(0, &rect);
}

void waitTwoButtons(UtilityDialogWork* w) {
    int32_t r1[4], r2[4];
    Lib_UtilitySpriteRectGet(r1, w->sprites[1]);
    Lib_UtilitySpriteRectGet(r2, w->sprites[2]);
    bool moved = false;
    if (pointerIn(r1) == 1) w->cursor = 1, moved = true;
    if (pointerIn(r2) == 1) w->cursor = 0, moved = true;
    const uint32_t pressed = InputButtons.pressed;
    if (clickIn(r1)) {
        if (w->cursor == 1) w->result = 1;
        w->cursor = 1;
    } else if (clickIn(r2)) {
        if (w->cursor == 0) w->result = 2;
        w->cursor = 0;
    } else {
        uint32_t before = w->cursor;
        if (pressed & BUTTON_DECIDE) w->result = w->cursor == 1 ? 1 : 2;
        if (pressed & BUTTON_CANCEL) w->result = 2, w->cursor = 0;
        if (pressed & BUTTON_UP) w->cursor = 1;
        if (pressed & BUTTON_DOWN) w->cursor = 0;
        if (w->cursor != before) moved = true;
    }
    const int sel = w->cursor == 1 ? 1 : 2;
    for (int i = 1; i <= 2; ++i) {
        Lib_SpriteSetRect(w->sprites[i], i == sel ? kSelectedRect : kButtonRect);
        textOutline(w->texts[i], i == sel ? kOutlineSelected : kOutline);
    }
    if (moved) Lib_UtilityDialogSePlay(1);  // before the closing "enter"
}

void waitOneButton(UtilityDialogWork* w) {
    int32_t r[4];
    Lib_UtilitySpriteRectGet(r, w->sprites[1]);
    int32_t over = pointerIn(r);
    Lib_SpriteSetRect(w->sprites[1], kButtonRect);
    textOutline(w->texts[1], kOutline);
    if (over == 1) Lib_UtilityDialogSePlay(1);
    if (over == 1 || over == 2) {
        Lib_SpriteSetRect(w->sprites[1], kSelectedRect);
        textOutline(w->texts[1], kOutlineSelected);
    }
    if ((InputButtons.pressed & (BUTTON_DECIDE | BUTTON_CANCEL)) || clickIn(r)) w->result = 1;
}

void waitMessage(UtilityDialogWork* w) {
    if (w->kind == DIALOG_TIMED) ++w->frameCounter;
    const int32_t screen[4] = {0, 0, 1279, 719};
    if ((InputButtons.pressed & (BUTTON_DECIDE | BUTTON_CANCEL)) || clickIn(screen) ||
        int32_t(w->frameCounter) >= w->timeout)
        w->result = 1;
}

}  // namespace

void* Lib_UtilityWorkGet(int32_t task) {
    if (task <= kTaskTail || task >= kTaskSlots) return nullptr;
    TaskRecord* r = TaskTable.slots[task];
    return r && !r->dead ? r->work : nullptr;
}

int32_t Lib_UtilitySet(uint32_t kind, TaskCallback callback) {
    int32_t task = Lib_TaskSet("Lib_UtilityCB", callback, 45001, 300, 0);
    if (task < 0) return -1;
    void* work = Lib_TaskWorkAlloc(uint32_t(task), kUtilityWorkSize);
    if (!work) {
        Lib_TaskDel(uint32_t(task));
        return -1;
    }
    std::memset(work, 0, kUtilityWorkSize);
    static_cast<UtilityDialogWork*>(work)->kind = kind;
    return task;
}

int32_t Lib_DialogOpen(uint32_t kind, const char* text, uint32_t timeout, uint32_t priority, uint8_t dim) {
    int32_t task = Lib_UtilitySet(kind, Lib_UtilityCB);
    if (task < 0) return -1;
    auto* w = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(task));
    w->cursor = 1;
    w->animCounter = 0;
    for (int i = 0; i < 3; ++i) w->sprites[i] = w->texts[i] = -1;
    w->timeout = int32_t(timeout);
    w->priority = int32_t(priority);
    w->dimSprite = -1;
    Lib_DebugPrintf("dialog %u: %s\n", kind, text ? text : "");
    w->sprites[0] = Lib_SpriteLoad(0, kDialogPicture, -1, 1);
    TextPos p{640, -360, 0};
    w->texts[0] = Lib_TextSet(0, text ? text : "", &p);
    if (textValid(w->texts[0])) TextTable[w->texts[0]]->state &= uint8_t(~TEXT_STATE_DRAWN);
    if (dim) {
        w->dimSprite = Lib_SpriteLoad(0, nullptr, -1, 0);
        Lib_SpriteSetFlag(w->dimSprite, 1);
        Lib_SpriteSetPrio(w->dimSprite, w->priority + 1, 2);
        Lib_SpriteSetColor(w->dimSprite, 0xC0000000);
        spriteScale(w->dimSprite, 0, 0, 0);
    }
    return task;
}

int32_t Lib_DialogAsk(const char* text) { return Lib_DialogOpen(DIALOG_YES_NO, text, 180, 98, 1); }
int32_t Lib_DialogNotice(uint32_t kind, const char* text) { return Lib_DialogOpen(kind, text, 180, 2, 0); }

void Lib_DialogClose(int32_t task) {
    auto* w = static_cast<UtilityDialogWork*>(Lib_UtilityWorkGet(task));
    if (!w) return;
    if (TaskTable.slots[task]->callback == Lib_UtilityCB) freePictures(w);
    Lib_TaskDel(uint32_t(task));
}

int32_t Lib_UtilityCB(void* work) {
    auto* w = static_cast<UtilityDialogWork*>(work);
    if (w->state == DIALOG_BUILDING) {
        if (Lib_SpriteGetState(w->sprites[0]) == 0) return 0;
        build(w);
        w->state = DIALOG_GROWING;
    }
    if (w->state == DIALOG_GROWING) {
        growIn(w);
        return 0;
    }
    if (w->state != DIALOG_WAITING) return 0;
    switch (w->kind) {
    case DIALOG_YES_NO: waitTwoButtons(w); break;
    case DIALOG_ONE_BUTTON: waitOneButton(w); break;
    case DIALOG_TIMED: case DIALOG_MESSAGE: waitMessage(w); break;
    case DIALOG_PROGRESS:
        w->answered = 1;
        w->state = DIALOG_FINISHED;
        return 0;
    default: return 0;
    }
    if (w->result) {
        Lib_UtilityDialogSePlay(0);
        freePictures(w);
        w->answered = 1;
        w->state = DIALOG_FINISHED;
    }
    return 0;
}

void Lib_UtilitySpriteRectGet(int32_t* out, int32_t sprite) {
    float x = 0, y = 0;
    int32_t w = 0, h = 0;
    if (Lib_SpriteIsLive(sprite)) {
        const SpriteRecord* r = Lib_SpriteAt(sprite);
        x = r->posX;
        y = r->posY;
        bool empty = r->srcRect[0] == -9999 || r->srcRect[2] <= 0 || r->srcRect[3] <= 0;
        w = int32_t(float(empty ? r->textureWidth : r->srcRect[2]) * r->scaleX);
        h = int32_t(float(empty ? r->textureHeight : r->srcRect[3]) * r->scaleY);
    }
    int32_t cx = int32_t(640.0f + x), cy = int32_t(360.0f - y);
    out[0] = cx - w / 2;
    out[1] = cy - h / 2;
    out[2] = cx + w / 2;
    out[3] = cy + h / 2;
}

void Lib_UtilityDialogSePlay(int32_t n) {
    if (n != 0 && n != 1) return;
    int32_t channel = 19 + UtilityDialogSeRotation;
    UtilityDialogSeRotation = (UtilityDialogSeRotation + 1) % 3;
    Lib_SoundRequest(SoundChannelTable[channel], n == 0 ? "utility/dialog/enter.wav" : "utility/dialog/move.wav", 0, 0,
                     nullptr);
}
