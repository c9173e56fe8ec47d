#include "tests/simulator/RawClient.h"

#include "tests/support/Elapsed.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace varnox::test {

RawClient::RawClient(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) ADD_FAILURE() << "cannot open " << path << ": " << std::strerror(errno);
}

RawClient::~RawClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool RawClient::SetModemLine() {
    return Change([](termios& t) {
        ::cfmakeraw(&t);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::cfsetspeed(&t, B9600);
    });
}

bool RawClient::Change(const std::function<void(termios&)>& change) {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    change(t);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool RawClient::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, kReplyTimeoutMs) <= 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

std::string RawClient::Receive(std::size_t wanted, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string received;
    char buffer[4096];
    while (received.size() < wanted) {
        const std::size_t chunk = std::min(sizeof buffer, wanted - received.size());
        const ssize_t n = ::read(fd_, buffer, chunk);
        if (n > 0) {
            received.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;  // hung up
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, MsLeft(deadline)) <= 0) break;
    }
    return received;
}

bool RawClient::SeesHangUp(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, MsLeft(deadline)) <= 0) return false;
        if ((p.revents & POLLHUP) != 0) return true;
        char byte;
        const ssize_t n = ::read(fd_, &byte, 1);
        if (n == 0 || (n < 0 && errno == EIO)) return true;
    }
}

}  // namespace varnox::test
