#include "engine/movie/movie.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "engine/core/debug_log.h"
#include "engine/core/engine_state.h"
#include "engine/core/heap.h"
#include "engine/files/file_loader.h"
#include "engine/render/renderer.h"
#include "engine/render/sprite.h"
#include "platform/plat_gl.h"
#include "platform/plat_gl_api.h"
#include "platform/plat_movie.h"
#include "platform/plat_msg.h"
#include "platform/plat_time.h"

// process-wide (MovieState, MovieSpriteSlot, MovieLoadSlot, MovieData, MovieDataSize,
// MoviePlayer): made afresh by Lib_MovieInit and Lib_MovieStop
std::atomic<int32_t> MovieState{MOVIE_IDLE};
std::atomic<int32_t> MovieSpriteSlot{-1};
int32_t MovieLoadSlot = -1;
void* MovieData = nullptr;
uint32_t MovieDataSize = 0;
CPlayer* MoviePlayer = nullptr;
// The movies' volume, the player's setting; GSL_StoryRunStateReset puts it back.
std::atomic<float> MovieVolume{1.0f};

// The movie's player record: the platform player (the session) and the state
// that the per-frame step, the event handlers and the story screen's pause
// share. Game thread only, but for the state, which is atomic.
struct CPlayer {
    std::atomic<uint32_t> state{PLAYER_CLOSED};
    int32_t session = -1;       // the platform player, -1 none
    bool displayReady = false;  // the streams are ready: its pictures are shown
    uint64_t serial = 0;        // tags its events; a stale one is dropped

    bool OpenFromMemory(const void* data, uint32_t size);
    bool StartPlayback();
    void CloseSession();
    bool HandleTopologyStatus();
    void HandlePresentationEnded();
    void HandleOtherEvent() {}
};

namespace {

constexpr uint32_t kMovieAlign = 256;
constexpr uint32_t kStopSettleMs = 16;

// process-wide: a serial that only grows
uint64_t g_serial = 0;

bool RealMinimised() { return Plat_MovieWindowMinimised(); }
bool RealForeground() { return Plat_MovieWindowFocused(); }
const MovieWindowOps kRealWindow = {RealMinimised, RealForeground};
// process-wide: a test seam (Lib_MovieWindowOpsSet)
const MovieWindowOps* g_window = &kRealWindow;

// --- presentation --------------------------------------------------------------

const char* const kVertexSource = R"(#version 330 core
out vec2 uv;
void main() {
    vec2 p = vec2((gl_VertexID & 1) != 0 ? 1.0 : -1.0, (gl_VertexID & 2) != 0 ? -1.0 : 1.0);
    uv = vec2(p.x * 0.5 + 0.5, 0.5 - p.y * 0.5);
    gl_Position = vec4(p, 0.0, 1.0);
}
)";
// A BGRA picture is drawn as it is; YUV planes (one byte a texel, the
// chroma planes smaller) go through toRgb after the black level and the
// chroma zero are taken off.
const char* const kFragmentSource = R"(#version 330 core
in vec2 uv;
uniform sampler2D picture;
uniform sampler2D planeU;
uniform sampler2D planeV;
uniform int yuv;
uniform mat3 toRgb;
uniform vec3 offset;
out vec4 colour;
void main() {
    if (yuv == 0) {
        colour = vec4(texture(picture, uv).rgb, 1.0);
        return;
    }
    vec3 c = vec3(texture(picture, uv).r, texture(planeU, uv).r, texture(planeV, uv).r) - offset;
    colour = vec4(clamp(toRgb * c, 0.0, 1.0), 1.0);
}
)";

constexpr int kPlanes = 3;

struct MovieGl {
    uint32_t program, vao, textures[kPlanes];
    int32_t yuvAt, toRgbAt, offsetAt;  // uniform locations
    int32_t format;                    // PlatMovieFormat the textures hold
    int32_t widths[kPlanes], heights[kPlanes];
    uint64_t player, frame;  // serials of what the textures hold
    int32_t matrix;
    bool fullRange;
    float aspect;
};
// process-wide: the movie's textures, made and released with its GL context
MovieGl g_gl;

