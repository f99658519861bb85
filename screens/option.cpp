#include "screens/option.h"

#include <cmath>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/util.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_capture.h"
#include "engine/sound/sound.h"
#include "engine/text/font.h"
#include "engine/text/text_object.h"
#include "screens/font_page.h"
#include "screens/option_items.h"
#include "story/config.h"
#include "story/game_state.h"
#include "story/system_save.h"
#include "ui/color_pulse.h"
#include "ui/dialog_access.h"
#include "ui/layout_table.h"
#include "ui/loading.h"
#include "screens/screens_host.h"
#include "ui/mode.h"
#include "ui/move_alpha.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/utility_dialog.h"
#include "ui/window_frame.h"
#include "ui/wipe.h"

namespace {
constexpr uint32_t kButtonS = 0x4, kButtonC = 0x8, kButtonF2 = 0x20;
constexpr int32_t kConfigFirst = 5, kConfigBytes = 89;
constexpr int32_t kWipeFrames = 30, kWipePriority = 187;
constexpr int32_t kRow = 64;
constexpr int32_t kPageRows = 9;
constexpr float kPageOffset = 576.0f;
constexpr int32_t kScrollFrames = 8;
constexpr int32_t kDragThreshold = 171;
constexpr uint32_t kNormal = 0xFFF0F0F0u, kHover = 0xFFFFFFFFu;
constexpr int32_t kResetCapturePriority = 101, kFrozenPriority = 21, kIndicatorPriority = 20;
// Sub-states of the build step: WIPE -> SCREEN -> WIPE_END.
enum : int32_t { BUILD_WIPE = 0, BUILD_SCREEN = 1, BUILD_WIPE_END = 2 };
// Sub-states of the leave step: APPLY, then until the font is ready.
enum : int32_t { LEAVE_APPLY = 0, LEAVE_FONT = 1 };
// Sub-states of the reset step: ASK -> ANSWER -> DEFAULTS -> SUBSTATE_CLOSE
// (until the font is ready); a no goes from ANSWER to SUBSTATE_CLOSE.
enum : int32_t { RESET_ASK = 0, RESET_ANSWER = 1, RESET_DEFAULTS = 2 };
// Sub-states of the exit step: WIPE -> FREE -> WIPE_END.
enum : int32_t { EXIT_WIPE = 0, EXIT_FREE = 1, EXIT_WIPE_END = 2 };

uint8_t* Config() { return reinterpret_cast<uint8_t*>(&SystemDataBlock); }

void Digest(uint8_t out[20]) { Lib_Sha1(Config() + kConfigFirst, kConfigBytes, out); }

int32_t Layer(uint32_t slot) { return GSL_WorkLayerGet(GSL_OptionModeCB, slot); }

void Goto(ScreenWork* w, int32_t step) {
    w->step = step;
    w->subState = SUBSTATE_ENTRY;
}

bool Pressed(uint32_t bits) { return (InputButtons.pressed & bits) != 0; }
bool Key(const OptionWork* o, int i) { return GSL_SystemKeyFires(o->keys[i]); }
bool Click(uint32_t slot) {
    int32_t rect[4] = {-1, 0, 0, 0};
    return GSL_ButtonCheck(nullptr, Layer(slot), rect, 0, kNormal, kHover, -1) == 1;
}
bool OnScreen(int32_t x, int32_t y) { return x >= 0 && x < 1280 && y >= 0 && y < 720; }

void Place(int32_t sprite, float x, float y) {
    if (SpriteRecord* s = Lib_SpriteAt(sprite)) {
        s->posX = x;
        s->posY = y;
        s->posZ = 0.0f;
    }
}

void SheetPiece(int32_t sprite, int32_t group, int32_t index) {
    LayoutRect r{};
    GSL_LayoutGetRect(&r, group, index);
    const int32_t rect[4] = {r.x, r.y, r.width, r.height};
    Lib_SpriteSetRect(sprite, rect);
}

void Button(int32_t sprite, int32_t priority, int32_t sub, int32_t group, int32_t index, float x, float y) {
    Lib_SpriteSetPrio(sprite, priority, sub);
    Lib_SpriteSetValue(sprite, 2);
    SheetPiece(sprite, group, index);
    Place(sprite, x, y);
    Lib_SpriteSetColor(sprite, kNormal);
    Lib_SpriteSetFlag(sprite, 1);
}

void StopSamples(const OptionWork* o) {
    for (int32_t ch : {o->seChannel, o->voiceChannel, o->sysVoiceChannel})
        if (ch >= 0 && ch < kSoundChannels) Lib_SoundStop(ch, 1);
}

int32_t FreeChannel(int32_t first, int32_t last) {
    for (int32_t ch = first; ch <= last; ++ch) {
        const SoundChannel& c = SoundChannelTable[ch];
        if (!(c.st.flags.load() & SOUND_IN_USE) || c.st.state.load() == SOUND_IDLE) return ch;
    }
    return -1;
}

// The cursor plate over the cursor's item.
void PlacePlate(const OptionWork* o) {
    OptionTemplate t;
    GSL_OptionTemplateGet(&t, o->cursor);
    const float y = t.cursorPos.y + (o->cursor < kOptionFirstIcon ? float(kRow * o->scrollTop) : 0.0f);
    Place(Layer(2), t.cursorPos.x, y);
}

void Caption(uint32_t slot, const char* text, int32_t x, int32_t y, float sx, float sy, uint32_t colour,
             uint32_t edge, uint8_t placement) {
    const int32_t h = GSL_WorkTextSet(nullptr, slot, -1, text);
    TextRecord* r = h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
    if (!r) return;
    const TextPos pos{x, y, 0};
    Lib_TextPosSet(h, &pos);
    const TextScale scale{sx, sy};
    Lib_TextScaleSet(h, &scale);
    Lib_TextPrioSet(h, 189);
    r->colour = colour;
    r->outline = edge;
    r->renderFlags = placement;
    r->state |= TEXT_STATE_DRAWN;
}

// ---- step 0 -------------------------------------------------------------
void Init(ScreenWork*) {
    if (!SystemDataBlock.fontName[0])
        GSL_WorkNameCopy(SystemDataBlock.fontName, sizeof SystemDataBlock.fontName, FontDefaultFace);
    uint8_t digest[20];
    Digest(digest);
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    auto* o = static_cast<OptionWork*>(Lib_MemAlloc(2, sizeof(OptionWork), 8));
    if (!o) {
        GSL_WorkDelete(nullptr);
        GSL_ModePop();
        return;
    }
    std::memset(o, 0xFF, sizeof *o);  // every id -1
    o->heap = 2;
    o->cursor = o->previousCursor = o->scrollTop = 0;
    o->angle = 0;
    o->dragApplied = o->barDragApplied = 0;
    o->barDrag = 0;
    o->row = 0;
    std::memcpy(o->digest, digest, sizeof digest);
    w->words[0] = uint64_t(uintptr_t(o));
    GSL_WorkLayerFile(nullptr, 0, "visual/system/sys_option_bg.ext", LAYER_CACHED);
    GSL_WorkLayerFile(nullptr, 2, "visual/system/sys_option_00.ext", LAYER_CACHED);
    GSL_WorkLayerFile(nullptr, 1, "visual/system/sys_system_01.ext", LAYER_CACHED);
    const uint32_t masks[6] = {0x1000, 0x4000, 0x2000, 0x8000, 0x1000, 0x4000};
    const int32_t intervals[6] = {1, 1, 5, 5, 5, 5};
    for (int i = 0; i < 6; ++i) o->keys[i] = GSL_SystemKeySet(masks[i], intervals[i]);
    GSL_WorkFrameRateHold(w);
    const float at[2] = {598.0f, 0.0f}, size[2] = {1.0f, 5.0f};
    o->bar = GSL_SystemBarSet(at, size, 190, 0, 9, 12, -1, -1);
    o->seChannel = FreeChannel(3, 10);
    o->voiceChannel = FreeChannel(11, 18);
    o->sysVoiceChannel = 22;
    Goto(w, OPTION_BUILD);
}

// ---- step 1 -------------------------------------------------------------
void BuildScreen(OptionWork* o) {
    char text[kMesTextSize];
    if (SysgraMesTable.data) {
        GSL_SysTextGet(&SysgraMesTable, 2, 5, 0, text, sizeof text);
        Caption(0, text, 64, -13, 0.7f, 0.7f, 0xFFB6A3FFu, 0xFFFFFFFFu, 0);
        const int32_t plate = GSL_WorkLayerCopy(nullptr, 9, 2, -1);
        Button(plate, 190, -1, 6, 4, 240.0f, 316.0f);
        if (SpriteRecord* s = Lib_SpriteAt(plate)) s->scaleX = 2.0f;
        Caption(2, "Display Mode", 875, -45, 0.35f, 0.4f, 0xFFA191F0u, 0xFFFFFFFFu, TEXT_ALIGN_CENTRE);
        WindowFlags.fetch_or(WINDOW_F2_IGNORED);
    }
    const int32_t bg = Layer(0);
    Lib_SpriteSetPrio(bg, 192, -1);
    Lib_SpriteSetValue(bg, 2);
    Lib_SpriteSetFlag(bg, 1);
    Button(Layer(1), 189, -1, 2, 3, 597.0f, 317.0f);
    const int32_t plate = Layer(2);
    Button(plate, 189, -1, 6, 0, 0.0f, 0.0f);
    Lib_SpriteSetColor(plate, 0xFFFFFFFFu);
    PlacePlate(o);
    Button(GSL_WorkLayerCopy(nullptr, 5, 2, -1), 189, 1, 6, 2, 501.0f, 317.0f);
    Button(GSL_WorkLayerCopy(nullptr, 7, 2, -1), 189, 1, 6, 3, 405.0f, 317.0f);
    GSL_SystemBarSetFlag(o->bar, 1);
    GSL_OptionBuildItems();
    GSL_OptionDrawItems(1);
}

void Build(ScreenWork* w) {
    OptionWork* o = GSL_OptionWork();
    switch (w->subState) {
        case BUILD_WIPE: {
            if (!GSL_WorkLayersReady(nullptr) || GSL_SystemWinCheck(o->bar) == 0) return;
            char path[256];
            GSL_WipePathMake(path);
            o->wipeOrDialog = GSL_SystemWipeSet(path, -1, kWipeFrames, kWipePriority, kWipePriority, 0, 0);
            w->subState = BUILD_SCREEN;
            return;
        }
        case BUILD_SCREEN:
            if (GSL_SystemWipeStatus(o->wipeOrDialog) == WIPE_PREPARING) return;
            BuildScreen(o);
            w->subState = BUILD_WIPE_END;
            [[fallthrough]];
        default:  // BUILD_WIPE_END
            if (GSL_SystemWipeStatus(o->wipeOrDialog) != WIPE_FINISHED) return;
            GSL_SystemWipeDel(o->wipeOrDialog);
            o->wipeOrDialog = -1;
            Goto(w, OPTION_MAIN);
            return;
    }
}

// ---- step 2 -------------------------------------------------------------
void Main(ScreenWork* w) {
    OptionWork* o = GSL_OptionWork();
    if (o->moveTask >= 0) {
        if (GSL_SystemMoveCheck(o->moveTask) == 0) return;
        GSL_SystemMoveDel(o->moveTask);
        o->moveTask = -1;
        return;
    }
    GSL_SystemColorCycle(Layer(2), -1, 255, 255, 255, -32, &o->angle);
    if (!GSL_ConfigFontWait()) return;
    const bool close = Click(1);
    if (Pressed(BUTTON_CANCEL) || close) {
        GSL_SystemSePlay(SE_CANCEL);
        StopSamples(o);
        Goto(w, OPTION_LEAVE);
        return;
    }
    const int32_t r = GSL_OptionInput();
    if (r == OPTION_INPUT_RESET) Goto(w, OPTION_RESET);
    else if (r == OPTION_INPUT_FONTS) Goto(w, OPTION_FONT_PAGE);
}

// ---- moves --------------------------------------------------------------
// One step up; page: the pointer's page move (no sound).
void MoveUp(OptionWork* o, bool page) {
    if (o->cursor <= 0) return;
    StopSamples(o);
    const int32_t old = o->cursor;
    int32_t c = old - 1;
    if (page) {
        if (old >= kOptionFirstIcon)
            c = o->scrollTop == kOptionFirstIcon ? 10 : o->scrollTop - 26;
        else if (c >= o->scrollTop)
            c = o->scrollTop - 1;
        if (c < 0) c = 0;
    } else {
        GSL_SystemSePlay(SE_MOVE);
    }
    o->cursor = c;
}

void MoveDown(OptionWork* o, bool page) {
    if (o->cursor >= kOptionLastItem) return;
    StopSamples(o);
    const int32_t old = o->cursor;
    int32_t c = old + 1;
    if (page) {
        const int32_t least = old < kOptionFirstIcon ? o->scrollTop + kPageRows : o->scrollTop + 52;
        if (c < least) c = least;
        if (c > kOptionLastItem) c = kOptionLastItem;
    } else {
        GSL_SystemSePlay(SE_MOVE);
    }
    o->cursor = c;
}

// The scroll bar's drag: true while it runs (or ends this frame).
bool BarDrag(OptionWork* o) {
    const PointerGestureState& g = PointerGesture;
    const int32_t phase = MouseInput.clickPhase;
    if (!o->barDrag) {
        if (phase != 1) return false;
        int32_t r[4];
        GSL_SystemBarGetRect(r, o->bar, BAR_TRACK);
        if (r[2] == -1) r[2] = 1279;
        if (r[3] == -1) r[3] = 719;
        r[0] -= 22;
        r[2] += 64;
        const int32_t x = MouseInput.x, y = MouseInput.y;
        if (r[2] <= r[0] || x < r[0] || x > r[2] || y < r[1] || y > r[3]) return false;
        o->barDrag = 1;
        o->barDragApplied = 0;
        return true;
    }
    const bool inside = OnScreen(MouseInput.x, MouseInput.y);
    if (phase == 2 && inside) {
        const int32_t moved = g.current.y - g.press.y;
        const int32_t d = moved - o->barDragApplied;
        if (d > 0)
            MoveDown(o, true);
        else if (d < 0)
            MoveUp(o, true);
        o->barDragApplied = moved;
        return true;
    }
    if (phase == 0 || phase == 3 || !inside) {
        o->barDrag = 0;
        o->barDragApplied = 0;
    }
    return true;
}

bool SliderDrag(OptionWork* o) {
    if (o->dragItem < 0) return false;
    const PointerGestureState& g = PointerGesture;
    if (MouseInput.clickPhase != 2 || !OnScreen(MouseInput.x, MouseInput.y)) {
        o->dragItem = -1;
        o->dragApplied = 0;
        return true;
    }
    const int32_t moved = g.current.x - g.press.x;
    const int32_t d = moved - o->dragApplied;
    if (d > -2 && d < 2) return true;
    int32_t steps = int32_t(std::lround(double(d) / 3.94));
    steps = steps < -100 ? -100 : steps > 100 ? 100 : steps;
    o->dragApplied = moved;
    o->cursor = o->dragItem;
    if (steps) GSL_OptionChangeItem(int8_t(steps), 0);
    return true;
}

// The pointer over the items; true when it selected or changed one.
bool PointerScan(OptionWork* o, bool* dragStarted) {
    const ScreenWork* w = GSL_WorkGet(GSL_OptionModeCB);
    bool selected = false;
    uint32_t layer = kOptionFirstLayer;
    OptionTemplate t;
    for (int32_t n = 0; GSL_OptionTemplateGet(&t, n)->spriteCount != 0; ++n) {
        for (int32_t i = 0; i < t.spriteCount && i < 4 && t.spriteRect[i] >= 0; ++i, ++layer) {
            if (n >= kOptionItems || !((t.hitMask >> i) & 1)) continue;
            const int32_t h = w->layers[layer].handle;
            const SpriteRecord* s = Lib_SpriteAt(h);
            if (!s) continue;
            const float sy = 360.0f - s->posY;
            if (sy < 88.0f || sy > 688.0f) continue;
            const bool slider = t.spriteCount == 2 && n < kOptionFirstIcon;
            int32_t rect[4] = {-1, 0, 0, 0};
            if (slider && !selected && GSL_SystemHitPress(0, h, rect, 0) == 1) {
                o->dragItem = n;
                o->dragApplied = 0;
                o->cursor = n;
                *dragStarted = true;
                return true;
            }
            int32_t rect2[4] = {-1, 0, 0, 0};
            const uint8_t b = GSL_ButtonCheck(nullptr, h, rect2, 0, kNormal, kHover, -1);
            if (selected) continue;
            if (slider && (b == 1 || b == 2)) {
                o->cursor = n;
                selected = true;
            } else if (!slider && n < kOptionFirstIcon && b == 1) {
                o->cursor = n;
                GSL_OptionChangeItem(int8_t(i == 1 ? -1 : 1), 1);
                selected = true;
            } else if (n >= kOptionFirstIcon && b == 1) {
                const bool again = o->cursor == n;
                o->cursor = n;
                if (again) GSL_OptionChangeItem(2, 1);
                selected = true;
            }
        }
    }
    return selected;
}
}  // namespace

