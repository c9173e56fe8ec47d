#include "simulator/NumberText.h"

namespace varnox::sim {

namespace {

int DigitValue(char c, unsigned base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

std::optional<std::uint32_t> Digits(std::string_view text, unsigned base, std::uint32_t max) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        const int digit = DigitValue(c, base);
        if (digit < 0) return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
        if (value > max) return std::nullopt;  // also keeps the sum from overflowing
    }
    return static_cast<std::uint32_t>(value);
}

bool HexPrefixed(std::string_view text) {
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

bool HexSuffixed(std::string_view text) {
    return !text.empty() && (text.back() == 'h' || text.back() == 'H');
}

}  // namespace

std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t max) {
    if (HexPrefixed(text)) return Digits(text.substr(2), 16, max);
    if (HexSuffixed(text)) return Digits(text.substr(0, text.size() - 1), 16, max);
    return Digits(text, 16, max);
}

std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max) {
    if (HexPrefixed(text) || HexSuffixed(text)) return ParseHex(text, max);
    return Digits(text, 10, max);
}

std::optional<std::uint32_t> ParseDecimal(std::string_view text, std::uint32_t max) {
    return Digits(text, 10, max);
}

}  // namespace varnox::sim
