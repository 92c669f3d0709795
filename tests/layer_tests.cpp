// The layer record and its dispatch: unknown kinds, views between layers,
// and what each operation may and may not touch.
#include <gtest/gtest.h>

#include "core/random.h"
#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/dropout_layer.h"
#include "layers/maxpool_layer.h"
#include "layers/relu_layer.h"
#include "test_support.h"

using namespace tavelin;
using namespace tavelin::test_util;

namespace {

TEST(Dispatch, UnknownKindsDoNothing) {
    std::mt19937 rng(1);
    for (int32_t tag : {7, -1, 5, 1 << 30}) {
        ReluLayer layer(Shape{4, 1, 1});
        const Tensor before_output(layer.output);
        const Tensor before_grads(layer.input_grads);
        const TensorView before_input = layer.input;
        layer.kind = static_cast<LayerKind>(tag);
        const Tensor in = random_tensor(Shape{4, 1, 1}, rng);
        forward(layer, in);
        backward(layer, in);
        apply_gradients(layer);
        EXPECT_EQ(layer.input.data, before_input.data) << tag;
        EXPECT_TRUE(same_bits(layer.output, before_output)) << tag;
        EXPECT_TRUE(same_bits(layer.input_grads, before_grads)) << tag;
    }
}

TEST(Dispatch, InputIsAViewOfThePreviousOutput) {
    ReluLayer first(Shape{3, 2, 1});
    ReluLayer second(Shape{3, 2, 1});
    const Tensor in = filled(Shape{3, 2, 1}, 2.0f);
    forward(first, in);
    forward(second, first.output);
    EXPECT_EQ(second.input.data, first.output.data);
    first.output(2, 1, 0) = -9.0f;
    EXPECT_EQ(second.input(2, 1, 0), -9.0f);
}

TEST(Dispatch, ReleasingTheCallersInputLeavesTheLayerIntact) {
    ReluLayer layer(Shape{2, 2, 1});
    {
        const Tensor temporary = filled(Shape{2, 2, 1}, 3.0f);
        forward(layer, temporary);
    }
    // The view is stale now; the next forward replaces it.
    const Tensor next = filled(Shape{2, 2, 1}, -1.0f);
    forward(layer, next);
    EXPECT_EQ(layer.input.data, next.data);
    EXPECT_EQ(layer.output[3], 0.0f);
}

TEST(Dispatch, LayersWithoutWeightsIgnoreApplyGradients) {
    std::mt19937 rng(2);
    const Tensor in = random_tensor(Shape{4, 4, 2}, rng);
    const Tensor g2 = random_tensor(Shape{2, 2, 2}, rng);
    ReluLayer relu(in.shape());
    MaxPoolLayer pool(2, 2, in.shape());
    DropoutLayer drop(in.shape(), 0.5f);
    forward(relu, in);
    forward(pool, in);
    forward(drop, in);
    backward(relu, in);
    backward(pool, g2);
    backward(drop, in);
    const Tensor relu_out(relu.output), relu_grads(relu.input_grads);
    const Tensor pool_out(pool.output), pool_grads(pool.input_grads);
    const MaskTensor mask(drop.mask);
    const uint32_t draws = rand_state();
    apply_gradients(relu);
    apply_gradients(pool);
    apply_gradients(drop);
    EXPECT_TRUE(same_bits(relu.output, relu_out));
    EXPECT_TRUE(same_bits(relu.input_grads, relu_grads));
    EXPECT_TRUE(same_bits(pool.output, pool_out));
    EXPECT_TRUE(same_bits(pool.input_grads, pool_grads));
    EXPECT_TRUE(same_bits(drop.mask, mask));
    EXPECT_EQ(rand_state(), draws);
}

TEST(Dispatch, BackwardNeverChangesItsArguments) {
    std::mt19937 rng(3);
    const Tensor in = random_tensor(Shape{8, 8, 2}, rng);
    ConvLayer conv(1, 3, 3, in.shape());
    ReluLayer relu(conv.output.shape());
    MaxPoolLayer pool(2, 2, relu.output.shape());
    DenseLayer dense(pool.output.shape(), 4);
    Layer* layers[] = {&conv, &relu, &pool, &dense};
    forward(conv, in);
    forward(relu, conv.output);
    forward(pool, relu.output);
    forward(dense, pool.output);
    for (Layer* layer : layers) {
        const Tensor next = random_tensor(layer->output.shape(), rng);
        const Tensor next_before(next), output_before(layer->output);
        const float* input_before = layer->input.data;
        backward(*layer, next);
        EXPECT_TRUE(same_bits(next, next_before));
        EXPECT_TRUE(same_bits(layer->output, output_before));
        EXPECT_EQ(layer->input.data, input_before);
    }
}

TEST(Relu, NegativesBecomePositiveZeroEverythingElsePasses) {
    ReluLayer layer(Shape{6, 1, 1});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float tiny = -std::numeric_limits<float>::denorm_min();
    const Tensor in = tensor_of({-2.5f, -0.0f, 0.0f, 3.0f, nan, tiny});
    forward(layer, in);
    EXPECT_EQ(bits_of(layer.output[0]), 0x00000000u);
    EXPECT_EQ(bits_of(layer.output[1]), 0x80000000u);  // -0.0 stays -0.0
    EXPECT_EQ(bits_of(layer.output[2]), 0x00000000u);
    EXPECT_EQ(layer.output[3], 3.0f);
    EXPECT_TRUE(std::isnan(layer.output[4]));
    EXPECT_EQ(bits_of(layer.output[5]), 0x00000000u);

    const Tensor next = tensor_of({1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f});
    backward(layer, next);
    EXPECT_EQ(bits_of(layer.input_grads[0]), 0x00000000u);
    EXPECT_EQ(layer.input_grads[1], 2.0f);
    EXPECT_EQ(layer.input_grads[2], 3.0f);
    EXPECT_EQ(layer.input_grads[3], 4.0f);
    EXPECT_EQ(layer.input_grads[4], 5.0f);  // NaN input lets the gradient through
    EXPECT_EQ(bits_of(layer.input_grads[5]), 0x00000000u);
}

TEST(Relu, ZeroExtentDoesNothing) {
    ReluLayer layer(Shape{0, 3, 3});
    const Tensor in(0, 3, 3);
    forward(layer, in);
    backward(layer, in);
    EXPECT_EQ(layer.output.count(), 0);
}

TEST(Dropout, ProbabilityOneKeepsEverythingUnscaled) {
    std::mt19937 rng(4);
    const Tensor in = random_tensor(Shape{5, 4, 3}, rng, -3.0f, 3.0f);
    const Tensor next = random_tensor(in.shape(), rng);
    DropoutLayer layer(in.shape(), 1.0f);
    forward(layer, in);
    backward(layer, next);
    EXPECT_TRUE(same_bits(layer.output, in));
    EXPECT_TRUE(same_bits(layer.input_grads, next));
    for (int32_t i = 0; i < layer.mask.count(); i++) EXPECT_EQ(layer.mask[i], 1);
}

TEST(Dropout, ZeroKeepsOnlyDrawsOfZeroOrTheMaximum) {
    const Shape s{4000, 1, 1};
    const Tensor in = filled(s, -3.0f);
    DropoutLayer layer(s, 0.0f);
    const uint32_t start = rand_state();
    forward(layer, in);
    set_rand_state(start);
    for (int32_t i = 0; i < s.x; i++) {
        const int32_t r = tavelin::rand();
        const bool kept = r == 0 || r == rand_max;
        EXPECT_EQ(layer.mask[i], kept ? 1 : 0) << i;
        EXPECT_EQ(layer.output[i], kept ? -3.0f : 0.0f);
    }
}

TEST(Dropout, NegativeOrNaNProbabilityDropsEverything) {
    std::mt19937 rng(5);
    const Tensor in = random_tensor(Shape{50, 2, 1}, rng);
    for (float p : {-0.5f, std::numeric_limits<float>::quiet_NaN()}) {
        DropoutLayer layer(in.shape(), p);
        forward(layer, in);
        backward(layer, in);
        for (int32_t i = 0; i < in.count(); i++) {
            EXPECT_EQ(layer.mask[i], 0);
            EXPECT_EQ(bits_of(layer.output[i]), 0u);
            EXPECT_EQ(bits_of(layer.input_grads[i]), 0u);
        }
    }
}

TEST(Dropout, SecondPassUsesTheNextDraws) {
    const Shape s{64, 1, 1};
    const Tensor in = filled(s, 1.0f);
    DropoutLayer layer(s, 0.5f);
    const uint32_t start = rand_state();
    forward(layer, in);
    forward(layer, in);
    set_rand_state(start);
    for (int32_t i = 0; i < s.x; i++) tavelin::rand();
    for (int32_t i = 0; i < s.x; i++) {
        const float u = float(tavelin::rand() % 32767) / 32767.0f;
        EXPECT_EQ(layer.mask[i], 0.5f >= u ? 1 : 0) << i;
    }
}

}  // namespace
