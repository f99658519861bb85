#include "script/message.h"

#include <cmath>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "engine/core/charcode.h"
#include "engine/input/input.h"
#include "script/args.h"
#include "script/flow.h"
#include "script/markup.h"
#include "script/msg_window.h"
#include "script/script_host.h"
#include "script/sound_cmds.h"
#include "script/staffroll.h"
#include "script/replay.h"
#include "script/syntax.h"
#include "script/wipe_fx.h"
#include "script/stage.h"
#include "script/script_report.h"
#include "ui/engine_services.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"

namespace {

constexpr int32_t kCmdVoice = 13;
constexpr int32_t kCmdVoiceWait = 17;
constexpr TextPos kMessagePos{110, -558, 0};
constexpr TextPos kNamePos{58, -491, 0};

ModeFunction Story() { return GSL_ScreenOf(SCREEN_STORY); }

TextRecord* StoryText(uint32_t slot) {
    if (!Story()) return nullptr;
    const int32_t h = GSL_WorkTextGet(Story(), slot);
    return h >= 0 && h < kTextSlots ? TextTable[h] : nullptr;
}

bool WindowShown() { return Story() && GSL_WorkLayerGet(Story(), kMessageWindowSlot) >= 0; }

// Bytes of text that fit in limit bytes without cutting a character.
size_t FitBytes(const char* text, size_t limit) {
    size_t n = 0;
    while (text[n]) {
        size_t len = Lib_CharLen(text + n);
        if (len == 0) len = 1;
        if (n + len > limit || std::memchr(text + n, 0, len)) break;
        n += len;
    }
    return n;
}

// Appends as much of src as fits, whole characters only.
void Append(char* dst, size_t size, const char* src) {
    const size_t n = std::strlen(dst);
    const size_t k = FitBytes(src, size - 1 - n);
    std::memcpy(dst + n, src, k);
    dst[n + k] = 0;
}

void ClearFlagged(StageRecord* stage) {
    if (!Story()) return;
    if (stage->nameClear) {
        GSL_WorkTextFree(Story(), kMessageNameText);
        stage->nameClear = 0;
    }
    if (stage->textClear) {
        for (uint32_t i = kMessageFirstText; i <= kMessageLastText; ++i) GSL_WorkTextFree(Story(), i);
        stage->textClear = 0;
    }
}

// Replay rows of the one-step commands: "0x200: nothing; else drop (this,
// any, 0), record". True when the handler is done.
bool ReplayDropRecord(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_SILENT) return true;
    if (mode != REPLAY_RUN) return false;
    GSL_ReplayDedupe(ctx, -1, 0, -1, 0);
    GSL_ReplayRecord(ctx);
    return true;
}

}  // namespace

bool GSL_FlagCheck(const CommandContext* ctx, uint32_t mask, int32_t id) {
    if (!ctx || !ctx->stage || !ctx->stage->messageInput) return false;
    if (InputButtons.pressed & mask) return true;
    if (!Story()) return false;
    int32_t rect[4] = {-1, 0, 0, 0};
    return GSL_ButtonCheck(Story(), id, rect, 0, 0, 0, -1) == 1;
}

int32_t GSL_VoiceSlot(int32_t slot) { return slot >= 0 && slot < 8 ? slot : 0; }

int32_t GSL_MessageSpeed(const StageRecord* stage) {
    if (GSL_IsSkip()) return 0;
    const uint8_t low = uint8_t(stage->textSpeed & 0xFF);
    const int32_t s = low == 0xFF ? int32_t(int8_t(SystemDataBlock.textSpeed)) : int32_t(int8_t(low));
    const int32_t n = 100 - s;
    return n > 0 ? (n + 3) / 4 : 0;
}

