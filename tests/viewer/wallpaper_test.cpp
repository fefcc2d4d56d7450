// The wallpaper commands in the whole program: the file they write (decoded back with the
// library), the style values in the profile, and the desktop told through stand-in tools
// placed first on PATH or a stand-in Plasma shell on the test's private bus.

#include "browser/viewer_model.h"
#include "codecs/auto_decoder.h"
#include "fake_desktop_services.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "platform/profile.h"
#include "platform/wallpaper_setter.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"
#include "viewer/wallpaper.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>

#include <memory>

namespace {

constexpr QRgb kRed = qRgb(220, 20, 30);
constexpr QRgb kBlue = qRgb(20, 40, 230);

// An environment variable set for the life of the object.
class CScopedEnv {
public:
    CScopedEnv(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~CScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

class Wallpaper : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettings();
        QDir().mkpath(Bin());
        // Every stand-in appends its name and arguments, one line per call.
        WriteTool("gsettings", "case \"$1\" in list-keys) printf 'picture-options\\npicture-uri\\npicture-uri-dark\\n' ;; esac\n");
    }

    QString Bin() { return QString::fromStdString(dir.File("bin")); }
    QString Log() { return QString::fromStdString(dir.File("calls.log")); }

    // A stand-in for tool: logs the call, then runs body.
    void WriteTool(const char* tool, const char* body) {
        const QString path = Bin() + QLatin1Char('/') + QLatin1String(tool);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QStringLiteral("#!/bin/sh\n{ printf '%s' %1; for a in \"$@\"; do printf ' <%s>' \"$a\"; done; echo; } >> '%2'\n")
                       .arg(QLatin1String(tool), Log())
                       .toUtf8());
        file.write(body);
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }

    QStringList Calls() {
        QFile file(Log());
        if (!file.open(QIODevice::ReadOnly)) return {};
        const QStringList calls = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        file.close();
        file.remove();
        return calls;
    }

    // Starts the program with picture open; left half red, right half blue.
    void Start(int width = 40, int height = 30) {
        const QString picture = QString::fromStdString(dir.File("picture.bmp"));
        WriteBmp32(picture.toStdString(), width, height, [width](int x, int) { return x < width / 2 ? kRed : kBlue; });
        app = std::make_unique<CTest11App>();
        ASSERT_TRUE(app->InitInstance({QStringLiteral("vtview"), QStringLiteral("--no-splash")}));
        // The data folder is the application's once it has its name.
        QDir(QFileInfo(CWallpaper::FilePath()).absolutePath()).removeRecursively();
        ASSERT_TRUE(OpenAndWait(*app, picture));
        ASSERT_TRUE(Model().g_bImageLoaded);
    }

    CCommandTable& Commands() { return app->MainFrame()->Commands(); }
    CViewerModel& Model() { return app->MainFrame()->Model(); }

    // The wallpaper file as the library decodes it.
    bool DecodeWallpaper(CMemBitmap& bitmap) {
        try {
            CAutoDecoder().DecodeFile(QFile::encodeName(CWallpaper::FilePath()).toStdString(), bitmap, 32);
        } catch (const CTextException& error) {
            ADD_FAILURE() << error.Text();
            return false;
        }
        return true;
    }

    QString Style() { return Profile::GetString(QStringLiteral("Control Panel/desktop"), QStringLiteral("WallpaperStyle")); }
    QString Tile() { return Profile::GetString(QStringLiteral("Control Panel/desktop"), QStringLiteral("TileWallpaper")); }

    static QString Quoted(const QString& text) { return QStringLiteral("<'%1'>").arg(text); }
    QString Uri() { return Quoted(QUrl::fromLocalFile(CWallpaper::FilePath()).toString(QUrl::FullyEncoded)); }

    TempDir dir;
    CScopedEnv path{"PATH", Bin().toLocal8Bit() + ':' + qgetenv("PATH")};
    CScopedEnv desktop{"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"};
    CRecordingSeam seam;
    std::unique_ptr<CTest11App> app;
};

