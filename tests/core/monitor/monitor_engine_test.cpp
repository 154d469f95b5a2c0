// The monitor engine against a scripted inverter on a fake serial line. The test plays the
// interface thread (values into HandleRegisterValue) and the poll thread (MonitorTick).

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "core/monitor/monitor_engine.h"
#include "core/platform/messages.h"
#include "core/workbook/config_workbook.h"
#include "core/workbook/xls_writer.h"
#include "scripted_inverter.h"
#include "support/fake_clock.h"
#include "support/fake_serial_device.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace pyranex::test {
namespace {

// Records what the window would be told.
struct RecordingDisplay final : MonitorDisplay {
  void ShowText(int id, const std::string& text) override { texts[id] = text; }
  void ShowCheck(int id, bool checked) override { checks[id] = checked; }
  void EnableControl(int id, bool enabled) override { enabled_[id] = enabled; }
  void ShowFaultLines(const std::vector<std::string>& l) override { lines = l; }
  void ShowState(const std::string& text, int lamp) override { state = {text, lamp}; }
  void SelectStandard(int index) override { standard = index; }
  void SelectSite(int index) override { site = index; }
  void FocusControl(int id) override { focused.push_back(id); }
  void ShowStatus(const std::string& text) override { status = text; }
  void MarkControl(int id, const std::string& reason) override {
    if (reason.empty()) {
      marks.erase(id);
    } else {
      marks[id] = reason;
    }
  }
  std::map<int, std::string> texts, marks;
  std::string status;
  std::map<int, bool> checks, enabled_;
  std::vector<std::string> lines;
  std::pair<std::string, int> state;
  int standard = -2, site = -2;
  std::vector<int> focused;
};

#ifdef PYRANEX_DATACFG_XLS
const std::filesystem::path kDatacfg = PYRANEX_DATACFG_XLS;
#else
const std::filesystem::path kDatacfg;
#endif

class MonitorEngineTest : public ::testing::Test {
 protected:
  MonitorEngineTest() {
    dir_ = std::filesystem::temp_directory_path() /
           ("pyranex-monitor-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    com_ = std::make_unique<CInverterCom>(
        LinkContext{sink, clock, notifier, Paths{dir_, dir_}, line.Factory()});
    EXPECT_TRUE(com_->InitPort(3));
    EXPECT_TRUE(com_->StartMonitoring());
    com_->SetFraming(FramingModbus);
    com_->SetAddressByte0(1);
    // A device that is not at its defaults, so a taken-in value is told from a default.
    inverter.regs = {
        {1, 0x1234},  {2, 0x5678},  {3, 0x9012},  {11, 3600},   {15, 2301},    {21, 5000},
        {22, 1},      {23, 2},      {35, 0xFFF6}, {40, 0x0021}, {39, 0x0040},  {41, 1},
        {44, 50},     {45, 300},    {46, 1600},   {47, 120},    {48, 2050},    {49, 1900},
        {50, 50},     {51, 20},     {52, 2650},   {53, 2800},   {54, 60},      {55, 15},
        {56, 4750},   {57, 4600},   {58, 70},     {59, 11},     {60, 5150},    {61, 5300},
        {62, 80},     {63, 12},     {64, 1000},   {65, 2010},   {66, 2},       {67, 4},
        {68, 0x5644}, {69, 0x452D}, {70, 0x4E45}, {71, 0x5720}, {72, 0x2020},  {73, 0x2020},
        {74, 1},      {75, 0},      {77, 100},    {81, 950},    {341, 0xFFF6}, {342, 0xFFF6},
        {357, 0},     {358, 2},     {361, 1}};
    for (uint32_t gain = 344; gain <= 356; gain += 2) inverter.regs[gain] = 1000;
  }
  ~MonitorEngineTest() override {
    engine_.reset();
    com_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Make(bool fullAccess, const std::string& firmware = "V3.00") {
    com_->m_firmwareVersion = firmware;
    inverter.regs[45] = firmware == "V5.00" ? 500 : 300;
    MonitorServices services{*com_, notifier, nullptr, nullptr, false, {}};
    services.workbook = workbook_.get();
    services.display = &display;
    services.fullAccess = fullAccess;
    engine_ = std::make_unique<MonitorEngine>(services);
  }
  void LoadWorkbook() {
    if (kDatacfg.empty()) GTEST_SKIP() << "no datacfg.xls in this build";
    std::filesystem::copy_file(kDatacfg, dir_ / kConfigWorkbookName,
                               std::filesystem::copy_options::overwrite_existing);
    ReadWorkbook();
  }
  // datacfg.xls made of these rows (tab-separated cells) as its parameter sheet.
  void WriteWorkbook(const std::vector<std::string>& parameterRows) {
    auto xls = XlsWriter::Start();
    ASSERT_TRUE(xls);
    xls->NewWorkbook();
    xls->FirstSheet();
    xls->NameSheet(kParameterSheetName);
    const auto put = [&](uint32_t row, const std::string& line) {
      std::stringstream cells(line);
      std::string cell;
      for (uint32_t col = 0; std::getline(cells, cell, '\t'); ++col) {
        if (!cell.empty()) xls->PutCellText(row, col, cell);
      }
    };
    for (size_t r = 0; r < parameterRows.size(); ++r)
      put(static_cast<uint32_t>(r), parameterRows[r]);
    xls->AddSheet(kModelSheetName);
    put(0, "Model\tName\tCode\tPower\tStandard\tCode-Old");
    ASSERT_EQ(xls->SaveAs(dir_ / kConfigWorkbookName), "");
    ReadWorkbook();
  }
  void ReadWorkbook() {
    workbook_ = std::make_unique<CConfigWorkbook>(clock, dir_);
    workbook_->ReadParameterSheet();
    workbook_->ReadModelSheet();
    workbook_->CloseConnection();
  }
  MonitorEngine& engine() { return *engine_; }

  // The inverter takes the pending request, answers it, and the values are handed over.
  Bytes Serve() {
    const Bytes request = line.ReadRequest();
    if (request.empty()) return request;
    inverter.Apply(request);
    const Bytes reply = inverter.Answer(request);
    const uint8_t function = request[1];
    const size_t values =
        function == 3 || function == 4 ? (reply.size() - 5) / 2 : (reply.empty() ? 0 : 2);
    line.Send(reply);
    EXPECT_TRUE(sink.WaitForCount(values));
    while (auto m = sink.Take()) {
      if (m->message == WM_INV_REGISTER)
        engine_->HandleRegisterValue(static_cast<uint16_t>(m->lParam));
    }
    return request;
  }
  // Ticks until the engine sends; the number of ticks it took.
  int TicksUntilSent() {
    for (int i = 1; i <= 40; ++i) {
      engine_->MonitorTick();
      if (com_->m_exchangeState.load() != ExchangeIdle) return i;
    }
    return -1;
  }
  // One request sent by the ticks and answered.
  Bytes Exchange() {
    EXPECT_GT(TicksUntilSent(), 0);
    return Serve();
  }
  // Start, opening broadcast, then read steps until the first pass is over (10, 0, 1, 2, 3).
  void OpenAndFirstPass() {
    engine_->Start();
    Serve();
    for (int i = 0; i < 5; ++i) Exchange();
    ASSERT_TRUE(engine_->EditsLoaded());
  }
  size_t LogFiles() const {
    std::error_code ec;
    size_t n = 0;
    for ([[maybe_unused]] const auto& e :
         std::filesystem::directory_iterator(dir_ / "backdata", ec))
      ++n;
    return n;
  }

  FakeClock clock;
  QueueSink sink;
  RecordingNotifier notifier;
  FakeSerialLine line;
  RecordingDisplay display;
  ScriptedInverter inverter;

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  std::unique_ptr<CInverterCom> com_;
  std::unique_ptr<CConfigWorkbook> workbook_;
  std::unique_ptr<MonitorEngine> engine_;

 protected:
  CInverterCom& com() { return *com_; }
};

const Bytes kSerialRead = WithCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x03});

