// Fitting a drawing into the shape of the training images, on pictures
// whose result can be worked out by hand.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "training/network.h"
#include "training/normalise.h"
#include "training/samples.h"

namespace tavelin {
namespace {

using Image = std::vector<uint8_t>;

Image picture(const std::function<uint8_t(int32_t r, int32_t c)>& pixel) {
    Image im(image_bytes);
    for (int32_t r = 0; r < image_side; r++)
        for (int32_t c = 0; c < image_side; c++) im[size_t(r * image_side + c)] = pixel(r, c);
    return im;
}

// Rows top..bottom and columns left..right (inclusive) hold `value`.
Image block(int32_t top, int32_t bottom, int32_t left, int32_t right, uint8_t value) {
    return picture([=](int32_t r, int32_t c) {
        return uint8_t(r >= top && r <= bottom && c >= left && c <= right ? value : 0);
    });
}

TEST(Normalise, FitsTheInkIntoTwentyPixelsAndCentresItsMass) {
    struct Case {
        std::string what;
        Image in;
        Image want;
        bool has_ink = true;
    };
    // The centre of mass goes to pixel 14 (counting from 0), where the
    // training images have theirs: a 20-pixel run has its centre at 9.5,
    // so it starts at round(14 - 9.5) = 5 (halves round up).
    const std::vector<Case> cases = {
        {"one pixel grows to the whole box", block(3, 3, 3, 3, 255), block(5, 24, 5, 24, 255)},
        {"twenty rows already: only moved; two columns centred at 0.5 go to 14 and 15",
         block(0, 19, 0, 1, 200), block(5, 24, 14, 15, 200)},
        {"the whole image shrinks to 20 x 20", block(0, 27, 0, 27, 255), block(5, 24, 5, 24, 255)},
        // 28 x 1 becomes 20 x 1 (0.71 rounds to 1): each output pixel averages
        // 28/20 of a row of 255 over a 28/20 x 28/20 area, 255 * 20/28 = 182.1.
        {"a thin line keeps its weight in proportion", block(27, 27, 0, 27, 255), block(14, 14, 5, 24, 182)},
        // Two columns of ten rows, 100 and 50 (mass centre 1/3 of the way):
        // doubled to 4 x 20, the mass centre at x = 1.17 goes to 14: x 13..16.
        {"the centre of mass is weighted by the bytes",
         picture([](int32_t r, int32_t c) { return uint8_t(r < 10 ? (c == 0 ? 100 : c == 1 ? 50 : 0) : 0); }),
         picture([](int32_t r, int32_t c) {
             return uint8_t(r >= 5 && r <= 24 ? (c == 13 || c == 14 ? 100 : c == 15 || c == 16 ? 50 : 0) : 0);
         })},
        {"no ink is no digit", Image(image_bytes, 0), Image(image_bytes, 0), false},
        // 200 * 20/28 = 142.86: rounded, not truncated.
        {"the area average is rounded", block(27, 27, 0, 27, 200), block(14, 14, 5, 24, 143)},
        // Mass centre (19 * 20 * 255) / (20 * 256) = 18.93: the shift is
        // round(14 - 18.93) = -5 (C division would give -4); column 0 falls off.
        {"a shift to the left is rounded as one to the right",
         picture([](int32_t r, int32_t c) { return uint8_t(r < 20 ? (c == 0 ? 1 : c == 19 ? 255 : 0) : 0); }),
         block(5, 24, 14, 14, 255)},
        {"ink in column 0 only is ink", block(0, 19, 0, 0, 255), block(5, 24, 14, 14, 255)},
        // Four pixels of 1 spanning 28 x 28: each shares less than half an
        // output pixel's area, so everything averages to 0: no mass to
        // centre (a division by zero if it were centred).
        {"faint ink that averages to nothing is no digit", picture([](int32_t r, int32_t c) {
             return uint8_t((r == 0 && c == 1) || (r == 1 && c == 0) || (r == 26 && c == 27) || (r == 27 && c == 26));
         }), Image(image_bytes, 0), false},
    };
    for (const Case& c : cases) {
        Image out(image_bytes, 7);
        EXPECT_EQ(normalise_digit(c.in.data(), out.data()), c.has_ink) << c.what;
        for (int32_t i = 0; i < image_bytes; i++)
            if (out[size_t(i)] != c.want[size_t(i)]) {
                ADD_FAILURE() << c.what << ": row " << i / image_side << ", column " << i % image_side << " is "
                              << int(out[size_t(i)]) << ", not " << int(c.want[size_t(i)]);
                break;
            }
    }
}

// A blank canvas is no digit whichever way it is read: an untrained network
// would otherwise give every blank the same digit at about 50 %.
TEST(RecognizeDrawing, ABlankCanvasIsNoDigitAsDrawnOrFitted) {
    Network network;
    build_network(network, Shape{image_side, image_side, 1});
    const Image blank(image_bytes, 0), stroke = block(5, 20, 12, 14, 255);
    for (bool as_drawn : {true, false}) {
        EXPECT_EQ(recognize_drawing(network, blank.data(), as_drawn), -1) << "as drawn: " << as_drawn;
        EXPECT_GE(recognize_drawing(network, stroke.data(), as_drawn), 0) << "as drawn: " << as_drawn;
    }
}

}  // namespace
}  // namespace tavelin
