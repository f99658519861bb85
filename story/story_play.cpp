#include "story/save_store.h"
#include "story/story_play.h"

#include <cstring>

#include "engine/core/cache.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/render/camera.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_load.h"
#include "engine/text/text_object.h"
#include "script/script_host.h"
#include "script/script_state.h"
#include "script/script_task.h"
#include "script/staffroll.h"
#include "story/backlog.h"
#include "story/config.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "story/sys_menu.h"
#include "story/system_save.h"
#include "ui/color_pulse.h"
#include "ui/dialog_access.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/loading.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/utility_dialog.h"
#include "ui/widget.h"
#include "ui/widget_task.h"
#include "ui/wipe.h"

uint32_t StoryExitRequest = STORY_EXIT_NONE;
int32_t StoryStartMode = -1;
int32_t StoryCoverSprite = -1;


namespace {
constexpr char kFirstScript[] = "00_init.txt";
constexpr char kSheet0[] = "visual/system/sys_adv_00.ext";
constexpr char kSheet1[] = "visual/system/sys_adv_01.ext";
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr int32_t kWhiteHold = 120;
constexpr int32_t kFadeFrames = 30;
constexpr int32_t kSlideFrames = 8;
constexpr int32_t kHideFrames = 9;
// Keys (InputButtons bits) and the story's gesture buttons.
enum : uint32_t {
    KEY_X = 0x2, KEY_S = 0x4, KEY_C = 0x8, KEY_E = 0x400, KEY_AUTO = 0x40, KEY_SKIP = 0x80,
};

// Sub-states of the setup step: PRELOAD -> SHEET -> SCRIPT -> READY ->
// UNCOVER -> GUIDE, then the input step; after a start from white GUIDE ->
// WHITE_HOLD -> WHITE_FADE first.
enum : int32_t {
    SETUP_PRELOAD = 0,  // once the loading indicator shows, the sheets preload
    SETUP_SHEET = 1,
    SETUP_SCRIPT = 2,
    SETUP_READY = 3,    // until the script is ready; the fade to black
    SETUP_UNCOVER = 4,
    SETUP_GUIDE = 5,
    SETUP_WHITE_HOLD = 9999,
    SETUP_WHITE_FADE = 10000,
};

// Sub-states of the fade-out: START -> WAIT -> COUNT (ten frames).
enum : int32_t { FADE_OUT_START = 0, FADE_OUT_WAIT = 1, FADE_OUT_COUNT = 2 };

// The two sheet preloads (0 running, 1 done, -1 failed); static, as their
// tasks write them after the screen may have gone.
// process-wide: set by the story's preload (GSL_SystemLoadPrevSet) before it is read
int32_t g_preload[2] = {1, 1};

void Step(ScreenWork* w, int32_t step) {
    w->step = step;
    w->subState = SUBSTATE_ENTRY;
}

const DispColorWork* Overlay() {
    return reinterpret_cast<const DispColorWork*>(GSL_WidgetWorkGet(DispColorTask, GSL_SystemDispColorCB));
}
uint32_t OverlayTarget() { return Overlay() ? Overlay()->target : 0; }
uint32_t OverlayCurrent() { return Overlay() ? Overlay()->current : 0; }

int32_t ScriptStatus(const ScreenWork* w) {
    const int32_t s = GSL_ScriptStatusGet(w->tasks[0]);
    return s < 0 ? int32_t(SCRIPT_ENDED) : s;
}
void ScriptSuspend(const ScreenWork* w, uint8_t on) {
    const int32_t t = w->tasks[0];
    if (t >= 0 && t < kTaskSlots && TaskTable.slots[t]) TaskTable.slots[t]->suspended = on;
}

bool Key(uint32_t bits) { return (InputButtons.pressed & bits) != 0; }
bool Button(int32_t id, uint32_t normal = 0, uint32_t hover = 0) {
    int32_t rect[4] = {-1, 0, 0, 0};
    return GSL_ButtonCheck(GSL_StoryModeCB, id, rect, 0, normal, hover, -1) == 1;
}

bool Shown(const ScreenWork* w, int32_t layer) {
    const int32_t h = w->layers[layer].handle;
    return Lib_SpriteIsLive(h) && Lib_SpriteAt(h)->visible;
}
bool TextShown(const ScreenWork* w, int32_t slot) {
    const int32_t h = w->texts[slot].handle;
    return h >= 0 && h < kTextSlots && TextTable[h] && (TextTable[h]->state & TEXT_STATE_DRAWN);
}

void FreeSprite(int32_t* sprite) {
    Lib_SpriteFree(*sprite);
    *sprite = -1;
}

// --- load -------------------------------------------------------------------------

void Load(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) {
        GSL_ModePop();  // no room for a context: nothing can run
        return;
    }
    w->subState = SUBSTATE_ENTRY;
    for (uint32_t i : {STORY_LOADING, STORY_PENDING, STORY_ACTION, STORY_ICON, STORY_DIALOG, STORY_BADGE})
        GSL_WorkWordSet(w, i, -1);
    for (uint32_t i : {STORY_LAST_MODE, STORY_SHOW25, STORY_SHOW29, STORY_SHOW_TEXT1, STORY_SHOW31, STORY_SHOW40,
                       STORY_FLAGS, STORY_FRAMES})
        w->words[i] = 0;
    StoryPlayMode = 0;
    StoryExitRequest = STORY_EXIT_NONE;
    PreloadReleaseQuota = PreloadPending;
    GSL_WorkWordSet(w, STORY_LOADING, GSL_SystemLoadingSet(StoryStartMode < 0 ? 20 : 0, 1));
    if (StoryStartMode < 0) {
        Lib_SpriteFree(StoryCoverSprite);
        StoryCoverSprite = Lib_SpriteLoad(-1, nullptr, -1, 0);
        Lib_SpriteSetFlag(StoryCoverSprite, 1);
        Lib_SpriteSetPrio(StoryCoverSprite, 21, -1);
        Lib_SpriteSetColor(StoryCoverSprite, kBlack);
    }
    if (OverlayTarget() != 0) GSL_SystemDispColorSet(0, StoryStartMode < 0 ? kFadeFrames : 0);
    Lib_FrameRateSet(60);
    Step(w, STORY_STEP_SETUP);
    if (StoryStartMode < 0 && (OverlayCurrent() & 0xFFFFFFu) == 0xFFFFFFu) {
        if (OverlayTarget() != kWhite) GSL_SystemDispColorSet(kWhite, 0);
        StoryStartMode = -2;
    }
}