void GSL_OptionDisplaySwitch() {
    GSL_SystemSePlay(SE_ENTER);
    Lib_InputPointerReset();
    GSL_SystemMouseReset();
    WindowFlags.fetch_or(WINDOW_TAKE_POS);
    const ScreensHost& host = GSL_ScreensHost();
    if (host.minimised() || (WindowFlags.load() & WINDOW_FULLSCREEN_ON))
        host.fullScreenSet(0);
    else
        host.maximise();
}

int32_t GSL_OptionInput() {
    OptionWork* o = GSL_OptionWork();
    if (!o) return OPTION_INPUT_STAY;
    if (BarDrag(o)) {
        if (o->cursor >= kOptionFirstIcon) GSL_OptionDrawItems(0);
        GSL_OptionScroll();
        return OPTION_INPUT_STAY;
    }
    if (SliderDrag(o)) return OPTION_INPUT_STAY;
    bool dragStarted = false;
    const int32_t before = o->cursor;
    bool acted = PointerScan(o, &dragStarted);
    if (dragStarted) return OPTION_INPUT_STAY;
    if (!acted) {
        const bool reset = Click(5), font = Click(7), display = Click(9);
        const int32_t c = o->cursor;
        const bool icon = c >= kOptionFirstIcon;
        acted = true;
        if (Pressed(kButtonS) || reset) {
            GSL_SystemSePlay(SE_ENTER);
            return OPTION_INPUT_RESET;
        } else if (Pressed(kButtonC) || font) {
            GSL_SystemSePlay(SE_ENTER);
            return OPTION_INPUT_FONTS;
        } else if (Pressed(kButtonF2) || display) {
            GSL_OptionDisplaySwitch();
            return OPTION_INPUT_STAY;
        } else if (Pressed(BUTTON_DECIDE) && icon) {
            GSL_OptionChangeItem(2, 1);
        } else if (!icon && Key(o, 0)) {
            GSL_OptionChangeItem(-1, 1);
        } else if (icon && Key(o, 4)) {
            o->cursor = c == kOptionFirstIcon ? kOptionLastItem : c - 1;
            GSL_SystemSePlay(SE_MOVE);
        } else if (!icon && Key(o, 1)) {
            GSL_OptionChangeItem(1, 1);
        } else if (icon && Key(o, 5)) {
            o->cursor = c == kOptionLastItem ? kOptionFirstIcon : c + 1;
            GSL_SystemSePlay(SE_MOVE);
        } else {
            const PointerGestureState& g = PointerGesture;
            const bool held = MouseInput.clickPhase == 2;
            const int32_t dy = g.current.y - g.press.y;
            const int32_t up = GSL_SystemBarHit(o->bar, BAR_UP), down = GSL_SystemBarHit(o->bar, BAR_DOWN);
            if (Key(o, 2) || up == 3 || up == 5)
                MoveUp(o, false);
            else if (held && dy > kDragThreshold)
                MoveUp(o, true);
            else if (Key(o, 3) || down == 3 || down == 5)
                MoveDown(o, false);
            else if (held && dy < -kDragThreshold)
                MoveDown(o, true);
            else
                acted = false;
        }
    }
    if (acted || o->cursor != before) {
        if (o->cursor >= kOptionFirstIcon) GSL_OptionDrawItems(0);
        GSL_OptionScroll();
    }
    return OPTION_INPUT_STAY;
}

