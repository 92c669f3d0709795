// The explorer (tavelin --explore): the program's second face. The same
// network, trained by the same steps as in the plain window, but in slices
// between repaints, so that the window shows it learning; then the answer
// to a drawing as soon as the stroke ends, with all ten scores, the image
// the network was given, its filters and what they make of the drawing.
#pragma once

#include "platform/win32.h"

namespace tavelin {

// Outer size asked for when the window is made: a 720 x 480 client area
// and a frame fit on a 1280 x 800 screen.
constexpr int explorer_x = 80, explorer_y = 60, explorer_width = 736, explorer_height = 520;

LRESULT CALLBACK explorer_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace tavelin
