#include "screens/slot_list.h"

#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_image.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "story/catalogue.h"
#include "story/game_state.h"
#include "ui/dialog_access.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/move_alpha.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/utility_dialog.h"
#include "ui/widget_task.h"


namespace {
constexpr uint32_t kButtonS = 0x4, kButtonC = 0x8, kButtonA = 0x40, kButtonD = 0x80;
constexpr uint32_t kButtonLeft = 0x1000, kButtonRight = 0x4000;
constexpr int32_t kSaveLoadTrack = 14;
constexpr int32_t kMoveFrames = 8;
constexpr int32_t kDragStep = 171, kDragFar = 640, kBarMargin = 22;
constexpr uint32_t kPanelNormal = 0x80000000u, kPanelCursor = 0x809999FFu;
constexpr uint32_t kGreyed = 0xFF808080u, kBright = 0xFFFFFFFFu, kButtonOn = 0xFFF0F0F0u;
constexpr uint32_t kLabelNormal = 0xFF404040u, kLabelCursor = 0xFFE39F64u;
constexpr uint32_t kBadgeNormal = 0xFF000040u, kBadgeCursor = 0xFF0000FFu, kBadgeEdge = 0xFF000000u;
constexpr uint32_t kHeadingColour = 0xFFB6A3FFu, kDimColour = 0xC0000000u;
constexpr float kPanelScaleX = 1003.0f / 1280.0f, kPanelScaleY = 0.17777778f;
constexpr float kPictX = -388.0f, kDetailsX = 363.0f, kDeleteX = 448.0f;
constexpr int32_t kLabelX = 374, kBadgeX = 355;

enum : int32_t { KEY_UP = 0, KEY_DOWN = 1, KEY_LEFT = 2, KEY_RIGHT = 3 };

SpriteRecord* LiveSprite(int32_t slot) { return Lib_SpriteIsLive(slot) ? Lib_SpriteAt(slot) : nullptr; }
TextRecord* TextAt(int32_t id) { return id >= 0 && id < kTextSlots ? TextTable[id] : nullptr; }

void PlaceSprite(int32_t slot, float x, float y, int32_t priority, uint32_t colour) {
    SpriteRecord* r = LiveSprite(slot);
    if (!r) return;
    r->posX = x;
    r->posY = y;
    r->cameraMode = 2;
    Lib_SpriteSetColor(slot, colour);
    Lib_SpriteSetPrio(slot, priority, -1);
}

bool RowShownByLabel(const SaveSlotList* l, int32_t i) { return i >= l->first - 1 && i < l->first + l->rows + 1; }
bool IsCursor(const SaveSlotList* l, int32_t n) { return l->cursor == n; }

// The row panel's height, where every element of the row takes its y from.
float RowY(const ScreenWork* w, int32_t n) {
    const SpriteRecord* r = LiveSprite(w->layers[SLOT_LAYER_PANEL + n].handle);
    return r ? r->posY : float(256 - kSlotPitch * n);
}

// Copies text up to the first single-byte line feed, by whole characters.
void FirstLine(char* out, size_t size, const char* text) {
    size_t n = 0;
    const size_t limit = std::strlen(text);
    while (n < limit && text[n] != '\n') {
        size_t len = Lib_CharLen(text + n);
        if (len == 0) len = 1;
        if (n + len > limit || n + len > size - 1) break;
        n += len;
    }
    std::memcpy(out, text, n);
    out[n] = '\0';
}

int32_t MakeText(ScreenWork* w, uint32_t slot, const char* text, int32_t x, int32_t y, float scale, uint32_t colour,
                 uint32_t edge, uint8_t flags, int32_t priority) {
    const int32_t id = GSL_WorkTextSetIn(w, slot, -1, text);
    TextRecord* t = TextAt(id);
    if (!t) return -1;
    const TextPos pos{x, y, 0};
    const TextScale sc{scale, scale};
    Lib_TextPosSet(id, &pos);
    Lib_TextScaleSet(id, &sc);
    t->colour = colour;
    t->outline = edge;
    t->renderFlags = flags;
    t->drawMode = kTextDrawDefaultCamera;
    t->state |= TEXT_STATE_DRAWN;
    Lib_TextPrioSet(id, priority);
    GSL_TextShowFully(t);
    return id;
}

void SetTextColours(int32_t id, uint32_t colour, uint32_t edge) {
    if (TextRecord* t = TextAt(id)) {
        t->colour = colour;
        t->outline = edge;
        GSL_TextShowFully(t);
    }
}

void DelTask(int32_t& task, TaskCallback callback) {
    if (GSL_WidgetWorkGet(task, callback)) Lib_TaskDel(uint32_t(task));
    task = -1;
}

// The colours of slot n for the cursor as it stands.
void RowColour(ScreenWork* w, const SaveSlotList* l, int32_t n) {
    const bool on = IsCursor(l, n);
    Lib_SpriteSetColor(w->layers[SLOT_LAYER_PANEL + n].handle, on ? kPanelCursor : kPanelNormal);
    Lib_SpriteSetColor(w->layers[SLOT_LAYER_PICT + n].handle, on ? kBright : kGreyed);
    Lib_SpriteSetColor(w->layers[SLOT_LAYER_DETAILS + n].handle, on ? kButtonOn : kGreyed);
    Lib_SpriteSetColor(w->layers[SLOT_LAYER_DELETE + n].handle, on ? kButtonOn : kGreyed);
    SetTextColours(w->texts[n].handle, on ? kLabelCursor : kLabelNormal, on ? kBright : 0xFF808080u);
    SetTextColours(w->texts[SLOT_TEXT_BADGE + n].handle, on ? kBadgeCursor : kBadgeNormal, kBadgeEdge);
}

// Moves one element up by dy: over the move frames, or at once. Only the
// panel's move task is returned (kept); the others end by themselves.
int32_t MoveSprite(int32_t sprite, float dy, bool animate, bool keep) {
    SpriteRecord* r = LiveSprite(sprite);
    if (!r) return -1;
    if (!animate) {
        r->posY += dy;
        return -1;
    }
    const float goal[3] = {r->posX, r->posY + dy, r->posZ};
    const int32_t task = GSL_SystemMoveSet(sprite, -1, goal, kMoveFrames, 0, keep ? 0 : 1, MOVE_POSITION, 7);
    if (task < 0) r->posY += dy;  // no task to spare: the element still arrives
    return keep ? task : -1;
}

void MoveText(int32_t id, int32_t dy, bool animate) {
    TextRecord* t = TextAt(id);
    if (!t) return;
    if (animate) {
        const float goal[3] = {float(t->x), float(t->y + dy), float(t->z)};
        if (GSL_SystemMoveSet(-1, id, goal, kMoveFrames, 0, 1, MOVE_POSITION, 7) >= 0) return;
    }
    const TextPos p{t->x, t->y + dy, t->z};
    Lib_TextPosSet(id, &p);
}

// Scrolls the list so that the cursor row is visible, recolours every row and
// moves the rows. Only rows seen before or after the scroll are animated; the
// others are placed at once, which looks the same and keeps the task table
// from running out (six elements of 32 rows would need 768 tasks).
void ApplyCursor(ScreenWork* w, SaveSlotList* l, bool instant) {
    if (l->cursor == l->applied) return;
    l->applied = l->cursor;
    const int32_t before = l->first;
    int32_t steps = 0;
    if (l->cursor < l->first) {
        steps = l->cursor - l->first;
        l->first = l->cursor;
    } else if (l->cursor >= l->first + l->rows) {
        steps = l->cursor - l->first - l->rows + 1;
        l->first = l->cursor - (l->rows - 1);
    }
    if (steps) GSL_SystemBarScroll(l->bar, steps);
    const float dy = float(l->pitch * steps);
    for (int32_t n = 0; n < l->count; ++n) {
        RowColour(w, l, n);
        if (!steps) continue;
        const bool seen = (n >= before - 1 && n <= before + l->rows) || (n >= l->first - 1 && n <= l->first + l->rows);
        const bool animate = !instant && seen;
        const int32_t move = MoveSprite(w->layers[SLOT_LAYER_PANEL + n].handle, dy, animate, true);
        if (move >= 0) l->rowMoves[n] = move;
        MoveSprite(w->layers[SLOT_LAYER_PICT + n].handle, dy, animate, false);
        MoveSprite(w->layers[SLOT_LAYER_DETAILS + n].handle, dy, animate, false);
        MoveSprite(w->layers[SLOT_LAYER_DELETE + n].handle, dy, animate, false);
        MoveText(w->texts[n].handle, int32_t(dy), animate);
        MoveText(w->texts[SLOT_TEXT_BADGE + n].handle, int32_t(dy), animate);
    }
}

// The dimmer over the list (layer 195).
void DimmerShow() {
    const int32_t dim = GSL_WorkLayerFile(nullptr, SLOT_LAYER_DIM, nullptr, LAYER_OWN);
    Lib_SpriteSetColor(dim, kDimColour);
    Lib_SpriteSetValue(dim, 2);
    Lib_SpriteSetPrio(dim, 500, -1);
    Lib_SpriteSetFlag(dim, 1);
}

bool Held() { return MouseInput.clickButton >= 0 && (MouseInput.clickPhase == 1 || MouseInput.clickPhase == 2); }
int32_t DragDown() { return MouseInput.clickPhase == 2 ? PointerGesture.current.y - PointerGesture.press.y : 0; }

void MoveTo(SaveSlotList* l, int32_t slot) {
    if (slot == l->cursor) return;
    GSL_SystemSePlay(SE_MOVE);
    l->cursor = slot;
}

void Confirm(ScreenWork* w, SaveSlotList* l, const SlotScreen& kind) {
    if ((kind.confirmNeedsValid && Lib_SaveSlotCheck(l->cursor, nullptr) != SLOT_VALID) ||
        (kind.confirmReady && !kind.confirmReady(w))) {
        GSL_SystemSePlay(SE_ERROR);
        return;
    }
    GSL_SystemSePlay(SE_ENTER);
    w->subState = SLOT_MAIN_ASK;
}

// One frame of the list (SLOT_MAIN_LIST).
void ListStep(ScreenWork* w, SaveSlotList* l, const SlotScreen& kind) {
    for (int32_t& move : l->rowMoves) {
        if (move < 0) continue;
        if (GSL_SystemMoveCheck(move) == 0) return;  // still moving
        GSL_SystemMoveDel(move);
        move = -1;
    }
    for (int32_t i = 0; i < l->count; ++i) {
        if (TextRecord* t = TextAt(w->texts[i].handle)) {
            if (RowShownByLabel(l, i)) t->state |= TEXT_STATE_DRAWN;
            else t->state &= uint8_t(~TEXT_STATE_DRAWN);
        }
    }
    int32_t delta = 0;
    if (l->barDragged) {
        const bool onScreen = MouseInput.x >= 0 && MouseInput.x < 1280 && MouseInput.y >= 0 && MouseInput.y < 720;
        if (!Held() || !onScreen) {
            l->barDragged = 0;
            return;
        }
        delta = GSL_SystemBarGetPos(l->bar) - l->first;
    } else {
        int32_t r[4];
        GSL_SystemBarGetRect(r, l->bar, BAR_TRACK);
        r[0] -= kBarMargin;
        r[2] += kBarMargin;
        const bool inside = r[0] <= MouseInput.x && MouseInput.x <= r[2] && r[1] <= MouseInput.y && MouseInput.y <= r[3];
        if (MouseInput.clickPhase == 1 && MouseInput.clickButton >= 0 && inside && r[2] > r[0]) {
            l->barDragged = 1;
            return;
        }
    }

    int32_t detailsHit = -1, deleteHit = -1, rowHit = -1;
    if (!l->barDragged) {
        int32_t own[4] = {-1, 0, 0, 0};
        for (int32_t i = 0; i < l->count; ++i) {
            const bool on = IsCursor(l, i);
            const uint32_t normal = on ? kButtonOn : 0, hover = on ? kBright : 0;
            const int32_t details = w->layers[SLOT_LAYER_DETAILS + i].handle;
            const int32_t del = w->layers[SLOT_LAYER_DELETE + i].handle;
            const int32_t panel = w->layers[SLOT_LAYER_PANEL + i].handle;
            own[0] = -1;
            if (Lib_SpriteGetFlag(details) && GSL_ButtonCheck(nullptr, details, own, 0, normal, hover, -1) == 1) {
                detailsHit = i;
                break;
            }
            own[0] = -1;
            if (Lib_SpriteGetFlag(del) && GSL_ButtonCheck(nullptr, del, own, 0, normal, hover, -1) == 1) {
                deleteHit = i;
                break;
            }
            own[0] = -1;
            const uint8_t p = GSL_ButtonCheck(nullptr, panel, own, 0, 0, 0, -1);
            if (p == 1 || (p == 2 && !on)) {
                rowHit = i;
                break;
            }
        }
    }

    int32_t back[4] = {-1, 0, 0, 0};
    const int32_t down = DragDown();
    bool fromDrag = false;
    if ((InputButtons.pressed & BUTTON_CANCEL) ||
        GSL_ButtonCheck(nullptr, w->layers[SLOT_LAYER_BACK].handle, back, 0, kButtonOn, kBright, -1) == 1) {
        GSL_SystemSePlay(SE_CANCEL);
        w->subState = SUBSTATE_CLOSE;
        return;
    } else if (l->barDragged) {
        if (delta) {
            int32_t c = l->cursor + delta;
            l->cursor = c < 0 ? 0 : c > l->count - 1 ? l->count - 1 : c;
            fromDrag = true;
        }
    } else if (InputButtons.pressed & BUTTON_DECIDE) {
        Confirm(w, l, kind);
    } else if (rowHit >= 0) {
        if (IsCursor(l, rowHit)) Confirm(w, l, kind);
        else MoveTo(l, rowHit);
    } else if ((detailsHit >= 0 && !IsCursor(l, detailsHit)) || (deleteHit >= 0 && !IsCursor(l, deleteHit))) {
        MoveTo(l, detailsHit >= 0 ? detailsHit : deleteHit);
    } else if ((InputButtons.pressed & kButtonA) || down > kDragFar) {
        MoveTo(l, 0);
    } else if ((InputButtons.pressed & kButtonD) || down < -kDragFar) {
        MoveTo(l, l->count - 1);
    } else if (GSL_SystemKeyFires(l->keys[KEY_UP]) || down > kDragStep || GSL_SystemBarFires(l->bar, BAR_UP)) {
        MoveTo(l, l->cursor == 0 ? l->count - 1 : l->cursor - 1);
    } else if (GSL_SystemKeyFires(l->keys[KEY_DOWN]) || down < -kDragStep || GSL_SystemBarFires(l->bar, BAR_DOWN)) {
        MoveTo(l, l->cursor == l->count - 1 ? 0 : l->cursor + 1);
    } else if (GSL_SystemKeyFires(l->keys[KEY_LEFT])) {
        if (l->cursor > 0) MoveTo(l, l->cursor < l->rows ? 0 : l->cursor - l->rows);
    } else if (GSL_SystemKeyFires(l->keys[KEY_RIGHT])) {
        if (l->cursor < l->count - 1) MoveTo(l, l->cursor + l->rows > l->count - 1 ? l->count - 1 : l->cursor + l->rows);
    } else if ((InputButtons.pressed & kButtonC) || detailsHit >= 0) {
        if (Lib_SaveSlotCheck(l->cursor, nullptr) == SLOT_VALID) {
            GSL_SystemSePlay(SE_ENTER);
            w->subState = SLOT_MAIN_DETAIL_OPEN;
        } else {
            GSL_SystemSePlay(SE_ERROR);
        }
    } else if ((InputButtons.pressed & kButtonS) || deleteHit >= 0) {
        if (Lib_SaveSlotCheck(l->cursor, nullptr) == SLOT_EMPTY) {
            GSL_SystemSePlay(SE_ERROR);
        } else {
            GSL_SystemSePlay(SE_ENTER);
            l->pending = SLOT_MAIN_DELETE;
            w->subState = SLOT_MAIN_ASK;
        }
    }
    ApplyCursor(w, l, fromDrag);
}

void DialogOpen(ScreenWork* w, SaveSlotList* l, const SlotScreen& kind) {
    int32_t index = 20;
    if (l->pending < 0) index = Lib_SaveSlotCheck(l->cursor, nullptr) == SLOT_VALID ? kind.askValid : kind.askOther;
    char text[kMesTextSize];
    GSL_SysTextGet(nullptr, 2, uint32_t(index), 0, text, sizeof text);
    l->dialog = Lib_DialogAsk(text);
    w->subState = SLOT_MAIN_ANSWER;
}

void DialogWait(ScreenWork* w, SaveSlotList* l) {
    const int32_t answer = GSL_SystemDialogGet(l->dialog);
    if (answer < 0 && GSL_SystemDialogIsReady(l->dialog) == 1) return;
    GSL_SystemDialogDel(l->dialog);
    l->dialog = -1;
    const int32_t pending = l->pending;
    l->pending = -1;
    if (answer != 1) {
        w->subState = SLOT_MAIN_LIST;
        return;
    }
    GSL_WorkWordSet(w, SLOT_WORD_TARGET, l->cursor);
    if (pending >= 0) {
        w->subState = pending;
        return;
    }
    DimmerShow();
    w->subState = SLOT_MAIN_ACT;
}

void DeleteStart(ScreenWork* w, SaveSlotList* l) {
    const SaveRequest none{};
    GSL_WorkWordSet(w, SLOT_WORD_TASK, Lib_SaveTaskSet(SAVE_TASK_DELETE, &none, l->cursor));
    w->subState = SLOT_MAIN_DELETE_WAIT;
}

void DeleteWait(ScreenWork* w, SaveSlotList* l) {
    if (!SlotTaskFinished(w, nullptr)) return;
    l->pending = SLOT_MAIN_LIST;
    w->subState = SLOT_MAIN_REFRESH;
}
}  // namespace

