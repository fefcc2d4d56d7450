#pragma once

#include <QString>

// Moves the file at path to a freedesktop trash: the user's own ($XDG_DATA_HOME/Trash) when
// the file lies on the same device, else the trash at the top of the file's own volume
// ($topdir/.Trash/$uid, or $topdir/.Trash-$uid). Never anywhere else: when no trash can take
// the file it stays where it was. False, with a reason a person can read, when it stays.
bool MoveToTrash(const QString& path, QString& reason);
