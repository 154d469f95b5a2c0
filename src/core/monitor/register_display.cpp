#include "core/monitor/register_display.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace pyranex {

namespace {

std::vector<RegisterPlace> MakePlaces() {
  return {
      {11, 1070, 0, 10, false, "DC voltage 1(V)"},
      {15, 1071, 0, 10, false, "AC Voltage1(V)"},
      {21, 1072, 0, 100, false, "AC frequency(Hz)"},
      {23, 1073, 0, 10, false, "AC power(W)"},
      {24, 1074, 0, 10, false, "Today(kWh)"},
      {26, 1075, 0, 10, false, "Total(kWh)"},
      {28, 1076, 0, 1, false, "Today run time(min)"},
      {30, 1077, 0, 1, false, "Total run time(h)"},
      {31, 1078, 0, 10, false, "Temperature(°C)"},
      {32, 1079, 0, 1, false, "Current zero shift 1"},
      {35, 1080, 0, 1, true, "DCI1(mA)"},
      {42, 1159, 0, 10, false, "B_CPU_AC_U"},
      {43, 1160, 0, 10, false, "A_CPU_BUS_U"},
      {44, 1084, 0, 10, false, "Equipment type(kW)"},
      {45, 1085, 0, 100, false, "Software version"},
      {46, 1086, 1100, 10, false, "Vpv-start(V)"},
      {47, 1087, 1101, 1, false, "T-start(s)"},
      {48, 1088, 1102, 10, false, "Vac low voltage min(V)"},
      {49, 1112, 1134, 10, false, "Vac ultra low-voltage vaule(V)"},
      {50, 1113, 1135, 0.1, false, "Time(ms)"},
      {51, 1114, 1136, 0.1, false, "Time(ms)"},
      {52, 1090, 1103, 10, false, "Vac high voltage max(V)"},
      {53, 1115, 1137, 10, false, "Vac ultra high-voltage value(V)"},
      {54, 1116, 1138, 0.1, false, "Time(ms)"},
      {55, 1117, 1139, 0.1, false, "Time(ms)"},
      {56, 1091, 1104, 100, false, "Low-Frequency min(Hz)"},
      {57, 1118, 1140, 100, false, "Ultra low-frequency value(Hz)"},
      {58, 1119, 1141, 0.1, false, "Time(ms)"},
      {59, 1120, 1142, 0.1, false, "Time(ms)"},
      {60, 1092, 1105, 100, false, "Hi-Frequency max(Hz)"},
      {61, 1121, 1143, 100, false, "Ultra High-frequency value(Hz)"},
      {62, 1122, 1144, 0.1, false, "Time(ms)"},
      {63, 1123, 1145, 0.1, false, "Time(ms)"},
      {64, 1093, 1106, 1, false, "DCI-Limit"},
      {65, 1094, 1107, 1, false, "DCI-Shift"},
      {66, 1095, 1108, 1, false, "Language"},
      {67, 1097, 1109, 1, false, "Contrast"},
      {76, 1081, 0, 1, false, "Is sample value"},
      {78, 1174, 0, 1, false, "ISO sample value"},
      {81, 1177, 1179, 10, false, "Full Power Limit(%)"},
      {341, 1124, 1146, 10, true, "Kpv_Offset_1(V)"},
      {342, 1125, 1147, 10, false, "Kpv_Gain_1"},
      {343, 1126, 1148, 10, true, "Kac_Offset_1(V)"},
      {344, 1127, 1149, 10, false, "Kac_Gain_1"},
      {345, 1128, 1150, 10, true, "Kpv_Offset_2"},
      {346, 1129, 1151, 10, false, "Kpv_Gain_2"},
      {347, 1130, 1152, 10, true, "Kac_Offset_2"},
      {348, 1131, 1153, 10, false, "Kac_Gain_2"},
      {349, 1132, 1154, 10, true, "Kac_Offset_3"},
      {350, 1133, 1155, 10, false, "Kac_Gain_3"},
      {351, 1161, 1163, 10, true, "KA_BUS_Offset"},
      {352, 1162, 1164, 10, false, "KA_BUS_Gain"},
      {353, 1165, 1167, 10, true, "KA_CPUp_Offset"},
      {354, 1166, 1168, 10, false, "KA_CPUp_Gain"},
      {355, 1169, 1171, 10, true, "KB_CPUac_Offset"},
      {356, 1170, 1172, 10, false, "KB_CPUac_Gain"},
      {361, 1182, 1183, 1, false, "Addr."},
  };
}

constexpr std::array<std::string_view, 32> kFaultTexts = {
    "2.5V Ref Fault",
    "SCI1 Damaged",
    "Not Consistent",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "Auto test failed",
    "Auto test failed",
    "Please Initial",
    "Relay Damaged",
    "EEPROM Damaged",
    "GFCI Damaged",
    "Sensor Damaged",
    "SCI2 Damaged",
    "Disconnect Grid",
    "Low  Isolation",
    "High Ground I",
    "High DC INJ",
    "High PV Voltage",
    "High Bus Voltage",
    "Grid V Fault",
    "Grid F Fault",
    "High Temperature",
    "",
    "",
};

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

const std::vector<RegisterPlace>& RegisterPlaces() {
  static const std::vector<RegisterPlace> places = MakePlaces();
  return places;
}

const RegisterPlace* FindRegisterPlace(uint32_t registerNumber) {
  for (const RegisterPlace& place : RegisterPlaces()) {
    if (place.registerNumber == registerNumber) return &place;
  }
  return nullptr;
}

std::string DisplayText(int64_t value, double scale) {
  char buffer[64];
  const int r = static_cast<int>(scale + 0.5);
  const double v = static_cast<double>(value);
  if (r == 10) {
    std::snprintf(buffer, sizeof buffer, "%3.1f", v / scale);
  } else if (r == 100) {
    std::snprintf(buffer, sizeof buffer, "%3.2f", v / scale);
  } else if (static_cast<int>(10 * scale + 0.5) == 1) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(v / scale + 0.5));
  } else if (r == 1) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
  } else {
    return {};
  }
  return buffer;
}

std::string SerialDisplayText(const std::array<uint32_t, 3>& words) {
  std::string text;
  for (uint32_t word : words) {
    for (int shift = 12; shift >= 0; shift -= 4) {
      text.push_back(static_cast<char>(((word >> shift) & 0xF) + 0x30));
    }
  }
  return text;
}

std::string StandardDisplayText(const std::array<uint32_t, 6>& words) {
  std::string text;
  for (uint32_t word : words) {
    text.push_back(static_cast<char>((word >> 8) & 0xFF));
    text.push_back(static_cast<char>(word & 0xFF));
  }
  return text;
}

const std::array<std::string_view, 32>& FaultTexts() {
  return kFaultTexts;
}

std::vector<std::string> FaultLines(uint32_t bits) {
  std::vector<std::string> lines;
  for (int i = 0; i < 32; ++i) {
    if (bits & (1u << i)) lines.emplace_back(kFaultTexts[static_cast<size_t>(i)]);
  }
  std::stable_sort(lines.begin(), lines.end(), LessIgnoringCase);
  return lines;
}

std::optional<StateLook> OperatingState(uint32_t value) {
  switch (value) {
    case 0:
      return StateLook{"Waiting", 140};
    case 1:
      return StateLook{"Inverting", 139};
    case 2:
      return StateLook{"Warning", 142};
    case 3:
      return StateLook{"Fault", 141};
    default:
      return std::nullopt;
  }
}

std::string FirmwareVersionText(uint16_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "V%3.2f", value / 100.0);
  return text;
}

}  // namespace pyranex
