#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

// Every message box and modal dialog of the viewer passes through here, so that tests can
// put a recorder in place of the person at the screen.
class CModalSeam {
public:
    virtual ~CModalSeam() = default;

    // A message box with the application's title; returns the button chosen.
    virtual QMessageBox::StandardButton MessageBox(QWidget* parent, const QString& text,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::Icon icon) = 0;
    // Runs a dialog modally; returns its result code (QDialog::Accepted or Rejected).
    virtual int RunDialog(QDialog& dialog) = 0;
};

// The seam in force: the real one unless a test replaced it.
CModalSeam& ModalSeam();
// Replaces the seam (nullptr restores the real one). The caller keeps ownership.
void SetModalSeam(CModalSeam* seam);

// Plain message box with an OK button, as the viewer shows its fixed error texts.
QMessageBox::StandardButton ViewerMessageBox(const QString& text,
                                             QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                             QMessageBox::Icon icon = QMessageBox::NoIcon);
