// Damaged save files on the load screen: after a flipped byte, a truncation
// or an empty save.cdf or registry.cdf the store starts again, the slot list
// shows each damaged slot as damaged, and a slot that survived loads. A
// registry that cannot be read is rebuilt from the slots whose data passes
// the game-state checks, and the notice before the title tells whether the
// slots shown damaged stay so and whether the rebuilt registry is kept.
#include <sys/stat.h>

#include "story/story_screen.h"
#include "tests/screens/slot_env.h"

namespace {

// The saved slots: three at the front of the image, two at its back.
constexpr int32_t kSaved[] = {0, 1, 2, 29, 30};

class DamagedSaveFilesTest : public SlotEnv {
protected:
    static std::string Label(uint32_t n) {
        const TextRecord* t = TextOf(n);
        return t ? t->text : "<none>";
    }
    static bool Gone() { return GSL_ModeTop() == TestScreen(0); }
    // The store started again on these files; with `fifo` registry.cdf is a
    // FIFO, which cannot be read nor written over.
    void Restart(const std::string& save, const std::string& registry, bool fifo = false) {
        Lib_SaveEnd();
        const std::string registryPath = SlotImage::Folder() + "/registry.cdf";
        std::filesystem::remove(registryPath);
        SaveEnv::Write(SlotImage::Folder() + "/save.cdf", save);
        if (fifo) ASSERT_EQ(::mkfifo(registryPath.c_str(), 0644), 0);
        else SaveEnv::Write(registryPath, registry);
        std::filesystem::remove(SlotImage::Folder() + "/save.cdf.broken");
        std::filesystem::remove(SlotImage::Folder() + "/registry.cdf.broken");
        testing::internal::CaptureStderr();
        ASSERT_TRUE(Lib_SaveInit());
        told_ = testing::internal::GetCapturedStderr();
    }
    // Opens the load screen and reads every saved slot's row: valid with its
    // own bytes, or damaged; never empty, never valid on other bytes. The
    // slots that show valid.
    std::vector<int32_t> Rows() {
        std::vector<int32_t> valid;
        Open(GSL_LoadModeCB);
        for (int32_t slot : kSaved) {
            SCOPED_TRACE(testing::Message() << "slot " << slot);
            const uint32_t check = Lib_SaveSlotCheck(slot, nullptr);
            const std::string label = Label(uint32_t(slot));
            if (check == 0) {
                valid.push_back(slot);
                const uint8_t* data = Lib_SaveImageGet() + SavePartOffset(slot, 0);
                EXPECT_TRUE(std::string(reinterpret_cast<const char*>(data), SaveDataSize(slot)) ==
                            good_.image.substr(SavePartOffset(slot, 0), SaveDataSize(slot)));
                EXPECT_EQ(label.rfind("The Book of Winds#n", 0), 0u) << label;
            } else {
                EXPECT_EQ(check, 2u);
                char want[32];
                std::snprintf(want, sizeof want, "Damaged_%02d", slot + 1);
                EXPECT_EQ(label, want);
            }
        }
        EXPECT_EQ(Label(3), "Empty_04");
        return valid;
    }
    static std::string SystemText(int32_t n) {
        char text[257];
        Lib_MesGetBuf(nullptr, 1, n, -1, text, sizeof text);
        return text;
    }
    // The notices a load of the system slot shows first, as the boot's load
    // does, each answered.
    std::vector<std::string> Notices() {
        SystemData block{};
        SaveRequest request{};
        request.data = &block;
        request.dataSize = sizeof block;
        const int32_t task = Lib_SaveTaskSet(SAVE_TASK_LOAD, &request, kSaveSystemSlot);
        std::vector<std::string> shown;
        FramesUntilWorker([&] {
            if (std::string text = NoticeText(); !text.empty()) {
                shown.push_back(std::move(text));
                Press(BUTTON_DECIDE);
                FramesUntil([] { return NoticeText().empty(); }, 60, "the notice answered");
            }
            return Lib_SaveTaskResult(task) != SAVE_TASK_RUNNING;
        }, "the system slot loaded");
        EXPECT_EQ(Lib_SaveTaskCode(task), SAVE_CODE_OK);
        Lib_SaveTaskEnd(task);
        return shown;
    }
    void Leave() {
        Press(BUTTON_CANCEL);
        ASSERT_TRUE(FramesUntil([] { return Gone(); }, 100, "the screen below"));
        Frame(2);
    }

