// The program's network trained for 2000 steps on synthetic images twice
// from the same start weights: once with the passes its layers were given
// (as one chain, as the program runs it, and layer by layer), once with
// their plain twins. Every step's error and, after every step, every
// layer's outputs, gradients, weights and cells must have the same bits
// (but the maps a chain keeps to itself), and so must a recognition's.
// Then figures recorded from an earlier build.
#include <gtest/gtest.h>

#include "child_process.h"

#include <cstdlib>
#include <limits>
#include <string>

#include "core/random.h"
#include "layers/chain.h"
#include "layers/kernels.h"
#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/maxpool_layer.h"
#include "tests/oracle/layer_state.h"
#include "synthetic_images.h"
#include "training/network.h"
#include "training/recognize.h"

using namespace tavelin;
using namespace tavelin::oracle;

namespace {

// The level in use is the best this CPU runs, unless TAVELIN_ISA names
// another it runs (ctest runs these tests once per level); for a name that
// is no level, the best, and the message names the one used. The level is
// chosen once per process, so each case runs in a child (ctest starts every
// test in a process of its own, where nothing has chosen yet).
TEST(Levels, TheLevelInUseIsTheOneAskedForElseTheBest) {
    const std::string best = runnable_kernels().front()->level;
    struct Case {
        std::string isa;  // "-": unset
        std::string want, says;
    };
    std::vector<Case> cases = {{"-", best, ""}, {"", best, ""}, {"avx9000", best, "; using " + best + "\n"}};
    if (const char* wanted = std::getenv("TAVELIN_ISA")) {
        bool runnable = false;
        for (const LayerKernels* k : runnable_kernels()) runnable = runnable || std::string(k->level) == wanted;
        if (runnable) cases.push_back({wanted, wanted, ""});
    }
    for (const Case& c : cases) {
        const test_util::ChildRun r = test_util::run_in_child([&] {
            if (c.isa == "-") unsetenv("TAVELIN_ISA");
            else setenv("TAVELIN_ISA", c.isa.c_str(), 1);
            return std::string(chosen_kernels().level) == c.want ? 0 : 1;
        });
        EXPECT_EQ(r.status, 0) << "TAVELIN_ISA=" << c.isa << ": not " << c.want << "; " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << "TAVELIN_ISA=" << c.isa << ": " << r.err;
    }
}

// Whether a step of `network` leaves the maps inside its chain unwritten.
Maps maps_of(const Network& network) {
    const LayerKernels* chain = network[0]->chain;
    return chain != nullptr && chain->chain_leaves_maps ? Maps::Unwritten : Maps::Written;
}

TEST(OracleTraining, TwoThousandStepsOfTheProgramsNetworkMatchBitForBit) {
    const std::vector<Sample> samples = test_util::synthetic_samples(400, 2024u);
    const bool plain_level = &chosen_kernels() == &plain_kernels();
    for (const bool chained : {true, false}) {
        SCOPED_TRACE(chained ? "as one chain" : "layer by layer");
        Network fast;
        Network plain;
        set_rand_state(rand_initial_state);
        build_network(fast, samples[0].image.shape());
        if (!chained) use_chain(fast.data(), 1);  // a single layer is no chain: the four run one by one
        set_rand_state(rand_initial_state);
        build_network(plain, samples[0].image.shape());
        for (Layer* layer : plain) use_kernels(*layer, plain_kernels());
        ASSERT_EQ(fast.size(), 4u);
        // Every level has the chain; the plain twins have none.
        EXPECT_EQ(fast[0]->chain != nullptr, chained && !plain_level);
        EXPECT_EQ(plain[0]->chain, nullptr);

        for (int32_t step = 0; step < 2000; step++) {
            const Sample& s = samples[size_t(step) % samples.size()];
            // The chain keeps the dense weights laid out between steps: a
            // weight set by hand, and steps run layer by layer between two
            // of its own, must both reach its next forward sums.
            if (step == 700)
                for (Network* n : {&fast, &plain}) {
                    static_cast<DenseLayer*>((*n)[3])->weights[77] = 0.5f;
                    weights_changed(*static_cast<DenseLayer*>((*n)[3]));
                }
            if (chained && (step == 900 || step == 950)) use_chain(fast.data(), step == 900 ? 1 : fast.size());
            const Maps maps = maps_of(fast);
            const float fast_error = train_step(fast, s.image, s.target);
            const float plain_error = train_step(plain, s.image, s.target);
            ASSERT_EQ(float_bits(fast_error), float_bits(plain_error)) << "error of step " << step;
            for (size_t i = 0; i < fast.size(); i++)
                ASSERT_TRUE(same_layer_state(*fast[i], *plain[i], NaNs::Exact, maps))
                    << "layer " << i << " after step " << step;
            // A recognition between steps, as the explorer runs one while
            // it trains: it writes every layer's output, the maps a chain
            // keeps to itself too, and the next step must not notice it.
            if (step % 250 == 125) {
                const Tensor& image = samples[size_t(step + 7) % samples.size()].image;
                run_forward(fast, image);
                run_forward(plain, image);
                for (size_t i = 0; i < fast.size(); i++)
                    ASSERT_TRUE(same_tensor("output", fast[i]->output, plain[i]->output, NaNs::Exact))
                        << "layer " << i << " recognising after step " << step;
            }
        }
    }
}

// The chain is chosen for the program's network only, and only while its
// four layers keep the level they were built with.
TEST(Chain, IsChosenForTheProgramsNetworkAlone) {
    if (&chosen_kernels() == &plain_kernels()) GTEST_SKIP() << "the plain twins have no chain";
    const Shape image{28, 28, 1};
    struct Case {
        const char* what;
        bool chained;
        void (*change)(Network&);
    };
    const Case cases[] = {
        {"the program's network", true, [](Network&) {}},
        {"a dense layer of 12", false,
         [](Network& n) {
             static DenseLayer dense_12(n[2]->output.shape(), 12);
             n[3] = &dense_12;
         }},
        {"three layers", false, [](Network& n) { n.pop_back(); }},
        {"input gradients read", false, [](Network& n) { static_cast<ConvLayer*>(n[0])->input_grads_read = true; }},
        {"pooling 3 x 3", false,
         [](Network& n) {
             static MaxPoolLayer pooling_3(3, 3, n[1]->output.shape());
             n[2] = &pooling_3;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Network network;
        build_network(network, image);
        c.change(network);
        use_chain(network.data(), network.size());
        EXPECT_EQ(forward_chain(network.data(), network.size(), Tensor(image)), c.chained);
    }
    // A level given to one layer afterwards ends the chain.
    Network network;
    build_network(network, image);
    use_kernels(*network[3], plain_kernels());
    EXPECT_FALSE(forward_chain(network.data(), network.size(), Tensor(image)));
}

// Images with infinite and NaN pixels: NaN reaches the weights within a
// few steps, through every pass of the chain; any NaN matches any NaN.
TEST(OracleTraining, NonFiniteImagesGiveThePlainLoopsValues) {
    std::vector<Sample> samples = test_util::synthetic_samples(20, 99u);
    const float non_finite[] = {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN()};
    for (size_t k = 0; k < samples.size(); k += 4) samples[k].image[int32_t(29 * (k / 4))] = non_finite[k / 4 % 3];
    Network fast;
    Network plain;
    set_rand_state(rand_initial_state);
    build_network(fast, samples[0].image.shape());
    set_rand_state(rand_initial_state);
    build_network(plain, samples[0].image.shape());
    for (Layer* layer : plain) use_kernels(*layer, plain_kernels());
    for (int32_t step = 0; step < 40; step++) {
        const Sample& s = samples[size_t(step) % samples.size()];
        const float fast_error = train_step(fast, s.image, s.target);
        const float plain_error = train_step(plain, s.image, s.target);
        ASSERT_TRUE(same_float(fast_error, plain_error, NaNs::AnyNaN)) << "error of step " << step;
        for (size_t i = 0; i < fast.size(); i++)
            ASSERT_TRUE(same_layer_state(*fast[i], *plain[i], NaNs::AnyNaN, maps_of(fast)))
                << "layer " << i << " after step " << step;
    }
}

// Figures recorded from the build before the layers' arithmetic was last
// reorganised: a change to the arithmetic fails here even when the fast and
// the plain passes change together. 5000 steps on 500 synthetic images:
// the progress lines, a hash of every weight's bits, and the recognition of
// the first images (digit and confidence bits).
TEST(GoldenFigures, FiveThousandStepsGiveTheRecordedProgressWeightsAndRecognitions) {
    // Labelled by the quadrant that holds the most ink, so that the network
    // learns something and its recognitions differ.
    std::vector<Sample> samples = test_util::synthetic_samples(500, 7u);
    for (Sample& s : samples) {
        float ink[4] = {};
        for (int32_t y = 0; y < image_side; y++)
            for (int32_t x = 0; x < image_side; x++) ink[(y / 14) * 2 + x / 14] += s.image(x, y, 0);
        int32_t label = 0;
        for (int32_t q = 1; q < 4; q++)
            if (ink[q] > ink[label]) label = q;
        for (int32_t j = 0; j < digit_count; j++) s.target[j] = j == label ? 1.0f : 0.0f;
    }
    Network network;
    set_rand_state(rand_initial_state);
    build_network(network, samples[0].image.shape());
    testing::internal::CaptureStdout();
    EXPECT_EQ(train_on_samples(network, samples, 5000), 5000);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), 
              "case 1000 err=44.474384\ncase 2000 err=38.616798\ncase 3000 err=35.812149\n"
              "case 4000 err=34.078602\ncase 5000 err=32.858749\n");

    // FNV-1a over the weights' bits: the filters in order, then the dense
    // weights in storage order.
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](const Tensor& t) {
        for (int32_t i = 0; i < t.count(); i++) {
            const uint32_t bits = float_bits(t.data[i]);
            for (int b = 0; b < 32; b += 8) hash = (hash ^ ((bits >> b) & 0xFFu)) * 1099511628211ull;
        }
    };
    for (const Tensor& filter : static_cast<ConvLayer*>(network[0])->filters) mix(filter);
    mix(static_cast<DenseLayer*>(network[3])->weights);
    EXPECT_EQ(hash, 17754783798421109384ull);

    std::string recognitions;
    for (size_t k = 0; k < 8; k++) {
        uint8_t pixels[image_bytes];
        for (int32_t i = 0; i < image_bytes; i++) pixels[i] = uint8_t(samples[k].image.data[i] * 255.0f + 0.5f);
        const int32_t digit = recognize(network, pixels);
        char line[64];
        std::snprintf(line, sizeof line, "%d %08x\n", int(digit), unsigned(float_bits(confidences[digit < 0 ? 0 : digit])));
        recognitions += line;
    }
    EXPECT_EQ(recognitions,
              "2 42963539\n2 42c4e9be\n2 4282001b\n0 42c7b412\n2 42823250\n1 420dc123\n1 42a53b0b\n1 42c3696b\n");
}

}  // namespace
