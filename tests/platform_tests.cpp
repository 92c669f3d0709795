// The Win32 layer on SDL, run headless on SDL's dummy video driver: the
// messages a window gets, in the order the window program relies on, and
// the pixels that GDI calls leave in the client area.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "headless.h"
#include "platform/win32.h"

namespace {

using tavelin::headless::client_pixels;

struct Received {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

std::vector<Received> received;
HWND hwnd_in_create = nullptr;
bool create_fails = false;
// What the window does on WM_PAINT; by default whatever DefWindowProcA does.
std::function<void(HWND)> on_paint;

LRESULT CALLBACK recording_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    received.push_back({message, wparam, lparam});
    switch (message) {
        case WM_CREATE:
            hwnd_in_create = hwnd;
            return create_fails ? -1 : 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            if (on_paint) {
                on_paint(hwnd);
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

const char* const test_class = "LayerTest";

void register_test_class() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = recording_proc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = test_class;
    ASSERT_NE(RegisterClassA(&wc), 0);
    registered = true;
}

int count_of(UINT message) {
    int n = 0;
    for (const Received& r : received) n += r.message == message;
    return n;
}

struct Bgrx {
    int b, g, r;
    bool operator==(const Bgrx& o) const { return b == o.b && g == o.g && r == o.r; }
};
std::ostream& operator<<(std::ostream& os, const Bgrx& c) { return os << "(" << c.b << ", " << c.g << ", " << c.r << ")"; }

Bgrx pixel_of(const tavelin::platform::PixelBuffer& p, int x, int y) {
    const uint8_t* q = &p.bgrx[size_t(4) * size_t(y * p.width + x)];
    return Bgrx{q[0], q[1], q[2]};
}

const Bgrx white{255, 255, 255};
const Bgrx black{0, 0, 0};

class Layer : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        register_test_class();
        received.clear();
        on_paint = nullptr;
        create_fails = false;
        hwnd_ = CreateWindowExA(0, test_class, "layer test", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd_, nullptr);
        SetWindowPos(hwnd_, HWND_TOP, 0, 0, 200, 250, 0);
        ShowWindow(hwnd_, SW_SHOWDEFAULT);
        UpdateWindow(hwnd_);
        received.clear();
    }
    void TearDown() override {
        on_paint = nullptr;
        if (!tavelin::headless::window_exists(hwnd_)) return;
        tavelin::headless::close_window(hwnd_);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) != 0) DispatchMessageA(&msg);
    }
    // The next message the loop hands out, dispatched.
    MSG next() {
        MSG msg{};
        EXPECT_NE(GetMessageA(&msg, nullptr, 0, 0), 0);
        DispatchMessageA(&msg);
        return msg;
    }
    // Fills the client area with one colour through a stretched 1 x 1 bitmap.
    static void paint_all(HDC dc, uint8_t b, uint8_t g, uint8_t r) {
        const uint8_t bits[4] = {b, g, r, 0};
        HBITMAP bitmap = CreateCompatibleBitmap(dc, 1, 1);
        SetBitmapBits(bitmap, 4, bits);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        StretchBlt(dc, 0, 0, 200, 250, memory, 0, 0, 1, 1, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
        DeleteObject(bitmap);
    }

    HWND hwnd_ = nullptr;
};

TEST_F(Layer, CreationSendsWmCreateFromInsideTheCall) {
    received.clear();
    HWND second = CreateWindowExA(0, test_class, "second", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front().message, UINT(WM_CREATE));
    EXPECT_EQ(hwnd_in_create, second);
    tavelin::headless::close_window(second);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) != 0) DispatchMessageA(&msg);
    EXPECT_FALSE(tavelin::headless::window_exists(second));
    EXPECT_TRUE(tavelin::headless::window_exists(hwnd_));
}

