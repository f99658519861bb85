// The title screen: the opening movie in the interface language, the title
// picture with its version label through a white flash, the title music and
// call, then the menu (title_menu.cpp) until the player starts or continues
// the story. Left idle for 60 seconds on one item it starts again with the
// movie.
#include <cstdio>

#include "engine/core/engine_state.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "platform/plat_vm.h"
#include "script/args.h"
#include "screens/title.h"
#include "screens/title_work.h"
#include "story/game_state.h"
#include "story/quick_save.h"
#include "story/save_store.h"
#include "story/story_screen.h"
#include "ui/loading.h"
#include "ui/color_pulse.h"
#include "ui/move_alpha.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/system_sound.h"
#include "ui/widget.h"
#include "ui/wipe.h"

namespace {
constexpr uint32_t kKeyE = 0x400;
constexpr uint32_t kSkipButtons = BUTTON_DECIDE | kKeyE;
constexpr uint32_t kIdleUs = 60000000u;
constexpr int32_t kMoviePriority = 9;
const char* const kMovies[4] = {"movie1", "movie1_en", "movie1_cn", "movie1_tw"};
constexpr const char* kTitleMusic = "sound/bgm/Quillmere.oggl";

bool ClickAnywhere() {
    int32_t rect[4] = {-1, 0, 0, 0};
    return GSL_ButtonCheck(nullptr, -1, rect, 0, 0, 0, -1) == 1;
}

// The channel of a sound slot is idle: not in use, or in state 0.
int32_t ChannelState(uint32_t slot) {
    const uint32_t channel = uint32_t(GSL_WorkSoundGet(nullptr, slot));
    if (channel >= uint32_t(kSoundChannels)) return -1;
    if (!(SoundChannelTable[channel].st.flags.load(std::memory_order_acquire) & SOUND_IN_USE)) return -1;
    return SoundChannelTable[channel].st.state.load(std::memory_order_acquire);
}

void VersionLabelShow() {
    char label[96];
    GSL_TitleVersionLabel(label, sizeof label);
    const int32_t t = GSL_WorkTextSet(nullptr, 0, -1, label);
    if (t < 0 || !TextTable[t]) return;
    Lib_TextPrioSet(t, 599);
    const TextPos pos{2, -710, 0};
    Lib_TextPosSet(t, &pos);
    const TextScale scale{0.25f, 0.25f};
    Lib_TextScaleSet(t, &scale);
    Lib_TextRgbaSet(t, 0xFF000000u);
    TextTable[t]->colour = 0xFFFFFFFFu;
    TextTable[t]->state |= TEXT_STATE_DRAWN;
}

void LayerPlace(uint32_t slot, int32_t priority, int32_t sub) {
    const int32_t h = GSL_WorkLayerGet(nullptr, slot);
    Lib_SpriteSetFlag(h, 1);
    Lib_SpriteSetPrio(h, priority, sub);
}

// Layer 0 in the screen's corner: its drawn size from the source rectangle
// (or the picture) times its scale, halves truncated.
void CornerPlace() {
    const int32_t h = GSL_WorkLayerGet(nullptr, 0);
    LayerPlace(0, 399, -1);
    SpriteRecord* r = Lib_SpriteAt(h);
    if (!r) return;
    const bool rect = r->srcRect[0] != -9999 && r->srcRect[2] > 0 && r->srcRect[3] > 0;
    const int32_t w = int32_t(float(rect ? r->srcRect[2] : r->textureWidth) * r->scaleX);
    const int32_t hh = int32_t(float(rect ? r->srcRect[3] : r->textureHeight) * r->scaleY);
    r->posX = float((1280 - w) / 2);
    r->posY = float(-((720 - hh) / 2));
    r->posZ = 0.0f;
}

void LoadStep(ScreenWork* w) {
    TitleHead* h = GSL_TitleHead(w);
    switch (w->subState) {
    case TITLE_LOAD_START:
        if (TitleFlags & TITLE_MOVIE_NEXT) {
            char path[64];
            std::snprintf(path, sizeof path, "movie/%s%s", kMovies[TitleLanguage()], ".avi");
            Lib_MoviePlay(path, kMoviePriority);
            TitleFlags = uint8_t(TitleFlags & ~TITLE_MOVIE_NEXT);
            w->subState = TITLE_LOAD_MOVIE_WAIT;
        } else {
            w->subState = TITLE_LOAD_PICTURES;
        }
        break;
    case TITLE_LOAD_MOVIE_WAIT:
        if (MovieSpriteSlot.load() >= 0 && MovieState.load() == MOVIE_PLAYING) w->subState = TITLE_LOAD_MOVIE;
        break;
    case TITLE_LOAD_MOVIE: {
        if (!Lib_MovieActive() || MovieState.load() == MOVIE_IDLE) {
            w->subState = TITLE_LOAD_PICTURES;
            break;
        }
        // A movie that could not be opened plays nothing and never ends by
        // itself: it ends here, as a skip would end it.
        if (MovieState.load() == MOVIE_PLAYING && Lib_MoviePlayerState() == PLAYER_CLOSED) {
            MovieState.store(MOVIE_STOP_REQUESTED);
            break;
        }
        const bool skip = (InputButtons.pressed & kSkipButtons) || ClickAnywhere();
        if (!skip || h->move != -1 || !(TitleFlags & TITLE_MOVIE_SKIPPABLE)) break;
        const int32_t sprite = MovieSpriteSlot.load();
        if (SpriteRecord* r = Lib_SpriteAt(sprite)) {
            r->scaleX = 0.8f;
            r->scaleY = 1.0f;
        }
        const float goal[3] = {2.0f, 0.0f, 0.0f};
        h->move = GSL_SystemMoveSet(sprite, -1, goal, 8, -1, 0, MOVE_POSITION, 3);
        w->subState = TITLE_LOAD_SKIP;
        break;
    }
    case TITLE_LOAD_SKIP: {
        const int32_t move = h->move;
        if (GSL_SystemMoveCheck(move) == 0) break;
        GSL_SystemMoveDel(move);
        h->move = -2;
        if (Lib_MovieActive()) MovieState.store(MOVIE_STOP_REQUESTED);
        w->subState = TITLE_LOAD_MOVIE;
        break;
    }
    case TITLE_LOAD_PICTURES:
        h->loading = GSL_SystemLoadingSet(20, 1);
        w->subState = TITLE_LOAD_LOAD;
        break;
    case TITLE_LOAD_LOAD:
        if (!GSL_SystemLoadingCheck(h->loading)) break;
        GSL_SystemLoadPrevSet("visual/thumb/thumb.arc", 256, 0, nullptr);
        GSL_SystemLoadPrevSet("visual/thumb/thumb2.arc", 256, 2, nullptr);
        for (const uint32_t slot : {0u, 1u, 15u, 16u}) GSL_WorkLayerFree(nullptr, int32_t(slot));
        GSL_WorkLayerFile(nullptr, 0, "visual/system/sys_system_02.ext", LAYER_CACHED);
        GSL_WorkLayerFile(nullptr, 1, "visual/system/sys_title_00.ext", LAYER_OWN);
        GSL_WorkLayerFile(nullptr, 15, "visual/system/sys_title_01.ext", LAYER_OWN);
        GSL_WorkLayerFile(nullptr, 16, "visual/system/sys_system_05.ext", LAYER_CACHED);
        GSL_SystemDispColorSet(0x00000000u, 60);
        w->subState = TITLE_LOAD_FLASH;
        break;
    case TITLE_LOAD_FLASH:
        if (!GSL_SystemDispColorCheck() || !GSL_WorkLayersReady(nullptr)) break;
        GSL_SystemDispColorSet(0xFFFFFFFFu, 60);
        w->subState = TITLE_LOAD_SHOW;
        break;
    case TITLE_LOAD_SHOW: {
        if (!GSL_SystemDispColorCheck()) break;
        GSL_SystemLoadingDel(h->loading);
        h->loading = -1;
        LayerPlace(15, 600, 6);
        const int32_t picture[4] = {0, 0, 1280, 720};
        Lib_SpriteSetRect(GSL_WorkLayerGet(nullptr, 15), picture);
        LayerPlace(16, 600, 5);
        if (SpriteRecord* r = Lib_SpriteAt(GSL_WorkLayerGet(nullptr, 16))) {
            r->posX = GSL_Scale43f(302.0f, 9999.0f);
            r->posY = GSL_Scale43f(-196.0f, 9999.0f);
            r->posZ = 0.0f;
        }
        VersionLabelShow();
        GSL_WorkSoundSet(nullptr, 0, {.file = kTitleMusic, .releaseFade = 60});
        GSL_SystemDispColorSet(0x00FFFFFFu, 60);
        w->subState = TITLE_LOAD_SETTLE;
        break;
    }
    case TITLE_LOAD_SETTLE:
        w->subState = TITLE_LOAD_MENU;
        break;
    case TITLE_LOAD_MENU:
        CornerPlace();
        GSL_TitleDrawMenu(0, nullptr, -1);
        GSL_SystemDispColorSet(0x00000000u, 60);
        w->subState = TITLE_LOAD_CALL;
        break;
    case TITLE_LOAD_CALL: {
        const int32_t music = ChannelState(0);
        if (music > 0 && music != SOUND_PLAYING) break;
        if (!GSL_SystemDispColorCheck()) break;
        GSL_SysVoicePlay(0, 2, 100.0f);
        w->subState = TITLE_LOAD_CALL_WAIT;
        break;
    }
    case TITLE_LOAD_CALL_WAIT:
        if (!GSL_SysVoiceIsDone(false)) break;
        // What came before the menu (the logos, the movie, the story left)
        // is over: the pages its freed buffers held go back.
        Plat_MallocTrim();
        GSL_InputPause(h->input, 0);
        w->subState = SUBSTATE_ENTRY;
        w->step = TITLE_STEP_INPUT;
        break;
    default:
        break;
    }
}

// The quick-save panel beside "continue"; true while its delete question
// holds the input.
bool PanelStep(ScreenWork* w, int32_t cursor) {
    TitleHead* h = GSL_TitleHead(w);
    const int32_t input = h->input;
    const int32_t panel = ShowQuickGDState();
    if (panel >= 0) ShowQuickGDInputSet(input);
    if (panel >= QUICK_PANEL_ASK) {
        h->flags |= TITLE_BIT_PANEL;
        return true;
    }
    if (h->flags & TITLE_BIT_PANEL) {
        h->flags &= ~TITLE_BIT_PANEL;
        if (TitleSubMenuOpen || !QuickDataPresent) GSL_TitleDrawMenu(1, nullptr, -1);
    }
    if (cursor == TITLE_ITEM_CONTINUE) {
        float x = -288.0f, y = 0.0f;
        const int32_t item = TitleItemSprite(TITLE_ITEM_CONTINUE);
        if (const SpriteRecord* r = Lib_SpriteIsLive(item) ? Lib_SpriteAt(item) : nullptr) {
            x = r->posX - 288.0f;
            y = r->posY;
        }
        ShowQuickGDSet(x, y, 399);
    } else if (!(panel >= QUICK_PANEL_OPEN && panel < QUICK_PANEL_SHOWN)) {
        ShowQuickGDDel();
    }
    return false;
}

void ItemColours(ScreenWork* w, int32_t cursor) {
    for (int32_t i = 0; i < kTitleItems; ++i)
        if (GSL_TitleIsItemVisible(i)) Lib_SpriteSetColor(TitleItemSprite(i), 0xFFC0C0C0u);
    if (cursor < 0 || cursor >= kTitleItems) return;
    Lib_SpriteSetColor(TitleItemSprite(cursor), 0xFFFFFFFFu);
    GSL_SystemColorCycle(TitleItemSprite(cursor), -1, 255, 255, 255, -16, &GSL_TitleHead(w)->angle);
}

int32_t ClickedItem() {
    for (int32_t i = 0; i < kTitleItems; ++i) {
        if (!GSL_TitleIsItemVisible(i)) continue;
        int32_t rect[4] = {-1, 0, 0, 0};
        if (GSL_ButtonCheck(nullptr, TitleItemSprite(i), rect, 0, 0, 0, -1) == 1) return i;
    }
    return -1;
}

int32_t ChoiceVoice(int32_t item) {
    switch (item) {
    case TITLE_ITEM_NEW_GAME: case 1: case 2: return 4;
    case TITLE_ITEM_LOAD: return 5;
    case TITLE_ITEM_CONTINUE: return 6;
    case TITLE_ITEM_OPTIONS: return 7;
    case TITLE_ITEM_GALLERY: return 8;
    case TITLE_ITEM_MUSIC_ROOM: return 9;
    default: return -1;
    }
}

void IdleClockStart() { TitleIdleStart = uint32_t(Lib_TimerNow()); }
}  // namespace

