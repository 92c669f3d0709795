// The program's network as one chain (chain.h): convolution 5 x 5 with
// stride 1 and 8 filters on 28 x 28 -> rectifier -> 2 x 2 pooling -> dense
// sigmoid of 10. The layers' own passes (the *_lanes.cpp files) each read
// their input from memory and write their result back; here the values stay
// in registers from the convolution's sums through the rectifier into the
// pooling, and from the pooling gradients through the rectifier into the
// layout the filter gradients read. Every sum is still the plain loops'
// sum, the same terms in the same order. This file holds the sweeps and the
// dense layer's part; the maps' part is one of two arrangements
// (chain_parts.h).
#include "layers/chain_parts.h"

namespace tavelin::TAVELIN_LEVEL {

using lanes::float8;
using namespace chain_parts;

namespace {

// Neurons 8 and 9's weights for inputs from .. to-1 side by side, the
// layout the walk reads.
void lay_out_pairs(DenseLayer& d, int32_t from, int32_t to) {
    const float* w = d.weights.data + lanes::width * dense_inputs;
    float* pairs = d.scratch.pairs_by_input.data;
    for (int32_t m = from; m < to; m++) {
        pairs[2 * m] = w[m];
        pairs[2 * m + 1] = w[dense_inputs + m];
    }
}

// The forward sweep: the maps with most of the dense walk beside them,
// then the walk's last terms and the sigmoids.
void forward_all(const Chain& c) {
    lay_out_filters(c.conv);
    if (!c.dense.scratch.laid_out) {
        lay_out_weights(c.dense, 0, 0, dense_inputs);
        lay_out_pairs(c.dense, 0, dense_inputs);
        c.dense.scratch.laid_out = true;
    }
    const float* taps = c.conv.scratch.filters_by_offset.data;
    DenseWalk walk = {chain_by_position ? c.conv.scratch.pooled_by_position.data : c.dense.input.data,
                      c.dense.scratch.input_at_step.data(),
                      c.dense.scratch.weights_by_input.data,
                      c.dense.scratch.pairs_by_input.data,
                      lanes::splat(0.0f),
                      pair4{},
                      0};
    forward_maps(c, taps, walk);
    walk.add_terms_to(dense_inputs);
    for (int32_t k = 0; k < neurons; k++) {
        const float sum = k < lanes::width ? lanes::lane(walk.first, k) : walk.rest[k - lanes::width];
        c.dense.sums[size_t(k)] = sum;
        c.dense.output[k] = sigmoid(sum);
    }
}

// ---- backward and update ---------------------------------------------------

// Weights w[0..7][0..7] (neuron o, inputs m0 .. m0+7) to out[8u + o], the
// layout the dense walk reads (DenseScratch::weights_by_input).
TAVELIN_LANES_INLINE void store_by_input(float* out, const float8 (&w)[neurons]) {
#if defined(__AVX512F__)
    // Two rows a vector: 12 two-source permutes instead of the 24
    // shuffles of 8-lane transposing. z[j] holds rows 2j and 2j + 1;
    // a01 (a23) rows 0..3 of columns 0..3 (4..7), column-major, b01 and
    // b23 rows 4..7; out gets two columns a vector.
    typedef float float16 __attribute__((vector_size(64)));
    typedef float float16_unaligned __attribute__((vector_size(64), aligned(4), may_alias));
    float16 z[4];
    TAVELIN_UNROLL(4)
    for (int j = 0; j < 4; j++)
        z[j] = __builtin_shufflevector(w[2 * j], w[2 * j + 1], 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const float16 a01 = __builtin_shufflevector(z[0], z[1], 0, 8, 16, 24, 1, 9, 17, 25, 2, 10, 18, 26, 3, 11, 19, 27);
    const float16 a23 = __builtin_shufflevector(z[0], z[1], 4, 12, 20, 28, 5, 13, 21, 29, 6, 14, 22, 30, 7, 15, 23, 31);
    const float16 b01 = __builtin_shufflevector(z[2], z[3], 0, 8, 16, 24, 1, 9, 17, 25, 2, 10, 18, 26, 3, 11, 19, 27);
    const float16 b23 = __builtin_shufflevector(z[2], z[3], 4, 12, 20, 28, 5, 13, 21, 29, 6, 14, 22, 30, 7, 15, 23, 31);
    auto* o = reinterpret_cast<float16_unaligned*>(out);
    o[0] = __builtin_shufflevector(a01, b01, 0, 1, 2, 3, 16, 17, 18, 19, 4, 5, 6, 7, 20, 21, 22, 23);
    o[1] = __builtin_shufflevector(a01, b01, 8, 9, 10, 11, 24, 25, 26, 27, 12, 13, 14, 15, 28, 29, 30, 31);
    o[2] = __builtin_shufflevector(a23, b23, 0, 1, 2, 3, 16, 17, 18, 19, 4, 5, 6, 7, 20, 21, 22, 23);
    o[3] = __builtin_shufflevector(a23, b23, 8, 9, 10, 11, 24, 25, 26, 27, 12, 13, 14, 15, 28, 29, 30, 31);
#else
    float8 r[lanes::width];
    TAVELIN_UNROLL(8)
    for (int k = 0; k < lanes::width; k++) r[k] = w[k];
    lanes::transpose(r);
    TAVELIN_UNROLL(8)
    for (int u = 0; u < lanes::width; u++) lanes::store(out + u * lanes::width, r[u]);
#endif
}

// The dense layer's backward pass and update in one walk over its
// weights: 8 input elements at a time, every neuron's weights for them
// give the input gradients (summed over o = 0, 1, ..., as the plain loops
// do) and only then move. The weights an update moves are never read again
// in the step, so the old ones are what the input gradients see. The moved
// weights of neurons 0..7 turn around in registers into the layout the
// next forward walk reads (DenseScratch::weights_by_input), which it then
// need not build from memory.
void dense_backward_and_update(DenseLayer& d, const Tensor& next) {
    float value[neurons], step[neurons], carried[neurons];
    for (int32_t o = 0; o < neurons; o++) {
        // The forward sweep's sigmoid of this sum, the same function of
        // the same value: not worked out again.
        const float s = d.output[o];
        GradientCell& cell = d.gradients[size_t(o)];
        cell.value = ((1 - s) * s) * next[o];
        value[o] = cell.value;
        float g = cell.carried * momentum;
        g = g + cell.value;
        carried[o] = g;
        step[o] = g * learning_rate;
    }
    const float* in = d.input.data;
    float* const weights = d.weights.data;
    float* const grads = d.input_grads.data;
    float* const by_input = d.scratch.weights_by_input.data;
    float* const pairs = d.scratch.pairs_by_input.data;
#if defined(__AVX512F__)
    // 16 inputs a time: half the instructions for the same lane-by-lane
    // arithmetic; the two halves are laid out one after the other.
    typedef float vec __attribute__((vector_size(64)));
    typedef float vec_unaligned __attribute__((vector_size(64), aligned(4), may_alias));
    const auto load = [](const float* p) { return vec(*reinterpret_cast<const vec_unaligned*>(p)); };
    const auto store = [](float* p, vec v) { *reinterpret_cast<vec_unaligned*>(p) = v; };
    const vec zero = vec{};
#else
    typedef float8 vec;
    const auto load = lanes::load;
    const auto store = lanes::store;
    const vec zero = lanes::splat(0.0f);
#endif
    constexpr int32_t step_inputs = int32_t(sizeof(vec) / sizeof(float));
    static_assert(dense_inputs % step_inputs == 0, "whole vectors of inputs");
    for (int32_t m = 0; m < dense_inputs; m += step_inputs) {
        vec w[neurons];
        vec sum = zero;
        for (int32_t o = 0; o < neurons; o++) {
            w[o] = load(weights + o * dense_inputs + m);
            sum = sum + w[o] * value[o];
        }
        store(grads + m, sum);
        const vec x = load(in + m);
        for (int32_t o = 0; o < neurons; o++) {
            vec s = step[o] * x;
            const vec decay = w[o] * weight_decay;
            s = s + decay;
            w[o] = w[o] - s;
            store(weights + o * dense_inputs + m, w[o]);
        }
#if defined(__AVX512F__)
        float8 low[neurons], high[neurons];
        for (int32_t o = 0; o < neurons; o++) {
            low[o] = __builtin_shufflevector(w[o], w[o], 0, 1, 2, 3, 4, 5, 6, 7);
            high[o] = __builtin_shufflevector(w[o], w[o], 8, 9, 10, 11, 12, 13, 14, 15);
        }
        store_by_input(by_input + m * lanes::width, low);
        store_by_input(by_input + (m + lanes::width) * lanes::width, high);
        store(pairs + 2 * m, __builtin_shufflevector(w[8], w[9], 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
        store(pairs + 2 * m + 16,
              __builtin_shufflevector(w[8], w[9], 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31));
#else
        store_by_input(by_input + m * lanes::width, w);
        store(pairs + 2 * m, lanes::pick<0, 8, 1, 9, 2, 10, 3, 11>(w[8], w[9]));
        store(pairs + 2 * m + lanes::width, lanes::pick<4, 12, 5, 13, 6, 14, 7, 15>(w[8], w[9]));
#endif
    }
    d.scratch.laid_out = true;
    for (int32_t o = 0; o < neurons; o++) d.gradients[size_t(o)].carried = carried[o];
}

}  // namespace

void forward_chain_lanes(LayerList layers, const Tensor& image) {
    const Chain c = chain_of(layers);
    set_view(c.conv.input, image);
    set_view(c.relu.input, c.conv.output);
    set_view(c.pool.input, c.relu.output);
    set_view(c.dense.input, c.pool.output);
    forward_all(c);
}

void backward_chain_lanes(LayerList layers, const Tensor& next) {
    const Chain c = chain_of(layers);
    dense_backward_and_update(c.dense, next);
    backward_maps(c);
    update_conv_lanes(c.conv);
}

}  // namespace tavelin::TAVELIN_LEVEL
