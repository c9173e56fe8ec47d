#include "tests/support/ProgramRun.h"

#include "tests/support/Elapsed.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace varnox::test {
namespace {

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

ExecImage::ExecImage(const RunSetup& setup) : directory_(setup.workingDirectory) {
    args_ = setup.argv;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (setup.environment.count(text.substr(0, text.find('='))) == 0) env_.push_back(text);
    }
    for (const auto& [name, value] : setup.environment) env_.push_back(name + "=" + value);
    for (std::string& arg : args_) argv_.push_back(arg.data());
    argv_.push_back(nullptr);
    for (std::string& entry : env_) envp_.push_back(entry.data());
    envp_.push_back(nullptr);
}

void ExecImage::Exec() const {
    if (!directory_.empty() && ::chdir(directory_.c_str()) != 0) ::_exit(126);
    ::execve(argv_[0], argv_.data(), envp_.data());
    ::_exit(127);
}

int ShellStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

RunResult RunWithInput(const RunSetup& setup, const std::string& input, int timeoutMs) {
    const ExecImage image(setup);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        image.Exec();
    }
    close(in[0]);
    close(out[1]);
    signal(SIGPIPE, SIG_IGN);
    // Small scripts fit the pipe; the program reads it at its own pace.
    [[maybe_unused]] const ssize_t ignored = write(in[1], input.data(), input.size());
    close(in[1]);

    RunResult result;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p{out[0], POLLIN, 0};
    char chunk[4096];
    while (poll(&p, 1, MsLeft(deadline)) > 0) {
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0) break;
        result.output.append(chunk, static_cast<std::size_t>(n));
    }
    close(out[0]);
    result.status = Reap(pid, deadline);
    return result;
}

TerminalRun::TerminalRun(const RunSetup& setup) {
    const ExecImage image(setup);
    winsize size{24, 100, 0, 0};
    pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ < 0) throw std::runtime_error("forkpty failed");
    if (pid_ == 0) image.Exec();
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::tcgetattr(master_, &initial_);
}

TerminalRun::~TerminalRun() {
    if (status_ < 0 && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    CloseMaster();
}

void TerminalRun::Send(const std::string& bytes) {
    if (master_ < 0) return;
    [[maybe_unused]] const ssize_t ignored = ::write(master_, bytes.data(), bytes.size());
}

void TerminalRun::Pump(int timeoutMs) {
    if (master_ < 0) {
        if (timeoutMs > 0) ::poll(nullptr, 0, timeoutMs);
        return;
    }
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return;
    char chunk[4096];
    const ssize_t n = ::read(master_, chunk, sizeof chunk);
    if (n <= 0) {
        // The program's side closed (it ended): nothing more will come.
        if (timeoutMs > 0) ::poll(nullptr, 0, timeoutMs);
        return;
    }
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
        Pump(MsLeft(deadline) < 20 ? MsLeft(deadline) : 20);
    }
}

std::string TerminalRun::Output() {
    Pump(0);
    return output_;
}

void TerminalRun::CloseMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

int TerminalRun::Wait(int timeoutMs) {
    if (status_ >= 0) return status_;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        Pump(10);
        if (::waitpid(pid_, &status, WNOHANG) == pid_) break;
        if (Clock::now() >= deadline) return -1;
    }
    for (int i = 0; i < 5; ++i) Pump(5);
    status_ = ShellStatus(status);
    return status_;
}

void TerminalRun::Signal(int signal) const {
    ::kill(pid_, signal);
}

termios TerminalRun::Mode() const {
    termios mode{};
    if (master_ >= 0) ::tcgetattr(master_, &mode);
    return mode;
}

bool SameMode(const termios& a, const termios& b) {
    return a.c_lflag == b.c_lflag && a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
           a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

}  // namespace varnox::test
