#include "screens/slot_detail.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "screens/slot_list.h"
#include "script/args.h"
#include "ui/engine_services.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"

namespace {
constexpr uint32_t kButtonOn = 0xFFF0F0F0u, kBright = 0xFFFFFFFFu;
constexpr int32_t kLabelLeft = -256, kValueGap = 75;

// Bytes of the character at p, never past the terminator.
size_t CharBytes(const char* p) {
    size_t n = Lib_CharLen(p);
    if (n == 0) n = 1;
    for (size_t i = 1; i < n; ++i)
        if (!p[i]) return i;
    return n;
}

// Appends one character (n bytes) when it fits with the terminator.
bool Put(char* out, size_t size, size_t* len, const char* c, size_t n) {
    if (*len + n + 1 > size) return false;
    std::memcpy(out + *len, c, n);
    *len += n;
    out[*len] = '\0';
    return true;
}

void PutText(char* out, size_t size, size_t* len, const char* text) {
    for (const char* p = text; *p;) {
        const size_t n = CharBytes(p);
        if (!Put(out, size, len, p, n)) return;
        p += n;
    }
}

bool StartsWith(const char* p, const char* prefix) { return std::strncmp(p, prefix, std::strlen(prefix)) == 0; }

// The script's line without its formatting tags.
void StripTags(const char* in, char* out, size_t size) {
    size_t len = 0;
    out[0] = '\0';
    for (const char* p = in; *p;) {
        if (p[0] == '#' && p[1] == 'n') {
            p += 2;
            continue;
        }
        if (StartsWith(p, "/ruby:") || StartsWith(p, "/size:") || StartsWith(p, "/color:") || StartsWith(p, "/pos:")) {
            // The span runs through the next '/' that starts a character.
            const char* q = p + 1;
            while (*q && *q != '/') q += CharBytes(q);
            p = *q ? q + 1 : q;
            continue;
        }
        const size_t n = CharBytes(p);
        if (!Put(out, size, &len, p, n)) return;
        p += n;
    }
}

int32_t MeasureLabel(const char* text) {
    TextRect r{};
    const TextScale scale{0.55f, 0.55f};
    const TextSpacing spacing{2, 4};
    Lib_TextMeasure(&r, text, &scale, &spacing, 0, 2);
    return Lib_TextRectWidth(r);
}
}  // namespace

// process-wide: a test seam
int32_t (*SaveDetailMeasure)(const char* text) = MeasureLabel;

void Save_FormatText(const char* src, char* dst, size_t dstSize) {
    if (!src || !dst || dstSize == 0) return;
    static const char* const kTokens[4] = {"NAME_", "SELECT_", "TEXT_", "SYSTEM_"};
    size_t len = 0;
    dst[0] = '\0';
    for (const char* p = src; *p;) {
        int32_t token = -1;
        for (int32_t t = 0; t < 4 && token < 0; ++t)
            if (StartsWith(p, kTokens[t])) token = t;
        if (token >= 0) {
            const char* digits = p + std::strlen(kTokens[token]);
            const char* end = digits;
            while (*end >= '0' && *end <= '9') ++end;
            uint32_t x = 0;
            const auto got = std::from_chars(digits, end, x);
            if (end > digits && got.ec == std::errc() && got.ptr == end) {
                char entry[kMesTextSize];
                char shown[kMesTextSize];
                if (token == 3) {
                    GSL_SysTextGet(nullptr, x / 1000, x % 1000, 0, shown, sizeof shown);
                } else {
                    GSL_SysTextGet(&ScriptMesTable, uint32_t(token), x, 0, entry, sizeof entry);
                    if (token == 0) GSL_NameCut(entry, shown, sizeof shown);
                    else if (token == 2) StripTags(entry, shown, sizeof shown);
                    else std::memcpy(shown, entry, sizeof shown);
                }
                PutText(dst, dstSize, &len, shown);
                p = end;
                continue;
            }
        }
        const size_t n = CharBytes(p);
        if (!Put(dst, dstSize, &len, p, n)) return;
        p += n;
    }
}

void Save_WrapAppend(char* out, size_t size, size_t* len, const char* text) {
    int32_t column = 0;
    for (const char* p = text; *p;) {
        const size_t n = CharBytes(p);
        const bool lineBreak = (n == 1 && *p == '\n') || (p[0] == '#' && p[1] == 'n');
        if (!lineBreak && column >= kDetailWrapColumns) {
            if (!Put(out, size, len, "\n", 1)) return;
            column = 0;
        }
        if (!Put(out, size, len, p, n)) return;
        if (lineBreak) column = 0;
        else column += Lib_CharIsWide(p) ? 2 : 1;
        p += n;
    }
}

