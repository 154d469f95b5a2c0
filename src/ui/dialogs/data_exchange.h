#pragma once

#include <cstdint>
#include <string>

#include "core/platform/entry_rules.h"
#include "core/platform/notifier.h"

class QLineEdit;
class QDialog;
class QAbstractButton;

namespace pyranex::ui {

// The prompts of a failed exchange: the program's Chinese texts with their English lines.
using pyranex::PromptNotInteger;                              // "请输入一个整数。"
using pyranex::PromptNotNumber;                               // "请输入一个数字。"
using pyranex::PromptNotUnsigned;                             // "请输入一个正整数。"
using pyranex::PromptRealRange;                               // bounds as "%.6g"
std::string PromptIntegerRange(int64_t min, int64_t max);     // signed bounds
std::string PromptUnsignedRange(uint64_t min, uint64_t max);  // bounds shown unsigned

// Moves a dialog's fields between the fields and its controls, as the framework's data exchange
// does. Loading writes every field into its control. Saving reads each control in the order the
// calls come, parses and range-checks it, and stores it in its field only when it passes; the
// first failure shows its prompt through the notifier (the exclamation icon, the field's name in
// the caption), focuses and selects the control, and every later call of this exchange does
// nothing. The field's name is the control's accessible name, else the text of the label whose
// buddy it is, else the dialog's title. So the
// fields before the failure keep their new values and the rest their old ones, and a bound that
// names another field can use that field's value just taken in.
//
// Prompts go through the Notifier so tests can record them; the program passes a QtNotifier.
class DataExchange {
 public:
  enum class Direction { Load, Save };

  DataExchange(Direction direction, Notifier& notifier)
      : direction_(direction), notifier_(notifier) {}

  bool IsSaving() const { return direction_ == Direction::Save; }
  // False once a field has failed; a saving dialog then stays open.
  bool Ok() const { return ok_; }

  // Signed decimal ("%d"); out of the field's type is "not an integer".
  void Int(QLineEdit& edit, int& field);
  void Int(QLineEdit& edit, int& field, int min, int max);
  // Unsigned decimal ("%lu"); a sign is "not a positive integer".
  void UInt(QLineEdit& edit, uint32_t& field);
  void UInt(QLineEdit& edit, uint32_t& field, uint32_t min, uint32_t max);
  // The 64-bit unsigned field (a serial number), same prompts as UInt.
  void UInt64(QLineEdit& edit, uint64_t& field);
  void UInt64(QLineEdit& edit, uint64_t& field, uint64_t min, uint64_t max);
  // Floating point, shown with 6 significant digits; NaN and infinities are "not a number".
  void Real(QLineEdit& edit, float& field);
  void Real(QLineEdit& edit, float& field, double min, double max);
  void Real(QLineEdit& edit, double& field);
  void Real(QLineEdit& edit, double& field, double min, double max);
  // Plain text, taken as it stands.
  void Text(QLineEdit& edit, std::string& field);
  void Check(QAbstractButton& box, bool& field);

  // Fails the exchange with a prompt of the caller's own on the given control.
  void Fail(QLineEdit& edit, const std::string& prompt);

 private:
  bool Active() const { return ok_; }

  Direction direction_;
  Notifier& notifier_;
  bool ok_ = true;
};

// Parsers shared by the exchange and the monitor engine (exposed for tests and for fields the
// dialogs parse themselves).
using pyranex::ParseReal;
using pyranex::ParseResult;
using pyranex::ParseSigned;
using pyranex::ParseUnsigned;

// The name a prompt gives the field of this control (see DataExchange).
std::string FieldName(const QLineEdit& edit);

// The usual pattern of a dialog: Load when shown, Save on OK. `exchange` is the dialog's own
// function that names every field; returns whether all fields passed.
template <typename Exchange>
bool UpdateData(bool save, Notifier& notifier, Exchange&& exchange) {
  DataExchange dx(save ? DataExchange::Direction::Save : DataExchange::Direction::Load, notifier);
  exchange(dx);
  return dx.Ok();
}

}  // namespace pyranex::ui
