#include "app/stroke.h"

#include <algorithm>
#include <cstdlib>

#include "app/canvas.h"

namespace tavelin {

void begin_stroke(Stroke& stroke, uint16_t x, uint16_t y, uint32_t client_width, uint32_t client_height) {
    draw_at(x, y, client_width, client_height);
    stroke = Stroke{true, x, y};
}

void continue_stroke(Stroke& stroke, uint16_t x, uint16_t y, uint32_t client_width, uint32_t client_height) {
    if (!stroke.active) return begin_stroke(stroke, x, y, client_width, client_height);
    const int64_t dx = int64_t(x) - stroke.x, dy = int64_t(y) - stroke.y;
    // A whole number of client pixels no larger than one cell: steps this
    // far apart can skip no cell.
    const int64_t cell_w = std::max<int64_t>(1, client_width / uint32_t(canvas_side));
    const int64_t cell_h = std::max<int64_t>(1, client_height / uint32_t(canvas_side));
    const int64_t steps = std::max((std::abs(dx) + cell_w - 1) / cell_w, (std::abs(dy) + cell_h - 1) / cell_h);
    // A move to the same place still draws there, as a move always did.
    if (steps == 0) draw_at(x, y, client_width, client_height);
    for (int64_t i = 1; i <= steps; i++)
        draw_at(uint16_t(stroke.x + dx * i / steps), uint16_t(stroke.y + dy * i / steps), client_width,
                client_height);
    stroke.x = x;
    stroke.y = y;
}

void end_stroke(Stroke& stroke) { stroke.active = false; }

}  // namespace tavelin
