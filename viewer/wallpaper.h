#pragma once

#include "imagelib/dib_section_bitmap.h"
#include "platform/wallpaper_setter.h"

#include <QObject>
#include <QSize>
#include <QString>

class CCommandTable;
class CTest11Doc;

// The four wallpaper commands: the current image becomes the desktop's wallpaper centred,
// tiled, stretched, or first fitted to the screen's work area and then laid out keeping
// its proportions. Each writes a copy of the image as "VTWallpaper.bmp" in the application
// data folder, records the style in the profile under "Control Panel/desktop"
// ("WallpaperStyle" and "TileWallpaper") and hands the file to the desktop.
class CWallpaper : public QObject {
    Q_OBJECT
public:
    explicit CWallpaper(CTest11Doc& document, QObject* parent = nullptr);

    // 32831, 32822, 32824, 32823: enabled while an image is loaded.
    void RegisterCommands(CCommandTable& commands);

    // The file every command writes; empty when the system names no application data folder.
    static QString FilePath();

private:
    // Runs one command; tile and style are the profile's values.
    void Run(int tile, int style, WallpaperPlacement placement, bool fitToWorkArea);
    // Writes the file and the style values and tells the desktop; false when there is no
    // data folder or the desktop refuses. A folder or file that cannot be written raises.
    bool SetWallpaper(int tile, int style, WallpaperPlacement placement, bool fitToWorkArea);
    void FitToWorkArea();

    CTest11Doc& document_;
    // Scratch space of every command; keeps the last wallpaper's pixels until the next one.
    CDIBSectionBitmap bitmap_;
};

// The largest size of picture's proportions that fits inside area (at least one pixel a
// side): one side matches the area, the other is truncated.
QSize WallpaperFitSize(QSize picture, QSize area);
