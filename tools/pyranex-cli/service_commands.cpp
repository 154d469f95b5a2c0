// The service commands: the monitor engine opened through the power view, exactly as "Par..."
// opens it, with this program's main loop standing in for the dialog's modal loop.

#include "service_commands.h"
#include "stderr_notifier.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli_options.h"
#include "core/acquisition/message_queue.h"
#include "core/acquisition/power_view_engine.h"
#include "core/monitor/monitor_engine.h"
#include "core/monitor/password.h"
#include "core/monitor/register_display.h"
#include "core/platform/clock.h"
#include "core/platform/paths.h"
#include "core/workbook/config_workbook.h"

namespace pyranex::cli {

namespace {

volatile std::sig_atomic_t g_serviceStop = 0;
extern "C" void OnServiceStop(int) {
  g_serviceStop = 1;
}

constexpr uint32_t kIdentificationMs = 4600;
constexpr uint32_t kModelPollMs = 7000;
constexpr uint32_t kOpenMs = 10000;    // until the dialog opens at the end of an exchange
constexpr uint32_t kPassMs = 60000;    // a read pass or a write, resends included
constexpr uint32_t kReadsPerPass = 5;  // steps 0 to 4

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The parameter-setting password: PYRANEX_PASSWORD, else typed at the terminal without echo.
std::optional<std::string> ReadPassword() {
  if (const char* env = std::getenv("PYRANEX_PASSWORD")) return std::string(env);
  const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return std::nullopt;
  termios saved{};
  const bool isTerminal = ::tcgetattr(tty, &saved) == 0;
  if (isTerminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  const char prompt[] = "Parameter-setting password: ";
  [[maybe_unused]] auto w = ::write(tty, prompt, sizeof prompt - 1);
  std::string text;
  char c = 0;
  while (::read(tty, &c, 1) == 1 && c != '\n' && c != '\r') text.push_back(c);
  if (isTerminal) ::tcsetattr(tty, TCSAFLUSH, &saved);
  ::close(tty);
  if (!isTerminal) return std::nullopt;
  return text;
}

// The display's label, or the name of the field it stands beside ("Time(ms)" says which time).
std::string ListingLabel(const RegisterPlace& place) {
  const FieldSpec* field = place.edit != 0 ? FindField(place.edit) : nullptr;
  return std::string(field != nullptr ? field->label : place.label);
}

// Where a refused value came from, for the line that names it.
const char* OriginText(FieldOrigin origin) {
  switch (origin) {
    case FieldOrigin::Read:
    case FieldOrigin::Unreadable:
      return "the inverter's value";
    case FieldOrigin::Typed:
      return "as given";
    case FieldOrigin::Chosen:
      return "from the standard or the defaults";
    case FieldOrigin::NotInStandard:
      return "kept: the standard has no value for it";
    case FieldOrigin::Unset:
      break;
  }
  return "never read";
}

class ServiceSession final : public MonitorGate {
 public:
  ServiceSession(const ServiceOptions& options, bool fullAccess, const Paths& paths,
                 const CConfigWorkbook& workbook)
      : options_(options), fullAccess_(fullAccess), paths_(paths), workbook_(workbook) {
    PowerViewServices services(LinkContext{queue_, clock_, notifier_, paths_, {}});
    services.monitorGate = this;
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
    const int status = Open();
    engine_->Disconnect();
    return status;
  }

  // --- MonitorGate: the password was asked before the link was opened ----------------------
  std::optional<bool> AskPassword() override { return fullAccess_; }
  std::shared_ptr<MonitorDialog> CreateMonitor(bool fullAccess, CInverterCom& link) override {
    MonitorServices services{link, notifier_, &workbook_, nullptr, fullAccess, {}};
    monitor_ = std::make_shared<MonitorEngine>(services);
    return monitor_;
  }
  void RunModal(MonitorDialog&) override {
    monitor_->Start();
    status_ = Work(*monitor_);
    opened_ = true;
  }

 private:
  template <typename Done>
  bool RunUntil(Done done, uint32_t limitMs) {
    const uint32_t start = clock_.TickCount();
    while (g_serviceStop == 0) {
      if (done()) return true;
      if (monitor_ && monitor_->HasStoppedPolling()) return false;
      if (clock_.TickCount() - start > limitMs) return false;
      if (auto message = queue_.WaitTake(std::chrono::milliseconds(100))) {
        engine_->HandleMessage(*message);
      }
    }
    return false;
  }

  int Open() {
    CInverterCom& com = engine_->Link();
    if (!RunUntil([&] { return !com.m_identifying.load(); }, kIdentificationMs)) {
      if (g_serviceStop == 0) {
        std::fprintf(stderr, "pyranex-cli: no inverter answered on COM%u\n", options_.comPort);
      }
      return g_serviceStop ? 1 : 3;
    }
    // The model poll teaches the firmware version that decides the block sizes.
    RunUntil([&] { return engine_->m_pollMode.load() == 1; }, kModelPollMs);
    engine_->OnParSetting();
    if (!RunUntil([&] { return opened_; }, kOpenMs) && !opened_) return NoReply();
    return status_;
  }

  int NoReply() {
    if (g_serviceStop != 0) return 1;
    std::fprintf(stderr, "pyranex-cli: the inverter on COM%u stopped answering\n",
                 options_.comPort);
    return 3;
  }

  bool WaitForPass(MonitorEngine& monitor) {
    const uint32_t target = monitor.CompletedReads() + kReadsPerPass;
    return RunUntil([&] { return monitor.CompletedReads() >= target; }, kPassMs);
  }

  int Work(MonitorEngine& monitor) {
    if (!RunUntil([&] { return monitor.EditsLoaded(); }, kPassMs)) return NoReply();
    switch (options_.action) {
      case ServiceAction::Params:
        std::fputs(ParamsListing(monitor).c_str(), stdout);
        return 0;
      case ServiceAction::Set:
        return Set(monitor);
      case ServiceAction::Command:
        return Command(monitor);
    }
    return 1;
  }

  int Set(MonitorEngine& monitor) {
    if (options_.address) {
      // An address the inverter never takes would be dropped without a word.
      const std::string reason = monitor.AddressNotWrittenReason();
      if (!reason.empty()) {
        std::fprintf(stderr, "pyranex-cli: --address cannot be set: %s; nothing was written\n",
                     reason.c_str());
        return kExitInvalidField;
      }
    }
    if (options_.defaults) monitor.OnDefaultParameter();
    if (options_.standardIndex) {
      monitor.OnStandardChanged(*options_.standardIndex);
      // The engine has said which rows are missing.
      if (!monitor.StandardMissing().empty()) {
        std::fprintf(stderr, "pyranex-cli: nothing was written\n");
        return kExitInvalidField;
      }
    }
    if (options_.serial) {
      monitor.SetControlText(ctl::kSerialEntry, *options_.serial);
      // A legacy serial text is converted as Enter converts it in the dialog.
      if (options_.serial->size() == 10) monitor.ConvertSerialEntry();
    }
    if (options_.address) monitor.SetControlText(ctl::kAddressEntry, *options_.address);
    switch (monitor.OnSetAllParameter()) {
      case MonitorEngine::SetAllOutcome::Started:
        break;
      case MonitorEngine::SetAllOutcome::NoAccess:
        return kExitPassword;
      case MonitorEngine::SetAllOutcome::FieldInvalid:
      case MonitorEngine::SetAllOutcome::SerialInvalid:
      case MonitorEngine::SetAllOutcome::NotChosen:
        ReportRefusal(monitor);
        return kExitInvalidField;
    }
    const MonitorFields written = monitor.Fields();
    const bool island = monitor.IsChecked(ctl::kIslandTest);
    if (!RunUntil([&] { return monitor.IsEnabled(ctl::kSetAllParameter); }, kPassMs)) {
      return NoReply();
    }
    if (!WaitForPass(monitor)) return NoReply();
    std::fputs(ParamsListing(monitor).c_str(), stdout);
    const std::vector<std::string> differences = monitor.ReadBackDifferences(written, island);
    for (const std::string& line : differences) {
      std::fprintf(stderr, "pyranex-cli: %s\n", line.c_str());
    }
    return differences.empty() ? 0 : kExitReadBackDiffers;
  }

  // Names the refused field and the value it holds, after the prompt the engine printed.
  static void ReportRefusal(const MonitorEngine& monitor) {
    const std::optional<ExchangeFailure> failure = monitor.LastFailure();
    if (failure && failure->control == ctl::kSerialEntry &&
        monitor.Fields().m_serialNumber > kMaxSerialNumber) {
      std::fprintf(stderr, "pyranex-cli: SN1 holds %s; nothing was written\n",
                   std::to_string(monitor.Fields().m_serialNumber).c_str());
    } else if (failure && failure->control != ctl::kIslandTest &&
               failure->control != ctl::kStandardList) {
      std::fprintf(stderr, "pyranex-cli: %s holds \"%s\" (%s); nothing was written\n",
                   failure->label.c_str(), monitor.Text(failure->control).c_str(),
                   OriginText(monitor.TextOrigin(failure->control)));
    } else if (failure) {
      std::fprintf(stderr, "pyranex-cli: %s: %s; nothing was written\n", failure->label.c_str(),
                   OriginText(monitor.Origin(failure->control)));
    } else {
      std::fprintf(stderr, "pyranex-cli: nothing was written\n");
    }
  }

  int Command(MonitorEngine& monitor) {
    const std::string& c = options_.command;
    bool requested = false;
    if (c == "autotest") requested = monitor.OnAutoTest();
    if (c == "clear-kwh") requested = monitor.OnClearKwh();
    if (c == "gfci") requested = monitor.OnGfciFunction(options_.on);
    if (c == "iso") requested = monitor.OnIsoFunction(options_.on);
    // The box is ticked to switch the island test on; a ticked box writes 0.
    if (c == "island") requested = monitor.OnIslandTestSwitch(options_.on);
    if (!requested) {
      std::fprintf(stderr, "pyranex-cli: %s\n", monitor.Status().c_str());
      return kExitInvalidField;
    }
    if (!RunUntil([&] { return monitor.IsEnabled(ctl::kAutoTest); }, kPassMs)) return NoReply();
    if (!WaitForPass(monitor)) return NoReply();
    std::fputs(ParamsListing(monitor).c_str(), stdout);
    return 0;
  }

  ServiceOptions options_;
  bool fullAccess_;
  Paths paths_;
  const CConfigWorkbook& workbook_;
  SystemClock clock_;
  StderrNotifier notifier_;
  BlockingMessageQueue queue_;
  std::unique_ptr<PowerViewEngine> engine_;
  std::shared_ptr<MonitorEngine> monitor_;
  bool opened_ = false;
  int status_ = 1;
};

bool NeedsPassword(ServiceAction action) {
  return action != ServiceAction::Params;
}

}  // namespace

bool IsServiceCommand(const std::string& word) {
  return word == "params" || word == "set" || word == "command";
}

std::optional<ServiceOptions> ParseServiceOptions(const std::vector<std::string>& args,
                                                  std::string* error) {
  ServiceOptions options;
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    }
  }
  if (args.empty() || !IsServiceCommand(args[0])) {
    *error = "missing command";
    return std::nullopt;
  }
  options.action = args[0] == "params" ? ServiceAction::Params
                   : args[0] == "set"  ? ServiceAction::Set
                                       : ServiceAction::Command;
  if (args.size() < 2) {
    *error = "missing COM port number";
    return std::nullopt;
  }
  const std::optional<unsigned> port = ParseComPort(args[1]);
  if (!port) {
    *error = "bad COM port '" + args[1] + "' (1 to 255, e.g. 3 or COM3)";
    return std::nullopt;
  }
  options.comPort = *port;
  size_t i = 2;
  if (options.action == ServiceAction::Command) {
    if (i >= args.size()) {
      *error = "missing device command (autotest, clear-kwh, gfci, iso or island)";
      return std::nullopt;
    }
    options.command = args[i++];
    const bool switched =
        options.command == "gfci" || options.command == "iso" || options.command == "island";
    if (!switched && options.command != "autotest" && options.command != "clear-kwh") {
      *error = "unknown device command '" + options.command + "'";
      return std::nullopt;
    }
    if (switched) {
      if (i >= args.size() || (args[i] != "on" && args[i] != "off")) {
        *error = options.command + " needs on or off";
        return std::nullopt;
      }
      options.on = args[i++] == "on";
    }
  }
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (options.action == ServiceAction::Set && arg == "--defaults") {
      options.defaults = true;
    } else if (options.action == ServiceAction::Set && arg == "--standard" && hasValue) {
      const std::string name = Lower(args[++i]);
      for (size_t k = 0; k < kStandardListEntries.size(); ++k) {
        if (Lower(std::string(kStandardListEntries[k])) == name) {
          options.standardIndex = static_cast<int>(k);
        }
      }
      if (!options.standardIndex) {
        *error = "unknown standard '" + args[i] + "' (one of the dialog's list: AS4777, ...)";
        return std::nullopt;
      }
    } else if (options.action == ServiceAction::Set && arg == "--serial" && hasValue) {
      options.serial = args[++i];
    } else if (options.action == ServiceAction::Set && arg == "--address" && hasValue) {
      options.address = args[++i];
    } else {
      *error = "unexpected argument '" + arg + "'";
      return std::nullopt;
    }
  }
  if (options.action == ServiceAction::Set &&
      options.defaults == options.standardIndex.has_value()) {
    *error = "set needs exactly one of --standard NAME and --defaults";
    return std::nullopt;
  }
  return options;
}

