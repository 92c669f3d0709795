// One block of the convolution's filter gradients, eight filters side by
// side; the layer's backward pass and the chain (chain_columns.cpp) both sum
// their cells with it. Compiled once per level, like the files that
// include it.
#pragma once

#include "layers/conv_layer.h"
#include "layers/float8.h"

namespace tavelin::TAVELIN_LEVEL {

using lanes::float8;

// Each file that includes it keeps its own copy, compiled with that file's
// options.
namespace {

// Cells (a0 .. a0+NA-1, b0 .. b0+NR-1, z) of filters k0 .. k0+7, each lane a
// filter: the lanes of one accumulator are eight independent cells. Reads
// the gradients laid out by position (ConvScratch::grads_by_position);
// stride 1.
template <int NA, int NR>
void cell_block(ConvLayer& l, int32_t z, int32_t k0, int32_t a0, int32_t b0) {
    const int32_t out_x = l.output.size_x;
    const int32_t out_y = l.output.size_y;
    const int32_t sx = l.input.size_x;
    const int32_t filter_count = int32_t(l.filters.size());
    const int32_t padded_count = lane_groups(filter_count) * lanes::width;
    const float* by_position = l.scratch.grads_by_position.data + k0;
    const float* origin = l.input.data + z * sx * l.input.size_y + a0 + b0 * sx;
    float8 acc[NR][NA];
    for (int r = 0; r < NR; r++)
        for (int a = 0; a < NA; a++) acc[r][a] = lanes::splat(0.0f);
    for (int32_t i = 0; i < out_x; i++)
        for (int32_t j = 0; j < out_y; j++) {
            const float8 d = lanes::load(by_position + (i * out_y + j) * padded_count);
            const float* p = origin + i + j * sx;
            for (int r = 0; r < NR; r++)
                for (int a = 0; a < NA; a++) acc[r][a] = acc[r][a] + p[r * sx + a] * d;
        }
    const int32_t lanes_used = filter_count - k0 < lanes::width ? filter_count - k0 : lanes::width;
    for (int32_t lane = 0; lane < lanes_used; lane++) {
        CellTensor& cells = l.filter_grads[size_t(k0 + lane)];
        for (int r = 0; r < NR; r++)
            for (int a = 0; a < NA; a++) cells(a0 + a, b0 + r, z).value = lanes::lane(acc[r][a], lane);
    }
}

}  // namespace

}  // namespace tavelin::TAVELIN_LEVEL