SaveSlotList* SlotListGet(const ScreenWork* w) {
    return w ? reinterpret_cast<SaveSlotList*>(uintptr_t(w->words[SLOT_WORD_LIST])) : nullptr;
}

void GSL_SlotBuild(ModeFunction screen, int32_t n) {
    ScreenWork* w = GSL_WorkGet(screen);
    SaveSlotList* l = SlotListGet(w);
    if (!l || n < 0 || n >= kSlotCount) return;
    const bool on = IsCursor(l, n);
    ScreenLayerSlot& panelSlot = w->layers[SLOT_LAYER_PANEL + n];
    if (panelSlot.handle < 0) {
        const int32_t panel = GSL_WorkLayerLoadIn(w, SLOT_LAYER_PANEL + n, -1, nullptr, -1, 0, nullptr, nullptr);
        if (SpriteRecord* r = LiveSprite(panel)) {
            r->scaleX = kPanelScaleX;
            r->scaleY = kPanelScaleY;
            r->visible = 1;
        }
        PlaceSprite(panel, 0.0f, float(256 - kSlotPitch * n), 599, on ? kPanelCursor : kPanelNormal);
    }
    const float y = RowY(w, n);

    SaveInfo info;
    const uint32_t state = Lib_SaveSlotCheck(n, &info);
    // Room for every part at its longest; the text object cuts it to its own size.
    char label[3 * kMesTextSize + 64];
    char slotName[kMesTextSize], text[kMesTextSize];
    bool badge = false;
    if (state == SLOT_VALID) {
        GSL_WorkLayerFreeIn(w, int32_t(SLOT_LAYER_PICT + n));
        char part[64];
        Lib_SaveFileName(n, part, sizeof part, ".pic.gz");
        void* address = nullptr;
        uint32_t size = 0;
        Lib_SaveDataAccess(4, part, &address, &size, 0);
        const int32_t pict = address && size ? Lib_SpriteGetFree(-1) : -1;
        if (SpriteRecord* r = Lib_SpriteAt(pict)) {
            // The picture is borrowed from the save image: the texture code
            // must not free it.
            r->data = address;
            r->dataSize = size;
            r->flags |= SPRITE_CACHED;
            Lib_SpriteMakeTexture(pict);
            ScreenLayerSlot& ls = w->layers[SLOT_LAYER_PICT + n];
            ls.handle = pict;
            ls.source = -1;
            ls.loadFlag = 0;
            ls.loadValue = -1;
            ls.file[0] = ls.tag[0] = ls.container[0] = 0;
            if (r->flags & SPRITE_FAILED) GSL_WorkLayerFreeIn(w, int32_t(SLOT_LAYER_PICT + n));
        }
        char line[kTextBufferSize];
        FirstLine(line, sizeof line, info.detail);
        GSL_SysTextGet(nullptr, 0, 0, 0, text, sizeof text);
        GSL_SysTextGet(nullptr, 2, 11, 0, slotName, sizeof slotName);
        std::snprintf(label, sizeof label, "%s#n%d/%02d/%02d %02d:%02d#n%s_%02d  %s", text, info.date.year,
                      info.date.month, info.date.day, info.date.hour, info.date.minute, slotName, n + 1, line);
        badge = std::strstr(info.title, "R18") != nullptr;
    } else {
        if (state == SLOT_EMPTY) GSL_WorkLayerCopyIn(w, SLOT_LAYER_PICT + n, SLOT_LAYER_NONE, -1);
        GSL_SysTextGet(nullptr, 2, state == SLOT_EMPTY ? 21 : 22, 0, text, sizeof text);
        if (std::snprintf(label, sizeof label, "%s_%02d", text, n + 1) < 0) label[0] = 0;
    }

    for (int32_t k = 0; k < 2; ++k) {
        const uint32_t layer = (k == 0 ? SLOT_LAYER_DETAILS : SLOT_LAYER_DELETE) + uint32_t(n);
        if (w->layers[layer].handle < 0) GSL_WorkLayerCopyIn(w, layer, SLOT_LAYER_DETAILS, -1);
        const int32_t button = w->layers[layer].handle;
        const int32_t rect[4] = {k == 0 ? 0 : 88, 0, 88, 88};
        Lib_SpriteSetRect(button, rect);
        PlaceSprite(button, k == 0 ? kDetailsX : kDeleteX, y, 598, on ? kBright : kGreyed);
        Lib_SpriteSetFlag(button, k == 0 ? state == SLOT_VALID : state != SLOT_EMPTY);
    }

    const int32_t labelId =
        MakeText(w, uint32_t(n), label, kLabelX, int32_t(y) - 360, 0.51f, on ? kLabelCursor : kLabelNormal,
                 on ? kBright : 0xFF808080u, TEXT_ALIGN_VCENTRE, 598);
    if (TextRecord* t = TextAt(labelId)) {
        t->letterSpacing = 2;
        t->lineSpacing = 8;
        if (!RowShownByLabel(l, n)) t->state &= uint8_t(~TEXT_STATE_DRAWN);
    }
    Lib_TextDel(w->texts[SLOT_TEXT_BADGE + n].handle);
    w->texts[SLOT_TEXT_BADGE + n].handle = -1;
    if (badge)
        MakeText(w, SLOT_TEXT_BADGE + uint32_t(n), "R18", kBadgeX, int32_t(y) - 390, 0.51f, on ? kBadgeCursor : kBadgeNormal,
                 kBadgeEdge, TEXT_ALIGN_RIGHT, 597);
}