std::string ServiceUsage() {
  // The standard names, wrapped under the text they belong to.
  std::string standards;
  size_t column = 22;
  for (const auto name : kStandardListEntries) {
    const bool first = standards.empty();
    if (!first && column + name.size() + 2 > 88) {
      standards += ",\n           ";
      column = 11;
    } else if (!first) {
      standards += ", ";
      column += 2;
    }
    standards += name;
    column += name.size();
  }
  return "Service commands (the \"Parameter setting and monitor\" dialog without a window):\n"
         "       pyranex-cli params <COM>\n"
         "       pyranex-cli set <COM> (--standard NAME | --defaults) [--serial N] [--address A]\n"
         "       pyranex-cli command <COM> autotest|clear-kwh|gfci on|off|iso on|off|island "
         "on|off\n"
         "\n"
         "  params   Reads every value once and prints each field as the dialog shows it\n"
         "           (\"label: text\"), then the operating state and the current faults.\n"
         "  set      Reads the inverter's values, loads the grid standard's values from\n"
         "           datacfg.xls in the current folder (or the defaults), checks every field\n"
         "           as the dialog does, writes all parameters (\"Set all parameter\") and\n"
         "           prints what the inverter reads back. It refuses (nothing is sent) while\n"
         "           a field holds a value the inverter gave outside the rules, or one the\n"
         "           standard has no value for in datacfg.xls.\n"
         "           --serial takes what the dialog's SN1 entry takes: a number of up to 12\n"
         "           digits, written with leading zeros (123 is 000000000123), or a\n"
         "           10-character legacy serial text, converted with the model codes of\n"
         "           datacfg.xls; the serial number to write is printed before the password\n"
         "           is asked. --address sets a new Std. Modbus address (0 to 255), only on\n"
         "           an inverter in Std. Modbus framing whose firmware is not V5.00.\n"
         "           Standards: " +
         standards +
         "\n           (quote a name with a space: --standard \"Island mode\").\n"
         "  command  Sends one device command: equipment auto test, clear kWh, or switches\n"
         "           the GFCI function, the ISO function or the island test on or off.\n"
         "\n"
         "set and command write to the inverter and need the parameter-setting password: it is\n"
         "read from the environment variable PYRANEX_PASSWORD, or else asked for at the\n"
         "terminal without echo. params needs none.\n"
         "\n"
         "Exit status: 0 done, 1 bad usage, 2 the port does not open, 3 no inverter answered or\n"
         "it stopped answering, 4 a field is invalid or cannot be written (its prompt or the\n"
         "reason is printed; nothing was written), 5 wrong or missing password (nothing was\n"
         "written), 6 a value read back differs from what was written, 7 the output could not be\n"
         "written.\n";
}

