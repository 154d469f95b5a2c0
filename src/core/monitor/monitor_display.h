#pragma once

#include <string>
#include <vector>

namespace pyranex {

// Control ids of the "Parameter setting and monitor" dialog (template 201) that the engine
// speaks of. Read-only displays and edit fields are named by their ids throughout.
namespace ctl {
inline constexpr int kSetAllParameter = 1000;
inline constexpr int kAutoTest = 1001;
inline constexpr int kClearKwh = 1002;
inline constexpr int kDefaultParameter = 1009;
inline constexpr int kHiddenDefault = 1010;
inline constexpr int kStandardList = 1096;
inline constexpr int kSerialDisplay = 1099;
inline constexpr int kFaultList = 1110;
inline constexpr int kSerialEntry = 1111;
inline constexpr int kStateField = 1156;
inline constexpr int kGfci = 1157;
inline constexpr int kIso = 1158;
inline constexpr int kStateLamp = 1173;
inline constexpr int kIslandTest = 1175;
inline constexpr int kSiteList = 1180;
inline constexpr int kStdModbus = 1181;
inline constexpr int kAddressDisplay = 1182;
inline constexpr int kAddressEntry = 1183;
inline constexpr int kStandardDisplay = 1098;
inline constexpr int kIsMax = 1082;
inline constexpr int kIsMin = 1083;
inline constexpr int kFullPowerLimitEdit = 1179;
}  // namespace ctl

// Lamp icons of the operating state: 139 green, 140 grey, 141 red, 142 yellow.
inline constexpr int kLampWaiting = 140;
inline constexpr int kLampInverting = 139;
inline constexpr int kLampWarning = 142;
inline constexpr int kLampFault = 141;

// What the monitor window shows, pushed by the engine on the interface thread only. The engine
// keeps the same state itself (MonitorEngine::Text, IsChecked, ...), so a window can also be
// filled from the engine when it is created; tests read the engine.
//
// The window forwards the other way: typed text (MonitorEngine::SetControlText), check-box
// clicks, list selections and button clicks (the On... handlers), Enter (ConvertSerialEntry).
class MonitorDisplay {
 public:
  virtual ~MonitorDisplay() = default;
  // The text of an edit field or read-only display.
  virtual void ShowText(int controlId, const std::string& text) = 0;
  virtual void ShowCheck(int controlId, bool checked) = 0;
  virtual void EnableControl(int controlId, bool enabled) = 0;
  // The fault list box 1110, already in its sorted order (empty lines included).
  virtual void ShowFaultLines(const std::vector<std::string>& lines) = 0;
  // The state field 1156 and the lamp 1173 (one of the kLamp... icons).
  virtual void ShowState(const std::string& text, int lampIcon) = 0;
  // Selections of the standard list 1096 and the site list 1180; -1 selects nothing.
  virtual void SelectStandard(int index) = 0;
  virtual void SelectSite(int index) = 0;
  // After a validation prompt (shown through the Notifier): focus the failing control.
  virtual void FocusControl(int controlId) = 0;
  // The status line: how the last command went, or why a click was refused.
  virtual void ShowStatus(const std::string& text) = 0;
  // Marks an edit control whose value needs the user's attention; an empty reason clears it.
  virtual void MarkControl(int controlId, const std::string& reason) = 0;
};

}  // namespace pyranex