// --- setup ------------------------------------------------------------------------

void StartScript(ScreenWork* w) {
    if (!GameStateBlock.scriptName[0]) {
        static_assert(sizeof kFirstScript <= sizeof GameStateBlock.scriptName);
        std::memcpy(GameStateBlock.scriptName, kFirstScript, sizeof kFirstScript);
        GameStateBlock.startOffset = GameStateBlock.restartOffset = 0;
    }
    GSL_WorkTaskEnd(nullptr, 0);
    w->tasks[0] = GSL_ScriptTaskSet();
}

void Setup(ScreenWork* w) {
    switch (w->subState) {
        case SETUP_PRELOAD:
            if (!GSL_SystemLoadingCheck(GSL_WorkWord(w, STORY_LOADING)) || !GSL_SystemLoadPrevCheck()) return;
            GSL_SystemLoadPrevSet(kSheet0, 256, 4, &g_preload[0]);
            GSL_SystemLoadPrevSet(kSheet1, 256, 4, &g_preload[1]);
            w->subState = SETUP_SHEET;
            return;
        case SETUP_SHEET:
            // The sheet is a hidden layer: it loads while the overlay still
            // fades, so that the script can start on the fade's last frame.
            if (g_preload[0] == 0 || g_preload[1] == 0) return;
            GSL_WorkLayerFree(nullptr, 31);
            GSL_WorkLayerFile(nullptr, 31, kSheet0, LAYER_CACHED);
            w->subState = SETUP_SCRIPT;
            [[fallthrough]];
        case SETUP_SCRIPT: {
            if (!GSL_SystemDispColorCheck() || !GSL_WorkLayersReady(nullptr)) return;
            LayoutRect r{};
            GSL_LayoutGetRect(&r, 5, 10);
            const int32_t rect[4] = {r.x, r.y, r.width, r.height};
            Lib_SpriteSetRect(GSL_WorkLayerGet(nullptr, 31), rect);
            GSL_ConfigApply(true);
            StartScript(w);
            w->subState = SETUP_READY;
            return;
        }
        case SETUP_READY:
            if (!(uint32_t(ScriptStatus(w)) & (SCRIPT_READY | SCRIPT_ENDED | 0x40u))) return;
            ScriptSuspend(w, 1);
            if (StoryStartMode == -1) GSL_SystemDispColorSet(kBlack, kFadeFrames);
            w->subState = SETUP_UNCOVER;
            return;
        case SETUP_UNCOVER:
            if (!GSL_SystemDispColorCheck()) return;
            GSL_SystemLoadingDel(GSL_WorkWord(w, STORY_LOADING));
            GSL_WorkWordSet(w, STORY_LOADING, -1);
            FreeSprite(&StoryCoverSprite);
            if (StoryStartMode == -1) GSL_SystemDispColorSet(0, kFadeFrames);
            w->subState = SETUP_GUIDE;
            return;
        case SETUP_GUIDE:
            if (!GSL_SystemDispColorCheck()) return;
            ScriptSuspend(w, 0);
            GSL_StoryGuideStart();
            if (StoryStartMode == -2) {
                StoryStartMode = kWhiteHold;
                w->subState = SETUP_WHITE_HOLD;
            } else {
                Step(w, STORY_STEP_INPUT);
                StoryStartMode = -1;
            }
            return;
        case SETUP_WHITE_HOLD:
            if (StoryStartMode > 0) {
                --StoryStartMode;
                return;
            }
            if (!GSL_SystemDispColorCheck()) return;
            if (OverlayCurrent() >= kWhite && OverlayTarget() != 0x00FFFFFFu)
                GSL_SystemDispColorSet(0x00FFFFFFu, kFadeFrames);
            w->subState = SETUP_WHITE_FADE;
            return;
        default:  // SETUP_WHITE_FADE
            if (!GSL_SystemDispColorCheck()) return;
            if (OverlayTarget() != 0) GSL_SystemDispColorSet(0, 0);
            Step(w, STORY_STEP_INPUT);
            StoryStartMode = -1;
            return;
    }
}

