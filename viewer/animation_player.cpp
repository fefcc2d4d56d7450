#include "viewer/animation_player.h"

#include "codecs/animation_source.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/text_exception.h"
#include "viewer/picture_loader.h"

#include <QFile>

CAnimationPlayer::CAnimationPlayer(QObject* parent) : QObject(parent), inbox_(this) {
    // One reader is read by one thread at a time: a single worker reads every frame.
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
    StartOnPool(worker_, [this, session, path, context] {
        std::shared_ptr<CAnimationReader> reader;
        try {
            reader = OpenAnimation(QFile::encodeName(path).toStdString(), context);
        } catch (const CTextException&) {
            // The still decode already said what there is to say about the file.
        }
        inbox_.Post([this, session, reader = std::move(reader)] { Opened(session, reader); });
    });
}

void CAnimationPlayer::Stop() {
    ++session_;
    context_.Cancel();
    reader_.reset();
    ahead_.clear();
    timer_.stop();
    reading_ = false;
    waiting_ = false;
    paused_ = false;
    loopsStarted_ = 0;
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

void CAnimationPlayer::Opened(quint64 session, const std::shared_ptr<CAnimationReader>& reader) {
    if (session != session_ || !reader) return;
    reader_ = reader;
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
    const std::shared_ptr<CAnimationReader> reader = reader_;
    StartOnPool(worker_, [this, session, reader]() mutable {
        Decoded frame;
        frame.bitmap = std::make_shared<CDIBSectionBitmap>();
        try {
            frame.delay = reader->ReadFrame(*frame.bitmap);
            if (frame.delay < 0) {
                // The end of a loop: the next one starts over from the first frame.
                reader->Rewind();
                frame.startsLoop = true;
                frame.delay = reader->ReadFrame(*frame.bitmap);
            }
            MakeOpaque(*frame.bitmap);
        } catch (const CTextException&) {
            frame.bitmap.reset();
        }
        // The reader goes back with the frame: it is only ever let go on this object's thread,
        // which reads it too.
        inbox_.Post([this, session, frame, reader = std::move(reader)] { FrameRead(session, frame); });
    });
}

void CAnimationPlayer::FrameRead(quint64 session, const Decoded& frame) {
    if (session != session_) return;
    reading_ = false;
    // A frame that cannot be read ends the animation where it is.
    if (!frame.bitmap || frame.delay < 0) {
        reader_.reset();
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
