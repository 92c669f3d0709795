// The layer record and the three operations on it.
//
// Every layer kind is a plain record that starts with the common fields
// below; forward, backward and apply_gradients select the kind's behaviour
// with one switch on `kind`. There are no virtual functions. A kind tag
// outside Conv .. Dropout makes all three operations do nothing.
//
// Layers are created once, live in the network for the whole process and
// are never destroyed.
#pragma once

#include <cstdint>

#include "core/tensor.h"

namespace tavelin {

enum class LayerKind : int32_t { Conv = 0, Dense = 1, Relu = 2, MaxPool = 3, Dropout = 4 };

struct LayerKernels;

struct Layer {
    LayerKind kind;
    const LayerKernels* kernels = nullptr;  // the passes it runs, given when it is built
    // On a network's first layer: the level whose fused passes run it and
    // the layers after it as one chain (chain.h); null when they run one
    // by one.
    const LayerKernels* chain = nullptr;
    Tensor input_grads;  // d loss / d input, the input's extents
    TensorView input;    // view of the tensor given to the last forward
    Tensor output;       // written by forward

    Layer(LayerKind k, Shape in_size, Shape out_size)
        : kind(k), input_grads(in_size), input(unset_view(in_size)), output(out_size) {}
};

// input becomes a view of `in`, then the kind computes output from it.
void forward(Layer& layer, const Tensor& in);
// next = d loss / d output. Writes input_grads (and the gradient cells of
// the layers that learn). Never changes next, input or output.
void backward(Layer& layer, const Tensor& next);
// Moves the weights of the layers that learn one step.
void apply_gradients(Layer& layer);

}  // namespace tavelin
