// pyranex-cli as a user runs it: a copy of the program in a temporary folder, with the inverter
// (simulated, or a pymodbus server) on COM<n> through the ports folder beside it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli_options.h"
#include "inverter_simulator.h"
#include "sim_start.h"
#include "support/child_process.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kCom = 4;
const char* const kHeader =
    "\"Time\",\"Udc(V)\",\"Uac(V)\",\"f(Hz)\",\"Pac(W)\",\"Etoday(kWh)\",\"Etotal(kWh)\","
    "\"Ttoday(min)\",\"Ttotal(h)\",\"T(°C)\",\"Iac-Shift\",\"DCI(mA)\",\"State 1\",\"State 2\"";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    dir_ = std::filesystem::temp_directory_path() /
           ("pyranex-cli-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    std::filesystem::copy_file(PYRANEX_CLI_PATH, dir_ / "pyranex-cli");
  }
  ~CliTest() override {
    if (sim_) sim_->Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void StartSim(sim::FramingMode framing, const sim::FaultConfig& faults = {}) {
    std::string error;
    sim_ = StartSimulator(dir_ / "ports", kCom, framing, 11, faults, error);
    ASSERT_TRUE(sim_) << error;
  }

  std::vector<std::string> Cli(std::vector<std::string> args) {
    args.insert(args.begin(), (dir_ / "pyranex-cli").string());
    return args;
  }
  std::filesystem::path Dir() const { return dir_; }
  sim::InverterSimulator& Sim() { return *sim_; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  std::unique_ptr<sim::InverterSimulator> sim_;
};

TEST_F(CliTest, IdentifyModbusInverter) {
  StartSim(sim::FramingMode::Modbus);
  ChildProcess cli(Cli({"identify", "COM4"}));
  ASSERT_EQ(cli.Wait(15s), 0) << cli.Err();
  EXPECT_EQ(cli.Out(),
            "Framing: Std. Modbus\nAddress: 1\nSerial number: 123456789012\n"
            "Firmware version: V5.00\nRated power: 5000 W\n");
}

TEST_F(CliTest, IdentifySerialFramingInverter) {
  StartSim(sim::FramingMode::Serial);
  ChildProcess cli(Cli({"identify", "4"}));
  ASSERT_EQ(cli.Wait(15s), 0) << cli.Err();
  EXPECT_EQ(cli.Out(),
            "Framing: serial number address\nSerial number: 123456789012\n"
            "Firmware version: V5.00\nRated power: 5000 W\n");
}

TEST_F(CliTest, PortsListsTheNumbersAsTheComDialogDoes) {
  StartSim(sim::FramingMode::Modbus);
  ChildProcess cli(Cli({"ports"}));
  ASSERT_EQ(cli.Wait(10s), 0) << cli.Err();
  const std::string line = "COM4  " +
                           std::filesystem::read_symlink(Dir() / "ports" / "COM4").string() +
                           "  [ports/COM4]\n";
  EXPECT_NE(cli.Out().find(line), std::string::npos) << cli.Out();
}

TEST_F(CliTest, PortThatDoesNotOpenExitsWithTwo) {
  ChildProcess cli(Cli({"identify", "COM4"}));
  EXPECT_EQ(cli.Wait(10s), 2);
  EXPECT_NE(cli.Err().find("COM4 does not open"), std::string::npos) << cli.Err();
  EXPECT_EQ(cli.Out(), "");
}

TEST_F(CliTest, ARegularFileAsThePortIsRefusedAndLeftAsItWas) {
  const std::filesystem::path file = Dir() / "notes.txt";
  const std::string content = "eight bytes and more that must stay";
  std::ofstream(file, std::ios::binary) << content;
  std::filesystem::create_directories(Dir() / "ports");
  std::filesystem::create_symlink(file, Dir() / "ports" / "COM4");
  ChildProcess cli(Cli({"identify", "COM4"}));
  EXPECT_EQ(cli.Wait(10s), 2);
  EXPECT_NE(cli.Err().find("COM4 does not open"), std::string::npos) << cli.Err();
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            content);
}

