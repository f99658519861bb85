// GLSL text shared by the built-in programs: the constant block, the stage
// interfaces and the tone, contrast and brightness steps.
#pragma once

// Both stages. std140 lays the block out as the 512-byte ConstBuf.
inline constexpr const char* kConstBufGlsl = R"glsl(
layout(std140) uniform ConstBuf {
    mat4 m_wvp;
    vec4 m_crop;
    vec4 m_rgba;
    vec4 m_color[2];
    vec4 m_work[24];
};
)glsl";

inline constexpr const char* kVertexInterfaceGlsl = R"glsl(
layout(location = 0) in vec3 pos;
layout(location = 1) in vec3 col;
layout(location = 2) in vec2 uv;
out PixelIn {
    vec3 col;  // vertex colour
    vec2 uv;   // texture coordinate
} vs_out;

// Every render target keeps its top row in row 0: turn clip space upside down.
void Emit(vec4 clip) {
    gl_Position = vec4(clip.x, -clip.y, clip.z, clip.w);
}
)glsl";

// The pixel stage's inputs and output, and the steps every tone member ends
// with. TONE selects the member: 0 none, 1 monochrome, 2 sepia, 3 negative,
// 4 channel offset only.
inline constexpr const char* kPixelInterfaceGlsl = R"glsl(
in PixelIn {
    vec3 col;
    vec2 uv;
};
layout(location = 0) out vec4 target;

const vec3 kLuma = vec3(0.299, 0.587, 0.114);

// 1 / (1 + e^(-k (x - 0.5))), k = 5 + 5 * contrast; e^y as 2^(1.44269502 y).
float ContrastCurve(float x) {
    float k = 5.0 + 5.0 * m_color[1].x;
    return 1.0 / (1.0 + exp2(1.44269502 * (-k * (x - 0.5))));
}

// L^e as 2^(e log2 L); log2(0) is undefined in GLSL, and the result is 0 there.
float PowLuma(float L, float e) {
    return L > 0.0 ? exp2(e * log2(L)) : 0.0;
}

// Tone of the member, then contrast (off at 0) and brightness.
vec3 ToneAndLevels(vec3 s) {
    bool contrast = m_color[1].x != 0.0;
#if TONE == 1
    float L = dot(s, kLuma);
    if (contrast) L = ContrastCurve(L);
    vec3 r = vec3(L);
#else
#if TONE == 2
    float L = dot(s, kLuma);
    vec3 r = vec3(L, PowLuma(L, 1.1), PowLuma(L, 1.3));
#elif TONE == 3
    vec3 r = 1.0 - s;
#else
    vec3 r = s;
#endif
    if (contrast) r = vec3(ContrastCurve(r.r), ContrastCurve(r.g), ContrastCurve(r.b));
#endif
    return clamp(r + m_color[0].w, 0.0, 1.0);
}
)glsl";
