// The pixel programs of the built-in set. colorMap and palette are sampled
// through samp0 (the sampler bound to units 0 and 1), colorMap15 through
// samp15 (unit 15). Only level 0 of a texture is ever read.
#pragma once

inline constexpr const char* kFlatColorPS = R"glsl(
void main() {
    target = vec4(col, 1.0) * m_rgba;
}
)glsl";

inline constexpr const char* kSpritePlainPS = R"glsl(
uniform sampler2D colorMap;

void main() {
    vec4 t = textureLod(colorMap, uv, 0.0);
    bool opaque = m_work[0].w == 1.0;
    if (!opaque && t.a == 0.0) discard;
    target = vec4(t.rgb * col, opaque ? 1.0 : t.a) * m_rgba;
}
)glsl";

// Scroll, opaque flag, second-image mask, colour blend, then the member's
// tone, contrast and brightness.
inline constexpr const char* kSpriteEffectPS = R"glsl(
uniform sampler2D colorMap;
uniform sampler2D colorMap15;

// The texel's place on the 1280x720 screen through pivot, scale, rotation and
// position, less the mask's offset; 0 outside the screen, else the mask alpha.
float MaskAlpha(vec2 t, float W, float H) {
    float dx = (t.x * W - m_work[23].y) * m_work[22].z;
    float dy = (m_work[23].z - t.y * H) * m_work[22].w;
    float r = sqrt(dx * dx + dy * dy);
    // atan(0, 0) is undefined in GLSL; at the pivot the angle does not matter.
    float th = (r > 0.0 ? atan(dy, dx) : 0.0) + m_work[23].x;
    float X = 640.0 + m_work[22].x - m_work[21].x + r * cos(th);
    float Y = 360.0 - m_work[22].y - m_work[21].y - r * sin(th);
    if (X < 0.0 || X > 1280.0 || Y < 0.0 || Y > 720.0) return 0.0;
    return textureLod(colorMap15, vec2(X / 1280.0, Y / 720.0), 0.0).a;
}

vec3 BlendColour(vec3 rgb) {
    float m = m_work[6].w;
    vec3 B = m_work[8].rgb;
    float w = m_work[8].w;
    if (m == -1.0) return rgb * (1.0 - w) + B * w;
    if (m == 1.0) return min(rgb + B, 1.0);
    if (m == 2.0) return rgb * B;
    if (m == 3.0) return rgb * (1.0 - w) + min(rgb + B, 1.0) * w;
    if (m == 4.0) return rgb * (1.0 - w) + rgb * B * w;
    if (m == 5.0) return rgb * (1.0 - w) + (1.0 - (1.0 - rgb) * (1.0 - B)) * w;
    if (m == 6.0) {
        // A zero channel of B burns to 0: under IEEE rules 1 - x/0 is -inf or
        // NaN, and max(.., 0) gives 0 for both.
        bvec3 zero = equal(B, vec3(0.0));
        vec3 burn = max(1.0 - (1.0 - rgb) / mix(B, vec3(1.0), zero), 0.0);
        return rgb * (1.0 - w) + mix(burn, vec3(0.0), zero) * w;
    }
    if (m == 7.0 || m == 8.0) {
        bvec3 low = lessThan(m == 7.0 ? rgb : B, vec3(0.5));
        vec3 x = mix(1.0 - 2.0 * (1.0 - rgb) * (1.0 - B), 2.0 * rgb * B, low);
        return rgb * (1.0 - w) + x * w;
    }
    if (m == 9.0) {
        // A zero divisor gives 1: x/0 is inf or NaN, and min(.., 1) gives 1 for both.
        vec3 d = 1.0 - B * w;
        bvec3 zero = equal(d, vec3(0.0));
        return mix(min(rgb / mix(d, vec3(1.0), zero), 1.0), vec3(1.0), zero);
    }
    return rgb;
}

void main() {
    float W = m_work[7].x;
    float H = m_work[7].y;
    vec2 t = uv;
    if (m_work[6].x != 0.0) t.x = fract(uv.x + m_work[6].x / W * (m_work[6].z - m_work[6].y));
    vec4 texel = textureLod(colorMap, t, 0.0);
    vec3 rgb = texel.rgb * col;
    float a = texel.a;
    if (m_work[0].w == 1.0) a = 1.0;
    if (a == 0.0) discard;
    if (m_work[21].z == 1.0) a *= MaskAlpha(t, W, H);
    if (a == 0.0) discard;
    rgb = BlendColour(rgb);
#if TONE == 0
    vec3 s = rgb;
#else
    vec3 s = clamp(rgb + 1.0 - m_work[0].rgb, 0.0, 1.0);  // channel offset
#endif
    target = vec4(ToneAndLevels(s), a) * m_rgba;
}
)glsl";

// An 8-bit index image (index in red) through a 256x1 palette, with a
// bilinear filter of palette colours strictly inside the crop rectangle.
inline constexpr const char* kPalettePS = R"glsl(
uniform sampler2D colorMap;
uniform sampler2D palette;

vec4 PaletteAt(vec2 at) {
    float k = textureLod(colorMap, at, 0.0).r;
    return textureLod(palette, vec2(k, 0.0), 0.0);
}

void main() {
    // A one-texel-wide image has an infinite step (1/0): the filter stays off.
    vec2 span = m_work[2].xy - 1.0;
    bool stepped = span.x != 0.0 && span.y != 0.0;
    vec2 stp = 1.0 / (stepped ? span : vec2(1.0));
    bool inside = stepped && m_crop.x < uv.x && m_crop.y < uv.y &&
                  uv.x < m_crop.x + m_crop.z - stp.x && uv.y < m_crop.y + m_crop.w - stp.y;
    vec4 colour;
    if (inside) {
        vec2 ij = trunc(uv / stp);
        vec2 c0 = ij * stp;
        vec2 c1 = (ij + 1.0) * stp;
        vec4 p00 = PaletteAt(c0);
        vec4 p10 = PaletteAt(vec2(c1.x, c0.y));
        vec4 p01 = PaletteAt(vec2(c0.x, c1.y));
        vec4 p11 = PaletteAt(c1);
        vec2 f = abs(uv - c0) / stp;
        colour = (p00 * (1.0 - f.x) + p10 * f.x) * (1.0 - f.y) + (p01 * (1.0 - f.x) + p11 * f.x) * f.y;
    } else {
        colour = PaletteAt(uv);
    }
    target = vec4(ToneAndLevels(colour.rgb * col), colour.a) * m_rgba;
}
)glsl";
