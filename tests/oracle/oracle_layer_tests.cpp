// The layers' passes side by side with their plain twins, on random data
// of many shapes: every output, input gradient, weight and cell must have
// the same bits after every operation, over several steps so that the
// carried gradients take part. The shapes cover the program's layers, the
// vectorised paths' edges (partial groups of eight, tails, extents other
// than 5, more than eight filters or ten neurons) and the plain paths
// (strides above 1, strides that do not divide the input).
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>

#include "core/random.h"
#include "layers/kernels.h"
#include "tests/oracle/layer_state.h"

using namespace tavelin;
using namespace tavelin::oracle;

namespace {

// Floats whose sums round differently in a different order: both signs,
// magnitudes over a dozen binary orders, and some exact zeros.
float awkward_value(std::mt19937& rng) {
    const uint32_t r = rng();
    if (r % 10 == 0) return (r & 0x100) ? -0.0f : 0.0f;
    const float unit = float(rng() >> 8) / 16777216.0f;  // [0, 1)
    const int exponent = int((r >> 4) % 13) - 6;
    const float v = std::ldexp(unit + 0.5f, exponent);
    return (r & 0x200) ? -v : v;
}

void fill_awkward(Tensor& t, std::mt19937& rng) {
    for (int32_t i = 0; i < t.count(); i++) t[i] = awkward_value(rng);
}

Tensor awkward_tensor(Shape s, std::mt19937& rng) {
    Tensor t(s);
    fill_awkward(t, rng);
    return t;
}

// Values from a handful of levels, so that pooling windows hold ties,
// both zeros and repeated maxima.
Tensor tied_tensor(Shape s, std::mt19937& rng) {
    const float levels[] = {-1.0f, -0.0f, 0.0f, 0.0f, 0.5f, 0.5f, 2.0f, 3.0f};
    Tensor t(s);
    for (int32_t i = 0; i < t.count(); i++) {
        const uint32_t r = rng();
        t[i] = r % 4 == 0 ? awkward_value(rng) : levels[r % 8];
    }
    return t;
}

std::string describe(Shape s) {
    return std::to_string(s.x) + "x" + std::to_string(s.y) + "x" + std::to_string(s.z);
}

// Runs `steps` rounds of forward, backward and apply_gradients on `fast`
// with the passes the layer was given and on its copy with the plain twins,
// comparing everything after each operation.
template <typename L, typename MakeInput>
void run_side_by_side(L& fast, int steps, std::mt19937& rng, MakeInput make_input, NaNs nans = NaNs::Exact) {
    L plain = fast;
    use_kernels(plain, plain_kernels());
    for (int step = 0; step < steps; step++) {
        SCOPED_TRACE("step " + std::to_string(step));
        const Tensor input = make_input(fast.input_grads.shape(), rng);
        forward(fast, input);
        forward(plain, input);
        ASSERT_TRUE(same_layer_state(fast, plain, nans)) << "after forward";
        const Tensor next = make_input(fast.output.shape(), rng);
        backward(fast, next);
        backward(plain, next);
        ASSERT_TRUE(same_layer_state(fast, plain, nans)) << "after backward";
        apply_gradients(fast);
        apply_gradients(plain);
        ASSERT_TRUE(same_layer_state(fast, plain, nans)) << "after apply_gradients";
    }
}

struct ConvShape {
    uint16_t stride, extent;
    int32_t filters;
    Shape in;
};

TEST(OracleConv, MatchesThePlainLoopsOnManyShapes) {
    const ConvShape shapes[] = {
        {1, 5, 8, {28, 28, 1}},   // the program's layer
        {1, 3, 5, {13, 11, 3}},   // depth 3, five filters, a tail of three columns
        {1, 5, 12, {30, 9, 2}},   // more than eight filters, depth 2
        {1, 7, 9, {40, 12, 1}},   // extent 7, input wider than 32 columns
        {1, 1, 3, {9, 9, 2}},     // extent 1
        {1, 4, 2, {6, 7, 2}},     // fewer than eight output columns
        {1, 2, 1, {2, 2, 1}},     // a single output cell
        {1, 5, 16, {20, 20, 4}},  // two full groups of eight filters
        {2, 3, 4, {11, 11, 2}},   // stride 2
        {2, 5, 8, {28, 28, 1}},   // stride 2 on the program's input
        {3, 5, 3, {17, 16, 2}},   // a stride that does not divide the input
        {2, 2, 2, {7, 6, 3}},     // stride 2, odd input, depth 3
    };
    std::mt19937 rng(1234);
    for (const ConvShape& c : shapes) {
        SCOPED_TRACE("stride " + std::to_string(c.stride) + " extent " + std::to_string(c.extent) + " filters " +
                     std::to_string(c.filters) + " input " + describe(c.in));
        ConvLayer fast(c.stride, c.extent, c.filters, c.in);
        for (Tensor& filter : fast.filters) fill_awkward(filter, rng);
        run_side_by_side(fast, 3, rng, awkward_tensor);
    }
}

TEST(OracleConv, BackwardTwiceWithoutUpdateRecomputesTheCells) {
    std::mt19937 rng(77);
    ConvLayer fast(1, 5, 8, Shape{28, 28, 1});
    for (Tensor& filter : fast.filters) fill_awkward(filter, rng);
    ConvLayer plain = fast;
    use_kernels(plain, plain_kernels());
    const Tensor input = awkward_tensor(Shape{28, 28, 1}, rng);
    forward(fast, input);
    forward(plain, input);
    for (int round = 0; round < 2; round++) {
        const Tensor next = awkward_tensor(fast.output.shape(), rng);
        backward(fast, next);
        backward(plain, next);
        ASSERT_TRUE(same_layer_state(fast, plain)) << "backward " << round;
    }
}

// Infinite and NaN values, in the input, the incoming gradient and the
// filters (a non-finite filter sends the backward pass down the plain
// path). NaN payloads may differ where two NaNs meet, so any NaN matches
// any NaN here; every other value must match exactly.
TEST(OracleConv, NonFiniteValuesPropagateLikeThePlainLoops) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto with_specials = [&](Shape s, std::mt19937& rng) {
        Tensor t = awkward_tensor(s, rng);
        for (int32_t i = 0; i < t.count(); i++) {
            const uint32_t r = rng() % 97;
            if (r == 0) t[i] = inf;
            else if (r == 1) t[i] = -inf;
            else if (r == 2) t[i] = nan;
        }
        return t;
    };
    for (bool finite_filters : {true, false}) {
        SCOPED_TRACE(finite_filters ? "finite filters" : "one infinite filter weight");
        std::mt19937 rng(finite_filters ? 5 : 6);
        ConvLayer fast(1, 5, 8, Shape{28, 28, 1});
        for (Tensor& filter : fast.filters) fill_awkward(filter, rng);
        if (!finite_filters) fast.filters[3](4, 0, 0) = inf;
        run_side_by_side(fast, 2, rng, with_specials, NaNs::AnyNaN);
    }
}

