// Dense sigmoid layer: every input element linked to every output neuron,
// no bias, logistic sigmoid. One GradientCell per neuron, shared by all of
// that neuron's weights.
#pragma once

#include <vector>

#include "layers/layer.h"

namespace tavelin {

// Working space of the vectorised forward pass, sized at construction for
// the layer's input extents. The layer's own pass rebuilds what it reads
// from `weights` every time; the chain (chain.h) keeps weights_by_input
// laid out across steps, since its update writes both, and rebuilds it
// whenever `laid_out` is false.
struct DenseScratch {
    // The forward walk (x outermost, z innermost) as a list: step t reads
    // input element input_at_step[t].
    std::vector<int32_t> input_at_step;
    // Weights of up to 8 neurons side by side: weight (m, o0 + k) at 8m + k.
    Tensor weights_by_input;
    // The chain's: neurons 8 and 9 side by side, weight (m, 8 + k) at
    // 2m + k, so that its walk takes both from one 8-byte load.
    Tensor pairs_by_input;
    // Whether weights_by_input holds neurons 0..7 of `weights` as they are
    // now, and pairs_by_input neurons 8 and 9. Anything that changes the
    // weights other than the chain's update clears it (weights_changed).
    bool laid_out = false;
};

struct DenseLayer : Layer {
    std::vector<float> sums;               // pre-activation sums of the last forward
    Tensor weights;                        // n x output_count x 1; weights(m, o) at m + o*n
    std::vector<GradientCell> gradients;  // one per output neuron
    DenseScratch scratch;

    // Draws n * output_count values from rand(), n = in.x * in.y * in.z.
    DenseLayer(Shape in_size, int32_t output_count);
};

// 1 / (exp(-sum) + 1), exp in double, everything else in float.
float sigmoid(float sum);

// To be called after changing a layer's weights by hand once it has run:
// the chain's forward pass then lays them out afresh.
inline void weights_changed(DenseLayer& layer) { layer.scratch.laid_out = false; }

// The layer's passes (see kernels.h).
void forward_dense(DenseLayer& layer);
void backward_dense(DenseLayer& layer, const Tensor& next);
void update_dense(DenseLayer& layer);

// The plain twins, the loops as defined.
void forward_dense_plain(DenseLayer& layer);
void backward_dense_plain(DenseLayer& layer, const Tensor& next);
void update_dense_plain(DenseLayer& layer);

// The fast passes' working space, sized once; they take every dense layer.
void prepare_dense_lanes(DenseLayer& layer);

}  // namespace tavelin
