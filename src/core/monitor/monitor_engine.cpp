#include "core/monitor/monitor_engine.h"

#include <cctype>
#include <cmath>
#include <limits>

#include "core/monitor/register_display.h"
#include "core/workbook/config_workbook.h"

namespace pyranex {

namespace {

constexpr uint32_t kTickMs = 200;
constexpr uint32_t kQuietMs = 500;
constexpr int32_t kResendAfterMs = 2500;
constexpr uint32_t kGiveUpAfterMs = 5000;
constexpr int kCommandControls[] = {ctl::kSetAllParameter, ctl::kIslandTest, ctl::kGfci, ctl::kIso,
                                    ctl::kAutoTest,        ctl::kClearKwh};
constexpr int kStartDisabled[] = {
    ctl::kSetAllParameter, ctl::kAutoTest, ctl::kClearKwh,  ctl::kGfci,        ctl::kIso,
    ctl::kIslandTest,      ctl::kSiteList, ctl::kStdModbus, ctl::kAddressEntry};

// Leading decimal digits after optional spaces, as the C library's text-to-integer reads them;
// saturates instead of overflowing.
uint64_t LeadingValue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      return std::numeric_limits<uint64_t>::max();
    }
    value = value * 10 + digit;
  }
  return value;
}

// The standards past the list's first eleven entries keep their own list index at the first
// pass, whatever register 358 says.
int StandardListOverride(const std::string& standard) {
  static constexpr std::pair<std::string_view, int> kOverrides[] = {
      {"Belgium", 11}, {"French", 12}, {"Germany", 13}, {"Dazevavoz", 14}, {"Brazil", 15}};
  for (const auto& [name, index] : kOverrides) {
    if (standard == name) return index;
  }
  return -1;
}

}  // namespace

MonitorEngine::MonitorEngine(MonitorServices services)
    : link_(services.link),
      notifier_(services.notifier),
      workbook_(services.workbook),
      display_(services.display),
      onTimeout_(std::move(services.onTimeout)),
      m_fullAccess(services.fullAccess),
      v500_(services.link.m_firmwareVersion == kUnscaledFirmware) {
  LoadDefaults(fields_);
  for (int id : kStartDisabled) controls_[id].enabled = false;
}

// ---------------------------------------------------------------------------------------------
// Display state

void MonitorEngine::ShowText(int controlId, const std::string& text) {
  {
    std::lock_guard lock(lock_);
    controls_[controlId].text = text;
  }
  if (display_) display_->ShowText(controlId, text);
}

void MonitorEngine::ShowCheck(int controlId, bool checked) {
  {
    std::lock_guard lock(lock_);
    controls_[controlId].checked = checked;
  }
  if (display_) display_->ShowCheck(controlId, checked);
}

void MonitorEngine::Enable(int controlId, bool enabled) {
  {
    std::lock_guard lock(lock_);
    controls_[controlId].enabled = enabled;
  }
  if (display_) display_->EnableControl(controlId, enabled);
}

void MonitorEngine::SelectStandard(int index) {
  if (index < 0 || index >= static_cast<int>(kStandardListEntries.size())) index = -1;
  {
    std::lock_guard lock(lock_);
    standardSelection_ = index;
  }
  if (display_) display_->SelectStandard(index);
}

void MonitorEngine::SelectSite(int index) {
  if (index < 0 || index >= static_cast<int>(kSiteListEntries.size())) index = -1;
  {
    std::lock_guard lock(lock_);
    siteSelection_ = index;
  }
  if (display_) display_->SelectSite(index);
}

std::string MonitorEngine::Text(int controlId) const {
  std::lock_guard lock(lock_);
  const auto it = controls_.find(controlId);
  return it == controls_.end() ? std::string() : it->second.text;
}

bool MonitorEngine::IsChecked(int controlId) const {
  std::lock_guard lock(lock_);
  const auto it = controls_.find(controlId);
  return it != controls_.end() && it->second.checked;
}

bool MonitorEngine::IsEnabled(int controlId) const {
  std::lock_guard lock(lock_);
  const auto it = controls_.find(controlId);
  return it == controls_.end() || it->second.enabled;
}

