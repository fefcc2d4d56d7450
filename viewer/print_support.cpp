#include "viewer/print_support.h"

#include "platform/modal_seam.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"

#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace {

// The page layout measures in printer pixels and was drawn for this resolution.
constexpr int kDefaultResolution = 600;

}  // namespace

CPrintSupport::CPrintSupport(PagePainter pagePainter, QWidget* window)
    : QObject(window), pagePainter_(std::move(pagePainter)), window_(window) {}

CPrintSupport::~CPrintSupport() = default;

QPrinter& CPrintSupport::Printer() {
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer_->setResolution(kDefaultResolution);
    }
    return *printer_;
}

void CPrintSupport::RegisterCommands(CCommandTable& commands) {
    commands.SetHandler(ID_FILE_PRINT, [this] { OnFilePrint(); });
    commands.SetHandler(ID_FILE_PRINT_DIRECT, [this] { OnFilePrintDirect(); });
    commands.SetHandler(ID_FILE_PRINT_PREVIEW, [this] { OnFilePrintPreview(); });
    commands.SetHandler(ID_FILE_PRINT_SETUP, [this] { OnFilePrintSetup(); });
}

void CPrintSupport::OnFilePrint() {
    QPrintDialog dialog(&Printer(), window_);
    // One page, nothing to choose among.
    dialog.setMinMax(1, 1);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (ModalSeam().RunDialog(dialog) != QDialog::Accepted) return;
    PrintPage(Printer());
}

void CPrintSupport::OnFilePrintDirect() { PrintPage(Printer()); }

void CPrintSupport::OnFilePrintPreview() {
    QPrintPreviewDialog dialog(&Printer(), window_);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* printer) { PrintPage(*printer); });
    ModalSeam().RunDialog(dialog);
}

void CPrintSupport::OnFilePrintSetup() {
    QPageSetupDialog dialog(&Printer(), window_);
    ModalSeam().RunDialog(dialog);
}

bool CPrintSupport::PrintPage(QPrinter& printer) {
    QPainter painter;
    if (!painter.begin(&printer)) {
        ViewerMessageBox(QStringLiteral("Could not start print job."), QMessageBox::Ok, QMessageBox::Warning);
        return false;
    }
    // The painter's origin is the printable area's corner.
    const QRect printable = printer.pageLayout().paintRectPixels(printer.resolution());
    pagePainter_(painter, QRect(QPoint(0, 0), printable.size()));
    painter.end();
    return true;
}
