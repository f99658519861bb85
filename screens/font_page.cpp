#include "screens/font_page.h"

#include <cstdio>
#include <cstring>

#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_load.h"
#include "engine/text/font.h"
#include "engine/text/font_window.h"
#include "engine/text/text_object.h"
#include "screens/option_items.h"
#include "story/config.h"
#include "story/game_state.h"
#include "ui/color_pulse.h"
#include "ui/loading.h"
#include "ui/mode.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/window_frame.h"

// process-wide: a test seam
uint8_t (*OptionFontAppRun)(const char* configured) = Lib_FontAppRun;

namespace {
constexpr uint32_t kTextOff = 0xFF404040u, kPlateOff = 0xFFC0C0C0u;
constexpr uint32_t kTextOn = 0xFF000000u, kPlateOn = 0xFFFFFFFFu;
constexpr int32_t kLanguages = 4;

int32_t Layer(uint32_t slot) { return GSL_WorkLayerGet(GSL_OptionModeCB, slot); }

int32_t Language() {
    const int32_t l = SystemDataBlock.language;
    return l < 0 ? 0 : l > 3 ? 3 : l;
}

void Place(int32_t sprite, float x, float y) {
    if (SpriteRecord* s = Lib_SpriteAt(sprite)) {
        s->posX = x;
        s->posY = y;
    }
}

float PosY(int32_t sprite) {
    const SpriteRecord* s = Lib_SpriteAt(sprite);
    return s ? s->posY : 0.0f;
}

void Save(int32_t sprite, float out[3]) {
    if (const SpriteRecord* s = Lib_SpriteAt(sprite)) {
        out[0] = s->posX;
        out[1] = s->posY;
        out[2] = s->posZ;
    }
}

void Restore(int32_t sprite, const float at[3]) {
    if (SpriteRecord* s = Lib_SpriteAt(sprite)) {
        s->posX = at[0];
        s->posY = at[1];
        s->posZ = at[2];
    }
}

// An image-less sprite: the dimmer and the plates.
int32_t Plain(float x, float y, float sx, float sy, int32_t priority, uint32_t colour) {
    const int32_t h = Lib_SpriteLoad(-1, nullptr, -1, 0);
    SpriteRecord* s = Lib_SpriteAt(h);
    if (!s) return -1;
    s->posX = x;
    s->posY = y;
    s->scaleX = sx;
    s->scaleY = sy;
    Lib_SpriteSetPrio(h, priority, -1);
    Lib_SpriteSetColor(h, colour);
    Lib_SpriteSetFlag(h, 1);
    return h;
}

int32_t Label(const char* text, int32_t y, int32_t layer) {
    const TextPos pos{640, y, 0};
    const int32_t h = Lib_TextSet(-1, text, &pos);
    TextRecord* r = h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
    if (!r) return -1;
    const TextScale scale{0.6f, 0.6f};
    Lib_TextScaleSet(h, &scale);
    Lib_TextPrioSet(h, layer);
    r->fontStyle = 0;
    r->renderFlags = TEXT_ALIGN_CENTRE;
    r->colour = kTextOff;
    r->state |= TEXT_STATE_DRAWN;
    return h;
}

void Colours(const int32_t* plates, const int32_t* texts, int32_t count, int32_t selected) {
    for (int32_t i = 0; i < count; ++i) {
        Lib_SpriteSetColor(plates[i], i == selected ? kPlateOn : kPlateOff);
        Lib_TextRgbaSet(texts[i], i == selected ? kTextOn : kTextOff);
    }
}

void Relabel(OptionWork* o, int32_t row) {
    char text[kMesTextSize];
    GSL_OptionFontLabel(row, text, sizeof text);
    Lib_TextStrSet(o->rowText[row], text);
}

// The plates' hit test: -1 nothing, else the entry entered or clicked;
// *decided when the click fell on the entry already selected.
int32_t Hit(const int32_t* plates, int32_t count, int32_t selected, bool* decided) {
    int32_t chosen = -1;
    for (int32_t i = 0; i < count; ++i) {
        int32_t rect[4] = {-1, 0, 0, 0};
        const uint8_t b = GSL_ButtonCheck(nullptr, plates[i], rect, 0, 0, 0, -1);
        if (b == 1) {
            if (i == selected)
                *decided = true;
            else
                chosen = i;
        } else if (b == 2 && i != selected) {
            chosen = i;
        }
    }
    return chosen;
}

bool CloseClicked() {
    int32_t rect[4] = {-1, 0, 0, 0};
    return GSL_ButtonCheck(nullptr, Layer(1), rect, 0, 0xFFF0F0F0u, 0xFFFFFFFFu, -1) == 1;
}

void PlateTo(OptionWork* o, int32_t row) {
    o->row = row;
    Place(Layer(2), -405.0f, PosY(o->rowPlate[row]));
    Colours(o->rowPlate, o->rowText, 2, row);
    o->angle = 0;
}

void Rows(ScreenWork* w, OptionWork* o) {
    bool decided = false;
    const int32_t chosen = Hit(o->rowPlate, 2, o->row, &decided);
    GSL_SystemColorCycle(Layer(2), -1, 255, 255, 255, -32, &o->angle);
    if ((InputButtons.pressed & BUTTON_CANCEL) || CloseClicked()) {
        GSL_SystemSePlay(SE_CANCEL);
        w->subState = FONT_PAGE_CLOSE;
        return;
    }
    if ((InputButtons.pressed & BUTTON_DECIDE) || decided) {
        GSL_SystemSePlay(SE_ENTER);
        w->subState = o->row == 0 ? FONT_LIST_START : FONT_FACE_WINDOW;
        return;
    }
    int32_t to = -1;
    if ((InputButtons.pressed & BUTTON_UP) || chosen == 0)
        to = 0;
    else if ((InputButtons.pressed & BUTTON_DOWN) || chosen == 1)
        to = 1;
    if (to < 0 || to == o->row) return;
    GSL_SystemSePlay(SE_MOVE);
    PlateTo(o, to);
}

void ListOpen(ScreenWork* w, OptionWork* o) {
    if (GSL_SystemWinCheck(o->listWindow) == 0) return;
    GSL_SystemWinShow(o->listWindow);
    char text[kMesTextSize];
    for (int32_t i = 0; i < kLanguages; ++i) {
        GSL_SysTextGet(&SysgraMesTable, 3, uint32_t(26 + i), 0, text, sizeof text);
        o->listText[i] = Label(text, -273 - 58 * i, 87);
        o->listPlate[i] = Plain(0.0f, float(87 - 58 * i), 0.385f, 0.08f, 88, kPlateOff);
    }
    Lib_SpriteSetPrio(o->dimmer, 90, -1);
    Lib_SpriteSetPrio(Layer(1), 87, -1);
    Lib_SpriteSetPrio(Layer(2), 87, -1);
    Save(Layer(2), o->savedRow0);
    const int32_t l = Language();
    Place(Layer(2), -214.0f, PosY(o->listPlate[l]));
    Colours(o->listPlate, o->listText, kLanguages, l);
    o->angle = 0;
    w->subState = FONT_LIST;
}

void List(ScreenWork* w, OptionWork* o) {
    bool decided = false;
    const int32_t l = Language();
    const int32_t chosen = Hit(o->listPlate, kLanguages, l, &decided);
    GSL_SystemColorCycle(Layer(2), -1, 255, 255, 255, -32, &o->angle);
    if ((InputButtons.pressed & BUTTON_CANCEL) || CloseClicked()) {
        GSL_SystemSePlay(SE_CANCEL);
        w->subState = FONT_LIST_CLOSE;
        return;
    }
    if ((InputButtons.pressed & BUTTON_DECIDE) || decided) {
        GSL_SystemSePlay(SE_ENTER);
        w->subState = FONT_LIST_CLOSE;
        return;
    }
    int32_t to = -1;
    if (InputButtons.pressed & BUTTON_UP)
        to = l > 0 ? l - 1 : -1;
    else if (InputButtons.pressed & BUTTON_DOWN)
        to = l < kLanguages - 1 ? l + 1 : -1;
    else if (chosen >= 0)
        to = chosen;
    if (to < 0) return;
    SystemDataBlock.language = int8_t(to);
    GSL_SystemSePlay(SE_MOVE);
    Place(Layer(2), -214.0f, PosY(o->listPlate[to]));
    Colours(o->listPlate, o->listText, kLanguages, to);
    o->angle = 0;
}

void ListClose(ScreenWork* w, OptionWork* o) {
    GSL_SystemWinDel(o->listWindow);
    o->listWindow = -1;
    for (int32_t i = 0; i < kLanguages; ++i) {
        Lib_SpriteFree(o->listPlate[i]);
        Lib_TextDel(o->listText[i]);
        o->listPlate[i] = o->listText[i] = -1;
    }
    Lib_SpriteSetPrio(o->dimmer, 100, -1);
    Lib_SpriteSetPrio(Layer(1), 97, -1);
    Lib_SpriteSetPrio(Layer(2), 97, -1);
    Restore(Layer(2), o->savedRow0);
    o->angle = 0;
    w->subState = FONT_LIST_FONTS_WAIT;
    if (SystemDataBlock.language == TextLanguage.load()) return;
    o->loading = GSL_SystemLoadingSet(20, 1);
    FontUserFace[0] = 0;
    SystemDataBlock.fontName[0] = 0;
    GSL_ConfigApply(false);
}

void Close(ScreenWork* w, OptionWork* o) {
    for (int32_t* s : {&o->dimmer, &o->capture, &o->rowPlate[0], &o->rowPlate[1]}) {
        Lib_SpriteFree(*s);
        *s = -1;
    }
    for (int32_t& t : o->rowText) {
        Lib_TextDel(t);
        t = -1;
    }
    Lib_SpriteSetPrio(Layer(1), 189, -1);
    Lib_SpriteSetPrio(Layer(2), 189, -1);
    Restore(Layer(2), o->savedPlate);
    GSL_SystemWinDel(o->wipeOrDialog);
    o->wipeOrDialog = -1;
    o->angle = 0;
    w->step = OPTION_MAIN;
    w->subState = SUBSTATE_ENTRY;
}
}  // namespace

