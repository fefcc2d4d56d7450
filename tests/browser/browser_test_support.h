#pragma once

#include "platform/modal_seam.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>

class CTest11Doc;

// Readable values in test failures.
void PrintTo(const QString& text, std::ostream* out);
void PrintTo(const QStringList& texts, std::ostream* out);

// Stands in for the person at the screen while it lives: records every message box and
// dialog, and answers message boxes with `answer` when it is one of the buttons offered
// (else with the first of OK and Yes offered).
class CScriptedSeam final : public CModalSeam {
public:
    CScriptedSeam() { SetModalSeam(this); }
    ~CScriptedSeam() override { SetModalSeam(nullptr); }

    QMessageBox::StandardButton MessageBox(QWidget*, const QString& text, QMessageBox::StandardButtons buttons,
                                           QMessageBox::Icon) override;
    int RunDialog(QDialog& dialog) override;

    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QStringList messages;
    QStringList dialogs;
    // Run inside MessageBox and RunDialog, while the box or dialog is open.
    std::function<void(const QString&)> onMessage;
    std::function<void(QDialog&)> onDialog;
};

// Writes a picture of width x height in one colour; the format follows the name's
// extension when Qt writes it (jpg, png, bmp), BMP otherwise. Returns the path.
QString WritePicture(const QString& path, int width = 40, int height = 30, QColor colour = Qt::red);
// Writes bytes that no decoder reads.
QString WriteJunk(const QString& path);
// The colour at the centre of an image.
QColor CentreColour(const QImage& image);
// Removes the program's settings file: the next start is a first run.
void RemoveSettings();
// Processes pending events a few times over.
void Settle();
// Settles, then waits (at most 20 s) until the document's open has finished; false when it
// did not.
bool Settle(CTest11Doc& document);
