#include "layers/maxpool_layer.h"

#include "layers/kernels.h"

namespace tavelin {

Shape maxpool_output_shape(uint16_t stride, uint16_t extent, Shape in) {
    return {(in.x - extent) / stride + 1, (in.y - extent) / stride + 1, in.z};
}

MaxPoolLayer::MaxPoolLayer(uint16_t stride_, uint16_t extent_, Shape in)
    : Layer(LayerKind::MaxPool, in, maxpool_output_shape(stride_, extent_, in)),
      stride(stride_),
      extent(extent_) {
    use_kernels(*this, chosen_kernels());
}

CoveringCells covering_cells(const MaxPoolLayer& layer, int32_t x, int32_t y) {
    return covering_cells(x, y, layer.stride, layer.extent, layer.output.size_x,
                          layer.output.size_y, layer.output.size_z);
}

// Windows of 2 x 2 that tile the input exactly: every input position lies
// in the one window (x / 2, y / 2), which is what covering_cells gives for
// this shape. Everything else takes the plain loops.
bool maxpool_fits_lanes(const MaxPoolLayer& l) {
    return l.stride == 2 && l.extent == 2 && l.output.size_x > 0 && l.output.size_y > 0 &&
           l.input.size_x == 2 * l.output.size_x && l.input.size_y == 2 * l.output.size_y &&
           l.input.size_z == l.output.size_z;
}

// ---- plain loops: every shape ----------------------------------------------

// in: in.x x in.y x z; out: out.x x out.y x z.
// out(x, y, z) = max over the window, scanned (i outer, j inner), strictly
// greater wins, starting from the most negative finite float: ties keep the
// first, NaN is never taken.
void forward_maxpool_plain(MaxPoolLayer& l) {
    for (int32_t x = 0; x < l.output.size_x; x++)
        for (int32_t y = 0; y < l.output.size_y; y++)
            for (int32_t z = 0; z < l.output.size_z; z++) {
                const int32_t x0 = int32_t(uint16_t(x)) * l.stride;
                const int32_t y0 = int32_t(uint16_t(y)) * l.stride;
                float m = lowest_finite;
                for (int32_t i = 0; i < l.extent; i++)
                    for (int32_t j = 0; j < l.extent; j++) {
                        const float v = l.input(x0 + i, y0 + j, z);
                        if (v > m) m = v;
                    }
                l.output(x, y, z) = m;
            }
}

// input_grads(x, y, z) = sum over the output cells covering (x, y) of
// (in == out ? 1 : 0) * G. The product is formed even for 0, so a
// non-finite G reaches every position of its window.
void backward_maxpool_plain(MaxPoolLayer& l, const Tensor& next) {
    for (int32_t x = 0; x < l.input.size_x; x++)
        for (int32_t y = 0; y < l.input.size_y; y++) {
            const CoveringCells w = covering_cells(l, x, y);
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

void forward_maxpool(MaxPoolLayer& l) { l.kernels->forward_maxpool(l); }
void backward_maxpool(MaxPoolLayer& l, const Tensor& next) { l.kernels->backward_maxpool(l, next); }

}  // namespace tavelin
