#include "core/link/reply_receiver.h"

namespace pyranex {

namespace {

// addressWord_: bytes 0..5 the address, byte 6 its length, byte 7 the framing.
// serialWord_: bytes 0..5 the serial number, byte 6 the known flag.
constexpr int kLengthShift = 48;
constexpr int kFramingShift = 56;
constexpr int kKnownShift = 48;
constexpr uint64_t kSixBytes = (uint64_t{1} << 48) - 1;

uint64_t PackSix(const std::array<uint8_t, 6>& bytes) {
  uint64_t word = 0;
  for (size_t i = 0; i < 6; ++i) word |= uint64_t{bytes[i]} << (8 * i);
  return word;
}

std::array<uint8_t, 6> UnpackSix(uint64_t word) {
  std::array<uint8_t, 6> bytes{};
  for (size_t i = 0; i < 6; ++i) bytes[i] = static_cast<uint8_t>(word >> (8 * i));
  return bytes;
}

uint8_t AddressByte(uint64_t word, uint32_t index) {
  return static_cast<uint8_t>(word >> (8 * index));
}

template <typename F>
void Update(std::atomic<uint64_t>& word, F change) {
  uint64_t old = word.load(std::memory_order_acquire);
  while (!word.compare_exchange_weak(old, change(old), std::memory_order_acq_rel)) {
  }
}

}  // namespace

ReplyReceiver::ReplyReceiver()
    : addressWord_(PackSix(kBroadcastAddress) | (uint64_t{6} << kLengthShift) |
                   (uint64_t{FramingSerial} << kFramingShift)),
      serialWord_(uint64_t{1} << kKnownShift) {}

std::optional<AcceptedFrame> ReplyReceiver::Feed(uint8_t byte) {
  if (resetRequested_.load(std::memory_order_relaxed) &&
      resetRequested_.exchange(false, std::memory_order_acq_rel)) {
    state_.store(0, std::memory_order_relaxed);
    position_ = 0;
  }
  switch (state_.load(std::memory_order_relaxed)) {
    case 0: {
      const uint64_t word = addressWord_.load(std::memory_order_acquire);
      const uint32_t length = static_cast<uint32_t>((word >> kLengthShift) & 0xFF);
      if (byte == AddressByte(word, position_)) {
        buffer_[position_++] = byte;
        if (position_ >= length) {
          frameAddressLength_ = length;
          position_ = 0;
          state_.store(1, std::memory_order_relaxed);
        }
      } else {
        position_ = 0;
        if (byte == AddressByte(word, 0)) {
          buffer_[0] = byte;
          position_ = 1;
        }
      }
      return std::nullopt;
    }
    case 1: {
      buffer_[frameAddressLength_ + position_++] = byte;
      if (position_ == 1) {
        function_ = byte;
        if (byte == 5 || byte == 16) {
          byteCount_ = 4;
          headerLength_ = 1;
          state_.store(2, std::memory_order_relaxed);
        } else if (byte != 3 && byte != 4) {
          position_ = 0;
          state_.store(0, std::memory_order_relaxed);
        }
      } else {
        byteCount_ = byte;
        headerLength_ = 2;
        // A declared length that would overrun the buffer cannot be a reply of ours.
        if (frameAddressLength_ + headerLength_ + byteCount_ + 2 > kBufferSize) {
          position_ = 0;
          state_.store(0, std::memory_order_relaxed);
        } else {
          state_.store(2, std::memory_order_relaxed);
        }
      }
      return std::nullopt;
    }
    default: {
      buffer_[frameAddressLength_ + position_++] = byte;
      if (position_ < headerLength_ + byteCount_ + 2) return std::nullopt;
      const uint32_t crcAt = frameAddressLength_ + position_ - 2;
      const uint16_t received = static_cast<uint16_t>(buffer_[crcAt] | (buffer_[crcAt + 1] << 8));
      position_ = 0;
      state_.store(0, std::memory_order_relaxed);
      if (ModbusCrc16(buffer_.data(), static_cast<uint16_t>(crcAt)) != received) {
        return std::nullopt;
      }
      AcceptedFrame frame;
      frame.function = static_cast<uint8_t>(function_);
      frame.byteCount = byteCount_;
      frame.headerLength = headerLength_;
      frame.data = std::span<const uint8_t>(buffer_.data() + frameAddressLength_ + headerLength_,
                                            byteCount_);
      return frame;
    }
  }
}

Framing ReplyReceiver::GetFraming() const {
  return static_cast<Framing>(addressWord_.load(std::memory_order_acquire) >> kFramingShift);
}

void ReplyReceiver::SetFraming(Framing framing) {
  Update(addressWord_, [framing](uint64_t old) {
    return (old & kSixBytes) | (uint64_t{AddressLength(framing)} << kLengthShift) |
           (uint64_t{framing} << kFramingShift);
  });
}

DeviceAddress ReplyReceiver::GetAddress() const {
  return UnpackSix(addressWord_.load(std::memory_order_acquire));
}

void ReplyReceiver::SetAddress(const DeviceAddress& address) {
  const uint64_t bytes = PackSix(address);
  Update(addressWord_, [bytes](uint64_t old) { return (old & ~kSixBytes) | bytes; });
}

void ReplyReceiver::SetAddressByte0(uint8_t value) {
  Update(addressWord_, [value](uint64_t old) { return (old & ~uint64_t{0xFF}) | value; });
}

size_t ReplyReceiver::GetAddressLength() const {
  return (addressWord_.load(std::memory_order_acquire) >> kLengthShift) & 0xFF;
}

bool ReplyReceiver::IsSerialKnown() const {
  return ((serialWord_.load(std::memory_order_acquire) >> kKnownShift) & 1) != 0;
}

void ReplyReceiver::SetSerialKnown(bool known) {
  Update(serialWord_,
         [known](uint64_t old) { return (old & kSixBytes) | (uint64_t{known} << kKnownShift); });
}

SerialBytes ReplyReceiver::GetSerialNumber() const {
  return UnpackSix(serialWord_.load(std::memory_order_acquire));
}

void ReplyReceiver::SetSerialNumber(const SerialBytes& serial) {
  const uint64_t bytes = PackSix(serial);
  Update(serialWord_, [bytes](uint64_t old) { return (old & ~kSixBytes) | bytes; });
}

}  // namespace pyranex
