#include "story/backlog.h"

#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "engine/text/text_layout.h"
#include "script/args.h"
#include "script/game_blocks.h"
#include "story/game_state.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "ui/color_pulse.h"
#include "ui/dialog_access.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/message_box.h"
#include "ui/mode.h"
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
constexpr int32_t kPriority = 399;
constexpr int32_t kBackdropPriority = 400;
constexpr int32_t kWipeFrames = 16, kWipePriority = 390;
constexpr int32_t kSlide = 720, kSlideFrames = 15;
constexpr uint32_t kPlain = 0xFFF0F0F0u, kLit = 0xFFFFFFFFu;
constexpr uint32_t kLineColour = 0xFF000000u, kChoiceColour = 0xFF32CD32u;
constexpr uint32_t kTitleColour = 0xFFB6A3FFu;
constexpr uint32_t kVeilColour = 0xE0F0F0F0u;
constexpr int32_t kBarMinimum = 3;
constexpr float kBarX = 598.0f;
constexpr int32_t kBarMargin = 22;
constexpr uint32_t kKeyMasks[4] = {0x2000, 0x8000, 0x1000, 0x4000};
constexpr int32_t kKeyIntervals[4] = {5, 5, 1, 1};
enum : int32_t { KEY_UP = 0, KEY_DOWN = 1, KEY_LEFT = 2, KEY_RIGHT = 3 };
enum : uint32_t { BIT_DECIDE = 0x1, BIT_CANCEL = 0x2, BIT_C = 0x8, BIT_FIRST = 0x40, BIT_LAST = 0x80 };
// Layer slots: the backdrop, the close button and the sheet whose slot is
// also entry 0's voice icon; voice icons 2..4, jump icons 5..7; the veil.
enum : uint32_t {
    LAYER_BACKDROP = 0, LAYER_CLOSE = 1, LAYER_SHEET = 2, LAYER_VOICE = 2, LAYER_JUMP = 5, LAYER_VEIL = 8
};
constexpr uint32_t kTitleText = 6;
// Layout group 5 items.
constexpr int32_t kItemVoice = 7, kItemVoiceLit = 8, kItemJump = 22, kItemBackdrop = 26;
// Words of the screen's context.
enum : uint32_t {
    WORD_WORK = 0,    // BacklogWork*
    WORD_MADE = 1,    // MADE_*: what Exit has to undo
    WORD_RATE = 2,    // FrameRateConfig on entry
    WORD_WIPE = 3,    // -1 none
    WORD_DIALOG = 4,  // -1 none
    WORD_BOX = 5,     // -1 none
};
enum : uint32_t { MADE_RATE = 1, MADE_PAGE = 2, MADE_SLID = 4 };
// Sub-states of the open step: LOAD -> WIPE -> BUILD -> WIPE_END.
enum : int32_t { OPEN_LOAD = 0, OPEN_WIPE = 1, OPEN_BUILD = 2, OPEN_WIPE_END = 3 };
// Sub-states of the jump and notice steps: ASK, then the answer.
enum : int32_t { ASK_OPEN = 0, ASK_ANSWER = 1 };
// Sub-states of the exit step: WIPE -> FREE -> WIPE_END.
enum : int32_t { EXIT_WIPE = 0, EXIT_FREE = 1, EXIT_WIPE_END = 2 };

void Goto(ScreenWork* w, int32_t step) {
    w->step = step;
    w->subState = SUBSTATE_ENTRY;
}
BacklogWork* Work(const ScreenWork* w) { return reinterpret_cast<BacklogWork*>(w->words[WORD_WORK]); }
int32_t Layer(uint32_t slot) { return GSL_WorkLayerGet(GSL_BacklogModeCB, slot); }
int32_t Count() {
    const uint32_t n = GameStateBlock.readLineCount;
    return int32_t(n > kReadLineSize ? kReadLineSize : n);
}
int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// The page's layout: entries from (235, -149) downward, one every 200.
int32_t EntryX() { return GSL_Scale43i(176, 9999); }
int32_t EntryY(int32_t k) { return GSL_Scale43i(-112, 9999) - k * GSL_Scale43i(150, 9999); }
constexpr int32_t kTextGap = 40;

