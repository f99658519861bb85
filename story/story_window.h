// What the story screen, its menus and the wipe use around the message
// window and the story state: showing, hiding and sliding the window, the
// play-mode icon, the operation guide, the held picture, the sound pause,
// two flag tests and the restore of a read line from the history. Each
// routine finds the story screen by its dispatcher and does nothing for a
// part that is missing.
#pragma once

#include <cstdint>

#include "script/game_blocks.h"

// Words of the story screen's context.
enum StoryWord : uint32_t {
    STORY_LOADING = 0,    // loading-indicator task, -1 none
    STORY_PENDING = 1,    // pending action, -1 none
    STORY_ACTION = 2,     // requested action, -1 none
    STORY_ICON = 3,       // IconCB task, -1 none
    STORY_LAST_MODE = 4,  // the play mode the icon last followed
    STORY_SHOW25 = 5,     // saved show states: layer 25, layer 29, text slot 1, layer 31, layer 40
    STORY_SHOW29 = 6,
    STORY_SHOW_TEXT1 = 7,
    STORY_SHOW31 = 8,
    STORY_SHOW40 = 9,
    STORY_FLAGS = 10,     // STORY_FLAG_*
    STORY_FRAMES = 11,    // frame counter of the action step
    STORY_DIALOG = 12,    // confirmation dialog, -1 none
    STORY_BADGE = 13,     // hide-mode badge sprite, -1 none
};
enum : uint32_t {
    STORY_FLAG_MENU = 1,     // system menu, last choice or reload
    STORY_FLAG_BACKLOG = 2,
    STORY_FLAG_HIDE = 4,
    STORY_FLAG_NO_HIDE = 8,  // blocks hiding; survives every reset of the flags
};

// Story-screen layer priority of the picture layers attached to the window.
inline constexpr int32_t kStoryWindowPicturePriority = 9699000;
inline constexpr int32_t kStoryCapturePriority = 9700001;

// The guide's task (-1 none) and the held picture's task (-1 none).
extern int32_t GuideTaskId;
extern int32_t StoryHoldPictTask;
// Forgets the window's slide (the frame's saved alphas, slid out, the paused
// sounds) and the picture shows a hold keeps.
void GSL_StoryWindowReset();

// True unless the game variable behind "[2003]" is set (a set one forbids
// the backlog).
bool GSL_StoryTestFlagRef();
// The story screen's flag word AND mask is non-zero; false without a story.
bool GSL_StoryFlagTest(uint8_t mask);

void GSL_StorySetWindowVisible(uint8_t window, uint8_t names, uint8_t frame, uint8_t texts);
// Moves every window part by dy: at once (frames 0) or over frames, with
// flags bit value 2 fading the frame and the texts out (dy <= 0, their
// alphas saved first) or back in (dy > 0).
void GSL_StorySlideWindow(int32_t dy, uint32_t frames, uint8_t flags);
// 1 pauses the story's effects and voices (a one-shot effect is stopped), 0
// resumes exactly what was paused.
void GSL_StoryReleaseChannels(uint8_t pause);

// The play-mode icon follows StoryPlayMode (call every frame and on changes).
void GSL_StoryIconUpdate();
void GSL_StoryIconClose();
int32_t IconCB(void* work);

// The operation guide: started once the story has faded in; it goes by
// itself after 300 frames, or at once when a mode starts.
void GSL_StoryGuideStart();
void GSL_StoryGuideDel();
int32_t Guide_CB(void* work);

// The held picture: a capture of the story in front of its picture layers
// while another screen runs on top.
void GSL_StoryHoldPictStart();
void StoryHoldPictDel();
int32_t StoryHoldPictCB(void* work);

// Restores read line n (n < 0: the last) of a game state (null: the live
// one) into it: variables, label count, chapter name, script name, start and
// restart offsets and read-line count. False, with nothing changed, when the
// history has no such line, its label is outside the label history, or the
// line or its label lies in no file of the script container (past its end:
// a place a load could not place).
bool GSL_StoryRestoreHistory(int32_t n, GameState* block);
// Whether read line n of the live game state can be restored (a jump back
// to it would take it).
bool GSL_StoryHistoryRestorable(int32_t n);
