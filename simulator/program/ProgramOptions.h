// The command line of VARNOX-Sim and its help text.
#ifndef VARNOX_SIMULATOR_PROGRAM_PROGRAMOPTIONS_H
#define VARNOX_SIMULATOR_PROGRAM_PROGRAMOPTIONS_H

#include <optional>
#include <string>
#include <vector>

#include "simulator/SimulatorCore.h"

namespace varnox::sim {

struct ProgramOptions {
    unsigned com = 1;
    CoreOptions core;  // everything but the log, which the program sets up
    std::string logFile;
    bool quiet = false;
    bool help = false;
    std::vector<std::string> command;  // after "--"; empty: line commands
};

// Fills `options` from the arguments. Returns the message for a person when
// an argument is wrong (what failed and what to do), nothing when all is well.
std::optional<std::string> ParseArguments(int argc, const char* const* argv,
                                          ProgramOptions& options);

std::string HelpText();

}  // namespace varnox::sim

#endif
