#include "engine/text/glyph_cache.h"

#include <cstdio>
#include <cstring>

#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/files/message_table.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "engine/text/font.h"
#include "engine/text/font_window.h"
#include "engine/text/text_layout.h"
#include "engine/text/text_object.h"
#include "platform/plat_font_window.h"
#include "platform/plat_gl_api.h"
#include "shaders/shader_set.h"

// process-wide (TextRenderState, GlyphCache): made afresh by Lib_FontInit
TextRenderStateT TextRenderState{TextLanguage};
GlyphCacheEntry GlyphCache[kGlyphCacheEntries];

namespace {

// Atlas header: u32 next-free offset, then one u32 record offset per cache
// entry (0: no record).
uint32_t* AtlasNext() { return reinterpret_cast<uint32_t*>(TextRenderState.atlas); }
uint32_t* AtlasOffsets() { return reinterpret_cast<uint32_t*>(TextRenderState.atlas) + 1; }

uint8_t* AtlasRecord(int32_t index) {
    if (!TextRenderState.atlas) return nullptr;
    uint32_t at = AtlasOffsets()[index];
    return at ? TextRenderState.atlas + at : nullptr;
}

uint32_t GlCreate(uint32_t width, uint32_t height, uint32_t format, const void* pixels) {
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (format == kGlyphFormatBgra)
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(width), GLsizei(height), 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    else
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, GLsizei(width), GLsizei(height), 0, GL_RED, GL_UNSIGNED_BYTE, pixels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    Lib_RenderTouch();
    return tex;
}

void GlRelease(uint32_t texture) {
    GLuint t = texture;
    glDeleteTextures(1, &t);
    Lib_RenderTouch();
}

constexpr GlyphTextureOps kGlOps = {GlCreate, GlRelease};
// process-wide: a test seam (Lib_GlyphTextureOpsSet)
const GlyphTextureOps* g_ops = &kGlOps;

void ReleaseEntry(GlyphCacheEntry* e) {
    if (e->texture) {
        // A glyph draw queued earlier in this layout pass may still name the
        // texture (a full cache rebuilds entries mid-pass): draw the queue
        // first, or that draw would read a deleted or reused name.
        Lib_TextOps().flush();
        g_ops->release(e->texture);
    }
    e->texture = e->view = 0;
}

// Style 2 is the main face unless a different user face is chosen.
uint8_t ResolveStyle(uint32_t style) {
    if (style == 2 && (!FontUserFace[0] || std::strcmp(FontUserFace, FontDefaultFace) == 0)) return 0;
    return uint8_t(style);
}

bool Ready() { return TextRenderState.images[0] && TextRenderState.images[1] && TextRenderState.images[2]; }

// An add-glyph is the n-th 64×64 B8G8R8A8 cell after the picture's header;
// one that lies (even partly) outside the picture is nothing.
bool AddGlyphInPicture(int32_t n) {
    return n < kGlyphCacheFirstKey &&
           kAddGlyphHeader + uint64_t(n + 1) * kAddGlyphCellBytes <= TextRenderState.sizes[1];
}

GlyphInfo AddGlyphInfo(int32_t n) {
    GlyphInfo g{};
    g.originX = 8;
    g.originY = -64;
    g.boxWidth = g.boxHeight = 64;
    g.advance = 72;
    g.bitmapWidth = g.bitmapHeight = 64;
    g.bitmapBytes = int32_t(kAddGlyphCellBytes);
    g.format = kGlyphFormatBgra;
    g.uExtent = g.vExtent = 1.0f;
    g.view = GlyphCache[n].view;
    return g;
}

GlyphInfo InfoFromMetrics(const GlyphMetrics& m, uint32_t view) {
    GlyphInfo g{};
    g.originX = m.originX;
    g.originY = -m.originY;
    g.boxWidth = m.boxWidth;
    g.boxHeight = m.boxHeight;
    g.advance = m.advance;
    g.bitmapWidth = m.bitmapWidth;
    g.bitmapHeight = m.bitmapHeight;
    g.bitmapBytes = int32_t(m.bitmapWidth) * m.bitmapHeight;
    g.style = m.style;
    g.format = kGlyphFormatR8;
    g.uExtent = m.bitmapWidth ? float(m.boxWidth) / float(m.bitmapWidth) : 0.0f;
    g.vExtent = m.bitmapHeight ? float(m.boxHeight) / float(m.bitmapHeight) : 0.0f;
    g.view = view;
    return g;
}

void SelectStyle(uint8_t style) {
    if (FontSelectedStyle != style) Lib_FontSelect(style);
}

// Text quad: v = 1 at the bottom edge; colours 0.
constexpr TextVertex kTextQuad[4] = {
    {{-0.5f, -0.5f, 0.0f}, {0, 0, 0, 0}, {0.0f, 1.0f}},
    {{0.5f, -0.5f, 0.0f}, {0, 0, 0, 0}, {1.0f, 1.0f}},
    {{-0.5f, 0.5f, 0.0f}, {0, 0, 0, 0}, {0.0f, 0.0f}},
    {{0.5f, 0.5f, 0.0f}, {0, 0, 0, 0}, {1.0f, 0.0f}},
};
constexpr uint16_t kTextIndices[6] = {0, 1, 2, 1, 3, 2};

void MakeGlObjects(TextRenderStateT* s) {
    if (!Lib_TextProgramsCreate(&s->coverage, &s->picture))
        std::fprintf(stderr, "vn: the text programs could not be built; text is not drawn\n");
    Lib_QuadBuffersCreate(&s->inputLayout, &s->quadVertexBuffer, &s->quadIndexBuffer, kTextQuad, sizeof kTextQuad,
                          kTextIndices, sizeof kTextIndices);
    Lib_TextVertexLayout();
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    Lib_SamplerCreate(0, &s->sampler);  // linear, clamped, level 0 only
}

void ReleaseGlObjects(TextRenderStateT* s) {
    Lib_ShaderProgramRelease(&s->coverage);
    Lib_ShaderProgramRelease(&s->picture);
    if (s->quadVertexBuffer) glDeleteBuffers(1, &s->quadVertexBuffer);
    if (s->quadIndexBuffer) glDeleteBuffers(1, &s->quadIndexBuffer);
    if (s->inputLayout) glDeleteVertexArrays(1, &s->inputLayout);
    Lib_SamplerDelete(&s->sampler);
    s->quadVertexBuffer = s->quadIndexBuffer = s->inputLayout = s->sampler = 0;
}

}  // namespace

