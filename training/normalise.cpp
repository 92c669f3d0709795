#include "training/normalise.h"

#include <algorithm>
#include <cstring>

#include "training/recognize.h"

namespace tavelin {

namespace {

// floor(a / b) for b > 0, whatever the sign of a.
int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The area an output pixel of the scaled box shares with a source pixel,
// along one axis. Lengths are counted in units of 1/20 of a source pixel:
// output pixel o covers [o * longest, (o + 1) * longest) and source pixel s
// covers [s * 20, (s + 1) * 20), so every overlap is a whole number.
int64_t overlap(int32_t o, int32_t s, int32_t longest) {
    const int64_t lo = std::max<int64_t>(int64_t(o) * longest, int64_t(s) * digit_box_side);
    const int64_t hi = std::min<int64_t>(int64_t(o + 1) * longest, int64_t(s + 1) * digit_box_side);
    return hi > lo ? hi - lo : 0;
}

}  // namespace

// Whole numbers throughout: every weight is an exact count of small areas,
// so each byte comes out the same on every platform, build and compiler.
bool normalise_digit(const uint8_t* pixels, uint8_t* out) {
    std::memset(out, 0, image_bytes);

    // The bounding box of the ink.
    int32_t left = image_side, right = -1, top = image_side, bottom = -1;
    for (int32_t r = 0; r < image_side; r++)
        for (int32_t c = 0; c < image_side; c++)
            if (pixels[r * image_side + c] != 0) {
                left = std::min(left, c);
                right = std::max(right, c);
                top = std::min(top, r);
                bottom = std::max(bottom, r);
            }
    if (right < 0) return false;
    const int32_t width = right - left + 1, height = bottom - top + 1;
    const int32_t longest = std::max(width, height);

    // The box in output pixels: the longer side 20, the other rounded to the
    // nearest whole pixel, at least one.
    auto scaled_side = [&](int32_t side) {
        return std::max(1, (2 * side * digit_box_side + longest) / (2 * longest));
    };
    const int32_t box_w = scaled_side(width), box_h = scaled_side(height);

    // Area averaging: each output pixel is the mean of the source pixels
    // under it, weighted by the area it shares with each, rounded to the
    // nearest byte (halves up).
    uint8_t box[digit_box_side * digit_box_side] = {};
    const int64_t area = int64_t(longest) * longest;
    for (int32_t oy = 0; oy < box_h; oy++)
        for (int32_t ox = 0; ox < box_w; ox++) {
            int64_t sum = 0;
            const int32_t sy_first = oy * longest / digit_box_side;
            const int32_t sy_last = std::min(height - 1, ((oy + 1) * longest - 1) / digit_box_side);
            const int32_t sx_first = ox * longest / digit_box_side;
            const int32_t sx_last = std::min(width - 1, ((ox + 1) * longest - 1) / digit_box_side);
            for (int32_t sy = sy_first; sy <= sy_last; sy++)
                for (int32_t sx = sx_first; sx <= sx_last; sx++)
                    sum += overlap(ox, sx, longest) * overlap(oy, sy, longest) *
                           pixels[(top + sy) * image_side + left + sx];
            box[oy * digit_box_side + ox] = uint8_t((2 * sum + area) / (2 * area));
        }

    // Centre of mass, in pixel indices.
    int64_t mass = 0, moment_x = 0, moment_y = 0;
    for (int32_t y = 0; y < box_h; y++)
        for (int32_t x = 0; x < box_w; x++) {
            const int64_t v = box[y * digit_box_side + x];
            mass += v;
            moment_x += x * v;
            moment_y += y * v;
        }
    // Ink too faint to survive the averaging.
    if (mass == 0) return false;

    // The training images have their centre of mass at pixel (14, 14),
    // counting from 0 (half a pixel right of and below the middle of the
    // image): the whole-pixel shift that brings ours nearest to it is
    // round(14 - moment / mass), halves up.
    const int64_t target = image_side / 2;
    const int64_t dx = floor_div(2 * (target * mass - moment_x) + mass, 2 * mass);
    const int64_t dy = floor_div(2 * (target * mass - moment_y) + mass, 2 * mass);
    for (int32_t y = 0; y < box_h; y++)
        for (int32_t x = 0; x < box_w; x++) {
            const int64_t to_x = x + dx, to_y = y + dy;
            if (to_x < 0 || to_y < 0 || to_x >= image_side || to_y >= image_side) continue;
            out[to_y * image_side + to_x] = box[y * digit_box_side + x];
        }
    return true;
}

int32_t recognize_drawing(Network& network, const uint8_t* pixels, bool as_drawn) {
    if (as_drawn) return std::any_of(pixels, pixels + image_bytes, [](uint8_t p) { return p != 0; })
                             ? recognize(network, pixels)
                             : -1;
    uint8_t normalised[image_bytes];
    if (!normalise_digit(pixels, normalised)) return -1;
    return recognize(network, normalised);
}

}  // namespace tavelin
