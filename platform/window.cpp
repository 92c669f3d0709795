// Window classes, windows and their life: creation, placement, showing,
// closing, and copying each window's picture to the screen.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/layer_state.h"

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

// Window-manager frame around the client area; zero where there is none
// (no window manager, or the headless driver).
struct Borders {
    int top = 0, left = 0, bottom = 0, right = 0;
};

Borders borders_of(SDL_Window* w) {
    Borders b;
    // Asking SDL about a hidden window maps it for a moment, which undoes
    // its placement; its frame is looked at once it is shown.
    if (SDL_GetWindowFlags(w) & SDL_WINDOW_HIDDEN) return b;
    if (SDL_GetWindowBordersSize(w, &b.top, &b.left, &b.bottom, &b.right) != 0) b = Borders{};
    return b;
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
    // The X window itself stays, hidden, until the process ends: SDL may
    // still address a wake-up message to the window it last waited on, and
    // one already gone would make that a fatal X error.
    SDL_HideWindow(hwnd->sdl);
    hwnd->visible = false;
    hwnd->backing = PixelBuffer{};
}

void present(HWND hwnd) {
    if (live_window(hwnd) == nullptr || !hwnd->visible) return;
    PixelBuffer& b = hwnd->backing;
    if (b.width <= 0 || b.height <= 0) return;
    // A window forced larger than the limit (an X server without a window
    // manager takes any size) is not drawn until it is brought back: SDL's
    // surface for it could overflow or exhaust memory.
    int w = 0, h = 0;
    SDL_GetWindowSize(hwnd->sdl, &w, &h);
    if (w > largest_client_side || h > largest_client_side) return;
    SDL_Surface* screen = SDL_GetWindowSurface(hwnd->sdl);
    if (screen == nullptr) return;
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
    const Uint32 format = SDL_PIXELFORMAT_XRGB8888;
#else
    const Uint32 format = SDL_PIXELFORMAT_BGRX8888;
#endif
    SDL_Surface* picture =
        SDL_CreateRGBSurfaceWithFormatFrom(b.bgrx.data(), b.width, b.height, 32, b.width * 4, format);
    if (picture == nullptr) return;
    SDL_SetSurfaceBlendMode(picture, SDL_BLENDMODE_NONE);
    SDL_BlitSurface(picture, nullptr, screen, nullptr);
    SDL_FreeSurface(picture);
    SDL_UpdateWindowSurface(hwnd->sdl);
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
    if (!ensure_sdl()) return nullptr;

    int sdl_x = x, sdl_y = y;
    if (x == CW_USEDEFAULT) sdl_x = sdl_y = int(SDL_WINDOWPOS_UNDEFINED);
    if (width == CW_USEDEFAULT) {
        width = default_width;
        height = default_height;
    }
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (style & WS_THICKFRAME) flags |= SDL_WINDOW_RESIZABLE;
    SDL_Window* sdl = SDL_CreateWindow(window_name ? window_name : "", sdl_x, sdl_y,
                                       std::clamp(width, 1, largest_client_side),
                                       std::clamp(height, 1, largest_client_side), flags);
    if (sdl == nullptr) {
        std::fprintf(stderr, "cannot open a window: %s\n", SDL_GetError());
        return nullptr;
    }
    SDL_SetWindowMaximumSize(sdl, largest_client_side, largest_client_side);
    show_icon(sdl, wc->icon);

    LayerState& s = layer();
    s.windows.push_back(std::make_unique<HWND__>());
    HWND hwnd = s.windows.back().get();
    hwnd->sdl = sdl;
    hwnd->sdl_id = SDL_GetWindowID(sdl);
    hwnd->proc = wc->proc;
    hwnd->class_style = wc->style;
    hwnd->background = wc->background;
    SDL_GetWindowSize(sdl, &hwnd->client_width, &hwnd->client_height);
    resize_keeping_picture(hwnd->backing, hwnd->client_width, hwnd->client_height);

    if (hwnd->proc(hwnd, WM_CREATE, 0, 0) == -1) {
        destroy_window(hwnd);
        return nullptr;
    }
    return live_window(hwnd);
}

BOOL WINAPI SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
    constexpr UINT no_size = 0x0001, no_move = 0x0002;
    if (live_window(hwnd) == nullptr) return FALSE;
    if (!hwnd->visible) {
        hwnd->placed = true;
        hwnd->placed_x = x;
        hwnd->placed_y = y;
        hwnd->placed_width = cx;
        hwnd->placed_height = cy;
        hwnd->placed_flags = flags;
    }
    const Borders b = borders_of(hwnd->sdl);
    if (!(flags & no_move)) SDL_SetWindowPosition(hwnd->sdl, x + b.left, y + b.top);
    if (!(flags & no_size)) {
        // Win32 sizes are outer sizes: the frame is taken off for the client.
        const int width = std::max(cx - b.left - b.right, 0);
        const int height = std::max(cy - b.top - b.bottom, 0);
        SDL_SetWindowSize(hwnd->sdl, std::max(width, 1), std::max(height, 1));
        int w = 0, h = 0;
        SDL_GetWindowSize(hwnd->sdl, &w, &h);
        if (width == 0) w = 0;
        if (height == 0) h = 0;
        const bool changed = w != hwnd->client_width || h != hwnd->client_height;
        resize_client(hwnd, w, h, SIZE_RESTORED);
        if (!changed) send_size(hwnd, SIZE_RESTORED);
    }
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hwnd, int) {
    // The program shows its window once, as the system asks it to
    // (SW_SHOWDEFAULT): shown normally.
    if (live_window(hwnd) == nullptr) return FALSE;
    const BOOL was_visible = hwnd->visible ? TRUE : FALSE;
    SDL_ShowWindow(hwnd->sdl);
    // Lets SDL see that the window is mapped before its frame is asked for.
    SDL_PumpEvents();
    hwnd->visible = true;
    if (!was_visible) {
        if (hwnd->placed)
            SetWindowPos(hwnd, HWND_TOP, hwnd->placed_x, hwnd->placed_y, hwnd->placed_width,
                         hwnd->placed_height, hwnd->placed_flags);
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    return was_visible;
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

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR) {
    // The system's arrow: what SDL shows anyway.
    static HICON__ arrow{32512};
    return &arrow;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    constexpr int id_ok = 1;
    text = text ? text : "";
    caption = caption ? caption : "";
    std::fprintf(stderr, "%s: %s\n", caption, text);
    // Without a display (the headless driver) standard error is all there is.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr) driver = SDL_getenv("SDL_VIDEODRIVER");
    if (driver != nullptr && std::string(driver) == "dummy") return id_ok;
    Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
    switch (type & 0xF0) {
        case MB_ICONERROR: flags = SDL_MESSAGEBOX_ERROR; break;
        case 0x30: flags = SDL_MESSAGEBOX_WARNING; break;
        default: break;
    }
    SDL_ShowSimpleMessageBox(flags, caption, text, nullptr);
    return id_ok;
}
