#include "tests/windows/support/Process.h"

#include <windows.h>

namespace varnox::test {

namespace {

// Quoting by the rules the C run time uses to split a command line.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            quoted.append(backslashes * 2 + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

}  // namespace

std::string WithLfLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& directory, bool detached, unsigned timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::string commandLine = Quoted(program);
    for (const std::string& argument : arguments) commandLine += " " + Quoted(argument);
    PROCESS_INFORMATION info{};
    result.started =
        CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                       detached ? DETACHED_PROCESS : 0, nullptr,
                       directory.empty() ? nullptr : directory.c_str(), &startup, &info) != 0;
    CloseHandle(writeEnd);
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (!result.started) {
        CloseHandle(readEnd);
        return result;
    }
    // Collects output while the child runs, so a full pipe never stalls it,
    // and ends it at the time limit.
    std::string raw;
    char buffer[4096];
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD available = 0;
        DWORD got = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
               ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            raw.append(buffer, got);
        }
        if (result.finished) break;  // drained once more after the exit
        result.finished = WaitForSingleObject(info.hProcess, 10) == WAIT_OBJECT_0;
        if (!result.finished && GetTickCount64() > deadline) {
            TerminateProcess(info.hProcess, 99);
            WaitForSingleObject(info.hProcess, INFINITE);
            break;
        }
    }
    CloseHandle(readEnd);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    result.exitCode = code;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    result.output = WithLfLineEnds(raw);
    return result;
}

std::string ProgramFile() {
    char path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n < sizeof path ? n : 0);
}

std::string ProgramDirectory() {
    const std::string file = ProgramFile();
    const std::size_t slash = file.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : file.substr(0, slash + 1);
}

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace varnox::test
