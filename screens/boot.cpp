#include "screens/boot.h"

#include <cstdio>

#include "engine/core/task.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/render/sprite.h"
#include "engine/text/font.h"
#include "engine/text/text_object.h"
#include "ui/mode.h"
#include "ui/screen_slots.h"

// Stand-ins until the system screens exist: the boot flow starts the load of
// the interface language's fonts and hands over to the logo screen, which shows the system sheet and the window title over the
// title music; decide opens the manual page over it with its resources kept,
// S with them released, and cancel on the page returns to the logo.
namespace {
constexpr uint32_t kButtonS = 0x4;
constexpr int32_t kLogoPriority = 20;
constexpr int32_t kManualPriority = 10;  // drawn after, so in front

using Step = void (*)(ScreenWork* w);

// The font load the boot starts for the interface language; the logo ends
// the task once its result is in.
int32_t g_fontTask = -1;

FontLoadWork* FontLoad() {
    if (g_fontTask < 0 || g_fontTask >= kTaskSlots) return nullptr;
    const TaskRecord* t = TaskTable.slots[g_fontTask];
    if (!t || t->callback != Lib_FontSetCB) return nullptr;
    return static_cast<FontLoadWork*>(t->work);
}

void FontsStart() {
    if (FontLoad()) return;
    int32_t language = TextLanguage.load(std::memory_order_relaxed);
    if (language < 0 || language > 3) language = Lib_LanguageGet();
    char name[32];
    std::snprintf(name, sizeof name, "font_%02d.ttf", int(language));
    g_fontTask = Lib_FontSet(name, "font_add_00.ext");
}

void FontsSettle() {
    const FontLoadWork* w = FontLoad();
    if (w && w->result == 0) return;  // still loading
    if (w) Lib_TaskDel(uint32_t(g_fontTask));
    g_fontTask = -1;
}

void Run(const Step* steps, int count) {
    ScreenWork* w = GSL_WorkGet(nullptr);
    int step = w ? w->step : 0;
    if (step >= 0 && step < count) steps[step](w);
}

void Next(ScreenWork* w) {
    if (!w) return;
    ++w->step;
    w->subState = 0;
}

int32_t ShowLayer(uint32_t slot, const char* file, int32_t priority) {
    int32_t h = GSL_WorkLayerLoad(nullptr, slot, -1, file, -1, 1, nullptr, nullptr);
    Lib_SpriteSetPrio(h, priority, -1);
    Lib_SpriteSetFlag(h, 1);
    return h;
}

void BootCreate(ScreenWork*) {
    FontsStart();
    GSL_WorkCreate();
    Next(GSL_WorkGet(nullptr));
}

void BootLeave(ScreenWork*) {
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
    ModeStack[GSL_ModeCount()] = GSL_LogoModeCB;
}

void LogoCreate(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    GSL_WorkSoundSet(nullptr, 0, "sound/bgm/title.oggl", -1, 1, 60, 30, -1);
    ShowLayer(0, "visual/system/sys_system_00.ext", kLogoPriority);
    char title[kMesTextSize];
    Lib_MesGet(nullptr, 0, 0, -1, title, sizeof title);
    int32_t t = GSL_WorkTextSet(nullptr, 0, -1, title);
    if (t >= 0 && TextTable[t]) {
        const TextPos pos{640, -640, 0};
        Lib_TextPosSet(t, &pos);
        Lib_TextPrioSet(t, kLogoPriority);
        TextTable[t]->renderFlags = TEXT_ALIGN_CENTRE;
        TextTable[t]->state |= TEXT_STATE_DRAWN;
    }
    Next(w);
}

void LogoWait(ScreenWork*) {
    FontsSettle();
    if (InputButtons.pressed & BUTTON_DECIDE)
        GSL_ModePush(GSL_ManualModeCB, 1);
    else if (InputButtons.pressed & kButtonS)
        GSL_ModePush(GSL_ManualModeCB, 0);
}

void ManualCreate(ScreenWork*) {
    GSL_WorkCreate();
    ScreenWork* w = GSL_WorkGet(nullptr);
    if (!w) return;
    ShowLayer(0, "visual/manual/00/001.png", kManualPriority);
    Next(w);
}

void ManualWait(ScreenWork*) {
    if (!(InputButtons.pressed & BUTTON_CANCEL)) return;
    GSL_WorkDelete(nullptr);
    GSL_ModePop();
}

const Step kBoot[] = {BootCreate, BootLeave};
const Step kLogo[] = {LogoCreate, LogoWait};
const Step kManual[] = {ManualCreate, ManualWait};
}  // namespace

void GSL_BootModeCB() { Run(kBoot, 2); }
void GSL_LogoModeCB() { Run(kLogo, 2); }
void GSL_ManualModeCB() { Run(kManual, 2); }