// The YUV to RGB matrix (rows R, G, B; columns Y, U, V) and the levels taken
// off first, for values in 0..1.
void YuvToRgb(int32_t matrix, bool fullRange, float m[9], float offset[3]) {
    const float kr = matrix == PLAT_MOVIE_BT709 ? 0.2126f : 0.299f;
    const float kb = matrix == PLAT_MOVIE_BT709 ? 0.0722f : 0.114f;
    const float kg = 1.0f - kr - kb;
    const float ys = fullRange ? 1.0f : 255.0f / 219.0f, cs = fullRange ? 1.0f : 255.0f / 224.0f;
    const float rows[9] = {ys, 0.0f,  2.0f * (1.0f - kr) * cs,
                           ys, -2.0f * kb * (1.0f - kb) / kg * cs, -2.0f * kr * (1.0f - kr) / kg * cs,
                           ys, 2.0f * (1.0f - kb) * cs, 0.0f};
    std::copy(rows, rows + 9, m);
    offset[0] = fullRange ? 0.0f : 16.0f / 255.0f;
    offset[1] = offset[2] = 128.0f / 255.0f;
}

uint32_t Shader(uint32_t kind, const char* source) {
    uint32_t s = glCreateShader(kind);
    glShaderSource(s, 1, &source, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        glDeleteShader(s);
        return 0;
    }
    return s;
}

bool GlReady() {
    if (g_gl.program) return true;
    uint32_t vs = Shader(GL_VERTEX_SHADER, kVertexSource), fs = Shader(GL_FRAGMENT_SHADER, kFragmentSource);
    uint32_t program = 0;
    if (vs && fs) {
        program = glCreateProgram();
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glLinkProgram(program);
        GLint ok = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (!ok) {
            glDeleteProgram(program);
            program = 0;
        }
    }
    if (vs) glDeleteShader(vs);
    if (fs) glDeleteShader(fs);
    if (!program) return false;
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "picture"), 0);
    glUniform1i(glGetUniformLocation(program, "planeU"), 1);
    glUniform1i(glGetUniformLocation(program, "planeV"), 2);
    glUseProgram(GLuint(current));
    g_gl.program = program;
    g_gl.yuvAt = glGetUniformLocation(program, "yuv");
    g_gl.toRgbAt = glGetUniformLocation(program, "toRgb");
    g_gl.offsetAt = glGetUniformLocation(program, "offset");
    g_gl.format = -1;
    glGenVertexArrays(1, &g_gl.vao);
    glGenTextures(kPlanes, g_gl.textures);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    for (uint32_t t : g_gl.textures) {
        glBindTexture(GL_TEXTURE_2D, t);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    glBindTexture(GL_TEXTURE_2D, GLuint(bound));
    return true;
}

void GlRelease() {
    if (!g_gl.program) return;
    glDeleteProgram(g_gl.program);
    glDeleteVertexArrays(1, &g_gl.vao);
    glDeleteTextures(kPlanes, g_gl.textures);
    g_gl = MovieGl{};
}

// Loads one plane into texture `i` (the bound texture is left changed).
void UploadPlane(int i, int32_t width, int32_t height, uint32_t stride, bool bgra, const uint8_t* pixels) {
    const GLenum internal = bgra ? GL_RGBA8 : GL_R8, format = bgra ? GL_BGRA : GL_RED;
    glBindTexture(GL_TEXTURE_2D, g_gl.textures[i]);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(stride / (bgra ? 4 : 1)));
    if (width != g_gl.widths[i] || height != g_gl.heights[i] || (i == 0 && bgra != (g_gl.format == PLAT_MOVIE_BGRA)))
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(internal), width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
    else
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, pixels);
    g_gl.widths[i] = width;
    g_gl.heights[i] = height;
}

