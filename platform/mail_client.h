#pragma once

#include <QObject>
#include <QString>

class QProcess;

// Hands a file to the user's mail program as the attachment of a new message, through the
// desktop's `xdg-email --attach FILE`. The call returns at once; Failed tells, with a text
// a person can act on, when the helper is missing or reports failure.
class CMailClient : public QObject {
    Q_OBJECT
public:
    explicit CMailClient(QObject* parent = nullptr);

    void SendFile(const QString& path);

signals:
    void Failed(const QString& message);
    // The helper ended successfully: the mail program has the message.
    void Sent();
};
