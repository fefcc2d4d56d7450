// The viewer tests run headless, against a settings folder and (except under ThreadSanitizer)
// a session bus of their own.

#include "fake_desktop_services.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <optional>

namespace {
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    QApplication application(argc, argv);
    // Under ThreadSanitizer the tests (of the viewer's threads) run without a bus of their own:
    // once QProcess has started a child, the sanitizer no longer sees this thread's locks and
    // reports races that are not there.
    std::optional<CPrivateSessionBus> bus;
    if (kThreadSanitizer)
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        bus.emplace();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
