// Runs VARNOX-Sim (or any program) in a child process with its standard
// input, output and error on pipes, for the program's tests.
#ifndef VARNOX_TESTS_SIMULATOR_PROGRAMRUNNER_H
#define VARNOX_TESTS_SIMULATOR_PROGRAMRUNNER_H

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace varnox::test {

enum class Stream { kOut, kErr };

class ProgramRunner {
public:
    // Starts `arguments[0]` with the arguments; fails the current test when
    // it cannot.
    explicit ProgramRunner(const std::vector<std::string>& arguments);
    // Ends a program still running with SIGKILL, by its pid, and reaps it.
    ~ProgramRunner();
    ProgramRunner(const ProgramRunner&) = delete;
    ProgramRunner& operator=(const ProgramRunner&) = delete;

    pid_t Pid() const { return pid_; }
    bool WriteInput(const std::string& text);
    void CloseInput();

    // The next line (without its line break) within `timeoutMs`; nothing on
    // a time-out or at the end of the stream.
    std::optional<std::string> ReadLine(Stream stream, int timeoutMs);
    // Reads lines until one contains `text` and returns it.
    std::optional<std::string> WaitForLine(Stream stream, const std::string& text, int timeoutMs);

    // Reads both streams to their end, then reaps the program: its status as
    // a shell shows it (exit code, or 128+N for signal N); nothing when it
    // did not end within `timeoutMs`.
    std::optional<int> Wait(int timeoutMs);
    // Everything read from the stream so far, lines already returned included.
    const std::string& Output(Stream stream) const;

private:
    struct Pipe {
        int fd = -1;
        std::string all;
        std::size_t taken = 0;  // how much of `all` ReadLine has returned
    };
    Pipe& Of(Stream stream) { return stream == Stream::kOut ? out_ : err_; }
    // One read from the stream, waiting at most `timeoutMs`; false at the end.
    bool ReadSome(Pipe& pipe, int timeoutMs);

    pid_t pid_ = -1;
    int input_ = -1;
    Pipe out_;
    Pipe err_;
    std::optional<int> status_;
};

}  // namespace varnox::test

#endif
