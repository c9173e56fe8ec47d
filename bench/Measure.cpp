#include "bench/Measure.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace varnox::bench {

std::int64_t NowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double Median(std::vector<double> samples) {
    if (samples.empty()) return 0;
    const std::size_t middle = samples.size() / 2;
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(middle),
                     samples.end());
    const double upper = samples[middle];
    if (samples.size() % 2 != 0) return upper;
    const double lower =
        *std::max_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2;
}

double Median(std::vector<std::int64_t> samples) {
    return Median(std::vector<double>(samples.begin(), samples.end()));
}

double Percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return samples[std::min(index, samples.size() - 1)];
}

std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string FormatNs(double ns) {
    const double magnitude = std::fabs(ns);
    if (magnitude < 1e3) return Format("%.0f ns", ns);
    if (magnitude < 1e4) return Format("%.2f us", ns / 1e3);
    if (magnitude < 1e6) return Format("%.1f us", ns / 1e3);
    if (magnitude < 1e7) return Format("%.2f ms", ns / 1e6);
    if (magnitude < 1e9) return Format("%.1f ms", ns / 1e6);
    return Format("%.2f s", ns / 1e9);
}

RawLine::RawLine(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        throw std::runtime_error("cannot open " + path +
                                 " for the raw client: " + std::strerror(errno));
    }
    termios t{};
    bool set = ::tcgetattr(fd_, &t) == 0;
    if (set) {
        ::cfmakeraw(&t);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB | CRTSCTS);
        // A pseudo-terminal drops PARENB; asked for all the same, as on a real line.
        t.c_cflag |= CS8 | PARENB | CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        set = ::cfsetspeed(&t, B9600) == 0 && ::tcsetattr(fd_, TCSANOW, &t) == 0;
    }
    if (!set) {
        const std::string error = std::strerror(errno);
        ::close(fd_);
        throw std::runtime_error("cannot set the line of " + path +
                                 " for the raw client: " + error);
    }
}

RawLine::~RawLine() {
    if (fd_ >= 0) ::close(fd_);
}

std::int64_t RawLine::RoundTrip(std::string_view command, char* reply, std::size_t length,
                                int timeoutMs) {
    const std::int64_t start = NowNs();
    const std::int64_t deadline = start + static_cast<std::int64_t>(timeoutMs) * 1000000;
    Send(command.data(), command.size());
    std::size_t got = 0;
    while (got < length) {
        const std::int64_t left = deadline - NowNs();
        pollfd p{fd_, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left / 1000000) + 1) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            throw std::runtime_error(Format(
                "the simulated module gave the raw client %zu of %zu reply bytes within %d ms", got,
                length, timeoutMs));
        }
        const ssize_t n = ::read(fd_, reply + got, length - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            throw std::runtime_error("the raw client's line " + path_ + " went away: " +
                                     (n == 0 ? "end of file" : std::strerror(errno)));
        }
    }
    return NowNs() - start;
}

void RawLine::Send(const char* bytes, std::size_t count) {
    const ssize_t written = ::write(fd_, bytes, count);
    if (written != static_cast<ssize_t>(count)) {
        throw std::runtime_error("the raw client could not write its command to " + path_ + ": " +
                                 (written < 0 ? std::strerror(errno) : "short write"));
    }
}

void RawLine::ReadFirst(char* into, std::size_t count, std::int64_t deadline) {
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd_, into + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            throw std::runtime_error("the raw client's line " + path_ + " went away: " +
                                     (n == 0 ? "end of file" : std::strerror(errno)));
        }
        const std::int64_t left = deadline - NowNs();
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left / 1000000) + 1) == 0) {
            throw std::runtime_error("the simulated module did not answer the raw client in time");
        }
    }
}

std::int64_t RawLine::RoundTripAsLibrary(char* reply, std::size_t length, int timeoutMs) {
    const std::int64_t start = NowNs();
    const std::int64_t deadline = start + static_cast<std::int64_t>(timeoutMs) * 1000000;
    Send("i", 1);
    Send("\r", 1);
    ReadFirst(reply, 1, deadline);
    ReadFirst(reply + 1, length - 1, deadline);
    return NowNs() - start;
}

bool RawLine::ReadNothing() {
    char buffer[4096];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    return n < 0 && errno == EAGAIN;
}

void RawLine::AllowOtherOpens() {
    ::ioctl(fd_, TIOCNXCL);
}

}  // namespace varnox::bench