std::string ParamsListing(const MonitorEngine& engine) {
  std::string out;
  const auto line = [&out](const std::string& label, const std::string& text) {
    out += label + ": " + text + "\n";
  };
  line("SN1", engine.Text(ctl::kSerialDisplay));
  for (const RegisterPlace& place : RegisterPlaces()) {
    line(ListingLabel(place), engine.Text(place.display));
    if (place.registerNumber == 76) {
      line("Is max", engine.Text(ctl::kIsMax));
      line("Is min", engine.Text(ctl::kIsMin));
    }
    if (place.registerNumber == 67) line("Standard", engine.Text(ctl::kStandardDisplay));
  }
  const auto box = [&](const char* label, int id) {
    line(label, engine.IsChecked(id) ? "on" : "off");
  };
  box("GFCI function", ctl::kGfci);
  box("ISO function", ctl::kIso);
  box("Island test switch", ctl::kIslandTest);
  box("Std. Modbus", ctl::kStdModbus);
  line("State", engine.StateText());
  for (const std::string& fault : engine.FaultLines()) line("Current fault", fault);
  for (const auto& [id, reason] : engine.Marks()) {
    const FieldSpec* field = FindField(id);
    line("Marked", std::string(field ? field->label : "") + ": " + reason);
  }
  return out;
}

