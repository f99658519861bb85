// Every system text, caption, menu item, option choice, slot name, language
// name and credit line of the sample, measured with the sample's real faces
// of each interface language against the box the screen draws it in. The
// option screen's labels and names are measured as that screen fetches them
// (with the size tags the system texts put before some of them), and each
// at the size of its row's other labels.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/files/message_table.h"
#include "engine/text/font.h"
#include "engine/text/text_object.h"
#include "tests/ui/screen_harness.h"
#include "ui/layout_table.h"
#include "ui/mode.h"
#include "ui/system_text.h"

namespace {

// One text: its table, section and index, the scale it is drawn at and the
// width of its box (in screen pixels); an option text is fetched as the
// option screen fetches it.
struct Fit {
    const char* what;
    MesTable* table;
    int32_t section, index;
    float scale;
    int32_t width;
    bool option = false;
};

// The boxes, from the screens' own constants and the layout table.
std::vector<Fit> Boxes() {
    std::vector<Fit> boxes;
    // Option rows: a label from x 104 to the slider's left end label (right
    // aligned at 624, 0.4) or, on a two-choice row, to the first choice (88
    // wide around 798); the choices fill their 88-pixel buttons.
    for (int32_t i = 12; i <= 25; ++i) {
        const bool choiceRow = i == 18 || i == 19 || i == 21 || i == 23;
        boxes.push_back(
            {"option label", &SysgraMesTable, 3, i, 0.5f, choiceRow ? 798 - 44 - 8 - 104 : 624 - 110 - 8 - 104, true});
    }
    for (int32_t i = 1; i <= 6; i += 2) boxes.push_back({"slider end (right)", &SysgraMesTable, 3, i, 0.4f, 150, true});
    for (int32_t i = 2; i <= 6; i += 2) boxes.push_back({"slider end (left)", &SysgraMesTable, 3, i, 0.4f, 110, true});
    for (int32_t i = 7; i <= 10; ++i) boxes.push_back({"option choice", &SysgraMesTable, 3, i, 0.5f, 88, true});
    // The voice-mute names: left aligned 10 pixels into the name plate
    // (layout 6/10, its left edge at x 660), keeping as much room to its
    // right edge.
    LayoutRect plate{};
    GSL_LayoutGetRect(&plate, 6, 10);
    const int32_t name = plate.width - 2 * (670 - 660);
    boxes.push_back({"voice name", &SysgraMesTable, 3, 11, 0.5f, name, true});
    for (int32_t i = 30; i <= 41; ++i) boxes.push_back({"voice name", &SysgraMesTable, 3, i, 0.5f, name, true});
    // The font page's language list: plates 0.385 of the screen, text 0.6.
    for (int32_t i = 26; i <= 29; ++i) boxes.push_back({"language name", &SysgraMesTable, 3, i, 0.6f, 493 - 16});
    // The in-game menu: captions at 0.55 from 22 pixels into a 224-pixel
    // button, keeping as much room to its right edge.
    for (int32_t i : {1, 2, 3, 4, 5, 8, 9, 14, 15, 16})
        boxes.push_back({"menu caption", &SysgraMesTable, 2, i, 0.55f, 224 - 22 - 22});
    // The music room's titles at half scale stay under the 500 pixels past
    // which the room narrows a title; title 15 is the one long enough to be
    // narrowed.
    for (int32_t i = 0; i <= 20; ++i)
        if (i != 15) boxes.push_back({"music title", &SysgraMesTable, 4, i, 0.5f, 499});
    // The story's auto and skip guides: centred at 0.4 inside the 78-pixel
    // inner squares of their 86-pixel ones.
    for (int32_t i : {14, 15}) boxes.push_back({"guide label", &SysgraMesTable, 2, i, 0.4f, 78});
    // Questions and notices in the dialog's 544-pixel frame (text 0.5).
    for (int32_t i : {3, 4, 7, 8, 9, 11, 13, 15, 16, 40})
        boxes.push_back({"dialog text", &SystemMesTable, 1, i, 0.5f, 544 - 32});
    for (int32_t i : {1, 2, 3, 4, 5, 7, 9, 16, 17, 18, 19, 20, 29})
        boxes.push_back({"dialog text", &SystemMesTable, 2, i, 0.5f, 544 - 32});
    // Credits: at their font block's size on the ending pictures' page, whose
    // inner rules run at x 756 and 1240: the lines keep 24 pixels from both.
    const int32_t credit = 1240 - 24 - 780;
    boxes.push_back({"credit title", &ScriptMesTable, 2, 24, 44.0f / 60.0f, credit});
    for (int32_t i = 25; i <= 36; ++i) boxes.push_back({"credit", &ScriptMesTable, 2, i, 0.5f, credit});
    boxes.push_back({"credit closing", &ScriptMesTable, 2, 37, 36.0f / 60.0f, credit});
    return boxes;
}

class SampleTextFit : public ScreenHarness, public ::testing::WithParamInterface<int> {
protected:
    void TearDown() override {
        InterfaceLanguage = -1;
        ScreenHarness::TearDown();
    }
};

TEST_P(SampleTextFit, EveryTextFitsItsBox) {
    const int lang = GetParam();
    if (!SampleData()) GTEST_SKIP() << "sample data not built";
    Messages();
    ASSERT_TRUE(Fonts(lang));
    InterfaceLanguage = lang;
    TextLanguage = lang;
    ASSERT_NE(GSL_ScreenOf(SCREEN_OPTION), nullptr);
    const TextSpacing none{};
    int measured = 0;
    for (const Fit& f : Boxes()) {
        char text[kMesTextSize];
        Lib_MesGet(f.table, f.section, f.index, lang, text, sizeof text);
        EXPECT_NE(std::string(text), "No text") << f.what << " " << f.section << "/" << f.index << " language " << lang;
        const TextScale scale{f.scale, f.scale};
        TextRect r{};
        Lib_TextMeasure(&r, text, &scale, &none, 0, 0);
        if (f.option) {
            // As the option screen draws it: any size tag the fetch puts
            // before the text must leave it at its row's size.
            Push(GSL_ScreenOf(SCREEN_OPTION));
            char drawn[kMesTextSize];
            GSL_SysTextGet(f.table, uint32_t(f.section), uint32_t(f.index), 0, drawn, sizeof drawn);
            ModeStack[GSL_ModeCount() - 1] = nullptr;
            TextRect d{};
            Lib_TextMeasure(&d, drawn, &scale, &none, 0, 0);
            EXPECT_EQ(d.right - d.left, r.right - r.left)
                << f.what << " " << f.section << "/" << f.index << " \"" << text << "\" in language " << lang
                << " is drawn at another size than its row's other texts";
            r = d;
        }
        const int32_t width = r.right - r.left;
        EXPECT_LE(width, f.width) << f.what << " " << f.section << "/" << f.index << " \"" << text << "\" in language "
                                  << lang << " runs " << width - f.width << " pixels past its " << f.width
                                  << "-pixel box";
        ++measured;
    }
    EXPECT_GT(measured, 60);
}

INSTANTIATE_TEST_SUITE_P(Languages, SampleTextFit, ::testing::Values(0, 1, 2, 3));

}  // namespace
