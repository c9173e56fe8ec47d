#include "tests/simulator/ProgramRunner.h"

#include "tests/support/Elapsed.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace varnox::test {

ProgramRunner::ProgramRunner(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int in[2];
    int out[2];
    int err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot create pipes: " << std::strerror(errno);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(126);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_ = in[1];
    out_.fd = out[0];
    err_.fd = err[0];
    if (pid_ < 0) ADD_FAILURE() << "cannot fork: " << std::strerror(errno);
}

ProgramRunner::~ProgramRunner() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int ignored;
        ::waitpid(pid_, &ignored, 0);
    }
    for (const int fd : {input_, out_.fd, err_.fd}) {
        if (fd >= 0) ::close(fd);
    }
}

bool ProgramRunner::WriteInput(const std::string& text) {
    return input_ >= 0 &&
           ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void ProgramRunner::CloseInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
}

bool ProgramRunner::ReadSome(Pipe& pipe, int timeoutMs) {
    if (pipe.fd < 0) return false;
    pollfd p{pipe.fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return true;  // nothing yet
    char buffer[4096];
    const ssize_t n = ::read(pipe.fd, buffer, sizeof buffer);
    if (n <= 0) {
        ::close(pipe.fd);
        pipe.fd = -1;
        return false;
    }
    pipe.all.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> ProgramRunner::ReadLine(Stream stream, int timeoutMs) {
    Pipe& pipe = Of(stream);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t end = pipe.all.find('\n', pipe.taken);
        if (end != std::string::npos) {
            std::string line = pipe.all.substr(pipe.taken, end - pipe.taken);
            pipe.taken = end + 1;
            return line;
        }
        if (MsLeft(deadline) == 0 || !ReadSome(pipe, MsLeft(deadline))) return std::nullopt;
    }
}

std::optional<std::string> ProgramRunner::WaitForLine(Stream stream, const std::string& text,
                                                      int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (const auto line = ReadLine(stream, MsLeft(deadline))) {
        if (line->find(text) != std::string::npos) return line;
    }
    return std::nullopt;
}

std::optional<int> ProgramRunner::Wait(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // The streams end when the program and everything it started are gone.
    while ((out_.fd >= 0 || err_.fd >= 0) && MsLeft(deadline) > 0) {
        pollfd fds[2] = {{out_.fd, POLLIN, 0}, {err_.fd, POLLIN, 0}};
        if (::poll(fds, 2, MsLeft(deadline)) <= 0) break;
        if (fds[0].revents != 0) ReadSome(out_, 0);
        if (fds[1].revents != 0) ReadSome(err_, 0);
    }
    while (!status_ && pid_ > 0) {
        int raw = 0;
        const pid_t r = ::waitpid(pid_, &raw, MsLeft(deadline) > 0 ? 0 : WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        } else if (r == 0 || (r < 0 && errno != EINTR)) {
            break;
        }
    }
    return status_;
}

const std::string& ProgramRunner::Output(Stream stream) const {
    return stream == Stream::kOut ? out_.all : err_.all;
}

}  // namespace varnox::test
