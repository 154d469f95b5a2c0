#include "core/acquisition/register_store.h"

namespace pyranex {

float RegisterDivisor(uint32_t registerNumber) {
  switch (registerNumber) {
    case 11:
    case 15:
    case 23:
    case 24:
    case 26:
    case 31:
      return 10.0f;
    case 21:
      return 100.0f;
    case 28:
    case 30:
    case 32:
    case 35:
    case 40:
    case 41:
      return 1.0f;
    default:
      return 0.0f;
  }
}

namespace {

template <typename T>
void CutTo(std::vector<T>& series, size_t n) {
  if (series.size() > n) series.resize(n);
}

}  // namespace

void RegisterStore::BeginReply() {
  pendingHigh_.clear();
  const size_t n = log_.CompleteCount();
  CutTo(log_.tickMs, n);
  CutTo(log_.udc, n);
  CutTo(log_.uac, n);
  CutTo(log_.freq, n);
  CutTo(log_.pac, n);
  CutTo(log_.eToday, n);
  CutTo(log_.eTotal, n);
  CutTo(log_.tToday, n);
  CutTo(log_.tTotal, n);
  CutTo(log_.temp, n);
  CutTo(log_.iacShift, n);
  CutTo(log_.dci, n);
  CutTo(log_.state1, n);
  CutTo(log_.state2, n);
}

std::optional<int32_t> RegisterStore::JoinPair(int low) {
  if (pendingHigh_.size() != 1) return std::nullopt;
  const uint32_t joined =
      (static_cast<uint32_t>(pendingHigh_.front()) << 16) + static_cast<uint32_t>(low & 0xFFFF);
  pendingHigh_.clear();
  return static_cast<int32_t>(joined);
}

RegisterStore::Outcome RegisterStore::Store(int value, uint32_t registerNumber, uint32_t tickNow,
                                            bool powerUnscaled) {
  const auto scaled = [&](double raw) {
    return static_cast<float>(raw / RegisterDivisor(registerNumber));
  };
  switch (registerNumber) {
    case 11:
      log_.udc.push_back(scaled(value));
      return Outcome::Stored;
    case 15:
      log_.uac.push_back(scaled(value));
      return log_.udc.size() == log_.uac.size() ? Outcome::Stored : Outcome::UdcUacMismatch;
    case 21:
      log_.freq.push_back(scaled(value));
      return Outcome::Stored;
    case 24:
      log_.eToday.push_back(scaled(value));
      return Outcome::Stored;
    case 31:
      log_.temp.push_back(scaled(value));
      return Outcome::Stored;
    case 32:
      log_.iacShift.push_back(static_cast<uint32_t>(value));
      return Outcome::Stored;
    case 35:
      log_.dci.push_back(static_cast<float>(static_cast<int16_t>(value & 0xFFFF)));
      return Outcome::Stored;
    case 22:
    case 25:
    case 27:
    case 29:
      pendingHigh_.push_back(static_cast<uint16_t>(value));
      return Outcome::Stored;
    case 23:
    case 26:
    case 28:
    case 30: {
      const std::optional<int32_t> joined = JoinPair(value);
      if (!joined) return Outcome::Ignored;
      if (registerNumber == 23) {
        log_.pac.push_back(powerUnscaled ? static_cast<float>(*joined) : scaled(*joined));
        log_.tickMs.push_back(tickNow);
      } else if (registerNumber == 26) {
        log_.eTotal.push_back(scaled(*joined));
      } else if (registerNumber == 28) {
        log_.tToday.push_back(static_cast<uint32_t>(*joined));
      } else {
        log_.tTotal.push_back(static_cast<uint32_t>(*joined));
      }
      return Outcome::Stored;
    }
    case 39:
      faultBits_ = static_cast<uint32_t>(value) << 16;
      return Outcome::Stored;
    case 40:
      faultBits_ += static_cast<uint32_t>(value);
      log_.state1.push_back(faultBits_);
      return Outcome::Stored;
    case 41:
      log_.state2.push_back(static_cast<uint32_t>(value));
      return Outcome::Stored;
    case 44:
      ratedPower_ = value;
      return Outcome::Stored;
    case 45:
      versionRegister_ = static_cast<uint16_t>(value);
      return Outcome::Ignored;
    default:
      return Outcome::Ignored;
  }
}

}  // namespace pyranex
