// GLSL of the text programs (36-byte vertex with a four-component colour) and
// of the wipe's pixel program (the common 32-byte interface of FlatVS).
#pragma once

inline constexpr const char* kTextVertexInterfaceGlsl = R"glsl(
layout(location = 0) in vec3 pos;
layout(location = 1) in vec4 col;
layout(location = 2) in vec2 uv;
out TextPixelIn {
    vec4 col;
    vec2 uv;
} vs_out;

// Every render target keeps its top row in row 0: turn clip space upside down.
void Emit(vec4 clip) {
    gl_Position = vec4(clip.x, -clip.y, clip.z, clip.w);
}
)glsl";

inline constexpr const char* kTextPixelInterfaceGlsl = R"glsl(
in TextPixelIn {
    vec4 col;
    vec2 uv;
};
layout(location = 0) out vec4 target;
uniform sampler2D colorMap;
)glsl";

// The quad shrunk to the texture rectangle; with a slant, the upper half
// moves right and the lower half (the centre line included) left by
// tan(angle) * height / width.
inline constexpr const char* kTextVS = R"glsl(
void main() {
    float angle = m_work[2].x;
    vec2 e = vec2(m_crop.z - m_crop.x, m_crop.w - m_crop.y);
    float x = pos.x * e.x;
    float y = pos.y * e.y;
    if (angle != 0.0) {
        float s = sin(angle) / cos(angle) * m_work[0].y / m_work[0].x;
        x = y > 0.0 ? x + s : x - s;
    }
    Emit(m_wvp * vec4(x, y, pos.z, 1.0));
    vs_out.col = col;
    vs_out.uv = m_crop.xy + uv * e;
}
)glsl";

// Both text pixel programs, behind one of the two define lines below.
// COVERAGE is the channel that holds coverage; PICTURE 1 uses the texel's
// colour when not thickened.
inline constexpr const char* kTextCoverageDefines = "#define COVERAGE r\n#define PICTURE 0\n";
inline constexpr const char* kTextPictureDefines = "#define COVERAGE a\n#define PICTURE 1\n";
inline constexpr const char* kTextPixelPS = R"glsl(
float Coverage(vec2 p) {
    return texture(colorMap, p).COVERAGE;
}

void main() {
    float c = 0.0;
    float f = 1.0;
    vec4 k = m_rgba + (1.0 - m_rgba) * col;
    vec3 rgb = k.rgb;
    float a;
    if (m_work[2].y != 0.0) {
        vec2 d = vec2(0.75 / m_work[0].x, 0.75 / m_work[0].y);
        for (int i = -1; i <= 1; ++i)
            for (int j = -1; j <= 1; ++j)
                c = max(c, Coverage(uv + vec2(float(i) * d.x, float(j) * d.y)));
        f = 1.5;
        a = c * k.a;
    } else {
#if PICTURE
        vec4 t = texture(colorMap, uv);
        rgb = t.rgb * k.rgb;
        a = t.a * k.a;
#else
        c = Coverage(uv);
        a = c * k.a;
#endif
    }
    if (m_work[1].w == 0.0) {
        target = vec4(rgb, a);
        return;
    }
    // Outline: the largest coverage of a 7 × 7 neighbourhood. The final
    // alpha carries m_rgba.a a second time.
    vec2 reach = vec2(f * m_work[2].z / m_work[0].x, f * m_work[2].w / m_work[0].y);
    float g = 0.0;
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 7; ++j)
            g = max(g, Coverage(uv + vec2(float(i - 3) * reach.x, float(j - 3) * reach.y)));
    target = vec4(rgb * a + (1.0 - a) * m_work[1].rgb, (a * a + (1.0 - a) * g) * m_rgba.a);
}
)glsl";

// The rule's alpha against the threshold t; the image's colour with that alpha.
inline constexpr const char* kWipePS = R"glsl(
uniform sampler2D colorMap0;
uniform sampler2D colorMap1;

void main() {
    vec2 ruleUv = vec2(m_work[0].y == 1.0 ? 1.0 - uv.x : uv.x, m_work[0].z == 1.0 ? 1.0 - uv.y : uv.y);
    float r = texture(colorMap1, ruleUv).a;
    if (m_work[0].x == 1.0) r = 1.0 - r;
    float t = m_work[0].w;
    float a;
    if (t >= r) {
        a = min(t - r + m_work[1].z, 1.0);
        if (m_work[1].w == 1.0) a = 1.0 - a;
    } else {
        a = m_work[1].w;
    }
    target = vec4(texture(colorMap0, uv).rgb, a);
}
)glsl";