bool GSL_SlotUpdate(ModeFunction screen, int32_t n) {
    ScreenWork* w = GSL_WorkGet(screen);
    const SaveSlotList* l = SlotListGet(w);
    if (!l || n < 0 || n >= kSlotCount) return true;
    const int32_t pict = w->layers[SLOT_LAYER_PICT + n].handle;
    if (pict < 0) return true;
    const SpriteRecord* r = Lib_SpriteAt(pict);
    if (r && GSL_SpriteLoading(*r)) return false;
    PlaceSprite(pict, kPictX, RowY(w, n), 598, IsCursor(l, n) ? kBright : kGreyed);
    if (SpriteRecord* s = LiveSprite(pict)) {
        s->scaleX = s->scaleY = 1.0f;
        s->visible = 1;
    }
    return true;
}

void GSL_GameSlotRequestBuild(SaveRequest* request) {
    if (!request) return;
    std::memset(request, 0, sizeof *request);
    char title[kMesTextSize], sub[kMesTextSize], note[kMesTextSize], detail[sizeof request->detail];
    GSL_SysTextGet(nullptr, 0, 0, 0, title, sizeof title - 4);
    if (Lib_PcArcExists(2)) std::strcat(title, " R18");
    GSL_SysTextGet(nullptr, 2, 11, 0, sub, sizeof sub);
    GSL_SysTextGet(nullptr, 2, 13, 0, note, sizeof note);
    const int cut = TextLanguage.load() == 1
                        ? std::snprintf(detail, sizeof detail, "%s\n\"%s\"", note, title)
                        : std::snprintf(detail, sizeof detail, "\xE3\x80\x8C%s\xE3\x80\x8D\n%s", title, note);
    if (cut < 0) detail[0] = 0;
    GSL_WorkNameCopy(request->title, sizeof request->title, title);
    GSL_WorkNameCopy(request->subtitle, sizeof request->subtitle, sub);
    GSL_WorkNameCopy(request->detail, sizeof request->detail, detail);
    GSL_WorkNameCopy(request->icon, sizeof request->icon, "data/utility/ICON0.tga");
    GSL_WorkNameCopy(request->icon2, sizeof request->icon2, "data/utility/ICON0_NON.tga");
    request->data = &GameStateBlock;
    request->dataSize = sizeof(GameState);
}

