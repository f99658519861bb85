// The load screen: the slot list; a confirmed valid slot is loaded into the
// game state, and the story starts from it above a fresh title. Anything
// short of a clean load puts the game state back as it was.
#include <cstring>

#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/movie/movie.h"
#include "engine/render/camera.h"
#include "engine/render/sprite.h"
#include "screens/slot_list.h"
#include "screens/system_screens.h"
#include "story/config.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "ui/engine_services.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"
#include "ui/widget.h"

namespace {
GameState* Backup(const ScreenWork* w) {
    return reinterpret_cast<GameState*>(uintptr_t(w->words[SLOT_WORD_BUFFER]));
}

// Without a backup a failed load could not be undone: none is started.
bool HasBackup(const ScreenWork* w) { return Backup(w) != nullptr; }

const SlotScreen kLoad{GSL_LoadModeCB, "visual/system/sys_load_bg.ext", 2, true, 18, 18, HasBackup};

// The load screen's last step, after the fade-out (SLOT_STEP_LEAVE).
constexpr int32_t kLoadStepEnd = SLOT_STEP_LEAVE + 1;
// Its own sub-state of the main step: after a load, until the loaded
// configuration's font is ready.
constexpr int32_t kLoadFontWait = 100;
// Sub-states of the fade-out: FADE -> WAIT -> COUNT (ten frames).
enum : int32_t { LOAD_OUT_FADE = 0, LOAD_OUT_WAIT = 1, LOAD_OUT_COUNT = 2 };

void LoadInit(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    SlotScreenOpen(w, kLoad);
    GSL_WorkWordSet(w, SLOT_WORD_RESULT, -1);
    GSL_WorkWordSet(w, SLOT_WORD_RESTORE, -1);
    GSL_WorkWordSet(w, SLOT_WORD_COUNTER, 0);
    void* backup = Lib_MemAlloc(HEAP_SCREEN, sizeof(GameState), 16);
    for (int heap = 0; !backup && heap < HEAP_COUNT; ++heap)
        if (HeapTable.live[heap]) backup = Lib_MemHeapAlloc(&HeapTable.heaps[heap], sizeof(GameState), 16, true);
    if (backup) std::memcpy(backup, &GameStateBlock, sizeof(GameState));
    w->words[SLOT_WORD_BUFFER] = uint64_t(uintptr_t(backup));
    w->step = SLOT_STEP_BUILD;
}

void LoadBuild(ScreenWork* w) { SlotScreenBuild(w, kLoad); }

void LoadStart(ScreenWork* w) {
    GSL_GameStateInit();
    SaveRequest request;
    GSL_GameSlotRequestBuild(&request);
    GSL_WorkWordSet(w, SLOT_WORD_TASK, Lib_SaveTaskSet(SAVE_TASK_LOAD, &request, GSL_WorkWord(w, SLOT_WORD_TARGET)));
    w->subState = SLOT_MAIN_ACT_WAIT;
}

void LoadWait(ScreenWork* w) {
    // The task finishes the same for an empty or damaged slot: the code tells.
    SaveTaskCode code = SAVE_CODE_NO_TASK;
    if (!SlotTaskFinished(w, &code)) return;
    const bool loaded = code == SAVE_CODE_OK;
    GSL_WorkWordSet(w, SLOT_WORD_RESULT, loaded ? 1 : 0);
    if (loaded) GSL_GameStateCheck(&GameStateBlock);
    else GSL_WorkWordSet(w, SLOT_WORD_RESTORE, 0);
    w->subState = SUBSTATE_CLOSE;
}

void LoadMain(ScreenWork* w) {
    if (SlotScreenMain(w, kLoad)) return;
    switch (w->subState) {
        case SLOT_MAIN_ACT: LoadStart(w); return;
        case SLOT_MAIN_ACT_WAIT: LoadWait(w); return;
        case SUBSTATE_CLOSE: {
            GSL_WorkLayerFree(nullptr, SLOT_LAYER_DIM);
            if (GSL_WorkWord(w, SLOT_WORD_RESTORE) == 0 && Backup(w))
                std::memcpy(&GameStateBlock, Backup(w), sizeof(GameState));
            w->subState = kLoadFontWait;
            return;
        }
        case kLoadFontWait:
            if (!GSL_ConfigFontWait()) return;
            w->step = SLOT_STEP_LEAVE;
            w->subState = LOAD_OUT_FADE;
            return;
        default: return;
    }
}

void LoadFadeOut(ScreenWork* w) {
    switch (w->subState) {
        case LOAD_OUT_FADE:
            GSL_SystemDispColorSet(0xFF000000u, 16);
            w->subState = LOAD_OUT_WAIT;
            return;
        case LOAD_OUT_WAIT:
            if (!GSL_SystemDispColorCheck()) return;
            if (GSL_WorkWord(w, SLOT_WORD_RESULT) == 1) {
                Lib_TaskBreakAll();
                GSL_WorkWordSet(w, SLOT_WORD_COUNTER, 0);
            } else {
                GSL_WorkWordSet(w, SLOT_WORD_COUNTER, 10);
            }
            w->subState = LOAD_OUT_COUNT;
            return;
        default: {  // LOAD_OUT_COUNT
            const int32_t counter = GSL_WorkWord(w, SLOT_WORD_COUNTER) + 1;
            GSL_WorkWordSet(w, SLOT_WORD_COUNTER, counter);
            if (counter < 10) return;
            GSL_WorkWordSet(w, SLOT_WORD_COUNTER, 0);
            w->step = kLoadStepEnd;
            w->subState = SUBSTATE_ENTRY;
            return;
        }
    }
}

void LoadEnd(ScreenWork* w) {
    const bool loaded = GSL_WorkWord(w, SLOT_WORD_RESULT) == 1;
    void* backup = Backup(w);
    GSL_WorkWordSet(w, SLOT_WORD_BUFFER, 0);
    SlotScreenTeardown(w);  // w is gone from here on
    Lib_MemFree(HEAP_SCREEN, backup);
    if (!loaded) return;
    Lib_CameraReset(&ActiveCamera);
    Lib_CameraUpdate(&ActiveCamera);
    StoryHoldPictDel();
    if (MovieSpriteSlot.load() >= 0) MovieState.store(1);
    Lib_SpriteFree(StoryCaptureSprite);
    StoryCaptureSprite = -1;
    // The story screen that paused the frame clock for its menu is gone
    // without its own ending: the loaded story's clock runs from here.
    StoryPausedFlag = 0;
    GSL_SystemLoadPrevCheck();
    GSL_WorkDeleteAll();
    GSL_ModeAppend(GSL_TitleModeCB);
    GSL_ModeAppend(GSL_StoryModeCB);
}

using Step = void (*)(ScreenWork*);
const Step kSteps[] = {LoadInit, LoadBuild, LoadMain, LoadFadeOut, LoadEnd};
}  // namespace

void GSL_LoadModeCB() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    const int32_t step = w ? w->step : 0;
    if (step >= 0 && step < int32_t(sizeof kSteps / sizeof kSteps[0])) kSteps[step](w);
}
