// Reading trace text back in tests.
#ifndef VARNOX_TESTS_SUPPORT_TRACETEXT_H
#define VARNOX_TESTS_SUPPORT_TRACETEXT_H

#include <cstdio>
#include <string>
#include <vector>

namespace varnox::test {

// True for a timestamp line such as "Tue Sep 05 14:07:09 2017".
bool IsTimestampLine(const std::string& line);

// The lines of a trace, each timestamp line replaced by "<time>", so a whole
// file can be compared line by line.
std::vector<std::string> TraceLines(const std::string& text);

// The message lines of the entries (the line after each empty line and
// timestamp), in order. Lines outside entries, such as a file header, are
// left out; a malformed entry makes the result hold "<malformed: ...>".
std::vector<std::string> TraceMessages(const std::string& text);

// A file's text with LF line ends. On POSIX systems that is the file byte
// for byte; on Windows, where text-mode writes end lines with CR LF, each
// CR LF is read as LF and a lone LF fails the calling test.
std::string ReadFile(const std::string& path);

// An in-memory trace stream for a COMPort's DebugStream.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::FILE* Stream() const { return stream_; }
    std::string Text();
    std::vector<std::string> Messages() { return TraceMessages(Text()); }

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

}  // namespace varnox::test

#endif
