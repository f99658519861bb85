// What the story stage holds, for the script tests: pictures put into the
// story layers as the picture commands put them there, and a text dump of the
// story layers, texts, sound channels, the stage record and the four stage
// cameras, compared with a stored file as the picture references are.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

class StageEnv;

// Loads visual/adv/<picture>.ext into story layer slot page * 12 + layer
// through GSL_WorkLayerLoad, at script position (x, y) with the priority
// that `image` gives (10,000,000 - (layer + 1000), layer 10: 10,000,000).
// A back picture is hidden with stage camera 4, a fore picture shown with
// the camera a page swap gives. Runs frames until it is ready: the sprite,
// or -1.
int32_t PlaceLayer(StageEnv& env, int32_t page, int32_t layer, const char* picture, int32_t x, int32_t y);

// One line per live story layer slot, story text slot and sound channel in
// use, then the stage record's effect fields and the stage cameras' targets.
std::string StageTable();

// Compares StageTable() with tests/data/script/<name>.txt; a missing file (or
// VN_WRITE_REFERENCE) is written, and the check fails until it has been read.
::testing::AssertionResult MatchesTable(const char* name);
