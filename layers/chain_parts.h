// The pieces of the program's network as one chain (chain.h) that both of
// its arrangements share: the shapes, the layers, the dense walk, and the
// rectifier's and the pooling's comparisons. With the filters in lanes
// (chain_by_position, chain_by_position.cpp) each vector holds the 8
// filters' values at one position; otherwise (chain_columns.cpp) 8 output
// columns of one map. chain_lanes.cpp holds the dense layer's part and the
// sweeps. Compiled once per level, like the files that include it.
#pragma once

#include <cstddef>
#include <cstring>

#include "layers/float8.h"
#include "layers/lanes.h"

namespace tavelin::TAVELIN_LEVEL::chain_parts {

using lanes::float8;

constexpr int32_t image_side = 28;
constexpr int32_t extent = 5;
constexpr int32_t maps = 8;  // filters: one lane group
constexpr int32_t conv_side = 24;
constexpr int32_t conv_plane = conv_side * conv_side;
constexpr int32_t pool_side = 12;
constexpr int32_t pool_plane = pool_side * pool_side;
constexpr int32_t dense_inputs = pool_plane * maps;
constexpr int32_t neurons = 10;

// Loops over filters and cells run unrolled, so that every accumulator
// stays in its register.
#define TAVELIN_PRAGMA(x) _Pragma(#x)
#define TAVELIN_UNROLL(n) TAVELIN_PRAGMA(GCC unroll n)
static_assert(maps == lanes::width && conv_side % lanes::width == 0, "the chain's shapes fill whole lane groups");
static_assert(neurons == lanes::width + 2, "neurons 8 and 9 go in pairs");

struct Chain {
    ConvLayer& conv;
    ReluLayer& relu;
    MaxPoolLayer& pool;
    DenseLayer& dense;
};

inline Chain chain_of(LayerList layers) {
    return {static_cast<ConvLayer&>(*layers[0]), static_cast<ReluLayer&>(*layers[1]),
            static_cast<MaxPoolLayer&>(*layers[2]), static_cast<DenseLayer&>(*layers[3])};
}

using lanes::keep_greater;
using lanes::rectify;

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
        const ptrdiff_t t = next++;
        const ptrdiff_t m = input_at[t];
        // With the filters in lanes the pooled values lie in the walk's
        // order (ConvScratch::pooled_by_position).
        const float8 v = lanes::splat(chain_by_position ? in[t] : in[m]);
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

// The convolution, the rectifier and the pooling forward, all but the
// walk's last terms of the dense sums beside them; the arrangement's own.
void forward_maps(const Chain& c, const float* taps, DenseWalk& walk);

// The pooling's and the rectifier's backward passes and the filter
// gradients (the cells' values), after the dense layer's backward pass.
void backward_maps(const Chain& c);

}  // namespace tavelin::TAVELIN_LEVEL::chain_parts
