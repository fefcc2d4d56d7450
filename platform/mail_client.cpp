#include "platform/mail_client.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

const char* const kHelper = "xdg-email";

// The helper's documented exit codes.
QString ExitText(int code) {
    switch (code) {
    case 2: return QStringLiteral("the file could not be found");
    case 3: return QStringLiteral("no mail program is set up on this desktop");
    case 4: return QStringLiteral("the mail program could not be started");
    case 5: return QStringLiteral("the file may not be read");
    default: return QStringLiteral("it ended with code %1").arg(code);
    }
}

}  // namespace

CMailClient::CMailClient(QObject* parent) : QObject(parent) {}

void CMailClient::SendFile(const QString& path) {
    const QString helper = QStandardPaths::findExecutable(QString::fromLatin1(kHelper));
    if (helper.isEmpty()) {
        emit Failed(QStringLiteral("The image cannot be e-mailed: the desktop helper \"xdg-email\" was not found. "
                                   "Install the xdg-utils package and set up a mail program."));
        return;
    }
    auto* process = new QProcess(this);
    process->setProgram(helper);
    process->setArguments({QStringLiteral("--attach"), QFileInfo(path).absoluteFilePath()});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    connect(process, &QProcess::finished, this, [this, process](int code, QProcess::ExitStatus status) {
        process->deleteLater();
        if (status == QProcess::NormalExit && code == 0)
            emit Sent();
        else
            emit Failed(QStringLiteral("The image could not be handed to the mail program: %1.")
                            .arg(status == QProcess::NormalExit ? ExitText(code) : QStringLiteral("the helper crashed")));
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        process->deleteLater();
        emit Failed(QStringLiteral("The image cannot be e-mailed: \"xdg-email\" could not be started (%1).")
                        .arg(process->errorString()));
    });
    process->start();
}
