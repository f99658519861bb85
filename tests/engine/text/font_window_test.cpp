#include "engine/text/font_window.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/input/input.h"
#include "platform/plat_window.h"
#include "tests/engine/text/font_env.h"

namespace {

// A font image with a one-record "name" table (no record for an empty family).
std::string Sfnt(const std::string& family) {
    auto u16 = [](std::string& s, uint32_t v) { s += char(v >> 8 & 0xFF), s += char(v & 0xFF); };
    std::string table;
    u16(table, 0), u16(table, family.empty() ? 0 : 1), u16(table, 18);
    for (uint32_t v : {3u, 1u, 0x409u, 1u, uint32_t(family.size() * 2), 0u}) u16(table, v);
    for (char c : family) table += '\0', table += c;
    std::string f;
    u16(f, 1), u16(f, 0), u16(f, 1), u16(f, 16), u16(f, 0), u16(f, 0);
    f += "name";
    for (uint32_t v : {0u, 0u, 0u, 28u, 0u, uint32_t(table.size())}) u16(f, v);
    return f + table;
}

// A system message table of four languages: section 0 index 0 the sample,
// section 1 index 20 the window title.
std::vector<uint8_t> Mul(const std::string& sample, const std::string& title) {
    const uint32_t L = 4, entries = L * 22;
    std::vector<uint8_t> d(48 + 8 * entries, 0);
    auto u32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) d[at + k] = uint8_t(v >> 8 * k);
    };
    d[0] = L;
    u32(4, entries), u32(8, 1), u32(12, 21);
    for (uint32_t g = 0; g < L; ++g) {
        u32(48 + 8 * g, 0), u32(48 + 8 * g + 4, uint32_t(sample.size()));
        u32(48 + 8 * (84 + g), uint32_t(sample.size())), u32(48 + 8 * (84 + g) + 4, uint32_t(title.size()));
    }
    d.insert(d.end(), sample.begin(), sample.end());
    d.insert(d.end(), title.begin(), title.end());
    return d;
}

struct FakeWindow {
    int opens = 0, shows = 0;
    std::vector<uint32_t> closes;
    std::vector<std::string> families;
    PlatFontWindowView view;  // the last view opened or shown
};
FakeWindow g_window;

constexpr FontWindowOps kFakeOps = {
    [](const PlatFontWindowView& v, const PlatFontFace* faces, int32_t n) {
        ++g_window.opens;
        g_window.view = v;
        g_window.families.clear();
        for (int32_t i = 0; i < n; ++i) g_window.families.push_back(faces[i].family);
    },
    [](const PlatFontWindowView& v) {
        ++g_window.shows;
        g_window.view = v;
    },
    [](uint32_t serial) { g_window.closes.push_back(serial); },
};

std::vector<std::string> Items(const PlatFontWindowView& v) { return {v.items, v.items + v.itemCount}; }

}  // namespace

class FontWindowTest : public FontEnv {
protected:
    void SetUp() override {
        FontEnv::SetUp();
        g_window.opens = g_window.shows = 0;
        g_window.closes.clear();
        Lib_FontAppOpsSet(&kFakeOps);
        Lib_FontAppStateClear();
        InputButtons = {0, 0};
        InputActivity = 0;
        std::strcpy(FontDefaultFace, "zeta Gothic");
        SetImage(0, Sfnt("zeta Gothic"));
        SetImage(2, Sfnt("Alpha Mincho"));
        mul_ = Mul("Sample", "Fonts");
        SystemMesTable = {mul_.data(), mul_.size()};
    }
    void TearDown() override {
        Lib_FontAppStateClear();
        Lib_FontAppOpsSet(nullptr);
        SystemMesTable = {};
        FontEnv::TearDown();
    }
    static void SetImage(int i, const std::string& bytes) {
        if (TextRenderState.images[i]) Lib_MemFree(HEAP_GRAPHICS, TextRenderState.images[i]);
        TextRenderState.images[i] = Lib_MemAlloc(HEAP_GRAPHICS, bytes.size(), 16);
        std::memcpy(TextRenderState.images[i], bytes.data(), bytes.size());
        TextRenderState.sizes[i] = uint32_t(bytes.size());
    }
    // Opens the window on a list of faces of our own.
    static void OpenWith(const std::vector<std::string>& faces, const char* configured) {
        FontAppState.count = 0;
        for (const std::string& f : faces) std::strcpy(FontAppState.list[FontAppState.count++], f.c_str());
        Lib_FontAppCreate(configured);
        FontAppState.runState = FONTAPP_OPEN;
    }
    static void Send(int32_t event, int32_t p = 0, int32_t q = 0) {
        EXPECT_TRUE(Lib_FontAppWndProc(Plat_FontEventMsg(FontAppState.window, event, p, q)));
    }
    static void Click(int32_t x, int32_t y) { Send(PFE_MOUSE_DOWN, x, y), Send(PFE_MOUSE_UP, x, y); }
    // One frame of the option screen with these engine buttons.
    uint8_t Frame(uint32_t pressed = 0, uint32_t held = 0) {
        InputButtons = {pressed, held | pressed};
        return Lib_FontAppRun(configured_);
    }
    const PlatFontWindowView& View() const { return FontAppState.view; }
    std::vector<uint8_t> mul_;
    const char* configured_ = "zeta Gothic";
};

