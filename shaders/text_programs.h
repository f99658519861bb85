// The text programs (TextVS with TextCoveragePS for 8-bit glyphs and with
// TextPicturePS for picture glyphs) and the wipe pair (WipeVS, built from the
// FlatVS source, with WipePS). All read ConstBuf at binding 0.
//
// Text: m_crop the texture rectangle; m_rgba the text colour; m_work[0].xy
// the glyph size; m_work[1].rgb the outline colour, .w the outline switch;
// m_work[2].x the italic shear angle (0 off), .y the thickening switch, .zw
// the outline step scale.
// Wipe: colorMap0 (unit 0) the image revealed, colorMap1 (unit 1) the rule
// (alpha); m_work[0].x invert, .y mirror u, .z mirror v (each exactly 1.0),
// .w the threshold t; m_work[1].z the edge alpha, .w reversed ramp and the
// alpha above t.
#pragma once

#include <cstdint>

inline constexpr uint32_t kUnitWipeImage = 0;
inline constexpr uint32_t kUnitWipeRule = 1;

struct ShaderProgram {
    uint32_t vertexShader;
    uint32_t pixelShader;
    uint32_t program;  // 0 when it failed to build: skip the draw
};

// Compiles a text-program stage (36-byte vertex with a four-component
// colour) from define lines (may be null) and a body; 0 on failure, with the
// log on stderr and in the debug log.
uint32_t Lib_TextShaderCompile(const char* name, bool pixel, const char* defines, const char* body);
// Builds TextVS with TextCoveragePS (coverage) and, from a second TextVS
// object, with TextPicturePS (picture). False when either failed.
bool Lib_TextProgramsCreate(ShaderProgram* coverage, ShaderProgram* picture);
void Lib_ShaderProgramRelease(ShaderProgram* p);
// Binds a text vertex array's attributes to the currently bound buffer:
// POSITION at 0, COLOR (4 floats) at 12, TEXCOORD at 28 of a 36-byte vertex.
void Lib_TextVertexLayout();

// The wipe pair, made by the main initialisation and bound by the wipe draw.
extern ShaderProgram WipeShaders;
bool Lib_WipeProgramsCreate();
void Lib_WipeProgramsRelease();
