// The layers' operations allocate nothing: every buffer they use, their
// working space included, exists from construction on. A training step
// allocates only its error tensor. Counted by replacing the global
// operator new of this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "core/random.h"
#include "synthetic_images.h"
#include "training/network.h"

namespace {
std::atomic<long> allocations{0};

void* counted_allocation(std::size_t size, std::size_t alignment) {
    allocations++;
    const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
    void* p = alignment > alignof(std::max_align_t) ? std::aligned_alloc(alignment, rounded ? rounded : alignment)
                                                     : std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
}  // namespace

void* operator new(std::size_t size) { return counted_allocation(size, alignof(std::max_align_t)); }
void* operator new(std::size_t size, std::align_val_t a) { return counted_allocation(size, std::size_t(a)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

using namespace tavelin;

namespace {

TEST(Allocations, LayerOperationsAllocateNothingAndAStepOnlyItsErrorTensor) {
    const std::vector<Sample> samples = test_util::synthetic_samples(8, 11u);
    Network network;
    build_network(network, samples[0].image.shape());
    train_step(network, samples[0].image, samples[0].target);

    const long before_layers = allocations.load();
    for (const Sample& s : samples) {
        for (size_t i = 0; i < network.size(); i++)
            forward(*network[i], i == 0 ? s.image : network[i - 1]->output);
        for (size_t i = network.size(); i-- > 0;)
            backward(*network[i], i + 1 == network.size() ? s.target : network[i + 1]->input_grads);
        for (Layer* layer : network) apply_gradients(*layer);
    }
    EXPECT_EQ(allocations.load() - before_layers, 0);

    const long before_steps = allocations.load();
    for (const Sample& s : samples) train_step(network, s.image, s.target);
    EXPECT_EQ(allocations.load() - before_steps, long(samples.size()));
}

}  // namespace
