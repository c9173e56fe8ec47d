// Running a program of the project as a user would: on a terminal (a
// pseudo-terminal the test holds the master of) or with its standard input
// from a script.
#ifndef VARNOX_TESTS_SUPPORT_PROGRAMRUN_H
#define VARNOX_TESTS_SUPPORT_PROGRAMRUN_H

#include <sys/types.h>
#include <termios.h>

#include <map>
#include <string>
#include <vector>

namespace varnox::test {

struct RunSetup {
    std::vector<std::string> argv;
    std::string workingDirectory;                    // "" keeps the test's
    std::map<std::string, std::string> environment;  // added or replaced
};

// Exit status as a shell shows it: the code, or 128 + signal. -1 on timeout.
struct RunResult {
    int status = -1;
    std::string output;
};

// Runs the program with `input` as its standard input (a pipe that is closed
// after the input), collecting standard output and error.
RunResult RunWithInput(const RunSetup& setup, const std::string& input, int timeoutMs);

// The program on a pseudo-terminal.
class TerminalRun {
public:
    explicit TerminalRun(const RunSetup& setup);
    ~TerminalRun();  // kills the program if it still runs
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    pid_t Pid() const { return pid_; }
    void Send(const std::string& bytes);
    // Waits until `text` has appeared in the output after everything an
    // earlier WaitFor matched; true when it did within the time.
    bool WaitFor(const std::string& text, int timeoutMs);
    // Everything the program wrote so far, line ends as "\n".
    std::string Output();
    // The terminal goes away: the program's side sees a hang-up.
    void CloseMaster();
    // The exit status once the program ended (reading its last output); -1
    // when it still runs then.
    int Wait(int timeoutMs);
    void Signal(int signal) const;
    // The terminal's mode as the program left it (zeroed once the master
    // side is closed).
    termios Mode() const;
    // The mode the terminal had before the program started.
    const termios& InitialMode() const { return initial_; }

private:
    void Pump(int timeoutMs);

    pid_t pid_ = -1;
    int master_ = -1;
    std::string output_;
    std::size_t matched_ = 0;
    termios initial_{};
    int status_ = -1;
};

// The terminal settings that tell key mode, line mode and the mode a
// program found apart.
bool SameMode(const termios& a, const termios& b);

// The child's exit status as a shell shows it: the code, or 128 + signal.
int ShellStatus(int status);

// argv and envp built before fork(): between fork() and exec() the child of a
// threaded test (the simulator runs a thread) must not allocate.
class ExecImage {
public:
    explicit ExecImage(const RunSetup& setup);
    [[noreturn]] void Exec() const;

private:
    std::string directory_;
    std::vector<std::string> args_;
    std::vector<std::string> env_;
    std::vector<char*> argv_;
    std::vector<char*> envp_;
};

}  // namespace varnox::test

#endif
