// Convolution layer: learned square filters slid over the input with a
// fixed stride; one output map per filter, no bias, no activation. Only
// windows wholly inside the input are computed.
#pragma once

#include <vector>

#include "layers/layer.h"
#include "layers/covering_cells.h"

namespace tavelin {

// Working space of the vectorised passes, sized at construction for
// the layer's shapes. It is nobody's state: its contents mean nothing
// between operations, and no result depends on what it held before.
struct ConvScratch {
    // next with the filter index fastest, output positions in column order
    // (x outer, y inner), the filters padded with zeros to a multiple of 8.
    Tensor grads_by_position;
    // next, one row (fixed y and filter) at a time, with frame_lead (at
    // least extent - 1) zeros before each row and zeros after it up to
    // whole groups of 8 input columns.
    Tensor framed_grads;
    int32_t frame_lead = 0;
    int32_t framed_row = 0;  // floats per row of framed_grads
    // The filters' weights with the filter index fastest.
    Tensor filters_by_offset;
    // Where window element (i, j, z) lies relative to the window's corner in
    // the input, and in a filter, for i, j, z in the order the sums take them.
    std::vector<int32_t> window_offsets;
    std::vector<int32_t> filter_offsets;
    // The chain's (chain.h), at the levels where it keeps the filters in
    // lanes from the sums to the pooling: the sums and the rectified sums by
    // output position as grads_by_position, and the pooled values and their
    // gradients by pooled position (x outer, y inner, the filter fastest).
    Tensor sums_by_position;
    Tensor rectified_by_position;
    Tensor pooled_by_position;
    Tensor pooled_grads_by_position;
};

struct ConvLayer : Layer {
    std::vector<Tensor> filters;           // extent x extent x in.z each
    std::vector<CellTensor> filter_grads;  // one cell per filter weight
    uint16_t stride;
    uint16_t extent;
    // False when nothing reads input_grads (the network's first layer, whose
    // input is the image): backward then leaves them alone, which is half
    // of its work.
    bool input_grads_read = true;
    ConvScratch scratch;

    // Draws filter_count * extent * extent * in.z values from rand().
    ConvLayer(uint16_t stride, uint16_t extent, int32_t filter_count, Shape in_size);
};

Shape conv_output_shape(uint16_t stride, uint16_t extent, int32_t filter_count, Shape in_size);

CoveringCells covering_cells(const ConvLayer& layer, int32_t x, int32_t y);

// The layer's passes (see kernels.h).
void forward_conv(ConvLayer& layer);
void backward_conv(ConvLayer& layer, const Tensor& next);
void update_conv(ConvLayer& layer);

// The plain twins: every shape, the loops as defined.
void forward_conv_plain(ConvLayer& layer);
void backward_conv_plain(ConvLayer& layer, const Tensor& next);
void update_conv_plain(ConvLayer& layer);

// Whether the fast passes take this layer (stride 1), and their working
// space, sized once.
bool conv_fits_lanes(const ConvLayer& layer);
void prepare_conv_lanes(ConvLayer& layer);

}  // namespace tavelin
