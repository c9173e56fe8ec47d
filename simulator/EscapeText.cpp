#include "simulator/EscapeText.h"

namespace varnox::sim {

std::string EscapeBytes(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
            case '\r': text += "\\r"; break;
            case '\n': text += "\\n"; break;
            case '\t': text += "\\t"; break;
            case '\\': text += "\\\\"; break;
            default:
                if (byte >= 0x20 && byte < 0x7F) {
                    text.push_back(c);
                } else {
                    text += "\\x";
                    text.push_back(kHex[byte >> 4]);
                    text.push_back(kHex[byte & 0x0F]);
                }
        }
    }
    return text;
}

}  // namespace varnox::sim