int32_t TitleLanguage() {
    const int32_t language = SystemDataBlock.language;
    return language >= 0 && language <= 3 ? language : 0;
}

int32_t TitleItemSprite(int32_t item) {
    if (item < 0 || item >= kTitleItems) return -1;
    return GSL_WorkLayerGet(GSL_TitleModeCB, uint32_t(item + 1));
}

bool GSL_TitleInit() {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    w->step = TITLE_STEP_INIT;
    w->subState = SUBSTATE_ENTRY;
    *GSL_TitleHead(w) = TitleHead{-1, 0, -1, -1, 1, 0, -1, -1, -1, 0};
    Lib_FrameRateSet(60);
    TitleFlags |= TITLE_MOVIE_SKIPPABLE;
    if (SystemDataFresh && !(TitleFlags & TITLE_ENTERED)) TitleFlags = uint8_t(TitleFlags & ~TITLE_MOVIE_SKIPPABLE);
    TitleFlags |= TITLE_ENTERED;
    w->step = TITLE_STEP_LOAD;
    return true;
}

bool GSL_TitleLoad() {
    if (ScreenWork* w = GSL_WorkGet(nullptr)) LoadStep(w);
    return true;
}

bool GSL_TitleInput() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    TitleHead* h = GSL_TitleHead(w);
    const int32_t input = h->input;
    const SelectInputWork* in = GSL_InputWork(input);
    const int32_t cursor = in ? in->cursor : -1;
    if (PanelStep(w, cursor)) return true;
    if (h->idleVoice > 0 && ChannelState(kTitleVoiceSlot) <= 0) {
        --h->idleVoice;
        if (h->idleVoice == 0) GSL_SysVoicePlay(0, 3, 100.0f);
    }
    ItemColours(w, cursor);
    int32_t clicked = ClickedItem();
    int32_t item = cursor;
    if (TitleSubMenuOpen && clicked < 0 && (InputButtons.pressed & BUTTON_CANCEL)) {
        if (SelectInputWork* sel = GSL_InputWork(input)) sel->cursor = TITLE_ITEM_BACK;
        item = clicked = TITLE_ITEM_BACK;
    }
    if ((InputButtons.pressed & BUTTON_DECIDE) || (item >= 0 && item == clicked)) {
        GSL_WorkSoundStop(nullptr, kTitleVoiceSlot, kSoundStopAtOnce);
        h->idleVoice = 0;
        GSL_SystemSePlay(SE_ENTER);
        GSL_InputPause(input, 1);
        w->step = TITLE_STEP_EXECUTE;
        if (ChoiceVoice(item) >= 0) GSL_SysVoicePlay(0, ChoiceVoice(item), -1.0f);
        return true;
    }
    if (cursor != h->lastCursor) {
        h->lastCursor = cursor;
        h->angle = 0;
        IdleClockStart();
    } else if (uint32_t(uint32_t(Lib_TimerNow()) - TitleIdleStart) >= kIdleUs) {
        h->follow = 1;
        w->step = TITLE_STEP_WIPE_OUT;
        w->subState = TITLE_OUT_CHOOSE;
        TitleFlags |= TITLE_MOVIE_NEXT;
        TitleSubMenuOpen = 0;
    }
    return true;
}