// --- input ------------------------------------------------------------------------

void Request(ScreenWork* w, uint32_t flag, int32_t action) {
    w->words[STORY_FLAGS] |= flag;
    GSL_WorkWordSet(w, STORY_ACTION, action);
    Step(w, STORY_STEP_ACTION);
}

void Input(ScreenWork* w) {
    GSL_StoryIconUpdate();
    if (StoryExitRequest == STORY_EXIT_RELOAD) {
        const uint32_t count = GameStateBlock.readLineCount;
        StoryStartMode = count > 0 ? int32_t(count - 1) : 0;
        Lib_SpriteFree(StoryCoverSprite);
        StoryCoverSprite = Lib_SpriteCreateCapture(0, 0, 0);
        Lib_SpriteSetFlag(StoryCoverSprite, 1);
        Lib_SpriteSetPrio(StoryCoverSprite, 1, -1);
        Request(w, STORY_FLAG_MENU, STORY_ACT_RELOAD);
        return;
    }
    const uint32_t status = uint32_t(ScriptStatus(w));
    if (status == SCRIPT_ENDED || StoryExitRequest != STORY_EXIT_NONE) {
        Step(w, STORY_STEP_FADE_OUT);
        return;
    }
    const bool roll = GSL_StaffrollIsActive();
    if ((Key(KEY_X | KEY_S | KEY_C | KEY_E) || Button(BUTTON_SCREEN_PRESS)) && (StoryPlayMode & (PLAY_SKIP | PLAY_AUTO)) && !roll) {
        StoryPlayMode = 0;  // the same press does nothing else
        return;
    }
    if ((Key(KEY_SKIP) || Button(BUTTON_BOX_RIGHT)) && !roll) {
        StoryPlayMode ^= PLAY_SKIP;
        return;
    }
    if ((Key(KEY_AUTO) || Button(BUTTON_BOX_LEFT)) && !roll) {
        StoryPlayMode ^= PLAY_AUTO;
        if (StoryPlayMode & PLAY_AUTO) GSL_SysVoicePlay(0, 16, -1.0f);
        return;
    }
    if (!(status & SCRIPT_PLAYER_WAIT)) return;
    if ((Key(KEY_X) || Button(BUTTON_DRAG_DOWN, 0xFFF0F0F0u, 0xFFFFFFFFu)) && !roll) {
        if (w->words[STORY_FLAGS] & STORY_FLAG_NO_HIDE) return;
        GSL_StoryGuideDel();
        Request(w, STORY_FLAG_HIDE, STORY_ACT_HIDE);
        return;
    }
    if (Key(KEY_S) || Button(BUTTON_MIDDLE)) {
        if (GSL_StoryTestFlagRef())
            Request(w, STORY_FLAG_BACKLOG, STORY_ACT_BACKLOG);
        else
            GSL_SystemSePlay(SE_ERROR);
        return;
    }
    if (Key(KEY_C) || Button(BUTTON_DRAG_LEFT, 0xFFF0F0F0u, 0xFFFFFFFFu)) {
        StoryPlayMode = 0;
        GSL_StoryIconUpdate();
        Request(w, STORY_FLAG_MENU, STORY_ACT_MENU);
        return;
    }
    if ((Key(KEY_E) || Button(BUTTON_DRAG_RIGHT)) && !roll) {
        if (GameStateBlock.stage.choiceLine >= 0) {
            Request(w, STORY_FLAG_MENU, STORY_ACT_CHOICE);
            return;
        }
        GSL_SystemSePlay(SE_ERROR);
        // The release that follows must not click.
        const PointerPoint at =
            MouseInput.clickPhase == 2 ? PointerPoint{MouseInput.x, MouseInput.y} : PointerPoint{0, 0};
        PointerGesture.press = PointerGesture.current = PointerGesture.previous = at;
        PointerGesture.clickAllowed = 0;
    }
}

