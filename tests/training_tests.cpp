// The training loop's bookkeeping, the step error, and recognition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "core/random.h"
#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "test_files.h"
#include "synthetic_images.h"
#include "test_support.h"
#include "training/network.h"
#include "training/recognize.h"

using namespace tavelin;
using namespace tavelin::test_util;

namespace {

// The tests' layers, released when the test program ends. (The program's
// own layers are never released; these are, so that the leak checker of
// the sanitizer build reports nothing for them.)
DenseLayer* new_dense_layer(Shape input_shape, int32_t outputs) {
    static std::vector<std::unique_ptr<DenseLayer>> layers;
    layers.push_back(std::make_unique<DenseLayer>(input_shape, outputs));
    return layers.back().get();
}

// A network of one dense layer on a 1 x 1 x 1 input: cheap enough to run
// the full 100000-step schedule in a test.
Network tiny_network() {
    Network net;
    net.push_back(new_dense_layer(Shape{1, 1, 1}, 10));
    return net;
}

std::vector<Sample> tiny_samples(int32_t count) {
    std::vector<Sample> samples;
    for (int32_t k = 0; k < count; k++) {
        Sample s{Tensor(1, 1, 1), Tensor(10, 1, 1)};
        s.image[0] = float(k % 7) / 7.0f;
        for (int32_t j = 0; j < 10; j++) s.target[j] = j == k % 10 ? 1.0f : 0.0f;
        samples.push_back(std::move(s));
    }
    return samples;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(Training, WholePassesAndAProgressLineEveryThousandSteps) {
    const std::vector<Sample> samples = tiny_samples(999);
    const uint32_t start = rand_state();
    Network net = tiny_network();
    ::testing::internal::CaptureStdout();
    const int32_t steps = train_on_samples(net, samples, 100000);
    const std::vector<std::string> lines = lines_of(::testing::internal::GetCapturedStdout());
    EXPECT_EQ(steps, 101 * 999);  // 100 passes stay below the bound
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines.front().rfind("case 1000 err=", 0), 0u) << lines.front();
    EXPECT_EQ(lines.back().rfind("case 100000 err=", 0), 0u) << lines.back();

    // The second line averages all 2000 steps so far, not the last 1000.
    set_rand_state(start);
    Network replay = tiny_network();
    float total = 0.0f, first_half = 0.0f;
    for (int32_t step = 0; step < 2000; step++) {
        const Sample& s = samples[size_t(step % 999)];
        total = total + train_step(replay, s.image, s.target);
        if (step == 999) first_half = total;
    }
    char expected[64], last_thousand[64];
    std::snprintf(expected, sizeof expected, "case 2000 err=%f", double(total / 2000.0f));
    std::snprintf(last_thousand, sizeof last_thousand, "case 2000 err=%f",
                  double((total - first_half) / 1000.0f));
    EXPECT_EQ(lines[1], expected);
    EXPECT_NE(lines[1], last_thousand);
}

TEST(Training, EndsAtTheEndOfAPass) {
    const std::vector<Sample> samples = tiny_samples(300);
    Network net = tiny_network();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(train_on_samples(net, samples, 1000), 1200);
    EXPECT_EQ(lines_of(::testing::internal::GetCapturedStdout()).size(), 1u);
    Network other = tiny_network();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(train_on_samples(other, samples, 900), 900);
    EXPECT_TRUE(::testing::internal::GetCapturedStdout().empty());
}

TEST(Training, StepErrorCountsOnlyTargetsAboveOneHalf) {
    Network net = tiny_network();
    auto* dense = static_cast<DenseLayer*>(net[0]);
    for (int32_t o = 0; o < 10; o++) dense->weights[o] = -200.0f;  // outputs 0
    dense->weights[0] = 0.0f;    // output 0.5
    dense->weights[1] = 200.0f;  // output 1.0
    Tensor image(1, 1, 1);
    image[0] = 1.0f;
    Tensor target(10, 1, 1);
    target[0] = 1.0f;  // counts: |0.5 - 1|
    target[1] = 0.5f;  // exactly one half: does not count, though |1 - 0.5| = 0.5
    target[2] = 0.25f;
    EXPECT_EQ(train_step(net, image, target), 50.0f);
}

TEST(Training, NoSamplesLeavesTheNetworkEmpty) {
    const std::string dir = make_temp_dir();
    Network net;
    TrainingConfig config;
    config.image_path = dir + "/missing-images";
    config.label_path = dir + "/missing-labels";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(train_network(net, config), 0);
    const std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(net.empty());
    EXPECT_NE(message.find(config.image_path), std::string::npos) << message;
    remove_tree(dir);
}

TEST(Training, BuildsTheProgramNetwork) {
    Network net;
    build_network(net, Shape{28, 28, 1});
    ASSERT_EQ(net.size(), 4u);
    EXPECT_EQ(net[0]->kind, LayerKind::Conv);
    EXPECT_EQ(net[1]->kind, LayerKind::Relu);
    EXPECT_EQ(net[2]->kind, LayerKind::MaxPool);
    EXPECT_EQ(net[3]->kind, LayerKind::Dense);
    EXPECT_EQ(net[1]->input_grads.count(), 24 * 24 * 8);
    EXPECT_EQ(net[3]->input_grads.count(), 12 * 12 * 8);
    EXPECT_EQ(net[3]->output.count(), 10);
    build_network(net, Shape{28, 28, 1});  // appends, does not clear
    EXPECT_EQ(net.size(), 8u);
}

// Ten clearly different patterns: digit d is a bright bar at rows 2d..2d+3
// plus a column at 2d + 4, with a little per-sample noise.
uint8_t bar_pixel(int32_t k, int32_t r, int32_t c) {
    const int32_t d = k % 10;
    const bool ink = (r >= 2 * d && r < 2 * d + 4) || c == 2 * d + 4;
    return ink ? uint8_t(200 + (k * 7 + r + c) % 56) : uint8_t((k + r * c) % 3);
}

TEST(Recognition, LearnsTenDistinctPatterns) {
    const std::string dir = make_temp_dir();
    std::vector<uint8_t> labels;
    for (int32_t k = 0; k < 200; k++) labels.push_back(uint8_t(k % 10));
    write_file(dir + "/images", idx_images(200, 200, bar_pixel));
    write_file(dir + "/labels", idx_labels(200, labels));
    Network net;
    TrainingConfig config{dir + "/images", dir + "/labels", 2000};
    ::testing::internal::CaptureStdout();
    train_network(net, config);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(net.size(), 4u);

    // Unseen samples of each pattern (k >= 200 gives new noise).
    for (int32_t d = 0; d < 10; d++) {
        uint8_t pixels[784];
        for (int32_t r = 0; r < 28; r++)
            for (int32_t c = 0; c < 28; c++) pixels[28 * r + c] = bar_pixel(1000 + d, r, c);
        EXPECT_EQ(recognize(net, pixels), d);
        EXPECT_GT(confidences[d], 50.0f);
    }
    remove_tree(dir);
}

TEST(Recognition, SeesBytesAsTheTrainingImagesWere) {
    const std::string dir = make_temp_dir();
    write_training_set(dir, 20);
    std::vector<Sample> samples =
        load_samples((dir + "/train-images.idx3-ubyte").c_str(), (dir + "/train-labels.idx1-ubyte").c_str());
    ASSERT_EQ(samples.size(), 20u);
    Network net;
    build_network(net, samples[0].image.shape());
    ::testing::internal::CaptureStdout();
    train_on_samples(net, samples, 200);
    ::testing::internal::GetCapturedStdout();

    uint8_t pixels[784];
    for (int32_t r = 0; r < 28; r++)
        for (int32_t c = 0; c < 28; c++) pixels[28 * r + c] = pattern_pixel(5, r, c);
    recognize(net, pixels);
    run_forward(net, samples[5].image);
    const Tensor& out = net.back()->output;
    bool all_saturated = true;
    for (int32_t k = 0; k < 10; k++) {
        EXPECT_EQ(bits_of(confidences[k]), bits_of(out[k] * 100.0f)) << k;
        if (confidences[k] != 0.0f && confidences[k] != 100.0f) all_saturated = false;
    }
    EXPECT_FALSE(all_saturated);
    remove_tree(dir);
}

// A network of one dense layer over the 784 pixels whose weights are set
// by the test: neuron o's output is sigmoid(bias_o * sum of pixels / 255).
Network fixed_network(const float (&scale)[10]) {
    Network net;
    auto* dense = new_dense_layer(Shape{28, 28, 1}, 10);
    for (int32_t o = 0; o < 10; o++)
        for (int32_t m = 0; m < 784; m++) dense->weights(m, o, 0) = scale[o];
    net.push_back(dense);
    return net;
}

TEST(Recognition, TiesGoToTheLowerDigit) {
    const float scale[10] = {-9, -9, -9, 9, -9, -9, -9, 9, -9, -9};
    Network net = fixed_network(scale);
    uint8_t pixels[784];
    std::fill(pixels, pixels + 784, 255);
    EXPECT_EQ(recognize(net, pixels), 3);  // 3 and 7 both at exactly 100.0
    EXPECT_EQ(confidences[3], 100.0f);
    EXPECT_EQ(confidences[7], 100.0f);
}

TEST(Recognition, NothingAboveTheThresholdGivesMinusOne) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float all_zero[10] = {-9, -9, -9, -9, -9, -9, -9, -9, -9, -9};
    const float all_nan[10] = {nan, nan, nan, nan, nan, nan, nan, nan, nan, nan};
    uint8_t pixels[784];
    std::fill(pixels, pixels + 784, 255);
    Network zeros = fixed_network(all_zero);
    EXPECT_EQ(recognize(zeros, pixels), -1);
    for (float c : confidences) EXPECT_EQ(c, 0.0f);
    Network nans = fixed_network(all_nan);
    EXPECT_EQ(recognize(nans, pixels), -1);
    for (float c : confidences) EXPECT_TRUE(std::isnan(c));
}

