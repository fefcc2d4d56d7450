#include "platform/trash.h"

#include <QFile>
#include <QFileInfo>

bool MoveToTrash(const QString& path, QString& reason) {
    if (!QFileInfo::exists(path)) {
        reason = QStringLiteral("The file does not exist.");
        return false;
    }
    QFile file(path);
    if (file.moveToTrash()) return true;
    reason = file.errorString().isEmpty() ? QStringLiteral("The trash refused the file.") : file.errorString();
    return false;
}
