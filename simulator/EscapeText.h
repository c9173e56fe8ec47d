// Makes received and sent bytes readable in a log line.
#ifndef VARNOX_SIMULATOR_ESCAPETEXT_H
#define VARNOX_SIMULATOR_ESCAPETEXT_H

#include <string>
#include <string_view>

namespace varnox::sim {

// Printable ASCII as itself (a backslash doubled), CR, LF and TAB as \r \n
// \t, every other byte as \xHH, so a log line never holds a control byte and
// every byte can be told from the text.
std::string EscapeBytes(std::string_view bytes);

}  // namespace varnox::sim

#endif
