// Starting and reaping the benchmark's child processes (the pySerial client,
// strace, VARNOX-Test) without fork(): the benchmark process runs simulator
// threads, and posix_spawn() does not copy their state into the child.
#ifndef VARNOX_BENCH_SPAWN_H
#define VARNOX_BENCH_SPAWN_H

#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace varnox::bench {

struct SpawnSetup {
    std::vector<std::string> argv;
    bool searchPath = false;                                       // argv[0] is looked up in PATH
    std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
    // Descriptors for the child's standard input, output and error; -1
    // leaves the benchmark's own.
    int input = -1;
    int output = -1;
    int error = -1;
};

// Throws std::runtime_error naming the program when it cannot be started.
pid_t Spawn(const SpawnSetup& setup);

// Waits up to timeoutMs for the child, then kills it. Returns the status as a
// shell shows it (the code, or 128 + signal), -1 when it had to be killed.
// `usage` receives the child's resource use when not null.
int Reap(pid_t pid, int timeoutMs, rusage* usage = nullptr);

// A pipe whose descriptors are closed on exec; throws when none is left.
void MakePipe(int fds[2]);

// Reads everything a descriptor holds until end of file or `timeoutMs`.
std::string ReadAll(int fd, int timeoutMs);

}  // namespace varnox::bench

#endif
