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

// The standard list is taken from its selection, not from a text.
constexpr int kStandardListControl = 1096;

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
      {1100, "Vpv-start(V)", &F::m_vpvStart, kIntPart, 150, 300, nullptr, 0, 10},
      {1101, "T-start(s)", &F::m_tStart, kInteger, 30, 6000, nullptr, 1, 1},
      {1134, "Vac ultra low-voltage vaule(V)", &F::m_vacUltraLow, kIntPart, 170, 277, nullptr, 3,
       10},
      {1102, "Vac low voltage min(V)", &F::m_vacLow, kIntPart, 0, 277, LowVacLow, 2, 10},
      {1103, "Vac high voltage max(V)", &F::m_vacHigh, kIntPart, 0, 310, LowVacHigh, 6, 10},
      {1137, "Vac ultra high-voltage value(V)", &F::m_vacUltraHigh, kIntPart, 0, 310,
       LowVacUltraHigh, 7, 10},
      {1140, "Ultra low-frequency value(Hz)", &F::m_fUltraLow, kReal, 45, 60, nullptr, 11, 100},
      {1104, "Low-Frequency min(Hz)", &F::m_fLow, kReal, 0, 60, LowFLow, 10, 100},
      {1105, "Hi-Frequency max(Hz)", &F::m_fHigh, kReal, 0, 65, LowFHigh, 14, 100},
      {1143, "Ultra High-frequency value(Hz)", &F::m_fUltraHigh, kIntPart, 0, 65, LowFUltraHigh, 15,
       100},
      {1106, "DCI-Limit", &F::m_dciLimit, kInteger, 100, 5000, nullptr, 18, 1},
      {1107, "DCI-Shift", &F::m_dciShift, kInteger, 1920, 2080, nullptr, 19, 1},
      {1109, "Contrast", &F::m_contrast, kInteger, 0, 6, nullptr, 21},
      {1108, "Language", &F::m_language, kInteger, 0, 3, nullptr, 20},
      {1096, "Standard", &F::m_standard, kNone, 0, 0, nullptr, -1},
      {1111, "SN1", &F::m_serialNumber, kNone, 0, 0, nullptr, -1},
      {1135, "Time(ms) of Vac low", &F::m_tVacLow, kInteger, 10, 600000, nullptr, 4, 0.1},
      {1136, "Time(ms) of Vac ultra low", &F::m_tVacUltraLow, kInteger, 10, 600000, nullptr, 5,
       0.1},
      {1138, "Time(ms) of Vac high", &F::m_tVacHigh, kInteger, 10, 600000, nullptr, 8, 0.1},
      {1139, "Time(ms) of Vac ultra high", &F::m_tVacUltraHigh, kInteger, 10, 600000, nullptr, 9,
       0.1},
      {1141, "Time(ms) of low frequency", &F::m_tFLow, kInteger, 10, 600000, nullptr, 12, 0.1},
      {1142, "Time(ms) of ultra low frequency", &F::m_tFUltraLow, kInteger, 10, 600000, nullptr, 13,
       0.1},
      {1144, "Time(ms) of high frequency", &F::m_tFHigh, kInteger, 10, 600000, nullptr, 16, 0.1},
      {1145, "Time(ms) of ultra high frequency", &F::m_tFUltraHigh, kInteger, 10, 600000, nullptr,
       17, 0.1},
      {1146, "Kpv_Offset_1(V)", &F::m_kpvOffset1, kReal, -30, 30, nullptr, -1, 10, true},
      {1147, "Kpv_Gain_1", &F::m_kpvGain1, kReal, 80, 120, nullptr, -1, 10},
      {1148, "Kac_Offset_1(V)", &F::m_kacOffset1, kReal, -30, 30, nullptr, -1, 10, true},
      {1149, "Kac_Gain_1", &F::m_kacGain1, kReal, 80, 120, nullptr, -1, 10},
      {1150, "Kpv_Offset_2", &F::m_kpvOffset2, kNone, 0, 0, nullptr, -1, 10, true},
      {1151, "Kpv_Gain_2", &F::m_kpvGain2, kNone, 0, 0, nullptr, -1, 10},
      {1152, "Kac_Offset_2", &F::m_kacOffset2, kNone, 0, 0, nullptr, -1, 10, true},
      {1153, "Kac_Gain_2", &F::m_kacGain2, kNone, 0, 0, nullptr, -1, 10},
      {1154, "Kac_Offset_3", &F::m_kacOffset3, kNone, 0, 0, nullptr, -1, 10, true},
      {1155, "Kac_Gain_3", &F::m_kacGain3, kNone, 0, 0, nullptr, -1, 10},
      {1163, "KA_BUS_Offset", &F::m_kaBusOffset, kReal, -30, 30, nullptr, -1, 10, true},
      {1167, "KA_CPUp_Offset", &F::m_kaCpupOffset, kReal, -200, 200, nullptr, -1, 10, true},
      {1171, "KB_CPUac_Offset", &F::m_kbCpuacOffset, kReal, -30, 30, nullptr, -1, 10, true},
      {1164, "KA_BUS_Gain", &F::m_kaBusGain, kReal, 80, 120, nullptr, -1, 10},
      {1168, "KA_CPUp_Gain", &F::m_kaCpupGain, kReal, 80, 120, nullptr, -1, 10},
      {1172, "KB_CPUac_Gain", &F::m_kbCpuacGain, kReal, 80, 120, nullptr, -1, 10},
      {1179, "Full Power Limit(%)", &F::m_fullPowerLimit, kReal, 0, 100, nullptr, -1, 10},
      {1183, "Addr.", &F::m_modbusAddress, kInteger, 0, 255, nullptr, -1},
  };
}