TEST(FontAppLayout, TwoFacesAndFifteenOrMore) {
    PlatFontWindowView v{};
    Lib_FontAppLayout(2, &v);
    EXPECT_EQ(v.width, 320);
    EXPECT_EQ(v.height, 166);
    EXPECT_EQ(v.list.y + v.list.h, 56);
    EXPECT_EQ(v.list.w, 300);
    EXPECT_EQ(v.preview.y, 56);
    EXPECT_EQ(v.preview.y + v.preview.h, 116);
    EXPECT_EQ(v.button[0].y, 126);
    EXPECT_EQ(v.button[1].x, 120);
    EXPECT_EQ(v.button[2].x, 210);
    Lib_FontAppLayout(15, &v);
    EXPECT_EQ(v.height, 400);
    EXPECT_EQ(v.list.h, 280);
    EXPECT_EQ(v.preview.y, 290);
    EXPECT_EQ(v.button[0].y, 360);
}

TEST_F(FontWindowTest, OpensWithTheFacesSortedAndTheConfiguredOneSelected) {
    // A title cut to 31 bytes before a three-byte character; a sample cut so
    // that the preview text stays within 255 bytes.
    mul_ = Mul(std::string(300, 'x'), std::string(30, 'T') + "\xE3\x81\x82");
    SystemMesTable = {mul_.data(), mul_.size()};
    EXPECT_EQ(Frame(), 0);
    EXPECT_EQ(FontAppState.runState, FONTAPP_OPEN);
    ASSERT_EQ(g_window.opens, 1);
    const PlatFontWindowView& v = g_window.view;
    EXPECT_EQ(Items(v), (std::vector<std::string>{"Alpha Mincho", "zeta Gothic"}));
    EXPECT_EQ(v.selection, 1);  // entry 0 of the list is row 1
    EXPECT_EQ(v.focus, FONTAPP_LIST);
    EXPECT_EQ(std::string(v.title), std::string(30, 'T'));
    EXPECT_STREQ(v.previewFace, "zeta Gothic");
    EXPECT_EQ(std::string(v.previewText), std::string(245, 'x') + " Quillmere");
    EXPECT_EQ(g_window.families, (std::vector<std::string>{"zeta Gothic", "Alpha Mincho"}));

    // Sorting ignores case; the configured name selects the first row it begins, any case.
    OpenWith({"delta", "Charlie", "alpha", "Bravo"}, "CHAR");
    EXPECT_EQ(Items(View()), (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));
    EXPECT_EQ(View().selection, 2);
    OpenWith({"delta", "Charlie"}, "Nothing like it");
    EXPECT_EQ(View().selection, -1);
    Send(PFE_PAINT);
    EXPECT_STREQ(View().previewFace, "");  // no selection paints in no face
}

TEST_F(FontWindowTest, ListTakesTheAlternativeFacesName) {
    Lib_FontAppListMake();
    ASSERT_EQ(FontAppState.count, 2);
    EXPECT_STREQ(FontAppState.list[1], "Alpha Mincho");
    SetImage(2, Sfnt(""));  // no name record: the entry keeps what it had
    Lib_FontAppListMake();
    EXPECT_EQ(FontAppState.count, 2);
    EXPECT_STREQ(FontAppState.list[1], "Alpha Mincho");
    Lib_MemFree(HEAP_GRAPHICS, TextRenderState.images[2]);
    TextRenderState.images[2] = nullptr;  // no alternative font: the game's face alone
    Lib_FontAppListMake();
    EXPECT_EQ(FontAppState.count, 1);
}

