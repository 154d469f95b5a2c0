// pyranex-cli history: the history store for scripts and cron jobs.

#include "history_command.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>

#include "core/acquisition/live_csv.h"
#include "core/history/calendar.h"
#include "core/history/history_database.h"
#include "core/history/history_import.h"
#include "core/history/history_recorder.h"
#include "core/history/periods.h"
#include "core/platform/paths.h"

namespace pyranex::cli {
namespace {

using namespace pyranex::history;

constexpr int kExitDone = 0;
constexpr int kExitUsage = 1;
constexpr int kExitStore = 2;
constexpr int kExitSkipped = 3;

struct HistoryOptions {
  std::string command;  // import, days, months, years, day
  std::vector<std::filesystem::path> inputs;
  std::optional<DayRange> from, to, day;
  std::string serial;
  std::filesystem::path store;
};

int Usage(const std::string& error) {
  std::fprintf(stderr, "pyranex-cli: %s\nTry 'pyranex-cli --help'.\n", error.c_str());
  return kExitUsage;
}

std::optional<HistoryOptions> Parse(const std::vector<std::string>& args, std::string& error) {
  HistoryOptions o;
  o.store = StorePath(Paths::ForProcess().executableDir);
  if (args.size() < 2) {
    error = "history: missing command (import, days, months, years or day)";
    return std::nullopt;
  }
  o.command = args[1];
  if (o.command != "import" && o.command != "days" && o.command != "months" &&
      o.command != "years" && o.command != "day") {
    error = "history: unknown command '" + o.command + "'";
    return std::nullopt;
  }
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    auto period = [&](std::optional<DayRange>& into) {
      into = hasValue ? ParsePeriod(args[++i]) : std::nullopt;
      if (!into) error = "history: " + arg + " needs a date: YYYY, YYYY-MM or YYYY-MM-DD";
      return into.has_value();
    };
    if (arg == "--store" && hasValue) {
      o.store = args[++i];
    } else if (arg == "--serial" && hasValue) {
      o.serial = args[++i];
    } else if ((arg == "--from" || arg == "--to") && o.command != "import" && o.command != "day") {
      if (!period(arg == "--from" ? o.from : o.to)) return std::nullopt;
    } else if (!arg.empty() && arg[0] == '-') {
      error = "history " + o.command + ": unknown option '" + arg + "'";
      return std::nullopt;
    } else if (o.command == "import") {
      o.inputs.emplace_back(arg);
    } else if (o.command == "day" && !o.day) {
      o.day = ParsePeriod(arg);
      if (!o.day || o.day->first != o.day->last) {
        error = "history day: '" + arg + "' is not a date (YYYY-MM-DD)";
        return std::nullopt;
      }
    } else {
      error = "history " + o.command + ": unexpected '" + arg + "'";
      return std::nullopt;
    }
  }
  if (o.command == "import" && o.inputs.empty()) {
    error = "history import: name the workbooks or the folders that hold them";
    return std::nullopt;
  }
  if (o.command == "day" && !o.day) {
    error = "history day: missing date (YYYY-MM-DD)";
    return std::nullopt;
  }
  return o;
}

int Import(const HistoryOptions& o) {
  std::vector<ImportProblem> problems;
  const auto workbooks = FindWorkbooks(o.inputs, problems);
  for (const auto& p : problems)
    std::fprintf(stderr, "pyranex-cli: %s: %s\n", p.name.c_str(), p.reason.c_str());
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  auto lastShown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  HistoryImporter importer(o.store, SystemClock::Instance());
  const ImportReport report =
      importer.Run(workbooks, [&](size_t done, size_t total, const std::string& name) {
        const auto now = std::chrono::steady_clock::now();
        if (!terminal || (done < total && now - lastShown < std::chrono::milliseconds(100))) {
          return;
        }
        lastShown = now;
        std::fprintf(stderr, "\rImporting workbook %zu of %zu (%zu%%) %-40.40s", done, total,
                     done * 100 / total, name.c_str());
        std::fflush(stderr);
      });
  if (terminal && !workbooks.empty()) std::fputc('\n', stderr);
  for (const auto& s : report.skipped) {
    std::fprintf(stderr, "pyranex-cli: skipped %s: %s\n", s.name.c_str(), s.reason.c_str());
  }
  if (!report.Ok()) {
    std::fprintf(stderr, "pyranex-cli: %s\n", report.failure.c_str());
    return kExitStore;
  }
  std::printf(
      "Imported %zu of %zu workbooks into %s: %zu records added, %zu already there, %zu "
      "skipped\n",
      report.imported, report.workbooks, o.store.string().c_str(), report.recordsAdded,
      report.recordsPresent, report.skipped.size());
  return report.skipped.empty() && problems.empty() ? kExitDone : kExitSkipped;
}

// The inverter the output is about: --serial, or the only one in the store.
std::optional<InverterInfo> ChooseInverter(HistoryDatabase& db, const std::string& serial,
                                           bool& none) {
  SqlError error;
  const auto inverters = db.Inverters(error);
  none = inverters.empty();
  if (error.code != 0) {
    std::fprintf(stderr, "pyranex-cli: %s\n", error.text.c_str());
    return std::nullopt;
  }
  if (!serial.empty()) {
    for (const auto& inverter : inverters) {
      if (inverter.serial == serial) return inverter;
    }
    std::fprintf(stderr, "pyranex-cli: the history store has no inverter %s\n", serial.c_str());
    return std::nullopt;
  }
  if (inverters.size() == 1) return inverters.front();
  if (inverters.size() > 1) {
    std::string list;
    for (const auto& inverter : inverters) list += " " + inverter.serial;
    std::fprintf(stderr,
                 "pyranex-cli: the history store holds several inverters (%s ); choose one "
                 "with --serial\n",
                 list.c_str());
  }
  return std::nullopt;
}

int Query(const HistoryOptions& o) {
  SqlError error;
  auto db = HistoryDatabase::Open(o.store, HistoryDatabase::Access::Read, error);
  if (!db) {
    std::fprintf(stderr, "pyranex-cli: %s\n", error.text.c_str());
    return kExitStore;
  }
  bool none = false;
  const auto inverter = ChooseInverter(*db, o.serial, none);
  if (!inverter && !(none && o.serial.empty())) return error.code != 0 ? kExitStore : kExitUsage;

  if (o.command == "day") {
    std::printf("%s\n", LiveCsvHeader().c_str());
    if (inverter) {
      for (const LiveRecord& r : db->DayRecords(inverter->id, o.day->first, error)) {
        std::printf("%s\n", RecordCsvRow(r).c_str());
      }
    }
  } else {
    std::printf("%s\n", TotalsCsvHeader().c_str());
    if (inverter) {
      const int64_t first = o.from ? o.from->first : INT32_MIN;
      const int64_t last = o.to ? o.to->last : INT32_MAX;
      const PeriodKind kind = o.command == "days"     ? PeriodKind::Day
                              : o.command == "months" ? PeriodKind::Month
                                                      : PeriodKind::Year;
      for (const PeriodTotals& t :
           FoldInto(db->DaySummaries(inverter->id, first, last, error), kind)) {
        std::printf("%s\n", TotalsCsvRow(t).c_str());
      }
    }
  }
  if (error.code != 0) {
    std::fprintf(stderr, "pyranex-cli: %s\n", error.text.c_str());
    return kExitStore;
  }
  return std::fflush(stdout) == 0 ? kExitDone : kExitStore;
}

}  // namespace

