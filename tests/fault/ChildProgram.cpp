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

extern char** environ;

namespace varnox::test {
namespace {

// argv and envp built before fork(): between fork() and exec() the child
// of a threaded test (the simulator runs a thread) must not allocate.
class ExecImage {
public:
    explicit ExecImage(const RunSetup& setup) : directory_(setup.workingDirectory) {
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

    [[noreturn]] void Exec() const {
        if (!directory_.empty() && ::chdir(directory_.c_str()) != 0) ::_exit(126);
        ::execve(argv_[0], argv_.data(), envp_.data());
        ::_exit(127);
    }

private:
    std::string directory_;
    std::vector<std::string> args_;
    std::vector<std::string> env_;
    std::vector<char*> argv_;
    std::vector<char*> envp_;
};

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
    while (::poll(&p, 1, LeftMs(deadline)) > 0) {
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

ProgramOnTerminal::ProgramOnTerminal(const RunSetup& setup) {
    const ExecImage image(setup);
    winsize size{24, 100, 0, 0};
    pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ < 0) throw std::runtime_error("forkpty failed");
    if (pid_ == 0) image.Exec();
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::tcgetattr(master_, &initial_);
}

ProgramOnTerminal::~ProgramOnTerminal() {
    if (status_ < 0 && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    CloseMaster();
}

void ProgramOnTerminal::Send(const std::string& bytes) {
    if (master_ < 0) return;
    [[maybe_unused]] const ssize_t ignored = ::write(master_, bytes.data(), bytes.size());
}

void ProgramOnTerminal::Pump(int timeoutMs) {
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

bool ProgramOnTerminal::WaitFor(const std::string& text, int timeoutMs) {
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

std::string ProgramOnTerminal::Output() {
    Pump(0);
    return output_;
}

void ProgramOnTerminal::CloseMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

int ProgramOnTerminal::Wait(int timeoutMs) {
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

void ProgramOnTerminal::Signal(int signal) const {
    ::kill(pid_, signal);
}

termios ProgramOnTerminal::Mode() const {
    termios mode{};
    if (master_ >= 0) ::tcgetattr(master_, &mode);
    return mode;
}

bool SameMode(const termios& a, const termios& b) {
    return a.c_lflag == b.c_lflag && a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
           a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

}  // namespace varnox::test
