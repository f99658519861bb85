#include "extras/music_room.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/util.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "extras/extras_skeleton.h"
#include "story/access_flags.h"
#include "story/catalogue.h"
#include "story/game_state.h"
#include "ui/color_pulse.h"
#include "ui/engine_services.h"
#include "ui/layout_table.h"
#include "ui/loading.h"
#include "ui/number_display.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"

static_assert(sizeof(MusicHead) <= sizeof(ScreenWork::words));

namespace {
constexpr MusicPageEntry kPage0[16] = {{1, 0}, {1, 1}, {1, 2},  {1, 3},  {1, 4},  {1, 5},  {1, 6},  {1, 7},
                                       {1, 8}, {1, 9}, {1, 10}, {1, 11}, {1, 12}, {1, 13}, {1, 14}, {1, 15}};
constexpr MusicPageEntry kPage1[5] = {{1, 16}, {1, 17}, {1, 18}, {1, 19}, {1, 20}};
}  // namespace

const MusicPage MusicPageTable[3] = {{kPage0, 16, 0}, {kPage1, 5, 16}, {nullptr, 0, 0}};

namespace {
constexpr int32_t kStepClose = EXTRAS_STEP_OWN;
constexpr int32_t kPages = 2;
constexpr int32_t kBand[4] = {0, 104, 1280, 512};
constexpr int32_t kWholeScreen[4] = {0, 0, 1280, 720};
constexpr float kListTop = 256.0f, kListBottom = -256.0f;
constexpr float kSlotX = -304.0f, kSlotDX = 608.0f, kSlotY = 224.0f, kSlotDY = 64.0f;
constexpr uint32_t kGrey = 0xFF707070u, kWhite = 0xFFFFFFFFu, kPlain = 0xFFF0F0F0u;
constexpr uint32_t kIconOnCursor = 0xFF00FFFFu, kKnobHover = 0xFF8080FFu;
constexpr uint32_t kTitleShade = 0xFFACA30Cu;
constexpr uint32_t kHeadingText = 7;
constexpr uint32_t kTitleSection = 4;
constexpr int32_t kNumberBase = 32;
constexpr int32_t kBarMinimum = 8;
constexpr float kIconOffset = 294.0f;
constexpr float kSliderY = 320.0f;
constexpr int32_t kStopFade = 60;
constexpr int32_t kNarrowWidth = 500;
constexpr float kZoomStep = 0.2f;
constexpr uint16_t kIconPriority = 34001, kIconGroup = 400;
enum : int32_t { KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_DOWN, KEY_PREVIOUS, KEY_NEXT, KEY_QUIETER, KEY_LOUDER };
constexpr uint32_t kKeyMasks[kMusicKeys] = {4096, 16384, 8192, 32768, 64, 128, 256, 512};
constexpr int32_t kKeyIntervals[kMusicKeys] = {5, 5, 5, 5, 5, 5, 1, 1};

ScreenWork* Work() { return GSL_WorkGet(GSL_MusicRoomModeCB); }
MusicHead* Head() { return GSL_MusicHead(Work()); }

const MusicPage& Page(const MusicHead* h) {
    const int32_t p = h && h->page >= 0 && h->page < kPages ? h->page : 0;
    return MusicPageTable[p];
}
int32_t Rows(int32_t n) { return (n + 1) / 2; }
int32_t Entry(const MusicHead* h, int32_t i) {
    const MusicPage& p = Page(h);
    return i >= 0 && i < p.count ? int32_t(p.entries[i].record) : -1;
}
float SlotX(int32_t i) { return kSlotX + float(i % 2) * kSlotDX; }
float SlotY(int32_t i) { return kSlotY - float(i / 2) * kSlotDY; }

int32_t Layer(uint32_t slot) { return GSL_WorkLayerGet(GSL_MusicRoomModeCB, slot); }

void Place(int32_t sprite, float x, float y, float scale, int32_t priority, uint32_t colour, const int32_t* clip) {
    if (!Extras_Place(sprite, x, y, scale, priority, clip)) return;
    if (colour) Lib_SpriteSetColor(sprite, colour);
    Lib_SpriteSetFlag(sprite, 1);
}

void SetScale(int32_t sprite, float scale) {
    if (!Lib_SpriteIsLive(sprite)) return;
    SpriteTable[sprite].scaleX = SpriteTable[sprite].scaleY = scale;
}

int32_t Clamp100(int32_t v) { return v < 0 ? 0 : v > 100 ? 100 : v; }

// Volume and gain of a group of channels, any fade field cleared.
void ChannelsVolume(int32_t first, int32_t last, int32_t volume) {
    for (int32_t c = first; c <= last; ++c) Lib_SoundVolumeSet(c, float(Clamp100(volume)));
}

// Channel 0 in use with a sound that has started.
bool TrackBusy() { return Lib_SoundStateGet(kExtrasTrackChannel) != 0; }

void Move(const MusicHead* h) {
    if (h->playing < 0) GSL_SystemSePlay(SE_MOVE);
}

void FreeButtons(MusicRoomState* st) {
    for (int32_t i = 0; i < kMusicSlots; ++i) {
        Lib_SpriteFree(st->buttons[i]);
        st->buttons[i] = -1;
    }
}

void FreeTitles(MusicRoomState* st) {
    for (int32_t i = 0; i < kMusicSlots; ++i) {
        if (st->titles[i] >= 0) Lib_TextDel(st->titles[i]);
        st->titles[i] = -1;
    }
}

void KnobPlace(int32_t volume) {
    const int32_t knob = Layer(10);
    if (!Lib_SpriteIsLive(knob)) return;
    SpriteTable[knob].posX = kMusicKnobStep * float(volume) - 43.0f;
    SpriteTable[knob].posY = kSliderY;
    SpriteTable[knob].posZ = 0.0f;
}

void ChangePage(ScreenWork* w, MusicHead* h, int32_t side) {
    ExtrasSwipeLatch[side] = 1;
    GSL_SystemSePlay(SE_MOVE);
    h->page = side == 0 ? (h->page - 1 + kPages) % kPages : (h->page + 1) % kPages;
    const int32_t icon = Layer(7);
    const MusicRoomState* st = h->state;
    if (st && st->icon >= 0 && TaskTable.slots[st->icon] && Lib_SpriteIsLive(icon) &&
        !SpriteTable[icon].visible)
        TaskTable.slots[st->icon]->suspended = 1;
    h->zoom = 1.0f;
    w->step = EXTRAS_STEP_CHANGE;
    w->subState = EXTRAS_ZOOM_OUT;
}

void IconSuspend(const MusicHead* h, uint8_t suspended) {
    if (!h->state || h->state->icon < 0 || h->state->icon >= kTaskSlots) return;
    TaskRecord* t = TaskTable.slots[h->state->icon];
    if (t && t->callback == IconWorkSetCB) t->suspended = suspended;
}

// --- steps -------------------------------------------------------------------

void Load(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    MusicHead* h = GSL_MusicHead(w);
    *h = MusicHead{-1, -1, 0, 0, 0, -1, 0, 2, 0, 0, 0, 0, -1, -1, nullptr, 1.0f};
    w->subState = EXTRAS_BUILD_WAIT;
    h->loading = Extras_Open("visual/system/sys_music_bg.ext", "visual/system/sys_music_00.ext", 11);
    h->bar = Extras_BarCreate(kBarMinimum, Rows(MusicPageTable[0].count));
    void* area = Lib_MemAlloc(HEAP_SCREEN, sizeof(MusicRoomState), 4);
    if (area) {
        h->state = new (area) MusicRoomState{};
        MusicRoomState* st = h->state;
        std::memset(st, 0xFF, sizeof(MusicRoomState));
        st->knobReference = 0;
        st->knobDragging = 0;
        st->barReference = 0;
        st->barDragging = 0;
        st->volumeSound = 1;
        for (int32_t k = 0; k < kMusicKeys; ++k) st->keys[k] = GSL_SystemKeySet(kKeyMasks[k], kKeyIntervals[k]);
    }
    Lib_FrameRateSet(60);
    w->step = EXTRAS_STEP_BUILD;
}

void BuildRoom(ScreenWork* w) {
    MusicHead* h = GSL_MusicHead(w);
    GSL_SystemLoadingDel(h->loading);
    h->loading = -1;
    Extras_Heading(kHeadingText);
    const int32_t bg = Layer(0);
    Lib_SpriteSetPrio(bg, 610, -1);
    Lib_SpriteSetFlag(bg, 1);
    // The back button, the arrows and their frames are copies of slot 11.
    const int32_t back = GSL_WorkLayerCopy(nullptr, 1, 11, -1);
    GSL_LayoutSpriteRect(back, 2, 3);
    Place(back, 597.0f, 317.0f, 1.0f, 608, kPlain, nullptr);
    GSL_LayoutSpriteRect(Layer(2), 9, 0);
    Extras_ArrowsSet(11);  // slot 11 holds the system sheet
    GSL_MusicDrawPage(1.0f, 1);
    GSL_SystemBarSetFlag(h->bar, Rows(Page(h).count) > 8 ? 1 : 0);
    const float at[3] = {534.0f, 320.0f, 0.0f};
    h->number = GSL_SystemNumSet(at, kNumberBase);
    GSL_MusicPageText();
    // The slider: a volume the user file may hold out of range is clamped.
    h->volume = Clamp100(SystemDataBlock.musicVolume);
    struct Part {
        uint32_t slot, source;
        int32_t item, priority;
        float x;
        uint8_t shown;
    };
    const Part parts[6] = {{7, 2, 2, 300, 0.0f, 0},     {8, 2, 4, 199, -152.0f, 1}, {9, 2, 5, 199, 43.0f, 1},
                           {10, 2, 6, 198, 0.0f, 1},    {11, 11, 14, 198, -85.0f, 1}, {12, 11, 15, 198, 171.0f, 1}};
    for (const Part& p : parts) {
        const int32_t s = p.slot == p.source ? Layer(p.slot) : GSL_WorkLayerCopy(nullptr, p.slot, p.source, -1);
        if (!Lib_SpriteIsLive(s)) continue;
        GSL_LayoutSpriteRect(s, p.slot >= 11 ? 2 : 9, p.item);
        const bool slider = p.slot >= 8 && p.slot <= 10;
        Place(s, p.x, kSliderY, 1.0f, p.priority, p.slot >= 11 ? kPlain : kWhite, slider ? kWholeScreen : nullptr);
        Lib_SpriteSetFlag(s, p.shown);
    }
    KnobPlace(h->volume);
    if (h->state) {
        const int32_t t = Lib_TaskSet("IconWorkSetCB", IconWorkSetCB, kIconPriority, kIconGroup, 0);
        h->state->icon = t;
    }
}

void Build(ScreenWork* w) {
    MusicHead* h = GSL_MusicHead(w);
    if (w->subState < EXTRAS_BUILD_COUNT) {
        Extras_BuildFade(w, Extras_BuildReady(h->bar, h->loading, true), BuildRoom);
        if (w->subState < EXTRAS_BUILD_COUNT) return;
    }
    GSL_MusicArrowSwing();
    GSL_MusicTrackText(0);
    Extras_BuildCount(w, &h->counter, GSL_MusicRate, h->number, false);
}

// The knob drag: the volume steps of this frame; *endFrame when it ends here.
int32_t KnobDrag(MusicRoomState* st, bool* endFrame) {
    const int32_t knob = Layer(10);
    const int32_t phase = MouseInput.active ? MouseInput.clickPhase : -1;
    if (!st->knobDragging) {
        int32_t own[4] = {-1, 0, 0, 0};
        if (knob >= 0 && GSL_SystemHitPress(0, knob, own, 0) == 1) {
            st->knobDragging = 1;
            st->knobReference = 0;
            *endFrame = true;
        }
        return 0;
    }
    const int32_t x = MouseInput.x, y = MouseInput.y;
    if (phase != 2 || x < 0 || x > 1279 || y < 0 || y > 719) {
        st->knobDragging = 0;
        st->knobReference = 0;
        *endFrame = true;
        return 0;
    }
    // The reference counts the steps already taken, so the knob stays under
    // the pointer at any drag speed.
    const float q = float(PointerGesture.current.x - PointerGesture.press.x) / kMusicKnobStep;
    int32_t total = int32_t(std::lround(q));
    if (total > 100) total = 100;
    if (total < -100) total = -100;
    const int32_t step = total - st->knobReference;
    st->knobReference = total;
    return step;
}

void Activate(ScreenWork* w, MusicHead* h, bool* endFrame) {
    (void)w;
    const int32_t c = Entry(h, h->cursor);
    if (!GSL_MusicIsOpen(c)) {
        GSL_SystemSePlay(SE_ERROR);
        return;
    }
    if (c == h->playing && GSL_MusicStop(h)) {
        *endFrame = true;
        return;
    }
    GSL_MusicPlay(h);
}

void Main(ScreenWork* w) {
    MusicHead* h = GSL_MusicHead(w);
    MusicRoomState* st = h->state;
    if (!st) return;
    Lib_SpriteSetColor(Layer(11), kPlain);
    Lib_SpriteSetColor(Layer(12), kPlain);
    bool endFrame = false;
    const int32_t step = KnobDrag(st, &endFrame);
    if (endFrame) return;
    {
        int32_t own[4] = {-1, 0, 0, 0};
        const int32_t knob = Layer(10);
        if (knob >= 0) Lib_SpriteSetColor(knob, GSL_SystemHitOver(0, knob, own, 0) == 2 ? kKnobHover : kWhite);
    }
    const MusicPage& page = Page(h);
    const int32_t n = page.count, r = Rows(n), m = 2 * r;
    bool clicked = false;
    float ys[kMusicSlots];
    for (int32_t i = 0; i < kMusicSlots; ++i) ys[i] = SlotY(i);
    const int32_t hovered =
        Extras_HoverScan(st->buttons, ys, n < kMusicSlots ? n : kMusicSlots, h->cursor, kListTop, kListBottom, &clicked);
    if (step != 0) GSL_MusicVolume(h, int8_t(step), 0);
    const bool back = Extras_Clicked(Layer(1), kPlain, kWhite);
    if ((InputButtons.pressed & BUTTON_CANCEL) || back) {
        if (GSL_MusicStop(h)) return;
        GSL_SystemSePlay(SE_CANCEL);
        w->step = kStepClose;
        w->subState = SUBSTATE_ENTRY;
        return;
    }
    if ((InputButtons.pressed & BUTTON_DECIDE) || (clicked && hovered == h->cursor)) {
        Activate(w, h, &endFrame);
        if (endFrame) return;
    } else if (hovered >= 0 && hovered != h->cursor) {
        Move(h);
        h->cursor = hovered;
    } else if (GSL_SystemKeyFires(st->keys[KEY_LEFT])) {
        Move(h);
        h->cursor = (h->cursor - 1 + n) % n;
    } else if (GSL_SystemKeyFires(st->keys[KEY_RIGHT])) {
        Move(h);
        h->cursor = (h->cursor + 1) % n;
    } else if (GSL_SystemKeyFires(st->keys[KEY_UP]) || GSL_SystemBarFires(h->bar, BAR_UP)) {
        Move(h);
        int32_t c = (h->cursor - 2 + m) % m;
        if (c >= n) c = c / 2 == r - 1 ? n - 1 : (c - 2 + m) % m;
        h->cursor = c;
    } else if (GSL_SystemKeyFires(st->keys[KEY_DOWN]) || GSL_SystemBarFires(h->bar, BAR_DOWN)) {
        Move(h);
        int32_t c = (h->cursor + 2) % m;
        if (c >= n) c = c / 2 == r - 1 ? n - 1 : (c + 2) % m;
        h->cursor = c;
    } else if (GSL_SystemKeyFires(st->keys[KEY_PREVIOUS]) || (!st->knobDragging && Extras_Swipe(0, 3))) {
        ChangePage(w, h, 0);
        return;
    } else if (GSL_SystemKeyFires(st->keys[KEY_NEXT]) || (!st->knobDragging && Extras_Swipe(1, 4))) {
        ChangePage(w, h, 1);
        return;
    } else if (GSL_SystemKeyFires(st->keys[KEY_QUIETER]) || Extras_Clicked(Layer(11), 0, 0)) {
        GSL_MusicVolume(h, -1, st->volumeSound);
        st->volumeSound ^= 1;
    } else if (GSL_SystemKeyFires(st->keys[KEY_LOUDER]) || Extras_Clicked(Layer(12), 0, 0)) {
        GSL_MusicVolume(h, 1, st->volumeSound);
        st->volumeSound ^= 1;
    } else if (!(InputButtons.held & (256u | 512u))) {
        st->volumeSound = 1;
    }
    Lib_SpriteSetColor(Layer(5), Lib_SpriteGetColor(Layer(3)));
    Lib_SpriteSetColor(Layer(6), Lib_SpriteGetColor(Layer(4)));
    GSL_MusicSelectUpdate();
    GSL_SystemColorCycle(Layer(2), -1, 255, 255, 255, -32, &h->counter);
    GSL_MusicArrowSwing();
    GSL_MusicTrackText(0);
    if (InputButtons.held & 256u) Lib_SpriteSetColor(Layer(11), kWhite);
    if (InputButtons.held & 512u) Lib_SpriteSetColor(Layer(12), kWhite);
}

void Transition(ScreenWork* w) {
    MusicHead* h = GSL_MusicHead(w);
    MusicRoomState* st = h->state;
    GSL_MusicArrowSwing();
    if (!st) return;
    if (w->subState == EXTRAS_ZOOM_OUT || w->subState == EXTRAS_ZOOM_IN) {
        const bool down = w->subState == EXTRAS_ZOOM_OUT;
        if (down) IconSuspend(h, 1);
        const bool end = Extras_ZoomStep(&h->zoom, down ? -kZoomStep : kZoomStep);
        SetScale(Layer(2), h->zoom);
        for (int32_t i = 0; i < kMusicSlots; ++i) SetScale(st->buttons[i], h->zoom);
        if (end) {
            if (down) {
                h->zoom = 0.0f;
                GSL_MusicRedraw(0.0f, 0);
                w->subState = EXTRAS_ZOOM_IN;
            } else {
                Lib_SpriteSetFlag(Layer(2), 1);
                if (h->cursor >= 0 && h->cursor < kMusicSlots) Lib_SpriteSetColor(st->buttons[h->cursor], kWhite);
                w->subState = SUBSTATE_CLOSE;
            }
        }
        GSL_MusicTrackText(0);
        return;
    }
    IconSuspend(h, 0);
    GSL_MusicTrackText(0);
    w->subState = SUBSTATE_ENTRY;
    w->step = EXTRAS_STEP_MAIN;
}

void Release(ScreenWork* w) {
    MusicHead* h = GSL_MusicHead(w);
    const bool black = Extras_CloseFade();
    GSL_MusicArrowSwing();
    if (TrackBusy() || !black) return;
    Lib_FrameRateSet(60);
    if (MusicRoomState* st = h->state) {
        FreeButtons(st);
        FreeTitles(st);
        for (int32_t k = 0; k < kMusicKeys; ++k) {
            if (st->keys[k] >= 0 && GSL_SystemKeyGet(st->keys[k]) >= 0) Lib_TaskDel(uint32_t(st->keys[k]));
            st->keys[k] = -1;
        }
    }
    GSL_SystemBarDel(h->bar);
    GSL_SystemNumDel(h->number);
    h->bar = h->number = -1;
    ChannelsVolume(19, 22, SystemDataBlock.systemVolume);
    ChannelsVolume(0, 2, SystemDataBlock.musicVolume);
    if (MusicRoomState* st = h->state) {
        if (st->icon >= 0 && st->icon < kTaskSlots && TaskTable.slots[st->icon] &&
            TaskTable.slots[st->icon]->callback == IconWorkSetCB)
            Lib_TaskDel(uint32_t(st->icon));
        Lib_MemFree(HEAP_SCREEN, st);
        h->state = nullptr;
    }
    GSL_WorkDelete(nullptr);
    if (GSL_ModeCount() > 1) GSL_ModePop();
}

void TitlePlace(int32_t text, int32_t button) {
    TextRecord* r = text >= 0 && text < kTextSlots ? TextTable[text] : nullptr;
    if (!r) return;
    if (!Lib_SpriteIsLive(button)) {
        Lib_TextRgbaSet(text, kWhite);
        r->state &= uint8_t(~TEXT_STATE_DRAWN);
        return;
    }
    const SpriteRecord& b = SpriteTable[button];
    Lib_TextRgbaSet(text, b.color);
    const TextScale scale{b.scaleX * 0.5f, b.scaleY * 0.5f};
    Lib_TextScaleSet(text, &scale);
    const int32_t width = b.srcRect[2], height = b.srcRect[3];
    const TextPos pos{640 + int32_t(b.posX) - width / 2 + Lib_Size43(40 + int32_t(172.0f * (1.0f - b.scaleX))),
                      int32_t(b.posY) - 360 + height / 2 - Lib_Size43(15 + int32_t(16.0f * (1.0f - b.scaleY))), 0};
    Lib_TextPosSet(text, &pos);
    if (b.scaleX == 1.0f)
        r->state |= TEXT_STATE_DRAWN;
    else
        r->state &= uint8_t(~TEXT_STATE_DRAWN);
}
}  // namespace