void Save_DetailCompose(char* out, size_t size, const SaveInfo& info, int32_t slot) {
    if (!out || size == 0) return;
    char label[3][kMesTextSize];
    int32_t width[3];
    int32_t column = -1;
    for (int32_t i = 0; i < 3; ++i) {
        GSL_SysTextGet(nullptr, 2, uint32_t(25 + i), 0, label[i], sizeof label[i]);
        width[i] = SaveDetailMeasure ? SaveDetailMeasure(label[i]) : 0;
        if (width[i] > column) column = width[i];
    }
    column += kValueGap;
    char title[kMesTextSize], slotName[kMesTextSize];
    GSL_SysTextGet(nullptr, 0, 0, 0, title, sizeof title);
    GSL_SysTextGet(nullptr, 2, 11, 0, slotName, sizeof slotName);
    char piece[kMesTextSize + 64];
    size_t len = 0;
    out[0] = '\0';
    std::snprintf(piece, sizeof piece, "#Pos[%d,-1]%s", kLabelLeft, label[0]);
    PutText(out, size, &len, piece);
    std::snprintf(piece, sizeof piece, "#Pos[%d,-1]%s#n#n", column - width[0], title);
    PutText(out, size, &len, piece);
    std::snprintf(piece, sizeof piece, "#Pos[%d,-1]%s", kLabelLeft, label[1]);
    PutText(out, size, &len, piece);
    std::snprintf(piece, sizeof piece, "#Pos[%d,-1]%d/%02d/%02d %02d:%02d#n#n", column - width[1], info.date.year,
                  info.date.month, info.date.day, info.date.hour, info.date.minute);
    PutText(out, size, &len, piece);
    std::snprintf(piece, sizeof piece, "#Pos[%d,-1]%s", kLabelLeft, label[2]);
    PutText(out, size, &len, piece);
    std::snprintf(piece, sizeof piece, "#Pos[%d,-1]%s_%02d#n", column - width[2], slotName, slot + 1);
    PutText(out, size, &len, piece);
    // The stored detail is terminated within its field; scan it bounded anyway.
    char detail[sizeof info.detail + 1];
    std::memcpy(detail, info.detail, sizeof info.detail);
    detail[sizeof info.detail] = '\0';
    char shown[kDetailTextSize];
    Save_FormatText(detail, shown, sizeof shown);
    Save_WrapAppend(out, size, &len, shown);
}

void SlotDetailOpen(ScreenWork* w, SaveSlotList* l) {
    SaveInfo info;
    if (Lib_SaveSlotCheck(l->cursor, &info) != SLOT_VALID) {
        w->subState = SLOT_MAIN_LIST;
        return;
    }
    Lib_SpriteSetPrio(w->layers[SLOT_LAYER_BACK].handle, 499, -1);
    const int32_t dim = GSL_WorkLayerFile(nullptr, SLOT_LAYER_DIM, nullptr, LAYER_OWN);
    Lib_SpriteSetColor(dim, 0xC0000000u);
    Lib_SpriteSetValue(dim, 2);
    Lib_SpriteSetPrio(dim, 500, -1);
    Lib_SpriteSetFlag(dim, 1);
    char text[kDetailTextSize];
    Save_DetailCompose(text, sizeof text, info, l->cursor);
    const int32_t id = GSL_WorkTextSet(nullptr, SLOT_TEXT_DETAIL, -1, text);
    if (TextRecord* t = id >= 0 ? TextTable[id] : nullptr) {
        const TextPos pos{406, -64, 0};
        const TextScale scale{0.55f, 0.55f};
        Lib_TextPosSet(id, &pos);
        Lib_TextScaleSet(id, &scale);
        t->letterSpacing = 2;
        t->lineSpacing = 4;
        t->drawMode = kTextDrawDefaultCamera;
        t->state |= TEXT_STATE_DRAWN;
        Lib_TextPrioSet(id, 499);
        GSL_TextShowFully(t);
    }
    w->subState = SLOT_MAIN_DETAIL;
}

void SlotDetailStep(ScreenWork* w) {
    int32_t back[4] = {-1, 0, 0, 0};
    const int32_t button = w->layers[SLOT_LAYER_BACK].handle;
    if (!(InputButtons.pressed & BUTTON_CANCEL) && GSL_ButtonCheck(nullptr, button, back, 0, kButtonOn, kBright, -1) != 1)
        return;
    Lib_SpriteSetPrio(button, 599, -1);
    GSL_WorkLayerFree(nullptr, SLOT_LAYER_DIM);
    GSL_WorkTextFree(nullptr, SLOT_TEXT_DETAIL);
    GSL_SystemSePlay(SE_CANCEL);
    w->subState = SLOT_MAIN_LIST;
}
