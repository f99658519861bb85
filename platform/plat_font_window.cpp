#include "platform/plat_font_window.h"

#include <SDL.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/plat_input.h"

namespace {

// --- Requests from the game thread -------------------------------------------

struct FaceBytes {
    std::string family;
    std::vector<uint8_t> bytes;
};
using FaceSet = std::vector<FaceBytes>;

struct Command {
    bool open;  // else close
    uint32_t serial;
    std::shared_ptr<FaceSet> faces;
};

// process-wide (g_mutex, g_commands, g_posted, g_postedNew, g_hasWork, g_wakePending): the font
// window's requests and the wake-up posted for them, emptied as they are served
std::mutex g_mutex;
std::vector<Command> g_commands;  // guarded by g_mutex
PlatFontWindowView g_posted;      // guarded: the newest view
bool g_postedNew = false;         // guarded
std::atomic<bool> g_hasWork{false};
std::atomic<bool> g_wakePending{false};
// process-wide: the event type that wakes the UI thread for the font window,
// registered with SDL once for the process (Plat_FontWindowSetup)
std::atomic<uint32_t> g_wakeType{0};

void Wake() {
    uint32_t type = g_wakeType.load();
    if (type == 0 || g_wakePending.exchange(true)) return;
    SDL_Event ev{};
    ev.type = type;
    if (SDL_PushEvent(&ev) != 1) g_wakePending.store(false);
}

// --- The window (UI thread) ---------------------------------------------------

struct UiFace {
    std::string family;
    std::vector<uint8_t> bytes;
    FT_Face face = nullptr;
};

// process-wide (g_window, g_renderer, g_texture, g_serial, g_incoming, g_view, g_pixels, g_ft,
// g_faces): the font window, made by its opening and released by its closing
SDL_Window* g_window = nullptr;
SDL_Renderer* g_renderer = nullptr;
SDL_Texture* g_texture = nullptr;
uint32_t g_serial = 0;           // serial of the open window
PlatFontWindowView g_incoming;   // the view taken from the requests
PlatFontWindowView g_view;       // the view shown
std::vector<uint32_t> g_pixels;  // the composed client area
FT_Library g_ft = nullptr;
std::vector<UiFace> g_faces;

constexpr uint32_t kGrey = 0xFFC0C0C0, kWhite = 0xFFFFFFFF, kBlack = 0xFF000000, kShadow = 0xFF808080,
                   kHighlight = 0xFF0078D7;
constexpr int32_t kUiCell = 15;  // cell height of the list and button texts
constexpr const char* kButtonText[3] = {"OK", "Cancel", "Reset"};

SDL_Window* GameWindow() { return static_cast<SDL_Window*>(Plat_WindowHandle()); }

void Post(int32_t event, int32_t p = 0, int32_t q = 0) { Plat_GameMsgPost(Plat_FontEventMsg(g_serial, event, p, q)); }

// The engine's input reads the game window's state: while the dialog is in
// front it stands in for the game window's keyboard focus, and the game
// window's mouse is let go.
void FeedGameWindowEvent(uint8_t event) {
    SDL_Window* game = GameWindow();
    if (!game) return;
    SDL_Event ev{};
    ev.type = SDL_WINDOWEVENT;
    ev.window.windowID = SDL_GetWindowID(game);
    ev.window.event = event;
    Plat_InputEvent(&ev);
}

void ReleaseGameMouse() {
    SDL_Window* game = GameWindow();
    if (!game) return;
    for (uint8_t button : {SDL_BUTTON_LEFT, SDL_BUTTON_RIGHT}) {
        SDL_Event ev{};
        ev.type = SDL_MOUSEBUTTONUP;
        ev.button.windowID = SDL_GetWindowID(game);
        ev.button.button = button;
        ev.button.x = ev.button.y = kPlatPointerAway;
        Plat_InputEvent(&ev);
    }
    FeedGameWindowEvent(SDL_WINDOWEVENT_LEAVE);
}

void RestoreGameMouse() {
    SDL_Window* game = GameWindow();
    if (!game || SDL_GetMouseFocus() != game) return;
    SDL_Event ev{};
    ev.type = SDL_MOUSEMOTION;
    ev.motion.windowID = SDL_GetWindowID(game);
    SDL_GetMouseState(&ev.motion.x, &ev.motion.y);
    Plat_InputEvent(&ev);
}

// --- Drawing ------------------------------------------------------------------

PlatRect Clip(PlatRect r, const PlatRect& c) {
    int32_t x0 = std::max(r.x, c.x), y0 = std::max(r.y, c.y);
    int32_t x1 = std::min(r.x + r.w, c.x + c.w), y1 = std::min(r.y + r.h, c.y + c.h);
    return PlatRect{x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}
PlatRect Inset(const PlatRect& r, int32_t d) { return PlatRect{r.x + d, r.y + d, r.w - 2 * d, r.h - 2 * d}; }
PlatRect Canvas() { return PlatRect{0, 0, g_view.width, g_view.height}; }

void Fill(const PlatRect& area, uint32_t color) {
    PlatRect r = Clip(area, Canvas());
    for (int32_t y = r.y; y < r.y + r.h; ++y) std::fill_n(&g_pixels[size_t(y) * g_view.width + r.x], r.w, color);
}

void Frame(const PlatRect& r, uint32_t topLeft, uint32_t bottomRight) {
    Fill(PlatRect{r.x, r.y, r.w, 1}, topLeft);
    Fill(PlatRect{r.x, r.y, 1, r.h}, topLeft);
    Fill(PlatRect{r.x, r.y + r.h - 1, r.w, 1}, bottomRight);
    Fill(PlatRect{r.x + r.w - 1, r.y, 1, r.h}, bottomRight);
}

void DottedFrame(const PlatRect& area) {
    PlatRect r = Clip(area, Canvas());
    if (r.w <= 0 || r.h <= 0) return;
    auto dot = [](int32_t x, int32_t y) {
        if ((x + y) % 2 == 0) g_pixels[size_t(y) * g_view.width + x] = kBlack;
    };
    for (int32_t x = r.x; x < r.x + r.w; ++x) dot(x, r.y), dot(x, r.y + r.h - 1);
    for (int32_t y = r.y; y < r.y + r.h; ++y) dot(r.x, y), dot(r.x + r.w - 1, y);
}

void Blend(int32_t x, int32_t y, uint32_t coverage, uint32_t color) {
    uint32_t& d = g_pixels[size_t(y) * g_view.width + x];
    uint32_t out = 0xFF000000;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t a = (d >> shift) & 0xFF, b = (color >> shift) & 0xFF;
        out |= ((a * (255 - coverage) + b * coverage + 127) / 255) << shift;
    }
    d = out;
}

// UTF-8 to code points; a byte that starts no valid sequence is U+FFFD.
std::vector<uint32_t> Decode(const char* s) {
    std::vector<uint32_t> out;
    const auto* p = reinterpret_cast<const uint8_t*>(s);
    while (*p) {
        uint32_t c = *p;
        int len = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
        uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        for (int k = 1; k < len; ++k) {
            if ((p[k] & 0xC0) != 0x80) {
                len = 0;
                break;
            }
            cp = cp << 6 | (p[k] & 0x3F);
        }
        bool overlong = (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF));
        if (len == 0 || overlong || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++p;
            continue;
        }
        out.push_back(cp);
        p += len;
    }
    return out;
}

