#pragma once

#include "browser/thumbnail_cache.h"
#include "platform/thread_hand_off.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class CDecodeContext;
class CImageBitmap;

// The thumbnails of a list of files, made on worker threads: each thread takes the next file
// until none is left. A file's thumbnail is its picture fitted proportionally into the cell
// and centred on the background colour. The shared cache is read first (another program's
// thumbnail only for files the header probe reads, so that every thumbnail stands for a
// file the viewer can show); other files are probed and decoded by the decoder pool's
// helper processes (JPEG at a reduced scale where that still covers the cache size) and
// written back to the cache.
// Files that fail are recorded in the cache and not decoded again until they change.
//
// Made and Failed come once per file index, on the thread that made the workers, from its
// event loop. Cancel stops the running decodes and waits for every thread to end.
class CThumbnailWorkers : public QObject {
    Q_OBJECT
public:
    CThumbnailWorkers(QStringList paths, QSize cell, QColor background, CThumbnailCache cache,
                      QObject* parent = nullptr);
    ~CThumbnailWorkers() override;

    // Starts threadCount threads (at least one, at most one per file).
    void Start(int threadCount);
    // Cancels every running decode and joins the threads; nothing is emitted afterwards.
    void Cancel();
    // Worker threads of all builds that have not ended yet.
    static int RunningThreads();

    // The picture proportionally fitted into box (at least 1 x 1).
    static QSize FittedSize(QSize picture, QSize box);

signals:
    void Made(int index, const QImage& thumbnail);
    void Failed(int index);

private:
    void Run();
    // One file; raises CTextException when it cannot be read.
    QImage Make(const CDecodeContext& context, const QString& path, const CThumbnailCache::Key& key);
    // The picture fitted and centred in the cell, scaled with the library's filter.
    QImage IntoCell(CImageBitmap& picture) const;
    bool Register(const CDecodeContext& context);
    void Unregister(const CDecodeContext& context);

    const QStringList paths_;
    const QSize cell_;
    const QColor background_;
    const CThumbnailCache cache_;
    std::atomic<int> next_{0};
    std::mutex mutex_;
    bool cancelled_ = false;                 // guarded by mutex_
    std::vector<const CDecodeContext*> running_;  // guarded by mutex_
    // Carries each thumbnail from its worker to the thread that made the workers.
    CThreadInbox inbox_;
    std::vector<std::thread> threads_;
};
