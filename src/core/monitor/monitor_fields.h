#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/platform/entry_rules.h"

namespace pyranex {

// The entries of the standard list 1096, in list order (index = standard number).
inline constexpr std::array<std::string_view, 14> kStandardListEntries = {
    "AS4777",  "VDE-OLD", "VDE-NEW", "G83",         "G59",     "DK5940", "ETL-208",
    "ETL-240", "ETL-277", "IEC",     "Island mode", "Belgium", "French", "Germany"};
// The site list 1180 is sorted; its index + 1 is the first digit of a serial number.
inline constexpr std::array<std::string_view, 4> kSiteListEntries = {"Revadir", "VozarOdiz",
                                                                     "Varizava", "Vuzozov"};
inline constexpr uint64_t kMaxSerialNumber = 999'999'999'999;

// The editable parameters of the monitor dialog.
struct MonitorFields {
  float m_vpvStart = 150.0f;
  uint32_t m_tStart = 60;
  float m_vacLow = 203.0f;
  float m_vacHigh = 270.0f;
  float m_fLow = 48.0f;
  float m_fHigh = 52.0f;
  uint32_t m_dciLimit = 3000;
  uint32_t m_dciShift = 2000;
  int32_t m_contrast = 3;
  int32_t m_language = 1;
  std::string m_standard = "AS4777";
  uint64_t m_serialNumber = 0;
  float m_vacUltraLow = 180.0f;
  uint32_t m_tVacLow = 500;
  uint32_t m_tVacUltraLow = 100;
  float m_vacUltraHigh = 290.0f;
  uint32_t m_tVacHigh = 500;
  uint32_t m_tVacUltraHigh = 100;
  float m_fUltraLow = 45.0f;
  uint32_t m_tFLow = 500;
  uint32_t m_tFUltraLow = 100;
  float m_fUltraHigh = 55.0f;
  uint32_t m_tFHigh = 500;
  uint32_t m_tFUltraHigh = 100;
  float m_kpvOffset1 = 0.0f;
  float m_kpvGain1 = 100.0f;
  float m_kacOffset1 = 0.0f;
  float m_kacGain1 = 100.0f;
  float m_kpvOffset2 = 0.0f;
  float m_kpvGain2 = 100.0f;
  float m_kacOffset2 = 0.0f;
  float m_kacGain2 = 100.0f;
  float m_kacOffset3 = 0.0f;
  float m_kacGain3 = 100.0f;
  float m_kaBusOffset = 0.0f;
  float m_kaCpupOffset = 0.0f;
  float m_kbCpuacOffset = 0.0f;
  float m_kaBusGain = 100.0f;
  float m_kaCpupGain = 100.0f;
  float m_kbCpuacGain = 100.0f;
  float m_fullPowerLimit = 100.0f;
  int32_t m_siteIndex = 0;
  int32_t m_modbusAddress = 0;
};

// Every field with a default gets it; serial number, site and address are left alone.
void LoadDefaults(MonitorFields& fields);

using FieldRef =
    std::variant<float MonitorFields::*, uint32_t MonitorFields::*, int32_t MonitorFields::*,
                 uint64_t MonitorFields::*, std::string MonitorFields::*>;

// How a field's value is checked after it has been read from its control.
enum class RangeCheck {
  None,
  IntPart,  // the value truncated toward zero, as unsigned 32-bit, within integer bounds
  Integer,  // an integer field within integer bounds (shown unsigned or signed by its type)
  Real,     // the single-precision value within real bounds
};
using BoundFn = double (*)(const MonitorFields&);

struct FieldSpec {
  int control;
  // The field's name in prompts and listings; the times add what they belong to, since the
  // dialog labels them all "Time(ms)".
  std::string_view label;
  FieldRef field;
  RangeCheck check = RangeCheck::None;
  double low = 0;
  double high = 0;
  BoundFn lowFrom = nullptr;  // a lower bound that depends on fields taken in before
  int parameterIndex = -1;    // index into ParameterNames, -1 for none
  // The register word is value x writeScale (0: the field is no scaled word); an offset rounds
  // half away from zero and is signed.
  double writeScale = 0;
  bool offset = false;
};

// The fields in the order the dialog takes them in; the standard list 1096 is among them.
const std::vector<FieldSpec>& FieldSpecs();
const FieldSpec* FindField(int control);

// The text a field shows in its control: floats "%.*g" with 6 significant digits, integers
// in decimal. The standard list has no text (see StandardListIndexFor).
std::string FieldText(const MonitorFields& fields, const FieldSpec& item);
// A numeric field's value (0 for the standard).
double FieldValue(const MonitorFields& fields, const FieldSpec& item);
// The value the inverter holds once the field is written: its register word taken back at the
// register's resolution (250.96 V is stored as 251.0). Fields without a scaled word unchanged.
double WrittenValue(const FieldSpec& item, double value);
// A written value as the monitor displays it ("%.1f" for tenths, "%.2f" for hundredths).
std::string WrittenText(const FieldSpec& item, double written);
// The list entry a standard name selects: the first that begins with it, letter case ignored.
int StandardListIndexFor(std::string_view standard);

// A field the data exchange refused: its control, its name and the prompt.
struct ExchangeFailure {
  int control = 0;
  std::string label;
  std::string prompt;
  bool notAValue = false;  // the text is no value of the field at all (not only out of range)
};

// Takes the controls' texts into the fields in dialog order, each checked right after it is
// read, as typed and as the inverter will store it. The first failure stops: fields before it
// keep their new values, it and those after it their old ones. `text` gives a control's text;
// `standardText` the selected standard entry (none selected: the standard stays as it is).
std::optional<ExchangeFailure> SaveFields(MonitorFields& fields,
                                          const std::function<std::string(int)>& text,
                                          const std::optional<std::string>& standardText);
// The same, but nothing stops it: every text that is a value of its field is taken in, also a
// value outside the rules, and every refused field is reported in dialog order. This is how the
// inverter's own values are taken in, so no field is left at a value nobody read.
std::vector<ExchangeFailure> TakeInAllFields(MonitorFields& fields,
                                             const std::function<std::string(int)>& text,
                                             const std::optional<std::string>& standardText);

// "%.*g" with 6 significant digits.
std::string FormatFloat(double value);

class CConfigWorkbook;
// A 10-character legacy serial text in its 12-digit form, as Enter converts the serial entry
// (the 2010 format takes its first digit from the site list's index). Nothing when the text is
// no legacy serial text: another length, no valid date, or no workbook.
struct ConvertedSerial {
  int year = 0;
  std::string text;
};
std::optional<ConvertedSerial> ConvertSerialText(std::string text, int siteIndex,
                                                 const CConfigWorkbook* workbook);
// The serial number "Set all parameter" writes for an entry typed as given: converted first when
// it is a legacy text, as Enter would, then taken in as the dialog takes it. Nothing when that
// is no serial number of at most 12 digits.
std::optional<uint64_t> SerialToWrite(const std::string& entry, int siteIndex,
                                      const CConfigWorkbook* workbook);
// The twelve digits the inverter holds for a serial number, leading zeros included.
std::string SerialNumberDigits(uint64_t serial);

// --- encoding -------------------------------------------------------------------------------
// trunc(value x scale + 0.5), low 16 bits.
uint16_t EncodeScaled(double value, double scale);
// Offsets round half away from zero: -1.25 gives 0xFFF3.
uint16_t EncodeOffset(float value);
// Index of the standard in StandardNames, or 16.
int StandardNumber(std::string_view standard);
// The six name registers: "VDE-OLD" and "VDE-NEW" become "VDE", padded with spaces to twelve.
std::array<uint16_t, 6> StandardNameWords(std::string_view standard);

struct WriteBlock {
  uint32_t firstRegister = 0;
  std::vector<uint16_t> values;
};
// Blocks 0..2 of "Set all parameter" (block 3 is the serial number). `islandChecked` is check
// box 1175; `modbusFraming` the link's framing; `v500` shortens block 2 to 341..359.
WriteBlock ParameterBlock(int block, const MonitorFields& fields, bool islandChecked,
                          bool modbusFraming, bool v500);

}  // namespace pyranex
