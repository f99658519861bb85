#include "tests/engine/render/gl_fixture.h"

#include <dlfcn.h>

#include <ostream>

#include "engine/core/engine_state.h"
#include "engine/render/camera.h"
#include "engine/render/draw_list.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"

namespace {
// Mesa's EGL driver and udev (pads) keep some allocations reachable only from
// their own data; when SDL stops its video system and unloads them,
// LeakSanitizer reports them under no name. Every test process (window and
// whole-program tests included) keeps them loaded to the end, as the checked
// program does.
[[maybe_unused]] const bool g_graphicsResident = [] {
    for (const char* library : {"libGL.so.1", "libEGL.so.1", "libEGL_mesa.so.0",
                                "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "libudev.so.1"})
        dlopen(library, RTLD_NOW | RTLD_NODELETE);
    return true;
}();
}  // namespace

bool GlTest::s_ready = false;
std::vector<uint32_t> GlTest::s_textures;
std::vector<uint32_t> GlTest::s_targets;

std::ostream& operator<<(std::ostream& os, const Bgra& p) {
    return os << "(b " << int(p.b) << ", g " << int(p.g) << ", r " << int(p.r) << ", a " << int(p.a) << ")";
}

namespace {
bool startGraphics() {
    if (!Plat_GLHeadlessStart(kTestWindowWidth, kTestWindowHeight)) return false;
    if (Lib_GraphicsInit()) return true;
    Plat_GLHeadlessStop();
    return false;
}
}  // namespace

void GlTest::SetUpTestSuite() {
    // Started once a process and never stopped: Mesa's driver keeps global
    // allocations that would show as leaks once it is unloaded.
    static const bool ready = startGraphics();
    s_ready = ready;
}

void GlTest::TearDownTestSuite() {}

void GlTest::SetUp() {
    // A test that ran the whole program in this process has torn the shared
    // graphics down with it: start them again.
    if (s_ready && (!Plat_GLHasContext() || !renderer())) s_ready = startGraphics();
    if (!s_ready) GTEST_SKIP() << "no headless OpenGL 3.3 context (SDL offscreen/EGL): " << Plat_GLError();
    // Earlier tests may have left their own draw list and camera behind, and
    // a paused story that holds the frame time still.
    Lib_RunStateReset();
    Lib_DrawClear();
    Lib_DrawSet(Lib_ClearCB, 0, kDrawHeadPriority, 0, -1);
    Lib_CameraReset(&ActiveCamera);
    Renderer* r = renderer();
    r->windowFramebuffer = 0;
    r->letterbox = 0;
    Lib_FrameBind(r);
    ClearFrame(0, 0, 0, 0);
}

void GlTest::TearDown() {
    // A story the test paused holds the frame time still for whatever runs next.
    Lib_RunStateReset();
    if (!s_ready) return;
    if (!s_textures.empty()) glDeleteTextures(GLsizei(s_textures.size()), s_textures.data());
    if (!s_targets.empty()) glDeleteFramebuffers(GLsizei(s_targets.size()), s_targets.data());
    s_textures.clear();
    s_targets.clear();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

Image GlTest::ReadFramebuffer(uint32_t framebuffer, uint32_t width, uint32_t height) {
    Image img;
    img.width = width;
    img.height = height;
    img.pixels.resize(size_t(width) * height);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glReadPixels(0, 0, GLsizei(width), GLsizei(height), GL_BGRA, GL_UNSIGNED_BYTE, img.pixels.data());
    // The frame target keeps its top row in row 0; any other target counts
    // rows from the bottom, as GL does.
    if (framebuffer != renderer()->frameFramebuffer) {
        for (uint32_t y = 0; y < height / 2; ++y)
            std::swap_ranges(img.pixels.begin() + size_t(y) * width, img.pixels.begin() + size_t(y + 1) * width,
                             img.pixels.begin() + size_t(height - 1 - y) * width);
    }
    return img;
}

Image GlTest::ReadFrame() { return ReadFramebuffer(renderer()->frameFramebuffer, kFrameWidth, kFrameHeight); }

uint32_t GlTest::MakeTexture(uint32_t width, uint32_t height, const Bgra* texels) {
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(width), GLsizei(height), 0, GL_BGRA, GL_UNSIGNED_BYTE, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    s_textures.push_back(tex);
    return tex;
}

uint32_t GlTest::MakeIndexTexture(uint32_t width, uint32_t height, const uint8_t* indices) {
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, GLsizei(width), GLsizei(height), 0, GL_RED, GL_UNSIGNED_BYTE, indices);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    s_textures.push_back(tex);
    return tex;
}

uint32_t GlTest::MakeTarget(uint32_t width, uint32_t height) {
    GLuint tex = MakeTexture(width, height, nullptr), fb = 0;
    glGenFramebuffers(1, &fb);
    glBindFramebuffer(GL_FRAMEBUFFER, fb);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
    s_targets.push_back(fb);
    Lib_FrameBind(renderer());
    return fb;
}

void GlTest::ClearFrame(float r, float g, float b, float a) {
    glBindFramebuffer(GL_FRAMEBUFFER, renderer()->frameFramebuffer);
    glDisable(GL_SCISSOR_TEST);
    const GLfloat c[4] = {r, g, b, a};
    glClearBufferfv(GL_COLOR, 0, c);
    glEnable(GL_SCISSOR_TEST);
}

void GlTest::PixelRectMatrix(float* m, float x, float y, float width, float height) {
    for (int i = 0; i < 16; ++i) m[i] = 0.0f;
    m[0] = 2.0f * width / kFrameWidth;
    m[5] = 2.0f * height / kFrameHeight;
    m[10] = 1.0f;
    m[12] = -1.0f + (2.0f * x + width) / kFrameWidth;
    // Clip y before the vertex programs turn it over: top edge at +1.
    m[13] = 1.0f - (2.0f * y + height) / kFrameHeight;
    m[15] = 1.0f;
}

bool GlTest::DrawQuad(int group, int variant, const ConstBuf& cb, int blendIndex) {
    if (!Lib_ShaderBind(group, variant)) return false;
    if (blendIndex < 0)
        glDisable(GL_BLEND);
    else
        Lib_BlendSet(renderer(), blendIndex);
    Lib_ConstBufUpload(renderer(), cb);
    Lib_QuadDraw();
    glEnable(GL_BLEND);
    return true;
}

::testing::AssertionResult GlTest::RectIs(const Image& img, const ComposeRect& rect, Bgra inside, Bgra outside) {
    for (uint32_t y = 0; y < img.height; ++y) {
        for (uint32_t x = 0; x < img.width; ++x) {
            bool in = int32_t(x) >= rect.left && int32_t(x) < rect.left + rect.width && int32_t(y) >= rect.top &&
                      int32_t(y) < rect.top + rect.height;
            if (img.at(x, y) != (in ? inside : outside))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << img.at(x, y);
        }
    }
    return ::testing::AssertionSuccess();
}
