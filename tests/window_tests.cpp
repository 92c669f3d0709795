// The window procedure, driven message by message on SDL's dummy video
// driver: creation, the training trigger, the key and mouse commands, the
// status line and what a paint leaves in the client area.
//
// The network is a static of the window procedure and is trained at most
// once per process; the tests that train say so and skip when an earlier
// test in the same process already did (CTest runs each test in a process
// of its own).
#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/canvas.h"
#include "app/window.h"
#include "core/random.h"
#include "headless.h"
#include "program_window.h"
#include "rand_control.h"
#include "test_files.h"
#include "training/recognize.h"

namespace tavelin {
namespace {

bool trained_in_this_process = false;

constexpr int32_t training_images = 20;

struct Bgrx {
    int b, g, r;
    bool operator==(const Bgrx& o) const { return b == o.b && g == o.g && r == o.r; }
};
std::ostream& operator<<(std::ostream& os, const Bgrx& c) { return os << "(" << c.b << ", " << c.g << ", " << c.r << ")"; }

Bgrx pixel_of(const platform::PixelBuffer& p, int x, int y) {
    const uint8_t* q = &p.bgrx[size_t(4) * size_t(y * p.width + x)];
    return Bgrx{q[0], q[1], q[2]};
}

const Bgrx white{255, 255, 255};

// Pixels of the top 16 rows that are not white: the status line's ink.
int text_ink(const platform::PixelBuffer& p) {
    int n = 0;
    for (int y = 0; y < 16 && y < p.height; y++)
        for (int x = 0; x < p.width; x++) n += !(pixel_of(p, x, y) == white);
    return n;
}

std::vector<uint8_t> top_rows(const platform::PixelBuffer& p) {
    return std::vector<uint8_t>(p.bgrx.begin(), p.bgrx.begin() + 4 * 16 * p.width);
}

// A working directory of its own with a small training set in data/, an
// empty user's data folder, and a window created, shown and painted the
// way WinMain does it.
class Window : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        dir_ = test_util::make_temp_dir();
        ASSERT_EQ(::mkdir((dir_ + "/data").c_str(), 0755), 0);
        test_util::write_training_set(dir_ + "/data", training_images);
        char cwd[4096];
        ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
        old_cwd_ = cwd;
        ASSERT_EQ(::chdir(dir_.c_str()), 0);
        setenv("XDG_DATA_HOME", (dir_ + "/user").c_str(), 1);
        find_training_data();

        // The state a fresh process starts with.
        network_ready = false;
        training_data_missing = false;
        recognized_digit = -1;
        client_width = client_height = 0;
        text_rect = RECT{0, 0, 1, 1};
        std::memset(canvas, 0, sizeof canvas);
        canvas_width = canvas_height = 0;
        // 1000 steps (50 passes over 20 images): one progress line.
        window_training_config.min_steps = 1000;

        hwnd_ = test_util::open_program_window();
        ASSERT_NE(hwnd_, nullptr);
    }
    void TearDown() override {
        if (headless::window_exists(hwnd_)) {
            // Keeps a pending first tick from training while closing.
            network_ready = true;
            headless::close_window(hwnd_);
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) != 0) DispatchMessageA(&msg);
        }
        EXPECT_EQ(::chdir(old_cwd_.c_str()), 0);
        test_util::remove_tree(dir_);
    }

    LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
        return window_proc(hwnd_, message, wparam, lparam);
    }
    // As mouse messages carry it: 16 bits each, signed.
    static LPARAM position(int x, int y) { return LPARAM((uint32_t(uint16_t(y)) << 16) | uint32_t(uint16_t(x))); }
    // The repaint a timer tick asks for, done now.
    platform::PixelBuffer repaint() {
        UpdateWindow(hwnd_);
        return headless::client_pixels(hwnd_);
    }
    std::vector<uint8_t> canvas_bytes() const {
        const auto* b = reinterpret_cast<const uint8_t*>(canvas);
        return std::vector<uint8_t>(b, b + sizeof canvas);
    }
    // Fetches and dispatches messages until one of `message` has been handled.
    MSG pump_until(UINT message) {
        MSG msg{};
        for (int i = 0; i < 1000; i++) {
            if (GetMessageA(&msg, nullptr, 0, 0) == 0) break;
            DispatchMessageA(&msg);
            if (msg.message == message) return msg;
        }
        ADD_FAILURE() << "message " << message << " never came";
        return msg;
    }

    HWND hwnd_ = nullptr;
    std::string dir_, old_cwd_;
};

