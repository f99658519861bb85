#include "story/story_window.h"

#include <cstring>

#include "engine/files/message_table.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_load.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "script/flow.h"
#include "script/staffroll.h"
#include "story/access_flags.h"
#include "story/game_state.h"
#include "story/story_screen.h"
#include "script/script_host.h"
#include "ui/color_pulse.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/mode.h"
#include "ui/move_alpha.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/widget_task.h"

int32_t GuideTaskId = -1;
int32_t StoryHoldPictTask = -1;

namespace {
// The story screen's context while its handles are its own.
ScreenWork* Story() {
    ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
    return w && !w->released ? w : nullptr;
}

SpriteRecord* LayerSprite(const ScreenWork* w, int32_t slot) {
    const int32_t h = w->layers[slot].handle;
    return Lib_SpriteIsLive(h) ? Lib_SpriteAt(h) : nullptr;
}
TextRecord* TextOf(const ScreenWork* w, int32_t slot) {
    const int32_t h = w->texts[slot].handle;
    return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
}
void ShowLayer(const ScreenWork* w, int32_t slot, uint8_t on) {
    if (SpriteRecord* s = LayerSprite(w, slot)) s->visible = on;
}
void ShowText(const ScreenWork* w, int32_t slot, uint8_t on) {
    if (TextRecord* t = TextOf(w, slot)) t->state = on ? t->state | TEXT_STATE_DRAWN : t->state & ~TEXT_STATE_DRAWN;
}
bool ScrollBarShown() { return GameStateBlock.stage.scrollFlags & 2; }
bool AttachedPicture(const ScreenWork* w, int32_t slot) {
    const SpriteRecord* s = LayerSprite(w, slot);
    return s && s->priority == kStoryWindowPicturePriority;
}

// Every part of the window: its layer slots and text slots.
template <class Layer, class Text>
void EachPart(const ScreenWork* w, Layer layer, Text text) {
    for (int32_t l = 25; l <= 29; ++l) layer(l);
    for (int32_t t = 0; t <= 5; ++t) text(t);
    for (int32_t l = 40; l <= 47; ++l) layer(l);
    for (int32_t l = 56; l <= 63; ++l) layer(l);
    for (int32_t t = 7; t <= 14; ++t) text(t);
    for (int32_t l = 0; l <= 11; ++l)
        if (AttachedPicture(w, l)) layer(l);
    if (ScrollBarShown())
        for (int32_t l = 32; l <= 39; ++l) layer(l);
}

bool FinishAsked(WidgetWork* head) {
    const TaskRecord* t = GSL_WidgetRecord(head);
    return !t || t->finishRequest;
}

// --- slide store and sound pause ------------------------------------------------
uint8_t g_slideAlpha[5] = {255, 255, 255, 255, 255};
bool g_slidOut = false;
bool g_soundPaused[kScreenSounds] = {};

// --- icon --------------------------------------------------------------------------
struct IconWork {
    WidgetWork head;
    int32_t frames;
    int32_t index;
    int32_t move;
    int32_t fade;
};
constexpr int32_t kIconFrames = 30;
constexpr int32_t kIconGap = 11;  // 8 at 4/3, rounded up

// --- guide -------------------------------------------------------------------------
struct GuideWork {
    WidgetWork head;
    int32_t frames;
    int32_t angle[2];
    int32_t outer[2], text[2], inner[2];
};
constexpr int32_t kGuideLife = 300;

// --- held picture ------------------------------------------------------------------
struct HoldWork {
    WidgetWork head;
    int32_t capture;
    uint32_t hold;  // 1: the picture layers were hidden
};
uint8_t g_heldShows[12] = {};
}  // namespace

void GSL_StoryWindowReset() {
    for (uint8_t& alpha : g_slideAlpha) alpha = 255;
    g_slidOut = false;
    for (bool& paused : g_soundPaused) paused = false;
    for (uint8_t& show : g_heldShows) show = 0;
}

