#include "simulator/Firmware.h"

#include <cstdio>

#include "simulator/EscapeText.h"

namespace varnox::sim {

namespace {

constexpr char kCr = '\r';

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

unsigned HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

Reaction Query(std::string reply) {
    Reaction r;
    r.kind = FrameKind::kQuery;
    r.reply = std::move(reply);
    r.reply.push_back(kCr);
    return r;
}

Reaction Refused(FrameKind kind, std::string problem) {
    Reaction r;
    r.kind = kind;
    r.problem = std::move(problem);
    return r;
}

Reaction SetOutput(std::string_view argument) {
    if (argument.size() != 2 || !IsHexDigit(argument[0]) || !IsHexDigit(argument[1])) {
        return Refused(FrameKind::kMalformed,
                       "'O' takes nothing (query) or exactly two hexadecimal digits, got \"" +
                           EscapeBytes(argument) + "\"");
    }
    const unsigned value = HexValue(argument[0]) * 16 + HexValue(argument[1]);
    if (value >= kStateLimit) {
        return Refused(FrameKind::kMalformed,
                       "output state " + Hex(value, 2) + "h is out of range (00..1F)");
    }
    Reaction r;
    r.kind = FrameKind::kSetOutput;
    r.output = static_cast<std::uint8_t>(value);
    return r;
}

}  // namespace

std::string InputReport(std::uint8_t inputs) {
    return "I" + Hex(inputs, 2) + kCr;
}

Reaction React(std::string_view frame, const FirmwareIdentity& identity, std::uint8_t inputs,
               std::uint8_t outputs) {
    if (frame.empty()) return Refused(FrameKind::kMalformed, "empty frame (a lone CR)");
    const char letter = frame[0];
    const std::string_view argument = frame.substr(1);
    if (letter == 'O' && !argument.empty()) return SetOutput(argument);

    Reaction r;
    switch (letter) {
        case 'i': r = Query("I" + Hex(inputs, 2)); break;
        case 'O': r = Query("O" + Hex(outputs, 2)); break;
        case 'V': r = Query("V" + Hex(identity.version, 4)); break;
        case 'D': r = Query("D" + identity.date); break;
        case 'P': r = Query("P" + identity.id); break;
        case 'N': r = Query("N" + Hex(identity.productNumber, 8)); break;
        case 'I': r.kind = FrameKind::kAutoInput; break;
        default:
            return Refused(FrameKind::kUnknown,
                           "unknown command letter '" + EscapeBytes(frame.substr(0, 1)) + "'");
    }
    if (!argument.empty()) {
        return Refused(FrameKind::kMalformed, std::string("'") + letter +
                                                  "' takes no argument, got \"" +
                                                  EscapeBytes(argument) + "\"");
    }
    return r;
}

}  // namespace varnox::sim