TEST_F(Layer, CreationFailsForAnUnknownClassOrWhenWmCreateRefuses) {
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    create_fails = true;
    received.clear();
    EXPECT_EQ(CreateWindowExA(0, test_class, "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_EQ(count_of(WM_DESTROY), 1);
    // The refused window's WM_DESTROY posted a quit; take it off the queue.
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
}

TEST_F(Layer, AClassCanBeRegisteredOnce) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = recording_proc;
    wc.lpszClassName = test_class;
    EXPECT_EQ(RegisterClassA(&wc), 0);
}

TEST_F(Layer, SetWindowPosSendsTheClientSize) {
    SetWindowPos(hwnd_, HWND_TOP, 10, 20, 300, 320, 0);
    ASSERT_EQ(count_of(WM_SIZE), 1);
    EXPECT_EQ(LOWORD(received.back().lparam), 300);
    EXPECT_EQ(HIWORD(received.back().lparam), 320);
    // Even when the size stays the same.
    SetWindowPos(hwnd_, HWND_TOP, 10, 20, 300, 320, 0);
    EXPECT_EQ(count_of(WM_SIZE), 2);
    EXPECT_EQ(client_pixels(hwnd_).width, 300);
    EXPECT_EQ(client_pixels(hwnd_).height, 320);
}

TEST_F(Layer, ATimerTicksAgainAndAgainWithItsIdentifier) {
    ASSERT_EQ(SetTimer(hwnd_, 7, 16, nullptr), UINT_PTR(7));
    for (int tick = 0; tick < 3; tick++) {
        const MSG msg = next();
        EXPECT_EQ(msg.message, UINT(WM_TIMER));
        EXPECT_EQ(msg.wParam, WPARAM(7));
        EXPECT_EQ(msg.hwnd, hwnd_);
    }
}

TEST_F(Layer, InvalidatingGivesOnePaintAndInputComesFirst) {
    SetTimer(hwnd_, 1, 16, nullptr);
    InvalidateRect(hwnd_, nullptr, FALSE);
    InvalidateRect(hwnd_, nullptr, FALSE);
    ASSERT_TRUE(tavelin::headless::press_key(hwnd_, "A"));
    EXPECT_EQ(next().message, UINT(WM_KEYDOWN));
    EXPECT_EQ(next().message, UINT(WM_PAINT));
    // Painted (validated by DefWindowProcA's BeginPaint): no second paint.
    EXPECT_EQ(next().message, UINT(WM_TIMER));
}

TEST_F(Layer, UpdateWindowPaintsAtOnceOnlyWhenSomethingIsInvalid) {
    UpdateWindow(hwnd_);
    EXPECT_EQ(count_of(WM_PAINT), 0);
    InvalidateRect(hwnd_, nullptr, FALSE);
    UpdateWindow(hwnd_);
    EXPECT_EQ(count_of(WM_PAINT), 1);
    UpdateWindow(hwnd_);
    EXPECT_EQ(count_of(WM_PAINT), 1);
}

TEST_F(Layer, KeysGiveTheirVirtualKeyCodesRepeatsIncluded) {
    struct Key {
        const char* name;
        WPARAM code;
    };
    const Key keys[] = {{"Tab", VK_TAB}, {"Return", VK_RETURN}, {"Space", VK_SPACE},
                        {"A", 'A'},      {"7", '7'},            {"Escape", VK_ESCAPE}};
    for (const Key& k : keys) {
        ASSERT_TRUE(tavelin::headless::press_key(hwnd_, k.name)) << k.name;
        const MSG msg = next();
        EXPECT_EQ(msg.message, UINT(WM_KEYDOWN)) << k.name;
        EXPECT_EQ(msg.wParam, k.code) << k.name;
        EXPECT_EQ(msg.lParam & (1 << 30), 0) << k.name;
    }
    ASSERT_TRUE(tavelin::headless::press_key(hwnd_, "Tab", true));
    const MSG repeat = next();
    EXPECT_EQ(repeat.message, UINT(WM_KEYDOWN));
    EXPECT_EQ(repeat.wParam, WPARAM(VK_TAB));
    EXPECT_NE(repeat.lParam & (1 << 30), 0);  // the key was already down
}

// Moves carry the buttons held. A press counts over the client area only;
// a release always reaches the window (placed on its edge), so that a
// stroke dragged out of it still ends.
TEST_F(Layer, MouseMessagesCarryTheButtonsAndClientCoordinates) {
    using namespace tavelin::headless;
    struct Case {
        std::function<void()> input;
        UINT message;
        WPARAM buttons;  // of MK_LBUTTON | MK_RBUTTON | MK_MBUTTON
        int x, y;
    };
    const std::vector<Case> cases = {
        {[&] { move_mouse(hwnd_, 145, 105, left_button); }, WM_MOUSEMOVE, MK_LBUTTON, 145, 105},
        {[&] { move_mouse(hwnd_, 0, 249, no_button); }, WM_MOUSEMOVE, 0, 0, 249},
        {[&] { move_mouse(hwnd_, 10, 10, right_button | middle_button); }, WM_MOUSEMOVE, MK_RBUTTON | MK_MBUTTON,
         10, 10},
        {[&] {
             press_left_button(hwnd_, 300, 10, true);
             press_left_button(hwnd_, 145, 105, true);
         },
         WM_LBUTTONDOWN, MK_LBUTTON, 145, 105},
        {[&] { press_left_button(hwnd_, 300, -20, false); }, WM_LBUTTONUP, 0, 199, 0},
    };
    for (size_t k = 0; k < cases.size(); k++) {
        cases[k].input();
        const MSG msg = next();
        EXPECT_EQ(msg.message, cases[k].message) << "case " << k;
        EXPECT_EQ(msg.wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON), cases[k].buttons) << "case " << k;
        EXPECT_EQ(LOWORD(msg.lParam), cases[k].x) << "case " << k;
        EXPECT_EQ(HIWORD(msg.lParam), cases[k].y) << "case " << k;
    }
}

