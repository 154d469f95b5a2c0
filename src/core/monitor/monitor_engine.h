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
  // NoAccess: no full access, or the button is disabled (a command is under way).
  enum class SetAllOutcome { Started, NoAccess, FieldInvalid, SerialInvalid };
  SetAllOutcome OnSetAllParameter();
  void OnAutoTest();
  void OnClearKwh();
  void OnDefaultParameter();
  // Check-box clicks carry the box's new state (the box toggles first).
  void OnGfciFunction(bool checked);
  void OnIsoFunction(bool checked);
  void OnIslandTestSwitch(bool checked);
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
  void SendParameterBlock();
  void Prompt(const ExchangeFailure& failure);
  void RequestCommand(MonitorMode mode);
  bool IsV500() const { return v500_.load(); }

  void ShowText(int controlId, const std::string& text);
  void ShowCheck(int controlId, bool checked);
  void Enable(int controlId, bool enabled);
  void SelectStandard(int index);
  void SelectSite(int index);

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

  std::array<uint32_t, 6> scratch_{};  // interface thread only

  mutable std::mutex lock_;  // everything below
  MonitorFields fields_;
  std::map<int, Control> controls_;
  std::vector<std::string> faultLines_;
  std::string stateText_;
  int lamp_ = kLampWaiting;
  int standardSelection_ = -1;
  int siteSelection_ = -1;
  std::optional<ExchangeFailure> lastFailure_;
};

}  // namespace pyranex