bool GSL_MessageAppend(char* text, size_t size, const char* joined) {
    if (!text || !joined || size == 0) return false;
    const size_t shown = std::strlen(text);
    if (std::strncmp(joined, text, shown) == 0) {
        const char* tail = joined + shown;
        const size_t n = FitBytes(tail, size - 1 - shown < size ? size - 1 - shown : 0);
        std::memcpy(text + shown, tail, n);
        text[shown + n] = 0;
        return true;
    }
    const size_t n = FitBytes(joined, size - 1);
    std::memmove(text, joined, n);
    text[n] = 0;
    return false;
}

int32_t GSL_ScrollSteps(float d, float cell) {
    if (!(cell > 0.0f) || !std::isfinite(d)) return d > 0.0f ? 1 : d < 0.0f ? -1 : 0;
    const float q = d / cell;
    if (q >= 2147483520.0f) return 2147483520;
    if (q <= -2147483520.0f) return -2147483520;
    int32_t steps = int32_t(q);
    if (steps == 0) steps = d > 0.0f ? 1 : d < 0.0f ? -1 : 0;
    return steps;
}

void GSL_CmdName(CommandContext* ctx) {
    if (ReplayDropRecord(ctx) || !ctx->stage) return;
    StageRecord* stage = ctx->stage;
    if (stage->nameClear && Story()) {
        GSL_WorkTextFree(Story(), kMessageNameText);
        stage->nameClear = 0;
    }
    char arg[kScriptWordSize], expanded[kScriptWordSize], name[kScriptWordSize];
    GSL_ArgGet(ctx, nullptr, 0, arg, sizeof arg);
    if (!arg[0] || !Story()) return;
    GSL_TextIdExpand(arg, expanded, sizeof expanded);
    GSL_NameCut(expanded, name, sizeof name);
    const int32_t h = GSL_WorkTextSet(Story(), kMessageNameText, -1, name);
    if (h < 0 || !TextTable[h]) return;
    TextRecord* r = TextTable[h];
    r->fontStyle = 0;
    if (WindowShown()) r->state |= TEXT_STATE_DRAWN;
    else r->state &= uint8_t(~TEXT_STATE_DRAWN);
    Lib_TextPrioSet(h, kMessagePriority);
    Lib_TextPosSet(h, &kNamePos);
    r->scaleX = r->scaleY = 0.45f;
    r->colour = stage->textColor;
    r->outline = SystemDataBlock.textEffectOff ? 0u : 0xFFFFFFFFu;
    r->drawMode = 1;
    Lib_TextRubyMove(r, nullptr);
}

