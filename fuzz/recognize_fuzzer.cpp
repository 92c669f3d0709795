// recognize on arbitrary 784-byte images, with a small network trained at
// start-up on a synthetic set (a few hundred steps, well under a second).
//
// Input: up to 784 pixel bytes, row-major; a shorter input is padded with
// background (0), a longer one cut. Recognition must return -1 or a digit,
// agree with the confidences it leaves, give the same answer twice, and
// leave the network's weights as they were.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "core/random.h"
#include "fuzz_support.h"
#include "training/network.h"
#include "training/recognize.h"

using namespace tavelin;
using namespace tavelin::fuzz;

namespace {

Network network;
uint8_t probe[784];
float probe_confidences[10];
int32_t probe_digit;

// Digit k: a bright bar on rows 2k+4 and 2k+5 over a faint, varying
// background, so that the network learns to tell ten things apart.
std::vector<Sample> synthetic_samples(int32_t count) {
    std::vector<Sample> samples;
    for (int32_t n = 0; n < count; n++) {
        const int32_t k = n % 10;
        uint8_t pixels[784];
        for (int32_t i = 0; i < 784; i++) pixels[i] = uint8_t(tavelin::rand() % 40);
        for (int32_t c = 0; c < 28; c++) pixels[(2 * k + 4) * 28 + c] = pixels[(2 * k + 5) * 28 + c] = 240;
        Sample s{Tensor(28, 28, 1), Tensor(10, 1, 1)};
        image_from_bytes(pixels, s.image);
        s.target[k] = 1.0f;
        samples.push_back(std::move(s));
    }
    return samples;
}

bool same_bits(const float* a, const float* b) { return std::memcmp(a, b, 10 * sizeof(float)) == 0; }

// The digit the confidences give: the first one strictly above the
// smallest normal float and every earlier maximum.
int32_t digit_of(const float* c) {
    float best = FLT_MIN;
    int32_t digit = -1;
    for (int32_t k = 0; k < 10; k++)
        if (c[k] > best) {
            best = c[k];
            digit = k;
        }
    return digit;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    build_network(network, Shape{28, 28, 1});
    train_on_samples(network, synthetic_samples(100), 300);
    // A fixed image whose answer must not change: recognition that wrote
    // to the weights would show here.
    for (int32_t i = 0; i < 784; i++) probe[i] = uint8_t((i * 7) % 256);
    probe_digit = recognize(network, probe);
    std::memcpy(probe_confidences, confidences, sizeof probe_confidences);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t pixels[784] = {};
    std::memcpy(pixels, data, size < 784 ? size : 784);

    const int32_t digit = recognize(network, pixels);
    FUZZ_CHECK(digit >= -1 && digit <= 9);
    float first[10];
    std::memcpy(first, confidences, sizeof first);
    for (float c : first) FUZZ_CHECK(c >= 0.0f && c <= 100.0f);  // sigmoid outputs x 100
    FUZZ_CHECK(digit == digit_of(first));

    FUZZ_CHECK(recognize(network, pixels) == digit);
    FUZZ_CHECK(same_bits(confidences, first));

    FUZZ_CHECK(recognize(network, probe) == probe_digit);
    FUZZ_CHECK(same_bits(confidences, probe_confidences));
    return 0;
}