// Moves outside the client area reach only the window that captured the
// mouse, with their positions signed as Windows gives them.
TEST_F(Layer, MovesOutsideTheClientAreaAreReportedOnlyWhenCaptured) {
    using namespace tavelin::headless;
    for (bool captured : {true, false}) {  // released after the first round
        received.clear();
        if (captured) SetCapture(hwnd_);
        for (auto [x, y] : {std::pair{200, 10}, {10, 250}, {-1, -7}}) move_mouse(hwnd_, x, y, left_button);
        ASSERT_TRUE(press_key(hwnd_, "Space"));
        while (next().message != WM_KEYDOWN) {
        }
        ReleaseCapture();
        std::vector<std::pair<int, int>> moves;
        for (const Received& r : received)
            if (r.message == WM_MOUSEMOVE) moves.push_back({GET_X_LPARAM(r.lparam), GET_Y_LPARAM(r.lparam)});
        EXPECT_EQ(moves.size(), captured ? 3u : 0u);
        EXPECT_TRUE(!captured || (!moves.empty() && moves.back() == std::make_pair(-1, -7)));
    }
}

TEST_F(Layer, ClosingDestroysTheWindowAndTheQuitEndsTheLoop) {
    tavelin::headless::close_window(hwnd_);
    MSG msg{};
    msg.wParam = 99;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_EQ(msg.wParam, WPARAM(0));
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[received.size() - 2].message, UINT(WM_CLOSE));
    EXPECT_EQ(received.back().message, UINT(WM_DESTROY));
    EXPECT_FALSE(tavelin::headless::window_exists(hwnd_));
}

TEST_F(Layer, TheQuitMessageCarriesTheExitCode) {
    PostQuitMessage(5);
    MSG msg{};
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_EQ(msg.wParam, WPARAM(5));
}

// A size beyond what the screen surface and memory can hold is clamped
// (the window once tried 4 GB, and overflowed SDL's surface size).
TEST_F(Layer, ResizingSendsTheNewSizeClampedAndRepaintsOnWhite) {
    on_paint = [](HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        (void)dc;
    };
    SetTimer(hwnd_, 1, 16, nullptr);
    struct Case {
        int asked_width, asked_height, width, height;
        bool reported;  // by the window system unasked (no window manager keeps to the largest size)
    };
    for (const Case c : {Case{240, 180, 240, 180, false}, Case{40000, 32767, 8192, 8192, false},
                         Case{9000, 120, 8192, 120, false}, Case{20000, 300, 8192, 300, true}}) {
        received.clear();
        (c.reported ? tavelin::headless::report_window_size
                    : tavelin::headless::resize_window)(hwnd_, c.asked_width, c.asked_height);
        next();  // the resize is sent while fetching; then the erased repaint
        ASSERT_EQ(count_of(WM_SIZE), 1) << c.asked_width;
        EXPECT_EQ(LOWORD(received.front().lparam), c.width);
        EXPECT_EQ(HIWORD(received.front().lparam), c.height);
        int32_t system_width = 0, system_height = 0;  // what the window system was asked back to
        tavelin::headless::window_system_size(hwnd_, &system_width, &system_height);
        EXPECT_TRUE(system_width == c.width && system_height == c.height) << c.asked_width << ": not asked back";
        const auto p = client_pixels(hwnd_);
        ASSERT_EQ(p.width, c.width);
        ASSERT_EQ(p.height, c.height);
        EXPECT_EQ(pixel_of(p, c.width - 1, c.height - 1), white);
    }
    // Asked for by the program itself, too.
    SetWindowPos(hwnd_, HWND_TOP, 0, 0, 100000, 50, 0);
    EXPECT_EQ(client_pixels(hwnd_).width, 8192);
}

