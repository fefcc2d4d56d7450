// Printing the current image: pages printed to PDF and rendered back (pdftoppm, pdftotext,
// pdfinfo) to find the rules, the texts and the picture; the print dialog, preview and page
// setup through the dialog seam.

#include "browser/viewer_model.h"
#include "viewer/display_layout.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/print_layout.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QFile>
#include <QPageSize>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr QRgb kRed = qRgb(200, 30, 50);
constexpr QRgb kBlue = qRgb(40, 60, 210);
// Pages are rendered at a tenth of the printer's 600 dots per inch.
constexpr int kRenderDpi = 60;
constexpr double kScale = kRenderDpi / 600.0;
// Edges blur over about a rendered pixel.
constexpr double kTolerance = 1.6;

bool Near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 12 && std::abs(qGreen(a) - qGreen(b)) <= 12 && std::abs(qBlue(a) - qBlue(b)) <= 12;
}

bool Dark(QRgb c) { return qGray(c) < 128; }

// Runs a poppler tool; its standard output.
QByteArray RunTool(const QString& program, const QStringList& arguments) {
    const QString path = QStandardPaths::findExecutable(program);
    EXPECT_FALSE(path.isEmpty()) << program.toStdString() << " is missing (poppler-utils, `make deps`)";
    if (path.isEmpty()) return {};
    QProcess process;
    process.start(path, arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

class Printing : public ::testing::Test {
protected:
    void SetUp() override {
        document.RegisterCommands(commands);
        RemoveSettings();
        QPrinter& printer = view.Printing().Printer();
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(QPageSize::A4));
    }

    // Opens a picture of width x height; split colours its right half blue.
    void Open(int width, int height, bool split = false) {
        picture = QString::fromStdString(dir.File("picture.bmp"));
        WriteBmp32(picture.toStdString(), width, height,
                   [width, split](int x, int) { return split && x >= width / 2 ? kBlue : kRed; });
        ASSERT_TRUE(OpenAndWait(document, picture));
        model.g_strCurrentFile = picture;
    }

    QPrinter& Printer() { return view.Printing().Printer(); }
    // The printable rectangle in printer units, placed as the painter sees it.
    QRect Page() { return QRect(QPoint(0, 0), Printer().pageLayout().paintRectPixels(600).size()); }

    // Prints without the dialog and renders the page.
    QImage PrintAndRender() {
        QFile::remove(pdf);
        EXPECT_TRUE(commands.Execute(ID_FILE_PRINT_DIRECT));
        EXPECT_TRUE(QFile::exists(pdf));
        return Render();
    }

    QImage Render() {
        const QString base = QString::fromStdString(dir.File("page"));
        RunTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(kRenderDpi), QStringLiteral("-png"),
                                         QStringLiteral("-singlefile"), QStringLiteral("-thinlinemode"),
                                         QStringLiteral("solid"), pdf, base});
        return QImage(base + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
    }

    int PageCount() {
        const QString info = QString::fromUtf8(RunTool(QStringLiteral("pdfinfo"), {pdf}));
        for (const QString& line : info.split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("Pages:"))) return line.mid(6).trimmed().toInt();
        return -1;
    }

    QString Text() {
        return QString::fromUtf8(RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")}));
    }

    // Printer units to rendered pixels.
    QPointF ToRender(QPointF device) {
        const QPoint corner = Printer().pageLayout().paintRectPixels(600).topLeft();
        return (device + QPointF(corner)) * kScale;
    }

    // The rendered pixels matching predicate, as a rectangle in printer units.
    QRectF DeviceBounds(const QImage& page, const std::function<bool(QRgb)>& predicate, QRect within = {}) {
        QRect found;
        const QRect area = within.isNull() ? page.rect() : within;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (predicate(page.pixel(x, y))) found |= QRect(x, y, 1, 1);
        if (found.isNull()) return {};
        const QPoint corner = Printer().pageLayout().paintRectPixels(600).topLeft();
        return QRectF(found.left() / kScale - corner.x(), found.top() / kScale - corner.y(), found.width() / kScale,
                      found.height() / kScale);
    }

    void ExpectNear(const QRectF& actual, const QRectF& expected, const char* what) {
        const double slack = kTolerance / kScale;
        EXPECT_NEAR(actual.left(), expected.left(), slack) << what;
        EXPECT_NEAR(actual.top(), expected.top(), slack) << what;
        EXPECT_NEAR(actual.right(), expected.right(), slack) << what;
        EXPECT_NEAR(actual.bottom(), expected.bottom(), slack) << what;
    }

    // Most of the rendered row at printer height y is dark.
    bool RuleAt(const QImage& page, int y) {
        const int row = static_cast<int>(std::lround(ToRender(QPointF(0, y)).y()));
        for (int r = row - 1; r <= row + 1; ++r) {
            int dark = 0;
            for (int x = 0; x < page.width(); ++x) dark += Dark(page.pixel(x, r));
            if (dark > page.width() * 3 / 4) return true;
        }
        return false;
    }

    TempDir dir;
    QString pdf = QString::fromStdString(dir.File("page.pdf"));
    QString picture;
    CRecordingSeam seam;
    CViewerModel model;
    CTest11Doc document{model};
    CCommandTable commands;
    CTest11View view{document, commands};
};

