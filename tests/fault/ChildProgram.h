// Running VARNOX-Test in ways the ordinary helpers do not: with standard
// input or output closed, or input at its end, with its CPU time measured.
// On a terminal it runs in a TerminalRun (tests/support/ProgramRun.h).
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

}  // namespace varnox::test

#endif
