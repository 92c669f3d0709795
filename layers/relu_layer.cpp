#include "layers/relu_layer.h"

#include "layers/float8.h"

namespace tavelin {

using lanes::float8;

// in, out, next, input_grads: all in.x x in.y x in.z. The walk is x
// outermost, but each element only depends on itself, so storage order is
// the same computation, eight elements at a time. -0.0 and NaN are not
// "0 > v" and pass unchanged.
void forward_relu(ReluLayer& l) {
    const int32_t n = l.input.count();
    const float* in = l.input.data;
    float* out = l.output.data;
    const float8 zero = lanes::splat(0.0f);
    int32_t i = 0;
    for (; i + lanes::width <= n; i += lanes::width) {
        const float8 v = lanes::load(in + i);
        lanes::store(out + i, lanes::select(lanes::greater(zero, v), zero, v));
    }
    for (; i < n; i++) {
        const float v = in[i];
        out[i] = 0 > v ? 0.0f : v;
    }
}

void backward_relu(ReluLayer& l, const Tensor& next) {
    const int32_t n = l.input.count();
    const float* in = l.input.data;
    const float* g = next.data;
    float* grads = l.input_grads.data;
    const float8 zero = lanes::splat(0.0f);
    int32_t i = 0;
    for (; i + lanes::width <= n; i += lanes::width) {
        const float8 v = lanes::load(in + i);
        lanes::store(grads + i, lanes::select(lanes::greater(zero, v), zero, lanes::load(g + i)));
    }
    for (; i < n; i++) {
        const float v = in[i];
        grads[i] = 0 > v ? 0.0f : g[i];
    }
}

}  // namespace tavelin
