#include "layers/dropout_layer.h"

#include "core/random.h"

namespace tavelin {

DropoutLayer::DropoutLayer(Shape in, float p)
    : Layer(LayerKind::Dropout, in, in), mask(in), activation_probability(p) {}

// One draw per element in flat order; u = (r mod 32767) / 32767 lies in
// [0, 1), so a probability of 1 keeps everything and NaN keeps nothing.
void forward_dropout(DropoutLayer& l) {
    const int32_t n = l.input.count();
    for (int32_t i = 0; i < n; i++) {
        const float u = float(rand() % rand_max) / float(rand_max);
        const bool keep = l.activation_probability >= u;
        l.mask[i] = keep ? 1 : 0;
        l.output[i] = keep ? l.input[i] : 0.0f;
    }
}

void backward_dropout(DropoutLayer& l, const Tensor& next) {
    const int32_t n = l.input.count();
    for (int32_t i = 0; i < n; i++) l.input_grads[i] = l.mask[i] != 0 ? next[i] : 0.0f;
}

}  // namespace tavelin
