#include "testprog/KeyDecoder.h"

namespace varnox::testprog {
namespace {

constexpr unsigned char kEsc = 0x1B;

DecodedKey Key(std::size_t length, int code) {
    return {DecodedKey::kKey, length, {code, 0}, 1};
}
DecodedKey Extended(std::size_t length, int scan) {
    return {DecodedKey::kKey, length, {0, scan}, 2};
}
DecodedKey Swallow(std::size_t length) {
    return {DecodedKey::kSwallowed, length, {0, 0}, 0};
}
DecodedKey NeedMore() {
    return {DecodedKey::kNeedMore, 0, {0, 0}, 0};
}

// Final letter of "Esc [ ... X" or "Esc O X".
int ScanForLetter(unsigned char letter) {
    switch (letter) {
        case 'A': return 72;  // Up
        case 'B': return 80;  // Down
        case 'C': return 77;  // Right
        case 'D': return 75;  // Left
        case 'H': return 71;  // Home
        case 'F': return 79;  // End
        case 'P': return 59;  // F1
        case 'Q': return 60;  // F2
        case 'R': return 61;  // F3
        case 'S': return 62;  // F4
        default: return -1;
    }
}

// "Esc [ n ~" forms.
int ScanForNumber(int number) {
    switch (number) {
        case 1:
        case 7: return 71;  // Home
        case 2: return 82;  // Insert
        case 3: return 83;  // Delete
        case 4:
        case 8: return 79;  // End
        case 5: return 73;  // PgUp
        case 6: return 81;  // PgDn
        case 11: return 59;
        case 12: return 60;
        case 13: return 61;
        case 14: return 62;
        case 15: return 63;
        case 17: return 64;
        case 18: return 65;
        case 19: return 66;
        case 20: return 67;
        case 21: return 68;
        default: return -1;
    }
}

DecodedKey Decided(std::size_t length, int scan) {
    return scan >= 0 ? Extended(length, scan) : Swallow(length);
}

// A control sequence: Esc [ parameters intermediates final (final 0x40..0x7E).
DecodedKey DecodeCsi(const unsigned char* bytes, std::size_t size, bool complete) {
    // The Linux console sends F1..F5 as Esc [ [ A..E.
    if (size >= 3 && bytes[2] == '[') {
        if (size < 4) return complete ? Swallow(size) : NeedMore();
        const unsigned char letter = bytes[3];
        return Decided(4, letter >= 'A' && letter <= 'E' ? 59 + (letter - 'A') : -1);
    }
    int first = -1;
    bool inFirst = true;
    for (std::size_t i = 2; i < size; ++i) {
        const unsigned char b = bytes[i];
        if (b >= 0x40 && b <= 0x7E) {
            if (b == '~') return Decided(i + 1, ScanForNumber(first));
            return Decided(i + 1, ScanForLetter(b));
        }
        if (b < 0x20 || b > 0x3F) return Swallow(i);  // not part of a sequence
        if (b >= '0' && b <= '9' && inFirst) {
            first = (first < 0 ? 0 : first * 10) + (b - '0');
            if (first > 9999) first = 9999;
        } else {
            inFirst = false;
        }
    }
    return complete ? Swallow(size) : NeedMore();
}

}  // namespace

DecodedKey DecodeKey(const unsigned char* bytes, std::size_t size, bool complete) {
    if (bytes[0] != kEsc) return Key(1, bytes[0]);
    if (size == 1) return complete ? Key(1, kEscKey) : NeedMore();
    if (bytes[1] == kEsc) return Key(1, kEscKey);  // Esc pressed twice
    if (bytes[1] == '[') return DecodeCsi(bytes, size, complete);
    if (bytes[1] == 'O') {
        if (size == 2) return complete ? Swallow(2) : NeedMore();
        return Decided(3, ScanForLetter(bytes[2]));
    }
    // Esc and a character: Alt+key, which this program has no use for.
    return Swallow(2);
}

}  // namespace varnox::testprog
