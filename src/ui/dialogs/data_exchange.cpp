#include "ui/dialogs/data_exchange.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace pyranex::ui {
namespace {

std::string FormatReal(double value) {
  return FormatSignificant(value);
}

}  // namespace

std::string PromptIntegerRange(int64_t min, int64_t max) {
  return pyranex::PromptIntegerRange(std::to_string(min), std::to_string(max));
}

std::string PromptUnsignedRange(uint64_t min, uint64_t max) {
  return pyranex::PromptIntegerRange(std::to_string(min), std::to_string(max));
}

std::string FieldName(const QLineEdit& edit) {
  if (!edit.accessibleName().isEmpty()) return edit.accessibleName().toStdString();
  if (QWidget* window = edit.window()) {
    for (const QLabel* label : window->findChildren<QLabel*>()) {
      if (label->buddy() != &edit) continue;
      QString text = label->text();
      text.remove(QLatin1Char('&'));
      while (text.endsWith(QLatin1Char(':')) || text.endsWith(QChar(0xFF1A))) text.chop(1);
      return text.trimmed().toStdString();
    }
    return window->windowTitle().toStdString();
  }
  return {};
}

void DataExchange::Fail(QLineEdit& edit, const std::string& prompt) {
  if (!ok_) return;
  ok_ = false;
  notifier_.Show(prompt, FieldPromptCaption(FieldName(edit)), NoticeIcon::Warning,
                 NoticeButtons::Ok);
  edit.setFocus(Qt::OtherFocusReason);
  edit.selectAll();
}

void DataExchange::Int(QLineEdit& edit, int& field) {
  Int(edit, field, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
}

void DataExchange::Int(QLineEdit& edit, int& field, int min, int max) {
  if (!Active()) return;
  if (!IsSaving()) {
    edit.setText(QString::number(field));
    return;
  }
  int64_t value = 0;
  const ParseResult r = ParseSigned(edit.text().toStdString(), value);
  const bool ranged =
      min != std::numeric_limits<int>::min() || max != std::numeric_limits<int>::max();
  if (r == ParseResult::NotANumber ||
      (!ranged && (r == ParseResult::OutOfType || value < min || value > max))) {
    return Fail(edit, PromptNotInteger());
  }
  if (value < min || value > max) return Fail(edit, PromptIntegerRange(min, max));
  field = static_cast<int>(value);
}

void DataExchange::UInt(QLineEdit& edit, uint32_t& field) {
  UInt(edit, field, 0, std::numeric_limits<uint32_t>::max());
}

void DataExchange::UInt(QLineEdit& edit, uint32_t& field, uint32_t min, uint32_t max) {
  uint64_t wide = field;
  const bool ranged = min != 0 || max != std::numeric_limits<uint32_t>::max();
  if (IsSaving() && Active() && !ranged) {
    // Without a range, a value beyond 32 bits is not a positive integer of this field.
    uint64_t value = 0;
    const ParseResult r = ParseUnsigned(edit.text().toStdString(), value);
    if (r != ParseResult::Ok || value > max) return Fail(edit, PromptNotUnsigned());
  }
  UInt64(edit, wide, min, max);
  field = static_cast<uint32_t>(wide);
}

void DataExchange::UInt64(QLineEdit& edit, uint64_t& field) {
  UInt64(edit, field, 0, std::numeric_limits<uint64_t>::max());
}

void DataExchange::UInt64(QLineEdit& edit, uint64_t& field, uint64_t min, uint64_t max) {
  if (!Active()) return;
  if (!IsSaving()) {
    edit.setText(QString::number(field));
    return;
  }
  uint64_t value = 0;
  const ParseResult r = ParseUnsigned(edit.text().toStdString(), value);
  const bool ranged = min != 0 || max != std::numeric_limits<uint64_t>::max();
  if (r == ParseResult::NotANumber || (r == ParseResult::OutOfType && !ranged)) {
    return Fail(edit, PromptNotUnsigned());
  }
  if (value < min || value > max) return Fail(edit, PromptUnsignedRange(min, max));
  field = value;
}

void DataExchange::Real(QLineEdit& edit, double& field, double min, double max) {
  if (!Active()) return;
  if (!IsSaving()) {
    edit.setText(QString::fromStdString(FormatReal(field)));
    return;
  }
  double value = 0;
  const ParseResult r = ParseReal(edit.text().toStdString(), value);
  if (r == ParseResult::NotANumber || (r == ParseResult::OutOfType && !std::isfinite(max))) {
    return Fail(edit, PromptNotNumber());
  }
  if (r == ParseResult::OutOfType || value < min || value > max) {
    return Fail(edit, PromptRealRange(min, max));
  }
  field = value;
}

void DataExchange::Real(QLineEdit& edit, double& field) {
  Real(edit, field, -std::numeric_limits<double>::infinity(),
       std::numeric_limits<double>::infinity());
}

void DataExchange::Real(QLineEdit& edit, float& field, double min, double max) {
  double wide = field;
  if (IsSaving() && Active() && !std::isfinite(max)) {
    // A value beyond float is no number this field can hold.
    double value = 0;
    if (ParseReal(edit.text().toStdString(), value) == ParseResult::Ok &&
        std::fabs(value) > std::numeric_limits<float>::max()) {
      return Fail(edit, PromptNotNumber());
    }
  }
  Real(edit, wide, min, max);
  field = static_cast<float>(wide);
}

void DataExchange::Real(QLineEdit& edit, float& field) {
  Real(edit, field, -std::numeric_limits<double>::infinity(),
       std::numeric_limits<double>::infinity());
}

void DataExchange::Text(QLineEdit& edit, std::string& field) {
  if (!Active()) return;
  if (!IsSaving()) {
    edit.setText(QString::fromStdString(field));
    return;
  }
  field = edit.text().toStdString();
}

void DataExchange::Check(QAbstractButton& box, bool& field) {
  if (!Active()) return;
  if (!IsSaving()) {
    box.setChecked(field);
    return;
  }
  field = box.isChecked();
}

}  // namespace pyranex::ui
