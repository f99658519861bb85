#include "extras/gallery.h"

#include <cstring>
#include <iterator>
#include <new>

#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/util.h"
#include "engine/files/file_loader.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_load.h"
#include "extras/gallery_tables.h"
#include "story/access_flags.h"
#include "story/game_state.h"
#include "ui/color_pulse.h"
#include "ui/layout_table.h"
#include "ui/loading.h"
#include "ui/move_alpha.h"
#include "ui/number_display.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/scroll_bar.h"
#include "ui/system_sound.h"
#include "ui/widget_task.h"

static_assert(sizeof(GalleryHead) <= sizeof(ScreenWork::words));

namespace {
constexpr int32_t kStepClose = EXTRAS_STEP_OWN;
constexpr float kCellX = -392.0f, kCellDX = 262.0f, kCellY = 155.0f;
constexpr float kBandTop = 268.0f, kBandBottom = -258.0f;
constexpr int32_t kBand[4] = {0, 92, 1280, 526};
constexpr uint32_t kGrey = 0xFFC0C0C0u, kWhite = 0xFFFFFFFFu, kPlain = 0xFFF0F0F0u;
constexpr int32_t kMusicRecord = 16;
constexpr uint32_t kHeadingText = 6;
constexpr int32_t kNumberBase = 32;
constexpr int32_t kVisibleRows = 3;
constexpr ExtrasGrid kGrid{kGalleryColumns, kGalleryPitch, kVisibleRows};
constexpr float kZoomStep = 0.2f;

// The container wait's work: the built wait and the loader's targets.
struct GroupWork {
    SpriteGroupWaitWork wait;
    void* data;
    uint32_t size;
};
static_assert(sizeof(GroupWork) <= kSpriteTaskWork);

struct SetNowSelectWork {
    WidgetWork head;
    int32_t category, thumbnail;
    ModeFunction screen;
};
static_assert(sizeof(SetNowSelectWork) <= kWidgetWorkSize);

ScreenWork* Work() { return GSL_WorkGet(GSL_GalleryModeCB); }

// The container wait's work while the task in `slot` is one.
GroupWork* GroupWorkOf(int32_t slot) {
    if (slot < 0 || slot >= kTaskSlots) return nullptr;
    const TaskRecord* t = TaskTable.slots[slot];
    if (!t || t->dead || t->callback != Lib_SpriteLoadGroupCB) return nullptr;
    return static_cast<GroupWork*>(t->work);
}

const GalleryCategory& Category(const GalleryHead* h) {
    const int32_t c = h->category >= 0 && h->category < kGalleryCategoryCount ? h->category : 0;
    return GSL_GalleryGetTable()[c];
}

float CellX(int32_t i) { return kCellX + float(i % kGalleryColumns) * kCellDX; }
float CellY(int32_t i) { return kCellY - float(i / kGalleryColumns) * kGalleryPitch; }
// Where the cell stands with the rows scrolled: its sprite may have failed.
float PlaceY(const GalleryHead* h, int32_t i) { return CellY(i) + kGalleryPitch * float(h->topRow); }

int32_t Rows(int32_t count) { return (count + kGalleryColumns - 1) / kGalleryColumns; }

void Place(int32_t sprite, float x, float y, float scale, int32_t priority, uint32_t colour) {
    if (!Extras_Place(sprite, x, y, scale, priority, kBand)) return;
    Lib_SpriteSetColor(sprite, colour);
    Lib_SpriteSetFlag(sprite, 1);
}

void SetScale(int32_t sprite, float scale) {
    if (!Lib_SpriteIsLive(sprite)) return;
    SpriteTable[sprite].scaleX = SpriteTable[sprite].scaleY = scale;
}

int32_t Unlocked(int32_t first, int32_t count) {
    int32_t total = 0;
    const int32_t* ids = GSL_GalleryPictureIds(&total);
    int32_t u = 0;
    for (int32_t k = first; k < first + count && k < total; ++k)
        if (k >= 0 && StoryAccessFlagGal(nullptr, ids[k], 0)) ++u;
    return u;
}

int32_t Sway(int32_t badge) {
    WidgetWork* head = GSL_WidgetCreate("GSL_SystemFbSetCB", GSL_SystemFbSetCB, kWidgetPriority, kWidgetGroupScreen, 0);
    if (!head) return -1;
    auto* w = reinterpret_cast<SwayWork*>(head);
    w->sprite = badge;
    w->amplitudeX = w->amplitudeY = 4;
    w->speedMin = 0;
    w->speedMax = 3;
    w->angle1 = w->angle2 = 0;
    w->sign1 = Lib_Random(0, 1) == 1 ? -1 : 1;
    w->sign2 = Lib_Random(0, 1) == 1 ? -1 : 1;
    return head->slot;
}

void FreeCells(GalleryState* st) {
    for (int32_t i = 0; i < kGalleryCells; ++i) {
        GSL_SystemFbDel(st->sways[i]);
        Lib_SpriteFree(st->cells[i]);
        Lib_SpriteFree(st->badges[i]);
        st->cells[i] = st->badges[i] = st->sways[i] = -1;
    }
}

// A cell's thumbnail from the cached container, or a failed sprite.
int32_t Thumbnail(const GalleryHead* h, int32_t global) {
    char name[kSpriteMemberNameSize];
    GSL_GalleryThumbName(global, name, sizeof name);
    const auto* wait = GroupWorkOf(h->groupLoad);
    int32_t s = -1;
    if (wait && wait->wait.state == SPRITE_WAIT_LOADED) s = Lib_SpriteLoadGroup2(-1, kGalleryThumbArc, name, -1, 0);
    if (s < 0) {
        s = Lib_SpriteGetFree(-1);
        if (s >= 0) SpriteTable[s].flags |= SPRITE_FAILED;
        return s;
    }
    if (SpriteTable[s].flags & SPRITE_FAILED) Lib_DebugPrintf("Error -> Lib_ArcGetData(%s)\n", name);
    return s;
}

int32_t Cursor() { return GSL_WorkLayerGet(GSL_GalleryModeCB, 2); }

void Colour(const GalleryState* st, int32_t i, uint32_t colour) {
    if (i < 0 || i >= kGalleryCells) return;
    Lib_SpriteSetColor(st->cells[i], colour);
    Lib_SpriteSetColor(st->badges[i], colour);
}

void Redraw(GalleryHead* h, float scale, bool cursorShown) {
    h->selection = h->shown = h->topRow = 0;
    GSL_GalleryDrawPage(scale, cursorShown);
    const int32_t rows = Rows(Category(h).count);
    GSL_SystemBarScroll(h->bar, -100);
    GSL_SystemBarSetFlag(h->bar, rows > kVisibleRows ? 1 : 0);
    GSL_SystemBarSetRange(h->bar, kExtrasBarMinimum, rows);
    Extras_Counter(GSL_GalleryModeCB, h->category + 1, kGalleryCategoryCount);
}

void Follow(GalleryHead* h, bool animated) {
    GalleryState* st = h->state;
    if (h->selection == h->shown || !st) return;
    const int32_t sel = h->selection;
    const int32_t cursor = Cursor();
    const int32_t d = Extras_FollowCursor(kGrid, sel, cursor, CellX(sel), PlaceY(h, sel), h->bar, &h->topRow);
    if (d != 0) {
        int32_t sprites[1 + 2 * kGalleryCells];
        sprites[0] = cursor;
        std::memcpy(sprites + 1, st->cells, sizeof st->cells);
        std::memcpy(sprites + 1 + kGalleryCells, st->badges, sizeof st->badges);
        const int32_t task = Extras_ScrollSprites(sprites, 1 + 2 * kGalleryCells, d, kGalleryPitch, animated, 0);
        if (animated) h->moveTask = task;
    }
    Colour(st, sel, kWhite);
    if (h->shown != sel) Colour(st, h->shown, kGrey);
    h->counter = 0;
    h->shown = sel;
}

void ChangeCategory(ScreenWork* w, GalleryHead* h, int32_t side) {
    ExtrasSwipeLatch[side] = 1;
    GSL_SystemSePlay(SE_MOVE);
    h->category = (h->category + (side == 0 ? 5 : 1)) % kGalleryCategoryCount;
    h->zoom = 1.0f;
    w->step = EXTRAS_STEP_CHANGE;
    w->subState = EXTRAS_ZOOM_OUT;
}

// --- steps -------------------------------------------------------------------

void Load(ScreenWork*) {
    static const char* const kLast[2] = {"event_other_last1", "event_other_last2"};
    for (int k = 0; k < 2; ++k) {
        if (!SystemDataBlock.systemVars[16 + k]) continue;
        char name[64];
        Lib_PathGetName(kLast[k], name, 0);
        char sjis[1024];
        Lib_Utf8ToSjis(name, std::strlen(name), sjis);
        StoryAccessFlagGal(sjis, -1, 1);
    }
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    GalleryHead* h = GSL_GalleryHead(w);
    *h = GalleryHead{-1, -1, 0, 0, 0, -1, 0, 0, 0, -1, -1, nullptr, 1.0f};
    w->subState = EXTRAS_BUILD_WAIT;
    h->loading = Extras_Open("visual/system/sys_gallery_bg.ext", "visual/system/sys_gallery_00.ext", 1);
    h->bar = Extras_BarCreate(kExtrasBarMinimum, Rows(GSL_GalleryGetTable()[0].count));
    void* area = Lib_MemAlloc(HEAP_SCREEN, sizeof(GalleryState), 4);
    if (area) {
        h->state = new (area) GalleryState{};
        std::memset(h->state, 0xFF, sizeof(GalleryState));
        h->state->drag = ExtrasDrag{0, 0};
        Extras_KeysStart(h->state->keys);
    }
    const int32_t task = Lib_TaskSet("Lib_SpriteLoadGroupCB", Lib_SpriteLoadGroupCB, kSpriteTaskPriority,
                                     kSpriteTaskGroup, 0);
    void* work = task >= 0 ? Lib_TaskWorkAlloc(uint32_t(task), kSpriteTaskWork) : nullptr;
    if (work) {
        std::memset(work, 0, kSpriteTaskWork);
        auto* g = static_cast<GroupWork*>(work);
        char name[kFileNameSize];
        std::strcpy(name, kGalleryThumbArc);
        g->wait.request = Lib_FileLoadReq(kFileTypeCache, name, &g->data, &g->size, 256);
        h->groupLoad = task;
    } else if (task >= 0) {
        Lib_TaskDel(uint32_t(task));
    }
    Lib_FrameRateSet(60);
    w->step = EXTRAS_STEP_BUILD;
}

bool GroupDone(const GalleryHead* h) {
    const auto* g = GroupWorkOf(h->groupLoad);
    return !g || g->wait.state != SPRITE_WAIT_PENDING;
}

void BuildPage(ScreenWork* w) {
    GalleryHead* h = GSL_GalleryHead(w);
    Extras_TrackPlay(kMusicRecord);
    GSL_SystemLoadingDel(h->loading);
    h->loading = -1;
    Extras_PageShow(kHeadingText);
    GSL_LayoutSpriteRect(Cursor(), 8, 0);
    Extras_ArrowsSet();
    GSL_GalleryDrawPage(1.0f, true);
    GSL_SystemBarSetFlag(h->bar, Rows(Category(h).count) > kVisibleRows ? 1 : 0);
    const float at[3] = {534.0f, 320.0f, 0.0f};
    h->number = GSL_SystemNumSet(at, kNumberBase);
    Extras_Counter(nullptr, h->category + 1, kGalleryCategoryCount);
}

void Build(ScreenWork* w) {
    GalleryHead* h = GSL_GalleryHead(w);
    if (w->subState < EXTRAS_BUILD_COUNT) {
        Extras_BuildFade(w, Extras_BuildReady(h->bar, h->loading, GroupDone(h)), BuildPage);
        return;
    }
    Extras_ArrowBob(&h->arrowAngle);
    Extras_BuildCount(w, &h->counter, GSL_GalleryRate, h->number, true);
}

void Main(ScreenWork* w) {
    GalleryHead* h = GSL_GalleryHead(w);
    GalleryState* st = h->state;
    if (!st) return;
    if (h->moveTask >= 0) {
        if (GSL_SystemMoveCheck(h->moveTask) != 0) {
            GSL_SystemMoveDel(h->moveTask);
            h->moveTask = -1;
        }
        return;
    }
    const GalleryCategory& cat = Category(h);
    const int32_t count = cat.count, rows = Rows(count);
    int32_t delta = 0;
    if (rows > kVisibleRows) {
        bool endFrame = false;
        delta = Extras_BarDrag(&st->drag, h->bar, rows, &endFrame);
        if (endFrame) return;
    }
    int32_t hovered = -1;
    bool clicked = false;
    if (!st->drag.dragging) {
        float ys[kGalleryCells];
        for (int32_t i = 0; i < kGalleryCells; ++i) ys[i] = PlaceY(h, i);
        hovered = Extras_HoverScan(st->cells, ys, count < kGalleryCells ? count : kGalleryCells, h->selection,
                                   kBandTop, kBandBottom, &clicked);
    }
    const bool back = Extras_Clicked(GSL_WorkLayerGet(nullptr, 1), kPlain, kWhite);
    if ((InputButtons.pressed & BUTTON_CANCEL) || back) {
        GSL_SystemSePlay(SE_CANCEL);
        GSL_WorkSoundStop(nullptr, 0, 60);
        w->step = kStepClose;
        w->subState = SUBSTATE_ENTRY;
        return;
    }
    if (!st->drag.dragging) {
        const bool confirm = InputButtons.pressed & BUTTON_DECIDE;
        const int32_t m = rows * kGalleryColumns;
        if (!confirm && hovered < 0) {
            int32_t sel = h->selection;
            if (GSL_SystemKeyFires(st->keys[EXTRAS_KEY_LEFT])) {
                GSL_SystemSePlay(SE_MOVE);
                sel = (sel + count - 1) % count;
            } else if (GSL_SystemKeyFires(st->keys[EXTRAS_KEY_RIGHT])) {
                GSL_SystemSePlay(SE_MOVE);
                sel = (sel + 1) % count;
            } else if (GSL_SystemKeyFires(st->keys[EXTRAS_KEY_UP]) || GSL_SystemBarFires(h->bar, BAR_UP)) {
                GSL_SystemSePlay(SE_MOVE);
                sel = (sel - kGalleryColumns + m) % m;
                if (sel >= count) sel = count - 1;
            } else if (GSL_SystemKeyFires(st->keys[EXTRAS_KEY_DOWN]) || GSL_SystemBarFires(h->bar, BAR_DOWN)) {
                GSL_SystemSePlay(SE_MOVE);
                sel = (sel + kGalleryColumns) % m;
                if (sel >= count) sel = count - 1;
            } else if (GSL_SystemKeyFires(st->keys[EXTRAS_KEY_A]) || Extras_Swipe(0, 3)) {
                ChangeCategory(w, h, 0);
                return;
            } else if (GSL_SystemKeyFires(st->keys[EXTRAS_KEY_D]) || Extras_Swipe(1, 4)) {
                ChangeCategory(w, h, 1);
                return;
            }
            h->selection = sel;
        } else if (!confirm && hovered != h->selection) {
            GSL_SystemSePlay(SE_MOVE);
            h->selection = hovered;
        } else {
            const GalleryThumb& t = cat.thumbnails[h->selection];
            if (!GSL_GalleryAnyOpen(t.firstPicture, t.count, -1)) {
                GSL_SystemSePlay(SE_ERROR);
                return;
            }
            GSL_SystemSePlay(SE_ENTER);
            GSL_ModePush(GSL_GalleryViewModeCB, 1);
            return;
        }
    }
    if (st->drag.dragging && delta != 0) {
        int32_t sel = h->selection + delta * kGalleryColumns;
        if (sel > count - 1) sel = count - 1;
        if (sel < 0) sel = 0;
        h->selection = sel;
    }
    Lib_SpriteSetColor(GSL_WorkLayerGet(nullptr, 5), Lib_SpriteGetColor(GSL_WorkLayerGet(nullptr, 3)));
    Lib_SpriteSetColor(GSL_WorkLayerGet(nullptr, 6), Lib_SpriteGetColor(GSL_WorkLayerGet(nullptr, 4)));
    Follow(h, true);
    GSL_SystemColorCycle(Cursor(), -1, 255, 255, 255, -32, &h->counter);
    Extras_ArrowBob(&h->arrowAngle);
}

void Transition(ScreenWork* w) {
    GalleryHead* h = GSL_GalleryHead(w);
    GalleryState* st = h->state;
    Extras_ArrowBob(&h->arrowAngle);
    if (!st) return;
    if (w->subState == EXTRAS_ZOOM_OUT || w->subState == EXTRAS_ZOOM_IN) {
        const bool down = w->subState == EXTRAS_ZOOM_OUT;
        const bool end = Extras_ZoomStep(&h->zoom, down ? -kZoomStep : kZoomStep);
        SetScale(Cursor(), h->zoom);
        for (int32_t i = 0; i < kGalleryCells; ++i) {
            SetScale(st->cells[i], h->zoom);
            SetScale(st->badges[i], h->zoom);
        }
        if (!end) return;
        if (down) {
            h->zoom = 0.0f;
            Redraw(h, 0.0f, false);
            w->subState = EXTRAS_ZOOM_IN;
        } else {
            Lib_SpriteSetFlag(Cursor(), 1);
            Colour(st, h->selection, kWhite);
            w->subState = SUBSTATE_CLOSE;
        }
        return;
    }
    w->subState = SUBSTATE_ENTRY;
    w->step = EXTRAS_STEP_MAIN;
}

void Release(ScreenWork* w) {
    GalleryHead* h = GSL_GalleryHead(w);
    Extras_ArrowBob(&h->arrowAngle);
    if (!Extras_CloseFade()) return;
    Lib_FrameRateSet(60);
    if (GalleryState* st = h->state) {
        FreeCells(st);
        Extras_KeysEnd(st->keys);
        Lib_MemFree(HEAP_SCREEN, st);
        h->state = nullptr;
    }
    GSL_SystemBarDel(h->bar);
    GSL_SystemNumDel(h->number);
    if (auto* g = GroupWorkOf(h->groupLoad)) {
        if (g->wait.request >= 0) Lib_FileLoadEnd(g->wait.request);
        Lib_TaskDel(uint32_t(h->groupLoad));
    }
    h->bar = h->number = h->groupLoad = -1;
    GSL_WorkDelete(nullptr);
    if (GSL_ModeCount() > 1) GSL_ModePop();
}
}  // namespace

