// Reading files back and capturing trace streams, on POSIX systems: files
// are taken byte for byte, and a capture is an in-memory stream.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/TraceText.h"

namespace varnox::test {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TraceCapture::TraceCapture() : stream_(open_memstream(&buffer_, &size_)) {}

TraceCapture::~TraceCapture() {
    std::fclose(stream_);
    std::free(buffer_);
}

std::string TraceCapture::Text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
}

}  // namespace varnox::test
