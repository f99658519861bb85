// Test environment of the save store: heaps large enough for the image, its
// mirror and the compressor, a scratch folder as the data root, the task
// table, and helpers that run the real save task through Lib_TaskPass.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/main_tasks.h"
#include "engine/core/cache.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/core/task.h"
#include "engine/core/thread.h"
#include "engine/files/file_loader.h"
#include "engine/input/input.h"
#include "story/game_state.h"
#include "story/save_store.h"
#include "tests/engine/core/worker_wait.h"

class SaveEnv : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vn_save_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 48 * mib, 2 * mib, 8 * mib, 2 * mib};
        ASSERT_TRUE(Lib_MemInit(sizes));
        ASSERT_TRUE(Lib_TaskInit());
        Lib_ThreadTableClear();
        std::strcpy(UserId, "4242");
        std::filesystem::create_directories("data");
        Lib_SaveSizesSet();
    }
    void TearDown() override {
        Lib_SaveEnd();
        Lib_SaveClockSet(nullptr);
        Lib_FileEnd();
        Lib_CashReset();
        Lib_MemRelease();
        Main_RunStateReset();  // the system data's freshness, as a fresh process has it
        if (!old_.empty()) std::filesystem::current_path(old_);
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
public:
    // File helpers, also used by the whole-program test.
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // The inflated member of a gzip file written by the engine ("" on error).
    static std::string Inflated(const std::string& path) {
        std::string file = Read(path), out;
        z_stream z{};
        if (file.size() < 18 || inflateInit2(&z, 31) != Z_OK) return "";
        z.next_in = reinterpret_cast<Bytef*>(file.data());
        z.avail_in = uInt(file.size());
        char buf[65536];
        int r;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            r = inflate(&z, Z_NO_FLUSH);
            out.append(buf, sizeof buf - z.avail_out);
        } while (r == Z_OK);
        inflateEnd(&z);
        return r == Z_STREAM_END ? out : "";
    }
    // A gzip file of bytes with the engine's trailer (u32 0, u32 size).
    static std::string Gzip(const std::string& bytes) {
        z_stream z{};
        deflateInit2(&z, 1, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
        std::string out(deflateBound(&z, uLong(bytes.size())) + 8, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
        z.avail_in = uInt(bytes.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FINISH);
        out.resize(z.total_out);
        deflateEnd(&z);
        uint32_t trailer[2] = {0, uint32_t(bytes.size())};
        out.append(reinterpret_cast<const char*>(trailer), 8);
        return out;
    }
protected:
    // One pass of the tasks, the player confirming every notice.
    static void Pass() {
        Lib_FileLoadCB(nullptr);  // the dialogs' picture
        InputButtons.pressed = BUTTON_DECIDE;
        Lib_TaskPass(false);
    }
    // Runs passes until the save task is done, the writer working in real
    // time; the passes it took (-1 on a hang).
    static int RunTask(int32_t task) {
        return WorkerUntil([task] { return Lib_SaveTaskResult(task) == SAVE_TASK_FINISHED; }, Pass,
                           "the save task's end");
    }
    // A save (mode 0) or load (1) of slot with data of its size.
    static SaveRequest Request(std::vector<uint8_t>& data, int32_t slot, const char* subtitle = "sub") {
        SaveRequest r{};
        std::strcpy(r.title, "title");
        std::snprintf(r.subtitle, sizeof r.subtitle, "%s", subtitle);
        std::strcpy(r.detail, "detail");
        data.resize(SaveDataSize(slot));
        r.data = data.data();
        r.dataSize = uint32_t(data.size());
        return r;
    }
    // A slot's block: the writer's version, then byte i = i * 31 + seed.
    static std::vector<uint8_t> Pattern(int32_t slot, uint8_t seed) {
        std::vector<uint8_t> d(SaveDataSize(slot));
        for (size_t i = 0; i < d.size(); ++i) d[i] = uint8_t(i * 31 + seed);
        GSL_BlockVersionStamp(d.data());
        return d;
    }
    // A save or load of slot from or into data through the task; its result
    // code.
    static int32_t Transfer(SaveTaskMode mode, int32_t slot, std::vector<uint8_t>& data) {
        SaveRequest r = Request(data, slot);
        int32_t task = Lib_SaveTaskSet(mode, &r, slot);
        if (task < 0 || RunTask(task) < 0) return -1;
        int32_t code = Lib_SaveTaskCode(task);
        Lib_SaveTaskEnd(task);
        return code;
    }
    // Saves slot through the task; its result code.
    static int32_t Save(int32_t slot, uint8_t seed) {
        std::vector<uint8_t> data = Pattern(slot, seed);
        return Transfer(SAVE_TASK_SAVE, slot, data);
    }
    static std::vector<uint8_t> Data(int32_t slot) {
        const uint8_t* image = Lib_SaveImageGet();
        const uint8_t* p = image + SavePartOffset(slot, 0);
        return std::vector<uint8_t>(p, p + SaveDataSize(slot));
    }
    // The store again from the disk.
    static void Reload() {
        Lib_SaveEnd();
        ASSERT_TRUE(Lib_SaveInit());
    }
    static constexpr const char* kSave = "user/4242/save/save.cdf";
    static constexpr const char* kRegistry = "user/4242/save/registry.cdf";

    std::filesystem::path dir_, old_;
};
