// The console on Windows: keys from the console keyboard with _kbhit and
// _getch, words from standard input (line-buffered and echoed by the
// console), Sleep, GetModuleFileNameA, and a console control handler for
// Ctrl+C.
//
// _getch announces a key without a character with a prefix, 0 or 0xE0 (the
// keys of the separate cursor block), and delivers the key's code at the
// next call. Both prefixes are handed on as 0, so every such key reaches the
// key loop as 0 and its second code.
//
// Without a console to take keys from (a detached process), the key input
// counts as ended, as a script's end of input does on other systems: the
// program runs its start-up, one pass of the key loop and its shutdown.
#include <windows.h>

#include <conio.h>

#include <cstdio>
#include <string>

#include "testprog/Console.h"

namespace varnox::testprog::console {
namespace {

constexpr int kExtendedPrefix = 0xE0;
constexpr int kNoPendingCode = -1;
// How long a control event that ends the process (the console window being
// closed, log-off, shut-down) leaves the main thread to end in order.
constexpr DWORD kCloseGraceMs = 4000;
// A console read cut short by Ctrl+C returns before the control handler
// thread has run; this long it may take for the interruption to show.
constexpr int kInterruptSettleMs = 200;

volatile LONG gInterrupted = 0;
bool gOpen = false;
bool gNoConsole = false;
bool gInputEnded = false;
bool gEndReported = false;
int gPendingCode = kNoPendingCode;

// Runs on a thread of its own. Ctrl+C and Ctrl+Break are taken here and end
// the program from the main loop, so the library unloads in order (ports
// closed, trace files ended). The other events end the process when the
// handler returns; waiting gives the main thread the time to exit first.
BOOL WINAPI OnControl(DWORD event) {
    InterlockedExchange(&gInterrupted, 1);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    Sleep(kCloseGraceMs);
    return FALSE;
}

bool HaveConsoleInput() {
    const HANDLE in =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    CloseHandle(in);
    return true;
}

bool StandardInputIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool Space(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool KeysEnded() {
    return gNoConsole || gInputEnded;
}

}  // namespace

void Open() {
    if (gOpen) return;
    gOpen = true;
    gNoConsole = !HaveConsoleInput();
    SetConsoleCtrlHandler(OnControl, TRUE);
}

void Close() {
    // Nothing to restore: _getch leaves the console's modes as it found them.
}

bool KeyWaiting() {
    if (gPendingCode != kNoPendingCode) return true;
    if (KeysEnded()) return !gEndReported;
    return _kbhit() != 0;
}

int ReadKey() {
    if (gPendingCode != kNoPendingCode) {
        const int code = gPendingCode;
        gPendingCode = kNoPendingCode;
        return code;
    }
    if (KeysEnded()) {
        gEndReported = true;
        return kEndOfInput;
    }
    const int key = _getch();
    if (key == 0 || key == kExtendedPrefix) {
        gPendingCode = _getch();
        return 0;
    }
    return key;
}

bool ReadWord(const char* prompt, char* word, std::size_t size) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    std::size_t length = 0;
    bool inWord = false;
    int c = std::getchar();
    while (c != EOF && Space(c)) c = std::getchar();
    while (c != EOF && !Space(c)) {
        inWord = true;
        if (length + 1 < size) word[length++] = static_cast<char>(c);
        c = std::getchar();
    }
    // The blank after the word stays for the next read.
    if (c != EOF) std::ungetc(c, stdin);
    if (size > 0) word[length] = '\0';
    if (!inWord) {
        if (StandardInputIsConsole()) {
            for (int waited = 0; waited < kInterruptSettleMs && !Interrupted(); waited += 10) {
                Sleep(10);
            }
        }
        // Input that ends at the prompt ends the program's input as a whole.
        gInputEnded = true;
    }
    return inWord && !Interrupted();
}

void SleepMs(unsigned milliseconds) {
    Sleep(milliseconds);
}

std::string ProgramPath() {
    // Paths can be longer than MAX_PATH; the buffer grows until the whole
    // path fits (GetModuleFileNameA truncates and fills the buffer).
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::string();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return std::string();
        path.resize(path.size() * 2);
    }
}

bool Interrupted() {
    return gInterrupted != 0;
}

int InterruptedExitStatus() {
    // The status a console program ended by Ctrl+C has on Windows.
    return static_cast<int>(STATUS_CONTROL_C_EXIT);
}

}  // namespace varnox::testprog::console
