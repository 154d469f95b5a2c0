#pragma once

#include <QHash>

class QAction;

namespace pyranex::ui {

// Command ids of menu 128 and tool bar 158.
enum CommandId : int {
  ID_APP_EXIT = 57665,
  ID_VIEW_TOOLBAR = 59392,
  ID_VIEW_STATUS_BAR = 59393,
  ID_COM_SETTING = 32777,
  ID_PAR_SETTING = 32778,
  ID_SAVE_DATA = 32780,
  ID_POSITION = 32782,
  ID_TRACKING = 32783,
  ID_XSCOPE = 32785,
  ID_LOGO = 32792,
  ID_APP_ABOUT = 57664,
  ID_HELP_CONTENTS = 32789,
  ID_HISTORY_IMPORT = 32800,
};

// What enabling and check marks depend on.
struct CommandState {
  bool portOpen = false;
  bool exportRunning = false;
  bool cursorShown = false;
  bool tracking = true;
};

// Sets enabled and checked on the actions of the commands that depend on the state; ids
// without an action are skipped. The one place these rules live.
void ApplyCommandState(const CommandState& state, const QHash<int, QAction*>& actions);

}  // namespace pyranex::ui
