#include "tests/support/TraceText.h"

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace varnox::test {

bool IsTimestampLine(const std::string& line) {
    static const std::regex pattern(
        "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [ 0-9]{3}[0-9]");
    return std::regex_match(line, pattern);
}

namespace {
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
}  // namespace

std::vector<std::string> TraceLines(const std::string& text) {
    std::vector<std::string> lines = SplitLines(text);
    for (std::string& line : lines) {
        if (IsTimestampLine(line)) line = "<time>";
    }
    return lines;
}

std::vector<std::string> TraceMessages(const std::string& text) {
    const std::vector<std::string> lines = SplitLines(text);
    std::vector<std::string> messages;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].empty()) continue;
        if (i + 2 >= lines.size() || !IsTimestampLine(lines[i + 1])) {
            messages.push_back("<malformed: line " + std::to_string(i + 1) + ">");
            continue;
        }
        messages.push_back(lines[i + 2]);
        i += 2;
    }
    return messages;
}

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