void Place(int32_t sprite, int32_t group, int32_t item, float x, float y, int32_t priority) {
    GSL_LayoutSpriteRect(sprite, group, item);
    if (SpriteRecord* s = Lib_SpriteAt(sprite)) {
        s->posX = x - 640.0f;
        s->posY = 360.0f - y;
        s->posZ = 0.0f;
    }
    Lib_SpriteSetPrio(sprite, priority, -1);
    Lib_SpriteSetValue(sprite, 2);
    Lib_SpriteSetColor(sprite, kPlain);
}

void SetRectItem(int32_t sprite, int32_t item) {
    LayoutRect r{};
    GSL_LayoutGetRect(&r, 5, item);
    const int32_t rect[4] = {r.x, r.y, r.width, r.height};
    Lib_SpriteSetRect(sprite, rect);
}

bool KeyFires(const BacklogWork* b, int32_t key) { return GSL_SystemKeyFires(b->keys[key]); }

// --- the page ---------------------------------------------------------------------

void FreeTexts() {
    for (uint32_t slot = 0; slot < uint32_t(2 * kBacklogPage); ++slot) GSL_WorkTextFree(nullptr, slot);
}

void MakeText(uint32_t slot, const char* text, int32_t x, int32_t y, float scale, uint32_t colour) {
    const int32_t t = GSL_WorkTextSet(nullptr, slot, -1, text);
    TextRecord* r = t >= 0 && t < kTextSlots ? TextTable[t] : nullptr;
    if (!r) return;
    const TextPos pos{x, y, 0};
    const TextScale size{scale, scale};
    Lib_TextPosSet(t, &pos);
    Lib_TextScaleSet(t, &size);
    Lib_TextPrioSet(t, kPriority);
    Lib_TextRgbaSet(t, colour);
    r->state |= TEXT_STATE_DRAWN;
    GSL_TextShowFully(r);
}

void BuildPage(BacklogWork* b) {
    static char name[kLineTextSize], text[kLineTextSize];
    FreeTexts();
    const int32_t count = Count();
    for (int32_t k = 0; k < kBacklogPage; ++k) {
        std::memset(b->voices[k], 0, sizeof b->voices[k]);
        const int32_t line = b->top + k;
        int32_t code = -1;
        if (line < count) {
            code = GSL_ScriptLineText(uint32_t(line), name, text, &b->voices[k][0][0],
                                      uint32_t(kBacklogVoiceSteps * kBacklogStepVoices),
                                      LINE_INDENT | LINE_BREAKS | LINE_ADD);
            if (code >= 0) {
                const uint32_t colour = code == 1 ? kChoiceColour : kLineColour;
                MakeText(uint32_t(k), name, EntryX(), EntryY(k), 0.5f, colour);
                if (text[0]) MakeText(uint32_t(kBacklogPage + k), text, EntryX(), EntryY(k) - kTextGap, 0.4f, colour);
            }
        }
        const int32_t voice = Layer(LAYER_VOICE + uint32_t(k)), jump = Layer(LAYER_JUMP + uint32_t(k));
        SetRectItem(voice, kItemVoice);
        Lib_SpriteSetFlag(voice, line < count && b->voices[k][0][0][0] != 0);
        // A line no jump can take (one a load could not place) shows no jump icon.
        Lib_SpriteSetFlag(jump, line < count && GSL_StoryHistoryRestorable(line));
    }
}

// Plays one replay step when the voices of the last one have ended.
void Replay(BacklogWork* b) {
    if (b->replayEntry < 0) return;
    const int32_t k = b->replayEntry - b->top;
    if (k < 0 || k >= kBacklogPage) return;
    for (int32_t j = 0; j < kBacklogStepVoices; ++j)
        if (Lib_SoundStateGet(int32_t(kBacklogFirstVoiceSlot) + j) != 0) return;
    if (b->replayStep >= kBacklogVoiceSteps || b->voices[k][b->replayStep][0][0] == 0) {
        b->replayEntry = -1;
        b->blink = 0;
        return;
    }
    const float volume = float(SystemDataBlock.voiceVolume > 100 ? 100 : SystemDataBlock.voiceVolume);
    for (int32_t j = 0; j < kBacklogStepVoices; ++j) {
        const char* voice = b->voices[k][b->replayStep][j];
        if (!voice[0]) break;
        // Voice tags may quote their names: the quotes are no part of the file's.
        char bare[kLineVoiceSize], stem[256], path[sizeof stem + 24];
        size_t n = 0;
        for (size_t i = 0; voice[i] && i < kLineVoiceSize && n + 1 < sizeof bare; ++i)
            if (voice[i] != '"') bare[n++] = voice[i];
        bare[n] = 0;
        Lib_PathGetName(bare, stem, 0);
        for (size_t i = 0; stem[i]; ++i) {
            const uint8_t c = uint8_t(stem[i]);
            if (c >= 0x80) {
                if (stem[i + 1]) ++i;
                continue;
            }
            if (c >= 'A' && c <= 'Z') stem[i] = char(c - 'A' + 'a');
        }
        std::snprintf(path, sizeof path, "%s%s%s", "sound/voice/", stem, ".ogg");
        const uint32_t slot = kBacklogFirstVoiceSlot + uint32_t(j);
        Lib_SoundVolumeSet(int32_t(slot), volume);
        GSL_WorkSoundSet(nullptr, slot, {.file = path, .restore = SOUND_NOT_REPLAYED, .repeat = 0});
    }
    if (b->replayStep < kBacklogVoiceSteps) ++b->replayStep;
}

