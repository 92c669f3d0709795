// The program's network trained for 2000 steps on synthetic images twice
// from the same start weights: once with train_step and the layers as
// built, once with the plain reference loops. Every step's error and, after
// every step, every layer's outputs, gradients, weights and cells must have
// the same bits.
#include <gtest/gtest.h>

#include <string>

#include "core/random.h"
#include "tests/oracle/layer_state.h"
#include "tests/oracle/synthetic_images.h"
#include "training/network.h"

using namespace tavelin;
using namespace tavelin::oracle;

namespace {

TEST(OracleTraining, TwoThousandStepsOfTheProgramsNetworkMatchBitForBit) {
    const std::vector<Sample> samples = synthetic_samples(400, 2024u);
    Network fast;
    Network plain;
    set_rand_state(rand_initial_state);
    build_network(fast, samples[0].image.shape());
    set_rand_state(rand_initial_state);
    build_network(plain, samples[0].image.shape());
    ASSERT_EQ(fast.size(), 4u);

    for (int32_t step = 0; step < 2000; step++) {
        const Sample& s = samples[size_t(step) % samples.size()];
        const float fast_error = train_step(fast, s.image, s.target);
        const float plain_error = reference_train_step(plain, s.image, s.target);
        ASSERT_EQ(float_bits(fast_error), float_bits(plain_error)) << "error of step " << step;
        for (size_t i = 0; i < fast.size(); i++)
            ASSERT_TRUE(same_layer_state(*fast[i], *plain[i])) << "layer " << i << " after step " << step;
    }
}

}  // namespace
