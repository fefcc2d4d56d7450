#include "browser/folder_watcher.h"

CFolderWatcher::CFolderWatcher(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleDelay);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this](const QString& folder) {
        changed_.insert(folder);
        settle_.start();
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
