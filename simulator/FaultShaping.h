// Turns a frame the module means to send into what a fault mode puts on the
// wire: pieces of bytes with a pause after each, or closing the line.
#ifndef VARNOX_SIMULATOR_FAULTSHAPING_H
#define VARNOX_SIMULATOR_FAULTSHAPING_H

#include <random>
#include <string>
#include <vector>

#include "simulator/FaultModes.h"

namespace varnox::sim {

struct WirePiece {
    std::string bytes;
    int pauseAfterMs = 0;
};

struct ShapedFrame {
    std::vector<WirePiece> pieces;  // empty: nothing is sent
    bool closeLine = false;
};

// `frame` is a whole frame: a letter, its text and the CR.
ShapedFrame ShapeFrame(const std::string& frame, FaultMode mode, std::mt19937& random);

}  // namespace varnox::sim

#endif
