#ifndef VARNOX_DEVICE_RESULTCODES_H
#define VARNOX_DEVICE_RESULTCODES_H

#include <cstdint>

namespace varnox::device {

// The text VARNOX_ERRORMESSAGE gives for a result code.
const char* ResultCodeText(std::int32_t code);

}  // namespace varnox::device

#endif
