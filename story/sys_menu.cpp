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
// Sub-states of the open step: LOAD -> SLIDE -> SUBSTATE_CLOSE (until the
// column is in).
enum : int32_t { OPEN_LOAD = 0, OPEN_SLIDE = 1 };
// Sub-states of the execute step: VOICE -> VOICE_WAIT -> AGAIN, which runs
// the button until it answers STAY (back to the column) or DONE (the menu
// closes once no quick-data task runs). AGAIN, STAY and DONE are also the
// answers of GSL_SysMenuDoButton.
enum : int32_t { EXEC_VOICE = 0, EXEC_VOICE_WAIT = 1, EXEC_AGAIN = 10, EXEC_STAY = 99, EXEC_DONE = 100 };
// Sub-states of the close step: SLIDE -> WAIT -> LEAVE.
enum : int32_t { CLOSE_SLIDE = 0, CLOSE_WAIT = 1, CLOSE_LEAVE = 99 };
// SysMenuHead::visit through a visit to another screen: START -> FADE ->
// PUSH -> (that screen runs) RETURN -> BACK -> START.
enum : int32_t { GOTO_START = 0, GOTO_FADE = 1, GOTO_PUSH = 2, GOTO_RETURN = 3, GOTO_BACK = 4 };

struct Button {
    int32_t layout, caption, voice;
};
constexpr Button kButtons[kSysMenuButtons] = {
    {12, 1, 10}, {13, 2, 11}, {14, 3, -1}, {15, 4, -1}, {17, 14, -1},
    {18, 15, 16}, {28, 16, -1}, {16, 5, 14}, {19, 8, -1}, {20, 9, -1},
};

// The options visit's font name, compared after it.
// process-wide: scratch, written before each read
char g_font[sizeof(SystemData::fontName)];

SysMenuHead* Head(ScreenWork* w) { return GSL_SysMenuHead(w); }
const SysMenuHead* Head(const ScreenWork* w) { return GSL_SysMenuHead(w); }

void Step(ScreenWork* w, int32_t step) {
    w->step = step;
    w->subState = SUBSTATE_ENTRY;
}

bool Key(uint32_t bits) { return (InputButtons.pressed & bits) != 0; }
int32_t Sprite(int32_t i) { return GSL_WorkLayerGet(GSL_SysMenuModeCB, uint32_t(kButtonLayer + i)); }
int32_t Cursor(const ScreenWork* w) {
    const SelectInputWork* in = GSL_InputWork(Head(w)->input);
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
    *Head(w) = SysMenuHead{-1, -1, -1, -1, GOTO_START, -1, 0, 0, 0, 0, nullptr};
    GSL_WorkFrameRateHold(w);
    Step(w, MENU_STEP_OPEN);
}

void OpenButtons(ScreenWork* w, int32_t panelWidth) {
    SelectInputWork* in = GSL_InputWork(Head(w)->input);
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
        const int32_t move = GSL_SystemMoveSet(s, -1, goal, frames, -1, i == MENU_BUTTON_TITLE ? 0 : 1, MOVE_POSITION, 7);
        if (i == MENU_BUTTON_TITLE) Head(w)->lastMove = move;
        GSL_SystemAlphaSet(s, -1, 255, frames, -1, 1);
    }
    GSL_SysMenuDrawCaption();
}

// The column's slide in or out: the captions follow the buttons until the
// last button's move and the dim have ended; then both tasks are deleted
// and the answer is true.
bool SlideDone(ScreenWork* w) {
    GSL_SysMenuDrawCaption();
    SysMenuHead* h = Head(w);
    if (!MoveDone(h->lastMove) || !AlphaDone(h->dim)) return false;
    GSL_SystemMoveDel(h->lastMove);
    GSL_SystemAlphaDel(h->dim);
    h->lastMove = -1;
    h->dim = -1;
    return true;
}

void Open(ScreenWork* w) {
    switch (w->subState) {
        case OPEN_LOAD:
            GSL_WorkLayerFile(nullptr, kPanelLayer, nullptr, LAYER_OWN);
            GSL_WorkLayerFile(nullptr, kButtonLayer, kSheet, LAYER_CACHED);
            w->subState = OPEN_SLIDE;
            return;
        case OPEN_SLIDE: {
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
            Head(w)->input = GSL_InputSet(0, 0, 0, 0, 0, 0, 0, 0);
            OpenButtons(w, width);
            GSL_WorkLayerFile(nullptr, kDimLayer, nullptr, LAYER_OWN);
            const int32_t dim = GSL_WorkLayerGet(nullptr, kDimLayer);
            Lib_SpriteSetFlag(dim, 1);
            Lib_SpriteSetPrio(dim, 400, -1);
            Lib_SpriteSetColor(dim, 0);
            Head(w)->dim = GSL_SystemAlphaSet(dim, -1, 192, 8, -1, 0);
            GSL_InputCursorAdjust(Head(w)->input);
            GSL_InputPause(Head(w)->input, 1);
            GSL_StorySlideWindow(-720, 7, 1);
            w->subState = SUBSTATE_CLOSE;
            return;
        }
        default:  // SUBSTATE_CLOSE
            if (!SlideDone(w)) return;
            GSL_InputPause(Head(w)->input, 0);
            Step(w, MENU_STEP_RUN);
            GSL_ScriptWorkSnapshot();
            return;
    }
}

