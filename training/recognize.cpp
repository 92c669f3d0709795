#include "training/recognize.h"

#include <cfloat>

namespace tavelin {

float confidences[digit_count] = {};
int32_t recognized_digit = -1;

void run_forward(Network& network, const Tensor& input) {
    for (size_t i = 0; i < network.size(); i++)
        forward(*network[i], i == 0 ? input : network[i - 1]->output);
}

int32_t recognize(Network& network, const uint8_t* pixels) {
    if (network.empty()) return -1;
    Tensor input(image_side, image_side, 1);
    // The network learned on pixels / 255; raw bytes would drive every
    // sigmoid into saturation.
    image_from_bytes(pixels, input);
    run_forward(network, input);

    const Tensor& out = network.back()->output;
    // A network whose last layer has fewer than ten outputs must not be
    // read past its end; the program's own always has ten.
    for (int32_t k = 0; k < digit_count; k++) confidences[k] = k < out.count() ? out[k] * 100.0f : 0.0f;

    // Strictly greater, from the smallest normal float: ties go to the
    // lower digit, and zero, negative or NaN confidences never win.
    float best = FLT_MIN;
    int32_t digit = -1;
    for (int32_t k = 0; k < digit_count; k++)
        if (confidences[k] > best) {
            best = confidences[k];
            digit = k;
        }
    return digit;
}

}  // namespace tavelin
