// The dense layer's passes with eight independent sums side by side, on
// the input extents the layer was built for. Every sum is the plain
// loops' sum: the same terms in the same order, one rounded operation at
// a time (see dense_layer.cpp for the plain loops).
#include "layers/float8.h"
#include "layers/lanes.h"

namespace tavelin::TAVELIN_LEVEL {

using lanes::float8;

namespace {

// Neurons computed in one walk of the forward pass: eight in vector lanes
// and up to this many more as scalar sums beside them.
constexpr int32_t scalar_neurons_per_walk = 2;

}  // namespace

// Copies the weights of neurons o0 .. o0+7 side by side, eight floats per
// input element m (in storage order): blocks of 8 inputs by 8 neurons turn
// around in registers. Lanes of neurons past the last are zero.
void lay_out_weights(DenseLayer& l, int32_t o0, int32_t m_begin, int32_t m_end) {
    const int32_t n = l.weights.size_x;
    const int32_t count = l.output.size_x;
    float* by_input = l.scratch.weights_by_input.data;
    const float* w = l.weights.data + size_t(o0) * size_t(n);
    const int32_t rows = count - o0 < lanes::width ? count - o0 : lanes::width;
    int32_t m0 = m_begin;
    for (; m0 + lanes::width <= m_end; m0 += lanes::width) {
        float8 r[8];
        if (rows == lanes::width) {
            for (int t = 0; t < 8; t++) r[t] = lanes::load(w + size_t(t) * size_t(n) + size_t(m0));
        } else {
            for (int t = 0; t < 8; t++)
                r[t] = t < rows ? lanes::load(w + size_t(t) * size_t(n) + size_t(m0)) : lanes::splat(0.0f);
        }
        lanes::transpose(r);
        for (int u = 0; u < 8; u++) lanes::store(by_input + size_t(m0 + u) * lanes::width, r[u]);
    }
    for (; m0 < m_end; m0++)
        for (int32_t t = 0; t < lanes::width; t++)
            by_input[size_t(m0) * lanes::width + size_t(t)] = t < rows ? w[size_t(t) * size_t(n) + size_t(m0)] : 0.0f;
}

namespace {

// The sums of neurons o0 .. o0+7 in lanes and of the S neurons after them
// as scalars, in one walk over the input (x outermost, z innermost): each
// sum takes its terms in the plain order.
template <int S>
void forward_walk(DenseLayer& l, int32_t o0) {
    const int32_t n = l.weights.size_x;
    const int32_t count = l.output.size_x;
    lay_out_weights(l, o0, 0, n);
    const float* in = l.input.data;
    const int32_t* input_at = l.scratch.input_at_step.data();
    const float* by_input = l.scratch.weights_by_input.data;
    const float* extra = S > 0 ? l.weights.data + size_t(o0 + lanes::width) * size_t(n) : nullptr;
    float8 sum = lanes::splat(0.0f);
    float extra_sum[S > 0 ? S : 1] = {};
    for (int32_t t = 0; t < n; t++) {
        const int32_t m = input_at[t];
        const float v = in[m];
        sum = sum + v * lanes::load(by_input + m * lanes::width);
        for (int s = 0; s < S; s++) extra_sum[s] = extra_sum[s] + v * extra[size_t(s) * size_t(n) + size_t(m)];
    }
    const int32_t lanes_used = count - o0 < lanes::width ? count - o0 : lanes::width;
    for (int32_t k = 0; k < lanes_used; k++) {
        l.sums[size_t(o0 + k)] = lanes::lane(sum, k);
        l.output[o0 + k] = sigmoid(lanes::lane(sum, k));
    }
    for (int s = 0; s < S; s++) {
        const int32_t o = o0 + lanes::width + s;
        l.sums[size_t(o)] = extra_sum[s];
        l.output[o] = sigmoid(extra_sum[s]);
    }
}

void forward_walks(DenseLayer& l) {
    const int32_t count = l.output.size_x;
    int32_t o0 = 0;
    while (o0 < count) {
        const int32_t left = count - o0 - lanes::width;
        const int32_t extra = left <= 0 ? 0 : left < scalar_neurons_per_walk ? left : scalar_neurons_per_walk;
        if (extra >= 2) forward_walk<2>(l, o0);
        else if (extra == 1) forward_walk<1>(l, o0);
        else forward_walk<0>(l, o0);
        o0 += lanes::width + extra;
    }
}

// Each input gradient is its own sum over the neurons, so the vector runs
// across input elements: lane m adds weights(m, o) * value(o) for
// o = 0, 1, ... onto 0.0, exactly the plain order for element m.
void backward_across_inputs(DenseLayer& l, const Tensor& next) {
    const int32_t count = l.output.size_x;
    for (int32_t o = 0; o < count; o++) {
        const float s = sigmoid(l.sums[size_t(o)]);
        l.gradients[size_t(o)].value = ((1 - s) * s) * next[o];
    }
    const int32_t n = l.weights.size_x;
    const float* w = l.weights.data;
    const GradientCell* cells = l.gradients.data();
    float* grads = l.input_grads.data;
    int32_t m = 0;
    for (; m + lanes::width <= n; m += lanes::width) {
        float8 sum = lanes::splat(0.0f);
        for (int32_t o = 0; o < count; o++)
            sum = sum + lanes::load(w + size_t(o) * size_t(n) + size_t(m)) * cells[o].value;
        lanes::store(grads + m, sum);
    }
    for (; m < n; m++) {
        float sum = 0.0f;
        for (int32_t o = 0; o < count; o++) sum = sum + w[size_t(o) * size_t(n) + size_t(m)] * cells[o].value;
        grads[m] = sum;
    }
}

// Each weight's update is independent of the others, so the vector runs
// across a neuron's weights in storage order. g * rate is the same for all
// of them; carried moves once, after the last weight.
void update_across_inputs(DenseLayer& l) {
    const int32_t n = l.weights.size_x;
    const float* in = l.input.data;
    for (int32_t o = 0; o < l.output.size_x; o++) {
        GradientCell& cell = l.gradients[size_t(o)];
        float g = cell.carried * momentum;
        g = g + cell.value;
        const float step = g * learning_rate;
        float* w = l.weights.data + size_t(o) * size_t(n);
        int32_t m = 0;
        for (; m + lanes::width <= n; m += lanes::width) {
            const float8 wm = lanes::load(w + m);
            float8 s = step * lanes::load(in + m);
            const float8 d = wm * weight_decay;
            s = s + d;
            lanes::store(w + m, wm - s);
        }
        for (; m < n; m++) {
            float s = step * in[m];
            const float d = w[m] * weight_decay;
            s = s + d;
            w[m] = w[m] - s;
        }
        cell.carried = g;
    }
}

}  // namespace

void forward_dense_lanes(DenseLayer& l) { forward_walks(l); }
void backward_dense_lanes(DenseLayer& l, const Tensor& next) { backward_across_inputs(l, next); }
void update_dense_lanes(DenseLayer& l) { update_across_inputs(l); }

}  // namespace tavelin::TAVELIN_LEVEL
