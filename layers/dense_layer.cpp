#include "layers/dense_layer.h"

#include <cmath>

#include "core/random.h"
#include "layers/kernels.h"

namespace tavelin {

DenseLayer::DenseLayer(Shape in, int32_t output_count)
    : Layer(LayerKind::Dense, in, Shape{output_count, 1, 1}),
      sums(size_t(output_count), 0.0f),
      weights(in.x * in.y * in.z, output_count, 1),
      gradients(size_t(output_count)) {
    const int32_t n = weights.size_x;
    // 2.19722 ~ ln 9: the largest start sum of a neuron over an all-ones input.
    const float scale = float_from_bits(0x400C9F41u) / float(n);
    for (int32_t o = 0; o < output_count; o++)
        for (int32_t m = 0; m < n; m++) weights(m, o, 0) = float(rand()) * scale / rand_max;
    use_kernels(*this, chosen_kernels());
}

float sigmoid(float sum) {
    // A huge e rounds to +inf in float, and 1 / inf is the 0.0 we want.
    const float e = float(std::exp(double(-sum)));
    return 1 / (e + 1);
}

// ---- plain loops: every shape ----------------------------------------------

// in: in.x x in.y x in.z, walked x outermost (not storage order);
// out: output_count x 1 x 1.
// sums[o] = sum over (x, y, z) of in(x, y, z) * weights(m, o), m = flat index
void forward_dense_plain(DenseLayer& l) {
    const TensorView& in = l.input;
    const int32_t n = l.weights.size_x;
    for (int32_t o = 0; o < l.output.size_x; o++) {
        const float* w = l.weights.data + size_t(o) * size_t(n);
        float sum = 0.0f;
        for (int32_t x = 0; x < in.size_x; x++)
            for (int32_t y = 0; y < in.size_y; y++)
                for (int32_t z = 0; z < in.size_z; z++) {
                    const int32_t m = x + y * in.size_x + z * in.size_x * in.size_y;
                    sum = sum + in.data[m] * w[m];
                }
        l.sums[size_t(o)] = sum;
        l.output[o] = sigmoid(sum);
    }
}

// next = G, read at flat position o. Each neuron's cell gets
// (1 - s) * s * G(o); every input gradient sums weight * cell over neurons
// o = 0, 1, ... starting from 0.
void backward_dense_plain(DenseLayer& l, const Tensor& next) {
    const TensorView& in = l.input;
    const int32_t n = l.weights.size_x;
    for (int32_t i = 0; i < l.input_grads.count(); i++) l.input_grads[i] = 0.0f;
    for (int32_t o = 0; o < l.output.size_x; o++) {
        const float s = sigmoid(l.sums[size_t(o)]);
        GradientCell& cell = l.gradients[size_t(o)];
        cell.value = ((1 - s) * s) * next[o];
        const float* w = l.weights.data + size_t(o) * size_t(n);
        for (int32_t x = 0; x < in.size_x; x++)
            for (int32_t y = 0; y < in.size_y; y++)
                for (int32_t z = 0; z < in.size_z; z++) {
                    const int32_t m = x + y * in.size_x + z * in.size_x * in.size_y;
                    l.input_grads[m] = l.input_grads[m] + w[m] * cell.value;
                }
    }
}

void update_dense_plain(DenseLayer& l) {
    const TensorView& in = l.input;
    const int32_t n = l.weights.size_x;
    for (int32_t o = 0; o < l.output.size_x; o++) {
        GradientCell& cell = l.gradients[size_t(o)];
        float* w = l.weights.data + size_t(o) * size_t(n);
        for (int32_t x = 0; x < in.size_x; x++)
            for (int32_t y = 0; y < in.size_y; y++)
                for (int32_t z = 0; z < in.size_z; z++) {
                    const int32_t m = x + y * in.size_x + z * in.size_x * in.size_y;
                    w[m] = update_weight(w[m], cell, in.data[m]);
                }
        cell.carried = carry_gradient(cell);
    }
}

void prepare_dense_lanes(DenseLayer& l) {
    if (!l.scratch.input_at_step.empty()) return;
    const Shape in = l.input_grads.shape();
    const int32_t n = l.weights.size_x;
    l.scratch.input_at_step.reserve(size_t(n));
    for (int32_t x = 0; x < in.x; x++)
        for (int32_t y = 0; y < in.y; y++)
            for (int32_t z = 0; z < in.z; z++) l.scratch.input_at_step.push_back(x + y * in.x + z * in.x * in.y);
    l.scratch.weights_by_input = Tensor(lane_count, n, 1);
    if (l.output.size_x >= lane_count + 2) l.scratch.pairs_by_input = Tensor(2, n, 1);
}

void forward_dense(DenseLayer& l) { l.kernels->forward_dense(l); }
void backward_dense(DenseLayer& l, const Tensor& next) { l.kernels->backward_dense(l, next); }
void update_dense(DenseLayer& l) {
    weights_changed(l);
    l.kernels->update_dense(l);
}

}  // namespace tavelin