bool SameFamily(const std::string& a, const char* b) {
    size_t n = std::min<size_t>(31, a.size());
    size_t m = std::min<size_t>(31, std::strlen(b));
    if (n != m) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
    return true;
}

// The face of a family; an unknown name gets the first face, as the
// platform substitutes.
FT_Face FaceByName(const char* family) {
    for (const UiFace& f : g_faces)
        if (f.face && SameFamily(f.family, family)) return f.face;
    return g_faces.empty() ? nullptr : g_faces[0].face;
}

// Text of one face at one cell height; characters it lacks come from the
// first face. The faces are shared: a pen sets its size before each use.
struct Pen {
    FT_Face face;
    FT_Face fallback;
    int32_t cell;
    int32_t ascent, height;
};

void UsePen(const Pen& pen) {
    for (FT_Face f : {pen.fallback, pen.face}) {
        if (!f) continue;
        FT_Size_RequestRec req{FT_SIZE_REQUEST_TYPE_CELL, 0, FT_Long(pen.cell) * 64, 0, 0};
        FT_Request_Size(f, &req);
    }
}

Pen MakePen(FT_Face face, int32_t cell) {
    Pen pen{face, g_faces.empty() ? nullptr : g_faces[0].face, cell, 0, 0};
    UsePen(pen);
    if (face) {
        pen.ascent = int32_t((face->size->metrics.ascender + 32) >> 6);
        pen.height = int32_t((face->size->metrics.ascender - face->size->metrics.descender + 32) >> 6);
    }
    return pen;
}

