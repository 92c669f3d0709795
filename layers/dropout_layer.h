// Dropout layer: keeps each input element with probability
// activation_probability, drawing afresh on every forward pass; kept
// elements pass unscaled. The program's network has none, but the kind is
// complete so that a network can use one.
#pragma once

#include "layers/layer.h"

namespace tavelin {

struct DropoutLayer : Layer {
    MaskTensor mask;  // 1 where the last forward kept the element
    float activation_probability;

    DropoutLayer(Shape in_size, float activation_probability);
};

void forward_dropout(DropoutLayer& layer);
void backward_dropout(DropoutLayer& layer, const Tensor& next);

}  // namespace tavelin
