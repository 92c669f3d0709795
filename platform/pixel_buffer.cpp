// Filling and resizing pictures held in memory.
#include "platform/pixel_buffer.h"

#include <algorithm>

#include "platform/layer_state.h"

namespace tavelin::platform {

void fill(PixelBuffer& buffer, RECT area, uint8_t blue, uint8_t green, uint8_t red) {
    area = intersect(area, RECT{0, 0, buffer.width, buffer.height});
    for (int32_t y = area.top; y < area.bottom; y++)
        for (int32_t x = area.left; x < area.right; x++) {
            uint8_t* p = buffer.pixel(x, y);
            p[0] = blue;
            p[1] = green;
            p[2] = red;
            p[3] = 0xFF;
        }
}

void resize_keeping_picture(PixelBuffer& buffer, int32_t width, int32_t height) {
    PixelBuffer next;
    next.width = std::max(width, 0);
    next.height = std::max(height, 0);
    next.bgrx.assign(size_t(4) * size_t(next.width) * size_t(next.height), 0xFF);
    const int32_t w = std::min(buffer.width, next.width);
    const int32_t h = std::min(buffer.height, next.height);
    // A picture of zero width has rows but no storage: nothing to copy,
    // and pixel() on it would index an empty vector.
    if (w > 0)
        for (int32_t y = 0; y < h; y++)
            std::copy_n(buffer.pixel(0, y), size_t(4) * size_t(w), next.pixel(0, y));
    buffer = std::move(next);
}

}  // namespace tavelin::platform
