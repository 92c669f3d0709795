// Window classes, windows and their life: creation, resizing, closing and
// the default handling of messages. The backend makes the native window,
// places and shows it (platform/native.h).
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/native.h"

using namespace tavelin::platform;

namespace {

constexpr int32_t default_width = 640;
constexpr int32_t default_height = 480;

const WindowClass* find_class(const char* name) {
    if (name == nullptr) return nullptr;
    for (const WindowClass& c : layer().classes)
        if (strcasecmp(c.name.c_str(), name) == 0) return &c;
    return nullptr;
}

}  // namespace

namespace tavelin::platform {

void send_size(HWND hwnd, WPARAM kind) {
    const LPARAM size = LPARAM((uint32_t(uint16_t(hwnd->client_height)) << 16) |
                               uint32_t(uint16_t(hwnd->client_width)));
    hwnd->proc(hwnd, WM_SIZE, kind, size);
}

void resize_client(HWND hwnd, int32_t width, int32_t height, WPARAM kind) {
    width = std::clamp(width, 0, largest_client_side);
    height = std::clamp(height, 0, largest_client_side);
    if (width == hwnd->client_width && height == hwnd->client_height) return;
    hwnd->client_width = width;
    hwnd->client_height = height;
    resize_keeping_picture(hwnd->backing, width, height);
    // A resized window is repainted whole, on an erased background.
    hwnd->has_invalid = false;
    InvalidateRect(hwnd, nullptr, TRUE);
    send_size(hwnd, kind);
}

void destroy_window(HWND hwnd) {
    if (live_window(hwnd) == nullptr) return;
    hwnd->proc(hwnd, WM_DESTROY, 0, 0);
    hwnd->destroyed = true;
    hwnd->timers.clear();
    hwnd->has_invalid = false;
    auto& input = layer().input;
    input.erase(std::remove_if(input.begin(), input.end(), [hwnd](const MSG& m) { return m.hwnd == hwnd; }),
                input.end());
    hide_native_window(hwnd->native);
    hwnd->visible = false;
    hwnd->backing = PixelBuffer{};
}

}  // namespace tavelin::platform

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpfnWndProc == nullptr) return 0;
    if (find_class(wc->lpszClassName) != nullptr) return 0;
    LayerState& s = layer();
    s.classes.push_back(WindowClass{wc->lpszClassName, wc->lpfnWndProc, wc->style, wc->hbrBackground, wc->hIcon});
    return ATOM(0xC000 + s.classes.size());
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR class_name, LPCSTR window_name, DWORD style, int x, int y,
                            int width, int height, HWND, HMENU, HINSTANCE, LPVOID) {
    const WindowClass* wc = find_class(class_name);
    if (wc == nullptr) {
        std::fprintf(stderr, "cannot create a window of the unregistered class \"%s\"\n",
                     class_name ? class_name : "(null)");
        return nullptr;
    }
    if (!start_backend()) return nullptr;
    if (width == CW_USEDEFAULT) {
        width = default_width;
        height = default_height;
    }
    int32_t client_width = std::clamp(width, 1, largest_client_side);
    int32_t client_height = std::clamp(height, 1, largest_client_side);
    NativeWindow* native = create_native_window(window_name ? window_name : "", x, y, &client_width,
                                                &client_height, (style & WS_THICKFRAME) != 0, wc->icon);
    if (native == nullptr) return nullptr;

    LayerState& s = layer();
    s.windows.push_back(std::make_unique<HWND__>());
    HWND hwnd = s.windows.back().get();
    hwnd->native = native;
    hwnd->proc = wc->proc;
    hwnd->class_style = wc->style;
    hwnd->background = wc->background;
    hwnd->client_width = client_width;
    hwnd->client_height = client_height;
    resize_keeping_picture(hwnd->backing, hwnd->client_width, hwnd->client_height);

    if (hwnd->proc(hwnd, WM_CREATE, 0, 0) == -1) {
        destroy_window(hwnd);
        return nullptr;
    }
    return live_window(hwnd);
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    if (live_window(hwnd) == nullptr) return FALSE;
    destroy_window(hwnd);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM, LPARAM) {
    switch (message) {
        case WM_CLOSE:
            destroy_window(hwnd);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            if (BeginPaint(hwnd, &ps) != nullptr) EndPaint(hwnd, &ps);
            return 0;
        }
        default:
            return 0;
    }
}

// The program has no module handle here (main passes none): resource 1 is
// the program's own icon whatever the module named.
HICON WINAPI LoadIconA(HINSTANCE, LPCSTR name) {
    static HICON__ program_icon{1};
    static HICON__ application_icon{32512};
    return name == MAKEINTRESOURCEA(1) ? &program_icon : &application_icon;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR) {
    // The system's arrow: what the backends show anyway.
    static HICON__ arrow{32512};
    return &arrow;
}
