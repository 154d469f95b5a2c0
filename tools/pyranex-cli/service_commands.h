#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pyranex {
class MonitorEngine;
}

namespace pyranex::cli {

// Exit statuses of the service commands, besides 0 done, 1 bad usage, 2 the port does not open
// and 3 no inverter (or no reply from it).
inline constexpr int kExitInvalidField = 4;
inline constexpr int kExitPassword = 5;
inline constexpr int kExitReadBackDiffers = 6;

enum class ServiceAction { Params, Set, Command };

struct ServiceOptions {
  ServiceAction action = ServiceAction::Params;
  unsigned comPort = 0;
  bool help = false;
  // set
  std::optional<int> standardIndex;  // entry of the dialog's standard list
  bool defaults = false;
  std::optional<std::string> serial;
  std::optional<std::string> address;
  // command: autotest, clear-kwh, gfci, iso or island; `on` for the last three
  std::string command;
  bool on = false;
};

// True for the words that start a service command: params, set, command.
bool IsServiceCommand(const std::string& word);
// Parses the whole argument list (command word first). On failure: nothing, and a reason.
std::optional<ServiceOptions> ParseServiceOptions(const std::vector<std::string>& args,
                                                  std::string* error);
std::string ServiceUsage();

// Runs the command on the program's engines; returns the exit status.
int RunService(const ServiceOptions& options);

// Every display of the monitor as "label: text" lines, then the state and the fault lines.
std::string ParamsListing(const MonitorEngine& engine);

}  // namespace pyranex::cli
