// Where each part of the explorer's picture goes in a client area of a
// given size: the parts are placed on a 720 x 480 plan, scaled evenly
// until the plan fills the client area, and centred in it. Text sizes grow
// with the same scale.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "training/samples.h"

namespace tavelin {

constexpr int32_t plan_width = 720;
constexpr int32_t plan_height = 480;
constexpr int32_t filter_count = 8;

struct ExplorerLayout {
    RECT status, hint;
    RECT canvas;  // square, a whole number of pixels per cell when it is 28 or more across
    RECT seen_caption, seen;
    RECT scores_caption, bar_label[digit_count], bar_track[digit_count], bar_value[digit_count];
    RECT filters_caption, filters[filter_count];
    RECT rectified_caption, rectified[filter_count];
    RECT pooled_caption, pooled[filter_count];
    RECT progress_caption, progress_bar, curve, curve_label;
    // Character heights in pixels, at least 1.
    int32_t status_font, hint_font, caption_font, bar_font;
    // The width of frames and lines, at least 1.
    int32_t line;
};

ExplorerLayout explorer_layout(int32_t width, int32_t height);

bool contains(const RECT& r, int32_t x, int32_t y);

}  // namespace tavelin
