// Whether a frame must be drawn, and which part of it: the drawing pass
// compares what each entry of the draw chain is drawn from, and where it
// lands, with the frame last presented (see Main_DrawCB). Game thread.
#pragma once

#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"

// Off when the environment says VN_FRAME_SKIP=0: every frame is drawn whole.
extern bool FrameSkipOn;
// Reads VN_FRAME_SKIP and forgets the last present.
void Main_FrameSkipInit();

// What this frame must draw and present.
struct FrameDamage {
    bool due;          // anything at all; else the window keeps its picture
    bool whole;        // the whole frame; else only `rect`
    ScissorRect rect;  // frame-target rows, row 0 the top
    // The entries the walk can pass over (DrawWalkFilter): in a part, the
    // sprites wholly outside it and the unchanged texts outside it; in a
    // part or the whole, what a sprite drawn later paints over opaque. Null
    // when nothing may be passed over.
    const uint8_t* skip;
};
// Decides this frame from the draw chain as it stands.
FrameDamage Main_FrameDamage();
// The walk's `kept` step: what a passed-over sprite or text leaves behind.
void Main_FrameKeepState(DrawCallback callback, uint64_t arg);
// What the decisions came to since start-up, for the figures: frames kept,
// drawn in part (with the damaged pixels summed) and drawn whole, and the
// entries passed over under an opaque sprite.
struct FrameDamageCounts {
    uint64_t kept, partial, whole, damagePixels, hidden;
};
extern FrameDamageCounts FrameDamageCounted;
// After a present: remembers what the frame was drawn from when it was
// drawn, else forgets it, so that the next frame is drawn whole.
void Main_FramePresented(bool drawn);
