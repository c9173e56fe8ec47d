#include "tests/windows/support/WineLine.h"

#include <windows.h>

#include <string>

#include "tests/windows/support/Process.h"

namespace varnox::test {

bool UnsetLineForNextOpen(std::uint16_t com) {
    if (!UnderWine()) return true;
    const std::string name = "\\\\.\\COM" + std::to_string(com);
    const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    bool done = GetCommState(h, &dcb) != 0;
    if (done) {
        dcb.BaudRate = 19200;
        dcb.Parity = NOPARITY;
        dcb.fParity = 0;
        done = SetCommState(h, &dcb) != 0;
    }
    CloseHandle(h);
    return done;
}

}  // namespace varnox::test
