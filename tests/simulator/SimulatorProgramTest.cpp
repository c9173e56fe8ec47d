// The VARNOX-Sim program: its help, running a command next to the module,
// line commands, wrong options, and cleaning up on every way out.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/FaultModes.h"
#include "tests/simulator/ProgramRunner.h"
#include "tests/simulator/RawClient.h"

namespace varnox::test {
namespace {

constexpr int kProgramMs = 10000;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), VARNOX_SIM_PROGRAM);
    return arguments;
}

// Starts the program reading line commands and returns its device directory
// from the export line it prints when it is ready.
std::string StartedDir(ProgramRunner& program) {
    const auto exportLine = program.ReadLine(Stream::kOut, kProgramMs);
    const std::string prefix = "export VARNOX_DEVICE_DIR=";
    if (!exportLine || exportLine->compare(0, prefix.size(), prefix) != 0) {
        ADD_FAILURE() << "no export line; stderr: " << program.Output(Stream::kErr);
        return "";
    }
    const auto ready = program.ReadLine(Stream::kOut, kProgramMs);
    EXPECT_TRUE(ready && ready->find("VARNOX-Sim ready: COM1 is ") == 0) << ready.value_or("");
    return exportLine->substr(prefix.size());
}

TEST(SimulatorProgram, HelpNamesEveryOptionLineCommandAndFaultMode) {
    ProgramRunner program(Program({"--help"}));
    ASSERT_EQ(program.Wait(kProgramMs), 0);
    const std::string& help = program.Output(Stream::kOut);
    const char* names[] = {"--com N",       "--version HEX", "--date TEXT", "--id TEXT",
                           "--product HEX", "--counter MS",  "--loopback",  "--pace",
                           "--fault NAME",  "--log FILE",    "--quiet",     "--help",
                           "-- COMMAND",    "in N",          "out?",        "status",
                           "fault NAME",    "help",          "quit"};
    for (const char* name : names) {
        EXPECT_NE(help.find(name), std::string::npos) << name;
    }
    for (const sim::FaultInfo& f : sim::kFaultModes) {
        EXPECT_NE(help.find(std::string("  ") + f.name + " "), std::string::npos) << f.name;
    }
}

