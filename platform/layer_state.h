// What the window layer keeps, whatever the backend (SDL on the desktop,
// the browser's canvas on the web): the records behind the Win32 handles
// and the one process-wide state (classes, windows, input waiting to be
// fetched, the quit request). Internal to platform/.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/pixel_buffer.h"
#include "platform/win32.h"

namespace tavelin::platform {

// Empty when right <= left or bottom <= top.
RECT intersect(const RECT& a, const RECT& b);
RECT bounding_union(const RECT& a, const RECT& b);
bool is_empty(const RECT& r);

struct WindowClass {
    std::string name;
    WNDPROC proc = nullptr;
    UINT style = 0;
    HBRUSH background = nullptr;
    HICON icon = nullptr;
};

struct Timer {
    UINT_PTR id = 0;
    uint32_t period_ms = 0;
    uint64_t due_ms = 0;
};

enum class GdiKind : int32_t { Bitmap = 1, Brush = 2, Font = 3 };
enum class DcKind : int32_t { Window = 1, Memory = 2 };

// The backend's own window (an SDL window, a page's canvas): defined by
// each backend (platform/native.h).
struct NativeWindow;

}  // namespace tavelin::platform

struct HWND__ {
    tavelin::platform::NativeWindow* native = nullptr;
    WNDPROC proc = nullptr;
    UINT class_style = 0;
    HBRUSH background = nullptr;
    int32_t client_width = 0;
    int32_t client_height = 0;
    // The client area's picture: GDI draws here, EndPaint shows it.
    tavelin::platform::PixelBuffer backing;
    bool has_invalid = false;
    RECT invalid{0, 0, 0, 0};
    bool erase_pending = false;
    bool visible = false;
    bool destroyed = false;
    std::vector<tavelin::platform::Timer> timers;
};

// Every GDI object record starts with its kind, so that an HGDIOBJ can be
// told apart before it is used.
struct HBITMAP__ {
    tavelin::platform::GdiKind kind = tavelin::platform::GdiKind::Bitmap;
    tavelin::platform::PixelBuffer pixels;
    HDC selected_in = nullptr;
    bool stock = false;
};

struct HBRUSH__ {
    tavelin::platform::GdiKind kind = tavelin::platform::GdiKind::Brush;
    uint8_t blue = 0, green = 0, red = 0;
    bool stock = true;
};

// pixel_height 0 is the DC's default font.
struct HFONT__ {
    tavelin::platform::GdiKind kind = tavelin::platform::GdiKind::Font;
    int32_t pixel_height = 0;
    bool bold = false;
};

struct HDC__ {
    tavelin::platform::DcKind kind = tavelin::platform::DcKind::Memory;
    HWND window = nullptr;     // window DCs
    HBITMAP bitmap = nullptr;  // memory DCs: the selected bitmap
    RECT clip{0, 0, 0, 0};     // window DCs: the area BeginPaint validated
    HFONT font = nullptr;      // null: the default font
    COLORREF text_color = 0;   // black
    int background_mode = OPAQUE;
};

struct HICON__ {
    int32_t resource = 0;
};

namespace tavelin::platform {

struct LayerState {
    bool backend_ready = false;
    std::vector<WindowClass> classes;
    // Records are never freed, so a handle kept after DestroyWindow stays
    // safe to pass (it is simply no longer live).
    std::vector<std::unique_ptr<HWND__>> windows;
    std::vector<HDC> dcs;
    std::vector<HBITMAP> bitmaps;
    std::vector<HFONT> fonts;
    // Input turned into window messages, oldest first.
    std::deque<MSG> input;
    // The window that gets the mouse wherever it is (SetCapture), or null.
    HWND capture = nullptr;
    bool quit_posted = false;
    int quit_code = 0;
};

LayerState& layer();

HWND live_window(HWND hwnd);
HDC live_dc(HDC dc);
HBITMAP live_bitmap(const void* object);
HFONT live_font(const void* object);
HBRUSH stock_brush(const void* object);

// The pixels a DC draws on and the part of them it may touch; false for a
// DC that is gone or draws nowhere.
bool drawing_surface(HDC dc, PixelBuffer** pixels, RECT* clip);

// The largest client width and height a window gets. Larger than any
// display made today (8K is 7680 x 4320), and small enough that the two
// copies of the picture (ours and the backend's, 4 bytes a pixel) stay
// within 512 MiB: SDL 2.26 overflows a 32-bit size past 23170 a side.
constexpr int32_t largest_client_side = 8192;

// Sets the recorded client size (limited to largest_client_side); when it
// changed, resizes the backing picture, asks for a whole erased repaint and
// sends WM_SIZE.
void resize_client(HWND hwnd, int32_t width, int32_t height, WPARAM kind);
void send_size(HWND hwnd, WPARAM kind);
void destroy_window(HWND hwnd);
// A message record stamped with the current time.
MSG message_for(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Queues input for GetMessageA, stamped with the current time.
void queue_input(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// The client position as mouse messages carry it: x low, y high.
LPARAM client_position(int32_t x, int32_t y);

// What GetMessageA hands out next, in Windows' order: queued input, then
// the quit request, then a paint, then a due timer (only when `timers`).
// Returns Message with *msg filled, Quit (the quit message in *msg), or
// Nothing with *wait_ms how long until a timer is due (1000 when none is);
// NoWindow when no live window is left to send anything.
enum class NextMessage : int32_t { Message = 1, Quit = 2, Nothing = 3, NoWindow = 4 };
NextMessage next_message(MSG* msg, bool timers, int* wait_ms);

}  // namespace tavelin::platform
