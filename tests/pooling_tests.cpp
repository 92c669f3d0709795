// Max-pooling on hand-worked windows, including ties, signed zeros and NaN.
#include <gtest/gtest.h>

#include "layers/maxpool_layer.h"
#include "test_support.h"

using namespace tavelin;
using namespace tavelin::test_util;

namespace {

// One 2x2 window: values in scan order (0,0), (0,1), (1,0), (1,1).
struct Window {
    MaxPoolLayer layer{2, 2, Shape{2, 2, 1}};
    Tensor in{2, 2, 1};
    Window(float a, float b, float c, float d, float gradient) {
        in(0, 0, 0) = a;
        in(0, 1, 0) = b;
        in(1, 0, 0) = c;
        in(1, 1, 0) = d;
        forward(layer, in);
        backward(layer, filled(Shape{1, 1, 1}, gradient));
    }
    float grad(int32_t x, int32_t y) const { return layer.input_grads(x, y, 0); }
};

TEST(MaxPool, ProgramShape) {
    MaxPoolLayer layer(2, 2, Shape{24, 24, 8});
    EXPECT_EQ(layer.kind, LayerKind::MaxPool);
    EXPECT_EQ(layer.output.size_x, 12);
    EXPECT_EQ(layer.output.size_y, 12);
    EXPECT_EQ(layer.output.size_z, 8);
    const int32_t table[][2] = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {10, 5}, {11, 5}, {22, 11}, {23, 11}};
    for (const auto& row : table) {
        const CoveringCells w = covering_cells(layer, row[0], row[0]);
        EXPECT_EQ(w.min_x, row[1]);
        EXPECT_EQ(w.max_x, row[1]);
        EXPECT_EQ(w.min_y, row[1]);
        EXPECT_EQ(w.max_y, row[1]);
        EXPECT_EQ(w.min_z, 0);
        EXPECT_EQ(w.max_z, 7);
    }
}

TEST(MaxPool, GradientGoesToTheMaximum) {
    // input(0,0)=1, (1,0)=3, (0,1)=2, (1,1)=0
    Window w(1.0f, 2.0f, 3.0f, 0.0f, 5.0f);
    EXPECT_EQ(w.layer.output[0], 3.0f);
    EXPECT_EQ(w.grad(0, 0), 0.0f);
    EXPECT_EQ(w.grad(1, 0), 5.0f);
    EXPECT_EQ(w.grad(0, 1), 0.0f);
    EXPECT_EQ(w.grad(1, 1), 0.0f);
}

TEST(MaxPool, TiedMaximaEachGetTheWholeGradient) {
    Window w(2.0f, 2.0f, 1.0f, 0.0f, 5.0f);
    EXPECT_EQ(w.layer.output[0], 2.0f);
    EXPECT_EQ(w.grad(0, 0), 5.0f);
    EXPECT_EQ(w.grad(0, 1), 5.0f);
    EXPECT_EQ(w.grad(1, 0), 0.0f);
}

TEST(MaxPool, FirstZeroInScanOrderWinsAndAllZerosShare) {
    Window w(-0.0f, 0.0f, 0.0f, 0.0f, 5.0f);
    EXPECT_EQ(bits_of(w.layer.output[0]), 0x80000000u);
    for (int32_t x = 0; x < 2; x++)
        for (int32_t y = 0; y < 2; y++) EXPECT_EQ(w.grad(x, y), 5.0f);
}

TEST(MaxPool, NaNIsNeverTheMaximum) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Window all_nan(nan, nan, nan, nan, 5.0f);
    EXPECT_EQ(bits_of(all_nan.layer.output[0]), 0xFF7FFFFFu);
    for (int32_t x = 0; x < 2; x++)
        for (int32_t y = 0; y < 2; y++) EXPECT_EQ(all_nan.grad(x, y), 0.0f);

    Window one_nan(nan, 1.0f, -4.0f, 0.5f, 2.0f);
    EXPECT_EQ(one_nan.layer.output[0], 1.0f);
    EXPECT_EQ(one_nan.grad(0, 1), 2.0f);
    EXPECT_EQ(one_nan.grad(0, 0), 0.0f);

    const float inf = std::numeric_limits<float>::infinity();
    Window minus_inf(-inf, -inf, -inf, -inf, 1.0f);
    EXPECT_EQ(bits_of(minus_inf.layer.output[0]), 0xFF7FFFFFu);
}

TEST(MaxPool, NonFiniteGradientReachesTheWholeWindow) {
    Window w(1.0f, 2.0f, 3.0f, 0.0f, std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isinf(w.grad(1, 0)));
    EXPECT_TRUE(std::isnan(w.grad(0, 0)));  // 0 * inf
    EXPECT_TRUE(std::isnan(w.grad(1, 1)));
}

TEST(MaxPool, PositionsPastTheLastWindowCompareWithTheLastCell) {
    // 5 wide, extent 2, stride 2: output 2 wide; column 4 maps to output 1.
    MaxPoolLayer layer(2, 2, Shape{5, 2, 1});
    ASSERT_EQ(layer.output.size_x, 2);
    Tensor in = filled(Shape{5, 2, 1}, 0.0f);
    in(3, 0, 0) = 7.0f;
    in(4, 1, 0) = 7.0f;  // equal to the last window's maximum, outside it
    forward(layer, in);
    backward(layer, tensor_of({1.0f, 10.0f}));
    EXPECT_EQ(layer.output[1], 7.0f);
    EXPECT_EQ(layer.input_grads(3, 0, 0), 10.0f);
    EXPECT_EQ(layer.input_grads(4, 1, 0), 10.0f);
    EXPECT_EQ(layer.input_grads(4, 0, 0), 0.0f);
}

TEST(MaxPool, EachZLayerPoolsOnItsOwn) {
    Tensor in(2, 2, 3);
    for (int32_t i = 0; i < in.count(); i++) in[i] = float(i % 5);
    MaxPoolLayer layer(2, 2, in.shape());
    forward(layer, in);
    EXPECT_EQ(layer.output(0, 0, 0), 3.0f);  // 0 1 2 3
    EXPECT_EQ(layer.output(0, 0, 1), 4.0f);  // 4 0 1 2
    EXPECT_EQ(layer.output(0, 0, 2), 4.0f);  // 3 4 0 1
}

}  // namespace
