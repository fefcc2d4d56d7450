// The viewer tests run headless, against a settings folder and a session bus of their own.

#include "fake_desktop_services.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    QApplication application(argc, argv);
    const CPrivateSessionBus bus;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
