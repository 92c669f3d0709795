// DrawTextA in the system's default sans-serif font: by default black text
// on an opaque white background at the size of Windows' default font; a
// font the program selected gives its own size and weight, SetTextColor
// the colour, and SetBkMode(TRANSPARENT) leaves the background as it is.
// Text is UTF-8, as paths and everything else are on this system.
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/layer_state.h"

using namespace tavelin::platform;

namespace {

// Close to the height of the text Windows draws with a DC's default font.
constexpr int text_pixel_size = 13;

struct FontFile {
    std::string path;
    int index = 0;
};

bool find_sans_serif(FontFile* out) {
    if (!FcInit()) return false;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    if (pattern == nullptr) return false;
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) return false;
    FcChar8* file = nullptr;
    bool found = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr;
    if (found) {
        out->path = reinterpret_cast<const char*>(file);
        int index = 0;
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) out->index = index;
    }
    FcPatternDestroy(match);
    return found;
}

// The face's file, found on first use; empty (said once on standard
// error) when no font can be had, and then text is simply not drawn.
const FontFile* font_file() {
    static bool tried = false;
    static FontFile file;
    static bool found = false;
    if (tried) return found ? &file : nullptr;
    tried = true;
    if (TTF_Init() != 0) {
        std::fprintf(stderr, "no text in the window: cannot start the font renderer: %s\n", TTF_GetError());
        return nullptr;
    }
    found = find_sans_serif(&file);
    // The font's file is all fontconfig was needed for.
    FcFini();
    if (!found) std::fprintf(stderr, "no text in the window: fontconfig finds no sans-serif font\n");
    return found ? &file : nullptr;
}

// The face at one pixel size and weight, opened on first use and kept.
TTF_Font* text_font(int32_t pixel_size, bool bold) {
    static std::map<std::pair<int32_t, bool>, TTF_Font*> opened;
    const auto key = std::make_pair(pixel_size, bold);
    const auto known = opened.find(key);
    if (known != opened.end()) return known->second;
    const FontFile* file = font_file();
    if (file == nullptr) return nullptr;
    // A window being resized asks for a new size on every paint: keep a
    // few sizes, not every one ever asked for.
    constexpr size_t sizes_kept = 16;
    if (opened.size() >= sizes_kept) {
        for (auto& f : opened)
            if (f.second != nullptr) TTF_CloseFont(f.second);
        opened.clear();
    }
    static bool closing_registered = false;
    if (!closing_registered) {
        closing_registered = true;
        std::atexit([] {
            for (auto& f : opened)
                if (f.second != nullptr) TTF_CloseFont(f.second);
            opened.clear();
            TTF_Quit();
        });
    }
    TTF_Font* font = TTF_OpenFontIndex(file->path.c_str(), pixel_size, file->index);
    if (font == nullptr)
        std::fprintf(stderr, "no text in the window: cannot open the font %s: %s\n", file->path.c_str(),
                     TTF_GetError());
    else if (bold)
        TTF_SetFontStyle(font, TTF_STYLE_BOLD);
    opened[key] = font;
    return font;
}

// One line at (x, y), clipped to `clip`: on an opaque white cell, or
// blended over what is there.
void draw_line(TTF_Font* font, const std::string& line, int32_t x, int32_t y, const RECT& clip, const HDC__& dc,
               PixelBuffer& to) {
    if (line.empty()) return;
    const int32_t line_height = TTF_FontLineSkip(font);
    const SDL_Color color{uint8_t(dc.text_color), uint8_t(dc.text_color >> 8), uint8_t(dc.text_color >> 16), 255};
    const SDL_Color white{255, 255, 255, 255};
    const bool opaque = dc.background_mode == OPAQUE;
    SDL_Surface* text = opaque ? TTF_RenderUTF8_Shaded(font, line.c_str(), color, white)
                               : TTF_RenderUTF8_Blended(font, line.c_str(), color);
    if (text == nullptr) return;
    SDL_Surface* converted = SDL_ConvertSurfaceFormat(text, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(text);
    if (converted == nullptr) return;
    // The opaque background covers the whole line cell.
    const RECT cell = intersect(clip, RECT{x, y, x + converted->w, y + std::max(line_height, converted->h)});
    if (opaque) fill(to, cell, 0xFF, 0xFF, 0xFF);
    SDL_LockSurface(converted);
    for (int32_t row = cell.top; row < cell.bottom; row++) {
        const int32_t sy = row - y;
        if (sy >= converted->h) break;
        const auto* src = static_cast<const uint8_t*>(converted->pixels) + size_t(sy) * size_t(converted->pitch);
        for (int32_t col = cell.left; col < cell.right; col++) {
            const uint32_t argb = reinterpret_cast<const uint32_t*>(src)[col - x];
            uint8_t* p = to.pixel(col, row);
            const uint32_t alpha = opaque ? 255 : argb >> 24;
            for (int c = 0; c < 3; c++) {
                const uint32_t ink = (argb >> (8 * c)) & 0xFF;
                p[c] = uint8_t((ink * alpha + p[c] * (255 - alpha) + 127) / 255);
            }
            p[3] = 0xFF;
        }
    }
    SDL_UnlockSurface(converted);
    SDL_FreeSurface(converted);
}

}  // namespace

int WINAPI DrawTextA(HDC dc, LPCSTR text, int length, RECT* rect, UINT) {
    PixelBuffer* to = nullptr;
    RECT clip{};
    if (text == nullptr || rect == nullptr || !drawing_surface(dc, &to, &clip)) return 0;
    const bool default_font = dc->font == nullptr || dc->font->pixel_height <= 0;
    TTF_Font* font = default_font ? text_font(text_pixel_size, false)
                                  : text_font(dc->font->pixel_height, dc->font->bold);
    if (font == nullptr) return 0;
    const std::string all = length < 0 ? std::string(text) : std::string(text, size_t(length));
    clip = intersect(clip, *rect);
    const int32_t line_height = TTF_FontLineSkip(font);
    int32_t y = rect->top;
    size_t start = 0;
    for (;;) {
        size_t end = all.find('\n', start);
        std::string line = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        draw_line(font, line, rect->left, y, clip, *dc, *to);
        y += line_height;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return y - rect->top;
}
