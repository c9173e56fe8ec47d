#include "simulator/program/LineCommands.h"

#include <vector>

#include "simulator/NumberText.h"

namespace varnox::sim {

namespace {

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::string FaultNames() {
    std::string names;
    for (const FaultInfo& f : kFaultModes) {
        if (!names.empty()) names += ", ";
        names += f.name;
    }
    return names;
}

}  // namespace

std::string LineCommandHelp() {
    return "  in N          set the input state, N 0..31: decimal, 1fh or 0x1f\n"
           "  out?          show the output state the client set\n"
           "  status        show inputs, outputs, automatic input, fault mode, line, counts\n"
           "  fault NAME    switch to fault mode NAME; fault none ends the fault\n"
           "  help          list the line commands\n"
           "  quit          end VARNOX-Sim\n";
}

LineCommands::LineCommands(SimulatorCore& core, std::FILE* out, std::FILE* err)
    : core_(core), out_(out), err_(err) {}

bool LineCommands::Execute(std::string_view line) {
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) return true;
    const std::string_view command = words[0];
    const std::size_t arguments = words.size() - 1;
    if (command == "quit" && arguments == 0) return false;
    if (command == "help" && arguments == 0) {
        std::fputs(LineCommandHelp().c_str(), out_);
    } else if ((command == "out?" || command == "out") && arguments == 0) {
        ShowOutputs();
    } else if (command == "status" && arguments == 0) {
        ShowStatus();
    } else if (command == "in" && arguments == 1) {
        const auto value = ParseNumber(words[1], 31);
        if (!value) {
            Complain("'" + std::string(words[1]) + "' is no input state",
                     "give 0..31 as decimal, 1fh or 0x1f");
        } else {
            core_.SetInputs(*value);
            std::fprintf(out_, "inputs %02Xh (%u)\n", *value, *value);
        }
    } else if (command == "fault" && arguments == 1) {
        const auto mode = FaultFromName(words[1]);
        if (!mode) {
            Complain("'" + std::string(words[1]) + "' is no fault mode",
                     "use one of " + FaultNames());
        } else {
            core_.SetFault(*mode);
            std::fprintf(out_, "fault mode %s\n", FaultName(*mode));
        }
    } else {
        Complain("cannot do '" + std::string(line) + "'", "type help for the line commands");
    }
    std::fflush(out_);
    return true;
}

void LineCommands::ShowOutputs() {
    const CoreStatus s = core_.Status();
    std::fprintf(out_, "outputs %02Xh (%u)\n", s.outputs, s.outputs);
}

void LineCommands::ShowStatus() {
    const CoreStatus s = core_.Status();
    std::fprintf(out_, "inputs %02Xh (%u), outputs %02Xh (%u), automatic input %s\n", s.inputs,
                 s.inputs, s.outputs, s.outputs, s.autoInput ? "on" : "off");
    std::fprintf(out_, "fault mode %s\n", FaultName(s.fault));
    if (!s.lineOpen) {
        std::fprintf(out_, "line closed: start VARNOX-Sim again for a new device\n");
    } else if (!s.lineProblem.empty()) {
        std::fprintf(out_, "line open, frames get no answer: %s\n", s.lineProblem.c_str());
    } else {
        std::fprintf(out_, "line open\n");
    }
    std::fprintf(out_, "frames received %llu, sent %llu (%llu automatic input reports)\n",
                 static_cast<unsigned long long>(s.framesReceived),
                 static_cast<unsigned long long>(s.transmissions),
                 static_cast<unsigned long long>(s.reports));
}

void LineCommands::Complain(const std::string& what, const std::string& todo) {
    std::fprintf(err_, "VARNOX-Sim: %s; %s\n", what.c_str(), todo.c_str());
    std::fflush(err_);
}

}  // namespace varnox::sim
