#include "screens/option_items.h"

#include <cstring>

#include "engine/files/message_table.h"
#include "engine/movie/movie.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "engine/text/text_object.h"
#include "screens/option.h"
#include "story/game_state.h"
#include "ui/layout_table.h"
#include "ui/mode.h"
#include "ui/screen_slots.h"
#include "ui/system_sound.h"
#include "ui/system_text.h"

namespace {
constexpr int32_t kDefaultPriority = 190;
constexpr int32_t kTextLayer = 189;
constexpr int32_t kLayoutGroup = 6;
constexpr int32_t kClip[4] = {80, 88, 1120, 600};
constexpr float kKnobX = 14.0f;
constexpr float kKnobTravel = 394.0f;
constexpr int32_t kVoiceOptionKind = 17;
constexpr int32_t kSystemVoiceChannel = 22;
const char kSeSample[] = "sound/se/拍手.ogg";
const char kVoiceSample[] = "sound/voice_system/svo_quorin_mivo.ogg";

// Configuration byte of items 0..23.
constexpr int32_t kItemByte[kOptionItems] = {10, 11, 12, 13, 6,  7,  5,  8,  9,  14, 28, 15,
                                             16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27};

enum Kind { SLIDER, CHOICE, ICON, PLATE, END };

Kind KindOf(int32_t n) {
    if (n < 0 || n >= kOptionTemplates - 1) return END;
    if (n == 24) return PLATE;
    if (n >= kOptionFirstIcon) return ICON;
    if (n == 6 || n == 7 || n == 9 || n == 10) return CHOICE;
    return SLIDER;
}

void Blank(OptionTemplate* t) {
    std::memset(t, 0, sizeof *t);
    for (int i = 0; i < 4; ++i) {
        t->spriteRect[i] = -1;
        t->textIndex[i] = -1;
        t->spritePriority[i] = -1;
    }
}

void Text(OptionTemplate* t, int i, int32_t index, int32_t x, int32_t y, float scale, uint32_t colour,
          uint32_t edge, uint8_t placement, uint8_t shown) {
    t->textIndex[i] = index;
    t->textPos[i] = {x, y, 0};
    t->textScale[i] = {scale, scale};
    t->textColour[i] = colour;
    t->textEdge[i] = edge;
    t->textPlacement[i] = placement;
    t->textShown[i] = shown;
}

void Sprite(OptionTemplate* t, int i, int32_t rect, float x, float y, int32_t priority, uint8_t shown) {
    t->spriteRect[i] = rect;
    t->spritePos[i] = {x, y, 0.0f};
    t->spritePriority[i] = priority;
    t->spriteShown[i] = shown;
}

void Build(OptionTemplate* t, int32_t n) {
    Blank(t);
    const Kind kind = KindOf(n);
    const float rowY = float(227 - 64 * n);
    const int32_t textY = -124 - 64 * n;
    switch (kind) {
        case SLIDER: {
            static constexpr int32_t kEnds[9][2] = {{2, 1}, {2, 1}, {2, 1}, {2, 1}, {4, 3},
                                                    {4, 3}, {0, 0}, {0, 0}, {6, 5}};
            t->hitMask = 1;
            t->spriteCount = 2;
            Sprite(t, 0, 1, kKnobX, rowY, -1, 1);
            Sprite(t, 1, 9, 211.0f, rowY, -1, 1);
            t->cursorPos = {-554.0f, rowY, 0.0f};
            t->textCount = 3;
            Text(t, 0, n == 8 ? 20 : 12 + n, 104, textY, 0.5f, 0xFFFFFFFFu, 0xFFB6A3FFu, 0, 1);
            Text(t, 1, kEnds[n][0], 624, textY - 2, 0.4f, 0xFFFEFEFEu, 0xFFFFB266u, TEXT_ALIGN_RIGHT, 1);
            Text(t, 2, kEnds[n][1], 1072, textY - 2, 0.4f, 0xFFA191F0u, 0xFFFFFFFFu, 0, 1);
            break;
        }
        case CHOICE: {
            const bool skip = n == 6;
            static constexpr int32_t kLabel[11] = {0, 0, 0, 0, 0, 0, 18, 19, 0, 21, 23};
            t->hitMask = 6;
            t->spriteCount = 3;
            Sprite(t, 0, 8, 160.0f, rowY, 188, 1);
            Sprite(t, 1, skip ? 6 : 4, 160.0f, rowY, -1, 1);
            Sprite(t, 2, skip ? 7 : 5, 264.0f, rowY, -1, 1);
            t->cursorPos = {-554.0f, rowY, 0.0f};
            t->textCount = 3;
            Text(t, 0, kLabel[n], 104, textY, 0.5f, 0xFFFFFFFFu, 0xFFB6A3FFu, 0, 1);
            Text(t, 1, skip ? 7 : 9, 798, textY - 10, 0.5f, 0xFFA191F0u, 0xFFFFFFFFu, TEXT_ALIGN_CENTRE, 1);
            Text(t, 2, skip ? 8 : 10, 902, textY - 10, 0.5f, 0xFFA191F0u, 0xFFFFFFFFu, TEXT_ALIGN_CENTRE, 1);
            break;
        }
        case ICON: {
            static constexpr float kColumn[5] = {26.0f, 119.0f, 212.0f, 306.0f, 399.0f};
            static constexpr float kRow[3] = {-500.0f, -580.0f, -660.0f};
            const int32_t k = n - kOptionFirstIcon;
            const float x = kColumn[k % 5], y = kRow[k / 5];
            t->hitMask = 1;
            t->spriteCount = 2;
            Sprite(t, 0, 11, x, y, -1, 0);
            Sprite(t, 1, 12 + k, x, y, -1, 1);
            t->cursorPos = {x - 40.0f, y + 704.0f, 0.0f};
            t->textCount = 1;
            Text(t, 0, k < 12 ? 30 + k : 11, 670, -1109, 0.5f, 0xFFFFFFFFu, 0, 0, 0);
            break;
        }
        case PLATE:
            t->notSelectable = 1;
            t->spriteCount = 1;
            Sprite(t, 0, 10, 212.0f, -760.0f, -1, 1);
            t->textCount = 1;
            Text(t, 0, 22, 104, -828, 0.5f, 0xFFFFFFFFu, 0xFFB6A3FFu, 0, 1);
            break;
        case END:
            t->textCount = -1;
            break;
    }
}

// A template's sprites end at a rectangle of -1 or the fourth, its texts at
// an index of -1 or the fourth.
int32_t SpriteRun(const OptionTemplate& t) {
    int32_t n = 0;
    while (n < t.spriteCount && n < 4 && t.spriteRect[n] >= 0) ++n;
    return n;
}
int32_t TextRun(const OptionTemplate& t) {
    int32_t n = 0;
    while (n < t.textCount && n < 4 && t.textIndex[n] >= 0) ++n;
    return n;
}

uint8_t* Config() { return reinterpret_cast<uint8_t*>(&SystemDataBlock); }

ScreenWork* Screen() { return GSL_WorkGet(GSL_OptionModeCB); }

void ChannelVolumes(int32_t first, int32_t last, int32_t volume) {
    for (int32_t ch = first; ch <= last; ++ch) Lib_SoundVolumeSet(ch, float(volume));
}

bool ChannelFree(int32_t ch) {
    const SoundChannel& c = SoundChannelTable[ch];
    return !(c.st.flags.load() & SOUND_IN_USE) || c.st.state.load() == SOUND_IDLE;
}

// A sample on the screen's channel, only while that channel is free; -1
// (no channel was free when the screen opened) plays nothing.
void Sample(int32_t channel, const char* path) {
    if (channel < 0 || channel >= kSoundChannels) return;
    if (!ChannelFree(channel)) return;
    Lib_SoundRequest(SoundChannelTable[channel], path, 0, 0, nullptr);
}
}  // namespace

