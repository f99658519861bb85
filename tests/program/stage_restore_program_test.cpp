// The whole program on the sample, played through both endings: at the
// first line after each label (and at the first choice) the stage is noted,
// a quick save made and loaded at once, and the stage noted again when the
// line is back: each layer's picture and place, the window's frame and the
// music must be those of the save. The reader also lets every `wait` run
// on its own: one that still holds after three seconds waits for a confirm
// and must show the key-wait icon.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/render/sprite.h"
#include "script/game_blocks.h"
#include "script/script_host.h"
#include "script/script_task.h"
#include "story/game_state.h"
#include "story/quick_save.h"
#include "story/story_play.h"
#include "story/sys_menu.h"
#include "story/system_save.h"
#include "tests/program/program_title.h"
#include "tests/ui/screen_harness.h"
#include "ui/pointer.h"

namespace {
using namespace program_title;

constexpr uint8_t kKeyZ = 0x2C, kKeyC = 0x2E, kKeyUp = 0xC8, kKeyDown = 0xD0;
constexpr uint32_t kSkipBit = 0x80;
constexpr int32_t kWaitCommand = 132;
constexpr int kLongWait = 180;  // frames

bool ChoiceOpen() { return StoryWaiting() && (MenuActiveFlag & 1u); }
bool SystemSaveAsking() {
    const ScreenWork* w = GSL_WorkGet(GSL_SystemSaveModeCB);
    return GSL_ModeTop() == GSL_SystemSaveModeCB && w && w->step == SYSTEM_SAVE_STEP_WRITE && w->subState == SYSTEM_SAVE_WRITE_ANSWER;
}
int32_t MenuCursor() {
    const ScreenWork* m = GSL_WorkGet(GSL_SysMenuModeCB);
    const SelectInputWork* in = m && m->step == MENU_STEP_RUN ? GSL_InputWork(GSL_SysMenuHead(m)->input) : nullptr;
    return GSL_ModeTop() == GSL_SysMenuModeCB && in ? in->cursor : -1;
}

// "file:line" of the story script's current tag.
std::string Where() {
    const ScriptState* s = GSL_ScriptStoryState();
    const char* file = GSL_ScriptTaskFileName(GSL_WorkTaskGet(GSL_StoryModeCB));
    if (!s || !s->text || !file) return "?";
    int line = 1;
    for (uint32_t i = 0; i < s->readOffset && i < s->size; ++i) line += s->text[i] == '\n';
    return std::string(file) + ":" + std::to_string(line);
}

// The fore page's pictures and places, the window's frame, the music.
std::string Stage() {
    const ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
    if (!w) return "no story";
    std::string out;
    char buf[320];
    for (int i = 0; i < 12; ++i) {
        const int32_t h = w->layers[i].handle;
        if (!Lib_SpriteIsLive(h) || !Lib_SpriteAt(h)->visible) continue;
        const SpriteRecord* s = Lib_SpriteAt(h);
        std::snprintf(buf, sizeof buf, "layer %d %s at %.0f,%.0f; ", i, s->fileName, double(s->posX), double(s->posY));
        out += buf;
    }
    const int32_t win = w->layers[25].handle;
    out += Lib_SpriteIsLive(win) ? "window frame " + std::to_string(Lib_SpriteAt(win)->srcRect[1]) + "; " : "no window; ";
    for (int i = 0; i < 3; ++i)
        if (w->sounds[i].handle >= 0) out += std::string("music ") + w->sounds[i].file + "; ";
    return out;
}

// The reader and the saves: one call a frame (Frame), the input on the
// frames Drive gives it (Input).
struct Player {
    enum Phase { READ, SETTLE, MENU_SAVE, SAVING, MENU_LOAD, LOADING, SETTLE_LOADED } phase = READ;
    std::vector<int32_t> route;  // the option of each choice, in order
    int32_t choices = 0, moves = -1;
    bool inChoice = false, skip = false, pressed = false;
    std::set<std::string> saved;  // keys of the labels saved at
    std::string key, where, before, last;
    std::vector<std::string> differences, silentWaits;
    uint32_t lines = 0;
    int still = 0, waitFrames = 0;

