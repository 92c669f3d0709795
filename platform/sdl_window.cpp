// The SDL backend's windows: making, placing and showing them, copying
// each one's picture to the screen, and the message box.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/sdl_native.h"

using namespace tavelin::platform;

namespace {

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

// Every native window made, kept until the process ends (a destroyed one
// stays hidden, see hide_native_window).
std::vector<std::unique_ptr<NativeWindow>> native_windows;

}  // namespace

namespace tavelin::platform {

NativeWindow* create_native_window(const char* title, int x, int y, int32_t* width, int32_t* height,
                                   bool resizable, HICON icon) {
    if (x == CW_USEDEFAULT) x = y = int(SDL_WINDOWPOS_UNDEFINED);
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (resizable) flags |= SDL_WINDOW_RESIZABLE;
    SDL_Window* sdl = SDL_CreateWindow(title, x, y, *width, *height, flags);
    if (sdl == nullptr) {
        std::fprintf(stderr, "cannot open a window: %s\n", SDL_GetError());
        return nullptr;
    }
    SDL_SetWindowMaximumSize(sdl, largest_client_side, largest_client_side);
    show_icon(sdl, icon);
    SDL_GetWindowSize(sdl, width, height);
    NativeWindow* native = native_windows.emplace_back(std::make_unique<NativeWindow>()).get();
    native->sdl = sdl;
    native->sdl_id = SDL_GetWindowID(sdl);
    return native;
}

void hide_native_window(NativeWindow* native) {
    // The X window itself stays, hidden, until the process ends: SDL may
    // still address a wake-up message to the window it last waited on, and
    // one already gone would make that a fatal X error.
    SDL_HideWindow(native->sdl);
}

void present(HWND hwnd) {
    if (live_window(hwnd) == nullptr || !hwnd->visible) return;
    PixelBuffer& b = hwnd->backing;
    if (b.width <= 0 || b.height <= 0) return;
    // A window forced larger than the limit (an X server without a window
    // manager takes any size) is not drawn until it is brought back: SDL's
    // surface for it could overflow or exhaust memory.
    int w = 0, h = 0;
    SDL_GetWindowSize(hwnd->native->sdl, &w, &h);
    if (w > largest_client_side || h > largest_client_side) return;
    SDL_Surface* screen = SDL_GetWindowSurface(hwnd->native->sdl);
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
    SDL_UpdateWindowSurface(hwnd->native->sdl);
}

}  // namespace tavelin::platform

BOOL WINAPI SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
    constexpr UINT no_size = 0x0001, no_move = 0x0002;
    if (live_window(hwnd) == nullptr) return FALSE;
    NativeWindow& native = *hwnd->native;
    if (!hwnd->visible) {
        native.placed = true;
        native.placed_x = x;
        native.placed_y = y;
        native.placed_width = cx;
        native.placed_height = cy;
        native.placed_flags = flags;
    }
    const Borders b = borders_of(native.sdl);
    if (!(flags & no_move)) SDL_SetWindowPosition(native.sdl, x + b.left, y + b.top);
    if (!(flags & no_size)) {
        // Win32 sizes are outer sizes: the frame is taken off for the client.
        const int width = std::max(cx - b.left - b.right, 0);
        const int height = std::max(cy - b.top - b.bottom, 0);
        SDL_SetWindowSize(native.sdl, std::max(width, 1), std::max(height, 1));
        int w = 0, h = 0;
        SDL_GetWindowSize(native.sdl, &w, &h);
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
    SDL_ShowWindow(hwnd->native->sdl);
    // Lets SDL see that the window is mapped before its frame is asked for.
    SDL_PumpEvents();
    hwnd->visible = true;
    if (!was_visible) {
        const NativeWindow& native = *hwnd->native;
        if (native.placed)
            SetWindowPos(hwnd, HWND_TOP, native.placed_x, native.placed_y, native.placed_width, native.placed_height,
                         native.placed_flags);
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    return was_visible;
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
