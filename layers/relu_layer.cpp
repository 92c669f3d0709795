#include "layers/relu_layer.h"

#include "layers/kernels.h"

namespace tavelin {

ReluLayer::ReluLayer(Shape in_size) : Layer(LayerKind::Relu, in_size, in_size) {
    use_kernels(*this, chosen_kernels());
}

// in, out, next, input_grads: all in.x x in.y x in.z, walked x outermost.
// -0.0 and NaN are not "0 > v" and pass unchanged.
void forward_relu_plain(ReluLayer& l) {
    for (int32_t x = 0; x < l.input.size_x; x++)
        for (int32_t y = 0; y < l.input.size_y; y++)
            for (int32_t z = 0; z < l.input.size_z; z++) {
                const float v = l.input(x, y, z);
                l.output(x, y, z) = 0 > v ? 0.0f : v;
            }
}

void backward_relu_plain(ReluLayer& l, const Tensor& next) {
    for (int32_t x = 0; x < l.input.size_x; x++)
        for (int32_t y = 0; y < l.input.size_y; y++)
            for (int32_t z = 0; z < l.input.size_z; z++)
                l.input_grads(x, y, z) = 0 > l.input(x, y, z) ? 0.0f : next(x, y, z);
}

void forward_relu(ReluLayer& l) { l.kernels->forward_relu(l); }
void backward_relu(ReluLayer& l, const Tensor& next) { l.kernels->backward_relu(l, next); }

}  // namespace tavelin
