#include "platform/plat_window.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/plat_gl.h"

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

// The window's size is asked again only after an event that may come with a
// new size; SDL tells of a full-screen switch by such an event itself.
int g_sizeAsked = 0;
bool CountedSize(int32_t* w, int32_t* h) {
    ++g_sizeAsked;
    *w = 1280;
    *h = 720;
    return true;
}

TEST(PlatWindow, SizeShowAndExposeEventsAndAFullScreenSwitchMakeTheNextLookAskTheWindowsSize) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (!Plat_VideoInit()) GTEST_SKIP() << "no SDL video: " << Plat_LastError();
    ASSERT_TRUE(Plat_WindowCreate("size events", 0, 0, 1280, 720));
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    Plat_GLSizeQuerySet(CountedSize);
    auto asked = [] {
        const int before = g_sizeAsked;
        uint32_t w = 0, h = 0;
        Plat_GLDrawableSize(&w, &h);
        return g_sizeAsked != before;
    };
    EXPECT_TRUE(asked());
    EXPECT_FALSE(asked());
    const uint32_t window = SDL_GetWindowID(static_cast<SDL_Window*>(Plat_WindowHandle()));
    const struct {
        SDL_WindowEventID event;
        bool marks;
    } events[] = {{SDL_WINDOWEVENT_RESIZED, true},   {SDL_WINDOWEVENT_SIZE_CHANGED, true},
                  {SDL_WINDOWEVENT_EXPOSED, true},   {SDL_WINDOWEVENT_SHOWN, true},
                  {SDL_WINDOWEVENT_MAXIMIZED, true}, {SDL_WINDOWEVENT_RESTORED, true},
                  {SDL_WINDOWEVENT_MOVED, false},    {SDL_WINDOWEVENT_ENTER, false}};
    for (const auto& e : events) {
        SDL_Event ev{};
        ev.type = SDL_WINDOWEVENT;
        ev.window.windowID = window;
        ev.window.event = uint8_t(e.event);
        ev.window.data1 = 1280;
        ev.window.data2 = 720;
        ASSERT_EQ(SDL_PushEvent(&ev), 1);
        pumpAll();
        EXPECT_EQ(asked(), e.marks) << "window event " << int(e.event);
        EXPECT_FALSE(asked());
    }
    for (bool on : {true, false}) {
        Plat_WindowFullScreen(on);
        pumpAll();
        EXPECT_TRUE(asked()) << (on ? "to full screen" : "to a window");
    }
    Plat_GLSizeQuerySet(nullptr);
    Plat_WindowDestroy();
    Plat_VideoQuit();
}
}  // namespace
