#include "story/sys_menu.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/util.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/text/text_object.h"
#include "script/script_host.h"
#include "story/backlog.h"
#include "story/config.h"
#include "story/quick_save.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "ui/color_pulse.h"
#include "ui/dialog_access.h"
#include "ui/layout_table.h"
#include "ui/move_alpha.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_restore.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/utility_dialog.h"
#include "ui/widget.h"
#include "ui/widget_task.h"


namespace {
constexpr char kSheet[] = "visual/system/sys_adv_00.ext";
constexpr int32_t kPanelLayer = 0, kDimLayer = 1, kButtonLayer = 2;
constexpr int32_t kButtonX = 524, kButtonTop = 324, kButtonStep = 72;
constexpr int32_t kVoiceSlot = 22;
constexpr uint32_t kStateTail = sizeof(GameState) - 8;  // after the version and the play time
enum : uint32_t { KEY_Z = 0x1, KEY_X = 0x2, KEY_C = 0x8, KEY_E = 0x400 };
enum : int32_t { EXEC_STAY = 99, EXEC_DONE = 100, EXEC_AGAIN = 10 };

struct Button {
    int32_t layout, caption, voice;
};
constexpr Button kButtons[kSysMenuButtons] = {
    {12, 1, 10}, {13, 2, 11}, {14, 3, -1}, {15, 4, -1}, {17, 14, -1},
    {18, 15, 16}, {28, 16, -1}, {16, 5, 14}, {19, 8, -1}, {20, 9, -1},
};

// The options visit's font name, compared after it.
char g_font[sizeof(SystemData::fontName)];

int32_t Word(const ScreenWork* w, uint32_t i) { return int32_t(int64_t(w->words[i])); }
void SetWord(ScreenWork* w, uint32_t i, int32_t v) { w->words[i] = uint64_t(int64_t(v)); }
void Step(ScreenWork* w, int32_t step) {
    w->step = step;
    w->subState = 0;
}

bool Key(uint32_t bits) { return (InputButtons.pressed & bits) != 0; }
int32_t Sprite(int32_t i) { return GSL_WorkLayerGet(GSL_SysMenuModeCB, uint32_t(kButtonLayer + i)); }
int32_t Cursor(const ScreenWork* w) {
    const SelectInputWork* in = GSL_InputWork(Word(w, MENU_INPUT));
    return in ? in->cursor : -1;
}
bool Special() { return SpecialScenarioFlag != 0; }
int32_t PanelWidth() {
    LayoutRect r{};
    GSL_LayoutGetRect(&r, 5, 21);
    return r.width;
}

bool MoveDone(int32_t task) { return GSL_SystemMoveCheck(task) != 0; }
bool AlphaDone(int32_t task) { return GSL_SystemAlphaCheck(task) != 0; }

// A cut of a waiting voice: Z, X, E or a click anywhere.
bool VoiceCut() {
    int32_t rect[4] = {-1, 0, 0, 0};  // no rectangle: the whole screen
    return Key(KEY_Z | KEY_X | KEY_E) || GSL_ButtonCheck(nullptr, -1, rect, 0, 0, 0, -1) == 1;
}

// A drag from the gesture's start beyond 171 pixels on either axis.
bool LongDrag() {
    if (MouseInput.clickPhase != 1 && MouseInput.clickPhase != 2) return false;
    const int64_t d = Lib_Size43(128);
    const PointerGestureState& g = PointerGesture;
    return std::llabs(int64_t(g.current.x) - g.press.x) > d || std::llabs(int64_t(g.current.y) - g.press.y) > d;
}

void MenuShow(uint8_t shown) {
    Lib_SpriteSetFlag(GSL_WorkLayerGet(nullptr, kPanelLayer), shown);
    for (int32_t i = 0; i < kSysMenuButtons; ++i) {
        Lib_SpriteSetFlag(Sprite(i), shown);
        const int32_t t = GSL_WorkTextGet(nullptr, uint32_t(i));
        if (!shown && t >= 0 && t < kTextSlots && TextTable[t]) Lib_TextRgbaSet(t, TextTable[t]->colour & 0xFFFFFFu);
    }
}

// Captions follow their buttons: colour, scale less 0.45, and the top-left
// corner inset by 22, 19 (14, 15 while the button is scaled).
void GSL_SysMenuDrawCaption() {
    if (!SysgraMesTable.data) return;
    for (int32_t i = 0; i < kSysMenuButtons; ++i) {
        const int32_t s = Sprite(i);
        if (!Lib_SpriteIsLive(s)) continue;
        int32_t t = GSL_WorkTextGet(nullptr, uint32_t(i));
        if (t < 0) {
            const char* text = GSL_SysTextGet(&SysgraMesTable, 2, uint32_t(kButtons[i].caption), 0, nullptr, 0);
            t = GSL_WorkTextSet(nullptr, uint32_t(i), -1, text);
            if (t < 0 || !TextTable[t]) continue;
            TextTable[t]->speed = 0;
            Lib_TextPrioSet(t, 298);
        }
        if (t >= kTextSlots || !TextTable[t]) continue;
        const SpriteRecord& r = SpriteTable[s];
        const bool scaled = r.scaleY != 1.0f;
        const float left = r.posX - float(r.srcRect[2]) * r.scaleX * 0.5f + 640.0f;
        const float top = r.posY + float(r.srcRect[3]) * r.scaleY * 0.5f - 360.0f;
        const TextPos pos{int32_t(left) + (scaled ? 14 : 22), int32_t(top) - (scaled ? 15 : 19), 0};
        Lib_TextPosSet(t, &pos);
        const TextScale scale{r.scaleX - 0.45f, r.scaleY - 0.45f};
        Lib_TextScaleSet(t, &scale);
        Lib_TextRgbaSet(t, Lib_SpriteGetColor(s));
    }
}

// --- init and open ------------------------------------------------------------------

void Init(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) {
        GSL_ModePop();  // no room for a context: back to the story at once
        return;
    }
    for (uint32_t i : {MENU_INPUT, MENU_MOVE9, MENU_DIM, MENU_DIALOG, MENU_LANGUAGE}) SetWord(w, i, -1);
    for (uint32_t i : {MENU_CONFIRM, MENU_COPY, MENU_GOTO, MENU_FONT, MENU_ANGLE, MENU_VOICED}) w->words[i] = 0;
    SetWord(w, MENU_RATE, FrameRateConfig);
    FrameRateConfig = 60;
    Step(w, 1);
}