MusicHead* GSL_MusicHead(ScreenWork* w) { return w ? reinterpret_cast<MusicHead*>(w->words) : nullptr; }

void GSL_MusicRoomModeCB() {
    static constexpr ExtrasStep kSteps[] = {Load, Build, Main, Transition, Release};
    Extras_Dispatch(GSL_MusicRoomModeCB, kSteps, int32_t(std::size(kSteps)));
}

int32_t GSL_MusicDisplayIndex(int32_t i, int32_t n) { return i % 2 == 0 ? i / 2 : i / 2 + (n + 1) / 2; }

bool GSL_MusicIsOpen(int32_t record) {
    if (record < 0 || record >= kBgmTrackCount) return false;
    const BgmTrackRecord t = GSL_BgmTrackGet(record);
    return StoryAccessFlagBGM(t.name, t.id, 0) != 0;
}

int32_t GSL_MusicRate() {
    int32_t u = 0;
    for (int32_t k = 0; k < kBgmTrackCount; ++k)
        if (GSL_MusicIsOpen(k)) ++u;
    const int32_t rate = 100 * u / kBgmTrackCount;
    return rate == 0 && u > 0 ? 1 : rate;
}

int32_t GSL_MusicGetPage() {
    const MusicHead* h = Head();
    return h ? h->page : 0;
}