int RunService(const ServiceOptions& options) {
  if (options.help) {
    std::fputs(ServiceUsage().c_str(), stdout);
    return 0;
  }
  const Paths paths = Paths::ForProcess();
  const SystemClock clock;
  CConfigWorkbook workbook(clock, paths);
  workbook.ReadParameterSheet();
  workbook.ReadModelSheet();
  workbook.CloseConnection();
  // What cannot be written is refused before the password is asked and the port opened.
  if (options.standardIndex) {
    const std::string name(kStandardListEntries[static_cast<size_t>(*options.standardIndex)]);
    const std::vector<std::string_view> missing =
        workbook.MissingStandardValues(StandardNumber(name));
    if (!missing.empty()) {
      std::string rows;
      for (const std::string_view row : missing)
        rows += (rows.empty() ? "" : ", ") + std::string(row);
      const std::string reason =
          workbook.ParameterTable[0].empty() ? " (" + workbook.LastError() + ")" : std::string();
      std::fprintf(stderr,
                   "pyranex-cli: %s: %s in %s holds no values for %s%s; nothing was written\n",
                   name.c_str(), kConfigWorkbookName, paths.currentDir.string().c_str(),
                   rows.c_str(), reason.c_str());
      return kExitInvalidField;
    }
  }
  if (options.serial) {
    // As the dialog's entry takes it; the site of a 2010 legacy text is the list's first.
    const std::optional<uint64_t> serial = SerialToWrite(*options.serial, 0, &workbook);
    if (!serial) {
      std::fprintf(stderr,
                   "pyranex-cli: --serial %s is no serial number (up to 12 digits, or a "
                   "10-character legacy serial text); nothing was written\n",
                   options.serial->c_str());
      return kExitInvalidField;
    }
    std::printf("Serial number to write: %s\n", SerialNumberDigits(*serial).c_str());
    std::fflush(stdout);
  }
  bool fullAccess = false;
  if (NeedsPassword(options.action)) {
    const std::optional<std::string> password = ReadPassword();
    if (!password) {
      std::fprintf(stderr,
                   "pyranex-cli: this command writes to the inverter and needs the "
                   "parameter-setting password: set PYRANEX_PASSWORD or run it at a terminal; "
                   "nothing was sent\n");
      return kExitPassword;
    }
    fullAccess = IsParameterPassword(*password);
    if (!fullAccess) {
      std::fprintf(stderr, "pyranex-cli: wrong parameter-setting password; nothing was sent\n");
      return kExitPassword;
    }
  }
  struct sigaction action {};
  action.sa_handler = OnServiceStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  ServiceSession session(options, fullAccess, paths, workbook);
  return session.Run();
}

}  // namespace pyranex::cli