void OpenButtons(ScreenWork* w, int32_t panelWidth) {
    SelectInputWork* in = GSL_InputWork(Word(w, MENU_INPUT));
    if (in) {
        in->screen = GSL_SysMenuModeCB;
        in->count = kSysMenuButtons;
    }
    for (int32_t i = 0; i < kSysMenuButtons; ++i) {
        const uint32_t layer = uint32_t(kButtonLayer + i);
        if (i > 0) GSL_WorkLayerCopy(nullptr, layer, kButtonLayer, -1);
        const int32_t s = Sprite(i);
        if (!Lib_SpriteIsLive(s)) continue;
        const bool enabled = GSL_SysMenuItemEnabled(i);
        LayoutRect r{};
        GSL_LayoutGetRect(&r, 5, GSL_SysMenuItemIndex(i));
        const int32_t rect[4] = {r.x, r.y, r.width, r.height};
        Lib_SpriteSetRect(s, rect);
        SpriteRecord& sp = SpriteTable[s];
        sp.posX = float(panelWidth + kButtonX);
        sp.posY = float(kButtonTop - kButtonStep * i);
        sp.posZ = 0.0f;
        Lib_SpriteSetColor(s, enabled ? 0x00FFFFFFu : 0x00808080u);
        Lib_SpriteSetPrio(s, 299, -1);
        Lib_SpriteSetValue(s, 2);
        sp.visible = 1;
        if (in) {
            in->layers[i] = int32_t(layer);
            in->highlight[i] = {r.x + r.width + 8, r.y, r.width, r.height};
            in->disabled[i] = !enabled;
        }
        const int32_t frames = 8 + 2 * i;
        const float goal[3] = {float(kButtonX), sp.posY, 0.0f};
        const int32_t move = GSL_SystemMoveSet(s, -1, goal, frames, -1, i == 9 ? 0 : 1, MOVE_POSITION, 7);
        if (i == 9) SetWord(w, MENU_MOVE9, move);
        GSL_SystemAlphaSet(s, -1, 255, frames, -1, 1);
    }
    GSL_SysMenuDrawCaption();
}

