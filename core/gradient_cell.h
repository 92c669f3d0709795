// The one weight update rule: gradient descent with momentum and weight
// decay at a fixed learning rate. Every weight of the network moves by it.
#pragma once

#include <cstdint>
#include <cstring>

namespace tavelin {

struct GradientCell {
    float value = 0.0f;    // this step's gradient, written by backward
    float carried = 0.0f;  // momentum-carried gradient over all steps so far
};

// A compile-time bit cast (GCC and Clang), so that the constants below are
// constants: the same four bytes in every file, whatever its instruction
// set, with nothing to initialise at start.
constexpr float float_from_bits(uint32_t bits) { return __builtin_bit_cast(float, bits); }

inline uint32_t bits_of(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// The constants are given by their bit patterns: the decay is one unit in
// the last place above the float nearest to 0.00001, and must stay so.
inline constexpr float momentum = float_from_bits(0x3F19999Au);       // 0.6
inline constexpr float learning_rate = float_from_bits(0x3C23D70Au);  // 0.01
inline constexpr float weight_decay = float_from_bits(0x3727C5ADu);   // ~1.00000007e-5

// carried * momentum + value, two rounded float operations.
float carry_gradient(const GradientCell& cell);

// New weight, one rounded operation at a time:
//   g = carried*momentum + value; s = g*rate*m; s = s + w*decay; w - s.
// The convolution layer passes m = 1, which leaves s unchanged.
float update_weight(float w, const GradientCell& cell, float m);

}  // namespace tavelin
