// The perspective camera and the 4x4 matrix helpers shared by the drawing code.
// Matrices are 16 floats, row-major, used with row vectors: rows 0-2 are the
// images of the x, y and z axes and row 3 is the translation.
#pragma once

#include <cstdint>

struct CameraRecord {
    float fov;  // vertical, radians
    float aspect;
    float nearPlane;
    float farPlane;
    float eye[3];  // computed
    float target[3];
    float up[3];  // computed
    float pitch;  // degrees
    float yaw;
    float roll;
    float distance;  // target to eye
    float lens[16];  // computed: perspective, or orthographic after a switch
    float view[16];  // computed
};
static_assert(sizeof(CameraRecord) == 49 * sizeof(float));

// What the default camera sees in the plane z = 0, and the size of one pixel
// of the 1280x720 virtual screen there.
inline constexpr float kCameraViewWidth = 102.640045f;
inline constexpr float kCameraViewHeight = 57.735027f;
inline constexpr float kWorldPerPixel = 0.08018754f;

extern CameraRecord ActiveCamera;
extern CameraRecord CameraStash;  // one saved copy of ActiveCamera

// Sets the default parameters (eye (0,0,50) looking at the origin, y up,
// field of view pi/3, aspect 16/9, near 1, far 100) and recomputes.
void Lib_CameraReset(CameraRecord* camera);
// Recomputes eye, up, lens and view from the parameters; null: ActiveCamera.
void Lib_CameraUpdate(CameraRecord* camera);
// push != 0: saves ActiveCamera and replaces it by the default camera, with an
// orthographic lens when ortho != 0. push == 0: restores the saved camera.
void Lib_CameraSwitch(int32_t unused, uint8_t push, uint8_t ortho);

void Lib_MatrixIdentity(float* out);
// out = b x a: with row vectors b is applied first. out may alias a or b.
float* Lib_MatrixMul(float* out, const float* a, const float* b);
// out = L x out, L the right-handed look-at matrix from eye towards target.
float* Lib_MatrixLookAt(float* out, const float* eye, const float* target, const float* up);
