#include "screens/system_screens.h"

#include <cstring>

// Stand-ins until the system screens exist.
void GSL_TitleModeCB() {}
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
