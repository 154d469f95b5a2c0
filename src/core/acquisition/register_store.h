#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/samples/day_log.h"

namespace pyranex {

// Divisor of a live-data register (11 -> 10, 21 -> 100, 28 -> 1, ...); 0 for registers the view
// does not store.
float RegisterDivisor(uint32_t registerNumber);

// Turns the live data record's register values into DayLog elements, one register at a time,
// pairing high and low words. Runs on the interface thread only.
class RegisterStore {
 public:
  RegisterStore(DayLog& log, int& ratedPower) : log_(log), ratedPower_(ratedPower) {}

  enum class Outcome { Stored, Ignored, UdcUacMismatch };

  // `tickNow` stamps the pac element; `powerUnscaled` is the "V5.00" firmware's unit watt.
  Outcome Store(int value, uint32_t registerNumber, uint32_t tickNow, bool powerUnscaled);

  // A new reply begins: a pair left half-done by a cut-short reply is forgotten, and series that
  // reply left longer than the others are cut back, so element n-1 of every series belongs to
  // the same cycle again.
  void BeginReply();

  // Register 45 as last seen in a stored read (the view itself does not use it).
  std::optional<uint16_t> VersionRegister() const { return versionRegister_; }
  size_t PendingHighWords() const { return pendingHigh_.size(); }

 private:
  // The pending high word joined with `low`, or nothing when not exactly one is pending.
  std::optional<int32_t> JoinPair(int low);

  DayLog& log_;
  std::vector<uint16_t> pendingHigh_;
  uint32_t faultBits_ = 0;
  int& ratedPower_;  // units of 100 W, from register 44
  std::optional<uint16_t> versionRegister_;
};

}  // namespace pyranex
