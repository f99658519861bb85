#include "app/frame_skip.h"

#include <cstdlib>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/render/camera.h"
#include "engine/render/draw_list.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_draw.h"
#include "engine/text/glyph_cache.h"
#include "engine/text/text_layout.h"
#include "engine/text/text_object.h"

bool FrameSkipOn = true;

namespace {

// A 64-bit running digest, eight bytes a step. Each step is a bijection of
// the state, so a change in any single word always changes the result.
class Digest {
public:
    void bytes(const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (; size >= 8; p += 8, size -= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            word(w);
        }
        if (size) {
            uint64_t w = 0;
            std::memcpy(&w, p, size);
            word(w ^ (uint64_t(size) << 56));
        }
    }
    template <class T>
    void value(const T& v) {
        bytes(&v, sizeof v);
    }
    void word(uint64_t w) { h_ = (((h_ << 23) | (h_ >> 41)) ^ w) * 0x9E3779B97F4A7C15ull; }
    uint64_t result() const { return h_; }

private:
    uint64_t h_ = 0xCBF29CE484222325ull;
};

void addCamera(Digest& d, const CameraRecord* camera) {
    if (camera) d.value(*camera);
}

// A sprite as Lib_SpriteDrawCB reads it: its record, the record of its second
// sprite and of its reduced copy, and its own camera. Scrolling reads the
// frame time, so such a sprite changes with every frame.
void addSprite(Digest& d, const SpriteRecord* r) {
    d.value(*r);
    if (const SpriteRecord* second = Lib_SpriteAt(r->secondSprite)) d.value(*second);
    if (r->reducedSprite) d.value(*r->reducedSprite);
    addCamera(d, r->camera);
    if (r->effectParams[13] != 0.0f) d.value(FrameTimeCounter);
}

// A text as Lib_TextDrawCB reads it; the reveal and the fade-in are kept in
// the record, so they show up here as they step.
void addText(Digest& d, const TextRecord* r) {
    d.value(*r);
    for (const TextRecord* child : r->ruby) {
        if (!child) break;
        d.value(*child);
        addCamera(d, child->camera);
    }
    addCamera(d, r->camera);
}

bool captureDue(const SpriteRecord* r) {
    if (!(r->flags & SPRITE_IN_USE)) return false;
    const int64_t interval = r->captureInterval > 0 ? r->captureInterval : 0;
    return interval == 0 || int64_t(r->captureCounter) % interval == 0;
}

// The digest of the last present, and what this frame decided.
struct SkipState {
    bool haveLast = false;
    uint64_t lastHash = 0;
    uint64_t lastPresents = 0;
    bool havePending = false;
    uint64_t pendingHash = 0;
};
SkipState g_state;

}  // namespace

void Main_FrameSkipInit() {
    const char* env = std::getenv("VN_FRAME_SKIP");
    FrameSkipOn = !(env && env[0] == '0' && env[1] == 0);
    g_state = SkipState{};
}

FrameDigest Main_FrameDigest() {
    Digest d;
    bool forced = false;

    // The chain in drawing order, and what each known callback reads.
    int32_t at = kDrawHead;
    for (int steps = 0; at >= 0 && at < kDrawEntries && steps < kDrawEntries; ++steps) {
        const DrawEntry& e = DrawList.entries[at];
        d.value(at);
        d.value(e.callback);
        d.value(e.arg);
        d.value(e.priority);
        d.value(e.subPriority);
        d.value(e.removeFlag);
        if (e.callback == Lib_ClearCB) {
            d.value(ClearColour);
        } else if (e.callback == Lib_SpriteDrawCB) {
            if (e.arg) addSprite(d, reinterpret_cast<const SpriteRecord*>(e.arg));
        } else if (e.callback == Lib_TextDrawCB) {
            if (e.arg) addText(d, reinterpret_cast<const TextRecord*>(e.arg));
        } else if (e.callback == Lib_CaptureCB) {
            const auto* r = reinterpret_cast<const SpriteRecord*>(e.arg);
            if (r) {
                d.value(*r);
                forced = forced || captureDue(r);
            }
        } else if (e.callback) {
            forced = true;  // a callback whose reads are unknown here
        }
        at = e.next;
    }
    d.value(DrawList.count);

    // The cameras, the window target and what changes outside the tables.
    d.value(ActiveCamera);
    d.value(CameraStash);
    if (const Renderer* r = *Lib_GetRenderer()) {
        d.value(r->clientWidth);
        d.value(r->clientHeight);
        d.value(r->windowFramebuffer);
        d.value(r->letterbox);
        d.value(r->camera);
        d.value(r->blend);
    }
    d.value(RenderGeneration.load(std::memory_order_acquire));
    d.value(TextRenderState.images);
    d.value(TextRenderState.sizes);
    d.value(TextRenderState.ready);
    d.value(TextRenderState.language.load(std::memory_order_relaxed));
    return FrameDigest{d.result(), forced};
}

bool Main_FrameDue() {
    g_state.havePending = false;
    if (!FrameSkipOn) return true;
    const FrameDigest now = Main_FrameDigest();
    g_state.havePending = true;
    g_state.pendingHash = now.hash;
    if (now.forced || !g_state.haveLast) return true;
    // Anything else that presented (a movie) left another picture on screen.
    if (FramePresentCount.load(std::memory_order_acquire) != g_state.lastPresents) return true;
    return now.hash != g_state.lastHash;
}

void Main_FramePresented(bool drawn) {
    g_state.haveLast = drawn && g_state.havePending;
    g_state.lastHash = g_state.pendingHash;
    g_state.lastPresents = FramePresentCount.load(std::memory_order_acquire);
    g_state.havePending = false;
}
