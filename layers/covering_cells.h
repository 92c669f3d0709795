// Which output cells of a windowed layer (convolution, max-pooling) have
// windows that cover a given input position.
#pragma once

#include <cstdint>

namespace tavelin {

// The inclusive block of output cells min..max on each axis; empty when
// min_x > max_x or min_y > max_y.
struct CoveringCells {
    int32_t min_x, min_y, min_z;
    int32_t max_x, max_y, max_z;
};

// A float output position held inside 0 .. limit-1: rounded up for the
// first window (upward) and down for the last one.
int32_t clamp_cell(float v, int32_t limit, bool upward);

// The output cells whose windows (corner at output*stride, `extent` wide)
// contain input column x and input row y, held inside the output extents.
CoveringCells covering_cells(int32_t x, int32_t y, uint16_t stride, uint16_t extent,
                             int32_t out_x, int32_t out_y, int32_t out_z);

}  // namespace tavelin
