// status-probe.exe: the end-to-end test's key to the Windows build's status
// line. Under Wine the window program draws its text with the system's own
// font, so the test cannot render the texts itself; this window draws
// "Loading Training data" and "results: -1" to "results: 9" the way the
// program draws its status line, one every probe_line_height rows from the
// top of its client area, for the test to read off a screenshot. Closing
// it ends it.
#include <windows.h>

#include <string>

namespace {

constexpr int probe_line_height = 20;  // the test reads 16 rows of each line

LRESULT CALLBACK probe_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            for (int line = 0; line < 12; line++) {
                const std::string text =
                    line == 0 ? "Loading Training data" : "results: " + std::to_string(line - 2);
                const int top = line * probe_line_height;
                RECT r{0, top, 240, top + probe_line_height};
                DrawTextA(dc, text.c_str(), -1, &r, 0);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(hwnd, message, wparam, lparam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = probe_proc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "TavelinStatusProbe";
    if (!RegisterClassA(&wc)) return 1;
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "Tavelin status probe", WS_OVERLAPPEDWINDOW, 0, 0, 260,
                                12 * probe_line_height + 60, nullptr, nullptr, instance, nullptr);
    if (hwnd == nullptr) return 1;
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}