namespace {

void GuideFree(GuideWork* g) {
    for (int i = 0; i < 2; ++i) {
        Lib_SpriteFree(g->outer[i]);
        Lib_SpriteFree(g->inner[i]);
        if (g->text[i] >= 0) Lib_TextDel(g->text[i]);
        g->outer[i] = g->inner[i] = g->text[i] = -1;
    }
}

int32_t Square(int32_t size, float x, float y, int32_t sub, uint32_t colour) {
    const int32_t s = Lib_SpriteLoad(-1, nullptr, -1, 0);
    SpriteRecord* r = Lib_SpriteAt(s);
    if (!r) return s;
    r->scaleX = float(size) / 1280.0f;
    r->scaleY = float(size) / 720.0f;
    r->scaleZ = 0.0f;
    r->posX = x;
    r->posY = y;
    Lib_SpriteSetPrio(s, 403, sub);
    Lib_SpriteSetColor(s, colour);
    Lib_SpriteSetFlag(s, 1);
    return s;
}
}  // namespace

bool GSL_StoryTestFlagRef() {
    int32_t n = 0;
    if (!GSL_VarRefParse("[2003]", &n)) return true;
    if (!((n >= 0 && n <= 23) || (n >= 2000 && n <= 2023))) return true;
    return GSL_VarRead(n) == 0;
}

bool GSL_StoryFlagTest(uint8_t mask) {
    const ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
    return w && (w->words[STORY_FLAGS] & mask) != 0;
}

void GSL_StorySetWindowVisible(uint8_t window, uint8_t names, uint8_t frame, uint8_t texts) {
    const ScreenWork* w = Story();
    if (!w) return;
    ShowLayer(w, 25, window);
    const TextRecord* name = TextOf(w, 0);
    if (!(window && (!name || !name->text[0]))) ShowLayer(w, 26, window);
    ShowLayer(w, 29, frame);
    for (int32_t t = 0; t <= 5; ++t) ShowText(w, t, texts);
    for (int32_t l = 40; l <= 47; ++l) ShowLayer(w, l, names);
    for (int32_t l = 56; l <= 63; ++l) ShowLayer(w, l, names);
    for (int32_t t = 7; t <= 14; ++t) ShowText(w, t, names);
    for (int32_t l = 0; l <= 11; ++l)
        if (AttachedPicture(w, l)) ShowLayer(w, l, window);
    if (ScrollBarShown())
        for (int32_t l = 32; l <= 39; ++l) ShowLayer(w, l, window);
    ShowLayer(w, 27, window);
    ShowLayer(w, 28, window);
}

void GSL_StorySlideWindow(int32_t dy, uint32_t frames, uint8_t flags) {
    const ScreenWork* w = Story();
    if (!w) return;
    if (frames == 0) {
        EachPart(
            w, [&](int32_t l) { if (SpriteRecord* s = LayerSprite(w, l)) s->posY += float(dy); },
            [&](int32_t t) {
                if (TextRecord* r = TextOf(w, t)) {
                    r->y += dy;
                    const TextPos offset{0, dy, 0};
                    Lib_TextRubyMove(r, &offset);
                }
            });
        return;
    }
    const bool fade = flags & 2;
    // The alphas of the frame are saved as it goes out, once: a second slide
    // out (already hidden) would save the faded ones.
    if (fade && dy < 0 && !g_slidOut) {
        for (int32_t l = 25; l <= 29; ++l) {
            const SpriteRecord* s = LayerSprite(w, l);
            g_slideAlpha[l - 25] = s ? uint8_t(s->color >> 24) : 255;
        }
    }
    if (fade) g_slidOut = dy <= 0;
    EachPart(
        w,
        [&](int32_t l) {
            const SpriteRecord* s = LayerSprite(w, l);
            if (!s) return;
            const float goal[3] = {s->posX, s->posY + float(dy), s->posZ};
            GSL_SystemMoveSet(w->layers[l].handle, -1, goal, int32_t(frames), 0, 1, MOVE_POSITION, 7);
            if (fade && l >= 25 && l <= 29)
                GSL_SystemAlphaSet(w->layers[l].handle, -1, dy > 0 ? g_slideAlpha[l - 25] : 0, int32_t(frames) - 1, 1,
                                   1);
        },
        [&](int32_t t) {
            const TextRecord* r = TextOf(w, t);
            if (!r) return;
            const float goal[3] = {float(r->x), float(r->y + dy), float(r->z)};
            GSL_SystemMoveSet(-1, w->texts[t].handle, goal, int32_t(frames), 0, 1, MOVE_POSITION, 7);
            if (fade && t <= 5) GSL_SystemAlphaSet(-1, w->texts[t].handle, dy > 0 ? 255 : 0, int32_t(frames) - 1, 1, 1);
        });
}

