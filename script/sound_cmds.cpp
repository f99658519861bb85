#include "script/sound_cmds.h"

#include <cstdio>
#include <cstring>

#include "engine/core/charcode.h"
#include "engine/movie/movie.h"
#include "engine/render/sprite.h"
#include "engine/sound/sound.h"
#include "script/args.h"
#include "script/message.h"
#include "script/replay.h"
#include "script/script_host.h"
#include "script/stage.h"
#include "script/syntax.h"
#include "script/script_report.h"
#include "ui/engine_services.h"
#include "ui/pointer.h"
#include "ui/screen_slots.h"

namespace {

constexpr int32_t kCmdPlayBgm = 101;
constexpr int32_t kCmdPlaySe = 103;
constexpr int32_t kCmdWaitSe = 105;
constexpr uint32_t kConfirmButton = 1;
constexpr uint32_t kStepWaiting = 1;  // the commands' step that waits on a sound or the video
constexpr uint32_t kMusicFade = 30;
constexpr char kTitleMovie[] = "movie1.mpg";
constexpr char kTitleTrack[] = "sound/bgm/Quillmere.oggl";

struct SoundFields {
    int32_t slot;  // the slot being waited for
};

ModeFunction Story() { return GSL_ScreenOf(SCREEN_STORY); }

bool Recording(ReplayMode mode) { return mode == REPLAY_RUN || mode == REPLAY_SILENT; }

// "true"/"TRUE" loop for ever (-1); any other word plays once.
int32_t RepeatOf(const char* word) { return std::strcmp(word, "true") == 0 || std::strcmp(word, "TRUE") == 0 ? -1 : 0; }

int32_t LoopArg(const CommandContext* ctx, int32_t pos, const char* dflt) {
    char word[kScriptWordSize];
    GSL_ArgGet(ctx, nullptr, pos, word, sizeof word);
    return RepeatOf(word[0] ? word : dflt);
}

int32_t Percent(const CommandContext* ctx, const char* name, int32_t pos) {
    const int32_t v = GSL_ArgGetInt(ctx, name, pos);
    return v == kScriptMissing ? 100 : v;
}

float Clamp100(float v) { return v < 0.0f ? 0.0f : v > 100.0f ? 100.0f : v; }

// Fade frames of a stop: none while skipping or without window animation.
uint32_t StopFrames(uint32_t frames) { return GSL_IsSkip() || SystemDataBlock.instantEffects ? 0 : frames; }

// Still loading: in use with a state other than idle and held.
bool Loading(int32_t channel) {
    const int32_t s = Lib_SoundStateGet(channel);
    return s != SOUND_IDLE && s != SOUND_PAUSED;
}

int32_t CurrentMusic(const StageRecord* stage) {
    const int32_t m = stage ? stage->musicSlot : 0;
    return m >= 0 && m < int32_t(kMusicSlots) ? m : 0;
}

const char* SlotFile(uint32_t slot) {
    const ScreenWork* w = Story() ? GSL_WorkGet(Story()) : nullptr;
    return w && slot < uint32_t(kScreenSounds) ? w->sounds[slot].file : "";
}

// Length first, then the first and last bytes, then the whole name.
bool SameName(const char* a, const char* b) {
    const size_t n = std::strlen(a);
    if (n != std::strlen(b)) return false;
    if (n == 0) return true;
    if (a[0] != b[0] || a[n - 1] != b[n - 1]) return false;
    return std::memcmp(a, b, n) == 0;
}

void Done(CommandContext* ctx) {
    ctx->step = CMD_STEP_LAST;
    ctx->script->status &= ~SCRIPT_BUSY;
}

}  // namespace

void GSL_SoundPathMake(const char* name, const char* prefix, const char* ext, char* out, uint32_t outSize) {
    if (!out || outSize == 0) return;
    out[0] = 0;
    if (!name || !name[0]) return;
    char stem[256];
    Lib_PathGetName(name, stem, 1);
    for (size_t i = 0; stem[i]; ++i) {
        const uint8_t b = uint8_t(stem[i]);
        if (GSL_ScriptIsLead(b) && stem[i + 1]) {
            ++i;
            continue;
        }
        if (b >= 'A' && b <= 'Z') stem[i] = char(b - 'A' + 'a');
    }
    const int n = std::snprintf(out, outSize, "%s%s%s", prefix, stem, ext);
    if (n < 0 || uint32_t(n) >= outSize) out[0] = 0;
}

uint32_t GSL_EffectSlot(int32_t bank) { return kEffectFirstSlot + uint32_t(bank >= 0 && bank < 8 ? bank : 0); }

