// The dense sigmoid layer: start weights, the sigmoid's exact values and
// saturation, and the per-neuron gradient cell.
#include <gtest/gtest.h>

#include "core/random.h"
#include "layers/dense_layer.h"
#include "test_support.h"

using namespace tavelin;
using namespace tavelin::test_util;

namespace {

TEST(Dense, ProgramShapeAndStartWeights) {
    const uint32_t start = rand_state();
    DenseLayer layer(Shape{12, 12, 8}, 10);
    const int32_t n = 12 * 12 * 8;
    EXPECT_EQ(layer.kind, LayerKind::Dense);
    EXPECT_EQ(layer.weights.size_x, n);
    EXPECT_EQ(layer.weights.size_y, 10);
    EXPECT_EQ(layer.weights.size_z, 1);
    EXPECT_EQ(layer.output.size_x, 10);
    EXPECT_EQ(layer.output.size_y, 1);
    ASSERT_EQ(layer.sums.size(), 10u);
    ASSERT_EQ(layer.gradients.size(), 10u);
    for (int32_t o = 0; o < 10; o++) {
        EXPECT_EQ(layer.sums[size_t(o)], 0.0f);
        EXPECT_EQ(layer.gradients[size_t(o)].value, 0.0f);
        EXPECT_EQ(layer.gradients[size_t(o)].carried, 0.0f);
    }
    const float scale = float_from_bits(0x400C9F41u) / float(n);
    EXPECT_EQ(bits_of(scale), 0x3af9feacu);
    // Neuron 0 takes the first n draws in order m = 0 .. n-1, then neuron 1 ...
    const uint32_t end = rand_state();
    set_rand_state(start);
    for (int32_t o = 0; o < 10; o++)
        for (int32_t m = 0; m < n; m++) {
            const float w = layer.weights(m, o, 0);
            ASSERT_EQ(w, float(tavelin::rand()) * scale / 32767.0f) << m << "," << o;
            ASSERT_GE(w, 0.0f);
            ASSERT_LE(w, scale);
        }
    EXPECT_EQ(rand_state(), end);
}

TEST(Dense, SigmoidExactValuesAndSaturation) {
    EXPECT_EQ(bits_of(sigmoid(1.0f)), 0x3f3b26a8u);
    EXPECT_EQ(bits_of(sigmoid(-1.0f)), 0x3e89b2b1u);
    EXPECT_EQ(sigmoid(0.0f), 0.5f);
    EXPECT_EQ(sigmoid(100.0f), 1.0f);
    EXPECT_EQ(bits_of(sigmoid(-100.0f)), 0u);
    EXPECT_EQ(bits_of(sigmoid(-1000.0f)), 0u);
}

TEST(Dense, ZeroWeightsGiveOneHalf) {
    DenseLayer layer(Shape{3, 2, 2}, 4);
    for (int32_t i = 0; i < layer.weights.count(); i++) layer.weights[i] = 0.0f;
    std::mt19937 rng(9);
    const Tensor in = random_tensor(Shape{3, 2, 2}, rng);
    forward(layer, in);
    for (int32_t o = 0; o < 4; o++) {
        EXPECT_EQ(layer.sums[size_t(o)], 0.0f);
        EXPECT_EQ(layer.output[o], 0.5f);
    }
}

TEST(Dense, WeightsLinkFlatInputPositionsToNeurons) {
    // weights(m, o) = o when m is the flat index 7, else 0: sums[o] = in[7] * o
    DenseLayer layer(Shape{3, 2, 2}, 3);
    for (int32_t i = 0; i < layer.weights.count(); i++) layer.weights[i] = 0.0f;
    for (int32_t o = 0; o < 3; o++) layer.weights(7, o, 0) = float(o);
    Tensor in = filled(Shape{3, 2, 2}, 100.0f);
    in(1, 0, 1) = 0.25f;  // flat 1 + 0*3 + 1*6 = 7
    forward(layer, in);
    EXPECT_EQ(layer.sums[0], 0.0f);
    EXPECT_EQ(layer.sums[1], 0.25f);
    EXPECT_EQ(layer.sums[2], 0.5f);
}

TEST(Dense, BackwardAtSumZeroGivesAQuarter) {
    DenseLayer layer(Shape{4, 1, 1}, 2);
    for (int32_t i = 0; i < 4; i++) {
        layer.weights(i, 0, 0) = 0.0f;
        layer.weights(i, 1, 0) = 0.0f;
    }
    const Tensor in = filled(Shape{4, 1, 1}, 1.0f);
    forward(layer, in);
    // Weights read by backward may differ from the forward's: use dyadic ones.
    for (int32_t i = 0; i < 4; i++) {
        layer.weights(i, 0, 0) = float(i) / 8.0f;
        layer.weights(i, 1, 0) = 1.0f;
    }
    backward(layer, tensor_of({1.0f, 2.0f}));
    EXPECT_EQ(layer.gradients[0].value, 0.25f);
    EXPECT_EQ(layer.gradients[1].value, 0.5f);
    for (int32_t i = 0; i < 4; i++) EXPECT_EQ(layer.input_grads[i], 0.25f * float(i) / 8.0f + 0.5f);
}

TEST(Dense, SaturatedNeuronPassesNoGradient) {
    DenseLayer layer(Shape{1, 1, 1}, 1);
    layer.weights[0] = -100.0f;
    forward(layer, filled(Shape{1, 1, 1}, 1.0f));
    EXPECT_EQ(layer.output[0], 0.0f);
    backward(layer, tensor_of({123.0f}));
    EXPECT_EQ(layer.gradients[0].value, 0.0f);
}

TEST(Dense, UpdateSharesOneCellPerNeuronAndScalesByTheInput) {
    DenseLayer layer(Shape{3, 1, 1}, 2);
    for (int32_t i = 0; i < layer.weights.count(); i++) layer.weights[i] = 1.0f;
    const Tensor in = tensor_of({0.5f, 0.0f, 1.0f});
    forward(layer, in);
    layer.gradients[0] = GradientCell{1.0f, 0.0f};
    layer.gradients[1] = GradientCell{0.0f, 0.0f};
    apply_gradients(layer);
    EXPECT_EQ(bits_of(layer.weights(0, 0, 0)), 0x3f7eb7aau);  // 1 - (0.01*0.5 + decay)
    EXPECT_EQ(bits_of(layer.weights(1, 0, 0)), 0x3f7fff58u);  // input 0: decay alone
    EXPECT_EQ(bits_of(layer.weights(2, 0, 0)), 0x3f7d6ffcu);
    for (int32_t m = 0; m < 3; m++) EXPECT_EQ(bits_of(layer.weights(m, 1, 0)), 0x3f7fff58u);
    // Carried moves once per step, after all of the neuron's weights.
    EXPECT_EQ(layer.gradients[0].carried, 1.0f);
    EXPECT_EQ(layer.gradients[0].value, 1.0f);
    EXPECT_EQ(layer.gradients[1].carried, 0.0f);
}

}  // namespace