    SlotImage good_;
    std::string told_;
};

TEST_F(DamagedSaveFilesTest, DamagedSlotsShowDamagedAndTheOthersLoad) {
    for (int32_t slot : kSaved) good_.Valid(slot, slot + 1, "The Book of Winds", "Chapter One");
    SystemData system{};
    GSL_BlockVersionStamp(&system);
    system.language = 1;
    good_.System(system);
    // Slot 0 holds a game state the story can start from.
    GameState state{};
    std::memcpy(state.version, "0100", 4);
    state.gameVars[0] = 42;
    std::snprintf(state.scriptName, sizeof state.scriptName, "%s", "00_init.txt");
    const std::string saved(reinterpret_cast<const char*>(&state), sizeof state);
    good_.SetData(0, saved);
    uint8_t digest[20];
    Lib_Sha1(saved.data(), uint32_t(saved.size()), digest);
    good_.registry.replace(0, 20, reinterpret_cast<const char*>(digest), 20);
    Start(good_, false);
    const std::string save = SaveEnv::Gzip(good_.image), registry = SaveEnv::Gzip(good_.registry);
    const std::vector<int32_t> all(std::begin(kSaved), std::end(kSaved));
    // A rebuilt registry's notice when slots shown damaged stay so, in a
    // registry kept on disk or for this session only.
    const std::string damagedStay = SystemText(17), sessionDamagedStay = SystemText(19);
    for (const std::string& text : {damagedStay, sessionDamagedStay}) EXPECT_GT(text.size(), 20u) << text;

    auto flipped = [](std::string bytes, size_t at) {
        bytes[at] = char(bytes[at] ^ 0x10);
        return bytes;
    };
    {
        SCOPED_TRACE("registry.cdf: a flipped byte in its CRC; every digest still proves its slot");
        Restart(save, flipped(registry, registry.size() - 14));  // before the size trailer
        EXPECT_NE(told_.find("registry.cdf is damaged"), std::string::npos) << told_;
        EXPECT_EQ(Notices(), std::vector<std::string>{}) << "nothing was rebuilt";
        EXPECT_EQ(Rows(), all);
        Leave();
    }
    {
        SCOPED_TRACE("registry.cdf: a flipped byte in the middle");
        Restart(save, flipped(registry, registry.size() / 2));
        const std::vector<int32_t> valid = Rows();
        EXPECT_FALSE(valid.empty());
        EXPECT_LT(valid.size(), all.size());
        Leave();
    }
    {
        SCOPED_TRACE("registry.cdf: truncated");
        Restart(save, registry.substr(0, registry.size() / 2));
        EXPECT_EQ(Notices(), std::vector<std::string>{damagedStay});
        EXPECT_LT(Rows().size(), all.size());
        Leave();
    }
    {
        SCOPED_TRACE("registry.cdf: a FIFO; rebuilt in memory, the slots that fail the checks stay damaged");
        Restart(save, "", true);
        const std::vector<std::string> shown = Notices();
        EXPECT_EQ(shown.at(0), sessionDamagedStay);
        EXPECT_EQ(shown.at(1).rfind(SystemText(16), 0), 0u) << shown[1];
        EXPECT_EQ(Rows(), std::vector<int32_t>{0});
        Leave();
    }
    {
        SCOPED_TRACE("registry.cdf: empty; the slot whose game state passes the checks loads, the others are damaged");
        Restart(save, "");
        EXPECT_TRUE(std::filesystem::exists(SlotImage::Folder() + "/registry.cdf.broken"));
        EXPECT_NE(told_.find("vn: save/registry.cdf is rebuilt: 2 saved slots whose data passes the game-state "
                             "checks load again"),
                  std::string::npos)
            << told_;
        EXPECT_EQ(Notices(), std::vector<std::string>{damagedStay});
        EXPECT_EQ(Rows(), std::vector<int32_t>{0});
        // The fresh registry on disk holds that slot's digest.
        ASSERT_TRUE(Lib_SaveFlush());
        const std::string fresh = SaveEnv::Inflated(SlotImage::Folder() + "/registry.cdf");
        ASSERT_EQ(fresh.size(), kSaveRegistrySize);
        EXPECT_TRUE(fresh.substr(0, 20) == good_.registry.substr(0, 20));
        EXPECT_EQ(fresh.substr(20, 20), std::string(20, '\0'));
        Leave();
    }
    {
        SCOPED_TRACE("save.cdf: a flipped byte in the middle");
        Restart(flipped(save, save.size() / 2), registry);
        EXPECT_NE(told_.find("save.cdf is damaged"), std::string::npos) << told_;
        EXPECT_TRUE(std::filesystem::exists(SlotImage::Folder() + "/save.cdf.broken"));
        const std::vector<int32_t> valid = Rows();
        ASSERT_FALSE(valid.empty());
        EXPECT_EQ(valid[0], 0);
        Leave();
    }
    {
        SCOPED_TRACE("save.cdf: empty; the slots read empty and the file is set aside");
        Restart("", registry);
        EXPECT_TRUE(std::filesystem::exists(SlotImage::Folder() + "/save.cdf.broken"));
        Open(GSL_LoadModeCB);
        for (int32_t slot : kSaved) EXPECT_EQ(Lib_SaveSlotCheck(slot, nullptr), 1u) << slot;
        EXPECT_EQ(Label(0), "Empty_01");
        Leave();
    }
    {
        SCOPED_TRACE("save.cdf: truncated; the front slots load");
        Restart(save.substr(0, save.size() / 2), registry);
        GSL_GameStateInit();
        SystemDataBlock.lastSlot = 0;
        const std::vector<int32_t> valid = Rows();
        ASSERT_FALSE(valid.empty());
        EXPECT_EQ(valid[0], 0);
        EXPECT_LT(valid.size(), all.size());
        // Slot 0 loads: the story starts on its bytes.
        ASSERT_EQ(List()->cursor, 0);
        Press(BUTTON_DECIDE);
        ASSERT_TRUE(FramesUntil([] { return Work() && Work()->subState == 22; }, 10, "the question"));
        Frame(6);
        Hold(BUTTON_DECIDE);  // yes
        Frame();
        Release(BUTTON_DECIDE);
        std::string atSwitch;
        ASSERT_TRUE(FramesUntilWorker(
            [&] {
                const bool switched = ModeStack[1] == GSL_StoryModeCB && !ModeStack[2];
                if (switched && atSwitch.empty())
                    atSwitch.assign(reinterpret_cast<const char*>(&GameStateBlock), sizeof(GameState));
                return switched;
            },
            "the story"));
        EXPECT_EQ(atSwitch, saved);
    }
}

}  // namespace
