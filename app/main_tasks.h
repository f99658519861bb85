// The main initialisation and the six fixed main tasks that give every
// frame its shape: input, begin-frame state, the current screen, drawing,
// presenting, and the tests' end-of-frame hook.
#pragma once

#include <cstdint>

#include "engine/core/engine_state.h"

// Puts back what one run of the program keeps outside its heaps and the
// tables its subsystems' start-up makes afresh, through each layer's own
// reset (Lib_RunStateReset, Lib_TextRunStateReset, GSL_UiRunStateReset,
// GSL_ScriptRunStateReset, GSL_StoryRunStateReset, GSL_ScreensRunStateReset,
// Extras_RunStateReset, Main_AppWindowReset). The program's start (WinMain)
// calls it after setting up the allocator, the save sizes and its exit code,
// before it opens the window or starts a thread; the screen harness's and the
// script environment's set-up and tear-down, the save environment's
// tear-down and ProgramRun's end call it too, so that whatever runs next in
// the process finds the state a fresh process has. State a new module keeps
// across runs is reset by its layer's reset (tools/check_run_state.py checks).
void Main_RunStateReset();
void Main_Init();
// Registers the screens (GSL_ScreensSet) and installs the host table of every
// layer that calls upward: ui, script, story and screens (Main_Init does it;
// tests that skip Main_Init call it themselves).
void Main_ScreenCallsSet();
// Teardown of what Main_Init made, on the game thread before the engine's
// own shutdown.
void Main_InitEnd();

// Test hook, null in the program: called on the game thread at the start of
// every frame's drawing, before it decides whether to draw.
extern void (*Main_DrawTestHook)();

int32_t Main_InputCB(void* work);
int32_t Main_DrawBCB(void* work);
int32_t Main_ModeCB(void* work);
int32_t Main_DrawCB(void* work);
int32_t Main_DrawACB(void* work);
int32_t Main_FlipCB(void* work);

// Tests only: called by Main_FlipCB on the game thread at the end of every
// frame (null in the program).
extern void (*MainTestHook)();
