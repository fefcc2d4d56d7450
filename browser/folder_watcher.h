#pragma once

#include <QFileSystemWatcher>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

// Tells when folders change on disk (files or folders made, removed or renamed in them, a
// file written). The system's notices come in bursts while another program writes, so
// they are collected and handed on together once the folders have been quiet for
// kSettleDelay milliseconds, or kLongestDelay after the first of them: a folder that never
// rests (a busy /tmp among the shown ones) must not hold back the others' changes.
class CFolderWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int kSettleDelay = 250;
    static constexpr int kLongestDelay = 1000;

    explicit CFolderWatcher(QObject* parent = nullptr);

    // Watches exactly these folders from now on (empty paths are skipped).
    void Watch(const QStringList& folders);
    QStringList Watched() const { return watcher_.directories(); }

signals:
    void Changed(const QStringList& folders);

private:
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QElapsedTimer sinceFirst_;  // since the first notice still held
    QSet<QString> changed_;
};
