// The title menu: fourteen item slots, of which the main menu (new game,
// load, continue, options, extras, manual) or the extras submenu (gallery,
// music room, special menu, back) show; their layout from the label sheet in
// the interface language, the cursor's first place, and what choosing an
// item does.
#include <cstring>

#include "engine/files/archive.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "screens/boot.h"
#include "screens/system_screens.h"
#include "screens/title.h"
#include "screens/title_work.h"
#include "story/save_store.h"
#include "story/access_flags.h"
#include "story/game_state.h"
#include "story/quick_save.h"
#include "ui/layout_table.h"
#include "ui/move_alpha.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"


namespace {
constexpr int32_t kLabelGroup = 7;
constexpr int32_t kPictureGroup = 4;
constexpr uint32_t kPictureLayer = 16;
constexpr uint32_t kKeyE = 0x400;

LayoutRect Rect(int32_t group, int32_t index) {
    LayoutRect r{};
    GSL_LayoutGetRect(&r, group, index);
    return r;
}

int32_t Column(int32_t language) { return Rect(kLabelGroup, 30 + language).x; }
int32_t Row(int32_t language) { return Rect(kPictureGroup, 1 + language).y; }

int32_t ItemSpriteMake(int32_t item) {
    int32_t h = GSL_WorkLayerGet(nullptr, uint32_t(item + 1));
    if (h < 0 && item > 0) h = GSL_WorkLayerCopy(nullptr, uint32_t(item + 1), 1, -1);
    return h;
}

// The voice of the chosen item still speaks on the screen's voice channel.
bool VoiceSpeaking() {
    const uint32_t channel = uint32_t(GSL_WorkSoundGet(nullptr, kTitleVoiceSlot));
    if (channel >= uint32_t(kSoundChannels)) return false;
    const SoundChannel& c = SoundChannelTable[channel];
    return (c.st.flags.load(std::memory_order_acquire) & SOUND_IN_USE) &&
           c.st.state.load(std::memory_order_acquire) != 0;
}

bool CutPressed() {
    if (InputButtons.pressed & (BUTTON_DECIDE | BUTTON_CANCEL | kKeyE)) return true;
    int32_t rect[4] = {-1, 0, 0, 0};
    return GSL_ButtonCheck(nullptr, -1, rect, 0, 0, 0, -1) == 1;
}

struct Target {
    ModeFunction screen;
    uint8_t keep;
};

Target ItemTarget(int32_t item) {
    switch (item) {
    case TITLE_ITEM_LOAD: return {GSL_LoadModeCB, 0};
    case TITLE_ITEM_OPTIONS: return {GSL_OptionModeCB, 1};
    case TITLE_ITEM_GALLERY: return {GSL_ScreenOf(SCREEN_GALLERY), 0};
    case TITLE_ITEM_MUSIC_ROOM: return {GSL_ScreenOf(SCREEN_MUSIC_ROOM), 0};
    case TITLE_ITEM_SPECIAL: return {GSL_ScreenOf(SCREEN_SPECIAL), 0};
    case TITLE_ITEM_MANUAL: return {GSL_ManualModeCB, 1};
    default: return {nullptr, 0};
    }
}
}  // namespace

bool GSL_TitleIsItemVisible(int32_t item) {
    const bool sub = TitleSubMenuOpen != 0;
    switch (item) {
    case TITLE_ITEM_NEW_GAME: case TITLE_ITEM_LOAD: case TITLE_ITEM_OPTIONS: case TITLE_ITEM_MANUAL: return !sub;
    case TITLE_ITEM_CONTINUE: return !sub && QuickDataPresent;
    case TITLE_ITEM_EXTRAS: return !sub && GSL_VarRefEval("[0015]") != 0;
    case TITLE_ITEM_GALLERY: case TITLE_ITEM_MUSIC_ROOM: case TITLE_ITEM_SPECIAL: {
        if (!sub) return false;
        TitleSubMenuOpen = 0;
        const bool extras = GSL_TitleIsItemVisible(TITLE_ITEM_EXTRAS);
        TitleSubMenuOpen = 1;
        return extras && (item != TITLE_ITEM_SPECIAL || Lib_PcArcExists(2));
    }
    case TITLE_ITEM_BACK: return sub;
    default: return false;
    }
}