void GSL_StoryReleaseChannels(uint8_t pause) {
    ScreenWork* w = Story();
    if (!w) return;
    auto channel = [&](int32_t slot) -> SoundChannel* {
        const int32_t h = w->sounds[slot].handle;
        return h >= 0 && h < kSoundChannels ? &SoundChannelTable[h] : nullptr;
    };
    auto inUse = [](const SoundChannel* ch) { return ch && (ch->st.flags.load() & SOUND_IN_USE); };
    if (pause) {
        for (int32_t slot = 3; slot <= 10; ++slot) {
            SoundChannel* ch = channel(slot);
            g_soundPaused[slot] = false;
            if (inUse(ch) && ch->st.state.load() == SOUND_PAUSED) continue;
            g_soundPaused[slot] = true;
            if (!inUse(ch)) continue;
            if (ch->st.repeat.load() < 0) {
                Lib_SoundPauseSet(*ch, true);
            } else {
                Lib_SoundStop(w->sounds[slot].handle, 0);
                w->sounds[slot].handle = -1;
            }
        }
        for (int32_t slot = 11; slot < kScreenSounds; ++slot) {
            SoundChannel* ch = channel(slot);
            g_soundPaused[slot] = inUse(ch) && ch->st.state.load() >= 2;
            if (g_soundPaused[slot]) Lib_SoundPauseSet(*ch, true);
        }
        return;
    }
    // Voices first, then the effects; a slot the pause emptied has no channel.
    auto resume = [&](int32_t slot) {
        if (!g_soundPaused[slot]) return;
        g_soundPaused[slot] = false;
        if (SoundChannel* ch = channel(slot)) Lib_SoundPauseSet(*ch, false);
    };
    for (int32_t slot = 11; slot < kScreenSounds; ++slot) resume(slot);
    for (int32_t slot = 3; slot <= 10; ++slot) resume(slot);
}

// --- play-mode icon ------------------------------------------------------------------

void GSL_StoryIconClose() {
    ScreenWork* w = Story();
    if (!w) return;
    ShowLayer(w, 31, 0);
    const int32_t id = GSL_WorkWord(w, STORY_ICON);
    if (auto* icon = reinterpret_cast<IconWork*>(GSL_WidgetWorkGet(id, IconCB))) {
        GSL_SystemMoveDel(icon->move);
        GSL_SystemAlphaDel(icon->fade);
        Lib_TaskDel(uint32_t(id));
    }
    GSL_WorkWordSet(w, STORY_ICON, -1);
}

void GSL_StoryIconUpdate() {
    ScreenWork* w = Story();
    if (!w) return;
    const uint32_t mode = StoryPlayMode, last = uint32_t(w->words[STORY_LAST_MODE]);
    if (mode == last) return;
    GSL_SystemSePlay(mode != 0 && mode > last ? 4 : 5);
    GSL_StoryIconClose();
    w->words[STORY_LAST_MODE] = mode;
    if (mode == 0) return;
    auto* icon = reinterpret_cast<IconWork*>(
        GSL_WidgetCreate("IconCB", IconCB, kWidgetPriority, kWidgetGroupScreen, 0));
    if (!icon) return;
    icon->index = mode == PLAY_SKIP ? 10 : mode == PLAY_AUTO ? 9 : 11;
    icon->move = icon->fade = -1;
    GSL_WorkWordSet(w, STORY_ICON, icon->head.slot);
}

int32_t IconCB(void* work) {
    auto* icon = static_cast<IconWork*>(work);
    ScreenWork* w = Story();
    if (!icon || !w || FinishAsked(&icon->head)) return 1;
    switch (icon->head.state) {
        case WIDGET_STARTING: {
            const int32_t sprite = w->layers[31].handle;
            SpriteRecord* s = Lib_SpriteIsLive(sprite) ? Lib_SpriteAt(sprite) : nullptr;
            if (!s) return 0;
            s->visible = GSL_StaffrollIsActive() ? 0 : 1;
            Lib_SpriteSetPrio(sprite, 402, -1);
            LayoutRect r{};
            GSL_LayoutGetRect(&r, 5, icon->index);
            const int32_t rect[4] = {r.x, r.y, r.width, r.height};
            Lib_SpriteSetRect(sprite, rect);
            s->posX = float(-640 - r.width / 2);
            s->posY = float((720 - r.height) / 2);
            s->posZ = 0.0f;
            Lib_SpriteSetColor(sprite, 0xFFFFFFFFu);
            Lib_SpriteSetValue(sprite, 2);
            const float goal[3] = {s->posX + float(r.width + kIconGap), s->posY, 0.0f};
            icon->move = GSL_SystemMoveSet(sprite, -1, goal, kIconFrames, -1, 0, MOVE_POSITION, 7);
            icon->head.state = WIDGET_RUNNING;
            return 0;
        }
        case WIDGET_RUNNING:
            if (GSL_SystemMoveCheck(icon->move) == 0) return 0;
            GSL_SystemMoveDel(icon->move);
            icon->move = -1;
            icon->head.state = WIDGET_FINISHED;
            [[fallthrough]];
        default:
            if (GSL_WorkWord(w, STORY_ICON) == icon->head.slot) GSL_WorkWordSet(w, STORY_ICON, -1);
            return 1;
    }
}

