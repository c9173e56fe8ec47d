// Terminal key sequences decoded into PC key codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testprog/KeyDecoder.h"

namespace varnox::testprog {
namespace {

struct SequenceCase {
    const char* name;
    std::string bytes;
    bool complete;
    DecodedKey::Status status;
    std::size_t length;
    std::vector<int> codes;
};

void PrintTo(const SequenceCase& c, std::ostream* os) {
    *os << c.name;
}

class KeyDecoderTest : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(KeyDecoderTest, Decodes) {
    const SequenceCase& c = GetParam();
    const DecodedKey key = DecodeKey(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                     c.bytes.size(), c.complete);
    EXPECT_EQ(key.status, c.status);
    if (c.status != DecodedKey::kNeedMore) {
        EXPECT_EQ(key.length, c.length);
    }
    EXPECT_EQ(std::vector<int>(key.codes, key.codes + key.count), c.codes);
}

const auto kKey = DecodedKey::kKey;
const auto kMore = DecodedKey::kNeedMore;
const auto kDrop = DecodedKey::kSwallowed;

INSTANTIATE_TEST_SUITE_P(
    Sequences, KeyDecoderTest,
    ::testing::Values(SequenceCase{"Letter", "i", false, kKey, 1, {'i'}},
                      SequenceCase{"LetterThenMore", "oi", false, kKey, 1, {'o'}},
                      SequenceCase{"HighByte", "\xe9", false, kKey, 1, {0xE9}},
                      SequenceCase{"LoneEscWaits", "\x1b", false, kMore, 0, {}},
                      SequenceCase{"LoneEscAfterPause", "\x1b", true, kKey, 1, {27}},
                      SequenceCase{"EscTwice", "\x1b\x1b", false, kKey, 1, {27}},
                      SequenceCase{"Up", "\x1b[A", false, kKey, 3, {0, 72}},
                      SequenceCase{"Down", "\x1b[B", false, kKey, 3, {0, 80}},
                      SequenceCase{"Right", "\x1b[C", false, kKey, 3, {0, 77}},
                      SequenceCase{"Left", "\x1b[D", false, kKey, 3, {0, 75}},
                      SequenceCase{"HomeXterm", "\x1b[H", false, kKey, 3, {0, 71}},
                      SequenceCase{"EndXterm", "\x1b[F", false, kKey, 3, {0, 79}},
                      SequenceCase{"UpApplicationMode", "\x1bOA", false, kKey, 3, {0, 72}},
                      SequenceCase{"EndApplicationMode", "\x1bOF", false, kKey, 3, {0, 79}},
                      SequenceCase{"HomeVt", "\x1b[1~", false, kKey, 4, {0, 71}},
                      SequenceCase{"Insert", "\x1b[2~", false, kKey, 4, {0, 82}},
                      SequenceCase{"Delete", "\x1b[3~", false, kKey, 4, {0, 83}},
                      SequenceCase{"EndVt", "\x1b[4~", false, kKey, 4, {0, 79}},
                      SequenceCase{"PgUp", "\x1b[5~", false, kKey, 4, {0, 73}},
                      SequenceCase{"PgDn", "\x1b[6~", false, kKey, 4, {0, 81}},
                      SequenceCase{"F1Xterm", "\x1bOP", false, kKey, 3, {0, 59}},
                      SequenceCase{"F4Xterm", "\x1bOS", false, kKey, 3, {0, 62}},
                      SequenceCase{"F1Vt", "\x1b[11~", false, kKey, 5, {0, 59}},
                      SequenceCase{"F5", "\x1b[15~", false, kKey, 5, {0, 63}},
                      SequenceCase{"F6", "\x1b[17~", false, kKey, 5, {0, 64}},
                      SequenceCase{"F10", "\x1b[21~", false, kKey, 5, {0, 68}},
                      SequenceCase{"F1LinuxConsole", "\x1b[[A", false, kKey, 4, {0, 59}},
                      SequenceCase{"F5LinuxConsole", "\x1b[[E", false, kKey, 4, {0, 63}},
                      SequenceCase{"CtrlUp", "\x1b[1;5A", false, kKey, 6, {0, 72}},
                      SequenceCase{"ShiftDelete", "\x1b[3;2~", false, kKey, 6, {0, 83}},
                      SequenceCase{"SequenceFollowedByKey", "\x1b[Ai", false, kKey, 3, {0, 72}},
                      SequenceCase{"UnfinishedWaits", "\x1b[1", false, kMore, 0, {}},
                      SequenceCase{"UnfinishedSs3Waits", "\x1bO", false, kMore, 0, {}},
                      SequenceCase{"UnfinishedDropped", "\x1b[1;5", true, kDrop, 5, {}},
                      SequenceCase{"F12Dropped", "\x1b[24~", false, kDrop, 5, {}},
                      SequenceCase{"UnknownFinalDropped", "\x1b[Z", false, kDrop, 3, {}},
                      SequenceCase{"AltKeyDropped", "\x1bx", false, kDrop, 2, {}},
                      SequenceCase{"BrokenSequenceDropped", "\x1b[1\x01", false, kDrop, 3, {}}));

}  // namespace
}  // namespace varnox::testprog
