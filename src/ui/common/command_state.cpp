#include "ui/common/command_state.h"

#include <QAction>

namespace pyranex::ui {
namespace {

struct Rule {
  int id;
  bool (*enabled)(const CommandState&);
  bool (*checked)(const CommandState&);  // null: no check mark
};

constexpr Rule kRules[] = {
    {ID_PAR_SETTING, [](const CommandState& s) { return s.portOpen; }, nullptr},
    {ID_SAVE_DATA, [](const CommandState& s) { return s.portOpen && !s.exportRunning; }, nullptr},
    {ID_POSITION, [](const CommandState&) { return true; },
     [](const CommandState& s) { return s.cursorShown; }},
    {ID_TRACKING, [](const CommandState&) { return true; },
     [](const CommandState& s) { return s.tracking; }},
    {ID_LOGO, [](const CommandState&) { return false; }, nullptr},
};

}  // namespace

void ApplyCommandState(const CommandState& state, const QHash<int, QAction*>& actions) {
  for (const Rule& rule : kRules) {
    QAction* action = actions.value(rule.id, nullptr);
    if (action == nullptr) continue;
    action->setEnabled(rule.enabled(state));
    action->setCheckable(rule.checked != nullptr);
    if (rule.checked != nullptr) action->setChecked(rule.checked(state));
  }
}

}  // namespace pyranex::ui
