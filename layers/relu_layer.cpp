#include "layers/relu_layer.h"

namespace tavelin {

// in, out, next, input_grads: all in.x x in.y x in.z. The walk is x
// outermost, but each element only depends on itself, so storage order is
// the same computation. -0.0 and NaN are not "0 > v" and pass unchanged.
void forward_relu(ReluLayer& l) {
    const int32_t n = l.input.count();
    for (int32_t i = 0; i < n; i++) {
        const float v = l.input[i];
        l.output[i] = 0 > v ? 0.0f : v;
    }
}

void backward_relu(ReluLayer& l, const Tensor& next) {
    const int32_t n = l.input.count();
    for (int32_t i = 0; i < n; i++) {
        const float v = l.input[i];
        l.input_grads[i] = 0 > v ? 0.0f : next[i];
    }
}

}  // namespace tavelin
