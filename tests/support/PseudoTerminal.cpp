#include "tests/support/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "serial/posix/PosixSerialLayer.h"

namespace varnox::test {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("PseudoTerminal: ") + what + ": " + std::strerror(errno));
}

}  // namespace

PseudoTerminal::PseudoTerminal(unsigned portNumber) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        Fail("posix_openpt");
    }
    char slave[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, slave, sizeof slave) != 0) {
        const int saved = errno;
        ::close(master_);
        errno = saved;
        Fail("grantpt/unlockpt/ptsname_r");
    }
    slavePath_ = slave;

    // No termios call on the master here: Linux applies those to the slave,
    // which must keep its default (cooked) settings until the layer under
    // test changes them. The master's own line discipline starts raw.
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/varnox-pty-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        const int saved = errno;
        ::close(master_);
        errno = saved;
        Fail("mkdtemp");
    }
    dir_ = pattern;
    const std::string port = "COM" + std::to_string(portNumber);
    linkPath_ = dir_ + "/" + port;
    if (::symlink(slavePath_.c_str(), linkPath_.c_str()) != 0) {
        const int saved = errno;
        ::rmdir(dir_.c_str());
        ::close(master_);
        errno = saved;
        Fail("symlink");
    }
    deviceName_ = "\\\\.\\" + port;

    if (const char* previous = std::getenv(serial::kDeviceDirVariable)) {
        previousDeviceDir_ = previous;
    }
    ::setenv(serial::kDeviceDirVariable, dir_.c_str(), 1);
}

PseudoTerminal::~PseudoTerminal() {
    if (previousDeviceDir_) {
        ::setenv(serial::kDeviceDirVariable, previousDeviceDir_->c_str(), 1);
    } else {
        ::unsetenv(serial::kDeviceDirVariable);
    }
    ::unlink(linkPath_.c_str());
    ::rmdir(dir_.c_str());
    CloseMaster();
}

bool PseudoTerminal::WriteFromMaster(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(master_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{master_, POLLOUT, 0};
            if (::poll(&p, 1, 5000) <= 0) {
                return false;
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

bool PseudoTerminal::WriteFromMaster(const std::string& bytes) {
    return WriteFromMaster(bytes.data(), bytes.size());
}

std::string PseudoTerminal::ReadFromMaster(std::size_t wanted, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string received;
    char buffer[4096];
    while (received.size() < wanted) {
        const std::size_t chunk = std::min(sizeof buffer, wanted - received.size());
        const ssize_t n = ::read(master_, buffer, chunk);
        if (n > 0) {
            received.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        const bool noSlave = n < 0 && errno == EIO;
        if (n < 0 && errno != EAGAIN && !noSlave) {
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        // EIO means no slave is open at the moment; poll() would report a
        // hang-up at once, so just wait a little before trying again.
        const int waitMs = static_cast<int>(std::min<long long>(left.count(), noSlave ? 5 : 20));
        pollfd p{master_, POLLIN, 0};
        ::poll(noSlave ? nullptr : &p, noSlave ? 0 : 1, waitMs);
    }
    return received;
}

void PseudoTerminal::CloseMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

int PseudoTerminal::OpenSlave() const {
    return ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

bool PseudoTerminal::SlaveSettings(termios& settings) const {
    const int fd = OpenSlave();
    if (fd < 0) {
        // Someone holds the slave with TIOCEXCL and we are not root. Linux
        // answers tcgetattr on a master with the slave's settings.
        return errno == EBUSY && master_ >= 0 && ::tcgetattr(master_, &settings) == 0;
    }
    const bool ok = ::tcgetattr(fd, &settings) == 0;
    ::close(fd);
    return ok;
}

}  // namespace varnox::test
