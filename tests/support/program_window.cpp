#include "program_window.h"

#include "app/window.h"

namespace tavelin::test_util {

HWND open_program_window() {
    // A class is registered once per process; the window layer refuses a
    // second registration of the same name.
    static const bool registered = [] {
        WNDCLASSA wc = {};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = window_proc;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = "Corvash";
        return RegisterClassA(&wc) != 0;
    }();
    if (!registered) return nullptr;
    HWND hwnd = CreateWindowExA(0, "Corvash", "Tavelin", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 200, CW_USEDEFAULT,
                                250, nullptr, nullptr, nullptr, nullptr);
    if (hwnd == nullptr) return nullptr;
    ShowWindow(hwnd, SW_SHOWDEFAULT);
    UpdateWindow(hwnd);
    return hwnd;
}

}  // namespace tavelin::test_util
