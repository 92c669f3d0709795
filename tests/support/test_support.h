// Small helpers shared by the test programs.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>

#include "core/tensor.h"

namespace tavelin::test_util {

inline Tensor tensor_of(std::initializer_list<float> values, int32_t sy = 1, int32_t sz = 1) {
    Tensor t(int32_t(values.size()) / (sy * sz), sy, sz);
    int32_t i = 0;
    for (float v : values) t[i++] = v;
    return t;
}

inline Tensor filled(Shape s, float v) {
    Tensor t(s);
    for (int32_t i = 0; i < t.count(); i++) t[i] = v;
    return t;
}

inline Tensor random_tensor(Shape s, std::mt19937& rng, float lo = -1.0f, float hi = 1.0f) {
    std::uniform_real_distribution<float> d(lo, hi);
    Tensor t(s);
    for (int32_t i = 0; i < t.count(); i++) t[i] = d(rng);
    return t;
}

template <typename T>
bool same_bits(const TensorOf<T>& a, const TensorOf<T>& b) {
    return a.size_x == b.size_x && a.size_y == b.size_y && a.size_z == b.size_z &&
           std::memcmp(a.data, b.data, size_t(a.count()) * sizeof(T)) == 0;
}

}  // namespace tavelin::test_util
