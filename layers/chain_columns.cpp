// The chain's maps (chain_parts.h) with output columns in lanes: 8 columns
// of one map a vector, at the levels where the filters do not go in lanes
// (chain_by_position): the 16 registers of 4-lane vectors hold too few
// positions for that, the 8 filters taking two registers a position.
#include "layers/chain_parts.h"

#if !TAVELIN_CHAIN_BY_POSITION

// GCC would carry the image values one output row uses into the next in
// registers, spilling the accumulators to make room; every value is one
// broadcast load away in the cache anyway.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-predictive-commoning")
#endif

#include "layers/filter_grad_block.h"

namespace tavelin::TAVELIN_LEVEL::chain_parts {

namespace {

constexpr int32_t chunks = conv_side / lanes::width;  // groups of 8 output columns in a row

// Filters summed side by side over one pair of output rows: as many
// accumulators as the registers hold (two per filter), next to the input
// rows in use and a weight; the filter-gradient rows summed one row a walk
// over the output positions. The dense walk's terms, whose sums would not
// fit beside, go after each pair of rows.
constexpr int32_t maps_per_block = 2;
constexpr int32_t cell_rows_first = 1;

// Output columns x0 .. x0+7 of rows y and y+1 for maps f0 .. f0+NF-1:
// the sums, the rectified sums and their 2 x 2 maxima, all written.
// Each lane's sum takes its terms in the plain order, i outer, j inner.
// Two maps share each step of the pooling, one in lanes 0..3, the other in
// 4..7; each window scans (x0, y0), (x0, y0 + 1), (x0 + 1, y0),
// (x0 + 1, y0 + 1).
template <int NF>
void conv_row_pair(const Chain& c, const float* taps, int32_t f0, int32_t x0, int32_t y) {
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
    }
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

}  // namespace

// The convolution 8 output columns at a time, two rows at a time, each
// pair rectified and pooled while in registers. Once a group of 8 columns
// is done, its 4 pooled columns are the next 384 terms of the dense walk,
// taken a few after each pair of rows of the next group; the last group's
// follow it.
void forward_maps(const Chain& c, const float* taps, DenseWalk& dense_walk) {
    DenseWalk walk = dense_walk;  // in registers, not through the reference
    constexpr int32_t row_pairs = conv_side / 2;
    constexpr int32_t terms_per_chunk = dense_inputs / chunks;
    constexpr int32_t terms_per_pair = terms_per_chunk / row_pairs;
    static_assert(terms_per_pair * row_pairs * chunks == dense_inputs, "the walk splits evenly");
    for (int32_t chunk = 0; chunk < chunks; chunk++) {
        const int32_t x0 = chunk * lanes::width;
        for (int32_t p = 0; p < row_pairs; p++) {
            const int32_t walk_end = chunk == 0 ? 0 : (chunk - 1) * terms_per_chunk + (p + 1) * terms_per_pair;
            for (int32_t f0 = 0; f0 < maps; f0 += maps_per_block)
                conv_row_pair<maps_per_block>(c, taps, f0, x0, 2 * p);
            walk.add_terms_to(walk_end);
        }
    }
    dense_walk = walk;
}

namespace {

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

}  // namespace

void backward_maps(const Chain& c) {
    pool_and_relu_backward(c);
    filter_grads(c);
}

}  // namespace tavelin::TAVELIN_LEVEL::chain_parts

#endif
