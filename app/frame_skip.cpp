#include "app/frame_skip.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/render/camera.h"
#include "engine/render/draw_list.h"
#include "engine/render/sprite.h"
#include "engine/render/sprite_capture.h"
#include "engine/render/sprite_draw.h"
#include "engine/text/glyph_cache.h"
#include "engine/text/text_layout.h"
#include "engine/text/text_object.h"
#include "shaders/shader_set.h"

// process-wide: set by Main_FrameSkipInit
bool FrameSkipOn = true;
// process-wide: counts read as differences
FrameDamageCounts FrameDamageCounted{};

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

// A rectangle of the frame target, half-open; empty when x0 >= x1 or y0 >= y1.
struct Box {
    int32_t x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
    int64_t area() const { return empty() ? 0 : int64_t(x1 - x0) * (y1 - y0); }
};
constexpr Box kNothing{0, 0, 0, 0};
constexpr Box kFrame{0, 0, int32_t(kFrameWidth), int32_t(kFrameHeight)};

Box Join(const Box& a, const Box& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return Box{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

Box Meet(const Box& a, const Box& b) {
    const Box m{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
    return m.empty() ? kNothing : m;
}

// A clip rectangle as the scissor takes it (Lib_SetScissor's reading).
Box ClipBox(int32_t x, int32_t y, int32_t w, int32_t h) {
    x = std::max(x, 0);
    y = std::max(y, 0);
    if (w < 0) w = int32_t(kFrameWidth);
    if (h < 0) h = int32_t(kFrameHeight);
    return Meet(Box{x, y, x + w, y + h}, kFrame);
}

bool WholeClip(int32_t x, int32_t y, int32_t w, int32_t h) {
    return x == 0 && y == 0 && w == int32_t(kFrameWidth) && h == int32_t(kFrameHeight);
}

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

// Where a sprite's quad lands, from the same plan its callback draws with:
// its corners through the camera, out to whole pixels, cut to its clip
// rectangle. A pixel is drawn when its centre lies in the quad, so the pixels
// just outside have their centres at least half a pixel away from it: far
// more than the rasteriser's rounding. False when a corner lies at or behind
// the eye.
//
// `cover` gets the pixels the sprite paints opaque over whatever lies under
// them (empty when there are none): a plain or flat program at full alpha
// with the normal blend, over a texture whose every texel is opaque (or with
// the opaque switch on), its quad an upright rectangle. A pixel counts when
// its centre lies inside the quad by a margin well above the rasteriser's
// rounding, so that an edge rule never decides it.
bool SpriteBox(const SpriteRecord* r, Box* out, Box* cover) {
    *out = kNothing;
    *cover = kNothing;
    const CameraRecord* camera = r->camera ? r->camera : &ActiveCamera;
    SpriteDrawPlan plan;
    bool planned;
    if ((r->cameraMode & 6) && !r->camera) {
        // The callback draws with the switched camera: switch, plan, put back.
        const CameraRecord active = ActiveCamera, stash = CameraStash;
        Lib_CameraSwitch(0, 1, (r->cameraMode & 2) ? 0 : 1);
        planned = Lib_SpriteDrawPlan(r, &ActiveCamera, &plan);
        ActiveCamera = active;
        CameraStash = stash;
    } else {
        planned = Lib_SpriteDrawPlan(r, camera, &plan);
    }
    if (!planned) return true;  // draws nothing
    const float* m = plan.cb.m_wvp;
    // The sprite and palette programs shrink the unit quad to the texture
    // rectangle; the flat one draws it whole.
    const bool flat = plan.group == SHADER_GROUP_FLAT;
    const float ex = 0.5f * (flat ? 1.0f : plan.cb.m_crop[2] - plan.cb.m_crop[0]);
    const float ey = 0.5f * (flat ? 1.0f : plan.cb.m_crop[3] - plan.cb.m_crop[1]);
    double x0 = 1e30, y0 = 1e30, x1 = -1e30, y1 = -1e30;
    double fxs[4], fys[4];
    for (int corner = 0; corner < 4; ++corner) {
        const float px = (corner & 1) ? ex : -ex, py = (corner & 2) ? ey : -ey;
        // Row vector times the stored matrix, as the programs read it.
        const double cx = double(px) * m[0] + double(py) * m[4] + m[12];
        const double cy = double(px) * m[1] + double(py) * m[5] + m[13];
        const double cw = double(px) * m[3] + double(py) * m[7] + m[15];
        if (!(cw > 1e-6)) return false;
        const double fx = (cx / cw + 1.0) * 0.5 * kFrameWidth;
        const double fy = (1.0 - cy / cw) * 0.5 * kFrameHeight;  // row 0 the top
        if (!std::isfinite(fx) || !std::isfinite(fy)) return false;
        fxs[corner] = fx;
        fys[corner] = fy;
        x0 = std::min(x0, fx), x1 = std::max(x1, fx);
        y0 = std::min(y0, fy), y1 = std::max(y1, fy);
    }
    const double lo = -4.0 * kFrameWidth, hi = 4.0 * kFrameWidth;
    auto px = [&](double v, bool up) {
        v = std::clamp(v, lo, hi);
        return int32_t(up ? std::ceil(v) : std::floor(v));
    };
    Box b{px(x0, false), px(y0, false), px(x1, true), px(y1, true)};
    // ClipBox keeps to the frame.
    const Box clip = ClipBox(r->clipRect[0], r->clipRect[1], r->clipRect[2], r->clipRect[3]);
    *out = Meet(b, clip);

    // Corners 0 and 2 share the left edge, 0 and 1 the top one.
    constexpr double kSame = 1.0 / 1024, kMargin = 1.0 / 16;
    const bool upright = std::abs(fxs[0] - fxs[2]) < kSame && std::abs(fxs[1] - fxs[3]) < kSame &&
                         std::abs(fys[0] - fys[1]) < kSame && std::abs(fys[2] - fys[3]) < kSame;
    if (upright && Lib_SpritePaintsOpaque(r, plan)) {
        x0 = std::clamp(x0, lo, hi), x1 = std::clamp(x1, lo, hi);
        y0 = std::clamp(y0, lo, hi), y1 = std::clamp(y1, lo, hi);
        const Box inner{int32_t(std::ceil(x0 - 0.5 + kMargin)), int32_t(std::ceil(y0 - 0.5 + kMargin)),
                        int32_t(std::floor(x1 - 0.5 - kMargin)) + 1, int32_t(std::floor(y1 - 0.5 - kMargin)) + 1};
        *cover = Meet(inner, clip);
    }
    return true;
}

// A text keeps to its clip rectangle, and so do its ruby children; an
// unclipped one can land anywhere.
bool TextBox(const TextRecord* r, Box* out) {
    if (WholeClip(r->clipX, r->clipY, r->clipWidth, r->clipHeight)) return false;
    Box b = ClipBox(r->clipX, r->clipY, r->clipWidth, r->clipHeight);
    for (const TextRecord* child : r->ruby) {
        if (!child) break;
        if (WholeClip(child->clipX, child->clipY, child->clipWidth, child->clipHeight)) return false;
        b = Join(b, ClipBox(child->clipX, child->clipY, child->clipWidth, child->clipHeight));
    }
    *out = b;
    return true;
}

// One entry of the chain as a frame drew it: what from, and where.
struct EntryView {
    DrawCallback callback;
    uint64_t arg;
    uint64_t hash;
    Box box;
    Box cover;     // what it paints opaque (sprites)
    bool bounded;  // false: it may land anywhere
};

// One frame's reading of the whole chain.
struct FrameView {
    bool forced;          // a capture is due or a callback is unknown
    uint64_t globalHash;  // the cameras, the window target, the render generation
    int count;
    int32_t order[kDrawEntries];     // entry indices in drawing order
    EntryView entries[kDrawEntries];  // by entry index
};

void Take(FrameView& v) {
    v.forced = false;
    v.count = 0;
    int32_t at = kDrawHead;
    for (int steps = 0; at >= 0 && at < kDrawEntries && steps < kDrawEntries; ++steps) {
        const DrawEntry& e = DrawList.entries[at];
        Digest d;
        d.value(e.callback);
        d.value(e.arg);
        d.value(e.priority);
        d.value(e.subPriority);
        d.value(e.removeFlag);
        EntryView& ev = v.entries[at];
        ev.callback = e.callback;
        ev.arg = e.arg;
        ev.box = kNothing;
        ev.cover = kNothing;
        ev.bounded = true;
        if (e.callback == Lib_ClearCB) {
            d.value(ClearColour);
            ev.box = kFrame;
        } else if (e.callback == Lib_SpriteDrawCB) {
            if (const auto* r = reinterpret_cast<const SpriteRecord*>(e.arg)) {
                addSprite(d, r);
                ev.bounded = SpriteBox(r, &ev.box, &ev.cover);
            }
        } else if (e.callback == Lib_TextDrawCB) {
            if (const auto* r = reinterpret_cast<const TextRecord*>(e.arg)) {
                addText(d, r);
                ev.bounded = TextBox(r, &ev.box);
            }
        } else if (e.callback == Lib_CaptureCB) {
            // It draws nothing; when it reads the frame, the frame is whole.
            if (const auto* r = reinterpret_cast<const SpriteRecord*>(e.arg)) {
                d.value(*r);
                v.forced = v.forced || captureDue(r);
            }
        } else if (e.callback) {
            v.forced = true;  // a callback whose reads are unknown here
            ev.bounded = false;
        }
        ev.hash = d.result();
        v.order[v.count++] = at;
        at = e.next;
    }

    Digest g;
    g.value(ActiveCamera);
    g.value(CameraStash);
    if (const Renderer* r = *Lib_GetRenderer()) {
        g.value(r->clientWidth);
        g.value(r->clientHeight);
        g.value(r->windowFramebuffer);
        g.value(r->letterbox);
        g.value(r->camera);
        g.value(r->blend);
    }
    g.value(RenderGeneration.load(std::memory_order_acquire));
    g.value(TextRenderState.images);
    g.value(TextRenderState.sizes);
    g.value(TextRenderState.ready);
    g.value(TextRenderState.language.load(std::memory_order_relaxed));
    v.globalHash = g.result();
}

// The frame last presented and the one being decided; swapped on a present.
struct SkipState {
    FrameView views[2];
    FrameView* last = &views[0];
    FrameView* pending = &views[1];
    bool haveLast = false;
    bool havePending = false;
    uint64_t lastPresents = 0;
    int32_t lastAt[kDrawEntries];  // scratch: an entry's place in the last order
    uint8_t matched[kDrawEntries];
    uint8_t skip[kDrawEntries];    // this frame's DrawWalkFilter marks
};
// process-wide: made afresh by Main_FrameSkipInit
SkipState g_state;

// The union of the places of every entry that changed, came or went since
// the last present; false when the whole frame must be drawn.
bool Damage(const FrameView& last, const FrameView& now, Box* out) {
    SkipState& s = g_state;
    std::fill(std::begin(s.lastAt), std::end(s.lastAt), -1);
    std::memset(s.matched, 0, sizeof s.matched);
    for (int i = 0; i < last.count; ++i) s.lastAt[last.order[i]] = i;
    Box damage = kNothing;
    auto add = [&](const EntryView& e) {
        damage = Join(damage, e.box);
        return e.bounded;
    };
    int32_t previous = -1;
    for (int i = 0; i < now.count; ++i) {
        const int32_t index = now.order[i];
        const EntryView& n = now.entries[index];
        const int32_t at = s.lastAt[index];
        const EntryView& o = last.entries[index];
        if (at >= 0 && o.callback == n.callback && o.arg == n.arg) {
            s.matched[index] = 1;
            if (at < previous) return false;  // the order of what stayed changed
            previous = at;
            if (o.hash == n.hash) continue;
            if (!add(o)) return false;
        }
        if (!add(n)) return false;
    }
    for (int i = 0; i < last.count; ++i)
        if (!s.matched[last.order[i]] && !add(last.entries[last.order[i]])) return false;
    *out = damage;
    return true;
}

}  // namespace

void Main_FrameSkipInit() {
    const char* env = std::getenv("VN_FRAME_SKIP");
    FrameSkipOn = !(env && env[0] == '0' && env[1] == 0);
    g_state.haveLast = false;
    g_state.havePending = false;
    g_state.lastPresents = 0;
}

namespace {
FrameDamage Decide() {
    SkipState& s = g_state;
    const FrameDamage whole{true, true, ScissorRect{0, 0, int32_t(kFrameWidth), int32_t(kFrameHeight)}, nullptr};
    s.havePending = false;
    if (!FrameSkipOn) return whole;
    Take(*s.pending);
    s.havePending = true;
    const FrameView& now = *s.pending;
    if (now.forced || !s.haveLast || now.globalHash != s.last->globalHash) return whole;
    // Anything else that presented (a movie) left another picture on screen.
    if (FramePresentCount.load(std::memory_order_acquire) != s.lastPresents) return whole;
    Box damage;
    if (!Damage(*s.last, now, &damage)) return whole;
    if (damage.empty()) {
        // Nothing visible changed: the window keeps its picture, which is
        // also the picture of this reading.
        std::swap(s.last, s.pending);
        s.havePending = false;
        return FrameDamage{false, false, ScissorRect{0, 0, 0, 0}, nullptr};
    }
    if (damage.area() * 2 > kFrame.area()) return whole;
    // A sprite that lands wholly outside the damage draws nothing there; one
    // that lands nowhere sets no state either. A text outside it is passed
    // over only when it reads as it did: its drawing then changes nothing
    // (as in a frame kept whole), while a text that changed may be revealing.
    for (int i = 0; i < now.count; ++i) {
        const int32_t index = now.order[i];
        const EntryView& e = now.entries[index];
        if (!e.bounded || !Meet(e.box, damage).empty()) continue;
        if (e.callback == Lib_SpriteDrawCB) s.skip[index] = e.box.empty() ? 1 : 2;
        else if (e.callback == Lib_TextDrawCB && s.matched[index] && s.last->entries[index].hash == e.hash)
            s.skip[index] = 2;
    }
    return FrameDamage{true, false, ScissorRect{damage.x0, damage.y0, damage.x1 - damage.x0, damage.y1 - damage.y0},
                       s.skip};
}

// Marks what the last sprite that paints all of `area` opaque hides there:
// the clear and the sprites drawn before it, when nothing else is (a text or
// another callback may read or set what is drawn later, and a capture reads
// the frame as it stands). A hidden sprite still leaves its blend state.
void Hide(const FrameView& now, const Box& area) {
    SkipState& s = g_state;
    int top = now.count - 1;
    while (top >= 0) {
        const EntryView& e = now.entries[now.order[top]];
        if (e.callback == Lib_SpriteDrawCB && !e.cover.empty() && Meet(e.cover, area).area() == area.area()) break;
        --top;
    }
    for (int i = 0; i < top; ++i) {
        const DrawCallback c = now.entries[now.order[i]].callback;
        if (c != Lib_ClearCB && c != Lib_SpriteDrawCB) return;
    }
    for (int i = 0; i < top; ++i) {
        const EntryView& e = now.entries[now.order[i]];
        if (s.skip[now.order[i]]) continue;
        s.skip[now.order[i]] = (e.callback == Lib_ClearCB || e.box.empty()) ? 1 : 2;
        ++FrameDamageCounted.hidden;
    }
}
}  // namespace

FrameDamage Main_FrameDamage() {
    SkipState& s = g_state;
    std::memset(s.skip, 0, sizeof s.skip);
    FrameDamage d = Decide();
    if (d.due && s.havePending) {
        Hide(*s.pending, d.whole ? kFrame : Box{d.rect.x, d.rect.y, d.rect.x + d.rect.width, d.rect.y + d.rect.height});
        d.skip = s.skip;
    }
    FrameDamageCounts& c = FrameDamageCounted;
    if (!d.due) {
        ++c.kept;
    } else if (d.whole) {
        ++c.whole;
    } else {
        ++c.partial;
        c.damagePixels += uint64_t(d.rect.width) * uint64_t(d.rect.height);
    }
    return d;
}

void Main_FrameKeepState(DrawCallback callback, uint64_t arg) {
    if (callback == Lib_SpriteDrawCB) Lib_SpriteDrawKeepState(arg);
    else if (callback == Lib_TextDrawCB) Lib_TextDrawKeepState(arg);
}

void Main_FramePresented(bool drawn) {
    SkipState& s = g_state;
    s.haveLast = drawn && s.havePending;
    if (s.haveLast) std::swap(s.last, s.pending);
    s.lastPresents = FramePresentCount.load(std::memory_order_acquire);
    s.havePending = false;
}
