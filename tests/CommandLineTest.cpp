// The test program's command line and program name.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "testprog/CommandLine.h"

namespace varnox::testprog {
namespace {

struct CommandCase {
    std::string line;  // arguments after the program path, blank-separated
    bool usageError;
    std::uint16_t com;
    std::uint16_t slot;
    bool quiet;
    bool debug;
    std::vector<int> traceOpenedFor;  // slots passed to the D switch's open
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << "'" << c.line << "'";
}

class CommandLineTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandLineTest, Parses) {
    const CommandCase& c = GetParam();
    std::vector<std::string> words = {"VARNOX-Test"};
    std::istringstream in(c.line);
    for (std::string word; in >> word;) words.push_back(word == "<blank>" ? " " : word);
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    std::vector<int> opened;
    const Options o = ParseCommandLine(static_cast<int>(argv.size()), argv.data(),
                                       [&](std::uint16_t slot) { opened.push_back(slot); });
    EXPECT_EQ(o.usageError, c.usageError);
    EXPECT_EQ(opened, c.traceOpenedFor);
    if (c.usageError) return;
    EXPECT_EQ(o.comNumber, c.com);
    EXPECT_EQ(o.portNumber, c.slot);
    EXPECT_EQ(o.quietMode, c.quiet);
    EXPECT_EQ(o.debugMode, c.debug);
}

INSTANTIATE_TEST_SUITE_P(Lines, CommandLineTest,
                         ::testing::Values(CommandCase{"", true, 0, 0, false, false, {}},
                                           CommandCase{"-q 3", true, 0, 0, false, false, {}},
                                           CommandCase{"3", false, 3, 0, false, false, {}},
                                           CommandCase{"3 -c5", false, 3, 5, false, false, {}},
                                           CommandCase{"3 /C5", false, 3, 5, false, false, {}},
                                           CommandCase{"3 -C 5", false, 3, 5, false, false, {}},
                                           CommandCase{"3 -c 5", false, 3, 5, false, false, {}},
                                           CommandCase{"3x", false, 3, 0, false, false, {}},
                                           CommandCase{"3 -C5x", false, 3, 5, false, false, {}},
                                           CommandCase{"x", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -Cx", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -C", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -C x", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -Qx", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -dx", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -X", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -", true, 0, 0, false, false, {}},
                                           CommandCase{"3 Q", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -x -D", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -Dx", true, 0, 0, false, false, {0}},
                                           CommandCase{"3 -D -C 2", false, 3, 2, false, true, {0}},
                                           CommandCase{"3 -C 2 -D", false, 3, 2, false, true, {2}},
                                           CommandCase{"3 -d", false, 3, 0, false, true, {}},
                                           CommandCase{"3 -Q -d", false, 3, 0, false, true, {}},
                                           CommandCase{"3 -d -Q", false, 3, 0, false, true, {}},
                                           CommandCase{"3 -q", false, 3, 0, true, false, {}},
                                           CommandCase{"3 /Q", false, 3, 0, true, false, {}},
                                           CommandCase{"3 -C9", false, 3, 9, false, false, {}},
                                           CommandCase{"65535", false, 65535, 0, false, false, {}},
                                           CommandCase{"65536", true, 0, 0, false, false, {}},
                                           CommandCase{"-1", true, 0, 0, false, false, {}},
                                           CommandCase{"3 -C70000", true, 0, 0, false, false, {}},
                                           CommandCase{"+4 -C+1", false, 4, 1, false, false, {}}));

TEST(CommandLine, BlankAfterTheLetterTakesTheNextArgument) {
    const char* argv[] = {"VARNOX-Test", "3", "-C 9", "4"};
    const Options o = ParseCommandLine(4, argv, [](std::uint16_t) {});
    EXPECT_FALSE(o.usageError);
    EXPECT_EQ(o.portNumber, 4);
    const char* tab[] = {"VARNOX-Test", "3", "-C\t"};
    EXPECT_TRUE(ParseCommandLine(3, tab, [](std::uint16_t) {}).usageError);
}

TEST(ProgramName, FileNameWithoutDirectoryOrExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"D:\\tools\\VARNOX-Test.exe", "VARNOX-Test"},
        {"/usr/local/bin/VARNOX-Test", "VARNOX-Test"},
        {"/opt/x.y/VARNOX-Test", "VARNOX-Test"},
        {"VARNOX-Test.tar.gz", "VARNOX-Test"},
        {"tool", "tool"},
        {"", ""},
    };
    for (const auto& [path, name] : cases) EXPECT_EQ(ProgramName(path), name) << path;
}

}  // namespace
}  // namespace varnox::testprog
