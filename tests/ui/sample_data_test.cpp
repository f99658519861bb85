// The sample's archives, built once for the whole run before any test that
// plays them starts (CTest runs this first: every other test requires it), so
// that no test spends its own time limit waiting for the build.
#include <gtest/gtest.h>

#include "tests/ui/screen_harness.h"

TEST(SampleData, IsBuiltOnceForTheWholeRun) { EXPECT_FALSE(SampleFolder().empty()); }
