#pragma once

#include "browser/display_mode.h"
#include "platform/modal_seam.h"

#include <QImage>
#include <QRect>
#include <QStringList>

#include <functional>
#include <ostream>
#include <string>

class CTest11App;
class CTest11Doc;
class CTest11View;

// Stands in for the person at the screen while it lives: records every message box and
// modal dialog and answers them (OK, or the dialog accepted unless answer says otherwise).
class CRecordingSeam final : public CModalSeam {
public:
    CRecordingSeam() { SetModalSeam(this); }
    ~CRecordingSeam() override { SetModalSeam(nullptr); }

    QMessageBox::StandardButton MessageBox(QWidget*, const QString& text, QMessageBox::StandardButtons buttons,
                                           QMessageBox::Icon) override;
    int RunDialog(QDialog& dialog) override;

    QStringList messages;
    // Window titles of the dialogs run.
    QStringList dialogs;
    // When set, handles each dialog and gives its result code.
    std::function<int(QDialog&)> answer;
};

// Waits (at most 20 s) until the document's open has finished: its picture shows or it
// failed. True when it did in time, or when no open was running.
bool WaitForPicture(CTest11Doc& document);
// Opens path as the document, as the program does, and waits for its picture.
bool OpenAndWait(CTest11Doc& document, const QString& path);
bool OpenAndWait(CTest11App& app, const QString& path);

// Writes a 32-bit uncompressed BMP (the fourth byte of each pixel as given) of width x
// height pixels; colour(x, y) gives each pixel as 0xAARRGGBB.
void WriteBmp32(const std::string& path, int width, int height, const std::function<QRgb(int, int)>& colour);

// The view's viewport as it paints itself, on a transparent ARGB image.
QImage RenderViewport(CTest11View& view);
// The smallest rectangle holding every pixel of image equal to colour (alpha included).
QRect BoundsOf(const QImage& image, QRgb colour);
// True when every pixel of image is opaque white.
bool AllWhite(const QImage& image);

// The settings file of the program; removing it starts a first run.
QString SettingsFile();
void RemoveSettings();

// A failed comparison of display modes prints the number the profile keeps for them.
inline void PrintTo(const DisplayMode& mode, std::ostream* out) { *out << "DisplayMode(" << mode.Stored() << ")"; }