int32_t GSL_MusicRowCount() { return Rows(Page(Head()).count); }

void GSL_MusicPageText() { Extras_Counter(GSL_MusicRoomModeCB, GSL_MusicGetPage() + 1, kPages); }

void GSL_MusicTrackText(uint8_t rebuild) {
    MusicHead* h = Head();
    if (!h || !h->state || !SysgraMesTable.data) return;
    MusicRoomState* st = h->state;
    const int32_t n = Page(h).count;
    if (rebuild) {
        FreeTitles(st);
        for (int32_t i = 0; i < n && i < kMusicSlots; ++i) {
            char text[kMesTextSize + 64];  // the text object keeps 1535 bytes of it
            if (!GSL_MusicIsOpen(Entry(h, i))) {
                std::snprintf(text, sizeof text, "? ? ?");
            } else {
                const int32_t k = 16 * h->page + GSL_MusicDisplayIndex(i, n);
                char title[kMesTextSize];
                GSL_SysTextGet(&SysgraMesTable, kTitleSection, uint32_t(k), 0, title, sizeof title);
                TextRect size{};
                const TextScale half{0.5f, 0.5f};
                Lib_TextMeasure(&size, title, &half, nullptr, 0, 2);
                if (Lib_TextRectWidth(size) < kNarrowWidth)
                    std::snprintf(text, sizeof text, "%02d.%s", int(k + 1), title);
                else
                    std::snprintf(text, sizeof text, "%02d.#Size[0.4,%.2f]%s#Size[%.2f,%.2f]", int(k + 1), 0.5, title,
                                  0.5, 0.5);
            }
            const TextPos origin{0, 0, 0};
            const int32_t t = Lib_TextSet(-1, text, &origin);
            st->titles[i] = t;
            TextRecord* r = t >= 0 ? TextTable[t] : nullptr;
            if (!r) continue;
            Lib_TextPrioSet(t, 607);
            r->outline = kTitleShade;
            GSL_TextShowFully(r);
        }
    }
    for (int32_t i = 0; i < kMusicSlots; ++i) {
        if (st->titles[i] < 0) continue;
        TitlePlace(st->titles[i], st->buttons[i]);
    }
}

