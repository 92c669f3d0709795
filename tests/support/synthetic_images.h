// Deterministic stand-ins for training images: a few thick strokes on a
// zero ground, scaled to 0 .. 1 like the loader's images, so that the
// rectifier and the pooling meet the long runs of zeros and ties real
// digits give them. They only have the shapes and value ranges of digits.
#pragma once

#include <cstdint>
#include <vector>

#include "training/samples.h"

namespace tavelin::test_util {

// `count` samples of 28 x 28 x 1 with one-hot targets; the same seed gives
// the same samples on every platform (std::mt19937 output only).
std::vector<Sample> synthetic_samples(int32_t count, uint32_t seed);

}  // namespace tavelin::test_util
