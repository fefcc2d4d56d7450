#include "isolation/animation_session.h"

#include "codecs/animation_source.h"
#include "imagelib/text_exception.h"
#include "isolation/decode_wire.h"
#include "isolation/memfd_bitmap.h"
#include "isolation/opaque_alpha.h"

CAnimationSession::CAnimationSession() = default;

CAnimationSession::~CAnimationSession() = default;

void CAnimationSession::Open(int fd, const std::string& name, const CDecodeContext& context, bool makeOpaque,
                             DecodeReply& reply) {
    reader_.reset();
    first_.reset();
    context_ = context;
    name_ = name;
    makeOpaque_ = makeOpaque;
    auto reader = OpenAnimation(fd, name, context);
    reply.frameCount = 0;
    if (!reader) return;
    reader_ = std::move(reader);
    try {
        first_ = ReadFrame(firstDelay_);
    } catch (...) {
        reader_.reset();
        throw;
    }
    reply.width = first_->Width();
    reply.height = first_->Height();
    reply.frameCount = reader_->FrameCount();
    reply.loopCount = reader_->LoopCount();
}

CAnimationReader& CAnimationSession::Reader() const {
    if (!reader_) throw CTextException(ERR_BAD_DATA, "The decoder was asked for a frame of no animation.");
    return *reader_;
}

std::unique_ptr<CMemfdBitmap> CAnimationSession::ReadFrame(int& delay) {
    auto frame = std::make_unique<CMemfdBitmap>();
    delay = Reader().ReadFrame(*frame);
    if (delay < 0) return nullptr;
    if (makeOpaque_) MakeOpaque(*frame);
    return frame;
}

CUniqueFd CAnimationSession::NextFrame(DecodeReply& reply) {
    int delay = firstDelay_;
    std::unique_ptr<CMemfdBitmap> frame = first_ ? std::move(first_) : ReadFrame(delay);
    if (!frame) {
        reply.endOfLoop = 1;
        return {};
    }
    reply.width = frame->Width();
    reply.height = frame->Height();
    reply.bitsPerPixel = frame->BitsPerPixel();
    reply.stride = frame->BytesPerLine();
    reply.hasAlpha = frame->HasAlpha() ? 1 : 0;
    reply.frameCount = Reader().FrameCount();
    reply.delay = delay;
    // The frame is upright and in the viewer's colours already: no profile travels with it.
    return frame->ReleaseSealed({});
}

void CAnimationSession::Rewind() {
    first_.reset();
    Reader().Rewind();
}

int CAnimationSession::NextFrameIndex() const { return first_ ? 0 : reader_ ? reader_->NextFrameIndex() : 0; }
