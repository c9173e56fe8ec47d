#include "simulator/FrameParser.h"

namespace varnox::sim {

std::vector<ReceivedFrame> FrameParser::Feed(std::string_view bytes) {
    std::vector<ReceivedFrame> frames;
    for (const char c : bytes) {
        if (c == '\r') {
            frames.push_back(std::move(pending_));
            pending_ = ReceivedFrame{};
        } else if (pending_.bytes.size() < kMaxFrameLength) {
            pending_.bytes.push_back(c);
        } else {
            pending_.overlong = true;
        }
    }
    return frames;
}

}  // namespace varnox::sim