TEST_F(MonitorEngineTest, OpeningBroadcastsTwiceAndShowsOnlyTheSecond) {
  Make(true);
  engine().Start();
  EXPECT_TRUE(display.enabled_.at(ctl::kAddressEntry));  // Modbus framing
  EXPECT_FALSE(display.enabled_.at(ctl::kSiteList));
  EXPECT_FALSE(display.enabled_.at(ctl::kStdModbus));
  EXPECT_TRUE(display.enabled_.at(ctl::kAutoTest));  // full access
  EXPECT_EQ(display.state.second, kLampWaiting);
  EXPECT_TRUE(display.checks.at(ctl::kStdModbus));
  EXPECT_EQ(display.texts.at(1100), "150");  // defaults shown at once
  EXPECT_EQ(Serve(), kSerialRead);
  EXPECT_EQ(engine().Text(ctl::kSerialDisplay), "");  // counted only
  EXPECT_EQ(engine().Mode(), ModeRead);
  EXPECT_TRUE(engine().IsEnabled(ctl::kSetAllParameter));
  EXPECT_EQ(engine().ReadStep(), StepSerialBroadcast);
  // The fourth tick after completion sends: the quiet counter reads 0, 200, 400, then 600.
  EXPECT_EQ(TicksUntilSent(), 4);
  EXPECT_EQ(Serve(), kSerialRead);
  EXPECT_EQ(engine().Text(ctl::kSerialDisplay), "123456789012");
  EXPECT_EQ(engine().Text(ctl::kSerialEntry), "123456789012");
  EXPECT_EQ(engine().Fields().m_serialNumber, 123456789012u);
  EXPECT_EQ(engine().ReadStep(), 0u);
}

