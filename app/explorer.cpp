#include "app/explorer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/canvas.h"
#include "app/explorer_picture.h"
#include "app/stroke.h"
#include "app/window.h"
#include "layers/conv_layer.h"
#include "training/normalise.h"
#include "training/recognize.h"

namespace tavelin {

namespace {

constexpr UINT_PTR tick_timer = 1;
// The shortest period a window timer has: while training, the next tick is
// due as soon as a slice and the repaint after it are done.
constexpr UINT tick_period_ms = 10;
// Training time per tick: a frame of a 60 Hz screen. Input and a repaint
// come between slices, so the window answers within about that time, and
// training goes on at nearly its full speed.
constexpr auto slice_time = std::chrono::milliseconds(15);
// How often training repaints the window by itself (input repaints at once).
constexpr auto progress_paint_interval = std::chrono::milliseconds(50);
// Steps between looks at the clock: a look costs a few hundredths of a
// step (10 us with the fast passes, 0.6 ms with the plain loops), and a
// slice overshoots its time by at most this many steps.
constexpr int64_t steps_between_clock_reads = 4;
// The largest picture composed; a larger client area gets it stretched.
constexpr int32_t largest_picture_side = 4096;

const char* const training_hint = "Training... Draw a digit meanwhile and watch its answers improve as it learns.";
const char* const ready_hint = "Draw a digit: it is read when you let go. Space clears, Tab shows a training image, Esc quits.";

// The explorer's state, owned here alone.
struct Explorer {
    ExplorerState state;
    Network network;
    std::vector<Sample> samples;
    bool started = false;
    Stroke stroke;
    bool stroke_drew = false;
    std::vector<Pixel> picture;
    std::chrono::steady_clock::time_point next_progress_paint;
};

Explorer& explorer() {
    static Explorer e;
    return e;
}

const char* usual_hint() { return network_ready ? ready_hint : training_hint; }

void copy_filters(Explorer& e) {
    if (e.network.empty()) return;
    const auto* conv = static_cast<const ConvLayer*>(e.network[0]);
    constexpr int32_t per_filter = filter_side * filter_side;
    if (conv->filters.size() != size_t(filter_count)) return;
    for (int32_t k = 0; k < filter_count; k++)
        if (conv->filters[size_t(k)].count() == per_filter)
            std::copy_n(conv->filters[size_t(k)].data, per_filter, e.state.filters.data() + k * per_filter);
    e.state.has_filters = true;
}

template <size_t N>
void copy_maps(const Tensor& from, std::array<float, N>& to) {
    if (size_t(from.count()) == N) std::copy_n(from.data, N, to.data());
}

// Reads the canvas as Enter does in the plain window (same steps, same
// result), and keeps what the network was given and what its layers made
// of it. During training the network answers as it is at that moment: the
// forward pass only writes the layers' outputs, which the next training
// step writes afresh before reading them, so training keeps its bits.
void answer(Explorer& e) {
    uint8_t pixels[image_bytes];
    canvas_to_bytes(pixels);
    recognized_digit = -1;
    recognized_digit = recognize_drawing(e.network, pixels, recognize_as_drawn);
    ExplorerState& s = e.state;
    uint8_t fitted[image_bytes];
    const bool ink = recognize_as_drawn ? std::any_of(pixels, pixels + image_bytes, [](uint8_t p) { return p != 0; })
                                        : normalise_digit(pixels, fitted);
    s.has_answer = ink && e.network.size() >= 3;
    if (!s.has_answer) return;
    std::copy_n(recognize_as_drawn ? pixels : fitted, image_bytes, s.seen.data());
    std::copy_n(confidences, digit_count, s.scores.data());
    s.digit = recognized_digit;
    copy_maps(e.network[1]->output, s.rectified);
    copy_maps(e.network[2]->output, s.pooled);
}

void clear_answer(Explorer& e) {
    clear_canvas();
    recognized_digit = -1;
    e.state.has_answer = false;
    e.state.digit = -1;
    e.state.hint = usual_hint();
}

void show_training_image(Explorer& e) {
    const ShownSample shown = show_random_sample(window_training_config.image_path.c_str());
    if (shown.record < 0) return;
    answer(e);
    int32_t label = -1;
    if (shown.record < int64_t(e.samples.size())) {
        const Tensor& target = e.samples[size_t(shown.record)].target;
        for (int32_t d = 0; d < target.count(); d++)
            if (target[d] > 0.5f) label = d;
    }
    char text[160];
    if (label >= 0)
        std::snprintf(text, sizeof text, "Training image %lld of %lld, labelled %d. Space clears, Tab shows another.",
                      (long long)shown.record + 1, (long long)shown.records, int(label));
    else
        std::snprintf(text, sizeof text, "Training image %lld of %lld. Space clears, Tab shows another.",
                      (long long)shown.record + 1, (long long)shown.records);
    e.state.hint = text;
}

// The first tick loads the samples; every later one trains a slice.
void tick(Explorer& e) {
    ExplorerState& s = e.state;
    if (!e.started) {
        e.started = true;
        if (!prepare_network(e.network, e.samples, window_training_config)) {
            network_ready = true;
            training_data_missing = true;
            s.no_data = true;
            std::fprintf(stderr, "tavelin: %s\n", no_training_data_message(training_data_folders).c_str());
            return;
        }
        s.run = plan_training(e.samples, window_training_config.min_steps);
        copy_filters(e);
        return;
    }
    if (network_ready) return;
    const auto until = std::chrono::steady_clock::now() + slice_time;
    do advance_training(s.run, e.network, steps_between_clock_reads);
    while (!training_done(s.run) && std::chrono::steady_clock::now() < until);
    copy_filters(e);
    if (training_done(s.run)) {
        network_ready = true;
        if (s.hint == training_hint) s.hint = ready_hint;
    }
    if (s.has_answer) answer(e);
}

void paint(Explorer& e, HDC dc) {
    const int32_t width = int32_t(client_width), height = int32_t(client_height);
    if (width <= 0 || height <= 0) return;
    const int32_t shrink = (std::max(width, height) + largest_picture_side - 1) / largest_picture_side;
    const int32_t picture_width = (width + shrink - 1) / shrink, picture_height = (height + shrink - 1) / shrink;
    e.picture.resize(size_t(picture_width) * size_t(picture_height));
    compose_explorer(e.state, canvas, picture_width, picture_height, e.picture.data());

    // The words go onto the picture before it goes to the window: one blit,
    // never seen half drawn.
    PixelsDc m = pixels_dc(dc, e.picture.data(), picture_width, picture_height);
    SetBkMode(m.memory, TRANSPARENT);
    const ExplorerLayout layout = explorer_layout(picture_width, picture_height);
    for (ExplorerText& t : explorer_texts(e.state, layout, format_status_text())) {
        if (t.text.empty()) continue;
        HFONT font = CreateFontA(-t.font_height, 0, 0, 0, t.bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                 DEFAULT_PITCH | FF_SWISS, "Arial");
        HGDIOBJ previous_font = SelectObject(m.memory, font);
        SetTextColor(m.memory, RGB(t.color.red, t.color.green, t.color.blue));
        DrawTextA(m.memory, t.text.c_str(), -1, &t.rect, DT_NOPREFIX);
        SelectObject(m.memory, previous_font);
        DeleteObject(font);
    }
    stretch_and_release(dc, m, width, height);
}

// Mouse positions over the canvas, relative to it, or false.
bool on_canvas(LPARAM lparam, uint16_t* x, uint16_t* y, uint32_t* side) {
    const ExplorerLayout l = explorer_layout(int32_t(client_width), int32_t(client_height));
    // Signed: left of or above the window while the mouse is captured.
    const int32_t px = GET_X_LPARAM(lparam), py = GET_Y_LPARAM(lparam);
    if (!contains(l.canvas, px, py)) return false;
    *x = uint16_t(px - l.canvas.left);
    *y = uint16_t(py - l.canvas.top);
    *side = uint32_t(l.canvas.right - l.canvas.left);
    return true;
}

}  // namespace

LRESULT CALLBACK explorer_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    Explorer& e = explorer();
    uint16_t x = 0, y = 0;
    uint32_t side = 0;
    switch (message) {
        case WM_KEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
            InvalidateRect(hwnd, nullptr, FALSE);
            break;
        default:
            break;
    }
    switch (message) {
        case WM_CREATE:
            begin_drawing(e.stroke);
            e.state.hint = training_hint;
            SetWindowPos(hwnd, HWND_TOP, explorer_x, explorer_y, explorer_width, explorer_height, 0);
            SetTimer(hwnd, tick_timer, tick_period_ms, nullptr);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            client_width = LOWORD(lparam);
            client_height = HIWORD(lparam);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            paint(e, dc);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_TIMER: {
            // Training shows its progress a few times a second: each repaint
            // is time not spent training. Once trained, the picture changes
            // only with input.
            const bool training = !network_ready;
            tick(e);
            const auto now = std::chrono::steady_clock::now();
            // The slice that ends training repaints at once: no input may
            // come to show the trained network.
            if (training && (network_ready || now >= e.next_progress_paint)) {
                e.next_progress_paint = now + progress_paint_interval;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        }
        case WM_KEYDOWN:
            switch (wparam) {
                case VK_RETURN: answer(e); break;
                case VK_SPACE: clear_answer(e); break;
                case VK_TAB: show_training_image(e); break;
                case VK_ESCAPE: DestroyWindow(hwnd); break;
                default: break;
            }
            return 0;
        case WM_LBUTTONDOWN:
            // Every move and the release reach the window while the button
            // is held, even outside it: the stroke ends where it leaves.
            SetCapture(hwnd);
            if (on_canvas(lparam, &x, &y, &side)) {
                begin_stroke(e.stroke, x, y, side, side);
                e.stroke_drew = true;
            }
            return 0;
        case WM_MOUSEMOVE:
            // A stroke goes on only over the canvas; leaving it ends it.
            if ((wparam & MK_LBUTTON) && on_canvas(lparam, &x, &y, &side)) {
                continue_stroke(e.stroke, x, y, side, side);
                e.stroke_drew = true;
                InvalidateRect(hwnd, nullptr, FALSE);
            } else {
                // A stroke that left the canvas has ended: its answer now,
                // as the button may go up where this window never hears it.
                end_stroke(e.stroke);
                if (e.stroke_drew) {
                    answer(e);
                    InvalidateRect(hwnd, nullptr, FALSE);
                }
                e.stroke_drew = false;
            }
            return 0;
        case WM_LBUTTONUP:
            ReleaseCapture();
            end_stroke(e.stroke);
            // The answer comes as soon as the stroke ends.
            if (e.stroke_drew) answer(e);
            e.stroke_drew = false;
            return 0;
        case WM_RBUTTONDOWN:
            clear_answer(e);
            return 0;
        default:
            return DefWindowProcA(hwnd, message, wparam, lparam);
    }
}

}  // namespace tavelin
