#pragma once

// A power view engine wired to a fake clock, a recording sink, notifier, display and history
// saver, and the scripted serial line; the test plays both the interface thread (Pump) and the
// poll thread (Tick).

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/acquisition/power_view_engine.h"
#include "core/link/frame_codec.h"
#include "core/platform/messages.h"
#include "support/fake_clock.h"
#include "support/fake_serial_device.h"
#include "support/queue_sink.h"

namespace pyranex::test {

using Bytes = std::vector<uint8_t>;

inline Bytes WithCrc(Bytes frame) {
  const uint16_t crc = ModbusCrc16(frame);
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

// A read reply (function 4 unless told) from `address` carrying `values`.
inline Bytes ReadReply(const Bytes& address, const std::vector<uint16_t>& values,
                       uint8_t function = 0x04) {
  Bytes frame = address;
  frame.push_back(function);
  frame.push_back(static_cast<uint8_t>(values.size() * 2));
  for (uint16_t v : values) {
    frame.push_back(static_cast<uint8_t>(v >> 8));
    frame.push_back(static_cast<uint8_t>(v & 0xFF));
  }
  return WithCrc(frame);
}

// Registers 11..41 of a live data record with the given power (W x 10 unless firmware V5.00).
struct LiveRegisters {
  uint16_t udc = 3600;  // 360.0 V
  uint16_t uac = 2301;  // 230.1 V
  uint16_t freq = 5002;
  uint32_t pac = 15000;
  uint16_t eToday = 123;
  uint32_t eTotal = 45678;
  uint32_t tToday = 300;
  uint32_t tTotal = 7000;
  uint16_t temp = 456;
  uint16_t iacShift = 7;
  uint16_t dci = 0xFFFE;  // -2 mA
  uint32_t faults = 0x00010002;
  uint16_t state = 1;

  std::vector<uint16_t> Values() const {
    std::vector<uint16_t> v(31, 0);
    auto at = [&](int reg) -> uint16_t& { return v[static_cast<size_t>(reg - 11)]; };
    at(11) = udc;
    at(15) = uac;
    at(21) = freq;
    at(22) = static_cast<uint16_t>(pac >> 16);
    at(23) = static_cast<uint16_t>(pac & 0xFFFF);
    at(24) = eToday;
    at(25) = static_cast<uint16_t>(eTotal >> 16);
    at(26) = static_cast<uint16_t>(eTotal & 0xFFFF);
    at(27) = static_cast<uint16_t>(tToday >> 16);
    at(28) = static_cast<uint16_t>(tToday & 0xFFFF);
    at(29) = static_cast<uint16_t>(tTotal >> 16);
    at(30) = static_cast<uint16_t>(tTotal & 0xFFFF);
    at(31) = temp;
    at(32) = iacShift;
    at(35) = dci;
    at(39) = static_cast<uint16_t>(faults >> 16);
    at(40) = static_cast<uint16_t>(faults & 0xFFFF);
    at(41) = state;
    return v;
  }
};

// Records what the engine shows.
class RecordingDisplay final : public PowerViewDisplay {
 public:
  struct Point {
    uint32_t tick;
    float value;
  };
  void SetStartTime(int64_t seconds) override { startTimes.push_back(seconds); }
  void SetYRange(double minimum, double maximum) override {
    yRanges.emplace_back(minimum, maximum);
  }
  void AddPoint(uint32_t tickMs, float value) override { points.push_back({tickMs, value}); }
  void Clear() override { ++clears; }
  void SetPercent(int percent) override { percents.push_back(percent); }
  void SetPowerText(const std::string& text, int lines) override {
    powerTexts.push_back(text);
    powerLines = lines;
  }
  void SetEnergyText(const std::string& text, int lines) override {
    energyTexts.push_back(text);
    energyLines = lines;
  }
  void SetCo2Reduction(float kg) override { co2.push_back(kg); }

  std::vector<int64_t> startTimes;
  std::vector<std::pair<double, double>> yRanges;
  std::vector<Point> points;
  int clears = 0;
  std::vector<int> percents;
  std::vector<std::string> powerTexts;
  std::vector<std::string> energyTexts;
  std::vector<float> co2;
  int powerLines = 0;
  int energyLines = 0;
};

class RecordingSaver final : public HistorySaver {
 public:
  struct Save {
    int minute;
    size_t samples;
    std::string serial;
    int ratedPower;
    int64_t startTime;
  };
  void SaveHistory(int minute, const HistoryContext& context) override {
    saves.push_back({minute, context.log.CompleteCount(), context.serialText, context.ratedPower,
                     context.startTime});
  }
  void StartNewDayLog() override { ++newDayLogs; }
  std::vector<Save> saves;
  int newDayLogs = 0;
};

// A notifier that records its boxes and, while "showing" one, runs what the test gives it, as a
// modal message loop would.
class ModalNotifier final : public Notifier {
 public:
  using Notifier::Show;
  NoticeAnswer Show(const std::string& text, const std::string&, NoticeIcon,
                    NoticeButtons) override {
    std::function<void()> run;
    {
      std::lock_guard lock(mutex_);
      texts_.push_back(text);
      if (run_ && text == trigger_) run = std::exchange(run_, nullptr);
    }
    if (run) run();
    return NoticeAnswer::Ok;
  }
  // The next box with `text` runs `fn` before it "closes".
  void WhileShown(std::string text, std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    trigger_ = std::move(text);
    run_ = std::move(fn);
  }
  std::vector<std::string> Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
  }
  size_t CountOf(const std::string& text) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& t : texts_) n += t == text;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
  std::string trigger_;
  std::function<void()> run_;
};

