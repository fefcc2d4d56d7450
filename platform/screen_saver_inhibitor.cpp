#include "platform/screen_saver_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const char* const kService = "org.freedesktop.ScreenSaver";
const char* const kPath = "/org/freedesktop/ScreenSaver";
const char* const kInterface = "org.freedesktop.ScreenSaver";
// Releasing at the end may wait this long for the service.
constexpr int kFinalReleaseTimeoutMs = 2000;

QDBusMessage Call(const char* method) {
    return QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                                          QLatin1String(method));
}

}  // namespace

CScreenSaverInhibitor::CScreenSaverInhibitor(QString application, QObject* parent)
    : QObject(parent), application_(std::move(application)) {}

CScreenSaverInhibitor::~CScreenSaverInhibitor() {
    if (!cookie_) return;
    // The program may end right after this: the release must reach the service first.
    QDBusMessage release = Call("UnInhibit");
    release << *cookie_;
    QDBusConnection::sessionBus().call(release, QDBus::Block, kFinalReleaseTimeoutMs);
}

void CScreenSaverInhibitor::Inhibit(const QString& reason) {
    reason_ = reason;
    wanted_ = true;
    Sync();
}

void CScreenSaverInhibitor::UnInhibit() {
    wanted_ = false;
    Sync();
}

void CScreenSaverInhibitor::Sync() {
    // A call on its way settles first; its reply syncs again.
    if (pending_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    if (wanted_ && !cookie_) {
        QDBusMessage inhibit = Call("Inhibit");
        inhibit << application_ << reason_;
        pending_ = true;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(inhibit), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            const QDBusPendingReply<uint> reply = *call;
            call->deleteLater();
            OnInhibitReply(!reply.isError(), reply.isError() ? 0 : reply.value());
        });
    } else if (!wanted_ && cookie_) {
        QDBusMessage release = Call("UnInhibit");
        release << *cookie_;
        cookie_.reset();
        bus.asyncCall(release);
    }
}

void CScreenSaverInhibitor::OnInhibitReply(bool ok, uint cookie) {
    pending_ = false;
    // Without the service there is nothing to keep in line: no retry until asked again.
    if (!ok) return;
    cookie_ = cookie;
    Sync();
}
