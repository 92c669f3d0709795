#include "layers/conv_layer.h"

#include "core/random.h"
#include "layers/kernels.h"

namespace tavelin {

Shape conv_output_shape(uint16_t stride, uint16_t extent, int32_t filter_count, Shape in) {
    return {(in.x - extent) / stride + 1, (in.y - extent) / stride + 1, filter_count};
}

// ---- plain loops: every shape --------------------------------------------

// out(x, y, f) = sum over i, j, z (z innermost) of
//                in(x*stride + i, y*stride + j, z) * filter_f(i, j, z)
void forward_conv_plain(ConvLayer& l) {
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

// Each input position gathers from the output cells whose windows cover
// it; the same walk accumulates the filter gradients, so every cell sums
// its terms in input (x, y) order.
void backward_conv_plain(ConvLayer& l, const Tensor& next) {
    const TensorView& in = l.input;
    for (CellTensor& cells : l.filter_grads)
        for (int32_t i = 0; i < l.extent; i++)
            for (int32_t j = 0; j < l.extent; j++)
                for (int32_t z = 0; z < in.size_z; z++) cells(i, j, z).value = 0;

    for (int32_t x = 0; x < in.size_x; x++) {
        for (int32_t y = 0; y < in.size_y; y++) {
            const CoveringCells w = covering_cells(l, x, y);
            for (int32_t z = 0; z < in.size_z; z++) {
                float sum = 0.0f;
                for (int32_t i = w.min_x; i <= w.max_x; i++) {
                    const int32_t a = x - i * l.stride;
                    for (int32_t j = w.min_y; j <= w.max_y; j++) {
                        const int32_t b = y - j * l.stride;
                        // With a stride that does not divide the input, the
                        // clamped window can name a cell whose window misses
                        // (x, y): it has no filter element for this input.
                        if (a >= l.extent || b >= l.extent) continue;
                        for (int32_t k = w.min_z; k <= w.max_z; k++) {
                            const float d = next(i, j, k);
                            sum = sum + l.filters[k](a, b, z) * d;
                            GradientCell& cell = l.filter_grads[k](a, b, z);
                            cell.value = cell.value + in(x, y, z) * d;
                        }
                    }
                }
                if (l.input_grads_read) l.input_grads(x, y, z) = sum;
            }
        }
    }
}

void update_conv_plain(ConvLayer& l) {
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

bool conv_fits_lanes(const ConvLayer& l) {
    return l.stride == 1 && l.extent > 0 && l.output.size_x > 0 && l.output.size_y > 0;
}

void prepare_conv_lanes(ConvLayer& l) {
    ConvScratch& s = l.scratch;
    if (!s.window_offsets.empty()) return;
    const Shape in = l.input_grads.shape();
    const int32_t e = l.extent;
    const int32_t filter_count = int32_t(l.filters.size());
    s.grads_by_position = Tensor(l.output.size_x * l.output.size_y, lane_groups(filter_count) * lane_count, 1);
    // Each row's values start on a 32-byte boundary, after at least e - 1 zeros.
    s.frame_lead = lane_groups(e - 1) * lane_count;
    s.framed_row = s.frame_lead + lane_groups(in.x) * lane_count;
    s.framed_grads = Tensor(s.framed_row, l.output.size_y, filter_count);
    s.filters_by_offset = Tensor(filter_count, e * e, in.z);
    for (int32_t i = 0; i < e; i++)
        for (int32_t j = 0; j < e; j++)
            for (int32_t z = 0; z < in.z; z++) {
                s.window_offsets.push_back(i + j * in.x + z * in.x * in.y);
                s.filter_offsets.push_back(i + j * e + z * e * e);
            }
}

ConvLayer::ConvLayer(uint16_t stride_, uint16_t extent_, int32_t filter_count, Shape in)
    : Layer(LayerKind::Conv, in, conv_output_shape(stride_, extent_, filter_count, in)),
      stride(stride_),
      extent(extent_) {
    // Weights start in 0 .. 1/n, n the number of weights of one filter.
    for (int32_t f = 0; f < filter_count; f++) {
        Tensor filter(extent, extent, in.z);
        const float scale = 1.0f / float(extent * extent * in.z);
        for (int32_t x = 0; x < extent; x++)
            for (int32_t y = 0; y < extent; y++)
                for (int32_t z = 0; z < in.z; z++) filter(x, y, z) = float(rand()) * scale / rand_max;
        filters.push_back(std::move(filter));
    }
    for (const Tensor& filter : filters) filter_grads.emplace_back(filter.shape());
    use_kernels(*this, chosen_kernels());
}

CoveringCells covering_cells(const ConvLayer& layer, int32_t x, int32_t y) {
    return covering_cells(x, y, layer.stride, layer.extent, layer.output.size_x,
                          layer.output.size_y, int32_t(layer.filters.size()));
}

void forward_conv(ConvLayer& l) { l.kernels->forward_conv(l); }
void backward_conv(ConvLayer& l, const Tensor& next) { l.kernels->backward_conv(l, next); }
void update_conv(ConvLayer& l) { l.kernels->update_conv(l); }

}  // namespace tavelin
