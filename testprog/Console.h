// The console as the test program needs it: a key-waiting test that never
// blocks, a key read without echo or line buffering, a word read from the
// line-buffered standard input, a millisecond sleep and the program's path.
// One implementation per platform (posix/PosixConsole.cpp on Linux).
#ifndef VARNOX_TESTPROG_CONSOLE_H
#define VARNOX_TESTPROG_CONSOLE_H

#include <cstddef>
#include <string>

namespace varnox::testprog::console {

// What ReadKey returns once standard input has ended.
inline constexpr int kEndOfInput = -1;

// Puts a terminal on standard input into key mode (no echo, no line
// buffering) and arranges that it is restored on every way out: Close(),
// exit(), the termination signals and Ctrl+Z (key mode returns when the
// program is continued). Ctrl+C, SIGTERM, SIGHUP and SIGPIPE request an
// interruption (see Interrupted()).
void Open();
// Restores the terminal as Open() found it. Safe to call more than once.
void Close();

// True when a key press (or the end of input) is waiting. Never blocks.
bool KeyWaiting();
// The next key press: its character code, or 0 and then, at the next call,
// the PC scan code of a key without a character. Waits for one if none is
// waiting. kEndOfInput once input has ended.
int ReadKey();

// Shows `prompt` on standard output and reads one word (like scanf "%s")
// from standard input, in line mode with echo on a terminal. The terminal is
// switched before the prompt appears, so whatever is typed after it is
// echoed and edited as a line. At most size - 1 characters are kept; the
// rest of a longer word is read and dropped, so it cannot turn into the next
// word. False when input ends (or an interruption comes) before a word.
bool ReadWord(const char* prompt, char* word, std::size_t size);

void SleepMs(unsigned milliseconds);

// The full path of the running program file; empty when unknown.
std::string ProgramPath();

// True after Ctrl+C or a termination signal. The program then ends at once
// with InterruptedExitStatus(), without its closing messages.
bool Interrupted();
int InterruptedExitStatus();

}  // namespace varnox::testprog::console

#endif
