// Starting SDL's video once, with the hints the window layer relies on, and
// refusing the in-memory drivers unless asked for by name.
#include <cstdio>
#include <cstring>

#include "platform/sdl_native.h"

namespace tavelin::platform {

bool start_backend() {
    LayerState& s = layer();
    if (s.backend_ready) return true;
    // Ctrl+C in the terminal must still end the program at once, even while
    // a long computation keeps the message loop from running.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // The picture is copied to the window system's own surface: no GPU
    // renderer, which would also make SDL replace the window when it is
    // first painted.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // A window program does not hold off the screen saver unless it asks to.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // Closing is WM_CLOSE and WM_DESTROY; SDL's own quit event is not used.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "cannot open a window: %s\n", SDL_GetError());
        return false;
    }
    // When no display answers, SDL falls back to drivers that draw into
    // memory: the program would run on with a window nobody can see. Those
    // only when asked for by name (headless runs).
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    const bool in_memory = driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
    if (in_memory && !(asked && std::strstr(asked, driver))) {
        std::fprintf(stderr, "cannot open a window: no display could be reached\n");
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    s.backend_ready = true;
    return true;
}

uint64_t now_ms() { return SDL_GetTicks64(); }

HWND window_of_sdl_id(uint32_t id) {
    for (const auto& w : layer().windows)
        if (!w->destroyed && w->native->sdl_id == id) return w.get();
    return nullptr;
}

}  // namespace tavelin::platform