// Loads a code point's glyph (rendered when asked); null when nothing can.
FT_GlyphSlot LoadGlyph(const Pen& pen, uint32_t cp, bool render) {
    if (!pen.face) return nullptr;
    FT_Face f = pen.face;
    FT_UInt index = FT_Get_Char_Index(f, cp);
    if (!index && pen.fallback && pen.fallback != f) {
        if (FT_UInt other = FT_Get_Char_Index(pen.fallback, cp)) {
            f = pen.fallback;
            index = other;
        }
    }
    if (FT_Load_Glyph(f, index, FT_LOAD_DEFAULT)) return nullptr;
    if (render && f->glyph->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(f->glyph, FT_RENDER_MODE_NORMAL))
        return nullptr;
    return f->glyph;
}

std::vector<int32_t> Advances(const Pen& pen, const std::vector<uint32_t>& text) {
    UsePen(pen);
    std::vector<int32_t> adv(text.size(), 0);
    for (size_t i = 0; i < text.size(); ++i)
        if (FT_GlyphSlot g = LoadGlyph(pen, text[i], false)) adv[i] = int32_t((g->advance.x + 32) >> 6);
    return adv;
}

void DrawRun(const Pen& pen, const uint32_t* text, int32_t count, int32_t x, int32_t baseline, const PlatRect& clipArea,
             uint32_t color) {
    PlatRect clip = Clip(clipArea, Canvas());
    UsePen(pen);
    for (int32_t i = 0; i < count; ++i) {
        FT_GlyphSlot g = LoadGlyph(pen, text[i], true);
        if (!g) continue;
        const FT_Bitmap& b = g->bitmap;
        if (b.pixel_mode == FT_PIXEL_MODE_GRAY) {
            for (uint32_t r = 0; r < b.rows; ++r) {
                int32_t y = baseline - g->bitmap_top + int32_t(r);
                if (y < clip.y || y >= clip.y + clip.h) continue;
                const uint8_t* row = b.buffer + int64_t(r) * b.pitch;
                for (uint32_t c = 0; c < b.width; ++c) {
                    int32_t px = x + g->bitmap_left + int32_t(c);
                    if (row[c] && px >= clip.x && px < clip.x + clip.w) Blend(px, y, row[c], color);
                }
            }
        }
        x += int32_t((g->advance.x + 32) >> 6);
    }
}

void DrawLabel(const Pen& pen, const char* text, const PlatRect& area, bool centred, uint32_t color, int32_t shift) {
    std::vector<uint32_t> cps = Decode(text);
    int32_t width = 0;
    for (int32_t a : Advances(pen, cps)) width += a;
    int32_t x = centred ? area.x + (area.w - width) / 2 : area.x + 2;
    int32_t baseline = area.y + (area.h - pen.height) / 2 + pen.ascent;
    DrawRun(pen, cps.data(), int32_t(cps.size()), x + shift, baseline + shift, area, color);
}

