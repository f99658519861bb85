#include "screens/boot.h"

#include <cstdio>

#include "engine/core/task.h"
#include "engine/files/message_table.h"
#include "engine/sound/sound.h"
#include "engine/text/font.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "ui/mode.h"

namespace {
int32_t g_fontTask = -1;
int32_t g_systemLoad = -1;  // the load of the system slot, -1 when none runs
SaveRequest g_systemRequest;

// The font-load task this stand-in started, while it still runs.
FontLoadWork* FontLoad() {
    if (g_fontTask < 0 || g_fontTask >= kTaskSlots) return nullptr;
    const TaskRecord* t = TaskTable.slots[g_fontTask];
    if (!t || t->callback != Lib_FontSetCB) return nullptr;
    return static_cast<FontLoadWork*>(t->work);
}
}  // namespace

// Stand-ins until the system screens and the configuration exist: the boot
// flow starts the title music and the load of the interface language's
// fonts, and hands over to the logos at once; the logo screen stays on the
// stack and ends the font task once it has run. Before that, the system data
// is loaded from its slot (which the load creates when it is empty).
void GSL_BootModeCB() {
    static bool systemDone = false;
    if (!systemDone) {
        if (g_systemLoad < 0) {
            GSL_SystemSaveRequestBuild(&g_systemRequest);
            g_systemLoad = Lib_SaveTaskSet(1, &g_systemRequest, kSaveSystemSlot);
        }
        if (g_systemLoad >= 0 && Lib_SaveTaskResult(g_systemLoad) == 0) return;
        if (g_systemLoad >= 0) Lib_SaveTaskEnd(g_systemLoad);
        g_systemLoad = -1;
        GSL_SystemDataCheck(&SystemDataBlock);
        systemDone = true;
    }
    systemDone = false;
    Lib_SoundPlay(0, "sound/bgm/Quillmere.oggl", 0, -1, 60, 0, nullptr);
    if (!FontLoad()) {
        int32_t language = TextLanguage.load(std::memory_order_relaxed);
        if (language < 0 || language > 3) language = Lib_LanguageGet();
        char name[32];
        std::snprintf(name, sizeof name, "font_%02d.ttf", int(language));
        g_fontTask = Lib_FontSet(name, "font_add_00.ext");
    }
    for (ModeFunction& entry : ModeStack)
        if (entry == GSL_BootModeCB) entry = GSL_LogoModeCB;
}

void GSL_LogoModeCB() {
    const FontLoadWork* w = FontLoad();
    if (w && w->result == 0) return;  // still loading
    if (w) Lib_TaskDel(uint32_t(g_fontTask));
    g_fontTask = -1;
}