TEST_F(Wallpaper, CommandsWriteThePictureRecordTheStyleAndTellTheDesktop) {
    Start();
    struct Case {
        int id;
        const char* style;
        const char* tile;
        const char* option;
    };
    // Tiled after stretched leaves the style at 0.
    for (const Case& c : {Case{ID_WALLPAPER_CENTERED, "0", "0", "centered"}, Case{ID_WALLPAPER_STRETCHED, "2", "0", "stretched"},
                          Case{ID_WALLPAPER_TILED, "0", "1", "wallpaper"}}) {
        ASSERT_TRUE(Commands().Execute(c.id));
        CMemBitmap written;
        ASSERT_TRUE(DecodeWallpaper(written));
        std::string why;
        EXPECT_TRUE(SamePixels(written, app->Document()->CurrentBitmap(), &why)) << c.id << ": " << why;
        EXPECT_EQ(Style(), QLatin1String(c.style)) << c.id;
        EXPECT_EQ(Tile(), QLatin1String(c.tile)) << c.id;
        const QString schema = QStringLiteral("<org.gnome.desktop.background>");
        EXPECT_EQ(Calls(), (QStringList{QStringLiteral("gsettings <list-keys> ") + schema,
                                        QStringLiteral("gsettings <set> %1 <picture-uri> %2").arg(schema, Uri()),
                                        QStringLiteral("gsettings <set> %1 <picture-uri-dark> %2").arg(schema, Uri()),
                                        QStringLiteral("gsettings <set> %1 <picture-options> %2").arg(schema, Quoted(QLatin1String(c.option)))}));
    }
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(QFileInfo(CWallpaper::FilePath()).fileName(), QStringLiteral("VTWallpaper.bmp"));
}

TEST_F(Wallpaper, ProportionalFitsThePictureInsideTheWorkArea) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QSize area = (QSizeF(screen->availableGeometry().size()) * screen->devicePixelRatio()).toSize();
    // Square (the case that used to overflow the screen), wide, and tall.
    for (const QSize picture : {QSize(256, 256), QSize(300, 60), QSize(50, 400)}) {
        Start(picture.width(), picture.height());
        ASSERT_TRUE(Commands().Execute(ID_WALLPAPER_PROPORTIONAL));
        CMemBitmap written;
        ASSERT_TRUE(DecodeWallpaper(written));
        const QSize size(written.Width(), written.Height());
        EXPECT_EQ(size, WallpaperFitSize(picture, area));
        EXPECT_TRUE(size.width() == area.width() || size.height() == area.height()) << size.width() << " x " << size.height();
        EXPECT_LE(size.width(), area.width());
        EXPECT_LE(size.height(), area.height());
        // The picture itself, resampled: red on the left, blue on the right.
        const BGRA left = written.PixelLine(size.height() / 2)[size.width() / 8];
        const BGRA right = written.PixelLine(size.height() / 2)[size.width() * 7 / 8];
        EXPECT_EQ(qRgb(left.r, left.g, left.b), kRed);
        EXPECT_EQ(qRgb(right.r, right.g, right.b), kBlue);
        // The current image stays as it was.
        EXPECT_EQ(app->Document()->CurrentBitmap().Width(), picture.width());
        EXPECT_EQ(Style(), QStringLiteral("0"));
        EXPECT_EQ(Tile(), QStringLiteral("0"));
        EXPECT_EQ(Calls().value(3), QStringLiteral("gsettings <set> <org.gnome.desktop.background> <picture-options> <'scaled'>"));
        app.reset();
    }
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST(WallpaperFit, KeepsProportionsAndStaysInsideTheArea) {
    struct Case {
        QSize picture, area, fitted;
    };
    for (const Case& c : {Case{{128, 256}, {1024, 768}, {384, 768}}, Case{{256, 256}, {1024, 768}, {768, 768}},
                          Case{{512, 384}, {1024, 738}, {984, 738}}, Case{{2048, 1536}, {1024, 768}, {1024, 768}},
                          Case{{4000, 10}, {1024, 768}, {1024, 2}}, Case{{1, 5000}, {1024, 768}, {1, 768}},
                          Case{{3, 100000}, {1024, 768}, {1, 768}}})
        EXPECT_EQ(WallpaperFitSize(c.picture, c.area), c.fitted) << c.picture.width() << " x " << c.picture.height();
}

