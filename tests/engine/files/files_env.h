// Test environment for the file modules: small heaps, an empty named cache, a
// temporary working directory (the data root) and the project's data writers.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_window.h"
#include "engine/core/cache.h"
#include "engine/core/heap.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "tests/engine/files/fifo_wait.h"
#include "tests/script/script_packer.h"

class FilesEnv : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vn_files_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        const uint64_t mib = 1024 * 1024, sizes[HEAP_COUNT] = {8 * mib, 16 * mib, 2 * mib, 16 * mib, 8 * mib};
        ASSERT_TRUE(Lib_MemInit(sizes));
        std::memcpy(userId_, UserId, sizeof userId_);
        std::strcpy(UserId, "4242");
        std::filesystem::create_directories("user/4242/save");
        std::filesystem::create_directories("data");
    }
    void TearDown() override {
        Lib_FileEnd();
        Lib_CashReset();
        Lib_MemRelease();
        if (!old_.empty()) std::filesystem::current_path(old_);
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
        std::memcpy(UserId, userId_, sizeof userId_);
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::filesystem::path p(path);
        if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    }
    // tools/pack.py with the arguments (paths relative to the data root).
    // tools/pack.py with args (split at spaces) in the current folder.
    static bool Pack(const std::string& args) {
        std::vector<std::string> words;
        std::istringstream in(args);
        for (std::string w; in >> w;) words.push_back(w);
        return script_packer::Run(std::filesystem::current_path().string(), words);
    }
    static uint64_t InUse(int heap) { return HeapTable.heaps[heap].bytesInUse; }
    std::filesystem::path dir_, old_;
    char userId_[sizeof UserId] = {};
};
