// The network the program builds, run as one chain: convolution 5 x 5 with
// stride 1 and 8 filters on a 28 x 28 image -> rectifier -> 2 x 2 pooling
// -> dense sigmoid. Its fused passes keep values in registers from one
// layer into the next instead of writing and reading them back between
// passes; every layer's weights and cells, the pooling's and the dense
// layer's outputs and the dense layer's input gradients get the bits the
// layers' own passes give them, one by one. So do the maps in between (the
// convolution's and the rectifier's outputs, the rectifier's and the
// pooling's input gradients) unless the level's chain keeps them to itself
// (LayerKernels::chain_leaves_maps). Any other network runs layer by
// layer.
#pragma once

#include <cstddef>

#include "layers/kernels.h"

namespace tavelin {

// Whether layers[0 .. count) have the chain's kinds and shapes, with the
// convolution's input gradients unread (it is the first layer).
bool chain_fits(LayerList layers, size_t count);

// Chooses, once, the fused passes for layers that fit the chain and were
// all given the same level (use_kernels); otherwise they run one by one.
void use_chain(LayerList layers, size_t count);

// A training step's forward sweep, and its backward sweep with both
// weight updates (next = d loss / d the last layer's output), when the
// chain was chosen for these layers; false, having done nothing, when it
// was not: the caller then runs the layers one by one.
bool forward_chain(LayerList layers, size_t count, const Tensor& image);
bool backward_and_update_chain(LayerList layers, size_t count, const Tensor& next);

}  // namespace tavelin