void StopReplay() {
    for (int32_t j = 0; j < kBacklogStepVoices; ++j)
        GSL_WorkSoundStop(nullptr, kBacklogFirstVoiceSlot + uint32_t(j), 0);
}

// --- steps ------------------------------------------------------------------------

void Init(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) {
        GSL_ModePop();  // no room for a context: nothing to show
        return;
    }
    for (uint32_t i : {WORD_WIPE, WORD_DIALOG, WORD_BOX}) GSL_WorkWordSet(w, i, -1);
    w->words[WORD_WORK] = 0;
    w->words[WORD_MADE] = 0;
    const int32_t count = Count();
    if (count <= 0) {
        Goto(w, BACKLOG_NOTICE);
        return;
    }
    auto* b = static_cast<BacklogWork*>(Lib_MemAlloc(HEAP_SCREEN, sizeof(BacklogWork), 8));
    if (!b) {
        Goto(w, BACKLOG_EXIT);
        return;
    }
    std::memset(static_cast<void*>(b), 0, sizeof *b);
    for (int32_t& k : b->keys) k = -1;
    b->bar = -1;
    b->selected = count - 1;
    b->drawn = -1;
    b->top = count >= kBacklogPage ? count - kBacklogPage : 0;
    b->replayEntry = -1;
    w->words[WORD_WORK] = reinterpret_cast<uint64_t>(b);
    GSL_WorkWordSet(w, WORD_RATE, FrameRateConfig);
    w->words[WORD_MADE] |= MADE_RATE;
    Lib_FrameRateSet(60);
    for (int32_t j = 0; j < kBacklogStepVoices; ++j)
        GSL_WorkSoundStop(GSL_StoryModeCB, kBacklogFirstVoiceSlot + uint32_t(j), 0);
    Goto(w, BACKLOG_OPEN);
}

void StartWipe(ScreenWork* w) {
    char path[256];
    GSL_WipePathMake(path);
    GSL_WorkWordSet(w, WORD_WIPE, GSL_SystemWipeSet(path, -1, kWipeFrames, kWipePriority, kWipePriority, 0, 0));
}

void Build(ScreenWork* w, BacklogWork* b) {
    if (SysgraMesTable.data) {
        char text[kMesTextSize];
        GSL_SysTextGet(&SysgraMesTable, 2, 16, 0, text, sizeof text);
        const int32_t t = GSL_WorkTextSet(nullptr, kTitleText, -1, text);
        if (TextRecord* r = t >= 0 && t < kTextSlots ? TextTable[t] : nullptr) {
            const TextPos pos{64, -13, 0};
            const TextScale scale{0.7f, 0.7f};
            Lib_TextPosSet(t, &pos);
            Lib_TextScaleSet(t, &scale);
            Lib_TextPrioSet(t, kPriority);
            Lib_TextRgbaSet(t, kTitleColour);
            r->outline = 0xFFFFFFFFu;
            r->state |= TEXT_STATE_DRAWN;
            GSL_TextShowFully(r);
        }
    }
    // A light veil over the frozen story, the title's plate on it.
    const int32_t veil = GSL_WorkLayerFile(nullptr, LAYER_VEIL, nullptr, LAYER_OWN);
    Lib_SpriteSetColor(veil, kVeilColour);
    Lib_SpriteSetPrio(veil, kBackdropPriority + 1, -1);
    Lib_SpriteSetValue(veil, 2);
    Lib_SpriteSetFlag(veil, 1);
    Place(Layer(LAYER_BACKDROP), 5, kItemBackdrop, 150.0f, 40.0f, kBackdropPriority);
    Place(Layer(LAYER_CLOSE), 2, 3, 1237.0f, 43.0f, kPriority);
    for (int32_t k = 0; k < kBacklogPage; ++k) {
        const float y = float(-EntryY(k) + 24);
        Place(Layer(LAYER_VOICE + uint32_t(k)), 5, kItemVoice, float(EntryX() - 60), y, kPriority);
        Place(Layer(LAYER_JUMP + uint32_t(k)), 5, kItemJump, float(EntryX() - 120), y, kPriority);
    }
    for (uint32_t slot = 0; slot <= LAYER_JUMP + 2; ++slot) Lib_SpriteSetFlag(Layer(slot), 1);
    w->words[WORD_MADE] |= MADE_PAGE;
    GSL_SystemBarScroll(b->bar, b->top);
    GSL_BacklogDrawList();
}

