#include "browser_test_support.h"

#include "platform/profile.h"
#include "viewer/test11_doc.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QSignalSpy>

QMessageBox::StandardButton CScriptedSeam::MessageBox(QWidget*, const QString& text,
                                                      QMessageBox::StandardButtons buttons, QMessageBox::Icon) {
    messages << text;
    if (onMessage) onMessage(text);
    if (buttons.testFlag(answer)) return answer;
    return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Yes;
}

int CScriptedSeam::RunDialog(QDialog& dialog) {
    dialogs << dialog.windowTitle();
    if (onDialog) onDialog(dialog);
    return QDialog::Accepted;
}

QString WritePicture(const QString& path, int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    const QString suffix = QFileInfo(path).suffix().toLower();
    const char* format = suffix == QLatin1String("jpg") || suffix == QLatin1String("png") ? nullptr : "BMP";
    image.save(path, format, 95);
    return path;
}

QString WriteJunk(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write("this is not a picture, only some words in a file\n");
    return path;
}

QColor CentreColour(const QImage& image) { return image.pixelColor(image.width() / 2, image.height() / 2); }

void RemoveSettings() {
    QFile::remove(QSettings(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(Profile::kOrganization),
                            QString::fromLatin1(Profile::kApplication))
                      .fileName());
}

void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

bool Settle(CTest11Doc& document) {
    Settle();
    if (!document.IsLoading()) return true;
    QSignalSpy finished(&document, &CTest11Doc::LoadFinished);
    return finished.wait(20000);
}

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

void PrintTo(const QStringList& texts, std::ostream* out) { *out << '{' << texts.join(QStringLiteral(", ")).toStdString() << '}'; }
