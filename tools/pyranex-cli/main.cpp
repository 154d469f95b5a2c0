// pyranex-cli: identify the inverter or print its live data, on the program's own engine. The
// main loop plays the interface thread: it takes the posted messages in order and hands them
// to the engine, as the power view's message map does.

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <memory>
#include <string>
#include <vector>

#include "cli_options.h"
#include "core/acquisition/live_csv.h"
#include "core/acquisition/message_queue.h"
#include "core/acquisition/power_view_engine.h"
#include "core/link/com_port_path.h"
#include "core/platform/clock.h"
#include "core/platform/paths.h"
#include "stderr_notifier.h"
#if PYRANEX_CLI_MQTT
#include "mqtt_cli.h"
#else
namespace pyranex::cli {
class MqttCliSession;
}
#endif
// A build without the workbook area (the Windows cross build: no FreeXL there) has neither the
// service commands, which read datacfg.xls, nor the history saves.
#if PYRANEX_CLI_WORKBOOK
#include "core/workbook/history_store.h"
#include "service_commands.h"
#endif
#if PYRANEX_CLI_HISTORY
#include "history_command.h"
#endif

namespace pyranex::cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnStopSignal(int) {
  g_stop = 1;
}

// Standard output failed (other than a reader that went away), with the first error number
// known of it (0: none known).
bool g_outputFailed = false;
int g_outputError = 0;

// A pipe whose reader has gone (`poll | head -2`) shows as an error on our end at once, even
// while nothing is written (waiting for sunrise, say).
bool OutputGone() {
#ifdef _WIN32
  return false;  // a failed write still ends the session (Emit)
#else
  pollfd out{STDOUT_FILENO, 0, 0};
  return ::poll(&out, 1, 0) > 0 && (out.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
#endif
}

void NoteOutputFailure(int error) {
  if (IsReaderGone(error) || OutputGone()) return;
  if (g_outputError == 0) g_outputError = error;
  g_outputFailed = true;
}

// What a command printed must have reached its output: a full disk or an I/O error is a
// failure of its own, said on standard error, never an exit 0. A reader that went away is not.
int FinishOutput(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) NoteOutputFailure(errno);
  if (!g_outputFailed) return status;
  std::fprintf(stderr, "pyranex-cli: %s\n", OutputFailedText(g_outputError).c_str());
  return kExitOutputFailed;
}

// The COM numbers as the window's COM dialog lists them.
int ListPorts() {
#ifdef _WIN32
  std::fputs("pyranex-cli: on Windows, COM n is the system's own COM n\n", stderr);
#else
  const std::vector<ComPortEntry> entries = ListComPorts(Paths::ForProcess().executableDir);
  if (entries.empty()) std::fputs("pyranex-cli: no serial port found\n", stderr);
  for (const ComPortEntry& entry : entries) {
    errno = 0;
    if (std::puts(DescribeComPort(entry).c_str()) < 0) NoteOutputFailure(errno);
  }
#endif
  return kExitDone;
}

constexpr uint32_t kIdentificationMs = 4600;  // the probe, the broadcast and their time-outs
constexpr uint32_t kModelPollMs = 7000;       // the model poll, one resend included

class Session {
 public:
  Session(const CliOptions& options, MqttCliSession* mqtt) : options_(options), mqtt_(mqtt) {
    PowerViewServices services(
        LinkContext{queue_, clock_, notifier_, Paths::ForProcess(), SerialDeviceFactory{}});
#if PYRANEX_CLI_MQTT
    if (mqtt_) services.recordSinks.push_back(&mqtt_->Sink());
#endif
    services.onSample = [this](size_t k, int64_t sampleTime) { OnSample(k, sampleTime); };
    if (options_.command == Command::Poll) {
#if PYRANEX_CLI_WORKBOOK
      services.historySaver = &history_;
#endif
#if PYRANEX_CLI_HISTORY
      historySink_ = MakeHistorySink();
      services.recordSinks.push_back(historySink_.get());
#endif
      services.keepIdentifying = options_.wait;
      services.unattended = true;
    }
    engine_ = std::make_unique<PowerViewEngine>(std::move(services));
  }