bool IsHistoryCommand(const std::string& command) {
  return command == "history";
}

int RunHistory(const std::vector<std::string>& args) {
  std::string error;
  const auto options = Parse(args, error);
  if (!options) return Usage(error);
  return options->command == "import" ? Import(*options) : Query(*options);
}

std::string HistoryUsage() {
  return "History store (hisdata/history.sqlite beside the program; poll and the window fill "
         "it):\n"
         "  pyranex-cli history import <folder or workbook>...\n"
         "                                 read history workbooks into the store (again: adds "
         "nothing)\n"
         "  pyranex-cli history days|months|years [--from DATE] [--to DATE] [--serial N]\n"
         "                                 CSV: date,yield_kwh,peak_w,peak_time,hours\n"
         "  pyranex-cli history day YYYY-MM-DD [--serial N]\n"
         "                                 the day's records as CSV, as poll prints them\n"
         "  DATE is YYYY, YYYY-MM or YYYY-MM-DD; --store FILE reads another store.\n"
         "Exit status: 0 done, 1 bad usage, 2 the store cannot be opened, read or written (or is "
         "of a\nnewer version), 3 some workbooks were skipped (the others went in).\n";
}

std::unique_ptr<RecordSink> MakeHistorySink() {
  HistoryRecorder::Options options;
  options.file = StorePath(Paths::ForProcess().executableDir);
  auto say = [](const std::string& text) {
    std::fprintf(stderr, "pyranex-cli: %s\n", text.c_str());
    std::fflush(stderr);
  };
  options.onProblem = say;
  options.onRecovered = say;
  return std::make_unique<HistoryRecorder>(std::move(options));
}

}  // namespace pyranex::cli
