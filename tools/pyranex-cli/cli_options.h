#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pyranex::cli {

enum class Command { Help, Identify, Poll };

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

}  // namespace pyranex::cli
