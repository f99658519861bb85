// The save screen: the slot picture from the menu's capture, the stored
// detail text, and the flow from the question to the disk.
#include "screens/save.h"

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/archive.h"
#include "engine/files/container.h"
#include "engine/render/image_decode.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite.h"
#include "script/script_task.h"
#include "story/line_text.h"
#include "story/story_screen.h"
#include "tests/screens/slot_env.h"
#include "ui/utility_dialog.h"

namespace {

class SaveScreenTest : public SlotEnv {};

// A script container of one member in the named cache, where the story's
// history reads its lines back; history line n points at the n-th tag of
// `marks` in it.
void History(const std::string& member, std::initializer_list<const char*> marks) {
    std::string arc(8 + 72, '\0');
    const uint32_t count = 1, size = uint32_t(member.size()), offset = uint32_t(arc.size());
    std::memcpy(&arc[4], &count, 4);
    std::memcpy(&arc[8], "a.txt", 5);
    std::memcpy(&arc[8 + 64], &size, 4);
    std::memcpy(&arc[8 + 68], &offset, 4);
    arc += member;
    void* data = Lib_CashAlloc("script/script.arc", arc.size(), 256);
    ASSERT_NE(data, nullptr);
    std::memcpy(data, arc.data(), arc.size());
    CacheEntry* e = Lib_CashEntryOf(data, 256);
    e->tag = 2;
    Lib_CashSetComplete(e);
    uint32_t line = 0;
    for (const char* mark : marks) GameStateBlock.readLinePos[line++] = uint32_t(member.find(mark));
}

std::string Detail() {
    char out[1024];
    Save_DetailMake(out, sizeof out);
    return out;
}

void SetChapter(const char* name) {
    std::memset(GameStateBlock.stage.name, 0, sizeof GameStateBlock.stage.name);
    std::memcpy(GameStateBlock.stage.name, name, std::strlen(name));
}

TEST_F(SaveScreenTest, DetailHoldsChapterTimeAndLine) {
    Start(SlotImage{}, false);
    GSL_GameStateInit();
    SetChapter("Chapter One");
    GameStateBlock.playHours = 1;
    GameStateBlock.playMinutes = 2;
    GameStateBlock.playSeconds = 3;
    std::string wide;
    for (int i = 0; i < 700; ++i) wide += "\x82\xA0";  // 1,400 bytes
    const std::string member = "; save\r\n<name NAME_0>\r\n<text TEXT_1>\r\n<keywait 1>\r\n<text TEXT_1>\r\n<keywait 2>\r\n"
                               "<menustart>\r\n<wait 5>\r\n<text " + wide + ">\r\n<keywait 3>\r\n";
    for (const char* mark : {"<keywait 1>", "<keywait 2>", "<menustart>", "<wait 5>", "<keywait 3>"}) {
        ASSERT_NE(member.find(mark), std::string::npos) << mark;
    }
    // The entry at the count, asked for while the count is one higher.
    History(member, {"<wait 5>", "<wait 5>", "<wait 5>", "<wait 5>", "<wait 5>", "<wait 5>", "<wait 5>",
                     "<keywait 1>"});
    GameStateBlock.readLineCount = 7;
    EXPECT_EQ(Detail(), "Chapter One\nSYSTEM_2028 01:02:03\nNAME_0\nTEXT_1");
    EXPECT_EQ(GameStateBlock.readLineCount, 7u);
    GameStateBlock.readLinePos[7] = uint32_t(member.find("<keywait 2>"));
    EXPECT_EQ(Detail(), "Chapter One\nSYSTEM_2028 01:02:03\nTEXT_1");
    GameStateBlock.readLinePos[7] = uint32_t(member.find("<menustart>"));  // a choice point: the name only
    EXPECT_EQ(Detail(), "Chapter One\nSYSTEM_2028 01:02:03\nSYSTEM_2006");
    GameStateBlock.readLinePos[7] = uint32_t(member.find("<wait 5>"));
    EXPECT_EQ(Detail(), "Chapter One\nSYSTEM_2028 01:02:03");
    // A long line is cut to the field on a character boundary.
    GameStateBlock.readLinePos[7] = uint32_t(member.find("<keywait 3>"));
    const std::string cut = Detail();
    EXPECT_LE(cut.size(), 1023u);
    EXPECT_EQ(cut.substr(cut.size() - 2), "\x82\xA0");
    EXPECT_EQ((cut.size() - std::strlen("Chapter One\nSYSTEM_2028 01:02:03\n")) % 2, 0u);
    // A full history has no line to give.
    GameStateBlock.readLineCount = kReadLineSize;
    EXPECT_EQ(Detail(), "Chapter One\nSYSTEM_2028 01:02:03");
    // A chapter name without its terminator: 66 bytes of it.
    std::memset(GameStateBlock.stage.name, 'c', sizeof GameStateBlock.stage.name);
    EXPECT_EQ(Detail(), std::string(66, 'c') + "\nSYSTEM_2028 01:02:03");
    GSL_GameStateInit();
}

// A capture as the menu leaves it: the corner a gradient, the rest of the
// screen something else.
std::vector<uint8_t> CapturePixels() {
    std::vector<uint8_t> pixels(kCaptureBytes);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x) {
            uint8_t* p = &pixels[(size_t(y) * 1280 + size_t(x)) * 4];
            const bool corner = x < 320 && y < 180;
            p[0] = corner ? uint8_t(x * 255 / 319) : 200;
            p[1] = corner ? uint8_t(y * 255 / 179) : 10;
            p[2] = corner ? uint8_t((x + y) & 255) : 90;
            p[3] = 255;
        }
    return pixels;
}

