// The ways the simulated module can misbehave, shared by the simulator and
// its tests so both agree on the bytes a fault puts on the wire.
//
// A fault mode stays in force until it is changed and applies to every
// frame the module transmits: replies to queries and automatic input
// reports alike. Frames that get no answer anyway are not affected.
#ifndef VARNOX_SIMULATOR_FAULTMODES_H
#define VARNOX_SIMULATOR_FAULTMODES_H

#include <optional>
#include <string_view>

namespace varnox::sim {

enum class FaultMode {
    kNone,
    kWrongLetter,  // the text of the reply behind another reply letter
    kGarbage,      // as many random bytes as the reply has, none of them a protocol byte
    kShortReply,   // the letter and less than half of the text, no CR
    kSilence,      // nothing at all
    kExtraBytes,   // the reply, then kExtraBytes
    kSplitReply,   // the letter and half the text, kSplitPauseMs of quiet, the rest
    kCloseLine,    // instead of the reply the master closes: the client sees a hang-up
};

struct FaultInfo {
    FaultMode mode;
    const char* name;
    const char* description;
};

inline constexpr FaultInfo kFaultModes[] = {
    {FaultMode::kNone, "none", "answer as the firmware does"},
    {FaultMode::kWrongLetter, "wrong-letter", "the reply text behind another reply letter"},
    {FaultMode::kGarbage, "garbage", "random bytes that are no protocol bytes instead of a reply"},
    {FaultMode::kShortReply, "short-reply", "the letter and less than half of the text, no CR"},
    {FaultMode::kSilence, "silence", "no reply at all"},
    {FaultMode::kExtraBytes, "extra-bytes", "the reply followed by the bytes X1F and CR"},
    {FaultMode::kSplitReply, "split-reply", "half the reply, 250 ms of quiet, then the rest"},
    {FaultMode::kCloseLine, "close-line", "the device vanishes instead of replying: a hang-up"},
};

// What kExtraBytes sends after each reply: shaped like a frame, but with a
// letter no command expects.
inline constexpr std::string_view kExtraBytes = "X1F\r";

// The quiet in the middle of a split reply: well over the 100 ms the library
// waits between two bytes.
inline constexpr int kSplitPauseMs = 250;

// The letter a kWrongLetter reply carries: the next reply letter in the
// cycle I O V D P N, so the wrong letter is always one the library knows.
constexpr char WrongLetterFor(char letter) {
    switch (letter) {
        case 'I': return 'O';
        case 'O': return 'V';
        case 'V': return 'D';
        case 'D': return 'P';
        case 'P': return 'N';
        case 'N': return 'I';
        default: return 'X';
    }
}

// Garbage never contains a byte the protocol uses: no letter, no digit, no CR.
constexpr bool IsProtocolByte(unsigned char byte) {
    return byte == '\r' || (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= 'a' && byte <= 'z');
}

const char* FaultName(FaultMode mode);
std::optional<FaultMode> FaultFromName(std::string_view name);

}  // namespace varnox::sim

#endif
