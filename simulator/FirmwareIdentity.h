// What the module tells about itself: firmware version word, firmware date,
// identification text and product number.
#ifndef VARNOX_SIMULATOR_FIRMWAREIDENTITY_H
#define VARNOX_SIMULATOR_FIRMWAREIDENTITY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnox::sim {

// The date is sent as the firmware build stamp: "Mmm dd yyyy".
inline constexpr std::size_t kDateLength = 11;
// The library reads at most this many bytes of identification text.
inline constexpr std::size_t kMaxIdLength = 256;

struct FirmwareIdentity {
    std::uint16_t version = 0x011E;
    std::string date = "Sep 05 2017";
    std::string id = "VARNOX-Sim simulated I/O module, 5 inputs, 5 outputs";
    std::uint32_t productNumber = 0x00012C01;
};

// "" when the text can be sent, else what is wrong with it and what to give.
std::string DateProblem(std::string_view date);
std::string IdProblem(std::string_view id);

}  // namespace varnox::sim

#endif
