#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace pyranex {

class CInverterCom;

// The monitor dialog as the power view sees it. MonitorTick and HasStoppedPolling run on the
// poll thread; HandleRegisterValue and ValueIndex on the interface thread.
class MonitorDialog {
 public:
  virtual ~MonitorDialog() = default;
  // One 200 ms step of the dialog's own request engine.
  virtual void MonitorTick() = 0;
  // True once the dialog gave up after its time-out; the poll thread then leaves it alone.
  virtual bool HasStoppedPolling() const = 0;
  virtual void HandleRegisterValue(uint16_t value) = 0;
  // m_valueIndex: index of the next value within the dialog's current reply.
  virtual uint32_t ValueIndex() const = 0;
};

// The password gate and the dialog's window, which the GUI provides.
class MonitorGate {
 public:
  virtual ~MonitorGate() = default;
  // Shows the password dialog: nothing on Cancel, else whether the text grants full access.
  virtual std::optional<bool> AskPassword() = 0;
  virtual std::shared_ptr<MonitorDialog> CreateMonitor(bool fullAccess, CInverterCom& link) = 0;
  // Runs the dialog modally; messages keep being dispatched meanwhile. Returns when closed.
  virtual void RunModal(MonitorDialog& dialog) = 0;
};

}  // namespace pyranex
