#include "app/main_tasks.h"

#include <cstdio>
#include <cstring>

#include "app/app_window.h"
#include "app/frame.h"
#include "app/frame_skip.h"
#include "engine/core/task.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/movie/movie.h"
#include "engine/render/camera.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_draw.h"
#include "engine/render/sprite_load.h"
#include "engine/text/font.h"
#include "extras/extras_screens.h"
#include "extras/extras_skeleton.h"
#include "extras/gallery.h"
#include "screens/boot.h"
#include "screens/logo.h"
#include "screens/option.h"
#include "screens/slot_list.h"
#include "screens/system_screens.h"
#include "screens/screens_host.h"
#include "screens/title.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "script/staffroll.h"
#include "shaders/text_programs.h"
#include "story/access_flags.h"
#include "story/backlog.h"
#include "story/config.h"
#include "story/game_state.h"
#include "story/line_text.h"
#include "story/quick_save.h"
#include "story/story_host.h"
#include "story/story_play.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "story/sys_menu.h"
#include "ui/mode.h"
#include "ui/overlay.h"
#include "ui/pointer.h"
#include "ui/screen_restore.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/trans_num.h"
#include "ui/ui_host.h"
#include "ui/widget.h"
#include "ui/wipe.h"

// process-wide: a test seam
void (*Main_DrawTestHook)() = nullptr;

namespace {
constexpr uint16_t kGroupSystem = 401;
constexpr uint16_t kGroupDraw = 402;

struct MainTask {
    const char* name;
    TaskCallback callback;
    uint16_t priority;
    uint16_t group;
    uint8_t flags;
};

const MainTask kMainTasks[] = {
    {"Main_InputCB", Main_InputCB, 10000, kGroupSystem, 0},
    {"Main_DrawBCB", Main_DrawBCB, 15000, kGroupDraw, 0},
    {"Main_ModeCB", Main_ModeCB, 20000, kGroupDraw, 0},
    {"Main_DrawCB", Main_DrawCB, 40000, kGroupDraw, 0},
    {"Main_DrawACB", Main_DrawACB, 45000, kGroupDraw, 0},
    {"Main_FlipCB", Main_FlipCB, 60000, kGroupDraw, 0},
};

// The files the system screens use at once, kept in the named cache.
constexpr uint32_t kPreloadKeep = 2;
const char* const kSystemPreloads[] = {
    "sound/se_system/se_sys.arc",        "visual/system/sys_system_03.ext",
    "visual/system/sys_system_00.ext",   "visual/system/sys_system_01.ext",
    "visual/system/sys_system_04.ext",   "visual/system/sys_system_02.ext",
    "visual/system/sys_system_05.ext",   "visual/system/sys_option_00.ext",
    "visual/system/sys_option_bg.ext",   "visual/system/sys_save_bg.ext",
    "visual/system/sys_save_00.ext",     "visual/system/sys_load_bg.ext",
};

void startPreloads() {
    for (const char* path : kSystemPreloads) GSL_SystemLoadPrevSet(path, 256, kPreloadKeep, nullptr);
    char path[256];
    std::snprintf(path, sizeof path, "%s%s%s", "visual/wipe/", "wipe_000", ".ext");
    GSL_SystemLoadPrevSet(path, 256, kPreloadKeep, nullptr);
    GSL_SystemLoadPrevSet("script/script.arc", 8, kPreloadKeep, nullptr);
    GSL_SystemLoadPrevSet("visual/system/sys_manual_00.ext", 256, kPreloadKeep, nullptr);
    for (int group = 0; group < 4; ++group) {
        for (int picture = 1; picture <= 2; ++picture) {
            std::snprintf(path, sizeof path, "visual/manual/%02d/%03d.png", group, picture);
            GSL_SystemLoadPrevSet(path, 256, kPreloadKeep, nullptr);
        }
    }
}

void startColourOverlay() {
    int32_t slot = Lib_TaskSet("GSL_SystemDispColorCB", GSL_SystemDispColorCB, 34000, kGroupSystem, 0);
    DispColorTask = slot;
    if (slot < 0) return;
    void* area = Lib_TaskWorkAlloc(uint32_t(slot), kWidgetWorkSize);
    if (!area) return;
    // The work area comes uncleared from the heap; only some fields are set.
    std::memset(area, 0, kWidgetWorkSize);
    auto* w = static_cast<DispColorWork*>(area);
    w->slot = slot;
    w->state = WIDGET_STARTING;
    w->frames = 0;
    w->sprite = Lib_SpriteLoad(-1, nullptr, -1, 0);
    w->newTarget = 0;
    w->alpha = 255;
    w->red = w->green = w->blue = 0;
    for (int32_t& task : w->componentTasks) task = -1;
    w->current = w->target = 0xFF000000u;
}

// The overlay task, when it still exists with its work area.
DispColorWork* colourOverlay() {
    int32_t slot = DispColorTask;
    if (slot < 0 || slot >= kTaskSlots || !TaskTable.slots[slot]) return nullptr;
    return static_cast<DispColorWork*>(TaskTable.slots[slot]->work);
}

// What Main_DrawCB decided this frame.
enum FrameDraw { FRAME_NOT_DRAWN, FRAME_DRAWN, FRAME_KEPT };
FrameDraw g_frameDraw = FRAME_NOT_DRAWN;

int topEntry() {
    int top = -1;
    for (int i = 0; i < kModeStackSize && ModeStack[i]; ++i) top = i;
    return top;
}
}  // namespace

