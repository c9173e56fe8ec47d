#include "bench/Peers.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

#ifdef VARNOX_BENCH_HAVE_LIBSERIALPORT
#include <libserialport.h>
#endif

#include "bench/Measure.h"
#include "bench/Spawn.h"

namespace varnox::bench {

namespace {
// Python starts in well under a second; a busy machine gets ample slack.
constexpr int kStartTimeoutMs = 15000;
constexpr int kRunTimeoutMs = 15000;
}  // namespace

PySerialPeer::PySerialPeer(const std::string& python, const std::string& script,
                           const std::string& path) {
    int down[2];
    int up[2];
    MakePipe(down);
    MakePipe(up);
    SpawnSetup setup;
    // -I: the interpreter ignores the working directory (this repository
    // has a folder named serial/ that would shadow the pySerial package)
    // and the user's site packages, so Debian's python3-serial is used.
    setup.argv = {python, "-I", script, path};
    setup.input = down[0];
    setup.output = up[1];
    setup.error = up[1];
    try {
        pid_ = Spawn(setup);
    } catch (const std::exception& e) {
        problem_ = std::string(e.what()) + "; install python3 and python3-serial";
    }
    ::close(down[0]);
    ::close(up[1]);
    toClient_ = down[1];
    fromClient_ = up[0];
    if (pid_ < 0) return;

    std::string line;
    if (!ReadLine(line, kStartTimeoutMs)) {
        Fail("the pySerial client did not start within " + std::to_string(kStartTimeoutMs / 1000) +
             " s");
        return;
    }
    if (line.compare(0, 6, "ready ") != 0) {
        Fail(line.compare(0, 5, "fail ") == 0 ? line.substr(5)
                                              : "the pySerial client said: " + line);
        return;
    }
    version_ = line.substr(6);
    ready_ = true;
}

PySerialPeer::~PySerialPeer() {
    if (toClient_ >= 0) {
        if (ready_) {
            const char quit[] = "quit\n";
            [[maybe_unused]] const ssize_t ignored = ::write(toClient_, quit, sizeof quit - 1);
        }
        ::close(toClient_);
    }
    if (pid_ > 0) Reap(pid_, 5000);
    if (fromClient_ >= 0) ::close(fromClient_);
}

void PySerialPeer::Fail(const std::string& why) {
    ready_ = false;
    std::string rest = pending_ + ReadAll(fromClient_, 500);
    while (!rest.empty() && (rest.back() == '\n' || rest.back() == ' ')) rest.pop_back();
    problem_ = why;
    if (!rest.empty()) problem_ += " (it also said: " + rest + ")";
}

bool PySerialPeer::ReadLine(std::string& line, int timeoutMs) {
    const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        const std::int64_t left = (deadline - NowNs()) / 1000000;
        if (left <= 0) return false;
        pollfd p{fromClient_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[65536];
        const ssize_t n = ::read(fromClient_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool PySerialPeer::Run(int count, std::vector<std::int64_t>& samples) {
    if (!ready_) return false;
    const std::string request = "run " + std::to_string(count) + "\n";
    if (::write(toClient_, request.data(), request.size()) !=
        static_cast<ssize_t>(request.size())) {
        Fail("the pySerial client stopped taking requests");
        return false;
    }
    std::string line;
    if (!ReadLine(line, kRunTimeoutMs)) {
        Fail("the pySerial client gave no answer within " + std::to_string(kRunTimeoutMs / 1000) +
             " s");
        return false;
    }
    if (line.compare(0, 3, "ok ") != 0) {
        Fail(line.compare(0, 5, "fail ") == 0 ? line.substr(5)
                                              : "the pySerial client said: " + line);
        return false;
    }
    std::istringstream numbers(line.substr(3));
    std::int64_t ns = 0;
    int read = 0;
    while (numbers >> ns) {
        samples.push_back(ns);
        ++read;
    }
    if (read != count) {
        Fail(Format("the pySerial client timed %d round trips instead of %d", read, count));
        return false;
    }
    return true;
}

#ifdef VARNOX_BENCH_HAVE_LIBSERIALPORT

namespace {

// libserialport says why a call failed only through its debug messages;
// the first message that reports an error names the cause.
std::string gFirstError;

__attribute__((format(printf, 1, 2))) void KeepDebugMessage(const char* format, ...) {
    if (!gFirstError.empty()) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.find("SP_ERR") != std::string::npos) gFirstError = message;
}

std::string Failure(const char* call, sp_return code) {
    std::string why = std::string(call) + " failed";
    if (!gFirstError.empty()) {
        why += " (" + gFirstError + ")";
    } else if (code == SP_ERR_FAIL) {
        char* text = sp_last_error_message();
        if (text != nullptr) {
            why += std::string(": ") + text;
            sp_free_error_message(text);
        }
    } else {
        why += Format(" with code %d", static_cast<int>(code));
    }
    return why;
}

}  // namespace

SerialPortPeer::SerialPortPeer(const std::string& path) {
    version_ = sp_get_package_version_string();
    gFirstError.clear();
    sp_set_debug_handler(KeepDebugMessage);
    sp_port* port = nullptr;
    sp_return r = sp_get_port_by_name(path.c_str(), &port);
    if (r != SP_OK) {
        problem_ = Failure("sp_get_port_by_name", r);
    } else if ((r = sp_open(port, SP_MODE_READ_WRITE)) != SP_OK) {
        problem_ = Failure("sp_open", r);
        sp_free_port(port);
    } else if ((r = sp_set_baudrate(port, 9600)) != SP_OK || (r = sp_set_bits(port, 8)) != SP_OK ||
               (r = sp_set_parity(port, SP_PARITY_EVEN)) != SP_OK ||
               (r = sp_set_stopbits(port, 1)) != SP_OK ||
               (r = sp_set_flowcontrol(port, SP_FLOWCONTROL_NONE)) != SP_OK) {
        problem_ = Failure("setting 9600 8E1", r);
        sp_close(port);
        sp_free_port(port);
    } else {
        port_ = port;
    }
    // Measured without debug output: its formatting is no part of a round trip.
    sp_set_debug_handler(nullptr);
}

SerialPortPeer::~SerialPortPeer() {
    if (port_ == nullptr) return;
    auto* port = static_cast<sp_port*>(port_);
    sp_close(port);
    sp_free_port(port);
}

bool SerialPortPeer::Run(int count, std::vector<std::int64_t>& samples) {
    auto* port = static_cast<sp_port*>(port_);
    if (port == nullptr) return false;
    for (int i = 0; i < count; ++i) {
        char reply[4];
        const std::int64_t start = NowNs();
        const sp_return sent = sp_blocking_write(port, "i\r", 2, 3000);
        const sp_return got =
            sent == 2 ? sp_blocking_read(port, reply, sizeof reply, 3000) : SP_ERR_FAIL;
        const std::int64_t end = NowNs();
        if (got != static_cast<sp_return>(sizeof reply) || reply[0] != 'I' || reply[3] != '\r') {
            problem_ = "a libserialport round trip failed or got a wrong reply";
            return false;
        }
        samples.push_back(end - start);
    }
    return true;
}

#else

SerialPortPeer::SerialPortPeer(const std::string&) {
    problem_ =
        "not built in: libserialport was not found when configuring; "
        "install libserialport-dev and configure again";
}

SerialPortPeer::~SerialPortPeer() = default;

bool SerialPortPeer::Run(int, std::vector<std::int64_t>&) {
    return false;
}

#endif

}  // namespace varnox::bench