void Open(ScreenWork* w) {
    switch (w->subState) {
        case 0:
            GSL_WorkLayerLoad(nullptr, kPanelLayer, -1, nullptr, -1, 0, nullptr, nullptr);
            GSL_WorkLayerLoad(nullptr, kButtonLayer, -1, kSheet, -1, 1, nullptr, nullptr);
            w->subState = 1;
            return;
        case 1: {
            if (!GSL_WorkLayersReady(nullptr)) return;
            const int32_t width = PanelWidth(), centre = (1280 - width) / 2;
            const int32_t panel = GSL_WorkLayerGet(nullptr, kPanelLayer);
            if (SpriteRecord* p = Lib_SpriteIsLive(panel) ? Lib_SpriteAt(panel) : nullptr) {
                p->visible = 1;
                Lib_SpriteSetPrio(panel, 300, -1);
                p->posX = float(width + centre);
                Lib_SpriteSetColor(panel, 0x00FFFFFFu);
                p->scaleX = float(width) / 1280.0f;
                p->scaleY = p->scaleZ = 1.0f;
                const float goal[3] = {float(centre), p->posY, p->posZ};
                GSL_SystemMoveSet(panel, -1, goal, 8, -1, 1, MOVE_POSITION, 7);
                GSL_SystemAlphaSet(panel, -1, 0, 8, -1, 1);
            }
            SetWord(w, MENU_INPUT, GSL_InputSet(0, 0, 0, 0, 0, 0, 0, 0));
            OpenButtons(w, width);
            GSL_WorkLayerLoad(nullptr, kDimLayer, -1, nullptr, -1, 0, nullptr, nullptr);
            const int32_t dim = GSL_WorkLayerGet(nullptr, kDimLayer);
            Lib_SpriteSetFlag(dim, 1);
            Lib_SpriteSetPrio(dim, 400, -1);
            Lib_SpriteSetColor(dim, 0);
            SetWord(w, MENU_DIM, GSL_SystemAlphaSet(dim, -1, 192, 8, -1, 0));
            GSL_InputCursorAdjust(Word(w, MENU_INPUT));
            GSL_InputPause(Word(w, MENU_INPUT), 1);
            GSL_StorySlideWindow(-720, 7, 1);
            w->subState = 99;
            return;
        }
        default:
            GSL_SysMenuDrawCaption();
            if (!MoveDone(Word(w, MENU_MOVE9)) || !AlphaDone(Word(w, MENU_DIM))) return;
            GSL_SystemMoveDel(Word(w, MENU_MOVE9));
            GSL_SystemAlphaDel(Word(w, MENU_DIM));
            SetWord(w, MENU_MOVE9, -1);
            SetWord(w, MENU_DIM, -1);
            GSL_InputPause(Word(w, MENU_INPUT), 0);
            Step(w, 2);
            GSL_ScriptWorkSnapshot();
            return;
    }
}

// --- run ---------------------------------------------------------------------------

void Run(ScreenWork* w) {
    const int32_t input = Word(w, MENU_INPUT);
    if (ShowQuickGDState() >= 0) {
        ShowQuickGDInputSet(input);
        if (ShowQuickGDState() >= 10) return;  // its own question runs
    }
    const int32_t cursor = Cursor(w);
    if (cursor == 3) {
        const int32_t s = Sprite(3);
        if (Lib_SpriteIsLive(s)) ShowQuickGDSet(SpriteTable[s].posX - 298.0f, SpriteTable[s].posY, 300);
        if (ShowQuickGDState() >= 0) ShowQuickGDInputSet(input);
    } else if (ShowQuickGDState() >= 2) {
        ShowQuickGDDel();
    }
    GSL_SysMenuDrawCaption();
    int32_t hit = -1;
    for (int32_t i = 0; i < kSysMenuButtons && hit < 0; ++i) {
        int32_t rect[4] = {-1, 0, 0, 0};
        if (Lib_SpriteIsLive(Sprite(i)) && GSL_ButtonCheck(nullptr, Sprite(i), rect, 0, 0, 0, -1) == 1) hit = i;
    }
    if (Key(KEY_X | KEY_C) || LongDrag()) {
        GSL_SystemSePlay(1);
        Step(w, 4);
        return;
    }
    if ((Key(KEY_Z) && cursor >= 0) || (hit >= 0 && hit == cursor)) {
        GSL_SystemSePlay(0);
        GSL_InputPause(input, 1);
        Step(w, 3);
        return;
    }
    const SelectInputWork* in = GSL_InputWork(input);
    for (int32_t i = 0; i < kSysMenuButtons; ++i)
        if (in && !in->disabled[i]) Lib_SpriteSetColor(Sprite(i), 0xFFFFFFFFu);
    if (cursor >= 0) {
        int32_t angle = Word(w, MENU_ANGLE);
        GSL_SystemColorCycle(Sprite(cursor), -1, 255, 255, 0, -32, &angle);
        SetWord(w, MENU_ANGLE, angle);
    }
}

