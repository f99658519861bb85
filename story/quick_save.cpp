#include "story/quick_save.h"

#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_load.h"
#include "engine/text/text_object.h"
#include "story/game_state.h"
#include "story/line_text.h"
#include "story/story_screen.h"
#include "story/story_window.h"
#include "ui/dialog_access.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"
#include "ui/select_input.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"
#include "ui/utility_dialog.h"
#include "ui/widget_delete.h"
#include "ui/widget_task.h"
#include "ui/window_frame.h"

uint8_t QuickDataPresent = 0;
GameState QuickDataCache{};
uint8_t QuickThumb[kQuickThumbSize] = {};
SaveInfo QuickSlotInfo{};
int32_t SaveQuickGDGuard = -1;
int32_t ShowQuickGDTask = -1;

void GSL_QuickDataReset() {
    QuickDataPresent = 0;
    QuickDataCache = GameState{};
    std::memset(QuickThumb, 0, sizeof QuickThumb);
    QuickSlotInfo = SaveInfo{};
    std::memset(QuickCaption, 0, sizeof QuickCaption);
}

namespace {
constexpr uint32_t kSlotBytes = sizeof(GameState) + kQuickThumbSize;
static_assert(kSlotBytes == 366152 && kSlotBytes == SaveDataSize(kSaveQuickSlot));
// The play time and everything after it.
constexpr uint32_t kStateTail = sizeof(GameState) - 4;
constexpr char kDeleteSheet[] = "visual/system/sys_save_00.ext";
constexpr uint32_t kKeyS = 0x4;
constexpr uint32_t kDeleteNormal = 0xFFF0F0F0u, kDeleteHover = 0xFFFFFFFFu;
constexpr int32_t kMarqueePause = 60;
constexpr int32_t kMarqueeGap = 64;  // pixels between the end of the text and its copy
constexpr float kCaptionScale = 0.6f;

// --- caption ----------------------------------------------------------------------

// Bytes of the unit at s: a raw text key with its digits, or one character.
uint32_t UnitLen(const char* s) {
    for (const char* key : {"NAME_", "SELECT_", "TEXT_", "SYSTEM_"}) {
        const size_t kl = std::strlen(key);
        if (std::strncmp(s, key, kl) != 0) continue;
        uint32_t d = 0;
        while (d < 9 && s[kl + d] >= '0' && s[kl + d] <= '9') ++d;
        if (d) return uint32_t(kl) + d;
    }
    uint32_t n = Lib_CharLen(s);
    uint32_t have = 0;
    while (have < n && s[have]) ++have;
    return have ? have : 1;
}

struct Caption {
    char* out;
    uint32_t used = 0;
    bool cut = false;
    // Appends unit by unit while the caption stays within 60 bytes; the
    // first unit that does not fit ends it with the ellipsis.
    void Put(const char* s) {
        while (!cut && s && *s) {
            const uint32_t n = UnitLen(s);
            if (used + n > kQuickCaptionLimit) {
                std::memcpy(out + used, "\xE2\x80\xA6", 3);
                used += 3;
                cut = true;
                break;
            }
            std::memcpy(out + used, s, n);
            used += n;
            s += n;
        }
        out[used] = 0;
    }
};

// --- the slot-33 task -------------------------------------------------------------

struct QuickTaskWork {
    WidgetWork head;
    SaveTaskMode mode;
    int32_t saveTask;
    uint8_t* block;
};
static_assert(sizeof(QuickTaskWork) <= kWidgetWorkSize);

// The requests live as long as the save task may read them.
// process-wide: scratch, built before each save
SaveRequest g_request;

void QuickTaskRelease(QuickTaskWork* w) {
    if (w->saveTask >= 0) Lib_SaveTaskEnd(w->saveTask);
    w->saveTask = -1;
    if (w->block) Lib_MemFree(HEAP_SCREEN, w->block);
    w->block = nullptr;
    SaveQuickGDGuard = -1;
}

// Removed with every screen task: what it holds goes with it.
void QuickTaskDelete(int32_t slot) {
    auto* w = reinterpret_cast<QuickTaskWork*>(GSL_WidgetWorkGet(slot, SaveQuickGDSetCB));
    if (!w) return;
    QuickTaskRelease(w);
    Lib_TaskDel(uint32_t(slot));
}

void SlotRequestBuild(const QuickTaskWork* w) {
    std::memset(&g_request, 0, sizeof g_request);
    char text[kMesTextSize];
    GSL_SysTextGet(nullptr, 0, 0, 0, text, sizeof text);
    GSL_WorkNameCopy(g_request.title, sizeof g_request.title, text);
    GSL_SysTextGet(nullptr, 2, 11, 0, text, sizeof text);
    std::snprintf(g_request.subtitle, sizeof g_request.subtitle, "%.100s(%s)", text, "Quick");
    if (w->mode == SAVE_TASK_LOAD) {
        GSL_SysTextGet(nullptr, 2, 7, 0, text, sizeof text);
        GSL_WorkNameCopy(g_request.detail, sizeof g_request.detail, text);
    } else {
        GSL_WorkNameCopy(g_request.detail, sizeof g_request.detail, QuickCaption);
    }
    std::snprintf(g_request.icon, sizeof g_request.icon, "%s", "data/utility/ICON0.tga");
    std::snprintf(g_request.icon2, sizeof g_request.icon2, "%s", "data/utility/ICON0_NON.tga");
    g_request.data = w->block;
    g_request.dataSize = kSlotBytes;
}

// --- the preview panel ------------------------------------------------------------

struct PanelWork {
    WidgetWork head;
    int32_t window;
    int32_t thumb;
    int32_t texts[2];
    int32_t button;
    int32_t marquee;
    int32_t dialog;
    int32_t input;
    int32_t priority;
    float x, y;
    int32_t saveTask;
    int32_t textWidth;
};
static_assert(sizeof(PanelWork) <= kWidgetWorkSize);

PanelWork* Panel() { return reinterpret_cast<PanelWork*>(GSL_WidgetWorkGet(ShowQuickGDTask, ShowQuickGDCB)); }

// A sprite of its own showing a copy of the quick thumbnail.
int32_t ThumbSprite(const PanelWork* p) {
    const int32_t slot = Lib_SpriteGetFree(-1);
    if (slot < 0) return -1;
    SpriteRecord* r = &SpriteTable[slot];
    r->data = Lib_MemAlloc(HEAP_GRAPHICS, kQuickThumbSize, 256);
    if (!r->data) {
        Lib_SpriteClear(r);
        return -1;
    }
    std::memcpy(r->data, QuickThumb, kQuickThumbSize);
    r->flags |= SPRITE_OWN_COPY;
    r->texture = r->textureView = Lib_SpriteTexCreate(kQuickThumbWidth, kQuickThumbHeight, false, r->data);
    Lib_SamplerCreate(0, &r->sampler);
    r->textureWidth = r->imageWidth = kQuickThumbWidth;
    r->textureHeight = r->imageHeight = kQuickThumbHeight;
    r->srcRect[0] = r->srcRect[1] = 0;
    r->srcRect[2] = kQuickThumbWidth;
    r->srcRect[3] = kQuickThumbHeight;
    r->centerX = kQuickThumbWidth * 0.5f;
    r->centerY = kQuickThumbHeight * 0.5f;
    r->flags |= SPRITE_READY;
    r->posX = p->x;
    r->posY = p->y + 30.0f;
    r->priority = p->priority - 1;
    r->visible = 1;
    r->drawEntry = Lib_DrawSet(r->drawCallback, reinterpret_cast<uint64_t>(r), r->priority, 0, -1);
    return slot;
}

int32_t CaptionText(const PanelWork* p, const char* text, int32_t dx) {
    const TextPos pos{int32_t(p->x) - 160 + 640 + dx, int32_t(p->y) - 3 - 75 - 360, 0};
    const int32_t t = Lib_TextSet(-1, text, &pos);
    if (t < 0 || !TextTable[t]) return -1;
    TextRecord* r = TextTable[t];
    r->clipX = int32_t(p->x) - 160 + 640;
    r->clipY = 360 - (int32_t(p->y) - 78);
    r->clipWidth = 320;
    r->clipHeight = 128;
    r->speed = 0;
    const TextScale scale{kCaptionScale, kCaptionScale};
    Lib_TextScaleSet(t, &scale);
    Lib_TextPrioSet(t, p->priority - 1);
    Lib_TextDrawModeSet(t, 2);
    return t;
}

void PanelBuild(PanelWork* p) {
    GSL_SystemWinFixCam(p->window);
    p->thumb = ThumbSprite(p);
    static char text[kMesTextSize];
    GSL_QuickBuildPreviewText(text, sizeof text);
    p->texts[0] = CaptionText(p, text, 0);
    TextRect size{};
    const TextScale scale{kCaptionScale, kCaptionScale};
    Lib_TextMeasure(&size, text, &scale, nullptr, 0, 0);
    p->textWidth = Lib_TextRectWidth(size);
    if (p->textWidth > 320) p->texts[1] = CaptionText(p, text, p->textWidth + kMarqueeGap);
    const int32_t b = p->button;
    if (Lib_SpriteIsLive(b)) {
        const int32_t rect[4] = {88, 0, 88, 88};
        Lib_SpriteSetRect(b, rect);
        SpriteRecord* r = &SpriteTable[b];
        r->posX = p->x - 169.0f;
        r->posY = p->y + 128.0f;
        r->posZ = 0.0f;
        r->scaleX = r->scaleY = 0.75f;
        r->scaleZ = 1.0f;
        Lib_SpriteSetColor(b, kDeleteNormal);
        Lib_SpriteSetPrio(b, p->priority - 2, 1);
        r->visible = 1;
    }
}

// After its pause the caption scrolls left; the copy follows it and they
// change places as the first leaves.
void Marquee(PanelWork* p) {
    if (p->texts[1] < 0 || ++p->marquee <= kMarqueePause) return;
    const int32_t span = p->textWidth + kMarqueeGap;
    const int32_t shift = (p->marquee - kMarqueePause) % span;
    const int32_t left = int32_t(p->x) - 160 + 640;
    for (int i = 0; i < 2; ++i) {
        TextRecord* r = p->texts[i] >= 0 ? TextTable[p->texts[i]] : nullptr;
        if (!r) continue;
        const TextPos pos{left - shift + i * span, r->y, r->z};
        Lib_TextPosSet(p->texts[i], &pos);
    }
}

bool InputSuspended(int32_t input) {
    return GSL_InputWork(input) && TaskTable.slots[input] && TaskTable.slots[input]->suspended;
}

void PanelRelease(PanelWork* p) {
    GSL_SystemWinDel(p->window);
    p->window = -1;
    Lib_SpriteFree(p->thumb);
    p->thumb = -1;
    for (int32_t& t : p->texts) {
        Lib_TextDel(t);
        t = -1;
    }
    Lib_SpriteFree(p->button);
    p->button = -1;
    GSL_SystemDialogDel(p->dialog);
    p->dialog = -1;
    if (p->saveTask >= 0) Lib_SaveTaskEnd(p->saveTask);
    p->saveTask = -1;
}

void PanelDelete(int32_t slot) {
    auto* p = reinterpret_cast<PanelWork*>(GSL_WidgetWorkGet(slot, ShowQuickGDCB));
    if (!p) return;
    PanelRelease(p);
    Lib_TaskDel(uint32_t(slot));
    if (slot == ShowQuickGDTask) ShowQuickGDTask = -1;
}
}  // namespace

