// Command routing: handlers, update rules, and the actions that show a command's state.

#include "viewer/command_table.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

namespace {

TEST(CommandTable, ACommandWithoutHandlerIsDisabledUnlessItsRuleEnablesIt) {
    CCommandTable table;
    QAction unknown;
    table.AddAction(1, &unknown);
    EXPECT_FALSE(unknown.isEnabled());
    EXPECT_FALSE(table.Execute(1));
    EXPECT_FALSE(table.Execute(999)) << "an id nothing knows";

    // A rule may enable a command whose handler lives elsewhere; running it does nothing.
    table.SetUpdateRule(1, [](CCmdUI& ui) { ui.Enable(true); });
    EXPECT_TRUE(unknown.isEnabled());
    EXPECT_FALSE(table.Execute(1));
}

TEST(CommandTable, ExecuteRunsTheHandlerOnlyWhileTheRuleEnablesIt) {
    CCommandTable table;
    bool allowed = false;
    int runs = 0;
    table.SetHandler(7, [&] { ++runs; });
    table.SetUpdateRule(7, [&](CCmdUI& ui) { ui.Enable(allowed); });
    EXPECT_FALSE(table.Execute(7));
    allowed = true;
    EXPECT_TRUE(table.Execute(7));
    EXPECT_EQ(runs, 1);
}

TEST(CommandTable, EveryActionOfAnIdShowsItsStateAndSendsIt) {
    CCommandTable table;
    int mode = 0;
    table.SetHandler(5, [&] { mode = mode == 1 ? 0 : 1; });
    table.SetUpdateRule(5, [&](CCmdUI& ui) { ui.SetCheck(mode == 1); });
    QAction menuItem;
    QAction contextItem;
    table.AddAction(5, &menuItem);
    table.AddAction(5, &contextItem);
    EXPECT_EQ(table.Action(5), &menuItem);

    contextItem.trigger();
    EXPECT_EQ(mode, 1);
    EXPECT_TRUE(menuItem.isChecked());
    EXPECT_TRUE(contextItem.isChecked());
    menuItem.trigger();
    EXPECT_EQ(mode, 0);
    EXPECT_FALSE(contextItem.isChecked());
    EXPECT_FALSE(menuItem.isChecked()) << "Qt's own toggle is overruled by the rule";

    // A state changed behind the table's back shows when a watched menu opens.
    QMenu menu;
    table.WatchMenu(&menu);
    mode = 1;
    emit menu.aboutToShow();
    EXPECT_TRUE(contextItem.isChecked());
}

}  // namespace
