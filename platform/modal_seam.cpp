#include "platform/modal_seam.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>

namespace {

const char* const kMessageTitle = "Vantoro Software Image Viewer";

class CScreenSeam final : public CModalSeam {
public:
    QMessageBox::StandardButton MessageBox(QWidget* parent, const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::Icon icon) override {
        QMessageBox box(icon, QString::fromLatin1(kMessageTitle), text, buttons, parent);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    }

    int RunDialog(QDialog& dialog) override { return dialog.exec(); }
};

CScreenSeam g_screenSeam;
CModalSeam* g_seam = &g_screenSeam;

}  // namespace

CModalSeam& ModalSeam() { return *g_seam; }

void SetModalSeam(CModalSeam* seam) { g_seam = seam ? seam : &g_screenSeam; }

QMessageBox::StandardButton ViewerMessageBox(const QString& text, QMessageBox::StandardButtons buttons,
                                             QMessageBox::Icon icon) {
    return ModalSeam().MessageBox(QApplication::activeWindow(), text, buttons, icon);
}
