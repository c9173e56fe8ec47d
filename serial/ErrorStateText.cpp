#include "serial/ErrorStateText.h"

#include "serial/SerialTypes.h"

namespace varnox::serial {

const ErrorStateEntry kErrorStateTable[12] = {
    {kNoError, "No error"},
    {kNotOpened, "Port has not been opened yet"},
    {kCannotOpen, "Cannot open the port"},
    {kCannotGetState, "Cannot get the state of the port"},
    {kCannotSetState, "Cannot set the state of the port"},
    {kCannotSetTimeouts, "Cannot set the timeouts for the port"},
    {kCannotPurge, "Cannot clear the port"},
    {kReadError, "Error reading data from the port"},
    {kWriteError, "Error writing data to the port"},
    {kWrongWriteCount, "Wrong data amount written to the port"},
    {kControlLinesError, "Error setting the control lines of the port"},
    {kStatusLinesError, "Error reading the status lines of the port"},
};

const char* ErrorStateText(std::int32_t value) {
    for (const ErrorStateEntry& entry : kErrorStateTable) {
        if (entry.value == value) return entry.text;
    }
    return "Unknown error";
}

}  // namespace varnox::serial
