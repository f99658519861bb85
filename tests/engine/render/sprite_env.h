// Test environment for the sprite layer: the headless GL fixture plus small
// heaps, an empty named cache, a task table, a temporary data root, the
// picture writer (tools/image_data.py) and hand-driven loader passes and
// frames. Every sprite is freed at the end, and no GL object may be left.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_image.h"
#include "engine/render/sprite_load.h"
#include "platform/plat_gl_api.h"
#include "tests/engine/render/gl_fixture.h"

class SpriteEnv : public GlTest {
protected:
    static constexpr uint64_t kMiB = 1024 * 1024;

    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) return;
        char tmpl[] = "/tmp/vn_sprite_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        std::filesystem::create_directories("data");
        const uint64_t sizes[HEAP_COUNT] = {8 * kMiB, 16 * kMiB, 2 * kMiB, 32 * kMiB, 32 * kMiB};
        ASSERT_TRUE(Lib_MemInit(sizes));
        ASSERT_TRUE(Lib_TaskInit());
        for (FileLoadRequest& r : FileLoadTable.slots) r.flags = 0;
        FileLoadTable.pending = 0;
        Lib_DrawClear();
        Lib_DrawSet(Lib_ClearCB, 0, kDrawHeadPriority, 0, -1);
        for (SpriteRecord& s : SpriteTable) Lib_SpriteClear(&s);
        Lib_CameraReset(&ActiveCamera);
        objects_ = SpriteLiveObjects;
        tasks_ = TaskTable.liveCount;
    }

    void TearDown() override {
        if (!dir_.empty()) {
            for (int32_t i = 0; i < kSpriteSlots; ++i) {
                SpriteTable[i].flags |= SPRITE_FAILED;  // a pending load too
                Lib_SpriteFree(i);
            }
            EXPECT_EQ(SpriteLiveObjects, objects_) << "GL objects left behind";
            EXPECT_EQ(DrawList.count, 1) << "draw entries left behind";
            for (int32_t i = 0; i < kFileLoadSlots; ++i) Lib_FileLoadEnd(i);
            Lib_PcArcClose();
            Lib_CashReset();
            Lib_MemRelease();
            std::filesystem::current_path(old_);
            std::filesystem::remove_all(dir_);
        }
        GlTest::TearDown();
    }

    // tools/image_data.py commands, one a line.
    static bool Picture(const std::string& commands) {
        std::ofstream("batch.txt") << commands << "\n";
        return std::system("python3 " VN_SOURCE_DIR "/tools/image_data.py batch batch.txt") == 0;
    }
    static bool Pack(const std::string& args) {
        return std::system(("python3 " VN_SOURCE_DIR "/tools/pack.py " + args).c_str()) == 0;
    }
    // The folder "root" as the base archive, opened.
    static bool Archive() {
        if (!Pack("pcarc data/data_00.pcarc root")) return false;
        Lib_PcArcOpen();
        return Lib_PcArcExists(0);
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // A claimed sprite whose data is a heap-4 copy of the bytes (as a load
    // into heap 4 leaves it), built with Lib_SpriteMakeTexture.
    static int32_t FromBytes(const std::string& bytes, const char* name = "") {
        int32_t slot = Lib_SpriteGetFree(0);
        SpriteRecord* r = Lib_SpriteAt(slot);
        r->data = Lib_MemAlloc(HEAP_GRAPHICS, bytes.size() + 1, 256);
        std::memcpy(r->data, bytes.data(), bytes.size());
        r->dataSize = uint32_t(bytes.size());
        std::snprintf(r->fileName, sizeof r->fileName, "%s", name);
        Lib_SpriteMakeTexture(slot);
        return slot;
    }
    static int32_t FromFile(const std::string& path) { return FromBytes(Read(path)); }
    static void Frame() { Lib_TaskPass(false); }
    static void LoaderPass() { Lib_FileLoadCB(nullptr); }
    static int UsedRequests() {
        int n = 0;
        for (const FileLoadRequest& r : FileLoadTable.slots) n += r.flags & 1;
        return n;
    }
    int StrayTasks() const { return TaskTable.liveCount - tasks_; }

    // A texture's texels, row 0 first, 4 bytes (BGRA) or 1 byte (red) each.
    static std::vector<uint8_t> ReadTexture(uint32_t tex, int32_t w, int32_t h, bool index8 = false) {
        std::vector<uint8_t> out(size_t(w) * h * (index8 ? 1 : 4));
        GLuint fb = 0;
        glGenFramebuffers(1, &fb);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, fb);
        glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, w, h, index8 ? GL_RED : GL_BGRA, GL_UNSIGNED_BYTE, out.data());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, renderer()->frameFramebuffer);
        glDeleteFramebuffers(1, &fb);
        return out;
    }
    // The writer's "coords" pattern as B, G, R, A.
    static Bgra Coords(uint32_t x, uint32_t y) {
        return Bgra{uint8_t(x), uint8_t(y), uint8_t(7 * x + 13 * y), 255};
    }
    static Bgra TexelAt(const std::vector<uint8_t>& t, int32_t w, int32_t x, int32_t y) {
        const uint8_t* p = &t[(size_t(y) * w + x) * 4];
        return Bgra{p[0], p[1], p[2], p[3]};
    }

    std::filesystem::path dir_, old_;
    int32_t objects_ = 0, tasks_ = 0;
};