TEST(Recognition, AFullInkPixelEntersAsOne) {
    // Neuron 0's weight on pixel 0 alone is 1: its sum is the pixel's value.
    Network net;
    auto* dense = new_dense_layer(Shape{28, 28, 1}, 10);
    for (int32_t i = 0; i < dense->weights.count(); i++) dense->weights[i] = 0.0f;
    dense->weights(0, 0, 0) = 1.0f;
    net.push_back(dense);
    uint8_t pixels[784] = {255};
    recognize(net, pixels);
    EXPECT_EQ(dense->sums[0], 1.0f);
    EXPECT_EQ(confidences[0], sigmoid(1.0f) * 100.0f);
}

TEST(Recognition, EmptyNetworkGivesMinusOneAndKeepsConfidences) {
    for (int32_t k = 0; k < 10; k++) confidences[k] = float(k);
    Network empty;
    uint8_t pixels[784] = {};
    EXPECT_EQ(recognize(empty, pixels), -1);
    for (int32_t k = 0; k < 10; k++) EXPECT_EQ(confidences[k], float(k));
}

}  // namespace

namespace {

// Every learned weight of the program's network, as bits.
std::vector<uint32_t> weight_bits(const Network& net) {
    std::vector<float> weights;
    for (const Tensor& f : static_cast<const ConvLayer*>(net[0])->filters) weights.insert(weights.end(), f.data, f.data + f.count());
    const Tensor& dense = static_cast<const DenseLayer*>(net[3])->weights;
    weights.insert(weights.end(), dense.data, dense.data + dense.count());
    std::vector<uint32_t> bits(weights.size());
    std::memcpy(bits.data(), weights.data(), bits.size() * sizeof(float));
    return bits;
}

}  // namespace