TEST_F(Layer, MinimizingLeavesNoClientAreaUntilRestored) {
    SetTimer(hwnd_, 1, 16, nullptr);
    tavelin::headless::minimize_window(hwnd_);
    next();
    ASSERT_EQ(count_of(WM_SIZE), 1);
    EXPECT_EQ(received.front().wparam, WPARAM(SIZE_MINIMIZED));
    EXPECT_EQ(received.front().lparam, LPARAM(0));
    // Nothing to invalidate now.
    InvalidateRect(hwnd_, nullptr, FALSE);
    EXPECT_EQ(next().message, UINT(WM_TIMER));

    received.clear();
    tavelin::headless::restore_window(hwnd_);
    next();
    ASSERT_EQ(count_of(WM_SIZE), 1);
    EXPECT_EQ(LOWORD(received.front().lparam), 200);
    EXPECT_EQ(HIWORD(received.front().lparam), 250);
}

TEST_F(Layer, StretchBltScalesABitmapByNearestNeighbour) {
    // A 2 x 2 bitmap, bytes blue, green, red, unused, top row first.
    static const uint8_t bits[16] = {10, 20, 30, 0, 40, 50, 60, 0,  //
                                     70, 80, 90, 0, 1, 2, 3, 0};
    on_paint = [](HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, 2, 2);
        EXPECT_EQ(SetBitmapBits(bitmap, 16, bits), 16);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        EXPECT_NE(previous, nullptr);
        EXPECT_TRUE(StretchBlt(dc, 0, 0, 200, 250, memory, 0, 0, 2, 2, SRCCOPY));
        // Still selected: cannot be deleted yet.
        EXPECT_FALSE(DeleteObject(bitmap));
        EXPECT_EQ(SelectObject(memory, previous), HGDIOBJ(bitmap));
        EXPECT_TRUE(DeleteDC(memory));
        EXPECT_TRUE(DeleteObject(bitmap));
        EndPaint(hwnd, &ps);
    };
    InvalidateRect(hwnd_, nullptr, FALSE);
    UpdateWindow(hwnd_);
    const auto p = client_pixels(hwnd_);
    // Destination column d shows source column d * 2 / 200.
    EXPECT_EQ(pixel_of(p, 0, 0), (Bgrx{10, 20, 30}));
    EXPECT_EQ(pixel_of(p, 99, 124), (Bgrx{10, 20, 30}));
    EXPECT_EQ(pixel_of(p, 100, 0), (Bgrx{40, 50, 60}));
    EXPECT_EQ(pixel_of(p, 99, 125), (Bgrx{70, 80, 90}));
    EXPECT_EQ(pixel_of(p, 199, 249), (Bgrx{1, 2, 3}));
}

TEST_F(Layer, TheCanvasRowsMapOntoTheClientAreaAsTheMouseMapsBack) {
    // 28 rows over 250 pixels: pixel row y shows canvas row y * 28 / 250,
    // the same cell draw_at finds for a mouse at row y.
    static uint8_t bits[28 * 28 * 4];
    for (int y = 0; y < 28; y++)
        for (int x = 0; x < 28; x++) bits[4 * (x + 28 * y)] = uint8_t(y);
    on_paint = [](HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, 28, 28);
        SetBitmapBits(bitmap, sizeof bits, bits);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        StretchBlt(dc, 0, 0, 200, 250, memory, 0, 0, 28, 28, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
        DeleteObject(bitmap);
        EndPaint(hwnd, &ps);
    };
    InvalidateRect(hwnd_, nullptr, FALSE);
    UpdateWindow(hwnd_);
    const auto p = client_pixels(hwnd_);
    for (int y = 0; y < 250; y++) {
        const int canvas_row = int(28.0f * (float(y) / 250.0f));
        ASSERT_EQ(pixel_of(p, 50, y).b, canvas_row) << "pixel row " << y;
    }
}

TEST_F(Layer, PaintingIsClippedToTheInvalidArea) {
    on_paint = [](HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        paint_all(dc, 0, 0, 0);
        EndPaint(hwnd, &ps);
    };
    const RECT part{10, 10, 20, 30};
    InvalidateRect(hwnd_, &part, FALSE);
    UpdateWindow(hwnd_);
    const auto p = client_pixels(hwnd_);
    EXPECT_EQ(pixel_of(p, 10, 10), black);
    EXPECT_EQ(pixel_of(p, 19, 29), black);
    EXPECT_EQ(pixel_of(p, 20, 10), white);
    EXPECT_EQ(pixel_of(p, 10, 30), white);
}

