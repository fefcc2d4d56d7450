#include "viewer/wallpaper.h"

#include "browser/viewer_model.h"
#include "imagelib/image_encoder.h"
#include "imagelib/text_exception.h"
#include "platform/modal_seam.h"
#include "platform/profile.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/test11_doc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>

#include <algorithm>
#include <exception>

namespace {

const char* const kFileName = "VTWallpaper.bmp";
const char* const kDesktopSection = "Control Panel/desktop";

}  // namespace

CWallpaper::CWallpaper(CTest11Doc& document, QObject* parent) : QObject(parent), document_(document) {}

void CWallpaper::RegisterCommands(CCommandTable& commands) {
    commands.SetHandler(ID_WALLPAPER_CENTERED, [this] { Run(0, 0, WallpaperPlacement::Centered, false); });
    commands.SetHandler(ID_WALLPAPER_STRETCHED, [this] { Run(0, 2, WallpaperPlacement::Stretched, false); });
    commands.SetHandler(ID_WALLPAPER_TILED, [this] { Run(1, 0, WallpaperPlacement::Tiled, false); });
    // Recorded as centred: the picture already has the work area's size.
    commands.SetHandler(ID_WALLPAPER_PROPORTIONAL, [this] { Run(0, 0, WallpaperPlacement::Scaled, true); });
    for (int id : {ID_WALLPAPER_PROPORTIONAL, ID_WALLPAPER_CENTERED, ID_WALLPAPER_STRETCHED, ID_WALLPAPER_TILED})
        commands.SetUpdateRule(id, [this](CCmdUI& ui) { ui.Enable(document_.Model().g_bImageLoaded); });
}

QString CWallpaper::FilePath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty()) return {};
    return QDir(folder).filePath(QString::fromLatin1(kFileName));
}

void CWallpaper::Run(int tile, int style, WallpaperPlacement placement, bool fitToWorkArea) {
    bool set = false;
    try {
        set = SetWallpaper(tile, style, placement, fitToWorkArea);
    } catch (const std::exception& error) {
        ViewerMessageBox(QStringLiteral("The wallpaper could not be saved.\n%1").arg(QString::fromLocal8Bit(error.what()).trimmed()),
                         QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    if (!set) ViewerMessageBox(QStringLiteral("Error Setting Wallpaper"));
}

bool CWallpaper::SetWallpaper(int tile, int style, WallpaperPlacement placement, bool fitToWorkArea) {
    const QString path = FilePath();
    if (path.isEmpty()) return false;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        throw CTextException(ERR_CANNOT_CREATE, QStringLiteral("Creating the folder %1 failed").arg(folder).toStdString());

    bitmap_.CopyFrom(document_.CurrentBitmap(), 0);
    if (fitToWorkArea) FitToWorkArea();
    CBMPEncoder().EncodeFile(QFile::encodeName(path).toStdString(), bitmap_);

    const QString section = QString::fromLatin1(kDesktopSection);
    Profile::WriteString(section, QStringLiteral("WallpaperStyle"), QString::number(style));
    Profile::WriteString(section, QStringLiteral("TileWallpaper"), QString::number(tile));
    return SetDesktopWallpaper(path, placement);
}

void CWallpaper::FitToWorkArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // The wallpaper is measured in the screen's own pixels.
    const QSize area = (QSizeF(screen->availableGeometry().size()) * screen->devicePixelRatio()).toSize();
    const QSize fitted = WallpaperFitSize(QSize(bitmap_.Width(), bitmap_.Height()), area);
    if (fitted == QSize(bitmap_.Width(), bitmap_.Height())) return;
    CDIBSectionBitmap scratch;
    scratch.ResizeFrom(bitmap_, fitted.width(), fitted.height());
    bitmap_.CopyFrom(scratch, 0);
}

QSize WallpaperFitSize(QSize picture, QSize area) {
    if (picture.isEmpty() || area.isEmpty()) return picture;
    const qint64 W = picture.width();
    const qint64 H = picture.height();
    const qint64 areaWidth = area.width();
    const qint64 areaHeight = area.height();
    // Relatively taller than the area: its height decides.
    if (H * areaWidth > W * areaHeight)
        return QSize(static_cast<int>(std::max<qint64>(1, W * areaHeight / H)), area.height());
    return QSize(area.width(), static_cast<int>(std::max<qint64>(1, H * areaWidth / W)));
}