void GSL_CmdText(CommandContext* ctx) {
    if (!ctx->stage) return;
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_RUN || mode == REPLAY_SILENT) {
        GSL_ReplayRecord(ctx);
        return;
    }
    StageRecord* stage = ctx->stage;
    ClearFlagged(stage);
    ctx->script->status |= SCRIPT_BUSY | SCRIPT_TEXT;

    // The line: argument 0 expanded, the others behind it with a space each.
    static char line[kScriptTagSize], word[kScriptWordSize], wrapped[kMarkupSize * 2];
    static char converted[kMarkupSize], joined[kMarkupSize * 2];
    GSL_ArgGet(ctx, nullptr, 0, word, sizeof word);
    GSL_TextIdExpand(word, line, sizeof line);
    for (int32_t i = 1; i < ctx->argCount; ++i) {
        GSL_ArgGet(ctx, nullptr, i, word, sizeof word);
        Append(line, sizeof line, " ");
        Append(line, sizeof line, word);
    }
    std::snprintf(wrapped, sizeof wrapped, "/pos:%d&%d//size:%.2f&%.2f/%s/pos:%d&%d/", 0,
                  int(stage->textOffsetY), double(stage->textSizeX), double(stage->textSizeY), line, 0,
                  int(-int64_t(stage->textOffsetY)));

    TextRecord* existing = StoryText(kMessageFirstText);
    if (!existing) {
        GSL_MarkupConvert(ctx, wrapped, converted, sizeof converted, true, -1.0f, 0.0f);
        const int32_t h = Story() ? GSL_WorkTextSet(Story(), kMessageFirstText, -1, converted) : -1;
        if (h >= 0 && TextTable[h]) {
            TextRecord* r = TextTable[h];
            r->fontStyle = 0;
            if (WindowShown()) r->state |= TEXT_STATE_DRAWN;
            else r->state &= uint8_t(~TEXT_STATE_DRAWN);
            r->scaleX = r->scaleY = 1.0f;
            r->speed = GSL_MessageSpeed(stage);
            r->fadeIn = 1;
            r->fadeLength = 1;
            Lib_TextPrioSet(h, kMessagePriority);
            Lib_TextPosSet(h, &kMessagePos);
            r->letterSpacing = 0;
            r->lineSpacing = 19;
            r->colour = stage->textColor;
            r->clipX = 0, r->clipY = 532, r->clipWidth = 1280, r->clipHeight = 174;
            r->outline = SystemDataBlock.textEffectOff ? 0u : 0xFFFFFFFFu;
            r->drawMode = 1;
            r->rubySpace = 0;
            Lib_TextRubyMove(r, nullptr);
        }
    } else {
        // The shown message and the new line are converted together; the
        // record's reveal goes on from where it stands.
        joined[0] = 0;
        Append(joined, sizeof joined, existing->text);
        Append(joined, sizeof joined, wrapped);
        GSL_MarkupConvert(ctx, joined, converted, sizeof converted, true, -1.0f, 0.0f);
        GSL_MessageAppend(existing->text, sizeof existing->text, converted);
        existing->finished = 0;
        const int32_t h = GSL_WorkTextGet(Story(), kMessageFirstText);
        Lib_TextPosSet(h, &kMessagePos);
        Lib_TextRubyMove(existing, nullptr);
    }
    stage->scrollFlags |= 1;
    ctx->step = CMD_STEP_LAST;
    ctx->script->status &= ~(SCRIPT_BUSY | SCRIPT_TEXT);
}

void GSL_CmdFont(CommandContext* ctx) {
    if (ReplayDropRecord(ctx) || !ctx->stage) return;
    StageRecord* stage = ctx->stage;
    // A first argument named otherwise ("color:...") is not the size.
    char first[kScriptWordSize];
    GSL_ScriptArgWord(ctx, 0, first, sizeof first);
    const char* colon = std::strchr(first, ':');
    const bool otherName = colon && !(colon - first == 4 && strncasecmp(first, "size", 4) == 0);
    const int32_t size = otherName && ctx->argCount > 0 ? GSL_ArgGetInt(ctx, "size", -1)
                                                          : GSL_ArgGetInt(ctx, "size", 0);
    float factor = 1.0f;
    uint32_t colour = 0xFF000000u;
    if (size != kScriptMissing) {
        factor = float(size) / 30.0f;
        if (factor > 1.5f) factor *= 0.92f;
        char hex[64];
        GSL_ArgGet(ctx, "color", 1, hex, sizeof hex);
        const uint32_t rgb = uint32_t(std::strtoul(hex, nullptr, 16)) & 0xFFFFFFu;
        if (rgb == 0) colour = stage->textColor;
        else colour = 0xFF000000u | ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | (rgb >> 16);
    }
    stage->textSizeX = stage->textSizeY = 0.5f * factor;
    stage->textColor = colour;
}

void GSL_CmdTextSpeed(CommandContext* ctx) {
    if (ReplayDropRecord(ctx) || !ctx->stage) return;
    const int32_t speed = GSL_ArgGetInt(ctx, "speed", 0);
    ctx->stage->textSpeed = speed == kScriptMissing ? -1 : speed < 0 ? speed : 100 - speed;
}

void GSL_CmdPosition(CommandContext* ctx) {
    if (ReplayDropRecord(ctx) || !ctx->stage) return;
    ctx->stage->textOffsetY = GSL_ArgGetInt(ctx, nullptr, 0);
}

