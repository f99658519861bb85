// Sprite drawing: Lib_SpriteDrawCB, the draw-list callback of every sprite.
// It turns the record's geometry into one world × view × projection matrix
// for the shared unit quad, picks a program of the built-in set by texture
// kind and effects, binds textures, sampler and blend state, fills ConstBuf
// and draws. Game thread only, inside the frame's draw-list walk.
#pragma once

#include "engine/core/engine_state.h"  // FrameTimeCounter, the programs' time
#include "engine/render/sprite.h"
#include "shaders/const_buf.h"

// What the callback computes before it touches any GL state.
struct SpriteDrawPlan {
    const SpriteRecord* source;  // the texture's record: the sprite, or its reduced copy
    int group, variant;          // shader-table entry
    bool reduced;                // drawn from the reduced copy at four times the scale
    float world[16];             // before view and projection
    bool rewriteUv;              // palette image drawn whole: source->uvRect becomes uv
    float uv[4];
    ConstBuf cb;
};

// False when the sprite draws nothing: not in use and ready, not visible, or
// its second sprite (a slot 0..719) not in use and ready. `camera` is the one
// drawn with.
bool Lib_SpriteDrawPlan(const SpriteRecord* record, const CameraRecord* camera, SpriteDrawPlan* plan);
// The pivot correction of a padded texture (larger than its picture) drawn
// whole, added to the pivot offset; (0, 0) otherwise.
SpritePoint Lib_SpritePadPivot(const SpriteRecord* source);
// Whether every pixel the plan draws comes out opaque and replaces what lay
// under it: the plain program (alpha 1 from the opaque switch or a texture
// whose every texel is opaque) or the flat one, at full alpha, through a
// blend state that gives an opaque source back unchanged. Such a draw is
// made without blending, which gives the same pixels without reading the
// target.
bool Lib_SpritePaintsOpaque(const SpriteRecord* record, const SpriteDrawPlan& plan);
// The draw callback; the argument is the SpriteRecord's address.
void Lib_SpriteDrawCB(uint64_t record);
// What the callback leaves behind for the next entry when it draws: the
// blend state of a sprite with a valid index. For a walk that passes over a
// sprite outside the part of the frame it draws.
void Lib_SpriteDrawKeepState(uint64_t record);
