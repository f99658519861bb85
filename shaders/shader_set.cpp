#include "shaders/shader_set.h"

#include <cstdio>
#include <cstring>

#include "engine/core/debug_log.h"
#include "platform/plat_gl_api.h"
#include "shaders/const_buf.h"
#include "shaders/programs/common_glsl.h"
#include "shaders/programs/pixel_programs.h"
#include "shaders/programs/vertex_programs.h"

namespace {
// process-wide: made by Lib_ShaderCreate, released by Lib_ShaderRelease
GraphicsResources g_graphics;

struct VertexProgram {
    int group;
    const char* name;
    const char* body;
};
// One vertex program per group, in variant 0; group 3 gets its own object.
constexpr VertexProgram kVertexPrograms[] = {
    {SHADER_GROUP_SPRITE, "SpriteVS", kSpriteVS},
    {SHADER_GROUP_FLAT, "FlatVS", kFlatVS},
    {SHADER_GROUP_PALETTE, "SpriteVS", kSpriteVS},
};

struct PixelProgram {
    int group, variant;
    const char* name;
    int tone;
    const char* body;
};
constexpr PixelProgram kPixelPrograms[] = {
    {0, 0, "SpriteEffectPS (tone none)", 0, kSpriteEffectPS},
    {0, 1, "SpriteEffectPS (monochrome)", 1, kSpriteEffectPS},
    {0, 2, "SpriteEffectPS (sepia)", 2, kSpriteEffectPS},
    {0, 3, "SpriteEffectPS (negative)", 3, kSpriteEffectPS},
    {0, 4, "SpriteEffectPS (channel offset)", 4, kSpriteEffectPS},
    {0, 5, "SpritePlainPS", 0, kSpritePlainPS},
    {1, 0, "FlatColorPS", 0, kFlatColorPS},
    {3, 0, "PalettePS (tone none)", 0, kPalettePS},
    {3, 1, "PalettePS (monochrome)", 1, kPalettePS},
    {3, 2, "PalettePS (sepia)", 2, kPalettePS},
    {3, 3, "PalettePS (negative)", 3, kPalettePS},
};

// Unit quad, y up, v = 0 at the top edge; drawn as (0, 1, 2) and (1, 3, 2).
constexpr QuadVertex kQuad[4] = {
    {{-0.5f, -0.5f, 0.0f}, {1.0f, 1.0f, 1.0f}, {0.0f, 1.0f}},
    {{0.5f, -0.5f, 0.0f}, {1.0f, 1.0f, 1.0f}, {1.0f, 1.0f}},
    {{-0.5f, 0.5f, 0.0f}, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f}},
    {{0.5f, 0.5f, 0.0f}, {1.0f, 1.0f, 1.0f}, {1.0f, 0.0f}},
};
constexpr uint16_t kQuadIndices[6] = {0, 1, 2, 1, 3, 2};

void logFailure(const char* what, const char* name, const char* log) {
    Lib_DebugPrintf("Error -> %s %s: %s\n", what, name, log);
    std::fprintf(stderr, "vn: %s %s failed:\n%s\n", what, name, log);
}

void makeQuad(GraphicsResources* g) {
    Lib_QuadBuffersCreate(&g->inputLayout, &g->quadVertexBuffer, &g->quadIndexBuffer, kQuad, sizeof kQuad,
                          kQuadIndices, sizeof kQuadIndices);
    // POSITION, COLOR, TEXCOORD of the 32-byte vertex.
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(QuadVertex), reinterpret_cast<void*>(0));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(QuadVertex), reinterpret_cast<void*>(12));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(QuadVertex), reinterpret_cast<void*>(24));
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

// Kinds 0 and 2 filter linearly, kind 1 takes the nearest texel. None reads
// past level 0 (the largest level of detail is 0), so kind 2's mip blending
// never applies and no texture needs a mip chain to be complete.
uint32_t makeSampler(int kind) {
    GLint filter = kind == 1 ? GL_NEAREST : GL_LINEAR;
    return Lib_SamplerMake(filter, filter);
}
}  // namespace

void Lib_QuadBuffersCreate(uint32_t* layout, uint32_t* vertexBuffer, uint32_t* indexBuffer, const void* vertices,
                           size_t vertexBytes, const void* indices, size_t indexBytes) {
    glGenVertexArrays(1, layout);
    glBindVertexArray(*layout);
    glGenBuffers(1, vertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, *vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertexBytes), vertices, GL_STATIC_DRAW);
    glGenBuffers(1, indexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, *indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indexBytes), indices, GL_STATIC_DRAW);
}