void DrawList(const Pen& ui) {
    const PlatFontWindowView& v = g_view;
    Fill(v.list, kWhite);
    Frame(v.list, kBlack, kBlack);
    PlatRect inner = Inset(v.list, 1);
    int32_t rows = std::max(1, inner.h / kPlatFontItemHeight);
    int32_t count = std::clamp(v.itemCount, 0, kPlatFontMaxItems);
    int32_t caret = v.selection >= 0 ? v.selection : 0;
    for (int32_t r = 0; r < rows; ++r) {
        int32_t item = v.top + r;
        if (item < 0 || item >= count) break;
        PlatRect row = Clip(PlatRect{inner.x, inner.y + r * kPlatFontItemHeight, inner.w, kPlatFontItemHeight}, inner);
        bool selected = item == v.selection;
        if (selected) Fill(row, kHighlight);
        char name[kPlatFontNameSize];
        std::memcpy(name, v.items[item], sizeof name);
        name[sizeof name - 1] = 0;
        DrawLabel(ui, name, row, false, selected ? kWhite : kBlack, 0);
        if (v.focus == 1 && item == caret) DottedFrame(row);
    }
}

void DrawButtons(const Pen& ui) {
    for (int32_t b = 0; b < 3; ++b) {
        const PlatRect& r = g_view.button[b];
        bool down = g_view.pressed == b + 2;
        Fill(r, kGrey);
        Frame(r, kBlack, kBlack);
        if (down)
            Frame(Inset(r, 1), kShadow, kShadow);
        else
            Frame(Inset(r, 1), kWhite, kShadow);
        DrawLabel(ui, kButtonText[b], r, true, kBlack, down ? 1 : 0);
        if (g_view.focus == b + 2) DottedFrame(Inset(r, 4));
    }
}

void DrawPreview() {
    const PlatFontWindowView& v = g_view;
    Fill(v.preview, kWhite);
    char face[kPlatFontNameSize], text[sizeof v.previewText];
    std::memcpy(face, v.previewFace, sizeof face);
    std::memcpy(text, v.previewText, sizeof text);
    face[sizeof face - 1] = text[sizeof text - 1] = 0;
    Pen pen = MakePen(FaceByName(face), kPlatFontPreviewHeight);
    if (!pen.face || pen.height <= 0) return;
    std::vector<uint32_t> cps = Decode(text);
    std::vector<int32_t> adv = Advances(pen, cps);
    PlatTextLine lines[64];
    int32_t n = Plat_TextWrap(cps.data(), adv.data(), int32_t(cps.size()), v.preview.w, lines, 64);
    for (int32_t i = 0; i < n; ++i) {
        int32_t top = v.preview.y + i * pen.height;
        if (top >= v.preview.y + v.preview.h) break;
        DrawRun(pen, cps.data() + lines[i].begin, lines[i].end - lines[i].begin, v.preview.x, top + pen.ascent, v.preview,
                kBlack);
    }
}

void Present() {
    if (!g_renderer || !g_texture || g_pixels.empty()) return;
    SDL_UpdateTexture(g_texture, nullptr, g_pixels.data(), g_view.width * 4);
    SDL_RenderClear(g_renderer);
    SDL_RenderCopy(g_renderer, g_texture, nullptr, nullptr);
    SDL_RenderPresent(g_renderer);
}

void Render() {
    g_pixels.assign(size_t(g_view.width) * g_view.height, kGrey);
    Pen ui = MakePen(g_faces.empty() ? nullptr : g_faces[0].face, kUiCell);
    DrawList(ui);
    DrawPreview();
    DrawButtons(ui);
    Present();
}

// --- Opening and closing ------------------------------------------------------

void Destroy(bool focusGame) {
    if (!g_window) return;
    if (g_texture) SDL_DestroyTexture(g_texture);
    if (g_renderer) SDL_DestroyRenderer(g_renderer);
    SDL_DestroyWindow(g_window);
    g_texture = nullptr;
    g_renderer = nullptr;
    g_window = nullptr;
    g_serial = 0;
    for (UiFace& f : g_faces)
        if (f.face) FT_Done_Face(f.face);
    g_faces.clear();
    if (g_ft) FT_Done_FreeType(g_ft);
    g_ft = nullptr;
    g_pixels.clear();
    if (!focusGame) return;
    SDL_Window* game = GameWindow();
    if (!game) return;
    SDL_RaiseWindow(game);
    if (SDL_GetKeyboardFocus() != game) FeedGameWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    RestoreGameMouse();
}

