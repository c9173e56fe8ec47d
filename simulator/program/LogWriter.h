// Writes the simulator's log lines to a stream, each with the local time.
#ifndef VARNOX_SIMULATOR_PROGRAM_LOGWRITER_H
#define VARNOX_SIMULATOR_PROGRAM_LOGWRITER_H

#include <cstdio>
#include <string>

namespace varnox::sim {

class LogWriter {
public:
    // Writes to `stream`; closes it at the end when `owned`.
    LogWriter(std::FILE* stream, bool owned);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // "VARNOX-Sim 14:03:22.123 << i\r" and a line break, flushed at once so
    // the log keeps up with the wire.
    void Write(const std::string& line);

private:
    std::FILE* stream_;
    bool owned_;
};

}  // namespace varnox::sim

#endif