uint32_t Lib_SamplerMake(int32_t minFilter, int32_t magFilter) {
    GLuint s = 0;
    glGenSamplers(1, &s);
    glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, minFilter);
    glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, magFilter);
    glSamplerParameteri(s, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(s, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(s, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    glSamplerParameterf(s, GL_TEXTURE_LOD_BIAS, 0.0f);
    glSamplerParameterf(s, GL_TEXTURE_MIN_LOD, 0.0f);
    glSamplerParameterf(s, GL_TEXTURE_MAX_LOD, 0.0f);
    return s;
}

GraphicsResources* Lib_GetGraphics() { return &g_graphics; }

uint32_t Lib_ShaderCompileParts(const char* name, bool pixel, const char* const* parts, int count) {
    GLuint shader = glCreateShader(pixel ? GL_FRAGMENT_SHADER : GL_VERTEX_SHADER);
    glShaderSource(shader, count, parts, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    char log[2048] = "";
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    logFailure("compiling", name, log);
    glDeleteShader(shader);
    return 0;
}

uint32_t Lib_ShaderCompile(const char* name, bool pixel, int tone, const char* body) {
    char define[32];
    std::snprintf(define, sizeof define, "#define TONE %d\n", tone);
    const char* parts[5] = {"#version 330 core\n", define, kConstBufGlsl,
                            pixel ? kPixelInterfaceGlsl : kVertexInterfaceGlsl, body};
    return Lib_ShaderCompileParts(name, pixel, parts, 5);
}

uint32_t Lib_ProgramLink(const char* name, uint32_t vertexShader, uint32_t pixelShader) {
    if (!vertexShader || !pixelShader) return 0;
    GLuint program = glCreateProgram();
    glAttachShader(program, vertexShader);
    glAttachShader(program, pixelShader);
    glLinkProgram(program);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = "";
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        logFailure("linking", name, log);
        glDeleteProgram(program);
        return 0;
    }
    GLuint block = glGetUniformBlockIndex(program, "ConstBuf");
    if (block != GL_INVALID_INDEX) glUniformBlockBinding(program, block, kConstBufBinding);
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    glUseProgram(program);
    const struct {
        const char* name;
        GLint unit;
    } units[] = {{"colorMap", kUnitColorMap}, {"palette", kUnitPalette}, {"colorMap15", kUnitColorMap15}};
    for (const auto& u : units) {
        GLint at = glGetUniformLocation(program, u.name);
        if (at >= 0) glUniform1i(at, u.unit);
    }
    glUseProgram(GLuint(previous));
    return program;
}

bool Lib_ShaderCreate() {
    GraphicsResources* g = &g_graphics;
    std::memset(g->shaders, 0, sizeof g->shaders);
    bool ok = true;
    for (const VertexProgram& v : kVertexPrograms) {
        g->shaders[v.group][0].vertexShader = Lib_ShaderCompile(v.name, false, 0, v.body);
        ok = ok && g->shaders[v.group][0].vertexShader != 0;
    }
    for (const PixelProgram& p : kPixelPrograms) {
        ShaderEntry& e = g->shaders[p.group][p.variant];
        e.pixelShader = Lib_ShaderCompile(p.name, true, p.tone, p.body);
        e.program = Lib_ProgramLink(p.name, g->shaders[p.group][0].vertexShader, e.pixelShader);
        ok = ok && e.program != 0;
    }
    makeQuad(g);
    for (int kind = 0; kind < 3; ++kind) g->samplers[kind] = makeSampler(kind);
    return ok;
}

void Lib_ShaderRelease() {
    GraphicsResources* g = &g_graphics;
    glUseProgram(0);
    for (uint32_t& s : g->samplers) {
        if (s) glDeleteSamplers(1, &s);
        s = 0;
    }
    for (auto& group : g->shaders) {
        for (ShaderEntry& e : group) {
            if (e.program) glDeleteProgram(e.program);
            if (e.vertexShader) glDeleteShader(e.vertexShader);
            if (e.pixelShader) glDeleteShader(e.pixelShader);
            e = ShaderEntry{};
        }
    }
    if (g->inputLayout) glDeleteVertexArrays(1, &g->inputLayout);
    if (g->quadIndexBuffer) glDeleteBuffers(1, &g->quadIndexBuffer);
    if (g->quadVertexBuffer) glDeleteBuffers(1, &g->quadVertexBuffer);
    g->inputLayout = g->quadIndexBuffer = g->quadVertexBuffer = 0;
}

bool Lib_ShaderBind(int group, int variant) {
    if (group < 0 || group >= kShaderGroups || variant < 0 || variant >= kShaderVariants) return false;
    uint32_t program = g_graphics.shaders[group][variant].program;
    if (!program) return false;
    glUseProgram(program);
    return true;
}

void Lib_SamplerBind0(uint32_t sampler) {
    glBindSampler(kUnitColorMap, sampler);
    glBindSampler(kUnitPalette, sampler);
}

void Lib_SamplerBind15(uint32_t sampler) { glBindSampler(kUnitColorMap15, sampler); }

void Lib_QuadDraw() {
    glBindVertexArray(g_graphics.inputLayout);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
}