TEST_F(Printing, OnePageWithRulesHeaderAndFooter) {
    Open(400, 300);
    const QImage page = PrintAndRender();
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(PageCount(), 1);
    const int B = Page().height();
    EXPECT_TRUE(RuleAt(page, 0)) << "top edge";
    EXPECT_TRUE(RuleAt(page, 120)) << "header rule";
    EXPECT_TRUE(RuleAt(page, B - 120)) << "footer rule";

    const QString text = Text();
    EXPECT_TRUE(text.contains(QStringLiteral("File Name : ") + picture)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Image printed by Vantoro Image Viewer"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("www.vantorosoftware.com"))) << text.toStdString();

    // The header's letters sit between the top line and the header rule from x = 200, the
    // footer's below the footer rule.
    const auto band = [&](int top, int bottom) {
        const QPointF a = ToRender(QPointF(0, top));
        const QPointF b = ToRender(QPointF(Page().width(), bottom));
        return QRect(QPoint(0, static_cast<int>(std::ceil(a.y())) + 2), QPoint(page.width() - 1, static_cast<int>(b.y()) - 2));
    };
    const QRectF header = DeviceBounds(page, Dark, band(0, 120));
    ASSERT_FALSE(header.isNull());
    EXPECT_NEAR(header.left(), 200, 40);
    EXPECT_GT(header.height(), 30);
    const QRectF footer = DeviceBounds(page, Dark, band(B - 120, B));
    ASSERT_FALSE(footer.isNull());
    EXPECT_NEAR(footer.left(), 200, 40);
    EXPECT_GT(footer.top(), B - 110);
    EXPECT_GT(footer.width(), header.width()) << "the footer line is the longer one";
}

TEST_F(Printing, PictureKeepsBetweenTheRulesInEveryMode) {
    const QRect pageRect = Page();
    const double R = pageRect.width();
    const double B = pageRect.height();
    const double Wa = R - 400;
    const double Ha = B - 800;

    // Wider than the image area: the full width, centred 200 below the area's middle.
    Open(400, 200);
    model.StretchState = DisplayMode::Proportional();
    const QImage wide = PrintAndRender();
    const double h = Wa * 200 / 400;
    ExpectNear(DeviceBounds(wide, [](QRgb c) { return Near(c, kRed); }),
               QRectF(200, (Ha - h) / 2 + 600, Wa, h), "wide, proportional");

    // Natural size and every zoom print the whole picture the same way.
    for (DisplayMode mode : {DisplayMode::Natural(), DisplayMode::Zoom(129), DisplayMode::Zoom(23)}) {
        model.StretchState = mode;
        EXPECT_EQ(PrintAndRender(), wide) << "StretchState " << mode.Stored();
    }

    // Taller: the image area's height from 200 down, centred 200 right of the middle.
    Open(200, 400);
    model.StretchState = DisplayMode::Proportional();
    const double w = Ha * 200 / 400;
    ExpectNear(DeviceBounds(PrintAndRender(), [](QRgb c) { return Near(c, kRed); }),
               QRectF((Wa - w) / 2 + 400, 200, w, Ha), "tall, proportional");

    model.StretchState = DisplayMode::StretchToFill();
    const QRectF filled = DeviceBounds(PrintAndRender(), [](QRgb c) { return Near(c, kRed); });
    ExpectNear(filled, QRectF(100, 200, R - 200, B - 400), "stretch to fill");
    EXPECT_GT(filled.top(), 120);
    EXPECT_LT(filled.bottom(), B - 120);
}

TEST_F(Printing, TilesFillOnlyTheImageArea) {
    Open(400, 300, true);
    model.StretchState = DisplayMode::Tile();
    const QImage page = PrintAndRender();
    const QRect pageRect = Page();
    const QRectF area(200, 400, pageRect.width() - 400, pageRect.height() - 800);
    ExpectNear(DeviceBounds(page, [](QRgb c) { return Near(c, kRed) || Near(c, kBlue); }), area, "tiles");

    // Copies at natural size from the area's corner: red, blue, red again 400 units on.
    const auto colourAt = [&](double x, double y) {
        const QPointF p = ToRender(area.topLeft() + QPointF(x, y));
        return page.pixel(static_cast<int>(p.x()), static_cast<int>(p.y()));
    };
    EXPECT_TRUE(Near(colourAt(50, 50), kRed));
    EXPECT_TRUE(Near(colourAt(250, 50), kBlue));
    EXPECT_TRUE(Near(colourAt(450, 50), kRed));
    EXPECT_TRUE(Near(colourAt(250, 350), kBlue));
    EXPECT_TRUE(RuleAt(page, 120)) << "the header is not overprinted";
}

TEST_F(Printing, PageWithoutRoomPrintsNoPicture) {
    // A picture on a page smaller than the margins, or without any picture.
    for (const QRect& page : {QRect(0, 0, 380, 5000), QRect(0, 0, 3000, 790), QRect(0, 0, 0, 0)}) {
        const PrintLayout layout = ComputePrintLayout(page, QSize(64, 48), DisplayMode::Proportional());
        EXPECT_TRUE(layout.target.isEmpty()) << page.width() << " x " << page.height();
        EXPECT_TRUE(layout.imageArea.isEmpty());
    }
    EXPECT_TRUE(ComputePrintLayout(QRect(0, 0, 3000, 4000), QSize(0, 0), DisplayMode::StretchToFill()).target.isEmpty());
}

TEST_F(Printing, WebAddressComesFromTheSettings) {
    Profile::WriteString(QStringLiteral("Settings"), QStringLiteral("MakerWebAddress"), QStringLiteral("example.org/viewer"));
    Open(40, 30);
    PrintAndRender();
    const QString text = Text();
    EXPECT_TRUE(text.contains(QStringLiteral("example.org/viewer"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("vantorosoftware"))) << text.toStdString();
}

TEST_F(Printing, DialogsDecideAndPreviewShowsOnePage) {
    Open(40, 30);
    // Cancelling the print dialog prints nothing; accepting it prints.
    seam.answer = [](QDialog&) { return int{QDialog::Rejected}; };
    ASSERT_TRUE(commands.Execute(ID_FILE_PRINT));
    EXPECT_FALSE(QFile::exists(pdf));
    seam.answer = nullptr;
    ASSERT_TRUE(commands.Execute(ID_FILE_PRINT));
    EXPECT_TRUE(QFile::exists(pdf));
    EXPECT_EQ(seam.dialogs.size(), 2);

    int previewPages = -1;
    seam.answer = [&previewPages](QDialog& dialog) {
        auto* preview = dialog.findChild<QPrintPreviewWidget*>();
        if (!preview) return int{QDialog::Rejected};
        preview->updatePreview();
        previewPages = preview->pageCount();
        return int{QDialog::Accepted};
    };
    ASSERT_TRUE(commands.Execute(ID_FILE_PRINT_PREVIEW));
    EXPECT_EQ(previewPages, 1);

    seam.answer = nullptr;
    ASSERT_TRUE(commands.IsEnabled(ID_FILE_PRINT_SETUP));
    ASSERT_TRUE(commands.Execute(ID_FILE_PRINT_SETUP));
    EXPECT_EQ(seam.dialogs.size(), 4);
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(Printing, PrinterThatCannotStartIsReported) {
    Open(40, 30);
    Printer().setOutputFileName(QString::fromStdString(dir.File("missing-folder/page.pdf")));
    ASSERT_TRUE(commands.Execute(ID_FILE_PRINT_DIRECT));
    EXPECT_EQ(seam.messages, QStringList{QStringLiteral("Could not start print job.")});
}

}  // namespace
