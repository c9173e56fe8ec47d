// Command and reply frames exchanged with a module: a command letter, an
// argument text and a carriage return go out; a reply letter and a reply
// text of known length come back.
#ifndef VARNOX_DEVICE_PROTOCOL_H
#define VARNOX_DEVICE_PROTOCOL_H

#include <cstdint>

namespace varnox::device {

// The longest reply text (the product identification).
inline constexpr std::uint32_t kMaxReplyLength = 256;

// The text of the last reply read, on any slot, followed by a NUL byte.
extern char ReplyBuffer[kMaxReplyLength + 1];

// The letter ReadCommand reports when no reply letter could be read.
inline constexpr char kNoLetter = '?';

// Sends `letter`, `argument` (may be empty) and the termination character
// on the slot's port. False, with a trace entry, at the first failing write.
// `portNumber` must be in range.
bool WriteCommand(std::uint16_t portNumber, char letter, const char* argument);

// Reads a reply letter into `letter` and then up to `replyLength` bytes into
// ReplyBuffer (waiting bytes first, then the read time-outs). True when a
// letter came and the text read did not fail, however short the text. The
// letter is not compared here. `letter` is kNoLetter when none came.
bool ReadCommand(std::uint16_t portNumber, char& letter, std::uint32_t replyLength);

// A letter as the trace shows it between quotes: printable ASCII as itself,
// any other byte as '.', so a trace line never holds a NUL or a line break
// (the hexadecimal code beside it tells the byte).
char Printable(char letter);

}  // namespace varnox::device

#endif
