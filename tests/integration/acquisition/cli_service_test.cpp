// pyranex-cli params, set and command as a technician runs them: a copy of the program and of
// datacfg.xls in a temporary folder, the inverter (simulated, or a pymodbus server) on COM4.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/platform/clock.h"
#include "core/workbook/config_workbook.h"
#include "core/workbook/xls_writer.h"
#include "inverter_simulator.h"
#include "service_commands.h"
#include "sim_start.h"
#include "support/child_process.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;
using sim::SimWrite;

constexpr unsigned kCom = 4;
constexpr auto kRunLimit = 120s;
const char* const kPassword = "HQDWZEMAXL";

// Registers 311..330 as the VDE-NEW column of datacfg.xls gives them, in write order.
const std::vector<uint16_t> kVdeNewBlock0 = {1500, 60,    1840, 1840, 10,   10,  2530,
                                             2645, 60000, 10,   4750, 4700, 10,  10,
                                             5150, 5200,  10,   10,   1000, 2000};

class CliServiceTest : public ::testing::Test {
 protected:
  CliServiceTest() {
    dir_ = std::filesystem::temp_directory_path() /
           ("pyranex-cli-service-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    std::filesystem::copy_file(PYRANEX_CLI_PATH, dir_ / "pyranex-cli");
    std::filesystem::copy_file(PYRANEX_DATACFG_XLS, dir_ / "datacfg.xls");
  }
  ~CliServiceTest() override {
    if (sim_) sim_->Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void StartSim(sim::FramingMode framing, uint16_t firmware, uint16_t addressRegister = 1) {
    sim::SimulatorConfig config;
    config.portsDir = dir_ / "ports";
    config.comNumber = kCom;
    config.framing = framing;
    config.startSecondOfDay = 10 * 3600;
    config.identity.firmwareVersion = firmware;
    config.identity.addressRegister = addressRegister;
    sim_ = std::make_unique<sim::InverterSimulator>(config);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
  }
  sim::InverterSimulator& Sim() { return *sim_; }

  // The program run from its folder, with the password (if any) in the environment and no
  // controlling terminal to ask at.
  std::unique_ptr<ChildProcess> Cli(const std::string& args, const char* password = kPassword) {
    std::string command = "cd '" + dir_.string() + "' && ";
    if (password != nullptr) command += "PYRANEX_PASSWORD='" + std::string(password) + "' ";
    command += "exec setsid -w ./pyranex-cli " + args;
    return std::make_unique<ChildProcess>(std::vector<std::string>{"/bin/sh", "-c", command});
  }
  std::filesystem::path Dir() const { return dir_; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  std::unique_ptr<sim::InverterSimulator> sim_;
};

std::vector<SimWrite> RegisterWrites(const std::vector<SimWrite>& all) {
  std::vector<SimWrite> out;
  for (const SimWrite& w : all) {
    if (!w.coil) out.push_back(w);
  }
  return out;
}

TEST_F(CliServiceTest, SetAllParameterWithAStandardInBothFramings) {
  struct Case {
    sim::FramingMode framing;
    uint16_t firmware;
    const char* extra;
    size_t block2Size;
    uint8_t address;
    uint64_t serial;
  };
  const Case cases[] = {
      {sim::FramingMode::Modbus, 300, " --serial 210987654321 --address 9", 21, 9, 210987654321},
      // A legacy serial text: T2K(A), 5 October 2010, converted with the model code 23.
      {sim::FramingMode::Serial, 500, " --serial A2xSA05123", 19, 1, 102310402123},
  };
  for (const Case& c : cases) {
    StartSim(c.framing, c.firmware);
    auto cli = Cli("set COM4 --standard VDE-NEW" + std::string(c.extra));
    ASSERT_EQ(cli->Wait(kRunLimit), 0) << cli->Err() << cli->Out();
    const std::vector<SimWrite> writes = RegisterWrites(Sim().Writes());
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].first, 311u);
    ASSERT_EQ(writes[0].values.size(), 23u);
    EXPECT_EQ(std::vector<uint16_t>(writes[0].values.begin(), writes[0].values.begin() + 20),
              kVdeNewBlock0);
    EXPECT_EQ(writes[0].values[22], 0x5644);  // "VD"
    EXPECT_EQ(writes[1], (SimWrite{false, 334, {0x4520, 0x2020, 0x2020, 0x2020, 0x2020}}));
    EXPECT_EQ(writes[2].first, 341u);
    EXPECT_EQ(writes[2].values.size(), c.block2Size);
    EXPECT_EQ(writes[2].values[17], 2);  // standard number of "VDE-NEW"
    const std::string digits = std::to_string(c.serial);
    const auto word = [&](size_t at) {
      return static_cast<uint16_t>(std::stoul(digits.substr(at, 4), nullptr, 16));
    };
    EXPECT_EQ(writes[3], (SimWrite{false, 301, {word(0), word(4), word(8)}}));
    EXPECT_EQ(Sim().SerialNumber(), c.serial);
    EXPECT_EQ(Sim().SlaveAddress(), c.address);
    // The read pass after the write shows exactly the written values.
    const std::string out = cli->Out();
    for (const char* line : {"Vac low voltage min(V): 184.0\n", "Time(ms) of Vac high: 600000\n",
                             "Hi-Frequency max(Hz): 51.50\n", "Standard: VDE         \n"}) {
      EXPECT_NE(out.find(line), std::string::npos) << line << out;
    }
    EXPECT_NE(out.find("SN1: " + digits + "\n"), std::string::npos) << out;
    Sim().Stop();
  }
}

struct CommandCase {
  sim::FramingMode framing;
  const char* args;
  SimWrite write;
  const char* shown;
};

class CliCommandTest : public CliServiceTest, public ::testing::WithParamInterface<CommandCase> {};

// Each command in its own run, so the slow runs share the cores.
TEST_P(CliCommandTest, WritesAndShowsItsEffect) {
  const CommandCase& c = GetParam();
  StartSim(c.framing, 300);
  auto cli = Cli(std::string("command COM4 ") + c.args);
  ASSERT_EQ(cli->Wait(kRunLimit), 0) << c.args << cli->Err();
  EXPECT_EQ(Sim().Writes(), std::vector<SimWrite>{c.write}) << c.args;
  EXPECT_NE(cli->Out().find(c.shown), std::string::npos) << c.args << cli->Out();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliCommandTest,
    ::testing::Values(
        CommandCase{sim::FramingMode::Modbus, "autotest", {true, 2, {0xFF00}}, "State: Waiting\n"},
        CommandCase{
            sim::FramingMode::Modbus, "clear-kwh", {true, 1, {0xFF00}}, "Total(kWh): 0.0\n"},
        CommandCase{
            sim::FramingMode::Modbus, "island on", {false, 357, {0}}, "Island test switch: on\n"},
        CommandCase{
            sim::FramingMode::Serial, "gfci off", {false, 339, {0}}, "GFCI function: off\n"},
        CommandCase{sim::FramingMode::Serial, "iso off", {false, 340, {0}}, "ISO function: off\n"}),
    [](const auto& info) {
      std::string name = info.param.args;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

TEST_F(CliServiceTest, NothingIsWrittenWithoutThePasswordOrWithAnInvalidField) {
  struct Case {
    std::string args;
    const char* password;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"command COM4 autotest", "hqdwzemaxl", 5, "wrong parameter-setting password"},
      {"set COM4 --defaults", nullptr, 5, "PYRANEX_PASSWORD"},
      {"set COM4 --defaults --address 300", kPassword, 4, "请输入一个在 0 和 255 之间的整数。"},
      {"set COM4 --defaults --serial 1234567890123", kPassword, 4,
       "--serial 1234567890123 is no serial number"},
  };
  StartSim(sim::FramingMode::Modbus, 300);
  for (const Case& c : cases) {
    auto cli = Cli(c.args, c.password);
    EXPECT_EQ(cli->Wait(kRunLimit), c.status) << c.args << cli->Err();
    EXPECT_NE(cli->Err().find(c.message), std::string::npos) << cli->Err();
  }
  EXPECT_TRUE(Sim().Writes().empty());
}

// Register 361 holding 0x0101 is outside the address rule: it is taken in and marked, and
// "--defaults", which has no address, does not turn it into 0.
TEST_F(CliServiceTest, AnAddressOutsideTheRulesIsNeverReplacedByADefault) {
  StartSim(sim::FramingMode::Modbus, 300, 0x0101);
  auto cli = Cli("set COM4 --defaults");
  EXPECT_EQ(cli->Wait(kRunLimit), 4) << cli->Err();
  for (const char* line :
       {"pyranex-cli: [Addr.] 请输入一个在 0 和 255 之间的整数。\n",
        "pyranex-cli: [Addr.] Enter an integer between 0 and 255.\n",
        "pyranex-cli: Addr. holds \"257\" (the inverter's value); nothing was written\n"}) {
    EXPECT_NE(cli->Err().find(line), std::string::npos) << line << cli->Err();
  }
  EXPECT_TRUE(Sim().Writes().empty());
  EXPECT_EQ(Sim().SlaveAddress(), 1);
}

// An address the inverter never takes is refused, not dropped.
TEST_F(CliServiceTest, AnAddressThatIsNotWrittenIsRefused) {
  struct Case {
    sim::FramingMode framing;
    uint16_t firmware;
    const char* reason;
  };
  const Case cases[] = {
      {sim::FramingMode::Modbus, 500, "firmware V5.00 has no Modbus address register"},
      {sim::FramingMode::Serial, 300, "serial-number framing"},
  };
  for (const Case& c : cases) {
    StartSim(c.framing, c.firmware);
    auto cli = Cli("set COM4 --defaults --address 9");
    EXPECT_EQ(cli->Wait(kRunLimit), 4) << cli->Err();
    EXPECT_NE(cli->Err().find("--address cannot be set: "), std::string::npos) << cli->Err();
    EXPECT_NE(cli->Err().find(c.reason), std::string::npos) << cli->Err();
    EXPECT_TRUE(Sim().Writes().empty());
    Sim().Stop();
  }
}

// A standard whose values datacfg.xls does not hold is refused before the port is opened: here
// its column is empty, where the reader would repeat the neighbour's numbers.
TEST_F(CliServiceTest, AStandardWithMissingValuesIsRefusedBeforeAnythingIsSent) {
  const SystemClock clock;
  CConfigWorkbook real(clock, Dir());
  real.ReadParameterSheet();
  ASSERT_FALSE(real.ParameterTable[0].empty());
  auto xls = XlsWriter::Start();
  ASSERT_TRUE(xls);
  xls->NewWorkbook();
  xls->FirstSheet();
  xls->NameSheet(kParameterSheetName);
  for (uint32_t col = 0; col < kParameterColumns.size(); ++col) {
    xls->PutCellText(0, col, kParameterColumns[col].name);
    if (kParameterColumns[col].name == "VDE-NEW") continue;
    for (uint32_t row = 0; row < real.ParameterTable[col].size(); ++row) {
      xls->PutCellText(row + 1, col, real.ParameterTable[col][row]);
    }
  }
  xls->AddSheet(kModelSheetName);
  ASSERT_EQ(xls->SaveAs(Dir() / "datacfg.xls"), "");
  StartSim(sim::FramingMode::Modbus, 300);
  auto cli = Cli("set COM4 --standard VDE-NEW");
  EXPECT_EQ(cli->Wait(kRunLimit), 4) << cli->Err();
  EXPECT_NE(cli->Err().find("pyranex-cli: VDE-NEW: datacfg.xls in "), std::string::npos);
  EXPECT_NE(cli->Err().find(" holds no values for Vpv-start(V), T-start(s), VacLow(V)"),
            std::string::npos)
      << cli->Err();
  EXPECT_TRUE(Sim().Requests().empty());  // the port was not even opened
}

// The serial number is shown as it will be written, before the password is asked; one the
// dialog would not take is refused there.
TEST_F(CliServiceTest, TheSerialNumberToWriteIsShownBeforeThePassword) {
  auto shown = Cli("set COM4 --defaults --serial 123", nullptr);
  EXPECT_EQ(shown->Wait(kRunLimit), 5) << shown->Err();
  EXPECT_EQ(shown->Out(), "Serial number to write: 000000000123\n");
  EXPECT_NE(shown->Err().find("needs the parameter-setting password"), std::string::npos);
  auto legacy = Cli("set COM4 --defaults --serial A2xSA05123", nullptr);
  EXPECT_EQ(legacy->Wait(kRunLimit), 5) << legacy->Err();
  EXPECT_EQ(legacy->Out(), "Serial number to write: 102310402123\n");
  auto refused = Cli("set COM4 --defaults --serial 12ab", nullptr);
  EXPECT_EQ(refused->Wait(kRunLimit), 4) << refused->Err();
  EXPECT_NE(refused->Err().find("--serial 12ab is no serial number"), std::string::npos);
  EXPECT_EQ(refused->Out(), "");
}

TEST_F(CliServiceTest, ParamsNeedsNoPassword) {
  StartSim(sim::FramingMode::Modbus, 500);
  auto cli = Cli("params COM4", nullptr);
  ASSERT_EQ(cli->Wait(kRunLimit), 0) << cli->Err();
  for (const char* line : {"SN1: 123456789012\n", "Software version: 5.00\n", "Addr.: \n",
                           "Std. Modbus: on\n", "Kpv_Gain_1: 100.0\n", "State: "}) {
    EXPECT_NE(cli->Out().find(line), std::string::npos) << line << cli->Out();
  }
  EXPECT_TRUE(Sim().Writes().empty());
}

// A Modbus RTU slave we did not write takes "Set all parameter": its holding registers hold what
// the frames said. Its input registers are preset to the values and the name of G83, so the
// read-back agrees.
TEST_F(CliServiceTest, SetAgainstThePymodbusPeer) {
  const std::map<int, int> inputs = {{46, 1500},
                                     {47, 60},
                                     {48, 2001},
                                     {49, 1840},
                                     {50, 250},
                                     {51, 50},
                                     {52, 2622},
                                     {53, 2737},
                                     {54, 100},
                                     {55, 50},
                                     {56, 4750},
                                     {57, 4700},
                                     {58, 2000},
                                     {59, 50},
                                     {60, 5150},
                                     {61, 5200},
                                     {62, 9000},
                                     {63, 50},
                                     {64, 250},
                                     {65, 2000},
                                     {66, 0},
                                     {67, 3},
                                     {81, 1000},
                                     // the standard's name, "G83" and spaces
                                     {68, 0x4738},
                                     {69, 0x3320},
                                     {70, 0x2020},
                                     {71, 0x2020},
                                     {72, 0x2020},
                                     {73, 0x2020}};
  std::vector<std::string> args = {"/usr/bin/python3",
                                   PYMODBUS_SERVER_SCRIPT,
                                   "--ports-dir",
                                   (Dir() / "ports").string(),
                                   "--com",
                                   std::to_string(kCom),
                                   "--firmware",
                                   "300",
                                   "--dump",
                                   (Dir() / "holding.txt").string()};
  for (const auto& [reg, value] : inputs) {
    args.push_back("--input");
    args.push_back(std::to_string(reg) + "=" + std::to_string(value));
  }
  for (int gain = 342; gain <= 356; gain += 2) {
    args.push_back("--holding");
    args.push_back(std::to_string(gain) + "=1000");
  }
  args.push_back("--holding");
  args.push_back("359=1000");
  ChildProcess server(args);
  for (int i = 0; i < 200 && server.Out().find("READY") == std::string::npos; ++i) {
    server.Drain(50ms);
  }
  ASSERT_NE(server.Out().find("READY"), std::string::npos) << server.Err();

  auto cli = Cli("set COM4 --standard G83");
  ASSERT_EQ(cli->Wait(kRunLimit), 0) << cli->Err() << cli->Out();
  server.Signal(SIGTERM);
  ASSERT_EQ(server.Wait(10s), 0) << server.Err();

  std::map<int, int> holding;
  std::ifstream dump(Dir() / "holding.txt");
  for (std::string line; std::getline(dump, line);) {
    holding[std::stoi(line.substr(0, line.find('=')))] = std::stoi(line.substr(line.find('=') + 1));
  }
  std::map<int, int> expected;
  for (int reg = 46; reg <= 67; ++reg) expected[reg + 265] = inputs.at(reg);
  const int name[] = {0x4738, 0x3320, 0x2020, 0x2020, 0x2020, 0x2020};  // "G83" and spaces
  for (int i = 0; i < 6; ++i) expected[333 + i] = name[i];
  for (int reg = 341; reg <= 356; ++reg) expected[reg] = reg % 2 == 0 ? 1000 : 0;
  expected[357] = 0;  // holding 357 = 0 ticks the box, which writes 0 back
  expected[358] = 3;
  expected[359] = 1000;
  expected[360] = 1;  // Modbus framing
  expected[361] = 1;
  expected[301] = 0x1234;
  expected[302] = 0x5678;
  expected[303] = 0x9012;
  for (const auto& [reg, value] : expected) EXPECT_EQ(holding[reg], value) << reg;
}

TEST(CliServiceOptions, Table) {
  using cli::ServiceAction;
  struct Case {
    std::vector<std::string> args;
    bool ok;
    ServiceAction action;
  };
  const std::vector<Case> cases = {
      {{"params", "COM3"}, true, ServiceAction::Params},
      {{"set", "3", "--standard", "vde-new"}, true, ServiceAction::Set},
      {{"set", "3", "--defaults", "--serial", "123", "--address", "2"}, true, ServiceAction::Set},
      {{"command", "3", "gfci", "on"}, true, ServiceAction::Command},
      {{"command", "3", "clear-kwh"}, true, ServiceAction::Command},
      {{"set", "3"}, false, ServiceAction::Set},
      {{"set", "3", "--defaults", "--standard", "G83"}, false, ServiceAction::Set},
      {{"set", "3", "--standard", "Brazil"}, false, ServiceAction::Set},  // not in the list
      {{"params", "3", "--defaults"}, false, ServiceAction::Params},
      {{"command", "3", "gfci"}, false, ServiceAction::Command},
      {{"command", "3", "reboot"}, false, ServiceAction::Command},
      {{"command", "COMx", "autotest"}, false, ServiceAction::Command},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto options = cli::ParseServiceOptions(c.args, &error);
    ASSERT_EQ(options.has_value(), c.ok) << ::testing::PrintToString(c.args) << error;
    if (options) {
      EXPECT_EQ(options->action, c.action);
    }
  }
}

}  // namespace
}  // namespace pyranex::test