// --- capture ------------------------------------------------------------------------

void GSL_QuickCaptionBuild(char* out, const char* stageName, const char* speaker, const char* message) {
    if (!out) return;
    Caption c{out};
    out[0] = 0;
    char name[sizeof(StageRecord::name) + 1];
    GSL_WorkNameCopy(name, sizeof name, stageName);
    c.Put(name);
    c.Put("  ");
    if (speaker && *speaker) {
        c.Put(speaker);
        c.Put("  ");
    }
    c.Put(message);
}

void GSL_QuickCaptureThumb() {
    if (StoryCaptureSprite == -1) return;
    std::memset(QuickThumb, 0, sizeof QuickThumb);
    std::memset(QuickCaption, 0, kQuickCaptionSize);
    const SpriteRecord* r = Lib_SpriteAt(StoryCaptureSprite);
    if (!r || !(r->flags & SPRITE_IN_USE) || !r->texture) return;
    Lib_ScreenCaptureRegion(r->texture, 0, 0, kQuickThumbWidth, kQuickThumbHeight, QuickThumb, sizeof QuickThumb);
    static char speaker[kLineTextSize], message[kLineTextSize];
    speaker[0] = message[0] = 0;
    const uint32_t count = GameStateBlock.readLineCount;
    const int32_t result =
        count ? GSL_ScriptLineText(count - 1, speaker, message, nullptr, 0, LINE_ADD | LINE_RAW) : -1;
    if (result != 0 && result != 1) {
        // Only the stage name and its spaces.
        GSL_QuickCaptionBuild(QuickCaption, GameStateBlock.stage.name, nullptr, nullptr);
        return;
    }
    GSL_QuickCaptionBuild(QuickCaption, GameStateBlock.stage.name, speaker, result == 1 ? nullptr : message);
}