void Create(uint32_t serial, FaceSet& faces, const PlatFontWindowView& view) {
    g_view = view;
    g_view.width = std::clamp(g_view.width, 1, 4096);
    g_view.height = std::clamp(g_view.height, 1, 4096);
    g_view.title[sizeof g_view.title - 1] = 0;
    int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
    SDL_Window* game = GameWindow();
    if (game) {
        // Centred on the game window, in integer halves.
        int gx = 0, gy = 0, gw = 0, gh = 0;
        SDL_GetWindowPosition(game, &gx, &gy);
        SDL_GetWindowSize(game, &gw, &gh);
        x = gx + (gw - g_view.width) / 2;
        y = gy + (gh - g_view.height) / 2;
    }
    g_serial = serial;
    g_window = SDL_CreateWindow("font setting", x, y, g_view.width, g_view.height, SDL_WINDOW_SHOWN | SDL_WINDOW_SKIP_TASKBAR);
    if (!g_window) {
        // Without a window the dialog is closed at once, as by its close box.
        std::fprintf(stderr, "vn: the font window could not be opened: %s\n", SDL_GetError());
        Post(PFE_CLOSE);
        g_serial = 0;
        return;
    }
    if (g_view.title[0]) SDL_SetWindowTitle(g_window, g_view.title);
    if (game) SDL_SetWindowModalFor(g_window, game);
    // Software drawing straight into the window's own framebuffer: no GL
    // context for a dialog (a user's setting of the hint still wins).
    SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    g_renderer = SDL_CreateRenderer(g_window, -1, SDL_RENDERER_SOFTWARE);
    if (g_renderer)
        g_texture = SDL_CreateTexture(g_renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, g_view.width,
                                      g_view.height);
    if (FT_Init_FreeType(&g_ft)) g_ft = nullptr;
    for (FaceBytes& f : faces) {
        UiFace ui;
        ui.family = f.family;
        ui.bytes.swap(f.bytes);
        if (!g_ft || FT_New_Memory_Face(g_ft, ui.bytes.data(), FT_Long(ui.bytes.size()), 0, &ui.face)) continue;
        g_faces.push_back(std::move(ui));  // the bytes move with their buffer: the face keeps its pointer
    }
    ReleaseGameMouse();
    Render();
    SDL_RaiseWindow(g_window);
    Post(PFE_PAINT);  // a new window paints itself once
}

void Drain() {
    g_wakePending.store(false);
    if (!g_hasWork.exchange(false)) return;
    std::vector<Command> commands;
    bool viewNew;
    {
        std::lock_guard lock(g_mutex);
        commands.swap(g_commands);
        viewNew = g_postedNew;
        if (viewNew) g_incoming = g_posted;
        g_postedNew = false;
    }
    bool created = false;
    for (Command& c : commands) {
        if (c.open) {
            Destroy(false);
            if (viewNew && g_incoming.serial == c.serial && c.faces) {
                Create(c.serial, *c.faces, g_incoming);
                created = true;
            }
        } else if (g_window && c.serial == g_serial) {
            Destroy(true);
        }
    }
    if (viewNew && !created && g_window && g_incoming.serial == g_serial) {
        int32_t w = g_view.width, h = g_view.height;
        g_view = g_incoming;
        g_view.width = w;  // the window keeps the size it was made with
        g_view.height = h;
        Render();
    }
}

PlatFontKey KeyOf(SDL_Scancode sc) {
    switch (sc) {
        case SDL_SCANCODE_UP:
        case SDL_SCANCODE_LEFT: return PFK_UP;
        case SDL_SCANCODE_DOWN:
        case SDL_SCANCODE_RIGHT: return PFK_DOWN;
        case SDL_SCANCODE_HOME: return PFK_HOME;
        case SDL_SCANCODE_END: return PFK_END;
        case SDL_SCANCODE_PAGEUP: return PFK_PAGE_UP;
        case SDL_SCANCODE_PAGEDOWN: return PFK_PAGE_DOWN;
        case SDL_SCANCODE_SPACE: return PFK_SPACE;
        default: return PlatFontKey(0);
    }
}

