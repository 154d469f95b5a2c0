#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fault_injector.h"
#include "inverter_model.h"
#include "responder.h"

namespace pyranex::sim {

struct SimulatorConfig {
  // The folder that receives the link COM<n> (the program looks in `ports` beside itself, so
  // pass that `ports` folder). Created when missing.
  std::filesystem::path portsDir;
  unsigned comNumber = 1;
  FramingMode framing = FramingMode::Modbus;
  InverterIdentity identity;
  // Simulated seconds per real second; 60 runs a day in 24 minutes.
  double timeScale = 1.0;
  // Time of day to start at, seconds after midnight; negative: the local time now.
  double startSecondOfDay = -1;
  // Text record of the traffic (one line per request, reply, skipped bytes, hang-up); empty: none.
  std::filesystem::path recordFile;
  FaultConfig faults;
  // A pause this long ends an incomplete request (Modbus t3.5 is 3.6 ms at 9600 baud; a
  // pseudo-terminal needs more slack).
  std::chrono::milliseconds interFrameGap{20};
  // Send replies at the pace of 9600 baud 8N1 (about 1.04 ms a byte) instead of all at once.
  bool paceReplies = false;
};

// A simulated inverter on a pseudo-terminal, serving requests on its own thread. Other tests
// link it and drive it in process; the inverter-sim tool is a thin command line around it.
class InverterSimulator {
 public:
  explicit InverterSimulator(SimulatorConfig config);
  ~InverterSimulator();
  InverterSimulator(const InverterSimulator&) = delete;
  InverterSimulator& operator=(const InverterSimulator&) = delete;

  // Creates the line, points the COM link at it and starts serving.
  bool Start(std::string* error = nullptr);
  // Joins the serving thread and removes the COM link. Safe to call twice.
  void Stop();

  std::filesystem::path LinkPath() const;
  // The slave device the link currently points at (changes after a hang-up).
  std::filesystem::path SlavePath() const;

  void SetFaults(const FaultConfig& faults);
  FaultConfig Faults() const;
  // Closes the line now, as an unplugged adapter; a new line appears behind the same COM link
  // after `downTime`.
  void HangUp(std::chrono::milliseconds downTime);
  bool IsLineUp() const;
  unsigned HangUpCount() const;

  // Every complete request received, in order (address first, CRC included).
  std::vector<std::vector<uint8_t>> Requests() const;
  // Every reply actually sent, as sent (faults included).
  std::vector<std::vector<uint8_t>> Replies() const;
  // Forgets the requests, replies and writes recorded so far.
  void ClearRecords();
  // Blocks until at least `count` requests have been received or the timeout passes.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
  bool WaitForReplies(std::size_t count, std::chrono::milliseconds timeout) const;

  // The inverter's state now (simulated time brought up to date first).
  std::optional<uint16_t> InputRegister(unsigned number) const;
  std::optional<uint16_t> HoldingRegister(unsigned number) const;
  uint8_t SlaveAddress() const;
  uint64_t SerialNumber() const;
  unsigned AutoTestCount() const;
  // Every write the inverter took (registers and coils), in order.
  std::vector<SimWrite> Writes() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pyranex::sim
