#include <gtest/gtest.h>

#include <map>

#include "core/monitor/monitor_fields.h"
#include "core/monitor/password.h"
#include "core/monitor/register_display.h"

namespace pyranex {
namespace {

TEST(MonitorDisplayRule, Cases) {
  struct Case {
    int64_t value;
    double scale;
    const char* text;
  };
  const Case cases[] = {
      {-10, 1, "-10"},        // DCI 0xFFF6 taken as signed
      {-10, 10, "-1.0"},      // an offset register holding 0xFFF6
      {65526, 10, "6552.6"},  // a gain register holding 0xFFF6
      {50, 0.1, "500"},       // a time register: ms
      {5000, 100, "50.00"},
      {3009, 10, "300.9"},
      {4294967295LL, 1, "4294967295"},  // a 32-bit power in watts stays positive
      {7, 3, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DisplayText(c.value, c.scale), c.text) << c.value;
}

TEST(MonitorDisplayRule, FaultLinesAreSortedWithEmptyLinesFirst) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(FaultLines((1u << 22) | 1u), (Lines{"2.5V Ref Fault", "Low  Isolation"}));
  EXPECT_EQ(FaultLines((1u << 5) | (1u << 22)), (Lines{"", "Low  Isolation"}));
  EXPECT_EQ(FaultLines((1u << 13) | (1u << 14) | (1u << 18) | (1u << 28)),
            (Lines{"Auto test failed", "Auto test failed", "GFCI Damaged", "Grid F Fault"}));
  EXPECT_EQ(FaultLines((1u << 19) | (1u << 1)), (Lines{"SCI1 Damaged", "Sensor Damaged"}));
  EXPECT_TRUE(FaultLines(0).empty());
}

TEST(MonitorDisplayRule, TextsOfWords) {
  EXPECT_EQ(SerialDisplayText({0x1234, 0x5678, 0x90AB}), "1234567890:;");
  EXPECT_EQ(StandardDisplayText({0x5644, 0x4520, 0x2020, 0x2020, 0x2020, 0x2020}), "VDE         ");
  EXPECT_EQ(FirmwareVersionText(500), "V5.00");
  EXPECT_EQ(FirmwareVersionText(321), "V3.21");
  EXPECT_FALSE(OperatingState(4));
  EXPECT_EQ(OperatingState(3)->lamp, 141);
  EXPECT_EQ(OperatingState(1)->text, "Inverting");
}

// Default texts of every field, with some controls changed.
std::function<std::string(int)> Texts(const MonitorFields& base, std::map<int, std::string> set) {
  for (const FieldSpec& item : FieldSpecs()) {
    if (!set.count(item.control)) set[item.control] = FieldText(base, item);
  }
  return [set](int id) { return set.at(id); };
}

TEST(MonitorFieldsExchange, ValidationAndPrompts) {
  struct Case {
    std::map<int, std::string> texts;
    int failControl;  // 0: passes
    std::string prompt;
  };
  const std::vector<Case> cases = {
      {{{1100, "300.9"}}, 0, ""},
      {{{1100, "149.9"}}, 1100, "请输入一个在 150 和 300 之间的整数。"},
      {{{1100, "-0.5"}}, 1100, "请输入一个在 150 和 300 之间的整数。"},
      {{{1100, "abc"}}, 1100, "请输入一个数字。"},
      {{{1100, ""}}, 1100, "请输入一个数字。"},
      {{{1100, "1e40"}}, 1100, "请输入一个数字。"},
      {{{1101, "-5"}}, 1101, "请输入一个正整数。"},
      {{{1101, "29"}}, 1101, "请输入一个在 30 和 6000 之间的整数。"},
      {{{1102, "203"}, {1103, "207"}}, 1103, "请输入一个在 208 和 310 之间的整数。"},
      {{{1102, "215.5"}, {1103, "214.9"}}, 1103, "请输入一个在 215 和 310 之间的整数。"},
      {{{1102, "215.5"}, {1103, "215"}}, 0, ""},
      {{{1134, "200"}, {1102, "199.9"}}, 1102, "请输入一个在 200 和 277 之间的整数。"},
      {{{1104, "44"}}, 1104, "请输入一个在 45 和 60 之间的数字。"},
      {{{1140, "45.5"}, {1104, "45.4"}}, 1104, "请输入一个在 45.5 和 60 之间的数字。"},
      {{{1105, "49.5"}}, 1105, "请输入一个在 50 和 65 之间的数字。"},
      {{{1104, "51"}, {1105, "50.5"}}, 1105, "请输入一个在 51 和 65 之间的数字。"},
      {{{1105, "57.5"}, {1143, "56"}}, 1143, "请输入一个在 57 和 65 之间的整数。"},
      {{{1109, "x"}}, 1109, "请输入一个整数。"},
      {{{1109, "7"}}, 1109, "请输入一个在 0 和 6 之间的整数。"},
      {{{1135, "600000"}}, 0, ""},
      {{{1135, "5"}}, 1135, "请输入一个在 10 和 600000 之间的整数。"},
      {{{1111, "AB1x315012"}}, 1111, "请输入一个正整数。"},
      {{{1146, "-30.5"}}, 1146, "请输入一个在 -30 和 30 之间的数字。"},
      {{{1150, "-999"}}, 0, ""},  // no check on the second sensor
      {{{1183, "256"}}, 1183, "请输入一个在 0 和 255 之间的整数。"},
  };
  for (const Case& c : cases) {
    MonitorFields fields;
    const auto failure = SaveFields(fields, Texts(MonitorFields{}, c.texts), "AS4777");
    const std::string what = ::testing::PrintToString(c.texts);
    ASSERT_EQ(failure.has_value(), c.failControl != 0) << what;
    if (failure) {
      EXPECT_EQ(failure->control, c.failControl) << what;
      // The Chinese line; its English line follows (checked below).
      EXPECT_EQ(failure->prompt.substr(0, failure->prompt.find('\n')), c.prompt) << what;
    }
  }
}

// What the inverter will store is checked too, and a text is a number only in decimal.
TEST(MonitorFieldsExchange, WrittenValuesAndNumberTexts) {
  struct Case {
    std::map<int, std::string> texts;
    int failControl;  // 0: passes
    std::string prompt;
  };
  const std::vector<Case> cases = {
      // 250.96 is stored as 251.0, above a high limit stored as 250.5.
      {{{1102, "250.96"}, {1103, "250.5"}},
       1103,
       "请输入一个在 251 和 310 之间的整数。\nEnter an integer between 251 and 310.\nAt the "
       "register's resolution the inverter would store 250.5, and the field it depends on as "
       "251."},
      {{{1102, "250.94"}, {1103, "250.5"}}, 0, ""},
      // 277.96 passes as typed (int part 277) but is stored as 278.0.
      {{{1102, "277.96"}, {1103, "280"}},
       1102,
       "请输入一个在 180 和 277 之间的整数。\nEnter an integer between 180 and 277.\nAt the "
       "register's resolution the inverter would store 278.0."},
      {{{1105, "64.996"}, {1143, "65"}}, 0, ""},  // stored as 65.00
      {{{1105, "65.004"}},
       1105,
       "请输入一个在 50 和 65 之间的数字。\nEnter a number between 50 and 65."},
      {{{1147, "0x10"}}, 1147, "请输入一个数字。\nEnter a number."},
      {{{1151, "inf"}}, 1151, "请输入一个数字。\nEnter a number."},
      {{{1151, "1e1"}}, 0, ""},
      // Fields without a rule still have to fit their word instead of wrapping.
      {{{1151, "9999"}},
       1151,
       "请输入一个在 0 和 6553.5 之间的数字。\nEnter a number between 0 and 6553.5."},
      {{{1151, "-0.04"}}, 0, ""},
      {{{1150, "-3300"}},
       1150,
       "请输入一个在 -3276.8 和 3276.7 之间的数字。\nEnter a number between -3276.8 and 3276.7."},
      {{{1101, "0x10"}}, 1101, "请输入一个正整数。\nEnter a positive integer."},
      {{{1109, "+7"}}, 1109, "请输入一个在 0 和 6 之间的整数。\nEnter an integer between 0 and 6."},
  };
  for (const Case& c : cases) {
    MonitorFields fields;
    const auto failure = SaveFields(fields, Texts(MonitorFields{}, c.texts), "AS4777");
    const std::string what = ::testing::PrintToString(c.texts);
    ASSERT_EQ(failure.has_value(), c.failControl != 0) << what << (failure ? failure->prompt : "");
    if (failure) {
      EXPECT_EQ(failure->control, c.failControl) << what;
      EXPECT_EQ(failure->prompt, c.prompt) << what;
    }
  }
}

TEST(MonitorFieldsExchange, FieldsBeforeTheFailureKeepTheirNewValues) {
  MonitorFields fields;
  const auto failure = SaveFields(
      fields, Texts(MonitorFields{}, {{1100, "200"}, {1101, "10"}, {1134, "175"}}), "VDE-NEW");
  ASSERT_TRUE(failure);
  EXPECT_EQ(fields.m_vpvStart, 200.0f);
  EXPECT_EQ(fields.m_tStart, 60u);          // the failing field keeps its old value
  EXPECT_EQ(fields.m_vacUltraLow, 180.0f);  // and so does every field after it
  EXPECT_EQ(fields.m_standard, "AS4777");
}

TEST(MonitorFieldsExchange, ShowsFloatsWithSixDigits) {
  MonitorFields fields;
  fields.m_kpvGain1 = 99.95f;
  fields.m_serialNumber = 123456789012;
  EXPECT_EQ(FieldText(fields, *FindField(1100)), "150");
  EXPECT_EQ(FieldText(fields, *FindField(1147)), "99.95");
  EXPECT_EQ(FieldText(fields, *FindField(1111)), "123456789012");
  EXPECT_EQ(StandardListIndexFor("vde-new"), 2);
  EXPECT_EQ(StandardListIndexFor("Brazil"), -1);
}

TEST(MonitorEncoding, Words) {
  EXPECT_EQ(EncodeScaled(300.9f, 10), 3009);
  EXPECT_EQ(EncodeOffset(-1.25f), 0xFFF3);
  EXPECT_EQ(EncodeOffset(1.25f), 13);
  EXPECT_EQ(EncodeOffset(0.0f), 0);
  EXPECT_EQ(EncodeScaled(99.5f, 10), 995);
  EXPECT_EQ(EncodeScaled(99.95f, 10), 999);  // single precision: 99.9499969...
  EXPECT_EQ(EncodeScaled(600000u, 0.1), 60000);
  EXPECT_EQ(EncodeScaled(500u, 0.1), 50);
  EXPECT_EQ(EncodeScaled(700000u, 0.1), 70000 & 0xFFFF);
  EXPECT_EQ(StandardNumber("VDE-OLD"), 1);
  EXPECT_EQ(StandardNumber("Brazil"), 15);
  EXPECT_EQ(StandardNumber(""), 16);
}

TEST(MonitorEncoding, Blocks) {
  MonitorFields f;
  f.m_standard = "VDE-OLD";
  f.m_modbusAddress = 0x107;
  f.m_contrast = -1;
  const WriteBlock b0 = ParameterBlock(0, f, false, true, false);
  EXPECT_EQ(b0.firstRegister, 311u);
  ASSERT_EQ(b0.values.size(), 23u);
  EXPECT_EQ(b0.values[0], 1500);   // Vpv-start
  EXPECT_EQ(b0.values[4], 50);     // T-VacLow 500 ms in 10 ms
  EXPECT_EQ(b0.values[10], 4800);  // f-Low
  EXPECT_EQ(b0.values[21], 0xFFFF);
  EXPECT_EQ(b0.values[22], 0x5644);  // "VD"
  const WriteBlock b1 = ParameterBlock(1, f, false, true, false);
  EXPECT_EQ(b1.firstRegister, 334u);
  EXPECT_EQ(b1.values, (std::vector<uint16_t>{0x4520, 0x2020, 0x2020, 0x2020, 0x2020}));
  const WriteBlock b2 = ParameterBlock(2, f, true, true, false);
  ASSERT_EQ(b2.values.size(), 21u);
  EXPECT_EQ(b2.values[1], 1000);   // gain 100.0
  EXPECT_EQ(b2.values[16], 0);     // island box ticked
  EXPECT_EQ(b2.values[17], 1);     // standard number
  EXPECT_EQ(b2.values[18], 1000);  // full power limit
  EXPECT_EQ(b2.values[19], 1);     // Modbus framing
  EXPECT_EQ(b2.values[20], 0x107);
  EXPECT_EQ(ParameterBlock(2, f, false, false, true).values.size(), 19u);
  EXPECT_EQ(ParameterBlock(2, f, false, false, true).values[16], 1);
}

TEST(PasswordGate, ExactComparison) {
  const std::pair<const char*, bool> cases[] = {
      {"HQDWZEMAXL", true},   {"hqdwzemaxl", false},  {"", false},
      {" HQDWZEMAXL", false}, {"HQDWZEMAXL ", false}, {"HQDWZEMAX", false},
  };
  for (const auto& [text, ok] : cases) EXPECT_EQ(IsParameterPassword(text), ok) << text;
}

}  // namespace
}  // namespace pyranex