TEST_F(Layer, OnlyAnErasingInvalidationClearsToTheClassBackground) {
    on_paint = [](HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        paint_all(dc, 0, 0, 0);
        EndPaint(hwnd, &ps);
    };
    InvalidateRect(hwnd_, nullptr, FALSE);
    UpdateWindow(hwnd_);
    ASSERT_EQ(pixel_of(client_pixels(hwnd_), 100, 100), black);

    on_paint = [](HWND hwnd) {  // paints nothing
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
    };
    InvalidateRect(hwnd_, nullptr, FALSE);
    UpdateWindow(hwnd_);
    EXPECT_EQ(pixel_of(client_pixels(hwnd_), 100, 100), black);

    InvalidateRect(hwnd_, nullptr, TRUE);
    UpdateWindow(hwnd_);
    EXPECT_EQ(pixel_of(client_pixels(hwnd_), 100, 100), white);
}

TEST_F(Layer, TextIsBlackOnAnOpaqueWhiteBackgroundAtTheTopLeft) {
    static int height = 0;
    static RECT rect{0, 0, 200, 250};
    on_paint = [](HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        paint_all(dc, 0, 0, 255);  // red everywhere first
        height = DrawTextA(dc, "results: 7 99.5 confidence", -1, &rect, 0);
        EndPaint(hwnd, &ps);
    };
    InvalidateRect(hwnd_, nullptr, FALSE);
    UpdateWindow(hwnd_);
    const auto p = client_pixels(hwnd_);
    ASSERT_GT(height, 8);
    ASSERT_LT(height, 40);
    int dark = 0, white_count = 0, red_in_line = 0;
    int rightmost_ink = 0;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < 200; x++) {
            const Bgrx c = pixel_of(p, x, y);
            if (c == white) white_count++;
            if (c.r < 100 && c.r == c.g && c.g == c.b) {
                dark++;
                rightmost_ink = std::max(rightmost_ink, x);
            }
            if (c == (Bgrx{0, 0, 255}) && x < 40) red_in_line++;
        }
    EXPECT_GT(dark, 50);         // there is text
    EXPECT_GT(white_count, 500);  // on white
    EXPECT_EQ(red_in_line, 0);    // the background is opaque from the left edge
    EXPECT_GT(rightmost_ink, 100);  // the whole line is drawn, not one glyph
    EXPECT_EQ(pixel_of(p, 5, height + 5), (Bgrx{0, 0, 255}));  // below the line: untouched
    EXPECT_EQ(pixel_of(p, 199, 249), (Bgrx{0, 0, 255}));
}

// Text is UTF-8: "Ü" (two bytes) is one letter as wide as "U", not two
// Latin-1 ones ("Ã" and a control character).
TEST_F(Layer, TextIsUtf8) {
    static const char* text = nullptr;
    on_paint = [](HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        paint_all(dc, 255, 255, 255);
        RECT rect{0, 0, 200, 250};
        DrawTextA(dc, text, -1, &rect, 0);
        EndPaint(hwnd, &ps);
    };
    int right[2] = {};
    for (int k : {0, 1}) {
        text = k ? "\xC3\x9C\xC3\x9C\xC3\x9C\xC3\x9C" : "UUUU";
        InvalidateRect(hwnd_, nullptr, FALSE);
        UpdateWindow(hwnd_);
        const auto p = client_pixels(hwnd_);
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 200; x++)
                if (pixel_of(p, x, y).b < 128) right[k] = std::max(right[k], x);
    }
    ASSERT_GT(right[0], 10);
    EXPECT_NEAR(right[1], right[0], 2);
}

TEST_F(Layer, TextIsClippedToItsRectangle) {
    static RECT rect{0, 0, 30, 250};
    on_paint = [](HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        paint_all(dc, 0, 0, 255);
        DrawTextA(dc, "results: 7 99.5 confidence", -1, &rect, 0);
        EndPaint(hwnd, &ps);
    };
    InvalidateRect(hwnd_, nullptr, FALSE);
    UpdateWindow(hwnd_);
    const auto p = client_pixels(hwnd_);
    for (int y = 0; y < 20; y++)
        for (int x = 30; x < 200; x++) ASSERT_EQ(pixel_of(p, x, y), (Bgrx{0, 0, 255})) << x << ", " << y;
}

}  // namespace
