#include "simulator/program/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace varnox::sim {

namespace {

std::vector<char*> Pointers(const std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (const std::string& w : words) pointers.push_back(const_cast<char*>(w.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& command,
                           const std::vector<std::string>& environment) {
    // Everything the child needs is prepared here: after fork() in a
    // process with threads, the child may only make async-signal-safe calls.
    std::vector<char*> argv = Pointers(command);
    std::vector<char*> envp = Pointers(environment);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("VARNOX-Sim: cannot create a pipe for the command: ") +
                                 std::strerror(errno) + "; the system may be out of descriptors");
    }
    pid_ = ::fork();
    if (pid_ < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        throw std::runtime_error(std::string("VARNOX-Sim: cannot start a process: ") +
                                 std::strerror(error) + "; the system may be out of processes");
    }
    if (pid_ == 0) {
        // The program ignores SIGPIPE and an ignored signal stays ignored
        // across exec; the command gets the defaults.
        ::signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execvpe(argv[0], argv.data(), envp.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t ignored = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof error)) {
        int ignored;
        while (::waitpid(pid_, &ignored, 0) < 0 && errno == EINTR) {
        }
        throw std::runtime_error("VARNOX-Sim: cannot run '" + command[0] + "': " +
                                 std::strerror(error) + "; check the command name and PATH");
    }
}

std::optional<int> ChildProcess::Reap() {
    if (status_) return status_;
    int raw = 0;
    const pid_t r = ::waitpid(pid_, &raw, WNOHANG);
    if (r == pid_) {
        if (WIFEXITED(raw)) {
            status_ = WEXITSTATUS(raw);
        } else if (WIFSIGNALED(raw)) {
            status_ = 128 + WTERMSIG(raw);
        }
    }
    return status_;
}

void ChildProcess::Signal(int number) const {
    if (!status_) ::kill(pid_, number);
}

}  // namespace varnox::sim