// process-wide: a test seam
void (*MainTestHook)() = nullptr;

namespace {
int32_t optionLabels(int32_t n, int32_t labels[4]) {
    OptionTemplate t;
    GSL_OptionTemplateGet(&t, n);
    for (int i = 0; i < 4; ++i) labels[i] = t.textIndex[i];
    return t.textCount;
}
}  // namespace

void Main_ScreenCallsSet() {
    ModeFunction screens[SCREEN_COUNT] = {};
    screens[SCREEN_STORY] = GSL_StoryModeCB;
    screens[SCREEN_TITLE] = GSL_TitleModeCB;
    screens[SCREEN_SAVE] = GSL_SaveModeCB;
    screens[SCREEN_LOAD] = GSL_LoadModeCB;
    screens[SCREEN_OPTION] = GSL_OptionModeCB;
    screens[SCREEN_MANUAL] = GSL_ManualModeCB;
    screens[SCREEN_SPECIAL] = GSL_SpecialModeCB;
    screens[SCREEN_GALLERY] = GSL_GalleryModeCB;
    screens[SCREEN_MUSIC_ROOM] = GSL_MusicRoomModeCB;
    GSL_ScreensSet(screens);
    const UiHost ui = {GSL_ScriptTaskEnd, GSL_ScriptStatusGet, [] { return SystemDataBlock.systemVolume; }};
    GSL_UiHostSet(&ui);
    const ScriptHost script = {StoryAccessFlagGal, StoryAccessFlagBGM, GSL_StoryFlagTest};
    GSL_ScriptHostSet(&script);
    const StoryHost story = {optionLabels};
    GSL_StoryHostSet(&story);
    const ScreensHost window = {Main_WindowMaximise, Main_WindowMinimised, Main_FullScreenSet};
    GSL_ScreensHostSet(&window);
}

void Main_RunStateReset() {
    Lib_RunStateReset();
    Lib_TextRunStateReset();
    GSL_UiRunStateReset();
    GSL_ScriptRunStateReset();
    GSL_StoryRunStateReset();
    GSL_ScreensRunStateReset();
    Extras_RunStateReset();
    Main_AppWindowReset();
    g_frameDraw = FRAME_NOT_DRAWN;
}

void Main_Init() {
    Main_ScreenCallsSet();
    Lib_MesLoad();
    for (const MainTask& t : kMainTasks) Lib_TaskSet(t.name, t.callback, t.priority, t.group, t.flags);
    ModeStack[0] = GSL_BootModeCB;
    startColourOverlay();
    startPreloads();
    if (!Lib_WipeProgramsCreate()) std::fprintf(stderr, "vn: the wipe programs could not be made\n");
    GSL_SystemDataReset();
    GSL_GameStateInit();
    Main_FrameSkipInit();
}

void Main_InitEnd() {
    // No screen's sprite, text or sound may outlive the renderer.
    GSL_WorkDeleteAll();
    GSL_SystemWidgetsEnd();
    Lib_SpriteFree(StoryCaptureSprite);
    StoryCaptureSprite = -1;
    Lib_SpriteFree(StoryCoverSprite);
    StoryCoverSprite = -1;
    GSL_StoryGuideDel();
    StoryHoldPictDel();
    Lib_WipeProgramsRelease();
    if (DispColorWork* w = colourOverlay()) {
        GSL_SystemTransNumDel(w->componentTasks[0], &w->alpha);
        GSL_SystemTransNumDel(w->componentTasks[1], &w->red);
        GSL_SystemTransNumDel(w->componentTasks[2], &w->green);
        GSL_SystemTransNumDel(w->componentTasks[3], &w->blue);
        Lib_SpriteFree(w->sprite);
        Lib_TaskDel(uint32_t(DispColorTask));
    }
    DispColorTask = -1;
    Lib_MesFree();
}

