// The web backend's window: the page's canvas, as large as the browser
// window; its picture put there with putImageData; the message box shown
// in the page; the clock.
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/web_native.h"

using namespace tavelin::platform;

namespace tavelin::platform {

bool start_backend() {
    LayerState& s = layer();
    if (s.backend_ready) return true;
    if (!tavelin_page_has_canvas()) {
        std::fprintf(stderr, "cannot open a window: the page has no canvas with the id \"tavelin\"\n");
        return false;
    }
    listen_to_page();
    s.backend_ready = true;
    return true;
}

uint64_t now_ms() { return uint64_t(emscripten_get_now()); }

HWND page_window() {
    for (const auto& w : layer().windows)
        if (!w->destroyed) return w.get();
    return nullptr;
}

NativeWindow* create_native_window(const char*, int, int, int32_t* width, int32_t* height, bool, HICON) {
    // A page has one canvas, and it takes the size of the browser window
    // whatever the program asks for; its icon is the page's.
    if (page_window() != nullptr) {
        std::fprintf(stderr, "cannot open a second window: the page has one canvas\n");
        return nullptr;
    }
    tavelin_page_size(width, height);
    *width = std::min(*width, largest_client_side);
    *height = std::min(*height, largest_client_side);
    tavelin_canvas_resize(*width, *height);
    tavelin_canvas_show(0);
    // The page's one window record lives as long as the page.
    static NativeWindow page_canvas;
    page_canvas = NativeWindow{};
    return &page_canvas;
}

void hide_native_window(NativeWindow* native) {
    tavelin_canvas_show(0);
    native->rgba = {};
}

void follow_page_size(HWND hwnd) {
    if (live_window(hwnd) == nullptr) return;
    int32_t width = 0, height = 0;
    tavelin_page_size(&width, &height);
    width = std::min(width, largest_client_side);
    height = std::min(height, largest_client_side);
    tavelin_canvas_resize(width, height);
    resize_client(hwnd, width, height, SIZE_RESTORED);
}

void present(HWND hwnd) {
    if (live_window(hwnd) == nullptr || !hwnd->visible) return;
    const PixelBuffer& b = hwnd->backing;
    if (b.width <= 0 || b.height <= 0) return;
    std::vector<uint8_t>& rgba = hwnd->native->rgba;
    rgba.resize(b.bgrx.size());
    for (size_t i = 0; i < b.bgrx.size(); i += 4) {
        rgba[i] = b.bgrx[i + 2];
        rgba[i + 1] = b.bgrx[i + 1];
        rgba[i + 2] = b.bgrx[i];
        rgba[i + 3] = 0xFF;
    }
    tavelin_put_image(rgba.data(), b.width, b.height);
    tavelin_window_text(take_drawn_text().c_str());
}

}  // namespace tavelin::platform

BOOL WINAPI SetWindowPos(HWND hwnd, HWND, int, int, int, int, UINT) {
    // The window keeps the browser window's size; like Windows, the call
    // still tells the window its size.
    if (live_window(hwnd) == nullptr) return FALSE;
    const int32_t width = hwnd->client_width, height = hwnd->client_height;
    follow_page_size(hwnd);
    if (width == hwnd->client_width && height == hwnd->client_height) send_size(hwnd, SIZE_RESTORED);
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hwnd, int) {
    if (live_window(hwnd) == nullptr) return FALSE;
    const BOOL was_visible = hwnd->visible ? TRUE : FALSE;
    tavelin_canvas_show(1);
    hwnd->visible = true;
    if (!was_visible) InvalidateRect(hwnd, nullptr, TRUE);
    return was_visible;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    constexpr int id_ok = 1;
    text = text ? text : "";
    caption = caption ? caption : "";
    std::fprintf(stderr, "%s: %s\n", caption, text);
    tavelin_show_message(caption, text);
    return id_ok;
}