void GSL_OptionFontLabel(int32_t row, char* out, uint32_t size) {
    if (!out || !size) return;
    // The name has a face name's room (a language's name fits it too) and
    // the head the rest: head, separator and name always fit one text.
    char name[sizeof SystemDataBlock.fontName], head[kMesTextSize - sizeof name - 3];
    if (row == 0) {
        GSL_SysTextGet(&SysgraMesTable, 3, 24, 0, head, sizeof head);
        GSL_SysTextGet(&SysgraMesTable, 3, uint32_t(26 + Language()), 0, name, sizeof name);
    } else {
        if (!SystemDataBlock.fontName[0])
            GSL_WorkNameCopy(SystemDataBlock.fontName, sizeof SystemDataBlock.fontName, FontDefaultFace);
        GSL_SysTextGet(&SysgraMesTable, 3, 25, 0, head, sizeof head);
        const size_t n = strnlen(SystemDataBlock.fontName, sizeof SystemDataBlock.fontName - 1);
        std::memcpy(name, SystemDataBlock.fontName, n);
        name[n] = 0;
    }
    std::snprintf(out, size, "%s : %s", head, name);
}

void GSL_OptionFontPage() {
    ScreenWork* w = GSL_WorkGet(GSL_OptionModeCB);
    OptionWork* o = GSL_OptionWork();
    if (!w || !o) return;
    switch (w->subState) {
        case FONT_PAGE_START: {
            o->dimmer = o->capture = o->listWindow = -1;
            for (int32_t i = 0; i < 2; ++i) o->rowPlate[i] = o->rowText[i] = -1;
            for (int32_t i = 0; i < kLanguages; ++i) o->listPlate[i] = o->listText[i] = -1;
            o->capture = Lib_SpriteCreateCapture(0, 101, 0);
            Lib_SpriteSetFlag(o->capture, 0);
            const float centre[2] = {0.0f, 0.0f}, scale[2] = {12.0f, 0.2f};
            o->wipeOrDialog = GSL_SystemWinSet(centre, scale, 99, 0);
            w->subState = FONT_PAGE_OPEN;
            return;
        }
        case FONT_PAGE_OPEN: {
            // Without a capture the page opens over the live screen, dimmed.
            if (o->capture >= 0 && Lib_SpriteGetState(o->capture) != 2) return;
            if (GSL_SystemWinCheck(o->wipeOrDialog) == 0) return;
            if (o->capture >= 0) {
                Lib_SpriteSetPrio(o->capture, 101, -1);
                Lib_SpriteSetFlag(o->capture, 1);
            }
            GSL_SystemWinShow(o->wipeOrDialog);
            o->dimmer = Plain(0.0f, 0.0f, 1.0f, 1.0f, 100, 0xC0000000u);
            char text[kMesTextSize];
            for (int32_t r = 0; r < 2; ++r) {
                GSL_OptionFontLabel(r, text, sizeof text);
                o->rowText[r] = Label(text, -331 - 58 * r, 97);
                o->rowPlate[r] = Plain(0.0f, r == 0 ? 29.0f : -29.0f, 0.685f, 0.08f, 98, kPlateOff);
            }
            Lib_SpriteSetPrio(Layer(1), 97, -1);
            Lib_SpriteSetPrio(Layer(2), 97, -1);
            Save(Layer(2), o->savedPlate);
            PlateTo(o, 0);
            w->subState = FONT_PAGE_ROWS;
            return;
        }
        case FONT_PAGE_ROWS:
            Rows(w, o);
            return;
        case FONT_LIST_START: {
            const float centre[2] = {0.0f, 0.0f}, scale[2] = {6.0f, 2.0f};
            o->listWindow = GSL_SystemWinSet(centre, scale, 89, 0);
            w->subState = FONT_LIST_OPEN;
            return;
        }
        case FONT_LIST_OPEN:
            ListOpen(w, o);
            return;
        case FONT_LIST:
            List(w, o);
            return;
        case FONT_LIST_CLOSE:
            ListClose(w, o);
            return;
        case FONT_LIST_FONTS_WAIT:
            if (!GSL_ConfigFontWait() || !GSL_SystemLoadingCheck(o->loading)) return;
            GSL_SystemLoadingDel(o->loading);
            o->loading = -1;
            Relabel(o, 0);
            Relabel(o, 1);
            w->subState = FONT_PAGE_ROWS;
            return;
        case FONT_FACE_WINDOW: {
            char face[kFaceNameSize];
            const size_t n = strnlen(SystemDataBlock.fontName, sizeof face - 1);
            std::memcpy(face, SystemDataBlock.fontName, n);
            face[n] = 0;
            if (!OptionFontAppRun || OptionFontAppRun(face) == 0) return;
            GSL_WorkNameCopy(SystemDataBlock.fontName, sizeof SystemDataBlock.fontName,
                             FontUserFace[0] ? FontUserFace : FontDefaultFace);
            Relabel(o, 1);
            w->subState = FONT_PAGE_ROWS;
            return;
        }
        default:
            Close(w, o);
            return;
    }
}
