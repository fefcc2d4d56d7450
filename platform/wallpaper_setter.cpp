#include "platform/wallpaper_setter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <optional>

namespace {

// Long enough for a settings daemon or the desktop shell to start on demand.
constexpr int kToolTimeoutMs = 10000;

enum class Desktop { Gnome, Cinnamon, Mate, Plasma, Xfce };

std::optional<Desktop> RunningDesktop() {
    const QStringList names = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& entry : names) {
        const QString name = entry.trimmed().toLower();
        if (name == QLatin1String("gnome") || name == QLatin1String("unity") || name == QLatin1String("budgie"))
            return Desktop::Gnome;
        if (name == QLatin1String("x-cinnamon") || name == QLatin1String("cinnamon")) return Desktop::Cinnamon;
        if (name == QLatin1String("mate")) return Desktop::Mate;
        if (name == QLatin1String("kde")) return Desktop::Plasma;
        if (name == QLatin1String("xfce")) return Desktop::Xfce;
    }
    return std::nullopt;
}

// Runs a desktop tool found on PATH; its standard output when it ends with code 0.
std::optional<QByteArray> RunTool(const char* tool, const QStringList& arguments) {
    const QString program = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    if (program.isEmpty()) return std::nullopt;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
    return process.readAllStandardOutput();
}

// A string as GVariant text, which is what `gsettings set` parses its value from.
QString GVariantString(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The picture-options value shared by the GNOME family's background schemas.
QString GSettingsOption(WallpaperPlacement placement) {
    switch (placement) {
    case WallpaperPlacement::Tiled: return QStringLiteral("wallpaper");
    case WallpaperPlacement::Stretched: return QStringLiteral("stretched");
    case WallpaperPlacement::Scaled: return QStringLiteral("scaled");
    case WallpaperPlacement::Centered: break;
    }
    return QStringLiteral("centered");
}

bool SetKey(const QString& schema, const QString& key, const QString& value) {
    return RunTool("gsettings", {QStringLiteral("set"), schema, key, value}).has_value();
}

// GNOME, Unity, Budgie and Cinnamon take a URI; MATE takes the file name.
bool SetThroughGSettings(Desktop desktop, const QString& file, WallpaperPlacement placement) {
    QString schema;
    QString pictureKey = QStringLiteral("picture-uri");
    QString picture = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
    if (desktop == Desktop::Gnome) {
        schema = QStringLiteral("org.gnome.desktop.background");
    } else if (desktop == Desktop::Cinnamon) {
        schema = QStringLiteral("org.cinnamon.desktop.background");
    } else {
        schema = QStringLiteral("org.mate.background");
        pictureKey = QStringLiteral("picture-filename");
        picture = file;
    }
    // Also tells whether the schema is installed at all.
    const std::optional<QByteArray> keys = RunTool("gsettings", {QStringLiteral("list-keys"), schema});
    if (!keys) return false;
    const QList<QByteArray> keyList = keys->split('\n');
    if (!SetKey(schema, pictureKey, GVariantString(picture))) return false;
    // Desktops with a dark style show a picture of its own there.
    if (desktop == Desktop::Gnome && keyList.contains("picture-uri-dark") &&
        !SetKey(schema, QStringLiteral("picture-uri-dark"), GVariantString(picture)))
        return false;
    return SetKey(schema, QStringLiteral("picture-options"), GVariantString(GSettingsOption(placement)));
}

// The image wallpaper's fill modes are those of a Qt Quick Image.
int PlasmaFillMode(WallpaperPlacement placement) {
    switch (placement) {
    case WallpaperPlacement::Tiled: return 3;
    case WallpaperPlacement::Stretched: return 0;
    case WallpaperPlacement::Scaled: return 1;
    case WallpaperPlacement::Centered: break;
    }
    return 6;
}

bool SetThroughPlasma(const QString& file, WallpaperPlacement placement) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // The URL goes in as a JSON string literal, which is also a valid script literal.
    const QString image = QString::fromUtf8(
        QJsonDocument(QJsonArray{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)}).toJson(QJsonDocument::Compact));
    const QString script = QStringLiteral(
                               "var image = %1[0];\n"
                               "var all = desktops();\n"
                               "for (var i = 0; i < all.length; ++i) {\n"
                               "    var d = all[i];\n"
                               "    d.wallpaperPlugin = \"org.kde.image\";\n"
                               "    d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];\n"
                               "    d.writeConfig(\"Image\", image);\n"
                               "    d.writeConfig(\"FillMode\", %2);\n"
                               "}\n")
                               .arg(image)
                               .arg(PlasmaFillMode(placement));
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
                                                       QStringLiteral("org.kde.PlasmaShell"), QStringLiteral("evaluateScript"));
    call << script;
    return bus.call(call, QDBus::Block, kToolTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

// xfdesktop's image-style values.
int XfceImageStyle(WallpaperPlacement placement) {
    switch (placement) {
    case WallpaperPlacement::Tiled: return 2;
    case WallpaperPlacement::Stretched: return 3;
    case WallpaperPlacement::Scaled: return 4;
    case WallpaperPlacement::Centered: break;
    }
    return 1;
}

// Every monitor and workspace has a backdrop of its own; all of them show the picture.
bool SetThroughXfconf(const QString& file, WallpaperPlacement placement) {
    const QString channel = QStringLiteral("xfce4-desktop");
    const std::optional<QByteArray> listing = RunTool("xfconf-query", {QStringLiteral("-c"), channel, QStringLiteral("-l")});
    if (!listing) return false;
    const QString suffix = QStringLiteral("/last-image");
    bool any = false;
    for (const QByteArray& line : listing->split('\n')) {
        const QString property = QString::fromUtf8(line).trimmed();
        if (!property.startsWith(QLatin1String("/backdrop/")) || !property.endsWith(suffix)) continue;
        const QString style = property.left(property.size() - suffix.size()) + QStringLiteral("/image-style");
        if (!RunTool("xfconf-query", {QStringLiteral("-c"), channel, QStringLiteral("-p"), style, QStringLiteral("-n"),
                                      QStringLiteral("-t"), QStringLiteral("int"), QStringLiteral("-s"),
                                      QString::number(XfceImageStyle(placement))}) ||
            !RunTool("xfconf-query", {QStringLiteral("-c"), channel, QStringLiteral("-p"), property, QStringLiteral("-n"),
                                      QStringLiteral("-t"), QStringLiteral("string"), QStringLiteral("-s"), file}))
            return false;
        any = true;
    }
    return any;
}

}  // namespace

bool SetDesktopWallpaper(const QString& file, WallpaperPlacement placement) {
    const std::optional<Desktop> desktop = RunningDesktop();
    if (!desktop) return false;
    const QString path = QFileInfo(file).absoluteFilePath();
    switch (*desktop) {
    case Desktop::Plasma: return SetThroughPlasma(path, placement);
    case Desktop::Xfce: return SetThroughXfconf(path, placement);
    case Desktop::Gnome:
    case Desktop::Cinnamon:
    case Desktop::Mate: break;
    }
    return SetThroughGSettings(*desktop, path, placement);
}
