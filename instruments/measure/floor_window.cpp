// The floor the desktop player is measured against: a bare SDL2 program that opens a
// 1600 x 900 window, shows one BMP through the window surface, and waits for Space or a
// close without using the processor. The player takes the same path to the screen.
// With --poll it waits as the player's loop must: it takes the pending events and sleeps
// 16 ms, over and over, which is what that loop costs before it does any work.
//
// Usage: floor_window IMAGE.bmp [TITLE [--poll]]
#include <SDL.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: floor_window IMAGE.bmp [TITLE]\n");
        return 2;
    }
    // As the player does: no OpenGL path behind the window surface.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "floor_window: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Window* window = SDL_CreateWindow(argc > 2 ? argv[2] : "floor", SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, 1600, 900, SDL_WINDOW_SHOWN);
    SDL_Surface* image = SDL_LoadBMP(argv[1]);
    SDL_Surface* surface = window != nullptr ? SDL_GetWindowSurface(window) : nullptr;
    if (image == nullptr || surface == nullptr) {
        fprintf(stderr, "floor_window: %s\n", SDL_GetError());
        return 1;
    }
    SDL_BlitSurface(image, nullptr, surface, nullptr);
    SDL_UpdateWindowSurface(window);
    bool poll = argc > 3 && strcmp(argv[3], "--poll") == 0;
    bool waiting = true;
    while (waiting) {
        SDL_Event event;
        if (poll ? SDL_PollEvent(&event) == 0 : SDL_WaitEvent(&event) == 0) {
            SDL_Delay(16);
            continue;
        }
        if (event.type == SDL_QUIT ||
            (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_SPACE)) {
            waiting = false;
        }
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED) {
            SDL_UpdateWindowSurface(window);
        }
    }
    SDL_FreeSurface(image);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
