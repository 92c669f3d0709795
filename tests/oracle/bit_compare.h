// Bit-for-bit comparison of tensors, cells and float lists, reporting the
// first element that differs with both bit patterns.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/tensor.h"

namespace tavelin::oracle {

enum class NaNs {
    Exact,  // every bit must match
    AnyNaN  // two NaNs match whatever their payloads; everything else exactly
};

inline uint32_t float_bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// "0x3f800000": the bit pattern, for failure messages.
inline std::string hex_bits(float f) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", unsigned(float_bits(f)));
    return text;
}

inline bool same_float(float a, float b, NaNs nans) {
    if (nans == NaNs::AnyNaN && std::isnan(a) && std::isnan(b)) return true;
    return float_bits(a) == float_bits(b);
}

inline ::testing::AssertionResult same_floats(const char* what, const float* fast, const float* plain, int64_t count,
                                              NaNs nans = NaNs::Exact) {
    for (int64_t i = 0; i < count; i++)
        if (!same_float(fast[i], plain[i], nans))
            return ::testing::AssertionFailure()
                   << what << ": element " << i << " is " << fast[i] << " (" << hex_bits(fast[i])
                   << ") but the plain loops give " << plain[i] << " (" << hex_bits(plain[i]) << ")";
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult same_tensor(const char* what, const Tensor& fast, const Tensor& plain,
                                              NaNs nans = NaNs::Exact) {
    if (fast.size_x != plain.size_x || fast.size_y != plain.size_y || fast.size_z != plain.size_z)
        return ::testing::AssertionFailure() << what << ": extents differ";
    return same_floats(what, fast.data, plain.data, fast.count(), nans);
}

inline ::testing::AssertionResult same_cells(const char* what, const GradientCell* fast, const GradientCell* plain,
                                             int64_t count, NaNs nans = NaNs::Exact) {
    for (int64_t i = 0; i < count; i++) {
        if (!same_float(fast[i].value, plain[i].value, nans))
            return ::testing::AssertionFailure()
                   << what << ": value of cell " << i << " is " << hex_bits(fast[i].value)
                   << " but the plain loops give " << hex_bits(plain[i].value);
        if (!same_float(fast[i].carried, plain[i].carried, nans))
            return ::testing::AssertionFailure()
                   << what << ": carried of cell " << i << " is " << hex_bits(fast[i].carried)
                   << " but the plain loops give " << hex_bits(plain[i].carried);
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tavelin::oracle
