// The convolution layer on hand-worked cases. Values are chosen so that
// every sum is exact whatever the order, which lets the expectations be
// worked out independently of the loop order under test.
#include <gtest/gtest.h>

#include "core/random.h"
#include "layers/conv_layer.h"
#include "test_support.h"

using namespace tavelin;
using namespace tavelin::test_util;

namespace {

TEST(Conv, ProgramShapeAndStartWeights) {
    const uint32_t start = rand_state();
    ConvLayer layer(1, 5, 8, Shape{28, 28, 1});
    EXPECT_EQ(layer.kind, LayerKind::Conv);
    EXPECT_EQ(layer.output.size_x, 24);
    EXPECT_EQ(layer.output.size_y, 24);
    EXPECT_EQ(layer.output.size_z, 8);
    EXPECT_EQ(layer.input_grads.count(), 784);
    EXPECT_EQ(layer.input.data, nullptr);
    EXPECT_EQ(layer.input.size_x, 28);
    ASSERT_EQ(layer.filters.size(), 8u);
    ASSERT_EQ(layer.filter_grads.size(), 8u);
    const float limit = 1.0f / 25.0f;
    for (size_t f = 0; f < 8; f++) {
        EXPECT_EQ(layer.filters[f].shape().x, 5);
        EXPECT_EQ(layer.filters[f].shape().z, 1);
        EXPECT_EQ(layer.filter_grads[f].count(), 25);
        for (int32_t i = 0; i < 25; i++) {
            EXPECT_GE(layer.filters[f][i], 0.0f);
            EXPECT_LE(layer.filters[f][i], limit);
            EXPECT_EQ(layer.filter_grads[f][i].value, 0.0f);
            EXPECT_EQ(layer.filter_grads[f][i].carried, 0.0f);
        }
    }

    // Exactly 200 draws, element (x, y) of filter f from draw f*25 + x*5 + y.
    uint32_t end = rand_state();
    set_rand_state(start);
    for (size_t f = 0; f < 8; f++)
        for (int32_t x = 0; x < 5; x++)
            for (int32_t y = 0; y < 5; y++) {
                const float r = float(tavelin::rand());
                EXPECT_EQ(layer.filters[f](x, y, 0), r * limit / 32767.0f);
            }
    EXPECT_EQ(rand_state(), end);
}

TEST(Conv, CoveringCellsTableForTheProgramLayer) {
    ConvLayer layer(1, 5, 8, Shape{28, 28, 1});
    const int32_t table[][3] = {{0, 0, 0},   {1, 0, 1},    {4, 0, 4},    {5, 1, 5},
                                {10, 6, 10}, {23, 19, 23}, {24, 20, 23}, {27, 23, 23}};
    for (const auto& row : table) {
        const CoveringCells w = covering_cells(layer, row[0], row[0]);
        EXPECT_EQ(w.min_x, row[1]) << "input " << row[0];
        EXPECT_EQ(w.max_x, row[2]) << "input " << row[0];
        EXPECT_EQ(w.min_y, row[1]);
        EXPECT_EQ(w.max_y, row[2]);
        EXPECT_EQ(w.min_z, 0);
        EXPECT_EQ(w.max_z, 7);
    }
}

TEST(Conv, ClampCell) {
    EXPECT_EQ(clamp_cell(-3.5f, 10, true), 0);
    EXPECT_EQ(clamp_cell(0.0f, 10, false), 0);
    EXPECT_EQ(clamp_cell(2.25f, 10, true), 3);
    EXPECT_EQ(clamp_cell(2.25f, 10, false), 2);
    EXPECT_EQ(clamp_cell(9.0f, 10, true), 9);
    EXPECT_EQ(clamp_cell(1e30f, 10, false), 9);
    EXPECT_EQ(clamp_cell(std::numeric_limits<float>::infinity(), 10, true), 9);
    EXPECT_EQ(clamp_cell(std::numeric_limits<float>::quiet_NaN(), 10, true), 0);
}

TEST(Conv, ForwardOfOnesWithHalfWeights) {
    ConvLayer layer(1, 5, 3, Shape{9, 7, 1});
    for (Tensor& f : layer.filters)
        for (int32_t i = 0; i < f.count(); i++) f[i] = 0.5f;
    const Tensor in = filled(Shape{9, 7, 1}, 1.0f);
    forward(layer, in);
    ASSERT_EQ(layer.output.count(), 5 * 3 * 3);
    for (int32_t i = 0; i < layer.output.count(); i++) EXPECT_EQ(layer.output[i], 12.5f);
}

TEST(Conv, ForwardPicksTheRightWindowAndFilterElement) {
    // A one-hot filter at (i, j, z) copies the input shifted by (i, j) from
    // layer z; a stride of 2 takes every second window.
    const Shape in_shape{9, 8, 2};
    Tensor in(in_shape);
    for (int32_t i = 0; i < in.count(); i++) in[i] = float(i);
    ConvLayer layer(2, 3, 1, in_shape);
    ASSERT_EQ(layer.output.size_x, 4);
    ASSERT_EQ(layer.output.size_y, 3);
    for (int32_t i = 0; i < layer.filters[0].count(); i++) layer.filters[0][i] = 0.0f;
    layer.filters[0](2, 1, 1) = 1.0f;
    forward(layer, in);
    for (int32_t x = 0; x < 4; x++)
        for (int32_t y = 0; y < 3; y++) EXPECT_EQ(layer.output(x, y, 0), in(2 * x + 2, 2 * y + 1, 1));
}

TEST(Conv, BackwardOfOnesCountsOutputPositions) {
    ConvLayer layer(1, 5, 8, Shape{28, 28, 1});
    // Dyadic weights keep every sum exact.
    for (size_t f = 0; f < 8; f++)
        for (int32_t i = 0; i < 25; i++) layer.filters[f][i] = float(int32_t(f) * 25 + i) / 1024.0f;
    const Tensor in = filled(Shape{28, 28, 1}, 1.0f);
    const Tensor g = filled(layer.output.shape(), 1.0f);
    forward(layer, in);
    backward(layer, g);
    for (const CellTensor& cells : layer.filter_grads)
        for (int32_t i = 0; i < cells.count(); i++) EXPECT_EQ(cells[i].value, 576.0f);

    float corner = 0.0f, all = 0.0f;
    for (const Tensor& f : layer.filters) {
        corner += f(0, 0, 0);
        for (int32_t i = 0; i < f.count(); i++) all += f[i];
    }
    EXPECT_EQ(layer.input_grads(0, 0, 0), corner);
    EXPECT_EQ(layer.input_grads(4, 4, 0), all);
    float far_corner = 0.0f;  // (27, 27) lies only in the last window, at (4, 4)
    for (const Tensor& f : layer.filters) far_corner += f(4, 4, 0);
    EXPECT_EQ(layer.input_grads(27, 27, 0), far_corner);
}

TEST(Conv, SecondBackwardRecomputesCellsAndKeepsCarried) {
    std::mt19937 rng(7);
    ConvLayer layer(1, 3, 2, Shape{6, 6, 2});
    const Tensor in = random_tensor(Shape{6, 6, 2}, rng);
    const Tensor g = random_tensor(layer.output.shape(), rng);
    for (CellTensor& cells : layer.filter_grads)
        for (int32_t i = 0; i < cells.count(); i++) cells[i].carried = float(i);
    forward(layer, in);
    backward(layer, g);
    const CellTensor first(layer.filter_grads[1]);
    backward(layer, g);
    EXPECT_TRUE(same_bits(layer.filter_grads[1], first));
    for (int32_t i = 0; i < first.count(); i++) EXPECT_EQ(first[i].carried, float(i));
}

TEST(Conv, UpdateMovesEveryWeightByItsOwnCell) {
    ConvLayer layer(1, 2, 2, Shape{3, 3, 1});
    for (size_t f = 0; f < 2; f++)
        for (int32_t i = 0; i < 4; i++) {
            layer.filters[f][i] = 1.0f;
            layer.filter_grads[f][i] = GradientCell{f == 0 && i == 0 ? 1.0f : 0.0f, 0.0f};
        }
    apply_gradients(layer);
    EXPECT_EQ(bits_of(layer.filters[0][0]), 0x3f7d6ffcu);  // gradient and decay
    EXPECT_EQ(layer.filter_grads[0][0].carried, 1.0f);
    EXPECT_EQ(layer.filter_grads[0][0].value, 1.0f);
    for (size_t f = 0; f < 2; f++)
        for (int32_t i = (f == 0 ? 1 : 0); i < 4; i++) {
            EXPECT_EQ(bits_of(layer.filters[f][i]), 0x3f7fff58u);  // decay alone
            EXPECT_EQ(layer.filter_grads[f][i].carried, 0.0f);
        }
}

TEST(Conv, StrideThatDoesNotDivideTheInputStaysInsideTheFilters) {
    // Input 8 wide, extent 3, stride 2: output 3 wide; input column 7 lies
    // past the last window and must get no gradient.
    std::mt19937 rng(8);
    ConvLayer layer(2, 3, 2, Shape{8, 8, 1});
    ASSERT_EQ(layer.output.size_x, 3);
    const Tensor in = random_tensor(Shape{8, 8, 1}, rng);
    const Tensor g = random_tensor(layer.output.shape(), rng);
    forward(layer, in);
    backward(layer, g);
    for (int32_t y = 0; y < 8; y++) {
        EXPECT_EQ(layer.input_grads(7, y, 0), 0.0f);
        EXPECT_EQ(layer.input_grads(y, 7, 0), 0.0f);
    }
}

}  // namespace
