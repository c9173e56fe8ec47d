// The commands a person types to VARNOX-Sim while it runs without a command.
#ifndef VARNOX_SIMULATOR_PROGRAM_LINECOMMANDS_H
#define VARNOX_SIMULATOR_PROGRAM_LINECOMMANDS_H

#include <cstdio>
#include <string>
#include <string_view>

#include "simulator/SimulatorCore.h"

namespace varnox::sim {

// One line per command, for the help of both the program and `help`.
std::string LineCommandHelp();

class LineCommands {
public:
    // Answers go to `out`, complaints to `err`.
    LineCommands(SimulatorCore& core, std::FILE* out, std::FILE* err);

    // Runs one line (without its line break). False when it asks to quit.
    bool Execute(std::string_view line);

private:
    void ShowOutputs();
    void ShowStatus();
    void Complain(const std::string& what, const std::string& todo);

    SimulatorCore& core_;
    std::FILE* out_;
    std::FILE* err_;
};

}  // namespace varnox::sim

#endif
