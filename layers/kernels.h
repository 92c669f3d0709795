// Which code runs the layers' passes. Every pass has a plain twin (the
// loops of its definition, one scalar operation at a time) and, for the
// shapes it fits, a fast one with eight sums side by side. The fast passes
// are built once per instruction-set level (x86-64, AVX2, AVX-512); the
// level is chosen once, at start, from what the CPU supports, and each
// layer is given its passes once, when it is built. Every level gives the
// plain twins' bits.
#pragma once

#include <cstdint>
#include <vector>

#include "core/tensor.h"

namespace tavelin {

struct Layer;
struct ConvLayer;
struct DenseLayer;
struct ReluLayer;
struct MaxPoolLayer;
using LayerList = Layer* const*;

// Lanes of the fast passes at every level: the working-space layouts
// depend on it, the level only on how the lanes are held.
constexpr int32_t lane_count = 8;

// How many groups of lane_count it takes to hold n values.
constexpr int32_t lane_groups(int32_t n) { return (n + lane_count - 1) / lane_count; }

struct LayerKernels {
    const char* level;  // "plain", "x86-64", "avx2", "avx512"
    void (*forward_conv)(ConvLayer&);
    void (*backward_conv)(ConvLayer&, const Tensor& next);
    void (*update_conv)(ConvLayer&);
    void (*forward_dense)(DenseLayer&);
    void (*backward_dense)(DenseLayer&, const Tensor& next);
    void (*update_dense)(DenseLayer&);
    void (*forward_relu)(ReluLayer&);
    void (*backward_relu)(ReluLayer&, const Tensor& next);
    void (*forward_maxpool)(MaxPoolLayer&);
    void (*backward_maxpool)(MaxPoolLayer&, const Tensor& next);
    // The program's network as one chain (chain.h); null for plain.
    void (*forward_chain)(LayerList layers, const Tensor& image);
    void (*backward_chain)(LayerList layers, const Tensor& next);
    // Whether the chain keeps the maps between the convolution and the
    // pooling to itself: it then leaves the convolution's and the
    // rectifier's outputs and the rectifier's and the pooling's input
    // gradients unwritten, since within a step only the chain reads them
    // (recognition runs the layers one by one and writes them all).
    bool chain_leaves_maps;
};

// The plain twins of every pass.
const LayerKernels& plain_kernels();

// The best level this CPU runs, chosen on first use. The environment
// variable TAVELIN_ISA names a lower one to use instead ("plain",
// "x86-64", "avx2", "avx512"); a level that is unknown or that the CPU
// lacks is refused with a message on standard error.
const LayerKernels& chosen_kernels();

// The levels this build holds that this CPU runs, best first, then plain.
std::vector<const LayerKernels*> runnable_kernels();

// Gives `layer` its passes: those of `kernels` where its shapes fit them,
// else the plain twins; sizes the working space they need. Layers are
// built with chosen_kernels(). The layer no longer heads a chain.
void use_kernels(Layer& layer, const LayerKernels& kernels);

}  // namespace tavelin
