#include "engine/render/camera.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

void ExpectNear3(const float* v, double x, double y, double z, double tolerance = 1e-5) {
    EXPECT_NEAR(v[0], x, tolerance);
    EXPECT_NEAR(v[1], y, tolerance);
    EXPECT_NEAR(v[2], z, tolerance);
}

// A virtual-screen pixel at z = 0 through world (identity), view and lens,
// combined in the order the drawing code uses; gives device x, y and w.
std::array<float, 3> ProjectPixel(const CameraRecord& c, float px, float py) {
    float world[16], t[16], wvp[16];
    Lib_MatrixIdentity(world);
    Lib_MatrixMul(wvp, c.lens, Lib_MatrixMul(t, c.view, world));
    float x = px * kWorldPerPixel, y = py * kWorldPerPixel, w = x * wvp[3] + y * wvp[7] + wvp[15];
    return {(x * wvp[0] + y * wvp[4] + wvp[12]) / w, (x * wvp[1] + y * wvp[5] + wvp[13]) / w, w};
}

void ExpectFiniteOrthonormalView(const float* m) {
    for (int i = 0; i < 16; i++) ASSERT_TRUE(std::isfinite(m[i])) << "element " << i;
    for (int a = 0; a < 3; a++) {
        for (int b = 0; b < 3; b++) {
            float dot = m[a * 4] * m[b * 4] + m[a * 4 + 1] * m[b * 4 + 1] + m[a * 4 + 2] * m[b * 4 + 2];
            EXPECT_NEAR(dot, a == b ? 1.0f : 0.0f, 1e-5f) << "rows " << a << ", " << b;
        }
    }
}

TEST(CameraTest, DefaultsShowTheVirtualScreen) {
    CameraRecord c;
    Lib_CameraReset(&c);
    EXPECT_EQ(std::bit_cast<uint32_t>(c.fov), 0x3F860A92u);
    EXPECT_EQ(std::bit_cast<uint32_t>(c.aspect), 0x3FE38E39u);
    ExpectNear3(c.eye, 0, 0, 50);
    ExpectNear3(c.up, 0, 1, 0);
    ExpectNear3(&c.lens[0], 0.974279, 0, 0);
    ExpectNear3(&c.lens[8], 0, 0, -101.0 / 99.0);
    ExpectNear3(&c.lens[12], 0, 0, -200.0 / 99.0);
    EXPECT_EQ(c.lens[11], -1.0f);
    EXPECT_NEAR(2.0 * 50.0 * std::tan(M_PI / 6.0), kCameraViewHeight, 1e-5);
    ExpectNear3(ProjectPixel(c, 640, 360).data(), 1, 1, 50);
    ExpectNear3(ProjectPixel(c, -640, -360).data(), -1, -1, 50);
}

TEST(CameraTest, MatrixMulAppliesSecondArgumentFirst) {
    float scale[16], move[16], m[16];
    Lib_MatrixIdentity(scale);
    Lib_MatrixIdentity(move);
    scale[0] = 2.0f;
    move[12] = 10.0f;
    Lib_MatrixMul(m, move, scale);  // scale, then move: x = 1 goes to 12, not 22
    EXPECT_EQ(m[0] + m[12], 12.0f);
    float a[16], square[16] = {};
    for (int i = 0; i < 16; i++) a[i] = float(i % 7) - 2.5f;
    for (int i = 0; i < 64; i++) square[i / 4] += a[i / 16 * 4 + i % 4] * a[i % 4 * 4 + i / 4 % 4];
    Lib_MatrixMul(a, a, a);
    for (int i = 0; i < 16; i++) EXPECT_FLOAT_EQ(a[i], square[i]) << i;
}

