// The fast passes of one instruction-set level. The files that include
// this are compiled once per level, each time with TAVELIN_LEVEL naming
// the level's namespace and the compiler allowed that level's
// instructions; only the level's table (level_kernels.cpp) is seen from
// outside. Each fast pass gives its plain twin's bits.
#pragma once

#ifndef TAVELIN_LEVEL
#error "compile the fast passes once per level, with TAVELIN_LEVEL set (layers/CMakeLists.txt)"
#endif

#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/kernels.h"
#include "layers/maxpool_layer.h"
#include "layers/relu_layer.h"

namespace tavelin::TAVELIN_LEVEL {

// Stride 1, on the shapes the layer was built with (conv_fits_lanes).
void forward_conv_lanes(ConvLayer& layer);
// Hands a layer with a non-finite weight to the plain twin: the zeros
// around the gradients' rows would turn into NaN.
void backward_conv_lanes(ConvLayer& layer, const Tensor& next);

void forward_dense_lanes(DenseLayer& layer);
void backward_dense_lanes(DenseLayer& layer, const Tensor& next);
void update_dense_lanes(DenseLayer& layer);

void forward_relu_lanes(ReluLayer& layer);
void backward_relu_lanes(ReluLayer& layer, const Tensor& next);

// 2 x 2 windows with stride 2 that tile the input (maxpool_fits_lanes).
void forward_maxpool_lanes(MaxPoolLayer& layer);
void backward_maxpool_lanes(MaxPoolLayer& layer, const Tensor& next);

// The program's network in one go (chain_fits): conv, relu, pooling and
// dense forward; then every backward pass and both updates.
void forward_chain_lanes(LayerList layers, const Tensor& image);
void backward_chain_lanes(LayerList layers, const Tensor& next);

// Shared with the chain: the weights of neurons o0 .. o0+7 side by side
// for input elements m0 .. m1-1 (m0 a multiple of 8; m1 a multiple of 8 or
// the input count).
void lay_out_weights(DenseLayer& layer, int32_t o0, int32_t m0, int32_t m1);
void update_conv_lanes(ConvLayer& layer);
// The filters' weights with the filter index fastest, into the layer's
// working space (ConvScratch::filters_by_offset).
void lay_out_filters(ConvLayer& layer);

// Whether the chain keeps the 8 filters in the lanes of its vectors from
// the convolution's sums through the pooling and back (ConvScratch's
// *_by_position), which leaves the layers' maps in between unwritten
// (LayerKernels::chain_leaves_maps) and saves turning the maps around
// between the passes: where the registers hold a dozen positions' sums
// (AVX2 and AVX-512). With 4-lane vectors (SSE2, the generic level) the 8
// filters of one position take two registers, and the convolution keeps
// output columns in lanes instead.
#if defined(__AVX__)
#define TAVELIN_CHAIN_BY_POSITION 1
#else
#define TAVELIN_CHAIN_BY_POSITION 0
#endif
constexpr bool chain_by_position = TAVELIN_CHAIN_BY_POSITION;

extern const LayerKernels kernels;

}  // namespace tavelin::TAVELIN_LEVEL
