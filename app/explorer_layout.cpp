#include "app/explorer_layout.h"

#include <algorithm>
#include <cmath>

namespace tavelin {

namespace {

// The plan, in its own 720 x 480 units: the canvas on the left, the
// network's side on the right in one column (what it sees and its scores,
// then its filters above the maps they make, then the training's progress).
constexpr float margin = 12, top = 64, canvas_side_plan = 392;
constexpr float right_left = 420, right_right = 708;
constexpr float seen_side = 112;
constexpr float tile_slot = (right_right - right_left) / filter_count, tile_gap = 6;

struct Plan {
    float scale, x0, y0;
    LONG x(float v) const { return LONG(std::lround(x0 + v * scale)); }
    LONG y(float v) const { return LONG(std::lround(y0 + v * scale)); }
    RECT rect(float left, float top_, float right, float bottom) const { return RECT{x(left), y(top_), x(right), y(bottom)}; }
    int32_t size(float v) const { return std::max<int32_t>(1, int32_t(std::lround(v * scale))); }
};

}  // namespace

bool contains(const RECT& r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

ExplorerLayout explorer_layout(int32_t width, int32_t height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    const float scale = std::min(float(width) / plan_width, float(height) / plan_height);
    const Plan p{scale, (float(width) - plan_width * scale) / 2, (float(height) - plan_height * scale) / 2};
    ExplorerLayout l{};
    l.status = p.rect(margin, 10, right_right, 34);
    l.hint = p.rect(margin, 38, right_right, 58);

    // Square cells of a whole number of pixels, where there is room for one.
    const LONG side = std::max<LONG>(p.size(canvas_side_plan) / image_side * image_side, 1);
    l.canvas = RECT{p.x(margin), p.y(top), p.x(margin) + side, p.y(top) + side};

    l.seen_caption = p.rect(right_left, top, right_left + seen_side + 8, top + 16);
    l.seen = p.rect(right_left, top + 18, right_left + seen_side, top + 18 + seen_side);
    const float bars_left = right_left + seen_side + 16;
    l.scores_caption = p.rect(bars_left, top, right_right, top + 16);
    const float row = seen_side / digit_count;
    for (int32_t d = 0; d < digit_count; d++) {
        const float y = top + 18 + row * float(d);
        l.bar_label[d] = p.rect(bars_left, y - 1, bars_left + 12, y + row);
        l.bar_track[d] = p.rect(bars_left + 12, y + 2, right_right - 40, y + row - 2);
        l.bar_value[d] = p.rect(right_right - 37, y - 1, right_right + 12, y + row);
    }

    // Filter k, its map after the rectifier and after pooling in one column.
    float y = top + 18 + seen_side + 12;
    RECT* rows[3] = {l.filters, l.rectified, l.pooled};
    RECT* captions[3] = {&l.filters_caption, &l.rectified_caption, &l.pooled_caption};
    for (int32_t r = 0; r < 3; r++) {
        *captions[r] = p.rect(right_left, y, right_right + 12, y + 16);
        for (int32_t k = 0; k < filter_count; k++) {
            const float x = right_left + tile_slot * float(k);
            rows[r][k] = p.rect(x, y + 18, x + tile_slot - tile_gap, y + 18 + tile_slot - tile_gap);
        }
        y += 18 + tile_slot - tile_gap + 10;
    }
    l.progress_caption = p.rect(right_left, y, right_right + 12, y + 16);
    l.progress_bar = p.rect(right_left, y + 18, right_right, y + 26);
    l.curve = p.rect(right_left, y + 32, right_right, top + canvas_side_plan);
    l.curve_label = p.rect(right_right - 112, y + 35, right_right, y + 51);

    l.status_font = p.size(17);
    l.hint_font = p.size(13);
    l.caption_font = p.size(12);
    l.bar_font = p.size(11);
    l.line = p.size(1);
    return l;
}

}  // namespace tavelin
