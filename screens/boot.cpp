#include "screens/boot.h"

#include "screens/system_screens.h"

#include <cstdio>

#include "engine/core/task.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/text/font.h"
#include "engine/text/text_object.h"
#include "screens/system_screens.h"
#include "story/config.h"
#include "story/story_screen.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "ui/dialog_access.h"
#include "ui/layout_table.h"
#include "ui/loading.h"
#include "ui/message_box.h"
#include "ui/mode.h"
#include "ui/move_alpha.h"
#include "ui/number_display.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/select_input.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/trans_num.h"
#include "ui/utility_dialog.h"
#include "ui/window_frame.h"
#include "ui/wipe.h"

// Stand-ins until the system screens exist: the logo screen shows the system
// sheet and the window title over the title music and
// fades in from black. Decide (or a click on the sheet) opens the manual
// over it with its resources kept, S with them released, A the options, C
// shows a save thumbnail in the corner. E starts a new game as the title's New
// game will: every screen goes, and the story runs over the title.
// Beside the logo a window frame holds a three-item menu (up and down keys or
// the pointer, the current item pulsing) with the cursor's number ("n / 3")
// under it: decide or a click on the current item opens the manual
// (item 1), asks whether to show a message box (item 2) or shows a notice
// (item 3). A system voice greets the player.
namespace {
constexpr uint32_t kButtonS = 0x4;
constexpr uint32_t kButtonC = 0x8;
constexpr uint32_t kButtonE = 0x400;
constexpr uint32_t kButtonQ = 0x100, kButtonW = 0x200;
constexpr uint32_t kButtonA = 0x40;
constexpr uint32_t kButtonD = 0x80;
constexpr uint32_t kButtonTab = 0x40000, kButtonF3 = 0x20000;
constexpr int32_t kWaitExtras = 2;
constexpr int32_t kFadeFrames = 30;
constexpr int32_t kThumbFrames = 120;
constexpr int32_t kWipePriority = 9;  // in front of the page
constexpr int32_t kCapturePriority = 15;  // after the logo's layers
constexpr uint32_t kSheetHover = 0xFFE0C0C0u;

// The wipe from the logo to the page, the loading icon while the logo's
// layers load, and the thumbnail shown in the corner.
int32_t g_wipe = -1;
int32_t g_loading = -1;
int32_t g_thumbTask = -1;
int32_t g_thumbFrames = 0;
// The extras screen the fade to black leads to.
ModeFunction g_extras = nullptr;
constexpr int32_t kLogoPriority = 300;  // behind the dialogs (98..101) and the manual

// The menu beside the logo: its window frame and page number, the number
// display's layer slots, and the logo's piece of the system sheet.
constexpr float kMenuX = 400.0f;
constexpr int32_t kMenuPriority = 700;  // behind the number display (608)
constexpr int32_t kMenuItems = 3;
constexpr int32_t kNumberLayers = 10;  // slots 10..20
constexpr int32_t kLogoPiece = 17;
enum : uint32_t {
    LOGO_RETURNED = 0,
    LOGO_SHEET_CUT = 1,
    LOGO_FRAME = 2,
    LOGO_NUMBER = 3,
    LOGO_SHOWN = 4,
    LOGO_INPUT = 5,
    LOGO_ITEMS_SET = 6,
    LOGO_DIALOG = 7,  // the open question or notice, -1 none
    LOGO_DIALOG_KIND = 8,
    LOGO_MESSAGE = 9,  // the message box, -1 none
};

// The menu's items: pieces 20..22 of the system sheet at twice their size,
// in layer slots 1..3, one above the other in the frame.
constexpr int32_t kMenuPiece = 20;
constexpr uint32_t kMenuLayer = 1;
constexpr int32_t kItemPriority = 650;
constexpr float kItemTop = 100.0f, kItemGap = 70.0f;
constexpr uint32_t kQuestionText = 40, kNoticeText = 41;
constexpr int32_t kDialogTimeout = 180, kDialogPriority = 98;
constexpr int32_t kTitleVoice = 15;


using Step = void (*)(ScreenWork* w);

void Run(const Step* steps, int count) {
    ScreenWork* w = GSL_WorkGet(nullptr);
    int step = w ? w->step : 0;
    if (step >= 0 && step < count) steps[step](w);
}

void Next(ScreenWork* w) {
    if (!w) return;
    ++w->step;
    w->subState = 0;
}

int32_t ShowLayer(uint32_t slot, const char* file, int32_t priority) {
    int32_t h = GSL_WorkLayerLoad(nullptr, slot, -1, file, -1, 1, nullptr, nullptr);
    Lib_SpriteSetPrio(h, priority, -1);
    Lib_SpriteSetFlag(h, 1);
    return h;
}

void LogoCreate(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    GSL_SystemDispColorSet(0x00000000u, kFadeFrames);
    // Slots kept from an earlier run may name other tasks by now.
    GSL_SystemLoadingDel(g_loading);
    g_loading = GSL_SystemLoadingSet(1, 1);
    g_wipe = g_thumbTask = -1;
    g_thumbFrames = 0;
    GSL_WorkSoundSet(nullptr, 0, "sound/bgm/Quillmere.oggl", -1, 1, 60, 30, -1);
    ShowLayer(0, "visual/system/sys_system_00.ext", kLogoPriority);
    const float frameAt[2] = {kMenuX, 0.0f}, frameScale[2] = {4.0f, 3.0f};
    w->words[LOGO_FRAME] = uint64_t(int64_t(GSL_SystemWinSet(frameAt, frameScale, kMenuPriority, 1)));
    const float numberAt[3] = {kMenuX, -110.0f, 0.0f};
    w->words[LOGO_NUMBER] = uint64_t(int64_t(GSL_SystemNumSet(numberAt, kNumberLayers)));
    w->words[LOGO_SHOWN] = 0;
    w->words[LOGO_SHEET_CUT] = 0;
    for (uint32_t i = 0; i < kMenuItems; ++i)
        ShowLayer(kMenuLayer + i, "visual/system/sys_system_00.ext", kItemPriority);
    w->words[LOGO_INPUT] = uint64_t(int64_t(GSL_InputSet(0, 0, 0, 0, 0, 0, 0, 0)));
    if (SelectInputWork* in = GSL_InputWork(int32_t(int64_t(w->words[LOGO_INPUT])))) {
        in->screen = GSL_LogoModeCB;
        for (uint32_t i = 0; i < kMenuItems; ++i) in->layers[i] = int32_t(kMenuLayer + i);
        in->count = 0;  // until the pieces are cut
    }
    w->words[LOGO_ITEMS_SET] = 0;
    w->words[LOGO_DIALOG] = w->words[LOGO_MESSAGE] = uint64_t(int64_t(-1));
    GSL_SysVoicePlay(0, kTitleVoice, -1.0f);
    char title[kMesTextSize];
    Lib_MesGet(nullptr, 0, 0, -1, title, sizeof title);
    int32_t t = GSL_WorkTextSet(nullptr, 0, -1, title);
    if (t >= 0 && TextTable[t]) {
        const TextPos pos{640, -640, 0};
        Lib_TextPosSet(t, &pos);
        Lib_TextPrioSet(t, kLogoPriority);
        TextTable[t]->renderFlags = TEXT_ALIGN_CENTRE;
        TextTable[t]->state |= TEXT_STATE_DRAWN;
    }
    Next(w);
}

void ThumbnailStep() {
    const TaskRecord* task = g_thumbTask >= 0 ? TaskTable.slots[g_thumbTask] : nullptr;
    if (!task || task->dead || task->callback != GSL_SystemSaveIcon0SetCB) g_thumbTask = -1;
    if (g_thumbTask < 0 && g_thumbFrames == 0 && StoryCaptureSprite >= 0) {
        // The top-left 320×180 of the capture, in the same corner.
        const int32_t rect[4] = {0, 0, 320, 180};
        Lib_SpriteSetRect(StoryCaptureSprite, rect);
        if (SpriteRecord* r = Lib_SpriteAt(StoryCaptureSprite)) {
            r->posX = -480.0f;
            r->posY = 270.0f;
        }
        Lib_SpriteSetValue(StoryCaptureSprite, 2);
        Lib_SpriteSetPrio(StoryCaptureSprite, 2, -1);
        Lib_SpriteSetFlag(StoryCaptureSprite, 1);
        g_thumbFrames = kThumbFrames;
    } else if (g_thumbFrames > 0 && --g_thumbFrames == 0) {
        Lib_SpriteFree(StoryCaptureSprite);
        StoryCaptureSprite = -1;
    }
}

int32_t Word(const ScreenWork* w, uint32_t i) { return int32_t(int64_t(w->words[i])); }

// The menu's cursor, 0..kMenuItems - 1: the one place the menu's cursor is
// read.
int32_t MenuCursor() {
    const ScreenWork* w = GSL_WorkGet(GSL_LogoModeCB);
    const SelectInputWork* in = w ? GSL_InputWork(Word(w, LOGO_INPUT)) : nullptr;
    return in && in->cursor >= 0 && in->cursor < kMenuItems ? in->cursor : 0;
}

// Once the sheet is in, each item gets its piece and place, and the input
// its items.
void MenuItemsSet(ScreenWork* w) {
    if (w->words[LOGO_ITEMS_SET]) return;
    for (uint32_t i = 0; i < kMenuItems; ++i)
        if (Lib_SpriteGetState(GSL_WorkLayerGet(nullptr, kMenuLayer + i)) != 2) return;
    for (uint32_t i = 0; i < kMenuItems; ++i) {
        const int32_t item = GSL_WorkLayerGet(nullptr, kMenuLayer + i);
        LayoutRect r{};
        GSL_LayoutGetRect(&r, 0, kMenuPiece + int32_t(i));
        const int32_t rect[4] = {r.x, r.y, r.width, r.height};
        Lib_SpriteSetRect(item, rect);
        SpriteRecord* s = Lib_SpriteAt(item);
        s->posX = kMenuX;
        s->posY = kItemTop - kItemGap * float(i);
        s->scaleX = s->scaleY = 2.0f;
    }
    const int32_t input = Word(w, LOGO_INPUT);
    if (SelectInputWork* in = GSL_InputWork(input)) in->count = kMenuItems;
    GSL_InputCursorAdjust(input);
    w->words[LOGO_ITEMS_SET] = 1;
}

// The menu's question, notice and message box, while one is up: true while
// the menu waits for them.
bool MenuDialogStep(ScreenWork* w) {
    const int32_t input = Word(w, LOGO_INPUT);
    const int32_t message = Word(w, LOGO_MESSAGE);
    if (const MessageBoxWork* m = GSL_SystemMsgWork(message)) {
        if (!m->answered) return true;
        GSL_SystemSePlay(0);
        w->words[LOGO_MESSAGE] = uint64_t(int64_t(GSL_SystemMsgDel(message)));
        GSL_InputPause(input, 0);
        return true;
    }
    const int32_t dialog = Word(w, LOGO_DIALOG);
    if (dialog < 0) return false;
    const int32_t answer = GSL_SystemDialogGet(dialog);
    if (answer < 0 && GSL_SystemDialogIsReady(dialog) >= 0) return true;
    GSL_SystemDialogDel(dialog);
    w->words[LOGO_DIALOG] = uint64_t(int64_t(-1));
    if (answer == 1 && w->words[LOGO_DIALOG_KIND] == 1) {
        char text[kMesTextSize];
        GSL_SysTextGet(nullptr, 1, kNoticeText, 0, text, sizeof text);
        // Centred in the box: the text starts half its width left of the middle.
        const TextScale size{0.6f, 0.6f};
        const TextSpacing none{};
        TextRect extent{};
        Lib_TextMeasure(&extent, text, &size, &none, 0, 0);
        const int32_t at[3] = {640 - (extent.right - extent.left) / 2, -340, 0}, spacing[2] = {0, 0};
        const float scale[2] = {8.0f, 1.0f};
        const int32_t box = GSL_SystemMsgSet(text, at, spacing, scale);
        w->words[LOGO_MESSAGE] = uint64_t(int64_t(box));
        if (box >= 0) return true;
    }
    GSL_InputPause(input, 0);
    return true;
}

void MenuDialogOpen(ScreenWork* w, uint32_t kind, uint32_t text) {
    char message[kMesTextSize];
    GSL_SysTextGet(nullptr, 1, text, 0, message, sizeof message);
    const int32_t dialog = Lib_DialogOpen(kind, message, kDialogTimeout, kDialogPriority, 1);
    if (dialog < 0) return;
    w->words[LOGO_DIALOG] = uint64_t(int64_t(dialog));
    w->words[LOGO_DIALOG_KIND] = kind;
    GSL_InputPause(Word(w, LOGO_INPUT), 1);
}

// Decide, or a click on the current item: what the item stands for.
void MenuChoose(ScreenWork* w, int32_t item) {
    GSL_SystemSePlay(0);
    if (item == 1) MenuDialogOpen(w, 1, kQuestionText);
    else if (item == 2) MenuDialogOpen(w, 2, kNoticeText);
    else {
        w->words[LOGO_RETURNED] = 1;
        GSL_ModePush(GSL_ManualModeCB, 1);
    }
}

// The logo is its piece of the system sheet at twice its size, once loaded;
// the page number follows the cursor.
void LogoMenuStep(ScreenWork* w) {
    const int32_t sheet = GSL_WorkLayerGet(nullptr, 0);
    if (!w->words[LOGO_SHEET_CUT] && Lib_SpriteGetState(sheet) == 2) {
        LayoutRect r{};
        GSL_LayoutGetRect(&r, 0, kLogoPiece);
        const int32_t rect[4] = {r.x, r.y, r.width, r.height};
        Lib_SpriteSetRect(sheet, rect);
        SpriteRecord* s = Lib_SpriteAt(sheet);
        s->scaleX = s->scaleY = 2.0f;
        w->words[LOGO_SHEET_CUT] = 1;
    }
    const int32_t number = int32_t(int64_t(w->words[LOGO_NUMBER]));
    const int32_t shown = MenuCursor() + 1;
    if (int64_t(w->words[LOGO_SHOWN]) == shown) return;
    GSL_SystemNumSetValue(number, shown);
    if (NumberDisplayWork* n = GSL_SystemNumWork(number)) {
        n->second = kMenuItems;
        w->words[LOGO_SHOWN] = uint64_t(shown);
    }
}

void LogoWait(ScreenWork* w) {
    if (g_loading >= 0 && GSL_WorkLayersReady(nullptr)) {
        GSL_SystemLoadingDel(g_loading);
        g_loading = -1;
    }
    ThumbnailStep();
    if (!w) return;
    MenuItemsSet(w);
    LogoMenuStep(w);
    if (w->words[LOGO_RETURNED]) {
        // Back from the page, which left the screen black.
        w->words[LOGO_RETURNED] = 0;
        GSL_SystemDispColorSet(0x00000000u, kFadeFrames);
    }
    if (w->subState == 1) {
        // The page goes up once the wipe shows the logo's capture.
        const uint32_t status = GSL_SystemWipeStatus(g_wipe);
        if (status == WIPE_PREPARING) return;
        // The manual opens through its own wipe.
        GSL_SystemWipeDel(g_wipe);
        g_wipe = -1;
        w->subState = 0;
        w->words[LOGO_RETURNED] = 1;
        GSL_ModePush(GSL_ManualModeCB, 0);
        return;
    }
    if (MenuDialogStep(w)) return;
    if (w->subState == kWaitExtras) {
        if (!GSL_SystemDispColorCheck()) return;
        w->subState = 0;
        w->words[LOGO_RETURNED] = 1;
        GSL_ModePush(g_extras, 0);
        return;
    }
    if (InputButtons.pressed & (kButtonQ | kButtonW)) {
        // Where the title's load item and the in-game menu's save will be.
        w->words[LOGO_RETURNED] = 1;
        GSL_ModePush((InputButtons.pressed & kButtonQ) ? GSL_LoadModeCB : GSL_SaveModeCB, 0);
        return;
    }
    // D the gallery, Tab the music room, F3 the special-scenario menu.
    const ModeFunction extras = (InputButtons.pressed & kButtonD)     ? LogoExtrasScreen
                                : (InputButtons.pressed & kButtonTab) ? LogoMusicScreen
                                : (InputButtons.pressed & kButtonF3)  ? LogoSpecialScreen
                                                                      : nullptr;
    if (extras && SystemDataBlock.systemVars[15]) {
        g_extras = extras;
        GSL_SystemDispColorSet(0xFF000000u, kFadeFrames);
        w->subState = kWaitExtras;
        return;
    }
    if (InputButtons.pressed & kButtonE) {
        GSL_NewGameStart();
        return;
    }
    int32_t sheet[4] = {-1, 0, 0, 0};
    const bool clicked =
        GSL_ButtonCheck(nullptr, GSL_WorkLayerGet(nullptr, 0), sheet, 0, 0xFFFFFFFFu, kSheetHover, -1) == 1;
    int32_t own[4] = {-1, 0, 0, 0};
    const int32_t item = MenuCursor();
    const bool itemClicked = w->words[LOGO_ITEMS_SET] &&
                             GSL_SystemHitClick(0, GSL_WorkLayerGet(nullptr, kMenuLayer + uint32_t(item)), own, 0) == 1;
    if ((InputButtons.pressed & BUTTON_DECIDE) || itemClicked) {
        MenuChoose(w, item);
    } else if (clicked) {
        w->words[LOGO_RETURNED] = 1;
        GSL_ModePush(GSL_ManualModeCB, 1);
    } else if (InputButtons.pressed & kButtonS) {
        if (g_wipe >= 0) GSL_SystemWipeDel(g_wipe);
        g_wipe = GSL_SystemWipeSet("visual/wipe/wipe_000.ext", -1, kFadeFrames, kWipePriority, kCapturePriority, 0,
                                   WIPE_HOLD);
        w->subState = 1;
    } else if ((InputButtons.pressed & kButtonC) && g_thumbTask < 0 && g_thumbFrames == 0) {
        g_thumbTask = GSL_SystemSaveIcon0Set(kCapturePriority);
    } else if (InputButtons.pressed & kButtonA) {  // A: the options
        GSL_ModePush(GSL_OptionModeCB, 1);
    }
}

}  // namespace

ModeFunction LogoExtrasScreen = nullptr;
ModeFunction LogoMusicScreen = nullptr;
ModeFunction LogoSpecialScreen = nullptr;

namespace {
const Step kLogo[] = {LogoCreate, LogoWait};
}  // namespace

void GSL_LogoModeCB() { Run(kLogo, 2); }
