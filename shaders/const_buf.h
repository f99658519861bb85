// The 512-byte constant block every built-in program reads, as the std140
// uniform block "ConstBuf" at binding 0. Matrices are stored as the drawing
// code computes them (row-major, row vectors); the programs use them as
// m_wvp * vec4(p, 1), which gives the same transform.
#pragma once

struct ConstBuf {
    float m_wvp[16];
    float m_crop[4];      // texture rectangle: left u, top v, right u, bottom v
    float m_rgba[4];      // final multiplier
    float m_color[2][4];  // [0].w brightness, [1].x contrast
    float m_work[24][4];  // per-program parameters
};
static_assert(sizeof(ConstBuf) == 512);

inline constexpr unsigned kConstBufBinding = 0;