inline const Bytes kProbe{0xFF, 0x03, 0x00, 0x3C, 0x00, 0x01, 0x51, 0xD8};
inline const Bytes kBroadcast{0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x04,
                              0x9C, 0x37, 0x00, 0x03, 0x36, 0xE7};
inline const Bytes kLivePollModbus{0x01, 0x04, 0x00, 0x0A, 0x00, 0x1F, 0x91, 0xC0};
inline const Bytes kLivePollSerial{0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x04,
                                   0x9C, 0x41, 0x00, 0x1F, 0x94, 0xA0};
inline const Bytes kModbusAddress{0x01};
inline const Bytes kSerialAddress{0x12, 0x34, 0x56, 0x78, 0x90, 0x12};
inline const Bytes kBroadcastAddress6{0x99, 0x99, 0x99, 0x99, 0x99, 0x99};

class EngineTest : public ::testing::Test {
 protected:
  static constexpr unsigned kPort = 3;

  EngineTest() {
    dir_ = std::filesystem::temp_directory_path() /
           ("pyranex-acq-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
  }
  ~EngineTest() override {
    engine_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void SetUp() override { MakeEngine(); }

  void MakeEngine(bool runPollThread = false) {
    engine_.reset();
    PowerViewServices services(
        LinkContext{sink, clock, notifier, Paths{dir_, dir_}, line.Factory()});
    services.display = &display;
    services.historySaver = &saver;
    services.monitorGate = gate;
    services.runPollThread = runPollThread;
    services.unattended = unattended;
    services.onSample = [this](size_t k, int64_t t) { samples.emplace_back(k, t); };
    services.recordSinks = {&records};
    engine_ = std::make_unique<PowerViewEngine>(std::move(services));
  }

  PowerViewEngine& engine() { return *engine_; }

  // The interface thread: dispatch everything posted so far.
  void Pump() {
    while (auto m = sink.Take()) engine_->HandleMessage(*m);
  }
  // Waits for `count` posted values, then dispatches them.
  void ReceiveAndPump(size_t count) {
    ASSERT_TRUE(sink.WaitForCount(count)) << "expected " << count << " posted messages";
    Pump();
  }
  // The poll thread: one tick after moving the clock.
  void Tick(uint32_t advanceMs) {
    clock.Advance(advanceMs);
    engine_->PollTick();
  }
  void ExpectRequest(const Bytes& expected) { EXPECT_EQ(line.ReadRequest(), expected); }
  bool NothingSent() { return line.NothingWritten(std::chrono::milliseconds(50)); }

  // Connect and answer the probe as a Modbus slave at address 1 with serial 123456789012.
  void IdentifyModbus() {
    ASSERT_TRUE(engine_->OnComSetting(kPort));
    ExpectRequest(kProbe);
    line.Send(ReadReply({0xFF}, {0x0101}, 0x03));
    ReceiveAndPump(1);
    ExpectRequest(WithCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x03}));
    line.Send(ReadReply(kModbusAddress, {0x1234, 0x5678, 0x9012}));
    ReceiveAndPump(3);
  }

  // Connect and identify as an inverter that speaks only the serial framing.
  void IdentifySerial(uint16_t version) {
    ASSERT_TRUE(engine_->OnComSetting(kPort));
    ExpectRequest(kProbe);
    Tick(2001);
    ExpectRequest(kBroadcast);
    line.Send(ReadReply(kBroadcastAddress6, {0x1234, 0x5678, 0x9012}));
    ReceiveAndPump(3);
    ExpectRequest(WithCrc({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x04, 0x9C, 0x63, 0x00, 0x01}));
    line.Send(ReadReply(kSerialAddress, {version}));
    ReceiveAndPump(1);
  }

  // After identification: the model/version poll, answered with `rated` and `version`.
  void ModelPoll(const Bytes& address, uint16_t rated, uint16_t version = 300) {
    Tick(900);
    Bytes request = address;
    const bool serial = address.size() == 6;
    for (uint8_t b :
         serial ? Bytes{0x04, 0x9C, 0x62, 0x00, 0x02} : Bytes{0x04, 0x00, 0x2B, 0x00, 0x02}) {
      request.push_back(b);
    }
    ExpectRequest(WithCrc(request));
    line.Send(ReadReply(address, {rated, version}));
    ReceiveAndPump(2);
  }

  // One live poll and its reply.
  void LiveCycle(const Bytes& address, const LiveRegisters& record, uint32_t advanceMs = 900) {
    Tick(advanceMs);
    ExpectRequest(address.size() == 6 ? kLivePollSerial : kLivePollModbus);
    line.Send(ReadReply(address, record.Values()));
    ReceiveAndPump(31);
  }

  std::vector<std::filesystem::path> LogFiles() const {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / "backdata", ec)) {
      files.push_back(entry.path().filename());
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  size_t LogFilesWithCode(int code) const {
    size_t n = 0;
    const std::string suffix = "-e" + std::to_string(code) + ".txt";
    for (const auto& f : LogFiles()) {
      const std::string name = f.string();
      n += name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    }
    return n;
  }

  FakeClock clock;
  QueueSink sink;
  ModalNotifier notifier;
  FakeSerialLine line;
  RecordingDisplay display;
  RecordingSaver saver;
  MonitorGate* gate = nullptr;
  bool unattended = false;
  std::vector<std::pair<size_t, int64_t>> samples;
  struct CollectingSink final : RecordSink {
    void Accept(const pyranex::LiveRecord& record) override { all.push_back(record); }
    std::vector<pyranex::LiveRecord> all;
  } records;

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  std::unique_ptr<PowerViewEngine> engine_;
};

}  // namespace pyranex::test
