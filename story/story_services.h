// What the system screens and the extras screens use of the story screen,
// the save store and the game state: one include, one name for each.
#pragma once

// The persistent blocks (SystemDataBlock, GameStateBlock), their resets, the
// play-time clock (GSL_GameStateInit, GSL_PlayTimeUpdate, PlayTimeBase),
// GSL_SystemDataReset, GSL_ConfigDefaults, GSL_WipePathMake and the checks
// of loaded blocks.
#include "story/game_state.h"
// SaveRequest, SaveInfo, Lib_SaveTaskSet / Result / Code / End,
// Lib_SaveSlotCheck, Lib_SaveDataAccess (ops 0 and 4), Lib_SaveFileName,
// SystemDataFresh, GSL_SystemSaveRequestBuild, and the read-only views of
// the title's save check: Lib_SaveImageGet, Lib_SaveDigestGet and
// Lib_SaveSizeGet.
#include "story/save_store.h"
// StoryAccessFlagGal, StoryAccessFlagBGM and the "[n]" reference evaluator.
#include "story/access_flags.h"
// The event-picture and music catalogues.
#include "story/catalogue.h"

// The quick data (QuickDataPresent, QuickDataCache, SaveQuickGDSet, ...).
#include "story/quick_save.h"
// GSL_ConfigApply, GSL_ConfigApplyVolume and GSL_ConfigFontWait.
#include "story/config.h"