void GSL_MusicDrawPage(float scale, uint8_t bandShown) {
    MusicHead* h = Head();
    if (!h || !h->state) return;
    MusicRoomState* st = h->state;
    const int32_t band = Layer(2);
    Place(band, kSlotX, kSlotY, scale, 606, 0, kBand);
    Lib_SpriteSetFlag(band, bandShown);
    FreeButtons(st);
    const int32_t n = Page(h).count;
    for (int32_t i = 0; i < n && i < kMusicSlots; ++i) {
        if (band < 0) break;
        const int32_t b = Lib_SpriteCopy(-1, band);
        st->buttons[i] = b;
        if (b < 0) continue;
        GSL_LayoutSpriteRect(b, 9, 1);
        Place(b, SlotX(i), SlotY(i), scale, 608, (i == 0 && bandShown) ? kWhite : kGrey, kBand);
    }
    GSL_MusicTrackText(1);
}

void GSL_MusicSelectUpdate() {
    MusicHead* h = Head();
    if (!h || !h->state || h->cursor == h->shown) return;
    MusicRoomState* st = h->state;
    const int32_t band = Layer(2);
    if (Lib_SpriteIsLive(band)) {
        SpriteTable[band].posX = SlotX(h->cursor);
        SpriteTable[band].posY = SlotY(h->cursor);
    }
    if (h->cursor >= 0 && h->cursor < kMusicSlots) Lib_SpriteSetColor(st->buttons[h->cursor], kWhite);
    if (h->shown >= 0 && h->shown < kMusicSlots) Lib_SpriteSetColor(st->buttons[h->shown], kGrey);
    h->counter = 0;
    h->shown = h->cursor;
}

