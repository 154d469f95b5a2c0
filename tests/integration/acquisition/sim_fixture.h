#pragma once

// The acquisition engine with its real poll thread and port worker, on a pseudo-terminal served
// by the simulated inverter; the test thread is the interface thread.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/acquisition/message_queue.h"
#include "core/acquisition/power_view_engine.h"
#include "inverter_simulator.h"
#include "sim_start.h"
#include "support/recording_notifier.h"

namespace pyranex::test {

using namespace std::chrono_literals;

class SimEngineTest : public ::testing::Test {
 protected:
  static constexpr unsigned kCom = 5;

  SimEngineTest() {
    dir_ = std::filesystem::temp_directory_path() /
           ("pyranex-acq-sim-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_ / "ports");
  }
  ~SimEngineTest() override {
    engine.reset();
    if (sim) sim->Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void StartSim(sim::FramingMode framing, const sim::FaultConfig& faults = {}) {
    std::string error;
    sim = StartSimulator(dir_ / "ports", kCom, framing, 12, faults, error);  // noon: it feeds in
    ASSERT_TRUE(sim) << error;
  }

  void StartEngine(bool keepIdentifying = false) {
    PowerViewServices services(
        LinkContext{queue, SystemClock::Instance(), notifier, Paths{dir_, dir_}, {}});
    services.onSample = [this](size_t, int64_t) { ++samples; };
    services.keepIdentifying = keepIdentifying;
    engine = std::make_unique<PowerViewEngine>(std::move(services));
    ASSERT_TRUE(engine->OnComSetting(kCom));
  }

  // Plays the interface thread until `done` holds; false when `limit` passes first.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (done()) return true;
      if (auto m = queue.WaitTake(20ms)) engine->HandleMessage(*m);
    }
    return done();
  }
  bool PumpSamples(int count, std::chrono::milliseconds limit) {
    const int target = samples + count;
    return PumpUntil([&] { return samples >= target; }, limit);
  }
  void PumpFor(std::chrono::milliseconds period) {
    PumpUntil([] { return false; }, period);
  }

  size_t LogFilesWithCode(int code) const {
    size_t n = 0;
    const std::string suffix = "-e" + std::to_string(code) + ".txt";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / "backdata", ec)) {
      const std::string name = entry.path().filename().string();
      n += name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    }
    return n;
  }
  size_t TimeoutBoxes() const {
    size_t n = 0;
    for (const auto& notice : notifier.Notices()) n += notice.text == kCommTimeoutText;
    return n;
  }

  const std::filesystem::path& Dir() const { return dir_; }

  BlockingMessageQueue queue;
  RecordingNotifier notifier;
  std::unique_ptr<sim::InverterSimulator> sim;
  std::unique_ptr<PowerViewEngine> engine;
  int samples = 0;

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
};

}  // namespace pyranex::test