TEST_F(Wallpaper, RefusalsAndUnknownDesktopsSayErrorSettingWallpaper) {
    Start();
    // The file and the values are written before the desktop is asked.
    {
        const CScopedEnv other("XDG_CURRENT_DESKTOP", "sway");
        ASSERT_TRUE(Commands().Execute(ID_WALLPAPER_STRETCHED));
    }
    EXPECT_EQ(seam.messages, QStringList{QStringLiteral("Error Setting Wallpaper")});
    EXPECT_TRUE(QFile::exists(CWallpaper::FilePath()));
    EXPECT_EQ(Style(), QStringLiteral("2"));
    EXPECT_TRUE(Calls().isEmpty());

    // A desktop whose settings tool fails, or is missing.
    WriteTool("gsettings", "exit 1\n");
    ASSERT_TRUE(Commands().Execute(ID_WALLPAPER_CENTERED));
    EXPECT_EQ(Calls().size(), 1) << "nothing is set once the schema cannot be listed";
    {
        const CScopedEnv onlyStandIns("PATH", Bin().toLocal8Bit());
        const CScopedEnv xfce("XDG_CURRENT_DESKTOP", "XFCE");
        ASSERT_TRUE(Commands().Execute(ID_WALLPAPER_TILED));
    }
    EXPECT_EQ(seam.messages.size(), 3);
    for (const QString& message : seam.messages) EXPECT_EQ(message, QStringLiteral("Error Setting Wallpaper"));
}

TEST_F(Wallpaper, FileThatCannotBeWrittenIsReportedAndTheProgramGoesOn) {
    Start();
    // A folder where the file goes: the rename onto it fails.
    ASSERT_TRUE(QDir().mkpath(CWallpaper::FilePath()));
    ASSERT_TRUE(Commands().Execute(ID_WALLPAPER_CENTERED));
    ASSERT_EQ(seam.messages.size(), 1);
    EXPECT_TRUE(seam.messages[0].startsWith(QStringLiteral("The wallpaper could not be saved.\n"))) << seam.messages[0].toStdString();
    EXPECT_TRUE(seam.messages[0].contains(QStringLiteral("VTWallpaper.bmp"))) << seam.messages[0].toStdString();
    EXPECT_TRUE(Calls().isEmpty());
    EXPECT_TRUE(Style().isEmpty());
    QDir(CWallpaper::FilePath()).removeRecursively();

    // A file where the data folder goes.
    const QString folder = QFileInfo(CWallpaper::FilePath()).absolutePath();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ASSERT_TRUE(Commands().Execute(ID_WALLPAPER_TILED));
    ASSERT_EQ(seam.messages.size(), 2);
    EXPECT_TRUE(seam.messages[1].contains(folder)) << seam.messages[1].toStdString();
    ASSERT_TRUE(blocker.remove());

    // Once the way is clear the command works; the folder is made for it.
    ASSERT_TRUE(Commands().Execute(ID_WALLPAPER_TILED));
    EXPECT_EQ(seam.messages.size(), 2);
    EXPECT_TRUE(QFile::exists(CWallpaper::FilePath()));
    EXPECT_EQ(Tile(), QStringLiteral("1"));
}

TEST_F(Wallpaper, CommandsNeedALoadedImage) {
    Start();
    const int ids[] = {ID_WALLPAPER_PROPORTIONAL, ID_WALLPAPER_CENTERED, ID_WALLPAPER_STRETCHED, ID_WALLPAPER_TILED};
    for (int id : ids) EXPECT_TRUE(Commands().IsEnabled(id)) << id;
    Model().g_bImageLoaded = false;
    for (int id : ids) {
        EXPECT_FALSE(Commands().IsEnabled(id)) << id;
        EXPECT_FALSE(Commands().Execute(id));
    }
    EXPECT_FALSE(QFile::exists(CWallpaper::FilePath()));
}

// The setter on each desktop family, given the file directly.
class WallpaperSetter : public Wallpaper {};

TEST_F(WallpaperSetter, GnomeFamilySchemasAndKeys) {
    const QString file = QStringLiteral("/tmp/it's here/VTWallpaper.bmp");
    const QString uri = QStringLiteral("<'file:///tmp/it\\'s%20here/VTWallpaper.bmp'>");
    {
        const CScopedEnv cinnamon("XDG_CURRENT_DESKTOP", "X-Cinnamon");
        ASSERT_TRUE(SetDesktopWallpaper(file, WallpaperPlacement::Tiled));
    }
    const QString schema = QStringLiteral("<org.cinnamon.desktop.background>");
    // Only GNOME's own schema has a dark-style picture.
    EXPECT_EQ(Calls(), (QStringList{QStringLiteral("gsettings <list-keys> ") + schema,
                                    QStringLiteral("gsettings <set> %1 <picture-uri> %2").arg(schema, uri),
                                    QStringLiteral("gsettings <set> %1 <picture-options> <'wallpaper'>").arg(schema)}));
    {
        const CScopedEnv mate("XDG_CURRENT_DESKTOP", "MATE");
        ASSERT_TRUE(SetDesktopWallpaper(file, WallpaperPlacement::Stretched));
    }
    EXPECT_EQ(Calls().value(1), QStringLiteral("gsettings <set> <org.mate.background> <picture-filename> <'/tmp/it\\'s here/VTWallpaper.bmp'>"));

    // A GNOME without the dark-style key, named through Budgie.
    WriteTool("gsettings", "case \"$1\" in list-keys) printf 'picture-options\\npicture-uri\\n' ;; esac\n");
    {
        const CScopedEnv budgie("XDG_CURRENT_DESKTOP", "Budgie:GNOME");
        ASSERT_TRUE(SetDesktopWallpaper(file, WallpaperPlacement::Centered));
    }
    const QStringList calls = Calls();
    ASSERT_EQ(calls.size(), 3);
    EXPECT_TRUE(calls[1].contains(QStringLiteral("<picture-uri>")));
    EXPECT_EQ(calls[2], QStringLiteral("gsettings <set> <org.gnome.desktop.background> <picture-options> <'centered'>"));
}

