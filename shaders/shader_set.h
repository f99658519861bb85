// The built-in shader set: the shader table of GL programs, the unit quad
// with its vertex layout, and the three sampler kinds, made once at start-up
// on the game thread's context.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kShaderGroups = 4;
inline constexpr int kShaderVariants = 6;

enum : int {
    SHADER_GROUP_SPRITE = 0,   // colorMap (+ colorMap15 mask): effects, tones, plain
    SHADER_GROUP_FLAT = 1,     // untextured: vertex colour × m_rgba
    SHADER_GROUP_SECOND = 2,   // never filled: a sprite that selects it is not drawn
    SHADER_GROUP_PALETTE = 3,  // 8-bit index image through a 256×1 palette
};

// Variants of groups 0 and 3 (group 1 has only variant 0).
enum : int {
    SHADER_TONE_NONE = 0,
    SHADER_TONE_MONO = 1,
    SHADER_TONE_SEPIA = 2,
    SHADER_TONE_NEGATIVE = 3,
    SHADER_TONE_OFFSET = 4,  // channel offset only (group 0)
    SHADER_PLAIN = 5,        // SpritePlainPS (group 0)
};

// Texture units the programs read: colorMap, palette (both through samp0) and
// colorMap15 (through samp15).
inline constexpr uint32_t kUnitColorMap = 0;
inline constexpr uint32_t kUnitPalette = 1;
inline constexpr uint32_t kUnitColorMap15 = 15;

struct ShaderEntry {
    uint32_t vertexShader;  // GL shader object; only variant 0 of a group holds one
    uint32_t pixelShader;   // GL shader object of this variant
    uint32_t program;       // the group's vertex shader linked with this pixel shader; 0: empty entry
};

struct QuadVertex {
    float pos[3];
    float col[3];
    float uv[2];
};
static_assert(sizeof(QuadVertex) == 32);

struct GraphicsResources {
    ShaderEntry shaders[kShaderGroups][kShaderVariants];
    uint32_t quadVertexBuffer;
    uint32_t quadIndexBuffer;
    uint32_t inputLayout;  // vertex array holding both quad buffers and the three attributes
    uint32_t samplers[3];  // kinds 0 linear, 1 point, 2 linear (mip 0 only in all three)
};

// Fills GraphicsResources; an entry whose program failed stays empty. False
// when any program failed (each failure is logged with the program's name).
bool Lib_ShaderCreate();
// Releases samplers, programs and shaders, layout and buffers.
void Lib_ShaderRelease();
GraphicsResources* Lib_GetGraphics();

// Binds the entry's program; false for an empty or out-of-range entry, whose
// draw must be skipped.
bool Lib_ShaderBind(int group, int variant);
// Binds a sampler for samp0 (units 0 and 1) / samp15 (unit 15).
void Lib_SamplerBind0(uint32_t sampler);
void Lib_SamplerBind15(uint32_t sampler);
// Draws the unit quad: the layout's two triangles, 6 indices.
void Lib_QuadDraw();

// A vertex array with a static vertex and index buffer bound to it (the
// array stays bound, for the caller to describe the vertex layout).
void Lib_QuadBuffersCreate(uint32_t* layout, uint32_t* vertexBuffer, uint32_t* indexBuffer, const void* vertices,
                           size_t vertexBytes, const void* indices, size_t indexBytes);
// A sampler that clamps to the edge and reads level 0 only.
uint32_t Lib_SamplerMake(int32_t minFilter, int32_t magFilter);
// Compiles one stage from its source parts; 0 on failure, with the log
// written to Lib_DebugPrintf and stderr under `name`.
uint32_t Lib_ShaderCompileParts(const char* name, bool pixel, const char* const* parts, int count);
// Compiles one stage from `body` behind the common preamble (#version, the
// TONE define, ConstBuf, the stage's inputs and outputs).
uint32_t Lib_ShaderCompile(const char* name, bool pixel, int tone, const char* body);
// Links a program and binds its ConstBuf block and texture units; 0 on failure.
uint32_t Lib_ProgramLink(const char* name, uint32_t vertexShader, uint32_t pixelShader);
