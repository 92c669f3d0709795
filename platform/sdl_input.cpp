// SDL events turned into window messages: keys, mouse moves and the left
// and right buttons are queued for GetMessageA; resizing and closing are
// sent to the window at once, as Windows does. GetMessageA waits for them.
#include <algorithm>

#include "platform/sdl_native.h"

using namespace tavelin::platform;

namespace tavelin::platform {

namespace {

// Repeat count 1, the scan code, and bit 30 for "the key was already down".
LPARAM key_lparam(const SDL_KeyboardEvent& key) {
    uint32_t l = 1u | ((uint32_t(key.keysym.scancode) & 0xFFu) << 16);
    if (key.repeat) l |= 1u << 30;
    if (key.type == SDL_KEYUP) l |= (1u << 30) | (1u << 31);
    return LPARAM(l);
}

WPARAM mouse_key_state(uint32_t buttons) {
    WPARAM state = 0;
    if (buttons & SDL_BUTTON_LMASK) state |= MK_LBUTTON;
    if (buttons & SDL_BUTTON_RMASK) state |= MK_RBUTTON;
    if (buttons & SDL_BUTTON_MMASK) state |= MK_MBUTTON;
    const SDL_Keymod mod = SDL_GetModState();
    if (mod & KMOD_SHIFT) state |= MK_SHIFT;
    if (mod & KMOD_CTRL) state |= MK_CONTROL;
    return state;
}

void translate_window_event(HWND hwnd, const SDL_WindowEvent& e) {
    switch (e.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            // Without a window manager to keep to the maximum size, the
            // window is asked back within it.
            if (e.data1 > largest_client_side || e.data2 > largest_client_side)
                SDL_SetWindowSize(hwnd->native->sdl, std::min(e.data1, largest_client_side),
                                  std::min(e.data2, largest_client_side));
            if (!(SDL_GetWindowFlags(hwnd->native->sdl) & SDL_WINDOW_MINIMIZED))
                resize_client(hwnd, e.data1, e.data2,
                              (SDL_GetWindowFlags(hwnd->native->sdl) & SDL_WINDOW_MAXIMIZED) ? SIZE_MAXIMIZED
                                                                                      : SIZE_RESTORED);
            break;
        case SDL_WINDOWEVENT_MINIMIZED:
            // A minimised window has no client area.
            resize_client(hwnd, 0, 0, SIZE_MINIMIZED);
            break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_MAXIMIZED: {
            int w = 0, h = 0;
            SDL_GetWindowSize(hwnd->native->sdl, &w, &h);
            resize_client(hwnd, w, h, e.event == SDL_WINDOWEVENT_MAXIMIZED ? SIZE_MAXIMIZED : SIZE_RESTORED);
            break;
        }
        case SDL_WINDOWEVENT_EXPOSED:
            // The picture is kept, so uncovering needs no repaint by the program.
            present(hwnd);
            break;
        case SDL_WINDOWEVENT_CLOSE:
            hwnd->proc(hwnd, WM_CLOSE, 0, 0);
            break;
        case SDL_WINDOWEVENT_LEAVE:
            // The window system may stop reporting the mouse once it has
            // left, even with the button held: the capturing window is
            // told of a move outside, as Windows would report one.
            if (layer().capture == hwnd) {
                int gx = 0, gy = 0, wx = 0, wy = 0;
                const uint32_t buttons = SDL_GetGlobalMouseState(&gx, &gy);
                SDL_GetWindowPosition(hwnd->native->sdl, &wx, &wy);
                int32_t x = gx - wx, y = gy - wy;
                if (x >= 0 && y >= 0 && x < hwnd->client_width && y < hwnd->client_height) x = y = -1;
                queue_input(hwnd, WM_MOUSEMOVE, mouse_key_state(buttons), client_position(x, y));
            }
            break;
        default:
            break;
    }
}

}  // namespace

uint32_t virtual_key_of(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return uint32_t('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9) return uint32_t('0' + (key - SDLK_0));
    if (key >= SDLK_F1 && key <= SDLK_F12) return uint32_t(VK_F1 + (key - SDLK_F1));
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return uint32_t(0x61 + (key - SDLK_KP_1));
    switch (key) {
        case SDLK_BACKSPACE: return VK_BACK;
        case SDLK_TAB: return VK_TAB;
        case SDLK_RETURN:
        case SDLK_KP_ENTER: return VK_RETURN;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return VK_SHIFT;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return VK_CONTROL;
        case SDLK_LALT:
        case SDLK_RALT: return VK_MENU;
        case SDLK_ESCAPE: return VK_ESCAPE;
        case SDLK_SPACE: return VK_SPACE;
        case SDLK_PAGEUP: return VK_PRIOR;
        case SDLK_PAGEDOWN: return VK_NEXT;
        case SDLK_END: return VK_END;
        case SDLK_HOME: return VK_HOME;
        case SDLK_LEFT: return VK_LEFT;
        case SDLK_UP: return VK_UP;
        case SDLK_RIGHT: return VK_RIGHT;
        case SDLK_DOWN: return VK_DOWN;
        case SDLK_INSERT: return VK_INSERT;
        case SDLK_DELETE: return VK_DELETE;
        case SDLK_KP_0: return 0x60;
        default: return 0xFF;  // a key without a virtual-key code
    }
}

void translate_event(const SDL_Event& event) {
    switch (event.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (HWND w = window_of_sdl_id(event.key.windowID))
                queue_input(w, event.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP,
                      virtual_key_of(event.key.keysym.sym), key_lparam(event.key));
            break;
        case SDL_MOUSEMOTION:
            if (HWND w = window_of_sdl_id(event.motion.windowID)) {
                const int32_t x = event.motion.x, y = event.motion.y;
                // Only moves over the client area reach the window, unless
                // it has captured the mouse.
                const bool inside = x >= 0 && y >= 0 && x < w->client_width && y < w->client_height;
                if (!inside && layer().capture != w) break;
                queue_input(w, WM_MOUSEMOVE, mouse_key_state(event.motion.state), client_position(x, y));
            }
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            const uint8_t button = event.button.button;
            if (button != SDL_BUTTON_LEFT && button != SDL_BUTTON_RIGHT) break;
            if (HWND w = window_of_sdl_id(event.button.windowID)) {
                const bool down = event.type == SDL_MOUSEBUTTONDOWN;
                const int32_t x = event.button.x, y = event.button.y;
                // A press counts only over the client area; a release is
                // always delivered, so that a stroke that left the window
                // still ends.
                const bool inside = x >= 0 && y >= 0 && x < w->client_width && y < w->client_height;
                if (down && !inside) break;
                const LPARAM position = client_position(std::clamp(x, 0, std::max(0, w->client_width - 1)),
                                                        std::clamp(y, 0, std::max(0, w->client_height - 1)));
                // The key state is the one after the change, as Windows gives it.
                const uint32_t mask = SDL_BUTTON(button);
                uint32_t buttons = SDL_GetMouseState(nullptr, nullptr);
                buttons = down ? buttons | mask : buttons & ~mask;
                const bool left = button == SDL_BUTTON_LEFT;
                const UINT message = down ? (left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN) : (left ? WM_LBUTTONUP : WM_RBUTTONUP);
                queue_input(w, message, mouse_key_state(buttons), position);
            }
            break;
        }
        case SDL_WINDOWEVENT:
            if (HWND w = window_of_sdl_id(event.window.windowID)) translate_window_event(w, event.window);
            break;
        default:
            break;
    }
}

}  // namespace tavelin::platform

BOOL WINAPI GetMessageA(MSG* msg, HWND, UINT, UINT) {
    if (msg == nullptr) return -1;
    LayerState& s = layer();
    for (;;) {
        // A close or a resize is handled (sent) as it comes up.
        SDL_Event event;
        while (s.input.empty() && s.backend_ready && SDL_PollEvent(&event)) translate_event(event);
        int wait_ms = 0;
        switch (next_message(msg, true, &wait_ms)) {
            case NextMessage::Message: return TRUE;
            case NextMessage::Quit: return FALSE;
            case NextMessage::NoWindow:
                // Nothing could ever arrive (the window could not be opened):
                // end the loop as a failure instead of waiting forever.
                *msg = message_for(nullptr, WM_QUIT, 1, 0);
                return FALSE;
            case NextMessage::Nothing: SDL_WaitEventTimeout(nullptr, wait_ms); break;
        }
    }
}
