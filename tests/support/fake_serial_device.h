#pragma once

// A serial line for tests: the program's side is a SerialDevice over one end of a socketpair, the
// test keeps a FakeSerialLine that holds the other end (the "inverter").
//
//   test::FakeSerialLine line;
//   LinkContext context{sink, clock, notifier, paths, line.Factory()};
//   CInverterCom com(context);
//   com.InitPort(3); com.StartMonitoring();
//   com.ReadRegisters(11, 31);
//   auto request = line.ReadRequest();   // the bytes of one write
//   line.Send(reply);                    // reaches OnReceiveByte on the worker thread
//   line.HangUp();                       // the device reports lost, like an unplugged adapter
//
// Every Open() creates a fresh socketpair and makes its other end the line's peer (a reopen after
// HangUp is connected again). SetOpenFails(true) makes Open() return ENOENT. Configure() always
// succeeds unless SetConfigureFailure() names a step. Use the line from one test thread.
//
// As on a real port, the worker empties the input when it starts (and InitPort does too), so
// bytes sent before the worker ran may be discarded: send replies after reading a request.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/link/serial_device.h"

namespace pyranex::test {

namespace fake_serial_detail {

// What the line and its devices share; outlives either of them.
struct LineState {
  std::mutex mutex;
  int peerFd = -1;
  bool openFails = false;
  std::string configureFailStep;
  int configureFailError = 0;
  int opens = 0;
  unsigned lastPortNumber = 0;

  ~LineState() { ClosePeer(); }
  void ClosePeer() {
    if (peerFd >= 0) ::close(peerFd);
    peerFd = -1;
  }
};

}  // namespace fake_serial_detail

class FakeSerialDevice final : public SerialDevice {
 public:
  explicit FakeSerialDevice(std::shared_ptr<fake_serial_detail::LineState> line)
      : line_(std::move(line)) {}
  ~FakeSerialDevice() override { Close(); }

  int Open(unsigned portNumber) override {
    Close();
    std::lock_guard lock(line_->mutex);
    if (line_->openFails) return ENOENT;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
      return errno;
    }
    fd_ = fds[0];
    line_->ClosePeer();
    line_->peerFd = fds[1];
    line_->opens++;
    line_->lastPortNumber = portNumber;
    return 0;
  }

  ConfigResult Configure() override {
    std::lock_guard lock(line_->mutex);
    return {line_->configureFailStep, line_->configureFailError};
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool IsOpen() const override { return fd_ >= 0; }
  int PollFd() const override { return fd_; }

  IoResult Read(std::span<uint8_t> buffer) override {
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (n > 0) return {static_cast<size_t>(n), false, 0};
    if (n == 0) return {0, true, 0};  // the peer hung up
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {};
    if (errno == ECONNRESET) return {0, true, errno};
    return {0, false, errno};
  }

  IoResult Write(std::span<const uint8_t> bytes) override {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) return {static_cast<size_t>(n), false, 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {};
    if (errno == EPIPE || errno == ECONNRESET) return {0, true, errno};
    return {0, false, errno};
  }

  void Purge(bool receive, bool /*transmit*/) override {
    // Bytes already sent sit in the peer's queue; only the input side can be emptied.
    if (!receive || fd_ < 0) return;
    uint8_t scratch[256];
    while (::recv(fd_, scratch, sizeof scratch, 0) > 0) {
    }
  }

 private:
  std::shared_ptr<fake_serial_detail::LineState> line_;
  int fd_ = -1;
};

class FakeSerialLine {
 public:
  FakeSerialLine() : state_(std::make_shared<fake_serial_detail::LineState>()) {}
  FakeSerialLine(const FakeSerialLine&) = delete;
  FakeSerialLine& operator=(const FakeSerialLine&) = delete;

  // For LinkContext::deviceFactory.
  SerialDeviceFactory Factory() {
    return [state = state_] { return std::make_unique<FakeSerialDevice>(state); };
  }

  // The bytes of one write of the program, waiting up to `timeout` for them; empty when none
  // came. Frames are written whole in one send, so what is waiting is one frame (two writes
  // made before this call may come back together).
  std::vector<uint8_t> ReadRequest(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const int fd = PeerFd();
    if (fd < 0) return {};
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0 || !(p.revents & POLLIN)) return {};
    std::vector<uint8_t> bytes(4096);
    const ssize_t n = ::recv(fd, bytes.data(), bytes.size(), 0);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
  }

  // True when nothing was written for the whole period.
  bool NothingWritten(std::chrono::milliseconds period) {
    const int fd = PeerFd();
    if (fd < 0) return true;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(period.count())) == 0;
  }

  // Sends bytes to the program as the inverter's reply; false when no device is connected.
  bool Send(std::span<const uint8_t> bytes) {
    const int fd = PeerFd();
    if (fd < 0) return false;
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  bool Send(std::initializer_list<uint8_t> bytes) {
    return Send(std::span<const uint8_t>(bytes.begin(), bytes.size()));
  }

  // Closes the inverter's end: the program's device reads 0 and reports the loss.
  void HangUp() {
    std::lock_guard lock(state_->mutex);
    state_->ClosePeer();
  }

  void SetOpenFails(bool fails) {
    std::lock_guard lock(state_->mutex);
    state_->openFails = fails;
  }

  // Makes Configure() report `step` (e.g. "SetCommState()") failing with `error`; "" clears it.
  void SetConfigureFailure(std::string step, int error) {
    std::lock_guard lock(state_->mutex);
    state_->configureFailStep = std::move(step);
    state_->configureFailError = error;
  }

  int Opens() const {
    std::lock_guard lock(state_->mutex);
    return state_->opens;
  }
  unsigned LastPortNumber() const {
    std::lock_guard lock(state_->mutex);
    return state_->lastPortNumber;
  }
  bool Connected() const { return PeerFd() >= 0; }

 private:
  int PeerFd() const {
    std::lock_guard lock(state_->mutex);
    return state_->peerFd;
  }

  std::shared_ptr<fake_serial_detail::LineState> state_;
};

}  // namespace pyranex::test
