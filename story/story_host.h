// What the story layer asks of the screens above it: the labels of the
// option screen's templates, which the configuration rewrites after a
// language change. The top layer installs the whole table at start-up; the
// default answers that the option screen has no labels. The top layer also
// calls the layer's run-wide reset here.
#pragma once

#include <cstdint>

struct StoryHost {
    // The label ids of option template n (up to 4 into labels) and their
    // count; -1 ends the table.
    int32_t (*optionLabels)(int32_t n, int32_t labels[4]);
};
// Null restores the defaults; a null entry takes its default.
void GSL_StoryHostSet(const StoryHost* host);
const StoryHost& GSL_StoryHost();

// Puts the story layer's run-wide state back as a fresh process has it: the
// system data's freshness, the quick save and its guard, the interface
// font's load, the story's start and exit requests, its cover, guide and
// held-picture handles and the message window's slide.
void GSL_StoryRunStateReset();
