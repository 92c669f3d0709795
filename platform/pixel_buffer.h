// A picture held in memory: what a window shows, or a bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win32.h"

namespace tavelin::platform {

// 32 bits per pixel, bytes blue, green, red, unused; rows top down, no
// padding between rows.
struct PixelBuffer {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bgrx;

    uint8_t* pixel(int32_t x, int32_t y) { return &bgrx[size_t(4) * (size_t(y) * size_t(width) + size_t(x))]; }
};

// White or black (the class background, the text background): every pixel
// of `area` (clipped to the buffer) gets blue, green, red and 0xFF.
void fill(PixelBuffer& buffer, RECT area, uint8_t blue, uint8_t green, uint8_t red);

// A new buffer of the given size, filled white, with the old picture kept
// where both overlap.
void resize_keeping_picture(PixelBuffer& buffer, int32_t width, int32_t height);

}  // namespace tavelin::platform
