// Convolution layer: learned square filters slid over the input with a
// fixed stride; one output map per filter, no bias, no activation. Only
// windows wholly inside the input are computed.
#pragma once

#include <vector>

#include "layers/layer.h"
#include "layers/output_window.h"

namespace tavelin {

struct ConvLayer : Layer {
    std::vector<Tensor> filters;           // extent x extent x in.z each
    std::vector<CellTensor> filter_grads;  // one cell per filter weight
    uint16_t stride;
    uint16_t extent;

    // Draws filter_count * extent * extent * in.z values from rand().
    ConvLayer(uint16_t stride, uint16_t extent, int32_t filter_count, Shape in_size);
};

Shape conv_output_shape(uint16_t stride, uint16_t extent, int32_t filter_count, Shape in_size);

OutputWindow output_window(const ConvLayer& layer, int32_t x, int32_t y);

void forward_conv(ConvLayer& layer);
void backward_conv(ConvLayer& layer, const Tensor& next);
void update_conv(ConvLayer& layer);

}  // namespace tavelin
