#include "core/gradient_cell.h"

namespace tavelin {

float carry_gradient(const GradientCell& cell) {
    float g = cell.carried * momentum;
    g = g + cell.value;
    return g;
}

float update_weight(float w, const GradientCell& cell, float m) {
    float g = cell.carried * momentum;
    g = g + cell.value;
    float s = g * learning_rate;
    s = s * m;
    float d = w * weight_decay;
    s = s + d;
    return w - s;
}

}  // namespace tavelin