void GSL_MusicRedraw(float scale, uint8_t bandShown) {
    MusicHead* h = Head();
    if (!h) return;
    h->cursor = h->shown = h->topRow = 0;
    GSL_MusicDrawPage(scale, bandShown);
    const int32_t rows = Rows(Page(h).count);
    GSL_SystemBarScroll(h->bar, -100);
    GSL_SystemBarSetFlag(h->bar, rows > 8 ? 1 : 0);
    GSL_SystemBarSetRange(h->bar, kBarMinimum, rows);
    GSL_MusicPageText();
}

void GSL_MusicArrowSwing() {
    MusicHead* h = Head();
    if (h) Extras_ArrowBob(&h->arrowAngle);
}

void GSL_MusicIconUpdate() {
    MusicHead* h = Head();
    if (!h) return;
    const int32_t icon = Layer(7);
    if (h->playing < 0) {
        h->iconFrame = 2;
        h->iconTimer = 0;
        GSL_LayoutSpriteRect(icon, 9, 2);
        ChannelsVolume(19, 22, SystemDataBlock.systemVolume);
        return;
    }
    if (++h->iconTimer >= 16) {
        h->iconTimer = 0;
        h->iconFrame = h->iconFrame == 3 ? 2 : 3;
        GSL_LayoutSpriteRect(icon, 9, h->iconFrame);
    }
    const bool onCursor = h->playing / 16 == h->page && Entry(h, h->cursor) == h->playing;
    Lib_SpriteSetColor(icon, onCursor ? kIconOnCursor : kWhite);
    ChannelsVolume(19, 22, 0);
}

