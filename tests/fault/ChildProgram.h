// Running VARNOX-Test in ways the ordinary helpers do not: with standard
// input or output closed, or input at its end, and on a terminal whose far side the test can
// close, with the child's process id at hand for its CPU time.
#ifndef VARNOX_TESTS_FAULT_CHILDPROGRAM_H
#define VARNOX_TESTS_FAULT_CHILDPROGRAM_H

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

#include "tests/support/ProgramRun.h"

namespace varnox::test {

// How the child's standard descriptors are set up before exec.
enum class Streams {
    kInputClosed,   // descriptor 0 closed (as `<&-` does); output and errors collected
    kInputAtEnd,    // /dev/null as input: at its end from the start
    kOutputClosed,  // input /dev/null, descriptor 1 closed (`>&-`); errors collected
};

struct ChildResult {
    int status = -1;         // as a shell shows it; -1 when killed at the time-out
    std::string output;      // what the child wrote to the collected descriptors
    double cpuSeconds = -1;  // user + system time of the child
    long long elapsedMs = 0;
};

ChildResult RunWithStreams(const RunSetup& setup, Streams streams, int timeoutMs);

// The program on a pseudo-terminal (its controlling terminal).
class ProgramOnTerminal {
public:
    explicit ProgramOnTerminal(const RunSetup& setup);
    ~ProgramOnTerminal();  // kills the program if it still runs
    ProgramOnTerminal(const ProgramOnTerminal&) = delete;
    ProgramOnTerminal& operator=(const ProgramOnTerminal&) = delete;

    pid_t Pid() const { return pid_; }
    void Send(const std::string& bytes);
    // Waits until `text` appears after everything an earlier WaitFor matched.
    bool WaitFor(const std::string& text, int timeoutMs);
    std::string Output();
    // The terminal goes away: the program's side sees a hang-up.
    void CloseMaster();
    // The exit status once the program ended; -1 when it still runs then.
    int Wait(int timeoutMs);
    void Signal(int signal) const;
    termios Mode() const;
    const termios& InitialMode() const { return initial_; }

private:
    void Pump(int timeoutMs);

    pid_t pid_ = -1;
    int master_ = -1;
    std::string output_;
    std::size_t matched_ = 0;
    termios initial_{};
    int status_ = -1;
};

// The terminal settings that tell key mode, line mode and the mode a
// program found apart.
bool SameMode(const termios& a, const termios& b);

}  // namespace varnox::test

#endif