GalleryHead* GSL_GalleryHead(ScreenWork* w) { return w ? reinterpret_cast<GalleryHead*>(w->words) : nullptr; }

void GSL_GalleryModeCB() {
    static constexpr ExtrasStep kSteps[] = {Load, Build, Main, Transition, Release};
    Extras_Dispatch(GSL_GalleryModeCB, kSteps, int32_t(std::size(kSteps)));
}

int32_t GSL_GalleryRate() {
    int32_t total = 0;
    const int32_t* ids = GSL_GalleryPictureIds(&total);
    int32_t u = 0;
    for (int32_t k = 0; k < total; ++k)
        if (StoryAccessFlagGal(nullptr, ids[k], 0)) ++u;
    if (total <= 0) return 0;
    const int32_t rate = 100 * u / total;
    return rate == 0 && u > 0 ? 1 : rate;
}

bool GSL_GalleryAnyOpen(int32_t first, int32_t count, int32_t mode) {
    const int32_t u = Unlocked(first, count);
    return mode == 0 ? u >= count : u > 0;
}

int32_t GSL_GalleryGetCategory() {
    const GalleryHead* h = GSL_GalleryHead(Work());
    return h ? h->category : 0;
}

void GSL_GalleryDrawPage(float scale, bool cursorShown) {
    GalleryHead* h = GSL_GalleryHead(Work());
    if (!h || !h->state) return;
    GalleryState* st = h->state;
    const int32_t cursor = Cursor();
    Place(cursor, kCellX, kCellY, scale, 607, Lib_SpriteGetColor(cursor));
    Lib_SpriteSetFlag(cursor, cursorShown ? 1 : 0);
    FreeCells(st);
    const GalleryCategory& cat = Category(h);
    for (int32_t i = 0; i < cat.count && i < kGalleryCells; ++i) {
        const GalleryThumb& t = cat.thumbnails[i];
        const int32_t u = Unlocked(t.firstPicture, t.count);
        int32_t cell;
        if (t.count >= 1 && u >= 1) {
            cell = Thumbnail(h, cat.firstThumbnail + i);
        } else {
            cell = Lib_SpriteCopy(-1, cursor);
            GSL_LayoutSpriteRect(cell, 8, 1);
        }
        st->cells[i] = cell;
        const uint32_t colour = (i == 0 && cursorShown) ? kWhite : kGrey;
        Place(cell, CellX(i), CellY(i), scale, 608, colour);
        if (u < t.count) continue;
        const int32_t badge = Lib_SpriteCopy(-1, cursor);
        GSL_LayoutSpriteRect(badge, 8, 7);
        Place(badge, CellX(i) + 96.0f, CellY(i) - 43.0f, scale, 607, colour);
        st->badges[i] = badge;
        st->sways[i] = Sway(badge);
    }
}

