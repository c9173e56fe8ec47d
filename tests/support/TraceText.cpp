#include "tests/support/TraceText.h"

#include <string>

namespace varnox::test {

namespace {
bool OneOf(const std::string& word, const char* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        if (word == names[i]) return true;
    }
    return false;
}

bool Digits(const std::string& text, std::size_t at, std::size_t count) {
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}
}  // namespace

// "Www Mmm dd hh:mm:ss yyyy", the year right-aligned in four columns.
bool IsTimestampLine(const std::string& line) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (line.size() != 24) return false;
    std::size_t yearStart = 20;
    while (yearStart < 23 && line[yearStart] == ' ') ++yearStart;
    return OneOf(line.substr(0, 3), kDays, 7) && line[3] == ' ' &&
           OneOf(line.substr(4, 3), kMonths, 12) && line[7] == ' ' && Digits(line, 8, 2) &&
           line[10] == ' ' && Digits(line, 11, 2) && line[13] == ':' && Digits(line, 14, 2) &&
           line[16] == ':' && Digits(line, 17, 2) && line[19] == ' ' &&
           Digits(line, yearStart, 24 - yearStart);
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

}  // namespace varnox::test