void GSL_TitleDrawMenu(uint8_t redraw, ModeFunction left, int32_t cursor) {
    ScreenWork* w = GSL_WorkGet(GSL_TitleModeCB);
    if (!w) return;
    GSL_InputDel(GSL_TitleHead(w)->input);
    const int32_t input = GSL_InputSet(0, 0, 0, 0, 0, 0, 0, 0);
    GSL_TitleHead(w)->input = input;
    SelectInputWork* in = GSL_InputWork(input);
    const int32_t language = TitleLanguage();
    const int32_t column = Column(language);
    const float pitch = float(Rect(kLabelGroup, 0).height) + 2.0f;
    int32_t count = 0;
    for (int32_t i = 0; i < kTitleItems; ++i) count += GSL_TitleIsItemVisible(i) ? 1 : 0;
    float y = -340.0f + pitch * float(count);
    int32_t first = -1;
    for (int32_t i = 0; i < kTitleItems; ++i) {
        const bool visible = GSL_TitleIsItemVisible(i);
        LayoutRect r = Rect(kLabelGroup, i);
        r.x += column;
        const int32_t h = ItemSpriteMake(i);
        Lib_SpriteSetFlag(h, 1);
        Lib_SpriteSetPrio(h, 399, 0);
        const int32_t rect[4] = {r.x, r.y, r.width, r.height};
        Lib_SpriteSetRect(h, rect);
        if (SpriteRecord* s = Lib_SpriteAt(h)) {
            s->posX = 0.0f;
            s->posY = y;
            s->posZ = 0.0f;
        }
        Lib_SpriteSetColor(h, 0x00C0C0C0u);
        if (visible) {
            Lib_SpriteSetColor(h, 0xFFC0C0C0u);
            y -= pitch;
            if (first < 0) first = i;
        }
        if (!in) continue;
        LayoutRect hr = Rect(kLabelGroup, 14 + i);
        hr.x += column;
        in->layers[i] = i + 1;
        in->disabled[i] = visible ? 0 : 1;
        in->highlight[i] = {hr.x, hr.y, hr.width, hr.height};
    }
    if (in) {
        in->screen = GSL_TitleModeCB;
        in->count = kTitleItems;
    }
    if (cursor < 0) {
        if (redraw && left && left == GSL_ScreenOf(SCREEN_SPECIAL)) cursor = TITLE_ITEM_SPECIAL;
        else if (redraw && left == GSL_OptionModeCB) cursor = TITLE_ITEM_OPTIONS;
        else if (!TitleSubMenuOpen && GSL_TitleAnySaveValid()) cursor = TITLE_ITEM_LOAD;
        else cursor = first;
    }
    if (cursor >= 0 && cursor < kTitleItems) Lib_SpriteSetColor(TitleItemSprite(cursor), 0xFFFFFFFFu);
    if (in) in->cursor = cursor;
    GSL_InputCursorAdjust(input);
    GSL_InputPause(input, redraw ? 0 : 1);
    if (!redraw) {
        for (int32_t i = 0; i < kTitleItems; ++i) {
            if (!GSL_TitleIsItemVisible(i)) continue;
            const int32_t h = TitleItemSprite(i);
            Lib_SpriteSetColor(h, Lib_SpriteGetColor(h) & 0x00FFFFFFu);
            GSL_SystemAlphaSet(h, -1, 255, 30, 0, 1);
        }
    }
    LayoutRect picture = Rect(kPictureGroup, 0);
    picture.y += Row(language);
    const int32_t rect[4] = {picture.x, picture.y, picture.width, picture.height};
    Lib_SpriteSetRect(GSL_WorkLayerGet(GSL_TitleModeCB, kPictureLayer), rect);
}