void GSL_QuickSaveNow() {
    // The play time counts up to this moment.
    GSL_PlayTimeUpdate();
    std::memcpy(reinterpret_cast<uint8_t*>(&QuickDataCache) + 4, reinterpret_cast<const uint8_t*>(&GameStateBlock) + 4,
                kStateTail);
    QuickDataPresent = 1;
    GSL_StoryRestoreHistory(-1, &QuickDataCache);
    GSL_QuickCaptureThumb();
    SaveQuickGDSet(SAVE_TASK_SAVE);
}

// --- slot 33 ------------------------------------------------------------------------

void SaveQuickGDSet(SaveTaskMode mode) {
    if (SaveQuickGDGuard != -1 || (mode != SAVE_TASK_SAVE && mode != SAVE_TASK_LOAD)) return;
    static const bool registered = GSL_WidgetDeleteRegister(SaveQuickGDSetCB, QuickTaskDelete);
    (void)registered;
    WidgetWork* head = GSL_WidgetCreate("SaveQuickGDSetCB", SaveQuickGDSetCB, kWidgetPriority, kWidgetGroupScreen, 0);
    if (!head) return;
    auto* w = reinterpret_cast<QuickTaskWork*>(head);
    w->mode = mode;
    w->saveTask = -1;
    w->block = nullptr;
    SaveQuickGDGuard = -2;
}

