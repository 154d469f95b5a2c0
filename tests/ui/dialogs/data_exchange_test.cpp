#include "ui/dialogs/data_exchange.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <limits>

#include "support/recording_notifier.h"

namespace pyranex::ui {
namespace {

using Dir = DataExchange::Direction;

TEST(DataExchange, ParsesAsTheFrameworkDoes) {
  const struct {
    const char* text;
    ParseResult result;
    int64_t value;
  } cases[] = {
      {"42", ParseResult::Ok, 42},
      {" \t-7 ", ParseResult::Ok, -7},
      {"+5", ParseResult::Ok, 5},
      {"", ParseResult::NotANumber, 0},
      {"abc", ParseResult::NotANumber, 0},
      {"12a", ParseResult::NotANumber, 0},
      {"1 2", ParseResult::NotANumber, 0},
      {"-", ParseResult::NotANumber, 0},
      {"0x10", ParseResult::NotANumber, 0},
      {"1.5", ParseResult::NotANumber, 0},
      {"99999999999999999999", ParseResult::OutOfType, std::numeric_limits<int64_t>::max()},
  };
  for (const auto& c : cases) {
    int64_t value = 0;
    EXPECT_EQ(ParseSigned(c.text, value), c.result) << c.text;
    if (c.result != ParseResult::NotANumber) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  uint64_t u = 0;
  EXPECT_EQ(ParseUnsigned("-1", u), ParseResult::NotANumber);
  EXPECT_EQ(ParseUnsigned(" 18446744073709551615 ", u), ParseResult::Ok);
  EXPECT_EQ(u, std::numeric_limits<uint64_t>::max());
  double d = 0;
  for (const char* bad : {"nan", "inf", "1e", "", "1,5", "0x1p3"}) {
    EXPECT_EQ(ParseReal(bad, d), ParseResult::NotANumber) << bad;
  }
  EXPECT_EQ(ParseReal(" -2.5e1 ", d), ParseResult::Ok);
  EXPECT_EQ(d, -25.0);
}

// Saves one field from `text` and reports the prompt shown, if any.
template <typename Field, typename... Range>
std::string SaveOne(const char* text, Field& field, Range... range) {
  test::RecordingNotifier notifier;
  QLineEdit edit;
  edit.setText(QString::fromUtf8(text));
  DataExchange dx(Dir::Save, notifier);
  if constexpr (std::is_same_v<Field, int>) dx.Int(edit, field, range...);
  if constexpr (std::is_same_v<Field, uint32_t>) dx.UInt(edit, field, range...);
  if constexpr (std::is_same_v<Field, float>) dx.Real(edit, field, range...);
  EXPECT_EQ(dx.Ok(), notifier.Count() == 0);
  if (notifier.Count() == 0) return {};
  const auto notice = notifier.Notices().front();
  EXPECT_EQ(notice.caption, "Quorvane");  // a lone control names no field
  EXPECT_EQ(notice.icon, NoticeIcon::Warning);
  EXPECT_EQ(notice.buttons, NoticeButtons::Ok);
  return notice.text;
}

TEST(DataExchange, PromptsForEachKindOfField) {
  int i = 3;
  EXPECT_EQ(SaveOne("abc", i, 1, 99), "请输入一个整数。\nEnter an integer.");
  EXPECT_EQ(SaveOne("0", i, 1, 99),
            "请输入一个在 1 和 99 之间的整数。\nEnter an integer between 1 and 99.");
  EXPECT_EQ(SaveOne("99999999999", i, 1, 99),
            "请输入一个在 1 和 99 之间的整数。\nEnter an integer between 1 and 99.");
  EXPECT_EQ(SaveOne("-3", i, -5, 5), "");
  EXPECT_EQ(i, -3);
  EXPECT_EQ(SaveOne("99999999999", i), "请输入一个整数。\nEnter an integer.");
  EXPECT_EQ(i, -3);  // a failed field keeps its old value

  uint32_t u = 7;
  EXPECT_EQ(SaveOne("-1", u), "请输入一个正整数。\nEnter a positive integer.");
  EXPECT_EQ(SaveOne("4294967296", u), "请输入一个正整数。\nEnter a positive integer.");
  EXPECT_EQ(SaveOne("4000000000", u, 0u, 65535u),
            "请输入一个在 0 和 65535 之间的整数。\nEnter an integer between 0 and 65535.");
  EXPECT_EQ(SaveOne("4000000000", u), "");
  EXPECT_EQ(u, 4000000000u);

  float f = 1.0f;
  EXPECT_EQ(SaveOne("x", f, 80.0, 120.0), "请输入一个数字。\nEnter a number.");
  EXPECT_EQ(SaveOne("-30.5", f, -30.0, 30.0),
            "请输入一个在 -30 和 30 之间的数字。\nEnter a number between -30 and 30.");
  EXPECT_EQ(SaveOne("1e300", f), "请输入一个数字。\nEnter a number.");
  EXPECT_EQ(SaveOne("99.5", f, 80.0, 120.0), "");
  EXPECT_FLOAT_EQ(f, 99.5f);
}

TEST(DataExchange, FirstFailureStopsTheRestAndFocusesItsControl) {
  test::RecordingNotifier notifier;
  QWidget window;
  QLineEdit a(&window), b(&window), c(&window);
  a.setText("5");
  b.setText("77");
  c.setText("abc");
  window.show();
  window.activateWindow();
  int fa = 0, fb = 0, fc = 0;
  DataExchange dx(Dir::Save, notifier);
  dx.Int(a, fa, 0, 10);
  dx.Int(b, fb, 0, fa);  // a bound from the field just taken in
  dx.Int(c, fc);
  EXPECT_FALSE(dx.Ok());
  EXPECT_EQ(fa, 5);
  EXPECT_EQ(fb, 0);
  ASSERT_EQ(notifier.Count(), 1u);
  EXPECT_EQ(notifier.Notices()[0].text,
            "请输入一个在 0 和 5 之间的整数。\nEnter an integer between 0 and 5.");
  EXPECT_EQ(window.focusWidget(), &b);
  EXPECT_EQ(b.selectedText(), "77");
}

TEST(DataExchange, TheCaptionNamesTheField) {
  QWidget window;
  window.setWindowTitle(QStringLiteral("Time span"));
  QLineEdit named(&window), buddied(&window), plain(&window);
  named.setAccessibleName(QStringLiteral("From hour"));
  QLabel label(QStringLiteral("&COM No.:"), &window);
  label.setBuddy(&buddied);
  const std::pair<QLineEdit*, const char*> cases[] = {{&named, "From hour - Quorvane"},
                                                      {&buddied, "COM No. - Quorvane"},
                                                      {&plain, "Time span - Quorvane"}};
  for (const auto& [edit, caption] : cases) {
    test::RecordingNotifier notifier;
    edit->setText(QStringLiteral("x"));
    int field = 0;
    DataExchange dx(Dir::Save, notifier);
    dx.Int(*edit, field, 0, 9);
    ASSERT_EQ(notifier.Count(), 1u);
    EXPECT_EQ(notifier.Notices()[0].caption, caption);
  }
}

TEST(DataExchange, LoadShowsFieldsAsTheFrameworkFormatsThem) {
  test::RecordingNotifier notifier;
  QLineEdit i, u, f, s;
  int iv = -12;
  uint64_t uv = 123456789012ull;
  float fv = 150.0f;
  std::string sv = "VDE";
  DataExchange dx(Dir::Load, notifier);
  dx.Int(i, iv, 0, 5);  // loading never checks
  dx.UInt64(u, uv);
  dx.Real(f, fv);
  dx.Text(s, sv);
  EXPECT_TRUE(dx.Ok());
  EXPECT_EQ(i.text(), "-12");
  EXPECT_EQ(u.text(), "123456789012");
  EXPECT_EQ(f.text(), "150");
  EXPECT_EQ(s.text(), "VDE");
  double third = 1.0 / 3.0;
  dx.Real(f, third);
  EXPECT_EQ(f.text(), "0.333333");
}

}  // namespace
}  // namespace pyranex::ui
