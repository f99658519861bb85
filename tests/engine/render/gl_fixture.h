// Headless GL for render tests: SDL's offscreen driver (EGL on Mesa's software
// renderer, no display) with a hidden 1920×1080 window, the engine's graphics
// started by Lib_GraphicsInit once a process (shared by every suite), and
// read-back of the frame and of targets.
// Without a GL context the tests skip with a message.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/render/renderer.h"

inline constexpr uint32_t kTestWindowWidth = 1920;
inline constexpr uint32_t kTestWindowHeight = 1080;

struct Bgra {
    uint8_t b, g, r, a;
    bool operator==(const Bgra&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Bgra& p);

// An image read back, top row first.
struct Image {
    uint32_t width = 0, height = 0;
    std::vector<Bgra> pixels;
    Bgra at(uint32_t x, uint32_t y) const { return pixels[size_t(y) * width + x]; }
};

class GlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    // Skips without GL; otherwise binds the frame target with the begin-frame
    // state and clears it to transparent black.
    void SetUp() override;
    void TearDown() override;

public:
    static Renderer* renderer() { return *Lib_GetRenderer(); }

    // The 1280×720 frame target as BGRA.
    static Image ReadFrame();
    // A framebuffer (0: the window's own) as BGRA.
    static Image ReadFramebuffer(uint32_t framebuffer, uint32_t width, uint32_t height);
    // A texture from BGRA texels (GL_RGBA8), or from one byte a texel (GL_R8).
    static uint32_t MakeTexture(uint32_t width, uint32_t height, const Bgra* texels);
    static uint32_t MakeIndexTexture(uint32_t width, uint32_t height, const uint8_t* indices);
    // A colour-only width×height framebuffer standing in for a window.
    static uint32_t MakeTarget(uint32_t width, uint32_t height);
    static void ClearFrame(float r, float g, float b, float a);
    // m_wvp that puts the unit quad on the frame's pixel rectangle (top-left origin).
    static void PixelRectMatrix(float* m, float x, float y, float width, float height);
    // Every pixel of `img` inside the rectangle is `inside`, every other `outside`.
    static ::testing::AssertionResult RectIs(const Image& img, const ComposeRect& rect, Bgra inside, Bgra outside);
    // Draws the unit quad with a table entry (blendIndex < 0: blending off);
    // false when the entry is empty.
    static bool DrawQuad(int group, int variant, const ConstBuf& cb, int blendIndex);

private:
    static bool s_ready;
    static std::vector<uint32_t> s_textures, s_targets;
};
