#include "platform/modal_seam.h"

#include <QApplication>
#include <QDialog>
#include <QGridLayout>
#include <QSpacerItem>
#include <QWidget>

namespace {

const char* const kMessageTitle = "Vantoro Software Image Viewer";

// A short message makes a narrow box whose title the window manager cuts; the box is made
// wide enough for the title and the title bar's buttons.
void KeepTitleWhole(QMessageBox& box) {
    constexpr int kTitleBarButtons = 120;
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    const int width = box.fontMetrics().horizontalAdvance(box.windowTitle()) + kTitleBarButtons;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

class CScreenSeam final : public CModalSeam {
public:
    QMessageBox::StandardButton MessageBox(QWidget* parent, const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::Icon icon) override {
        QMessageBox box(icon, QString::fromLatin1(kMessageTitle), text, buttons, parent);
        KeepTitleWhole(box);
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
