// The program's network as one chain (chain.h): convolution 5 x 5 with
// stride 1 and 8 filters on 28 x 28 -> rectifier -> 2 x 2 pooling -> dense
// sigmoid of 10. The layers' own passes (the *_lanes.cpp files) each read
// their input from memory and write their result back; here the values stay
// in registers from the convolution's sums through the rectifier into the
// pooling, and from the pooling gradients through the rectifier into the
// layout the filter gradients read. Every sum is still the plain loops'
// sum, the same terms in the same order; every layer's output and input
// gradients are written as its own passes write them.
#include <cstddef>
#include <cstring>

#include "layers/float8.h"
#include "layers/lanes.h"

// GCC would carry the image values one output row uses into the next in
// registers, spilling the accumulators to make room; every value is one
// broadcast load away in the cache anyway.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-predictive-commoning")
#endif

#include "layers/filter_grad_block.h"

namespace tavelin::TAVELIN_LEVEL {

using lanes::float8;

namespace {

constexpr int32_t image_side = 28;
constexpr int32_t extent = 5;
constexpr int32_t maps = 8;  // filters: one lane group
constexpr int32_t conv_side = 24;
constexpr int32_t conv_plane = conv_side * conv_side;
constexpr int32_t pool_side = 12;
constexpr int32_t pool_plane = pool_side * pool_side;
constexpr int32_t dense_inputs = pool_plane * maps;
constexpr int32_t neurons = 10;
constexpr int32_t chunks = conv_side / lanes::width;  // groups of 8 output columns in a row

// Loops over filters and cells run unrolled, so that every accumulator
// stays in its register.
#define TAVELIN_PRAGMA(x) _Pragma(#x)
#define TAVELIN_UNROLL(n) TAVELIN_PRAGMA(GCC unroll n)
static_assert(maps == lanes::width && conv_side % lanes::width == 0, "the chain's shapes fill whole lane groups");
static_assert(neurons == lanes::width + 2, "neurons 8 and 9 go in pairs");

// Filters summed side by side over one pair of output rows: as many
// accumulators as the registers hold (two per filter), next to the input
// rows in use and a weight. With 4 lanes, the filter-gradient rows summed
// in one walk over the output positions, then the rest (AVX2 sums them in
// row pairs, AVX-512 all at once).
// The dense walk's terms go beside the taps where the registers have room
// for its sums next to the convolution's; else after each pair of rows.
#if defined(__AVX512F__)  // 32 registers of 16 lanes
constexpr int32_t maps_per_block = 8;
constexpr bool dense_beside_taps = true;
#elif defined(__AVX__)    // 16 registers of 8 lanes
constexpr int32_t maps_per_block = 4;
constexpr bool dense_beside_taps = true;
#else                     // 16 registers of 4 lanes
constexpr int32_t maps_per_block = 2;
constexpr int32_t cell_rows_first = 1;
constexpr bool dense_beside_taps = false;
#endif

struct Chain {
    ConvLayer& conv;
    ReluLayer& relu;
    MaxPoolLayer& pool;
    DenseLayer& dense;
};

Chain chain_of(LayerList layers) {
    return {static_cast<ConvLayer&>(*layers[0]), static_cast<ReluLayer&>(*layers[1]),
            static_cast<MaxPoolLayer&>(*layers[2]), static_cast<DenseLayer&>(*layers[3])};
}

// ---- forward ---------------------------------------------------------------

// The larger of m and each lane of v, by the pooling's strict test: m
// stays on a tie and where v is NaN.
TAVELIN_LANES_INLINE float8 keep_greater(float8 m, float8 v) { return lanes::greater_of(v, m); }

// 0 where 0 > v, else v (so -0 and NaN stay as they are).
TAVELIN_LANES_INLINE float8 rectify(float8 v) { return lanes::greater_of(lanes::splat(0.0f), v); }

// Two lanes of weights or sums, for neurons 8 and 9, in a 4-lane vector
// whose other two lanes go unused.
typedef float pair4 __attribute__((vector_size(16)));
typedef double double2 __attribute__((vector_size(16)));

TAVELIN_LANES_INLINE pair4 low_four(float8 v) {
#if defined(__AVX__)
    return __builtin_shufflevector(v, v, 0, 1, 2, 3);
#else
    return v.lo;
#endif
}

// The dense sums walking the pooled maps in their order (x outermost, z
// innermost): neurons 0..7 in lanes of `first`, 8 and 9 in lanes 0 and 1 of
// `rest`; `next` is the walk's next term.
struct DenseWalk {
    const float* in;
    const int32_t* input_at;
    const float* by_input;  // neurons 0..7 (DenseScratch::weights_by_input)
    const float* pairs;     // neurons 8 and 9 (DenseScratch::pairs_by_input)
    float8 first;
    pair4 rest;
    int32_t next;