void GSL_CmdVoiceStop(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_SILENT) return;
    if (mode == REPLAY_RUN) {
        GSL_ReplayDedupe(ctx, kCmdVoice, 0, 0, 0);
        GSL_ReplayDedupe(ctx, kCmdVoiceWait, 0, 0, 0);
        return;
    }
    if (!SystemDataBlock.voiceCut && !GSL_IsSkip()) return;
    const int32_t arg = GSL_ArgGetInt(ctx, nullptr, 0);
    const int64_t slot = int64_t(kVoiceFirstSound) + arg;
    const uint32_t s = slot >= 11 && slot <= 18 ? uint32_t(slot) : kVoiceFirstSound;
    if (Story()) GSL_WorkSoundStop(Story(), s, 0);
}

namespace {

struct WaitFields {
    int32_t id;
    int32_t countdown;
    int32_t direction;
    int32_t first, last;
    int32_t noWait;
};

constexpr uint32_t kConfirmButton = 1;
// Steps of the waits for the player: OPENING (the window opens) -> READY ->
// WAITING, then CMD_STEP_LAST.
enum : uint32_t { WAIT_READY = 1, WAIT_WAITING = 2, WAIT_OPENING = 50 };

void WaitRate() {
    Lib_FrameRateSet(60);
}

bool Revealing(const WaitFields* f) {
    for (int32_t i = f->first; i <= f->last; ++i)
        if (TextRecord* r = StoryText(uint32_t(i)); r && !r->finished) return true;
    return false;
}

void SetSpeeds(const WaitFields* f, int32_t speed, uint8_t fadeIn) {
    for (int32_t i = f->first; i <= f->last; ++i)
        if (TextRecord* r = StoryText(uint32_t(i))) {
            r->speed = speed;
            r->fadeIn = fadeIn;
            r->fadeLength = 1;
        }
}

int32_t Icon() { return Story() ? GSL_WorkLayerGet(Story(), kMessageIconSlot) : -1; }

bool AutoOn() { return (StoryPlayMode & PLAY_AUTO) && !GSL_StaffrollIsActive(); }

void WaitFinish(CommandContext* ctx, bool keywait) {
    WaitFields* f = GSL_CommandPrivate<WaitFields>(ctx);
    StageRecord* stage = ctx->stage;
    if (!keywait) {
        ctx->script->status &= ~SCRIPT_BUSY;
        return;
    }
    if (f->id >= 0 && f->id < int32_t(kReadTextIds))
        SystemDataBlock.readText[f->id >> 3] |= uint8_t(1u << (f->id & 7));
    stage->nameClear = 1;
    stage->textClear = 1;
    Lib_SpriteSetFlag(Icon(), 0);
    stage->textSizeX = stage->textSizeY = 0.5f;
    stage->textColor = 0xFF000000u;
    ctx->script->status &= ~(SCRIPT_BUSY | SCRIPT_PLAYER_WAIT);
    ctx->step = CMD_STEP_LAST;
}

void Wait(CommandContext* ctx, bool keywait) {
    WaitRate();
    StageRecord* stage = ctx->stage;
    if (!stage) return;
    WaitFields* f = GSL_CommandPrivate<WaitFields>(ctx);
    if (ctx->step == CMD_STEP_FIRST) {
        const ReplayMode mode = GSL_ReplayModeGet(ctx);
        if (!keywait && mode != REPLAY_NORMAL) return;
        if (mode == REPLAY_RUN || mode == REPLAY_SILENT) {
            const int32_t drops[] = {10, 11, 13, 14, 15, 20};
            const int32_t keep[] = {1, 1, 0, 0, 0, 0};
            for (size_t i = 0; i < std::size(drops); ++i) GSL_ReplayDedupe(ctx, drops[i], 0, -1, keep[i]);
            GSL_ReplayDedupe(ctx, -1, 0, -1, 0);
            GSL_ReplayRecord(ctx);
            return;
        }
        if (mode == REPLAY_ACTING) {
            stage->nameClear = stage->textClear = 1;
            Lib_SpriteSetFlag(Icon(), 0);
            stage->textSizeX = stage->textSizeY = 0.5f;
            stage->textColor = 0xFF000000u;
            return;
        }
        ctx->script->status |= SCRIPT_BUSY;
        f->first = int32_t(kMessageFirstText);
        f->last = int32_t(kMessageLastText);
        openSet(int32_t(GSL_WaitFrames(0)));
        ctx->step = WAIT_OPENING;
    }
    if (ctx->step == WAIT_OPENING) {
        if (GSL_WindowOpening()) return;
        ctx->step = WAIT_READY;
    }
    if (ctx->step == WAIT_READY) {
        if (keywait) {
            ctx->script->status |= SCRIPT_BUSY | SCRIPT_PLAYER_WAIT;
            GSL_HistoryPosGet(1, 1);
            f->id = GSL_ArgGetInt(ctx, nullptr, 0);
            const int32_t nw = GSL_ArgGetInt(ctx, nullptr, 1);
            f->noWait = nw == kScriptMissing ? 0 : nw;
        } else {
            const int32_t nw = GSL_ArgGetInt(ctx, nullptr, 0);
            f->noWait = nw == kScriptMissing ? 0 : nw;
        }
        Lib_SpriteSetColor(Icon(), 0x00FFFFFFu);
        const float a = float(int8_t(SystemDataBlock.autoSpeed));
        f->countdown = 31 - int32_t(((100.0f - a) / 100.0f) * -270.0f);
        f->direction = 1;
        ctx->step = WAIT_WAITING;
        if (!GSL_IsSkip()) return;
    }
    if (ctx->step == WAIT_WAITING) {
        if (GSL_ScriptHost().storyFlagTest(1 | 2 | 4)) return;  // a menu, the backlog or a hidden window
        const bool skip = GSL_IsSkip();
        const bool confirm = GSL_FlagCheck(ctx, kConfirmButton, BUTTON_WHOLE_SCREEN);
        const bool autoGo = AutoOn() && f->countdown < 1;
        if (!confirm && !skip && !autoGo && !f->noWait) {
            if (Revealing(f)) {
                if (StoryText(uint32_t(f->first)) && StoryText(uint32_t(f->first))->speed != 0)
                    SetSpeeds(f, GSL_MessageSpeed(stage), 1);
                return;
            }
            if (StoryText(uint32_t(f->first))) {
                const int32_t icon = Icon();
                if (icon >= 0 && icon < kSpriteSlots) {
                    float at[3];
                    GSL_TextPageMake(at, ctx);
                    SpriteTable[icon].posX = at[0], SpriteTable[icon].posY = at[1];
                    Lib_SpriteSetFlag(icon, 1);
                    uint32_t c = Lib_SpriteGetColor(icon);
                    c = f->direction > 0 ? c + 0x05000000u : c - 0x05000000u;
                    if (c == 0xFFFFFFFFu || c < 0x01000000u) f->direction = -f->direction;
                    Lib_SpriteSetColor(icon, c);
                }
            }
            if (AutoOn() && !GSL_ContextCheck()) --f->countdown;
            return;
        }
        const bool hold = f->noWait && !skip && !autoGo && !confirm;
        if (Revealing(f)) {
            if (!hold) SetSpeeds(f, 0, 0);
            return;
        }
        SetSpeeds(f, GSL_MessageSpeed(stage), 0);
        if ((SystemDataBlock.voiceCut || skip) && !hold && Story())
            for (uint32_t s = kVoiceFirstSound; s < kVoiceFirstSound + 8; ++s) GSL_WorkSoundStop(Story(), s, 30);
        stage->scrollFlags &= uint8_t(~1u);
        stage->scrollIdle = 1;
        if (keywait) ctx->script->status &= ~SCRIPT_PLAYER_WAIT;
        ctx->step = CMD_STEP_LAST;
        if (!skip) return;
    }
    if (ctx->step == CMD_STEP_LAST) WaitFinish(ctx, keywait);
}

}  // namespace