// Every command says why the port does not open, the same way.
TEST_F(CliTest, PortThatDoesNotOpenSaysWhyInEveryCommand) {
  StartSim(sim::FramingMode::Modbus);
  // Another program holds COM4.
  const int held = ::open(Sim().SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  std::ofstream(Dir() / "notes.txt") << "not a port";
  std::filesystem::create_symlink(Dir() / "notes.txt", Dir() / "ports" / "COM5");
  const struct {
    const char* com;
    const char* line;
  } ports[] = {
      {"COM4", "COM4 does not open: in use by another program (Device or resource busy)\n"},
      {"COM5", "COM5 does not open: not a serial terminal (Inappropriate ioctl for device)\n"},
      {"COM60",
       "COM60 does not open: no such port, or its device is not connected (No such file or "
       "directory)\n"},
  };
  const std::vector<std::vector<std::string>> commands = {
      {"identify"}, {"poll"}, {"params"}, {"set", "--defaults"}};
  for (const auto& port : ports) {
    for (const auto& command : commands) {
      std::vector<std::string> args{"/usr/bin/env", "PYRANEX_PASSWORD=HQDWZEMAXL",
                                    (Dir() / "pyranex-cli").string(), command[0], port.com};
      args.insert(args.end(), command.begin() + 1, command.end());
      ChildProcess cli(args);
      EXPECT_EQ(cli.Wait(10s), 2) << command[0] << " " << port.com;
      EXPECT_EQ(cli.Err(), std::string("pyranex-cli: ") + port.line) << command[0];
    }
  }
  ::close(held);
}

// A full disk or a failing device under the output is said and has its own exit status; only a
// reader that went away (PollEndsWhenItsOutputIsClosed) ends with 0.
TEST_F(CliTest, OutputThatCannotBeWrittenIsAFailureOfItsOwn) {
  StartSim(sim::FramingMode::Modbus);
  const std::vector<std::vector<std::string>> commands = {
      {"poll", "COM4", "--count", "3"}, {"identify", "COM4"}, {"--help"}};
  for (const auto& command : commands) {
    std::vector<std::string> args{"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full",
                                  (Dir() / "pyranex-cli").string()};
    args.insert(args.end(), command.begin(), command.end());
    ChildProcess cli(args);
    EXPECT_EQ(cli.Wait(20s), cli::kExitOutputFailed) << command[0] << ": " << cli.Err();
    EXPECT_NE(cli.Err().find("pyranex-cli: cannot write the output: No space left on device"),
              std::string::npos)
        << cli.Err();
  }
}

TEST_F(CliTest, PollEndsWhenItsOutputIsClosed) {
  StartSim(sim::FramingMode::Modbus);
  ChildProcess cli(Cli({"poll", "COM4"}));
  for (int i = 0; i < 300 && Lines(cli.Out()).size() < 2; ++i) cli.Drain(50ms);
  ASSERT_GE(Lines(cli.Out()).size(), 2u) << cli.Err();
  cli.CloseOutput();  // poll | head -2
  EXPECT_EQ(cli.Wait(10s), 0) << cli.Err();
}

TEST_F(CliTest, PollWaitKeepsAskingUntilTheInverterWakes) {
  sim::FaultConfig asleep;
  asleep.silent = true;
  StartSim(sim::FramingMode::Serial, asleep);
  ChildProcess cli(Cli({"poll", "COM4", "--wait", "--count", "1"}));
  for (int i = 0; i < 300 && cli.Err().find("still asking") == std::string::npos; ++i) {
    cli.Drain(50ms);
  }
  ASSERT_NE(cli.Err().find("no inverter answers on COM4 yet"), std::string::npos) << cli.Err();
  cli.Drain(4s);  // past the point where identification alone would give up
  Sim().SetFaults({});
  ASSERT_EQ(cli.Wait(30s), 0) << cli.Err();
  EXPECT_EQ(Lines(cli.Out()).size(), 2u) << cli.Out();
  EXPECT_NE(cli.Err().find("the inverter answered on COM4"), std::string::npos) << cli.Err();
}

TEST_F(CliTest, NoInverterExitsWithThreeAfterTheIdentificationTime) {
  sim::FaultConfig silent;
  silent.silent = true;
  StartSim(sim::FramingMode::Modbus, silent);
  const auto start = std::chrono::steady_clock::now();
  ChildProcess cli(Cli({"identify", "COM4"}));
  EXPECT_EQ(cli.Wait(15s), 3);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 4000ms);
  EXPECT_NE(cli.Err().find("no inverter answered on COM4"), std::string::npos) << cli.Err();
}

TEST_F(CliTest, PollPrintsTheHeaderAndOneLinePerCycle) {
  StartSim(sim::FramingMode::Modbus);
  ChildProcess cli(Cli({"poll", "COM4", "--count", "3"}));
  ASSERT_EQ(cli.Wait(20s), 0) << cli.Err();
  const std::vector<std::string> lines = Lines(cli.Out());
  ASSERT_EQ(lines.size(), 4u) << cli.Out();
  EXPECT_EQ(lines[0], kHeader);
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ','), 13) << lines[i];
    EXPECT_EQ(lines[i].find(",,"), std::string::npos) << "no value missing: " << lines[i];
  }
}

