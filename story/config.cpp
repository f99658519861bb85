#include "story/config.h"

#include <cstdio>
#include <cstring>

#include "engine/core/task.h"
#include "engine/files/message_table.h"
#include "engine/movie/movie.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/font.h"
#include "engine/text/glyph_cache.h"
#include "engine/text/text_object.h"
#include "platform/plat_window.h"
#include "story/game_state.h"
#include "story/story_host.h"
#include "story/story_screen.h"
#include "ui/engine_services.h"
#include "ui/mode.h"
#include "ui/screen_slots.h"
#include "ui/system_text.h"

int32_t FontLoadTask = -1;
int8_t FontReloadPending = -1;

void GSL_ConfigFontStateReset() {
    FontLoadTask = -1;
    FontReloadPending = -1;
}

namespace {
constexpr int32_t kOptionTemplates = 64;
constexpr int32_t kOptionFirstLabel = 3;

// A volume byte as the player set it: signed, 0..100.
float VolumeOf(uint8_t byte) {
    const int32_t v = int8_t(byte);
    return float(v < 0 ? 0 : v > 100 ? 100 : v);
}

// The configured language: byte 29 when it names one, else the locale's.
int32_t ConfiguredLanguage() {
    const int32_t l = SystemDataBlock.language;
    return l >= 0 && l <= 3 ? l : Lib_LanguageGet();
}

// The font-load task while it is registered as one.
FontLoadWork* FontLoad() {
    if (FontLoadTask < 0 || FontLoadTask >= kTaskSlots) return nullptr;
    const TaskRecord* t = TaskTable.slots[FontLoadTask];
    if (!t || t->dead || t->callback != Lib_FontSetCB) return nullptr;
    return static_cast<FontLoadWork*>(t->work);
}

// The story screen's context while its handles are its own.
ScreenWork* StoryWork() {
    ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
    return w && !w->released ? w : nullptr;
}

TextRecord* TextOf(const ScreenWork* w, uint32_t slot) {
    const int32_t h = w->texts[slot].handle;
    return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
}

void Fonts() {
    const int32_t language = ConfiguredLanguage();
    const bool changed = TextLanguage.load() != language;
    if (changed) FontReloadPending = -1;
    TextLanguage.store(language);
    // The stored name may lack its terminator: at most 63 bytes of it.
    char face[kFaceNameSize];
    const size_t n = strnlen(SystemDataBlock.fontName, sizeof face - 1);
    std::memcpy(face, SystemDataBlock.fontName, n);
    face[n] = 0;
    if (std::strcmp(face, FontUserFace) != 0) {
        std::memcpy(FontUserFace, face, n + 1);
        if (!changed) {
            Lib_FontCreate(nullptr, 0);
            Lib_GlyphAtlasReset();
        }
    }
    if (FontReloadPending < 0 && !FontLoad()) {
        char name[32];
        std::snprintf(name, sizeof name, "font_%02d.ttf", int(language));
        FontLoadTask = Lib_FontSet(name, "font_add_00.ext");
        if (FontLoadTask >= 0) FontReloadPending = 0;
    }
}

void WindowLook() {
    ScreenWork* w = StoryWork();
    if (!w) return;
    uint32_t alpha = uint32_t(SystemDataBlock.windowOpacity) * 255u / 100u;
    if (alpha > 255) alpha = 255;
    const uint32_t colour = alpha << 24 | 0xFFFFFFu;
    for (uint32_t layer : {25u, 24u, 26u})
        if (Lib_SpriteIsLive(w->layers[layer].handle)) Lib_SpriteSetColor(w->layers[layer].handle, colour);
    for (uint32_t slot = 0; slot <= 5; ++slot) {
        TextRecord* t = TextOf(w, slot);
        if (!t) continue;
        if (SystemDataBlock.textEffectOff == 0) {
            t->outline = 0xFFFFFFFFu;
        } else {
            t->outline = 0;
            t->renderFlags &= 0x1E;
        }
    }
}

void WindowTitle() {
    char title[256];
    GSL_SysTextGet(nullptr, 0, 0, 0, title, sizeof title);
    if (!title[0]) std::snprintf(title, sizeof title, "%s", "No text");
    Plat_PostWindowTitle(title);
}

void Relabel(TextRecord* t, const char* text, int32_t handle) {
    if (!t) return;
    Lib_TextStrSet(handle, text);
    GSL_TextShowFully(t);
}

// The option screen's title and item labels in the new language.
void OptionLabels() {
    const ModeFunction option = GSL_ScreenOf(SCREEN_OPTION);
    if (!option || GSL_ModeTop() != option) return;
    const ScreenWork* w = GSL_WorkGet(option);
    if (!w) return;
    char text[kMesTextSize];
    if (TextRecord* t = TextOf(w, 0)) {
        GSL_SysTextGet(&SysgraMesTable, 2, 5, 0, text, sizeof text);
        Relabel(t, text, w->texts[0].handle);
    }
    uint32_t slot = kOptionFirstLabel;
    for (int32_t n = 0; n < kOptionTemplates; ++n) {
        int32_t labels[4] = {-1, -1, -1, -1};
        const int32_t count = GSL_StoryHost().optionLabels(n, labels);
        if (count < 0) break;
        for (int32_t i = 0; i < count && i < 4; ++i, ++slot) {
            if (slot >= uint32_t(kScreenTexts)) return;
            TextRecord* t = TextOf(w, slot);
            if (!t || labels[i] < 0) continue;
            GSL_SysTextGet(&SysgraMesTable, 3, uint32_t(labels[i]), 0, text, sizeof text);
            Relabel(t, text, w->texts[slot].handle);
        }
    }
}
}  // namespace

void GSL_ConfigApplyVolume() {
    const struct {
        uint8_t byte;
        int32_t first, last;
    } groups[] = {
        {SystemDataBlock.systemVolume, 19, 22},
        {SystemDataBlock.musicVolume, 0, 2},
        {SystemDataBlock.seVolume, 3, 10},
        {SystemDataBlock.voiceVolume, 11, 18},
    };
    for (const auto& g : groups)
        for (int32_t ch = g.first; ch <= g.last; ++ch) Lib_SoundVolumeSet(ch, VolumeOf(g.byte));
    MovieVolume.store(VolumeOf(SystemDataBlock.systemVolume) / 100.0f);
    const float* factors = GameStateBlock.stage.factors;
    for (int32_t ch = 0; ch < kSoundChannels; ++ch) {
        const float v = SoundChannelTable[ch].st.volume.load() * factors[ch];
        Lib_SoundVolumeSet(ch, v);
    }
}

void GSL_ConfigApply(bool keepFont) {
    const bool languageChanged = TextLanguage.load() != ConfiguredLanguage();
    if (!keepFont) Fonts();
    WindowLook();
    GSL_ConfigApplyVolume();
    SystemDataBlock.systemVars[18] = SystemDataBlock.instantEffects == 0 ? 1 : 0;
    WindowTitle();
    if (languageChanged && !keepFont) OptionLabels();
}

bool GSL_ConfigFontWait() {
    if (const FontLoadWork* f = FontLoad()) {
        if (f->result == 0) return false;
        Lib_TaskDel(uint32_t(FontLoadTask));
    }
    FontLoadTask = -1;
    if (!FontUserFace[0]) {
        GSL_WorkNameCopy(SystemDataBlock.fontName, sizeof SystemDataBlock.fontName, FontDefaultFace);
        GSL_WorkNameCopy(FontUserFace, kFaceNameSize, FontDefaultFace);
    }
    return true;
}
