// The SDL backend's own records and calls (the desktop's window layer
// outside Windows). Internal to platform/; the tests' input hooks use it.
#pragma once

#include <SDL.h>

#include "platform/native.h"

namespace tavelin::platform {

struct NativeWindow {
    SDL_Window* sdl = nullptr;
    uint32_t sdl_id = 0;
    // The outer place and size SetWindowPos asked for; asked again when the
    // window is first shown, since only then is the frame known, and X11
    // places a window anew when it is mapped.
    bool placed = false;
    int32_t placed_x = 0, placed_y = 0, placed_width = 0, placed_height = 0;
    UINT placed_flags = 0;
};

HWND window_of_sdl_id(uint32_t id);
// Gives the window the picture of `icon` when it has one (the program's
// own, resource 1); others leave the window system's default.
void show_icon(SDL_Window* window, HICON icon);
// Turns one SDL event into queued messages or immediate sends.
void translate_event(const SDL_Event& event);
uint32_t virtual_key_of(SDL_Keycode key);

}  // namespace tavelin::platform
