#include "viewer_test_support.h"

#include "platform/profile.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"

#include <QDialog>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

#include <fstream>
#include <vector>

QMessageBox::StandardButton CRecordingSeam::MessageBox(QWidget*, const QString& text, QMessageBox::StandardButtons buttons,
                                                       QMessageBox::Icon) {
    messages << text;
    return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Yes;
}

int CRecordingSeam::RunDialog(QDialog& dialog) {
    dialogs << dialog.windowTitle();
    return answer ? answer(dialog) : QDialog::Accepted;
}

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

}  // namespace

void WriteBmp32(const std::string& path, int width, int height, const std::function<QRgb(int, int)>& colour) {
    const uint32_t pixelBytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 4;
    std::vector<uint8_t> bmp;
    bmp.push_back('B');
    bmp.push_back('M');
    Put32(bmp, 54 + pixelBytes);
    Put32(bmp, 0);
    Put32(bmp, 54);
    Put32(bmp, 40);
    Put32(bmp, static_cast<uint32_t>(width));
    Put32(bmp, static_cast<uint32_t>(height));
    Put16(bmp, 1);
    Put16(bmp, 32);
    for (int i = 0; i < 6; ++i) Put32(bmp, 0);
    for (int y = height - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x) Put32(bmp, colour(x, y));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
}

QImage RenderViewport(CTest11View& view) {
    QImage image(view.viewport()->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    view.viewport()->render(&image);
    return image;
}

QRect BoundsOf(const QImage& image, QRgb colour) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (row[x] == colour) bounds |= QRect(x, y, 1, 1);
    }
    return bounds;
}

bool AllWhite(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (row[x] != 0xFFFFFFFF) return false;
    }
    return true;
}

QString SettingsFile() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(Profile::kOrganization),
                     QString::fromLatin1(Profile::kApplication))
        .fileName();
}

void RemoveSettings() { QFile::remove(SettingsFile()); }

bool WaitForPicture(CTest11Doc& document) {
    if (!document.IsLoading()) return true;
    QSignalSpy finished(&document, &CTest11Doc::LoadFinished);
    return finished.wait(20000);
}

bool OpenAndWait(CTest11Doc& document, const QString& path) {
    return document.OnOpenDocument(path) && WaitForPicture(document);
}

bool OpenAndWait(CTest11App& app, const QString& path) {
    return app.OpenDocumentFile(path) && WaitForPicture(*app.Document());
}
