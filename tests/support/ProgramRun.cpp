#include "tests/support/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace varnox::test {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Exec(const RunSetup& setup) {
    if (!setup.workingDirectory.empty() && chdir(setup.workingDirectory.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : setup.environment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& arg : setup.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

int ShellStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

int LeftMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the child until the deadline, then kills it.
int Reap(pid_t pid, Clock::time_point deadline) {
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(2000);
    }
    return ShellStatus(status);
}

}  // namespace

RunResult RunWithInput(const RunSetup& setup, const std::string& input, int timeoutMs) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        Exec(setup);
    }
    close(in[0]);
    close(out[1]);
    signal(SIGPIPE, SIG_IGN);
    // Small scripts fit the pipe; the program reads it at its own pace.
    ssize_t ignored = write(in[1], input.data(), input.size());
    (void)ignored;
    close(in[1]);

    RunResult result;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p{out[0], POLLIN, 0};
    char chunk[4096];
    while (poll(&p, 1, LeftMs(deadline)) > 0) {
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0) break;
        result.output.append(chunk, static_cast<std::size_t>(n));
    }
    close(out[0]);
    result.status = Reap(pid, deadline);
    return result;
}

TerminalRun::TerminalRun(const RunSetup& setup) {
    winsize size{24, 100, 0, 0};
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ < 0) throw std::runtime_error("forkpty failed");
    if (pid_ == 0) Exec(setup);
    tcgetattr(master_, &initial_);
}

TerminalRun::~TerminalRun() {
    if (status_ < 0 && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
}

void TerminalRun::Send(const std::string& bytes) {
    ssize_t ignored = write(master_, bytes.data(), bytes.size());
    (void)ignored;
}

void TerminalRun::Pump(int timeoutMs) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char chunk[4096];
    const ssize_t n = read(master_, chunk, sizeof chunk);
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
        if (chunk[i] != '\r') output_.push_back(chunk[i]);
    }
}

bool TerminalRun::WaitFor(const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t at = output_.find(text, matched_);
        if (at != std::string::npos) {
            matched_ = at + text.size();
            return true;
        }
        if (Clock::now() >= deadline) return false;
        Pump(LeftMs(deadline) < 20 ? LeftMs(deadline) : 20);
    }
}

std::string TerminalRun::Output() {
    Pump(0);
    return output_;
}

int TerminalRun::Wait(int timeoutMs) {
    if (status_ >= 0) return status_;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        Pump(10);
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        if (Clock::now() >= deadline) return -1;
    }
    for (int i = 0; i < 5; ++i) Pump(5);
    status_ = ShellStatus(status);
    return status_;
}

void TerminalRun::Signal(int signal) { kill(pid_, signal); }

termios TerminalRun::Mode() const {
    termios mode{};
    tcgetattr(master_, &mode);
    return mode;
}

}  // namespace varnox::test
