#ifndef VARNOX_SERIAL_TRACEENTRY_H
#define VARNOX_SERIAL_TRACEENTRY_H

class COMPort;

namespace varnox::serial {

// One trace entry on `port`'s stream: the timestamp head, then the message.
// Nothing is written while the port has no DebugStream. Used by COMPort and
// by every other writer of the library, so all entries look alike.
void WriteTraceEntry(COMPort& port, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace varnox::serial

#endif
