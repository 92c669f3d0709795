// window_proc fed arbitrary sequences of the messages it handles, with
// arbitrary wParam and lParam, on the window layer running headless (SDL's
// dummy video driver), plus the layer's own paths into it: repaints,
// resizes and input turned into messages.
//
// The network is trained once, at start-up, on 20 images in a data/ folder
// of the fuzzer's own working directory: the first timer tick trains, and
// only once per process, so every input starts with a trained network (the
// untrained window is covered by tests/window_tests.cpp). Every input
// starts from a freshly created window state: WM_CREATE, the generator at
// a fixed state, no recognition yet.
//
// The window is never closed: the layer keeps a closed window's SDL window
// (and its 200 KB picture) until the process ends, which is right for a
// program with one window but would make a fuzzer that reopens windows
// grow without bound. Closing is covered by tests/window_tests.cpp and
// tests/window_e2e_tests.cpp.
//
// Input: a sequence of operations, each an opcode byte followed by its
// arguments (little-endian; missing bytes read as 0). See run_one.
#include <cstring>
#include <string>

#include "app/canvas.h"
#include "app/window.h"
#include "core/random.h"
#include "fuzz_support.h"
#include "headless.h"
#include "platform/sdl_native.h"
#include "program_window.h"
#include "test_files.h"
#include "training/recognize.h"

using namespace tavelin;
using namespace tavelin::fuzz;

namespace {

HWND window = nullptr;
std::string work_dir;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool done() const { return at >= size; }
    uint64_t next(int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; i++) v |= uint64_t(at < size ? data[at++] : 0) << (8 * i);
        return v;
    }
};

void check_state() {
    FUZZ_CHECK(headless::window_exists(window));
    FUZZ_CHECK(network_ready);
    FUZZ_CHECK(recognized_digit >= -1 && recognized_digit <= 9);
    FUZZ_CHECK(text_rect.left == 0 && text_rect.top == 0);
    FUZZ_CHECK(text_rect.right == LONG(client_width) && text_rect.bottom == LONG(client_height));
    FUZZ_CHECK(client_width <= 0xFFFF && client_height <= 0xFFFF);
    FUZZ_CHECK(canvas_width == 28 && canvas_height == 28);
    // Only clearing writes a pixel's fourth byte.
    for (const Pixel& p : canvas) FUZZ_CHECK(p.unused == 255);
    FUZZ_CHECK(!format_status_text().empty());
    const platform::PixelBuffer shown = headless::client_pixels(window);
    FUZZ_CHECK(shown.bgrx.size() == size_t(shown.width) * size_t(shown.height) * 4);
}

LRESULT send(UINT message, WPARAM wparam, LPARAM lparam) {
    return window_proc(window, message, wparam, lparam);
}

// Input as a user would give it: an SDL event, turned into window
// messages by the layer and fetched and dispatched by the message loop's
// own functions. Only what is queued is fetched: GetMessageA would wait
// for the next timer tick otherwise.
void user_input(Reader& in) {
    const uint64_t kind = in.next(1);
    const int32_t x = int32_t(in.next(2) % 1400) - 200;
    const int32_t y = int32_t(in.next(2) % 1400) - 200;
    const uint64_t extra = in.next(1);
    if (!headless::window_exists(window)) return;
    static const char* const keys[] = {"Tab", "Return", "Space", "A", "Escape", "Keypad Enter", "Left",
                                       "F1", "Backspace", "no such key"};
    switch (kind % 5) {
        case 0: headless::move_mouse(window, x, y, uint32_t(extra) & 7); break;
        case 1: headless::press_key(window, keys[extra % 10], extra >= 128); break;
        case 2: headless::minimize_window(window); break;
        case 3: headless::restore_window(window); break;
        case 4: headless::resize_window(window, x, y); break;
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) platform::translate_event(event);
    MSG msg;
    while (!platform::layer().input.empty() && GetMessageA(&msg, nullptr, 0, 0) != 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void run_one(Reader& in) {
    static const WPARAM commands[] = {VK_TAB, VK_RETURN, VK_SPACE};
    const uint64_t op = in.next(1);
    switch (op % 11) {
        case 0: FUZZ_CHECK(send(WM_CREATE, 0, 0) == 0); break;
        case 1: FUZZ_CHECK(send(WM_DESTROY, 0, 0) == 0); break;
        case 2: {  // size kind, then both sizes (any 64-bit lParam)
            const WPARAM kind = WPARAM(in.next(1));
            FUZZ_CHECK(send(WM_SIZE, kind, LPARAM(in.next(8))) == 0);
            break;
        }
        case 3: FUZZ_CHECK(send(WM_PAINT, 0, 0) == 0); break;
        case 4: {  // mostly the three command keys, else any wParam
            const uint64_t pick = in.next(1);
            const WPARAM key = pick < 192 ? commands[pick % 3] : WPARAM(in.next(8));
            FUZZ_CHECK(send(WM_KEYDOWN, key, 0) == 0);
            break;
        }
        case 5: FUZZ_CHECK(send(WM_TIMER, WPARAM(in.next(8)), 0) == 0); break;
        case 6: {  // buttons, then the position (any 64-bit lParam)
            const WPARAM buttons = WPARAM(in.next(8));
            FUZZ_CHECK(send(WM_MOUSEMOVE, buttons, LPARAM(in.next(8))) == 0);
            break;
        }
        case 7: {  // any other message but WM_CLOSE: the default procedure's
            const UINT message = UINT(in.next(4));
            const WPARAM w = WPARAM(in.next(8));
            if (message != WM_CLOSE) send(message, w, LPARAM(in.next(8)));
            break;
        }
        case 8: UpdateWindow(window); break;
        case 9: {  // the layer resizes the client area (up to 1023 x 1023)
            const int32_t w = int32_t(in.next(2) % 1024);
            const int32_t h = int32_t(in.next(2) % 1024);
            if (headless::window_exists(window)) platform::resize_client(window, w, h, SIZE_RESTORED);
            break;
        }
        case 10: user_input(in); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    work_dir = make_work_dir();
    test_util::write_training_set(work_dir + "/data", 20);
    window_training_config.min_steps = 200;
    const InWorkDir in_work_dir(work_dir);

    window = test_util::open_program_window();
    FUZZ_CHECK(window != nullptr);
    send(WM_TIMER, 1, 0);  // trains
    FUZZ_CHECK(network_ready && !training_data_missing);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const InWorkDir in_work_dir(work_dir);
    platform::layer().quit_posted = false;
    platform::layer().input.clear();
    send(WM_CREATE, 0, 0);
    recognized_digit = -1;
    std::memset(confidences, 0, sizeof confidences);
    set_rand_state(rand_initial_state);

    Reader in{data, size};
    for (int ops = 0; !in.done() && ops < 64; ops++) {
        run_one(in);
        check_state();
    }
    return 0;
}