void Open(ScreenWork* w) {
    BacklogWork* b = Work(w);
    switch (w->subState) {
        case OPEN_LOAD: {
            for (int32_t k = 0; k < 4; ++k) b->keys[k] = GSL_SystemKeySet(kKeyMasks[k], kKeyIntervals[k]);
            const struct {
                uint32_t slot;
                const char* file;
            } sheets[3] = {{LAYER_BACKDROP, "visual/system/sys_adv_01.ext"},
                           {LAYER_CLOSE, "visual/system/sys_system_01.ext"},
                           {LAYER_SHEET, "visual/system/sys_adv_00.ext"}};
            for (const auto& s : sheets)
                if (Layer(s.slot) < 0) GSL_WorkLayerFile(nullptr, s.slot, s.file, LAYER_CACHED);
            const int32_t count = Count();
            const float at[2] = {kBarX, 0.0f}, size[2] = {1.0f, 5.0f};
            // A history shorter than a page still gives the bar an empty range.
            b->bar = GSL_SystemBarSet(at, size, kPriority, 1, kBarMinimum, count > kBarMinimum ? count : kBarMinimum,
                                      -1, -1);
            w->subState = OPEN_WIPE;
            return;
        }
        case OPEN_WIPE:
            if (!GSL_WorkLayersReady(nullptr) || (b->bar >= 0 && GSL_SystemWinCheck(b->bar) == 0)) return;
            for (uint32_t slot = 3; slot <= LAYER_JUMP + 2; ++slot) GSL_WorkLayerCopy(nullptr, slot, LAYER_SHEET, -1);
            StartWipe(w);
            GSL_StorySlideWindow(-kSlide, kSlideFrames, 0);
            w->words[WORD_MADE] |= MADE_SLID;
            w->subState = OPEN_BUILD;
            return;
        case OPEN_BUILD:
            if (GSL_SystemWipeStatus(GSL_WorkWord(w, WORD_WIPE)) == WIPE_PREPARING) return;
            Build(w, b);
            w->subState = OPEN_WIPE_END;
            return;
        default:  // OPEN_WIPE_END
            GSL_BacklogDrawList();
            if (GSL_SystemWipeStatus(GSL_WorkWord(w, WORD_WIPE)) != WIPE_FINISHED) return;
            GSL_SystemWipeDel(GSL_WorkWord(w, WORD_WIPE));
            GSL_WorkWordSet(w, WORD_WIPE, -1);
            Goto(w, BACKLOG_RUN);
            return;
    }
}

bool PointerOnScreen() {
    return MouseInput.x >= 0 && MouseInput.x < 1280 && MouseInput.y >= 0 && MouseInput.y < 720;
}

void Select(BacklogWork* b, int32_t entry) {
    GSL_SystemSePlay(SE_MOVE);
    b->selected = entry;
}

