#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pyranex::sim {

// Splits the byte stream a master sends into request frames. A frame is recognised by its
// address width, function code and the length that function implies, and confirmed by its CRC;
// bytes that start no valid frame are skipped one at a time so the framer resynchronises on the
// next real request. A pause on the line (Modbus t3.5) ends any frame still incomplete.
class RequestFramer {
 public:
  struct Item {
    enum class Kind { Frame, Garbage };
    Kind kind;
    std::vector<uint8_t> bytes;
    std::size_t addressLength;  // 1 or 6 for frames, 0 for garbage
  };

  // Which address widths requests may use: 1 (standard Modbus), 6 (serial number), or both.
  RequestFramer(bool oneByteAddress, bool sixByteAddress);

  void Feed(std::span<const uint8_t> bytes);
  // The line has been quiet for longer than an inter-frame gap: nothing buffered can still grow.
  void OnSilence();
  // Frames and skipped bytes in arrival order since the last call.
  std::vector<Item> TakeOutput();
  bool HasPendingBytes() const { return !buffer_.empty(); }

 private:
  enum class Verdict { NeedMore, Invalid, Complete };
  Verdict Examine(std::size_t addressLength, std::size_t* frameLength) const;
  // Takes every frame that can be decided now; with `flush`, undecided bytes are skipped too.
  void Drain(bool flush);
  void Skip(std::size_t count);

  bool oneByte_;
  bool sixByte_;
  std::vector<uint8_t> buffer_;
  std::vector<Item> output_;
};

}  // namespace pyranex::sim