TEST(OracleRelu, MatchesThePlainLoops) {
    const Shape shapes[] = {{24, 24, 8}, {5, 3, 2}, {1, 1, 1}, {0, 4, 4}};
    std::mt19937 rng(99);
    auto with_edges = [](Shape s, std::mt19937& rng) {
        Tensor t = awkward_tensor(s, rng);
        const float edges[] = {-0.0f, 0.0f, std::numeric_limits<float>::denorm_min(),
                               -std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::quiet_NaN(),
                               -std::numeric_limits<float>::infinity()};
        for (int32_t i = 0; i < t.count(); i += 7) t[i] = edges[(i / 7) % 6];
        return t;
    };
    for (Shape s : shapes) {
        SCOPED_TRACE(describe(s));
        ReluLayer fast(s);
        run_side_by_side(fast, 2, rng, with_edges);
    }
}

struct PoolShape {
    uint16_t stride, extent;
    Shape in;
};

TEST(OracleMaxPool, MatchesThePlainLoopsOnManyShapes) {
    const PoolShape shapes[] = {
        {2, 2, {24, 24, 8}},  // the program's layer
        {2, 2, {6, 4, 3}},    // windows that tile a small input
        {2, 2, {26, 4, 2}},   // 13 windows a row: a group of 8, of 4, and one
        {2, 2, {10, 6, 1}},   // 5 windows a row: a group of 4 and one
        {2, 2, {7, 9, 3}},    // odd input: a leftover column and row
        {2, 3, {11, 11, 2}},  // 3 x 3 windows, stride 2: overlapping
        {2, 3, {12, 10, 1}},  // ... and a stride that does not divide
        {1, 2, {5, 6, 2}},    // stride 1
        {3, 2, {8, 8, 2}},    // gaps between windows
        {2, 2, {2, 2, 1}},    // a single window
    };
    std::mt19937 rng(4321);
    for (const PoolShape& c : shapes) {
        SCOPED_TRACE("stride " + std::to_string(c.stride) + " extent " + std::to_string(c.extent) + " input " +
                     describe(c.in));
        MaxPoolLayer fast(c.stride, c.extent, c.in);
        run_side_by_side(fast, 3, rng, tied_tensor);
    }
}

TEST(OracleMaxPool, NonFiniteValuesMatchThePlainLoops) {
    std::mt19937 rng(8);
    auto with_specials = [](Shape s, std::mt19937& rng) {
        Tensor t = tied_tensor(s, rng);
        for (int32_t i = 0; i < t.count(); i++) {
            const uint32_t r = rng() % 31;
            if (r == 0) t[i] = std::numeric_limits<float>::infinity();
            else if (r == 1) t[i] = -std::numeric_limits<float>::infinity();
            else if (r == 2) t[i] = std::numeric_limits<float>::quiet_NaN();
        }
        return t;
    };
    MaxPoolLayer fast(2, 2, Shape{24, 24, 8});
    run_side_by_side(fast, 2, rng, with_specials, NaNs::AnyNaN);
}

struct DenseShape {
    Shape in;
    int32_t outputs;
};

TEST(OracleDense, MatchesThePlainLoopsOnManyShapes) {
    const DenseShape shapes[] = {
        {{12, 12, 8}, 10},  // the program's layer
        {{3, 5, 2}, 7},     // 30 inputs: a tail past the last group of eight
        {{9, 2, 3}, 13},    // more neurons than run side by side
        {{4, 4, 4}, 3},
        {{1, 1, 1}, 1},
        {{7, 1, 1}, 20},
    };
    std::mt19937 rng(555);
    for (const DenseShape& c : shapes) {
        SCOPED_TRACE("input " + describe(c.in) + " outputs " + std::to_string(c.outputs));
        DenseLayer fast(c.in, c.outputs);
        // Weights of both signs and many magnitudes; with the small start
        // weights every sigmoid would sit near 0.5.
        for (int32_t i = 0; i < fast.weights.count(); i++) fast.weights[i] = awkward_value(rng) / 16;
        run_side_by_side(fast, 3, rng, awkward_tensor);
    }
}

}  // namespace
