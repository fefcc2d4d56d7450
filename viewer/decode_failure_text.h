#pragma once

#include <QSize>
#include <QString>

class CTextException;

// The message a failed decode shows, the file's name on a line of its own after it. A
// picture over a limit (code 10) is told apart from damage: "This picture is too large to
// show (W × H pixels)." with the size its header declares, or without the parenthesis when
// the size is not known (declaredSize empty). Every other failure is "This file has invalid
// data.".
QString DecodeFailureText(const QString& fileName, int code, QSize declaredSize);

// The size a refusal of a picture over a limit carries, as the header declared it; empty for
// other failures and for sizes a QSize cannot hold.
QSize DeclaredSizeOf(const CTextException& failure);