int32_t IconWorkSetCB(void*) {
    MusicHead* h = Head();
    if (!h || !h->state) return 0;
    const int32_t p = h->playing;
    const int32_t icon = Layer(7);
    if (Lib_SpriteIsLive(icon)) {
        Lib_SpriteSetFlag(icon, p >= 0 && p / 16 == h->page ? 1 : 0);
        const int32_t b = p >= 0 ? h->state->buttons[p % 16] : -1;
        if (Lib_SpriteIsLive(b)) {
            SpriteTable[icon].posX = SpriteTable[b].posX - kIconOffset;
            SpriteTable[icon].posY = SpriteTable[b].posY;
            SpriteTable[icon].posZ = SpriteTable[b].posZ;
        }
    }
    GSL_MusicIconUpdate();
    return 0;
}

void GSL_MusicPlay(MusicHead* h) {
    if (!h) return;
    const int32_t c = Entry(h, h->cursor);
    if (c < 0) return;
    const BgmTrackRecord t = GSL_BgmTrackGet(c);
    char path[kScreenNameSize];
    std::snprintf(path, sizeof path, "%s%s%s", "sound/bgm/", t.name, ".oggl");
    h->playing = c;
    GSL_WorkSoundSet(GSL_MusicRoomModeCB, 0, {.file = path, .extra = t.id});
}

bool GSL_MusicStop(MusicHead* h) {
    if (!h || !TrackBusy()) return false;
    h->playing = -1;
    // The slot forgets its channel at the first stop; a second one during the
    // fade starts the fade again from the current level.
    if (GSL_WorkSoundGet(GSL_MusicRoomModeCB, 0) == kExtrasTrackChannel)
        GSL_WorkSoundStop(GSL_MusicRoomModeCB, 0, kStopFade);
    else
        Lib_SoundStop(kExtrasTrackChannel, kStopFade);
    return true;
}

void GSL_MusicVolume(MusicHead* h, int8_t delta, uint8_t playSound) {
    if (!h) return;
    const int32_t v = h->volume;
    int32_t d = delta;
    if (v > 0 && v + d < 0) {
        d = -v;
    } else if (v + d < 0 || v + d > 100) {
        if (v >= 100 || v + d < 0) return;
        d = 100 - v;
    }
    if (playSound && h->playing < 0) GSL_SystemSePlay(SE_MOVE);
    h->volume = v + d;
    ChannelsVolume(0, 2, h->volume);
    KnobPlace(h->volume);
}