// --- guide ---------------------------------------------------------------------------

void GSL_StoryGuideStart() {
    if (GSL_WidgetWorkGet(GuideTaskId, Guide_CB) || GSL_StaffrollIsActive()) return;
    auto* g = reinterpret_cast<GuideWork*>(
        GSL_WidgetCreate("Guide_CB", Guide_CB, kWidgetPriority, kWidgetGroupSystem, 0));
    GuideTaskId = g ? g->head.slot : -1;
    if (!g) return;
    for (int i = 0; i < 2; ++i) g->outer[i] = g->inner[i] = g->text[i] = -1;
}

void GSL_StoryGuideDel() {
    if (auto* g = reinterpret_cast<GuideWork*>(GSL_WidgetWorkGet(GuideTaskId, Guide_CB))) {
        GuideFree(g);
        Lib_TaskDel(uint32_t(GuideTaskId));
    }
    GuideTaskId = -1;
}

int32_t Guide_CB(void* work) {
    auto* g = static_cast<GuideWork*>(work);
    if (!g) return 1;
    if (g->head.state != WIDGET_FINISHED &&
        (FinishAsked(&g->head) || GSL_ModeTop() != GSL_StoryModeCB || StoryPlayMode != 0 || GSL_StaffrollIsActive()))
        g->head.state = WIDGET_FINISHED;
    switch (g->head.state) {
        case WIDGET_STARTING:
            for (int i = 0; i < 2; ++i) {
                const float x = float(-597 + 1194 * i), y = 317.0f;
                g->outer[i] = Square(86, x, y, 1, 0x80B4A0FFu);
                // Without the interface table there is no label to show.
                if (SysgraMesTable.data) {
                    const char* label = GSL_SysTextGet(&SysgraMesTable, 2, i == 0 ? 15 : 14, 0, nullptr, 0);
                    const TextPos pos{int32_t(x) + 640, int32_t(y) - 360, 0};
                    g->text[i] = Lib_TextSet(-1, label, &pos);
                    if (g->text[i] >= 0 && TextTable[g->text[i]]) {
                        const TextScale scale{0.4f, 0.4f};
                        Lib_TextScaleSet(g->text[i], &scale);
                        Lib_TextPrioSet(g->text[i], 402);
                        Lib_TextRgbaSet(g->text[i], 0xFFB4A0FFu);
                        TextTable[g->text[i]]->renderFlags = TEXT_ALIGN_CENTRE;
                        TextTable[g->text[i]]->state |= TEXT_STATE_DRAWN;
                        GSL_TextShowFully(TextTable[g->text[i]]);
                    }
                }
                g->inner[i] = Square(78, x, y, 0, 0x80D4B420u);
            }
            g->head.state = WIDGET_RUNNING;
            return 0;
        case WIDGET_RUNNING:
            for (int i = 0; i < 2; ++i) GSL_SystemColorCycle(g->outer[i], -1, 212, 180, 32, -16, &g->angle[i]);
            if (++g->frames > kGuideLife) g->head.state = WIDGET_FINISHED;
            return 0;
        default:
            GuideFree(g);
            if (GuideTaskId == g->head.slot) GuideTaskId = -1;
            return 1;
    }
}

// --- held picture ----------------------------------------------------------------------

void GSL_StoryHoldPictStart() {
    if (GSL_WidgetWorkGet(StoryHoldPictTask, StoryHoldPictCB)) return;
    auto* h = reinterpret_cast<HoldWork*>(
        GSL_WidgetCreate("StoryHoldPictCB", StoryHoldPictCB, kWidgetPriority, kWidgetGroupSystem, 0));
    StoryHoldPictTask = h ? h->head.slot : -1;
    if (!h) return;
    h->capture = Lib_SpriteCreateCapture(0, kStoryCapturePriority, 0);
    h->hold = 0;
}

