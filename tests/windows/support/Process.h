// Running programs from the Windows tests: a child with its standard output
// collected, its exit code as Windows reports it (all 32 bits), and the
// directory the test programs, VARNOX.dll and VARNOX-Test.exe share.
#ifndef VARNOX_TESTS_WINDOWS_SUPPORT_PROCESS_H
#define VARNOX_TESTS_WINDOWS_SUPPORT_PROCESS_H

#include <cstdint>
#include <string>
#include <vector>

namespace varnox::test {

struct ProcessResult {
    bool started = false;
    bool finished = false;       // false: still running at the time limit, then ended
    std::uint32_t exitCode = 0;  // GetExitCodeProcess: main's -1 is 0xFFFFFFFF
    std::string output;          // standard output and error, CR LF read as LF
};

// Runs `program` with `arguments` (each quoted as the C run time parses
// them) in `directory` (empty: the current one). Standard input is the NUL
// device. A detached child has no console, so VARNOX-Test.exe finds no keys.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& directory = std::string(), bool detached = true,
                         unsigned timeoutMs = 30000);

// The directory of the running test program, with a trailing backslash.
std::string ProgramDirectory();

// The full path of the running test program.
std::string ProgramFile();

// True when running under Wine rather than Windows.
bool UnderWine();

// The text with each CR LF turned into LF.
std::string WithLfLineEnds(const std::string& text);

}  // namespace varnox::test

#endif