TEST_F(MonitorEngineTest, ResendAfter2600AndGiveUpAfterTheSecondWait) {
  Make(true);
  engine().Start();
  Serve();
  ASSERT_EQ(TicksUntilSent(), 4);
  ASSERT_FALSE(line.ReadRequest().empty());
  for (int i = 0; i < 12; ++i) engine().MonitorTick();  // 2400 ms: still waiting
  EXPECT_TRUE(line.NothingWritten(std::chrono::milliseconds(50)));
  engine().MonitorTick();  // 2600 ms
  EXPECT_EQ(line.ReadRequest(), kSerialRead);
  EXPECT_EQ(engine().ValueIndex(), 0u);
  for (int i = 0; i < 12; ++i) engine().MonitorTick();
  EXPECT_EQ(notifier.Count(), 0u);
  engine().MonitorTick();
  EXPECT_TRUE(engine().HasStoppedPolling());
  ASSERT_EQ(notifier.Count(), 1u);
  EXPECT_EQ(notifier.Notices()[0].text, kMonitorTimeoutText);
  EXPECT_EQ(LogFiles(), 1u);
  for (int i = 0; i < 20; ++i) engine().MonitorTick();  // even if the link recovers
  EXPECT_TRUE(line.NothingWritten(std::chrono::milliseconds(50)));
}

TEST_F(MonitorEngineTest, FirstPassShowsAndTakesInTheDevice) {
  Make(true);
  OpenAndFirstPass();
  struct Case {
    int control;
    const char* text;
  };
  const Case shown[] = {
      {1070, "360.0"},
      {1072, "50.00"},
      {1073, "6553.8"},
      {1080, "-10"},
      {1082, "140"},
      {1083, "65"},
      {1085, "3.00"},
      {1113, "500"},
      {1086, "160.0"},
      {1124, "-1.0"},
      {1125, "6552.6"},
      {1177, "95.0"},
      {1098, "VDE-NEW     "},
      {1182, "1"},
      // edit fields of the first pass
      {1100, "160.0"},
      {1135, "500"},
      {1136, "200"},
      {1104, "47.50"},
      {1183, "1"},
      {1111, "123456789012"},
      {1179, "95.0"},
  };
  for (const Case& c : shown) EXPECT_EQ(engine().Text(c.control), c.text) << c.control;
  EXPECT_EQ(engine().FaultLines(),
            (std::vector<std::string>{"", "2.5V Ref Fault", "Low  Isolation"}));
  EXPECT_EQ(engine().StateText(), "Inverting");
  EXPECT_EQ(engine().LampIcon(), kLampInverting);
  EXPECT_EQ(display.state, (std::pair<std::string, int>{"Inverting", kLampInverting}));
  EXPECT_TRUE(engine().IsChecked(ctl::kGfci));
  EXPECT_FALSE(engine().IsChecked(ctl::kIso));
  EXPECT_TRUE(engine().IsChecked(ctl::kIslandTest));  // 357 = 0 ticks it
  EXPECT_TRUE(engine().IsEnabled(ctl::kGfci));
  EXPECT_EQ(engine().StandardSelection(), 2);  // 358 = 2: "VDE-NEW"
  const MonitorFields f = engine().Fields();
  EXPECT_FLOAT_EQ(f.m_vpvStart, 160.0f);
  EXPECT_EQ(f.m_tVacLow, 500u);
  EXPECT_EQ(f.m_tStart, 120u);
  EXPECT_EQ(f.m_standard, "VDE-NEW");
  EXPECT_FLOAT_EQ(f.m_kpvOffset1, -1.0f);
  EXPECT_FLOAT_EQ(f.m_fullPowerLimit, 95.0f);  // register 81's own field is taken in too
  // The gain 6552.6 is out of range: its prompt, and the field is marked but taken in.
  ASSERT_EQ(notifier.Count(), 1u);
  EXPECT_EQ(notifier.Notices()[0].caption, "Kpv_Gain_1 - Quorvane");
  EXPECT_EQ(display.focused, (std::vector<int>{1147}));
  EXPECT_FLOAT_EQ(f.m_kpvGain1, 6552.6f);
  EXPECT_EQ(engine().Origin(1147), FieldOrigin::Read);
  ASSERT_EQ(display.marks.size(), 1u);
  EXPECT_EQ(display.marks.at(1147),
            "The inverter's value is outside the rules. Enter a number between 80 and 120.");

  // Later passes change displays only; a state of 4 leaves the last one shown.
  inverter.regs[41] = 4;
  inverter.regs[46] = 1700;
  for (int i = 0; i < 5; ++i) Exchange();
  EXPECT_EQ(engine().StateText(), "Inverting");
  EXPECT_EQ(engine().Text(1086), "170.0");
  EXPECT_EQ(engine().Text(1100), "160.0");
}

