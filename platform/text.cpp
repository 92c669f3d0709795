// DrawTextA: the device context's default look, black text on an opaque
// white background, in the system's default sans-serif font. Text is UTF-8,
// as paths and everything else are on this system.
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Opened on first use; null (said once on standard error) when no font
// can be had, and then text is simply not drawn.
TTF_Font* text_font() {
    static bool tried = false;
    static TTF_Font* font = nullptr;
    if (tried) return font;
    tried = true;
    if (TTF_Init() != 0) {
        std::fprintf(stderr, "no text in the window: cannot start the font renderer: %s\n", TTF_GetError());
        return nullptr;
    }
    FontFile file;
    const bool found = find_sans_serif(&file);
    // The font's file is all fontconfig was needed for.
    FcFini();
    if (!found) {
        std::fprintf(stderr, "no text in the window: fontconfig finds no sans-serif font\n");
        return nullptr;
    }
    font = TTF_OpenFontIndex(file.path.c_str(), text_pixel_size, file.index);
    std::atexit([] {
        if (font != nullptr) TTF_CloseFont(font);
        font = nullptr;
        TTF_Quit();
    });
    if (font == nullptr)
        std::fprintf(stderr, "no text in the window: cannot open the font %s: %s\n", file.path.c_str(),
                     TTF_GetError());
    return font;
}

// One line at (x, y), clipped to `clip`.
void draw_line(TTF_Font* font, const std::string& line, int32_t x, int32_t y, const RECT& clip,
               PixelBuffer& to) {
    if (line.empty()) return;
    const int32_t line_height = TTF_FontLineSkip(font);
    const SDL_Color black{0, 0, 0, 255};
    const SDL_Color white{255, 255, 255, 255};
    SDL_Surface* text = TTF_RenderUTF8_Shaded(font, line.c_str(), black, white);
    if (text == nullptr) return;
    SDL_Surface* converted = SDL_ConvertSurfaceFormat(text, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(text);
    if (converted == nullptr) return;
    // The opaque background covers the whole line cell.
    const RECT cell = intersect(clip, RECT{x, y, x + converted->w, y + std::max(line_height, converted->h)});
    fill(to, cell, 0xFF, 0xFF, 0xFF);
    SDL_LockSurface(converted);
    for (int32_t row = cell.top; row < cell.bottom; row++) {
        const int32_t sy = row - y;
        if (sy >= converted->h) break;
        const auto* src = static_cast<const uint8_t*>(converted->pixels) + size_t(sy) * size_t(converted->pitch);
        for (int32_t col = cell.left; col < cell.right; col++) {
            const uint32_t argb = reinterpret_cast<const uint32_t*>(src)[col - x];
            uint8_t* p = to.pixel(col, row);
            p[0] = uint8_t(argb);
            p[1] = uint8_t(argb >> 8);
            p[2] = uint8_t(argb >> 16);
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
    TTF_Font* font = text_font();
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
        draw_line(font, line, rect->left, y, clip, *to);
        y += line_height;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return y - rect->top;
}
