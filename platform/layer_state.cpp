#include "platform/layer_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tavelin::platform {

LayerState& layer() {
    static LayerState state;
    return state;
}

bool ensure_sdl() {
    LayerState& s = layer();
    if (s.sdl_ready) return true;
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
    s.sdl_ready = true;
    return true;
}

HWND live_window(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    for (const auto& w : layer().windows)
        if (w.get() == hwnd) return w->destroyed ? nullptr : hwnd;
    return nullptr;
}

HWND window_of_sdl_id(uint32_t id) {
    for (const auto& w : layer().windows)
        if (!w->destroyed && w->sdl_id == id) return w.get();
    return nullptr;
}

HDC live_dc(HDC dc) {
    const auto& dcs = layer().dcs;
    return dc != nullptr && std::find(dcs.begin(), dcs.end(), dc) != dcs.end() ? dc : nullptr;
}

HBITMAP live_bitmap(const void* object) {
    for (HBITMAP b : layer().bitmaps)
        if (b == object) return b;
    return nullptr;
}

RECT intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (is_empty(r)) r = RECT{0, 0, 0, 0};
    return r;
}

RECT bounding_union(const RECT& a, const RECT& b) {
    if (is_empty(a)) return b;
    if (is_empty(b)) return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

bool is_empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

void fill(PixelBuffer& buffer, RECT area, uint8_t blue, uint8_t green, uint8_t red) {
    area = intersect(area, RECT{0, 0, buffer.width, buffer.height});
    for (int32_t y = area.top; y < area.bottom; y++)
        for (int32_t x = area.left; x < area.right; x++) {
            uint8_t* p = buffer.pixel(x, y);
            p[0] = blue;
            p[1] = green;
            p[2] = red;
            p[3] = 0xFF;
        }
}

void resize_keeping_picture(PixelBuffer& buffer, int32_t width, int32_t height) {
    PixelBuffer next;
    next.width = std::max(width, 0);
    next.height = std::max(height, 0);
    next.bgrx.assign(size_t(4) * size_t(next.width) * size_t(next.height), 0xFF);
    const int32_t w = std::min(buffer.width, next.width);
    const int32_t h = std::min(buffer.height, next.height);
    // A picture of zero width has rows but no storage: nothing to copy,
    // and pixel() on it would index an empty vector.
    if (w > 0)
        for (int32_t y = 0; y < h; y++)
            std::copy_n(buffer.pixel(0, y), size_t(4) * size_t(w), next.pixel(0, y));
    buffer = std::move(next);
}

}  // namespace tavelin::platform
