#include "screens/system_screens.h"

#include <cstring>

#include "screens/boot.h"
#include "ui/mode.h"

// Stand-ins until the system screens exist. The title hands over to the logo
// (a load puts it below the story, which comes back to it).
void GSL_TitleModeCB() {
    const int n = GSL_ModeCount();
    if (n > 0 && ModeStack[n - 1] == GSL_TitleModeCB) ModeStack[n - 1] = GSL_LogoModeCB;
}
void GSL_OptionModeCB() {}

// Stand-in until the option items exist: every template is the terminator.
OptionTemplate* GSL_OptionTemplateGet(OptionTemplate* out, int32_t) {
    if (!out) return out;
    std::memset(out, 0, sizeof *out);
    out->textCount = -1;
    for (int32_t& r : out->spriteRect) r = -1;
    for (int32_t& t : out->textIndex) t = -1;
    return out;
}