// --- actions ----------------------------------------------------------------------

void ShowAsRecorded(const ScreenWork* w, uint8_t window) {
    GSL_StorySetWindowVisible(window, 1, uint8_t(w->words[STORY_SHOW29]), uint8_t(w->words[STORY_SHOW_TEXT1]));
}

void ActionEnter(ScreenWork* w) {
    const int32_t action = GSL_WorkWord(w, STORY_ACTION);
    w->words[STORY_SHOW25] = Shown(w, 25);
    w->words[STORY_SHOW29] = Shown(w, 29);
    w->words[STORY_SHOW_TEXT1] = TextShown(w, 1);
    w->words[STORY_SHOW40] = Shown(w, 40);
    if (action == STORY_ACT_HIDE && !(w->words[STORY_SHOW25] || w->words[STORY_SHOW29] || w->words[STORY_SHOW_TEXT1] ||
                                w->words[STORY_SHOW40])) {
        w->words[STORY_FLAGS] &= STORY_FLAG_NO_HIDE;
        GSL_WorkWordSet(w, STORY_ACTION, STORY_ACT_NONE);
        Step(w, STORY_STEP_INPUT);
        return;
    }
    if (action != STORY_ACT_HIDE) GSL_SystemSePlay(SE_ENTER);
    ScriptSuspend(w, 1);
    if (action != STORY_ACT_MENU) {
        if (action != STORY_ACT_BACKLOG) GSL_StorySetWindowVisible(0, 0, 0, 0);
        GSL_StoryIconUpdate();
    }
    if (action == STORY_ACT_HIDE) {
        GSL_SystemTaskPause(1, 1);
        ShowAsRecorded(w, 1);
        GSL_StorySlideWindow(-720, kSlideFrames, 2);
    }
    GSL_StoryReleaseChannels(1);
    if (Lib_MoviePlayerState() == PLAYER_STARTED) Lib_MoviePause();
    StoryPausedFlag = 1;
    w->words[STORY_FRAMES] = 0;
    w->subState = action;
    if (action == STORY_ACT_MENU) {
        GSL_SystemSaveIcon0Set(kStoryCapturePriority);
        FreeSprite(&StoryCaptureSprite);
        w->subState = STORY_ACT_MENU_CAPTURE;
    } else if (action == STORY_ACT_BACKLOG) {
        GSL_StoryHoldPictStart();
    }
}

bool CountFrames(ScreenWork* w, int32_t n) {
    if (int32_t(++w->words[STORY_FRAMES]) < n) return false;
    w->words[STORY_FRAMES] = 0;
    return true;
}

