// The two vertex programs of the built-in set.
#pragma once

// The unit quad shrunk to the texture rectangle's extent; the rectangle also
// maps the texture coordinate.
inline constexpr const char* kSpriteVS = R"glsl(
void main() {
    vec2 e = vec2(m_crop.z - m_crop.x, m_crop.w - m_crop.y);
    Emit(m_wvp * vec4(pos.x * e.x, pos.y * e.y, pos.z, 1.0));
    vs_out.col = col;
    vs_out.uv = m_crop.xy + uv * e;
}
)glsl";

inline constexpr const char* kFlatVS = R"glsl(
void main() {
    Emit(m_wvp * vec4(pos, 1.0));
    vs_out.col = col;
    vs_out.uv = uv;
}
)glsl";
