// The font-settings window on the UI thread: a second SDL window drawn with
// SDL's 2D renderer and FreeType text. It shows what the game thread tells
// it (a view: the face list, the selection, the focus, the preview) and sends
// back what the player does with it as messages on the game thread's queue.
// The game thread only posts; it never waits for the window.
#pragma once

#include <cstdint>

#include "platform/plat_msg.h"
#include "platform/plat_window.h"

inline constexpr int32_t kPlatFontMaxItems = 512;
inline constexpr int32_t kPlatFontNameSize = 64;
inline constexpr int32_t kPlatFontItemHeight = 16;  // one list row, in pixels
inline constexpr int32_t kPlatFontPreviewHeight = 30;  // cell height of the preview text

// Everything the window shows. Rectangles are in client pixels.
struct PlatFontWindowView {
    uint32_t serial;  // the window this view belongs to
    char title[32];
    int32_t width, height;  // client size
    PlatRect list;
    PlatRect button[3];  // OK, Cancel, Reset
    PlatRect preview;
    int32_t itemCount;
    int32_t selection;  // -1 none
    int32_t top;        // first row shown
    int32_t focus;      // 1 list, 2 OK, 3 Cancel, 4 Reset
    int32_t pressed;    // the button drawn pushed in (2..4), 0 none
    char previewFace[kPlatFontNameSize];
    char previewText[256];
    char items[kPlatFontMaxItems][kPlatFontNameSize];  // in list order (sorted)
};

// A face the window may draw with: its family name and font file bytes
// (copied when the window is opened).
struct PlatFontFace {
    const char* family;
    const void* data;
    uint32_t size;
};

// --- Game thread: requests (any thread; never waited for) --------------------
// Opens a window (closing any earlier one) with the view and the faces; the
// first face is the one used for the list and buttons and for unknown names.
void Plat_FontWindowOpen(const PlatFontWindowView& view, const PlatFontFace* faces, int32_t faceCount);
// Shows a new view of the open window with the same serial.
void Plat_FontWindowShow(const PlatFontWindowView& view);
// Closes the window of the serial and gives the game window the focus back.
void Plat_FontWindowClose(uint32_t serial);

// --- Messages to the game thread ---------------------------------------------
inline constexpr uint32_t kPlatMsgFontWindow = 0x464E5701;

enum PlatFontEvent : int32_t {
    PFE_CLOSE = 1,   // the close box
    PFE_PAINT,       // the window was shown or uncovered
    PFE_KEY_DOWN,    // p = PlatFontKey
    PFE_KEY_UP,
    PFE_MOUSE_DOWN,  // left button; p, q = client x, y
    PFE_MOUSE_UP,
};
enum PlatFontKey : int32_t { PFK_UP = 1, PFK_DOWN, PFK_HOME, PFK_END, PFK_PAGE_UP, PFK_PAGE_DOWN, PFK_SPACE };

struct PlatFontEventArgs {
    uint32_t serial;
    int32_t event;
    int32_t p, q;
};
inline PlatMsg Plat_FontEventMsg(uint32_t serial, int32_t event, int32_t p, int32_t q) {
    return PlatMsg{kPlatMsgFontWindow, int64_t(uint64_t(serial) << 32 | uint32_t(event)),
                   int64_t(uint64_t(uint32_t(p)) << 32 | uint32_t(q)), nullptr};
}
inline PlatFontEventArgs Plat_FontEventArgs(const PlatMsg& msg) {
    return PlatFontEventArgs{uint32_t(uint64_t(msg.a) >> 32), int32_t(uint32_t(msg.a)),
                             int32_t(uint32_t(uint64_t(msg.b) >> 32)), int32_t(uint32_t(msg.b))};
}

// --- UI thread -----------------------------------------------------------------
// Start-up of the request channel (from Plat_VideoInit).
void Plat_FontWindowSetup();
// The pump's hook, given each SDL event before the others see it: takes the
// requests, the font window's own events and, while it is open, the game
// window's mouse (the game window is disabled meanwhile). True when taken.
// Key events go on to the engine's input as well.
bool Plat_FontWindowEvent(void* sdlEvent);
// Destroys the window if open (from Plat_VideoQuit).
void Plat_FontWindowDestroy();
// The last composed client image (0xAARRGGBB rows), or null while closed.
const uint32_t* Plat_FontWindowImage(int32_t* width, int32_t* height);
// The open window's SDL id, 0 while closed.
uint32_t Plat_FontWindowId();

// --- Text layout (pure) --------------------------------------------------------
struct PlatTextLine {
    int32_t begin, end;  // code points [begin, end) are drawn
};
// Breaks text into lines no wider than width, as word-broken text is: at
// line feeds, after spaces and around wide (CJK) characters, never before
// closing punctuation; spaces at a break are dropped; a word wider than a
// line is cut where it overflows. Returns the number of lines (at most max).
int32_t Plat_TextWrap(const uint32_t* text, const int32_t* advance, int32_t count, int32_t width,
                      PlatTextLine* lines, int32_t max);
