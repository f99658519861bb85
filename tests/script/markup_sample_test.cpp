// Every text tag of the sample scenario, expanded, wrapped as the text command
// wraps a line and converted with the sample's real faces: no line runs past
// the window width except by a closing mark that may end it, the result stays
// inside a text object, and the long speech wraps and hangs under its bracket.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/core/charcode.h"
#include "engine/files/message_table.h"
#include "script/args.h"
#include "tests/script/markup_env.h"

namespace {

// The text tags' argument lists (UTF-8 sources), arguments joined by single spaces.
std::vector<std::string> TextTags() {
    std::vector<std::string> tags;
    const std::filesystem::path dir = VN_SOURCE_DIR "/sample/base/script/script.arc";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".txt") continue;
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("<text ", 0) != 0 || line.find('>') == std::string::npos) continue;
            std::string args = line.substr(6, line.find('>') - 6);
            for (char& c : args)
                if (c == ',') c = ' ';
            tags.push_back(args);
        }
    }
    return tags;
}

class MarkupSample : public MarkupEnv, public ::testing::WithParamInterface<int> {};

TEST_P(MarkupSample, EveryTextTagFitsTheMessageWindow) {
    const int lang = GetParam();
    if (!SampleData()) GTEST_SKIP() << "sample data not built";
    Messages();
    ASSERT_TRUE(Fonts(lang));
    SystemDataBlock.language = int8_t(lang);
    TextLanguage = lang;
    const float L = 66 * 0.5f * 32;
    const std::vector<std::string> tags = TextTags();
    ASSERT_GE(tags.size(), 8u);
    int speeches = 0, unstable = 0;
    for (const std::string& tag : tags) {
        char sjis[kCharConvSize];
        Lib_Utf8ToSjis(tag.c_str(), tag.size(), sjis);
        char line[kMarkupSize];
        GSL_TextIdExpand(sjis, line, sizeof line);
        const std::string wrapped = "/pos:0&0//size:0.50&0.50/" + std::string(line) + "/pos:0&0/";
        const std::string out = Convert(wrapped);
        ASSERT_LT(out.size(), kMarkupSize) << tag;
        ASSERT_FALSE(out.empty()) << tag;
        // Each line measured as the conversion measures it.
        size_t start = 0;
        int breaks = 0, indents = 0;
        while (true) {
            const size_t end = out.find("#n", start);
            const std::string upto = out.substr(0, end == std::string::npos ? out.size() : end);
            const float w = GSL_TextSizeParse(&stage, upto.c_str(), uint32_t(start));
            if (w > L) {
                // Only a closing mark that may end a line runs past the limit.
                const char* last = upto.c_str() + start;
                for (const char* p = last; *p; p += Lib_CharLen(p))
                    if (*p != '#' && *p != ']') last = p;
                EXPECT_EQ(GSL_KinsokuCheck(0, last), 0) << "lang " << lang << ": " << w << " " << upto.substr(start);
            }
            if (end == std::string::npos) break;
            ++breaks;
            start = end + 2;
            if (out.compare(start, 5, "#Pos[") == 0) ++indents;
        }
        // A line after lw is converted together with the shown text; where the
        // shown part comes out otherwise (the cases left to the message window:
        // an overhanging final mark, a language-1 wrap), it is reported.
        const std::string twice = Convert(out + wrapped);
        if (twice.compare(0, out.size(), out) != 0) {
            ++unstable;
            std::printf("[ note ] language %d: shown text not kept as a prefix after %s\n", lang, tag.c_str());
        }
        if (tag == "TEXT_7") {
            ++speeches;
            EXPECT_GE(breaks, lang == 1 ? 1 : 2) << out;
            EXPECT_EQ(indents, breaks) << out;
        }
    }
    EXPECT_EQ(speeches, 1);
    RecordProperty("prefix_changes", unstable);
}

INSTANTIATE_TEST_SUITE_P(Languages, MarkupSample, ::testing::Values(0, 1));

}  // namespace
