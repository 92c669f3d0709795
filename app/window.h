// The program's one window: entry point, message handling, painting.
//
// Written against the Win32 API. The handlers' logic (training on the
// first timer tick, the key commands, drawing with the mouse, the status
// line) works on the state below; the Win32 calls around it are the only
// contact with the window system.
#pragma once

#include <cstdint>
#include <string>

#include "app/canvas.h"
#include "app/stroke.h"
#include "platform/win32.h"
#include "training/data_folder.h"
#include "training/network.h"

namespace tavelin {

// Client area size from the latest WM_SIZE.
extern uint32_t client_width;
extern uint32_t client_height;
// Where the status line is drawn and what every timer tick invalidates:
// the whole client area once the first WM_SIZE has come.
extern RECT text_rect;
// Set once the first timer tick's training has returned; never cleared.
extern bool network_ready;
// Training returned without building a network: no training data.
extern bool training_data_missing;
// Where find_training_data looked, for the message when there is none.
extern DataFolders training_data_folders;
// Enter recognises the canvas exactly as drawn (tavelin --as-drawn) rather
// than fitted into the shape of the training digits first.
extern bool recognize_as_drawn;
// What the first timer tick trains with: the program's fixed files and
// step bound. Only tests change it, to train on a few steps.
extern TrainingConfig window_training_config;

// Looks for the training files as the program does before its window
// opens (find_data_folder) and points window_training_config at them.
void find_training_data();

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// What both windows do on creation before placing themselves: no stroke
// under way, a white 28 x 28 canvas.
void begin_drawing(Stroke& stroke);
// A memory DC that holds a copy of width x height pixels, to draw on
// before it goes to the window.
struct PixelsDc {
    HDC memory;
    HBITMAP bitmap;
    HGDIOBJ previous;
    int32_t width, height;
};
PixelsDc pixels_dc(HDC dc, const Pixel* pixels, int32_t width, int32_t height);
// Copies the memory DC's picture, stretched, to dest_width x dest_height at
// the client area's corner, and frees it.
void stretch_and_release(HDC dc, PixelsDc& m, int dest_width, int dest_height);
// Copies the canvas, stretched, over the whole client area.
void paint_window(HDC dc);
// The status line for the current state.
std::string format_status_text();

}  // namespace tavelin
