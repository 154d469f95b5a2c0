#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pyranex::cli {

// Exit statuses of every command (the service commands add 4 to 6).
inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitPortNotOpen = 2;
inline constexpr int kExitNoInverter = 3;
inline constexpr int kExitOutputFailed = 7;

enum class Command { Help, Identify, Poll, Ports };

struct CliOptions {
  Command command = Command::Help;
  unsigned comPort = 0;
  std::optional<unsigned> count;  // poll: stop after this many samples
  bool wait = false;              // poll: keep looking for an inverter that does not answer yet
};

// Parses the arguments after the program name. On failure returns nothing and a one-line
// reason in `error`.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string* error);

// "3", "COM3" and "com3" all name COM 3 (1..255).
std::optional<unsigned> ParseComPort(const std::string& text);

std::string CliUsage();

// The line said when COM n does not open: the reason in words, then the system's own text of
// `error` (an errno value; GetLastError() on Windows). Used by every command.
std::string PortNotOpenText(unsigned comPort, int error, const std::string& systemText);

// The line said when standard output cannot be written (`error` an errno value, 0 unknown).
std::string OutputFailedText(int error);

// A write error that only means the reader went away (`poll | head -2`): no failure.
bool IsReaderGone(int error);

}  // namespace pyranex::cli
