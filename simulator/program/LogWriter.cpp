#include "simulator/program/LogWriter.h"

#include <time.h>

namespace varnox::sim {

LogWriter::LogWriter(std::FILE* stream, bool owned) : stream_(stream), owned_(owned) {}

LogWriter::~LogWriter() {
    if (owned_) std::fclose(stream_);
}

void LogWriter::Write(const std::string& line) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    std::fprintf(stream_, "VARNOX-Sim %02d:%02d:%02d.%03ld %s\n", local.tm_hour, local.tm_min,
                 local.tm_sec, now.tv_nsec / 1000000, line.c_str());
    std::fflush(stream_);
}

}  // namespace varnox::sim