int32_t Main_InputCB(void*) {
    Lib_InputPoll();
    Lib_InputPollMouse();
    GSL_SystemMouseUpdate();
    MainInputDone = 1;
    return 0;
}

int32_t Main_DrawBCB(void*) {
    if (Lib_MovieActive()) return 0;
    Lib_CameraUpdate(nullptr);
    Lib_FrameBind(*Lib_GetRenderer());
    return 0;
}

int32_t Main_ModeCB(void*) {
    int top = topEntry();
    if (top < 0) {
        ModeStack[0] = GSL_LogoModeCB;
    } else {
        ModeFunction screen = ModeStack[top];
        const ScreenWork* context = nullptr;
        for (const ScreenWork* work : ScreenWorkTable) {
            if (work && work->screenId == screen) {
                context = work;
                break;
            }
        }
        if (context && context->suspended) {
            // The screen's resources must come back before it runs again.
            // With the stack full the restore runs in place, else it would
            // never run and no screen would run again.
            if (top + 1 < kModeStackSize)
                ModeStack[top + 1] = GSL_WorkRestoreCB;
            else
                GSL_WorkRestoreCB();
        } else {
            screen();
        }
    }
    Lib_MovieUpdate();
    return 0;
}

// An unchanged frame is not drawn again, and a frame that changed in part is
// drawn and presented only there. Every task still runs each frame; the walk
// still calls every entry in its order (but a sprite wholly outside the
// damage, which would draw nothing, and a text outside it that reads as it
// did, whose drawing would change nothing), and the clear, every drawer's scissor
// and the composition keep inside the damaged rectangle, and the present
// shows only that part where the platform can. The damage is the union of
// the old and new places of every entry of the chain whose reading changed
// (its sprite or text record, with second sprites, reduced copies, ruby
// children and own cameras), came or went. The whole frame is drawn when a
// change cannot be placed (an unclipped text, a sprite reaching behind the
// eye, the order of entries, the cameras, the window target's size and
// full-screen state, the render generation that texture uploads, glyph
// changes and the window's expose and size events bump), while a capture is
// due or a callback the pass does not know is in the chain, the first frame
// after anything else presented (a movie), and when the damage covers more
// than half the frame. A callback that changes its record as it draws (a
// text revealing, a capture counting) thereby asks for the next frame
// itself. The pass reads the tables rather than keeping dirty flags, because
// many modules write the records directly. VN_FRAME_SKIP=0 draws every frame
// whole.
int32_t Main_DrawCB(void*) {
    g_frameDraw = FRAME_NOT_DRAWN;
    if (!MainInputDone || Lib_MovieActive()) return 0;
    if (Main_DrawTestHook) Main_DrawTestHook();
    const FrameDamage damage = Main_FrameDamage();
    if (!damage.due) {
        g_frameDraw = FRAME_KEPT;
        return 0;
    }
    g_frameDraw = FRAME_DRAWN;
    Renderer* renderer = *Lib_GetRenderer();
    if (renderer) Lib_FrameDamageSet(renderer, damage.whole ? nullptr : &damage.rect);
    DrawFilter = DrawWalkFilter{damage.skip, Main_FrameKeepState};
    Lib_DrawWalk();
    DrawFilter = DrawWalkFilter{nullptr, nullptr};
    Lib_ScreenCompose(renderer);
    if (renderer) renderer->partial = false;  // a walk outside the frame draws whole
    return 0;
}

int32_t Main_DrawACB(void*) {
    if (Lib_MovieActive()) return 0;
    // A kept picture still counts as this frame's: the programs' time runs on.
    const FrameDraw draw = g_frameDraw;
    g_frameDraw = FRAME_NOT_DRAWN;
    if (draw != FRAME_KEPT) {
        Lib_FramePresent(*Lib_GetRenderer());
        Main_FramePresented(draw == FRAME_DRAWN);
    }
    if (!FrameTimeHold) {
        FrameTimeCounter += 1.0f;
        if (FrameTimeCounter >= 100000.0f) FrameTimeCounter = 0.0f;
    }
    return 0;
}

int32_t Main_FlipCB(void*) {
    if (MainTestHook) MainTestHook();
    return 0;
}
