#include "headless.h"

#include "platform/sdl_native.h"

using namespace tavelin::platform;

namespace tavelin::headless {

namespace {

void push_window_event(HWND hwnd, Uint8 kind, int32_t data1 = 0, int32_t data2 = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = hwnd->native->sdl_id;
    e.window.event = kind;
    e.window.data1 = data1;
    e.window.data2 = data2;
    SDL_PushEvent(&e);
}

}  // namespace

PixelBuffer client_pixels(HWND hwnd) {
    if (live_window(hwnd) == nullptr) return PixelBuffer{};
    return hwnd->backing;
}

bool window_exists(HWND hwnd) { return live_window(hwnd) != nullptr; }

void move_mouse(HWND hwnd, int32_t x, int32_t y, uint32_t buttons) {
    if (live_window(hwnd) == nullptr) return;
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = hwnd->native->sdl_id;
    e.motion.x = x;
    e.motion.y = y;
    if (buttons & left_button) e.motion.state |= SDL_BUTTON_LMASK;
    if (buttons & middle_button) e.motion.state |= SDL_BUTTON_MMASK;
    if (buttons & right_button) e.motion.state |= SDL_BUTTON_RMASK;
    SDL_PushEvent(&e);
}

void press_left_button(HWND hwnd, int32_t x, int32_t y, bool down) {
    if (live_window(hwnd) == nullptr) return;
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = hwnd->native->sdl_id;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
}

bool press_key(HWND hwnd, const char* key_name, bool repeat) {
    if (live_window(hwnd) == nullptr) return false;
    const SDL_Keycode key = SDL_GetKeyFromName(key_name);
    if (key == SDLK_UNKNOWN) return false;
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.windowID = hwnd->native->sdl_id;
    e.key.state = SDL_PRESSED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.sym = key;
    e.key.keysym.scancode = SDL_GetScancodeFromKey(key);
    SDL_PushEvent(&e);
    return true;
}

void close_window(HWND hwnd) {
    if (live_window(hwnd) != nullptr) push_window_event(hwnd, SDL_WINDOWEVENT_CLOSE);
}

void resize_window(HWND hwnd, int32_t width, int32_t height) {
    if (live_window(hwnd) != nullptr) SDL_SetWindowSize(hwnd->native->sdl, width, height);
}

void report_window_size(HWND hwnd, int32_t width, int32_t height) {
    if (live_window(hwnd) != nullptr) push_window_event(hwnd, SDL_WINDOWEVENT_SIZE_CHANGED, width, height);
}

void window_system_size(HWND hwnd, int32_t* width, int32_t* height) {
    *width = *height = 0;
    if (live_window(hwnd) != nullptr) SDL_GetWindowSize(hwnd->native->sdl, width, height);
}

void minimize_window(HWND hwnd) {
    if (live_window(hwnd) != nullptr) push_window_event(hwnd, SDL_WINDOWEVENT_MINIMIZED);
}

void restore_window(HWND hwnd) {
    if (live_window(hwnd) != nullptr) push_window_event(hwnd, SDL_WINDOWEVENT_RESTORED);
}

}  // namespace tavelin::headless
