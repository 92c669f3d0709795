// Max pooling with 2 x 2 windows that tile the input, windows side by side
// in the lanes. Every window scans its values in the plain order.
#include "layers/float8.h"
#include "layers/lanes.h"

namespace tavelin::TAVELIN_LEVEL {

using lanes::float8;

namespace {

using lanes::keep_greater;

// The maxima of the 4 windows whose inputs are top[0..7] and bottom[0..7]
// in lanes 0..3 (lanes 4..7 repeat them). Each window scans its values in
// the plain order (x0, y0), (x0, y0+1), (x0+1, y0), (x0+1, y0+1).
TAVELIN_LANES_INLINE float8 four_windows(const float* top, const float* bottom) {
    const float8 t = lanes::load(top), b = lanes::load(bottom);
    float8 m = lanes::splat(lowest_finite);
    m = keep_greater(m, lanes::pick<0, 2, 4, 6, 0, 2, 4, 6>(t, t));
    m = keep_greater(m, lanes::pick<0, 2, 4, 6, 0, 2, 4, 6>(b, b));
    m = keep_greater(m, lanes::pick<1, 3, 5, 7, 1, 3, 5, 7>(t, t));
    m = keep_greater(m, lanes::pick<1, 3, 5, 7, 1, 3, 5, 7>(b, b));
    return m;
}

// One output row at a time, windows side by side, each lane one window.
void forward_maxpool_by_two(MaxPoolLayer& l) {
    const int32_t out_x = l.output.size_x;
    const int32_t in_x = l.input.size_x;
    const int32_t rows = l.output.size_y * l.output.size_z;  // (y, z) pairs, z outer
    for (int32_t r = 0; r < rows; r++) {
        // Output row r is (y, z) with y = r % out_y; its input rows are 2y and
        // 2y + 1 of layer z, which are input rows 2r and 2r + 1 in storage.
        const float* top = l.input.data + size_t(2 * r) * size_t(in_x);
        const float* bottom = top + in_x;
        float* out = l.output.data + size_t(r) * size_t(out_x);
        int32_t x = 0;
        for (; x + lanes::width <= out_x; x += lanes::width) {
            const float8 t0 = lanes::load(top + 2 * x), t1 = lanes::load(top + 2 * x + lanes::width);
            const float8 b0 = lanes::load(bottom + 2 * x), b1 = lanes::load(bottom + 2 * x + lanes::width);
            float8 m = lanes::splat(lowest_finite);
            m = keep_greater(m, lanes::pick<0, 2, 4, 6, 8, 10, 12, 14>(t0, t1));
            m = keep_greater(m, lanes::pick<0, 2, 4, 6, 8, 10, 12, 14>(b0, b1));
            m = keep_greater(m, lanes::pick<1, 3, 5, 7, 9, 11, 13, 15>(t0, t1));
            m = keep_greater(m, lanes::pick<1, 3, 5, 7, 9, 11, 13, 15>(b0, b1));
            lanes::store(out + x, m);
        }
        for (; x + 4 <= out_x; x += 4) lanes::store_first(out + x, four_windows(top + 2 * x, bottom + 2 * x), 4);
        for (; x < out_x; x++) {
            float m = lowest_finite;
            const float v0 = top[2 * x];
            m = v0 > m ? v0 : m;
            const float v1 = bottom[2 * x];
            m = v1 > m ? v1 : m;
            const float v2 = top[2 * x + 1];
            m = v2 > m ? v2 : m;
            const float v3 = bottom[2 * x + 1];
            m = v3 > m ? v3 : m;
            out[x] = m;
        }
    }
}

// input_grads of 8 input columns: 0.0 + e * G, e = 1 where the input
// equals its window's maximum, else 0 (each lane's one term).
TAVELIN_LANES_INLINE void window_grads(float* grads, const float* in, float8 maxima, float8 g) {
    const float8 zero = lanes::splat(0.0f);
    const float8 e = lanes::select(lanes::equal(lanes::load(in), maxima), lanes::splat(1.0f), zero);
    lanes::store(grads, zero + e * g);
}

// Each input position's sum has the one term of its window. The maxima and
// gradients of a window row serve both of its input rows.
void backward_maxpool_by_two(MaxPoolLayer& l, const Tensor& next) {
    const int32_t out_x = l.output.size_x;
    const int32_t in_x = l.input.size_x;
    const int32_t rows = l.output.size_y * l.output.size_z;
    for (int32_t r = 0; r < rows; r++) {
        const float* out = l.output.data + size_t(r) * size_t(out_x);
        const float* g = next.data + size_t(r) * size_t(out_x);
        const float* top = l.input.data + size_t(2 * r) * size_t(in_x);
        const float* bottom = top + in_x;
        float* top_grads = l.input_grads.data + size_t(2 * r) * size_t(in_x);
        float* bottom_grads = top_grads + in_x;
        int32_t x = 0;
        for (; x + lanes::width <= out_x; x += lanes::width) {
            const float8 m = lanes::load(out + x), d = lanes::load(g + x);
            const float8 m_left = lanes::pick<0, 0, 1, 1, 2, 2, 3, 3>(m, m);
            const float8 m_right = lanes::pick<4, 4, 5, 5, 6, 6, 7, 7>(m, m);
            const float8 d_left = lanes::pick<0, 0, 1, 1, 2, 2, 3, 3>(d, d);
            const float8 d_right = lanes::pick<4, 4, 5, 5, 6, 6, 7, 7>(d, d);
            window_grads(top_grads + 2 * x, top + 2 * x, m_left, d_left);
            window_grads(top_grads + 2 * x + 8, top + 2 * x + 8, m_right, d_right);
            window_grads(bottom_grads + 2 * x, bottom + 2 * x, m_left, d_left);
            window_grads(bottom_grads + 2 * x + 8, bottom + 2 * x + 8, m_right, d_right);
        }
        for (; x + 4 <= out_x; x += 4) {
            const float8 m =
                lanes::of(out[x], out[x], out[x + 1], out[x + 1], out[x + 2], out[x + 2], out[x + 3], out[x + 3]);
            const float8 d = lanes::of(g[x], g[x], g[x + 1], g[x + 1], g[x + 2], g[x + 2], g[x + 3], g[x + 3]);
            window_grads(top_grads + 2 * x, top + 2 * x, m, d);
            window_grads(bottom_grads + 2 * x, bottom + 2 * x, m, d);
        }
        for (; x < out_x; x++)
            for (int32_t i = 2 * x; i < 2 * x + 2; i++) {
                const float e_top = top[i] == out[x] ? 1.0f : 0.0f;
                top_grads[i] = 0.0f + e_top * g[x];
                const float e_bottom = bottom[i] == out[x] ? 1.0f : 0.0f;
                bottom_grads[i] = 0.0f + e_bottom * g[x];
            }
    }
}

}  // namespace

void forward_maxpool_lanes(MaxPoolLayer& l) { forward_maxpool_by_two(l); }
void backward_maxpool_lanes(MaxPoolLayer& l, const Tensor& next) { backward_maxpool_by_two(l, next); }

}  // namespace tavelin::TAVELIN_LEVEL
