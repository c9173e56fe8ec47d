// Whether the client set the line as the module's UART runs it: 9600 baud,
// 8 data bits, one stop bit, and raw, so that every byte passes unchanged.
#ifndef VARNOX_SIMULATOR_LINECHECK_H
#define VARNOX_SIMULATOR_LINECHECK_H

#include <string>

struct termios;

namespace varnox::sim {

// "" when the slave's setting matches the module's line, else every
// difference, for example "19200 baud instead of 9600; ICANON set".
std::string LineProblem(const termios& settings);

}  // namespace varnox::sim

#endif
