// Tensor layout and ownership, the update rule bit for bit, and the
// generator's fixed sequence. Expected bit patterns were worked out
// independently, one correctly rounded single-precision operation at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "core/random.h"
#include "core/tensor.h"

using namespace tavelin;

namespace {

TEST(Tensor, FlatPositionsFollowXThenYThenZ) {
    Tensor image(28, 28, 1);
    EXPECT_EQ(&image(27, 0, 0) - image.data, 27);
    EXPECT_EQ(&image(0, 1, 0) - image.data, 28);
    EXPECT_EQ(&image(27, 27, 0) - image.data, 783);

    Tensor maps(24, 24, 8);
    EXPECT_EQ(&maps(0, 0, 1) - maps.data, 576);
    EXPECT_EQ(&maps(23, 23, 7) - maps.data, 24 * 24 * 8 - 1);
    EXPECT_EQ(maps.count(), 4608);
}

TEST(Tensor, CopyIsDeepAndOutlivesItsSource) {
    auto* source = new Tensor(3, 2, 2);
    for (int32_t i = 0; i < source->count(); i++) (*source)[i] = float(i);
    Tensor copy(*source);
    ASSERT_NE(copy.data, source->data);
    EXPECT_EQ(copy.size_x, 3);
    EXPECT_EQ(copy.size_y, 2);
    EXPECT_EQ(copy.size_z, 2);
    copy(1, 1, 1) = -5.0f;
    EXPECT_EQ((*source)(1, 1, 1), 10.0f);
    delete source;
    for (int32_t i = 0; i < copy.count(); i++)
        if (i != 10) {
            EXPECT_EQ(copy[i], float(i));
        }

    Tensor assigned(1, 1, 1);
    assigned = copy;
    EXPECT_EQ(assigned.count(), 12);
    EXPECT_EQ(assigned(1, 1, 1), -5.0f);
    EXPECT_NE(assigned.data, copy.data);
}

TEST(Tensor, ListsHoldTheirOwnCopies) {
    std::vector<Tensor> list;
    for (int k = 0; k < 100; k++) {  // enough to make the list move its elements
        Tensor t(2, 1, 1);
        t[0] = float(k);
        t[1] = float(-k);
        list.push_back(t);
        t[0] = 1000.0f;
    }
    for (int k = 0; k < 100; k++) {
        EXPECT_EQ(list[size_t(k)][0], float(k));
        EXPECT_EQ(list[size_t(k)][1], float(-k));
        EXPECT_EQ(list[size_t(k)].size_x, 2);
    }
}

TEST(Tensor, EmptyTensorsCopyAsEmpty) {
    Tensor empty(0, 5, 5);
    Tensor copy(empty);
    EXPECT_EQ(copy.count(), 0);
    EXPECT_EQ(copy.size_x, 0);
    EXPECT_EQ(copy.size_y, 5);
    EXPECT_EQ(copy.size_z, 5);
}

TEST(Tensor, ImpossibleSizesFailLikeAnExhaustedHeap) {
    EXPECT_THROW(Tensor(-1, 1, 1), std::bad_alloc);
    EXPECT_THROW(Tensor(2, -3, 1), std::bad_alloc);
    EXPECT_THROW(Tensor(65536, 65536, 1), std::bad_alloc);  // count overflows 32 bits
    EXPECT_THROW(Tensor(1 << 15, 1 << 15, 1), std::bad_alloc);  // bytes overflow 32 bits
    EXPECT_THROW(CellTensor(1 << 29, 1, 1), std::bad_alloc);
}

TEST(Tensor, CellsStartAtZero) {
    CellTensor cells(5, 5, 2);
    for (int32_t i = 0; i < cells.count(); i++) {
        EXPECT_EQ(cells[i].value, 0.0f);
        EXPECT_EQ(cells[i].carried, 0.0f);
    }
}

TEST(Tensor, DifferenceSubtractsElementwiseIntoANewTensor) {
    Tensor a(3, 1, 1), b(3, 1, 1);
    a[0] = 1.0f, a[1] = 2.0f, a[2] = 3.0f;
    b[0] = 0.5f, b[1] = 2.0f, b[2] = 4.0f;
    Tensor d = difference(a, b);
    EXPECT_EQ(d.size_x, 3);
    EXPECT_EQ(d[0], 0.5f);
    EXPECT_EQ(d[1], 0.0f);
    EXPECT_EQ(d[2], -1.0f);
    EXPECT_EQ(a[0], 1.0f);
    EXPECT_EQ(b[2], 4.0f);
    EXPECT_NE(d.data, a.data);
}

TEST(TensorView, SeesLaterChangesAndNeverOwns) {
    Tensor t(4, 1, 1);
    TensorView view = unset_view(Shape{4, 1, 1});
    EXPECT_EQ(view.data, nullptr);
    EXPECT_EQ(view.size_x, 4);
    set_view(view, t);
    t[2] = 7.5f;
    EXPECT_EQ(view[2], 7.5f);
    EXPECT_EQ(view.data, t.data);
    // Re-pointing the view frees nothing: t stays usable (ASan would object).
    Tensor other(2, 2, 1);
    set_view(view, other);
    EXPECT_EQ(view.size_y, 2);
    t[3] = 1.0f;
    EXPECT_EQ(t[3], 1.0f);
}

TEST(UpdateRule, ConstantsAreTheExactBitPatterns) {
    EXPECT_EQ(bits_of(momentum), 0x3F19999Au);
    EXPECT_EQ(bits_of(learning_rate), 0x3C23D70Au);
    EXPECT_EQ(bits_of(weight_decay), 0x3727C5ADu);
}

struct UpdateCase {
    float w, value, carried, m;
    uint32_t new_weight, new_carried;
};

TEST(UpdateRule, WorkedCasesMatchBitForBit) {
    const UpdateCase cases[] = {
        {1.0f, 1.0f, 0.0f, 1.0f, 0x3f7d6ffc, 0x3f800000},   // 1 - (0.01 + 0.00001)
        {0.5f, 0.25f, 1.0f, 1.0f, 0x3efba53c, 0x3f59999a},  // momentum carries 1.0
        {1.0f, 0.0f, 0.0f, 1.0f, 0x3f7fff58, 0x00000000},   // decay alone
        {0.0f, 1.0f, 0.0f, 1.0f, 0xbc23d70a, 0x3f800000},   // -0.01
        {1.0f, 1.0f, 0.0f, 0.5f, 0x3f7eb7aa, 0x3f800000},   // dense, input 0.5
        {1.0f, 1.0f, 0.0f, 0.0f, 0x3f7fff58, 0x3f800000},   // dense, input 0: decay alone
    };
    for (const UpdateCase& c : cases) {
        const GradientCell cell{c.value, c.carried};
        EXPECT_EQ(bits_of(update_weight(c.w, cell, c.m)), c.new_weight)
            << "w=" << c.w << " value=" << c.value << " carried=" << c.carried << " m=" << c.m;
        EXPECT_EQ(bits_of(carry_gradient(cell)), c.new_carried);
    }
}

TEST(UpdateRule, TwoStepsOnOneWeight) {
    GradientCell cell{1.0f, 0.0f};
    float w = update_weight(1.0f, cell, 1.0f);
    cell.carried = carry_gradient(cell);
    EXPECT_EQ(bits_of(w), 0x3f7d6ffcu);
    EXPECT_EQ(cell.carried, 1.0f);
    cell.value = 0.0f;
    w = update_weight(w, cell, 1.0f);
    cell.carried = carry_gradient(cell);
    EXPECT_EQ(bits_of(w), 0x3f7be61fu);
    EXPECT_EQ(bits_of(cell.carried), 0x3f19999au);  // 0.6 in single precision
}

TEST(Random, FixedSequenceFromTheStart) {
    const uint32_t saved = rand_state();
    set_rand_state(rand_initial_state);
    EXPECT_EQ(tavelin::rand(), 41);
    EXPECT_EQ(tavelin::rand(), 18467);
    EXPECT_EQ(tavelin::rand(), 6334);
    EXPECT_EQ(tavelin::rand(), 26500);
    int32_t lowest = rand_max, highest = 0;
    for (int i = 0; i < 100000; i++) {
        const int32_t r = tavelin::rand();
        lowest = std::min(lowest, r);
        highest = std::max(highest, r);
    }
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, rand_max);
    set_rand_state(saved);
}

}  // namespace
