// Timing of the program's network on synthetic images of the real shapes:
// one whole training step, as the program runs it (the layers as one
// chain, layers/chain.h) and layer by layer; the chain's two sweeps; and
// each layer's forward, backward and apply_gradients on their own. Every
// figure comes once per level this CPU runs ("avx512", "avx2", "x86-64",
// then "plain": the plain twins the oracle tests compare the others with)
// and once as "fast", the level the program chooses, so the gains are
// measured on the same machine and data.
//
//   tavelin-bench [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/random.h"
#include "layers/chain.h"
#include "layers/kernels.h"
#include "synthetic_images.h"
#include "training/network.h"

using namespace tavelin;

namespace {

// A network trained for a while on synthetic images, so that weights,
// cells and activations look like those of a real run.
struct Rig {
    Network network;
    std::vector<Sample> samples;
    Tensor error;  // output minus target of the last step: the last layer's `next`
    size_t next_sample = 0;

    Rig(const LayerKernels& kernels, bool chained) : samples(test_util::synthetic_samples(512, 20240607u)) {
        set_rand_state(rand_initial_state);
        build_network(network, samples[0].image.shape());
        for (Layer* layer : network) use_kernels(*layer, kernels);
        if (chained) use_chain(network.data(), network.size());
        for (int32_t k = 0; k < 600; k++) step();
        // Leave every view and gradient consistent with one sample.
        const Sample& s = samples[next_sample];  // what input_of(0) gives
        for (size_t i = 0; i < network.size(); i++) forward_one(i);
        error = difference(network.back()->output, s.target);
        for (size_t i = network.size(); i-- > 0;) backward_one(i);
    }

    float step() {
        const Sample& s = samples[next_sample];
        next_sample = (next_sample + 1) % samples.size();
        return train_step(network, s.image, s.target);
    }

    const Tensor& input_of(size_t i) const {
        return i == 0 ? samples[next_sample].image : network[i - 1]->output;
    }
    const Tensor& next_of(size_t i) const {
        return i + 1 == network.size() ? error : network[i + 1]->input_grads;
    }

    void forward_one(size_t i) { forward(*network[i], input_of(i)); }
    void backward_one(size_t i) { backward(*network[i], next_of(i)); }
    void apply_one(size_t i) { apply_gradients(*network[i]); }
    void forward_chained() { forward_chain(network.data(), network.size(), samples[next_sample].image); }
    void backward_chained() { backward_and_update_chain(network.data(), network.size(), error); }
};

Rig& rig(const LayerKernels* kernels, bool chained) {
    // Built on first use and kept: the layers are never released.
    struct Built {
        const LayerKernels* kernels;
        bool chained;
        Rig* rig;
    };
    static std::vector<Built> rigs;
    for (const Built& b : rigs)
        if (b.kernels == kernels && b.chained == chained) return *b.rig;
    rigs.push_back({kernels, chained, new Rig(*kernels, chained)});
    return *rigs.back().rig;
}

void register_step(const std::string& name, const LayerKernels* v, bool chained) {
    benchmark::RegisterBenchmark(name.c_str(),
                                 [v, chained](benchmark::State& state) {
                                     Rig& r = rig(v, chained);
                                     float e = 0;
                                     for (auto _ : state) e = e + r.step();
                                     benchmark::DoNotOptimize(e);
                                     state.counters["steps/s"] =
                                         benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
                                 })
        ->Unit(benchmark::kMicrosecond);
}

void register_all() {
    const char* layer_names[] = {"conv", "relu", "maxpool", "dense"};
    std::vector<std::pair<std::string, const LayerKernels*>> variants{{"fast", &chosen_kernels()}};
    for (const LayerKernels* k : runnable_kernels()) variants.emplace_back(k->level, k);
    for (const auto& [name, v] : variants) {
        // step/LEVEL is what the program runs: the chain where the level
        // has one, else the layers one by one, as step/layers/LEVEL always.
        register_step("step/" + name, v, true);
        register_step("step/layers/" + name, v, false);
        if (v->forward_chain != nullptr) {
            benchmark::RegisterBenchmark(("chain/forward/" + name).c_str(),
                                         [v](benchmark::State& state) {
                                             Rig& r = rig(v, true);
                                             for (auto _ : state) r.forward_chained();
                                         })
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("chain/backward_and_update/" + name).c_str(),
                                         [v](benchmark::State& state) {
                                             Rig& r = rig(v, true);
                                             for (auto _ : state) r.backward_chained();
                                         })
                ->Unit(benchmark::kMicrosecond);
        }
        for (size_t i = 0; i < 4; i++) {
            const std::string base = std::string(layer_names[i]) + "/";
            const std::string suffix = "/" + name;
            benchmark::RegisterBenchmark((base + "forward" + suffix).c_str(),
                                         [v, i](benchmark::State& state) {
                                             Rig& r = rig(v, false);
                                             for (auto _ : state) r.forward_one(i);
                                         })
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((base + "backward" + suffix).c_str(),
                                         [v, i](benchmark::State& state) {
                                             Rig& r = rig(v, false);
                                             for (auto _ : state) r.backward_one(i);
                                         })
                ->Unit(benchmark::kMicrosecond);
            if (i == 0 || i == 3)
                benchmark::RegisterBenchmark((base + "apply_gradients" + suffix).c_str(),
                                             [v, i](benchmark::State& state) {
                                                 Rig& r = rig(v, false);
                                                 for (auto _ : state) r.apply_one(i);
                                             })
                    ->Unit(benchmark::kMicrosecond);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