// --- run ---------------------------------------------------------------------------

void Run(ScreenWork* w) {
    const int32_t input = Head(w)->input;
    if (ShowQuickGDState() >= 0) {
        ShowQuickGDInputSet(input);
        if (ShowQuickGDState() >= QUICK_PANEL_ASK) return;  // its own question runs
    }
    const int32_t cursor = Cursor(w);
    if (cursor == MENU_BUTTON_QUICK_LOAD) {
        const int32_t s = Sprite(MENU_BUTTON_QUICK_LOAD);
        if (Lib_SpriteIsLive(s)) ShowQuickGDSet(SpriteTable[s].posX - 298.0f, SpriteTable[s].posY, 300);
        if (ShowQuickGDState() >= 0) ShowQuickGDInputSet(input);
    } else if (ShowQuickGDState() >= QUICK_PANEL_SHOWN) {
        ShowQuickGDDel();
    }
    GSL_SysMenuDrawCaption();
    int32_t hit = -1;
    for (int32_t i = 0; i < kSysMenuButtons && hit < 0; ++i) {
        int32_t rect[4] = {-1, 0, 0, 0};
        if (Lib_SpriteIsLive(Sprite(i)) && GSL_ButtonCheck(nullptr, Sprite(i), rect, 0, 0, 0, -1) == 1) hit = i;
    }
    if (Key(KEY_X | KEY_C) || LongDrag()) {
        GSL_SystemSePlay(SE_CANCEL);
        Step(w, MENU_STEP_CLOSE);
        return;
    }
    if ((Key(KEY_Z) && cursor >= 0) || (hit >= 0 && hit == cursor)) {
        GSL_SystemSePlay(SE_ENTER);
        GSL_InputPause(input, 1);
        Step(w, MENU_STEP_EXECUTE);
        return;
    }
    const SelectInputWork* in = GSL_InputWork(input);
    for (int32_t i = 0; i < kSysMenuButtons; ++i)
        if (in && !in->disabled[i]) Lib_SpriteSetColor(Sprite(i), 0xFFFFFFFFu);
    if (cursor >= 0) {
        int32_t angle = Head(w)->angle;
        GSL_SystemColorCycle(Sprite(cursor), -1, 255, 255, 0, -32, &angle);
        Head(w)->angle = angle;
    }
}

// --- execute ------------------------------------------------------------------------

// 1 yes, 0 no, -1 pending. The quick save and quick load buttons confirm
// with their voice alone; the title button asks.
int32_t GSL_SysMenuConfirm(ScreenWork* w, uint32_t text, int32_t button) {
    const int32_t voice = button == MENU_BUTTON_QUICK_SAVE ? 12 : button == MENU_BUTTON_QUICK_LOAD ? 13 : 15;
    if (button == MENU_BUTTON_QUICK_SAVE || button == MENU_BUTTON_QUICK_LOAD) {
        if (!Head(w)->confirm) {
            Head(w)->confirm = 1;
            if (button == MENU_BUTTON_QUICK_SAVE || QuickDataPresent) GSL_SysVoicePlay(0, voice, -1.0f);
            return -1;
        }
        // Starting counts as playing: only a voice that is over, or a cut,
        // lets the answer through.
        if (!GSL_SysVoiceIsDone(true) && !VoiceCut()) return -1;
        Head(w)->confirm = 0;
        return 1;
    }
    int32_t dialog = Head(w)->dialog;
    if (dialog < 0 && !Head(w)->confirm) {
        const char* message = GSL_SysTextGet(nullptr, 2, text, 0, nullptr, 0);
        dialog = Lib_DialogAsk(message);
        Head(w)->dialog = dialog;
        GSL_SystemDialogFixCam(dialog);
        GSL_SystemDialogTextEnd(dialog);
        Head(w)->confirm = 1;
        Head(w)->voiced = 0;
        if (dialog < 0) {
            Head(w)->confirm = 0;
            return 0;  // no dialog could be made: as a no
        }
        return -1;
    }
    const auto* d = static_cast<const UtilityDialogWork*>(Lib_UtilityWorkGet(dialog));
    if (d && d->state >= DIALOG_WAITING && !Head(w)->voiced) {
        Head(w)->voiced = 1;
        GSL_SysVoicePlay(0, voice, -1.0f);
    }
    const int32_t answer = GSL_SystemDialogGet(dialog);
    if (answer < 0 && GSL_SystemDialogIsReady(dialog) >= 0) return -1;
    GSL_SystemDialogDel(dialog);
    Head(w)->dialog = -1;
    Head(w)->confirm = 0;
    GSL_WorkSoundStop(nullptr, kVoiceSlot, 0);
    return answer == 1 ? 1 : 0;
}

