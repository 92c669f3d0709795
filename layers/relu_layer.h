// Rectifier layer: negative inputs become +0; the gradient passes wherever
// the input was not negative.
#pragma once

#include "layers/layer.h"

namespace tavelin {

struct ReluLayer : Layer {
    explicit ReluLayer(Shape in_size) : Layer(LayerKind::Relu, in_size, in_size) {}
};

void forward_relu(ReluLayer& layer);
void backward_relu(ReluLayer& layer, const Tensor& next);

}  // namespace tavelin
