#include "synthetic_images.h"

#include <cmath>
#include <random>

namespace tavelin::test_util {

namespace {

// Uniform in [lo, hi) from raw generator output: the standard
// distributions differ between library implementations.
float uniform(std::mt19937& rng, float lo, float hi) {
    return lo + (hi - lo) * float(rng() >> 8) / 16777216.0f;
}

void draw_strokes(std::mt19937& rng, uint8_t* pixels) {
    const int32_t strokes = 2 + int32_t(rng() % 3);
    for (int32_t s = 0; s < strokes; s++) {
        const float x0 = uniform(rng, 4, 23), y0 = uniform(rng, 4, 23);
        const float x1 = uniform(rng, 4, 23), y1 = uniform(rng, 4, 23);
        const float dx = x1 - x0, dy = y1 - y0;
        const int32_t steps = int32_t(2 * (std::abs(dx) > std::abs(dy) ? std::abs(dx) : std::abs(dy))) + 1;
        for (int32_t t = 0; t <= steps; t++) {
            const float cx = x0 + dx * float(t) / float(steps);
            const float cy = y0 + dy * float(t) / float(steps);
            for (int32_t oy = -1; oy <= 1; oy++)
                for (int32_t ox = -1; ox <= 1; ox++) {
                    const int32_t x = int32_t(cx) + ox, y = int32_t(cy) + oy;
                    if (x < 0 || x >= image_side || y < 0 || y >= image_side) continue;
                    const uint8_t v = ox == 0 && oy == 0 ? 255 : uint8_t(128 + rng() % 101);
                    uint8_t& p = pixels[y * image_side + x];
                    if (v > p) p = v;
                }
        }
    }
}

}  // namespace

std::vector<Sample> synthetic_samples(int32_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Sample> samples;
    samples.reserve(size_t(count));
    for (int32_t k = 0; k < count; k++) {
        uint8_t pixels[image_bytes] = {};
        draw_strokes(rng, pixels);
        Sample s{Tensor(image_side, image_side, 1), Tensor(digit_count, 1, 1)};
        image_from_bytes(pixels, s.image);
        const int32_t label = int32_t(rng() % digit_count);
        for (int32_t j = 0; j < digit_count; j++) s.target[j] = j == label ? 1.0f : 0.0f;
        samples.push_back(std::move(s));
    }
    return samples;
}

}  // namespace tavelin::test_util
