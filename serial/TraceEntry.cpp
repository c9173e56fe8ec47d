#include "serial/TraceEntry.h"

#include <cstdarg>
#include <cstdio>

#include "serial/COMPort.h"

namespace varnox::serial {

void WriteTraceEntry(COMPort& port, const char* format, ...) {
    port.WriteDebugTime();
    if (port.DebugStream == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(port.DebugStream, format, args);
    va_end(args);
}

}  // namespace varnox::serial
