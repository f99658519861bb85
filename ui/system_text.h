// System texts: entries of the message tables in the current language, with
// the screens' fixes (a size tag before long option labels and chapter
// names, add-on glyph tags for two characters the fonts lack).
#pragma once

#include <cstdint>

#include "engine/files/message_table.h"
#include "ui/mode.h"

// The entry (table null: SystemMesTable), rewritten for its screen and the
// interface language. Without a rewrite, exactly Lib_MesGet's result; with
// one, a static buffer that the next rewrite overwrites. Either way copied
// into out (when given) within outSize bytes. Game thread only.
const char* GSL_SysTextGet(const MesTable* table, uint32_t section, uint32_t index, int32_t unused, char* out,
                           uint32_t outSize);
