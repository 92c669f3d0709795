// Recognising one 28 x 28 image with the trained network.
#pragma once

#include <cstdint>

#include "core/tensor.h"
#include "training/network.h"

namespace tavelin {

// The ten outputs of the latest recognition, times 100.
extern float confidences[digit_count];
// The digit of the latest recognition, or -1 (none yet, or no confidence
// above the threshold).
extern int32_t recognized_digit;

// Every layer forward, first to last; the result is the last layer's output.
void run_forward(Network& network, const Tensor& input);

// `pixels`: 784 bytes, row-major, 0 background .. 255 ink. Each byte is
// divided by 255, as the training images were, before the forward pass.
// Fills `confidences` and returns the first digit with the largest
// confidence, or -1 when none is above the smallest normal float. On an
// empty network returns -1 and leaves `confidences` alone.
int32_t recognize(Network& network, const uint8_t* pixels);

}  // namespace tavelin
