// The baseline of the idle benchmark (bench/idle_cpu.sh): an SDL window with
// a GL context that draws nothing and only pumps its events, as the engine's
// UI thread does, for the given number of seconds.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "idle_window: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_Window* window = SDL_CreateWindow("idle", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 1280, 720,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!window) {
        std::fprintf(stderr, "idle_window: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    SDL_GLContext context = SDL_GL_CreateContext(window);
    const Uint64 end = SDL_GetTicks64() + Uint64(seconds) * 1000;
    bool quit = false;
    while (!quit && SDL_GetTicks64() < end) {
        SDL_Event ev;
        if (!SDL_PollEvent(&ev)) {
            SDL_Delay(16);  // the engine's pump looks again after 16 ms
            continue;
        }
        if (ev.type == SDL_QUIT) quit = true;
    }
    if (context) SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
