#include "engine/text/font_window.h"

#include <algorithm>
#include <cstring>

#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "engine/text/glyph_cache.h"

// process-wide: made afresh by Lib_FontAppStateClear
FontAppStateT FontAppState;

namespace {

constexpr FontWindowOps kPlatformOps = {Plat_FontWindowOpen, Plat_FontWindowShow, Plat_FontWindowClose};
// process-wide (g_ops, g_serial, g_dirty): the ops are a test seam; the rest is made afresh by
// Lib_FontAppCreate
const FontWindowOps* g_ops = &kPlatformOps;
uint32_t g_serial = 0;  // the last window's serial
bool g_dirty = false;   // the view changed since it was last shown

constexpr uint32_t kButtonTab = 0x40000, kButtonNext = 0x80, kButtonBack = 0x40;
constexpr int32_t kRepeatFrames = 30;
constexpr char kSampleSuffix[] = " Quillmere";

// Copies a name cut to fit `size` bytes with its terminator, on a UTF-8
// character boundary.
void CopyCut(char* out, const char* in, size_t size) {
    size_t n = strnlen(in, size);
    if (n >= size) {
        n = size - 1;
        while (n > 0 && (uint8_t(in[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(out, in, n);
    out[n] = 0;
}

char Fold(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// The list's order: byte-wise with ASCII letters folded.
int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        uint8_t x = uint8_t(Fold(*a)), y = uint8_t(Fold(*b));
        if (x != y || !x) return int(x) - int(y);
    }
}

bool StartsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (!*text || Fold(*text) != Fold(*prefix)) return false;
    return true;
}

int32_t TextLanguageNow() {
    int32_t g = TextRenderState.ready ? TextRenderState.language.load(std::memory_order_relaxed) : -1;
    return g >= 0 && g <= 3 ? g : Lib_LanguageGet();
}

PlatFontWindowView& View() { return FontAppState.view; }

int32_t VisibleRows() { return std::max(1, (View().list.h - 2) / kPlatFontItemHeight); }

// The list box's own operations.
void ListAdd(const char* name) {
    PlatFontWindowView& v = View();
    if (v.itemCount >= kPlatFontMaxItems) return;
    int32_t at = 0;
    while (at < v.itemCount && CompareNoCase(v.items[at], name) <= 0) ++at;
    std::memmove(v.items[at + 1], v.items[at], size_t(v.itemCount - at) * kPlatFontNameSize);
    CopyCut(v.items[at], name, kPlatFontNameSize);
    ++v.itemCount;
}

void ListSetCurSel(int32_t index) {
    PlatFontWindowView& v = View();
    if (index < -1 || index >= v.itemCount) index = -1;
    v.selection = index;
    if (index >= 0) {
        if (index < v.top) v.top = index;
        if (index >= v.top + VisibleRows()) v.top = index - VisibleRows() + 1;
    }
    g_dirty = true;
}

// Selects the first entry that begins with the name, ignoring case; nothing
// changes without one.
void ListSelectString(const char* name) {
    PlatFontWindowView& v = View();
    for (int32_t i = 0; i < v.itemCount; ++i)
        if (StartsWithNoCase(v.items[i], name)) return ListSetCurSel(i);
}

const char* ListSelectedText() {
    const PlatFontWindowView& v = View();
    return v.selection >= 0 && v.selection < v.itemCount ? v.items[v.selection] : "";
}

void SetFocus(int32_t control) {
    PlatFontWindowView& v = View();
    if (v.pressed && v.pressed != control) v.pressed = 0;  // a button lets go when it loses the focus
    v.focus = control;
    g_dirty = true;
}

int32_t FocusedIndex() {
    int32_t f = View().focus;
    return f >= FONTAPP_LIST && f <= FONTAPP_RESET ? f : FONTAPP_LIST;
}

void Flush() {
    if (g_dirty && FontAppState.window) g_ops->show(View());
    g_dirty = false;
}

bool Inside(const PlatRect& r, int32_t x, int32_t y) { return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h; }

void MouseDown(int32_t x, int32_t y) {
    PlatFontWindowView& v = View();
    if (Inside(v.list, x, y)) {
        SetFocus(FONTAPP_LIST);
        int32_t dy = y - v.list.y - 1;
        int32_t item = v.top + dy / kPlatFontItemHeight;
        if (dy >= 0 && dy / kPlatFontItemHeight < VisibleRows() && item < v.itemCount) {
            ListSetCurSel(item);
            Lib_FontAppCommand(FONTAPP_LIST);
        }
        return;
    }
    for (int32_t b = 0; b < 3; ++b) {
        if (!Inside(v.button[b], x, y)) continue;
        SetFocus(FONTAPP_OK + b);
        v.pressed = FONTAPP_OK + b;
        return;
    }
}

void MouseUp(int32_t x, int32_t y) {
    PlatFontWindowView& v = View();
    int32_t p = v.pressed;
    if (!p) return;
    v.pressed = 0;
    g_dirty = true;
    if (Inside(v.button[p - FONTAPP_OK], x, y)) Lib_FontAppCommand(p);
}

void ListKey(int32_t key) {
    PlatFontWindowView& v = View();
    if (v.itemCount == 0) return;
    int32_t sel = v.selection, last = v.itemCount - 1, page = std::max(1, VisibleRows() - 1);
    int32_t next = sel;
    switch (key) {
        case PFK_UP: next = sel - 1; break;
        case PFK_DOWN: next = sel + 1; break;
        case PFK_HOME: next = 0; break;
        case PFK_END: next = last; break;
        case PFK_PAGE_UP: next = sel - page; break;
        case PFK_PAGE_DOWN: next = sel + page; break;
        default: return;
    }
    next = std::clamp(next, 0, last);
    if (next == sel) return;
    ListSetCurSel(next);
    Lib_FontAppCommand(FONTAPP_LIST);
}

void KeyDown(int32_t key) {
    PlatFontWindowView& v = View();
    if (v.focus == FONTAPP_LIST)
        ListKey(key);
    else if (key == PFK_SPACE && v.focus >= FONTAPP_OK && v.focus <= FONTAPP_RESET) {
        v.pressed = v.focus;
        g_dirty = true;
    }
}

void KeyUp(int32_t key) {
    PlatFontWindowView& v = View();
    if (key != PFK_SPACE || !v.pressed || v.pressed != v.focus) return;
    int32_t p = v.pressed;
    v.pressed = 0;
    g_dirty = true;
    Lib_FontAppCommand(p);
}

bool SameBytes(const char* a, const char* b) {
    size_t na = strnlen(a, kFaceNameSize), nb = strnlen(b, kFaceNameSize);
    return na == nb && std::memcmp(a, b, na) == 0;
}

}  // namespace

void Lib_FontAppOpsSet(const FontWindowOps* ops) { g_ops = ops ? ops : &kPlatformOps; }

void Lib_FontAppLayout(int32_t faces, PlatFontWindowView* v) {
    bool small = faces < 15;
    int32_t h = small ? 18 * faces + 130 : 400;
    v->width = 320;
    v->height = h;
    v->list = PlatRect{10, 10, 300, h - 120};
    for (int32_t b = 0; b < 3; ++b) v->button[b] = PlatRect{30 + 90 * b, h - 40, 80, 30};
    v->preview = small ? PlatRect{10, 18 * faces + 20, 300, 60} : PlatRect{10, 290, 300, 60};
}

void Lib_FontAppListMake() {
    FontAppStateT& s = FontAppState;
    s.count = 0;
    CopyCut(s.list[0], FontDefaultFace, kFaceNameSize);
    s.count = 1;
    // Without the alternative font there is nothing to read: one face.
    if (!TextRenderState.images[2]) return;
    Lib_TtfNameGet(TextRenderState.images[2], TextRenderState.sizes[2], s.list[1]);
    s.count = 2;
}

void Lib_FontAppPreview(const char* face) {
    PlatFontWindowView& v = View();
    CopyCut(v.previewFace, face ? face : "", sizeof v.previewFace);
    // The sample sentence and the suffix within 255 bytes.
    char sample[sizeof v.previewText - (sizeof kSampleSuffix - 1)];
    Lib_MesGetBuf(nullptr, 0, 0, TextLanguageNow(), sample, sizeof sample);
    std::memcpy(v.previewText, sample, std::strlen(sample));
    std::memcpy(v.previewText + std::strlen(sample), kSampleSuffix, sizeof kSampleSuffix);
    g_dirty = true;
}

void Lib_FontAppCreate(const char* configured) {
    FontAppStateT& s = FontAppState;
    PlatFontWindowView& v = s.view;
    std::memset(&v, 0, sizeof v);
    if (++g_serial == 0) ++g_serial;
    v.serial = g_serial;
    Lib_FontAppLayout(s.count, &v);
    // The window text, cut to 31 bytes; the name it was made with while the
    // system texts are not loaded.
    Lib_MesGetBuf(nullptr, 1, 20, TextLanguageNow(), v.title, sizeof v.title);
    if (!v.title[0]) CopyCut(v.title, "font setting", sizeof v.title);
    v.selection = -1;
    for (int32_t i = 0; i < s.count && i < kFontAppMaxFaces; ++i) ListAdd(s.list[i]);
    char name[kFaceNameSize];
    CopyCut(name, configured ? configured : "", sizeof name);
    ListSelectString(name);
    Lib_FontAppPreview(name);
    v.focus = FONTAPP_LIST;

    PlatFontFace faces[2];
    int32_t n = 0;
    if (TextRenderState.images[0])
        faces[n++] = PlatFontFace{FontDefaultFace, TextRenderState.images[0], TextRenderState.sizes[0]};
    if (s.count > 1 && TextRenderState.images[2])
        faces[n++] = PlatFontFace{s.list[1], TextRenderState.images[2], TextRenderState.sizes[2]};
    s.window = v.serial;
    g_ops->open(v, faces, n);
    g_dirty = false;
}

void Lib_FontAppCommand(int32_t id) {
    FontAppStateT& s = FontAppState;
    switch (id) {
        case FONTAPP_LIST:  // repaint: the preview in the selected face
            Lib_FontAppPreview(ListSelectedText());
            break;
        case FONTAPP_OK:
            CopyCut(FontUserFace, ListSelectedText(), kFaceNameSize);
            s.closed = 1;
            break;
        case FONTAPP_CANCEL:
            s.closed = 1;
            break;
        case FONTAPP_RESET:  // selects the game's face; the preview stays as it is
            ListSelectString(FontDefaultFace);
            break;
        default:
            break;
    }
    Flush();
}

int32_t Lib_FontAppFocusIndex(bool backward) {
    switch (View().focus) {
        case FONTAPP_LIST: return backward ? FONTAPP_RESET : FONTAPP_OK;
        case FONTAPP_OK: return backward ? FONTAPP_LIST : FONTAPP_CANCEL;
        case FONTAPP_CANCEL: return backward ? FONTAPP_OK : FONTAPP_RESET;
        case FONTAPP_RESET: return backward ? FONTAPP_CANCEL : FONTAPP_LIST;
        default: return FONTAPP_LIST;
    }
}

void Lib_FontAppPadInput() {
    FontAppStateT& s = FontAppState;
    const uint32_t pressed = InputButtons.pressed, held = InputButtons.held;
    int32_t index = FocusedIndex();
    if (pressed & (kButtonTab | kButtonNext)) {
        SetFocus(Lib_FontAppFocusIndex(false));
    } else if (pressed & kButtonBack) {
        SetFocus(Lib_FontAppFocusIndex(true));
    } else if (pressed & BUTTON_DECIDE) {
        // Confirm on the list acts as OK; on a button it presses that button.
        if (index == FONTAPP_LIST) {
            SetFocus(FONTAPP_OK);
            index = FONTAPP_OK;
        }
        Lib_FontAppCommand(index);
    } else if (pressed & BUTTON_CANCEL) {
        SetFocus(FONTAPP_CANCEL);
        Lib_FontAppCommand(FONTAPP_CANCEL);
    } else if (index == FONTAPP_LIST && !(InputActivity & 1)) {
        // The keyboard's arrows move the list by themselves; this is the pad's.
        s.counter = (held & (BUTTON_UP | BUTTON_DOWN)) ? std::min(s.counter + 1, 1 << 20) : 0;
        const PlatFontWindowView& v = View();
        int32_t sel = v.selection, next;
        if ((pressed & BUTTON_UP) || ((held & BUTTON_UP) && s.counter >= kRepeatFrames))
            next = std::max(sel - 1, 0);
        else if ((pressed & BUTTON_DOWN) || ((held & BUTTON_DOWN) && s.counter >= kRepeatFrames))
            next = std::min(sel + 1, v.itemCount - 1);
        else
            next = -2;
        if (next >= 0) {
            ListSetCurSel(next);
            Lib_FontAppCommand(FONTAPP_LIST);
        }
    }
    Flush();
}

bool Lib_FontAppWndProc(const PlatMsg& msg) {
    if (msg.type != kPlatMsgFontWindow) return false;
    PlatFontEventArgs e = Plat_FontEventArgs(msg);
    FontAppStateT& s = FontAppState;
    if (!s.window || e.serial != s.window) return true;  // from a window already gone
    switch (e.event) {
        case PFE_CLOSE: s.closed = 1; break;  // the window stays until the driver destroys it
        case PFE_PAINT: Lib_FontAppPreview(ListSelectedText()); break;
        case PFE_KEY_DOWN: KeyDown(e.p); break;
        case PFE_KEY_UP: KeyUp(e.p); break;
        case PFE_MOUSE_DOWN: MouseDown(e.p, e.q); break;
        case PFE_MOUSE_UP: MouseUp(e.p, e.q); break;
        default: break;
    }
    Flush();
    return true;
}

uint8_t Lib_FontAppRun(const char* configured) {
    FontAppStateT& s = FontAppState;
    if (!configured) configured = "";
    switch (s.runState) {
        case FONTAPP_CLOSED:
            Lib_FontAppListMake();
            Lib_FontAppCreate(configured);
            s.runState = FONTAPP_OPEN;
            s.closed = 0;
            s.counter = 0;
            return 0;
        case FONTAPP_OPEN:
            if (!s.closed) {
                Lib_FontAppPadInput();
                return 0;
            }
            // Closing hands the focus back to the game window.
            g_ops->close(s.window);
            s.window = 0;
            g_dirty = false;
            s.runState = FONTAPP_APPLYING;
            return 0;
        case FONTAPP_APPLYING:
            if (!SameBytes(configured, FontUserFace)) {
                Lib_FontCreate(nullptr, 0);
                Lib_GlyphAtlasReset();
            }
            s.runState = FONTAPP_SETTLING;
            s.counter = 0;
            return 0;
        case FONTAPP_SETTLING:
            if (++s.counter < 10) return 0;
            s.runState = FONTAPP_CLOSED;
            return 1;
        default:
            return 0;
    }
}

void Lib_FontAppStateClear() {
    FontAppStateT& s = FontAppState;
    if (s.window) g_ops->close(s.window);
    s.window = 0;
    s.runState = FONTAPP_CLOSED;
    s.closed = 0;
    s.counter = 0;
    g_dirty = false;
}
