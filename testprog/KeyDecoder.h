// Turns the bytes a terminal sends for one key press into key codes as a PC
// console delivers them: a character key is its code; a key without a
// character (cursor and function keys) is 0 followed by its PC scan code.
#ifndef VARNOX_TESTPROG_KEYDECODER_H
#define VARNOX_TESTPROG_KEYDECODER_H

#include <cstddef>

namespace varnox::testprog {

inline constexpr int kEscKey = 27;

struct DecodedKey {
    enum Status {
        kKey,        // codes[0..count) is one key press
        kNeedMore,   // the bytes so far begin a sequence; wait for more
        kSwallowed,  // a sequence we do not know: dropped whole, no key
    };
    Status status;
    std::size_t length;  // bytes consumed
    int codes[2];
    int count;
};

// Decodes the key press at the front of `bytes` (size >= 1). With
// `complete` set no further byte will follow soon (the terminal's
// inter-byte pause has passed), so an unfinished sequence is decided: a lone
// Esc byte is the Esc key, anything longer is swallowed.
//
// Known sequences (xterm, VT and Linux console forms, modifiers ignored):
// cursor keys, Home, End, Insert, Delete, PgUp, PgDn and F1..F10, giving the
// scan codes 71 Home, 72 Up, 73 PgUp, 75 Left, 77 Right, 79 End, 80 Down,
// 81 PgDn, 82 Insert, 83 Delete and 59..68 for F1..F10. Any other escape
// sequence, Alt+key (Esc and a character) included, is swallowed.
DecodedKey DecodeKey(const unsigned char* bytes, std::size_t size, bool complete);

}  // namespace varnox::testprog

#endif
