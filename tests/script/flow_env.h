// The flow tests' additions to the script test environment: recording fakes
// of name, text, keywait, image, playbgm and stopbgm that follow the
// commands' replay rules (their keys and keep counts) and keep a small fake
// stage, and RestoreAt(n), the story screen's history restore of read line
// n followed by a new script task.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "script/args.h"
#include "script/flow.h"
#include "script/replay.h"
#include "script/vars.h"
#include "story/story_window.h"
#include "script_env.h"

namespace flow_env {

struct FakeStage {
    std::map<int32_t, std::string> layers;
    std::string music, name, text;
    bool operator==(const FakeStage&) const = default;
};
inline FakeStage g_stage;
// Set when a line ends: the next text clears the name plate, as the message
// window does.
inline bool g_nameClear = false;
// What the fakes presented, in order ("name N1", "image 0 bg" ...).
inline std::vector<std::string> g_shown;

inline std::string Arg(CommandContext* c, int32_t i) {
    char buf[kScriptWordSize];
    GSL_ArgGet(c, nullptr, i, buf, sizeof buf);
    return buf;
}
inline void Show(const std::string& what) { g_shown.push_back(what); }

inline void Name(CommandContext* c) {
    switch (GSL_ReplayModeGet(c)) {
        case REPLAY_SILENT: return;
        case REPLAY_RUN: GSL_ReplayDedupe(c, -1, 0, -1, 0); GSL_ReplayRecord(c); return;
        default: g_stage.name = Arg(c, 0); g_nameClear = false; Show("name " + g_stage.name);
    }
}
inline void Text(CommandContext* c) {
    const ReplayMode m = GSL_ReplayModeGet(c);
    if (m == REPLAY_RUN || m == REPLAY_SILENT) {
        GSL_ReplayRecord(c);
        return;
    }
    if (g_nameClear) g_stage.name.clear();
    g_nameClear = false;
    std::string all;
    for (int32_t i = 0; i < c->argCount; ++i) all += (i ? " " : "") + Arg(c, i);
    g_stage.text = all;
    Show("text " + all);
}
inline void Keywait(CommandContext* c) {
    const ReplayMode m = GSL_ReplayModeGet(c);
    if (m == REPLAY_RUN || m == REPLAY_SILENT) {
        for (int32_t cmd : {10, 11}) GSL_ReplayDedupe(c, cmd, 0, -1, 1);
        for (int32_t cmd : {13, 14, 15, 20}) GSL_ReplayDedupe(c, cmd, 0, -1, 0);
        GSL_ReplayDedupe(c, -1, 0, -1, 0);
        GSL_ReplayRecord(c);
        return;
    }
    if (m == REPLAY_ACTING) {
        g_nameClear = true;
        return;
    }
    // Waits one frame for the player.
    if (c->step == 0) {
        GSL_HistoryPosGet(1, 1);
        c->script->status |= SCRIPT_BUSY | SCRIPT_PLAYER_WAIT;
        c->step = CMD_STEP_LAST;
        return;
    }
    c->script->status &= ~(SCRIPT_BUSY | SCRIPT_PLAYER_WAIT);
    g_nameClear = true;
}
inline void Image(CommandContext* c) {
    const ReplayMode m = GSL_ReplayModeGet(c);
    if (m == REPLAY_RUN || m == REPLAY_SILENT) {
        for (int32_t cmd : {32, 35, 33}) GSL_ReplayDedupe(c, cmd, 0, 0, 0);
        GSL_ReplayRecord(c);
        return;
    }
    const int32_t layer = GSL_ArgGetInt(c, nullptr, 0);
    g_stage.layers[layer] = Arg(c, 1);
    Show("image " + std::to_string(layer) + " " + Arg(c, 1));
}
inline void PlayBgm(CommandContext* c) {
    const ReplayMode m = GSL_ReplayModeGet(c);
    if (m == REPLAY_RUN || m == REPLAY_SILENT) {
        GSL_ReplayDedupe(c, -1, 0, -1, 0);
        GSL_ReplayRecord(c);
        return;
    }
    g_stage.music = Arg(c, 0);
    Show("playbgm " + g_stage.music);
}
inline void StopBgm(CommandContext* c) {
    const ReplayMode m = GSL_ReplayModeGet(c);
    if (m == REPLAY_RUN || m == REPLAY_SILENT) {
        GSL_ReplayDedupe(c, 101, 0, -1, 0);
        return;
    }
    g_stage.music.clear();
    Show("stopbgm");
}

}  // namespace flow_env

class FlowEnv : public ScriptEnv {
protected:
    void SetUp() override {
        ScriptEnv::SetUp();
        flow_env::g_stage = {};
        flow_env::g_nameClear = false;
        flow_env::g_shown.clear();
        StoryPresent(true);
    }
    void TearDown() override {
        GSL_ScriptRandomSet(nullptr);
        ScriptEnv::TearDown();
    }
    void Fakes() {
        Handler(10, flow_env::Name);
        Handler(11, flow_env::Text);
        Handler(12, flow_env::Keywait);
        Handler(33, flow_env::Image);
        Handler(101, flow_env::PlayBgm);
        Handler(102, flow_env::StopBgm);
    }
    // Runs frames until n lines have been read (or the task is gone); false
    // when that takes over limit frames.
    bool RunToLines(uint32_t n, int limit = 200) {
        for (int i = 0; i < limit; ++i) {
            if (GameStateBlock.readLineCount >= n || !Alive()) return GameStateBlock.readLineCount >= n;
            Frame();
        }
        return false;
    }
    // The story screen's history restore of read line n (the last one when
    // n < 0) into the game state, then a new script task there; -1 when the
    // restore refuses the line.
    int32_t RestoreAt(int32_t n) {
        if (slot_ >= 0 && Alive()) GSL_ScriptTaskEnd(slot_);
        if (!GSL_StoryRestoreHistory(n, nullptr)) return -1;
        slot_ = GSL_ScriptTaskSet();
        story_->Work().tasks[0] = slot_;
        flow_env::g_stage = {};
        flow_env::g_nameClear = false;
        flow_env::g_shown.clear();
        return slot_;
    }
};
