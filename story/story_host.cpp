#include "story/story_host.h"

namespace {
const StoryHost kDefaults = {
    [](int32_t, int32_t*) { return int32_t(-1); },
};
StoryHost g_host = kDefaults;
}  // namespace

void GSL_StoryHostSet(const StoryHost* host) {
    g_host = host ? *host : kDefaults;
    if (!g_host.optionLabels) g_host.optionLabels = kDefaults.optionLabels;
}

const StoryHost& GSL_StoryHost() { return g_host; }
