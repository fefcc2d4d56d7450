#pragma once

#include <QObject>
#include <QRect>

#include <functional>
#include <memory>

class CCommandTable;
class QPainter;
class QPrinter;
class QWidget;

// The print commands: print through the print dialog, print at once, print preview and
// print setup. They share one printer whose choices last for the program's run. Every job
// is a single page, drawn by the page painter the view provides.
class CPrintSupport : public QObject {
    Q_OBJECT
public:
    // Draws the page; page is the printable rectangle in printer device units.
    using PagePainter = std::function<void(QPainter& painter, const QRect& page)>;

    // Dialogs open over window.
    CPrintSupport(PagePainter pagePainter, QWidget* window);
    ~CPrintSupport() override;

    // The printer, made on first use: high resolution, 600 dots per inch until the user
    // chooses a printer with a resolution of its own.
    QPrinter& Printer();

    // The handlers of print, print without the dialog, print preview and print setup.
    void RegisterCommands(CCommandTable& commands);
    void OnFilePrint();
    void OnFilePrintDirect();
    void OnFilePrintPreview();
    void OnFilePrintSetup();

    // Prints the page on printer. False, after a message, when the printer cannot start.
    bool PrintPage(QPrinter& printer);

private:
    PagePainter pagePainter_;
    QWidget* window_;
    std::unique_ptr<QPrinter> printer_;
};
