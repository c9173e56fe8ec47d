// A client of the simulated module straight on the pseudo-terminal's slave,
// set up with termios as a serial program would, for the simulator's tests.
#ifndef VARNOX_TESTS_SIMULATOR_RAWCLIENT_H
#define VARNOX_TESTS_SIMULATOR_RAWCLIENT_H

#include <cstddef>
#include <functional>
#include <string>

struct termios;

namespace varnox::test {

// Long enough for any reply on a busy machine; only waits that fail use it up.
inline constexpr int kReplyTimeoutMs = 3000;

class RawClient {
public:
    // Opens the slave (or a link to it); fails the current test when it cannot.
    explicit RawClient(const std::string& path);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // The module's line: 9600 baud, 8 data bits, no parity (a pseudo-
    // terminal has none), 1 stop bit, raw.
    bool SetModemLine();
    // Changes the current setting.
    bool Change(const std::function<void(termios&)>& change);

    bool Send(const std::string& bytes);
    // Reads until `wanted` bytes came, the line hung up, or `timeoutMs`
    // passed since the call; returns what came.
    std::string Receive(std::size_t wanted, int timeoutMs = kReplyTimeoutMs);
    // True when the far side hangs up within `timeoutMs`.
    bool SeesHangUp(int timeoutMs);

private:
    int fd_ = -1;
};

}  // namespace varnox::test

#endif
