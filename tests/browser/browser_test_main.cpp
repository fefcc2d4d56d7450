// The browser tests run headless, in a home, settings, data and cache folder of their own
// (so thumbnails never reach the user's cache), with no session bus (so properties show the viewer's own dialog).

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    for (const char* folder : {"cache", "config", "data", "home"}) QDir(home.path()).mkpath(QString::fromLatin1(folder));
    qputenv("HOME", home.filePath(QStringLiteral("home")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toLocal8Bit());
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
