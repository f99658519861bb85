// The option screen over a test screen in the sample's data: opened with
// its resources kept, run until its list takes input.
#pragma once

#include <gtest/gtest.h>

#include "engine/core/engine_state.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "screens/option.h"
#include "screens/option_items.h"
#include "screens/screens_host.h"
#include "story/game_state.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/mode.h"
#include "ui/system_sound.h"

class OptionEnv : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(SampleData());
        Messages();
        ASSERT_TRUE(Fonts(1));
        StartFull();
        GSL_SystemDataReset();
        SystemDataBlock.language = 1;
        ModeStack[0] = TestScreen(0);
        SetBody(0, [] {});
        MakeContext(TestScreen(0));
        GSL_SystemDispColorSet(0x00000000u, 1);
        Frame(3);
    }
    void TearDown() override {
        GSL_ScreensHostSet(nullptr);
        ScreenHarness::TearDown();
    }
    static OptionWork* Work() { return GSL_OptionWork(); }
    static int32_t Step() {
        const ScreenWork* w = GSL_WorkGet(GSL_OptionModeCB);
        return w ? w->step : -1;
    }
    void Open() {
        GSL_ModePush(GSL_OptionModeCB, 1);
        FramesUntil([] { return Step() == 2 && GSL_ModeTop() == GSL_OptionModeCB && Work()->wipeOrDialog < 0; },
                    120, "the option list");
    }
    void Press(uint32_t bits, int after = 1) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame(after);
    }
    // Sound effects played since the mark (the rotation counts them, mod 4).
    int32_t mark_ = 0;
    void Mark() { mark_ = SystemSeRotation; }
    bool Played() const { return SystemSeRotation != mark_; }
    static uint8_t& Byte(int32_t n) { return reinterpret_cast<uint8_t*>(&SystemDataBlock)[n]; }
};