// A visit to another screen above the menu; true once it is over.
bool GotoScreen(ScreenWork* w, ModeFunction screen, uint8_t keep) {
    const bool save = screen == GSL_ScreenOf(SCREEN_SAVE);
    switch (Head(w)->visit) {
        case GOTO_START:
            Head(w)->visit = GOTO_FADE;
            if (save) return false;  // one frame's delay
            [[fallthrough]];
        case GOTO_FADE:
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
                    Head(w)->copy = copy;
                }
                MenuShow(0);
            }
            Head(w)->visit = GOTO_PUSH;
            return false;
        case GOTO_PUSH:
            if (!GSL_SystemDispColorCheck()) return false;
            Head(w)->visit = GOTO_RETURN;
            GSL_ModePush(screen, keep);
            return false;
        case GOTO_RETURN:
            if (!keep) {
                GSL_SystemDispColorSet(0, 30);
                GSL_ConfigApply(true);
            }
            Head(w)->visit = GOTO_BACK;
            return false;
        default: {  // GOTO_BACK
            if (!GSL_SystemDispColorCheck()) return false;
            if (void* copy = Head(w)->copy) {
                std::memcpy(reinterpret_cast<uint8_t*>(&GameStateBlock) + 8, copy, kStateTail);
                Lib_MemFree(HEAP_SCREEN, copy);
            }
            Head(w)->copy = nullptr;
            Head(w)->visit = GOTO_START;
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
        case MENU_BUTTON_SAVE: return Visit(w, GSL_ScreenOf(SCREEN_SAVE), 0, EXEC_DONE);
        case MENU_BUTTON_LOAD: return Visit(w, GSL_ScreenOf(SCREEN_LOAD), 0, EXEC_STAY);
        case MENU_BUTTON_QUICK_SAVE: {
            const int32_t yes = GSL_SysMenuConfirm(w, 2, MENU_BUTTON_QUICK_SAVE);
            if (yes < 0) return EXEC_AGAIN;
            if (yes == 0) return EXEC_STAY;
            GSL_QuickSaveNow();
            return EXEC_DONE;
        }
        case MENU_BUTTON_QUICK_LOAD: {
            if (!QuickDataPresent) return EXEC_STAY;
            const int32_t yes = GSL_SysMenuConfirm(w, 3, MENU_BUTTON_QUICK_LOAD);
            if (yes < 0) return EXEC_AGAIN;
            if (yes == 0) return EXEC_STAY;
            StoryExitRequest = STORY_EXIT_QUICK_LOAD;
            return EXEC_DONE;
        }
        case MENU_BUTTON_SKIP: StoryPlayMode ^= PLAY_SKIP; return EXEC_DONE;
        case MENU_BUTTON_AUTO: StoryPlayMode ^= PLAY_AUTO; return EXEC_DONE;
        case MENU_BUTTON_BACKLOG: return Visit(w, GSL_BacklogModeCB, 1, EXEC_STAY);
        case MENU_BUTTON_OPTIONS: return Visit(w, GSL_ScreenOf(SCREEN_OPTION), 1, EXEC_STAY);
        case MENU_BUTTON_MANUAL: return Visit(w, GSL_ScreenOf(SCREEN_MANUAL), 1, EXEC_STAY);
        case MENU_BUTTON_TITLE: {
            const int32_t yes = GSL_SysMenuConfirm(w, 4, MENU_BUTTON_TITLE);
            if (yes < 0) return EXEC_AGAIN;
            if (yes == 0) return EXEC_STAY;
            StoryExitRequest = STORY_EXIT_TITLE;
            return EXEC_DONE;
        }
        default: return EXEC_AGAIN;
    }
}