TEST_F(CliTest, CtrlCEndsThePollCleanly) {
  StartSim(sim::FramingMode::Modbus);
  ChildProcess cli(Cli({"poll", "COM4"}));
  for (int i = 0; i < 300 && Lines(cli.Out()).size() < 3; ++i) cli.Drain(50ms);
  ASSERT_GE(Lines(cli.Out()).size(), 3u) << cli.Err();
  const auto start = std::chrono::steady_clock::now();
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(10s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
}

TEST_F(CliTest, PymodbusServerAnswersTheProbeAndItsValuesArePrinted) {
  // A live record whose every column is distinct, on a 3000 W inverter with firmware V3.21.
  ChildProcess server({"/usr/bin/python3",
                       PYMODBUS_SERVER_SCRIPT,
                       "--ports-dir",
                       (Dir() / "ports").string(),
                       "--com",
                       std::to_string(kCom),
                       "--rated",
                       "30",
                       "--firmware",
                       "321",
                       "--serial",
                       "123456789012",
                       "--input",
                       "11=3456",
                       "--input",
                       "15=2311",
                       "--input",
                       "21=4997",
                       "--input",
                       "23=12345",
                       "--input",
                       "24=87",
                       "--input",
                       "25=1",
                       "--input",
                       "26=2",
                       "--input",
                       "28=95",
                       "--input",
                       "30=4321",
                       "--input",
                       "31=412",
                       "--input",
                       "32=17",
                       "--input",
                       "35=0xFFFD",
                       "--input",
                       "40=4",
                       "--input",
                       "41=1"});
  for (int i = 0; i < 200 && server.Out().find("READY") == std::string::npos; ++i) {
    server.Drain(50ms);
  }
  ASSERT_NE(server.Out().find("READY"), std::string::npos) << server.Err();

  ChildProcess identify(Cli({"identify", "COM4"}));
  ASSERT_EQ(identify.Wait(15s), 0) << identify.Err();
  EXPECT_EQ(identify.Out(),
            "Framing: Std. Modbus\nAddress: 1\nSerial number: 123456789012\n"
            "Firmware version: V3.21\nRated power: 3000 W\n");

  ChildProcess poll(Cli({"poll", "COM4", "--count", "2"}));
  ASSERT_EQ(poll.Wait(15s), 0) << poll.Err();
  const std::vector<std::string> lines = Lines(poll.Out());
  ASSERT_EQ(lines.size(), 3u) << poll.Out();
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string values = lines[i].substr(lines[i].find(','));
    EXPECT_EQ(values, ",345.6,231.1,49.97,1234.5,8.7,6553.8,95,4321,41.2,17,-3,4,1");
  }
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(5s), 0);
}

// The reasons a test cannot produce as root; the others are shown by the commands themselves.
TEST(CliOptionsTest, PortNotOpenGivesTheReasonAndTheSystemText) {
  EXPECT_EQ(cli::PortNotOpenText(3, EACCES, "text"),
            "COM3 does not open: no access (serial ports usually belong to the dialout group) "
            "(text)");
  EXPECT_EQ(cli::PortNotOpenText(3, EIO, "text"), "COM3 does not open: text");
}

struct ArgsCase {
  std::vector<std::string> args;
  bool ok;
  cli::Command command;
  unsigned port;
  std::optional<unsigned> count;
};

TEST(CliOptionsTest, Table) {
  using cli::Command;
  const std::vector<ArgsCase> cases = {
      {{"identify", "3"}, true, Command::Identify, 3, std::nullopt},
      {{"identify", "COM12"}, true, Command::Identify, 12, std::nullopt},
      {{"poll", "com1", "--count", "10"}, true, Command::Poll, 1, 10u},
      {{"poll", "2"}, true, Command::Poll, 2, std::nullopt},
      {{"--help"}, true, Command::Help, 0, std::nullopt},
      {{"poll", "COM3", "--help"}, true, Command::Help, 0, std::nullopt},
      {{}, false, Command::Help, 0, std::nullopt},
      {{"identify"}, false, Command::Help, 0, std::nullopt},
      {{"identify", "COM0"}, false, Command::Help, 0, std::nullopt},
      {{"identify", "256"}, false, Command::Help, 0, std::nullopt},
      {{"identify", "COMx"}, false, Command::Help, 0, std::nullopt},
      {{"identify", "3", "--count", "2"}, false, Command::Help, 0, std::nullopt},
      {{"poll", "3", "--count"}, false, Command::Help, 0, std::nullopt},
      {{"poll", "3", "--count", "0"}, false, Command::Help, 0, std::nullopt},
      {{"poll", "3", "--count", "5x"}, false, Command::Help, 0, std::nullopt},
      {{"watch", "3"}, false, Command::Help, 0, std::nullopt},
      {{"poll", "3", "--wait", "--count", "2"}, true, Command::Poll, 3, 2u},
      {{"identify", "3", "--wait"}, false, Command::Help, 0, std::nullopt},
  };
  for (const ArgsCase& c : cases) {
    std::string error;
    const auto options = cli::ParseCliOptions(c.args, &error);
    ASSERT_EQ(options.has_value(), c.ok) << ::testing::PrintToString(c.args) << " " << error;
    if (!options) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(options->command, c.command);
    if (c.command != Command::Help) {
      EXPECT_EQ(options->comPort, c.port);
      EXPECT_EQ(options->count, c.count);
    }
  }
}

}  // namespace
}  // namespace pyranex::test
