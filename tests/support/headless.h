// Test hooks into the SDL-backed window layer (not part of the Win32 API,
// and not part of the program: only tests and fuzzers link them):
// read back what a window shows and feed it input as if a user gave it.
// Run with SDL_VIDEODRIVER=dummy to need no display at all. The input goes
// through the same translation into window messages as real input; it is
// fetched by the next GetMessageA.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/pixel_buffer.h"
#include "platform/win32.h"

namespace tavelin::headless {

// The client area as last painted (a copy).
platform::PixelBuffer client_pixels(HWND hwnd);

// False once the window has been destroyed.
bool window_exists(HWND hwnd);

enum MouseButton : uint32_t { no_button = 0, left_button = 1, middle_button = 2, right_button = 4 };

// The mouse moved to client position (x, y) with these buttons held.
void move_mouse(HWND hwnd, int32_t x, int32_t y, uint32_t buttons);
// The left button went down (or, with down false, up) at client position
// (x, y).
void press_left_button(HWND hwnd, int32_t x, int32_t y, bool down);
// A key went down; `key_name` is SDL's name for it ("Tab", "Return",
// "Space", "A", ...). False when the name is unknown.
bool press_key(HWND hwnd, const char* key_name, bool repeat = false);
// The user asked to close the window (its close button).
void close_window(HWND hwnd);
// The user resized the window so that its client area has this size.
void resize_window(HWND hwnd, int32_t width, int32_t height);
// The window system reports a new size the layer never asked for (a window
// manager that ignores the largest size, xdotool windowsize).
void report_window_size(HWND hwnd, int32_t width, int32_t height);
// The size the window system was last asked to give the window.
void window_system_size(HWND hwnd, int32_t* width, int32_t* height);
void minimize_window(HWND hwnd);
void restore_window(HWND hwnd);

}  // namespace tavelin::headless
