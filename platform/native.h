// What each backend of the window layer supplies to its shared part
// (layer_state.h): the native window, the clock, presentation and text.
// The SDL backend (sdl_*.cpp) serves the desktop, the web backend
// (web_*.cpp) a page's canvas. Each also provides the Win32 calls that are
// all native: GetMessageA, SetWindowPos, ShowWindow and MessageBoxA.
// Internal to platform/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/layer_state.h"

namespace tavelin::platform {

// Starts the backend on first use. False (with the reason on standard
// error) when there is nowhere to open windows.
bool start_backend();

// A hidden native window with a client area of about width x height
// (already limited to largest_client_side), resizable or not, showing the
// class's icon where the backend shows one; the client size it really got
// in *width and *height. Null (with the reason on standard error) when it
// cannot be made.
NativeWindow* create_native_window(const char* title, int x, int y, int32_t* width, int32_t* height,
                                   bool resizable, HICON icon);
// Hides a window that was destroyed; the record stays.
void hide_native_window(NativeWindow* native);

// Copies the window's backing picture to the screen.
void present(HWND hwnd);

// Milliseconds from some fixed start, never going back.
uint64_t now_ms();

// One line of text as the backend's sans-serif font draws it: how much ink
// each pixel of a width x height cell holds (0 none, 255 full), rows top
// down; `line_height` is the distance from one line to the next.
struct TextLine {
    int32_t width = 0;
    int32_t height = 0;
    int32_t line_height = 0;
    std::vector<uint8_t> coverage;
};
// False (said once on standard error) when the backend has no font; the
// line is then not drawn. An empty line gives a cell of width 0.
bool render_text_line(const std::string& line, int32_t pixel_size, bool bold, TextLine* out);

}  // namespace tavelin::platform