std::vector<std::string> MonitorEngine::FaultLines() const {
  std::lock_guard lock(lock_);
  return faultLines_;
}

std::string MonitorEngine::StateText() const {
  std::lock_guard lock(lock_);
  return stateText_;
}

int MonitorEngine::LampIcon() const {
  std::lock_guard lock(lock_);
  return lamp_;
}

int MonitorEngine::StandardSelection() const {
  std::lock_guard lock(lock_);
  return standardSelection_;
}

int MonitorEngine::SiteSelection() const {
  std::lock_guard lock(lock_);
  return siteSelection_;
}

MonitorFields MonitorEngine::Fields() const {
  std::lock_guard lock(lock_);
  return fields_;
}

std::optional<ExchangeFailure> MonitorEngine::LastFailure() const {
  std::lock_guard lock(lock_);
  return lastFailure_;
}

// ---------------------------------------------------------------------------------------------
// Request engine

void MonitorEngine::Start() {
  if (display_) {
    // The window starts as the template has it: these disabled, the grey lamp.
    for (int id : kStartDisabled) display_->EnableControl(id, false);
    display_->ShowState(std::string(), kLampWaiting);
  }
  LoadFields();
  if (m_fullAccess) EnableCommandButtons(true);
  SendReadStep();
  const bool modbus = link_.GetFraming() == FramingModbus;
  ShowCheck(ctl::kStdModbus, modbus);
  Enable(ctl::kAddressEntry, modbus);
}

void MonitorEngine::MonitorTick() {
  if (HasStoppedPolling()) return;
  m_elapsedMs += static_cast<int32_t>(kTickMs);
  if (link_.m_exchangeState.load() == ExchangeIdle) {
    if (m_quietMs.load() <= kQuietMs) {
      m_quietMs += kTickMs;
      return;
    }
    if (m_mode.load() != m_requestedMode.load()) m_mode = m_requestedMode.load();
    // Cleared before the request goes out, so a quick reply is never counted from a stale index.
    m_waitTotalMs = 0;
    m_quietMs = 0;
    m_elapsedMs = 0;
    m_valueIndex = 0;
    SendNextRequest();
    return;
  }
  if (m_elapsedMs.load() <= kResendAfterMs) return;
  m_waitTotalMs += static_cast<uint32_t>(m_elapsedMs.load());
  if (m_waitTotalMs.load() > kGiveUpAfterMs) {
    link_.WriteCommLog(0);
    m_elapsedMs = -1;  // polling stops before anyone sees the text
    if (onTimeout_) {
      onTimeout_(kMonitorTimeoutText);
    } else {
      notifier_.Show(kMonitorTimeoutText);
    }
    return;
  }
  m_elapsedMs = 0;
  m_valueIndex = 0;
  SendNextRequest();
}

void MonitorEngine::SendNextRequest() {
  const int32_t mode = m_mode.load();
  if (mode == ModeRead) {
    SendReadStep();
    return;
  }
  // Nothing but reads leaves a monitor without full access, whatever the mode says.
  if (!m_fullAccess) return;
  switch (mode) {
    case ModeWriteAll:
      SendParameterBlock();
      break;
    case ModeGfci:
      link_.SetGfciFunction(IsChecked(ctl::kGfci));
      break;
    case ModeIso:
      link_.SetIsoFunction(IsChecked(ctl::kIso));
      break;
    case ModeIsland:
      link_.SetIslandTestSwitch(!IsChecked(ctl::kIslandTest));
      break;
    case ModeAutoTest:
      link_.SendAutoTestCommand();
      break;
    case ModeClearKwh:
      link_.SendClearKwhCommand();
      break;
    default:
      break;
  }
}

void MonitorEngine::SendReadStep() {
  switch (m_readStep.load()) {
    case StepSerialBroadcast:
      link_.ReadSerialNumberBroadcast();
      break;
    case 0:
      link_.ReadRegisters(11, 31);
      break;
    case 1:
      link_.ReadRegisters(42, 31);
      break;
    case 2:
      link_.ReadRegisters(339, IsV500() ? 21 : 23);
      break;
    case 3:
      link_.ReadRegisters(59, 23);
      break;
    case 4:
      link_.ReadRegisters(1, 3);
      break;
    default:
      break;
  }
}

