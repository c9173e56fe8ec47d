#include "tests/fault/ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "tests/fault/FaultSupport.h"
#include "tests/support/Elapsed.h"

namespace varnox::test {
namespace {

double CpuSeconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

ChildResult RunWithStreams(const RunSetup& setup, Streams streams, int timeoutMs) {
    const ExecImage image(setup);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::close(STDIN_FILENO);
        if (streams != Streams::kInputClosed && ::open("/dev/null", O_RDONLY) != STDIN_FILENO) {
            ::_exit(125);
        }
        if (streams == Streams::kOutputClosed) ::close(STDOUT_FILENO);
        image.Exec();
    }
    ::close(out[1]);

    ChildResult result;
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    pollfd p{out[0], POLLIN, 0};
    char chunk[4096];
    while (::poll(&p, 1, MsLeft(deadline)) > 0) {
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0) break;
        result.output.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(out[0]);

    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            result.cpuSeconds = CpuSeconds(usage);
            result.elapsedMs = MsSince(start);
            return result;  // status -1: it had to be killed
        }
        ::usleep(2000);
    }
    result.status = ShellStatus(status);
    result.cpuSeconds = CpuSeconds(usage);
    result.elapsedMs = MsSince(start);
    return result;
}

}  // namespace varnox::test
