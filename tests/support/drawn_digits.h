// Digits drawn the ways people draw them, as the mouse would report them:
// strokes of client positions for a window of a given size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavelin::test_util {

// A point in canvas cells: x from 0 (left) to 28, y from 0 (top) to 28.
struct CanvasPoint {
    float x, y;
};
using Polyline = std::vector<CanvasPoint>;

struct DrawnDigit {
    int32_t digit;
    std::string way;  // "centred", "small", "quick", "open 4", ...
    std::vector<Polyline> strokes;
    // Client pixels between the positions the mouse reports.
    int32_t spacing;
};

// Every digit drawn centred, small, large, off-centre in each of the four
// directions, thick (two close passes), slanted and quick (few positions),
// and a few other common shapes: 104 drawings.
std::vector<DrawnDigit> drawn_digits();

struct ClientPoint {
    int32_t x, y;
};
// The positions the mouse reports along one stroke, `spacing` pixels apart
// along the path, from its first point to its last, in a client area of
// width x height pixels.
std::vector<ClientPoint> mouse_positions(const Polyline& stroke, int32_t spacing, int32_t width, int32_t height);

}  // namespace tavelin::test_util
