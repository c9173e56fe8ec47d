// The test program's command line: "VARNOX-Test COM-Number [Switches]".
#ifndef VARNOX_TESTPROG_COMMANDLINE_H
#define VARNOX_TESTPROG_COMMANDLINE_H

#include <cstdint>
#include <functional>
#include <string>

namespace varnox::testprog {

struct Options {
    std::uint16_t comNumber = 0;
    std::uint16_t portNumber = 0;
    bool quietMode = false;
    bool debugMode = false;
    bool usageError = false;
};

// Parses argv[1..argc). The first argument is the COM number; every further
// one is a switch "-X" or "/X": Q quiet, D debug, C slot number (attached,
// "-C3", or in the next argument, "-C 3"). Numbers are read as unsigned
// decimal, leading blanks skipped and anything after the digits ignored; a
// negative number or one above 65535 is a usage error rather than a silently
// wrapped value.
// Parsing stops at the first error. An upper-case D calls
// `openDebugFile(portNumber)` at once with the slot known at that moment.
// When debug mode is on, quiet mode is off.
Options ParseCommandLine(int argc, const char* const* argv,
                         const std::function<void(std::uint16_t)>& openDebugFile);

// The program file's name without directory and extension. Both the slash
// and the backslash separate directories.
std::string ProgramName(const std::string& path);

}  // namespace varnox::testprog

#endif
