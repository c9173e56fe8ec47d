#include "simulator/program/SignalPipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace varnox::sim {

namespace {

int gPipe[2] = {-1, -1};

// Two bytes per signal: its number and whether a process sent it. Writes of
// two bytes to a pipe are atomic, and a full pipe only loses repeats.
void OnSignal(int number, siginfo_t* info, void*) {
    const int saved = errno;
    const unsigned char record[2] = {
        static_cast<unsigned char>(number),
        static_cast<unsigned char>(info != nullptr && info->si_code <= 0)};
    [[maybe_unused]] const ssize_t ignored = ::write(gPipe[1], record, sizeof record);
    errno = saved;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signals) : signals_(signals) {
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("VARNOX-Sim: cannot create the signal pipe: ") +
                                 std::strerror(errno) + "; the system may be out of descriptors");
    }
    struct sigaction action {};
    action.sa_sigaction = OnSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : signals_) {
        if (::sigaction(number, &action, nullptr) != 0) {
            throw std::runtime_error("VARNOX-Sim: cannot catch signal " + std::to_string(number) +
                                     ": " + std::strerror(errno));
        }
    }
}

SignalPipe::~SignalPipe() {
    for (const int number : signals_) ::signal(number, SIG_DFL);
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

int SignalPipe::Fd() const {
    return gPipe[0];
}

std::vector<CaughtSignal> SignalPipe::Take() {
    std::vector<CaughtSignal> caught;
    unsigned char record[2];
    while (::read(gPipe[0], record, sizeof record) == static_cast<ssize_t>(sizeof record)) {
        caught.push_back({record[0], record[1] != 0});
    }
    return caught;
}

}  // namespace varnox::sim
