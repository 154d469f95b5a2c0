#include "core/monitor/monitor_fields.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "core/workbook/config_workbook.h"

namespace pyranex {

namespace {

using F = MonitorFields;

double LowVacLow(const F& f) {
  return static_cast<int>(f.m_vacUltraLow);
}
double LowVacHigh(const F& f) {
  return static_cast<int>(std::max(static_cast<double>(f.m_vacLow), 208.0));
}
double LowVacUltraHigh(const F& f) {
  return static_cast<int>(f.m_vacHigh);
}
double LowFLow(const F& f) {
  return f.m_fUltraLow;
}
double LowFHigh(const F& f) {
  return std::max(static_cast<double>(f.m_fLow), 50.0);
}
double LowFUltraHigh(const F& f) {
  return static_cast<int>(f.m_fHigh);
}

constexpr RangeCheck kNone = RangeCheck::None;
constexpr RangeCheck kIntPart = RangeCheck::IntPart;
constexpr RangeCheck kInteger = RangeCheck::Integer;
constexpr RangeCheck kReal = RangeCheck::Real;

std::vector<FieldSpec> MakeSpecs() {
  return {
      {1100, "Vpv-start(V)", &F::m_vpvStart, kIntPart, 150, 300, nullptr, 0},
      {1101, "T-start(s)", &F::m_tStart, kInteger, 30, 6000, nullptr, 1},
      {1134, "Vac ultra low-voltage vaule(V)", &F::m_vacUltraLow, kIntPart, 170, 277, nullptr, 3},
      {1102, "Vac low voltage min(V)", &F::m_vacLow, kIntPart, 0, 277, LowVacLow, 2},
      {1103, "Vac high voltage max(V)", &F::m_vacHigh, kIntPart, 0, 310, LowVacHigh, 6},
      {1137, "Vac ultra high-voltage value(V)", &F::m_vacUltraHigh, kIntPart, 0, 310,
       LowVacUltraHigh, 7},
      {1140, "Ultra low-frequency value(Hz)", &F::m_fUltraLow, kReal, 45, 60, nullptr, 11},
      {1104, "Low-Frequency min(Hz)", &F::m_fLow, kReal, 0, 60, LowFLow, 10},
      {1105, "Hi-Frequency max(Hz)", &F::m_fHigh, kReal, 0, 65, LowFHigh, 14},
      {1143, "Ultra High-frequency value(Hz)", &F::m_fUltraHigh, kIntPart, 0, 65, LowFUltraHigh,
       15},
      {1106, "DCI-Limit", &F::m_dciLimit, kInteger, 100, 5000, nullptr, 18},
      {1107, "DCI-Shift", &F::m_dciShift, kInteger, 1920, 2080, nullptr, 19},
      {1109, "Contrast", &F::m_contrast, kInteger, 0, 6, nullptr, 21},
      {1108, "Language", &F::m_language, kInteger, 0, 3, nullptr, 20},
      {1096, "Standard", &F::m_standard, kNone, 0, 0, nullptr, -1},
      {1111, "SN1", &F::m_serialNumber, kNone, 0, 0, nullptr, -1},
      {1135, "Time(ms)", &F::m_tVacLow, kInteger, 10, 600000, nullptr, 4},
      {1136, "Time(ms)", &F::m_tVacUltraLow, kInteger, 10, 600000, nullptr, 5},
      {1138, "Time(ms)", &F::m_tVacHigh, kInteger, 10, 600000, nullptr, 8},
      {1139, "Time(ms)", &F::m_tVacUltraHigh, kInteger, 10, 600000, nullptr, 9},
      {1141, "Time(ms)", &F::m_tFLow, kInteger, 10, 600000, nullptr, 12},
      {1142, "Time(ms)", &F::m_tFUltraLow, kInteger, 10, 600000, nullptr, 13},
      {1144, "Time(ms)", &F::m_tFHigh, kInteger, 10, 600000, nullptr, 16},
      {1145, "Time(ms)", &F::m_tFUltraHigh, kInteger, 10, 600000, nullptr, 17},
      {1146, "Kpv_Offset_1(V)", &F::m_kpvOffset1, kReal, -30, 30, nullptr, -1},
      {1147, "Kpv_Gain_1", &F::m_kpvGain1, kReal, 80, 120, nullptr, -1},
      {1148, "Kac_Offset_1(V)", &F::m_kacOffset1, kReal, -30, 30, nullptr, -1},
      {1149, "Kac_Gain_1", &F::m_kacGain1, kReal, 80, 120, nullptr, -1},
      {1150, "Kpv_Offset_2", &F::m_kpvOffset2, kNone, 0, 0, nullptr, -1},
      {1151, "Kpv_Gain_2", &F::m_kpvGain2, kNone, 0, 0, nullptr, -1},
      {1152, "Kac_Offset_2", &F::m_kacOffset2, kNone, 0, 0, nullptr, -1},
      {1153, "Kac_Gain_2", &F::m_kacGain2, kNone, 0, 0, nullptr, -1},
      {1154, "Kac_Offset_3", &F::m_kacOffset3, kNone, 0, 0, nullptr, -1},
      {1155, "Kac_Gain_3", &F::m_kacGain3, kNone, 0, 0, nullptr, -1},
      {1163, "KA_BUS_Offset", &F::m_kaBusOffset, kReal, -30, 30, nullptr, -1},
      {1167, "KA_CPUp_Offset", &F::m_kaCpupOffset, kReal, -200, 200, nullptr, -1},
      {1171, "KB_CPUac_Offset", &F::m_kbCpuacOffset, kReal, -30, 30, nullptr, -1},
      {1164, "KA_BUS_Gain", &F::m_kaBusGain, kReal, 80, 120, nullptr, -1},
      {1168, "KA_CPUp_Gain", &F::m_kaCpupGain, kReal, 80, 120, nullptr, -1},
      {1172, "KB_CPUac_Gain", &F::m_kbCpuacGain, kReal, 80, 120, nullptr, -1},
      {1179, "Full Power Limit(%)", &F::m_fullPowerLimit, kReal, 0, 100, nullptr, -1},
      {1183, "Addr.", &F::m_modbusAddress, kInteger, 0, 255, nullptr, -1},
  };
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A number that fills the whole text (spaces around it allowed) and fits a float.
std::optional<float> ParseFloat(std::string_view text) {
  const std::string s(TrimSpaces(text));
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double d = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0' || !std::isfinite(d) || std::fabs(d) > FLT_MAX) {
    return std::nullopt;
  }
  return static_cast<float>(d);
}

// Decimal digits only (an optional sign where allowed), filling the text, within `max`.
std::optional<int64_t> ParseInteger(std::string_view text, bool allowMinus, uint64_t max,
                                    bool* negative) {
  std::string_view s = TrimSpaces(text);
  *negative = false;
  if (!s.empty() && (s.front() == '+' || (allowMinus && s.front() == '-'))) {
    *negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return static_cast<int64_t>(value);
}

std::optional<uint64_t> ParseUnsigned64(std::string_view text) {
  std::string_view s = TrimSpaces(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::string Unsigned(uint32_t v) {
  return std::to_string(v);
}

uint16_t LowWord(double truncated) {
  if (!std::isfinite(truncated)) return 0;
  const double wrapped = std::fmod(truncated, 65536.0);
  return static_cast<uint16_t>(static_cast<int64_t>(wrapped) & 0xFFFF);
}

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

void LoadDefaults(MonitorFields& f) {
  const MonitorFields d;
  const uint64_t serial = f.m_serialNumber;
  const int32_t site = f.m_siteIndex;
  const int32_t address = f.m_modbusAddress;
  f = d;
  f.m_serialNumber = serial;
  f.m_siteIndex = site;
  f.m_modbusAddress = address;
}

const std::vector<FieldSpec>& FieldSpecs() {
  static const std::vector<FieldSpec> specs = MakeSpecs();
  return specs;
}

const FieldSpec* FindField(int control) {
  for (const FieldSpec& item : FieldSpecs()) {
    if (item.control == control) return &item;
  }
  return nullptr;
}

std::string FormatFloat(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", FLT_DIG, value);
  return buffer;
}

std::string IntegerRangePrompt(const std::string& low, const std::string& high) {
  return "请输入一个在 " + low + " 和 " + high + " 之间的整数。";
}

std::string RealRangePrompt(double low, double high) {
  return "请输入一个在 " + FormatFloat(low) + " 和 " + FormatFloat(high) + " 之间的数字。";
}

std::string FieldText(const MonitorFields& fields, const FieldSpec& item) {
  return std::visit(
      [&](auto member) -> std::string {
        const auto& value = fields.*member;
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, float>) {
          return FormatFloat(value);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return value;
        } else {
          return std::to_string(value);
        }
      },
      item.field);
}

int StandardListIndexFor(std::string_view standard) {
  for (size_t i = 0; i < kStandardListEntries.size(); ++i) {
    const std::string_view entry = kStandardListEntries[i];
    if (entry.size() < standard.size()) continue;
    bool same = true;
    for (size_t c = 0; c < standard.size() && same; ++c) {
      same = Lower(entry[c]) == Lower(standard[c]);
    }
    if (same) return static_cast<int>(i);
  }
  return -1;
}

std::optional<ExchangeFailure> SaveFields(MonitorFields& fields,
                                          const std::function<std::string(int)>& text,
                                          const std::string& standardText) {
  for (const FieldSpec& item : FieldSpecs()) {
    const auto fail = [&](std::string prompt) {
      return std::optional<ExchangeFailure>(ExchangeFailure{item.control, std::move(prompt)});
    };
    const double low = item.lowFrom ? item.lowFrom(fields) : item.low;
    if (auto member = std::get_if<std::string F::*>(&item.field)) {
      fields.** member = standardText;
    } else if (auto member = std::get_if<float F::*>(&item.field)) {
      const std::optional<float> value = ParseFloat(text(item.control));
      if (!value) return fail(kPromptNumber);
      if (item.check == RangeCheck::IntPart) {
        // Truncated toward zero and taken as unsigned: a negative value never passes.
        const auto whole = static_cast<uint32_t>(static_cast<int64_t>(std::trunc(*value)));
        const auto lo = static_cast<uint32_t>(static_cast<int64_t>(low));
        const auto hi = static_cast<uint32_t>(item.high);
        if (std::fabs(*value) >= 4294967296.0f || whole < lo || whole > hi) {
          return fail(IntegerRangePrompt(Unsigned(lo), Unsigned(hi)));
        }
      } else if (item.check == RangeCheck::Real) {
        const auto lo = static_cast<float>(low);
        const auto hi = static_cast<float>(item.high);
        if (*value < lo || *value > hi) return fail(RealRangePrompt(lo, hi));
      }
      fields.** member = *value;
    } else if (auto member = std::get_if<uint32_t F::*>(&item.field)) {
      bool negative = false;
      const auto value =
          ParseInteger(text(item.control), false, std::numeric_limits<uint32_t>::max(), &negative);
      if (!value) return fail(kPromptPositiveInteger);
      const auto v = static_cast<uint32_t>(*value);
      const auto lo = static_cast<uint32_t>(low);
      const auto hi = static_cast<uint32_t>(item.high);
      if (item.check == RangeCheck::Integer && (v < lo || v > hi)) {
        return fail(IntegerRangePrompt(Unsigned(lo), Unsigned(hi)));
      }
      fields.** member = v;
    } else if (auto member = std::get_if<int32_t F::*>(&item.field)) {
      bool negative = false;
      const auto magnitude = ParseInteger(text(item.control), true, 2147483648u, &negative);
      if (!magnitude || (!negative && *magnitude > 2147483647)) return fail(kPromptInteger);
      const auto v = static_cast<int32_t>(negative ? -*magnitude : *magnitude);
      const auto lo = static_cast<int32_t>(low);
      const auto hi = static_cast<int32_t>(item.high);
      if (item.check == RangeCheck::Integer && (v < lo || v > hi)) {
        return fail(IntegerRangePrompt(std::to_string(lo), std::to_string(hi)));
      }
      fields.** member = v;
    } else if (auto member = std::get_if<uint64_t F::*>(&item.field)) {
      const std::optional<uint64_t> value = ParseUnsigned64(text(item.control));
      if (!value) return fail(kPromptPositiveInteger);
      fields.** member = *value;
    }
  }
  return std::nullopt;
}

uint16_t EncodeScaled(double value, double scale) {
  return LowWord(std::trunc(value * scale + 0.5));
}

uint16_t EncodeOffset(float value) {
  const double v = value;
  return LowWord(v > 0 ? std::trunc(v * 10 + 0.5) : std::trunc(v * 10 - 0.5));
}

int StandardNumber(std::string_view standard) {
  for (size_t i = 0; i < StandardNames.size(); ++i) {
    if (StandardNames[i] == standard) return static_cast<int>(i);
  }
  return static_cast<int>(StandardNames.size());
}

std::array<uint16_t, 6> StandardNameWords(std::string_view standard) {
  std::string name(standard == "VDE-OLD" || standard == "VDE-NEW" ? "VDE" : standard);
  name.resize(12, ' ');
  std::array<uint16_t, 6> words{};
  for (size_t i = 0; i < words.size(); ++i) {
    words[i] = static_cast<uint16_t>(static_cast<unsigned char>(name[2 * i]) << 8 |
                                     static_cast<unsigned char>(name[2 * i + 1]));
  }
  return words;
}

WriteBlock ParameterBlock(int block, const MonitorFields& f, bool islandChecked, bool modbusFraming,
                          bool v500) {
  WriteBlock out;
  auto& v = out.values;
  const auto name = StandardNameWords(f.m_standard);
  switch (block) {
    case 0:
      out.firstRegister = 311;
      v = {EncodeScaled(f.m_vpvStart, 10),
           EncodeScaled(f.m_tStart, 1),
           EncodeScaled(f.m_vacLow, 10),
           EncodeScaled(f.m_vacUltraLow, 10),
           EncodeScaled(f.m_tVacLow, 0.1),
           EncodeScaled(f.m_tVacUltraLow, 0.1),
           EncodeScaled(f.m_vacHigh, 10),
           EncodeScaled(f.m_vacUltraHigh, 10),
           EncodeScaled(f.m_tVacHigh, 0.1),
           EncodeScaled(f.m_tVacUltraHigh, 0.1),
           EncodeScaled(f.m_fLow, 100),
           EncodeScaled(f.m_fUltraLow, 100),
           EncodeScaled(f.m_tFLow, 0.1),
           EncodeScaled(f.m_tFUltraLow, 0.1),
           EncodeScaled(f.m_fHigh, 100),
           EncodeScaled(f.m_fUltraHigh, 100),
           EncodeScaled(f.m_tFHigh, 0.1),
           EncodeScaled(f.m_tFUltraHigh, 0.1),
           EncodeScaled(f.m_dciLimit, 1),
           EncodeScaled(f.m_dciShift, 1),
           static_cast<uint16_t>(f.m_language),
           static_cast<uint16_t>(f.m_contrast),
           name[0]};
      break;
    case 1:
      out.firstRegister = 334;
      v.assign(name.begin() + 1, name.end());
      break;
    case 2:
      out.firstRegister = 341;
      v = {EncodeOffset(f.m_kpvOffset1),
           EncodeScaled(f.m_kpvGain1, 10),
           EncodeOffset(f.m_kacOffset1),
           EncodeScaled(f.m_kacGain1, 10),
           EncodeOffset(f.m_kpvOffset2),
           EncodeScaled(f.m_kpvGain2, 10),
           EncodeOffset(f.m_kacOffset2),
           EncodeScaled(f.m_kacGain2, 10),
           EncodeOffset(f.m_kacOffset3),
           EncodeScaled(f.m_kacGain3, 10),
           EncodeOffset(f.m_kaBusOffset),
           EncodeScaled(f.m_kaBusGain, 10),
           EncodeOffset(f.m_kaCpupOffset),
           EncodeScaled(f.m_kaCpupGain, 10),
           EncodeOffset(f.m_kbCpuacOffset),
           EncodeScaled(f.m_kbCpuacGain, 10),
           static_cast<uint16_t>(islandChecked ? 0 : 1),
           static_cast<uint16_t>(StandardNumber(f.m_standard)),
           EncodeScaled(f.m_fullPowerLimit, 10)};
      if (!v500) {
        v.push_back(modbusFraming ? 1 : 0);
        v.push_back(static_cast<uint16_t>(f.m_modbusAddress));
      }
      break;
    default:
      break;
  }
  return out;
}

}  // namespace pyranex
