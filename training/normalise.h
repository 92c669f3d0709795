// A person's drawing brought into the shape of the training images, and
// read: what the window's Enter and tavelin-train --normalise recognise.
#pragma once

#include <cstdint>

#include "training/network.h"

namespace tavelin {

// The side of the box the training images' digits were fitted into.
constexpr int32_t digit_box_side = 20;

// Fits the ink of a 28 x 28 image (row-major bytes, 0 background) into a
// 20 x 20 box the way the training images were made: the ink's bounding box
// is scaled, aspect kept, until its longer side is 20 pixels, resampled by
// area averaging, and placed in `out` with its centre of mass (weighted by
// the byte values) on the whole pixel nearest the image's centre. Ink that
// such a shift would move off the image is dropped. Returns false, with
// `out` all zero, when there is no ink. `pixels` and `out` must not overlap.
bool normalise_digit(const uint8_t* pixels, uint8_t* out);

// The digit a person drew: -1 when the image has no ink at all (nothing is
// recognised and `confidences` stay as they were), else `recognize` on the
// normalised image, or on the image exactly as given when `as_drawn`.
int32_t recognize_drawing(Network& network, const uint8_t* pixels, bool as_drawn);

}  // namespace tavelin