// Takes the player's newest picture into the textures; false when there is
// none to show.
bool UploadNewest(CPlayer* p) {
    if (!p || p->session < 0 || !p->displayReady) return false;
    PlatMovieFrame f;
    if (!Plat_MovieLockFrame(p->session, &f)) return g_gl.player == p->serial && g_gl.widths[0] > 0;
    const bool bgra = f.format == PLAT_MOVIE_BGRA;
    const bool known = bgra || f.format == PLAT_MOVIE_YUV420 || f.format == PLAT_MOVIE_YUV422;
    const int planes = bgra ? 1 : kPlanes;
    bool present = known && f.width > 0 && f.height > 0;
    for (int i = 0; i < planes; ++i) present = present && f.planes[i] && f.strides[i] > 0;
    if ((g_gl.player != p->serial || g_gl.frame != f.serial) && present) {
        GLint bound = 0, alignment = 4;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        UploadPlane(0, f.width, f.height, f.strides[0], bgra, f.planes[0]);
        if (!bgra) {
            const int32_t cw = (f.width + 1) / 2, ch = f.format == PLAT_MOVIE_YUV420 ? (f.height + 1) / 2 : f.height;
            UploadPlane(1, cw, ch, f.strides[1], false, f.planes[1]);
            UploadPlane(2, cw, ch, f.strides[2], false, f.planes[2]);
        }
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
        glBindTexture(GL_TEXTURE_2D, GLuint(bound));
        g_gl.format = f.format;
        g_gl.matrix = f.matrix;
        g_gl.fullRange = f.fullRange;
        g_gl.player = p->serial;
        g_gl.frame = f.serial;
        g_gl.aspect = f.aspect;
    }
    Plat_MovieUnlockFrame(p->session);
    return g_gl.player == p->serial && g_gl.widths[0] > 0;
}

// The movie's picture fitted into the client area, centred (GL rows from
// the bottom; the bars are symmetric).
void FitViewport(uint32_t cw, uint32_t ch, float aspect) {
    if (!(aspect > 0.0f)) aspect = float(cw) / float(ch);
    int32_t w = int32_t(cw), h = int32_t(std::lround(float(cw) / aspect));
    if (h > int32_t(ch)) {
        h = int32_t(ch);
        w = int32_t(std::lround(float(ch) * aspect));
    }
    w = std::max(1, w);
    h = std::max(1, h);
    glViewport((int32_t(cw) - w) / 2, (int32_t(ch) - h) / 2, w, h);
}

bool WindowMinimised() { return g_window->minimised(); }

void Present() {
    Renderer* r = *Lib_GetRenderer();
    if (!r || !r->context || WindowMinimised()) return;
    Lib_MoviePaint();
    Lib_FramePresent(r);
}

// --- the player's events ----------------------------------------------------------

// On the player's thread: the event goes to the game thread's queue.
void Notify(uint64_t serial, int32_t event) {
    int64_t type = 0;
    if (event == PLAT_MOVIE_EV_READY) type = MOVIE_EVENT_TOPOLOGY_STATUS;
    if (event == PLAT_MOVIE_EV_ENDED) type = MOVIE_EVENT_PRESENTATION_ENDED;
    Plat_GameMsgPost(PlatMsg{kMovieEventMsg, type, int64_t(serial), nullptr});
}

// On the game thread.
void OnEvent(const PlatMsg& msg) {
    CPlayer* p = MoviePlayer;
    if (!p || uint64_t(msg.b) != p->serial) return;  // its player is gone
    switch (msg.a) {
        case MOVIE_EVENT_TOPOLOGY_STATUS: p->HandleTopologyStatus(); break;
        case MOVIE_EVENT_PRESENTATION_ENDED: p->HandlePresentationEnded(); break;
        default: p->HandleOtherEvent(); break;
    }
}

// --- the per-frame step --------------------------------------------------------------

bool RequestPending(int32_t slot) {
    if (slot < 0 || slot >= kFileLoadSlots) return false;
    const FileLoadRequest& r = FileLoadTable.slots[slot];
    return (r.flags.load(std::memory_order_acquire) & 1) && r.state.load(std::memory_order_acquire) == 0;
}

void WaitingForFile() {
    if (RequestPending(MovieLoadSlot)) return;
    Lib_FileLoadEnd(MovieLoadSlot);
    MovieLoadSlot = -1;
    CPlayer* p = new (std::nothrow) CPlayer;
    if (!p) {
        MovieState.store(MOVIE_STOP_REQUESTED);
        return;
    }
    p->serial = ++g_serial;
    MoviePlayer = p;
    // A file that failed, or none, opens nothing: the window stays black
    // until a stop is requested.
    if (!p->OpenFromMemory(MovieData, MovieDataSize)) Lib_DebugPrintf("Error -> Lib_MovieUpdate(open)\n");
    MovieState.store(MOVIE_PLAYING);
}

