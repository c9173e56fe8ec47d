// Reading files back and capturing trace streams, on Windows. The library
// writes its trace files in text mode, where every line ends with CR LF;
// ReadFile checks that and hands the text on with LF line ends, so the same
// expectations hold as on POSIX systems. A capture is a temporary binary
// file, which keeps what COMPort writes byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/TraceText.h"

namespace varnox::test {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    const std::string raw = content.str();
    std::string text;
    text.reserve(raw.size());
    bool reported = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r') && !reported) {
            ADD_FAILURE() << path << ": the line ending at byte " << i
                          << " ends with LF alone, not with CR LF as text mode writes it";
            reported = true;
        }
        text += raw[i];
    }
    return text;
}

namespace {
std::FILE* OpenCaptureFile() {
    char directory[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof directory, directory);
    if (n == 0 || n > MAX_PATH || GetTempFileNameA(directory, "vxt", 0, name) == 0) {
        ADD_FAILURE() << "cannot name a temporary file (Windows error " << GetLastError() << ")";
        return nullptr;
    }
    // "D": the C run time deletes the file when the stream is closed.
    std::FILE* stream = std::fopen(name, "w+bD");
    if (stream == nullptr) ADD_FAILURE() << "cannot open the temporary file " << name;
    return stream;
}
}  // namespace

TraceCapture::TraceCapture() : stream_(OpenCaptureFile()) {}

TraceCapture::~TraceCapture() {
    if (stream_ != nullptr) std::fclose(stream_);
}

std::string TraceCapture::Text() {
    if (stream_ == nullptr) return std::string();
    std::fflush(stream_);
    const long end = std::ftell(stream_);
    std::string text(end > 0 ? static_cast<std::size_t>(end) : 0u, '\0');
    std::fseek(stream_, 0, SEEK_SET);
    const std::size_t got = std::fread(&text[0], 1, text.size(), stream_);
    text.resize(got);
    std::fseek(stream_, 0, SEEK_END);
    return text;
}

}  // namespace varnox::test