// --- execute ------------------------------------------------------------------------

// 1 yes, 0 no, -1 pending. Kinds 2 and 3 are their voice alone; kind 9 asks.
int32_t GSL_SysMenuConfirm(ScreenWork* w, uint32_t text, int32_t kind) {
    const int32_t voice = kind == 2 ? 12 : kind == 3 ? 13 : 15;
    if (kind == 2 || kind == 3) {
        if (!w->words[MENU_CONFIRM]) {
            w->words[MENU_CONFIRM] = 1;
            if (kind == 2 || QuickDataPresent) GSL_SysVoicePlay(0, voice, -1.0f);
            return -1;
        }
        // Starting counts as playing: only a voice that is over, or a cut,
        // lets the answer through.
        if (!GSL_SysVoiceIsDone(true) && !VoiceCut()) return -1;
        w->words[MENU_CONFIRM] = 0;
        return 1;
    }
    int32_t dialog = Word(w, MENU_DIALOG);
    if (dialog < 0 && !w->words[MENU_CONFIRM]) {
        const char* message = GSL_SysTextGet(nullptr, 2, text, 0, nullptr, 0);
        dialog = Lib_DialogOpen(1, message, 180, 98, 1);
        SetWord(w, MENU_DIALOG, dialog);
        GSL_SystemDialogFixCam(dialog);
        GSL_SystemDialogTextEnd(dialog);
        w->words[MENU_CONFIRM] = 1;
        w->words[MENU_VOICED] = 0;
        if (dialog < 0) {
            w->words[MENU_CONFIRM] = 0;
            return 0;  // no dialog could be made: as a no
        }
        return -1;
    }
    const auto* d = static_cast<const UtilityDialogWork*>(Lib_UtilityWorkGet(dialog));
    if (d && d->state >= 10 && !w->words[MENU_VOICED]) {
        w->words[MENU_VOICED] = 1;
        GSL_SysVoicePlay(0, voice, -1.0f);
    }
    const int32_t answer = GSL_SystemDialogGet(dialog);
    if (answer < 0 && GSL_SystemDialogIsReady(dialog) >= 0) return -1;
    GSL_SystemDialogDel(dialog);
    SetWord(w, MENU_DIALOG, -1);
    w->words[MENU_CONFIRM] = 0;
    GSL_WorkSoundStop(nullptr, kVoiceSlot, 0);
    return answer == 1 ? 1 : 0;
}

// A visit to another screen above the menu; true once it is over.
bool GotoScreen(ScreenWork* w, ModeFunction screen, uint8_t keep) {
    const bool save = screen == GSL_ScreenOf(SCREEN_SAVE);
    switch (Word(w, MENU_GOTO)) {
        case 0:
            SetWord(w, MENU_GOTO, 1);
            if (save) return false;  // one frame's delay
            [[fallthrough]];
        case 1:
            if (!keep) GSL_SystemDispColorSet(0xFF000000u, 30);
            if (screen != GSL_ScreenOf(SCREEN_LOAD)) {
                if (save) {
                    // The save holds the start of the current line; the live
                    // state comes back afterwards. Without room for the copy
                    // the live state is neither rewound nor restored.
                    void* copy = Lib_MemAlloc(HEAP_SCREEN, kStateTail, 4);
                    if (copy) {
                        std::memcpy(copy, reinterpret_cast<const uint8_t*>(&GameStateBlock) + 8, kStateTail);
                        GSL_StoryRestoreHistory(-1, nullptr);
                    } else {
                        Lib_DebugPrintf("Error -> GSL_SysMenuGotoScreen: no room to keep the game state\n");
                    }
                    w->words[MENU_COPY] = reinterpret_cast<uint64_t>(copy);
                }
                MenuShow(0);
            }
            SetWord(w, MENU_GOTO, 2);
            return false;
        case 2:
            if (!GSL_SystemDispColorCheck()) return false;
            SetWord(w, MENU_GOTO, 3);
            GSL_ModePush(screen, keep);
            return false;
        case 3:
            if (!keep) {
                GSL_SystemDispColorSet(0, 30);
                GSL_ConfigApply(true);
            }
            SetWord(w, MENU_GOTO, 4);
            return false;
        default: {
            if (!GSL_SystemDispColorCheck()) return false;
            if (void* copy = reinterpret_cast<void*>(w->words[MENU_COPY])) {
                std::memcpy(reinterpret_cast<uint8_t*>(&GameStateBlock) + 8, copy, kStateTail);
                Lib_MemFree(HEAP_SCREEN, copy);
            }
            w->words[MENU_COPY] = 0;
            SetWord(w, MENU_GOTO, 0);
            return true;
        }
    }
}

