// The command VARNOX-Sim runs next to the simulated module.
#ifndef VARNOX_SIMULATOR_PROGRAM_CHILDPROCESS_H
#define VARNOX_SIMULATOR_PROGRAM_CHILDPROCESS_H

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace varnox::sim {

class ChildProcess {
public:
    // Runs `command` (the first word searched in PATH) with `environment`
    // ("NAME=value" entries) as its whole environment, inheriting standard
    // input, output and error. Throws std::runtime_error saying what failed
    // and what to do when it cannot be started or run.
    ChildProcess(const std::vector<std::string>& command,
                 const std::vector<std::string>& environment);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Once it has ended: its status as a shell reports it (the exit code, or
    // 128+N when signal N ended it). Never waits.
    std::optional<int> Reap();
    void Signal(int number) const;

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

}  // namespace varnox::sim

#endif
