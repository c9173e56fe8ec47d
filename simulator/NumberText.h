// Numbers as a person types them on the command line or in a line command.
#ifndef VARNOX_SIMULATOR_NUMBERTEXT_H
#define VARNOX_SIMULATOR_NUMBERTEXT_H

#include <cstdint>
#include <optional>
#include <string_view>

namespace varnox::sim {

// The whole text as a number no larger than `max`: decimal ("31"), or
// hexadecimal with an h suffix ("1fh") or a 0x prefix ("0x1f"), either case.
// No sign, no blanks.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max);

// Hexadecimal only: bare digits ("011E"), or with the 0x prefix or h suffix.
std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t max);

// Decimal digits only.
std::optional<std::uint32_t> ParseDecimal(std::string_view text, std::uint32_t max);

}  // namespace varnox::sim

#endif