bool WindowEvent(const SDL_WindowEvent& w) {
    SDL_Window* game = GameWindow();
    if (w.windowID == SDL_GetWindowID(g_window)) {
        switch (w.event) {
            case SDL_WINDOWEVENT_CLOSE: Post(PFE_CLOSE); break;
            case SDL_WINDOWEVENT_EXPOSED:
                Present();
                Post(PFE_PAINT);
                break;
            case SDL_WINDOWEVENT_FOCUS_GAINED: FeedGameWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED); break;
            case SDL_WINDOWEVENT_FOCUS_LOST:
                if (!game || SDL_GetKeyboardFocus() != game) FeedGameWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
                break;
            default: break;
        }
        return true;
    }
    if (game && w.windowID == SDL_GetWindowID(game)) {
        // The keyboard went over to the dialog: for the engine it stays.
        if (w.event == SDL_WINDOWEVENT_FOCUS_LOST && SDL_GetKeyboardFocus() == g_window) return true;
        // The game window is disabled: activating it brings the dialog forward.
        if (w.event == SDL_WINDOWEVENT_FOCUS_GAINED) SDL_RaiseWindow(g_window);
    }
    return false;
}

bool MouseEvent(uint32_t windowId, const SDL_Event& ev) {
    SDL_Window* game = GameWindow();
    if (windowId == SDL_GetWindowID(g_window)) {
        if ((ev.type == SDL_MOUSEBUTTONDOWN || ev.type == SDL_MOUSEBUTTONUP) && ev.button.button == SDL_BUTTON_LEFT)
            Post(ev.type == SDL_MOUSEBUTTONDOWN ? PFE_MOUSE_DOWN : PFE_MOUSE_UP, ev.button.x, ev.button.y);
        return true;
    }
    return game && windowId == SDL_GetWindowID(game);  // disabled while the dialog is open
}

}  // namespace

// --- Requests -------------------------------------------------------------------

void Plat_FontWindowOpen(const PlatFontWindowView& view, const PlatFontFace* faces, int32_t faceCount) {
    auto set = std::make_shared<FaceSet>();
    for (int32_t i = 0; i < faceCount; ++i) {
        if (!faces[i].data || !faces[i].size) continue;
        const auto* bytes = static_cast<const uint8_t*>(faces[i].data);
        set->push_back(FaceBytes{faces[i].family ? std::string(faces[i].family, strnlen(faces[i].family, 63)) : "",
                                 std::vector<uint8_t>(bytes, bytes + faces[i].size)});
    }
    {
        std::lock_guard lock(g_mutex);
        g_commands.clear();  // opening closes whatever was there
        g_commands.push_back(Command{true, view.serial, std::move(set)});
        g_posted = view;
        g_postedNew = true;
        g_hasWork.store(true);
    }
    Wake();
}

void Plat_FontWindowShow(const PlatFontWindowView& view) {
    {
        std::lock_guard lock(g_mutex);
        g_posted = view;
        g_postedNew = true;
        g_hasWork.store(true);
    }
    Wake();
}

void Plat_FontWindowClose(uint32_t serial) {
    {
        std::lock_guard lock(g_mutex);
        g_commands.push_back(Command{false, serial, nullptr});
        g_hasWork.store(true);
    }
    Wake();
}

// --- UI thread ------------------------------------------------------------------

void Plat_FontWindowSetup() {
    if (g_wakeType.load() != 0) return;
    uint32_t type = SDL_RegisterEvents(1);
    if (type != uint32_t(-1)) g_wakeType.store(type);
}