TEST_F(FontWindowTest, FocusOrderAndPadButtons) {
    Frame();
    const int32_t forward[] = {FONTAPP_OK, FONTAPP_CANCEL, FONTAPP_RESET, FONTAPP_LIST};
    for (int32_t f : forward) {
        Frame(0x40000);  // Tab
        EXPECT_EQ(View().focus, f);
        EXPECT_EQ(g_window.view.focus, f);  // the window shows it
    }
    Frame(0x80);
    EXPECT_EQ(View().focus, FONTAPP_OK);
    Frame(0x40);
    EXPECT_EQ(View().focus, FONTAPP_LIST);
    Frame(0x40);
    EXPECT_EQ(View().focus, FONTAPP_RESET);
    Frame(0x40), Frame(0x40);
    EXPECT_EQ(View().focus, FONTAPP_OK);
    Frame(BUTTON_DECIDE | BUTTON_CANCEL);  // the first rule that applies: confirm on OK
    EXPECT_EQ(FontAppState.closed, 1);
    EXPECT_STREQ(FontUserFace, "zeta Gothic");

    // Confirm on the list moves to OK and stores the selected face.
    Lib_FontAppStateClear();
    Frame();
    Send(PFE_KEY_DOWN, PFK_UP);
    Frame(BUTTON_DECIDE);
    EXPECT_EQ(View().focus, FONTAPP_OK);
    EXPECT_EQ(FontAppState.closed, 1);
    EXPECT_STREQ(FontUserFace, "Alpha Mincho");

    // Cancel goes to the Cancel button and closes, keeping the face.
    Lib_FontAppStateClear();
    FontUserFace[0] = 0;
    Frame();
    Frame(BUTTON_CANCEL);
    EXPECT_EQ(View().focus, FONTAPP_CANCEL);
    EXPECT_EQ(FontAppState.closed, 1);
    EXPECT_STREQ(FontUserFace, "");
}

TEST_F(FontWindowTest, HeldPadDirectionRepeatsFromThe30thFrameWithinTheList) {
    std::vector<std::string> faces;
    for (int i = 0; i < 20; ++i) faces.push_back("f" + std::to_string(100 + i));
    OpenWith(faces, "f100");
    Frame(BUTTON_DOWN);
    EXPECT_EQ(View().selection, 1);
    EXPECT_STREQ(g_window.view.previewFace, "f101");  // every move repaints the preview
    for (int frame = 2; frame <= 29; ++frame) Frame(0, BUTTON_DOWN);
    EXPECT_EQ(View().selection, 1);
    Frame(0, BUTTON_DOWN);  // the 30th held frame
    EXPECT_EQ(View().selection, 2);
    for (int frame = 31; frame <= 50; ++frame) Frame(0, BUTTON_DOWN);
    EXPECT_EQ(View().selection, 19);  // held at the last row
    EXPECT_EQ(View().top, 3);         // of 17 rows shown, the last ones


    InputActivity = 1;  // the keyboard moves the list itself
    Frame(BUTTON_UP);
    EXPECT_EQ(View().selection, 19);
    InputActivity = 0;
    Frame();  // released: the count starts again
    Frame(BUTTON_UP);
    for (int frame = 2; frame <= 29; ++frame) Frame(0, BUTTON_UP);
    EXPECT_EQ(View().selection, 18);
    for (int frame = 30; frame <= 60; ++frame) Frame(0, BUTTON_UP);
    EXPECT_EQ(View().selection, 0);  // held at the first row
    EXPECT_EQ(View().top, 0);
    Frame(0x40000);  // the list loses the focus: no more pad moves
    Frame(BUTTON_DOWN);
    EXPECT_EQ(View().selection, 0);
}