  int Run() {
    if (!engine_->OnComSetting(options_.comPort)) {
      const int error = engine_->Link().LastOpenError();
      std::fprintf(
          stderr, "pyranex-cli: %s\n",
          PortNotOpenText(options_.comPort, error, CSerialPort::OpenErrorText(error)).c_str());
      return kExitPortNotOpen;
    }
    const int status = options_.command == Command::Identify ? Identify() : Poll();
    engine_->Disconnect();
    return status;
  }

 private:
  // Dispatches messages until `done` holds, the time is up, a stop signal came or the output
  // was closed.
  template <typename Done>
  bool RunUntil(Done done, uint32_t limitMs) {
    const uint32_t start = clock_.TickCount();
    while (g_stop == 0) {
      if (done()) return true;
      if (limitMs != 0 && clock_.TickCount() - start > limitMs) return false;
      if (auto message = queue_.WaitTake(std::chrono::milliseconds(100))) {
        engine_->HandleMessage(*message);
      }
      if (OutputGone()) g_stop = 1;
      if (options_.command == Command::Poll) ReportLinkChange();
#if PYRANEX_CLI_MQTT
      if (mqtt_) mqtt_->Tick(engine_->GetLinkStatus(), clock_);
#endif
    }
    return false;
  }

  // One line per change of the link (lost, no reply, back), so a log shows what happened.
  void ReportLinkChange() {
    const LinkStatus status = engine_->GetLinkStatus();
    if (status.condition == lastCondition_) return;
    lastCondition_ = status.condition;
    std::fprintf(stderr, "pyranex-cli: %s\n", FormatLinkStatus(status, clock_).c_str());
    std::fflush(stderr);
  }

  // Writes one line of output; false (and the session ends) when it cannot be written: nobody
  // reads it any more, or it failed (FinishOutput says so).
  bool Emit(const std::string& line) {
    errno = 0;
    if (std::fputs(line.c_str(), stdout) < 0 || std::fputc('\n', stdout) == EOF ||
        std::fflush(stdout) != 0) {
      NoteOutputFailure(errno);
      g_stop = 1;
      return false;
    }
    return true;
  }

  bool WaitForIdentification() {
    CInverterCom& com = engine_->Link();
    if (RunUntil([&] { return !com.m_identifying.load(); }, kIdentificationMs)) return true;
    if (g_stop == 0 && options_.wait) {
      std::fprintf(stderr,
                   "pyranex-cli: no inverter answers on COM%u yet (asleep before sunrise?); "
                   "still asking every few seconds, Ctrl-C to give up\n",
                   options_.comPort);
      std::fflush(stderr);
      if (!RunUntil([&] { return !com.m_identifying.load(); }, 0)) return false;
      std::fprintf(stderr, "pyranex-cli: the inverter answered on COM%u\n", options_.comPort);
      std::fflush(stderr);
      return true;
    }
    if (g_stop == 0) {
      std::fprintf(stderr,
                   "pyranex-cli: no inverter answered on COM%u (neither the Std. Modbus probe "
                   "nor the serial number broadcast)\n",
                   options_.comPort);
    }
    return false;
  }

  int Identify() {
    if (!WaitForIdentification()) return g_stop != 0 ? kExitDone : kExitNoInverter;
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
    errno = 0;
    if (std::fflush(stdout) != 0) NoteOutputFailure(errno);
    return 0;
  }

  int Poll() {
    if (!Emit(LiveCsvHeader())) return kExitDone;
    if (!WaitForIdentification()) return g_stop != 0 ? kExitDone : kExitNoInverter;
    lastCondition_ = LinkCondition::Connected;
    RunUntil([&] { return options_.count && samples_ >= *options_.count; }, 0);
    return kExitDone;
  }

