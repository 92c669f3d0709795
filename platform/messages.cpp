// The message loop's side of the layer: which message comes next,
// dispatching, timers, invalidation and the painting frame. How the loop
// waits for input is the backend's (GetMessageA).
#include <algorithm>

#include "platform/native.h"

using namespace tavelin::platform;

namespace {

// Win32 raises shorter periods to this.
constexpr uint32_t shortest_timer_ms = 10;

HWND first_invalid_window() {
    for (const auto& w : layer().windows)
        if (!w->destroyed && w->has_invalid) return w.get();
    return nullptr;
}

bool any_live_window() {
    for (const auto& w : layer().windows)
        if (!w->destroyed) return true;
    return false;
}

// The window timer due first (its window in *owner, its due time in *due),
// or null.
Timer* earliest_timer(HWND* owner, uint64_t* due) {
    Timer* best = nullptr;
    for (const auto& w : layer().windows) {
        if (w->destroyed) continue;
        for (Timer& t : w->timers)
            if (best == nullptr || t.due_ms < best->due_ms) {
                best = &t;
                *owner = w.get();
            }
    }
    if (best != nullptr) *due = best->due_ms;
    return best;
}

}  // namespace

MSG tavelin::platform::message_for(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    MSG m{};
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = wparam;
    m.lParam = lparam;
    m.time = DWORD(now_ms());
    return m;
}

void tavelin::platform::queue_input(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    layer().input.push_back(message_for(hwnd, message, wparam, lparam));
}

LPARAM tavelin::platform::client_position(int32_t x, int32_t y) {
    return LPARAM((uint32_t(uint16_t(y)) << 16) | uint32_t(uint16_t(x)));
}

NextMessage tavelin::platform::next_message(MSG* msg, bool timers, int* wait_ms) {
    LayerState& s = layer();
    // Input first, in the order it happened.
    if (!s.input.empty()) {
        *msg = s.input.front();
        s.input.pop_front();
        return NextMessage::Message;
    }
    if (s.quit_posted) {
        s.quit_posted = false;
        *msg = message_for(nullptr, WM_QUIT, WPARAM(s.quit_code), 0);
        return NextMessage::Quit;
    }
    if (HWND w = first_invalid_window()) {
        *msg = message_for(w, WM_PAINT, 0, 0);
        return NextMessage::Message;
    }
    HWND owner = nullptr;
    uint64_t due = 0;
    Timer* timer = earliest_timer(&owner, &due);
    const uint64_t now = now_ms();
    if (timers && timer != nullptr && due <= now) {
        // One WM_TIMER at a time: ticks missed while the program was
        // busy are not made up for.
        timer->due_ms = now + timer->period_ms;
        *msg = message_for(owner, WM_TIMER, timer->id, 0);
        return NextMessage::Message;
    }
    if (!any_live_window()) return NextMessage::NoWindow;
    *wait_ms = timer == nullptr ? 1000 : due > now ? int(std::min<uint64_t>(due - now, 1000)) : 0;
    return NextMessage::Nothing;
}

BOOL WINAPI TranslateMessage(const MSG*) {
    // No character messages are made: nothing here reads WM_CHAR.
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (msg == nullptr) return 0;
    HWND hwnd = live_window(msg->hwnd);
    if (hwnd == nullptr) return 0;
    return hwnd->proc(hwnd, msg->message, msg->wParam, msg->lParam);
}

HWND WINAPI SetCapture(HWND hwnd) {
    const HWND previous = layer().capture;
    layer().capture = live_window(hwnd);
    return previous;
}

BOOL WINAPI ReleaseCapture() {
    layer().capture = nullptr;
    return TRUE;
}

void WINAPI PostQuitMessage(int exit_code) {
    layer().quit_posted = true;
    layer().quit_code = exit_code;
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC) {
    // Only window timers are provided: the program passes no timer
    // procedure, and WM_TIMER goes to the window.
    if (live_window(hwnd) == nullptr) return 0;
    const uint32_t period = std::max<uint32_t>(elapse_ms, shortest_timer_ms);
    Timer t{id, period, now_ms() + period};
    for (Timer& existing : hwnd->timers)
        if (existing.id == id) {
            existing = t;
            return id;
        }
    hwnd->timers.push_back(t);
    return id;
}

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
    if (hwnd == nullptr) {
        for (const auto& w : layer().windows)
            if (!w->destroyed) InvalidateRect(w.get(), rect, erase);
        return TRUE;
    }
    if (live_window(hwnd) == nullptr) return FALSE;
    const RECT client{0, 0, hwnd->client_width, hwnd->client_height};
    const RECT area = rect != nullptr ? intersect(*rect, client) : client;
    if (is_empty(area)) return TRUE;
    hwnd->invalid = hwnd->has_invalid ? bounding_union(hwnd->invalid, area) : area;
    hwnd->has_invalid = true;
    if (erase) hwnd->erase_pending = true;
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
    if (live_window(hwnd) == nullptr) return FALSE;
    if (hwnd->has_invalid) hwnd->proc(hwnd, WM_PAINT, 0, 0);
    return TRUE;
}

HDC WINAPI BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
    if (live_window(hwnd) == nullptr || ps == nullptr) return nullptr;
    HDC dc = new HDC__;
    dc->kind = DcKind::Window;
    dc->window = hwnd;
    dc->clip = hwnd->has_invalid ? hwnd->invalid : RECT{0, 0, 0, 0};
    if (hwnd->erase_pending && hwnd->has_invalid) {
        const HBRUSH brush = hwnd->background;
        if (brush != nullptr) fill(hwnd->backing, dc->clip, brush->blue, brush->green, brush->red);
    }
    hwnd->erase_pending = false;
    hwnd->has_invalid = false;
    layer().dcs.push_back(dc);
    *ps = PAINTSTRUCT{};
    ps->hdc = dc;
    ps->fErase = FALSE;
    ps->rcPaint = dc->clip;
    return dc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
    if (ps == nullptr) return FALSE;
    HDC dc = live_dc(ps->hdc);
    if (dc != nullptr && dc->kind == DcKind::Window) {
        auto& dcs = layer().dcs;
        dcs.erase(std::find(dcs.begin(), dcs.end(), dc));
        delete dc;
    }
    present(hwnd);
    return TRUE;
}