bool Lib_FontInit() {
    TextRenderStateT* s = &TextRenderState;
    Lib_TextTableClear();
    Lib_FontStateClear();
    // The font-settings window reports back through the game thread's queue.
    Main_GameMsgHandlerSet(kPlatMsgFontWindow, [](const PlatMsg& msg) { Lib_FontAppWndProc(msg); });
    InterfaceLanguage = Lib_LanguageGet();
    if (s->language.load(std::memory_order_relaxed) < 0) s->language.store(Lib_LanguageGet());
    for (int i = 0; i < kFontImages; ++i) {
        s->images[i] = nullptr;
        s->sizes[i] = 0;
    }
    s->atlas = nullptr;
    std::memset(GlyphCache, 0, sizeof GlyphCache);
    if (!Lib_GlyphAtlasReset()) return false;
    MakeGlObjects(s);
    s->ready = 1;
    return true;
}

void Lib_FontEnd() {
    TextRenderStateT* s = &TextRenderState;
    for (int32_t i = 0; i < kTextSlots; ++i) Lib_TextDel(i);
    Lib_TextDrawRelease();
    if (s->atlas) Lib_MemFree(HEAP_GRAPHICS, s->atlas);
    s->atlas = nullptr;
    ReleaseGlObjects(s);
    for (GlyphCacheEntry& e : GlyphCache) {
        ReleaseEntry(&e);
        e = GlyphCacheEntry{};
    }
    for (int i = 0; i < kFontImages; ++i) {
        if (s->images[i]) Lib_MemFree(HEAP_GRAPHICS, s->images[i]);
        s->images[i] = nullptr;
        s->sizes[i] = 0;
    }
    Lib_FontRelease();
    s->ready = 0;
}

bool Lib_GlyphAtlasReset() {
    TextRenderStateT* s = &TextRenderState;
    if (!s->atlas) s->atlas = static_cast<uint8_t*>(Lib_MemAlloc(HEAP_GRAPHICS, kGlyphAtlasSize, 256));
    if (!s->atlas) return false;
    *AtlasNext() = kGlyphAtlasFirstRecord;
    Lib_RenderTouch();
    std::memset(AtlasOffsets(), 0, sizeof(uint32_t) * kGlyphCacheEntries);
    return true;
}