void Run(ScreenWork* w) {
    BacklogWork* b = Work(w);
    GSL_BacklogDrawList();
    const int32_t count = Count();
    const uint32_t pressed = InputButtons.pressed;
    // 1. The knob drag.
    int32_t delta = 0;
    if (b->dragging) {
        const int32_t phase = MouseInput.clickPhase;
        if (!MouseInput.active || phase != 2 || !PointerOnScreen()) {
            b->dragging = 0;
            b->travel = 0;
        } else {
            delta = GSL_SystemBarGetPos(b->bar) - b->top;
            b->travel = PointerGesture.current.y - PointerGesture.press.y;
        }
    } else if (MouseInput.active && MouseInput.clickPhase == 1 && b->bar >= 0) {
        int32_t track[4];
        GSL_SystemBarGetRect(track, b->bar, BAR_TRACK);
        if (track[3] > track[1] && MouseInput.x >= track[0] - kBarMargin && MouseInput.x <= track[2] + kBarMargin &&
            MouseInput.y >= track[1] && MouseInput.y <= track[3]) {
            b->dragging = 1;
            b->travel = 0;
            return;
        }
    }
    // 2. The entries' icons and text areas.
    int32_t choose = -1, jump = -1;
    bool textClicked = false;
    if (!b->dragging) {
        for (int32_t k = 0; k < kBacklogPage; ++k) {
            const int32_t entry = b->top + k;
            int32_t rect[4] = {-1, 0, 0, 0};
            GSL_ButtonCheck(nullptr, Layer(LAYER_VOICE + uint32_t(k)), rect, 0, kPlain, kLit, -1);
            int32_t jumpRect[4] = {-1, 0, 0, 0};
            const int32_t jumpIcon = Layer(LAYER_JUMP + uint32_t(k));
            const bool jumpFired = GSL_ButtonCheck(nullptr, jumpIcon, jumpRect, 0, kPlain, kLit, -1) == 1 &&
                                   Lib_SpriteGetFlag(jumpIcon);
            // The area around the entry where it is laid out, whether or not
            // the line has a second text.
            const int32_t x = EntryX(), y = EntryY(k);
            int32_t area[4] = {x - 80, -y - 64, x + 840, -y + 180};
            const bool clicked = GSL_SystemHitClick(0, -1, area, 0) == 1;
            int32_t over[4] = {x - 80, -y - 64, x + 840, -y + 180};
            const bool entered = GSL_SystemHitOver(0, -1, over, 0) == 1;
            if (entry > count - 1) continue;
            if (jumpFired) {
                if (entry == b->selected)
                    jump = entry;
                else
                    choose = entry;
            }
            if (clicked && entry == b->selected) textClicked = true;
            if ((clicked || entered) && entry != b->selected) choose = entry;
        }
    }
    // The selected line's jump icon pulses in teal: the line the keys act on is seen.
    if (b->selected >= b->top && b->selected < b->top + kBacklogPage) {
        int32_t angle = b->angle;
        GSL_SystemColorCycle(Layer(LAYER_JUMP + uint32_t(b->selected - b->top)), -1, 255, 216, 96, -32, &angle);
    }
    // 3. Cancel.
    int32_t closeRect[4] = {-1, 0, 0, 0};
    if ((pressed & BIT_CANCEL) || GSL_ButtonCheck(nullptr, Layer(LAYER_CLOSE), closeRect, 0, kPlain, kLit, -1) == 1) {
        if (StoryExitRequest != STORY_EXIT_RESTART) GSL_SystemSePlay(SE_CANCEL);
        Goto(w, BACKLOG_EXIT);
        return;
    }
    // 4. The knob moves the selection.
    if (b->dragging) {
        b->selected = Clamp(b->selected + delta, 0, count - 1);
        return;
    }
    const bool held = MouseInput.active && MouseInput.clickPhase == 2;
    const int32_t travel = held ? PointerGesture.current.y - PointerGesture.press.y : 0;
    const int32_t far = GSL_Scale43i(480, 9999), near = GSL_Scale43i(128, 9999);
    // 5., 6. To the first or the last line.
    if ((pressed & BIT_FIRST) || travel > far) {
        if (b->selected >= 1) Select(b, 0);
        return;
    }
    if ((pressed & BIT_LAST) || travel < -far) {
        if (b->selected < count - 1) Select(b, count - 1);
        return;
    }
    // 7., 8. One line up or down; a held drag scrolls a line a frame.
    const bool dragStep = travel > near || travel < -near;
    const int32_t upHit = GSL_SystemBarHit(b->bar, BAR_UP), downHit = GSL_SystemBarHit(b->bar, BAR_DOWN);
    if (KeyFires(b, KEY_UP) || travel > near || upHit == 3 || upHit == 5) {
        if (b->selected >= 1) {
            --b->selected;
            if (dragStep) {
                if (b->selected >= b->top && b->top - 1 >= 0) b->selected = b->top - 1;
            } else {
                GSL_SystemSePlay(SE_MOVE);
            }
        }
        return;
    }
    if (KeyFires(b, KEY_DOWN) || travel < -near || downHit == 3 || downHit == 5) {
        if (b->selected < count - 1) {
            ++b->selected;
            if (dragStep) {
                if (b->selected <= b->top + kBacklogPage - 1 && b->top + kBacklogPage <= count - 1)
                    b->selected = b->top + kBacklogPage;
            } else {
                GSL_SystemSePlay(SE_MOVE);
            }
        }
        return;
    }
    // 9., 10. Ten lines.
    if (KeyFires(b, KEY_LEFT)) {
        if (b->selected >= 1) Select(b, Clamp(b->selected - 10, 0, count - 1));
        return;
    }
    if (KeyFires(b, KEY_RIGHT)) {
        if (b->selected < count - 1) Select(b, Clamp(b->selected + 10, 0, count - 1));
        return;
    }
    // 11. Another entry chosen.
    if (choose >= 0 && choose != b->selected) {
        Select(b, choose);
        return;
    }
    // 12. Jump back.
    if ((pressed & BIT_C) || (jump >= 0 && !(pressed & BIT_DECIDE))) {
        if (!GSL_StoryHistoryRestorable(b->selected)) {
            GSL_SystemSePlay(SE_ERROR);  // nothing to ask: no jump takes the line
            return;
        }
        GSL_SystemSePlay(SE_ENTER);
        Goto(w, BACKLOG_JUMP);
        return;
    }
    // 13. Replay the selected line's voices.
    if ((pressed & BIT_DECIDE) || textClicked) {
        StopReplay();
        const int32_t k = b->selected - b->top;
        if (k >= 0 && k < kBacklogPage && uint8_t(b->voices[k][0][0][0]) < 0x80 && b->voices[k][0][0][0] != 0) {
            b->replayEntry = b->selected;
            b->replayStep = 0;
        }
    }
}

