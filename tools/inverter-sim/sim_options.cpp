#include "sim_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace pyranex::sim {

namespace {

// Decimal, or hexadecimal with a 0x prefix (handy for register 361: 0x0101).
template <typename T>
bool ParseNumber(std::string_view text, T min, T max, T* out) {
  T value{};
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  if (ec != std::errc() || ptr != end || value < min || value > max) return false;
  *out = value;
  return true;
}

bool ParseSeconds(std::string_view text, std::chrono::milliseconds* out) {
  double seconds = 0;
  const std::string copy(text);
  char* end = nullptr;
  seconds = std::strtod(copy.c_str(), &end);
  if (copy.empty() || end != copy.c_str() + copy.size() || !(seconds >= 0) || seconds > 86400 * 7) {
    return false;
  }
  *out = std::chrono::milliseconds(std::llround(seconds * 1000.0));
  return true;
}

// "HH:MM" or "HH:MM:SS" to seconds after midnight.
bool ParseTimeOfDay(std::string_view text, double* out) {
  unsigned h = 0, m = 0, s = 0;
  const auto first = text.find(':');
  if (first == std::string_view::npos) return false;
  const auto second = text.find(':', first + 1);
  const auto minutes = text.substr(
      first + 1, second == std::string_view::npos ? std::string_view::npos : second - first - 1);
  if (!ParseNumber(text.substr(0, first), 0u, 23u, &h) || !ParseNumber(minutes, 0u, 59u, &m)) {
    return false;
  }
  if (second != std::string_view::npos && !ParseNumber(text.substr(second + 1), 0u, 59u, &s)) {
    return false;
  }
  *out = h * 3600.0 + m * 60.0 + s;
  return true;
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

}  // namespace

bool FaultOptionTakesValue(std::string_view name) {
  return name == "silent-after" || name == "silent-for" || name == "drop-every" ||
         name == "stray-value" || name == "damage-limit" || name == "delay" ||
         name == "hang-up-after" || name == "hang-up-for" || name == "drop-first";
}

bool ApplyFaultOption(std::string_view name, std::string_view value, FaultConfig* f,
                      std::string* error) {
  const std::string bad = "bad value '" + std::string(value) + "' for " + std::string(name);
  if (name == "clear")
    *f = FaultConfig{};
  else if (name == "silent")
    f->silent = true;
  else if (name == "bad-crc")
    f->badCrc = true;
  else if (name == "stray-byte")
    f->strayByte = true;
  else if (name == "exception")
    f->exceptionReply = true;
  else if (name == "short-reply")
    f->shortReply = true;
  else if (name == "stuck")
    f->stuckPartial = true;
  else if (name == "hang-up-mid-reply")
    f->hangUpMidReply = true;
  else if (name == "noise")
    f->noise = true;
  else if (name == "quiet")
    f->noise = false;
  else if (name == "silent-after") {
    if (!ParseNumber(value, 0, 1'000'000'000, &f->silentAfterReplies)) return Fail(error, bad);
  } else if (name == "silent-for") {
    if (!ParseSeconds(value, &f->silentFor)) return Fail(error, bad);
  } else if (name == "drop-every") {
    if (!ParseNumber(value, 0u, 1'000'000u, &f->dropEvery)) return Fail(error, bad);
  } else if (name == "stray-value") {
    unsigned v = 0;
    const auto* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, v, 16);
    if (ec != std::errc() || ptr != end || v > 0xFF) return Fail(error, bad);
    f->strayValue = static_cast<uint8_t>(v);
    f->strayByte = true;
  } else if (name == "drop-first") {
    if (!ParseNumber(value, 0u, 1'000'000u, &f->dropFirst)) return Fail(error, bad);
  } else if (name == "damage-limit") {
    if (!ParseNumber(value, 0u, 1'000'000u, &f->damageLimit)) return Fail(error, bad);
  } else if (name == "delay") {
    unsigned ms = 0;
    if (!ParseNumber(value, 0u, 600'000u, &ms)) return Fail(error, bad);
    f->delay = std::chrono::milliseconds(ms);
  } else if (name == "hang-up-after") {
    if (!ParseNumber(value, 0, 1'000'000'000, &f->hangUpAfterReplies)) return Fail(error, bad);
  } else if (name == "hang-up-for") {
    if (!ParseSeconds(value, &f->hangUpFor)) return Fail(error, bad);
  } else {
    return Fail(error, "unknown option " + std::string(name));
  }
  return true;
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions* options,
                     std::string* error) {
  SimulatorConfig& c = options->config;
  bool havePorts = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::string_view value;
    if (!arg.starts_with("--")) return Fail(error, "unexpected argument " + std::string(arg));
    std::string_view name = arg.substr(2);
    bool inlineValue = false;
    if (const auto eq = name.find('='); eq != std::string_view::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      inlineValue = true;
    }
    const bool needsValue = name == "ports-dir" || name == "com" || name == "framing" ||
                            name == "serial" || name == "firmware" || name == "rated" ||
                            name == "address" || name == "time-scale" || name == "start" ||
                            name == "record" || FaultOptionTakesValue(name);
    if (needsValue && !inlineValue) {
      if (i + 1 >= args.size()) return Fail(error, "--" + std::string(name) + " needs a value");
      value = args[++i];
    }
    const std::string bad = "bad value '" + std::string(value) + "' for --" + std::string(name);
    if (name == "help") {
      options->help = true;
    } else if (name == "ports-dir") {
      if (value.empty()) return Fail(error, bad);
      c.portsDir = std::string(value);
      havePorts = true;
    } else if (name == "com") {
      if (!ParseNumber(value, 1u, 255u, &c.comNumber)) return Fail(error, bad);
    } else if (name == "framing") {
      if (value == "modbus")
        c.framing = FramingMode::Modbus;
      else if (value == "serial")
        c.framing = FramingMode::Serial;
      else if (value == "both")
        c.framing = FramingMode::Both;
      else
        return Fail(error, bad);
    } else if (name == "serial") {
      if (value.size() != 12 ||
          !ParseNumber(value, uint64_t{0}, uint64_t{999'999'999'999}, &c.identity.serialNumber)) {
        return Fail(error, bad + " (twelve digits)");
      }
    } else if (name == "firmware") {
      if (!ParseNumber(value, uint16_t{0}, uint16_t{65535}, &c.identity.firmwareVersion)) {
        return Fail(error, bad);
      }
    } else if (name == "rated") {
      if (!ParseNumber(value, uint16_t{1}, uint16_t{65535}, &c.identity.ratedPower)) {
        return Fail(error, bad);
      }
    } else if (name == "address") {
      if (!ParseNumber(value, uint16_t{0}, uint16_t{65535}, &c.identity.addressRegister)) {
        return Fail(error, bad);
      }
    } else if (name == "time-scale") {
      const std::string copy(value);
      char* end = nullptr;
      const double scale = std::strtod(copy.c_str(), &end);
      if (copy.empty() || end != copy.c_str() + copy.size() || !(scale > 0) || scale > 1e6) {
        return Fail(error, bad);
      }
      c.timeScale = scale;
    } else if (name == "start") {
      if (!ParseTimeOfDay(value, &c.startSecondOfDay)) return Fail(error, bad + " (HH:MM[:SS])");
    } else if (name == "pace") {
      c.paceReplies = true;
    } else if (name == "record") {
      if (value.empty()) return Fail(error, bad);
      c.recordFile = std::string(value);
    } else if (!ApplyFaultOption(name, value, &c.faults, error)) {
      if (error) *error = "--" + *error;
      return false;
    }
  }
  if (!options->help && !havePorts) return Fail(error, "--ports-dir is required");
  return true;
}

std::string SimUsage() {
  return R"(Usage: inverter-sim --ports-dir DIR [--com N] [options]

A simulated PV inverter speaking Modbus RTU on a pseudo-terminal. It puts itself on COM N by
creating the symbolic link DIR/COM<N> to its terminal; the program finds COM N through the
folder `ports` beside its executable, so pass that folder as DIR.

Inverter:
  --com N               COM number, 1..255 (default 1)
  --framing MODE        modbus (one-byte address, answers the 0xFF probe; default),
                        serial (serial-number address, answers the 99..99 broadcast), or both
  --serial DIGITS       twelve-digit serial number (default 123456789012)
  --firmware N          register 45, version x 100: 500 is "V5.00" (default 500)
  --rated N             register 44, rated power in units of 100 W (default 50 = 5 kW)
  --address N           register 361; its low byte is the Modbus slave address (default 1)
  --time-scale X        simulated seconds per real second (default 1; 60 = a day in 24 min)
  --start HH:MM[:SS]    time of day to start at (default: the local time now)
  --record FILE         append every request and reply, with times, to FILE
  --pace                send replies at the pace of 9600 baud (a live reply takes 70 ms)

Faults (also typed on standard input while running, without the dashes, e.g. "delay 500",
"hang-up 5" to hang up now for 5 s, "clear" to end all faults):
  --silent              answer nothing
  --silent-after N      answer the first N requests, then nothing
  --silent-for S        answer nothing for the first S seconds
  --drop-every N        leave out every Nth reply
  --bad-crc             send replies with a wrong CRC
  --stray-byte          put one stray byte (00) before each reply
  --stray-value HEX     the stray byte's value (implies --stray-byte)
  --exception           answer with an exception (function | 0x80, code 2)
  --short-reply         answer reads with one register fewer than asked
  --stuck               send only the first part of each reply
  --damage-limit N      damage only the next N replies (default: all)
  --delay MS            wait MS milliseconds before each reply
  --hang-up-after N     after N replies close the line like an unplugged adapter...
  --hang-up-for S       ...and come back on the same COM number after S seconds (default 3)
  --hang-up-mid-reply   ...sending the first half of that reply before the line goes
  --drop-first N        leave out the first N replies (an inverter still starting up)
  --noise               stream random bytes without pause, as a noisy line or a wrong
                        device does ("quiet" typed while running ends it)

  --help                this text

Prints "READY <link> -> <terminal>" when serving; stops on SIGINT or SIGTERM and removes the link.
)";
}

}  // namespace pyranex::sim
