#include "screens/boot.h"

#include "engine/sound/sound.h"
#include "ui/mode.h"

// Stand-ins until the system screens exist: the boot flow starts the title
// music and hands over to the logos at once; the logo screen stays on the
// stack.
void GSL_BootModeCB() {
    Lib_SoundPlay(0, "sound/bgm/title.oggl", 0, -1, 60, 0, nullptr);
    for (ModeFunction& entry : ModeStack)
        if (entry == GSL_BootModeCB) entry = GSL_LogoModeCB;
}

void GSL_LogoModeCB() {}