TEST_F(FontWindowTest, KeysAndMouseWorkTheControls) {
    Frame();
    Send(PFE_KEY_DOWN, PFK_HOME);
    EXPECT_EQ(View().selection, 0);
    EXPECT_STREQ(View().previewFace, "Alpha Mincho");
    Send(PFE_KEY_DOWN, PFK_DOWN), Send(PFE_KEY_DOWN, PFK_DOWN);
    EXPECT_EQ(View().selection, 1);

    Click(50, 20);  // the first row
    EXPECT_EQ(View().selection, 0);
    EXPECT_STREQ(View().previewFace, "Alpha Mincho");
    Click(50, 50);  // below the rows: the focus only
    EXPECT_EQ(View().selection, 0);

    // Reset selects the game's face without repainting the preview.
    Click(250, 140);
    EXPECT_EQ(View().focus, FONTAPP_RESET);
    EXPECT_EQ(View().selection, 1);
    EXPECT_STREQ(View().previewFace, "Alpha Mincho");
    EXPECT_STREQ(g_window.view.items[g_window.view.selection], "zeta Gothic");

    // A press on Cancel let go outside it does nothing.
    Send(PFE_MOUSE_DOWN, 150, 140);
    EXPECT_EQ(View().pressed, FONTAPP_CANCEL);
    Send(PFE_MOUSE_UP, 150, 100);
    EXPECT_EQ(View().pressed, 0);
    EXPECT_EQ(FontAppState.closed, 0);

    // Messages of another window or of other kinds.
    EXPECT_TRUE(Lib_FontAppWndProc(Plat_FontEventMsg(FontAppState.window + 1, PFE_CLOSE, 0, 0)));
    EXPECT_FALSE(Lib_FontAppWndProc(PlatMsg{1, 0, 0, nullptr}));
    EXPECT_EQ(FontAppState.closed, 0);

    // Space on the focused OK button presses it.
    Frame(0x40);
    ASSERT_EQ(View().focus, FONTAPP_OK);
    Send(PFE_KEY_DOWN, PFK_SPACE);
    EXPECT_EQ(FontAppState.closed, 0);
    Send(PFE_KEY_UP, PFK_SPACE);
    EXPECT_EQ(FontAppState.closed, 1);
    EXPECT_STREQ(FontUserFace, "zeta Gothic");
}

TEST_F(FontWindowTest, ClosingTakesTwelveCallsAndAppliesOnlyAChangedFace) {
    uint32_t* atlasNext = reinterpret_cast<uint32_t*>(TextRenderState.atlas);
    auto closeAndCount = [&]() {
        int calls = 0;
        uint8_t done = 0;
        while (!done && calls < 50) done = Frame(), ++calls;
        return calls;
    };
    // The close box: nothing changes, nothing is made again.
    std::strcpy(FontUserFace, "zeta Gothic");
    Frame();
    uint32_t serial = FontAppState.window;
    *atlasNext = 99999;
    Send(PFE_CLOSE);
    EXPECT_EQ(closeAndCount(), 12);
    EXPECT_EQ(g_window.closes, std::vector<uint32_t>{serial});
    EXPECT_EQ(FontAppState.runState, FONTAPP_CLOSED);
    EXPECT_STREQ(FontUserFace, "zeta Gothic");
    EXPECT_EQ(*atlasNext, 99999u);
    EXPECT_FALSE(Lib_FontStyleExists(2));

    // The next call opens it again; OK on the other face makes the faces anew.
    Frame();
    EXPECT_EQ(g_window.opens, 2);
    EXPECT_NE(FontAppState.window, serial);
    Click(50, 20);
    Click(70, 140);
    EXPECT_STREQ(FontUserFace, "Alpha Mincho");
    EXPECT_EQ(closeAndCount(), 12);
    EXPECT_EQ(*atlasNext, kGlyphAtlasFirstRecord);
    EXPECT_TRUE(Lib_FontStyleExists(2));

    // Shutdown closes a window that is open.
    Frame();
    Lib_FontAppStateClear();
    EXPECT_EQ(g_window.closes.back(), serial + 2);
    EXPECT_EQ(FontAppState.runState, FONTAPP_CLOSED);
}

TEST(TextWrap, BreaksAtSpacesAroundWideCharactersAndInsideLongWords) {
    auto wrap = [](const std::u32string& s, int32_t advance, int32_t width) {
        std::vector<int32_t> adv(s.size(), advance);
        PlatTextLine lines[16];
        int32_t n = Plat_TextWrap(reinterpret_cast<const uint32_t*>(s.data()), adv.data(), int32_t(s.size()), width,
                                  lines, 16);
        std::vector<std::u32string> out;
        for (int32_t i = 0; i < n; ++i) out.push_back(s.substr(lines[i].begin, lines[i].end - lines[i].begin));
        return out;
    };
    using L = std::vector<std::u32string>;
    EXPECT_EQ(wrap(U"aaa bbb ccc", 10, 75), (L{U"aaa bbb", U"ccc"}));
    EXPECT_EQ(wrap(U"aaa   bbb", 10, 45), (L{U"aaa", U"bbb"}));  // spaces at a break go
    EXPECT_EQ(wrap(U"abcdefghij", 10, 35), (L{U"abc", U"def", U"ghi", U"j"}));
    EXPECT_EQ(wrap(U"ab\r\ncd\n\nef", 10, 300), (L{U"ab", U"cd", U"", U"ef"}));
    EXPECT_EQ(wrap(U"あいうえお", 30, 100), (L{U"あいう", U"えお"}));
    EXPECT_EQ(wrap(U"あいう。", 30, 90), (L{U"あい", U"う。"}));  // no line begins with 。
    EXPECT_EQ(wrap(U"x", 50, 10), (L{U"x"}));  // one character always fits
}

