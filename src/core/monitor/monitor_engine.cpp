#include "core/monitor/monitor_engine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// What the status line calls a mode's command.
std::string CommandName(int32_t mode) {
  switch (mode) {
    case ModeWriteAll:
      return "Set all parameter";
    case ModeGfci:
      return "GFCI function";
    case ModeIso:
      return "ISO function";
    case ModeIsland:
      return "Island test switch";
    case ModeAutoTest:
      return "Equipment auto test";
    case ModeClearKwh:
      return "Clear kwh";
    default:
      return "Reading";
  }
}

// The registers a block of "Set all parameter" writes.
std::string BlockRegisters(uint32_t block, bool v500) {
  switch (block) {
    case 0:
      return "311-333";
    case 1:
      return "334-338";
    case 2:
      return v500 ? "341-359" : "341-361";
    default:
      return "301-303";
  }
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

// The prompt's lines after the Chinese one, as one line.
std::string EnglishLines(const std::string& prompt) {
  const size_t first = prompt.find('\n');
  if (first == std::string::npos) return prompt;
  std::string rest = prompt.substr(first + 1);
  for (char& c : rest) {
    if (c == '\n') c = ' ';
  }
  return rest;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool Writable(FieldOrigin origin) {
  return origin == FieldOrigin::Read || origin == FieldOrigin::Typed ||
         origin == FieldOrigin::Chosen;
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

FieldOrigin MonitorEngine::Origin(int controlId) const {
  std::lock_guard lock(lock_);
  const auto it = fieldOrigin_.find(controlId);
  return it == fieldOrigin_.end() ? FieldOrigin::Unset : it->second;
}

FieldOrigin MonitorEngine::TextOrigin(int controlId) const {
  std::lock_guard lock(lock_);
  const auto it = controlOrigin_.find(controlId);
  return it == controlOrigin_.end() ? FieldOrigin::Unset : it->second;
}

std::string MonitorEngine::Status() const {
  std::lock_guard lock(lock_);
  return status_;
}

std::map<int, std::string> MonitorEngine::Marks() const {
  std::lock_guard lock(lock_);
  return marks_;
}

std::vector<std::string> MonitorEngine::StandardMissing() const {
  std::lock_guard lock(lock_);
  return standardMissing_;
}

std::string MonitorEngine::AddressNotWrittenReason() const {
  if (IsV500()) {
    return "firmware V5.00 has no Modbus address register (361 is neither read nor written)";
  }
  if (link_.GetFraming() != FramingModbus) {
    return "the inverter answers in the serial-number framing, where its Modbus address is not "
           "set";
  }
  return {};
}

void MonitorEngine::ShowStatus(const std::string& text) {
  {
    std::lock_guard lock(lock_);
    status_ = text;
  }
  if (display_) display_->ShowStatus(text);
}

std::optional<std::string> MonitorEngine::SelectedStandard() const {
  if (standardSelection_ < 0) return std::nullopt;
  return std::string(kStandardListEntries[static_cast<size_t>(standardSelection_)]);
}

std::string MonitorEngine::ControlTextLocked(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? std::string() : it->second.text;
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
  // An address typed where it is never written would be dropped without a word.
  Enable(ctl::kAddressEntry, modbus && !IsV500());
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
    // Kept for the window, which shows it on its own thread with the time-out box.
    const int32_t mode = m_mode.load();
    std::string status;
    if (mode == ModeWriteAll) {
      const uint32_t block = m_blockCounter.load();
      status = "Set all parameter: block " + std::to_string(block + 1) + " of 4 (registers " +
               BlockRegisters(block, IsV500()) + ") got no reply" +
               (block == 0 ? std::string("; nothing was written.")
                           : "; the blocks before it were written.");
    } else if (mode != ModeRead && mode != ModeNone) {
      status = CommandName(mode) + ": no reply from the inverter; it may not have been done.";
    } else {
      status = "The inverter stopped answering; nothing more is sent.";
    }
    {
      std::lock_guard lock(lock_);
      status_ = status;
    }
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
    // The state the click asked for, even if a read has shown the box since.
    case ModeGfci:
      link_.SetGfciFunction(SwitchValue());
      break;
    case ModeIso:
      link_.SetIsoFunction(SwitchValue());
      break;
    case ModeIsland:
      link_.SetIslandTestSwitch(!SwitchValue());
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
    fields = writing_ ? *writing_ : fields_;
    island = writing_ ? writingIsland_ : controls_[ctl::kIslandTest].checked;
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
  bool readDone = false;
  if (mode == ModeRead) {
    edit = MapRegister(link_.m_firstRegister.load() + m_valueIndex.load(), value);
    if (++m_valueIndex == expected) {
      link_.m_exchangeState = ExchangeIdle;
      m_quietMs = 0;
      const uint32_t step = m_readStep.load();
      m_readStep = step == StepSerialBroadcast ? 0 : (step + 1) % 5;
      ++completedReads_;
      readDone = true;
    }
  } else if (++m_valueIndex == expected) {
    link_.m_exchangeState = ExchangeIdle;
    m_quietMs = 0;
    CompleteCommand(mode);
  }
  if (link_.m_exchangeState.load() == ExchangeIdle && m_mode.load() != m_requestedMode.load()) {
    m_mode = m_requestedMode.load();
  }
  if (readDone) CheckReadBack();

  if (m_editsLoaded.load()) return;
  if (m_firstPassDone.load()) {
    m_editsLoaded = true;
    // Register 81's own field first, so the inverter's full power limit is taken in as well.
    if (edit) ApplyEdit(*edit);
    TakeInFirstPass();
    return;
  }
  if (edit) ApplyEdit(*edit);
}

void MonitorEngine::CompleteCommand(int32_t mode) {
  const std::string name = CommandName(mode);
  if (mode == ModeWriteAll) {
    const uint32_t written = ++m_blockCounter;
    if (written < 4) {
      ShowStatus("Set all parameter: block " + std::to_string(written) + " of 4 written; writing " +
                 "block " + std::to_string(written + 1) + " (registers " +
                 BlockRegisters(written, IsV500()) + ")...");
      return;
    }
    {
      std::lock_guard lock(lock_);
      verifyFields_ = writing_;
      verifyIsland_ = writingIsland_;
      writing_.reset();
    }
    // A whole read cycle after the write shows every register it wrote.
    verifyAfterReads_ = completedReads_.load() + 5;
    ShowStatus("Set all parameter: all 4 blocks written; reading them back...");
  } else if (mode == ModeGfci || mode == ModeIso || mode == ModeIsland) {
    bool on = false;
    {
      std::lock_guard lock(lock_);
      verifyBox_ = switchBox_;
      on = verifyChecked_ = switchValue_;
      switchBox_ = 0;
    }
    ShowStatus(name + (on ? " on" : " off") + ": acknowledged by the inverter; reading it back...");
  } else if (mode == ModeAutoTest || mode == ModeClearKwh) {
    ShowStatus(name + ": sent and acknowledged by the inverter.");
  }
  m_blockCounter = 0;
  m_requestedMode = ModeRead;
  EnableCommandButtons(true);
}

void MonitorEngine::CheckReadBack() {
  if (!verifyFields_ || completedReads_.load() < verifyAfterReads_) return;
  const std::vector<std::string> differences = ReadBackDifferences(*verifyFields_, verifyIsland_);
  verifyFields_.reset();
  if (differences.empty()) {
    ShowStatus("Set all parameter: written and read back; every value reads as written.");
  } else {
    ShowStatus("Set all parameter: written, but the inverter reads back other values: " +
               Joined(differences, "; ") + ".");
  }
}

std::vector<std::string> MonitorEngine::ReadBackDifferences(const MonitorFields& written,
                                                            bool islandChecked) const {
  std::vector<std::string> out;
  for (const RegisterPlace& place : RegisterPlaces()) {
    const FieldSpec* item = place.edit != 0 ? FindField(place.edit) : nullptr;
    const std::string shown = Text(place.display);
    if (item == nullptr || shown.empty()) continue;  // not read (361 of V5.00)
    const double expected = WrittenValue(*item, FieldValue(written, *item));
    const double seen = std::strtod(shown.c_str(), nullptr);
    const double step = item->writeScale > 0 ? 1 / item->writeScale : 1;
    if (std::abs(expected - seen) > step * 0.51) {
      out.push_back(std::string(item->label) + " reads back " + shown + ", not " +
                    WrittenText(*item, expected));
    }
  }
  const std::string serial = SerialNumberDigits(written.m_serialNumber);
  if (Text(ctl::kSerialDisplay) != serial) {
    out.push_back("SN1 reads back " + Text(ctl::kSerialDisplay) + ", not " + serial);
  }
  const auto words = StandardNameWords(written.m_standard);
  const std::string name =
      StandardDisplayText({words[0], words[1], words[2], words[3], words[4], words[5]});
  if (Text(ctl::kStandardDisplay) != name) {
    out.push_back("Standard reads back \"" + Text(ctl::kStandardDisplay) + "\", not \"" + name +
                  "\"");
  }
  if (IsChecked(ctl::kIslandTest) != islandChecked) {
    out.push_back(std::string("Island test switch reads back ") +
                  (islandChecked ? "off, not on" : "on, not off"));
  }
  return out;
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
      Enable(ctl::kAddressEntry, link_.GetFraming() == FramingModbus && !IsV500());
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
      ShowSwitchRead(box, reg == 357 ? value == 0 : value != 0);
      return std::nullopt;
    }
    case 77:
      ShowText(ctl::kIsMax, std::to_string(static_cast<int>(value) + 40));
      ShowText(ctl::kIsMin, std::to_string(static_cast<int>(value) - 35));
      return std::nullopt;
    case 358: {
      if (!m_editsLoaded.load()) readStandardNumber_ = value;
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

void MonitorEngine::ShowSwitchRead(int box, bool checked) {
  bool pending = false;
  {
    std::lock_guard lock(lock_);
    fieldOrigin_[box] = FieldOrigin::Read;
    pending = switchBox_ == box;
  }
  // A switch on its way keeps the state the click asked for until the inverter has it.
  if (!pending) ShowCheck(box, checked);
  // While a command is pending every command control stays disabled, the boxes too.
  if (m_fullAccess && !CommandPending()) Enable(box, true);
  if (verifyBox_ != box) return;
  verifyBox_ = 0;
  const std::string name = CommandName(box == ctl::kGfci  ? ModeGfci
                                       : box == ctl::kIso ? ModeIso
                                                          : ModeIsland);
  ShowStatus(checked == verifyChecked_
                 ? name + (checked ? " on" : " off") + ": written and read back."
                 : name + ": written, but the inverter still reads " + (checked ? "on." : "off."));
}

void MonitorEngine::ApplyEdit(const EditUpdate& edit) {
  if (edit.isStandard) {
    SelectStandard(edit.standardIndex);
    std::lock_guard lock(lock_);
    controlOrigin_[ctl::kStandardList] = FieldOrigin::Read;
    return;
  }
  ShowText(edit.control, edit.text);
  std::lock_guard lock(lock_);
  controlOrigin_[edit.control] = FieldOrigin::Read;
  if (edit.control == ctl::kSerialEntry) {
    fields_.m_serialNumber = LeadingValue(edit.text);
    // Nibbles above 9 show as ":" to "?": such a serial number cannot be written back.
    fieldOrigin_[edit.control] = AllDigits(edit.text) ? FieldOrigin::Read : FieldOrigin::Unreadable;
    if (!AllDigits(edit.text)) readText_[edit.control] = edit.text;
  }
}

void MonitorEngine::TakeInFirstPass() {
  std::vector<ExchangeFailure> failures;
  {
    std::lock_guard lock(lock_);
    const std::optional<std::string> standard = SelectedStandard();
    failures = TakeInAllFields(
        fields_, [this](int id) { return ControlTextLocked(id); }, standard);
    for (const FieldSpec& item : FieldSpecs()) {
      if (item.control == ctl::kStandardList) continue;
      const auto failed = std::find_if(failures.begin(), failures.end(), [&](const auto& f) {
        return f.control == item.control && f.notAValue;
      });
      if (failed != failures.end()) {
        fieldOrigin_[item.control] = FieldOrigin::Unreadable;
        readText_[item.control] = ControlTextLocked(item.control);
      } else {
        fieldOrigin_[item.control] = controlOrigin_[item.control];
      }
    }
    // The list holds 14 of the 16 standards: the last two are still the inverter's own.
    if (standard) {
      fieldOrigin_[ctl::kStandardList] = controlOrigin_[ctl::kStandardList];
    } else if (readStandardNumber_ >= 0 &&
               readStandardNumber_ < static_cast<int>(StandardNames.size())) {
      fields_.m_standard = std::string(StandardNames[static_cast<size_t>(readStandardNumber_)]);
      fieldOrigin_[ctl::kStandardList] = FieldOrigin::Read;
    } else if (readStandardNumber_ >= 0) {
      fieldOrigin_[ctl::kStandardList] = FieldOrigin::Unreadable;
      readText_[ctl::kStandardList] = "standard number " + std::to_string(readStandardNumber_);
    }
    lastFailure_ = failures.empty() ? std::nullopt : std::optional(failures.front());
  }
  UpdateMarks();
  if (failures.empty()) return;
  std::vector<std::string> labels;
  for (const ExchangeFailure& f : failures) labels.push_back(f.label);
  ShowStatus("The inverter holds " + std::to_string(failures.size()) +
             (failures.size() == 1 ? " value" : " values") + " outside the rules (marked): " +
             Joined(labels, ", ") + ". They are written only once corrected.");
  Prompt(failures.front());
}

void MonitorEngine::UpdateMarks() {
  std::map<int, std::string> marks;
  std::map<int, std::string> before;
  {
    std::lock_guard lock(lock_);
    MonitorFields scratch = fields_;
    const auto failures = TakeInAllFields(
        scratch, [this](int id) { return ControlTextLocked(id); }, SelectedStandard());
    for (const ExchangeFailure& f : failures) {
      const bool fromInverter = controlOrigin_[f.control] == FieldOrigin::Read;
      marks[f.control] = (fromInverter ? "The inverter's value is outside the rules. " : "") +
                         EnglishLines(f.prompt);
    }
    for (const auto& [id, origin] : controlOrigin_) {
      if (origin == FieldOrigin::NotInStandard) {
        marks[id] = "datacfg.xls holds no " + standardChosen_ +
                    " value for this field; it keeps its older value.";
      } else if (origin == FieldOrigin::Unreadable && !marks.count(id)) {
        marks[id] = "The inverter's value \"" + readText_[id] + "\" is not a value of this field.";
      }
    }
    before.swap(marks_);
    marks_ = marks;
  }
  if (!display_) return;
  for (const auto& [id, reason] : before) {
    if (!marks.count(id)) display_->MarkControl(id, std::string());
  }
  for (const auto& [id, reason] : marks) {
    const auto it = before.find(id);
    if (it == before.end() || it->second != reason) display_->MarkControl(id, reason);
  }
}

// ---------------------------------------------------------------------------------------------
// Fields and handlers (interface thread)

void MonitorEngine::SetControlText(int controlId, std::string text) {
  {
    std::lock_guard lock(lock_);
    controls_[controlId].text = std::move(text);
    controlOrigin_[controlId] = FieldOrigin::Typed;
  }
  UpdateMarks();
}

bool MonitorEngine::SaveFields() {
  std::optional<ExchangeFailure> failure;
  {
    std::lock_guard lock(lock_);
    const std::optional<std::string> standard = SelectedStandard();
    failure = pyranex::SaveFields(
        fields_, [this](int id) { return ControlTextLocked(id); }, standard);
    // The fields taken in carry their controls' origins; the failing one and those after it
    // keep theirs.
    for (const FieldSpec& item : FieldSpecs()) {
      if (failure && failure->control == item.control) break;
      if (item.control == ctl::kStandardList && !standard) continue;
      fieldOrigin_[item.control] = controlOrigin_[item.control];
    }
    lastFailure_ = failure;
  }
  UpdateMarks();
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
    } else {
      ShowText(item.control, FieldText(fields, item));
    }
    std::lock_guard lock(lock_);
    controlOrigin_[item.control] = fieldOrigin_[item.control];
  }
  UpdateMarks();
}

void MonitorEngine::Prompt(const ExchangeFailure& failure) {
  notifier_.Show(failure.prompt, FieldPromptCaption(failure.label), NoticeIcon::Warning,
                 NoticeButtons::Ok);
  if (display_) display_->FocusControl(failure.control);
}

void MonitorEngine::EnableCommandButtons(bool on) {
  if (!m_fullAccess) return;
  for (int id : kCommandControls) Enable(id, on);
}

bool MonitorEngine::RequestCommand(MonitorMode mode) {
  if (!m_fullAccess) return false;
  // A disabled control cannot be clicked: one command at a time.
  if (!IsEnabled(ctl::kSetAllParameter) || CommandPending()) {
    ShowStatus(CommandName(mode) + ": not sent; " + CommandName(m_requestedMode.load()) +
               " is still under way.");
    return false;
  }
  EnableCommandButtons(false);
  m_requestedMode = mode;
  ShowStatus(CommandName(mode) + ": sending...");
  return true;
}

bool MonitorEngine::RequestSwitch(MonitorMode mode, int box, bool checked) {
  if (m_fullAccess && IsEnabled(box) && IsEnabled(ctl::kSetAllParameter) && !CommandPending()) {
    {
      std::lock_guard lock(lock_);
      switchBox_ = box;
      switchValue_ = checked;
    }
    ShowCheck(box, checked);
    return RequestCommand(mode);
  }
  // The box has toggled under the click already: put it back and say why.
  ShowCheck(box, IsChecked(box));
  ShowStatus(CommandName(mode) + ": not switched; " +
             (!m_fullAccess      ? std::string("the dialog was opened without the password.")
              : CommandPending() ? CommandName(m_requestedMode.load()) + " is still under way."
                                 : std::string("its state has not been read yet.")));
  return false;
}

std::optional<ExchangeFailure> MonitorEngine::FirstUnchosenField() const {
  std::lock_guard lock(lock_);
  const auto originOf = [this](int id) {
    const auto it = fieldOrigin_.find(id);
    return it == fieldOrigin_.end() ? FieldOrigin::Unset : it->second;
  };
  const auto refusal = [&](int id, std::string label) -> std::optional<ExchangeFailure> {
    std::string why;
    switch (originOf(id)) {
      case FieldOrigin::Unreadable: {
        const auto text = readText_.find(id);
        why = "The inverter's value \"" + (text == readText_.end() ? "" : text->second) +
              "\" is not a value of this field; type the value to write.";
        break;
      }
      case FieldOrigin::NotInStandard:
        why = "datacfg.xls holds no " + standardChosen_ +
              " value for this field, so it still holds an older value; type the value to write "
              "or choose another standard.";
        break;
      default:
        why = "No value of this field has been read from the inverter, typed or chosen yet.";
        break;
    }
    return ExchangeFailure{id, std::move(label), why + "\nNothing was sent.", false};
  };
  for (const FieldSpec& item : FieldSpecs()) {
    // V5.00 never reads nor writes the address.
    if (item.control == ctl::kAddressEntry && IsV500()) continue;
    if (!Writable(originOf(item.control))) return refusal(item.control, std::string(item.label));
  }
  // Block 2 writes the island switch as the box shows it.
  if (!Writable(originOf(ctl::kIslandTest))) return refusal(ctl::kIslandTest, "Island test switch");
  return std::nullopt;
}

MonitorEngine::SetAllOutcome MonitorEngine::OnSetAllParameter() {
  if (!m_fullAccess || !IsEnabled(ctl::kSetAllParameter)) return SetAllOutcome::NoAccess;
  if (!SaveFields()) return SetAllOutcome::FieldInvalid;
  ConvertSerialEntry();
  if (Fields().m_serialNumber > kMaxSerialNumber) {
    notifier_.Show(kSerialInvalidText, FieldPromptCaption("SN1"), NoticeIcon::None,
                   NoticeButtons::Ok);
    return SetAllOutcome::SerialInvalid;
  }
  if (const auto refusal = FirstUnchosenField()) {
    {
      std::lock_guard lock(lock_);
      lastFailure_ = refusal;
    }
    ShowStatus("Set all parameter: nothing was sent; " + refusal->label +
               " holds no value read, typed or chosen.");
    Prompt(*refusal);
    return SetAllOutcome::NotChosen;
  }
  {
    std::lock_guard lock(lock_);
    writing_ = fields_;
    writingIsland_ = controls_[ctl::kIslandTest].checked;
  }
  m_requestedMode = ModeWriteAll;
  EnableCommandButtons(false);
  ShowStatus("Set all parameter: writing block 1 of 4 (registers 311-333)...");
  return SetAllOutcome::Started;
}

bool MonitorEngine::OnAutoTest() {
  return RequestCommand(ModeAutoTest);
}

bool MonitorEngine::OnClearKwh() {
  return RequestCommand(ModeClearKwh);
}

void MonitorEngine::OnDefaultParameter() {
  {
    std::lock_guard lock(lock_);
    LoadDefaults(fields_);
    // A deliberate choice: every field with a default now holds it (not the serial number and
    // the address, which have none).
    for (const FieldSpec& item : FieldSpecs()) {
      if (item.control != ctl::kSerialEntry && item.control != ctl::kAddressEntry) {
        fieldOrigin_[item.control] = FieldOrigin::Chosen;
      }
    }
    standardMissing_.clear();
  }
  LoadFields();
  ShowStatus("Default parameter: the fields hold the defaults; nothing was sent.");
}

bool MonitorEngine::OnGfciFunction(bool checked) {
  return RequestSwitch(ModeGfci, ctl::kGfci, checked);
}

bool MonitorEngine::OnIsoFunction(bool checked) {
  return RequestSwitch(ModeIso, ctl::kIso, checked);
}

bool MonitorEngine::OnIslandTestSwitch(bool checked) {
  return RequestSwitch(ModeIsland, ctl::kIslandTest, checked);
}

void MonitorEngine::OnStandardChanged(int index) {
  if (index < 0 || index >= static_cast<int>(kStandardListEntries.size())) return;
  const std::string name(kStandardListEntries[static_cast<size_t>(index)]);
  SelectStandard(index);
  std::vector<ExchangeFailure> failures;
  std::vector<std::string> missing;
  {
    std::lock_guard lock(lock_);
    controlOrigin_[ctl::kStandardList] = FieldOrigin::Chosen;
    // Whatever was typed is taken in, so the fields shown again below lose nothing.
    failures = TakeInAllFields(
        fields_, [this](int id) { return ControlTextLocked(id); }, name);
    for (const FieldSpec& item : FieldSpecs()) {
      const bool refused = std::any_of(failures.begin(), failures.end(), [&](const auto& f) {
        return f.control == item.control && f.notAValue;
      });
      if (!refused) fieldOrigin_[item.control] = controlOrigin_[item.control];
    }
    const int k = StandardNumber(name);
    for (const std::string_view row :
         workbook_ ? workbook_->MissingStandardValues(k)
                   : std::vector<std::string_view>(ParameterNames.begin(), ParameterNames.end())) {
      missing.emplace_back(row);
    }
    for (const FieldSpec& item : FieldSpecs()) {
      if (item.parameterIndex < 0) continue;
      const std::string_view parameter = ParameterNames[static_cast<size_t>(item.parameterIndex)];
      double value = 0;
      // Not in the sheet: the field keeps what it had, marked as not from this standard.
      if (std::find(missing.begin(), missing.end(), parameter) != missing.end() ||
          workbook_->LookupStandardValue(k, item.parameterIndex, value) != 0) {
        fieldOrigin_[item.control] = FieldOrigin::NotInStandard;
        continue;
      }
      fieldOrigin_[item.control] = FieldOrigin::Chosen;
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
    standardChosen_ = name;
    standardMissing_ = missing;
    lastFailure_ = failures.empty() ? std::nullopt : std::optional(failures.front());
  }
  LoadFields();
  if (!failures.empty()) Prompt(failures.front());  // it does not stop the change of standard
  if (missing.empty()) {
    ShowStatus(name + ": values loaded from datacfg.xls; nothing was sent.");
    return;
  }
  std::string text;
  if (missing.size() == ParameterNames.size()) {
    const std::string reason = workbook_ == nullptr ? std::string("no workbook")
                               : workbook_->ParameterTable[0].empty()
                                   ? workbook_->LastError()
                                   : std::string("its column is empty or unreadable");
    text = name + ": no values in datacfg.xls (" + reason + "); the parameter fields keep their " +
           "values.";
  } else {
    text = name + ": datacfg.xls holds no values for " + Joined(missing, ", ") +
           "; those fields keep their values.";
  }
  text +=
      " \"Set all parameter\" sends nothing until each is typed or another standard is "
      "chosen.";
  ShowStatus(text);
  notifier_.Show(text, FieldPromptCaption("Standard"), NoticeIcon::Warning, NoticeButtons::Ok);
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
  const std::string text = Text(ctl::kSerialEntry);
  if (text.size() == 10) {
    const auto converted = ConvertSerialText(text, Fields().m_siteIndex, workbook_);
    if (!converted) return;  // no valid date in it: the entry stays as typed
    {
      std::lock_guard lock(lock_);
      fields_.m_serialNumber = LeadingValue(converted->text);
      // Converted from what the entry held: typed, or a value that was never a serial number.
      fieldOrigin_[ctl::kSerialEntry] = controlOrigin_[ctl::kSerialEntry];
    }
    LoadFields();
    Enable(ctl::kSiteList, converted->year == 2010);
    if (converted->year == 2010) return;
    SelectSite(converted->text[0] - '0' - 1);
    return;
  }
  Enable(ctl::kSiteList, false);
  const bool digit = !text.empty() && text[0] >= '0' && text[0] <= '9';
  SelectSite(digit ? text[0] - '0' - 1 : -1);
}

}  // namespace pyranex