TEST(SimulatorProgram, RunsACommandAndPassesItsStatusOn) {
    struct Case {
        std::vector<std::string> options;
        const char* script;  // prints the device directory first
        int status;
    };
    const Case cases[] = {
        {{}, "test -e \"$VARNOX_DEVICE_DIR/COM1\" || exit 9; exit 3", 3},
        {{"--com", "4"}, "test -e \"$VARNOX_DEVICE_DIR/COM4\" || exit 9", 0},
        {{"--com=12"}, "test -c \"$VARNOX_DEVICE_DIR/COM12\" || exit 9; exit 200", 200},
        {{}, "kill -TERM $$", 128 + SIGTERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        std::vector<std::string> arguments = c.options;
        arguments.insert(
            arguments.end(),
            {"--quiet", "--", "sh", "-c", std::string("echo \"$VARNOX_DEVICE_DIR\"; ") + c.script});
        ProgramRunner program(Program(arguments));
        const auto dir = program.ReadLine(Stream::kOut, kProgramMs);
        ASSERT_TRUE(dir && !dir->empty()) << program.Output(Stream::kErr);
        EXPECT_EQ(program.Wait(kProgramMs), c.status) << program.Output(Stream::kErr);
        EXPECT_FALSE(Exists(*dir)) << *dir << " was left behind";
        EXPECT_EQ(program.Output(Stream::kErr), "");
    }
}

TEST(SimulatorProgram, CommandThatCannotRunFailsWith127) {
    ProgramRunner program(Program({"--quiet", "--", "/nonexistent/varnox-command"}));
    EXPECT_EQ(program.Wait(kProgramMs), 127);
    const std::string& err = program.Output(Stream::kErr);
    EXPECT_NE(err.find("VARNOX-Sim: cannot run '/nonexistent/varnox-command': "), std::string::npos)
        << err;
}

TEST(SimulatorProgram, WrongOptionsFailWithAMessage) {
    const std::vector<std::string> cases[] = {
        {"--com", "0"},
        {"--com", "x"},
        {"--com"},
        {"--date", "Sep 5 2017"},
        {"--id", std::string(257, 'a')},
        {"--fault", "sometimes"},
        {"--version", "10000"},
        {"--product", "1G"},
        {"--counter", "5"},
        {"--loopback=yes"},
        {"--frobnicate"},
        {"--"},
    };
    for (const std::vector<std::string>& arguments : cases) {
        SCOPED_TRACE(arguments[0] + (arguments.size() > 1 ? " " + arguments[1] : ""));
        ProgramRunner program(Program(arguments));
        EXPECT_EQ(program.Wait(kProgramMs), 2);
        const std::string& err = program.Output(Stream::kErr);
        EXPECT_EQ(err.rfind("VARNOX-Sim: ", 0), 0u) << err;
        EXPECT_NE(err.find(arguments[0].substr(0, arguments[0].find('='))), std::string::npos)
            << err;
        EXPECT_NE(err.find("; "), std::string::npos) << "no hint what to do: " << err;
        EXPECT_EQ(program.Output(Stream::kOut), "");
    }
}

TEST(SimulatorProgram, LineCommandsDriveTheModule) {
    ProgramRunner program(Program({"--quiet"}));
    const std::string dir = StartedDir(program);
    ASSERT_FALSE(dir.empty());
    RawClient client(dir + "/COM1");
    ASSERT_TRUE(client.SetModemLine());

    ASSERT_TRUE(program.WriteInput("in 1fh\n"));
    EXPECT_EQ(program.ReadLine(Stream::kOut, kProgramMs), "inputs 1Fh (31)");
    ASSERT_TRUE(client.Send("i\rO05\rO\r"));
    EXPECT_EQ(client.Receive(8), "I1F\rO05\r");
    ASSERT_TRUE(program.WriteInput("out?\n"));
    EXPECT_EQ(program.ReadLine(Stream::kOut, kProgramMs), "outputs 05h (5)");

    ASSERT_TRUE(program.WriteInput("fault silence\n"));
    EXPECT_EQ(program.ReadLine(Stream::kOut, kProgramMs), "fault mode silence");
    ASSERT_TRUE(program.WriteInput("status\n"));
    EXPECT_EQ(program.ReadLine(Stream::kOut, kProgramMs),
              "inputs 1Fh (31), outputs 05h (5), automatic input off");
    EXPECT_EQ(program.ReadLine(Stream::kOut, kProgramMs), "fault mode silence");
    EXPECT_EQ(program.ReadLine(Stream::kOut, kProgramMs), "line open");
    ASSERT_TRUE(program.ReadLine(Stream::kOut, kProgramMs));  // the counts
    ASSERT_TRUE(program.WriteInput("fault none\nin 0x02\n"));
    EXPECT_EQ(program.ReadLine(Stream::kOut, kProgramMs), "fault mode none");
    EXPECT_EQ(program.ReadLine(Stream::kOut, kProgramMs), "inputs 02h (2)");
    ASSERT_TRUE(client.Send("i\r"));
    EXPECT_EQ(client.Receive(4), "I02\r");

    ASSERT_TRUE(program.WriteInput("in 40\nfault sometimes\nfrobnicate\n"));
    for (const char* complaint :
         {"VARNOX-Sim: '40' is no input state; ", "VARNOX-Sim: 'sometimes' is no fault mode; ",
          "VARNOX-Sim: cannot do 'frobnicate'; type help"}) {
        const auto line = program.ReadLine(Stream::kErr, kProgramMs);
        EXPECT_TRUE(line && line->find(complaint) == 0) << line.value_or("(none)");
    }

    ASSERT_TRUE(program.WriteInput("quit\n"));
    EXPECT_EQ(program.Wait(kProgramMs), 0);
    EXPECT_FALSE(Exists(dir)) << dir << " was left behind";
}

TEST(SimulatorProgram, SignalsEndItAndItCleansUp) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        ProgramRunner program(Program({}));
        const std::string dir = StartedDir(program);
        ASSERT_FALSE(dir.empty());
        ASSERT_TRUE(Exists(dir + "/COM1"));
        ASSERT_EQ(::kill(program.Pid(), signal), 0);
        EXPECT_EQ(program.Wait(kProgramMs), 128 + signal);
        EXPECT_FALSE(Exists(dir)) << dir << " was left behind";
    }
}

TEST(SimulatorProgram, KeepsRunningAfterTheEndOfPipedInput) {
    ProgramRunner program(Program({"--log", "/dev/null"}));
    const std::string dir = StartedDir(program);
    ASSERT_FALSE(dir.empty());
    program.CloseInput();
    ASSERT_TRUE(program.WaitForLine(Stream::kErr, "end of standard input", kProgramMs))
        << program.Output(Stream::kErr);
    RawClient client(dir + "/COM1");
    ASSERT_TRUE(client.SetModemLine());
    ASSERT_TRUE(client.Send("i\r"));
    EXPECT_EQ(client.Receive(4), "I00\r");
    ASSERT_EQ(::kill(program.Pid(), SIGTERM), 0);
    EXPECT_EQ(program.Wait(kProgramMs), 128 + SIGTERM);
    EXPECT_FALSE(Exists(dir));
}

}  // namespace
}  // namespace varnox::test
