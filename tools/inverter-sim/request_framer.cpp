#include "request_framer.h"

#include "sim_crc.h"

namespace pyranex::sim {

RequestFramer::RequestFramer(bool oneByteAddress, bool sixByteAddress)
    : oneByte_(oneByteAddress), sixByte_(sixByteAddress) {}

void RequestFramer::Feed(std::span<const uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  Drain(false);
}

void RequestFramer::OnSilence() {
  Drain(true);
}

std::vector<RequestFramer::Item> RequestFramer::TakeOutput() {
  std::vector<Item> out;
  out.swap(output_);
  return out;
}

RequestFramer::Verdict RequestFramer::Examine(std::size_t k, std::size_t* frameLength) const {
  const std::size_t size = buffer_.size();
  if (size < k + 1) return Verdict::NeedMore;
  std::size_t length = 0;
  switch (buffer_[k]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
      length = k + 7;
      break;
    case 15:
    case 16: {
      if (size < k + 6) return Verdict::NeedMore;
      const std::size_t quantity = buffer_[k + 3] * 256u + buffer_[k + 4];
      const std::size_t byteCount = buffer_[k + 5];
      const std::size_t expected = buffer_[k] == 16 ? quantity * 2 : (quantity + 7) / 8;
      if (quantity == 0 || byteCount != expected) return Verdict::Invalid;
      length = k + 8 + byteCount;
      break;
    }
    default:
      return Verdict::Invalid;
  }
  if (size < length) return Verdict::NeedMore;
  if (!HasValidCrc(std::span<const uint8_t>(buffer_).first(length))) return Verdict::Invalid;
  *frameLength = length;
  return Verdict::Complete;
}

void RequestFramer::Drain(bool flush) {
  while (!buffer_.empty()) {
    bool undecided = false;
    bool taken = false;
    // The six-byte form first: its CRC check makes a clash with a one-byte frame harmless.
    for (std::size_t k : {std::size_t{6}, std::size_t{1}}) {
      if ((k == 6 && !sixByte_) || (k == 1 && !oneByte_)) continue;
      std::size_t length = 0;
      const Verdict verdict = Examine(k, &length);
      if (verdict == Verdict::Complete) {
        output_.push_back({Item::Kind::Frame, {buffer_.begin(), buffer_.begin() + length}, k});
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
        taken = true;
        break;
      }
      if (verdict == Verdict::NeedMore) undecided = true;
    }
    if (taken) continue;
    if (undecided && !flush) return;
    Skip(1);
  }
}

void RequestFramer::Skip(std::size_t count) {
  if (output_.empty() || output_.back().kind != Item::Kind::Garbage) {
    output_.push_back({Item::Kind::Garbage, {}, 0});
  }
  auto& garbage = output_.back().bytes;
  garbage.insert(garbage.end(), buffer_.begin(),
                 buffer_.begin() + static_cast<std::ptrdiff_t>(count));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace pyranex::sim