void MakeBadge(ScreenWork* w) {
    const int32_t badge = Lib_SpriteCopy(-1, w->layers[31].handle);
    GSL_WorkWordSet(w, STORY_BADGE, badge);
    SpriteRecord* s = Lib_SpriteAt(badge);
    if (!s || !Lib_SpriteIsLive(badge)) return;
    LayoutRect r{};
    GSL_LayoutGetRect(&r, 5, 24);
    const int32_t rect[4] = {r.x, r.y, r.width, r.height};
    Lib_SpriteSetRect(badge, rect);
    s->posX = -581.0f;
    s->posY = 317.0f;
    s->posZ = 0.0f;
    s->scaleX = s->scaleY = s->scaleZ = 1.0f;
    Lib_SpriteSetColor(badge, 0x60FFFFFFu);
    Lib_SpriteSetPrio(badge, 400, -1);
    s->clipRect[0] = s->clipRect[1] = 0;
    s->clipRect[2] = 1280;
    s->clipRect[3] = 720;
    s->visible = 1;
}

void ActionReturn(ScreenWork* w) {
    StoryHoldPictDel();
    if (StoryExitRequest == STORY_EXIT_NONE) {
        ScriptSuspend(w, 0);
        FreeSprite(&StoryCaptureSprite);
        GSL_StorySetWindowVisible(uint8_t(w->words[STORY_SHOW25]), 1, uint8_t(w->words[STORY_SHOW29]),
                                  uint8_t(w->words[STORY_SHOW_TEXT1]));
    }
    GSL_StoryIconUpdate();
    GSL_StoryReleaseChannels(0);
    if (Lib_MoviePlayerState() == PLAYER_PAUSED) Lib_MovieResume();
    StoryPausedFlag = 0;
    w->words[STORY_FLAGS] &= STORY_FLAG_NO_HIDE;
    for (uint32_t i : {STORY_SHOW25, STORY_SHOW29, STORY_SHOW_TEXT1, STORY_SHOW31, STORY_SHOW40}) w->words[i] = 0;
    GSL_WorkWordSet(w, STORY_PENDING, STORY_ACT_NONE);
    GSL_WorkWordSet(w, STORY_ACTION, STORY_ACT_NONE);
    Step(w, STORY_STEP_INPUT);
}

void Action(ScreenWork* w) {
    switch (w->subState) {
        case SUBSTATE_ENTRY: ActionEnter(w); return;
        case STORY_ACT_MENU_CAPTURE:
            if (StoryCaptureSprite < 0) return;
            w->subState = STORY_ACT_MENU;
            GSL_StoryHoldPictStart();
            return;
        case STORY_ACT_HIDE:
            if (!CountFrames(w, kHideFrames)) return;
            GSL_StorySetWindowVisible(0, 0, 0, 0);
            GSL_StorySlideWindow(720, 0, 0);
            MakeBadge(w);
            w->subState = STORY_ACT_HIDDEN;
            return;
        case STORY_ACT_HIDDEN:
            Lib_SpriteSetFlag(GSL_WorkWord(w, STORY_BADGE), 1);
            if (!(Key(KEY_X) || Button(BUTTON_DRAG_UP))) return;
            GSL_StorySlideWindow(-720, 0, 0);
            ShowAsRecorded(w, 1);
            GSL_StorySlideWindow(720, kSlideFrames, 2);
            w->words[STORY_FRAMES] = 0;
            w->subState = STORY_ACT_UNHIDE;
            return;
        case STORY_ACT_UNHIDE: {
            if (!CountFrames(w, kHideFrames)) return;
            int32_t badge = GSL_WorkWord(w, STORY_BADGE);
            FreeSprite(&badge);
            GSL_WorkWordSet(w, STORY_BADGE, -1);
            GSL_SystemTaskPause(0, 1);
            w->subState = STORY_ACT_RETURN;
            return;
        }
        case STORY_ACT_BACKLOG:
            w->subState = STORY_ACT_RETURN;
            GSL_ModePush(GSL_BacklogModeCB, 1);
            return;
        case STORY_ACT_MENU:
            w->subState = STORY_ACT_RETURN;
            GSL_ModePush(GSL_SysMenuModeCB, 1);
            return;
        case STORY_ACT_CHOICE: {
            const char* text = GSL_SysTextGet(nullptr, 2, 5, 0, nullptr, 0);
            const int32_t d = Lib_DialogAsk(text);
            GSL_WorkWordSet(w, STORY_DIALOG, d);
            GSL_SystemDialogFixCam(d);
            GSL_SystemDialogTextEnd(d);
            w->subState = STORY_ACT_CHOICE_READY;
            return;
        }
        case STORY_ACT_CHOICE_READY:
            w->subState = STORY_ACT_CHOICE_ANSWER;
            [[fallthrough]];
        case STORY_ACT_CHOICE_ANSWER: {
            const int32_t d = GSL_WorkWord(w, STORY_DIALOG);
            const int32_t answer = GSL_SystemDialogGet(d);
            if (answer < 0 && GSL_SystemDialogIsReady(d) >= 0) return;
            GSL_SystemDialogDel(d);
            GSL_WorkWordSet(w, STORY_DIALOG, -1);
            if (answer == 1) {
                if (GSL_StoryRestoreHistory(GameStateBlock.stage.choiceLine, nullptr))
                    StoryExitRequest = STORY_EXIT_RESTART;
                else
                    GSL_SystemSePlay(SE_ERROR);
            }
            w->subState = STORY_ACT_RETURN;
            return;
        }
        case STORY_ACT_RELOAD:
            if (Lib_SpriteGetState(StoryCoverSprite) == 0) return;
            // Nothing read yet restarts the script from its start.
            GSL_StoryRestoreHistory(StoryStartMode, nullptr);
            StoryExitRequest = STORY_EXIT_RESTART;
            w->subState = STORY_ACT_RETURN;
            return;
        default: ActionReturn(w); return;  // STORY_ACT_RETURN
    }
}

