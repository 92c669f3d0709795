// The web backend's own records and calls: the window is the page's one
// canvas (id "tavelin"), sized to the browser window; platform/web_page.js
// does what only the page can. Internal to platform/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/native.h"

extern "C" {
int tavelin_page_has_canvas();
double tavelin_page_scale();
void tavelin_page_size(int32_t* width, int32_t* height);
void tavelin_canvas_origin(int32_t* x, int32_t* y);
void tavelin_canvas_resize(int32_t width, int32_t height);
void tavelin_canvas_show(int visible);
void tavelin_put_image(const uint8_t* rgba, int32_t width, int32_t height);
void tavelin_text_line(const char* text, int32_t size, int bold, int32_t* width, int32_t* height,
                       int32_t* line_height);
void tavelin_text_coverage(uint8_t* out);
void tavelin_window_text(const char* text);
void tavelin_show_message(const char* caption, const char* text);
void tavelin_window_closed(int code);
}

namespace tavelin::platform {

constexpr char canvas_selector[] = "#tavelin";

struct NativeWindow {
    // The picture as the canvas takes it: red, green, blue, alpha.
    std::vector<uint8_t> rgba;
};

// The one live window, or null.
HWND page_window();
// Gives the window the browser window's size (WM_SIZE when it changed).
void follow_page_size(HWND hwnd);
// Starts listening to the page's mouse, touch, key and resize events.
void listen_to_page();
// The lines of text drawn since the last call, one per line.
std::string take_drawn_text();

}  // namespace tavelin::platform
