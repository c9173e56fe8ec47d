// Turns signals into bytes on a pipe, so the main loop handles them (and
// cleans up) outside the signal handler.
#ifndef VARNOX_SIMULATOR_PROGRAM_SIGNALPIPE_H
#define VARNOX_SIMULATOR_PROGRAM_SIGNALPIPE_H

#include <initializer_list>
#include <vector>

namespace varnox::sim {

struct CaughtSignal {
    int number;
    // Sent by a process (kill) rather than by the kernel, as the terminal's
    // Ctrl+C is: a terminal signal reaches the whole foreground job anyway.
    bool fromProcess;
};

// One per program. Throws std::runtime_error when the pipe or a handler
// cannot be set up.
class SignalPipe {
public:
    explicit SignalPipe(std::initializer_list<int> signals);
    // Puts the default handlers back.
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    // Readable when a signal came.
    int Fd() const;
    // The signals caught since the last call, without waiting.
    std::vector<CaughtSignal> Take();

private:
    std::vector<int> signals_;
};

}  // namespace varnox::sim

#endif
