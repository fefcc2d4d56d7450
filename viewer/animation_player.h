#pragma once

#include "imagelib/decode_context.h"
#include "platform/thread_hand_off.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <deque>
#include <memory>

class CDIBSectionBitmap;
class CIsolatedAnimation;

// Plays an animated picture for the document: the frames are read by a decoder helper of the
// animation's own, a few ahead of the one showing (at most kFramesAhead, and at most
// kBytesAhead bytes of them; older frames are let go and read again on the next loop), and
// each is shown for the delay the file gives it, looping as the file says. A worker thread
// waits for the helper; the user-interface thread only swaps finished frames in, so a slow
// frame makes the animation wait, never the window. A helper that crashes or hangs ends the
// animation where it is.
class CAnimationPlayer : public QObject {
    Q_OBJECT
public:
    using Frame = std::shared_ptr<CDIBSectionBitmap>;
    static constexpr int kFramesAhead = 3;
    static constexpr qint64 kBytesAhead = qint64{256} << 20;

    explicit CAnimationPlayer(QObject* parent = nullptr);
    // Stops and waits for the frame being read.
    ~CAnimationPlayer() override;

    // Plays the animation of path from its first frame; a still picture, or a file that
    // cannot be read as an animation, plays nothing (the document shows its decode).
    void Play(const QString& path);
    void Stop();
    // While paused the frame showing stays; resuming goes on from it.
    void SetPaused(bool paused);
    bool IsPaused() const { return paused_; }
    // An animation is open (playing or paused).
    bool IsActive() const { return static_cast<bool>(reader_); }

signals:
    // The next frame of the animation is to be shown now.
    void FrameShown(const CAnimationPlayer::Frame& frame);

private:
    struct Decoded {
        Frame bitmap;
        int delay = 0;
        bool startsLoop = false;  // the first frame of a loop after the first
    };

    using Reader = std::shared_ptr<CIsolatedAnimation>;

    void Opened(quint64 session, Reader reader);
    void ReadAhead();
    void FrameRead(quint64 session, const Decoded& frame);
    void ShowNext();
    qint64 BytesAhead() const;
    // Lets go of reader on the worker: ending its helper waits for the process.
    void Retire(Reader reader);

    // The animation's decode context: the reader and the reads share its cancel flag.
    CDecodeContext context_;
    // Let go of on the worker thread only (Retire).
    Reader reader_;
    quint64 session_ = 0;
    bool reading_ = false;
    bool waiting_ = false;  // the delay ran out before the next frame was read
    bool paused_ = false;
    int loopsStarted_ = 0;
    int currentDelay_ = 0;
    std::deque<Decoded> ahead_;
    QTimer timer_;
    // Declared before the worker, so that it is done before frames read are dropped.
    CThreadInbox inbox_;
    QThreadPool worker_;
};
