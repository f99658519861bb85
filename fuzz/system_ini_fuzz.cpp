// Reading "system.ini" made of arbitrary bytes: the first 64 bytes are the
// file (a shorter file replaces only the bytes it has), every further 16
// bytes one display {x, y, w, h} as the platform reports it. Whatever the
// file says, the window it describes must fit the first display, lie on some
// display, and read back unchanged once written.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/app_window.h"
#include "engine/core/engine_state.h"
#include "fuzz/fuzz_scratch.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

PlatRect g_displays[16];
int g_count = 0;

int Displays(PlatRect* out, int max) {
    int n = std::min(g_count, max);
    std::copy(g_displays, g_displays + n, out);
    return n;
}

const WindowOps kOps = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, Displays};

int32_t Le32(const uint8_t* p) { return int32_t(uint32_t(p[0]) | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

bool SameBlock(const SystemIni& a, const SystemIni& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height && a.fullScreen == b.fullScreen &&
           std::memcmp(a.reserved, b.reserved, sizeof a.reserved) == 0;
}

std::string g_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_scratch::Enter(argc, argv, "vn_system_ini_fuzz");
    std::strcpy(UserId, "1");
    std::filesystem::create_directories("user/1");
    g_path = fuzz_scratch::Folder() + "/user/1/system.ini";
    Main_WindowOpsSet(&kOps);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t fileBytes = std::min<size_t>(size, kSystemIniSize);
    g_count = 0;
    for (size_t at = kSystemIniSize; at + 16 <= size && g_count < 16; at += 16) {
        // Displays lie within a few screens of the origin and have a size.
        PlatRect& d = g_displays[g_count++];
        d.x = Le32(data + at) % 65536;
        d.y = Le32(data + at + 4) % 65536;
        d.w = 1 + int32_t(uint32_t(Le32(data + at + 8)) % 16384);
        d.h = 1 + int32_t(uint32_t(Le32(data + at + 12)) % 16384);
    }
    FILE* f = std::fopen(g_path.c_str(), "wb");
    Check(f != nullptr);
    if (fileBytes) Check(std::fwrite(data, 1, fileBytes, f) == fileBytes);
    std::fclose(f);

    Main_SystemIniSet(SystemIni{});
    Check(Main_SystemIniRead());
    const SystemIni b = Main_SystemIniGet();
    Check(b.fullScreen == 0 || b.fullScreen == 1);
    Check(b.width >= uint32_t(kWindowMinWidth) && b.height >= uint32_t(kWindowMinHeight));
    if (g_count > 0) {
        Check(b.width <= uint32_t(std::max(g_displays[0].w, kWindowMinWidth)));
        Check(b.height <= uint32_t(std::max(g_displays[0].h, kWindowMinHeight)));
    }
    // Written and read again, the block stays as it is.
    Main_SystemIniWrite();
    Main_SystemIniSet(SystemIni{});
    Check(Main_SystemIniRead());
    Check(SameBlock(Main_SystemIniGet(), b));
    return 0;
}