TEST_F(Window, CreationClearsTheCanvasPlacesTheWindowAndShowsLoading) {
    for (const Pixel& p : canvas) {
        ASSERT_EQ(p.blue, 255);
        ASSERT_EQ(p.unused, 255);
    }
    EXPECT_EQ(canvas_width, 28);
    EXPECT_EQ(canvas_height, 28);
    // No window frame under the headless driver: outer size = client size.
    EXPECT_EQ(client_width, 200u);
    EXPECT_EQ(client_height, 250u);
    EXPECT_EQ(text_rect.left, 0);
    EXPECT_EQ(text_rect.top, 0);
    EXPECT_EQ(text_rect.right, 200);
    EXPECT_EQ(text_rect.bottom, 250);

    EXPECT_EQ(format_status_text(), "Loading Training data");
    const auto p = headless::client_pixels(hwnd_);
    ASSERT_EQ(p.width, 200);
    ASSERT_EQ(p.height, 250);
    EXPECT_GT(text_ink(p), 30);
    EXPECT_EQ(pixel_of(p, 100, 125), white);
    EXPECT_EQ(pixel_of(p, 199, 249), white);
}

TEST_F(Window, TheTimerTicksAndEachTickRepaints) {
    network_ready = true;  // no training in this test
    pump_until(WM_TIMER);
    pump_until(WM_PAINT);
    pump_until(WM_TIMER);
}

TEST_F(Window, TheStatusLineFollowsTheState) {
    network_ready = false;
    EXPECT_EQ(format_status_text(), "Loading Training data");
    network_ready = true;
    recognized_digit = -1;
    EXPECT_EQ(format_status_text(), "results: -1 0.0 confidence");
    recognized_digit = 3;
    confidences[3] = 87.5f;
    EXPECT_EQ(format_status_text(), "results: 3 87.5 confidence");
    confidences[3] = 5.0f;
    EXPECT_EQ(format_status_text(), "results: 3 5.0 confidence");
    recognized_digit = 9;
    confidences[9] = 100.0f;
    EXPECT_EQ(format_status_text(), "results: 9 100.0 confidence");
    training_data_missing = true;
    training_data_folders.looked_in = {"/home/someone/data", "/home/someone/.local/share/tavelin/data"};
    training_data_folders.user_folder = "/home/someone/.local/share/tavelin/data";
    // Lines short enough for the narrow window; paths broken after a slash.
    EXPECT_EQ(format_status_text(),
              "No training data in\n/home/someone/data nor in\n/home/someone/.local/share/\ntavelin/data. Needed:\n"
              "train-images.idx3-ubyte,\ntrain-labels.idx1-ubyte,\nt10k-images.idx3-ubyte and\n"
              "t10k-labels.idx1-ubyte, or\nas downloaded.\ntavelin-get-data fetches the\nfull set into\n"
              "/home/someone/.local/share/\ntavelin/data; in the source\ntree, scripts/get-data fills\ndata/.");
    // UTF-8 paths: lines are counted in characters and never cut inside one
    // ("Ü" is two bytes).
    training_data_folders.looked_in = {"/home/jörg/Übungsdaten/data", "/" + std::string(30 * 2, 'x')};
    for (size_t k = 0; k < 30; k++) training_data_folders.looked_in[1].replace(1 + 2 * k, 2, "Ü");
    const std::string text = format_status_text();
    EXPECT_EQ(text.substr(0, text.find("nor in")), "No training data in\n/home/jörg/Übungsdaten/data\n") << text;
    std::string ue27;
    for (int k = 0; k < 27; k++) ue27 += "Ü";
    EXPECT_NE(text.find("nor in\n/" + ue27 + "\nÜÜÜ."), std::string::npos) << text;
}

// Each handled message returns 0 and does its work: a handler that passed
// it on to DefWindowProcA would still return 0, so what it changed is
// checked too.
TEST_F(Window, EveryHandledMessageReturnsZeroAndChangesWhatItHandles) {
    network_ready = true;
    struct Case {
        const char* what;
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
        std::function<bool()> done;
    };
    const Case cases[] = {
        {"a move with the button inks", WM_MOUSEMOVE, MK_LBUTTON, position(100, 125),
         [&] { return canvas[14 + 28 * 14].blue == 9; }},
        {"Space clears", WM_KEYDOWN, VK_SPACE, 0, [&] { return canvas[14 + 28 * 14].blue == 255; }},
        {"Enter recognises (no network: no digit)", WM_KEYDOWN, VK_RETURN, 0, [&] { return recognized_digit == -1; }},
        {"a size is taken", WM_SIZE, SIZE_RESTORED, position(300, 400),
         [&] { return client_width == 300 && client_height == 400 && text_rect.right == 300; }},
    };
    recognized_digit = 5;
    for (const Case& c : cases) {
        EXPECT_EQ(send(c.message, c.wparam, c.lparam), 0) << c.what;
        EXPECT_TRUE(c.done()) << c.what;
    }
    EXPECT_EQ(send(WM_TIMER, 1), 0);
    EXPECT_EQ(send(WM_KEYUP, VK_TAB), 0);  // not handled: DefWindowProcA's answer
}

