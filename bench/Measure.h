// Time, statistics and the raw termios client that every figure of the
// benchmark is compared with.
#ifndef VARNOX_BENCH_MEASURE_H
#define VARNOX_BENCH_MEASURE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnox::bench {

// The monotonic clock in nanoseconds: the one the library's time-outs, the
// simulator's pacing and Python's perf_counter_ns() all run on.
std::int64_t NowNs();

// The median of the samples (the mean of the middle two for an even count);
// 0 for none.
double Median(std::vector<std::int64_t> samples);
double Median(std::vector<double> samples);
// The p-th percentile (0..100), nearest rank; 0 for none.
double Percentile(std::vector<double> samples, double p);

// "612 ns", "41.2 us", "4.71 ms", "100.4 ms", "2.31 s".
std::string FormatNs(double ns);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A client straight on the pseudo-terminal's slave, the way a serial program
// with no library would talk to the module: termios for the line, poll() and
// read() for the answer. The descriptor is non-blocking.
class RawLine {
public:
    // Opens `path` and sets the module's line: 9600 baud, 8 data bits, even
    // parity, one stop bit, raw. Throws std::runtime_error saying what failed.
    explicit RawLine(const std::string& path);
    ~RawLine();
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    // Writes `command` in one write(), then waits with poll() and reads until
    // `length` bytes are in `reply`. Returns the nanoseconds from before the
    // write until the last byte was read. Throws when the reply does not
    // come within `timeoutMs`.
    std::int64_t RoundTrip(std::string_view command, char* reply, std::size_t length,
                           int timeoutMs = 3000);
    // The same exchange with the system calls the library makes for it: the
    // command letter and its CR in two writes, then the reply letter and the
    // reply text in two reads, each read tried before poll() waits. Shows
    // what the call pattern alone costs.
    std::int64_t RoundTripAsLibrary(char* reply, std::size_t length, int timeoutMs = 3000);
    // One non-blocking read of the input queue; true when it was empty.
    bool ReadNothing();
    // Clears the line's exclusive-use flag, which a peer library may set
    // when it opens the line, so that the next contender can open it too.
    void AllowOtherOpens();

private:
    void Send(const char* bytes, std::size_t count);
    // Reads `count` bytes, trying read() before each poll().
    void ReadFirst(char* into, std::size_t count, std::int64_t deadline);

    int fd_ = -1;
    std::string path_;
};

}  // namespace varnox::bench

#endif