void GSL_OptionScroll() {
    OptionWork* o = GSL_OptionWork();
    ScreenWork* w = GSL_WorkGet(GSL_OptionModeCB);
    if (!o || !w || o->cursor == o->previousCursor) return;
    const bool wasList = o->previousCursor < kOptionFirstIcon, isList = o->cursor < kOptionFirstIcon;
    int32_t rows = 0;
    float offset = 0.0f;
    if (wasList && isList) {
        const int32_t r = o->cursor - o->scrollTop;
        if (r >= kPageRows)
            rows = r - (kPageRows - 1);
        else if (r < 0)
            rows = r;
        o->scrollTop += rows;
        offset = float(rows * kRow);
    } else if (wasList) {
        o->scrollTop += kPageRows;
        rows = 1;
        offset = kPageOffset;
    } else if (isList) {
        o->scrollTop -= kPageRows;
        rows = -1;
        offset = -kPageOffset;
    }
    if (rows) GSL_SystemBarScroll(o->bar, rows);
    PlacePlate(o);
    if (offset != 0.0f) {
        bool first = true;
        for (int32_t i = 0; i < kOptionItemSprites; ++i) {
            const int32_t h = w->layers[kOptionFirstLayer + uint32_t(i)].handle;
            const SpriteRecord* s = Lib_SpriteAt(h);
            if (!s) continue;
            const float goal[3] = {s->posX, s->posY + offset, s->posZ};
            const int32_t task = GSL_SystemMoveSet(h, -1, goal, kScrollFrames, -1, first ? 0 : 1, MOVE_POSITION, 7);
            if (first) o->moveTask = task;
            first = false;
        }
        for (int32_t i = 0; i < kOptionItemTexts; ++i) {
            const int32_t h = w->texts[kOptionFirstText + uint32_t(i)].handle;
            const TextRecord* r = h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
            if (!r) continue;
            const float goal[3] = {float(r->x), float(r->y) + offset, float(r->z)};
            GSL_SystemMoveSet(-1, h, goal, kScrollFrames, -1, 1, MOVE_POSITION, 7);
        }
    }
    o->previousCursor = o->cursor;
}

