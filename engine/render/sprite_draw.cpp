#include "engine/render/sprite_draw.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <numbers>

#include "engine/render/renderer.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"


namespace {

// Degrees to radians in double precision, then to float.
float Rad(float degrees) { return float(double(degrees) * std::numbers::pi / 180.0); }

bool ReadyToDraw(const SpriteRecord* r) { return (r->flags & (SPRITE_IN_USE | SPRITE_READY)) == (SPRITE_IN_USE | SPRITE_READY); }

// A second sprite outside 0..719 counts as none.
const SpriteRecord* SecondSprite(const SpriteRecord* r) { return Lib_SpriteAt(r->secondSprite); }

bool FullScreen(const int32_t* clip) {
    return clip[0] == 0 && clip[1] == 0 && clip[2] == int32_t(kFrameWidth) && clip[3] == int32_t(kFrameHeight);
}

bool IsPlain(const SpriteRecord* r, float fx, float fy) {
    const float* ep = r->effectParams;
    for (int i : {1, 5, 6, 7, 8, 9, 13, 15})
        if (ep[i] != 0.0f) return false;
    return fx == 0.0f && fy == 0.0f && !r->maskImage && ep[2] == 1.0f && ep[3] == 1.0f && ep[4] == 1.0f;
}

int VariantOf(const SpriteRecord* r, int group, float fx, float fy) {
    if (group == SHADER_GROUP_FLAT) return 0;
    const float* ep = r->effectParams;
    const float mode = ep[1];
    if (mode == 1.0f) return SHADER_TONE_MONO;
    if (mode == 2.0f) return SHADER_TONE_SEPIA;
    if (mode == 3.0f || mode == 4.0f) return SHADER_TONE_NEGATIVE;
    int variant = SHADER_TONE_NONE;
    if (group != SHADER_GROUP_PALETTE && (ep[2] != 0.0f || ep[3] != 0.0f || ep[4] != 0.0f)) variant = SHADER_TONE_OFFSET;
    if (group == SHADER_GROUP_SPRITE && IsPlain(r, fx, fy)) variant = SHADER_PLAIN;
    return variant;
}

// GL reads a view of 0 as opaque black where it must read as transparent:
// a picture whose texture is missing draws nothing, and a mask switched on
// without its view hides the sprite rather than drawing it unmasked.
bool ViewsPresent(const SpriteRecord* r, const SpriteRecord* S, int group) {
    if (group == SHADER_GROUP_SPRITE) return S->textureView && (!r->maskImage || S->maskView);
    if (group == SHADER_GROUP_PALETTE) return S->textureView && S->paletteView;
    return true;
}

void SetRows(float* m, const float (&rows)[3][3]) {
    Lib_MatrixIdentity(m);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i * 4 + j] = rows[i][j];
}

// Blend-state index truncated toward zero; outside 0..9 the bound state stays.
void SetBlend(Renderer* renderer, const SpriteRecord* r) {
    const float blend = r->effectParams[0];
    if (blend > -1.0f && blend < float(kBlendStates)) Lib_BlendSet(renderer, int(blend));
}

}  // namespace

SpritePoint Lib_SpritePadPivot(const SpriteRecord* s) {
    SpritePoint p{0.0f, 0.0f};
    const int32_t W = s->textureWidth, H = s->textureHeight;
    if (s->srcRect[2] != W || s->srcRect[3] != H) return p;
    if (W != s->imageWidth && s->centerX != float(W / 2)) p.x = float(int64_t(s->imageWidth) - W) * 0.5f;
    if (H != s->imageHeight && s->centerY != float(H / 2)) p.y = float(int64_t(s->imageHeight) - H) * 0.5f;
    return p;
}

