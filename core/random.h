// The program's one pseudo-random sequence. It is never seeded, so every
// run draws the same values: the initial weights and the training images
// that Tab shows are identical from run to run and on every platform. The
// C library's rand() differs between platforms, so this is our own, with
// the classic linear-congruential formula that yields 0 .. 32767.
#pragma once

#include <cstdint>

namespace tavelin {

constexpr int32_t rand_max = 32767;

// Next value, 0 .. 32767. The first three after start-up are 41, 18467, 6334.
int32_t rand();

// Generator state, for tests and tools that replay a sequence from the start.
uint32_t rand_state();
void set_rand_state(uint32_t state);
constexpr uint32_t rand_initial_state = 1;

}  // namespace tavelin
