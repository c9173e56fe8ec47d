// The console on POSIX terminals and pipes.
//
// On a terminal, keys are read straight from the terminal descriptor in
// non-canonical, no-echo mode, while words are read from lines the terminal
// collects in its ordinary line mode with echo. The two are kept apart as on
// a PC console: what is typed after a word stays in the line for the next
// word and is never seen as key presses.
//
// When standard input is not a terminal (a script), keys and lines come from
// the one stream in order: a word read takes the rest of its line with it,
// keys continue after that line, and the end of the stream ends both.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "testprog/Console.h"
#include "testprog/KeyDecoder.h"

namespace varnox::testprog::console {
namespace {

// How long the rest of an escape sequence may take to arrive; a lone Esc
// byte with nothing after it for this long is the Esc key.
constexpr int kSequencePauseMs = 50;

struct Buffer {
    unsigned char data[4096];
    std::size_t start = 0;
    std::size_t end = 0;
    bool ended = false;

    std::size_t Size() const { return end - start; }
    void Consume(std::size_t n) { start += n; }
    void Compact() {
        if (start == 0) return;
        std::memmove(data, data + start, Size());
        end -= start;
        start = 0;
    }
};

const int kFd = STDIN_FILENO;
bool gTerminal = false;
bool gOpen = false;
termios gSaved{};
termios gKeyMode{};
volatile sig_atomic_t gSignal = 0;

Buffer gKeys;   // key bytes not yet decoded (on a stream: all input not yet taken)
Buffer gLines;  // the current line of word input
int gDecoded[4];
std::size_t gDecodedCount = 0;
bool gEndReported = false;

void RestoreTerminal() {
    if (gTerminal) tcsetattr(kFd, TCSANOW, &gSaved);
}

volatile sig_atomic_t gInKeyMode = 0;

void OnSignal(int signal) {
    // Only async-signal-safe work here; the main loop ends the program.
    gSignal = signal;
    RestoreTerminal();
}

// Ctrl+Z: hand the shell its terminal as it was, stop, and take key mode
// back when continued. The stop happens inside raise(), with the signal
// unblocked, so this also works where the system discards the stop (a
// process group without a shell to continue it).
void OnStop(int) {
    const int saved = errno;
    RestoreTerminal();
    signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    signal(SIGTSTP, OnStop);
    if (gTerminal && gInKeyMode != 0) tcsetattr(kFd, TCSANOW, &gKeyMode);
    errno = saved;
}

void EnterKeyMode() {
    if (!gTerminal) return;
    gInKeyMode = 1;
    tcsetattr(kFd, TCSANOW, &gKeyMode);
}

void EnterLineMode() {
    if (!gTerminal) return;
    gInKeyMode = 0;
    tcsetattr(kFd, TCSANOW, &gSaved);
}

// Reads what is there into `buffer`, waiting up to timeoutMs (-1: until
// data, end of input or an interruption). False when nothing came.
bool Fill(Buffer& buffer, int timeoutMs) {
    if (buffer.ended) return false;
    buffer.Compact();
    if (buffer.end == sizeof buffer.data) return false;
    pollfd p{kFd, POLLIN, 0};
    for (;;) {
        const int ready = poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            if (gSignal != 0) return false;
            continue;
        }
        if (ready <= 0) return false;
        const ssize_t n = read(kFd, buffer.data + buffer.end, sizeof buffer.data - buffer.end);
        if (n > 0) {
            buffer.end += static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) {
            if (gSignal != 0) return false;
            continue;
        }
        if (n < 0 && errno == EAGAIN) return false;
        buffer.ended = true;  // end of input, or a terminal that went away
        return false;
    }
}

// Decodes at most one key press from the bytes waiting (reading more when
// `wait` is set or a sequence is unfinished).
void DecodeOne(bool wait) {
    while (gDecodedCount == 0) {
        if (gKeys.Size() == 0 && !Fill(gKeys, wait ? -1 : 0)) return;
        DecodedKey key = DecodeKey(gKeys.data + gKeys.start, gKeys.Size(), gKeys.ended);
        while (key.status == DecodedKey::kNeedMore) {
            const bool more = Fill(gKeys, kSequencePauseMs);
            key = DecodeKey(gKeys.data + gKeys.start, gKeys.Size(), !more);
        }
        gKeys.Consume(key.length);
        for (int i = 0; i < key.count; ++i) gDecoded[gDecodedCount++] = key.codes[i];
        if (gSignal != 0) return;
    }
}

bool Space(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Makes the next line of input available in gLines; false at its end.
bool PullLine() {
    if (gTerminal) return Fill(gLines, -1);
    // On a stream the line is taken out of the key stream, so that what
    // follows the word on its line stays for the next word, not for keys.
    for (;;) {
        const unsigned char* from = gKeys.data + gKeys.start;
        const void* newline = std::memchr(from, '\n', gKeys.Size());
        if (newline != nullptr || gKeys.ended || gKeys.Size() == sizeof gKeys.data) {
            const std::size_t length =
                newline != nullptr
                    ? static_cast<std::size_t>(static_cast<const unsigned char*>(newline) - from) +
                          1
                    : gKeys.Size();
            gLines.Compact();
            const std::size_t room = sizeof gLines.data - gLines.end;
            const std::size_t moved = length < room ? length : room;
            std::memcpy(gLines.data + gLines.end, from, moved);
            gLines.end += moved;
            gKeys.Consume(moved);
            return moved > 0;
        }
        if (!Fill(gKeys, -1) && !gKeys.ended) return false;  // interrupted
    }
}

}  // namespace

void Open() {
    if (gOpen) return;
    gOpen = true;
    // A standard descriptor the program was started without would be taken
    // by the next file opened (the trace file, the serial device): keys
    // would then be read from it and messages written to it. /dev/null in
    // its place is input that has ended and output that goes nowhere.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int stand = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (stand >= 0 && stand != fd) close(stand);  // lowest free: it is `fd`
        }
    }
    gTerminal = isatty(kFd) != 0 && tcgetattr(kFd, &gSaved) == 0;

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a waiting read must notice at once
    // A closed output pipe ends the program like a hang-up, so the library
    // still unloads in order instead of the process dying on SIGPIPE.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(signal, &action, nullptr);
    std::atexit(RestoreTerminal);

    if (gTerminal) {
        gKeyMode = gSaved;
        gKeyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        gKeyMode.c_cc[VMIN] = 1;
        gKeyMode.c_cc[VTIME] = 0;
        signal(SIGTSTP, OnStop);
        EnterKeyMode();
    }
}

