#include "app/canvas.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/random.h"
#include "training/samples.h"

namespace tavelin {

Pixel canvas[canvas_side * canvas_side];
int32_t canvas_width = 0;
int32_t canvas_height = 0;

namespace {

// Tab draws from this many training images: the size of the full set.
constexpr int32_t sample_draw_range = 60000;

Pixel& pixel_at(int32_t x, int32_t y) { return canvas[x + canvas_side * y]; }

// Both coordinates as unsigned, so that a negative one is out of range too.
bool in_canvas(int32_t x, int32_t y) {
    return uint32_t(x) <= uint32_t(canvas_last_index) && uint32_t(y) <= uint32_t(canvas_last_index);
}

uint8_t shaded(uint8_t value, uint8_t amount) {
    const int32_t v = int32_t(value) - int32_t(amount);
    return uint8_t(v < 0 ? 0 : v);
}

// A canvas position truncated toward zero, or none when the float is not a
// number or lies beyond what a 32-bit integer holds (converting those
// would be undefined; no such position is on the canvas anyway).
struct Cell {
    bool valid;
    int32_t index;
};

Cell truncated(float f) {
    if (!(f >= -2147483648.0f && f < 2147483648.0f)) return Cell{false, 0};
    return Cell{true, int32_t(f)};
}

void plot_cell(Cell x, Cell y, Color color) {
    if (x.valid && y.valid) plot_point(x.index, y.index, color);
}

void shade_cell(Cell x, Cell y, Color amount) {
    if (x.valid && y.valid) shade_point(x.index, y.index, amount);
}

}  // namespace

void clear_canvas() { std::memset(canvas, 255, sizeof canvas); }

void plot_point(int32_t x, int32_t y, Color color) {
    if (!in_canvas(x, y)) return;
    Pixel& p = pixel_at(x, y);
    p.blue = color.blue;
    p.green = color.green;
    p.red = color.red;
}

void shade_point(int32_t x, int32_t y, Color amount) {
    if (!in_canvas(x, y)) return;
    Pixel& p = pixel_at(x, y);
    if (p.blue == 0 && p.green == 0 && p.red == 0) return;
    p.blue = shaded(p.blue, amount.blue);
    p.green = shaded(p.green, amount.green);
    p.red = shaded(p.red, amount.red);
}

void draw_at(uint16_t mouse_x, uint16_t mouse_y, uint32_t client_width, uint32_t client_height) {
    // Single precision, quotient first: the cell under the mouse must come
    // out the same wherever this runs.
    const float fx = float(canvas_width) * (float(mouse_x) / float(client_width));
    const float fy = float(canvas_height) * (float(mouse_y) / float(client_height));
    const Cell x = truncated(fx);
    const Cell y = truncated(fy);
    plot_cell(x, y, ink_color);

    // The ring is found from the float position: in the first column or row
    // (0 < f < 1) the "left" or "upper" neighbour truncates onto the cell
    // itself.
    const Cell xr = truncated(fx + 1.0f);
    const Cell xl = truncated(fx - 1.0f);
    const Cell yd = truncated(fy + 1.0f);
    const Cell yu = truncated(fy - 1.0f);
    shade_cell(xr, y, shade_amount);
    shade_cell(xl, y, shade_amount);
    shade_cell(x, yd, shade_amount);
    shade_cell(x, yu, shade_amount);
    shade_cell(xr, yd, shade_amount);
    shade_cell(xl, yu, shade_amount);
    shade_cell(xl, yd, shade_amount);
    shade_cell(xr, yu, shade_amount);
}

void canvas_to_bytes(uint8_t* out) {
    for (int32_t i = 0; i < canvas_side * canvas_side; i++) out[i] = uint8_t(255 - canvas[i].blue);
}

ShownSample show_random_sample(const char* image_path) {
    const int32_t r = tavelin::rand() % sample_draw_range;

    int32_t length = 0;
    std::string why;
    const FileBuffer file = read_data_file(image_path, &length, &why);
    if (!file) {
        std::fprintf(stderr, "cannot show a training image: %s: %s\n", image_path, why.c_str());
        return ShownSample{};
    }
    const int64_t records = complete_image_records(length);
    if (records <= 0) {
        std::fprintf(stderr, "cannot show a training image: %s holds no complete image\n", image_path);
        return ShownSample{};
    }
    // Draws count images from 1. A draw of 0, or one beyond the file's last
    // image, wraps around, so Tab always shows an image of the file.
    int64_t record = (int64_t(r) - 1) % records;
    if (record < 0) record += records;

    const uint8_t* source = file.get() + image_header_bytes + record * image_bytes;
    for (int32_t y = 0; y < canvas_side; y++)
        for (int32_t x = 0; x < canvas_side; x++) {
            const uint8_t v = uint8_t(255 - source[canvas_side * y + x]);
            Pixel& p = pixel_at(x, y);
            p.blue = v;
            p.green = v;
            p.red = v;
        }
    return ShownSample{record, records};
}

}  // namespace tavelin
