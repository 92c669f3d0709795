// Max-pooling layer: the largest value of each square window, one z layer
// at a time. Backward hands an output cell's whole gradient to every input
// position of its window that equals the maximum.
#pragma once

#include "layers/layer.h"
#include "layers/output_window.h"

namespace tavelin {

struct MaxPoolLayer : Layer {
    uint16_t stride;
    uint16_t extent;

    MaxPoolLayer(uint16_t stride, uint16_t extent, Shape in_size);
};

Shape maxpool_output_shape(uint16_t stride, uint16_t extent, Shape in_size);

OutputWindow output_window(const MaxPoolLayer& layer, int32_t x, int32_t y);

void forward_maxpool(MaxPoolLayer& layer);
void backward_maxpool(MaxPoolLayer& layer, const Tensor& next);

}  // namespace tavelin
