#include "story/story_host.h"

#include "engine/core/host_table.h"

namespace {
const StoryHost kDefaults = {
    [](int32_t, int32_t*) { return int32_t(-1); },
};
StoryHost g_host = kDefaults;
}  // namespace

void GSL_StoryHostSet(const StoryHost* host) {
    Lib_HostTableSet(g_host, host, kDefaults, &StoryHost::optionLabels);
}

const StoryHost& GSL_StoryHost() { return g_host; }
