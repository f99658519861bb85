#include "engine/files/container.h"

#include "engine/core/debug_log.h"
#include "engine/core/charcode.h"

#include <cstring>

namespace {

constexpr uint64_t kHeaderSize = 8;
constexpr uint64_t kEntrySize = 72;
constexpr size_t kNameField = 64;
constexpr size_t kSearchNameRoom = 256;

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

const uint8_t* Entry(const ArcView* arc, uint32_t i) { return arc->data + kHeaderSize + kEntrySize * i; }

}  // namespace

bool Lib_ArcOpen(ArcView* arc, const void* data, uint64_t size) {
    if (!arc) return false;
    *arc = ArcView{};
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (!bytes || size < kHeaderSize) {
        Lib_DebugPrintf("Error -> Lib_ArcOpen(size %llu)\n", static_cast<unsigned long long>(size));
        return false;
    }
    uint32_t count = ReadU32(bytes + 4);
    if (kHeaderSize + kEntrySize * count > size) {
        Lib_DebugPrintf("Error -> Lib_ArcOpen(%u members in %llu bytes)\n", count,
                        static_cast<unsigned long long>(size));
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = bytes + kHeaderSize + kEntrySize * i;
        uint64_t memberSize = ReadU32(e + 64), offset = ReadU32(e + 68);
        if (!std::memchr(e, 0, kNameField) || offset + memberSize > size) {
            Lib_DebugPrintf("Error -> Lib_ArcOpen(member %u)\n", i);
            return false;
        }
    }
    arc->data = bytes;
    arc->size = size;
    arc->count = count;
    return true;
}

int64_t Lib_ArcGetFileID(const ArcView* arc, const char* name) {
    char wanted[kSearchNameRoom];
    size_t len = name ? strnlen(name, kSearchNameRoom) : 0;
    if (len > 0 && len < kSearchNameRoom && arc && arc->data) {
        std::memcpy(wanted, name, len + 1);
        Lib_StrLowerSjis(wanted);
        char member[kNameField];
        for (uint32_t i = 0; i < arc->count; ++i) {
            // Lib_ArcOpen made sure every name ends within its field.
            std::memcpy(member, Entry(arc, i), kNameField);
            if (std::strlen(member) != len) continue;
            Lib_StrLowerSjis(member);
            size_t k = 0;
            while (k < len && (wanted[k] == '*' || wanted[k] == member[k])) ++k;
            if (k == len) return i;
        }
    }
    // Long names are logged cut; %.255s keeps an unterminated read in bounds.
    Lib_DebugPrintf("Error -> Lib_ArcGetFileID(%.255s)\n", name ? name : "(null)");
    return -1;
}

bool Lib_ArcGetData(const ArcView* arc, const char* name, int32_t index,
                    const uint8_t** data, uint32_t* size) {
    int64_t i = index;
    if (i < 0) {
        i = Lib_ArcGetFileID(arc, name);
        if (i < 0) {
            Lib_DebugPrintf("Error -> Lib_ArcGetData(%.255s)\n", name ? name : "(null)");
            return false;
        }
    } else if (!arc || i >= arc->count) {
        Lib_DebugPrintf("Error -> Lib_ArcGetData(index %d)\n", index);
        return false;
    }
    const uint8_t* e = Entry(arc, uint32_t(i));
    if (data) *data = arc->data + ReadU32(e + 68);
    if (size) *size = ReadU32(e + 64);
    return true;
}
