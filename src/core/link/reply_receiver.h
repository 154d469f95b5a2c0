#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>

#include "core/link/frame_codec.h"

namespace pyranex {

// A frame that passed address, length and CRC checks. `data` points into the receiver's buffer
// and is valid until the next Feed.
struct AcceptedFrame {
  uint8_t function = 0;
  uint32_t byteCount = 0;     // data bytes after the header
  uint32_t headerLength = 0;  // 2 for functions 3 and 4, 1 for 5 and 16
  std::span<const uint8_t> data;
};

// The byte-at-a-time receive state machine. Feed runs on the worker thread only; the address
// configuration, the serial number and the reset request may be touched from any thread.
class ReplyReceiver {
 public:
  static constexpr size_t kBufferSize = 256;

  ReplyReceiver();

  std::optional<AcceptedFrame> Feed(uint8_t byte);

  Framing GetFraming() const;
  void SetFraming(Framing framing);  // also sets the address length
  DeviceAddress GetAddress() const;
  void SetAddress(const DeviceAddress& address);
  void SetAddressByte0(uint8_t value);
  size_t GetAddressLength() const;

  bool IsSerialKnown() const;
  void SetSerialKnown(bool known);
  SerialBytes GetSerialNumber() const;
  void SetSerialNumber(const SerialBytes& serial);

  // 0 matching address, 1 header, 2 data and CRC.
  // A requested reset counts at once, though the worker applies it only at the next byte.
  uint32_t State() const {
    return resetRequested_.load(std::memory_order_acquire) ? 0
                                                           : state_.load(std::memory_order_relaxed);
  }
  uint32_t Position() const { return position_; }
  // Back to address matching before the next byte is examined.
  void RequestReset() { resetRequested_.store(true, std::memory_order_release); }

 private:
  // Address, its length and the framing packed in one word so readers never see a torn mix.
  std::atomic<uint64_t> addressWord_;
  // Serial bytes and the known flag, likewise.
  std::atomic<uint64_t> serialWord_;
  std::atomic<uint32_t> state_{0};
  std::atomic<bool> resetRequested_{false};

  uint32_t position_ = 0;
  uint32_t frameAddressLength_ = 6;  // latched when the address matched
  uint32_t function_ = 0;
  uint32_t byteCount_ = 0;
  uint32_t headerLength_ = 0;
  std::array<uint8_t, kBufferSize> buffer_{};
};

}  // namespace pyranex
