// history-fill: simulated days into a history store, for pictures and trials.
//   history-fill --store FILE --from YYYY-MM-DD --to YYYY-MM-DD [--serial N] [--rated N]
//                [--step SECONDS] [--offset SECONDS]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/history/calendar.h"
#include "history_fill.h"

int main(int argc, char** argv) {
  using namespace pyranex::history;
  FillOptions options;
  bool from = false, to = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--store") {
      options.store = value;
    } else if (name == "--from" || name == "--to") {
      const auto day = ParsePeriod(value);
      if (!day) {
        std::fprintf(stderr, "history-fill: %s is not a date\n", value.c_str());
        return 1;
      }
      (name == "--from" ? options.firstDay : options.lastDay) = day->first;
      (name == "--from" ? from : to) = true;
    } else if (name == "--serial") {
      options.serial = value;
    } else if (name == "--rated") {
      options.ratedPower = std::atoi(value.c_str());
    } else if (name == "--step") {
      options.stepSeconds = std::max(1, std::atoi(value.c_str()));
    } else if (name == "--offset") {
      options.utcOffset = std::atoi(value.c_str());
    } else {
      std::fprintf(stderr, "history-fill: unknown option %s\n", name.c_str());
      return 1;
    }
  }
  if (options.store.empty() || !from || !to) {
    std::fprintf(stderr, "usage: history-fill --store FILE --from YYYY-MM-DD --to YYYY-MM-DD\n");
    return 1;
  }
  std::string why;
  const int64_t written = FillSimulatedDays(options, why);
  if (written < 0) {
    std::fprintf(stderr, "history-fill: %s\n", why.c_str());
    return 2;
  }
  std::printf("history-fill: %lld records\n", static_cast<long long>(written));
  return 0;
}
