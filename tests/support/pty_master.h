#pragma once

// The master end of a pseudo-terminal: a test plays the device at the other end of the cable.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace pyranex::test {

class PtyMaster {
 public:
  PtyMaster() {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ >= 0 && ::grantpt(fd_) == 0 && ::unlockpt(fd_) == 0) slave_ = ::ptsname(fd_);
  }
  ~PtyMaster() { Close(); }
  PtyMaster(const PtyMaster&) = delete;
  PtyMaster& operator=(const PtyMaster&) = delete;

  bool Ok() const { return fd_ >= 0 && !slave_.empty(); }
  const std::string& SlavePath() const { return slave_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Reads until n bytes came or the deadline passed.
  std::vector<uint8_t> Read(size_t n,
                            std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    std::vector<uint8_t> bytes;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (bytes.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN)) break;
      uint8_t buffer[512];
      const ssize_t got = ::read(fd_, buffer, std::min(sizeof buffer, n - bytes.size()));
      if (got <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
  }

  bool Write(const std::vector<uint8_t>& bytes) {
    return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

 private:
  int fd_ = -1;
  std::string slave_;
};

}  // namespace pyranex::test