TEST_F(WallpaperSetter, XfceSetsEveryBackdrop) {
    const CScopedEnv xfce("XDG_CURRENT_DESKTOP", "XFCE");
    WriteTool("xfconf-query",
              "case \"$*\" in *' -l') printf '/backdrop/screen0/monitorVirtual1/workspace0/last-image\\n"
              "/backdrop/screen0/monitorVirtual1/workspace0/image-style\\n/desktop-icons/style\\n"
              "/backdrop/screen0/monitorHDMI-1/workspace1/last-image\\n' ;; esac\n");
    ASSERT_TRUE(SetDesktopWallpaper(QStringLiteral("/data/VTWallpaper.bmp"), WallpaperPlacement::Scaled));
    const QString set = QStringLiteral("xfconf-query <-c> <xfce4-desktop> <-p> <%1> <-n> <-t> <%2> <-s> <%3>");
    const QString first = QStringLiteral("/backdrop/screen0/monitorVirtual1/workspace0/");
    const QString second = QStringLiteral("/backdrop/screen0/monitorHDMI-1/workspace1/");
    EXPECT_EQ(Calls(), (QStringList{QStringLiteral("xfconf-query <-c> <xfce4-desktop> <-l>"),
                                    set.arg(first + QStringLiteral("image-style"), QStringLiteral("int"), QStringLiteral("4")),
                                    set.arg(first + QStringLiteral("last-image"), QStringLiteral("string"), QStringLiteral("/data/VTWallpaper.bmp")),
                                    set.arg(second + QStringLiteral("image-style"), QStringLiteral("int"), QStringLiteral("4")),
                                    set.arg(second + QStringLiteral("last-image"), QStringLiteral("string"), QStringLiteral("/data/VTWallpaper.bmp"))}));

    // No backdrop to set: the desktop is not showing one of ours.
    WriteTool("xfconf-query", "");
    EXPECT_FALSE(SetDesktopWallpaper(QStringLiteral("/data/VTWallpaper.bmp"), WallpaperPlacement::Scaled));
}

TEST_F(WallpaperSetter, PlasmaRunsAScriptForEveryDesktop) {
    const CScopedEnv kde("XDG_CURRENT_DESKTOP", "KDE");
    const QString file = QStringLiteral("/data/Vantoro \"Software\"/VTWallpaper.bmp");
    // No shell on the bus.
    EXPECT_FALSE(SetDesktopWallpaper(file, WallpaperPlacement::Tiled));
    {
        const std::unique_ptr<CFakePlasmaShell> shell = CFakePlasmaShell::Start();
        ASSERT_TRUE(shell) << "the test's private session bus is not running";
        ASSERT_TRUE(SetDesktopWallpaper(file, WallpaperPlacement::Tiled));
        ASSERT_EQ(shell->Calls().size(), 1);
        const QString script = shell->Calls()[0];
        EXPECT_TRUE(script.contains(QStringLiteral("[\"file:///data/Vantoro%20%22Software%22/VTWallpaper.bmp\"]"))) << script.toStdString();
        EXPECT_TRUE(script.contains(QStringLiteral("d.wallpaperPlugin = \"org.kde.image\""))) << script.toStdString();
        EXPECT_TRUE(script.contains(QStringLiteral("writeConfig(\"FillMode\", 3)"))) << script.toStdString();
    }
    const std::unique_ptr<CFakePlasmaShell> refusing = CFakePlasmaShell::Start(true);
    ASSERT_TRUE(refusing);
    EXPECT_FALSE(SetDesktopWallpaper(file, WallpaperPlacement::Centered));
    EXPECT_EQ(refusing->Calls().size(), 1);
}

}  // namespace