void Jump(ScreenWork* w) {
    BacklogWork* b = Work(w);
    if (w->subState == ASK_OPEN) {
        const char* text = GSL_SysTextGet(nullptr, 2, 9, 0, nullptr, 0);
        GSL_WorkWordSet(w, WORD_DIALOG, Lib_DialogAsk(text));
        w->subState = ASK_ANSWER;
        return;
    }
    const int32_t dialog = GSL_WorkWord(w, WORD_DIALOG);
    const int32_t answer = GSL_SystemDialogGet(dialog);
    // A dialog that could not be made answers no.
    if (answer < 0 && GSL_SystemDialogIsReady(dialog) >= 0) return;
    GSL_SystemDialogDel(dialog);
    GSL_WorkWordSet(w, WORD_DIALOG, -1);
    if (answer != 1) {
        Goto(w, BACKLOG_RUN);
        return;
    }
    if (!GSL_StoryRestoreHistory(b->selected, nullptr)) {
        // The line cannot be restored: the story goes on where it was.
        GSL_SystemSePlay(SE_ERROR);
        Goto(w, BACKLOG_RUN);
        return;
    }
    StoryExitRequest = STORY_EXIT_RESTART;
    Goto(w, BACKLOG_EXIT);
}

void Notice(ScreenWork* w) {
    if (w->subState == ASK_OPEN) {
        char text[kMesTextSize];
        GSL_SysTextGet(nullptr, 2, 7, 0, text, sizeof text);
        const TextScale size{0.6f, 0.6f};
        const TextSpacing none{};
        TextRect extent{};
        Lib_TextMeasure(&extent, text, &size, &none, 0, 0);
        const int32_t at[3] = {640 - Lib_TextRectWidth(extent) / 2, -340, 0}, spacing[2] = {0, 0};
        const float scale[2] = {8.0f, 1.0f};
        const int32_t box = GSL_SystemMsgSet(text, at, spacing, scale);
        GSL_WorkWordSet(w, WORD_BOX, box);
        w->subState = ASK_ANSWER;
        if (box < 0) Goto(w, BACKLOG_EXIT);
        return;
    }
    const int32_t box = GSL_WorkWord(w, WORD_BOX);
    const MessageBoxWork* m = GSL_SystemMsgWork(box);
    if (m && !m->answered) return;
    GSL_SystemSePlay(SE_ENTER);
    GSL_WorkWordSet(w, WORD_BOX, GSL_SystemMsgDel(box));
    Goto(w, BACKLOG_EXIT);
}