int32_t StoryHoldPictCB(void* work) {
    auto* h = static_cast<HoldWork*>(work);
    if (!h || h->head.state != WIDGET_STARTING) return 0;
    if (Lib_SpriteGetState(h->capture) == 0) return 0;
    Lib_SpriteSetFlag(h->capture, 1);
    Lib_SpriteSetPrio(h->capture, kStoryCapturePriority, -1);
    Lib_SpriteSetValue(h->capture, 2);
    if (const ScreenWork* w = Story()) {
        for (int32_t l = 0; l < 12; ++l) {
            SpriteRecord* s = LayerSprite(w, l);
            if (!s || s->priority == kStoryWindowPicturePriority) continue;
            g_heldShows[l] = s->visible;
            s->visible = 0;
        }
        h->hold |= 1;
    }
    h->head.state = WIDGET_RUNNING;
    return 0;
}

void StoryHoldPictDel() {
    auto* h = reinterpret_cast<HoldWork*>(GSL_WidgetWorkGet(StoryHoldPictTask, StoryHoldPictCB));
    StoryHoldPictTask = -1;
    if (!h) return;
    Lib_SpriteFree(h->capture);
    if (const ScreenWork* w = Story(); w && (h->hold & 1)) {
        for (int32_t l = 0; l < 12; ++l) {
            SpriteRecord* s = LayerSprite(w, l);
            if (s && s->priority != kStoryWindowPicturePriority) s->visible = g_heldShows[l];
        }
    }
    Lib_TaskDel(uint32_t(h->head.slot));
}

// --- history restore ----------------------------------------------------------------------

namespace {
// The label read line n of g goes back to (see GSL_StoryRestoreHistory), -1
// when there is none to go back to; *line: the line's index.
int32_t HistoryLabel(const GameState& g, int32_t n, uint32_t* line) {
    const uint32_t count = g.readLineCount;
    if (count == 0 || count > kReadLineSize) return -1;
    *line = n < 0 ? count - 1 : uint32_t(n);
    if (*line >= count) return -1;
    const uint32_t p = g.readLinePos[*line];
    const uint32_t label = g.readLineLabel[*line];
    if (label >= g.labelCount || label >= kLabelHistorySize) return -1;
    uint32_t used = label;
    if (!g.labelFlags[label]) {
        int32_t k = int32_t(label) - 1;
        while (k >= 0 && !g.labelFlags[k]) --k;
        if (k >= 0 && (g.labelPos[k] >> 20) == (p >> 20)) used = uint32_t(k);
    }
    // A line or label a load could not place lies past its file's end (or
    // names no member): never a place to go on from.
    const char* text = nullptr;
    uint32_t size = 0, at = 0;
    if (!GSL_ScriptMemberName(int32_t(p >> 20)) || !GSL_ScriptPositionText(p, &text, &size, &at) ||
        (p & 0xFFFFF) >= size || !GSL_ScriptPositionText(g.labelPos[used], &text, &size, &at) ||
        (g.labelPos[used] & 0xFFFFF) >= size)
        return -1;
    return int32_t(used);
}
}  // namespace

bool GSL_StoryHistoryRestorable(int32_t n) {
    uint32_t line = 0;
    return HistoryLabel(GameStateBlock, n, &line) >= 0;
}

bool GSL_StoryRestoreHistory(int32_t n, GameState* block) {
    GameState& g = block ? *block : GameStateBlock;
    uint32_t line = 0;
    const int32_t label = HistoryLabel(g, n, &line);
    if (label < 0) return false;
    const uint32_t used = uint32_t(label), p = g.readLinePos[line];
    const char* name = GSL_ScriptMemberName(int32_t(p >> 20));
    std::memcpy(g.gameVars, g.labelVars[used], sizeof g.gameVars);
    g.labelCount = used + 1;
    // A label name from a save may lack its terminator.
    const size_t nameLen = strnlen(g.labelName[used], sizeof g.labelName[used] - 1);
    std::memcpy(g.stage.name, g.labelName[used], nameLen);
    g.stage.name[nameLen] = 0;
    GSL_WorkNameCopy(g.scriptName, sizeof g.scriptName, name);
    g.startOffset = p & 0xFFFFF;
    g.restartOffset = g.labelPos[used] & 0xFFFFF;
    g.readLineCount = line;
    return true;
}
