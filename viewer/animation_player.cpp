#include "viewer/animation_player.h"

#include "imagelib/text_exception.h"
#include "isolation/decoder_pool.h"
#include "isolation/isolated_animation.h"
#include "isolation/memfd_bitmap.h"

#include <QFile>

CAnimationPlayer::CAnimationPlayer(QObject* parent) : QObject(parent), inbox_(this) {
    // One animation is read by one thread at a time: a single worker reads every frame.
    worker_.setMaxThreadCount(1);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &CAnimationPlayer::ShowNext);
}

CAnimationPlayer::~CAnimationPlayer() {
    Stop();
    worker_.waitForDone();
}

void CAnimationPlayer::Play(const QString& path) {
    Stop();
    const quint64 session = session_;
    context_ = CDecodeContext();
    const CDecodeContext context = context_;
    // Started as the pool's helpers are (the tests' short watchdogs included).
    const DecoderHelperOptions options = CDecoderPool::Shared()->HelperOptions();
    StartOnPool(worker_, [this, session, path, context, options] {
        Reader reader;
        try {
            reader = CIsolatedAnimation::Open(QFile::encodeName(path).toStdString(), context, options);
        } catch (const CTextException&) {
            // The still decode already said what there is to say about the file.
        }
        inbox_.Post([this, session, reader = std::move(reader)]() mutable { Opened(session, std::move(reader)); });
    });
}

void CAnimationPlayer::Stop() {
    ++session_;
    // Reaches the helper too: the frame it reads stops.
    context_.Cancel();
    Retire(std::move(reader_));
    ahead_.clear();
    timer_.stop();
    reading_ = false;
    waiting_ = false;
    paused_ = false;
    loopsStarted_ = 0;
}

void CAnimationPlayer::Retire(Reader reader) {
    if (reader) StartOnPool(worker_, [reader = std::move(reader)]() mutable { reader.reset(); });
}

void CAnimationPlayer::SetPaused(bool paused) {
    if (paused_ == paused || !reader_) return;
    paused_ = paused;
    if (paused_) {
        timer_.stop();
        waiting_ = false;
    } else {
        timer_.start(currentDelay_);
    }
}

void CAnimationPlayer::Opened(quint64 session, Reader reader) {
    if (session != session_ || !reader) {
        Retire(std::move(reader));
        return;
    }
    reader_ = std::move(reader);
    waiting_ = true;
    ReadAhead();
}

qint64 CAnimationPlayer::BytesAhead() const {
    qint64 bytes = 0;
    for (const Decoded& frame : ahead_) bytes += static_cast<qint64>(frame.bitmap->MemoryUsed());
    return bytes;
}

void CAnimationPlayer::ReadAhead() {
    if (!reader_ || reading_ || static_cast<int>(ahead_.size()) >= kFramesAhead || BytesAhead() >= kBytesAhead) return;
    reading_ = true;
    const quint64 session = session_;
    StartOnPool(worker_, [this, session, reader = reader_]() mutable {
        Decoded frame;
        try {
            std::shared_ptr<CMemfdBitmap> bitmap;
            frame.delay = reader->ReadFrame(bitmap);
            if (frame.delay < 0) {
                // The end of a loop: the next one starts over from the first frame.
                reader->Rewind();
                frame.startsLoop = true;
                frame.delay = reader->ReadFrame(bitmap);
            }
            frame.bitmap = std::move(bitmap);
        } catch (const CTextException&) {
            frame.bitmap.reset();
        }
        // Let go of here, so that the last hold on the animation ends on this thread.
        reader.reset();
        inbox_.Post([this, session, frame] { FrameRead(session, frame); });
    });
}

void CAnimationPlayer::FrameRead(quint64 session, const Decoded& frame) {
    if (session != session_) return;
    reading_ = false;
    // A frame that cannot be read (a helper that crashed or hung among the reasons) ends the
    // animation where it is.
    if (!frame.bitmap || frame.delay < 0) {
        Retire(std::move(reader_));
        return;
    }
    ahead_.push_back(frame);
    if (waiting_) ShowNext();
    ReadAhead();
}

void CAnimationPlayer::ShowNext() {
    if (paused_ || !reader_) return;
    if (ahead_.empty()) {
        waiting_ = true;
        return;
    }
    waiting_ = false;
    Decoded frame = std::move(ahead_.front());
    ahead_.pop_front();
    if (frame.startsLoop) {
        ++loopsStarted_;
        // Played as often as the file asks: the last frame stays.
        if (reader_->LoopCount() > 0 && loopsStarted_ >= reader_->LoopCount()) {
            Stop();
            return;
        }
    }
    currentDelay_ = frame.delay;
    emit FrameShown(frame.bitmap);
    timer_.start(currentDelay_);
    ReadAhead();
}
