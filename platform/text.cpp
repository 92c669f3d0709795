// DrawTextA over the backend's font: by default black text on an opaque
// white background at the size of Windows' default font; a font the
// program selected gives its own size and weight, SetTextColor the colour,
// and SetBkMode(TRANSPARENT) leaves the background as it is.
#include <algorithm>
#include <string>

#include "platform/native.h"

using namespace tavelin::platform;

namespace {

// Close to the height of the text Windows draws with a DC's default font.
constexpr int32_t default_pixel_size = 13;

// One line at (x, y), clipped to `clip`: on an opaque white cell, or
// blended over what is there.
void draw_line(const TextLine& line, int32_t x, int32_t y, const RECT& clip, const HDC__& dc, PixelBuffer& to) {
    const RECT cell = intersect(clip, RECT{x, y, x + line.width, y + std::max(line.line_height, line.height)});
    if (dc.background_mode == OPAQUE) fill(to, cell, 0xFF, 0xFF, 0xFF);
    // COLORREF is 0x00BBGGRR; the picture's bytes are blue, green, red.
    const uint32_t ink[3] = {(dc.text_color >> 16) & 0xFF, (dc.text_color >> 8) & 0xFF, dc.text_color & 0xFF};
    for (int32_t row = cell.top; row < cell.bottom && row - y < line.height; row++) {
        const uint8_t* coverage = &line.coverage[size_t(row - y) * size_t(line.width)];
        for (int32_t col = cell.left; col < cell.right; col++) {
            const uint32_t alpha = coverage[col - x];
            uint8_t* p = to.pixel(col, row);
            for (int c = 0; c < 3; c++) p[c] = uint8_t((ink[c] * alpha + p[c] * (255 - alpha) + 127) / 255);
            p[3] = 0xFF;
        }
    }
}

}  // namespace

int WINAPI DrawTextA(HDC dc, LPCSTR text, int length, RECT* rect, UINT) {
    PixelBuffer* to = nullptr;
    RECT clip{};
    if (text == nullptr || rect == nullptr || !drawing_surface(dc, &to, &clip)) return 0;
    const bool default_font = dc->font == nullptr || dc->font->pixel_height <= 0;
    const int32_t pixel_size = default_font ? default_pixel_size : dc->font->pixel_height;
    const bool bold = !default_font && dc->font->bold;
    const std::string all = length < 0 ? std::string(text) : std::string(text, size_t(length));
    clip = intersect(clip, *rect);
    int32_t y = rect->top;
    size_t start = 0;
    TextLine line;
    for (;;) {
        size_t end = all.find('\n', start);
        std::string words = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!words.empty() && words.back() == '\r') words.pop_back();
        if (!render_text_line(words, pixel_size, bold, &line)) return 0;
        draw_line(line, rect->left, y, clip, *dc, *to);
        y += line.line_height;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return y - rect->top;
}
