// A stand-in story screen for script runs without the story layer: a
// dispatcher that never runs, registered as the story screen while the
// object lives (the registry is given back after), and a context of its own
// whose script task and layer sprites the caller sets. The context is in the
// table of contexts while Present(true).
#pragma once

#include <memory>

#include "ui/mode.h"

class StoryStandIn {
public:
    StoryStandIn() : work_(std::make_unique<ScreenWork>()) {
        for (uint32_t i = 0; i < SCREEN_COUNT; ++i) saved_[i] = GSL_ScreenOf(ScreenId(i));
        ModeFunction screens[SCREEN_COUNT] = {};
        screens[SCREEN_STORY] = Dispatcher;
        GSL_ScreensSet(screens);
        // Made empty as every context is, in a free entry of the table.
        Present(true);
        for (int32_t i = 0; i < kScreenWorkSlots; ++i)
            if (ScreenWorkTable[i] == work_.get()) GSL_WorkInit(i, Dispatcher);
        Present(false);
    }
    ~StoryStandIn() {
        Present(false);
        GSL_ScreensSet(saved_);
    }
    StoryStandIn(const StoryStandIn&) = delete;
    StoryStandIn& operator=(const StoryStandIn&) = delete;

    ScreenWork& Work() { return *work_; }
    void Present(bool present) {
        for (ScreenWork*& w : ScreenWorkTable)
            if (w == work_.get()) w = nullptr;
        if (!present) return;
        for (ScreenWork*& w : ScreenWorkTable) {
            if (w) continue;
            w = work_.get();
            return;
        }
    }
    static void Dispatcher() {}

private:
    std::unique_ptr<ScreenWork> work_;
    ModeFunction saved_[SCREEN_COUNT] = {};
};