namespace {
// ---- step 3 -------------------------------------------------------------
void Leave(ScreenWork* w) {
    if (w->subState == LEAVE_APPLY) {
        GSL_ConfigApply(false);
        w->subState = LEAVE_FONT;
    }
    if (!GSL_ConfigFontWait()) return;
    const OptionWork* o = GSL_OptionWork();
    Goto(w, OPTION_EXIT);
    uint8_t now[20];
    Digest(now);
    if (std::memcmp(now, o->digest, sizeof now) != 0) GSL_ModePush(GSL_SystemSaveModeCB, 1);
}

// ---- step 4 -------------------------------------------------------------
// A capture that could not be made counts as ready: the reset then runs
// without the frozen picture.
bool CaptureReady(int32_t sprite) { return sprite < 0 || Lib_SpriteGetState(sprite) == 2; }

void Reset(ScreenWork* w) {
    OptionWork* o = GSL_OptionWork();
    switch (w->subState) {
        case RESET_ASK: {
            char text[kMesTextSize];
            GSL_SysTextGet(nullptr, 2, 1, 0, text, sizeof text);
            o->wipeOrDialog = Lib_DialogAsk(text);
            w->subState = RESET_ANSWER;
            return;
        }
        case RESET_ANSWER: {
            const int32_t answer = GSL_SystemDialogGet(o->wipeOrDialog);
            if (answer < 0 && o->wipeOrDialog >= 0 && GSL_SystemDialogIsReady(o->wipeOrDialog) >= 0) return;
            GSL_SystemDialogDel(o->wipeOrDialog);
            o->wipeOrDialog = -1;
            if (answer != 1) {
                w->subState = SUBSTATE_CLOSE;
                return;
            }
            o->resetCapture = Lib_SpriteCreateCapture(0, kResetCapturePriority, 0);
            Lib_SpriteSetFlag(o->resetCapture, 0);
            o->loading = GSL_SystemLoadingSet(kIndicatorPriority, 0);
            w->subState = RESET_DEFAULTS;
            return;
        }
        case RESET_DEFAULTS: {
            if (!CaptureReady(o->resetCapture) || !GSL_SystemLoadingCheck(o->loading)) return;
            const int8_t language = SystemDataBlock.language;
            GSL_ConfigDefaults();
            if (SystemDataBlock.language != language) {
                if (o->resetCapture >= 0) {
                    Lib_SpriteSetPrio(o->resetCapture, kFrozenPriority, -1);
                    Lib_SpriteSetValue(o->resetCapture, 2);
                    Lib_SpriteSetFlag(o->resetCapture, 1);
                }
                if (o->loading >= 0 && TaskTable.slots[o->loading])
                    if (auto* l = static_cast<LoadingWork*>(TaskTable.slots[o->loading]->work)) l->shown = 1;
            }
            GSL_ConfigApply(false);
            GSL_OptionDrawItems(0);
            w->subState = SUBSTATE_CLOSE;
            return;
        }
        default:  // SUBSTATE_CLOSE
            if (!GSL_ConfigFontWait()) return;
            Lib_SpriteFree(o->resetCapture);
            o->resetCapture = -1;
            GSL_SystemLoadingDel(o->loading);
            o->loading = -1;
            Goto(w, OPTION_MAIN);
            return;
    }
}

// ---- step 6 -------------------------------------------------------------
void Exit(ScreenWork* w) {
    OptionWork* o = GSL_OptionWork();
    if (!GSL_ConfigFontWait()) return;
    if (w->subState == EXIT_WIPE) {
        char path[256];
        GSL_WipePathMake(path);
        o->wipeOrDialog = GSL_SystemWipeSet(path, -1, kWipeFrames, kWipePriority, kWipePriority, 0, 6);
        w->subState = EXIT_FREE;
    }
    if (w->subState == EXIT_FREE) {
        if (GSL_SystemWipeStatus(o->wipeOrDialog) == WIPE_PREPARING) return;
        for (int32_t& k : o->keys) {
            Lib_TaskDel(uint32_t(k));
            k = -1;
        }
        GSL_SystemBarDel(o->bar);
        o->bar = -1;
        for (int32_t slot = 0; slot <= 7; ++slot) GSL_WorkLayerFree(nullptr, slot);
        GSL_WorkLayerFree(nullptr, 9);
        for (int32_t i = 0; i < kOptionItemSprites; ++i) GSL_WorkLayerFree(nullptr, int32_t(kOptionFirstLayer) + i);
        for (int32_t i = 0; i < kOptionItemTexts; ++i) GSL_WorkTextFree(nullptr, kOptionFirstText + uint32_t(i));
        GSL_WorkTextFree(nullptr, 0);
        GSL_WorkTextFree(nullptr, 2);
        WindowFlags.fetch_and(uint8_t(~WINDOW_F2_IGNORED));
        w->subState = EXIT_WIPE_END;
    }
    if (GSL_SystemWipeStatus(o->wipeOrDialog) != WIPE_FINISHED) return;
    GSL_SystemWipeDel(o->wipeOrDialog);
    w->words[0] = 0;
    Lib_MemFree(o->heap, o);
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
}

void FontPage(ScreenWork*) { GSL_OptionFontPage(); }

using StepFn = void (*)(ScreenWork*);
constexpr StepFn kSteps[] = {Init, Build, Main, Leave, Reset, FontPage, Exit};
}  // namespace

void GSL_OptionModeCB() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : 0;
    if (!w || !GSL_OptionWork()) {
        if (step == 0) Init(w);
        return;
    }
    if (step >= 0 && step < int32_t(std::size(kSteps))) kSteps[step](w);
}