TEST_F(MonitorEngineTest, ReadStepsAndTheV500Variant) {
  struct Case {
    std::string firmware;
    uint8_t step2Count;
    const char* power;
  };
  for (const Case& c : {Case{"V3.00", 23, "6553.8"}, Case{"V5.00", 21, "65538"}}) {
    Make(false, c.firmware);
    engine().Start();
    Serve();
    std::vector<Bytes> requests;
    for (int i = 0; i < 6; ++i) requests.push_back(Exchange());
    const std::vector<Bytes> expected = {
        kSerialRead,
        WithCrc({0x01, 0x04, 0x00, 0x0A, 0x00, 0x1F}),
        WithCrc({0x01, 0x04, 0x00, 0x29, 0x00, 0x1F}),
        WithCrc({0x01, 0x03, 0x00, 0x26, 0x00, c.step2Count}),
        WithCrc({0x01, 0x04, 0x00, 0x3A, 0x00, 0x17}),
        kSerialRead,
    };
    EXPECT_EQ(requests, expected) << c.firmware;
    EXPECT_EQ(engine().Text(1073), c.power) << c.firmware;
    EXPECT_EQ(engine().Text(1182), c.firmware == "V5.00" ? "" : "1");
    // An address typed there would never be written.
    EXPECT_EQ(engine().IsEnabled(ctl::kAddressEntry), c.firmware != "V5.00");
    EXPECT_EQ(engine().AddressNotWrittenReason().empty(), c.firmware != "V5.00");
  }
}

TEST_F(MonitorEngineTest, SetAllParameterWritesFourBlocksAndSwitchesTheAddress) {
  struct Case {
    std::string firmware;
    size_t block2Size;
    uint8_t block3Address;
  };
  LoadWorkbook();
  if (IsSkipped()) return;
  for (const Case& c : {Case{"V3.00", 21, 7}, Case{"V5.00", 19, 1}}) {
    inverter = ScriptedInverter{inverter.address, inverter.regs, {}, {}};
    Make(true, c.firmware);
    OpenAndFirstPass();
    com().SetAddressByte0(1);
    inverter.address = 1;
    engine().OnStandardChanged(1);  // "VDE-OLD" from datacfg.xls, then typed over
    engine().SetControlText(1146, "-1.25");
    engine().SetControlText(1147, "99.95");
    engine().SetControlText(1183, "7");
    engine().SetControlText(1135, "600000");
    EXPECT_EQ(engine().OnSetAllParameter(), MonitorEngine::SetAllOutcome::Started);
    EXPECT_FALSE(engine().IsEnabled(ctl::kSetAllParameter));
    inverter.writes.clear();
    Exchange();  // block 0
    Exchange();  // block 1
    ASSERT_GT(TicksUntilSent(), 0);
    // The inverter answers block 2 under the address it has just been given.
    const Bytes block2 = line.ReadRequest();
    inverter.Apply(block2);
    Bytes reply = inverter.Answer(block2);
    if (c.firmware != "V5.00") {
      reply.erase(reply.end() - 2, reply.end());
      reply[0] = 7;
      reply = WithCrc(reply);
    }
    line.Send(reply);
    ASSERT_TRUE(sink.WaitForCount(2));
    while (auto m = sink.Take()) engine().HandleRegisterValue(static_cast<uint16_t>(m->lParam));
    if (c.firmware != "V5.00") inverter.address = 7;
    const Bytes block3 = Exchange();
    ASSERT_FALSE(block3.empty());
    EXPECT_EQ(block3[0], c.block3Address);
    ASSERT_EQ(inverter.writes.size(), 4u);
    EXPECT_EQ(inverter.writes[0].first, 311u);
    EXPECT_EQ(inverter.writes[0].second[4], 60000);  // 600000 ms
    EXPECT_EQ(inverter.writes[0].second[22], 0x5644);
    EXPECT_EQ(inverter.writes[1].second,
              (std::vector<uint16_t>{0x4520, 0x2020, 0x2020, 0x2020, 0x2020}));
    EXPECT_EQ(inverter.writes[2].second.size(), c.block2Size);
    EXPECT_EQ(inverter.writes[2].second[0], 0xFFF3);
    EXPECT_EQ(inverter.writes[2].second[1], 999);
    EXPECT_EQ(inverter.writes[2].second[17], 1);  // standard number of "VDE-OLD"
    EXPECT_EQ(inverter.writes[3],
              (std::pair<uint32_t, std::vector<uint16_t>>{301, {0x1234, 0x5678, 0x9012}}));
    EXPECT_EQ(engine().Mode(), ModeRead);
    EXPECT_EQ(engine().BlockCounter(), 0u);
    EXPECT_TRUE(engine().IsEnabled(ctl::kSetAllParameter));
    EXPECT_EQ(display.status, "Set all parameter: all 4 blocks written; reading them back...");
    for (int i = 0; i < 5; ++i) Exchange();
    EXPECT_EQ(display.status,
              "Set all parameter: written and read back; every value reads as written.");
  }
}

