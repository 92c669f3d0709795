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

// Training on a set of samples, cut into slices that can be run one after
// the other: a window trains between its repaints this way. However it is
// cut, the steps, their order, the progress lines and so every weight are
// those of training in one go.
struct TrainingRun {
    const std::vector<Sample>* samples = nullptr;  // not owned; outlives the run
    // Whole passes over the samples until at least min_steps (one pass at least).
    int64_t steps_planned = 0;
    int32_t steps = 0;
    float total_error = 0.0f;
    // The mean error of every progress line printed so far, in order.
    std::vector<float> progress;
};

// A run over `samples` in file order, no step taken yet.
TrainingRun plan_training(const std::vector<Sample>& samples, int32_t min_steps);
// Takes up to `max_steps` more steps of the run, printing "case %d err=%f"
// every 1000 steps. Returns the number taken.
int32_t advance_training(TrainingRun& run, Network& network, int64_t max_steps);
bool training_done(const TrainingRun& run);

// The whole run in one go. Returns the number of steps.
int32_t train_on_samples(Network& network, const std::vector<Sample>& samples, int32_t min_steps);

// Loads the training set into `samples` and builds the network for it. With
// no samples it says so on standard error, leaves the network empty and
// returns false.
bool prepare_network(Network& network, std::vector<Sample>& samples, const TrainingConfig& config);

// Loads the training set, builds the network and trains it. With no
// samples it says so on standard error and leaves the network empty.
// Returns 0.
int train_network(Network& network, const TrainingConfig& config = {});

}  // namespace tavelin