int32_t Visit(ScreenWork* w, ModeFunction screen, uint8_t keep, int32_t done) {
    if (!screen) return EXEC_STAY;
    return GotoScreen(w, screen, keep) ? done : EXEC_AGAIN;
}

int32_t GSL_SysMenuDoButton(ScreenWork* w) {
    switch (Cursor(w)) {
        case 0: return Visit(w, GSL_ScreenOf(SCREEN_SAVE), 0, EXEC_DONE);
        case 1: return Visit(w, GSL_ScreenOf(SCREEN_LOAD), 0, EXEC_STAY);
        case 2: {
            const int32_t yes = GSL_SysMenuConfirm(w, 2, 2);
            if (yes < 0) return EXEC_AGAIN;
            if (yes == 0) return EXEC_STAY;
            GSL_QuickSaveNow();
            return EXEC_DONE;
        }
        case 3: {
            if (!QuickDataPresent) return EXEC_STAY;
            const int32_t yes = GSL_SysMenuConfirm(w, 3, 3);
            if (yes < 0) return EXEC_AGAIN;
            if (yes == 0) return EXEC_STAY;
            StoryExitRequest = 2;
            return EXEC_DONE;
        }
        case 4: StoryPlayMode ^= PLAY_SKIP; return EXEC_DONE;
        case 5: StoryPlayMode ^= PLAY_AUTO; return EXEC_DONE;
        case 6: return Visit(w, GSL_BacklogModeCB, 1, EXEC_STAY);
        case 7: return Visit(w, GSL_ScreenOf(SCREEN_OPTION), 1, EXEC_STAY);
        case 8: return Visit(w, GSL_ScreenOf(SCREEN_MANUAL), 1, EXEC_STAY);
        case 9: {
            const int32_t yes = GSL_SysMenuConfirm(w, 4, 9);
            if (yes < 0) return EXEC_AGAIN;
            if (yes == 0) return EXEC_STAY;
            StoryExitRequest = 1;
            return EXEC_DONE;
        }
        default: return EXEC_AGAIN;
    }
}

void Execute(ScreenWork* w) {
    switch (w->subState) {
        case 0: {
            const int32_t cursor = Cursor(w);
            if (cursor >= 0 && cursor < kSysMenuButtons && kButtons[cursor].voice >= 0)
                GSL_SysVoicePlay(0, kButtons[cursor].voice, -1.0f);
            if (cursor == 7) {
                SetWord(w, MENU_LANGUAGE, SystemDataBlock.language);
                std::memcpy(g_font, SystemDataBlock.fontName, sizeof g_font);
                w->words[MENU_FONT] = 1;
            }
            w->subState = 1;
            return;
        }
        case 1:
            if (!GSL_SysVoiceIsDone(true) && !VoiceCut()) return;
            w->subState = EXEC_AGAIN;
            [[fallthrough]];
        case EXEC_AGAIN: w->subState = GSL_SysMenuDoButton(w); return;
        case EXEC_STAY: {
            const int32_t language = Word(w, MENU_LANGUAGE);
            if ((language >= 0 && language != SystemDataBlock.language) ||
                (w->words[MENU_FONT] && std::memcmp(g_font, SystemDataBlock.fontName, sizeof g_font) != 0))
                StoryExitRequest = 4;
            SetWord(w, MENU_LANGUAGE, -1);
            w->words[MENU_FONT] = 0;
            if (StoryExitRequest == 2 || StoryExitRequest == 3 || StoryExitRequest == 4) {
                w->subState = EXEC_DONE;
                return;
            }
            GSL_InputPause(Word(w, MENU_INPUT), 0);
            MenuShow(1);
            Step(w, 2);
            return;
        }
        default:
            if (SaveQuickGDGuard != -1) return;
            Step(w, 4);
            return;
    }
}

