// The explorer's picture as a function of its state: known scores give
// known bar lengths, a weight's sign its colour, training's progress the
// progress bar, and no size writes outside the picture.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "app/explorer.h"
#include "app/explorer_picture.h"
#include "app/window.h"
#include "headless.h"
#include "test_files.h"
#include "training/recognize.h"

using namespace tavelin;

namespace {

struct Case {
    const char* name;
    int32_t width, height;
    std::function<void(ExplorerState&)> set;
    // Checks on the picture, given pixel(x, y) and the layout.
    std::function<void(const std::function<Pixel(LONG, LONG)>&, const ExplorerLayout&)> check;
};

bool reddish(Pixel p) { return p.red > p.blue + 60; }
bool bluish(Pixel p) { return p.blue > p.red + 60; }
bool same(Pixel a, Pixel b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }
LONG middle(LONG a, LONG b) { return (a + b) / 2; }

TEST(ExplorerPicture, FollowsTheState) {
    const std::vector<Case> cases = {
        {"bars as long as the scores, the digit's marked", 720, 480,
         [](ExplorerState& s) {
             s.has_answer = true;
             s.scores[3] = 80.0f;
             s.scores[5] = 20.0f;
             s.digit = 3;
         },
         [](auto pixel, const ExplorerLayout& l) {
             for (int32_t d : {3, 5}) {
                 const RECT t = l.bar_track[d];
                 const LONG y = middle(t.top, t.bottom);
                 const LONG end = t.left + (t.right - t.left) * (d == 3 ? 80 : 20) / 100;
                 EXPECT_FALSE(same(pixel(end - 1, y), pixel(end + 1, y))) << d << ": the bar ends at " << end;
                 EXPECT_TRUE(same(pixel(end + 1, y), pixel(t.right - 1, y))) << d;
             }
             const LONG y3 = middle(l.bar_track[3].top, l.bar_track[3].bottom);
             const LONG y5 = middle(l.bar_track[5].top, l.bar_track[5].bottom);
             EXPECT_FALSE(same(pixel(l.bar_track[3].left, y3), pixel(l.bar_track[5].left, y5))) << "digit not marked";
             const LONG y0 = middle(l.bar_track[0].top, l.bar_track[0].bottom);
             EXPECT_TRUE(same(pixel(l.bar_track[0].left, y0), pixel(l.bar_track[0].right - 1, y0))) << "empty bar";
         }},
        {"no answer: every bar empty, the seen image blank", 720, 480, [](ExplorerState& s) { s.scores[3] = 90.0f; },
         [](auto pixel, const ExplorerLayout& l) {
             for (int32_t d = 0; d < digit_count; d++) {
                 const LONG y = middle(l.bar_track[d].top, l.bar_track[d].bottom);
                 EXPECT_TRUE(same(pixel(l.bar_track[d].left, y), pixel(l.bar_track[d].right - 1, y))) << d;
             }
             const Pixel seen = pixel(middle(l.seen.left, l.seen.right), middle(l.seen.top, l.seen.bottom));
             EXPECT_TRUE(seen.red == 255 && seen.green == 255 && seen.blue == 255);
         }},
        {"positive weights red, negative blue, zero white", 1440, 960,
         [](ExplorerState& s) {
             s.has_filters = true;
             for (int32_t i = 0; i < 25; i++) {
                 s.filters[size_t(i)] = 0.5f;
                 s.filters[size_t(25 + i)] = -0.25f;
             }
         },
         [](auto pixel, const ExplorerLayout& l) {
             auto centre = [&](const RECT& r) { return pixel(middle(r.left, r.right), middle(r.top, r.bottom)); };
             EXPECT_TRUE(reddish(centre(l.filters[0])));
             EXPECT_TRUE(bluish(centre(l.filters[1])));
             const Pixel zero = centre(l.filters[2]);
             EXPECT_TRUE(zero.red == 255 && zero.green == 255 && zero.blue == 255);
         }},
        {"the progress bar as far as the steps", 720, 480,
         [](ExplorerState& s) {
             s.run.steps_planned = 1000;
             s.run.steps = 250;
         },
         [](auto pixel, const ExplorerLayout& l) {
             const RECT b = l.progress_bar;
             const LONG y = middle(b.top, b.bottom), end = b.left + (b.right - b.left) / 4;
             EXPECT_FALSE(same(pixel(end - 1, y), pixel(end + 1, y)));
             EXPECT_TRUE(same(pixel(end + 1, y), pixel(b.right - 1, y)));
         }},
    };
    Pixel canvas[image_bytes];
    for (Pixel& p : canvas) p = Pixel{255, 255, 255, 255};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExplorerState state;
        c.set(state);
        std::vector<Pixel> picture(size_t(c.width) * size_t(c.height));
        compose_explorer(state, canvas, c.width, c.height, picture.data());
        c.check([&](LONG x, LONG y) { return picture[size_t(y) * size_t(c.width) + size_t(x)]; },
                explorer_layout(c.width, c.height));
    }
}

