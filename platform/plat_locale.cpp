#include "platform/plat_locale.h"

#include <SDL.h>

#include <cstdlib>
#include <initializer_list>
#include <cstring>

namespace {
void copyBounded(char* out, size_t outSize, const char* src) {
    if (!outSize) return;
    size_t n = 0;
    // Keep "ll_CC": stop at the encoding or modifier part ("ja_JP.UTF-8@x").
    while (src[n] && src[n] != '.' && src[n] != '@' && n + 1 < outSize) {
        out[n] = src[n] == '-' ? '_' : src[n];
        ++n;
    }
    out[n] = '\0';
}
}  // namespace

void Plat_LocaleName(char* out, size_t outSize) {
    if (!out || !outSize) return;
    out[0] = '\0';
    if (SDL_Locale* locales = SDL_GetPreferredLocales()) {
        if (locales[0].language) {
            char buf[32];
            if (locales[0].country)
                SDL_snprintf(buf, sizeof buf, "%s_%s", locales[0].language, locales[0].country);
            else
                SDL_snprintf(buf, sizeof buf, "%s", locales[0].language);
            copyBounded(out, outSize, buf);
        }
        SDL_free(locales);
        if (out[0]) return;
    }
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v && std::strcmp(v, "C") != 0 && std::strcmp(v, "POSIX") != 0) {
            copyBounded(out, outSize, v);
            return;
        }
    }
}
