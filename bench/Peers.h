// The general serial libraries the library is compared with, each driving
// the same simulated module the same way: write "i\r", read the 4-byte
// answer.
#ifndef VARNOX_BENCH_PEERS_H
#define VARNOX_BENCH_PEERS_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace varnox::bench {

// pySerial in a Python process of its own (bench/pyserial_client.py). It
// opens the line when started and then runs round trips on request, timing
// each with time.perf_counter_ns(), so the figures hold no pipe traffic.
class PySerialPeer {
public:
    // Starts the client on `path` and waits until it has opened the line.
    // Never throws for a client that cannot run: Ready() is false and
    // Problem() says why.
    PySerialPeer(const std::string& python, const std::string& script, const std::string& path);
    // Asks the client to end and reaps it.
    ~PySerialPeer();
    PySerialPeer(const PySerialPeer&) = delete;
    PySerialPeer& operator=(const PySerialPeer&) = delete;

    bool Ready() const { return ready_; }
    const std::string& Problem() const { return problem_; }
    const std::string& Version() const { return version_; }
    // Runs `count` round trips and appends their times in nanoseconds. False
    // (and Problem() set) when the client failed.
    bool Run(int count, std::vector<std::int64_t>& samples);

private:
    bool ReadLine(std::string& line, int timeoutMs);
    void Fail(const std::string& why);

    pid_t pid_ = -1;
    int toClient_ = -1;
    int fromClient_ = -1;
    std::string pending_;
    bool ready_ = false;
    std::string problem_;
    std::string version_;
};

// libserialport in this process. It looks the device up in sysfs before it
// opens it, which a pseudo-terminal may not pass; then Ready() is false and
// Problem() holds what the library said.
class SerialPortPeer {
public:
    explicit SerialPortPeer(const std::string& path);
    ~SerialPortPeer();
    SerialPortPeer(const SerialPortPeer&) = delete;
    SerialPortPeer& operator=(const SerialPortPeer&) = delete;

    bool Ready() const { return port_ != nullptr; }
    const std::string& Problem() const { return problem_; }
    const std::string& Version() const { return version_; }
    bool Run(int count, std::vector<std::int64_t>& samples);

private:
    void* port_ = nullptr;  // struct sp_port*, kept out of this header
    std::string problem_;
    std::string version_;
};

}  // namespace varnox::bench

#endif