// The real window on SDL's offscreen driver: drawn, clicked and closed.
TEST_F(FontWindowTest, RealWindowOpensDrawsAndReportsClicks) {
    std::string sans = font_env::ReadFile(font_env::kDejaVuSans), serif = font_env::ReadFile(font_env::kDejaVuSerif);
    if (sans.empty() || serif.empty()) GTEST_SKIP() << "font packages missing (tools/setup.sh)";
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (!Plat_VideoInit()) GTEST_SKIP() << "no SDL video: " << Plat_LastError();
    SetImage(0, sans);
    SetImage(2, serif);
    Lib_FontCreate(TextRenderState.images[0], TextRenderState.sizes[0]);
    Lib_FontAppOpsSet(nullptr);
    Plat_GameMsgClear();
    configured_ = "DejaVu Sans";
    // Pumps the UI queue and hands the window's messages to the game side.
    auto pumpUntil = [](auto done) {
        for (int i = 0; i < 400 && !done(); ++i) {
            Plat_PumpOne(2);
            for (PlatMsg m; Plat_GameMsgPeek(&m);) EXPECT_TRUE(Lib_FontAppWndProc(m));
        }
        return done();
    };
    auto push = [](uint32_t type, int32_t x, int32_t y) {
        SDL_Event ev{};
        ev.type = type;
        ev.button.windowID = Plat_FontWindowId();
        ev.button.button = SDL_BUTTON_LEFT;
        ev.button.x = x, ev.button.y = y;
        SDL_PushEvent(&ev);
    };
    auto preview = [] {
        int32_t w = 0, h = 0;
        const uint32_t* img = Plat_FontWindowImage(&w, &h);
        std::vector<uint32_t> px;
        for (int32_t y = 56; img && y < 116; ++y) px.insert(px.end(), img + y * w + 10, img + y * w + 310);
        return px;
    };
    Frame();
    if (!pumpUntil([] { return Plat_FontWindowId() != 0; })) {
        Lib_FontAppStateClear();
        Plat_VideoQuit();
        GTEST_SKIP() << "the offscreen driver made no second window";
    }
    int32_t w = 0, h = 0;
    const uint32_t* img = Plat_FontWindowImage(&w, &h);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 166);
    EXPECT_EQ(img[5 * w + 5], 0xFFC0C0C0u);  // the grey background
    std::vector<uint32_t> sansPreview = preview();
    int dark = 0;
    for (uint32_t p : sansPreview) dark += (p & 0xFF) < 0x80;
    EXPECT_GT(dark, 100);  // the sample text is drawn

    // A click on the second row shows the serif face, which draws differently.
    push(SDL_MOUSEBUTTONDOWN, 50, 35), push(SDL_MOUSEBUTTONUP, 50, 35);
    EXPECT_TRUE(pumpUntil([] { return std::strcmp(FontAppState.view.previewFace, "DejaVu Serif") == 0; }));
    EXPECT_TRUE(pumpUntil([&] { return preview() != sansPreview; }));

    // OK closes the window and stores the face.
    push(SDL_MOUSEBUTTONDOWN, 70, 140), push(SDL_MOUSEBUTTONUP, 70, 140);
    EXPECT_TRUE(pumpUntil([] { return FontAppState.closed == 1; }));
    EXPECT_EQ(Frame(), 0);
    EXPECT_TRUE(pumpUntil([] { return Plat_FontWindowId() == 0; }));
    int calls = 1;  // the call that closed it
    do ++calls;
    while (!Frame() && calls < 20);
    EXPECT_EQ(calls, 12);
    EXPECT_STREQ(FontUserFace, "DejaVu Serif");
    Plat_VideoQuit();
    Plat_GameMsgClear();
}