void GSL_CmdKeyWait(CommandContext* ctx) { Wait(ctx, true); }
void GSL_CmdLw(CommandContext* ctx) { Wait(ctx, false); }

void GSL_CmdVoice(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_SILENT) return;
    if (mode == REPLAY_RUN) {
        GSL_ReplayDedupe(ctx, -1, 0, 0, 0);
        GSL_ReplayRecord(ctx);
        return;
    }
    const int32_t n = GSL_VoiceSlot(GSL_ArgGetInt(ctx, nullptr, 0));
    char file[kScriptWordSize];
    GSL_ArgGet(ctx, "voice", 1, file, sizeof file);
    int32_t vol = GSL_ArgGetInt(ctx, "vol", 2);
    if (vol == kScriptMissing) vol = 100;
    const int32_t chara = GSL_CharaIndexFromName(file);
    const bool muted = chara >= 0 && chara < int32_t(sizeof SystemDataBlock.voiceMute) &&
                       SystemDataBlock.voiceMute[chara];
    if (!file[0] || muted || GSL_IsSkip() || !Story()) {
        ctx->script->status &= ~SCRIPT_BUSY;
        return;
    }
    const uint32_t slot = kVoiceFirstSound + uint32_t(n);
    const int32_t channel = int32_t(slot);
    if (Lib_SoundStateGet(channel) != 0) {
        // The voice before still sounds: stop it and play on a later frame.
        GSL_WorkSoundStop(Story(), slot, 0);
        ctx->script->status |= SCRIPT_BUSY;
        return;
    }
    char path[kScriptWordSize];
    GSL_SoundPathMake(file, "sound/voice/", ".ogg", path, sizeof path);
    GSL_ScriptResourceCheck(ctx, "voice", file, path);
    Lib_SoundVolumeSet(channel, float(SystemDataBlock.voiceVolume) * float(vol) / 100.0f);
    if (Lib_SoundRequest(SoundChannelTable[channel], path, 0, 0, nullptr)) {
        if (ScreenWork* w = GSL_WorkGet(Story())) {
            ScreenSoundSlot& s = w->sounds[slot];
            s.handle = channel;
            s.restoreKind = -1;
            s.extra = -1;
            GSL_WorkNameCopy(s.file, sizeof s.file, path);
        }
    }
    ctx->script->status &= ~SCRIPT_BUSY;
}