bool GSL_TitleBackToMenu() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    GSL_InputPause(GSL_TitleHead(w)->input, 0);
    IdleClockStart();
    w->step = TITLE_STEP_INPUT;
    return true;
}

bool GSL_TitleWipeOut() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return false;
    TitleHead* h = GSL_TitleHead(w);
    switch (w->subState) {
    case TITLE_OUT_CHOOSE: {
        const SelectInputWork* in = GSL_InputWork(h->input);
        const bool newGame = in && in->cursor == TITLE_ITEM_NEW_GAME;
        w->subState = h->follow == 1 || newGame ? TITLE_OUT_BLACK : TITLE_OUT_WIPE;
        break;
    }
    case TITLE_OUT_BLACK:
        GSL_SystemDispColorSet(0xFF000000u, 60);
        w->subState = TITLE_OUT_LEAVE;
        break;
    case TITLE_OUT_WIPE: {
        char path[256];
        GSL_WipePathMake(path);
        h->wipe = GSL_SystemWipeSet(path, -1, 120, 9, 9, 0, 0);
        w->subState = TITLE_OUT_WIPE_READY;
        break;
    }
    case TITLE_OUT_WIPE_READY: {
        const int32_t wipe = h->wipe;
        if (wipe >= 0 && GSL_SystemWipeStatus(wipe) == WIPE_PREPARING) break;
        GSL_SystemDispColorSet(0xFF000000u, 0);
        w->subState = TITLE_OUT_WIPE_END;
        break;
    }
    case TITLE_OUT_WIPE_END: {
        const int32_t wipe = h->wipe;
        if (wipe >= 0 && GSL_SystemWipeStatus(wipe) != WIPE_FINISHED) break;
        GSL_SystemWipeDel(wipe);
        h->wipe = -1;
        w->subState = TITLE_OUT_LEAVE;
        break;
    }
    case TITLE_OUT_LEAVE: {
        if (!GSL_SystemDispColorCheck()) break;
        const bool restart = h->follow == 1;
        Lib_FrameRateSet(60);
        GSL_InputDel(h->input);
        ShowQuickGDDel();
        // A fresh title waits below the story it starts, or restarts alone.
        GSL_ModeHandOver(GSL_TitleModeCB);
        if (!restart) {
            GSL_SystemLoadPrevCheck();
            GSL_ModeAppend(GSL_StoryModeCB);
        }
        break;
    }
    default:
        break;
    }
    return false;
}

void GSL_TitleModeCB() {
    const ScreenWork* w = GSL_WorkGet(nullptr);
    switch (w ? w->step : TITLE_STEP_INIT) {
    case TITLE_STEP_INIT: GSL_TitleInit(); break;
    case TITLE_STEP_LOAD: GSL_TitleLoad(); break;
    case TITLE_STEP_INPUT: GSL_TitleInput(); break;
    case TITLE_STEP_EXECUTE: GSL_TitleExecute(); break;
    case TITLE_STEP_BACK: GSL_TitleBackToMenu(); break;
    case TITLE_STEP_WIPE_OUT: GSL_TitleWipeOut(); break;
    default: break;
    }
}