  void OnSample(size_t k, int64_t sampleTime) {
    if (options_.count && samples_ >= *options_.count) return;
    if (Emit(LiveCsvRow(clock_, sampleTime, engine_->GetDayLog(), k))) ++samples_;
  }

  CliOptions options_;
  [[maybe_unused]] MqttCliSession* mqtt_;  // null: no publishing
  BlockingMessageQueue queue_;
  StderrNotifier notifier_;
  SystemClock clock_;
#if PYRANEX_CLI_WORKBOOK
  // Before the engine: it saves through this until it is gone.
  HistoryStore history_{Paths::ForProcess(), WorkbookEnv{clock_, notifier_, nullptr}};
#endif
#if PYRANEX_CLI_HISTORY
  std::unique_ptr<RecordSink> historySink_;  // before the engine, which feeds it
#endif
  std::unique_ptr<PowerViewEngine> engine_;
  LinkCondition lastCondition_ = LinkCondition::Identifying;
  unsigned samples_ = 0;
};

}  // namespace
}  // namespace pyranex::cli

int main(int argc, char** argv) {
  using namespace pyranex::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
#if PYRANEX_CLI_MQTT
  MqttCliOptions mqttOptions;
  if (!ExtractMqttOptions(args, &mqttOptions, &error)) {
    std::fprintf(stderr, "pyranex-cli: %s\nTry 'pyranex-cli --help'.\n", error.c_str());
    return 1;
  }
  if (mqttOptions.Requested() && (args.empty() || args[0] != "poll")) {
    std::fprintf(stderr, "pyranex-cli: --mqtt goes with poll\nTry 'pyranex-cli --help'.\n");
    return 1;
  }
#endif
#if PYRANEX_CLI_HISTORY
  if (!args.empty() && IsHistoryCommand(args[0])) return FinishOutput(RunHistory(args));
#endif
#if PYRANEX_CLI_WORKBOOK
  if (!args.empty() && IsServiceCommand(args[0])) {
    const std::optional<ServiceOptions> service = ParseServiceOptions(args, &error);
    if (!service) {
      std::fprintf(stderr, "pyranex-cli: %s\nTry 'pyranex-cli --help'.\n", error.c_str());
      return kExitUsage;
    }
    return FinishOutput(RunService(*service));
  }
#endif
  const std::optional<CliOptions> options = ParseCliOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "pyranex-cli: %s\nTry 'pyranex-cli --help'.\n", error.c_str());
    return 1;
  }
  if (options->command == Command::Help) {
    std::string usage = CliUsage();
#if PYRANEX_CLI_MQTT
    usage += MqttUsage();
#endif
#if PYRANEX_CLI_WORKBOOK
    usage += "\n" + ServiceUsage();
#endif
#if PYRANEX_CLI_HISTORY
    usage += "\n" + HistoryUsage();
#endif
    // A text longer than the stream's buffer fails inside fputs: its errno is the reason.
    errno = 0;
    if (std::fputs(usage.c_str(), stdout) < 0) NoteOutputFailure(errno);
    return FinishOutput(kExitDone);
  }
  if (options->command == Command::Ports) return FinishOutput(ListPorts());
#ifdef _WIN32
  // Ctrl+C arrives as SIGINT through the C runtime. Lines end in LF as on every other system.
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  _setmode(_fileno(stdout), _O_BINARY);
#else
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
#endif

#if PYRANEX_CLI_MQTT
  // The broker is checked before the port is touched: a bad URL or login ends here.
  std::unique_ptr<MqttCliSession> mqtt;
  if (mqttOptions.Requested()) {
    int status = 0;
    mqtt = MqttCliSession::Start(mqttOptions, &status);
    if (!mqtt) return status;
  }
  Session session(*options, mqtt.get());
#else
  Session session(*options, nullptr);
#endif
  return FinishOutput(session.Run());
}