void SlotScreenOpen(ScreenWork* w, const SlotScreen& kind) {
    w->subState = SUBSTATE_ENTRY;
    GSL_WorkWordSet(w, SLOT_WORD_TASK, -1);
    GSL_WorkWordSet(w, SLOT_WORD_TARGET, -1);
    GSL_WorkWordSet(w, SLOT_WORD_BUFFER, 0);
    GSL_WorkWordSet(w, SLOT_WORD_LIST, 0);
    GSL_WorkWordSet(w, SLOT_WORD_READ, 0);
    const BgmTrackRecord track = GSL_BgmTrackGet(kSaveLoadTrack);
    char path[256];
    std::snprintf(path, sizeof path, "%s%s%s", "sound/bgm/", track.name, ".oggl");
    GSL_WorkSoundSet(nullptr, 0, {.file = path, .fadeIn = 30, .releaseFade = 30});
    // The pictures stay hidden until the list shows them: they load while
    // the music starts.
    GSL_WorkLayerFile(nullptr, SLOT_LAYER_BG, kind.background, LAYER_CACHED);
    GSL_WorkLayerFile(nullptr, SLOT_LAYER_DETAILS, "visual/system/sys_save_00.ext", LAYER_CACHED);
    GSL_WorkLayerFile(nullptr, SLOT_LAYER_BACK, "visual/system/sys_system_01.ext", LAYER_CACHED);
    GSL_WorkLayerFile(nullptr, SLOT_LAYER_NONE, "data/utility/ICON0_NON.tga", LAYER_OWN);
}