int32_t MakeCapture(const std::vector<uint8_t>& pixels) {
    const int32_t capture = Lib_SpriteGetFree(-1);
    SpriteRecord* r = Lib_SpriteAt(capture);
    if (!r) return -1;
    r->texture = r->textureView = Lib_SpriteTexCreate(1280, 720, false, pixels.data());
    r->textureWidth = 1280;
    r->textureHeight = 720;
    r->flags |= SPRITE_READY;
    return capture;
}

TEST_F(SaveScreenTest, PictureIsTheCapturesCornerReduced) {
    ASSERT_TRUE(SampleData());
    const std::vector<uint8_t> pixels = CapturePixels();
    const int32_t capture = MakeCapture(pixels);
    ASSERT_GE(capture, 0);
    auto* block = static_cast<uint8_t*>(Save_PictureMake(capture));
    ASSERT_NE(block, nullptr);
    const uint8_t header[18] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 228, 0, 128, 0, 32, 0x10};
    EXPECT_EQ(std::memcmp(block, header, 18), 0);
    std::vector<uint8_t> want(228 * 128 * 4);
    Lib_MakeThumbnail(want.data(), 228, 128, pixels.data());
    EXPECT_EQ(std::memcmp(block + 18, want.data(), want.size()), 0);
    // The first pixel is the corner's own, the last the corner's far end.
    EXPECT_EQ(block[18 + 0], 0);
    EXPECT_GT(block[18 + (127 * 228 + 227) * 4 + 1], 240);
    Lib_MemFree(HEAP_SCREEN, block);
    EXPECT_EQ(Save_PictureMake(-1), nullptr);
    Lib_SpriteFree(capture);
}

// The question of the dialog that is open.
std::string Question() {
    const SaveSlotList* l = SlotEnv::List();
    const auto* d = static_cast<const UtilityDialogWork*>(Lib_UtilityWorkGet(l ? l->dialog : -1));
    if (!d) return "<no dialog>";
    for (int32_t t : d->texts)
        if (t >= 0 && TextTable[t] && TextTable[t]->text[0]) return TextTable[t]->text;
    return "<no text>";
}

