// The figures that need a process of their own: the system calls of an
// empty poll, counted by strace around a child run of this benchmark, and
// VARNOX-Test left idle.
#ifndef VARNOX_BENCH_CHILDRUNS_H
#define VARNOX_BENCH_CHILDRUNS_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace varnox::bench {

// This program's own child mode: opens the simulated module, makes `polls`
// empty VARNOX_CHECKINPUT calls, closes. Returns the exit status.
int RunEmptyPollsChild(std::uint64_t polls);

struct SyscallCount {
    bool counted = false;
    std::string problem;  // why not, with what to do
    double perPoll = 0;   // system calls per empty poll, all kinds
    std::string kinds;    // the calls that make it up, e.g. "read 1.000"
    std::uint64_t polls = 0;
};

// Runs the child mode under `strace -f -c` twice, with no polls and with
// `polls` polls: what the second run makes beyond the first is the polls'.
SyscallCount CountEmptyPollSyscalls(const std::string& self, std::uint64_t polls);

struct IdleRun {
    bool ran = false;
    std::string problem;
    double cpuSeconds = 0;         // user + system over the whole life (wait4 rusage)
    double lifeSeconds = 0;        // from start to exit
    double windowSeconds = 0;      // the idle window
    double windowCpuSeconds = -1;  // the window alone (/proc/PID/schedstat); -1 unknown
    bool readsKnown = false;
    std::uint64_t windowReads = 0;  // read() calls in the window (/proc/PID/io syscr)
};

// A program left idle with a standard input that stays open and sends
// nothing. It is ready once it wrote `readyText`; closing its input must end
// it normally, having written `endText`.
struct IdleProgram {
    std::string name;
    std::vector<std::string> argv;
    std::vector<std::pair<std::string, std::string>> environment;
    std::string readyText;
    std::string endText;
};

// Starts the programs together, waits until all are ready, leaves them
// alone for `idleSeconds` (the same window for all), then closes their input
// and reaps them. `progress` is called with each second waited.
std::vector<IdleRun> RunIdle(const std::vector<IdleProgram>& programs, double idleSeconds,
                             const std::function<void(int)>& progress);

// This program's own child mode, the floor of an idle loop: per pass one
// empty non-blocking read of a pseudo-terminal, one poll() of standard input
// and a 10 ms sleep, as VARNOX-Test's key loop makes them, and nothing else.
// Writes "ready" and, at the end of its input, "finished".
int RunIdleFloorChild();

}  // namespace varnox::bench

#endif
