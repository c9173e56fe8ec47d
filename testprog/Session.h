// What the start-up, the key loop and the shutdown share.
#ifndef VARNOX_TESTPROG_SESSION_H
#define VARNOX_TESTPROG_SESSION_H

#include <cstdint>

namespace varnox::testprog {

struct Session {
    std::uint16_t comNumber = 0;
    std::uint16_t portNumber = 0;
    bool quietMode = false;
    bool debugMode = false;
    bool loopbackEmulation = false;
    bool helpHintPending = true;
};

// "Error at <operation>: <result text>, I/O Error Message: <serial text>",
// both texts fetched at once, before any other library call.
void PrintErrorLine(const Session& session, const char* operation);

// Runs the key loop until Esc, the end of input or an interruption.
void RunKeyLoop(Session& session);

}  // namespace varnox::testprog

#endif
