#include "engine/render/wipe_draw.h"

#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"
#include "shaders/text_programs.h"

bool Lib_WipeQuadDraw(const ConstBuf& cb, uint32_t image, uint32_t rule, uint32_t sampler) {
    Renderer* renderer = *Lib_GetRenderer();
    if (!renderer || !WipeShaders.program || !image || !rule) return false;
    glUseProgram(WipeShaders.program);
    Lib_BlendSet(renderer, 0);
    glActiveTexture(GL_TEXTURE0 + kUnitWipeImage);
    glBindTexture(GL_TEXTURE_2D, image);
    glBindSampler(kUnitWipeImage, sampler);
    glActiveTexture(GL_TEXTURE0 + kUnitWipeRule);
    glBindTexture(GL_TEXTURE_2D, rule);
    glBindSampler(kUnitWipeRule, sampler);
    glActiveTexture(GL_TEXTURE0);
    Lib_ConstBufUpload(renderer, cb);
    Lib_QuadDraw();
    return true;
}

void Lib_WipeTexRelease(uint32_t* texture) {
    if (!texture || !*texture) return;
    GLuint name = *texture;
    glDeleteTextures(1, &name);
    *texture = 0;
    --SpriteLiveObjects;
    Lib_RenderTouch();
}