// --- close --------------------------------------------------------------------------

void Close(ScreenWork* w) {
    if (ShowQuickGDState() >= 0 && ShowQuickGDState() < 2) return;
    switch (w->subState) {
        case 0: {
            const int32_t width = PanelWidth(), centre = (1280 - width) / 2;
            const int32_t panel = GSL_WorkLayerGet(nullptr, kPanelLayer);
            if (Lib_SpriteIsLive(panel)) {
                const float goal[3] = {float(width + centre), SpriteTable[panel].posY, SpriteTable[panel].posZ};
                GSL_SystemMoveSet(panel, -1, goal, 8, 1, 1, MOVE_POSITION, 7);
                GSL_SystemAlphaSet(panel, -1, 0, 8, 1, 1);
            }
            for (int32_t i = 0; i < kSysMenuButtons; ++i) {
                const int32_t s = Sprite(i);
                if (!Lib_SpriteIsLive(s)) continue;
                const int32_t frames = 2 + 2 * i;
                const float goal[3] = {float(width + kButtonX), SpriteTable[s].posY, 0.0f};
                const int32_t move = GSL_SystemMoveSet(s, -1, goal, frames, 1, i == 9 ? 0 : 1, MOVE_POSITION, 7);
                if (i == 9) SetWord(w, MENU_MOVE9, move);
                GSL_SystemAlphaSet(s, -1, 0, frames, 1, 1);
            }
            const int32_t dim = GSL_WorkLayerGet(nullptr, kDimLayer);
            SetWord(w, MENU_DIM, Lib_SpriteIsLive(dim) ? GSL_SystemAlphaSet(dim, -1, 0, 8, -1, 0) : -1);
            if (StoryExitRequest != 2 && StoryExitRequest != 3 && StoryExitRequest != 4)
                GSL_StorySlideWindow(720, 7, 1);
            ShowQuickGDDel();
            w->subState = 1;
            return;
        }
        case 1:
            GSL_SysMenuDrawCaption();
            if (!MoveDone(Word(w, MENU_MOVE9)) || !AlphaDone(Word(w, MENU_DIM))) return;
            GSL_SystemMoveDel(Word(w, MENU_MOVE9));
            GSL_SystemAlphaDel(Word(w, MENU_DIM));
            SetWord(w, MENU_MOVE9, -1);
            SetWord(w, MENU_DIM, -1);
            w->subState = 99;
            GSL_ScriptWorkSnapshot();
            return;
        default:
            GSL_WorkSoundStop(nullptr, kVoiceSlot, 0);
            FrameRateConfig = uint8_t(std::clamp(Word(w, MENU_RATE), 1, 60));
            GSL_InputDel(Word(w, MENU_INPUT));
            GSL_WorkDelete(nullptr);
            GSL_ModePop();
            return;
    }
}
}  // namespace

int32_t GSL_SysMenuItemIndex(int32_t i) {
    if (i < 0 || i >= kSysMenuButtons) return -1;
    if (i == 9) {
        const int n = GSL_ModeCount();
        if (n >= 3 && GSL_ScreenOf(SCREEN_SPECIAL) && ModeStack[n - 3] == GSL_ScreenOf(SCREEN_SPECIAL)) return 23;
    }
    return kButtons[i].layout;
}

bool GSL_SysMenuItemEnabled(int32_t i) {
    if (i >= 0 && i <= 3) return !Special();
    if (i == 6) return GSL_StoryTestFlagRef();
    return i >= 0 && i < kSysMenuButtons;
}

void GSL_SysMenuModeCB() {
    using StepFn = void (*)(ScreenWork*);
    static const StepFn kSteps[] = {Init, Open, Run, Execute, Close};
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : 0;
    if (step >= 0 && step < int32_t(sizeof kSteps / sizeof kSteps[0])) kSteps[step](w);
}
