// The layer's one process-wide state, and the look-ups that tell a live
// handle from a stale one.
#include "platform/layer_state.h"

#include <algorithm>

namespace tavelin::platform {

LayerState& layer() {
    static LayerState state;
    return state;
}

HWND live_window(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    for (const auto& w : layer().windows)
        if (w.get() == hwnd) return w->destroyed ? nullptr : hwnd;
    return nullptr;
}

HDC live_dc(HDC dc) {
    const auto& dcs = layer().dcs;
    return dc != nullptr && std::find(dcs.begin(), dcs.end(), dc) != dcs.end() ? dc : nullptr;
}

HBITMAP live_bitmap(const void* object) {
    for (HBITMAP b : layer().bitmaps)
        if (b == object) return b;
    return nullptr;
}

HFONT live_font(const void* object) {
    for (HFONT f : layer().fonts)
        if (f == object) return f;
    return nullptr;
}

}  // namespace tavelin::platform