// States of the quick-data task: a load START -> CHECK -> (a valid slot)
// TRANSFER -> TRANSFER_WAIT; a save START -> TRANSFER -> TRANSFER_WAIT ->
// SYSTEM -> SYSTEM_WAIT (the system data after it); then DONE releases it.
enum : int32_t {
    QUICK_START = 0,
    QUICK_CHECK = 1,
    QUICK_TRANSFER = 10,
    QUICK_TRANSFER_WAIT = 11,
    QUICK_SYSTEM = 20,
    QUICK_SYSTEM_WAIT = 21,
    QUICK_DONE = 99,
};

int32_t SaveQuickGDSetCB(void* work) {
    auto* w = static_cast<QuickTaskWork*>(work);
    switch (w->head.state) {
        case QUICK_START:
            if (w->mode == SAVE_TASK_SAVE) {
                w->head.state = QUICK_TRANSFER;
                return 0;
            }
            SaveQuickGDGuard = int32_t(Lib_SaveSlotCheck(kSaveQuickSlot, &QuickSlotInfo));
            w->head.state = QUICK_CHECK;
            return 0;
        case QUICK_CHECK:
            w->head.state = SaveQuickGDGuard == 0 ? QUICK_TRANSFER : QUICK_DONE;
            return 0;
        case QUICK_TRANSFER:
            w->block = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_SCREEN, kSlotBytes, 4));
            if (!w->block) {
                Lib_DebugPrintf("Error -> SaveQuickGDSetCB: no room for the quick data\n");
                w->head.state = w->mode == SAVE_TASK_SAVE ? QUICK_SYSTEM : QUICK_DONE;
                return 0;
            }
            if (w->mode == SAVE_TASK_LOAD) {
                GSL_GameStateInit();
                std::memcpy(w->block, &GameStateBlock, sizeof(GameState));
                std::memset(w->block + sizeof(GameState), 0, kQuickThumbSize);
            } else {
                std::memcpy(w->block, &QuickDataCache, sizeof(GameState));
                std::memcpy(w->block + sizeof(GameState), QuickThumb, kQuickThumbSize);
            }
            SlotRequestBuild(w);
            w->saveTask = Lib_SaveTaskSet(w->mode, &g_request, kSaveQuickSlot);
            w->head.state = QUICK_TRANSFER_WAIT;
            return 0;
        case QUICK_TRANSFER_WAIT: {
            if (Lib_SaveTaskResult(w->saveTask) == SAVE_TASK_RUNNING) return 0;
            const SaveTaskCode code = Lib_SaveTaskCode(w->saveTask);
            if (w->saveTask >= 0) Lib_SaveTaskEnd(w->saveTask);
            w->saveTask = -1;
            if (w->mode == SAVE_TASK_SAVE) {
                w->head.state = QUICK_SYSTEM;  // the system slot whatever slot 33's result
                return 0;
            }
            if (code == SAVE_CODE_OK) {
                std::memcpy(&QuickDataCache, w->block, sizeof(GameState));
                // What the disk holds is checked as any loaded state is.
                GSL_GameStateCheck(&QuickDataCache);
                std::memcpy(QuickThumb, w->block + sizeof(GameState), kQuickThumbSize);
                std::memcpy(QuickCaption, QuickSlotInfo.detail, kQuickCaptionSize - 1);
                QuickCaption[kQuickCaptionSize - 1] = 0;
                QuickDataPresent = 1;
            }
            w->head.state = QUICK_DONE;
            return 0;
        }
        case QUICK_SYSTEM:
            GSL_SystemSaveRequestBuild(&g_request);
            w->saveTask = Lib_SaveTaskSet(SAVE_TASK_SAVE, &g_request, kSaveSystemSlot);
            w->head.state = QUICK_SYSTEM_WAIT;
            return 0;
        case QUICK_SYSTEM_WAIT:
            if (Lib_SaveTaskResult(w->saveTask) == SAVE_TASK_RUNNING) return 0;
            if (w->saveTask >= 0) Lib_SaveTaskEnd(w->saveTask);
            w->saveTask = -1;
            w->head.state = QUICK_DONE;
            return 0;
        default:  // QUICK_DONE
            QuickTaskRelease(w);
            return 1;
    }
}

