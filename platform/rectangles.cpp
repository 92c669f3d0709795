// Rectangle arithmetic: the areas to repaint and to clip to.
#include <algorithm>

#include "platform/layer_state.h"

namespace tavelin::platform {

RECT intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (is_empty(r)) r = RECT{0, 0, 0, 0};
    return r;
}

RECT bounding_union(const RECT& a, const RECT& b) {
    if (is_empty(a)) return b;
    if (is_empty(b)) return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

bool is_empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

}  // namespace tavelin::platform
