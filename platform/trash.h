#pragma once

#include <QString>

// Moves the file at path to the user's freedesktop trash (the trash of its own volume when
// it lies elsewhere). False, with a reason a person can read, when the file stays.
bool MoveToTrash(const QString& path, QString& reason);
