// The rectifier eight elements at a time. Each element depends only on
// itself, so storage order gives the plain walk's values.
#include "layers/float8.h"
#include "layers/lanes.h"

namespace tavelin::TAVELIN_LEVEL {

using lanes::float8;

void forward_relu_lanes(ReluLayer& l) {
    const int32_t n = l.input.count();
    const float* in = l.input.data;
    float* out = l.output.data;
    int32_t i = 0;
    for (; i + lanes::width <= n; i += lanes::width) lanes::store(out + i, lanes::rectify(lanes::load(in + i)));
    for (; i < n; i++) {
        const float v = in[i];
        out[i] = 0 > v ? 0.0f : v;
    }
}

void backward_relu_lanes(ReluLayer& l, const Tensor& next) {
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

}  // namespace tavelin::TAVELIN_LEVEL