void Close() {
    gInKeyMode = 0;
    RestoreTerminal();
}

bool KeyWaiting() {
    if (gDecodedCount == 0) DecodeOne(false);
    return gDecodedCount > 0 || (gKeys.ended && gKeys.Size() == 0 && !gEndReported);
}

int ReadKey() {
    if (gDecodedCount == 0) DecodeOne(true);
    if (gDecodedCount == 0) {
        gEndReported = true;
        return kEndOfInput;
    }
    const int key = gDecoded[0];
    --gDecodedCount;
    std::memmove(gDecoded, gDecoded + 1, gDecodedCount * sizeof gDecoded[0]);
    return key;
}

bool ReadWord(const char* prompt, char* word, std::size_t size) {
    EnterLineMode();
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    std::size_t length = 0;
    bool inWord = false;
    bool done = false;
    while (!done) {
        if (gLines.Size() == 0 && !PullLine()) break;
        while (gLines.Size() > 0) {
            const unsigned char c = gLines.data[gLines.start];
            if (Space(c)) {
                if (inWord) {
                    done = true;  // the blank after the word stays for the next read
                    break;
                }
                gLines.Consume(1);
                continue;
            }
            inWord = true;
            if (length + 1 < size) word[length++] = static_cast<char>(c);
            gLines.Consume(1);
        }
        if (gSignal != 0) break;
    }
    if (size > 0) word[length] = '\0';
    // Input that ends at the prompt ends the program's input as a whole.
    if (!inWord && gLines.Size() == 0) gKeys.ended = true;
    if (gSignal == 0) EnterKeyMode();
    return inWord && gSignal == 0;
}

void SleepMs(unsigned milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR && gSignal == 0) {
    }
}

std::string ProgramPath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    return std::string(path, static_cast<std::size_t>(n));
}

bool Interrupted() {
    return gSignal != 0;
}

int InterruptedExitStatus() {
    // Ctrl+C and SIGTERM end the program as an interrupted console program
    // ends; a terminal that hangs up or a closed output pipe gives the usual
    // 128 + signal.
    return gSignal == SIGHUP || gSignal == SIGPIPE ? 128 + gSignal : 130;
}

}  // namespace varnox::testprog::console
