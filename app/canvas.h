// The drawing canvas: the 28 x 28 picture the user draws on with the mouse,
// stretched over the window's client area on every paint, and what Enter
// hands to recognition. Nothing here repaints or calls the window system.
#pragma once

#include <cstdint>

#include "training/samples.h"

namespace tavelin {

constexpr int32_t canvas_side = 28;
constexpr int32_t canvas_last_index = canvas_side - 1;

// Byte order as the window system's 32-bit bitmaps lay out a pixel.
struct Pixel {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t unused;  // 255 after clearing, never changed otherwise
};
static_assert(sizeof(Pixel) == 4, "the canvas is handed to the window system as 4 bytes per pixel");

// Row-major, top row first: pixel (x, y) is canvas[x + 28 * y]. White is
// background, dark is ink. All zero until the window clears it.
extern Pixel canvas[canvas_side * canvas_side];
// The bitmap size the window paints and the scale of the mouse position;
// 0 until the window sets both to 28.
extern int32_t canvas_width;
extern int32_t canvas_height;

struct Color {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
};

constexpr Color ink_color{9, 0, 0};
constexpr Color shade_amount{64, 64, 64};

// Every byte of every pixel becomes 255.
void clear_canvas();
// Sets pixel (x, y) to `color`; x or y outside 0..27 changes nothing.
void plot_point(int32_t x, int32_t y, Color color);
// Takes `amount` off each colour byte of pixel (x, y), stopping at 0; a
// black pixel, and x or y outside 0..27, change nothing.
void shade_point(int32_t x, int32_t y, Color amount);
// One step of drawing: ink the cell under the mouse and shade the eight
// around it. A zero client size (or any position whose cell is not a
// finite number in range) changes nothing.
void draw_at(uint16_t mouse_x, uint16_t mouse_y, uint32_t client_width, uint32_t client_height);
// 784 bytes for recognition, row-major: 255 minus each pixel's blue byte,
// so white gives 0 and ink gives up to 255.
void canvas_to_bytes(uint8_t* out);
// Which image of the file the canvas shows, counting from 0, and how many
// complete images the file holds; record -1 when none was shown.
struct ShownSample {
    int64_t record = -1;
    int64_t records = 0;
};

// Puts training image number rand() % 60000 (counting from 1) on the
// canvas, read afresh (and unpacked when gzipped) from the training image
// file `image_path`. Numbers the file does not have wrap around onto its
// images; an unreadable file, or one without a complete image, leaves the
// canvas as it is and says so on standard error.
ShownSample show_random_sample(const char* image_path = default_image_path.c_str());

}  // namespace tavelin