// A run cut into slices of any length, with a recognition between slices
// (the explorer answers drawings while it trains), takes the steps of the
// run in one go: the same progress lines and the same weight bits.
TEST(Training, SlicedRunGivesTheBitsOfTheRunInOneGo) {
    const std::vector<Sample> samples = synthetic_samples(300, 7);
    const uint32_t start = rand_state();
    Network whole;
    build_network(whole, samples[0].image.shape());
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(train_on_samples(whole, samples, 2500), 2700);
    const std::string whole_lines = ::testing::internal::GetCapturedStdout();

    uint8_t drawing[image_bytes];
    for (int32_t i = 0; i < image_bytes; i++) drawing[i] = uint8_t(i * 37);
    for (int32_t slice : {1, 7, 1000, 5000}) {
        set_rand_state(start);
        Network sliced;
        build_network(sliced, samples[0].image.shape());
        TrainingRun run = plan_training(samples, 2500);
        ::testing::internal::CaptureStdout();
        while (!training_done(run)) {
            const int32_t before = run.steps;
            EXPECT_EQ(advance_training(run, sliced, slice), std::min(slice, 2700 - before));
            recognize(sliced, drawing);
        }
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), whole_lines) << "slices of " << slice;
        EXPECT_EQ(run.steps, 2700);
        EXPECT_EQ(run.progress.size(), 2u);
        EXPECT_TRUE(weight_bits(sliced) == weight_bits(whole)) << "slices of " << slice;
    }
}