TEST_F(SaveScreenTest, AsksPerSlotAndSavesToDisk) {
    SlotImage image;
    image.Valid(0, 1, "The Book of Winds", "old");
    image.Broken(2, 3);
    // The R18 edition: the slot's title carries it, the system slot's not.
    std::filesystem::create_directories("r18/doc");
    std::ofstream("r18/doc/readme.txt") << "r18";
    ASSERT_EQ(std::system("python3 " VN_SOURCE_DIR "/tools/pack.py pcarc data/data_r18.pcarc r18 >/dev/null"), 0);
    Start(image, true);
    ASSERT_TRUE(Lib_PcArcExists(2));
    GSL_GameStateInit();
    History("; save\r\n<name NAME_0>\r\n<text TEXT_1>\r\n<keywait 1>\r\n", {"<keywait 1>"});
    SetChapter("Chapter One");
    GameStateBlock.gameVars[3] = 42;
    const std::vector<uint8_t> pixels = CapturePixels();
    StoryCaptureSprite = MakeCapture(pixels);
    Open(GSL_SaveModeCB);

    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return Work()->subState == 22; }, 10, "the question"));
    Frame(6);
    EXPECT_EQ(Question(), "Overwrite this data?");
    EXPECT_TRUE(MatchesReference("saveload_save_question"));
    Press(BUTTON_CANCEL);  // no
    ASSERT_TRUE(FramesUntil([] { return Work()->subState == 20; }, 20, "the list again"));
    EXPECT_EQ(Sprite(SLOT_LAYER_DIM), -1);
    for (int32_t slot : {1, 2}) {
        Press(BUTTON_DOWN);
        Settle();
        Press(BUTTON_DECIDE);
        ASSERT_TRUE(FramesUntil([] { return Work()->subState == 22; }, 10, "the question"));
        Frame(6);
        EXPECT_EQ(Question(), "Save to this slot?") << slot;
        Press(BUTTON_CANCEL);
        ASSERT_TRUE(FramesUntil([] { return Work()->subState == 20; }, 20, "the list again"));
    }
    Press(BUTTON_UP);
    Settle();
    ASSERT_EQ(List()->cursor, 1);
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return Work()->subState == 22; }, 10, "the question"));
    Frame(6);
    Press(BUTTON_DECIDE);  // yes
    const std::string saved(reinterpret_cast<const char*>(&GameStateBlock), sizeof(GameState));
    ASSERT_TRUE(FramesUntilWorker([] { return GSL_ModeTop() == TestScreen(0); }, "the save and the screen's end"));

    SaveInfo info;
    ASSERT_EQ(Lib_SaveSlotCheck(1, &info), 0u);
    EXPECT_STREQ(info.title, "The Book of Winds R18");
    EXPECT_STREQ(info.detail, "Chapter One\nSYSTEM_2028 00:00:00\nNAME_0\nTEXT_1");
    EXPECT_EQ(SystemDataBlock.lastSlot, 1);
    ASSERT_TRUE(Lib_SaveFlush());
    const std::string disk = SlotImage::Disk();
    ASSERT_EQ(disk.size(), kSaveImageSize);
    EXPECT_EQ(disk.substr(SavePartOffset(1, 0), sizeof(GameState)), saved);
    // The slot's picture is the capture's corner reduced to 228×128.
    std::string thumb(kSavePictSize - 18, '\0');
    Lib_MakeThumbnail(thumb.data(), 228, 128, pixels.data());
    const uint8_t header[18] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 228, 0, 128, 0, 32, 0x10};
    EXPECT_EQ(disk.substr(SavePartOffset(1, 2), 18), std::string(reinterpret_cast<const char*>(header), 18));
    EXPECT_TRUE(disk.substr(SavePartOffset(1, 2) + 18, thumb.size()) == thumb);
    Lib_SpriteFree(StoryCaptureSprite);
    StoryCaptureSprite = -1;

    // Started again on the same folder: the system data from the disk
    // remembers the slot, and the load list opens on it.
    Lib_SaveEnd();
    ASSERT_TRUE(Lib_SaveInit());
    GSL_SystemDataReset();
    ASSERT_EQ(SystemDataBlock.lastSlot, 0);
    SaveRequest request;
    GSL_SystemSaveRequestBuild(&request);
    const int32_t task = Lib_SaveTaskSet(SAVE_TASK_LOAD, &request, kSaveSystemSlot);
    ASSERT_TRUE(FramesUntilWorker([&] { return Lib_SaveTaskResult(task) != 0; }, "the system data"));
    Lib_SaveTaskEnd(task);
    EXPECT_EQ(SystemDataBlock.lastSlot, 1);
    Open(GSL_LoadModeCB);
    EXPECT_EQ(List()->cursor, 1);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == TestScreen(0); }, 100, "the screen to leave"));
    // The system slot remembers the slot, and its title has no " R18".
    EXPECT_EQ(uint8_t(disk[SavePartOffset(kSaveSystemSlot, 0) + 4]), 1);
    EXPECT_STREQ(disk.c_str() + SavePartOffset(kSaveSystemSlot, 1), "The Book of Winds");
}