// --- the preview panel --------------------------------------------------------------

void ShowQuickGDSet(float x, float y, int32_t priority) {
    if (Panel() || !QuickDataPresent) return;
    static const bool registered = GSL_WidgetDeleteRegister(ShowQuickGDCB, PanelDelete);
    (void)registered;
    WidgetWork* head = GSL_WidgetCreate("ShowQuickGDCB", ShowQuickGDCB, kWidgetPriority, kWidgetGroupScreen, 0);
    if (!head) return;
    auto* p = reinterpret_cast<PanelWork*>(head);
    p->window = p->thumb = p->button = p->dialog = p->input = p->saveTask = -1;
    p->texts[0] = p->texts[1] = -1;
    p->priority = priority;
    p->x = x;
    p->y = y;
    ShowQuickGDTask = p->head.slot;
}

void ShowQuickGDDel() {
    if (Panel()) PanelDelete(ShowQuickGDTask);
    ShowQuickGDTask = -1;
}

int32_t ShowQuickGDState() {
    const PanelWork* p = Panel();
    return p ? int32_t(p->head.state) : -1;
}

void ShowQuickGDInputSet(int32_t inputId) {
    if (PanelWork* p = Panel()) p->input = inputId;
}

int32_t ShowQuickGDCB(void* work) {
    auto* p = static_cast<PanelWork*>(work);
    switch (p->head.state) {
        case QUICK_PANEL_OPEN: {
            const float centre[2] = {p->x, p->y};
            const float scale[2] = {3.26f, 2.0f};
            p->window = GSL_SystemWinSet(centre, scale, p->priority, 1);
            p->button = Lib_SpriteLoad(-1, kDeleteSheet, -1, 1);
            p->head.state = QUICK_PANEL_BUILD;
            return 0;
        }
        case QUICK_PANEL_BUILD:
            if (GSL_SystemWinCheck(p->window) == 0 || Lib_SpriteGetState(p->button) == 0) return 0;
            PanelBuild(p);
            p->head.state = QUICK_PANEL_SHOWN;
            return 0;
        case QUICK_PANEL_SHOWN: {
            int32_t rect[4] = {-1, 0, 0, 0};
            const bool hit = (InputButtons.pressed & kKeyS) ||
                             (Lib_SpriteIsLive(p->button) &&
                              GSL_ButtonCheck(nullptr, p->button, rect, 0, kDeleteNormal, kDeleteHover, -1) == 1);
            if (hit && !InputSuspended(p->input)) {
                GSL_InputPause(p->input, 1);
                GSL_SystemSePlay(SE_ENTER);
                const char* text = GSL_SysTextGet(nullptr, 2, 20, 0, nullptr, 0);
                p->dialog = Lib_DialogAsk(text);
                GSL_SystemDialogFixCam(p->dialog);
                GSL_SystemDialogTextEnd(p->dialog);
                p->head.state = QUICK_PANEL_ASK;
                return 0;
            }
            Marquee(p);
            return 0;
        }
        case QUICK_PANEL_ASK: {
            const int32_t answer = GSL_SystemDialogGet(p->dialog);
            if (answer < 0 && GSL_SystemDialogIsReady(p->dialog) >= 0) return 0;
            GSL_SystemDialogDel(p->dialog);
            p->dialog = -1;
            if (answer == 1) {
                p->head.state = QUICK_PANEL_DELETE;
            } else {
                GSL_InputPause(p->input, 0);
                p->head.state = QUICK_PANEL_SHOWN;
            }
            return 0;
        }
        case QUICK_PANEL_DELETE:
            p->saveTask = Lib_SaveTaskSet(SAVE_TASK_DELETE, nullptr, kSaveQuickSlot);
            p->head.state = QUICK_PANEL_DELETE_WAIT;
            return 0;
        default:  // QUICK_PANEL_DELETE_WAIT
            if (Lib_SaveTaskResult(p->saveTask) == SAVE_TASK_RUNNING) return 0;
            if (p->saveTask >= 0) Lib_SaveTaskEnd(p->saveTask);
            p->saveTask = -1;
            QuickDataPresent = 0;
            GSL_InputPause(p->input, 0);
            ShowQuickGDDel();
            return 0;
    }
}