OptionTemplate* GSL_OptionTemplateGet(OptionTemplate* out, int32_t n) {
    if (out) Build(out, n);
    return out;
}

int32_t GSL_OptionItemByte(int32_t item) { return item >= 0 && item < kOptionItems ? kItemByte[item] : -1; }

OptionWork* GSL_OptionWork() {
    const ScreenWork* w = Screen();
    return w ? reinterpret_cast<OptionWork*>(uintptr_t(w->words[0])) : nullptr;
}

void GSL_OptionBuildItems() {
    ScreenWork* w = Screen();
    if (!w) return;
    char text[kMesTextSize];
    uint32_t layer = kOptionFirstLayer, slot = kOptionFirstText;
    OptionTemplate t;
    for (int32_t n = 0; GSL_OptionTemplateGet(&t, n)->spriteCount != 0; ++n) {
        for (int32_t i = 0, c = SpriteRun(t); i < c; ++i) GSL_WorkLayerCopyIn(w, layer++, 2, -1);
        for (int32_t i = 0, c = TextRun(t); i < c; ++i) {
            GSL_SysTextGet(&SysgraMesTable, 3, uint32_t(t.textIndex[i]), 0, text, sizeof text);
            GSL_WorkTextSetIn(w, slot++, -1, text);
        }
    }
}

