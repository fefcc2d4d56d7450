#pragma once

#include <QString>

// Asks the desktop's file manager to show its properties window for path
// (org.freedesktop.FileManager1.ShowItemProperties on the session bus). False when no
// file manager offers it or the call fails.
bool ShowItemPropertiesInFileManager(const QString& path);
