// GDI32 on pixel buffers: stock brushes, 32-bit compatible bitmaps,
// memory device contexts, nearest-neighbour stretching, and the font and
// colours DrawTextA uses.
#include <algorithm>

#include "platform/layer_state.h"

using namespace tavelin::platform;

namespace {

HBRUSH__ white_brush{GdiKind::Brush, 0xFF, 0xFF, 0xFF, true};
HBRUSH__ black_brush{GdiKind::Brush, 0x00, 0x00, 0x00, true};

// What a new memory DC holds until the program selects its own bitmap.
HBITMAP__* default_bitmap() {
    static HBITMAP__ one_pixel = [] {
        HBITMAP__ b;
        b.pixels.width = b.pixels.height = 1;
        b.pixels.bgrx.assign(4, 0);
        b.stock = true;
        return b;
    }();
    return &one_pixel;
}

// What SelectObject hands back for a DC that had no font of the
// program's selected: selecting it again restores the default font.
HFONT__ default_font{GdiKind::Font, 0, false};

// Largest bitmap handed out, in bytes: beyond this the call fails as it
// would for lack of memory.
constexpr int64_t largest_bitmap_bytes = int64_t(1) << 30;

}  // namespace

namespace tavelin::platform {

HBRUSH stock_brush(const void* object) {
    if (object == &white_brush) return &white_brush;
    if (object == &black_brush) return &black_brush;
    return nullptr;
}

// The pixels a DC draws on and the part of them it may touch.
bool drawing_surface(HDC dc, PixelBuffer** pixels, RECT* clip) {
    if (live_dc(dc) == nullptr) return false;
    if (dc->kind == DcKind::Window) {
        if (live_window(dc->window) == nullptr) return false;
        *pixels = &dc->window->backing;
        *clip = intersect(dc->clip, RECT{0, 0, (*pixels)->width, (*pixels)->height});
        return true;
    }
    if (dc->bitmap == nullptr) return false;
    *pixels = &dc->bitmap->pixels;
    *clip = RECT{0, 0, (*pixels)->width, (*pixels)->height};
    return true;
}

}  // namespace tavelin::platform

HGDIOBJ WINAPI GetStockObject(int object) {
    switch (object) {
        case WHITE_BRUSH: return &white_brush;
        case BLACK_BRUSH: return &black_brush;
        default: return nullptr;
    }
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC, int width, int height) {
    if (width < 0 || height < 0) return nullptr;
    // Windows hands out a 1 x 1 bitmap for an empty size.
    if (width == 0 || height == 0) width = height = 1;
    if (int64_t(width) * int64_t(height) * 4 > largest_bitmap_bytes) return nullptr;
    HBITMAP b = new HBITMAP__;
    b->pixels.width = width;
    b->pixels.height = height;
    b->pixels.bgrx.assign(size_t(width) * size_t(height) * 4, 0);
    layer().bitmaps.push_back(b);
    return b;
}

LONG WINAPI SetBitmapBits(HBITMAP bitmap, DWORD byte_count, const void* bits) {
    HBITMAP b = live_bitmap(bitmap);
    if (b == nullptr || bits == nullptr) return 0;
    const size_t n = std::min<size_t>(byte_count, b->pixels.bgrx.size());
    std::copy_n(static_cast<const uint8_t*>(bits), n, b->pixels.bgrx.data());
    return LONG(n);
}

HDC WINAPI CreateCompatibleDC(HDC) {
    HDC dc = new HDC__;
    dc->kind = DcKind::Memory;
    dc->bitmap = default_bitmap();
    layer().dcs.push_back(dc);
    return dc;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    if (live_dc(dc) == nullptr) return nullptr;
    if (object == &default_font || live_font(object) != nullptr) {
        HFONT previous = dc->font != nullptr ? dc->font : &default_font;
        dc->font = object == &default_font ? nullptr : static_cast<HFONT>(object);
        return previous;
    }
    if (dc->kind != DcKind::Memory) return nullptr;
    HBITMAP b = object == default_bitmap() ? default_bitmap() : live_bitmap(object);
    if (b == nullptr) return nullptr;
    // A bitmap can be selected into one DC at a time.
    if (b != default_bitmap() && b->selected_in != nullptr && b->selected_in != dc) return nullptr;
    HBITMAP previous = dc->bitmap;
    if (previous != nullptr && previous != default_bitmap()) previous->selected_in = nullptr;
    dc->bitmap = b;
    if (b != default_bitmap()) b->selected_in = dc;
    return previous;
}