TEST_F(Window, OtherKeysChangeNothing) {
    network_ready = true;
    send(WM_MOUSEMOVE, MK_LBUTTON, position(100, 125));
    const auto before = canvas_bytes();
    const uint32_t rand_before = rand_state();
    for (WPARAM key : {WPARAM('A'), WPARAM(VK_ESCAPE), WPARAM(VK_BACK), WPARAM(0x0A), WPARAM(0xFF)})
        EXPECT_EQ(send(WM_KEYDOWN, key), 0);
    EXPECT_EQ(canvas_bytes(), before);
    EXPECT_EQ(recognized_digit, -1);
    EXPECT_EQ(rand_state(), rand_before);
}

TEST_F(Window, TheMouseDrawsOnlyWhileTheLeftButtonIsHeld) {
    const auto white_canvas = canvas_bytes();
    send(WM_MOUSEMOVE, 0, position(100, 125));
    send(WM_MOUSEMOVE, MK_RBUTTON, position(100, 125));
    send(WM_MOUSEMOVE, MK_MBUTTON | MK_SHIFT, position(100, 125));
    EXPECT_EQ(canvas_bytes(), white_canvas);

    send(WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, position(100, 125));
    // 100 / 200 * 28 = 14, 125 / 250 * 28 = 14.
    EXPECT_EQ(canvas[14 + 28 * 14].blue, 9);
    EXPECT_EQ(canvas[14 + 28 * 14].red, 0);
    EXPECT_EQ(canvas[15 + 28 * 15].blue, 191);
}

// The mouse is reported only now and then: the positions of one stroke,
// from the button going down to its release, are joined.
TEST_F(Window, StrokesJoinTheReportedPositionsFromButtonDownToButtonUp) {
    struct Message {
        UINT message;
        WPARAM buttons;
        int x, y;
    };
    using Cells = std::vector<std::pair<int, int>>;
    struct Case {
        const char* what;
        std::vector<Message> messages;
        Cells inked, white;
    };
    // Cells are 200 / 28 = 7.1 pixels wide and 250 / 28 = 8.9 high.
    Cells row_14, diagonal;
    for (int x = 2; x <= 25; x++) row_14.push_back({x, 14});
    for (int k = 0; k < 28; k++) diagonal.push_back({k, k});
    const Message down{WM_LBUTTONDOWN, MK_LBUTTON, 20, 50}, up{WM_LBUTTONUP, 0, 20, 50};
    const std::vector<Case> cases = {
        {"one quick move draws a solid line",
         {{WM_LBUTTONDOWN, MK_LBUTTON, 20, 125}, {WM_MOUSEMOVE, MK_LBUTTON, 180, 125}},
         row_14,
         {{10, 10}, {10, 18}}},
        {"a diagonal from corner to corner",
         {{WM_LBUTTONDOWN, MK_LBUTTON, 0, 0}, {WM_MOUSEMOVE, MK_LBUTTON, 199, 249}},
         diagonal,
         {{20, 5}, {5, 20}}},
        {"a click is a dot", {{WM_LBUTTONDOWN, MK_LBUTTON, 100, 125}}, {{14, 14}}, {{16, 14}, {12, 14}}},
        {"after the release the next stroke starts afresh",
         {down, up, {WM_MOUSEMOVE, MK_LBUTTON, 180, 200}},
         {{2, 5}, {25, 22}},
         {{14, 14}}},
        {"a move without the button ends the stroke",
         {down, {WM_MOUSEMOVE, 0, 100, 100}, {WM_MOUSEMOVE, MK_LBUTTON, 180, 200}},
         {{2, 5}, {25, 22}},
         {{14, 14}, {14, 11}}},
        // With the mouse captured, moves outside arrive with positions
        // left of or above the client area (negative) or beyond it.
        {"leaving over the top ends the stroke; coming back is not joined to it",
         {{WM_LBUTTONDOWN, MK_LBUTTON, 20, 125}, {WM_MOUSEMOVE, MK_LBUTTON, 60, 125},
          {WM_MOUSEMOVE, MK_LBUTTON, 60, -10}, {WM_MOUSEMOVE, MK_LBUTTON, 150, 40},
          {WM_MOUSEMOVE, MK_LBUTTON, 180, 40}},
         {{2, 14}, {8, 14}, {21, 4}, {25, 4}},
         {{14, 9}, {8, 20}, {8, 2}}},
        {"leaving to the right ends the stroke",
         {{WM_LBUTTONDOWN, MK_LBUTTON, 20, 125}, {WM_MOUSEMOVE, MK_LBUTTON, 250, 125},
          {WM_MOUSEMOVE, MK_LBUTTON, 100, 200}},
         {{2, 14}, {14, 22}},
         {{20, 14}, {8, 18}}},
    };
    for (const Case& c : cases) {
        send(WM_KEYDOWN, VK_SPACE);
        for (const Message& m : c.messages) send(m.message, m.buttons, position(m.x, m.y));
        send(WM_LBUTTONUP, 0, 0);
        for (const auto& [x, y] : c.inked) {
            const Pixel& p = canvas[x + 28 * y];
            EXPECT_TRUE(p.blue <= 9 && p.green == 0 && p.red == 0) << c.what << ": cell " << x << ", " << y;
        }
        for (const auto& [x, y] : c.white) EXPECT_EQ(canvas[x + 28 * y].blue, 255) << c.what << ": cell " << x << ", " << y;
    }
}