bool Lib_SpriteDrawPlan(const SpriteRecord* r, const CameraRecord* camera, SpriteDrawPlan* plan) {
    if (!ReadyToDraw(r) || !r->visible) return false;
    const SpriteRecord* second = SecondSprite(r);
    if (second && !ReadyToDraw(second)) return false;
    const float* ep = r->effectParams;
    constexpr float K = kWorldPerPixel;

    // Blur: the reduced copy, drawn four times larger.
    float fx = std::floor(ep[11]), fy = std::floor(ep[12]);
    const bool plainBlur = fx == 0.0f && fy == 0.0f;
    const SpriteRecord* S = r;
    float sx = r->scaleX, sy = r->scaleY;
    plan->reduced = false;
    if (r->reducedSprite && !plainBlur) {
        S = r->reducedSprite;
        sx *= 4.0f;
        sy *= 4.0f;
        fx = fx > 1.0f ? std::ceil(fx * 0.25f) : 0.0f;
        fy = fy > 1.0f ? std::ceil(fy * 0.25f) : 0.0f;
        plan->reduced = true;
    }
    plan->source = S;

    // Pivot offset, then its rotation about z, x and y.
    const int32_t W = S->textureWidth, H = S->textureHeight;
    float dx = float(W / 2) - S->centerX - S->offsetX;
    float dy = float(H / 2) - S->centerY - S->offsetY;
    const SpritePoint pad = Lib_SpritePadPivot(S);
    dx += pad.x;
    dy += pad.y;
    const float ax = dx * sx, ay = -(dy * sy);
    const float rz = Rad(r->rotZ), rx = Rad(r->rotX), ry = Rad(r->rotY);
    float rr = std::sqrt(ax * ax + ay * ay), t = std::atan2(ay, ax) + rz;
    const float x1 = rr * std::cos(t), y1 = rr * std::sin(t);
    rr = std::sqrt(y1 * y1);
    t = std::atan2(0.0f, y1) + rx;
    const float y2 = rr * std::cos(t), z2 = rr * std::sin(t);
    rr = std::sqrt(z2 * z2 + x1 * x1);
    t = std::atan2(z2, x1) - ry;
    const float x3 = rr * std::cos(t), z3 = rr * std::sin(t);

    int group = SHADER_GROUP_SPRITE;
    if (!S->data) group = SHADER_GROUP_FLAT;
    else if (second) group = SHADER_GROUP_SECOND;
    else if (S->flags & SPRITE_PALETTE) group = SHADER_GROUP_PALETTE;
    plan->group = group;
    plan->variant = VariantOf(r, group, std::floor(ep[11]), std::floor(ep[12]));

    // Display size and translation.
    int32_t wp = W, hp = H;
    if (group != SHADER_GROUP_FLAT) {
        if (S->drawWidth) wp = S->drawWidth;
        if (S->drawHeight) hp = S->drawHeight;
    }
    float X = float(int64_t(wp / 2) - W / 2) + x3 + r->shiftX;
    float Y = float(int64_t(H / 2) - hp / 2) + y2 + r->shiftY;
    const float Z = z3;
    std::memcpy(plan->uv, S->uvRect, sizeof plan->uv);
    plan->rewriteUv = false;
    if (group == SHADER_GROUP_PALETTE && S->srcRect[2] == W && S->srcRect[3] == H && W > 0 && H > 0) {
        // A padded palette texture shows only its picture.
        plan->rewriteUv = true;
        plan->uv[0] = plan->uv[1] = 0.0f;
        plan->uv[2] = float(S->imageWidth) / float(W);
        plan->uv[3] = float(S->imageHeight) / float(H);
        X -= float(int64_t(W) - S->imageWidth) * 0.5f * sx;
        Y += float(int64_t(H) - S->imageHeight) * 0.5f * sy;
    }
    const float T[3] = {(X + r->posX) * K, (Y + r->posY) * K, (Z + r->posZ) * K};

    // World = Scale × Rz × Rx × Ry × Translate, built from the right.
    float* M = plan->world;
    Lib_MatrixIdentity(M);
    M[12] = T[0];
    M[13] = T[1];
    M[14] = T[2];
    float R[16];
    float c = std::cos(ry), s = std::sin(ry);
    SetRows(R, {{c, 0.0f, -s}, {0.0f, 1.0f, 0.0f}, {s, 0.0f, c}});
    Lib_MatrixMul(M, M, R);
    c = std::cos(rx), s = std::sin(rx);
    SetRows(R, {{1.0f, 0.0f, 0.0f}, {0.0f, c, s}, {0.0f, -s, c}});
    Lib_MatrixMul(M, M, R);
    c = std::cos(rz), s = std::sin(rz);
    SetRows(R, {{c, s, 0.0f}, {-s, c, 0.0f}, {0.0f, 0.0f, 1.0f}});
    Lib_MatrixMul(M, M, R);
    const float scale[3] = {sx * K * float(wp), sy * K * float(hp), r->scaleZ * K * 0.0f};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) M[i * 4 + j] *= scale[i];

    ConstBuf& cb = plan->cb;
    std::memset(&cb, 0, sizeof cb);
    float viewed[16];
    Lib_MatrixMul(viewed, camera->view, M);
    Lib_MatrixMul(cb.m_wvp, camera->lens, viewed);
    std::memcpy(cb.m_crop, plan->uv, sizeof cb.m_crop);
    std::memcpy(cb.m_rgba, r->rgba, sizeof cb.m_rgba);
    const float color0[4] = {ep[7], ep[8], ep[9], ep[6]};
    std::memcpy(cb.m_color[0], color0, sizeof color0);
    cb.m_color[1][0] = ep[5];
    cb.m_color[1][1] = ep[1] == 4.0f ? 1.0f : 0.0f;
    const float work0[4] = {ep[2], ep[3], ep[4], ep[10]};
    std::memcpy(cb.m_work[0], work0, sizeof work0);
    if (group == SHADER_GROUP_PALETTE) {
        cb.m_work[2][0] = float(wp);
        cb.m_work[2][1] = float(hp);
    }
    const float work6[4] = {ep[13], ep[14], FrameTimeCounter, ep[15]};
    std::memcpy(cb.m_work[6], work6, sizeof work6);
    const float work7[4] = {float(W), float(H), fx, fy};
    std::memcpy(cb.m_work[7], work7, sizeof work7);
    std::memcpy(cb.m_work[8], ep + 16, 4 * sizeof(float));
    cb.m_work[9][0] = plan->reduced ? 1.0f : 0.0f;
    const float work21[4] = {r->maskParam[0], r->maskParam[1], r->maskImage ? 1.0f : 0.0f, 0.0f};
    std::memcpy(cb.m_work[21], work21, sizeof work21);
    const float work22[4] = {r->posX + r->shiftX, r->posY + r->shiftY, sx, sy};
    std::memcpy(cb.m_work[22], work22, sizeof work22);
    const float work23[4] = {rz, S->centerX, S->centerY, 0.0f};
    std::memcpy(cb.m_work[23], work23, sizeof work23);
    return true;
}

