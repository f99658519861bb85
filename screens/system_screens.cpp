#include "screens/system_screens.h"

#include "screens/boot.h"
#include "ui/mode.h"

// Stand-in until the title screen exists: it hands over to the logo (a load
// puts it below the story, which comes back to it).
void GSL_TitleModeCB() {
    const int n = GSL_ModeCount();
    if (n > 0 && ModeStack[n - 1] == GSL_TitleModeCB) ModeStack[n - 1] = GSL_LogoModeCB;
}