// --- fade-out and exit ------------------------------------------------------------

void FadeOut(ScreenWork* w) {
    switch (w->subState) {
        case FADE_OUT_START:
            if (StoryStartMode < 0 && OverlayTarget() != kBlack) GSL_SystemDispColorSet(kBlack, 60);
            w->subState = FADE_OUT_WAIT;
            return;
        case FADE_OUT_WAIT:
            if (!GSL_SystemDispColorCheck()) return;
            Lib_TaskBreakAll();
            w->subState = FADE_OUT_COUNT;
            w->words[STORY_FRAMES] = 0;
            return;
        default:  // FADE_OUT_COUNT
            if (CountFrames(w, 10)) Step(w, STORY_STEP_EXIT);
            return;
    }
}

void Exit(ScreenWork*) {
    Lib_FrameRateSet(60);
    Lib_CameraReset(&ActiveCamera);
    Lib_CameraUpdate(&ActiveCamera);
    if (MovieSpriteSlot.load() >= 0) MovieState.store(1);
    StoryPausedFlag = 0;
    FreeSprite(&StoryCaptureSprite);
    GSL_StoryIconClose();
    GSL_StoryGuideDel();
    GSL_WorkDelete(nullptr);
    if (GSL_SystemLoadPrevCheck() && !GSL_SystemCacheKeeps(Lib_MemHeapLargestFree(&HeapTable.heaps[HEAP_CACHE])))
        Lib_CashFreeGroup(4);
    GSL_ModePop();
    const bool special = SpecialScenarioFlag != 0;
    if (special) {
        const uint32_t request = StoryExitRequest;
        StoryExitRequest = STORY_EXIT_SPECIAL;
        if (request == STORY_EXIT_RESTART) GSL_ModeAppend(GSL_StoryModeCB);
        return;
    }
    if (StoryExitRequest == STORY_EXIT_QUICK_LOAD) {
        // The quick save's state, checked as a load is, counted from now.
        std::memcpy(static_cast<void*>(&GameStateBlock), &QuickDataCache, sizeof GameStateBlock);
        GSL_GameStateCheck(&GameStateBlock);
        Lib_SaveRecordLoad(kSaveQuickSlot);
        PlayTimeBase = GSL_PlayTimeNow();
        StoryExitRequest = STORY_EXIT_RESTART;
    }
    if (StoryExitRequest == STORY_EXIT_RESTART) {
        GSL_WorkDeleteAll();
        GSL_ModeAppend(GSL_ScreenOf(SCREEN_TITLE));
        GSL_ModeAppend(GSL_StoryModeCB);
        return;
    }
    GSL_ModeAppend(GSL_SystemSaveModeCB);
}
}  // namespace

void GSL_StoryModeCB() {
    using StepFn = void (*)(ScreenWork*);
    static const StepFn kSteps[] = {Load, Setup, Input, Action, FadeOut, Exit};
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : 0;
    if (step >= 0 && step < int32_t(sizeof kSteps / sizeof kSteps[0])) kSteps[step](w);
}
