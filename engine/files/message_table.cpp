#include "engine/files/message_table.h"

#include "engine/core/debug_log.h"
#include "engine/core/heap.h"
#include "engine/files/archive.h"
#include "engine/files/file_loader.h"
#include "engine/core/charcode.h"
#include "platform/plat_locale.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// process-wide (SystemMesTable, SysgraMesTable, ScriptMesTable): loaded and freed by
// Lib_MesSystemLoad, Lib_MesLoad and their frees
MesTable SystemMesTable;
MesTable SysgraMesTable;
MesTable ScriptMesTable;
// The text language (-1: the locale's until set); Lib_TextRunStateReset puts it back.
std::atomic<int32_t> TextLanguage{-1};

namespace {

constexpr uint64_t kHeadSize = 48;
constexpr int32_t kSections = 10;
constexpr char kNoText[] = "No text";

// process-wide: scratch, written before each read
char g_sharedText[kMesTextSize];
// process-wide: the system locale's language, the same for the process
std::atomic<int32_t> g_localeLanguage{-1};

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The string of (section, index, language), when every number and the
// string itself lie inside the table.
bool FindText(const MesTable* t, int32_t section, int32_t index, int32_t language,
              const uint8_t** text, uint32_t* length) {
    if (!Lib_MesTableCheck(t->data, t->size)) return false;
    const uint8_t* d = t->data;
    uint64_t languages = d[0], entries = ReadU32(d + 4);
    if (section < 0 || section >= kSections || index < 0 || language < 0 || language >= int64_t(languages))
        return false;
    uint64_t before = 0;
    for (int32_t s = 0; s < section; ++s) before += ReadU32(d + 8 + 4 * s);
    if (uint64_t(index) >= ReadU32(d + 8 + 4 * section)) return false;
    uint64_t e = languages * before + languages * uint64_t(index) + uint64_t(language);
    if (e >= entries) return false;
    uint64_t stringsAt = kHeadSize + 8 * entries;
    uint64_t offset = ReadU32(d + kHeadSize + 8 * e), len = ReadU32(d + kHeadSize + 8 * e + 4);
    if (offset + len > t->size - stringsAt) return false;
    *text = d + stringsAt + offset;
    *length = uint32_t(len);
    return true;
}

// Byte length of the character at p, looking at no more than the `avail`
// bytes left in the text.
uint32_t CharLenWithin(const uint8_t* p, uint64_t avail) {
    char window[5] = {};
    std::memcpy(window, p, size_t(std::min<uint64_t>(avail, 4)));
    return Lib_CharLen(window);
}

// Copies len bytes of text into dst (cap >= 1) and terminates them; a text
// that does not fit is cut after its last whole character.
void CopyCut(char* dst, uint32_t cap, const uint8_t* text, uint32_t len) {
    uint32_t keep = len;
    if (len > cap - 1) {
        keep = 0;
        for (uint32_t n; keep + (n = CharLenWithin(text + keep, len - keep)) <= cap - 1;) keep += n;
    }
    std::memcpy(dst, text, keep);
    dst[keep] = '\0';
}

void Lookup(const MesTable* table, int32_t section, int32_t index, int32_t language, char* dst,
            uint32_t cap) {
    if (!dst || !cap) return;
    dst[0] = '\0';
    // A table that is not loaded stands for the default one, as a null table does.
    const MesTable* t = table && table->data ? table : &SystemMesTable;
    if (!t->data) return;
    const uint8_t* text = nullptr;
    uint32_t len = 0;
    if (FindText(t, section, index, language, &text, &len) && len)
        CopyCut(dst, cap, text, len);
    else
        CopyCut(dst, cap, reinterpret_cast<const uint8_t*>(kNoText), sizeof kNoText - 1);
}

int32_t CurrentLanguage(int32_t language) {
    if (language >= 0) return language;
    int32_t current = TextLanguage.load(std::memory_order_relaxed);
    return current >= 0 ? current : Lib_LanguageGet();
}

void FreeTable(MesTable* t) {
    if (t->data) Lib_MemFree(HEAP_GENERAL, const_cast<uint8_t*>(t->data));
    *t = MesTable{};
}

// Reads a table whole into heap 0, from the archives or through the file
// loader; a missing or damaged table leaves t unloaded.
bool LoadTable(MesTable* t, const char* path, bool fromArchives) {
    FreeTable(t);
    char name[kFileNameSize];
    std::snprintf(name, sizeof name, "%s", path);
    void* data = nullptr;
    uint32_t size = 0;
    bool read = fromArchives ? Lib_PcArcLoad(HEAP_GENERAL, name, &data, &size, 256, true)
                             : Lib_FileLoad(HEAP_GENERAL, name, &data, &size, 256, false);
    if (!read || !Lib_MesTableCheck(data, size)) {
        if (data) Lib_MemFree(HEAP_GENERAL, data);
        Lib_DebugPrintf("Error -> Lib_MesLoad(%s)\n", path);
        return false;
    }
    t->data = static_cast<const uint8_t*>(data);
    t->size = size;
    return true;
}

}  // namespace

const char* Lib_MesGet(const MesTable* table, int32_t section, int32_t index, int32_t language,
                       char* out, uint32_t outSize) {
    language = CurrentLanguage(language);
    Lookup(table, section, index, language, g_sharedText, kMesTextSize);
    Lookup(table, section, index, language, out, outSize);
    return g_sharedText;
}

char* Lib_MesGetBuf(const MesTable* table, int32_t section, int32_t index, int32_t language,
                    char* out, uint32_t outSize) {
    Lookup(table, section, index, CurrentLanguage(language), out, outSize);
    return out;
}

int32_t Lib_LanguageFromLocale(const char* locale) {
    if (!locale) return 1;
    size_t langLen = std::strcspn(locale, "_");
    if (langLen == 2 && locale[0] == 'j' && locale[1] == 'a') return 0;
    if (locale[0] == 'z' && locale[1] == 'h') {
        const char* country = locale[langLen] ? locale + langLen + 1 : "";
        return country[0] == 'C' || country[0] == 'c' ? 2 : 3;
    }
    return 1;
}

int32_t Lib_LanguageGet() {
    int32_t cached = g_localeLanguage.load(std::memory_order_acquire);
    if (cached >= 0) return cached;
    char locale[64];
    Plat_LocaleName(locale, sizeof locale);
    int32_t language = Lib_LanguageFromLocale(locale);
    g_localeLanguage.store(language, std::memory_order_release);
    return language;
}

bool Lib_MesTableCheck(const void* data, uint64_t size) {
    if (!data || size < kHeadSize) return false;
    return kHeadSize + 8ull * ReadU32(static_cast<const uint8_t*>(data) + 4) <= size;
}

bool Lib_MesSystemLoad() { return LoadTable(&SystemMesTable, "script/system_mes.mul", false); }

void Lib_MesLoad() {
    LoadTable(&SysgraMesTable, "script/sysgra_mes.mul", true);
    LoadTable(&ScriptMesTable, "script/script_mes.mul", true);
}

void Lib_MesSystemFree() { FreeTable(&SystemMesTable); }

void Lib_MesFree() {
    FreeTable(&SysgraMesTable);
    FreeTable(&ScriptMesTable);
}
