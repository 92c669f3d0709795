// The chain's maps (chain_parts.h) with the filters in lanes: the 8
// filters' values at one position a vector (chain_by_position; at AVX-512
// two positions a 16-lane vector), from the convolution's sums through the
// pooling and back to the filter gradients, which read the gradients that
// way (ConvScratch::grads_by_position). The sums, rectified sums and
// pooled values stay in the convolution's scratch by position; only the
// pooled values are turned around, into the pooling layer's output, which
// the dense layer's update reads, and their gradients, out of the dense
// layer's input gradients.
#include "layers/chain_parts.h"

#if defined(__AVX512F__)
#include <immintrin.h>
#endif

#if TAVELIN_CHAIN_BY_POSITION

// As in chain_columns.cpp: every image value is one broadcast load away.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-predictive-commoning")
#endif

namespace tavelin::TAVELIN_LEVEL::chain_parts {

namespace {

// Output positions a block: 2 columns by block_rows rows, whole pooling
// windows, as many rows as the registers hold accumulators for beside the
// weights and an image value (a row's two columns take two accumulators of
// 8 lanes, or one of 16).
#if defined(__AVX512F__)
constexpr int32_t block_rows = 12;
typedef float float16 __attribute__((vector_size(64)));
typedef double double8 __attribute__((vector_size(64)));
#else
constexpr int32_t block_rows = 6;
typedef double double4 __attribute__((vector_size(32)));
#endif
// The dense walk's terms of the previous block, a few after each row of
// taps (i): its chain of dependent additions then runs in short stretches
// beside the independent sums.
constexpr int32_t walk_terms_per_row = ((block_rows / 2) * maps + extent - 1) / extent;

#if defined(__AVX512F__)
// The larger of m and each lane of v, by the pooling's strict test, and
// the rectifier, on 16 lanes (see keep_greater, rectify).
// x86's max is exactly a > b ? a : b (see lanes::greater_of).
TAVELIN_LANES_INLINE float16 greater_of16(float16 a, float16 b) {
    return reinterpret_cast<float16>(_mm512_mask_max_ps(__m512(a), 0xffff, __m512(a), __m512(b)));
}
TAVELIN_LANES_INLINE float16 keep_greater16(float16 m, float16 v) { return greater_of16(v, m); }
TAVELIN_LANES_INLINE float16 rectify16(float16 v) { return greater_of16(float16{}, v); }

// Output positions (x0, x0 + 1) by (y0 .. y0 + 11), both columns of a row
// in one 16-lane accumulator: filter k of column x0 in lane 2k, of column
// x0 + 1 in lane 2k + 1, so that one 8-byte broadcast of the two image
// values times the weights laid out twice (twice_by_offset) gives both.
// Each lane's sum takes its terms in the plain order, i outer, j inner.
// The sums, taken apart into the two columns, and the rectified sums go by
// position into the chain's scratch, and each window's maximum, scanning
// (x0, y), (x0, y + 1), (x0 + 1, y), (x0 + 1, y + 1), by pooled position:
// the scan keeps the first of its largest values, so each column's pair
// of rows is taken first, then the two columns.
void conv_block(const Chain& c, const float16* twice_by_offset, int32_t x0, int32_t y0, DenseWalk& walk,
                int32_t walk_end) {
    ConvScratch& s = c.conv.scratch;
    float16 acc[block_rows];
    TAVELIN_UNROLL(12)
    for (int dy = 0; dy < block_rows; dy++) acc[dy] = float16{};
    const float* corner = c.conv.input.data + x0 + y0 * image_side;
    for (int32_t i = 0; i < extent; i++) {
        for (int32_t j = 0; j < extent; j++) {
            const float16 w = twice_by_offset[i * extent + j];
            const float* p = corner + i + j * image_side;
            TAVELIN_UNROLL(12)
            for (int dy = 0; dy < block_rows; dy++) {
                double both;
                std::memcpy(&both, p + dy * image_side, sizeof both);
                const float16 v = reinterpret_cast<float16>(double8{both, both, both, both, both, both, both, both});
                acc[dy] = acc[dy] + v * w;
            }
        }
        for (int k = 0; k < walk_terms_per_row && walk.next < walk_end; k++) walk.add_term();
    }
    float* const sums = s.sums_by_position.data;
    float* const rectified = s.rectified_by_position.data;
    float* const pooled = s.pooled_by_position.data;
    float16 r[block_rows];
    TAVELIN_UNROLL(12)
    for (int dy = 0; dy < block_rows; dy++) {
        const float16 a = __builtin_shufflevector(acc[dy], acc[dy], 0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
        const int32_t at = (x0 * conv_side + y0 + dy) * maps;
        lanes::store(sums + at, __builtin_shufflevector(a, a, 0, 1, 2, 3, 4, 5, 6, 7));
        lanes::store(sums + at + conv_side * maps, __builtin_shufflevector(a, a, 8, 9, 10, 11, 12, 13, 14, 15));
        r[dy] = rectify16(a);
        lanes::store(rectified + at, __builtin_shufflevector(r[dy], r[dy], 0, 1, 2, 3, 4, 5, 6, 7));
        lanes::store(rectified + at + conv_side * maps, __builtin_shufflevector(r[dy], r[dy], 8, 9, 10, 11, 12, 13, 14, 15));
    }
    float16 lowest;
    for (int k = 0; k < 16; k++) lowest[k] = lowest_finite;
    TAVELIN_UNROLL(6)
    for (int w = 0; w < block_rows / 2; w++) {
        const float16 column = keep_greater16(keep_greater16(lowest, r[2 * w]), r[2 * w + 1]);
        const float8 m = keep_greater(__builtin_shufflevector(column, column, 0, 1, 2, 3, 4, 5, 6, 7),
                                      __builtin_shufflevector(column, column, 8, 9, 10, 11, 12, 13, 14, 15));
        lanes::store(pooled + ((x0 / 2) * pool_side + y0 / 2 + w) * maps, m);
    }
}
#else
// Output positions (x0, x0 + 1) by (y0 .. y0 + 5): three pooling windows,
// one above the other. A row's two columns go in two accumulators, filters
// 0, 1, 4, 5 in one and 2, 3, 6, 7 in the other, column x0 in the even
// lanes and x0 + 1 in the odd: one 8-byte broadcast of the two image
// values serves both, times each tap's weights laid out twice that way
// (twice_by_offset), and one in-lane shuffle of the two then gives each
// column's 8 filters in order. Each lane's sum takes its terms in the plain
// order, i outer, j inner. The sums and the rectified sums go by position
// into the chain's scratch, and each window's maximum, scanning (x0, y),
// (x0, y + 1), (x0 + 1, y), (x0 + 1, y + 1), by pooled position.
void conv_block(const Chain& c, const float8 (*twice_by_offset)[2], int32_t x0, int32_t y0, DenseWalk& walk,
                int32_t walk_end) {
    ConvScratch& s = c.conv.scratch;
    float8 pairs[2][block_rows];
    TAVELIN_UNROLL(2)
    for (int h = 0; h < 2; h++)
        TAVELIN_UNROLL(6)
        for (int dy = 0; dy < block_rows; dy++) pairs[h][dy] = lanes::splat(0.0f);
    const float* corner = c.conv.input.data + x0 + y0 * image_side;
    for (int32_t i = 0; i < extent; i++) {
        TAVELIN_UNROLL(1)
        for (int32_t j = 0; j < extent; j++) {
            const float8 w0 = twice_by_offset[i * extent + j][0], w1 = twice_by_offset[i * extent + j][1];
            const float* p = corner + i + j * image_side;
            TAVELIN_UNROLL(6)
            for (int dy = 0; dy < block_rows; dy++) {
                double both;
                std::memcpy(&both, p + dy * image_side, sizeof both);
                const float8 v = reinterpret_cast<float8>(double4{both, both, both, both});
                pairs[0][dy] = pairs[0][dy] + v * w0;
                pairs[1][dy] = pairs[1][dy] + v * w1;
            }
        }
        for (int k = 0; k < walk_terms_per_row && walk.next < walk_end; k++) walk.add_term();
    }
    float8 acc[2][block_rows];
    TAVELIN_UNROLL(6)
    for (int dy = 0; dy < block_rows; dy++) {
        acc[0][dy] = __builtin_shufflevector(pairs[0][dy], pairs[1][dy], 0, 2, 8, 10, 4, 6, 12, 14);
        acc[1][dy] = __builtin_shufflevector(pairs[0][dy], pairs[1][dy], 1, 3, 9, 11, 5, 7, 13, 15);
    }
    float* const sums = s.sums_by_position.data;
    float* const rectified = s.rectified_by_position.data;
    float* const pooled = s.pooled_by_position.data;
    TAVELIN_UNROLL(2)
    for (int dx = 0; dx < 2; dx++)
        TAVELIN_UNROLL(6)
        for (int dy = 0; dy < block_rows; dy++) {
            const int32_t at = ((x0 + dx) * conv_side + y0 + dy) * maps;
            lanes::store(sums + at, acc[dx][dy]);
            acc[dx][dy] = rectify(acc[dx][dy]);
            lanes::store(rectified + at, acc[dx][dy]);
        }
    TAVELIN_UNROLL(3)
    for (int w = 0; w < block_rows / 2; w++) {
        float8 m = lanes::splat(lowest_finite);
        m = keep_greater(m, acc[0][2 * w]);
        m = keep_greater(m, acc[0][2 * w + 1]);
        m = keep_greater(m, acc[1][2 * w]);
        m = keep_greater(m, acc[1][2 * w + 1]);
        lanes::store(pooled + ((x0 / 2) * pool_side + y0 / 2 + w) * maps, m);
    }
}
#endif

// The pooled values by position to the pooling layer's output (x fastest
// in each map): 8 columns, then 4, of each pooled row turned around.
void store_pooled(const Chain& c) {
    const float* pooled = c.conv.scratch.pooled_by_position.data;
    float* const out = c.pool.output.data;
    for (int32_t y = 0; y < pool_side; y++) {
        float8 r[maps];
        TAVELIN_UNROLL(8)
        for (int u = 0; u < maps; u++) r[u] = lanes::load(pooled + (u * pool_side + y) * maps);
        lanes::transpose(r);
        TAVELIN_UNROLL(8)
        for (int z = 0; z < maps; z++) lanes::store(out + z * pool_plane + y * pool_side, r[z]);
        TAVELIN_UNROLL(8)
        for (int u = 0; u < maps; u++)
            r[u] = u < pool_side - maps ? lanes::load(pooled + ((maps + u) * pool_side + y) * maps) : lanes::splat(0.0f);
        lanes::transpose(r);
        TAVELIN_UNROLL(8)
        for (int z = 0; z < maps; z++) lanes::store_low(out + z * pool_plane + y * pool_side + maps, r[z]);
    }
}

}  // namespace

// The convolution with the filters in lanes, two output columns (one
// pooled column) and block_rows rows at a time. The blocks give the pooled
// values in the dense walk's order (x outermost, then y, the filter
// innermost), so the walk follows one block behind, beside its sums; the
// last block's terms follow the convolution.
void forward_maps(const Chain& c, const float* taps, DenseWalk& dense_walk) {
    DenseWalk walk = dense_walk;  // in registers, not through the reference
#if defined(__AVX512F__)
    float16 twice[extent * extent];  // each tap's weights, filter k in lanes 2k and 2k + 1
    for (int32_t t = 0; t < extent * extent; t++) {
        const float8 w = lanes::load(taps + t * maps);
        twice[t] = __builtin_shufflevector(w, w, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    }
    const float16* const by_offset = twice;
#else
    float8 twice[extent * extent][2];  // see conv_block
    for (int32_t t = 0; t < extent * extent; t++) {
        const float8 w = lanes::load(taps + t * maps);
        twice[t][0] = __builtin_shufflevector(w, w, 0, 0, 1, 1, 4, 4, 5, 5);
        twice[t][1] = __builtin_shufflevector(w, w, 2, 2, 3, 3, 6, 6, 7, 7);
    }
    const float8(*const by_offset)[2] = twice;
#endif
    constexpr int32_t groups = conv_side / block_rows;
    constexpr int32_t terms_per_column = dense_inputs / pool_side;
    constexpr int32_t terms_per_group = terms_per_column / groups;
    static_assert(terms_per_group * groups * pool_side == dense_inputs, "the walk splits evenly");
    for (int32_t px = 0; px < pool_side; px++)
        for (int32_t g = 0; g < groups; g++) {
            const int32_t walk_end = px * terms_per_column + g * terms_per_group;
            conv_block(c, by_offset, 2 * px, g * block_rows, walk, walk_end);
            walk.add_terms_to(walk_end);
        }
    store_pooled(c);
    dense_walk = walk;
}

namespace {

// The dense layer's input gradients (the pooled values' gradients) by
// pooled position, the layout of ConvScratch::pooled_by_position: store_pooled
// the other way round.
void pooled_grads_by_position(const Chain& c) {
    const float* grads = c.dense.input_grads.data;
    float* const out = c.conv.scratch.pooled_grads_by_position.data;
    for (int32_t y = 0; y < pool_side; y++) {
        float8 r[maps];
        TAVELIN_UNROLL(8)
        for (int z = 0; z < maps; z++) r[z] = lanes::load(grads + z * pool_plane + y * pool_side);
        lanes::transpose(r);
        TAVELIN_UNROLL(8)
        for (int u = 0; u < maps; u++) lanes::store(out + (u * pool_side + y) * maps, r[u]);
        // Columns 8..11: the high half of a load that ends at the row's end.
        TAVELIN_UNROLL(8)
        for (int z = 0; z < maps; z++) {
            const float8 v = lanes::load(grads + z * pool_plane + y * pool_side + pool_side - maps);
            r[z] = lanes::pick<4, 5, 6, 7, 4, 5, 6, 7>(v, v);
        }
        lanes::transpose(r);
        TAVELIN_UNROLL(4)
        for (int u = 0; u < pool_side - maps; u++) lanes::store(out + ((maps + u) * pool_side + y) * maps, r[u]);
    }
}

// The pooling's and the rectifier's backward passes in one, with the
// filters in lanes, a position at a time: the pooling's gradient is
// 0 + e * G (e = 1 where the rectified value is its window's maximum), the
// rectifier's that gradient where the sum was not negative. It goes by
// position to the filter gradients (ConvScratch::grads_by_position): at
// AVX2 the first of their walks computes it as it goes and the others read
// it; at AVX-512 a pass of its own does, two positions a vector. The two
// layers' own input_grads are not written: only these gradients read them.
struct ReluGrads {
    const float* sums;
    const float* rectified;
    const float* pooled;
    const float* pooled_grads;
    float* by_position;

    explicit ReluGrads(const Chain& c)
        : sums(c.conv.scratch.sums_by_position.data),
          rectified(c.conv.scratch.rectified_by_position.data),
          pooled(c.conv.scratch.pooled_by_position.data),
          pooled_grads(c.conv.scratch.pooled_grads_by_position.data),
          by_position(c.conv.scratch.grads_by_position.data) {}

    // Output position (i, j).
    TAVELIN_LANES_INLINE float8 at(int32_t i, int32_t j) const {
        const float8 zero = lanes::splat(0.0f);
        const int32_t window = ((i / 2) * pool_side + j / 2) * maps;
        const int32_t at = (i * conv_side + j) * maps;
        const float8 e = lanes::select(lanes::equal(lanes::load(rectified + at), lanes::load(pooled + window)),
                                       lanes::splat(1.0f), zero);
        const float8 pool_grad = zero + e * lanes::load(pooled_grads + window);
        const float8 d = lanes::select(lanes::greater(zero, lanes::load(sums + at)), zero, pool_grad);
        lanes::store(by_position + at, d);
        return d;
    }
};

#if defined(__AVX512F__)
// The rectifier's input gradients (ReluGrads) of positions (x, 2py) and
// (x, 2py + 1) a 16-lane vector: the two positions of a window's column,
// side by side by position.
void relu_grads_by_position(const Chain& c) {
    const ReluGrads g(c);
    const float16 zero = float16{};
    float16 one;
    for (int k = 0; k < 16; k++) one[k] = 1.0f;
    typedef float float16_unaligned __attribute__((vector_size(64), aligned(4), may_alias));
    const auto load = [](const float* p) { return float16(*reinterpret_cast<const float16_unaligned*>(p)); };
    for (int32_t x = 0; x < conv_side; x++)
        for (int32_t py = 0; py < pool_side; py++) {
            const int32_t window = ((x / 2) * pool_side + py) * maps;
            const int32_t at = (x * conv_side + 2 * py) * maps;
            const float8 m8 = lanes::load(g.pooled + window), g8 = lanes::load(g.pooled_grads + window);
            const float16 m = __builtin_shufflevector(m8, m8, 0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
            const float16 grad = __builtin_shufflevector(g8, g8, 0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
            const float16 e = load(g.rectified + at) == m ? one : zero;
            const float16 pool_grad = zero + e * grad;
            const float16 d = zero > load(g.sums + at) ? zero : pool_grad;
            *reinterpret_cast<float16_unaligned*>(g.by_position + at) = d;
        }
}

// The filter gradients with 16 lanes: cells (a, b) and (a, b + 1) of the 8
// filters share a vector, cell (a, b) in lanes 8..15 at output position
// (i, j) and cell (a, b + 1) in lanes 0..7 one position behind, at
// (i, j - 1). Both then multiply the same image value, (i + a, j + b), and
// the gradients of positions (i, j - 1) and (i, j) lie side by side in
// ConvScratch::grads_by_position: one load, one product and one sum serve
// two cells. Each cell still takes its terms in the plain order (i outer,
// j inner); at j = 0 only lanes 8..15 take a term, at j = 24 only lanes
// 0..7. Row 4 of the cells has no partner and runs in 8 lanes.
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
#else
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

// Cells (a, b), (a, b + 1) and (a, b + 2) for a = A0 .. A0+NA-1 in one
// walk, the same way three rows deep: the third row's cell at position
// (i, j - 2) multiplies the same image value as well.
// With Lay the walk computes the gradients it reads (ReluGrads) and leaves
// them by position for the other walks.
template <int A0, int NA, bool Lay>
void cell_row_triple(const Chain& c, int32_t b) {
    const float* by_position = c.conv.scratch.grads_by_position.data;
    const ReluGrads relu_grads(c);
    const auto grad = [&](int32_t i, int32_t j) {
        return Lay ? relu_grads.at(i, j) : lanes::load(by_position + (i * conv_side + j) * maps);
    };
    float8 acc[3][NA];  // cell rows b, b + 1, b + 2
    for (int r = 0; r < 3; r++)
        for (int a = 0; a < NA; a++) acc[r][a] = lanes::splat(0.0f);
    for (int32_t i = 0; i < conv_side; i++) {
        const float* p = c.conv.input.data + i + A0 + b * image_side;  // image (i + A0, b)
        float8 d = grad(i, 0);
        TAVELIN_UNROLL(5)
        for (int a = 0; a < NA; a++) acc[0][a] = acc[0][a] + p[a] * d;
        float8 before = d;
        d = grad(i, 1);
        TAVELIN_UNROLL(5)
        for (int a = 0; a < NA; a++) {
            acc[0][a] = acc[0][a] + p[image_side + a] * d;
            acc[1][a] = acc[1][a] + p[image_side + a] * before;
        }
        for (int32_t j = 2; j < conv_side; j++) {
            const float8 before2 = before;
            before = d;
            d = grad(i, j);
            const float* q = p + j * image_side;
            TAVELIN_UNROLL(5)
            for (int a = 0; a < NA; a++) {
                acc[0][a] = acc[0][a] + q[a] * d;
                acc[1][a] = acc[1][a] + q[a] * before;
                acc[2][a] = acc[2][a] + q[a] * before2;
            }
        }
        const float* q = p + conv_side * image_side;
        TAVELIN_UNROLL(5)
        for (int a = 0; a < NA; a++) {
            acc[1][a] = acc[1][a] + q[a] * d;
            acc[2][a] = acc[2][a] + q[a] * before;
        }
        q += image_side;
        TAVELIN_UNROLL(5)
        for (int a = 0; a < NA; a++) acc[2][a] = acc[2][a] + q[a] * d;
    }
    for (int32_t k = 0; k < maps; k++) {
        CellTensor& cells = c.conv.filter_grads[size_t(k)];
        for (int r = 0; r < 3; r++)
            for (int a = 0; a < NA; a++) cells(A0 + a, b + r, 0).value = lanes::lane(acc[r][a], k);
    }
}

void filter_grads(const Chain& c) {
    cell_row_triple<3, 2, true>(c, 2);
    cell_row_pair(c, 0);
    cell_row_triple<0, 3, false>(c, 2);
}
#endif

}  // namespace

void backward_maps(const Chain& c) {
    pooled_grads_by_position(c);
#if defined(__AVX512F__)
    relu_grads_by_position(c);
#endif
    filter_grads(c);
}

}  // namespace tavelin::TAVELIN_LEVEL::chain_parts

#endif