void SlotScreenBuild(ScreenWork* w, const SlotScreen& kind) {
    switch (w->subState) {
        case SLOT_BUILD_MUSIC: {
            const int32_t state = Lib_SoundStateGet(GSL_WorkSoundGet(nullptr, 0));
            if (state != SOUND_IDLE && state != SOUND_PLAYING) return;
            GSL_PlayTimeUpdate();
            w->subState = SLOT_BUILD_LIST;
            return;
        }
        case SLOT_BUILD_LIST: {
            auto* l = static_cast<SaveSlotList*>(Lib_MemAlloc(HEAP_SCREEN, sizeof(SaveSlotList), 16));
            if (!l) return;  // tried again next frame
            GSL_WorkFrameRateHold(w);
            std::memset(l, 0, sizeof *l);
            l->count = kSlotCount;
            l->rows = kSlotRows;
            l->pitch = kSlotPitch;
            l->bar = l->dialog = l->pending = -1;
            for (int32_t& m : l->rowMoves) m = -1;
            l->keys[KEY_UP] = GSL_SystemKeySet(BUTTON_UP, 5);
            l->keys[KEY_DOWN] = GSL_SystemKeySet(BUTTON_DOWN, 5);
            l->keys[KEY_LEFT] = GSL_SystemKeySet(kButtonLeft, 1);
            l->keys[KEY_RIGHT] = GSL_SystemKeySet(kButtonRight, 1);
            w->words[SLOT_WORD_LIST] = uint64_t(uintptr_t(l));
            const float at[2] = {598.0f, -32.0f}, size[2] = {1.0f, 6.0f};
            l->bar = GSL_SystemBarSet(at, size, 599, 0, l->rows, l->count, -1, -1);
            w->subState = SLOT_BUILD_SHOW;
            return;
        }
        case SLOT_BUILD_SHOW: {
            SaveSlotList* l = SlotListGet(w);
            const ScrollBarWork* bar = GSL_SystemBarWork(l->bar);
            if (!GSL_WorkLayersReady(nullptr) || (bar && bar->head.state == WIDGET_STARTING)) return;
            char heading[kMesTextSize] = "";
            if (SysgraMesTable.data) GSL_SysTextGet(&SysgraMesTable, 2, uint32_t(kind.heading), 0, heading, sizeof heading);
            MakeText(w, SLOT_TEXT_HEADING, heading, 11, -11, 0.6f, kHeadingColour, kBright, 0, 599);
            const int32_t bg = w->layers[SLOT_LAYER_BG].handle;
            Lib_SpriteSetValue(bg, 2);
            Lib_SpriteSetPrio(bg, 600, -1);
            Lib_SpriteSetFlag(bg, 1);
            const int32_t back = w->layers[SLOT_LAYER_BACK].handle;
            LayoutRect r{};
            GSL_LayoutGetRect(&r, 2, 3);
            const int32_t rect[4] = {r.x, r.y, r.width, r.height};
            Lib_SpriteSetRect(back, rect);
            PlaceSprite(back, 597.0f, 317.0f, 599, kButtonOn);
            Lib_SpriteSetFlag(back, 1);
            Lib_SpriteSetFlag(w->layers[SLOT_LAYER_NONE].handle, 0);
            for (int32_t n = 0; n < l->count; ++n) GSL_SlotBuild(nullptr, n);
            if (ScrollBarWork* b = GSL_SystemBarWork(l->bar)) {
                GSL_SystemBarSetFlag(l->bar, 1);
                b->drawMode = 2;
                b->relayout = 1;
            }
            w->subState = SLOT_BUILD_FADE_IN;
            return;
        }
        case SLOT_BUILD_FADE_IN: {
            SaveSlotList* l = SlotListGet(w);
            if (!GSL_WorkLayersReady(nullptr)) return;
            for (int32_t n = 0; n < l->count; ++n) GSL_SlotUpdate(nullptr, n);
            GSL_SystemDispColorSet(0x00000000u, 16);
            int32_t slot = SystemDataBlock.lastSlot;
            if (slot >= l->count) slot = 0;  // the checks keep it in range; this keeps the list safe too
            if (slot != 0 && Lib_SaveSlotCheck(slot, nullptr) == SLOT_EMPTY) slot = 0;
            SystemDataBlock.lastSlot = uint8_t(slot);
            l->cursor = slot;
            w->subState = SUBSTATE_CLOSE;
            return;
        }
        case SUBSTATE_CLOSE:
            if (!GSL_SystemDispColorCheck()) return;
            ++w->step;
            w->subState = SUBSTATE_ENTRY;
            return;
        default:
            return;
    }
}