bool Lib_SpritePaintsOpaque(const SpriteRecord* r, const SpriteDrawPlan& plan) {
    if (plan.cb.m_rgba[3] != 1.0f) return false;
    if (plan.group == SHADER_GROUP_SPRITE) {
        if (plan.variant != SHADER_PLAIN || !plan.source->textureView) return false;
        if (!plan.source->opaque && plan.cb.m_work[0][3] != 1.0f) return false;
    } else if (plan.group != SHADER_GROUP_FLAT) {
        return false;
    }
    // An index outside the table keeps the state bound before: unknown here.
    const float index = r->effectParams[0];
    const Renderer* renderer = *Lib_GetRenderer();
    if (!renderer || !(index > -1.0f && index < float(kBlendStates))) return false;
    const BlendState& b = renderer->blend[int(index)];
    return b.srcColour == GL_SRC_ALPHA && b.dstColour == GL_ONE_MINUS_SRC_ALPHA && b.srcAlpha == GL_ONE &&
           b.dstAlpha == GL_ZERO;
}

void Lib_SpriteDrawCB(uint64_t arg) {
    SpriteRecord* r = reinterpret_cast<SpriteRecord*>(arg);
    if (!r || !ReadyToDraw(r) || !r->visible) return;
    if (const SpriteRecord* second = SecondSprite(r); second && !ReadyToDraw(second)) return;
    Renderer* renderer = *Lib_GetRenderer();
    if (!renderer) return;

    // The camera is chosen before the switch: a sprite without its own
    // camera draws with the switched one.
    const CameraRecord* camera = r->camera ? r->camera : &ActiveCamera;
    const bool clip = !FullScreen(r->clipRect);
    if (clip) {
        const ScissorRect rect{r->clipRect[0], r->clipRect[1], r->clipRect[2], r->clipRect[3]};
        Lib_SetScissor(&rect);
    }
    const bool switched = r->cameraMode & 6;
    if (r->cameraMode & 2)
        Lib_CameraSwitch(0, 1, 0);
    else if (r->cameraMode & 4)
        Lib_CameraSwitch(0, 1, 1);

    SpriteDrawPlan plan;
    if (Lib_SpriteDrawPlan(r, camera, &plan)) {
        SpriteRecord* S = const_cast<SpriteRecord*>(plan.source);
        if (plan.rewriteUv) std::memcpy(S->uvRect, plan.uv, sizeof S->uvRect);
        const bool bound = Lib_ShaderBind(plan.group, plan.variant);  // group 2 is empty: not drawn
        SetBlend(renderer, r);
        if (bound && ViewsPresent(r, S, plan.group)) {
            if (plan.group == SHADER_GROUP_SPRITE) {
                glActiveTexture(GL_TEXTURE0 + kUnitColorMap);
                glBindTexture(GL_TEXTURE_2D, S->textureView);
                glActiveTexture(GL_TEXTURE0 + kUnitColorMap15);
                glBindTexture(GL_TEXTURE_2D, r->maskImage ? S->maskView : S->textureView);
                Lib_SamplerBind0(S->sampler);
                Lib_SamplerBind15(S->sampler);
            } else if (plan.group == SHADER_GROUP_PALETTE) {
                glActiveTexture(GL_TEXTURE0 + kUnitColorMap);
                glBindTexture(GL_TEXTURE_2D, S->textureView);
                glActiveTexture(GL_TEXTURE0 + kUnitPalette);
                glBindTexture(GL_TEXTURE_2D, S->paletteView);
                Lib_SamplerBind0(S->sampler);
            }
            Lib_ConstBufUpload(renderer, plan.cb);
            const bool opaque = Lib_SpritePaintsOpaque(r, plan);
            if (opaque) glDisable(GL_BLEND);
            Lib_QuadDraw();
            if (opaque) glEnable(GL_BLEND);
        }
    }

    if (switched) Lib_CameraSwitch(0, 0, 0);
    if (clip) {
        const ScissorRect full{0, 0, int32_t(kFrameWidth), int32_t(kFrameHeight)};
        Lib_SetScissor(&full);
    }
}

void Lib_SpriteDrawKeepState(uint64_t arg) {
    const SpriteRecord* r = reinterpret_cast<const SpriteRecord*>(arg);
    if (Renderer* renderer = *Lib_GetRenderer(); renderer && r) SetBlend(renderer, r);
}
