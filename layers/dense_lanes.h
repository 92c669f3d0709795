// The dense layer's vectorised passes (dense_lanes.cpp): each sum is still
// the plain loops' sum, term by term in the same order; eight of them run
// side by side.
#pragma once

#include "layers/dense_layer.h"

namespace tavelin {

// Whether the passes below take this layer as it is now: the input has the
// extents the layer was built with, and the records their sizes.
bool dense_lanes_fit(const DenseLayer& layer);

// Fills layer.scratch for the passes.
void prepare_dense_lanes(DenseLayer& layer);

// Only for a layer that fits.
void forward_dense_lanes(DenseLayer& layer);
void backward_dense_lanes(DenseLayer& layer, const Tensor& next);
void update_dense_lanes(DenseLayer& layer);

}  // namespace tavelin