TEST_F(MonitorEngineTest, InvalidFieldSendsNothing) {
  Make(true);
  OpenAndFirstPass();
  const size_t before = notifier.Count();
  engine().SetControlText(1100, "149.9");
  EXPECT_EQ(engine().OnSetAllParameter(), MonitorEngine::SetAllOutcome::FieldInvalid);
  ASSERT_EQ(notifier.Count(), before + 1);
  EXPECT_EQ(notifier.Notices().back().text,
            "请输入一个在 150 和 300 之间的整数。\nEnter an integer between 150 and 300.");
  EXPECT_EQ(notifier.Notices().back().caption, "Vpv-start(V) - Quorvane");
  EXPECT_EQ(notifier.Notices().back().icon, NoticeIcon::Warning);
  EXPECT_EQ(display.focused.back(), 1100);
  EXPECT_EQ(engine().RequestedMode(), ModeRead);
  EXPECT_TRUE(engine().IsEnabled(ctl::kSetAllParameter));
  engine().SetControlText(1100, "150");
  engine().SetControlText(1147, "100");
  engine().SetControlText(ctl::kSerialEntry, "1234567890123");
  EXPECT_EQ(engine().OnSetAllParameter(), MonitorEngine::SetAllOutcome::SerialInvalid);
  EXPECT_EQ(notifier.Notices().back().text, kSerialInvalidText);
  EXPECT_EQ(engine().RequestedMode(), ModeRead);
}

TEST_F(MonitorEngineTest, DeviceCommands) {
  struct Case {
    std::function<void(MonitorEngine&)> click;
    int32_t mode;
    Bytes frame;
  };
  const std::vector<Case> cases = {
      {[](MonitorEngine& e) { e.OnAutoTest(); }, ModeAutoTest,
       WithCrc({0x01, 0x05, 0x00, 0x01, 0xFF, 0x00})},
      {[](MonitorEngine& e) { e.OnClearKwh(); }, ModeClearKwh,
       WithCrc({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00})},
      {[](MonitorEngine& e) { e.OnGfciFunction(true); }, ModeGfci,
       WithCrc({0x01, 0x10, 0x00, 0x26, 0x00, 0x01, 0x02, 0x00, 0x01})},
      {[](MonitorEngine& e) { e.OnIsoFunction(false); }, ModeIso,
       WithCrc({0x01, 0x10, 0x00, 0x27, 0x00, 0x01, 0x02, 0x00, 0x00})},
      // a ticked island box writes 0, a clear one 1
      {[](MonitorEngine& e) { e.OnIslandTestSwitch(true); }, ModeIsland,
       WithCrc({0x01, 0x10, 0x00, 0x38, 0x00, 0x01, 0x02, 0x00, 0x00})},
      {[](MonitorEngine& e) { e.OnIslandTestSwitch(false); }, ModeIsland,
       WithCrc({0x01, 0x10, 0x00, 0x38, 0x00, 0x01, 0x02, 0x00, 0x01})},
  };
  Make(true);
  engine().Start();
  Serve();
  EXPECT_EQ(Exchange(), kSerialRead);
  for (const Case& c : cases) {
    c.click(engine());
    EXPECT_FALSE(engine().IsEnabled(ctl::kAutoTest));
    EXPECT_FALSE(engine().IsEnabled(ctl::kGfci));
    engine().OnClearKwh();  // disabled meanwhile: one command at a time
    EXPECT_EQ(engine().OnSetAllParameter(), MonitorEngine::SetAllOutcome::NoAccess);
    EXPECT_EQ(engine().RequestedMode(), c.mode);
    EXPECT_EQ(Exchange(), c.frame) << c.mode;
    EXPECT_EQ(engine().Mode(), ModeRead) << c.mode;
    EXPECT_TRUE(engine().IsEnabled(ctl::kAutoTest)) << c.mode;
    // The read cycle goes on with the step it had reached.
    EXPECT_EQ(Exchange(), WithCrc({0x01, 0x04, 0x00, 0x0A, 0x00, 0x1F})) << c.mode;
    for (int i = 0; i < 4; ++i) Exchange();
  }
}