int32_t Lib_GlyphSlotGet(uint32_t codePoint, uint8_t style) {
    for (;;) {
        for (int32_t i = kGlyphCacheFirstKey; i < kGlyphCacheEntries; ++i) {
            GlyphCacheEntry& e = GlyphCache[i];
            if (e.codePoint == 0) {
                e.codePoint = codePoint;
                e.style = style;
                return i;
            }
            if (e.codePoint == codePoint && e.style == style) return i;
        }
        // Full: every key goes (textures stay until their entry is rebuilt).
        for (int32_t i = kGlyphCacheFirstKey; i < kGlyphCacheEntries; ++i) {
            GlyphCache[i].codePoint = 0;
            GlyphCache[i].style = 0;
        }
        Lib_GlyphAtlasReset();
    }
}

GlyphInfo Lib_GlyphInfoGet(uint32_t codePoint, int32_t addIndex, uint32_t style) {
    uint8_t st = ResolveStyle(style);
    if (!Ready()) return GlyphInfo{};
    if (addIndex >= 0) return AddGlyphInPicture(addIndex) ? AddGlyphInfo(addIndex) : GlyphInfo{};
    int32_t index = Lib_GlyphSlotGet(codePoint, st);
    GlyphMetrics m;
    if (const uint8_t* rec = AtlasRecord(index)) {
        std::memcpy(&m, rec, sizeof m);
    } else {
        SelectStyle(st);
        Lib_GlyphOutlineGet(0, codePoint);
        Lib_GlyphParamGet(&m);
    }
    return InfoFromMetrics(m, GlyphCache[index].view);
}

GlyphInfo Lib_GlyphMake(uint32_t codePoint, int32_t addIndex, uint32_t style) {
    uint8_t st = ResolveStyle(style);
    if (!Ready() || !TextRenderState.atlas) return GlyphInfo{};
    if (addIndex >= 0) {
        if (!AddGlyphInPicture(addIndex)) return GlyphInfo{};
        const uint8_t* pixels =
            static_cast<const uint8_t*>(TextRenderState.images[1]) + kAddGlyphHeader + uint64_t(addIndex) * kAddGlyphCellBytes;
        GlyphCacheEntry& e = GlyphCache[addIndex];
        if (!e.view) {
            ReleaseEntry(&e);
            e.texture = e.view = g_ops->create(64, 64, kGlyphFormatBgra, pixels);
        }
        GlyphInfo g = AddGlyphInfo(addIndex);
        g.pixels = pixels;
        return g;
    }
    int32_t index = Lib_GlyphSlotGet(codePoint, st);
    GlyphCacheEntry& e = GlyphCache[index];
    GlyphMetrics m;
    if (const uint8_t* rec = AtlasRecord(index)) {
        std::memcpy(&m, rec, sizeof m);
        GlyphInfo g = InfoFromMetrics(m, e.view);
        g.pixels = rec + 256;
        return g;
    }
    ReleaseEntry(&e);
    SelectStyle(st);
    Lib_GlyphOutlineGet(1, codePoint);
    Lib_GlyphParamGet(&m);
    if (!m.bitmap) return GlyphInfo{};  // the bitmap could not be allocated
    uint32_t bytes = uint32_t(m.bitmapWidth) * m.bitmapHeight;
    uint32_t need = 256 + ((bytes + 255) & ~255u);
    uint32_t* next = AtlasNext();
    *next = (*next + 255) & ~255u;
    if (uint64_t(*next) + need > kGlyphAtlasSize) Lib_GlyphAtlasReset();
    uint8_t* rec = TextRenderState.atlas + *next;
    AtlasOffsets()[index] = *next;
    *next += need;
    std::memcpy(rec + 256, m.bitmap, bytes);
    m.bitmap = rec + 256;
    std::memcpy(rec, &m, sizeof m);
    e.texture = e.view = g_ops->create(m.bitmapWidth, m.bitmapHeight, kGlyphFormatR8, rec + 256);
    GlyphInfo g = InfoFromMetrics(m, e.view);
    g.pixels = rec + 256;
    return g;
}

void Lib_GlyphTextureOpsSet(const GlyphTextureOps* ops) { g_ops = ops ? ops : &kGlOps; }
