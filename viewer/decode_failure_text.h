#pragma once

#include <QSize>
#include <QString>

// The message a failed decode shows, the file's name on a line of its own after it. A
// picture over a limit (code 10) is told apart from damage: "This picture is too large to
// show (W × H pixels)." with the size its header declares, or without the parenthesis when
// the size is not known (declaredSize empty). Every other failure is "This file has invalid
// data.".
QString DecodeFailureText(const QString& fileName, int code, QSize declaredSize);

// The size the file's header declares, for the message above: what the probe reads, or the
// size a probe refused as over a limit. Empty when the header tells no size. Reads the
// header only.
QSize DeclaredPictureSize(const QString& path);