BOOL WINAPI StretchBlt(HDC dest, int x_dest, int y_dest, int width_dest, int height_dest, HDC src,
                       int x_src, int y_src, int width_src, int height_src, DWORD rop) {
    if (rop != SRCCOPY) return FALSE;
    if (width_dest <= 0 || height_dest <= 0 || width_src <= 0 || height_src <= 0) return FALSE;
    PixelBuffer* to = nullptr;
    PixelBuffer* from = nullptr;
    RECT to_clip{}, from_clip{};
    if (!drawing_surface(dest, &to, &to_clip) || !drawing_surface(src, &from, &from_clip)) return FALSE;
    // Nearest neighbour: destination pixel d shows source pixel
    // floor(d * source size / destination size).
    const RECT area = intersect(to_clip, RECT{x_dest, y_dest, x_dest + width_dest, y_dest + height_dest});
    for (int32_t y = area.top; y < area.bottom; y++) {
        const int64_t sy = y_src + int64_t(y - y_dest) * height_src / height_dest;
        if (sy < 0 || sy >= from->height) continue;
        for (int32_t x = area.left; x < area.right; x++) {
            const int64_t sx = x_src + int64_t(x - x_dest) * width_src / width_dest;
            if (sx < 0 || sx >= from->width) continue;
            std::copy_n(from->pixel(int32_t(sx), int32_t(sy)), 4, to->pixel(x, y));
        }
    }
    return TRUE;
}

BOOL WINAPI DeleteDC(HDC dc) {
    if (live_dc(dc) == nullptr || dc->kind != DcKind::Memory) return FALSE;
    if (dc->bitmap != nullptr && dc->bitmap != default_bitmap()) dc->bitmap->selected_in = nullptr;
    auto& dcs = layer().dcs;
    dcs.erase(std::find(dcs.begin(), dcs.end(), dc));
    delete dc;
    return TRUE;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    if (stock_brush(object) != nullptr || object == default_bitmap() || object == &default_font) return TRUE;
    if (HFONT f = live_font(object)) {
        // A DC that still has it selected draws with the default font.
        for (HDC dc : layer().dcs)
            if (dc->font == f) dc->font = nullptr;
        auto& fonts = layer().fonts;
        fonts.erase(std::find(fonts.begin(), fonts.end(), f));
        delete f;
        return TRUE;
    }
    HBITMAP b = live_bitmap(object);
    if (b == nullptr) return FALSE;
    // Windows refuses to delete a bitmap that is still selected.
    if (b->selected_in != nullptr) return FALSE;
    auto& bitmaps = layer().bitmaps;
    bitmaps.erase(std::find(bitmaps.begin(), bitmaps.end(), b));
    delete b;
    return TRUE;
}

HFONT WINAPI CreateFontA(int height, int, int, int, int weight, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                         DWORD, LPCSTR) {
    // Either sign of the height is taken as pixels: the difference between
    // cell and character height is not worth a second look-up here.
    const int64_t pixels = height < 0 ? -int64_t(height) : int64_t(height);
    HFONT f = new HFONT__;
    f->pixel_height = int32_t(std::min<int64_t>(pixels, 4096));
    f->bold = weight >= 600;
    layer().fonts.push_back(f);
    return f;
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF color) {
    if (live_dc(dc) == nullptr) return 0xFFFFFFFF;  // CLR_INVALID
    const COLORREF previous = dc->text_color;
    dc->text_color = color;
    return previous;
}

int WINAPI SetBkMode(HDC dc, int mode) {
    if (live_dc(dc) == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    const int previous = dc->background_mode;
    dc->background_mode = mode;
    return previous;
}
