#include "simulator/FaultModes.h"

namespace varnox::sim {

const char* FaultName(FaultMode mode) {
    for (const FaultInfo& info : kFaultModes) {
        if (info.mode == mode) return info.name;
    }
    return "unknown";
}

std::optional<FaultMode> FaultFromName(std::string_view name) {
    for (const FaultInfo& info : kFaultModes) {
        if (name == info.name) return info.mode;
    }
    return std::nullopt;
}

}  // namespace varnox::sim
