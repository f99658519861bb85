// Whether a frame must be drawn at all: the drawing pass keeps the last
// picture while nothing it reads has changed (see Main_DrawCB). Game thread.
#pragma once

#include <cstdint>

// Off when the environment says VN_FRAME_SKIP=0: every frame is drawn.
extern bool FrameSkipOn;
// Reads VN_FRAME_SKIP and forgets the last present.
void Main_FrameSkipInit();

// One digest of everything the drawing pass reads. `forced` when the pass
// reads something a digest cannot stand for: a draw callback it does not
// know, or a capture that is due.
struct FrameDigest {
    uint64_t hash;
    bool forced;
};
FrameDigest Main_FrameDigest();

// Decides this frame: true when it must be drawn and presented.
bool Main_FrameDue();
// After a present: remembers what the frame was drawn from when Main_FrameDue
// decided it (drawn), else forgets it, so that the next frame is drawn.
void Main_FramePresented(bool drawn);
