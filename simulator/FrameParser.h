// Cuts the byte stream from the client into CR-terminated frames.
#ifndef VARNOX_SIMULATOR_FRAMEPARSER_H
#define VARNOX_SIMULATOR_FRAMEPARSER_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varnox::sim {

struct ReceivedFrame {
    std::string bytes;  // without the CR; only the first kMaxFrameLength when overlong
    bool overlong = false;
};

class FrameParser {
public:
    // The longest command is three bytes; a client that streams bytes with
    // no CR must not make the simulator grow without bound.
    static constexpr std::size_t kMaxFrameLength = 64;

    // Every frame that `bytes` completes, in order. Bytes after the last CR
    // wait for the next call.
    std::vector<ReceivedFrame> Feed(std::string_view bytes);

private:
    ReceivedFrame pending_;
};

}  // namespace varnox::sim

#endif
