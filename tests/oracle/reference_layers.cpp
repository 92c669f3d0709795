#include "tests/oracle/reference_layers.h"

#include <cmath>

#include "core/random.h"

namespace tavelin::oracle {

int32_t reference_clamp_cell(float v, int32_t limit, bool upward) {
    if (!(v > 0)) return 0;
    if (v >= float(limit - 1)) return limit - 1;
    double rounded = upward ? std::ceil(double(v)) : std::floor(double(v));
    return int32_t(float(rounded));
}

OutputWindow reference_output_window(int32_t x, int32_t y, uint16_t stride, uint16_t extent,
                                     int32_t out_x, int32_t out_y, int32_t out_z) {
    const float fx = float(x);
    const float fy = float(y);
    const float fe = float(extent);
    const float fs = float(stride);
    OutputWindow w;
    w.min_x = reference_clamp_cell((fx - fe + 1) / fs, out_x, true);
    w.min_y = reference_clamp_cell((fy - fe + 1) / fs, out_y, true);
    w.min_z = 0;
    w.max_x = reference_clamp_cell(fx / fs, out_x, false);
    w.max_y = reference_clamp_cell(fy / fs, out_y, false);
    w.max_z = out_z - 1;
    return w;
}

float reference_sigmoid(float sum) {
    const float e = float(std::exp(double(-sum)));
    return 1 / (e + 1);
}

// ---- convolution ----------------------------------------------------------

void reference_forward_conv(ConvLayer& l) {
    const TensorView& in = l.input;
    for (size_t f = 0; f < l.filters.size(); f++) {
        const Tensor& filter = l.filters[f];
        for (int32_t x = 0; x < l.output.size_x; x++) {
            for (int32_t y = 0; y < l.output.size_y; y++) {
                const int32_t x0 = int32_t(uint16_t(x)) * l.stride;
                const int32_t y0 = int32_t(uint16_t(y)) * l.stride;
                float sum = 0.0f;
                for (int32_t i = 0; i < l.extent; i++)
                    for (int32_t j = 0; j < l.extent; j++)
                        for (int32_t z = 0; z < in.size_z; z++)
                            sum = sum + in(x0 + i, y0 + j, z) * filter(i, j, z);
                l.output(x, y, int32_t(f)) = sum;
            }
        }
    }
}

void reference_backward_conv(ConvLayer& l, const Tensor& next) {
    const TensorView& in = l.input;
    for (CellTensor& cells : l.filter_grads)
        for (int32_t i = 0; i < l.extent; i++)
            for (int32_t j = 0; j < l.extent; j++)
                for (int32_t z = 0; z < in.size_z; z++) cells(i, j, z).value = 0;

    for (int32_t x = 0; x < in.size_x; x++) {
        for (int32_t y = 0; y < in.size_y; y++) {
            const OutputWindow w =
                reference_output_window(x, y, l.stride, l.extent, l.output.size_x, l.output.size_y,
                                        int32_t(l.filters.size()));
            for (int32_t z = 0; z < in.size_z; z++) {
                float sum = 0.0f;
                for (int32_t i = w.min_x; i <= w.max_x; i++) {
                    const int32_t a = x - i * l.stride;
                    for (int32_t j = w.min_y; j <= w.max_y; j++) {
                        const int32_t b = y - j * l.stride;
                        // A clamped window may name a cell whose window
                        // misses (x, y): no filter element belongs to it.
                        if (a >= l.extent || b >= l.extent) continue;
                        for (int32_t k = w.min_z; k <= w.max_z; k++) {
                            const float d = next(i, j, k);
                            sum = sum + l.filters[k](a, b, z) * d;
                            GradientCell& cell = l.filter_grads[k](a, b, z);
                            cell.value = cell.value + in(x, y, z) * d;
                        }
                    }
                }
                l.input_grads(x, y, z) = sum;
            }
        }
    }
}

void reference_update_conv(ConvLayer& l) {
    for (size_t f = 0; f < l.filters.size(); f++) {
        Tensor& filter = l.filters[f];
        CellTensor& cells = l.filter_grads[f];
        for (int32_t i = 0; i < l.extent; i++)
            for (int32_t j = 0; j < l.extent; j++)
                for (int32_t z = 0; z < l.input.size_z; z++) {
                    GradientCell& cell = cells(i, j, z);
                    filter(i, j, z) = update_weight(filter(i, j, z), cell, 1.0f);
                    cell.carried = carry_gradient(cell);
                }
    }
}

// ---- rectifier ------------------------------------------------------------

void reference_forward_relu(ReluLayer& l) {
    const TensorView& in = l.input;
    for (int32_t x = 0; x < in.size_x; x++)
        for (int32_t y = 0; y < in.size_y; y++)
            for (int32_t z = 0; z < in.size_z; z++) {
                const float v = in(x, y, z);
                l.output(x, y, z) = 0 > v ? 0.0f : v;
            }
}

void reference_backward_relu(ReluLayer& l, const Tensor& next) {
    const TensorView& in = l.input;
    for (int32_t x = 0; x < in.size_x; x++)
        for (int32_t y = 0; y < in.size_y; y++)
            for (int32_t z = 0; z < in.size_z; z++) {
                const float v = in(x, y, z);
                l.input_grads(x, y, z) = 0 > v ? 0.0f : next(x, y, z);
            }
}

// ---- max-pooling ----------------------------------------------------------

void reference_forward_maxpool(MaxPoolLayer& l) {
    const float lowest = float_from_bits(0xFF7FFFFFu);
    for (int32_t x = 0; x < l.output.size_x; x++)
        for (int32_t y = 0; y < l.output.size_y; y++)
            for (int32_t z = 0; z < l.output.size_z; z++) {
                const int32_t x0 = int32_t(uint16_t(x)) * l.stride;
                const int32_t y0 = int32_t(uint16_t(y)) * l.stride;
                float m = lowest;
                for (int32_t i = 0; i < l.extent; i++)
                    for (int32_t j = 0; j < l.extent; j++) {
                        const float v = l.input(x0 + i, y0 + j, z);
                        if (v > m) m = v;
                    }
                l.output(x, y, z) = m;
            }
}

void reference_backward_maxpool(MaxPoolLayer& l, const Tensor& next) {
    for (int32_t x = 0; x < l.input.size_x; x++)
        for (int32_t y = 0; y < l.input.size_y; y++) {
            const OutputWindow w = reference_output_window(x, y, l.stride, l.extent, l.output.size_x,
                                                           l.output.size_y, l.output.size_z);
            for (int32_t z = 0; z < l.input.size_z; z++) {
                const float v = l.input(x, y, z);
                float sum = 0.0f;
                for (int32_t i = w.min_x; i <= w.max_x; i++)
                    for (int32_t j = w.min_y; j <= w.max_y; j++) {
                        const float e = v == l.output(i, j, z) ? 1.0f : 0.0f;
                        sum = sum + e * next(i, j, z);
                    }
                l.input_grads(x, y, z) = sum;
            }
        }
}

// ---- dense ----------------------------------------------------------------

void reference_forward_dense(DenseLayer& l) {
    const TensorView& in = l.input;
    for (int32_t o = 0; o < l.output.size_x; o++) {
        float sum = 0.0f;
        for (int32_t x = 0; x < in.size_x; x++)
            for (int32_t y = 0; y < in.size_y; y++)
                for (int32_t z = 0; z < in.size_z; z++) {
                    const int32_t m = x + y * in.size_x + z * in.size_x * in.size_y;
                    sum = sum + in(x, y, z) * l.weights(m, o, 0);
                }
        l.sums[size_t(o)] = sum;
        l.output(o, 0, 0) = reference_sigmoid(sum);
    }
}

void reference_backward_dense(DenseLayer& l, const Tensor& next) {
    const TensorView& in = l.input;
    for (int32_t x = 0; x < in.size_x; x++)
        for (int32_t y = 0; y < in.size_y; y++)
            for (int32_t z = 0; z < in.size_z; z++) l.input_grads(x, y, z) = 0.0f;
    for (int32_t o = 0; o < l.output.size_x; o++) {
        const float s = reference_sigmoid(l.sums[size_t(o)]);
        GradientCell& cell = l.gradients[size_t(o)];
        cell.value = ((1 - s) * s) * next[o];
        for (int32_t x = 0; x < in.size_x; x++)
            for (int32_t y = 0; y < in.size_y; y++)
                for (int32_t z = 0; z < in.size_z; z++) {
                    const int32_t m = x + y * in.size_x + z * in.size_x * in.size_y;
                    l.input_grads(x, y, z) = l.input_grads(x, y, z) + l.weights(m, o, 0) * cell.value;
                }
    }
}

void reference_update_dense(DenseLayer& l) {
    const TensorView& in = l.input;
    for (int32_t o = 0; o < l.output.size_x; o++) {
        GradientCell& cell = l.gradients[size_t(o)];
        for (int32_t x = 0; x < in.size_x; x++)
            for (int32_t y = 0; y < in.size_y; y++)
                for (int32_t z = 0; z < in.size_z; z++) {
                    const int32_t m = x + y * in.size_x + z * in.size_x * in.size_y;
                    l.weights(m, o, 0) = update_weight(l.weights(m, o, 0), cell, in(x, y, z));
                }
        cell.carried = carry_gradient(cell);
    }
}

// ---- dropout --------------------------------------------------------------

void reference_forward_dropout(DropoutLayer& l) {
    const int32_t n = l.input.count();
    for (int32_t i = 0; i < n; i++) {
        const float u = float(tavelin::rand() % 32767) / 32767.0f;
        const bool keep = l.activation_probability >= u;
        l.mask[i] = keep ? 1 : 0;
        l.output[i] = keep ? l.input[i] : 0.0f;
    }
}

void reference_backward_dropout(DropoutLayer& l, const Tensor& next) {
    const int32_t n = l.input.count();
    for (int32_t i = 0; i < n; i++) l.input_grads[i] = l.mask[i] != 0 ? next[i] : 0.0f;
}

// ---- dispatch and the training step ---------------------------------------

void reference_forward(Layer& layer, const Tensor& in) {
    if (uint32_t(layer.kind) > uint32_t(LayerKind::Dropout)) return;
    set_view(layer.input, in);
    switch (layer.kind) {
        case LayerKind::Conv: reference_forward_conv(static_cast<ConvLayer&>(layer)); break;
        case LayerKind::Dense: reference_forward_dense(static_cast<DenseLayer&>(layer)); break;
        case LayerKind::Relu: reference_forward_relu(static_cast<ReluLayer&>(layer)); break;
        case LayerKind::MaxPool: reference_forward_maxpool(static_cast<MaxPoolLayer&>(layer)); break;
        case LayerKind::Dropout: reference_forward_dropout(static_cast<DropoutLayer&>(layer)); break;
    }
}

void reference_backward(Layer& layer, const Tensor& next) {
    switch (layer.kind) {
        case LayerKind::Conv: reference_backward_conv(static_cast<ConvLayer&>(layer), next); break;
        case LayerKind::Dense: reference_backward_dense(static_cast<DenseLayer&>(layer), next); break;
        case LayerKind::Relu: reference_backward_relu(static_cast<ReluLayer&>(layer), next); break;
        case LayerKind::MaxPool: reference_backward_maxpool(static_cast<MaxPoolLayer&>(layer), next); break;
        case LayerKind::Dropout: reference_backward_dropout(static_cast<DropoutLayer&>(layer), next); break;
    }
}

void reference_apply_gradients(Layer& layer) {
    switch (layer.kind) {
        case LayerKind::Conv: reference_update_conv(static_cast<ConvLayer&>(layer)); break;
        case LayerKind::Dense: reference_update_dense(static_cast<DenseLayer&>(layer)); break;
        default: break;
    }
}

float reference_train_step(std::vector<Layer*>& layers, const Tensor& image, const Tensor& target) {
    const size_t n = layers.size();
    for (size_t i = 0; i < n; i++) reference_forward(*layers[i], i == 0 ? image : layers[i - 1]->output);
    Tensor g(layers[n - 1]->output);
    for (int32_t k = 0; k < target.count(); k++) g[k] = g[k] - target[k];
    for (size_t i = n; i-- > 0;) reference_backward(*layers[i], i == n - 1 ? g : layers[i + 1]->input_grads);
    for (size_t i = 0; i < n; i++) reference_apply_gradients(*layers[i]);
    float sum = 0.0f;
    for (int32_t k = 0; k < g.count(); k++)
        if (target[k] > 0.5f) sum = sum + std::fabs(g[k]);
    return sum * 100.0f;
}

}  // namespace tavelin::oracle
