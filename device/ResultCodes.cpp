#include "device/ResultCodes.h"

#include "device/VARNOX.h"

namespace varnox::device {

const char* ResultCodeText(std::int32_t code) {
    switch (code) {
#define VARNOX_RESULT_CODE_CASE(name, value, text) \
    case (value): return (text);
        VARNOX_RESULT_CODE_LIST(VARNOX_RESULT_CODE_CASE)
#undef VARNOX_RESULT_CODE_CASE
        default: return "Unknown error";
    }
}

}  // namespace varnox::device
