// The system screens' dispatchers and the option screen's item templates.
#pragma once

#include <cstdint>

// The title's dispatcher (screens/title.h).
void GSL_TitleModeCB();
void GSL_SaveModeCB();
void GSL_LoadModeCB();
void GSL_OptionModeCB();

struct OptionVec3 {
    float x, y, z;
};
struct OptionTextPos {
    int32_t x, y, z;
};
struct OptionScale {
    float x, y;
};

// One widget template of the option screen.
struct OptionTemplate {
    int32_t notSelectable;
    int32_t hitMask;
    int32_t spriteCount;  // 0 ends the table
    int32_t spriteRect[4];
    OptionVec3 spritePos[4];
    uint8_t spriteShown[4];
    int32_t spritePriority[4];  // -1: 190
    OptionVec3 cursorPos;
    int32_t textCount;  // -1 ends the table
    int32_t textIndex[4];
    OptionTextPos textPos[4];
    OptionScale textScale[4];
    uint8_t textShown[4];
    uint32_t textColour[4];
    uint32_t textEdge[4];
    uint8_t textPlacement[4];
};

// Copies template n into *out and returns out.
OptionTemplate* GSL_OptionTemplateGet(OptionTemplate* out, int32_t n);
