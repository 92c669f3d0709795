// The window's icon on the desktop: the program's own (resource 1 of a
// Windows program, whose .rc file names desktop/tavelin.ico) is here the
// same picture, built in from desktop/tavelin-48.bmp; any other is the
// window system's default.
#include "platform/sdl_native.h"

namespace {

const unsigned char program_icon_bmp[] = {
#include "program_icon_bmp.inc"
};

}  // namespace

namespace tavelin::platform {

void show_icon(SDL_Window* window, HICON icon) {
    if (icon == nullptr || icon->resource != 1) return;
    SDL_Surface* picture = SDL_LoadBMP_RW(SDL_RWFromConstMem(program_icon_bmp, sizeof program_icon_bmp), 1);
    if (picture == nullptr) return;
    SDL_SetWindowIcon(window, picture);
    SDL_FreeSurface(picture);
}

}  // namespace tavelin::platform
