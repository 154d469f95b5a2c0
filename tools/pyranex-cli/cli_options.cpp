#include "cli_options.h"

#include <cerrno>
#include <charconv>
#include <system_error>

namespace pyranex::cli {

namespace {

std::optional<unsigned> ParseNumber(const std::string& text, unsigned low, unsigned high) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<unsigned> ParseComPort(const std::string& text) {
  std::string digits = text;
  if (digits.size() > 3 && (digits[0] == 'C' || digits[0] == 'c') &&
      (digits[1] == 'O' || digits[1] == 'o') && (digits[2] == 'M' || digits[2] == 'm')) {
    digits = digits.substr(3);
  }
  return ParseNumber(digits, 1, 255);
}

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args,
                                          std::string* error) {
  CliOptions options;
  if (args.empty()) {
    *error = "missing command (identify, poll or ports)";
    return std::nullopt;
  }
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") return options;
  }
  const std::string& command = args[0];
  if (command == "ports") {
    options.command = Command::Ports;
    if (args.size() > 1) {
      *error = "ports takes no arguments";
      return std::nullopt;
    }
    return options;
  }
  if (command == "identify") {
    options.command = Command::Identify;
  } else if (command == "poll") {
    options.command = Command::Poll;
  } else {
    *error = "unknown command '" + command + "'";
    return std::nullopt;
  }
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
  for (size_t i = 2; i < args.size(); ++i) {
    if (options.command == Command::Poll && args[i] == "--count" && i + 1 < args.size()) {
      options.count = ParseNumber(args[i + 1], 1, 100'000'000);
      if (!options.count) {
        *error = "bad --count '" + args[i + 1] + "' (a whole number from 1)";
        return std::nullopt;
      }
      ++i;
      continue;
    }
    if (options.command == Command::Poll && args[i] == "--wait") {
      options.wait = true;
      continue;
    }
    *error = "unexpected argument '" + args[i] + "'";
    return std::nullopt;
  }
  return options;
}

std::string CliUsage() {
  return "Usage: pyranex-cli identify <COM>\n"
         "       pyranex-cli poll <COM> [--count N] [--wait]\n"
         "       pyranex-cli ports\n"
         "       pyranex-cli --help\n"
         "\n"
         "Speaks to one inverter on serial port COM<n> (Modbus RTU, 9600 8N1), as the program "
         "does.\n"
         "  identify  Finds the inverter (standard Modbus probe, then the serial-number "
         "broadcast)\n"
         "            and prints its framing, address or serial number, firmware and rated power.\n"
         "  poll      Prints one CSV line per live data record: the time, then the fourteen "
         "values\n"
         "            of the export columns. Ends after N records with --count, on Ctrl-C, or\n"
         "            when its output is closed. Saves the day's history workbooks in hisdata/\n"
         "            beside this program, as the program does (every ten minutes and at the\n"
         "            change of day), and follows the link: lost devices are reopened and the\n"
         "            inverter is found again by itself; changes of the link go to standard "
         "error.\n"
         "            --wait keeps looking for an inverter that does not answer yet (asleep\n"
         "            before sunrise) instead of giving up.\n"
         "  ports     Lists the COM numbers as the window's COM dialog does: each number with\n"
         "            its device, adapter name, and \"not connected\" for a remembered one.\n"
         "\n"
         "<COM> is a number or COMn. COM n is the symbolic link ports/COM<n> beside this program\n"
         "when there is one. Serial devices (/dev/ttyS* with a UART, /dev/ttyUSB*, /dev/ttyACM*)\n"
         "get the lowest free number when first seen, in that order, and keep it in comports.txt\n"
         "beside this program: an adapter by its /dev/serial/by-id name, so its number stays "
         "while\n"
         "it is unplugged and when it is plugged in again, in any socket. A lost device is "
         "reopened\n"
         "only when that same device is back; nothing else behind its number is ever opened.\n"
         "Notices and link errors go to standard error; traffic logs of failures go to backdata/\n"
         "beside this program.\n"
         "\n"
         "Exit status: 0 done, 1 bad usage, 2 the port does not open (the reason is said),\n"
         "3 no inverter answered, 7 the output could not be written (a full disk, an I/O error;\n"
         "said on standard error, and the last line may be cut short). An output whose reader\n"
         "has gone (poll | head -2) ends the command with 0. The service commands add 4 to 6.\n";
}

std::string PortNotOpenText(unsigned comPort, [[maybe_unused]] int error,
                            const std::string& systemText) {
  std::string reason;
#ifndef _WIN32
  switch (error) {
    case ENOENT:
      reason = "no such port, or its device is not connected";
      break;
    case ENODEV:
    case ENXIO:
      reason = "no device behind it";
      break;
    case ENOTTY:
    case EISDIR:
      reason = "not a serial terminal";
      break;
    case EBUSY:
      reason = "in use by another program";
      break;
    case EACCES:
    case EPERM:
      reason = "no access (serial ports usually belong to the dialout group)";
      break;
    default:
      break;
  }
#endif
  std::string text = "COM" + std::to_string(comPort) + " does not open: ";
  if (reason.empty()) return text + systemText;
  return text + reason + " (" + systemText + ")";
}

std::string OutputFailedText(int error) {
  const std::string why = error != 0 ? ": " + std::generic_category().message(error) : "";
  return "cannot write the output" + why + "; stopped (the last line may be cut short)";
}

bool IsReaderGone(int error) {
  return error == EPIPE;
}

}  // namespace pyranex::cli