int32_t GSL_WorkSoundSetHeld(uint32_t slot, const char* file, int32_t extra, SoundRestore restore, int32_t repeat) {
    ScreenWork* w = Story() ? GSL_WorkGet(Story()) : nullptr;
    if (!w || slot >= uint32_t(kScreenSounds)) return -1;
    ScreenSoundSlot& s = w->sounds[slot];
    // The hold goes in with the request, so the worker never starts the
    // sound before the script lets it.
    const bool ok = Lib_SoundRequest(SoundChannelTable[slot], file, repeat, 0, nullptr, SOUND_PAUSE_REQUEST);
    s.handle = ok ? int32_t(slot) : -1;
    s.restoreKind = SOUND_NOT_REPLAYED;
    if (repeat < 0) {
        s.releaseFade = 0;
        s.restoreKind = restore;
    }
    s.extra = extra;
    GSL_WorkNameCopy(s.file, sizeof s.file, file);
    return s.handle;
}

void GSL_SoundRelease(int32_t channel) {
    if (channel < 0 || channel >= kSoundChannels) return;
    Lib_SoundPauseSet(SoundChannelTable[channel], false);
}

void GSL_CmdOpenVideo(CommandContext* ctx) {
    if (ctx->step == CMD_STEP_FIRST) {
        if (GSL_ReplayModeGet(ctx) != REPLAY_NORMAL) return;
        ctx->script->status |= SCRIPT_BUSY;
        char name[kScriptWordSize], path[kScriptWordSize];
        GSL_ArgGet(ctx, nullptr, 0, name, sizeof name);
        GSL_SoundPathMake(name, "movie/", ".avi", path, sizeof path);
        GSL_ScriptResourceCheck(ctx, "movie", name, path);
        const float vol = Clamp100(float(SystemDataBlock.systemVolume) * float(Percent(ctx, "vol", 1)) / 100.0f);
        MovieVolume.store(vol / 100.0f);
        if (std::strcmp(name, kTitleMovie) == 0) GSL_ScriptHost().accessFlagBgm(kTitleTrack, -1, 1);
        Lib_MoviePlay(path, kMoviePriority);
        const int32_t sprite = MovieSpriteSlot.load();
        if (sprite >= 0 && sprite < kSpriteSlots && (SpriteTable[sprite].flags & SPRITE_IN_USE)) {
            int32_t* c = SpriteTable[sprite].clipRect;
            c[0] = 0, c[1] = 0, c[2] = 1280, c[3] = 720;
        }
        ctx->step = kStepWaiting;
    }
    if (ctx->step == kStepWaiting) {
        if (MovieSpriteSlot.load() < 0 || MovieState.load() == MOVIE_IDLE) {
            Done(ctx);
            return;
        }
        // A movie that could not be opened leaves the player closed while
        // the state says playing: stop it rather than wait for a key.
        const bool unopened = MovieState.load() == MOVIE_PLAYING && Lib_MoviePlayerState() == PLAYER_CLOSED;
        if (unopened || GSL_FlagCheck(ctx, kConfirmButton, BUTTON_RECT)) MovieState.store(MOVIE_STOP_REQUESTED);
        return;
    }
    if (ctx->step == CMD_STEP_LAST) ctx->script->status &= ~SCRIPT_BUSY;
}

void GSL_CmdPlayBgm(CommandContext* ctx) {
    SoundFields* f = GSL_CommandPrivate<SoundFields>(ctx);
    if (ctx->step == CMD_STEP_FIRST) {
        if (Recording(GSL_ReplayModeGet(ctx))) {
            GSL_ReplayDedupe(ctx, -1, 0, -1, 0);
            GSL_ReplayRecord(ctx);
            return;
        }
        if (!Story()) return;
        StageRecord* stage = ctx->stage;
        ctx->script->status |= SCRIPT_BUSY;
        if (Lib_SoundStateGet(CurrentMusic(stage)) == SOUND_STARTING) return;  // again next frame

        char name[kScriptWordSize], path[kScriptWordSize];
        GSL_ArgGet(ctx, nullptr, 0, name, sizeof name);
        GSL_SoundPathMake(name, "sound/bgm/", ".oggl", path, sizeof path);
        GSL_ScriptResourceCheck(ctx, "music", name, path);
        const int32_t repeat = LoopArg(ctx, 1, "true");
        const float volume = Clamp100(float(SystemDataBlock.musicVolume) * float(Percent(ctx, nullptr, 2)) / 100.0f);

        int32_t free = -1, match = -1;
        for (uint32_t i = 0; i < kMusicSlots; ++i) {
            if (GSL_WorkSoundGet(Story(), i) < 0) {
                free = int32_t(i);
            } else if (match < 0 && SameName(SlotFile(i), path)) {
                match = int32_t(i);
            } else {
                GSL_WorkSoundStop(Story(), i, StopFrames(kMusicFade));
            }
        }
        int32_t slot = match;
        if (slot < 0) {
            slot = (CurrentMusic(stage) + 1) % int32_t(kMusicSlots);
            if (Lib_SoundStateGet(slot) != SOUND_IDLE && free >= 0) slot = free;
            GSL_WorkSoundSetHeld(uint32_t(slot), path, -1, SOUND_MUSIC, repeat);
        }
        stage->musicSlot = slot;
        Lib_SoundVolumeSet(slot, volume);
        GSL_ScriptHost().accessFlagBgm(path, -1, 1);
        if (match >= 0) {
            Done(ctx);
            return;
        }
        if (GSL_IsSkip()) {
            GSL_SoundRelease(slot);
            Done(ctx);
            return;
        }
        f->slot = slot;
        ctx->step = kStepWaiting;
    }
    if (ctx->step == kStepWaiting) {
        if (Loading(f->slot)) return;
        GSL_SoundRelease(f->slot);
        Done(ctx);
    }
}

