// ".mul" message tables and the interface language.
//
// Layout (little-endian): u8 language count L, 3 bytes not read, u32 entry
// count N, ten u32 section counts, N entries {u32 offset, u32 length}, then
// the string bytes (not terminated; offsets count from their start). The
// text of (section s, index i, language g) is entry
// L * (counts of the sections before s) + L * i + g; length 0 = no text.
//
// Language indexes: 0 Japanese, 1 any other language, 2 simplified Chinese,
// 3 traditional Chinese.
#pragma once

#include <atomic>
#include <cstdint>

// A loaded table: the file's bytes (heap 0) and their count; data is null
// while the table is not loaded.
struct MesTable {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
};

// "script/system_mes.mul" (the default table, loaded at start-up),
// "script/sysgra_mes.mul" and "script/script_mes.mul" (loaded by Lib_MesLoad).
extern MesTable SystemMesTable;
extern MesTable SysgraMesTable;
extern MesTable ScriptMesTable;

// The text renderer's language index: the current interface language once
// set (0..3); -1 until then, when the locale's language applies.
extern std::atomic<int32_t> TextLanguage;

// Size of the shared result buffer; longer texts are cut on a character
// boundary to one byte less.
constexpr uint32_t kMesTextSize = 1536;

// The text of (section, index, language) in a shared buffer that the next
// lookup overwrites (game thread only). A null table means SystemMesTable;
// language -1 the current interface language. "No text" for a missing text
// and for any number or offset outside the table; empty when the table is
// not loaded. When out is given the text is also copied there, cut to
// outSize - 1 bytes on a character boundary.
const char* Lib_MesGet(const MesTable* table, int32_t section, int32_t index, int32_t language,
                       char* out, uint32_t outSize);
// The same lookup writing only to the caller's buffer (any thread). Returns out.
char* Lib_MesGetBuf(const MesTable* table, int32_t section, int32_t index, int32_t language,
                    char* out, uint32_t outSize);

// The locale's interface language, computed once for the program's life.
int32_t Lib_LanguageGet();
// The language index of a locale name such as "ja", "zh_CN" or "en_US":
// "ja" 0, "zh" with a country beginning 'C' 2, other "zh" 3, anything else 1.
int32_t Lib_LanguageFromLocale(const char* locale);

// Checks that size bytes at data hold a table header and entry directory.
bool Lib_MesTableCheck(const void* data, uint64_t size);

// Start-up and shutdown of SystemMesTable (read with Lib_FileLoad).
bool Lib_MesSystemLoad();
void Lib_MesSystemFree();
// Loads SysgraMesTable and ScriptMesTable from the archives; a table that is
// missing or damaged stays unloaded. Lib_MesFree releases both.
void Lib_MesLoad();
void Lib_MesFree();
