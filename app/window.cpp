#include "app/window.h"

#include <cstdio>
#include <string_view>

#include "app/canvas.h"
#include "app/explorer.h"
#include "app/stroke.h"
#include "training/standard_streams.h"
#include "training/normalise.h"
#include "training/recognize.h"

namespace tavelin {

uint32_t client_width = 0;
uint32_t client_height = 0;
RECT text_rect = {0, 0, 1, 1};
bool network_ready = false;
bool training_data_missing = false;
DataFolders training_data_folders;
bool recognize_as_drawn = false;
TrainingConfig window_training_config;

namespace {

const char* const class_name = "Corvash";
const char* const window_title = "Tavelin";
constexpr UINT_PTR repaint_timer = 1;
constexpr UINT repaint_period_ms = 16;
constexpr int window_x = 200, window_y = 200, window_width = 200, window_height = 250;

// The options: "--as-drawn" and "--explore", and "--help". Anything else
// is refused with a message, so that a mistyped option is not silently
// ignored. False when the program is to end at once, with *exit_status.
bool read_command_line(const char* command_line, bool* explore, int* exit_status) {
    std::string_view rest = command_line ? command_line : "";
    while (!rest.empty()) {
        const size_t start = rest.find_first_not_of(" \t");
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const std::string_view word = rest.substr(0, rest.find_first_of(" \t"));
        rest.remove_prefix(word.size());
        if (word == "--as-drawn") {
            recognize_as_drawn = true;
            continue;
        }
        if (word == "--explore") {
            *explore = true;
            continue;
        }
        const char* const usage =
            "Usage: tavelin [--as-drawn] [--explore]\n  --as-drawn  recognise the drawing exactly as it lies on the "
            "canvas, without fitting it into the shape of the training digits\n  --explore   open the explorer: "
            "watch the network learn, then see its ten scores, the image it was given, its filters and their maps";
        if (word == "--help" || word == "-h") {
#ifdef _WIN32
            // A window program on Windows has no terminal to print to.
            MessageBoxA(nullptr, usage, window_title, MB_ICONINFORMATION);
#else
            // Asked for from a terminal: printed there, no box to dismiss.
            std::printf("%s\n", usage);
#endif
            *exit_status = std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
            return false;
        }
        const std::string text = "Unknown option: " + std::string(word) + "\n" + usage;
        MessageBoxA(nullptr, text.c_str(), window_title, MB_ICONERROR);
        *exit_status = 2;
        return false;
    }
    return true;
}

void run_key_command(WPARAM key, Network& network) {
    switch (key) {
        case VK_TAB:
            show_random_sample(window_training_config.image_path.c_str());
            break;
        case VK_RETURN: {
            uint8_t pixels[canvas_side * canvas_side];
            canvas_to_bytes(pixels);
            recognized_digit = -1;
            recognized_digit = recognize_drawing(network, pixels, recognize_as_drawn);
            break;
        }
        case VK_SPACE:
            clear_canvas();
            break;
        default:
            break;
    }
}

// The window is narrow: a line holds about this many characters of its
// font.
constexpr size_t status_line_characters = 28;

// Characters, not bytes: the text is UTF-8 (paths with any letters).
size_t characters(std::string_view s) {
    size_t n = 0;
    for (const char c : s) n += (uint8_t(c) & 0xC0) != 0x80;
    return n;
}

// The bytes of the first `count` characters of `s`.
size_t bytes_of_characters(std::string_view s, size_t count) {
    size_t i = 0;
    for (size_t seen = 0; i < s.size(); i++) {
        if ((uint8_t(s[i]) & 0xC0) != 0x80 && seen++ == count) break;
    }
    return i;
}

// Breaks `text` at spaces into lines of at most `width` characters; a
// longer word (a path) is broken after a folder separator where it has one,
// never inside a character.
std::string wrap_lines(std::string_view text, size_t width) {
    std::string lines, line;
    auto end_line = [&] {
        lines += (lines.empty() ? "" : "\n") + line;
        line.clear();
    };
    while (!text.empty()) {
        const size_t space = text.find(' ');
        std::string_view word = text.substr(0, space);
        text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
        if (!line.empty() && characters(line) + 1 + characters(word) <= width) {
            line += " " + std::string(word);
            continue;
        }
        if (!line.empty()) end_line();
        while (characters(word) > width) {
            const size_t fits = bytes_of_characters(word, width);
            const size_t separator = word.find_last_of("/\\", fits - 1);
            const size_t cut = separator == std::string_view::npos || separator == 0 ? fits : separator + 1;
            line = word.substr(0, cut);
            end_line();
            word.remove_prefix(cut);
        }
        line = word;
    }
    if (!line.empty()) end_line();
    return lines;
}

}  // namespace

void find_training_data() {
    training_data_folders = find_data_folder();
    if (training_data_folders.found.empty()) return;
    window_training_config.image_path = data_file_path(training_data_folders.found, training_images_name);
    window_training_config.label_path = data_file_path(training_data_folders.found, training_labels_name);
}

std::string format_status_text() {
    if (!network_ready) return "Loading Training data";
    // Short lines: the window is narrow.
    if (training_data_missing)
        return wrap_lines(no_training_data_message(training_data_folders), status_line_characters);
    // There is no confidence for "no digit": it shows as 0.0.
    const bool has_digit = recognized_digit >= 0 && recognized_digit < digit_count;
    const float confidence = has_digit ? confidences[recognized_digit] : 0.0f;
    char text[64];
    std::snprintf(text, sizeof text, "results: %d %3.1f confidence", int(recognized_digit), double(confidence));
    return text;
}

PixelsDc pixels_dc(HDC dc, const Pixel* pixels, int32_t width, int32_t height) {
    PixelsDc m;
    m.bitmap = CreateCompatibleBitmap(dc, width, height);
    SetBitmapBits(m.bitmap, DWORD(width * height * 4), pixels);
    m.memory = CreateCompatibleDC(dc);
    m.previous = SelectObject(m.memory, m.bitmap);
    m.width = width;
    m.height = height;
    return m;
}

void begin_drawing(Stroke& stroke) {
    end_stroke(stroke);
    clear_canvas();
    canvas_width = canvas_side;
    canvas_height = canvas_side;
}

void stretch_and_release(HDC dc, PixelsDc& m, int dest_width, int dest_height) {
    StretchBlt(dc, 0, 0, dest_width, dest_height, m.memory, 0, 0, m.width, m.height, SRCCOPY);
    SelectObject(m.memory, m.previous);
    DeleteDC(m.memory);
    DeleteObject(m.bitmap);
}

void paint_window(HDC dc) {
    PixelsDc m = pixels_dc(dc, canvas, canvas_width, canvas_height);
    stretch_and_release(dc, m, int(client_width), int(client_height));
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    // Created empty on the first call, from inside CreateWindowExA.
    static Network network;
    static Stroke stroke;

    switch (message) {
        case WM_CREATE:
            begin_drawing(stroke);
            SetWindowPos(hwnd, HWND_TOP, window_x, window_y, window_width, window_height, 0);
            SetTimer(hwnd, repaint_timer, repaint_period_ms, nullptr);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            client_width = LOWORD(lparam);
            client_height = HIWORD(lparam);
            text_rect.right = LONG(client_width);
            text_rect.bottom = LONG(client_height);
            return 0;
        case WM_PAINT: {
            const std::string status_text = format_status_text();
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            paint_window(dc);
            DrawTextA(dc, status_text.c_str(), -1, &text_rect, 0);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_KEYDOWN:
            run_key_command(wparam, network);
            return 0;
        case WM_TIMER:
            // The whole training runs inside the first tick; the window
            // handles nothing else until it is done.
            if (!network_ready) {
                train_network(network, window_training_config);
                network_ready = true;
                training_data_missing = network.empty();
                if (training_data_missing)
                    std::fprintf(stderr, "tavelin: %s\n", no_training_data_message(training_data_folders).c_str());
            }
            InvalidateRect(hwnd, &text_rect, FALSE);
            return 0;
        case WM_LBUTTONDOWN:
            // Every move and the release reach the window while the button
            // is held, even outside it: the stroke ends where it leaves.
            SetCapture(hwnd);
            begin_stroke(stroke, LOWORD(lparam), HIWORD(lparam), client_width, client_height);
            return 0;
        case WM_LBUTTONUP:
            ReleaseCapture();
            end_stroke(stroke);
            return 0;
        case WM_MOUSEMOVE: {
            const int x = GET_X_LPARAM(lparam), y = GET_Y_LPARAM(lparam);
            // Outside the client area the stroke ends; coming back begins a
            // new one, never joined to where it left.
            const bool inside = x >= 0 && y >= 0 && uint32_t(x) < client_width && uint32_t(y) < client_height;
            if ((wparam & MK_LBUTTON) && inside)
                continue_stroke(stroke, uint16_t(x), uint16_t(y), client_width, client_height);
            else
                end_stroke(stroke);
            return 0;
        }
        default:
            return DefWindowProcA(hwnd, message, wparam, lparam);
    }
}

}  // namespace tavelin

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show_command) {
    using namespace tavelin;
    // Before anything opens a file or the display connection, which would
    // otherwise take a closed descriptor's number and receive the progress
    // lines and messages (and the window would hang writing into its own
    // connection). The window program has nothing to refuse for: what it
    // writes is a log, so a closed stream reads and writes nothing.
    open_standard_streams();
    bool explore = false;
    int exit_status = 0;
    if (!read_command_line(command_line, &explore, &exit_status)) return exit_status;
    find_training_data();
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = explore ? explorer_proc : window_proc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    // Resource 1: the program's icon (app/tavelin.rc on Windows).
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    if (wc.hIcon == nullptr) wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    // The explorer paints every pixel itself, in one blit: an erased
    // background in between would flicker.
    wc.hbrBackground = explore ? nullptr : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = class_name;
    if (RegisterClassA(&wc) == 0) {
        MessageBoxA(nullptr, "Program requires Windows NT!", class_name, MB_ICONERROR);
        return 0;
    }

    HWND hwnd = CreateWindowExA(0, class_name, window_title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, window_y,
                                CW_USEDEFAULT, window_height, nullptr, nullptr, instance, nullptr);
    // Without a window no message would ever arrive and the loop below
    // would wait for ever, invisibly: say so and end instead.
    if (hwnd == nullptr) {
        MessageBoxA(nullptr, "Cannot open the window.", window_title, MB_ICONERROR);
        return 1;
    }
    ShowWindow(hwnd, show_command);
    UpdateWindow(hwnd);

    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0) != 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return int(msg.wParam);
}