TEST(CameraTest, Angles) {
    CameraRecord c;
    Lib_CameraReset(&c);
    c.target[0] = 3.0f, c.target[1] = -2.0f, c.pitch = 90.0f, c.yaw = 30.0f;
    Lib_CameraUpdate(&c);
    ExpectNear3(c.eye, 3, 48, 0, 1e-4);
    ExpectFiniteOrthonormalView(c.view);
    c.pitch = 0.0f, c.roll = 90.0f;
    Lib_CameraUpdate(&c);
    ExpectNear3(c.up, std::cos(M_PI / 6), 0, -std::sin(M_PI / 6));
}

// Away from pitch 90, yaw swings the eye around the target in x and z
// (positive yaw towards +x), and the view still looks straight at the target.
TEST(CameraTest, YawTurnsTheEyeAroundTheTarget) {
    CameraRecord c;
    Lib_CameraReset(&c);
    c.target[0] = 3.0f, c.target[1] = -2.0f, c.target[2] = 1.0f;
    c.pitch = 30.0f, c.yaw = 40.0f;
    Lib_CameraUpdate(&c);
    const double p = M_PI / 6.0, y = 40.0 * M_PI / 180.0;
    ExpectNear3(c.eye, 3 + 50 * std::cos(p) * std::sin(y), -2 + 50 * std::sin(p), 1 + 50 * std::cos(p) * std::cos(y),
                1e-4);
    float seen[3];
    for (int col = 0; col < 3; ++col)
        seen[col] = c.target[0] * c.view[col] + c.target[1] * c.view[4 + col] + c.target[2] * c.view[8 + col] +
                    c.view[12 + col];
    ExpectNear3(seen, 0, 0, -50, 1e-4);
    c.pitch = 0.0f, c.yaw = 90.0f;
    Lib_CameraUpdate(&c);
    ExpectNear3(c.eye, 53, -2, 1, 1e-4);
}

TEST(CameraTest, SwitchPushesDefaultAndPopsBitForBit) {
    Lib_CameraReset(&ActiveCamera);
    ActiveCamera.pitch = 12.5f, ActiveCamera.yaw = -40.0f, ActiveCamera.roll = 7.0f;
    ActiveCamera.distance = 20.0f, ActiveCamera.target[2] = 4.0f;
    Lib_CameraUpdate(nullptr);
    CameraRecord saved = ActiveCamera;
    Lib_CameraSwitch(0, 1, 1);
    EXPECT_EQ(ActiveCamera.pitch, 0.0f);
    EXPECT_EQ(std::bit_cast<uint32_t>(ActiveCamera.lens[0]), 0x3C9FA03Au);
    EXPECT_EQ(std::bit_cast<uint32_t>(ActiveCamera.lens[5]), 0x3D0DE3C1u);
    ExpectNear3(ProjectPixel(ActiveCamera, 640, -360).data(), 1, -1, 1);
    Lib_CameraSwitch(0, 0, 1);
    EXPECT_EQ(std::memcmp(&ActiveCamera, &saved, sizeof saved), 0);
}

TEST(CameraTest, DegenerateInputGivesFiniteMatrices) {
    CameraRecord c;
    Lib_CameraReset(&c);
    c.distance = 0.0f;
    Lib_CameraUpdate(&c);
    ExpectFiniteOrthonormalView(c.view);
    // Up parallel to the view, up zero, eye on the target.
    const float eye[3] = {0, 10, 0}, origin[3] = {0, 0, 0}, upY[3] = {0, 1, 0};
    using Args = std::array<const float*, 3>;
    for (const Args& args : {Args{eye, origin, upY}, Args{eye, origin, origin}, Args{eye, eye, upY}}) {
        float m[16];
        Lib_MatrixIdentity(m);
        ExpectFiniteOrthonormalView(Lib_MatrixLookAt(m, args[0], args[1], args[2]));
    }
    c.fov = 0.0f, c.aspect = 0.0f, c.nearPlane = c.farPlane = 5.0f;
    Lib_CameraUpdate(&c);
    for (float v : c.lens) EXPECT_TRUE(std::isfinite(v));
}

}  // namespace
