#include "core/random.h"

namespace tavelin {

namespace {
uint32_t state = rand_initial_state;
}

int32_t rand() {
    state = state * 214013u + 2531011u;
    return int32_t((state >> 16) & 0x7FFFu);
}

uint32_t rand_state() { return state; }
void set_rand_state(uint32_t s) { state = s; }

}  // namespace tavelin
