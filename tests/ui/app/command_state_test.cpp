#include "ui/common/command_state.h"

#include <gtest/gtest.h>

#include <QAction>
#include <memory>
#include <vector>

namespace pyranex::ui {
namespace {

struct Expect {
  int id;
  bool enabled;
  bool checkable;
  bool checked;
};

struct Case {
  const char* name;
  CommandState state;
  std::vector<Expect> expected;
};

TEST(CommandState, EnablingAndCheckMarksFollowTheState) {
  const std::vector<Case> cases = {
      {"no port",
       {false, false, false, true},
       {{ID_PAR_SETTING, false, false, false},
        {ID_SAVE_DATA, false, false, false},
        {ID_POSITION, true, true, false},
        {ID_TRACKING, true, true, true},
        {ID_LOGO, false, false, false}}},
      {"port open",
       {true, false, true, false},
       {{ID_PAR_SETTING, true, false, false},
        {ID_SAVE_DATA, true, false, false},
        {ID_POSITION, true, true, true},
        {ID_TRACKING, true, true, false},
        {ID_LOGO, false, false, false}}},
      {"exporting",
       {true, true, false, true},
       {{ID_PAR_SETTING, true, false, false}, {ID_SAVE_DATA, false, false, false}}},
      {"export ending after the port closed",
       {false, true, false, true},
       {{ID_SAVE_DATA, false, false, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<QAction>> owned;
    QHash<int, QAction*> actions;
    for (int id : {ID_COM_SETTING, ID_PAR_SETTING, ID_SAVE_DATA, ID_POSITION, ID_TRACKING,
                   ID_XSCOPE, ID_LOGO}) {
      owned.push_back(std::make_unique<QAction>());
      actions.insert(id, owned.back().get());
    }
    ApplyCommandState(c.state, actions);
    for (const Expect& e : c.expected) {
      SCOPED_TRACE(e.id);
      EXPECT_EQ(actions[e.id]->isEnabled(), e.enabled);
      EXPECT_EQ(actions[e.id]->isCheckable(), e.checkable);
      EXPECT_EQ(actions[e.id]->isChecked(), e.checked);
    }
    // Commands without a rule are left alone: always enabled, never checked.
    for (int id : {ID_COM_SETTING, ID_XSCOPE}) {
      EXPECT_TRUE(actions[id]->isEnabled());
      EXPECT_FALSE(actions[id]->isChecked());
    }
  }
}

TEST(CommandState, MissingActionsAreSkipped) {
  QAction par;
  ApplyCommandState({true, false, false, true}, {{ID_PAR_SETTING, &par}});
  EXPECT_TRUE(par.isEnabled());
}

}  // namespace
}  // namespace pyranex::ui
