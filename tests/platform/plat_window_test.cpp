#include "platform/plat_window.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {
std::vector<PlatWindowEventKind> g_seen;
void record(const PlatWindowEvent& ev) {
    if (ev.kind != PWE_IDLE) g_seen.push_back(ev.kind);
}

// Pumps until the queue is empty or the pump ends; the last result.
PumpResult pumpAll() {
    PumpResult r = PUMP_HANDLED;
    for (int i = 0; i < 100 && r == PUMP_HANDLED; ++i) r = Plat_PumpOne(0);
    return r;
}

TEST(PlatWindow, QuitFromOutsideGoesToTheWindowAndOwnQuitEndsThePumpEvenWhenTheQueueIsFull) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (!Plat_VideoInit()) GTEST_SKIP() << "no SDL video: " << Plat_LastError();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    g_seen.clear();
    Plat_SetWindowEventHandler(record);

    // SDL's quit (its SIGINT/SIGTERM handler sends the same) is the window's to handle.
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    EXPECT_EQ(pumpAll(), PUMP_NONE);
    EXPECT_EQ(g_seen, std::vector<PlatWindowEventKind>{PWE_QUIT});

    // A full queue loses requests, and says so; the program's own quit still ends the pump.
    SDL_Event filler{};
    filler.type = SDL_USEREVENT;
    int pushed = 0;
    while (pushed < 100000 && SDL_PushEvent(&filler) == 1) ++pushed;
    ASSERT_LT(pushed, 100000);
    EXPECT_FALSE(Plat_PostWindowRequest(WINDOW_REQ_MAXIMIZE));
    Plat_PostQuit();
    EXPECT_EQ(Plat_PumpOne(0), PUMP_QUIT);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    EXPECT_TRUE(Plat_PostWindowRequest(WINDOW_REQ_MAXIMIZE));
    g_seen.clear();
    EXPECT_EQ(pumpAll(), PUMP_NONE);
    EXPECT_EQ(g_seen, std::vector<PlatWindowEventKind>{PWE_REQUEST});

    Plat_VideoQuit();
}
}  // namespace