void MonitorEngine::SendParameterBlock() {
  const uint32_t block = m_blockCounter.load();
  MonitorFields fields;
  bool island = false;
  {
    std::lock_guard lock(lock_);
    fields = fields_;
    island = controls_[ctl::kIslandTest].checked;
  }
  if (block == 3) {
    link_.WriteSerialNumber(fields.m_serialNumber);
    return;
  }
  if (block > 3) return;
  const bool modbus = link_.GetFraming() == FramingModbus;
  const WriteBlock out = ParameterBlock(static_cast<int>(block), fields, island, modbus, IsV500());
  link_.WriteRegisters(out.firstRegister, static_cast<uint32_t>(out.values.size()), out.values);
  // The inverter answers block 2 under its new address already.
  if (block == 2 && modbus && !IsV500()) {
    link_.SetAddressByte0(static_cast<uint8_t>(out.values.back() & 0xFF));
  }
}

// ---------------------------------------------------------------------------------------------
// Received values (interface thread)

void MonitorEngine::HandleRegisterValue(uint16_t value) {
  const int32_t mode = m_mode.load();
  const uint32_t expected = link_.m_expectedValues.load();
  std::optional<EditUpdate> edit;
  if (mode == ModeRead) {
    edit = MapRegister(link_.m_firstRegister.load() + m_valueIndex.load(), value);
    if (++m_valueIndex == expected) {
      link_.m_exchangeState = ExchangeIdle;
      m_quietMs = 0;
      const uint32_t step = m_readStep.load();
      m_readStep = step == StepSerialBroadcast ? 0 : (step + 1) % 5;
      ++completedReads_;
    }
  } else if (++m_valueIndex == expected) {
    link_.m_exchangeState = ExchangeIdle;
    m_quietMs = 0;
    bool done = true;
    if (mode == ModeWriteAll) done = ++m_blockCounter >= 4;
    if (done) {
      m_blockCounter = 0;
      m_requestedMode = ModeRead;
      EnableCommandButtons(true);
    }
  }
  if (link_.m_exchangeState.load() == ExchangeIdle && m_mode.load() != m_requestedMode.load()) {
    m_mode = m_requestedMode.load();
  }

  if (m_editsLoaded.load()) return;
  if (m_firstPassDone.load()) {
    m_editsLoaded = true;
    SaveFields();
  }
  if (edit) ApplyEdit(*edit);
}

std::optional<MonitorEngine::EditUpdate> MonitorEngine::MapRegister(uint32_t reg, uint16_t value) {
  auto& w = scratch_;
  int64_t v = value;
  switch (reg) {
    case 1:
    case 22:
    case 25:
    case 27:
    case 29:
    case 39:
    case 68:
      w[0] = value;
      return std::nullopt;
    case 2:
    case 69:
      w[1] = value;
      return std::nullopt;
    case 70:
      w[2] = value;
      return std::nullopt;
    case 71:
      w[3] = value;
      return std::nullopt;
    case 72:
      w[4] = value;
      return std::nullopt;
    case 3: {
      w[2] = value;
      const std::string text = SerialDisplayText({w[0], w[1], w[2]});
      ShowText(ctl::kSerialDisplay, text);
      return EditUpdate{ctl::kSerialEntry, text};
    }
    case 73: {
      w[5] = value;
      ShowText(ctl::kStandardDisplay, StandardDisplayText(w));
      return std::nullopt;
    }
    case 23:
    case 26:
    case 28:
    case 30:
    case 40:
      v = static_cast<int64_t>(static_cast<uint32_t>(w[0] * 65536u + value));
      break;
    case 35:
      v = static_cast<int16_t>(value);
      break;
    case 45:
      // The version the read reports is the one the scaling and the block sizes follow.
      v500_ = FirmwareVersionText(value) == kUnscaledFirmware;
      link_.m_firmwareVersion = FirmwareVersionText(value);
      break;
    case 81:
      if (m_readStep.load() != StepSerialBroadcast) m_firstPassDone = true;
      break;
    default:
      break;
  }

  switch (reg) {
    case 40: {
      std::vector<std::string> lines = pyranex::FaultLines(static_cast<uint32_t>(v));
      {
        std::lock_guard lock(lock_);
        faultLines_ = lines;
      }
      if (display_) display_->ShowFaultLines(lines);
      return std::nullopt;
    }
    case 41: {
      const auto look = OperatingState(value);
      if (!look) return std::nullopt;  // an unknown state leaves the last one shown
      {
        std::lock_guard lock(lock_);
        stateText_ = std::string(look->text);
        lamp_ = look->lamp;
      }
      if (display_) display_->ShowState(std::string(look->text), look->lamp);
      return std::nullopt;
    }
    case 74:
    case 75:
    case 357: {
      const int box = reg == 74 ? ctl::kGfci : reg == 75 ? ctl::kIso : ctl::kIslandTest;
      ShowCheck(box, reg == 357 ? value == 0 : value != 0);
      if (m_fullAccess) Enable(box, true);
      return std::nullopt;
    }
    case 77:
      ShowText(ctl::kIsMax, std::to_string(static_cast<int>(value) + 40));
      ShowText(ctl::kIsMin, std::to_string(static_cast<int>(value) - 35));
      return std::nullopt;
    case 358: {
      EditUpdate edit;
      edit.isStandard = true;
      edit.standardIndex = value;
      const int override = StandardListOverride(Fields().m_standard);
      if (override >= 0) edit.standardIndex = override;
      return edit;
    }
    default:
      break;
  }

  const RegisterPlace* place = FindRegisterPlace(reg);
  if (place == nullptr) return std::nullopt;
  double scale = place->scale;
  if (reg == 23 && IsV500()) scale = 1;
  if (place->isSigned) v = static_cast<int16_t>(value);
  const std::string text = DisplayText(v, scale);
  ShowText(place->display, text);
  if (place->edit == 0) return std::nullopt;
  return EditUpdate{place->edit, text};
}