void GSL_CmdWinFrame(CommandContext* ctx) {
    if (ReplayDropRecord(ctx) || !ctx->stage) return;
    int32_t frame = GSL_ArgGetInt(ctx, nullptr, 0);
    if (frame == kScriptMissing) frame = 0;
    if (frame == ctx->stage->windowFrame) return;
    closeSet(0);
    ctx->stage->windowFrame = frame;
}

void GSL_CmdLayOpt(CommandContext* ctx) {
    char layer[kScriptWordSize], page[kScriptWordSize], visible[kScriptWordSize];
    GSL_ArgGet(ctx, nullptr, 0, layer, sizeof layer);
    const bool message = std::strcmp(layer, "message0") == 0;
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_SILENT) return;
    if (mode == REPLAY_RUN) {
        if (message) {
            GSL_ReplayDedupe(ctx, -1, 0, -1, 0);
            GSL_ReplayRecord(ctx);
        }
        return;
    }
    if (!message) return;
    GSL_ArgGet(ctx, nullptr, 1, page, sizeof page);
    GSL_ArgGet(ctx, nullptr, 2, visible, sizeof visible);
    const int32_t ms = std::strcmp(page, "fore") == 0 || SystemDataBlock.instantEffects ? 0 : 1000;
    const int32_t frames = int32_t(GSL_WaitFrames(ms));
    if (std::strcmp(visible, "false") == 0 || std::strcmp(visible, "FALSE") == 0) closeSet(frames);
    else openSet(frames);
}

void GSL_CmdAnalyze00(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (mode == REPLAY_RUN || mode == REPLAY_SILENT || !ctx->stage) return;
    WipeSet(ctx->stage, 0, "wipe_000");
}
