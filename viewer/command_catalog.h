#pragma once

#include <QKeySequence>
#include <QString>

#include <span>

class QIcon;

// The fixed description of a command: the text of its main-menu item, its prompt, its
// toolbar icon.
struct CommandInfo {
    int id;
    // Main-menu text; an accelerator's name follows a tab. Empty for toolbar-only commands.
    const char* menuText;
    // The status-bar prompt, then after a line feed the tooltip. Empty when there is none.
    const char* prompt;
    // Freedesktop icon name tried first, and the bundled icon used when the theme lacks it.
    const char* themeIcon;
    const char* bundledIcon;
};

std::span<const CommandInfo> AllCommands();
// nullptr for an unknown id.
const CommandInfo* FindCommand(int id);

// The part of the prompt shown in the status bar, and the part shown as a tooltip (the
// status-bar part when the prompt has no tooltip part).
QString StatusPrompt(const CommandInfo& info);
QString ToolTipText(const CommandInfo& info);
// The command's toolbar icon: the desktop theme's, else the bundled one; null without either.
QIcon CommandIcon(const CommandInfo& info);

// The frame's accelerator table.
struct Accelerator {
    QKeySequence keys;
    int id;
};
std::span<const Accelerator> Accelerators();