void MonitorEngine::ApplyEdit(const EditUpdate& edit) {
  if (edit.isStandard) {
    SelectStandard(edit.standardIndex);
    return;
  }
  ShowText(edit.control, edit.text);
  if (edit.control == ctl::kSerialEntry) {
    std::lock_guard lock(lock_);
    fields_.m_serialNumber = LeadingValue(edit.text);
  }
}

// ---------------------------------------------------------------------------------------------
// Fields and handlers (interface thread)

void MonitorEngine::SetControlText(int controlId, std::string text) {
  std::lock_guard lock(lock_);
  controls_[controlId].text = std::move(text);
}

bool MonitorEngine::SaveFields() {
  std::optional<ExchangeFailure> failure;
  {
    std::lock_guard lock(lock_);
    const std::string standard =
        standardSelection_ >= 0
            ? std::string(kStandardListEntries[static_cast<size_t>(standardSelection_)])
            : std::string();
    failure = pyranex::SaveFields(
        fields_,
        [this](int id) {
          const auto it = controls_.find(id);
          return it == controls_.end() ? std::string() : it->second.text;
        },
        standard);
    lastFailure_ = failure;
  }
  if (failure) Prompt(*failure);
  return !failure;
}

void MonitorEngine::LoadFields() {
  const MonitorFields fields = Fields();
  for (const FieldSpec& item : FieldSpecs()) {
    if (item.control == ctl::kStandardList) {
      // A name no entry begins with leaves the selection as it is.
      const int index = StandardListIndexFor(fields.m_standard);
      if (index >= 0) SelectStandard(index);
      continue;
    }
    ShowText(item.control, FieldText(fields, item));
  }
}

