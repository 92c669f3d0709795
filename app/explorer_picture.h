// The explorer's picture, made from its state alone: the panels, the
// canvas, the image the network saw, the score bars, the filters and the
// maps, the progress bar and the error curve go into one pixel buffer that
// the window hands to the window system in one piece; the words go on top
// with DrawTextA. Nothing here calls the window system, so it is tested
// without a window.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/canvas.h"
#include "app/explorer_layout.h"
#include "training/network.h"

namespace tavelin {

constexpr int32_t filter_side = 5;
constexpr int32_t rectified_side = 24;
constexpr int32_t pooled_side = 12;

// Everything the explorer shows besides the canvas.
struct ExplorerState {
    // No training data was found: the status line says where it looked.
    bool no_data = false;
    TrainingRun run;  // steps_planned is 0 until the samples are loaded
    // The filters as they are now: filter k's weight (x, y) at
    // k * 25 + x + 5 * y.
    bool has_filters = false;
    std::array<float, filter_count * filter_side * filter_side> filters{};
    // The latest answer: the image the network was given (row-major bytes,
    // 0 background), its ten scores in percent, the digit (-1 none), and
    // what the layers made of it, map k's value (x, y) at
    // k * side * side + x + side * y.
    bool has_answer = false;
    std::array<uint8_t, image_bytes> seen{};
    std::array<float, digit_count> scores{};
    int32_t digit = -1;
    std::array<float, filter_count * rectified_side * rectified_side> rectified{};
    std::array<float, filter_count * pooled_side * pooled_side> pooled{};
    // What to do next, or what Tab showed.
    std::string hint;
};

// The picture of `state` and `canvas` (28 x 28) for a client area of
// width x height, into `out` (width * height pixels, rows top down).
void compose_explorer(const ExplorerState& state, const Pixel* canvas, int32_t width, int32_t height, Pixel* out);

struct ExplorerText {
    RECT rect;
    int32_t font_height;
    bool bold;
    Color color;
    std::string text;
};

// The words that go over the picture, `status` on the status line.
std::vector<ExplorerText> explorer_texts(const ExplorerState& state, const ExplorerLayout& layout,
                                         const std::string& status);

}  // namespace tavelin
