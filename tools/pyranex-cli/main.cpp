// pyranex-cli: identify the inverter or print its live data, on the program's own engine. The
// main loop plays the interface thread: it takes the posted messages in order and hands them
// to the engine, as the power view's message map does.

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_options.h"
#include "core/acquisition/live_csv.h"
#include "core/acquisition/message_queue.h"
#include "core/acquisition/power_view_engine.h"
#include "core/platform/clock.h"
#include "core/platform/paths.h"
#include "service_commands.h"

namespace pyranex::cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnStopSignal(int) {
  g_stop = 1;
}

constexpr uint32_t kIdentificationMs = 4600;  // the probe, the broadcast and their time-outs
constexpr uint32_t kModelPollMs = 7000;       // the model poll, one resend included

// Message boxes become lines on standard error; nobody is there to press OK.
class StderrNotifier final : public Notifier {
 public:
  using Notifier::Show;
  NoticeAnswer Show(const std::string& text, const std::string& caption, NoticeIcon,
                    NoticeButtons) override {
    std::fprintf(stderr, "pyranex-cli: [%s] %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return NoticeAnswer::Ok;
  }
};

class Session {
 public:
  explicit Session(const CliOptions& options) : options_(options) {
    PowerViewServices services(
        LinkContext{queue_, clock_, notifier_, Paths::ForProcess(), SerialDeviceFactory{}});
    services.onSample = [this](size_t k, int64_t sampleTime) { OnSample(k, sampleTime); };
    engine_ = std::make_unique<PowerViewEngine>(std::move(services));
  }

  int Run() {
    if (!engine_->OnComSetting(options_.comPort)) {
      std::fprintf(stderr, "pyranex-cli: COM%u does not open (no such port, or no access)\n",
                   options_.comPort);
      return 2;
    }
    const int status = options_.command == Command::Identify ? Identify() : Poll();
    engine_->Disconnect();
    return status;
  }

 private:
  // Dispatches messages until `done` holds, the time is up or a stop signal came.
  template <typename Done>
  bool RunUntil(Done done, uint32_t limitMs) {
    const uint32_t start = clock_.TickCount();
    while (g_stop == 0) {
      if (done()) return true;
      if (limitMs != 0 && clock_.TickCount() - start > limitMs) return false;
      if (auto message = queue_.WaitTake(std::chrono::milliseconds(100))) {
        engine_->HandleMessage(*message);
      }
    }
    return false;
  }

  bool WaitForIdentification() {
    CInverterCom& com = engine_->Link();
    if (RunUntil([&] { return !com.m_identifying.load(); }, kIdentificationMs)) return true;
    if (g_stop == 0) {
      std::fprintf(stderr,
                   "pyranex-cli: no inverter answered on COM%u (neither the Std. Modbus probe "
                   "nor the serial number broadcast)\n",
                   options_.comPort);
    }
    return false;
  }

  int Identify() {
    if (!WaitForIdentification()) return g_stop != 0 ? 0 : 3;
    const bool modelRead = RunUntil([&] { return engine_->m_pollMode.load() == 1; }, kModelPollMs);
    if (g_stop != 0) return 0;

    CInverterCom& com = engine_->Link();
    if (com.GetFraming() == FramingModbus) {
      std::printf("Framing: Std. Modbus\nAddress: %u\n", com.GetAddress()[0]);
    } else {
      std::printf("Framing: serial number address\n");
    }
    std::printf("Serial number: %s\n", com.GetSerialNumberText().c_str());
    // The version the engine scales the power by.
    const std::string version = com.m_firmwareVersion;
    std::printf("Firmware version: %s\n", version.empty() ? "unknown" : version.c_str());
    if (modelRead) {
      std::printf("Rated power: %d W\n", engine_->m_ratedPower * 100);
    } else {
      std::printf("Rated power: unknown (no reply to the model read)\n");
    }
    std::fflush(stdout);
    return 0;
  }

  int Poll() {
    std::printf("%s\n", LiveCsvHeader().c_str());
    std::fflush(stdout);
    if (!WaitForIdentification()) return g_stop != 0 ? 0 : 3;
    RunUntil([&] { return options_.count && samples_ >= *options_.count; }, 0);
    return 0;
  }

  void OnSample(size_t k, int64_t sampleTime) {
    if (options_.count && samples_ >= *options_.count) return;
    std::printf("%s\n", LiveCsvRow(clock_, sampleTime, engine_->GetDayLog(), k).c_str());
    std::fflush(stdout);
    ++samples_;
  }

  CliOptions options_;
  BlockingMessageQueue queue_;
  StderrNotifier notifier_;
  SystemClock clock_;
  std::unique_ptr<PowerViewEngine> engine_;
  unsigned samples_ = 0;
};

}  // namespace
}  // namespace pyranex::cli

int main(int argc, char** argv) {
  using namespace pyranex::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  if (!args.empty() && IsServiceCommand(args[0])) {
    const std::optional<ServiceOptions> service = ParseServiceOptions(args, &error);
    if (!service) {
      std::fprintf(stderr, "pyranex-cli: %s\nTry 'pyranex-cli --help'.\n", error.c_str());
      return 1;
    }
    return RunService(*service);
  }
  const std::optional<CliOptions> options = ParseCliOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "pyranex-cli: %s\nTry 'pyranex-cli --help'.\n", error.c_str());
    return 1;
  }
  if (options->command == Command::Help) {
    std::fputs((CliUsage() + "\n" + ServiceUsage()).c_str(), stdout);
    return 0;
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  Session session(*options);
  return session.Run();
}
