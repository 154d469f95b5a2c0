#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/acquisition/monitor_hooks.h"
#include "core/link/inverter_com.h"
#include "core/monitor/monitor_display.h"
#include "core/monitor/monitor_fields.h"
#include "core/platform/notifier.h"

namespace pyranex {

class CConfigWorkbook;

enum MonitorMode : int32_t {
  ModeNone = -1,
  ModeRead = 0,
  ModeWriteAll = 1,
  ModeGfci = 2,
  ModeIso = 3,
  ModeIsland = 4,
  ModeAutoTest = 5,
  ModeClearKwh = 6,
};
inline constexpr uint32_t StepSerialBroadcast = 10;

inline constexpr const char* kMonitorTimeoutText =
    "Time out. Not recieved a respond message from COM serail port during 5000ms!\n maybe "
    "connection line released, serial no not correct or machine reset!";
inline constexpr const char* kSerialInvalidText = "Serial No. input invalid!";

// Where the value of a parameter field, or the text of its edit control, came from. "Set all
// parameter" writes only what was read from the inverter, typed, or chosen by the user (a
// standard, "Default parameter"); it refuses while any field it writes holds anything else.
enum class FieldOrigin {
  Unset,          // the construction default: nobody read or chose it
  Read,           // the inverter's value, as the first read pass took it in
  Typed,          // typed (or converted from what was typed) by the user
  Chosen,         // from a standard of datacfg.xls or "Default parameter"
  Unreadable,     // the inverter gave a value that is no value of this field
  NotInStandard,  // the chosen standard has no value for it; it keeps an older value
};

struct MonitorServices {
  CInverterCom& link;
  Notifier& notifier;
  const CConfigWorkbook* workbook = nullptr;  // null: every lookup is "not found"
  MonitorDisplay* display = nullptr;          // null: nobody watches; the engine keeps the state
  bool fullAccess = false;                    // the password was right
  // Shows the time-out text on the poll thread instead of notifier.Show, when set (a window may
  // hand it to its interface thread without waiting). Polling has stopped before it is called.
  std::function<void(const std::string&)> onTimeout;
};

// Everything the "Parameter setting and monitor" dialog does, without a window: its request
// engine (modes, read steps, time supervision), the handling and display of every register value,
// the parameter fields with their data exchange and validation, the parameter writes and the
// device commands.
//
// Threads: MonitorTick, SendNextRequest run on the poll thread; everything else on the interface
// thread, which is also the only thread the display is called on. The state the poll thread reads
// (modes, counters, fields, check boxes) is atomic or under a lock.
//
// A window uses it so:
//   construct with the link, notifier, workbook, display and the password's verdict; call Start()
//   when the dialog is initialised; forward typing with SetControlText, button and check-box
//   clicks and list selections to the On... handlers, Enter to ConvertSerialEntry. The engine
//   shows results through MonitorDisplay and prompts through the Notifier, then asks the display
//   to focus the failing control.
class MonitorEngine final : public MonitorDialog {
 public:
  explicit MonitorEngine(MonitorServices services);
  ~MonitorEngine() override = default;
  MonitorEngine(const MonitorEngine&) = delete;
  MonitorEngine& operator=(const MonitorEngine&) = delete;

  // The window, when it is made after the engine (interface thread, before Start).
  void SetDisplay(MonitorDisplay* display) { display_ = display; }

  // Dialog initialisation: shows the fields, enables the command controls with full access,
  // sends the opening serial-number broadcast and shows the framing.
  void Start();

  // --- MonitorDialog ----------------------------------------------------------------------
  void MonitorTick() override;
  bool HasStoppedPolling() const override { return m_elapsedMs.load() == -1; }
  void HandleRegisterValue(uint16_t value) override;
  uint32_t ValueIndex() const override { return m_valueIndex.load(); }

  void SendNextRequest();
  void SendReadStep();

  // --- interface thread: what the user does -----------------------------------------------
  // The user typed into an edit field (nothing is echoed back to the display).
  void SetControlText(int controlId, std::string text);
  // NoAccess: no full access, or the button is disabled (a command is under way). NotChosen: a
  // field it would write holds a value nobody read, typed or chose (LastFailure names it).
  enum class SetAllOutcome { Started, NoAccess, FieldInvalid, SerialInvalid, NotChosen };
  SetAllOutcome OnSetAllParameter();
  // The commands return whether they were requested; a refused one says why on the status line.
  bool OnAutoTest();
  bool OnClearKwh();
  void OnDefaultParameter();
  // Check-box clicks carry the box's new state (the box toggles first). A refused click puts
  // the box back as it was.
  bool OnGfciFunction(bool checked);
  bool OnIsoFunction(bool checked);
  bool OnIslandTestSwitch(bool checked);
  void OnStandardChanged(int index);
  void OnSiteChanged(int index);
  // Enter anywhere in the dialog, or the hidden default button.
  void ConvertSerialEntry();
  void EnableCommandButtons(bool on);
  // The data exchange: controls into fields (false after a prompt), fields into controls.
  bool SaveFields();
  void LoadFields();