// Every size, from one pixel to the largest client area, in a buffer with
// guard pixels after it: a full state writes only its own pixels.
TEST(ExplorerPicture, StaysInsideThePicture) {
    ExplorerState state;
    state.has_answer = state.has_filters = true;
    state.scores.fill(100.0f);
    state.filters.fill(-1.0f);
    state.rectified.fill(2.0f);
    state.pooled.fill(3.0f);
    state.run.steps = state.run.steps_planned = 5000;
    state.run.progress = {50.0f, 40.0f, 1e30f, -1.0f, 10.0f};
    Pixel canvas[image_bytes] = {};
    const Pixel guard{1, 2, 3, 4};
    for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {8192, 1}, {1, 8192}, {719, 481}, {8192, 8192}}) {
        std::vector<Pixel> picture(size_t(w) * size_t(h) + 64, guard);
        compose_explorer(state, canvas, w, h, picture.data());
        for (size_t i = size_t(w) * size_t(h); i < picture.size(); i++)
            ASSERT_TRUE(same(picture[i], guard) && picture[i].unused == 4) << w << " x " << h;
    }
}

// The explorer's window procedure on the headless window layer: it trains
// in slices, takes strokes over the canvas and ignores them elsewhere (also
// at positions no window has), survives any size, clears, and Esc closes it.
TEST(ExplorerWindow, TrainsDrawsClearsAtAnySizeAndQuitsWithEscape) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    const std::string dir = test_util::make_temp_dir();
    ASSERT_EQ(::mkdir((dir + "/data").c_str(), 0755), 0);
    test_util::write_training_set(dir + "/data", 20);
    char old_cwd[4096];
    ASSERT_NE(::getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    find_training_data();
    window_training_config.min_steps = 3000;

    WNDCLASSA wc = {};
    wc.lpfnWndProc = explorer_proc;
    wc.lpszClassName = "ExplorerTest";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND hwnd = CreateWindowExA(0, "ExplorerTest", "Tavelin", WS_OVERLAPPEDWINDOW, 0, 0, 720, 480, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ShowWindow(hwnd, SW_SHOWDEFAULT);
    MSG msg;
    int ticks = 0;
    while (!network_ready && ticks < 100000 && GetMessageA(&msg, nullptr, 0, 0) != 0) {
        ticks += msg.message == WM_TIMER;
        DispatchMessageA(&msg);
    }
    ASSERT_TRUE(network_ready);
    EXPECT_GT(ticks, 1) << "trained in one go";

    auto send = [&](UINT message, WPARAM w, int x, int y) {
        explorer_proc(hwnd, message, w, LPARAM((uint32_t(uint16_t(y)) << 16) | uint16_t(x)));
    };
    auto blank = [] {
        for (const Pixel& p : canvas)
            if (p.blue != 255) return false;
        return true;
    };
    for (auto [w, h] : {std::pair{1, 1}, {0, 0}, {8192, 8192}, {720, 480}}) {
        headless::resize_window(hwnd, w, h);
        UpdateWindow(hwnd);
        // Outside the canvas, and beyond any client area: nothing drawn.
        send(WM_LBUTTONDOWN, MK_LBUTTON, 0xFFFF, 0xFFFF);
        send(WM_MOUSEMOVE, MK_LBUTTON, 0, 0);
        send(WM_LBUTTONUP, 0, 0xFFFF, 0);
        EXPECT_TRUE(blank()) << w << " x " << h;
        UpdateWindow(hwnd);
    }
    const RECT c = explorer_layout(720, 480).canvas;
    send(WM_LBUTTONDOWN, MK_LBUTTON, c.left + 150, c.top + 50);
    send(WM_MOUSEMOVE, MK_LBUTTON, c.left + 160, c.top + 350);
    send(WM_LBUTTONUP, 0, c.left + 160, c.top + 350);
    EXPECT_FALSE(blank());
    EXPECT_GE(recognized_digit, 0) << "no answer on button-up";
    send(WM_RBUTTONDOWN, MK_RBUTTON, 1, 1);
    EXPECT_TRUE(blank());
    EXPECT_EQ(recognized_digit, -1);
    send(WM_KEYDOWN, VK_TAB, 0, 0);
    EXPECT_FALSE(blank());
    UpdateWindow(hwnd);
    send(WM_KEYDOWN, VK_ESCAPE, 0, 0);
    EXPECT_FALSE(headless::window_exists(hwnd));
    while (GetMessageA(&msg, nullptr, 0, 0) != 0) DispatchMessageA(&msg);
    EXPECT_EQ(::chdir(old_cwd), 0);
    test_util::remove_tree(dir);
}

}  // namespace
