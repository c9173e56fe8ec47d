#include "simulator/FaultShaping.h"

namespace varnox::sim {

namespace {

std::string GarbageLike(const std::string& frame, std::mt19937& random) {
    std::uniform_int_distribution<int> byteValue(0, 255);
    std::string garbage;
    while (garbage.size() < frame.size()) {
        const auto byte = static_cast<unsigned char>(byteValue(random));
        if (!IsProtocolByte(byte)) garbage.push_back(static_cast<char>(byte));
    }
    return garbage;
}

}  // namespace

ShapedFrame ShapeFrame(const std::string& frame, FaultMode mode, std::mt19937& random) {
    ShapedFrame shaped;
    // The text lies between the letter and the CR.
    const std::size_t textLength = frame.size() >= 2 ? frame.size() - 2 : 0;
    switch (mode) {
        case FaultMode::kNone: shaped.pieces.push_back({frame}); break;
        case FaultMode::kWrongLetter: {
            std::string wrong = frame;
            if (!wrong.empty()) wrong[0] = WrongLetterFor(wrong[0]);
            shaped.pieces.push_back({wrong});
            break;
        }
        case FaultMode::kGarbage: shaped.pieces.push_back({GarbageLike(frame, random)}); break;
        case FaultMode::kShortReply:
            // Less than half, so a two-digit state comes as its bare letter.
            shaped.pieces.push_back(
                {frame.substr(0, 1 + (textLength > 0 ? (textLength - 1) / 2 : 0))});
            break;
        case FaultMode::kSilence: break;
        case FaultMode::kExtraBytes:
            shaped.pieces.push_back({frame + std::string(kExtraBytes)});
            break;
        case FaultMode::kSplitReply: {
            // Inside the text, where the library's inter-byte time-out applies.
            const std::size_t cut = 1 + (textLength + 1) / 2;
            shaped.pieces.push_back({frame.substr(0, cut), kSplitPauseMs});
            shaped.pieces.push_back({frame.substr(cut)});
            break;
        }
        case FaultMode::kCloseLine: shaped.closeLine = true; break;
    }
    return shaped;
}

}  // namespace varnox::sim