void Execute(ScreenWork* w) {
    switch (w->subState) {
        case EXEC_VOICE: {
            const int32_t cursor = Cursor(w);
            if (cursor >= 0 && cursor < kSysMenuButtons && kButtons[cursor].voice >= 0)
                GSL_SysVoicePlay(0, kButtons[cursor].voice, -1.0f);
            if (cursor == MENU_BUTTON_OPTIONS) {
                Head(w)->language = SystemDataBlock.language;
                std::memcpy(g_font, SystemDataBlock.fontName, sizeof g_font);
                Head(w)->font = 1;
            }
            w->subState = EXEC_VOICE_WAIT;
            return;
        }
        case EXEC_VOICE_WAIT:
            if (!GSL_SysVoiceIsDone(true) && !VoiceCut()) return;
            w->subState = EXEC_AGAIN;
            [[fallthrough]];
        case EXEC_AGAIN: w->subState = GSL_SysMenuDoButton(w); return;
        case EXEC_STAY: {
            const int32_t language = Head(w)->language;
            if ((language >= 0 && language != SystemDataBlock.language) ||
                (Head(w)->font && std::memcmp(g_font, SystemDataBlock.fontName, sizeof g_font) != 0))
                StoryExitRequest = STORY_EXIT_RELOAD;
            Head(w)->language = -1;
            Head(w)->font = 0;
            if (StoryExitRequest == STORY_EXIT_QUICK_LOAD || StoryExitRequest == STORY_EXIT_RESTART || StoryExitRequest == STORY_EXIT_RELOAD) {
                w->subState = EXEC_DONE;
                return;
            }
            GSL_InputPause(Head(w)->input, 0);
            MenuShow(1);
            Step(w, MENU_STEP_RUN);
            return;
        }
        default:  // EXEC_DONE
            if (SaveQuickGDGuard != -1) return;
            Step(w, MENU_STEP_CLOSE);
            return;
    }
}

// --- close --------------------------------------------------------------------------

void Close(ScreenWork* w) {
    if (ShowQuickGDState() >= QUICK_PANEL_OPEN && ShowQuickGDState() < QUICK_PANEL_SHOWN) return;
    switch (w->subState) {
        case CLOSE_SLIDE: {
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
                const int32_t move = GSL_SystemMoveSet(s, -1, goal, frames, 1, i == MENU_BUTTON_TITLE ? 0 : 1, MOVE_POSITION, 7);
                if (i == MENU_BUTTON_TITLE) Head(w)->lastMove = move;
                GSL_SystemAlphaSet(s, -1, 0, frames, 1, 1);
            }
            const int32_t dim = GSL_WorkLayerGet(nullptr, kDimLayer);
            Head(w)->dim = Lib_SpriteIsLive(dim) ? GSL_SystemAlphaSet(dim, -1, 0, 8, -1, 0) : -1;
            if (StoryExitRequest != STORY_EXIT_QUICK_LOAD && StoryExitRequest != STORY_EXIT_RESTART && StoryExitRequest != STORY_EXIT_RELOAD)
                GSL_StorySlideWindow(720, 7, 1);
            ShowQuickGDDel();
            w->subState = CLOSE_WAIT;
            return;
        }
        case CLOSE_WAIT:
            if (!SlideDone(w)) return;
            w->subState = CLOSE_LEAVE;
            GSL_ScriptWorkSnapshot();
            return;
        default:  // CLOSE_LEAVE
            GSL_WorkSoundStop(nullptr, kVoiceSlot, 0);
            GSL_InputDel(Head(w)->input);
            GSL_WorkDelete(nullptr);
            GSL_ModePop();
            return;
    }
}
}  // namespace

SysMenuHead* GSL_SysMenuHead(ScreenWork* w) { return w ? reinterpret_cast<SysMenuHead*>(w->words) : nullptr; }
const SysMenuHead* GSL_SysMenuHead(const ScreenWork* w) {
    return w ? reinterpret_cast<const SysMenuHead*>(w->words) : nullptr;
}

int32_t GSL_SysMenuItemIndex(int32_t i) {
    if (i < 0 || i >= kSysMenuButtons) return -1;
    if (i == MENU_BUTTON_TITLE) {
        const int n = GSL_ModeCount();
        if (n >= 3 && GSL_ScreenOf(SCREEN_SPECIAL) && ModeStack[n - 3] == GSL_ScreenOf(SCREEN_SPECIAL)) return 23;
    }
    return kButtons[i].layout;
}

bool GSL_SysMenuItemEnabled(int32_t i) {
    if (i >= MENU_BUTTON_SAVE && i <= MENU_BUTTON_QUICK_LOAD) return !Special();
    if (i == MENU_BUTTON_BACKLOG) return GSL_StoryTestFlagRef();
    return i >= 0 && i < kSysMenuButtons;
}

void GSL_SysMenuModeCB() {
    using StepFn = void (*)(ScreenWork*);
    static const StepFn kSteps[] = {Init, Open, Run, Execute, Close};
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : 0;
    if (step >= 0 && step < int32_t(sizeof kSteps / sizeof kSteps[0])) kSteps[step](w);
}