    TAVELIN_LANES_INLINE void add_term() {
        const ptrdiff_t m = input_at[next++];
        const float8 v = lanes::splat(in[m]);
        first = first + v * lanes::load(by_input + m * lanes::width);
        // One 8-byte load of the pair, the other lanes zero.
        double both;
        std::memcpy(&both, pairs + 2 * m, sizeof both);
        const pair4 w = reinterpret_cast<pair4>(double2{both, 0.0});
        rest = rest + low_four(v) * w;
    }
    TAVELIN_LANES_INLINE void add_terms_to(int32_t end) {
        while (next < end) add_term();
    }
};

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

// Output columns x0 .. x0+7 of rows y and y+1 for maps f0 .. f0+NF-1:
// the sums, the rectified sums and their 2 x 2 maxima, all written.
// Each lane's sum takes its terms in the plain order, i outer, j inner.
// Two maps share each step of the pooling, one in lanes 0..3, the other in
// 4..7; each window scans (x0, y0), (x0, y0 + 1), (x0 + 1, y0),
// (x0 + 1, y0 + 1).
// Beside each tap, the dense walk takes a term while it has terms up to
// walk_end: its chain of dependent additions then runs beside the
// convolution's independent sums instead of after them.
template <int NF>
void conv_row_pair(const Chain& c, const float* taps, int32_t f0, int32_t x0, int32_t y, DenseWalk& dense_walk,
                   int32_t walk_end) {
    DenseWalk walk = dense_walk;  // in registers while the sums run
    // Taken once: a store through a float pointer could otherwise be a
    // store to a layer's fields, which the compiler would read again.
    float* const conv_out = c.conv.output.data;
    float* const relu_out = c.relu.output.data;
    float* const pool_out = c.pool.output.data;
    float8 acc[NF][2];
    const float* corner = c.conv.input.data + x0 + y * image_side;
    const int32_t* offsets = c.conv.scratch.window_offsets.data();  // tap (i, j) at i + j * image_side
    // The taps in a loop at run time, each weight loaded once for both
    // rows: unrolled, the compiler would hold every weight in a register
    // and spill the sums.
#if defined(__AVX512F__)
    // Both rows in one 16-lane vector, row y in lanes 0..7: a product and
    // a sum cover both rows, halving the instructions per sum.
    typedef float float16 __attribute__((vector_size(64)));
    float16 both[NF];
    TAVELIN_UNROLL(16)
    for (int g = 0; g < NF; g++) both[g] = float16{};
    for (int32_t tap = 0; tap < extent * extent; tap++) {
        const float* src = corner + offsets[tap];
        const float8 v0 = lanes::load(src), v1 = lanes::load(src + image_side);
        const float16 v = __builtin_shufflevector(v0, v1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        const float* w = taps + tap * maps + f0;
        TAVELIN_UNROLL(16)
        for (int g = 0; g < NF; g++) both[g] = both[g] + v * w[g];
        if (dense_beside_taps && walk.next < walk_end) walk.add_term();
    }
    TAVELIN_UNROLL(16)
    for (int g = 0; g < NF; g++) {
        acc[g][0] = __builtin_shufflevector(both[g], both[g], 0, 1, 2, 3, 4, 5, 6, 7);
        acc[g][1] = __builtin_shufflevector(both[g], both[g], 8, 9, 10, 11, 12, 13, 14, 15);
    }
#else
    TAVELIN_UNROLL(16)
    for (int g = 0; g < NF; g++) acc[g][0] = acc[g][1] = lanes::splat(0.0f);
    for (int32_t tap = 0; tap < extent * extent; tap++) {
        const float* src = corner + offsets[tap];
        float8 v0 = lanes::load(src), v1 = lanes::load(src + image_side);
        lanes::keep_in_register(v0);
        lanes::keep_in_register(v1);
        const float* w = taps + tap * maps + f0;
        TAVELIN_UNROLL(16)
        for (int g = 0; g < NF; g++) {
            const float wg = w[g];
            acc[g][0] = acc[g][0] + v0 * wg;
            acc[g][1] = acc[g][1] + v1 * wg;
        }
        if (dense_beside_taps && walk.next < walk_end) walk.add_term();
    }
#endif
    dense_walk = walk;
    float8 top[NF], bottom[NF];
    TAVELIN_UNROLL(16)
    for (int g = 0; g < NF; g++) {
        const int32_t at = (f0 + g) * conv_plane + y * conv_side + x0;
        lanes::store(conv_out + at, acc[g][0]);
        lanes::store(conv_out + at + conv_side, acc[g][1]);
        top[g] = rectify(acc[g][0]);
        bottom[g] = rectify(acc[g][1]);
        lanes::store(relu_out + at, top[g]);
        lanes::store(relu_out + at + conv_side, bottom[g]);
    }
    // The window's scan keeps the first of its largest values (a later
    // value must be strictly greater to replace it, and NaN never does),
    // and the first largest of a sequence is the first largest of the
    // first largest of each of its parts: so each column's pair of rows is
    // taken first, on whole vectors, then the window's two columns.
    float8 column[NF];
    TAVELIN_UNROLL(16)
    for (int g = 0; g < NF; g++)
        column[g] = keep_greater(keep_greater(lanes::splat(lowest_finite), top[g]), bottom[g]);
    TAVELIN_UNROLL(16)
    for (int g = 0; g < NF; g += 2) {
        const float8 m = keep_greater(lanes::pick<0, 2, 4, 6, 8, 10, 12, 14>(column[g], column[g + 1]),
                                      lanes::pick<1, 3, 5, 7, 9, 11, 13, 15>(column[g], column[g + 1]));
        float* pooled = pool_out + (f0 + g) * pool_plane + (y / 2) * pool_side + x0 / 2;
        lanes::store_low(pooled, m);
        lanes::store_high(pooled + pool_plane, m);
    }
}

// The convolution 8 output columns at a time, two rows at a time, each
// pair rectified and pooled while in registers. Once a group of 8 columns
// is done, its 4 pooled columns are the next 384 terms of the dense walk,
// which go beside the next group's taps; the last group's follow it.
void forward_all(const Chain& c) {
    lay_out_filters(c.conv);
    if (!c.dense.scratch.laid_out) {
        lay_out_weights(c.dense, 0, 0, dense_inputs);
        lay_out_pairs(c.dense, 0, dense_inputs);
        c.dense.scratch.laid_out = true;
    }
    const float* taps = c.conv.scratch.filters_by_offset.data;
    DenseWalk walk = {c.dense.input.data,
                      c.dense.scratch.input_at_step.data(),
                      c.dense.scratch.weights_by_input.data,
                      c.dense.scratch.pairs_by_input.data,
                      lanes::splat(0.0f),
                      pair4{},
                      0};
    constexpr int32_t row_pairs = conv_side / 2;
    constexpr int32_t terms_per_chunk = dense_inputs / chunks;
    constexpr int32_t terms_per_pair = terms_per_chunk / row_pairs;
    static_assert(terms_per_pair * row_pairs * chunks == dense_inputs, "the walk splits evenly");
    for (int32_t chunk = 0; chunk < chunks; chunk++) {
        const int32_t x0 = chunk * lanes::width;
        for (int32_t p = 0; p < row_pairs; p++) {
            const int32_t walk_end = chunk == 0 ? 0 : (chunk - 1) * terms_per_chunk + (p + 1) * terms_per_pair;
            for (int32_t f0 = 0; f0 < maps; f0 += maps_per_block)
                conv_row_pair<maps_per_block>(c, taps, f0, x0, 2 * p, walk, walk_end);
            walk.add_terms_to(walk_end);
        }
    }
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
        const float s = sigmoid(d.sums[size_t(o)]);
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

// The tensors the pooling's and rectifier's backward pass reads and
// writes, taken once (see conv_row_pair).
struct BackwardMaps {
    const float* pooled_grads;  // the dense layer's input gradients
    const float* pooled;
    const float* rectified;
    const float* sums;  // the convolution's output
    float* pool_grads;
    float* relu_grads;
    float* by_position;
};

// The pooling's and the rectifier's backward passes in one, 8 columns of
// one row of one map at a time: the pooling's gradient is 0 + e * G (e = 1
// where the rectified value is its window's maximum), the rectifier's that
// gradient where the sum was not negative. Both are written; the eight
// maps' gradients of 8 positions then turn around in registers into the
// layout the filter gradients read (ConvScratch::grads_by_position).
template <int Chunk>
TAVELIN_LANES_INLINE void pool_and_relu_backward_chunk(const BackwardMaps p, int32_t y) {
    const float8 zero = lanes::splat(0.0f), one = lanes::splat(1.0f);
    constexpr int32_t x0 = Chunk * lanes::width;
    // Pooled columns x0/2 .. x0/2+3, each twice, from the low or the high
    // half of a load that stays inside the pooled row.
    constexpr bool high = Chunk > 0;
    constexpr int32_t from = high ? x0 / 2 - 4 : x0 / 2;
    float8 r[maps];
    TAVELIN_UNROLL(8)
    for (int32_t f = 0; f < maps; f++) {
        const int32_t pooled_at = f * pool_plane + (y / 2) * pool_side + from;
        const float8 g8 = lanes::load(p.pooled_grads + pooled_at), m8 = lanes::load(p.pooled + pooled_at);
        float8 g, m;
        if constexpr (high) {
            g = lanes::pick<4, 4, 5, 5, 6, 6, 7, 7>(g8, g8);
            m = lanes::pick<4, 4, 5, 5, 6, 6, 7, 7>(m8, m8);
        } else {
            g = lanes::pick<0, 0, 1, 1, 2, 2, 3, 3>(g8, g8);
            m = lanes::pick<0, 0, 1, 1, 2, 2, 3, 3>(m8, m8);
        }
        const int32_t at = f * conv_plane + y * conv_side + x0;
        const float8 e = lanes::select(lanes::equal(lanes::load(p.rectified + at), m), one, zero);
        const float8 pool_grad = zero + e * g;
        lanes::store(p.pool_grads + at, pool_grad);
        r[f] = lanes::select(lanes::greater(zero, lanes::load(p.sums + at)), zero, pool_grad);
        lanes::store(p.relu_grads + at, r[f]);
    }
    lanes::transpose(r);
    TAVELIN_UNROLL(8)
    for (int u = 0; u < lanes::width; u++) lanes::store(p.by_position + ((x0 + u) * conv_side + y) * maps, r[u]);
}

void pool_and_relu_backward(const Chain& c) {
    static_assert(chunks == 3, "three groups of 8 columns");
    const BackwardMaps p = {c.dense.input_grads.data, c.pool.output.data,        c.relu.output.data,
                            c.conv.output.data,       c.pool.input_grads.data,   c.relu.input_grads.data,
                            c.conv.scratch.grads_by_position.data};
    for (int32_t y = 0; y < conv_side; y++) {
        pool_and_relu_backward_chunk<0>(p, y);
        pool_and_relu_backward_chunk<1>(p, y);
        pool_and_relu_backward_chunk<2>(p, y);
    }
}

#if defined(__AVX__) && !defined(__AVX512F__)
// The filter gradients of cell rows b and b + 1 in one walk: cell (a, b)
// at output position (i, j) and cell (a, b + 1) at (i, j - 1) multiply the
// same image value, (i + a, j + b), so one broadcast of it serves both
// with the gradients of two positions held in registers. Each cell still
// takes its terms in the plain order (i outer, j inner); at j = 0 only row
// b takes a term, at j = 24 only row b + 1. Three rows so would need more
// than the 16 registers.
void cell_row_pair(const Chain& c, int32_t b) {
    const float* by_position = c.conv.scratch.grads_by_position.data;
    float8 upper[extent], lower[extent];  // cell rows b and b + 1
    for (int a = 0; a < extent; a++) upper[a] = lower[a] = lanes::splat(0.0f);
    for (int32_t i = 0; i < conv_side; i++) {
        const float* column = by_position + i * conv_side * maps;  // position (i, 0)
        const float* p = c.conv.input.data + i + b * image_side;  // image (i, b)
        float8 d = lanes::load(column);
        TAVELIN_UNROLL(5)
        for (int a = 0; a < extent; a++) upper[a] = upper[a] + p[a] * d;
        for (int32_t j = 1; j < conv_side; j++) {
            const float8 before = d;
            d = lanes::load(column + j * maps);
            const float* q = p + j * image_side;
            TAVELIN_UNROLL(5)
            for (int a = 0; a < extent; a++) {
                upper[a] = upper[a] + q[a] * d;
                lower[a] = lower[a] + q[a] * before;
            }
        }
        const float* q = p + conv_side * image_side;
        TAVELIN_UNROLL(5)
        for (int a = 0; a < extent; a++) lower[a] = lower[a] + q[a] * d;
    }
    for (int32_t k = 0; k < maps; k++) {
        CellTensor& cells = c.conv.filter_grads[size_t(k)];
        for (int a = 0; a < extent; a++) {
            cells(a, b, 0).value = lanes::lane(upper[a], k);
            cells(a, b + 1, 0).value = lanes::lane(lower[a], k);
        }
    }
}

void filter_grads(const Chain& c) {
    cell_row_pair(c, 0);
    cell_row_pair(c, 2);
    cell_block<extent, 1>(c.conv, 0, 0, 0, 4);
}
#elif !defined(__AVX512F__)
// The filter gradients, cell rows B0 .. extent-1: as many rows in one walk
// over the positions as the registers hold.
template <int B0>
void cell_rows_from(const Chain& c) {
    if constexpr (B0 < extent) {
        constexpr int NB = extent - B0 < cell_rows_first ? extent - B0 : cell_rows_first;
        cell_block<extent, NB>(c.conv, 0, 0, 0, B0);
        cell_rows_from<B0 + NB>(c);
    }
}

void filter_grads(const Chain& c) { cell_rows_from<0>(c); }
#else
// The filter gradients with 16 lanes: cells (a, b) and (a, b + 1) of the 8
// filters share a vector, cell (a, b) in lanes 8..15 at output position
// (i, j) and cell (a, b + 1) in lanes 0..7 one position behind, at
// (i, j - 1). Both then multiply the same image value, (i + a, j + b), and
// the gradients of positions (i, j - 1) and (i, j) lie side by side in
// ConvScratch::grads_by_position: one load, one product and one sum serve
// two cells. Each cell still takes its terms in the plain order (i outer,
// j inner); at j = 0 only lanes 8..15 take a term, at j = 24 only lanes
// 0..7. Row 4 of the cells has no partner and runs in 8 lanes.
typedef float float16 __attribute__((vector_size(64)));
typedef int32_t mask16 __attribute__((vector_size(64)));

template <bool Low, bool High>
TAVELIN_LANES_INLINE void add_cell_terms(float16 (&pairs)[2][extent], float8 (&last)[extent], const float* p,
                                         float16 d, float8 d_last) {
    constexpr mask16 keep = {Low ? -1 : 0, Low ? -1 : 0, Low ? -1 : 0, Low ? -1 : 0, Low ? -1 : 0, Low ? -1 : 0,
                             Low ? -1 : 0, Low ? -1 : 0, High ? -1 : 0, High ? -1 : 0, High ? -1 : 0, High ? -1 : 0,
                             High ? -1 : 0, High ? -1 : 0, High ? -1 : 0, High ? -1 : 0};
    TAVELIN_UNROLL(2)
    for (int q = 0; q < 2; q++)
        TAVELIN_UNROLL(5)
        for (int a = 0; a < extent; a++) {
            const float16 sum = pairs[q][a] + p[2 * q * image_side + a] * d;
            if constexpr (Low && High) pairs[q][a] = sum;
            else pairs[q][a] = keep ? sum : pairs[q][a];
        }
    if constexpr (High)
        TAVELIN_UNROLL(5)
        for (int a = 0; a < extent; a++) last[a] = last[a] + p[4 * image_side + a] * d_last;
}

void filter_grads(const Chain& c) {
    const float* image = c.conv.input.data;
    const float* by_position = c.conv.scratch.grads_by_position.data;
    float16 pairs[2][extent];  // cell rows (0, 1) and (2, 3)
    float8 last[extent];       // cell row 4
    for (int q = 0; q < 2; q++)
        for (int a = 0; a < extent; a++) pairs[q][a] = float16{};
    for (int a = 0; a < extent; a++) last[a] = lanes::splat(0.0f);
    const float8 zero = lanes::splat(0.0f);
    for (int32_t i = 0; i < conv_side; i++) {
        const float* column = by_position + i * conv_side * maps;  // position (i, 0)
        const float* p = image + i;                                // image (i, 0)
        float8 d_last = lanes::load(column);
        add_cell_terms<false, true>(pairs, last, p,
                                    __builtin_shufflevector(zero, d_last, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                                            12, 13, 14, 15),
                                    d_last);
        for (int32_t j = 1; j < conv_side; j++) {
            const float8 before = lanes::load(column + (j - 1) * maps);
            d_last = lanes::load(column + j * maps);
            add_cell_terms<true, true>(pairs, last, p + j * image_side,
                                       __builtin_shufflevector(before, d_last, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                                               11, 12, 13, 14, 15),
                                       d_last);
        }
        const float8 before = lanes::load(column + (conv_side - 1) * maps);
        add_cell_terms<true, false>(pairs, last, p + conv_side * image_side,
                                    __builtin_shufflevector(before, zero, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                                            13, 14, 15),
                                    zero);
    }
    for (int32_t k = 0; k < maps; k++) {
        GradientCell* cells = c.conv.filter_grads[size_t(k)].data;
        for (int q = 0; q < 2; q++)
            for (int a = 0; a < extent; a++) {
                cells[a + 2 * q * extent].value = pairs[q][a][8 + k];
                cells[a + (2 * q + 1) * extent].value = pairs[q][a][k];
            }
        for (int a = 0; a < extent; a++) cells[a + 4 * extent].value = lanes::lane(last[a], k);
    }
}
#endif

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
    pool_and_relu_backward(c);
    filter_grads(c);
    update_conv_lanes(c.conv);
}

}  // namespace tavelin::TAVELIN_LEVEL
