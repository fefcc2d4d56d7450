#include "font_environment.h"

#include <QGuiApplication>

namespace metafile {

bool EnsureFontSupport() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) return true;
    if (QCoreApplication::instance() != nullptr) return false;
    // QGuiApplication keeps references to argc and argv for its whole life.
    static int argc = 3;
    static char name[] = "vantoro-metafile";
    static char platformOption[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = {name, platformOption, platform, nullptr};
    static QGuiApplication* application = [] {
        // Starting the platform may complain about a desktop session it does not need
        // (no runtime directory, no display); a decode has nothing to say about that.
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        auto* created = new QGuiApplication(argc, argv);
        qInstallMessageHandler(previous);
        return created;
    }();
    return application != nullptr;
}

}  // namespace metafile