void GSL_GallerySetNowSelect(int32_t, int32_t category, int32_t thumbnail) {
    const GalleryHead* h = GSL_GalleryHead(Work());
    ScreenWork* top = GSL_WorkGet(nullptr);
    GalleryViewHead* view = top && top->screenId == GSL_GalleryViewModeCB ? GSL_GalleryViewHead(top) : nullptr;
    if (view) view->selectTask = -1;
    if (!h) return;
    if (GSL_SystemBarWork(h->bar)) TaskTable.slots[h->bar]->suspended = 0;
    WidgetWork* head = GSL_WidgetCreate("SetNowSelectCB", SetNowSelectCB, kWidgetPriority, kWidgetGroupScreen, 0);
    if (!head) return;
    auto* w = reinterpret_cast<SetNowSelectWork*>(head);
    w->category = category;
    w->thumbnail = thumbnail;
    w->screen = GSL_GalleryModeCB;
    if (view) view->selectTask = head->slot;
}

int32_t SetNowSelectCB(void* work) {
    auto* w = static_cast<SetNowSelectWork*>(work);
    GalleryHead* h = GSL_GalleryHead(GSL_WorkGet(w->screen));
    if (h && w->head.state == 0) {
        if (w->category != h->category && w->category >= 0 && w->category < kGalleryCategoryCount) {
            h->category = w->category;
            Redraw(h, 1.0f, true);
        }
        w->head.state = 1;
        return 0;
    }
    if (h && w->thumbnail != h->selection && w->thumbnail >= 0 && w->thumbnail < Category(h).count) {
        h->selection = w->thumbnail;
        Follow(h, false);
    }
    w->head.state = WIDGET_FINISHED;
    ScreenWork* top = GSL_WorkGet(nullptr);
    if (top && top->screenId == GSL_GalleryViewModeCB) GSL_GalleryViewHead(top)->selectTask = -1;
    return 1;
}