void MonitorEngine::Prompt(const ExchangeFailure& failure) {
  notifier_.Show(failure.prompt, "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
  if (display_) display_->FocusControl(failure.control);
}

void MonitorEngine::EnableCommandButtons(bool on) {
  if (!m_fullAccess) return;
  for (int id : kCommandControls) Enable(id, on);
}

void MonitorEngine::RequestCommand(MonitorMode mode) {
  // A disabled control cannot be clicked: one command at a time.
  if (!m_fullAccess || !IsEnabled(ctl::kSetAllParameter)) return;
  EnableCommandButtons(false);
  m_requestedMode = mode;
}

MonitorEngine::SetAllOutcome MonitorEngine::OnSetAllParameter() {
  if (!m_fullAccess || !IsEnabled(ctl::kSetAllParameter)) return SetAllOutcome::NoAccess;
  if (!SaveFields()) return SetAllOutcome::FieldInvalid;
  ConvertSerialEntry();
  if (Fields().m_serialNumber > kMaxSerialNumber) {
    notifier_.Show(kSerialInvalidText, "Quorvane", NoticeIcon::None, NoticeButtons::Ok);
    return SetAllOutcome::SerialInvalid;
  }
  m_requestedMode = ModeWriteAll;
  EnableCommandButtons(false);
  return SetAllOutcome::Started;
}

void MonitorEngine::OnAutoTest() {
  RequestCommand(ModeAutoTest);
}

void MonitorEngine::OnClearKwh() {
  RequestCommand(ModeClearKwh);
}

void MonitorEngine::OnDefaultParameter() {
  {
    std::lock_guard lock(lock_);
    LoadDefaults(fields_);
  }
  LoadFields();
}

void MonitorEngine::OnGfciFunction(bool checked) {
  if (!m_fullAccess || !IsEnabled(ctl::kGfci)) return;
  ShowCheck(ctl::kGfci, checked);
  RequestCommand(ModeGfci);
}

void MonitorEngine::OnIsoFunction(bool checked) {
  if (!m_fullAccess || !IsEnabled(ctl::kIso)) return;
  ShowCheck(ctl::kIso, checked);
  RequestCommand(ModeIso);
}

void MonitorEngine::OnIslandTestSwitch(bool checked) {
  if (!m_fullAccess || !IsEnabled(ctl::kIslandTest)) return;
  ShowCheck(ctl::kIslandTest, checked);
  RequestCommand(ModeIsland);
}

void MonitorEngine::OnStandardChanged(int index) {
  if (index < 0 || index >= static_cast<int>(kStandardListEntries.size())) return;
  SelectStandard(index);
  {
    std::lock_guard lock(lock_);
    fields_.m_standard = std::string(kStandardListEntries[static_cast<size_t>(index)]);
  }
  SaveFields();  // a prompt here does not stop the change of standard
  {
    std::lock_guard lock(lock_);
    const int k = StandardNumber(fields_.m_standard);
    for (const FieldSpec& item : FieldSpecs()) {
      if (item.parameterIndex < 0) continue;
      double value = 0;
      // Not found (no workbook, no row, no value): the field keeps what it had.
      if (workbook_ == nullptr ||
          workbook_->LookupStandardValue(k, item.parameterIndex, value) != 0) {
        continue;
      }
      std::visit(
          [&](auto member) {
            auto& field = fields_.*member;
            using T = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<T, float>) {
              field = static_cast<float>(value);
            } else if constexpr (std::is_integral_v<T>) {
              field = static_cast<T>(static_cast<int64_t>(std::trunc(value)));
            }
          },
          item.field);
    }
  }
  LoadFields();
}

void MonitorEngine::OnSiteChanged(int index) {
  SelectSite(index);
  std::string text;
  {
    std::lock_guard lock(lock_);
    fields_.m_siteIndex = index;
    text = std::to_string(fields_.m_serialNumber);
    if (text.size() != 12) return;
    text[0] = static_cast<char>('1' + index);
    fields_.m_serialNumber = LeadingValue(text);
  }
  LoadFields();
}

void MonitorEngine::ConvertSerialEntry() {
  std::string text = Text(ctl::kSerialEntry);
  if (text.size() == 10) {
    const int year = workbook_ ? workbook_->ConvertLegacySerial(text) : 0;
    if (year == 0) return;  // no valid date in it: the entry stays as typed
    {
      std::lock_guard lock(lock_);
      if (year == 2010) text[0] = static_cast<char>('1' + fields_.m_siteIndex);
      fields_.m_serialNumber = LeadingValue(text);
    }
    LoadFields();
    Enable(ctl::kSiteList, year == 2010);
    if (year == 2010) return;
  } else {
    Enable(ctl::kSiteList, false);
  }
  const bool digit = !text.empty() && text[0] >= '0' && text[0] <= '9';
  SelectSite(digit ? text[0] - '0' - 1 : -1);
}

}  // namespace pyranex
