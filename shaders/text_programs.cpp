#include "shaders/text_programs.h"

#include <cstdio>

#include "engine/core/debug_log.h"
#include "platform/plat_gl_api.h"
#include "shaders/programs/common_glsl.h"
#include "shaders/programs/text_glsl.h"
#include "shaders/programs/vertex_programs.h"
#include "shaders/shader_set.h"

// process-wide: made by Lib_WipeProgramsCreate, released by Lib_WipeProgramsRelease
ShaderProgram WipeShaders;

namespace {

ShaderProgram Build(const char* name, uint32_t vertexShader, uint32_t pixelShader) {
    ShaderProgram p{vertexShader, pixelShader, 0};
    p.program = Lib_ProgramLink(name, vertexShader, pixelShader);
    return p;
}

}  // namespace

uint32_t Lib_TextShaderCompile(const char* name, bool pixel, const char* defines, const char* body) {
    const char* parts[5] = {"#version 330 core\n", defines ? defines : "", kConstBufGlsl,
                            pixel ? kTextPixelInterfaceGlsl : kTextVertexInterfaceGlsl, body};
    return Lib_ShaderCompileParts(name, pixel, parts, 5);
}

bool Lib_TextProgramsCreate(ShaderProgram* coverage, ShaderProgram* picture) {
    *coverage = Build("TextVS + TextCoveragePS", Lib_TextShaderCompile("TextVS", false, nullptr, kTextVS),
                      Lib_TextShaderCompile("TextCoveragePS", true, kTextCoverageDefines, kTextPixelPS));
    *picture = Build("TextVS + TextPicturePS", Lib_TextShaderCompile("TextVS", false, nullptr, kTextVS),
                     Lib_TextShaderCompile("TextPicturePS", true, kTextPictureDefines, kTextPixelPS));
    return coverage->program && picture->program;
}

void Lib_ShaderProgramRelease(ShaderProgram* p) {
    // A program still in use is only marked for deletion, and its name dies
    // later, when another is bound: a caller that saved the current program
    // to bind it back would then bind a dead name.
    GLint current = 0;
    if (p->program) glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    if (p->program && GLuint(current) == p->program) glUseProgram(0);
    if (p->program) glDeleteProgram(p->program);
    if (p->vertexShader) glDeleteShader(p->vertexShader);
    if (p->pixelShader) glDeleteShader(p->pixelShader);
    *p = ShaderProgram{};
}

void Lib_TextVertexLayout() {
    constexpr GLsizei stride = 36;
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(0));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(12));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(28));
}

bool Lib_WipeProgramsCreate() {
    Lib_WipeProgramsRelease();
    WipeShaders = Build("WipeVS + WipePS", Lib_ShaderCompile("WipeVS", false, 0, kFlatVS),
                        Lib_ShaderCompile("WipePS", true, 0, kWipePS));
    if (!WipeShaders.program) return false;
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    glUseProgram(WipeShaders.program);
    glUniform1i(glGetUniformLocation(WipeShaders.program, "colorMap0"), GLint(kUnitWipeImage));
    glUniform1i(glGetUniformLocation(WipeShaders.program, "colorMap1"), GLint(kUnitWipeRule));
    glUseProgram(GLuint(previous));
    return true;
}

void Lib_WipeProgramsRelease() { Lib_ShaderProgramRelease(&WipeShaders); }
