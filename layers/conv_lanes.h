// The convolution's vectorised passes (conv_lanes.cpp): each output, cell
// and input gradient is still the plain loops' sum, term by term in the
// same order; eight of them run side by side.
#pragma once

#include "layers/conv_layer.h"

namespace tavelin {

// Whether the passes below take this layer as it is now: stride 1, and the
// input, output, filters and cells have the extents it was built with.
bool conv_lanes_fit(const ConvLayer& layer);

// Sizes layer.scratch for the passes; leaves it empty when they never fit.
void prepare_conv_lanes(ConvLayer& layer);

// Only for a layer that fits.
void forward_conv_lanes(ConvLayer& layer);
void update_conv_lanes(ConvLayer& layer);

// Runs the backward pass and returns true, or returns false having written
// nothing when it cannot (the layer does not fit, next has other extents,
// or a filter weight is not finite).
bool backward_conv_lanes(ConvLayer& layer, const Tensor& next);

}  // namespace tavelin
