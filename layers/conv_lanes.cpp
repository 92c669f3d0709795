// The convolution's passes with eight independent sums side by side, for
// stride 1 on the shapes the layer was built for. Every output, cell and
// input gradient is the plain loops' sum: the same terms, in the same
// order, one rounded operation at a time; only which sums run together
// differs (see conv_layer.cpp for the plain loops).
#include <cmath>
#include <type_traits>

#include "layers/filter_grad_block.h"
#include "layers/float8.h"
#include "layers/lanes.h"

namespace tavelin::TAVELIN_LEVEL {

using lanes::float8;

namespace {

// How many accumulators of 8 lanes the target's registers hold at once:
// the block sizes below never change a result, only how many independent
// sums run side by side. The AVX-512 level's 32 registers would allow
// larger blocks, but they gained less than 10 % in tavelin-bench.
#if defined(__AVX__) || defined(__aarch64__)  // 16 registers of 8 lanes, or 32 of 4
constexpr int32_t filters_per_block = 4;       // forward: filters sharing one input load
constexpr int32_t chunks_per_row_block = 3;    // forward: groups of 8 output columns at once
constexpr int32_t cell_rows_per_block = 2;     // backward: filter rows of cells summed at once
constexpr int32_t rows_per_input_block = 2;    // backward: input rows sharing one load of G
constexpr int32_t chunks_per_input_block = 4;  // backward: groups of 8 input columns at once
#else  // 16 registers of 4 lanes
constexpr int32_t filters_per_block = 4;
constexpr int32_t chunks_per_row_block = 1;
constexpr int32_t cell_rows_per_block = 1;
constexpr int32_t rows_per_input_block = 1;
constexpr int32_t chunks_per_input_block = 4;
#endif
constexpr int32_t cell_columns_per_block = 5;

template <int N>
using count_tag = std::integral_constant<int, N>;

// Calls f(count_tag<N>()) with N = n for a count n from 1 to Max known only
// at run time (Max for anything larger): the one way the blocks below get
// their sizes as template arguments.
template <int Max, typename F>
TAVELIN_LANES_INLINE void with_count(int32_t n, F&& f) {
    if constexpr (Max > 1)
        if (n < Max) {
            with_count<Max - 1>(n, f);
            return;
        }
    f(count_tag<Max>());
}


// ---- forward, stride 1: a row of outputs at once --------------------------

}  // namespace

// The filters' weights with the filter index fastest, window offsets in
// the plain order: weight (i, j, z) of filter f at ((i*extent + j)*depth + z)
// * filter_count + f. Rebuilt from `filters` by every pass that reads it.
void lay_out_filters(ConvLayer& l) {
    const int32_t filter_count = int32_t(l.filters.size());
    const int32_t steps = int32_t(l.scratch.filter_offsets.size());
    const int32_t* at = l.scratch.filter_offsets.data();
    float* by_offset = l.scratch.filters_by_offset.data;
    for (int32_t step = 0; step < steps; step++) {
        float* dst = by_offset + step * filter_count;
        for (int32_t f = 0; f < filter_count; f++) dst[f] = l.filters[size_t(f)].data[at[step]];
    }
}

namespace {

// Output columns x0 .. x0 + 8*NC - 1 of row y for filters f0 .. f0 + NF - 1.
// Lane x runs exactly the scalar sum of output (x, y, f): the same terms
// in the same order, i outermost and z innermost (the window offsets are
// listed in that order). The filters of the block share each load of
// input lanes.
template <int NF, int NC>
void forward_block(ConvLayer& l, int32_t f0, int32_t x0, int32_t y) {
    const int32_t filter_count = int32_t(l.filters.size());
    const int32_t steps = int32_t(l.scratch.window_offsets.size());
    const int32_t* offsets = l.scratch.window_offsets.data();
    const float* w = l.scratch.filters_by_offset.data + f0;
    const float* corner = l.input.data + x0 + y * l.input.size_x;
    float8 acc[NF][NC];
    for (int g = 0; g < NF; g++)
        for (int c = 0; c < NC; c++) acc[g][c] = lanes::splat(0.0f);
    for (int32_t step = 0; step < steps; step++) {
        const float* src = corner + offsets[step];
        float8 v[NC];
        for (int c = 0; c < NC; c++) v[c] = lanes::load(src + c * lanes::width);
        for (int g = 0; g < NF; g++) {
            const float wg = w[g];
            for (int c = 0; c < NC; c++) acc[g][c] = acc[g][c] + v[c] * wg;
        }
        w += filter_count;
    }
    const int32_t out_plane = l.output.size_x * l.output.size_y;
    float* dst = l.output.data + x0 + y * l.output.size_x;
    for (int g = 0; g < NF; g++)
        for (int c = 0; c < NC; c++) lanes::store(dst + (f0 + g) * out_plane + c * lanes::width, acc[g][c]);
}

void forward_rows(ConvLayer& l) {
    lay_out_filters(l);
    const int32_t filter_count = int32_t(l.filters.size());
    const int32_t out_x = l.output.size_x;
    const int32_t chunks = out_x / lanes::width;
    for (int32_t y = 0; y < l.output.size_y; y++) {
        int32_t c = 0;
        while (c < chunks) {
            const int32_t n = chunks - c < chunks_per_row_block ? chunks - c : chunks_per_row_block;
            const int32_t x0 = c * lanes::width;
            for (int32_t f0 = 0; f0 < filter_count; f0 += filters_per_block)
                with_count<chunks_per_row_block>(n, [&](auto nc) {
                    with_count<filters_per_block>(filter_count - f0, [&](auto nf) {
                        forward_block<decltype(nf)::value, decltype(nc)::value>(l, f0, x0, y);
                    });
                });
            c += n;
        }
        // Columns past the last whole group of 8: the scalar sum.
        const TensorView& in = l.input;
        for (int32_t f = 0; f < filter_count; f++) {
            const Tensor& filter = l.filters[size_t(f)];
            for (int32_t x = chunks * lanes::width; x < out_x; x++) {
                float sum = 0.0f;
                for (int32_t i = 0; i < l.extent; i++)
                    for (int32_t j = 0; j < l.extent; j++)
                        for (int32_t z = 0; z < in.size_z; z++)
                            sum = sum + in(x + i, y + j, z) * filter(i, j, z);
                l.output(x, y, f) = sum;
            }
        }
    }
}

// ---- backward, stride 1 ----------------------------------------------------
//
// With stride 1 every window lies inside the input, the output cells that
// cover input (x, y) are i = x - a, j = y - b for the filter offsets
// (a, b), and the plain walk gives:
//   cell (a, b, z) of filter k: the sum over output positions (i, j),
//     i outer, j inner, of in(i + a, j + b, z) * G(i, j, k);
//   input_grads(x, y, z): the sum over i ascending (a descending), j
//     ascending, k ascending of filter_k(a, b, z) * G(i, j, k).
// The two are computed apart, each with its own terms in its own order.

// Copies next into the layouts the passes read: the second, and the
// filters, only for the input gradients.
void lay_out_grads(ConvLayer& l, const Tensor& next) {
    const int32_t out_x = l.output.size_x;
    const int32_t out_y = l.output.size_y;
    const int32_t out_plane = out_x * out_y;
    const int32_t filter_count = int32_t(l.filters.size());
    const int32_t padded_count = lane_groups(filter_count) * lanes::width;
    float* by_position = l.scratch.grads_by_position.data;
    // Blocks of 8 output columns by 8 filters turn around in registers;
    // filters past the last one read as zeros.
    const int32_t whole_x = out_x / lanes::width * lanes::width;
    for (int32_t k0 = 0; k0 < filter_count; k0 += lanes::width)
        for (int32_t j = 0; j < out_y; j++) {
            for (int32_t i0 = 0; i0 < whole_x; i0 += lanes::width) {
                float8 r[8];
                for (int t = 0; t < 8; t++)
                    r[t] = k0 + t < filter_count ? lanes::load(next.data + i0 + j * out_x + (k0 + t) * out_plane)
                                                 : lanes::splat(0.0f);
                lanes::transpose(r);
                for (int t = 0; t < 8; t++)
                    lanes::store(by_position + ((i0 + t) * out_y + j) * padded_count + k0, r[t]);
            }
            for (int32_t i = whole_x; i < out_x; i++) {
                float* dst = by_position + (i * out_y + j) * padded_count + k0;
                for (int32_t t = 0; t < lanes::width; t++)
                    dst[t] = k0 + t < filter_count ? next.data[i + j * out_x + (k0 + t) * out_plane] : 0.0f;
            }
        }
    if (!l.input_grads_read) return;
    // The frames around the rows stay zero from construction on.
    const int32_t row = l.scratch.framed_row;
    float* framed = l.scratch.framed_grads.data + l.scratch.frame_lead;
    for (int32_t k = 0; k < filter_count; k++)
        for (int32_t j = 0; j < out_y; j++) {
            float* dst = framed + (k * out_y + j) * row;
            const float* src = next.data + j * out_x + k * out_plane;
            int32_t i = 0;
            for (; i + lanes::width <= out_x; i += lanes::width) lanes::store(dst + i, lanes::load(src + i));
            for (; i < out_x; i++) dst[i] = src[i];
        }
    lay_out_filters(l);
}

template <int NA>
void cell_rows(ConvLayer& l, int32_t z, int32_t k0, int32_t a0) {
    for (int32_t b0 = 0; b0 < l.extent; b0 += cell_rows_per_block)
        with_count<cell_rows_per_block>(l.extent - b0,
                                        [&](auto nr) { cell_block<NA, decltype(nr)::value>(l, z, k0, a0, b0); });
}

void sum_filter_grads(ConvLayer& l) {
    const int32_t filter_count = int32_t(l.filters.size());
    for (int32_t z = 0; z < l.input.size_z; z++)
        for (int32_t k0 = 0; k0 < filter_count; k0 += lanes::width)
            for (int32_t a0 = 0; a0 < l.extent; a0 += cell_columns_per_block)
                with_count<cell_columns_per_block>(l.extent - a0,
                                                   [&](auto na) { cell_rows<decltype(na)::value>(l, z, k0, a0); });
}

// Input gradients, one lane per input position (x, y), computed for a
// block of NY input rows y0 .. y0+NY-1 and 8*NC columns x0 .. at once.
// Lane (x, y) takes the terms filter_k(a, b, z) * G(x - a, y - b, k) in the
// plain order: a descending, then output row j = y - b ascending, then k
// ascending. Each loaded row of G serves every row of the block whose
// window holds it (rows y with 0 <= y - j < extent), each row with its own
// weight. Where x - a lies outside the output, the lane reads a zero of
// the frame: the product with a finite weight is a zero, and adding a zero
// leaves a sum that started at +0.0 unchanged, so each lane's sum is
// exactly the plain one.

// The terms of output row j (its framed row, shifted by a, at src for k = 0)
// for rows R0 .. R1 of the block, over all filters k.
template <int NY, int NC, int R0, int R1>
TAVELIN_LANES_INLINE void add_output_row(float8 (&acc)[NY][NC], const float* src, int32_t filter_step,
                                         const float* weights, int32_t b0, int32_t b_step, int32_t filter_count) {
    for (int32_t k = 0; k < filter_count; k++) {
        float8 g[NC];
        for (int c = 0; c < NC; c++) {
            g[c] = lanes::load(src + c * lanes::width);
            lanes::keep_in_register(g[c]);
        }
        for (int r = R0; r <= R1; r++) {
            const float w = weights[(b0 + r) * b_step + k];  // filter_k(a, b0 + r, z)
            for (int c = 0; c < NC; c++) acc[r][c] = acc[r][c] + w * g[c];
        }
        src += filter_step;
    }
}

template <int NY, int NC>
void input_grad_block(ConvLayer& l, int32_t z, int32_t y0, int32_t x0) {
    const int32_t e = l.extent;
    const int32_t out_y = l.output.size_y;
    const int32_t filter_count = int32_t(l.filters.size());
    const int32_t row = l.scratch.framed_row;
    const int32_t filter_step = out_y * row;
    const float* framed = l.scratch.framed_grads.data + l.scratch.frame_lead + x0;
    const int32_t j_first = y0 - (e - 1) > 0 ? y0 - (e - 1) : 0;
    const int32_t j_last = y0 + NY - 1 < out_y - 1 ? y0 + NY - 1 : out_y - 1;
    float8 acc[NY][NC];
    for (int r = 0; r < NY; r++)
        for (int c = 0; c < NC; c++) acc[r][c] = lanes::splat(0.0f);
    const int32_t depth = l.input.size_z;
    const int32_t b_step = depth * filter_count;  // from weight (a, b, z) to (a, b + 1, z)
    for (int32_t a = e - 1; a >= 0; a--) {
        const float* weights = l.scratch.filters_by_offset.data + (a * e * depth + z) * filter_count;
        for (int32_t j = j_first; j <= j_last; j++) {
            // Rows y0 + r of the block with 0 <= y0 + r - j < e.
            const int32_t r0 = j - y0 > 0 ? j - y0 : 0;
            const int32_t r1 = j - y0 + e - 1 < NY - 1 ? j - y0 + e - 1 : NY - 1;
            with_count<NY>(r0 + 1, [&](auto first) {
                with_count<NY>(r1 + 1, [&](auto last) {
                    constexpr int R0 = decltype(first)::value - 1, R1 = decltype(last)::value - 1;
                    if constexpr (R0 <= R1)
                        add_output_row<NY, NC, R0, R1>(acc, framed + j * row - a, filter_step, weights, y0 - j,
                                                       b_step, filter_count);
                });
            });
        }
    }
    const int32_t in_x = l.input.size_x;
    for (int r = 0; r < NY; r++) {
        float* dst = l.input_grads.data + x0 + (y0 + r) * in_x + z * in_x * l.input.size_y;
        for (int c = 0; c < NC; c++) {
            const int32_t left = in_x - (x0 + c * lanes::width);
            if (left >= lanes::width) lanes::store(dst + c * lanes::width, acc[r][c]);
            else lanes::store_first(dst + c * lanes::width, acc[r][c], left);
        }
    }
}

template <int NY>
void input_grad_rows(ConvLayer& l, int32_t z, int32_t y0) {
    const int32_t chunks = lane_groups(l.input.size_x);
    for (int32_t c = 0; c < chunks; c += chunks_per_input_block)
        with_count<chunks_per_input_block>(chunks - c, [&](auto nc) {
            input_grad_block<NY, decltype(nc)::value>(l, z, y0, c * lanes::width);
        });
}

void sum_input_grads(ConvLayer& l) {
    const int32_t in_y = l.input.size_y;
    for (int32_t z = 0; z < l.input.size_z; z++) {
        int32_t y0 = 0;
        for (; y0 + rows_per_input_block <= in_y; y0 += rows_per_input_block)
            input_grad_rows<rows_per_input_block>(l, z, y0);
        for (; y0 < in_y; y0++) input_grad_rows<1>(l, z, y0);
    }
}

bool filters_finite(const ConvLayer& l) {
    for (const Tensor& filter : l.filters)
        for (int32_t i = 0; i < filter.count(); i++)
            if (!std::isfinite(filter.data[i])) return false;
    return true;
}

}  // namespace

// ---- weight update ---------------------------------------------------------

// Every weight has its own cell, so the order over weights is free: storage
// order, which the compiler vectorises. Each weight takes the rule's
// rounded steps in their order; the convolution has no multiplier step.
void update_conv_lanes(ConvLayer& l) {
    for (size_t f = 0; f < l.filters.size(); f++) {
        float* w = l.filters[f].data;
        GradientCell* cells = l.filter_grads[f].data;
        const int32_t n = l.filters[f].count();
        for (int32_t i = 0; i < n; i++) {
            float g = cells[i].carried * momentum;
            g = g + cells[i].value;
            float s = g * learning_rate;
            const float d = w[i] * weight_decay;
            s = s + d;
            w[i] = w[i] - s;
            cells[i].carried = g;
        }
    }
}

void forward_conv_lanes(ConvLayer& l) { forward_rows(l); }

void backward_conv_lanes(ConvLayer& l, const Tensor& next) {
    // A non-finite weight would turn the frame's zeros into NaN.
    if (l.input_grads_read && !filters_finite(l)) {
        backward_conv_plain(l, next);
        return;
    }
    lay_out_grads(l, next);
    sum_filter_grads(l);
    if (l.input_grads_read) sum_input_grads(l);
}

}  // namespace tavelin::TAVELIN_LEVEL
