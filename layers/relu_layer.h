// Rectifier layer: negative inputs become +0; the gradient passes wherever
// the input was not negative.
#pragma once

#include "layers/layer.h"

namespace tavelin {

struct ReluLayer : Layer {
    explicit ReluLayer(Shape in_size);
};

// The layer's passes (see kernels.h), and their plain twins.
void forward_relu(ReluLayer& layer);
void backward_relu(ReluLayer& layer, const Tensor& next);
void forward_relu_plain(ReluLayer& layer);
void backward_relu_plain(ReluLayer& layer, const Tensor& next);

}  // namespace tavelin
