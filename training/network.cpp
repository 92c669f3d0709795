#include "training/network.h"

#include <cmath>
#include <cstdio>

#include "layers/chain.h"
#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/maxpool_layer.h"
#include "layers/relu_layer.h"

namespace tavelin {

void build_network(Network& network, Shape input_shape) {
    // The convolution draws its 200 start weights from rand() before the
    // dense layer draws its own: the order fixes every run's start weights.
    auto* conv = new ConvLayer(1, 5, 8, input_shape);
    conv->input_grads_read = false;  // the image needs no gradient
    auto* relu = new ReluLayer(conv->output.shape());
    auto* pool = new MaxPoolLayer(2, 2, relu->output.shape());
    auto* dense = new DenseLayer(pool->output.shape(), 10);
    network.push_back(conv);
    network.push_back(relu);
    network.push_back(pool);
    network.push_back(dense);
    use_chain(network.data(), network.size());
}

float train_step(Network& network, const Tensor& image, const Tensor& target) {
    const size_t n = network.size();
    if (!forward_chain(network.data(), n, image))
        for (size_t i = 0; i < n; i++) forward(*network[i], i == 0 ? image : network[i - 1]->output);

    const Tensor g = difference(network[n - 1]->output, target);
    if (!backward_and_update_chain(network.data(), n, g)) {
        for (size_t i = n; i-- > 0;) backward(*network[i], i == n - 1 ? g : network[i + 1]->input_grads);
        for (size_t i = 0; i < n; i++) apply_gradients(*network[i]);
    }

    // Only the elements the target marks (above 0.5; exactly 0.5 is not)
    // count: with a one-hot target, that is the true label's output.
    float sum = 0.0f;
    for (int32_t k = 0; k < g.count(); k++)
        if (target[k] > 0.5f) sum = sum + std::fabs(g[k]);
    return sum * 100.0f;
}

TrainingRun plan_training(const std::vector<Sample>& samples, int32_t min_steps) {
    TrainingRun run;
    run.samples = &samples;
    const int64_t n = int64_t(samples.size());
    if (n == 0) return run;
    // The bound is only looked at between passes: training always ends on
    // the last sample of a pass.
    const int64_t passes = min_steps <= 0 ? 1 : (int64_t(min_steps) + n - 1) / n;
    run.steps_planned = passes * n;
    return run;
}

int32_t advance_training(TrainingRun& run, Network& network, int64_t max_steps) {
    int32_t taken = 0;
    const std::vector<Sample>& samples = *run.samples;
    while (run.steps < run.steps_planned && taken < max_steps) {
        const Sample& sample = samples[size_t(run.steps) % samples.size()];
        const float e = train_step(network, sample.image, sample.target);
        run.steps = run.steps + 1;
        run.total_error = run.total_error + e;
        taken++;
        if (run.steps % 1000 == 0) {
            const float average = run.total_error / float(run.steps);
            run.progress.push_back(average);
            std::printf("case %d err=%f\n", run.steps, double(average));
            // A pipe (scripts/run | tee log) shows progress as it comes.
            std::fflush(stdout);
        }
    }
    return taken;
}

bool training_done(const TrainingRun& run) { return run.steps >= run.steps_planned; }

int32_t train_on_samples(Network& network, const std::vector<Sample>& samples, int32_t min_steps) {
    TrainingRun run = plan_training(samples, min_steps);
    advance_training(run, network, run.steps_planned);
    return run.steps;
}

bool prepare_network(Network& network, std::vector<Sample>& samples, const TrainingConfig& config) {
    samples = load_samples(config.image_path.c_str(), config.label_path.c_str());
    if (samples.empty()) {
        std::fprintf(stderr, "%s: no training samples; the network stays untrained\n",
                     config.image_path.c_str());
        return false;
    }
    build_network(network, samples[0].image.shape());
    return true;
}

int train_network(Network& network, const TrainingConfig& config) {
    std::vector<Sample> samples;
    if (prepare_network(network, samples, config)) train_on_samples(network, samples, config.min_steps);
    return 0;
}

}  // namespace tavelin
