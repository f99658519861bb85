// The user's preferred locale, as "ll" or "ll_CC" (for example "ja", "zh_TW").
#pragma once

#include <cstddef>

// Writes the locale name into out (always terminated); empty when unknown.
void Plat_LocaleName(char* out, size_t outSize);
