#include "bench/Spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "bench/Measure.h"

extern char** environ;

namespace varnox::bench {

pid_t Spawn(const SpawnSetup& setup) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const auto& [name, value] : setup.environment) {
            replaced = replaced || text.compare(0, name.size() + 1, name + "=") == 0;
        }
        if (!replaced) environment.push_back(text);
    }
    for (const auto& [name, value] : setup.environment) environment.push_back(name + "=" + value);

    std::vector<char*> argv;
    for (const std::string& arg : setup.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int targets[3] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
    const int sources[3] = {setup.input, setup.output, setup.error};
    for (int i = 0; i < 3; ++i) {
        if (sources[i] >= 0) posix_spawn_file_actions_adddup2(&actions, sources[i], targets[i]);
    }
    pid_t pid = -1;
    const int error = setup.searchPath
                          ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data())
                          : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + setup.argv[0] + ": " + std::strerror(error));
    }
    return pid;
}

int Reap(pid_t pid, int timeoutMs, rusage* usage) {
    rusage ignored{};
    rusage* into = usage != nullptr ? usage : &ignored;
    const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
    int status = 0;
    for (;;) {
        const pid_t r = ::wait4(pid, &status, WNOHANG, into);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return -1;
        if (NowNs() >= deadline) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, into);
            return -1;
        }
        const timespec pause{0, 2000000};
        ::nanosleep(&pause, nullptr);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void MakePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno) +
                                 "; the process may be out of file descriptors");
    }
}

std::string ReadAll(int fd, int timeoutMs) {
    std::string text;
    const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
    for (;;) {
        const std::int64_t left = (deadline - NowNs()) / 1000000;
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace varnox::bench
