// The save and load screens on the screen harness with the sample's data and
// a save store written here from the store's documented layout (flag bytes,
// per slot data, SaveInfo and picture, a registry of SHA-1 digests), so that
// a misreading of the format is caught rather than mirrored.
#pragma once

#include <cstring>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/core/util.h"
#include "engine/files/message_table.h"
#include "engine/input/input.h"
#include "screens/slot_list.h"
#include "screens/system_screens.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "tests/story/save_env.h"
#include "tests/ui/screen_harness.h"
#include "ui/overlay.h"
#include "ui/screen_slots.h"

struct SlotImage {
    std::string image = std::string(kSaveImageSize, '\0');
    std::string registry = std::string(kSaveRegistrySize, '\0');

    // A slot's block: the writer's version, then byte i = i * 31 + seed.
    static std::string Data(int32_t slot, int seed) {
        std::string d(SaveDataSize(slot), '\0');
        for (size_t i = 0; i < d.size(); ++i) d[i] = char((i * 31 + size_t(seed)) & 255);
        GSL_BlockVersionStamp(d.data());
        return d;
    }
    // A 228×128 picture: blue = x, green = y, red = seed, alpha 255.
    static std::string Picture(int seed, uint16_t w = 228, uint16_t h = 128) {
        std::string p(kSavePictSize, '\0');
        p[12] = char(w & 255);
        p[13] = char(w >> 8);
        p[14] = char(h & 255);
        p[15] = char(h >> 8);
        p[16] = 32;
        p[17] = 0x10;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 228; ++x) {
                char* px = &p[18 + (size_t(y) * 228 + size_t(x)) * 4];
                px[0] = char(x);
                px[1] = char(y * 2);
                px[2] = char(seed);
                px[3] = char(255);
            }
        return p;
    }
    void Flags(int32_t slot, bool on) {
        for (int part = 0; part < 3; ++part) image[size_t(part * kSaveSlots + slot)] = on ? 1 : 0;
    }
    // A valid slot; the digest covers the data as given.
    void Valid(int32_t slot, int seed, const std::string& title, const std::string& detail,
               DateTime date = {2026, 12, 7, 14, 5, 9, 0}, std::string picture = "") {
        std::string data = Data(slot, seed);
        SetData(slot, data);
        uint8_t digest[20];
        Lib_Sha1(data.data(), uint32_t(data.size()), digest);
        registry.replace(size_t(20 * slot), 20, reinterpret_cast<const char*>(digest), 20);
        std::string info(kSaveInfoSize, '\0');
        info.replace(0, std::min<size_t>(title.size(), 128), title.substr(0, 128));
        char sub[128];
        std::snprintf(sub, sizeof sub, "Data_%02d", slot + 1);
        info.replace(128, std::strlen(sub), sub);
        info.replace(256, std::min<size_t>(detail.size(), 1024), detail.substr(0, 1024));
        info.replace(1280, sizeof date, reinterpret_cast<const char*>(&date), sizeof date);
        image.replace(SavePartOffset(slot, 1), kSaveInfoSize, info);
        if (picture.empty()) picture = Picture(seed);
        image.replace(SavePartOffset(slot, 2), kSavePictSize, picture);
        Flags(slot, true);
    }
    void SetData(int32_t slot, const std::string& data) { image.replace(SavePartOffset(slot, 0), data.size(), data); }
    // Valid, then one data byte changed behind its digest.
    void Broken(int32_t slot, int seed) {
        Valid(slot, seed, "title", "detail");
        image[SavePartOffset(slot, 0) + 77] ^= 0x5A;
    }
    void System(const SystemData& data) {
        SetData(kSaveSystemSlot, std::string(reinterpret_cast<const char*>(&data), sizeof data));
        uint8_t digest[20];
        Lib_Sha1(&data, sizeof data, digest);
        registry.replace(size_t(20 * kSaveSystemSlot), 20, reinterpret_cast<const char*>(digest), 20);
        image[kSaveSystemSlot] = image[kSaveSlots + kSaveSystemSlot] = image[2 * kSaveSlots + kSaveSystemSlot] = 1;
    }
    static std::string Folder() { return std::string("user/") + UserId + "/save"; }
    void Write() const {
        std::filesystem::create_directories(Folder());
        SaveEnv::Write(Folder() + "/save.cdf", SaveEnv::Gzip(image));
        SaveEnv::Write(Folder() + "/registry.cdf", SaveEnv::Gzip(registry));
    }
    static std::string Disk() { return SaveEnv::Inflated(Folder() + "/save.cdf"); }
};

class SlotEnv : public ScreenHarness {
protected:
    void SetUp() override {
        ScreenHarness::SetUp();
        if (IsSkipped()) return;
        std::strcpy(UserId, "4242");
        Lib_SaveSizesSet();
        GSL_PlayTimeClockSet(Now);  // play time on the frames' clock
    }
    void TearDown() override {
        if (store_) Lib_SaveEnd();
        Lib_SaveClockSet(nullptr);
        GSL_PlayTimeClockSet(nullptr);
        ScreenHarness::TearDown();
    }

public:
    // The sample's data and texts in English, the store from `image`, the
    // whole main initialisation, and the host screen below the tested one.
    void Start(const SlotImage& image, bool fonts = true) {
        ASSERT_TRUE(SampleData());
        Messages();
        if (fonts) {
            ASSERT_TRUE(Fonts(1));
        }
        TextLanguage = 1;
        image.Write();
        ASSERT_TRUE(Lib_SaveInit());
        store_ = true;
        StartFull();
        GSL_SystemDataReset();
        ModeStack[0] = nullptr;  // in place of the boot screen
        MakeContext(TestScreen(0));
    }
    // Pushed as the title and the in-game menu push it: the screen below
    // released.
    void Open(ModeFunction screen) {
        GSL_ModePush(screen, 0);
        ASSERT_TRUE(FramesUntil([&] { return List() && GSL_WorkGet(screen)->step == 2 && GSL_WorkGet(screen)->subState == 20; }, 300, "the list"));
    }
    static ScreenWork* Work() { return GSL_WorkGet(nullptr); }
    static SaveSlotList* List() { return SlotListGet(GSL_WorkGet(nullptr)); }
    // Presses (for one frame) and releases.
    void Press(uint32_t bits) {
        Hold(bits);
        Frame();
        Release(bits);
        Frame();
    }
    static int32_t Sprite(uint32_t layer) { return GSL_WorkLayerGet(nullptr, layer); }
    static TextRecord* TextOf(uint32_t slot) {
        const int32_t id = GSL_WorkTextGet(nullptr, slot);
        return id >= 0 ? TextTable[id] : nullptr;
    }
    // Frames until the list step takes input again.
    void Settle() {
        FramesUntil(
            [] {
                const SaveSlotList* l = List();
                if (!l) return true;
                for (int32_t m : l->rowMoves)
                    if (m >= 0) return false;
                return true;
            },
            60, "the rows to settle");
        Frame();
    }
    bool store_ = false;
};
