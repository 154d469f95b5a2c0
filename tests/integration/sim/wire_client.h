#pragma once

// A deliberately small Modbus RTU master for checking the simulator from the outside: it opens
// the COM link like the program does and speaks raw bytes, with its own CRC.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace pyranex::test {

using Bytes = std::vector<uint8_t>;

// CRC-16/MODBUS, written out again here so the test trusts neither side's code.
inline uint16_t ClientCrc(std::span<const uint8_t> bytes) {
  unsigned crc = 0xFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return static_cast<uint16_t>(crc);
}

inline Bytes WithCrc(Bytes frame) {
  const uint16_t crc = ClientCrc(frame);
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

inline bool CrcOk(const Bytes& frame) {
  if (frame.size() < 3) return false;
  const uint16_t crc = ClientCrc(std::span<const uint8_t>(frame).first(frame.size() - 2));
  return frame[frame.size() - 2] == (crc & 0xFF) && frame.back() == (crc >> 8);
}

inline Bytes Hex(const std::string& text) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

// Register values of a function 3/4 reply with a k-byte address.
inline std::vector<uint16_t> Values(const Bytes& reply, std::size_t k) {
  std::vector<uint16_t> values;
  if (reply.size() < k + 4) return values;
  const std::size_t count = reply[k + 1];
  for (std::size_t i = 0; i + 1 < count && k + 3 + i < reply.size(); i += 2) {
    values.push_back(static_cast<uint16_t>(reply[k + 2 + i] << 8 | reply[k + 3 + i]));
  }
  return values;
}

class WireClient {
 public:
  explicit WireClient(const std::filesystem::path& device) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return;
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
      cfmakeraw(&tio);
      cfsetspeed(&tio, B9600);
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~WireClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  bool Send(const Bytes& bytes) {
    return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Everything that arrives until the line has been quiet for `quiet` after the first byte, or
  // `limit` has passed. `hungUp` tells whether the device went away meanwhile.
  Bytes Receive(std::chrono::milliseconds limit = std::chrono::milliseconds(1000),
                std::chrono::milliseconds quiet = std::chrono::milliseconds(60),
                bool* hungUp = nullptr) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) break;
      auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
      if (!got.empty() && wait > quiet) wait = quiet;
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(wait.count()) + 1);
      if (ready == 0) {
        if (!got.empty()) break;
        continue;
      }
      if (ready < 0) break;
      uint8_t buffer[512];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        got.insert(got.end(), buffer, buffer + n);
        continue;
      }
      if (n == 0 || (p.revents & (POLLHUP | POLLERR))) {
        if (hungUp) *hungUp = true;
        break;
      }
    }
    return got;
  }

  Bytes Exchange(const Bytes& request,
                 std::chrono::milliseconds limit = std::chrono::milliseconds(1000)) {
    if (!Send(request)) return {};
    return Receive(limit);
  }

 private:
  int fd_ = -1;
};

}  // namespace pyranex::test
