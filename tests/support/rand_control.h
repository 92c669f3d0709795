// Steering the program's one pseudo-random sequence in tests.
#pragma once

#include <cstdint>

#include "core/random.h"

namespace tavelin::test_util {

// Makes the next tavelin::rand() return `value` (0 .. 32767).
inline void set_next_rand(int32_t value) {
    // The state after the step must hold `value` in bits 16..30; step back
    // through state' = state * 214013 + 2531011 (mod 2^32).
    const uint32_t next = uint32_t(value) << 16;
    uint32_t inverse = 214013u;  // Newton's iteration for the inverse mod 2^32
    for (int i = 0; i < 5; i++) inverse *= 2u - 214013u * inverse;
    set_rand_state((next - 2531011u) * inverse);
}

}  // namespace tavelin::test_util
