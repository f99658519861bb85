#include "script/script_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/core/engine_state.h"
#include "engine/files/file_loader.h"
#include "script/replay.h"
#include "script/script_task.h"

namespace {

constexpr uint32_t kPlaces = 1024;          // places remembered; a full table tells again, within the rate
constexpr uint32_t kLinesPerSecond = 8;
constexpr uint64_t kSecondUs = 1000000;

struct Place {
    const char* text;
    uint32_t offset;
};
Place g_places[kPlaces];
uint32_t g_placeCount = 0;
uint64_t g_secondStart = 0;
uint32_t g_secondLines = 0;
uint32_t g_secondDropped = 0;
bool g_secondStarted = false;

uint32_t Hash(const char* text, uint32_t offset) {
    uint64_t h = uint64_t(reinterpret_cast<uintptr_t>(text)) * 0x9E3779B97F4A7C15ull ^ offset * 0xC2B2AE3Du;
    return uint32_t(h >> 32) % kPlaces;
}

// The slot of a place, or the free slot where it goes; null when the table is full.
Place* Find(const char* text, uint32_t offset) {
    for (uint32_t i = Hash(text, offset), n = 0; n < kPlaces; ++n, i = (i + 1) % kPlaces) {
        Place& p = g_places[i];
        if (!p.text || (p.text == text && p.offset == offset)) return &p;
    }
    return nullptr;
}

bool SecondAllows() {
    const uint64_t now = Lib_TimerNow();
    if (!g_secondStarted || now - g_secondStart >= kSecondUs) {
        if (g_secondDropped)
            std::fprintf(stderr, "vn: %u more script problems in a second were not told\n", unsigned(g_secondDropped));
        g_secondStarted = true;
        g_secondStart = now;
        g_secondLines = 0;
        g_secondDropped = 0;
    }
    if (g_secondLines >= kLinesPerSecond) {
        ++g_secondDropped;
        return false;
    }
    ++g_secondLines;
    return true;
}

// "vn: " and a line whose names and words came from a script or a save,
// its control bytes escaped.
void PrintLine(const char* text) {
    char escaped[4096];
    std::fprintf(stderr, "vn: %s\n", Lib_TextEscaped(text, escaped, sizeof escaped));
}

void Print(const ScriptState* script, uint32_t offset, const char* format, va_list args) {
    char text[1024], line[1536];
    std::vsnprintf(text, sizeof text, format, args);
    const char* file = script ? GSL_ScriptWorkOf(const_cast<ScriptState*>(script))->fileName : "?";
    std::snprintf(line, sizeof line, "script %s:%u: %s", file, unsigned(GSL_ScriptLineOf(script, offset)), text);
    PrintLine(line);
}

}  // namespace

uint32_t GSL_ScriptLineOf(const ScriptState* script, uint32_t offset) {
    if (!script || !script->text) return 1;
    const uint32_t end = offset < script->size ? offset : script->size;
    // A line feed is never the second byte of a two-byte character.
    uint32_t line = 1;
    for (const char* p = script->text; (p = static_cast<const char*>(std::memchr(p, '\n', size_t(script->text + end - p))));
         ++p)
        ++line;
    return line;
}

void GSL_ScriptReport(const ScriptState* script, uint32_t offset, const char* format, ...) {
    const char* text = script ? script->text : nullptr;
    Place* place = Find(text, offset);
    if (place && place->text) return;
    if (!SecondAllows()) return;
    if (place && g_placeCount + 1 < kPlaces) {
        *place = Place{text, offset};
        ++g_placeCount;
    }
    va_list args;
    va_start(args, format);
    Print(script, offset, format, args);
    va_end(args);
}

void GSL_ScriptReportLine(const char* format, ...) {
    if (!SecondAllows()) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    PrintLine(text);
}

void GSL_ScriptReportAlways(const ScriptState* script, uint32_t offset, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Print(script, offset, format, args);
    va_end(args);
}

const char* GSL_ScriptTagUtf8(const ScriptState* script, char* out, uint32_t outSize) {
    return GSL_ScriptTagUtf8At(script, script ? script->readOffset : 0, script ? script->nextOffset : 0, out, outSize);
}

const char* GSL_ScriptTagUtf8At(const ScriptState* script, uint32_t start, uint32_t end, char* out, uint32_t outSize) {
    if (!outSize) return out;
    out[0] = 0;
    if (!script || !script->text || start >= script->size) return out;
    char tag[160];
    if (end <= start || end > script->size) end = script->size;
    uint32_t n = end - start;
    if (n >= sizeof tag) n = sizeof tag - 1;
    std::memcpy(tag, script->text + start, n);
    tag[n] = 0;
    // One line on stderr: a tag written over several lines is shown on one.
    for (uint32_t i = 0; i < n; ++i)
        if (tag[i] == '\r' || tag[i] == '\n') tag[i] = ' ';
    return Lib_SjisToUtf8Buf(tag, out, outSize);
}

bool GSL_ScriptResourceCheck(const CommandContext* ctx, const char* kind, const char* name, const char* path) {
    if (!path || !path[0] || Lib_FileExists(path)) return true;
    if (!ctx || !ctx->script || GSL_ReplayModeGet(ctx) != REPLAY_NORMAL) return false;
    static char tag[512], nameUtf8[512], pathUtf8[512];
    GSL_ScriptReport(ctx->script, ctx->script->readOffset, "%s: %s %s cannot be loaded: no file %s",
                     GSL_ScriptTagUtf8(ctx->script, tag, sizeof tag), kind,
                     Lib_SjisToUtf8Buf(name ? name : "", nameUtf8, sizeof nameUtf8),
                     Lib_SjisToUtf8Buf(path, pathUtf8, sizeof pathUtf8));
    return false;
}

void GSL_ScriptReportReset() {
    std::memset(g_places, 0, sizeof g_places);
    g_placeCount = 0;
    g_secondStarted = false;
    g_secondStart = 0;
    g_secondLines = 0;
    g_secondDropped = 0;
}
