#include "layers/kernels.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/maxpool_layer.h"
#include "layers/relu_layer.h"

// The levels this build holds (layers/CMakeLists.txt), best first.
#if defined(TAVELIN_LEVELS_X86)
namespace tavelin::avx512 { extern const LayerKernels kernels; }
namespace tavelin::avx2 { extern const LayerKernels kernels; }
namespace tavelin::x86_64 { extern const LayerKernels kernels; }
#else
namespace tavelin::generic { extern const LayerKernels kernels; }
#endif

namespace tavelin {

namespace {

struct Level {
    const LayerKernels* kernels;
    bool runs;  // on this CPU
};

std::vector<Level> levels() {
#if defined(TAVELIN_LEVELS_X86)
    __builtin_cpu_init();
    // The 256-bit code of the AVX-512 level uses its 32 registers and
    // mask instructions; GCC's test also asks the system for the state.
    const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
    return {{&avx512::kernels, avx512}, {&avx2::kernels, bool(__builtin_cpu_supports("avx2"))},
            {&x86_64::kernels, true}};
#else
    return {{&generic::kernels, true}};
#endif
}

const LayerKernels& choose() {
    const std::vector<Level> all = levels();
    const LayerKernels* best = runnable_kernels().front();
    const char* wanted = std::getenv("TAVELIN_ISA");
    if (wanted == nullptr || *wanted == '\0') return *best;
    if (std::strcmp(wanted, "plain") == 0) return plain_kernels();
    for (const Level& l : all)
        if (std::strcmp(wanted, l.kernels->level) == 0) {
            if (l.runs) return *l.kernels;
            std::fprintf(stderr, "TAVELIN_ISA=%s: this CPU lacks that level; using %s\n", wanted, best->level);
            return *best;
        }
    std::fprintf(stderr, "TAVELIN_ISA=%s: not a level of this build (plain", wanted);
    for (const Level& l : all) std::fprintf(stderr, ", %s", l.kernels->level);
    std::fprintf(stderr, "); using %s\n", best->level);
    return *best;
}

}  // namespace

const LayerKernels& plain_kernels() {
    static const LayerKernels plain = {
        "plain",
        forward_conv_plain,  backward_conv_plain,  update_conv_plain,
        forward_dense_plain, backward_dense_plain, update_dense_plain,
        forward_relu_plain,  backward_relu_plain,
        forward_maxpool_plain, backward_maxpool_plain,
        nullptr, nullptr, false,
    };
    return plain;
}

const LayerKernels& chosen_kernels() {
    static const LayerKernels& chosen = choose();
    return chosen;
}

std::vector<const LayerKernels*> runnable_kernels() {
    std::vector<const LayerKernels*> runnable;
    for (const Level& l : levels())
        if (l.runs) runnable.push_back(l.kernels);
    runnable.push_back(&plain_kernels());
    return runnable;
}

void use_kernels(Layer& layer, const LayerKernels& kernels) {
    bool fits = &kernels != &plain_kernels();
    switch (layer.kind) {
        case LayerKind::Conv: {
            ConvLayer& conv = static_cast<ConvLayer&>(layer);
            fits = fits && conv_fits_lanes(conv);
            if (fits) prepare_conv_lanes(conv);
            break;
        }
        case LayerKind::Dense:
            if (fits) prepare_dense_lanes(static_cast<DenseLayer&>(layer));
            break;
        case LayerKind::MaxPool:
            fits = fits && maxpool_fits_lanes(static_cast<MaxPoolLayer&>(layer));
            break;
        case LayerKind::Relu:
        case LayerKind::Dropout:
            break;
    }
    layer.kernels = fits ? &kernels : &plain_kernels();
    layer.chain = nullptr;
}

}  // namespace tavelin