void Playing() {
    CPlayer* p = MoviePlayer;
    if (p && p->session >= 0) {
        float heard = 0.0f;
        if (!Plat_MovieGetVolume(p->session, &heard)) heard = 0.0f;
        float wanted = MovieVolume.load();
        wanted = wanted > 0.0f ? std::min(wanted, 1.0f) : 0.0f;
        if (WindowMinimised() || !g_window->foreground()) wanted = 0.0f;
        if (heard != wanted) Plat_MovieSetVolume(p->session, wanted);
    }
    Present();
    if (!p) return;
    uint32_t s = p->state.load();
    if (s == PLAYER_PAUSED)
        MovieState.store(MOVIE_PAUSED);
    else if (s == PLAYER_STOPPED)
        MovieState.store(MOVIE_STOP_REQUESTED);
}

}  // namespace

// --- CPlayer -----------------------------------------------------------------------

bool CPlayer::OpenFromMemory(const void* data, uint32_t size) {
    CloseSession();
    session = Plat_MovieOpen(data, size, 0, Notify, serial);
    state.store(session >= 0 ? PLAYER_OPEN_PENDING : PLAYER_CLOSED);
    return session >= 0;
}

bool CPlayer::StartPlayback() {
    if (session < 0 || !Plat_MovieStart(session)) return false;
    state.store(PLAYER_STARTED);
    return true;
}

void CPlayer::CloseSession() {
    displayReady = false;
    if (session >= 0) {
        state.store(PLAYER_CLOSING);
        // A time-out is not an error: the player's thread finishes alone.
        Plat_MovieClose(session, kMovieCloseWaitMs);
        session = -1;
    }
    state.store(PLAYER_CLOSED);
}

bool CPlayer::HandleTopologyStatus() {
    displayReady = true;
    return StartPlayback();
}

void CPlayer::HandlePresentationEnded() { state.store(PLAYER_STOPPED); }

// --- the interface --------------------------------------------------------------------

void Lib_MovieInit() {
    MovieSpriteSlot.store(-1);
    MovieState.store(MOVIE_IDLE);
    MovieLoadSlot = -1;
    MovieData = nullptr;
    MovieDataSize = 0;
    Main_GameMsgHandlerSet(kMovieEventMsg, OnEvent);
}

void Lib_MoviePlay(const char* name, int32_t priority) {
    if (MovieSpriteSlot.load() >= 0) return;
    // With no record free the movie stays inactive and nothing is requested.
    int32_t slot = Lib_SpriteGetFree(0);
    if (slot < 0) return;
    SpriteTable[slot].priority = priority;
    MovieSpriteSlot.store(slot);
    MovieState.store(MOVIE_WAITING_FILE);
    // The loader bounds the name; a name it refuses opens nothing.
    MovieLoadSlot = name ? Lib_FileLoadReq(HEAP_FILE, name, &MovieData, &MovieDataSize, kMovieAlign) : -1;
}

void Lib_MovieUpdate() {
    if (MovieSpriteSlot.load() < 0) return;
    switch (MovieState.load()) {
        case MOVIE_STOP_REQUESTED:
            Lib_MovieStop();
            MovieState.store(MOVIE_IDLE);
            break;
        case MOVIE_WAITING_FILE: WaitingForFile(); break;
        case MOVIE_PLAYING: Playing(); break;
        case MOVIE_PAUSED: Present(); break;
        default: break;
    }
}

void Lib_MovieStop() {
    CPlayer* p = MoviePlayer;
    if (p) {
        uint32_t s = p->state.load();
        if ((s == PLAYER_STARTED || s == PLAYER_PAUSED) && p->session >= 0 && Plat_MovieStop(p->session))
            p->state.store(PLAYER_STOPPED);
        Plat_SleepMs(kStopSettleMs);
        if (p->session >= 0) Plat_MovieSetVolume(p->session, 1.0f);
    }
    int32_t slot = MovieSpriteSlot.load();
    if (SpriteRecord* r = Lib_SpriteAt(slot)) {
        // The record never loads anything: free it as a finished one.
        if (r->flags & SPRITE_IN_USE) {
            r->flags |= SPRITE_READY;
            Lib_SpriteFree(slot);
        }
    }
    MovieSpriteSlot.store(-1);
    if (p) {
        p->CloseSession();
        delete p;
        MoviePlayer = nullptr;
    }
    // A request still pending is withdrawn; one the loader has served has
    // delivered its data, which is freed below with the rest.
    if (MovieLoadSlot >= 0) {
        Lib_FileLoadEnd(MovieLoadSlot);
        MovieLoadSlot = -1;
    }
    if (MovieData) Lib_MemFree(HEAP_FILE, MovieData);
    MovieData = nullptr;
    MovieDataSize = 0;
    if (Plat_GLHasContext()) GlRelease();
}

