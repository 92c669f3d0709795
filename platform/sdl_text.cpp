// Text on the desktop: lines in the system's default sans-serif font,
// found with fontconfig and drawn by SDL_ttf. Text is UTF-8, as paths and
// everything else are on this system.
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/native.h"

using namespace tavelin::platform;

namespace {

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

}  // namespace

namespace tavelin::platform {

bool render_text_line(const std::string& line, int32_t pixel_size, bool bold, TextLine* out) {
    TTF_Font* font = text_font(pixel_size, bold);
    if (font == nullptr) return false;
    out->line_height = TTF_FontLineSkip(font);
    out->width = out->height = 0;
    out->coverage.clear();
    if (line.empty()) return true;
    const SDL_Color white{255, 255, 255, 255};
    SDL_Surface* text = TTF_RenderUTF8_Blended(font, line.c_str(), white);
    if (text == nullptr) return true;
    SDL_Surface* converted = SDL_ConvertSurfaceFormat(text, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(text);
    if (converted == nullptr) return true;
    out->width = converted->w;
    out->height = converted->h;
    out->coverage.resize(size_t(out->width) * size_t(out->height));
    SDL_LockSurface(converted);
    for (int32_t y = 0; y < out->height; y++) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(converted->pixels) +
                                                             size_t(y) * size_t(converted->pitch));
        for (int32_t x = 0; x < out->width; x++) out->coverage[size_t(y) * size_t(out->width) + x] = uint8_t(row[x] >> 24);
    }
    SDL_UnlockSurface(converted);
    SDL_FreeSurface(converted);
    return true;
}

}  // namespace tavelin::platform