TEST_F(MonitorEngineTest, WithoutFullAccessNothingCanBeWritten) {
  Make(false);
  OpenAndFirstPass();
  for (int id : {ctl::kSetAllParameter, ctl::kAutoTest, ctl::kClearKwh, ctl::kGfci, ctl::kIso,
                 ctl::kIslandTest}) {
    EXPECT_FALSE(engine().IsEnabled(id)) << id;
  }
  EXPECT_TRUE(engine().IsChecked(ctl::kGfci));  // the state is still shown
  EXPECT_EQ(engine().OnSetAllParameter(), MonitorEngine::SetAllOutcome::NoAccess);
  engine().OnAutoTest();
  engine().OnGfciFunction(false);
  EXPECT_EQ(engine().RequestedMode(), ModeRead);
  for (int i = 0; i < 5; ++i) {
    const Bytes request = Exchange();
    ASSERT_FALSE(request.empty());
    EXPECT_TRUE(request[1] == 3 || request[1] == 4);
  }
  EXPECT_TRUE(inverter.writes.empty());
  EXPECT_TRUE(inverter.coils.empty());
}

// "Set all parameter" writes what the first pass read, what was typed, or what was chosen; a
// field that holds anything else stops it, named, before a byte is sent.
TEST_F(MonitorEngineTest, SetAllWritesOnlyWhatWasReadTypedOrChosen) {
  LoadWorkbook();
  if (IsSkipped()) return;
  using Outcome = MonitorEngine::SetAllOutcome;
  struct Case {
    const char* what;
    std::map<uint32_t, uint16_t> regs;  // the inverter's values that differ
    bool firstPass;
    std::function<void(MonitorEngine&)> act;
    Outcome outcome;
    int control;                           // the field named when refused
    std::map<uint32_t, uint16_t> written;  // what the inverter holds after a write
  };
  const auto none = [](MonitorEngine&) {};
  inverter.regs[342] = 1000;  // a gain inside its rule, unlike the fixture's
  const std::map<uint32_t, uint16_t> base = inverter.regs;
  const std::vector<Case> cases = {
      {"address 0x0101, then the defaults",
       {{361, 0x0101}},
       true,
       [](MonitorEngine& e) { e.OnDefaultParameter(); },
       Outcome::FieldInvalid,
       1183,
       {}},
      {"address 0x0101 typed over",
       {{361, 0x0101}},
       true,
       [](MonitorEngine& e) { e.SetControlText(1183, "1"); },
       Outcome::Started,
       0,
       {{361, 1}}},
      // Low above high once rounded: the fields after it are still the inverter's.
      {"low limit above the high one, then a standard",
       {{48, 2510}, {52, 2505}, {343, 5}, {346, 1010}},
       true,
       [](MonitorEngine& e) { e.OnStandardChanged(2); },
       Outcome::Started,
       0,
       {{313, 1840}, {317, 2530}, {343, 5}, {346, 1010}, {358, 2}}},
      {"nothing read yet", {}, false, none, Outcome::NotChosen, 1100, {}},
      {"a serial number that is no number, then the defaults",
       {{3, 0x901A}},
       true,
       [](MonitorEngine& e) { e.OnDefaultParameter(); },
       Outcome::NotChosen,
       1111,
       {}},
      // The list holds 14 standards; the inverter's "Brazil" is written back as it was.
      {"standard 15", {{358, 15}}, true, none, Outcome::Started, 0, {{358, 15}, {333, 0x4272}}},
      {"standard 20", {{358, 20}}, true, none, Outcome::NotChosen, 1096, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    inverter.writes.clear();
    inverter.regs = base;
    for (const auto& [reg, value] : c.regs) inverter.regs[reg] = value;
    Make(true);
    if (c.firstPass) {
      OpenAndFirstPass();
    } else {
      engine().Start();
    }
    c.act(engine());
    ASSERT_EQ(engine().OnSetAllParameter(), c.outcome);
    if (c.outcome != Outcome::Started) {
      ASSERT_TRUE(engine().LastFailure());
      EXPECT_EQ(engine().LastFailure()->control, c.control);
      EXPECT_EQ(notifier.Notices().back().caption,
                FieldPromptCaption(engine().LastFailure()->label));
      EXPECT_EQ(display.focused.back(), c.control);
      for (int i = 0; i < 3; ++i) Exchange();  // reading goes on, nothing else
      EXPECT_TRUE(inverter.writes.empty());
    } else {
      for (int i = 0; i < 4; ++i) Exchange();
      ASSERT_EQ(inverter.writes.size(), 4u);
      for (const auto& [reg, value] : c.written) EXPECT_EQ(inverter.Get(reg), value) << reg;
    }
  }
}

// A standard whose values datacfg.xls does not hold (or holds only as the neighbour's number
// repeated into an empty cell) is reported and never written under its name.
TEST_F(MonitorEngineTest, AStandardMissingFromTheWorkbookIsNotWritten) {
  // One value per parameter, in ParameterNames order, for every standard.
  const char* const values[] = {"150",    "60",  "184",  "184",  "100", "100", "253",  "264.5",
                                "600000", "100", "47.5", "47",   "100", "100", "51.5", "52",
                                "100",    "100", "1000", "2000", "1",   "3"};
  const std::vector<std::string> all(ParameterNames.begin(), ParameterNames.end());
  // The sheet with the VDE-NEW column (header and cells) as `vdeNew` gives it; "CUT" ends the
  // row before it.
  const auto sheet =
      [&](const std::function<std::string(const std::string&, std::string)>& vdeNew) {
        std::vector<std::string> rows = {"Parameter\tmin\tmax"};
        for (size_t i = 0; i <= ParameterNames.size(); ++i) {
          std::string& row =
              i == 0 ? rows[0]
                     : rows.emplace_back(std::string(ParameterNames[i - 1]) + "\t0\t1000000");
          for (const auto name : StandardNames) {
            std::string cell = i == 0 ? std::string(name) : values[i - 1];
            if (name == "VDE-NEW")
              cell = vdeNew(i == 0 ? "" : std::string(ParameterNames[i - 1]), cell);
            if (cell == "CUT") break;
            row += "\t" + cell;
          }
        }
        return rows;
      };
  struct Case {
    const char* what;
    std::vector<std::string> rows;
    std::vector<std::string> missing;
  };
  const std::vector<Case> cases = {
      {"blank column", sheet([](const auto& n, auto v) { return n.empty() ? v : ""; }), all},
      {"text in a number cell",
       sheet([](const auto& n, auto v) { return n == "VacHigh(V)" ? "n/a" : v; }),
       {"VacHigh(V)"}},
      {"renamed column", sheet([](const auto& n, auto v) { return n.empty() ? "VDE NEW" : v; }),
       all},
      {"row cut short",
       sheet([](const auto& n, auto v) { return n == "contrast" ? "CUT" : v; }),
       {"contrast"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    inverter.writes.clear();
    inverter.regs[342] = 1000;
    WriteWorkbook(c.rows);
    Make(true);
    OpenAndFirstPass();
    const size_t notices = notifier.Count();
    engine().OnStandardChanged(2);  // "VDE-NEW"
    EXPECT_EQ(engine().StandardMissing(), c.missing);
    ASSERT_EQ(notifier.Count(), notices + 1);
    const std::string warning = notifier.Notices().back().text;
    EXPECT_EQ(warning.rfind("VDE-NEW: ", 0), 0u) << warning;
    for (const std::string& row : c.missing) {
      if (c.missing.size() < all.size()) {
        EXPECT_NE(warning.find(row), std::string::npos) << row;
      }
    }
    EXPECT_EQ(display.status, warning);
    for (const FieldSpec& item : FieldSpecs()) {
      if (item.parameterIndex < 0) continue;
      const std::string name(ParameterNames[static_cast<size_t>(item.parameterIndex)]);
      const bool missing = std::find(c.missing.begin(), c.missing.end(), name) != c.missing.end();
      EXPECT_EQ(engine().Origin(item.control) == FieldOrigin::NotInStandard, missing) << name;
      EXPECT_TRUE(!missing || display.marks.count(item.control)) << name;
    }
    // Refused: by the field itself, or by a neighbour that no longer fits the older value.
    EXPECT_NE(engine().OnSetAllParameter(), MonitorEngine::SetAllOutcome::Started);
    for (int i = 0; i < 3; ++i) Exchange();
    EXPECT_TRUE(inverter.writes.empty());
    // A standard the workbook holds whole can be written.
    engine().OnStandardChanged(0);
    EXPECT_TRUE(engine().StandardMissing().empty());
    EXPECT_EQ(engine().OnSetAllParameter(), MonitorEngine::SetAllOutcome::Started);
  }
}

// A switch is sent as it was clicked, even when a read shows the box again before it goes out;
// a click while another command is pending puts the box back and says why.
TEST_F(MonitorEngineTest, ASwitchIsSentAsClickedOrVisiblyRefused) {
  Make(true);
  inverter.regs[342] = 1000;
  OpenAndFirstPass();
  ASSERT_TRUE(engine().IsChecked(ctl::kGfci));  // register 74 = 1
  // A read of step 2 (the island switch) is on its way when "Clear kwh" is clicked.
  while (engine().ReadStep() != 2) Exchange();
  ASSERT_GT(TicksUntilSent(), 0);
  EXPECT_TRUE(engine().OnClearKwh());
  Serve();
  EXPECT_FALSE(engine().IsEnabled(ctl::kIslandTest));  // the read does not enable it meanwhile
  EXPECT_FALSE(engine().OnGfciFunction(false));
  EXPECT_TRUE(display.checks.at(ctl::kGfci));  // put back
  EXPECT_EQ(display.status, "GFCI function: not switched; Clear kwh is still under way.");
  EXPECT_EQ(Exchange(), WithCrc({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}));
  EXPECT_EQ(display.status, "Clear kwh: sent and acknowledged by the inverter.");
  EXPECT_TRUE(engine().IsEnabled(ctl::kGfci));

  // Now the click goes out while the read of register 74 (step 3) still reports it on.
  while (engine().ReadStep() != 3) Exchange();
  ASSERT_GT(TicksUntilSent(), 0);
  EXPECT_TRUE(engine().OnGfciFunction(false));
  Serve();
  EXPECT_FALSE(display.checks.at(ctl::kGfci));
  EXPECT_EQ(Exchange(), WithCrc({0x01, 0x10, 0x00, 0x26, 0x00, 0x01, 0x02, 0x00, 0x00}));
  EXPECT_EQ(display.status, "GFCI function off: acknowledged by the inverter; reading it back...");
  inverter.regs[74] = 0;
  for (int i = 0; i < 5; ++i) Exchange();
  EXPECT_EQ(display.status, "GFCI function off: written and read back.");
}

// A block that gets no answer is named on the status line.
TEST_F(MonitorEngineTest, TheStatusLineNamesTheBlockThatGotNoReply) {
  Make(true);
  inverter.regs[342] = 1000;
  OpenAndFirstPass();
  ASSERT_EQ(engine().OnSetAllParameter(), MonitorEngine::SetAllOutcome::Started);
  EXPECT_EQ(display.status, "Set all parameter: writing block 1 of 4 (registers 311-333)...");
  Exchange();
  EXPECT_EQ(display.status,
            "Set all parameter: block 1 of 4 written; writing block 2 (registers 334-338)...");
  Exchange();
  ASSERT_GT(TicksUntilSent(), 0);
  for (int i = 0; i < 26 && !engine().HasStoppedPolling(); ++i) engine().MonitorTick();
  ASSERT_TRUE(engine().HasStoppedPolling());
  EXPECT_EQ(engine().Status(),
            "Set all parameter: block 3 of 4 (registers 341-361) got no reply; the blocks before "
            "it were written.");
}

TEST_F(MonitorEngineTest, StandardDefaultsSerialAndSite) {
  LoadWorkbook();
  if (IsSkipped()) return;
  Make(true);
  engine().Start();
  engine().OnStandardChanged(2);  // "VDE-NEW" from datacfg.xls
  MonitorFields f = engine().Fields();
  EXPECT_FLOAT_EQ(f.m_vacLow, 184.0f);
  EXPECT_EQ(f.m_tVacHigh, 600000u);
  EXPECT_FLOAT_EQ(f.m_fHigh, 51.5f);
  EXPECT_EQ(f.m_language, 1);
  EXPECT_EQ(engine().Text(1138), "600000");
  engine().OnDefaultParameter();
  f = engine().Fields();
  EXPECT_EQ(f.m_standard, "AS4777");
  EXPECT_EQ(engine().StandardSelection(), 0);
  EXPECT_FLOAT_EQ(f.m_vacLow, 203.0f);

  struct Case {
    const char* entry;
    int siteBefore;
    const char* text;
    bool siteEnabled;
    int selected;
  };
  const Case cases[] = {
      {"A2xSA05123", 0, "102310402123", true, -2},  // 2010 rule: site list follows
      {"A2xSA05123", 2, "302310402123", true, -2},
      {"A22xA05123", 0, "202311403123", false, 1},  // 2011 rule: site from the third char
      {"412345678901", 0, "412345678901", false, 3},
  };
  for (const Case& c : cases) {
    if (c.siteBefore) engine().OnSiteChanged(c.siteBefore);
    display.site = -2;
    engine().SetControlText(ctl::kSerialEntry, c.entry);
    engine().ConvertSerialEntry();
    if (std::string(c.entry).size() == 10) {
      EXPECT_EQ(engine().Text(ctl::kSerialEntry), c.text) << c.entry;
      EXPECT_EQ(std::to_string(engine().Fields().m_serialNumber), c.text) << c.entry;
    }
    EXPECT_EQ(engine().IsEnabled(ctl::kSiteList), c.siteEnabled) << c.entry;
    EXPECT_EQ(display.site, c.selected) << c.entry;
    engine().OnSiteChanged(0);
  }
  engine().SetControlText(ctl::kSerialEntry, "123456789012");
  ASSERT_TRUE(engine().SaveFields());
  engine().OnSiteChanged(3);
  EXPECT_EQ(engine().Fields().m_serialNumber, 423456789012u);
  EXPECT_EQ(engine().Text(ctl::kSerialEntry), "423456789012");
}

}  // namespace
}  // namespace pyranex::test