    // The newest label and the one before it: an ending is its own case
    // after each route.
    static std::string LabelKey() {
        const GameState& g = GameStateBlock;
        std::string k = ChoiceOpen() ? "choice " : "";
        for (uint32_t i = g.labelCount >= 2 ? g.labelCount - 2 : 0; i < g.labelCount; ++i)
            k += std::to_string(g.labelPos[i]) + " ";
        return k;
    }
    // Holds once the stage has not changed for 10 frames.
    bool Settled() {
        const std::string now = Stage();
        still = now == last ? still + 1 : 0;
        last = now;
        return still >= 10;
    }
    void Frame() {
        const ScriptState* s = GSL_ScriptStoryState();
        const bool waiting = GSL_ModeTop() == GSL_StoryModeCB && s && s->command == kWaitCommand && (s->status & SCRIPT_BUSY);
        waitFrames = waiting ? waitFrames + 1 : 0;
        if (waitFrames == kLongWait) {
            const ScreenWork* w = GSL_WorkGet(GSL_StoryModeCB);
            const int32_t icon = w ? w->layers[29].handle : -1;
            if (!(Lib_SpriteIsLive(icon) && Lib_SpriteAt(icon)->visible)) silentWaits.push_back(Where());
        }
        switch (phase) {
        case READ:
            if (!StoryWaiting() || saved.count(LabelKey()) || (ChoiceOpen() && choices > 0)) return;
            key = LabelKey(), where = Where(), still = 0, phase = SETTLE;
            return;
        case SETTLE:
            if (!Settled()) return;
            before = last, lines = GameStateBlock.readLineCount, pressed = false, phase = MENU_SAVE;
            return;
        case MENU_SAVE:
            if (pressed) pressed = false, phase = SAVING;
            return;
        case SAVING:
            if (GSL_ModeTop() == GSL_StoryModeCB && SaveQuickGDGuard == -1 && StoryWaiting()) phase = MENU_LOAD;
            return;
        case MENU_LOAD:
            if (StoryExitRequest == STORY_EXIT_QUICK_LOAD) phase = LOADING;
            return;
        case LOADING:
            if (StoryExitRequest != STORY_EXIT_NONE || !StoryWaiting() || GameStateBlock.readLineCount != lines) return;
            still = 0, phase = SETTLE_LOADED;
            return;
        case SETTLE_LOADED:
            if (!Settled()) return;
            if (last != before) differences.push_back(where + ": saved {" + before + "} loaded {" + last + "}");
            saved.insert(key);
            phase = READ;
            return;
        }
    }
    void Input(PlatInputState& in) {
        if (phase == MENU_SAVE || phase == MENU_LOAD) {
            const int32_t want = phase == MENU_SAVE ? MENU_BUTTON_QUICK_SAVE : MENU_BUTTON_QUICK_LOAD;
            const int32_t at = MenuCursor();
            if (at < 0) in.keys[kKeyC] = GSL_ModeTop() == GSL_StoryModeCB ? kPlatDown : 0;
            else if (at != want) in.keys[at < want ? kKeyDown : kKeyUp] = kPlatDown;
            else if (want == MENU_BUTTON_QUICK_SAVE || ShowQuickGDState() == QUICK_PANEL_SHOWN) in.keys[kKeyZ] = kPlatDown, pressed = true;
        } else if (phase == SAVING || phase == LOADING) {
            if (GSL_ModeTop() == GSL_SysMenuModeCB) in.keys[kKeyZ] = kPlatDown;  // cuts the menu's voice
        } else if (phase == READ) {
            Read(in);
        }
    }
    void Read(PlatInputState& in) {
        if (SystemSaveAsking()) {
            in.keys[kKeyZ] = kPlatDown;
            return;
        }
        if (TitleMenuUp()) {  // the next play-through: a new game, skipped to the choice
            const SelectInputWork* t = TitleInput();
            if (t && t->cursor != TITLE_ITEM_NEW_GAME) Press(in, BUTTON_DOWN);
            else Press(in, BUTTON_DECIDE);
            skip = true;
            return;
        }
        if (skip && StoryWaiting() && StoryPlayMode != PLAY_SKIP) {
            Press(in, kSkipBit);
            skip = false;
            return;
        }
        if (waitFrames > 0 && waitFrames <= kLongWait) return;  // a wait runs its course
        if (!ChoiceOpen()) {
            if (inChoice) ++choices;
            inChoice = false, moves = -1;
            in.keys[kKeyZ] = kPlatDown;
            return;
        }
        inChoice = true;
        const int32_t want = size_t(choices) < route.size() ? route[size_t(choices)] : 0;
        if (moves < 0) in.keys[kKeyUp] = kPlatDown, moves = 0;
        else if (moves < want) in.keys[kKeyDown] = kPlatDown, ++moves;
        else in.keys[kKeyZ] = kPlatDown;
    }
};

TEST(StageRestoreProgram, EveryLabelsFirstLineLoadsToTheStageItWasSavedWith) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Player player;
    player.route = {0, 0, 0, 1};  // the forest and the hill, then the forest and the library
    // Each ending's first line saved and loaded: the hill's, then the library's.
    std::string hill;
    auto ended = [&](bool second) {
        return [&, second] {
            player.Frame();
            const std::string key = Player::LabelKey();
            if (!(player.phase == Player::READ && StoryWaiting() && player.saved.count(key) &&
                  Where().rfind("ending.txt", 0) == 0 && (!second || key != hill)))
                return false;
            hill = key;
            return true;
        };
    };
    auto read = [&](PlatInputState& in) { player.Input(in); };
    std::vector<ProgramRun::Step> steps;
    steps.push_back(Drive("the hill's ending", ended(false), read, 30000));
    steps.push_back(Drive("the library's ending", ended(true), read, 30000));
    PrependNewGame(steps);
    ProgramRun run;
    EXPECT_EQ(run.Run(steps), 0);
    EXPECT_EQ(run.failed, "");
    EXPECT_EQ(player.differences, std::vector<std::string>{});
    EXPECT_EQ(player.silentWaits, std::vector<std::string>{});
    EXPECT_GE(player.saved.size(), 14u) << "labels saved at";
}
}  // namespace