// Only a word the program knows is taken; anything else ends it at once.
TEST(WindowCommandLine, AsDrawnIsTheOneOptionAndOthersAreRefused) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    recognize_as_drawn = false;
    char unknown[] = "--normalise";
    EXPECT_EQ(WinMain(nullptr, nullptr, unknown, SW_SHOWDEFAULT), 2);
    EXPECT_FALSE(recognize_as_drawn);
    char both[] = "  --as-drawn   --bogus";
    EXPECT_EQ(WinMain(nullptr, nullptr, both, SW_SHOWDEFAULT), 2);
    EXPECT_TRUE(recognize_as_drawn);
    recognize_as_drawn = false;
    // Asked for: printed on standard output, no box to dismiss, status 0.
    char help[] = "--help";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(WinMain(nullptr, nullptr, help, SW_SHOWDEFAULT), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Usage: tavelin [--as-drawn]"), std::string::npos);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Window, SizeMessagesSetTheClientSizeAndTheTextRectangle) {
    send(WM_SIZE, SIZE_RESTORED, position(300, 400));
    EXPECT_EQ(client_width, 300u);
    EXPECT_EQ(client_height, 400u);
    EXPECT_EQ(text_rect.right, 300);
    EXPECT_EQ(text_rect.bottom, 400);
    send(WM_SIZE, SIZE_MAXIMIZED, position(65535, 65535));
    EXPECT_EQ(client_width, 65535u);  // taken unsigned
    EXPECT_EQ(text_rect.right, 65535);

    // Minimised: nothing to draw on, nothing for the timer to invalidate.
    send(WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_EQ(client_width, 0u);
    EXPECT_EQ(client_height, 0u);
    EXPECT_EQ(text_rect.right, 0);
    EXPECT_EQ(text_rect.bottom, 0);
    send(WM_MOUSEMOVE, MK_LBUTTON, position(0, 0));
    for (const Pixel& p : canvas) ASSERT_EQ(p.blue, 255);
}

TEST_F(Window, AMinimisedWindowIsNotRepaintedByTheTimer) {
    network_ready = true;
    headless::minimize_window(hwnd_);
    pump_until(WM_TIMER);
    EXPECT_EQ(client_width, 0u);
    // The tick invalidated text_rect, which is empty: the next message is
    // the next tick, not a paint.
    MSG msg{};
    ASSERT_NE(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, UINT(WM_TIMER));
}

TEST_F(Window, SpaceClearsAndTabShowsATrainingImageEveryTime) {
    network_ready = true;
    send(WM_MOUSEMOVE, MK_LBUTTON, position(100, 125));
    send(WM_KEYDOWN, VK_SPACE);
    for (const Pixel& p : canvas) ASSERT_EQ(p.blue, 255);

    // Held down: each repeat shows another image. Image k of the test set is
    // filled with (k * 37 + r * 3 + c) mod 256.
    for (int32_t r : {3, 1, 0, 21}) {
        test_util::set_next_rand(r);
        send(WM_KEYDOWN, VK_TAB, LPARAM(1 | (1 << 30)));
        const int32_t image = ((r - 1) % training_images + training_images) % training_images;
        for (int y = 0; y < 28; y++)
            for (int x = 0; x < 28; x++) {
                const int want = 255 - (image * 37 + y * 3 + x) % 256;
                ASSERT_EQ(canvas[x + 28 * y].blue, want) << "draw " << r << ", pixel " << x << ", " << y;
                ASSERT_EQ(canvas[x + 28 * y].red, want);
            }
    }
}

TEST_F(Window, APaintStretchesTheCanvasOverTheClientAreaUnderTheStatusLine) {
    send(WM_MOUSEMOVE, MK_LBUTTON, position(199, 249));  // ink in cell (27, 27)
    InvalidateRect(hwnd_, nullptr, FALSE);
    const auto p = repaint();
    // Column 27 starts at pixel 193 (27 * 200 / 28 = 192.9), row 27 at 242.
    EXPECT_EQ(pixel_of(p, 199, 249), (Bgrx{9, 0, 0}));
    EXPECT_EQ(pixel_of(p, 193, 242), (Bgrx{9, 0, 0}));
    EXPECT_EQ(pixel_of(p, 192, 249), (Bgrx{191, 191, 191}));
    EXPECT_EQ(pixel_of(p, 199, 241), (Bgrx{191, 191, 191}));
    EXPECT_EQ(pixel_of(p, 185, 233), white);
    EXPECT_GT(text_ink(p), 30);
}

TEST_F(Window, EnterBeforeTrainingRecognisesNothing) {
    send(WM_MOUSEMOVE, MK_LBUTTON, position(100, 125));
    EXPECT_EQ(send(WM_KEYDOWN, VK_RETURN), 0);
    EXPECT_EQ(recognized_digit, -1);
    EXPECT_EQ(format_status_text(), "Loading Training data");
}

TEST_F(Window, WithoutTrainingDataTheStatusLineSaysSo) {
    if (trained_in_this_process) GTEST_SKIP() << "the network was trained by an earlier test in this process";
    test_util::remove_tree("data");
    send(WM_TIMER, 1);
    EXPECT_TRUE(network_ready);
    EXPECT_TRUE(training_data_missing);
    // Every folder looked in, as paths that can be found from anywhere.
    EXPECT_EQ(training_data_folders.looked_in,
              (std::vector<std::string>{dir_ + "/data", dir_ + "/user/tavelin/data", installed_data_folder()}));
    EXPECT_EQ(format_status_text().rfind("No training data in\n", 0), 0u) << format_status_text();
    send(WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(recognized_digit, -1);
    // Tab without the image file leaves the canvas as it is.
    send(WM_MOUSEMOVE, MK_LBUTTON, position(100, 125));
    const auto before = canvas_bytes();
    send(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(canvas_bytes(), before);
}

TEST_F(Window, TheFirstTickTrainsAndLaterTicksOnlyRepaint) {
    if (trained_in_this_process) GTEST_SKIP() << "the network was trained by an earlier test in this process";
    const auto loading = top_rows(headless::client_pixels(hwnd_));

    testing::internal::CaptureStdout();
    send(WM_TIMER, 1);
    const std::string first_tick = testing::internal::GetCapturedStdout();
    trained_in_this_process = true;
    EXPECT_EQ(first_tick.rfind("case 1000 err=", 0), 0u) << first_tick;
    EXPECT_EQ(std::count(first_tick.begin(), first_tick.end(), '\n'), 1);
    EXPECT_TRUE(network_ready);
    EXPECT_FALSE(training_data_missing);
    EXPECT_EQ(format_status_text(), "results: -1 0.0 confidence");

    // The tick invalidated the client area: the repaint shows the results line.
    const auto results = repaint();
    EXPECT_GT(text_ink(results), 30);
    EXPECT_NE(top_rows(results), loading);

    testing::internal::CaptureStdout();
    send(WM_TIMER, 1);
    send(WM_TIMER, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // A blank canvas is no digit.
    send(WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(recognized_digit, -1);
    EXPECT_EQ(format_status_text(), "results: -1 0.0 confidence");

    // Enter recognises what is on the canvas: image 3 of the training set.
    test_util::set_next_rand(4);
    send(WM_KEYDOWN, VK_TAB);
    send(WM_KEYDOWN, VK_RETURN);
    ASSERT_GE(recognized_digit, 0);
    ASSERT_LE(recognized_digit, 9);
    char expected[64];
    std::snprintf(expected, sizeof expected, "results: %d %3.1f confidence", int(recognized_digit),
                  double(confidences[recognized_digit]));
    EXPECT_EQ(format_status_text(), expected);
    EXPECT_NE(top_rows(repaint()), top_rows(results));
}

}  // namespace
}  // namespace tavelin
