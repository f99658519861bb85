// Container directory checks and lookups on arbitrary bytes. The first byte
// picks how long the searched name is; the name is taken from the input's
// tail so that it can agree with member names. Every member a lookup
// delivers must lie inside the container.
#include "engine/files/container.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t nameLen = std::min<size_t>(data[0], size - 1);
    std::string name(reinterpret_cast<const char*>(data + size - nameLen), nameLen);
    name = name.c_str();  // up to the first NUL
    // An exact-size copy, so that any read past the container is caught.
    std::vector<uint8_t> bytes(data + 1, data + size - nameLen);
    uint8_t* start = bytes.empty() ? nullptr : bytes.data();

    ArcView arc;
    if (!Lib_ArcOpen(&arc, start, bytes.size())) {
        Check(arc.count == 0 && Lib_ArcGetFileID(&arc, name.c_str()) == -1);
        return 0;
    }
    Check(8 + 72ull * arc.count <= bytes.size());
    auto inside = [&](const uint8_t* p, uint32_t n) {
        return p >= start && uint64_t(p - start) + n <= bytes.size();
    };
    int64_t id = Lib_ArcGetFileID(&arc, name.c_str());
    Check(id >= -1 && id < int64_t(arc.count));
    const uint8_t* member = nullptr;
    uint32_t memberSize = 0;
    bool found = Lib_ArcGetData(&arc, name.c_str(), -1, &member, &memberSize);
    Check(found == (id >= 0));
    if (found) Check(inside(member, memberSize));
    for (uint32_t i = 0; i < arc.count && i < 64; ++i) {
        Check(Lib_ArcGetData(&arc, nullptr, int32_t(i), &member, &memberSize));
        Check(inside(member, memberSize));
        // A member is found under its own name (or an earlier one that matches).
        char own[64];
        std::memcpy(own, start + 8 + 72 * i, sizeof own);
        int64_t self = own[0] ? Lib_ArcGetFileID(&arc, own) : -1;
        Check(own[0] ? self >= 0 && self <= int64_t(i) : self == -1);
    }
    Check(!Lib_ArcGetData(&arc, nullptr, int32_t(arc.count), &member, &memberSize));
    return 0;
}
