#include "layers/dense_layer.h"

#include <cmath>

#include "core/random.h"
#include "layers/dense_lanes.h"

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
        for (int32_t m = 0; m < n; m++) weights(m, o, 0) = float(rand()) * scale / 32767;
    prepare_dense_lanes(*this);
}

float sigmoid(float sum) {
    // A huge e rounds to +inf in float, and 1 / inf is the 0.0 we want.
    const float e = float(std::exp(double(-sum)));
    return 1 / (e + 1);
}

namespace {

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

}  // namespace

// The vectorised passes take every layer they fit (the input extents it
// was built with); the plain loops take the rest.
void forward_dense(DenseLayer& l) {
    if (dense_lanes_fit(l)) forward_dense_lanes(l);
    else forward_dense_plain(l);
}

void backward_dense(DenseLayer& l, const Tensor& next) {
    if (dense_lanes_fit(l)) backward_dense_lanes(l, next);
    else backward_dense_plain(l, next);
}

void update_dense(DenseLayer& l) {
    if (dense_lanes_fit(l)) update_dense_lanes(l);
    else update_dense_plain(l);
}

}  // namespace tavelin