void Exit(ScreenWork* w) {
    BacklogWork* b = Work(w);
    const uint32_t made = uint32_t(w->words[WORD_MADE]);
    if (w->subState == EXIT_WIPE) {
        if (made & MADE_PAGE) StartWipe(w);
        if (made & MADE_SLID) GSL_StorySlideWindow(kSlide, kSlideFrames, 0);
        w->words[WORD_MADE] &= ~uint64_t(MADE_SLID);
        w->subState = EXIT_FREE;
    }
    const int32_t wipe = GSL_WorkWord(w, WORD_WIPE);
    if (w->subState == EXIT_FREE) {
        if (wipe >= 0 && GSL_SystemWipeStatus(wipe) == WIPE_PREPARING) return;
        // The wipe holds the last picture of the page: what lies under it goes.
        if (b) {
            for (int32_t& k : b->keys) {
                if (k >= 0 && GSL_SystemKeyGet(k) >= 0) Lib_TaskDel(uint32_t(k));
                k = -1;
            }
            GSL_SystemBarDel(b->bar);
            b->bar = -1;
        }
        for (int32_t slot = 0; slot <= int32_t(LAYER_VEIL); ++slot) GSL_WorkLayerFree(nullptr, slot);
        for (uint32_t slot = 0; slot <= kTitleText; ++slot) GSL_WorkTextFree(nullptr, slot);
        w->subState = EXIT_WIPE_END;
    }
    if (wipe >= 0) {
        if (GSL_SystemWipeStatus(wipe) != WIPE_FINISHED) return;
        GSL_SystemWipeDel(wipe);
        GSL_WorkWordSet(w, WORD_WIPE, -1);
    }
    if (made & MADE_RATE) {
        const int32_t rate = Clamp(GSL_WorkWord(w, WORD_RATE), 1, 60);
        Lib_FrameRateSet(uint8_t(rate));
    }
    StopReplay();
    if (b) Lib_MemFree(HEAP_SCREEN, b);
    w->words[WORD_WORK] = 0;
    w->words[WORD_MADE] = 0;
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
}
}  // namespace

BacklogWork* GSL_BacklogWork() {
    const ScreenWork* w = GSL_WorkGet(GSL_BacklogModeCB);
    return w ? Work(w) : nullptr;
}

void GSL_BacklogDrawList() {
    ScreenWork* w = GSL_WorkGet(GSL_BacklogModeCB);
    BacklogWork* b = w ? Work(w) : nullptr;
    if (!b) return;
    if (b->selected != b->drawn) {
        b->drawn = b->selected;
        // The pulse starts again on the new line; the one it leaves is plain.
        for (int32_t k = 0; k < kBacklogPage; ++k) Lib_SpriteSetColor(Layer(LAYER_JUMP + uint32_t(k)), kPlain);
        b->angle = 0;
        b->blink = 0;
        const int32_t old = b->top;
        if (b->selected < b->top) b->top = b->selected;
        if (b->selected >= b->top + kBacklogPage) b->top = b->selected - (kBacklogPage - 1);
        if (b->top < 0) b->top = 0;
        if (b->top != old) GSL_SystemBarScroll(b->bar, b->top - old);
        BuildPage(b);
    }
    Replay(b);
    b->angle = (b->angle + 5) % 360;
    const bool replaying = b->replayEntry >= 0;
    if (replaying) b->blink = (b->blink + 1) % 20;
    for (int32_t k = 0; k < kBacklogPage; ++k) {
        const bool lit = replaying && b->replayEntry == b->top + k && b->blink >= 10;
        SetRectItem(Layer(LAYER_VOICE + uint32_t(k)), lit ? kItemVoiceLit : kItemVoice);
    }
}

void GSL_BacklogModeCB() {
    using StepFn = void (*)(ScreenWork*);
    static const StepFn kSteps[] = {Init, Open, Run, Jump, Notice, Exit};
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) {
        Init(nullptr);
        return;
    }
    const int32_t step = w->step;
    if (step >= 0 && step < int32_t(sizeof kSteps / sizeof kSteps[0])) kSteps[step](w);
}
