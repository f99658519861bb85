#include "engine/render/camera.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

// process-wide (ActiveCamera, CameraStash): made afresh by Lib_GraphicsInit; the stash is kept
// for one drawing
CameraRecord ActiveCamera;
CameraRecord CameraStash;

namespace {

constexpr float kDefaultFov = std::bit_cast<float>(0x3F860A92u);     // pi / 3
constexpr float kDefaultAspect = std::bit_cast<float>(0x3FE38E39u);  // 16 / 9
constexpr float kDefaultNear = 1.0f;
constexpr float kDefaultFar = 100.0f;
constexpr float kDefaultDistance = 50.0f;

// The orthographic lens maps the default camera's view of z = 0 onto the screen.
constexpr float kOrthoScaleX = std::bit_cast<float>(0x3C9FA03Au);  // 2 / kCameraViewWidth
constexpr float kOrthoScaleY = std::bit_cast<float>(0x3D0DE3C1u);  // 2 / kCameraViewHeight

// Degenerate parameters are nudged to these so that no matrix is infinite.
constexpr float kMinHalfFovSine = 1e-4f;
constexpr float kMinAspect = 1e-4f;
constexpr float kMinDepthRange = 1e-3f;
// A look-at axis shorter than this has no usable direction.
constexpr float kTinyLengthSquared = 1e-24f;

float AngleToRadians(float degrees) {
    return float(double(degrees) * std::numbers::pi / 180.0);
}

// Keeps a divisor away from zero, with its sign (zero counts as negative).
float AwayFromZero(float value, float minimum) {
    if (std::fabs(value) >= minimum) return value;
    return value > 0.0f ? minimum : -minimum;
}

void Cross(float* out, const float* a, const float* b) {
    float x = a[1] * b[2] - a[2] * b[1];
    float y = a[2] * b[0] - a[0] * b[2];
    float z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

float LengthSquared(const float* v) { return v[0] * v[0] + v[1] * v[1] + v[2] * v[2]; }

void Normalise(float* v) {
    float lengthSquared = LengthSquared(v);
    if (lengthSquared < kTinyLengthSquared) return;
    float s = 1.0f / std::sqrt(lengthSquared);
    v[0] *= s;
    v[1] *= s;
    v[2] *= s;
}

void SetPerspectiveLens(CameraRecord* c) {
    float half = c->fov * 0.5f;
    float f = std::cos(half) / AwayFromZero(std::sin(half), kMinHalfFovSine);
    float invAspect = 1.0f / AwayFromZero(c->aspect, kMinAspect);
    float invDepth = 1.0f / AwayFromZero(c->nearPlane - c->farPlane, kMinDepthRange);
    float* m = c->lens;
    std::memset(m, 0, sizeof(c->lens));
    m[0] = invAspect * f;
    m[5] = f;
    m[10] = (c->nearPlane + c->farPlane) * invDepth;
    m[11] = -1.0f;
    m[14] = ((c->nearPlane + c->nearPlane) * c->farPlane) * invDepth;
}

void SetOrthographicLens(CameraRecord* c) {
    float invDepth = 1.0f / AwayFromZero(c->farPlane - c->nearPlane, kMinDepthRange);
    float* m = c->lens;
    std::memset(m, 0, sizeof(c->lens));
    m[0] = kOrthoScaleX;
    m[5] = kOrthoScaleY;
    m[10] = invDepth * -2.0f;
    m[12] = -0.0f;
    m[13] = -0.0f;
    m[14] = ((c->farPlane + c->nearPlane) * -1.0f) * invDepth;
    m[15] = 1.0f;
}

}  // namespace

void Lib_MatrixIdentity(float* out) {
    for (int i = 0; i < 16; i++) out[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

float* Lib_MatrixMul(float* out, const float* a, const float* b) {
    float result[16];
    for (int r = 0; r < 4; r++) {
        for (int c = 0; c < 4; c++) {
            result[r * 4 + c] = b[r * 4 + 0] * a[0 + c] + b[r * 4 + 1] * a[4 + c] +
                                b[r * 4 + 2] * a[8 + c] + b[r * 4 + 3] * a[12 + c];
        }
    }
    std::memcpy(out, result, sizeof(result));
    return out;
}

float* Lib_MatrixLookAt(float* out, const float* eye, const float* target, const float* up) {
    // z points from the target back to the eye; with eye on the target the
    // camera keeps looking down -z.
    float z[3] = {eye[0] - target[0], eye[1] - target[1], eye[2] - target[2]};
    if (LengthSquared(z) < kTinyLengthSquared) {
        z[0] = 0.0f;
        z[1] = 0.0f;
        z[2] = 1.0f;
    } else {
        Normalise(z);
    }
    float x[3];
    Cross(x, up, z);
    if (LengthSquared(x) < kTinyLengthSquared) {
        // Up is parallel to the view (or zero): take a world axis that is not.
        const float worldUp[3] = {0.0f, 1.0f, 0.0f};
        const float worldBack[3] = {0.0f, 0.0f, -1.0f};
        Cross(x, std::fabs(z[1]) < 0.99f ? worldUp : worldBack, z);
    }
    float v[3];
    Cross(v, z, x);
    Normalise(x);
    Normalise(v);
    const float m[16] = {x[0], v[0], z[0], 0.0f,  //
                         x[1], v[1], z[1], 0.0f,  //
                         x[2], v[2], z[2], 0.0f,  //
                         0.0f, 0.0f, 0.0f, 1.0f};
    Lib_MatrixMul(out, out, m);
    for (int c = 0; c < 4; c++) {
        out[12 + c] += (-eye[0]) * out[c] + (-eye[1]) * out[4 + c] + (-eye[2]) * out[8 + c];
    }
    return out;
}

void Lib_CameraUpdate(CameraRecord* camera) {
    CameraRecord* c = camera ? camera : &ActiveCamera;
    float p = AngleToRadians(c->pitch);
    float y = AngleToRadians(c->yaw);
    float r = AngleToRadians(c->roll);
    float sp = std::sin(p), cp = std::cos(p);
    float sy = std::sin(y), cy = std::cos(y);
    float sr = std::sin(r), cr = std::cos(r);
    c->eye[0] = c->target[0] + c->distance * (cp * sy);
    c->eye[1] = c->target[1] + c->distance * sp;
    c->eye[2] = c->target[2] + c->distance * (cp * cy);
    c->up[0] = sr * cy;
    c->up[1] = cr;
    c->up[2] = -(sr * sy);
    SetPerspectiveLens(c);
    Lib_MatrixIdentity(c->view);
    Lib_MatrixLookAt(c->view, c->eye, c->target, c->up);
}

void Lib_CameraReset(CameraRecord* camera) {
    *camera = CameraRecord{};
    camera->fov = kDefaultFov;
    camera->aspect = kDefaultAspect;
    camera->nearPlane = kDefaultNear;
    camera->farPlane = kDefaultFar;
    camera->up[1] = 1.0f;
    camera->distance = kDefaultDistance;
    Lib_CameraUpdate(camera);
}

void Lib_CameraSwitch(int32_t /*unused*/, uint8_t push, uint8_t ortho) {
    if (push) {
        CameraStash = ActiveCamera;
        Lib_CameraReset(&ActiveCamera);
        if (ortho) SetOrthographicLens(&ActiveCamera);
    } else {
        ActiveCamera = CameraStash;
        Lib_CameraUpdate(&ActiveCamera);
    }
}