void GSL_TitleGotoScreen(ModeFunction screen, uint8_t keep) {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    TitleHead* h = GSL_TitleHead(w);
    switch (w->subState) {
    case TITLE_GOTO_FADE:
        if (!keep) GSL_SystemDispColorSet(0xFF000000u, 30);
        h->language = TitleLanguage();
        w->subState = TITLE_GOTO_PUSH;
        break;
    case TITLE_GOTO_PUSH:
        if (!GSL_SystemDispColorCheck()) break;
        w->subState = TITLE_GOTO_RETURN;
        GSL_ModePush(screen, keep);
        break;
    case TITLE_GOTO_RETURN:
        if (!keep) GSL_SystemDispColorSet(0x00000000u, 30);
        w->subState = TITLE_GOTO_BACK;
        break;
    case TITLE_GOTO_BACK: {
        if (!GSL_SystemDispColorCheck()) break;
        const int32_t before = h->language >= 0 ? h->language : 0;
        const int32_t now = TitleLanguage();
        const bool moved = Column(before) != Column(now) || Row(before) != Row(now);
        w->subState = SUBSTATE_ENTRY;
        w->step = TITLE_STEP_BACK;
        if ((screen && screen == GSL_ScreenOf(SCREEN_SPECIAL)) || (screen == GSL_OptionModeCB && moved))
            GSL_TitleDrawMenu(1, screen, -1);
        break;
    }
    default:
        break;
    }
}

bool GSL_TitleExecute() {
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return true;
    TitleHead* h = GSL_TitleHead(w);
    // Before the action: the chosen item's voice, unless cut short. Once
    // another screen is open (a later sub-state) it no longer counts.
    if (w->subState == TITLE_GOTO_FADE && !(h->flags & TITLE_BIT_VOICE_CUT) && VoiceSpeaking()) {
        if (!CutPressed()) return true;
        GSL_WorkSoundStop(nullptr, kTitleVoiceSlot, kSoundStopAtOnce);
        h->flags |= TITLE_BIT_VOICE_CUT;
        return true;
    }
    h->flags &= ~TITLE_BIT_VOICE_CUT;
    const SelectInputWork* in = GSL_InputWork(h->input);
    const int32_t item = in ? in->cursor : -1;
    switch (item) {
    case TITLE_ITEM_NEW_GAME:
        GSL_GameStateInit();
        w->step = TITLE_STEP_WIPE_OUT;
        w->subState = TITLE_OUT_CHOOSE;
        break;
    case TITLE_ITEM_CONTINUE:
        // The quick slot's game state, checked as any loaded block, and the
        // play time counted from now (not from the logos).
        std::memcpy(static_cast<void*>(&GameStateBlock), &QuickDataCache, sizeof GameStateBlock);
        GSL_GameStateCheck(&GameStateBlock);
        Lib_SaveRecordLoad(kSaveQuickSlot);
        PlayTimeBase = GSL_PlayTimeNow();
        w->step = TITLE_STEP_WIPE_OUT;
        w->subState = TITLE_OUT_CHOOSE;
        break;
    case TITLE_ITEM_EXTRAS:
        TitleSubMenuOpen = 1;
        GSL_TitleDrawMenu(1, nullptr, -1);
        w->step = TITLE_STEP_BACK;
        break;
    case TITLE_ITEM_BACK:
        TitleSubMenuOpen = 0;
        GSL_TitleDrawMenu(1, nullptr, TITLE_ITEM_EXTRAS);
        w->step = TITLE_STEP_BACK;
        break;
    default: {
        const Target t = ItemTarget(item);
        if (t.screen) {
            GSL_TitleGotoScreen(t.screen, t.keep);
        } else {
            w->subState = SUBSTATE_ENTRY;
            w->step = TITLE_STEP_BACK;
        }
        break;
    }
    }
    return true;
}