std::string Unsigned(uint32_t v) {
  return std::to_string(v);
}

uint16_t LowWord(double truncated) {
  if (!std::isfinite(truncated)) return 0;
  const double wrapped = std::fmod(truncated, 65536.0);
  return static_cast<uint16_t>(static_cast<int64_t>(wrapped) & 0xFFFF);
}

double LowBound(const FieldSpec& item, const MonitorFields& fields) {
  return item.lowFrom ? item.lowFrom(fields) : item.low;
}

// The range prompt when `value` breaks the field's rule with the given lower bound.
std::optional<std::string> RangeFailure(const FieldSpec& item, bool isSigned, double value,
                                        double low) {
  switch (item.check) {
    case RangeCheck::None:
      return std::nullopt;
    case RangeCheck::IntPart: {
      // Truncated toward zero and taken as unsigned: a negative value never passes.
      const auto lo = static_cast<uint32_t>(static_cast<int64_t>(low));
      const auto hi = static_cast<uint32_t>(item.high);
      const bool fits = std::fabs(value) < 4294967296.0;
      const auto whole = fits ? static_cast<uint32_t>(static_cast<int64_t>(std::trunc(value))) : 0;
      if (!fits || whole < lo || whole > hi) return PromptIntegerRange(Unsigned(lo), Unsigned(hi));
      return std::nullopt;
    }
    case RangeCheck::Integer:
      if (isSigned) {
        const auto lo = static_cast<int32_t>(low);
        const auto hi = static_cast<int32_t>(item.high);
        if (value < lo || value > hi) {
          return PromptIntegerRange(std::to_string(lo), std::to_string(hi));
        }
      } else {
        const auto lo = static_cast<uint32_t>(low);
        const auto hi = static_cast<uint32_t>(item.high);
        if (value < lo || value > hi) return PromptIntegerRange(Unsigned(lo), Unsigned(hi));
      }
      return std::nullopt;
    case RangeCheck::Real: {
      const auto lo = static_cast<float>(low);
      const auto hi = static_cast<float>(item.high);
      const auto v = static_cast<float>(value);
      if (v < lo || v > hi) return PromptRealRange(lo, hi);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// A field without a rule still has to fit its register word, or it would wrap to another value.
std::optional<std::string> WordFailure(const FieldSpec& item, double value) {
  if (item.check != RangeCheck::None || item.writeScale == 0) return std::nullopt;
  const double lo = item.offset ? -32768 / item.writeScale : 0;
  const double hi = (item.offset ? 32767 : 65535) / item.writeScale;
  const double step = 1 / item.writeScale;
  if (value >= lo - step / 2 && value < hi + step / 2) return std::nullopt;
  return PromptRealRange(lo, hi);
}

// Checks one value as typed, against the fields taken in before it, and as the inverter will
// store it, against those fields as they will be stored.
std::optional<std::string> ValueFailure(const FieldSpec& item, bool isSigned, double value,
                                        const MonitorFields& fields, const MonitorFields& stored,
                                        double written) {
  if (auto failure = RangeFailure(item, isSigned, value, LowBound(item, fields))) return failure;
  if (auto failure = WordFailure(item, value)) return failure;
  const double storedLow = LowBound(item, stored);
  auto failure = RangeFailure(item, isSigned, written, storedLow);
  if (!failure) return std::nullopt;
  std::string note =
      "\nAt the register's resolution the inverter would store " + WrittenText(item, written);
  if (item.lowFrom && storedLow != LowBound(item, fields)) {
    note += ", and the field it depends on as " + FormatSignificant(storedLow);
  }
  return *failure + note + ".";
}

// Takes one control's text into its field. Out-of-rule values are stored only when asked.
std::optional<ExchangeFailure> TakeIn(const FieldSpec& item, MonitorFields& fields,
                                      MonitorFields& stored, const std::string& text,
                                      const std::optional<std::string>& standardText,
                                      bool storeOutOfRule) {
  ExchangeFailure failure{item.control, std::string(item.label), {}, false};
  const auto refuse = [&](std::string prompt, bool notAValue) {
    failure.prompt = std::move(prompt);
    failure.notAValue = notAValue;
    return std::optional<ExchangeFailure>(failure);
  };
  if (auto member = std::get_if<std::string F::*>(&item.field)) {
    if (standardText) fields.*(*member) = stored.*(*member) = *standardText;
    return std::nullopt;
  }
  if (auto member = std::get_if<uint64_t F::*>(&item.field)) {
    uint64_t value = 0;
    if (ParseUnsigned(text, value) != ParseResult::Ok) return refuse(PromptNotUnsigned(), true);
    fields.*(*member) = stored.*(*member) = value;
    return std::nullopt;
  }
  double value = 0;
  bool isSigned = false;
  std::optional<std::string> rule;
  if (std::holds_alternative<float F::*>(item.field)) {
    if (ParseReal(text, value) != ParseResult::Ok || !std::isfinite(value) ||
        std::fabs(value) > FLT_MAX) {
      return refuse(PromptNotNumber(), true);
    }
    value = static_cast<float>(value);
  } else if (std::holds_alternative<uint32_t F::*>(item.field)) {
    uint64_t u = 0;
    if (ParseUnsigned(text, u) != ParseResult::Ok || u > std::numeric_limits<uint32_t>::max()) {
      return refuse(PromptNotUnsigned(), true);
    }
    value = static_cast<double>(u);
  } else {
    int64_t i = 0;
    if (ParseSigned(text, i) != ParseResult::Ok || i < std::numeric_limits<int32_t>::min() ||
        i > std::numeric_limits<int32_t>::max()) {
      return refuse(PromptNotInteger(), true);
    }
    value = static_cast<double>(i);
    isSigned = true;
  }
  const double written = WrittenValue(item, value);
  rule = ValueFailure(item, isSigned, value, fields, stored, written);
  if (!rule || storeOutOfRule) {
    std::visit(
        [&](auto member) {
          using T = std::decay_t<decltype(fields.*member)>;
          if constexpr (std::is_arithmetic_v<T>) {
            fields.*member = static_cast<T>(value);
            stored.*member = static_cast<T>(written);
          }
        },
        item.field);
  }
  if (rule) return refuse(std::move(*rule), false);
  return std::nullopt;
}

std::vector<ExchangeFailure> Exchange(MonitorFields& fields,
                                      const std::function<std::string(int)>& text,
                                      const std::optional<std::string>& standardText,
                                      bool takeAll) {
  std::vector<ExchangeFailure> failures;
  // The fields as the inverter will store them, for bounds that name a field taken in before.
  MonitorFields stored = fields;
  for (const FieldSpec& item : FieldSpecs()) {
    const std::string itemText =
        item.control == kStandardListControl ? std::string() : text(item.control);
    if (auto failure = TakeIn(item, fields, stored, itemText, standardText, takeAll)) {
      failures.push_back(std::move(*failure));
      if (!takeAll) break;
    }
  }
  return failures;
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
  static const std::vector<FieldSpec> table = MakeSpecs();
  return table;
}

const FieldSpec* FindField(int control) {
  for (const FieldSpec& item : FieldSpecs()) {
    if (item.control == control) return &item;
  }
  return nullptr;
}

std::string FormatFloat(double value) {
  return FormatSignificant(value);
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
                                          const std::optional<std::string>& standardText) {
  std::vector<ExchangeFailure> failures = Exchange(fields, text, standardText, false);
  if (failures.empty()) return std::nullopt;
  return std::move(failures.front());
}

std::vector<ExchangeFailure> TakeInAllFields(MonitorFields& fields,
                                             const std::function<std::string(int)>& text,
                                             const std::optional<std::string>& standardText) {
  return Exchange(fields, text, standardText, true);
}

double FieldValue(const MonitorFields& fields, const FieldSpec& item) {
  return std::visit(
      [&](auto member) -> double {
        const auto& value = fields.*member;
        if constexpr (std::is_arithmetic_v<std::decay_t<decltype(value)>>) {
          return static_cast<double>(value);
        } else {
          return 0;
        }
      },
      item.field);
}

double WrittenValue(const FieldSpec& item, double value) {
  if (item.writeScale == 0) return value;
  if (item.offset) {
    return static_cast<int16_t>(EncodeOffset(static_cast<float>(value))) / item.writeScale;
  }
  const uint16_t word = EncodeScaled(value, item.writeScale);
  // Times travel in tens of milliseconds: multiply back rather than divide by 0.1.
  return item.writeScale >= 1 ? word / item.writeScale : word * std::round(1 / item.writeScale);
}

std::string WrittenText(const FieldSpec& item, double written) {
  char buffer[64];
  const int decimals = item.writeScale >= 100 ? 2 : item.writeScale >= 10 ? 1 : 0;
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, written);
  return buffer;
}

std::optional<ConvertedSerial> ConvertSerialText(std::string text, int siteIndex,
                                                 const CConfigWorkbook* workbook) {
  if (text.size() != 10 || workbook == nullptr) return std::nullopt;
  const int year = workbook->ConvertLegacySerial(text);
  if (year == 0) return std::nullopt;
  if (year == 2010) text[0] = static_cast<char>('1' + siteIndex);
  return ConvertedSerial{year, std::move(text)};
}

std::optional<uint64_t> SerialToWrite(const std::string& entry, int siteIndex,
                                      const CConfigWorkbook* workbook) {
  std::string text = entry;
  if (auto converted = ConvertSerialText(text, siteIndex, workbook)) text = converted->text;
  uint64_t value = 0;
  if (ParseUnsigned(text, value) != ParseResult::Ok) return std::nullopt;
  // "Set all parameter" converts a 10-character entry once more, digits and all.
  if (auto converted = ConvertSerialText(text, siteIndex, workbook)) {
    if (ParseUnsigned(converted->text, value) != ParseResult::Ok) return std::nullopt;
  }
  if (value > kMaxSerialNumber) return std::nullopt;
  return value;
}

std::string SerialNumberDigits(uint64_t serial) {
  std::string digits = std::to_string(serial);
  if (digits.size() < 12) digits.insert(0, 12 - digits.size(), '0');
  return digits;
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
