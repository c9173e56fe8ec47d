#include "simulator/FirmwareIdentity.h"

#include <algorithm>

namespace varnox::sim {

namespace {

// Printable ASCII only: a CR would end the frame early and other control
// bytes would not survive a trip through most terminals.
bool AllPrintable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7F;
    });
}

}  // namespace

std::string DateProblem(std::string_view date) {
    if (date.size() != kDateLength) {
        return "the date has " + std::to_string(date.size()) + " characters, it needs exactly " +
               std::to_string(kDateLength) + " (for example \"Sep 05 2017\")";
    }
    if (!AllPrintable(date)) {
        return "the date holds a character that is not printable ASCII; use letters, digits "
               "and blanks (for example \"Sep 05 2017\")";
    }
    return "";
}

std::string IdProblem(std::string_view id) {
    if (id.size() > kMaxIdLength) {
        return "the identification has " + std::to_string(id.size()) + " characters, at most " +
               std::to_string(kMaxIdLength) + " fit; shorten it";
    }
    if (!AllPrintable(id)) {
        return "the identification holds a character that is not printable ASCII; use only "
               "characters from blank to tilde";
    }
    return "";
}

}  // namespace varnox::sim
