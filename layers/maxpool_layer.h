// Max-pooling layer: the largest value of each square window, one z layer
// at a time. Backward hands an output cell's whole gradient to every input
// position of its window that equals the maximum.
#pragma once

#include "core/gradient_cell.h"
#include "layers/covering_cells.h"
#include "layers/layer.h"

namespace tavelin {

// Where every window's maximum starts: the most negative finite float, so
// that a window of -inf or NaN alone keeps it.
constexpr float lowest_finite = float_from_bits(0xFF7FFFFFu);

struct MaxPoolLayer : Layer {
    uint16_t stride;
    uint16_t extent;

    MaxPoolLayer(uint16_t stride, uint16_t extent, Shape in_size);
};

Shape maxpool_output_shape(uint16_t stride, uint16_t extent, Shape in_size);

CoveringCells covering_cells(const MaxPoolLayer& layer, int32_t x, int32_t y);

// The layer's passes (see kernels.h).
void forward_maxpool(MaxPoolLayer& layer);
void backward_maxpool(MaxPoolLayer& layer, const Tensor& next);

// The plain twins: every shape, the loops as defined.
void forward_maxpool_plain(MaxPoolLayer& layer);
void backward_maxpool_plain(MaxPoolLayer& layer, const Tensor& next);

// Whether the fast passes take this layer: 2 x 2 windows, stride 2, tiling
// the input.
bool maxpool_fits_lanes(const MaxPoolLayer& layer);

}  // namespace tavelin
