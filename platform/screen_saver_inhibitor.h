#pragma once

#include <QObject>
#include <QString>

#include <optional>

// Keeps the desktop's screen saver away while asked to, through the freedesktop screen
// saver service (org.freedesktop.ScreenSaver Inhibit and UnInhibit) on the session bus. The
// calls do not wait for the service; without a bus or the service nothing happens and
// nothing is reported. An inhibit still held is released when the object goes.
class CScreenSaverInhibitor : public QObject {
    Q_OBJECT
public:
    explicit CScreenSaverInhibitor(QString application, QObject* parent = nullptr);
    ~CScreenSaverInhibitor() override;

    // Screen saver off, with reason shown by desktops that list inhibitors.
    void Inhibit(const QString& reason);
    // Screen saver on again.
    void UnInhibit();

    // Whether the service holds an inhibit of ours now.
    bool IsInhibited() const { return cookie_.has_value(); }

private:
    // Brings the service in line with what was last asked, one call at a time.
    void Sync();
    void OnInhibitReply(bool ok, uint cookie);

    QString application_;
    QString reason_;
    bool wanted_ = false;
    bool pending_ = false;
    std::optional<uint> cookie_;
};
