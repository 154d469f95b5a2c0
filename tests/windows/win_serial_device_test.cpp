// The Windows serial device on its own: the names it opens, which errors mean a lost device,
// the system's error texts, and a port that does not exist.
#include "core/link/win_serial_device.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "core/link/port_platform.h"
#include "core/link/serial_port.h"
#include "support/fake_clock.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

TEST(WinComDeviceName, DevicePrefixFromTen) {
  const struct {
    unsigned port;
    const wchar_t* name;
  } cases[] = {{1, L"COM1"}, {9, L"COM9"}, {10, L"\\\\.\\COM10"}, {99, L"\\\\.\\COM99"}};
  for (const auto& c : cases) EXPECT_EQ(WinComDeviceName(c.port), c.name) << c.port;
}

TEST(IsDeviceLostError, UnpluggedAdapterErrorsOnly) {
  const struct {
    DWORD error;
    bool lost;
  } cases[] = {{ERROR_ACCESS_DENIED, true},     {ERROR_BAD_COMMAND, true},
               {ERROR_OPERATION_ABORTED, true}, {ERROR_DEVICE_REMOVED, true},
               {ERROR_GEN_FAILURE, true},       {ERROR_IO_PENDING, false},
               {ERROR_SEM_TIMEOUT, false},      {ERROR_INVALID_PARAMETER, false},
               {ERROR_SUCCESS, false}};
  for (const auto& c : cases) EXPECT_EQ(IsDeviceLostError(c.error), c.lost) << c.error;
}

TEST(SystemErrorText, SystemTextWithoutItsLineBreak) {
  for (const DWORD error : {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_SEM_TIMEOUT}) {
    const std::string text = SystemErrorText(static_cast<int>(error));
    ASSERT_FALSE(text.empty()) << error;
    EXPECT_NE(text.back(), '\n') << error;
    EXPECT_NE(text.back(), '\r') << error;
  }
}

class SilentPort final : public CSerialPort {
 public:
  using CSerialPort::CSerialPort;
  using CSerialPort::ReportError;
  ~SilentPort() override { StopWorker(); }

 protected:
  void OnReceiveByte(uint8_t) override {}
};

TEST(WinSerialPort, APortThatDoesNotExistReturnsFalseAndShowsNothing) {
  test::FakeClock clock;
  test::QueueSink sink;
  test::RecordingNotifier notifier;
  SilentPort port{LinkContext{sink, clock, notifier, Paths{}, {}}};
  for (const unsigned number : {8u, 97u}) {
    EXPECT_FALSE(port.InitPort(number)) << number;
    EXPECT_FALSE(port.IsOpen());
  }
  EXPECT_EQ(notifier.Count(), 0u);
}

TEST(WinSerialPort, ErrorBoxCarriesTheSystemText) {
  test::FakeClock clock;
  test::QueueSink sink;
  test::RecordingNotifier notifier;
  SilentPort port{LinkContext{sink, clock, notifier, Paths{}, {}}};
  port.ReportError("WriteFile()", ERROR_ACCESS_DENIED);
  const auto notices = notifier.Notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text, "WARNING:  WriteFile() Failed with the following error: \n" +
                                 SystemErrorText(ERROR_ACCESS_DENIED) + "\nPort: 0\n");
  EXPECT_EQ(notices[0].caption, "Application Error");
}

}  // namespace
}  // namespace pyranex