void Lib_MoviePause() {
    CPlayer* p = MoviePlayer;
    if (MovieSpriteSlot.load() < 0 || MovieState.load() == MOVIE_WAITING_FILE || !p) return;
    if (p->state.load() == PLAYER_STARTED && p->session >= 0 && Plat_MoviePause(p->session))
        p->state.store(PLAYER_PAUSED);
}

void Lib_MovieResume() {
    CPlayer* p = MoviePlayer;
    if (MovieSpriteSlot.load() < 0 || MovieState.load() == MOVIE_WAITING_FILE) return;
    if (p && p->state.load() == PLAYER_PAUSED && p->session >= 0) p->StartPlayback();
    MovieState.store(MOVIE_PLAYING);
}

uint32_t Lib_MoviePlayerState() { return MoviePlayer ? MoviePlayer->state.load() : PLAYER_CLOSED; }

void Lib_MoviePaint() {
    Renderer* r = *Lib_GetRenderer();
    if (!r || !r->context || !GlReady()) return;
    uint32_t cw = r->clientWidth, ch = r->clientHeight;
    if (cw == 0 || ch == 0) Plat_GLDrawableSize(&cw, &ch);
    if (cw == 0 || ch == 0) return;

    GLint framebuffer = 0, program = 0, vao = 0, active = 0, textures[kPlanes] = {}, samplers[kPlanes] = {},
          viewport[4] = {};
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vao);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_VIEWPORT, viewport);
    const GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST), blend = glIsEnabled(GL_BLEND),
                    depth = glIsEnabled(GL_DEPTH_TEST);
    for (int i = kPlanes - 1; i >= 0; --i) {
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &textures[i]);
        glGetIntegerv(GL_SAMPLER_BINDING, &samplers[i]);
    }

    GLfloat clear[4] = {};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);

    glBindFramebuffer(GL_FRAMEBUFFER, r->windowFramebuffer);
    glDisable(GL_SCISSOR_TEST);
    // glClear rather than glClearBuffer: the latter misses a single-buffered
    // window surface (Mesa's headless one).
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (UploadNewest(MoviePlayer)) {
        FitViewport(cw, ch, g_gl.aspect);
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glUseProgram(g_gl.program);
        const bool yuv = g_gl.format != PLAT_MOVIE_BGRA;
        glUniform1i(g_gl.yuvAt, yuv ? 1 : 0);
        if (yuv) {
            float m[9], offset[3];
            YuvToRgb(g_gl.matrix, g_gl.fullRange, m, offset);
            glUniformMatrix3fv(g_gl.toRgbAt, 1, GL_TRUE, m);
            glUniform3fv(g_gl.offsetAt, 1, offset);
        }
        glBindVertexArray(g_gl.vao);
        for (int i = yuv ? kPlanes - 1 : 0; i >= 0; --i) {
            glActiveTexture(GLenum(GL_TEXTURE0 + i));
            glBindTexture(GL_TEXTURE_2D, g_gl.textures[i]);
            glBindSampler(GLuint(i), 0);
        }
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }

    for (int i = kPlanes - 1; i >= 0; --i) {
        glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindSampler(GLuint(i), GLuint(samplers[i]));
        glBindTexture(GL_TEXTURE_2D, GLuint(textures[i]));
    }
    glActiveTexture(GLenum(active));
    glBindVertexArray(GLuint(vao));
    glUseProgram(GLuint(program));
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glClearColor(clear[0], clear[1], clear[2], clear[3]);
    if (scissor) glEnable(GL_SCISSOR_TEST);
    if (blend) glEnable(GL_BLEND);
    if (depth) glEnable(GL_DEPTH_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(framebuffer));
}

void Lib_MovieWindowOpsSet(const MovieWindowOps* ops) { g_window = ops ? ops : &kRealWindow; }
