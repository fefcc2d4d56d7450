#include "browser/folder_watcher.h"

#include <algorithm>

CFolderWatcher::CFolderWatcher(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this](const QString& folder) {
        if (changed_.isEmpty()) sinceFirst_.start();
        changed_.insert(folder);
        settle_.start(static_cast<int>(std::clamp<qint64>(kLongestDelay - sinceFirst_.elapsed(), 0, kSettleDelay)));
    });
    connect(&settle_, &QTimer::timeout, this, [this] {
        QStringList folders(changed_.begin(), changed_.end());
        changed_.clear();
        folders.sort();
        emit Changed(folders);
    });
}

void CFolderWatcher::Watch(const QStringList& folders) {
    QSet<QString> wanted;
    for (const QString& folder : folders)
        if (!folder.isEmpty()) wanted.insert(folder);
    const QStringList current = watcher_.directories();
    for (const QString& folder : current)
        if (!wanted.contains(folder)) watcher_.removePath(folder);
    for (const QString& folder : wanted)
        if (!current.contains(folder)) watcher_.addPath(folder);
}