bool Plat_FontWindowEvent(void* sdlEvent) {
    SDL_Event& ev = *static_cast<SDL_Event*>(sdlEvent);
    uint32_t wake = g_wakeType.load();
    bool isWake = wake != 0 && ev.type == wake;
    if (isWake || g_hasWork.load()) Drain();
    if (isWake) return true;
    if (!g_window) return false;
    switch (ev.type) {
        case SDL_WINDOWEVENT: return WindowEvent(ev.window);
        case SDL_MOUSEMOTION: return MouseEvent(ev.motion.windowID, ev);
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: return MouseEvent(ev.button.windowID, ev);
        case SDL_MOUSEWHEEL: return MouseEvent(ev.wheel.windowID, ev);
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (ev.key.windowID == SDL_GetWindowID(g_window)) {
                PlatFontKey key = KeyOf(ev.key.keysym.scancode);
                bool down = ev.type == SDL_KEYDOWN;
                if (key && !(down && ev.key.repeat && key == PFK_SPACE)) Post(down ? PFE_KEY_DOWN : PFE_KEY_UP, key);
            }
            return false;  // the keyboard also makes the engine's buttons
        default: return false;
    }
}

void Plat_FontWindowDestroy() { Destroy(false); }

const uint32_t* Plat_FontWindowImage(int32_t* width, int32_t* height) {
    if (!g_window || g_pixels.empty()) return nullptr;
    *width = g_view.width;
    *height = g_view.height;
    return g_pixels.data();
}

uint32_t Plat_FontWindowId() { return g_window ? SDL_GetWindowID(g_window) : 0; }

// --- Text layout --------------------------------------------------------------

namespace {
bool IsWide(uint32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || c >= 0x20000;
}

// Closing punctuation, small kana and the prolonged sound mark begin no line.
bool NoBreakBefore(uint32_t c) {
    static constexpr uint32_t kSet[] = {
        ')', ']', '}', ',', '.', '!', '?', ':', ';', 0x3001, 0x3002, 0x3005, 0x3009, 0x300B, 0x300D, 0x300F, 0x3011,
        0x3015, 0x3041, 0x3043, 0x3045, 0x3047, 0x3049, 0x3063, 0x3083, 0x3085, 0x3087, 0x308E, 0x309D, 0x309E,
        0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30C3, 0x30E3, 0x30E5, 0x30E7, 0x30EE, 0x30F5, 0x30F6, 0x30FB,
        0x30FC, 0xFF01, 0xFF09, 0xFF0C, 0xFF0E, 0xFF1A, 0xFF1B, 0xFF1F, 0xFF3D, 0xFF5D};
    return std::find(std::begin(kSet), std::end(kSet), c) != std::end(kSet);
}

// Opening brackets end no line.
bool NoBreakAfter(uint32_t c) {
    static constexpr uint32_t kSet[] = {'(', '[', '{', 0x3008, 0x300A, 0x300C, 0x300E, 0x3010, 0x3014, 0xFF08, 0xFF3B, 0xFF5B};
    return std::find(std::begin(kSet), std::end(kSet), c) != std::end(kSet);
}
}  // namespace

int32_t Plat_TextWrap(const uint32_t* text, const int32_t* advance, int32_t count, int32_t width, PlatTextLine* lines,
                      int32_t max) {
    int32_t n = 0, i = 0;
    while (i < count && n < max) {
        int32_t begin = i, x = 0, breakEnd = -1, breakNext = -1, end = count, next = count;
        bool wrapped = false;
        for (int32_t j = begin; j < count; ++j) {
            uint32_t c = text[j];
            if (c == '\n') {
                end = j > begin && text[j - 1] == '\r' ? j - 1 : j;
                next = j + 1;
                break;
            }
            if (c == ' ') {  // spaces may hang past the edge
                breakEnd = j;
                breakNext = j + 1;
                x += advance[j];
                continue;
            }
            uint32_t prev = j > begin ? text[j - 1] : 0;
            if (j > begin && prev != ' ' && (IsWide(c) || IsWide(prev)) && !NoBreakBefore(c) && !NoBreakAfter(prev)) {
                breakEnd = j;
                breakNext = j;
            }
            if (j > begin && x + advance[j] > width) {
                wrapped = true;
                if (breakEnd > begin) {
                    end = breakEnd;
                    next = breakNext;
                } else {
                    end = next = j;  // one word wider than the line
                }
                break;
            }
            x += advance[j];
        }
        while (end > begin && text[end - 1] == ' ') --end;
        lines[n++] = PlatTextLine{begin, end};
        i = next;
        if (wrapped)
            while (i < count && text[i] == ' ') ++i;
    }
    return n;
}
