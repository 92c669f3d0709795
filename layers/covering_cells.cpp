#include "layers/covering_cells.h"

#include <cmath>

namespace tavelin {

int32_t clamp_cell(float v, int32_t limit, bool upward) {
    // Not greater than 0 also catches NaN (a zero stride), which has no
    // integer value to convert to.
    if (!(v > 0)) return 0;
    if (v >= float(limit - 1)) return limit - 1;
    double rounded = upward ? std::ceil(double(v)) : std::floor(double(v));
    return int32_t(float(rounded));
}

CoveringCells covering_cells(int32_t x, int32_t y, uint16_t stride, uint16_t extent,
                             int32_t out_x, int32_t out_y, int32_t out_z) {
    const float fx = float(x);
    const float fy = float(y);
    const float fe = float(extent);
    const float fs = float(stride);
    CoveringCells w;
    w.min_x = clamp_cell((fx - fe + 1) / fs, out_x, true);
    w.min_y = clamp_cell((fy - fe + 1) / fs, out_y, true);
    w.min_z = 0;
    w.max_x = clamp_cell(fx / fs, out_x, false);
    w.max_y = clamp_cell(fy / fs, out_y, false);
    w.max_z = out_z - 1;
    return w;
}

}  // namespace tavelin
