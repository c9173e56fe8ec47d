// What the module's firmware does with one command frame, as a pure
// function of the frame and the module's state.
#ifndef VARNOX_SIMULATOR_FIRMWARE_H
#define VARNOX_SIMULATOR_FIRMWARE_H

#include <cstdint>
#include <string>
#include <string_view>

#include "simulator/FirmwareIdentity.h"

namespace varnox::sim {

// Inputs and outputs are 5-bit states.
inline constexpr unsigned kStateLimit = 32;

enum class FrameKind {
    kQuery,      // answered with `reply`
    kSetOutput,  // the output state becomes `output`; no answer
    kAutoInput,  // automatic input reports start; no answer
    kUnknown,    // a letter no command has; no answer
    kMalformed,  // a known letter with a wrong argument; no answer
};

struct Reaction {
    FrameKind kind = FrameKind::kUnknown;
    std::string reply;        // kQuery: the whole reply frame, CR included
    std::uint8_t output = 0;  // kSetOutput
    std::string problem;      // kUnknown, kMalformed: why, for the log
};

// `frame` is a received frame without its CR.
Reaction React(std::string_view frame, const FirmwareIdentity& identity, std::uint8_t inputs,
               std::uint8_t outputs);

// The automatic input report for `inputs`, which is also the reply to 'i'.
std::string InputReport(std::uint8_t inputs);

}  // namespace varnox::sim

#endif