bool SlotScreenMain(ScreenWork* w, const SlotScreen& kind) {
    SaveSlotList* l = SlotListGet(w);
    if (!l) return false;
    switch (w->subState) {
        case SUBSTATE_ENTRY: w->subState = SLOT_MAIN_LIST; return true;
        case SLOT_MAIN_LIST: ListStep(w, l, kind); return true;
        case SLOT_MAIN_ASK: DialogOpen(w, l, kind); return true;
        case SLOT_MAIN_ANSWER: DialogWait(w, l); return true;
        case SLOT_MAIN_DETAIL_OPEN: SlotDetailOpen(w, l); return true;
        case SLOT_MAIN_DETAIL: SlotDetailStep(w); return true;
        case SLOT_MAIN_DELETE: DeleteStart(w, l); return true;
        case SLOT_MAIN_DELETE_WAIT: DeleteWait(w, l); return true;
        case SLOT_MAIN_REFRESH:
            GSL_WorkLayerFree(nullptr, SLOT_LAYER_DIM);
            if (l->pending != SUBSTATE_CLOSE) GSL_SlotBuild(nullptr, l->cursor);
            w->subState = SLOT_MAIN_REFRESH_WAIT;
            return true;
        case SLOT_MAIN_REFRESH_WAIT: {
            if (l->pending != SUBSTATE_CLOSE && !GSL_SlotUpdate(nullptr, l->cursor)) return true;
            w->subState = l->pending;
            l->pending = -1;
            return true;
        }
        default: return false;
    }
}

void SlotScreenTeardown(ScreenWork* w) {
    if (SaveSlotList* l = SlotListGet(w)) {
        GSL_SystemBarDel(l->bar);
        for (int32_t& key : l->keys) DelTask(key, GSL_SystemKeyCB);
        for (int32_t& move : l->rowMoves) {
            GSL_SystemMoveDel(move);
            move = -1;
        }
        GSL_SystemDialogDel(l->dialog);
        Lib_MemFree(HEAP_SCREEN, l);
        GSL_WorkWordSet(w, SLOT_WORD_LIST, 0);
    }
    PlayTimeBase = GSL_PlayTimeNow();
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
}
