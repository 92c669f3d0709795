// Backward passes checked against finite differences of an independent
// double-precision forward pass, on small random shapes. The loss is
// L = sum_k R_k * output_k, so the gradient handed to backward is R.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/maxpool_layer.h"
#include "layers/relu_layer.h"
#include "test_support.h"

using namespace tavelin;
using namespace tavelin::test_util;

namespace {

using Vec = std::vector<double>;
using Forward = std::function<Vec(const Vec&)>;

Vec to_vec(const Tensor& t) { return Vec(t.data, t.data + t.count()); }

double loss(const Vec& out, const Tensor& r) {
    double l = 0;
    for (size_t k = 0; k < out.size(); k++) l += out[k] * double(r[int32_t(k)]);
    return l;
}

// Central difference of L with respect to element i of x.
double numeric_gradient(const Forward& f, Vec x, size_t i, const Tensor& r) {
    const double h = 1e-4 * std::max(1.0, std::fabs(x[i]));
    const double saved = x[i];
    x[i] = saved + h;
    const double up = loss(f(x), r);
    x[i] = saved - h;
    const double down = loss(f(x), r);
    return (up - down) / (2 * h);
}

void expect_close(double analytic, double numeric, const char* what, size_t i) {
    EXPECT_NEAR(analytic, numeric, 2e-3 * std::max(1.0, std::fabs(numeric))) << what << " element " << i;
}

Vec conv_ref(const Vec& in, Shape is, const std::vector<Vec>& filters, int stride, int extent, Shape os) {
    Vec out(size_t(os.x * os.y * os.z));
    for (int f = 0; f < os.z; f++)
        for (int x = 0; x < os.x; x++)
            for (int y = 0; y < os.y; y++) {
                double s = 0;
                for (int i = 0; i < extent; i++)
                    for (int j = 0; j < extent; j++)
                        for (int z = 0; z < is.z; z++)
                            s += in[size_t((x * stride + i) + (y * stride + j) * is.x + z * is.x * is.y)] *
                                 filters[size_t(f)][size_t(i + j * extent + z * extent * extent)];
                out[size_t(x + y * os.x + f * os.x * os.y)] = s;
            }
    return out;
}

void check_conv(uint16_t stride, uint16_t extent, int32_t filter_count, Shape in_shape, unsigned seed) {
    SCOPED_TRACE(::testing::Message() << "conv stride " << stride << " extent " << extent);
    std::mt19937 rng(seed);
    ConvLayer layer(stride, extent, filter_count, in_shape);
    for (Tensor& f : layer.filters) f = random_tensor(f.shape(), rng);
    const Tensor in = random_tensor(in_shape, rng);
    const Tensor r = random_tensor(layer.output.shape(), rng);
    forward(layer, in);
    backward(layer, r);

    std::vector<Vec> filters;
    for (const Tensor& f : layer.filters) filters.push_back(to_vec(f));
    const Shape os = layer.output.shape();
    const Forward by_input = [&](const Vec& x) { return conv_ref(x, in_shape, filters, stride, extent, os); };
    const Vec x = to_vec(in);
    for (size_t i = 0; i < x.size(); i++)
        expect_close(layer.input_grads[int32_t(i)], numeric_gradient(by_input, x, i, r), "input", i);

    for (size_t f = 0; f < filters.size(); f++) {
        const Forward by_filter = [&](const Vec& w) {
            std::vector<Vec> changed = filters;
            changed[f] = w;
            return conv_ref(x, in_shape, changed, stride, extent, os);
        };
        for (size_t i = 0; i < filters[f].size(); i++)
            expect_close(layer.filter_grads[f][int32_t(i)].value,
                         numeric_gradient(by_filter, filters[f], i, r), "filter", i);
    }
}

TEST(GradientCheck, Convolution) {
    check_conv(1, 3, 3, Shape{7, 6, 2}, 11);
    check_conv(1, 5, 2, Shape{9, 9, 1}, 12);
    check_conv(2, 3, 2, Shape{8, 7, 2}, 13);  // stride does not divide the input
    check_conv(3, 2, 1, Shape{8, 8, 3}, 14);
}

TEST(GradientCheck, Rectifier) {
    std::mt19937 rng(21);
    Tensor in = random_tensor(Shape{5, 4, 3}, rng);
    for (int32_t i = 0; i < in.count(); i++)
        if (std::fabs(in[i]) < 0.05f) in[i] = 0.5f;  // keep away from the kink
    const Tensor r = random_tensor(in.shape(), rng);
    ReluLayer layer(in.shape());
    forward(layer, in);
    backward(layer, r);
    const Forward f = [](const Vec& x) {
        Vec out(x);
        for (double& v : out) v = v < 0 ? 0 : v;
        return out;
    };
    const Vec x = to_vec(in);
    for (size_t i = 0; i < x.size(); i++)
        expect_close(layer.input_grads[int32_t(i)], numeric_gradient(f, x, i, r), "input", i);
}

void check_maxpool(uint16_t stride, uint16_t extent, Shape in_shape, unsigned seed) {
    SCOPED_TRACE(::testing::Message() << "maxpool stride " << stride << " extent " << extent);
    std::mt19937 rng(seed);
    MaxPoolLayer layer(stride, extent, in_shape);
    const Tensor in = random_tensor(in_shape, rng);  // distinct values: no ties
    const Tensor r = random_tensor(layer.output.shape(), rng);
    forward(layer, in);
    backward(layer, r);
    const Shape os = layer.output.shape();
    const Forward f = [&](const Vec& x) {
        Vec out(size_t(os.x * os.y * os.z));
        for (int z = 0; z < os.z; z++)
            for (int ox = 0; ox < os.x; ox++)
                for (int oy = 0; oy < os.y; oy++) {
                    double m = -INFINITY;
                    for (int i = 0; i < extent; i++)
                        for (int j = 0; j < extent; j++)
                            m = std::max(m, x[size_t((ox * stride + i) + (oy * stride + j) * in_shape.x +
                                                     z * in_shape.x * in_shape.y)]);
                    out[size_t(ox + oy * os.x + z * os.x * os.y)] = m;
                }
        return out;
    };
    const Vec x = to_vec(in);
    for (size_t i = 0; i < x.size(); i++)
        expect_close(layer.input_grads[int32_t(i)], numeric_gradient(f, x, i, r), "input", i);
}

TEST(GradientCheck, MaxPooling) {
    check_maxpool(2, 2, Shape{6, 6, 2}, 31);
    check_maxpool(2, 3, Shape{7, 7, 1}, 32);  // overlapping windows
    check_maxpool(2, 2, Shape{5, 7, 2}, 33);  // stride does not divide the input
}

TEST(GradientCheck, Dense) {
    std::mt19937 rng(41);
    const Shape in_shape{3, 2, 2};
    DenseLayer layer(in_shape, 4);
    layer.weights = random_tensor(layer.weights.shape(), rng);
    const Tensor in = random_tensor(in_shape, rng);
    const Tensor r = random_tensor(layer.output.shape(), rng);
    forward(layer, in);
    backward(layer, r);

    const int32_t n = in.count();
    const Forward by_input_and_weights = [&](const Vec& xw) {
        Vec out(4);
        for (int32_t o = 0; o < 4; o++) {
            double s = 0;
            for (int32_t m = 0; m < n; m++) s += xw[size_t(m)] * xw[size_t(n + m + o * n)];
            out[size_t(o)] = 1 / (1 + std::exp(-s));
        }
        return out;
    };
    Vec xw = to_vec(in);
    for (int32_t i = 0; i < layer.weights.count(); i++) xw.push_back(layer.weights[i]);
    for (int32_t m = 0; m < n; m++)
        expect_close(layer.input_grads[m], numeric_gradient(by_input_and_weights, xw, size_t(m), r), "input",
                     size_t(m));
    // d L / d weights(m, o) = cell o's value * input m.
    for (int32_t o = 0; o < 4; o++)
        for (int32_t m = 0; m < n; m++)
            expect_close(double(layer.gradients[size_t(o)].value) * in[m],
                         numeric_gradient(by_input_and_weights, xw, size_t(n + m + o * n), r), "weight",
                         size_t(m + o * n));
}

}  // namespace
