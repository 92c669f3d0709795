// The page's events turned into window messages, and the message loop as
// the browser allows it. Mouse buttons, moves and keys are queued for the
// pump; one finger on the canvas draws as the left button does; a resize
// of the browser window is sent at once, as Windows does.
//
// A page may not block: the browser runs its code between frames. So
// GetMessageA hands the loop that called it over to a pump that runs once
// per animation frame and dispatches what has come, as the loop would
// have, with at most one timer message a frame. The first frame runs no
// timer, so that the first paint reaches the screen before a timer's work
// (training) can hold the page.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>

#include "platform/web_native.h"

using namespace tavelin::platform;

namespace {

// The finger that draws; -1 when none is down. Other fingers are ignored.
long drawing_touch = -1;

WPARAM mouse_key_state(unsigned short buttons, bool shift, bool ctrl) {
    WPARAM state = 0;
    if (buttons & 1) state |= MK_LBUTTON;
    if (buttons & 2) state |= MK_RBUTTON;
    if (buttons & 4) state |= MK_MBUTTON;
    if (shift) state |= MK_SHIFT;
    if (ctrl) state |= MK_CONTROL;
    return state;
}

bool inside(HWND w, int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < w->client_width && y < w->client_height; }

LPARAM clamped_position(HWND w, int32_t x, int32_t y) {
    return client_position(std::clamp(x, 0, std::max(0, w->client_width - 1)),
                           std::clamp(y, 0, std::max(0, w->client_height - 1)));
}

// Events come in CSS pixels; the window may have more (a sharp screen).
int32_t window_pixels(double css_pixels) { return int32_t(std::floor(css_pixels * tavelin_page_scale())); }

// The position on the canvas of an event heard on the whole browser window.
void canvas_position(const EmscriptenMouseEvent& e, int32_t* x, int32_t* y) {
    int32_t origin_x = 0, origin_y = 0;
    tavelin_canvas_origin(&origin_x, &origin_y);
    *x = window_pixels(double(e.clientX - origin_x));
    *y = window_pixels(double(e.clientY - origin_y));
}

EM_BOOL on_mouse(int type, const EmscriptenMouseEvent* e, void*) {
    HWND w = page_window();
    // The left (0) and right (2) buttons, as DOM numbers them.
    const bool left = e->button == 0;
    if (w == nullptr || (type != EMSCRIPTEN_EVENT_MOUSEMOVE && e->button != 0 && e->button != 2)) return EM_FALSE;
    const WPARAM keys = mouse_key_state(e->buttons, e->shiftKey, e->ctrlKey);
    int32_t x = 0, y = 0;
    canvas_position(*e, &x, &y);
    switch (type) {
        case EMSCRIPTEN_EVENT_MOUSEDOWN:
            // Heard on the canvas only.
            if (!inside(w, x, y)) return EM_FALSE;
            queue_input(w, left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, keys, client_position(x, y));
            return EM_TRUE;
        case EMSCRIPTEN_EVENT_MOUSEMOVE:
            // Only moves over the client area reach the window, unless it
            // has captured the mouse (the browser goes on reporting moves
            // outside while a button is held).
            if (inside(w, x, y) || layer().capture == w) queue_input(w, WM_MOUSEMOVE, keys, client_position(x, y));
            return EM_FALSE;
        case EMSCRIPTEN_EVENT_MOUSEUP:
            // A release anywhere is delivered, so that a stroke that left
            // the canvas still ends.
            queue_input(w, left ? WM_LBUTTONUP : WM_RBUTTONUP, keys, clamped_position(w, x, y));
            return EM_FALSE;
        default:
            return EM_FALSE;
    }
}

// Every touch on the canvas is ours: no scrolling, no zooming and no mouse
// events made up from it.
EM_BOOL on_touch(int type, const EmscriptenTouchEvent* e, void*) {
    HWND w = page_window();
    if (w == nullptr) return EM_TRUE;
    for (int i = 0; i < e->numTouches; i++) {
        const EmscriptenTouchPoint& t = e->touches[i];
        if (!t.isChanged) continue;
        const int32_t x = window_pixels(double(t.targetX)), y = window_pixels(double(t.targetY));
        switch (type) {
            case EMSCRIPTEN_EVENT_TOUCHSTART:
                if (drawing_touch >= 0 || !inside(w, x, y)) break;
                drawing_touch = t.identifier;
                queue_input(w, WM_LBUTTONDOWN, MK_LBUTTON, client_position(x, y));
                break;
            case EMSCRIPTEN_EVENT_TOUCHMOVE:
                if (t.identifier == drawing_touch && inside(w, x, y))
                    queue_input(w, WM_MOUSEMOVE, MK_LBUTTON, client_position(x, y));
                break;
            default:  // end, cancel
                if (t.identifier != drawing_touch) break;
                drawing_touch = -1;
                queue_input(w, WM_LBUTTONUP, 0, clamped_position(w, x, y));
                break;
        }
    }
    return EM_TRUE;
}

// Keys the browser would otherwise act on (moving the focus, scrolling);
// every other key, with or without Ctrl, stays the browser's too.
bool page_key(unsigned long code) {
    switch (code) {
        case VK_BACK: case VK_TAB: case VK_RETURN: case VK_ESCAPE: case VK_SPACE:
        case VK_PRIOR: case VK_NEXT: case VK_END: case VK_HOME:
        case VK_LEFT: case VK_UP: case VK_RIGHT: case VK_DOWN:
            return true;
        default:
            return false;
    }
}

EM_BOOL on_key(int type, const EmscriptenKeyboardEvent* e, void*) {
    HWND w = page_window();
    if (w == nullptr) return EM_FALSE;
    // The DOM's key codes are Windows' virtual-key codes for the keys the
    // program knows: letters, digits, Enter, Tab, Space, Esc, arrows.
    const unsigned long code = e->keyCode;
    uint32_t l = 1u;
    if (e->repeat) l |= 1u << 30;
    if (type == EMSCRIPTEN_EVENT_KEYUP) l |= (1u << 30) | (1u << 31);
    queue_input(w, type == EMSCRIPTEN_EVENT_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, WPARAM(code & 0xFF), LPARAM(l));
    const bool modified = e->ctrlKey || e->altKey || e->metaKey;
    return !modified && page_key(code) ? EM_TRUE : EM_FALSE;
}

EM_BOOL on_resize(int, const EmscriptenUiEvent*, void*) {
    follow_page_size(page_window());
    return EM_FALSE;
}

void pump() {
    static bool first_frame = true;
    // One timer message a frame at most: a tick whose work outlasts the
    // period would otherwise be due again at once, and the frame would
    // never end.
    bool timers = !first_frame;
    // Bounded, so that a window that asks for a repaint while painting
    // cannot hold the page for ever.
    constexpr int most_messages_a_frame = 10000;
    MSG msg;
    int wait_ms = 0;
    for (int n = 0; n < most_messages_a_frame; n++) {
        const NextMessage next = next_message(&msg, timers, &wait_ms);
        if (next == NextMessage::Nothing) break;
        if (next == NextMessage::Message) {
            if (msg.message == WM_TIMER) timers = false;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        // The window is gone: the page stays as it is, and says so.
        emscripten_cancel_main_loop();
        tavelin_window_closed(next == NextMessage::Quit ? int(msg.wParam) : 1);
        break;
    }
    first_frame = false;
}

}  // namespace

namespace tavelin::platform {

void listen_to_page() {
    // Moves and releases are heard on the whole browser window, presses on
    // the canvas.
    emscripten_set_mousedown_callback(canvas_selector, nullptr, EM_TRUE, on_mouse);
    emscripten_set_mousemove_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on_mouse);
    emscripten_set_mouseup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on_mouse);
    emscripten_set_touchstart_callback(canvas_selector, nullptr, EM_TRUE, on_touch);
    emscripten_set_touchmove_callback(canvas_selector, nullptr, EM_TRUE, on_touch);
    emscripten_set_touchend_callback(canvas_selector, nullptr, EM_TRUE, on_touch);
    emscripten_set_touchcancel_callback(canvas_selector, nullptr, EM_TRUE, on_touch);
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on_key);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, on_key);
    emscripten_set_resize_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, on_resize);
}

}  // namespace tavelin::platform

BOOL WINAPI GetMessageA(MSG* msg, HWND, UINT, UINT) {
    if (msg == nullptr) return -1;
    // Never returns: the loop's stack is unwound and the pump takes over,
    // once per animation frame (fps 0).
    emscripten_set_main_loop(pump, 0, 1);
    return FALSE;
}
