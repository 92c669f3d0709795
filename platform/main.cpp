// The process entry point where the system does not call WinMain itself.
#include <string>

#include "platform/win32.h"

int main(int argc, char** argv) {
    std::string command_line;
    for (int i = 1; i < argc; i++) {
        if (i > 1) command_line += ' ';
        command_line += argv[i];
    }
    return WinMain(nullptr, nullptr, command_line.data(), SW_SHOWDEFAULT);
}
