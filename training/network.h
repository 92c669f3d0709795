// The network: four layers built once, trained one sample at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/tensor.h"
#include "layers/layer.h"
#include "training/samples.h"

namespace tavelin {

// Input side first. The layers are never destroyed.
using Network = std::vector<Layer*>;

// How many steps training takes at least, in whole passes over the samples.
constexpr int32_t default_min_steps = 100000;

struct TrainingConfig {
    std::string image_path = default_image_path;
    std::string label_path = default_label_path;
    // Whole passes over the samples until at least this many steps.
    int32_t min_steps = default_min_steps;
};

// conv 5x5x8 stride 1 -> relu -> maxpool 2x2 stride 2 -> dense 10, appended
// to `network` (which is not cleared first). A training step runs them as
// one chain (layers/chain.h) when the network holds just these four.
void build_network(Network& network, Shape input_shape);

// One forward, backward and update pass; returns 100 * sum of |output -
// target| over the elements whose target is above 0.5.
float train_step(Network& network, const Tensor& image, const Tensor& target);

// Trains on `samples` in file order, whole passes until at least min_steps,
// printing "case %d err=%f" every 1000 steps. Returns the number of steps.
int32_t train_on_samples(Network& network, const std::vector<Sample>& samples, int32_t min_steps);

// Loads the training set, builds the network and trains it. With no
// samples it says so on standard error and leaves the network empty.
// Returns 0.
int train_network(Network& network, const TrainingConfig& config = {});

}  // namespace tavelin
