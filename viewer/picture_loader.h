#pragma once

#include "browser/display_mode.h"
#include "imagelib/decode_context.h"
#include "isolation/opaque_alpha.h"
#include "platform/thread_hand_off.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <map>
#include <utility>
#include <memory>

class CDIBSectionBitmap;
class CImageBitmap;

// Decodes the document's pictures on worker threads, each through a helper process of the
// decoder pool (the pixels arrive in shared memory): the picture to show, and ahead of it
// the pictures the user is likely to ask for next, so that they show at once.
//
// Load names the picture to show; the newest call wins: decodes nobody wants any more are
// cancelled through their decode context. Loaded comes once for each Load, from the event
// loop, or before Load returns when the picture is at hand already (preloaded, or failed
// before). Preload keeps the named pictures decoded (within kPreloadBudget bytes together;
// the picture shown does not count) and lets every other one go. A preloaded picture whose
// file changed since is decoded again. Everything runs on the thread that made the loader
// except the decodes themselves, which own what they work on until they hand it over.
class CPictureLoader : public QObject {
    Q_OBJECT
public:
    using Picture = std::shared_ptr<CDIBSectionBitmap>;
    static constexpr qint64 kPreloadBudget = qint64{1} << 30;

    explicit CPictureLoader(qint64 preloadBudget = kPreloadBudget, QObject* parent = nullptr);
    // Cancels every decode and waits for the workers.
    ~CPictureLoader() override;

    void Load(const QString& path);
    void Preload(const QStringList& paths);
    // The view's client size and display mode: pictures decoded from now on in a stretch
    // mode come with their copy scaled to the size they will show at, made on the worker.
    void SetFitSize(QSize client, DisplayMode mode);
    // Forgets every decoded picture (the colour settings changed).
    void Forget();
    // A Load has not been answered yet.
    bool IsLoading() const { return !wanted_.isEmpty(); }
    // Bytes held by preloaded pictures.
    qint64 PreloadedBytes() const;

signals:
    // The picture Load asked for: decoded, or null with the library's error code and text,
    // and for a picture over a limit the size its header declares (else empty).
    void Loaded(const QString& path, const CPictureLoader::Picture& picture, const QImage& scaled, int errorCode,
                const QString& error, QSize declared);
    // A decode Preload asked for ended: the picture is kept if the budget allows, and a
    // failure is kept for Load to report at once.
    void Preloaded(const QString& path);

private:
    struct Entry {
        CDecodeContext context;  // its cancel flag stops the decode
        quint64 generation = 0;
        bool done = false;
        Picture picture;
        QImage scaled;  // the picture at the size it shows at in a stretch mode, or null
        int errorCode = 0;
        QString error;
        QSize declared;
        QDateTime modified;  // of the file when the decode started
        qint64 size = -1;
    };

    void Start(const QString& path, int priority);
    void Finished(const QString& path, quint64 generation, const Picture& picture, const QImage& scaled, int errorCode,
                  const QString& error, QSize declared);
    // Drops the entries neither shown nor preloaded, cancelling their decodes, then the
    // preloaded pictures beyond the budget (the last named first).
    void Trim();
    void Drop(std::map<QString, Entry>::iterator entry);
    bool Unchanged(const QString& path, const Entry& entry) const;
    void Answer(const QString& path, const Entry& entry);

    std::map<QString, Entry> entries_;
    // Preloads let go as larger than the budget alone, with the file's modification time and
    // size then: not decoded ahead again (a 3 GB picture beside the one shown would be decoded
    // and dropped on every step) until the file changes or it is asked for.
    std::map<QString, std::pair<QDateTime, qint64>> overBudget_;
    QString wanted_;   // the picture Load asked for and has not answered
    QString shown_;    // the picture last answered, kept while it shows
    QStringList preloads_;
    quint64 generation_ = 0;
    const qint64 preloadBudget_;
    QSize fitClient_;
    DisplayMode fitState_;
    // Declared before the pool, so that the workers are done before results are dropped.
    CThreadInbox inbox_;
    QThreadPool pool_;
};
