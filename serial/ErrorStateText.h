#ifndef VARNOX_SERIAL_ERRORSTATETEXT_H
#define VARNOX_SERIAL_ERRORSTATETEXT_H

#include <cstddef>
#include <cstdint>

namespace varnox::serial {

struct ErrorStateEntry {
    std::int32_t value;
    const char* text;
};

// Every ErrorState the class sets, with its text, in value order.
extern const ErrorStateEntry kErrorStateTable[12];

// The text for `value`; "Unknown error" for anything outside the table.
const char* ErrorStateText(std::int32_t value);

}  // namespace varnox::serial

#endif
