#pragma once

#include <QDBusContext>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <memory>
#include <vector>

// A D-Bus session bus of the test process's own (dbus-daemon), so that no test reaches the
// desktop's bus. Started before anything uses the session bus; its address goes into
// DBUS_SESSION_BUS_ADDRESS.
class CPrivateSessionBus {
public:
    CPrivateSessionBus();
    ~CPrivateSessionBus();
    bool IsRunning() const { return !address_.isEmpty(); }
    const QString& Address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

// Desktop services the viewer talks to, played on the private bus by objects living in a
// thread of their own, so that the viewer's blocking calls get their answers.
class CFakeDesktopService : public QObject {
    Q_OBJECT
public:
    ~CFakeDesktopService() override;

    // What arrived so far, one line per call: the method, then its arguments.
    QStringList Calls() const;

protected:
    CFakeDesktopService() = default;
    // Owns serviceName on the private bus with this object at each of paths.
    bool Publish(const QString& serviceName, const QStringList& paths);
    void Record(const QString& call);

private:
    mutable QMutex mutex_;
    QStringList calls_;
    QThread thread_;
    QString connectionName_;
};

// The freedesktop screen saver: hands out cookies 1, 2, ... and records inhibits and
// releases.
class CFakeScreenSaver : public CFakeDesktopService {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    static std::unique_ptr<CFakeScreenSaver> Start();

public slots:
    uint Inhibit(const QString& application, const QString& reason);
    void UnInhibit(uint cookie);

private:
    uint nextCookie_ = 1;
};

// The KDE Plasma shell's scripting interface (org.kde.PlasmaShell evaluateScript): records
// each script; refuses them all when told to.
class CFakePlasmaShell : public CFakeDesktopService, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.PlasmaShell")
public:
    static std::unique_ptr<CFakePlasmaShell> Start(bool refuse = false);

public slots:
    void evaluateScript(const QString& script);

private:
    bool refuse_ = false;
};
