// The choice menu (menuadd, menustart) and the control commands wait, click,
// returnmenu, trophy and debug, on the story screen. Game thread only.
#pragma once

#include <cstdint>

#include "script/flow.h"
#include "script/script_state.h"

inline constexpr int32_t kChoiceMax = 8;
inline constexpr uint32_t kChoiceFieldSize = 256;
inline constexpr uint32_t kChoiceButtonSlot = 40;  // layer slots 40.. the buttons
inline constexpr uint32_t kChoiceSeenSlot = 56;    // layer slots 56.. the seen marks
inline constexpr uint32_t kChoiceTextSlot = 7;     // text slots 7.. the choice texts
inline constexpr int32_t kChoiceMenus = 8;         // menu ids with a memory

struct ChoiceEntry {
    char text[kChoiceFieldSize];   // after text-id expansion
    char file[kChoiceFieldSize];
    char label[kChoiceFieldSize];  // "top" when none is given
    char expression[kChoiceFieldSize];
    ScriptTagPlace place;  // of its menuadd tag
};
struct ChoiceListRecord {
    int32_t count;  // 0..8
    ChoiceEntry entries[kChoiceMax];
};
// The list the menuadd tags fill and the next menustart takes.
extern ChoiceListRecord ChoiceList;

// The choice a replay takes for a menu: the remembered one of ids 0..7 when
// it names one of the count entries, else 0.
int32_t GSL_ChoiceRemembered(int32_t menuId, int32_t count);
// Layout index of the buttons: 5 for menu id 1 or 3 and above, and for 2 in
// languages 1 and 3; else 4.
int32_t GSL_ChoiceLayout(int32_t menuId, int32_t language);

void GSL_CmdMenuAdd(CommandContext* ctx);
void GSL_CmdMenuStart(CommandContext* ctx);
void GSL_CmdWait(CommandContext* ctx);
void GSL_CmdClick(CommandContext* ctx);
void GSL_CmdReturnMenu(CommandContext* ctx);
void GSL_CmdTrophy(CommandContext* ctx);
void GSL_CmdDebug(CommandContext* ctx);