  // --- what a window shows (any thread) ----------------------------------------------------
  std::string Text(int controlId) const;
  bool IsChecked(int controlId) const;
  bool IsEnabled(int controlId) const;
  std::vector<std::string> FaultLines() const;
  std::string StateText() const;
  int LampIcon() const;
  int StandardSelection() const;
  int SiteSelection() const;
  MonitorFields Fields() const;
  std::optional<ExchangeFailure> LastFailure() const;
  // Where the field exchanged with this control got its value, and where the control's text
  // came from (they differ once something is typed and not yet taken in).
  FieldOrigin Origin(int controlId) const;
  FieldOrigin TextOrigin(int controlId) const;
  // The status line: how the last command went.
  std::string Status() const;
  // Edit controls marked, with the reason: the inverter's values outside the rules, values that
  // are no value of their field, fields the chosen standard has no value for.
  std::map<int, std::string> Marks() const;
  // The parameters the last chosen standard has no values for in datacfg.xls.
  std::vector<std::string> StandardMissing() const;
  // Why a typed Modbus address would not be written, or empty when it would be.
  std::string AddressNotWrittenReason() const;
  // What the displays read back that differs from `written` (and the island box from
  // `islandChecked`), one "label reads back X, not Y" line each.
  std::vector<std::string> ReadBackDifferences(const MonitorFields& written,
                                               bool islandChecked) const;

  // State fields.
  int32_t Mode() const { return m_mode.load(); }
  int32_t RequestedMode() const { return m_requestedMode.load(); }
  uint32_t ReadStep() const { return m_readStep.load(); }
  uint32_t BlockCounter() const { return m_blockCounter.load(); }
  bool EditsLoaded() const { return m_editsLoaded.load(); }
  bool FirstPassDone() const { return m_firstPassDone.load(); }
  bool FullAccess() const { return m_fullAccess; }
  int32_t ElapsedMs() const { return m_elapsedMs.load(); }
  uint32_t QuietMs() const { return m_quietMs.load(); }
  // Read replies completed so far (all steps), for callers that wait for a pass.
  uint32_t CompletedReads() const { return completedReads_.load(); }

 private:
  struct Control {
    std::string text;
    bool checked = false;
    bool enabled = true;
  };
  struct EditUpdate {
    int control = 0;
    std::string text;
    int standardIndex = -1;
    bool isStandard = false;
  };

  std::optional<EditUpdate> MapRegister(uint32_t registerNumber, uint16_t value);
  void ApplyEdit(const EditUpdate& edit);
  void ShowSwitchRead(int box, bool checked);
  void TakeInFirstPass();
  void CompleteCommand(int32_t mode);
  void CheckReadBack();
  void SendParameterBlock();
  void Prompt(const ExchangeFailure& failure);
  bool RequestCommand(MonitorMode mode);
  bool RequestSwitch(MonitorMode mode, int box, bool checked);
  std::optional<ExchangeFailure> FirstUnchosenField() const;
  void UpdateMarks();
  // The standard selected in the list, if any (lock held).
  std::optional<std::string> SelectedStandard() const;
  std::string ControlTextLocked(int id) const;
  bool IsV500() const { return v500_.load(); }
  bool CommandPending() const { return m_requestedMode.load() != ModeRead; }
  bool SwitchValue() const {
    std::lock_guard lock(lock_);
    return switchValue_;
  }

  void ShowText(int controlId, const std::string& text);
  void ShowCheck(int controlId, bool checked);
  void Enable(int controlId, bool enabled);
  void SelectStandard(int index);
  void SelectSite(int index);
  void ShowStatus(const std::string& text);

  CInverterCom& link_;
  Notifier& notifier_;
  const CConfigWorkbook* workbook_;
  MonitorDisplay* display_;
  std::function<void(const std::string&)> onTimeout_;

  std::atomic<uint32_t> m_waitTotalMs{0};
  std::atomic<uint32_t> m_readStep{StepSerialBroadcast};
  std::atomic<int32_t> m_mode{ModeNone};
  std::atomic<uint32_t> m_valueIndex{0};
  std::atomic<uint32_t> m_blockCounter{0};
  std::atomic<int32_t> m_elapsedMs{0};
  std::atomic<bool> m_editsLoaded{false};
  std::atomic<bool> m_firstPassDone{false};
  std::atomic<int32_t> m_requestedMode{ModeRead};
  std::atomic<uint32_t> m_quietMs{0};
  const bool m_fullAccess;
  std::atomic<bool> v500_{false};
  std::atomic<uint32_t> completedReads_{0};

  // Interface thread only.
  std::array<uint32_t, 6> scratch_{};
  int readStandardNumber_ = -1;                // register 358 of the first pass
  std::optional<MonitorFields> verifyFields_;  // what "Set all parameter" wrote, to read back
  bool verifyIsland_ = false;
  uint32_t verifyAfterReads_ = 0;
  int verifyBox_ = 0;  // the check box whose switch is read back next
  bool verifyChecked_ = false;

  mutable std::mutex lock_;  // everything below
  MonitorFields fields_;
  std::map<int, Control> controls_;
  std::vector<std::string> faultLines_;
  std::string stateText_;
  int lamp_ = kLampWaiting;
  int standardSelection_ = -1;
  int siteSelection_ = -1;
  std::optional<ExchangeFailure> lastFailure_;
  std::map<int, FieldOrigin> controlOrigin_;  // by control: where its text came from
  std::map<int, FieldOrigin> fieldOrigin_;    // by control: where its field's value came from
  std::map<int, std::string> readText_;       // the inverter's text of an Unreadable field
  std::map<int, std::string> marks_;
  std::string status_;
  std::string standardChosen_;
  std::vector<std::string> standardMissing_;
  // "Set all parameter" writes what was checked when it was clicked, whatever happens after.
  std::optional<MonitorFields> writing_;
  bool writingIsland_ = false;
  // The check box of the pending switch command and the state the click asked for.
  int switchBox_ = 0;
  bool switchValue_ = false;
};

}  // namespace pyranex
