// The program's window made the way WinMain makes it (its class, place and
// size), shown and painted once, on the window layer. The window tests and
// the window fuzzer drive it from there with window_proc.
#pragma once

#include "platform/win32.h"

namespace tavelin::test_util {

// Registers the window class on first use. Null when the class cannot be
// registered or the window cannot be created.
HWND open_program_window();

}  // namespace tavelin::test_util