// Through the story's own line text: the history points at a line of the
// sample's opening; the slot keeps it as written and the detail view shows
// it in the current language.
TEST_F(SaveScreenTest, SavedLineComesFromTheScript) {
    Start(SlotImage{}, false);
    ASSERT_TRUE(FramesUntil([] { return GSL_ScriptArcGet() != nullptr; }, 300, "the script pack"));
    const ArcView* arc = GSL_ScriptArcGet();
    const std::string mark = "<name NAME_1>\r\n<text TEXT_1>\r\n<keywait 1>";
    uint32_t pos = ~0u;
    for (uint32_t i = 0; i < arc->count && pos == ~0u; ++i) {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        if (!Lib_ArcGetData(arc, nullptr, int32_t(i), &data, &size) || !data) continue;
        const std::string member(reinterpret_cast<const char*>(data), size);
        const size_t at = member.find(mark);
        if (at != std::string::npos) pos = i << 20 | uint32_t(at + mark.size() - std::strlen("<keywait 1>"));
    }
    ASSERT_NE(pos, ~0u) << "the sample's line";
    GSL_GameStateInit();
    SetChapter("Chapter One");
    GameStateBlock.readLineCount = 2;
    GameStateBlock.readLinePos[2] = pos;
    Open(GSL_SaveModeCB);
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return Work()->subState == 22; }, 10, "the question"));
    Frame(6);
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntilWorker([] { return GSL_ModeTop() == TestScreen(0); }, "the save and the screen's end"));
    SaveInfo info;
    ASSERT_EQ(Lib_SaveSlotCheck(0, &info), 0u);
    EXPECT_STREQ(info.detail, "Chapter One\nSYSTEM_2028 00:00:00\nNAME_1\nTEXT_1");
    EXPECT_EQ(GameStateBlock.readLineCount, 2u);

    Open(GSL_LoadModeCB);
    ASSERT_EQ(List()->cursor, 0);
    ASSERT_NE(TextOf(0), nullptr);
    EXPECT_NE(std::string(TextOf(0)->text).find("Chapter One"), std::string::npos) << TextOf(0)->text;
    Press(0x8);  // C: the details
    ASSERT_EQ(Work()->subState, 26);
    ASSERT_NE(TextOf(SLOT_TEXT_DETAIL), nullptr);
    EXPECT_NE(std::string(TextOf(SLOT_TEXT_DETAIL)->text).find("Chapter One\nTime played 00:00:00\nTraveller\nWhere am I?"),
              std::string::npos)
        << TextOf(SLOT_TEXT_DETAIL)->text;
    Press(BUTTON_CANCEL);
    Press(BUTTON_CANCEL);
    ASSERT_TRUE(FramesUntil([] { return GSL_ModeTop() == TestScreen(0); }, 100, "the screen to leave"));
}

TEST_F(SaveScreenTest, FailedSlotSaveSkipsTheSystemSlot) {
    SlotImage image;
    Start(image, false);
    SystemDataBlock.lastSlot = 0;
    Open(GSL_SaveModeCB);
    Press(BUTTON_DOWN);
    Settle();
    // The store cannot write its file: its temporary name is taken.
    std::filesystem::create_directories(SlotImage::Folder() + "/save.cdf.tmp");
    Press(BUTTON_DECIDE);
    ASSERT_TRUE(FramesUntil([] { return Work()->subState == 22; }, 10, "the question"));
    Frame(6);
    Press(BUTTON_DECIDE);
    bool sawSystemSave = false;
    int frame = 0;
    ASSERT_TRUE(FramesUntilWorker(
        [&] {
            // The store's notice waits for the player.
            if (++frame % 2) Hold(BUTTON_DECIDE);
            else Release(BUTTON_DECIDE);
            ScreenWork* w = GSL_WorkGet(GSL_SaveModeCB);
            if (w && w->step == 2 && (w->subState == 12 || w->subState == 13)) sawSystemSave = true;
            return GSL_ModeTop() == TestScreen(0);
        },
        "the screen to end"));
    Release(BUTTON_DECIDE);
    Frame();
    EXPECT_FALSE(sawSystemSave);
    EXPECT_EQ(SystemDataBlock.lastSlot, 0);
    std::filesystem::remove_all(SlotImage::Folder() + "/save.cdf.tmp");
}

}  // namespace