void GSL_OptionDrawItems(int32_t initial) {
    ScreenWork* w = Screen();
    const OptionWork* o = GSL_OptionWork();
    if (!w || !o) return;
    const uint8_t* config = Config();
    uint32_t layer = kOptionFirstLayer, slot = kOptionFirstText;
    OptionTemplate t;
    for (int32_t n = 0; GSL_OptionTemplateGet(&t, n)->spriteCount != 0; ++n) {
        const Kind kind = KindOf(n);
        const int32_t byte = GSL_OptionItemByte(n);
        const int32_t value = byte >= 0 ? config[byte] : 0;
        if (kind == SLIDER) t.spritePos[0].x = kKnobX + kKnobTravel * float(value) / 100.0f;
        if (kind == CHOICE) {
            const int32_t over = n == 6 ? (value ? 2 : 1) : (value ? 1 : 2);
            t.spritePos[0].x = t.spritePos[over].x;
        }
        if (kind == ICON) {
            t.spriteShown[0] = value != 0;
            if (o->cursor >= kOptionFirstIcon && o->cursor == n) t.textShown[0] = 1;
        }
        for (int32_t i = 0, c = SpriteRun(t); i < c; ++i, ++layer) {
            const int32_t h = w->layers[layer].handle;
            SpriteRecord* s = Lib_SpriteAt(h);
            if (!s) continue;
            Lib_SpriteSetFlag(h, t.spriteShown[i]);
            Lib_SpriteSetPrio(h, t.spritePriority[i] < 0 ? kDefaultPriority : t.spritePriority[i], i);
            s->posX = t.spritePos[i].x;
            if (initial) s->posY = t.spritePos[i].y;
            s->posZ = t.spritePos[i].z;
            LayoutRect r{};
            GSL_LayoutGetRect(&r, kLayoutGroup, t.spriteRect[i]);
            const int32_t rect[4] = {r.x, r.y, r.width, r.height};
            Lib_SpriteSetRect(h, rect);
            Lib_SpriteSetColor(h, (t.hitMask >> i) & 1 ? 0xFFF0F0F0u : 0xFFFFFFFFu);
            Lib_SpriteSetValue(h, 2);
            std::memcpy(s->clipRect, kClip, sizeof kClip);
        }
        for (int32_t i = 0, c = TextRun(t); i < c; ++i, ++slot) {
            const int32_t h = w->texts[slot].handle;
            TextRecord* r = h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
            if (!r) continue;
            if (t.textShown[i])
                r->state |= TEXT_STATE_DRAWN;
            else
                r->state &= uint8_t(~TEXT_STATE_DRAWN);
            Lib_TextPrioSet(h, kTextLayer);
            r->x = t.textPos[i].x;
            if (initial) r->y = t.textPos[i].y;
            r->z = t.textPos[i].z;
            r->scaleX = t.textScale[i].x;
            r->scaleY = t.textScale[i].y;
            r->colour = t.textColour[i];
            r->outline = t.textEdge[i];
            r->renderFlags = t.textPlacement[i];
            r->drawMode = kTextDrawDefaultCamera;
            r->clipX = kClip[0];
            r->clipY = kClip[1];
            r->clipWidth = kClip[2];
            r->clipHeight = kClip[3];
        }
    }
    Lib_SpriteSetFlag(w->layers[1].handle, 1);
}

void GSL_OptionChangeItem(int8_t step, uint8_t playSound) {
    OptionWork* o = GSL_OptionWork();
    if (!o) return;
    const int32_t item = o->cursor;
    const int32_t byte = GSL_OptionItemByte(item);
    if (byte < 0) return;
    uint8_t* config = Config();
    const int32_t old = config[byte];
    const Kind kind = KindOf(item);
    if (kind == SLIDER) {
        if ((old <= 0 && step < 0) || (old >= 100 && step > 0)) return;
        int32_t v = old + step;
        v = v < 0 ? 0 : v > 100 ? 100 : v;
        config[byte] = uint8_t(v);
        switch (item) {
            case 0: {
                ChannelVolumes(19, 22, v);
                MovieVolume.store(float(v) / 100.0f);
                if (ChannelFree(kSystemVoiceChannel)) GSL_SysVoicePlay(0, kVoiceOptionKind, -1.0f);
                if (playSound) GSL_SystemSePlay(SE_MOVE);
                break;
            }
            case 1:
                ChannelVolumes(0, 2, v);
                break;
            case 2:
                ChannelVolumes(3, 10, v);
                Sample(o->seChannel, kSeSample);
                break;
            case 3:
                ChannelVolumes(11, 18, v);
                Sample(o->voiceChannel, kVoiceSample);
                break;
            default:
                if (playSound) GSL_SystemSePlay(SE_MOVE);
                break;
        }
    } else {
        int32_t v;
        if (kind == ICON && step == 2)
            v = old == 0 ? 1 : 0;
        else
            v = item == 6 ? old - step : old + step;
        if (v < 0 || v > 1) return;
        config[byte] = uint8_t(v);
        if (playSound) GSL_SystemSePlay(SE_MOVE);
    }
    GSL_OptionDrawItems(0);
}