void GSL_CmdStopBgm(CommandContext* ctx) {
    const ReplayMode mode = GSL_ReplayModeGet(ctx);
    if (Recording(mode)) {
        GSL_ReplayDedupe(ctx, kCmdPlayBgm, 0, -1, 0);
        return;
    }
    if (!Story()) return;
    const int32_t current = CurrentMusic(ctx->stage);
    if (Lib_SoundStateGet(current) == SOUND_STARTING) {
        ctx->script->status |= SCRIPT_BUSY;
        return;
    }
    ctx->script->status &= ~SCRIPT_BUSY;
    const int32_t ms = GSL_ArgGetInt(ctx, "time", 0);
    GSL_WorkSoundStop(Story(), uint32_t(current), StopFrames(GSL_WaitFrames(ms)));
}

void GSL_CmdPlaySe(CommandContext* ctx) {
    SoundFields* f = GSL_CommandPrivate<SoundFields>(ctx);
    if (ctx->step == CMD_STEP_FIRST) {
        const int32_t repeat = LoopArg(ctx, 2, "false");
        if (Recording(GSL_ReplayModeGet(ctx))) {
            GSL_ReplayDedupe(ctx, kCmdWaitSe, 0, 0, 0);
            GSL_ReplayDedupe(ctx, -1, 0, 0, 0);
            if (repeat < 0) GSL_ReplayRecord(ctx);
            return;
        }
        if (!Story()) return;
        ctx->script->status |= SCRIPT_BUSY;
        const uint32_t slot = GSL_EffectSlot(GSL_ArgGetInt(ctx, nullptr, 0));
        if (GSL_IsSkip() && repeat >= 0) {
            GSL_WorkSoundStop(Story(), slot, 0);
            Done(ctx);
            return;
        }
        char name[kScriptWordSize], path[kScriptWordSize];
        GSL_ArgGet(ctx, nullptr, 1, name, sizeof name);
        GSL_SoundPathMake(name, "sound/se/", ".ogg", path, sizeof path);
        GSL_ScriptResourceCheck(ctx, "sound", name, path);
        GSL_WorkSoundSetHeld(slot, path, -1, SOUND_EFFECT, repeat);
        Lib_SoundVolumeSet(int32_t(slot), float(SystemDataBlock.seVolume) * float(Percent(ctx, nullptr, 3)) / 100.0f);
        f->slot = int32_t(slot);
        ctx->step = kStepWaiting;
    }
    if (ctx->step == kStepWaiting) {
        if (Loading(f->slot)) return;
        GSL_SoundRelease(f->slot);
        Done(ctx);
    }
}

void GSL_CmdStopSe(CommandContext* ctx) {
    if (Recording(GSL_ReplayModeGet(ctx))) {
        GSL_ReplayDedupe(ctx, kCmdPlaySe, 0, 0, 0);
        GSL_ReplayDedupe(ctx, kCmdWaitSe, 0, 0, 0);
        return;
    }
    if (!Story()) return;
    const uint32_t slot = GSL_EffectSlot(GSL_ArgGetInt(ctx, "bank", 0));
    GSL_WorkSoundStop(Story(), slot, StopFrames(GSL_WaitFrames(GSL_ArgGetInt(ctx, "time", 1))));
}

void GSL_CmdWaitSe(CommandContext* ctx) {
    SoundFields* f = GSL_CommandPrivate<SoundFields>(ctx);
    if (ctx->step == CMD_STEP_FIRST) {
        if (Recording(GSL_ReplayModeGet(ctx))) {
            GSL_ReplayDedupe(ctx, -1, 0, 0, 0);
            GSL_ReplayRecord(ctx);
            return;
        }
        if (!Story()) return;
        ctx->script->status |= SCRIPT_BUSY;
        f->slot = int32_t(GSL_EffectSlot(GSL_ArgGetInt(ctx, nullptr, 0)));
        // A looping effect never ends by itself: only skipping gets past it.
        if (GSL_IsSkip()) GSL_WorkSoundStop(Story(), uint32_t(f->slot), 0);
        ctx->step = kStepWaiting;
    }
    if (ctx->step == kStepWaiting) {
        if (Lib_SoundStateGet(f->slot) != SOUND_IDLE) return;
        Done(ctx);
    }
}
