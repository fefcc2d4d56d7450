#include "fake_desktop_services.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMutexLocker>
#include <QStandardPaths>

CPrivateSessionBus::CPrivateSessionBus() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (!program.isEmpty()) {
        daemon_.start(program, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        while (daemon_.waitForReadyRead(5000) && !daemon_.canReadLine()) {
        }
        address_ = QString::fromLocal8Bit(daemon_.readLine()).trimmed();
    }
    // Without a bus of its own a test must not reach the desktop's either.
    if (address_.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toLocal8Bit());
}

CPrivateSessionBus::~CPrivateSessionBus() {
    daemon_.terminate();
    daemon_.waitForFinished(2000);
}

CFakeDesktopService::~CFakeDesktopService() {
    QDBusConnection::disconnectFromBus(connectionName_);
    thread_.quit();
    thread_.wait();
}

bool CFakeDesktopService::Publish(const QString& serviceName, const QStringList& paths) {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty()) return false;
    static int count = 0;
    connectionName_ = QStringLiteral("fake-service-%1").arg(++count);
    QDBusConnection connection = QDBusConnection::connectToBus(address, connectionName_);
    if (!connection.isConnected()) return false;
    // Calls are served in the object's thread while the viewer's thread waits for them.
    thread_.start();
    moveToThread(&thread_);
    for (const QString& path : paths)
        if (!connection.registerObject(path, this, QDBusConnection::ExportAllSlots)) return false;
    return connection.registerService(serviceName);
}

void CFakeDesktopService::Record(const QString& call) {
    QMutexLocker lock(&mutex_);
    calls_ << call;
}

QStringList CFakeDesktopService::Calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
}

std::unique_ptr<CFakeScreenSaver> CFakeScreenSaver::Start() {
    std::unique_ptr<CFakeScreenSaver> saver(new CFakeScreenSaver);
    if (!saver->Publish(QStringLiteral("org.freedesktop.ScreenSaver"),
                        {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")}))
        return nullptr;
    return saver;
}

uint CFakeScreenSaver::Inhibit(const QString& application, const QString& reason) {
    const uint cookie = nextCookie_++;
    Record(QStringLiteral("Inhibit %1 %2 -> %3").arg(application, reason).arg(cookie));
    return cookie;
}

void CFakeScreenSaver::UnInhibit(uint cookie) { Record(QStringLiteral("UnInhibit %1").arg(cookie)); }

std::unique_ptr<CFakePlasmaShell> CFakePlasmaShell::Start(bool refuse) {
    std::unique_ptr<CFakePlasmaShell> shell(new CFakePlasmaShell);
    shell->refuse_ = refuse;
    if (!shell->Publish(QStringLiteral("org.kde.plasmashell"), {QStringLiteral("/PlasmaShell")})) return nullptr;
    return shell;
}

void CFakePlasmaShell::evaluateScript(const QString& script) {
    Record(QStringLiteral("evaluateScript ") + script);
    if (refuse_) sendErrorReply(QDBusError::Failed, QStringLiteral("Widgets are locked"));
}
